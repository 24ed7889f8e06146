// The map pane's repaint once its tiles are cached: a pane of 1280 x 800
// pixels over map 0 (7168 x 4096 tiles) composed at several zooms, still and
// while dragged, with 10,000 marked tiles and a selection. The tiles come
// from a source that only fills them, so the figures are the paint alone.
#include "MapPane.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace cryo::bench {
namespace {

constexpr int PaneWidth = 1280;
constexpr int PaneHeight = 800;

struct Pane {
    form::MapPane pane;
    std::vector<unsigned char> pixels = std::vector<unsigned char>(std::size_t(PaneWidth) * PaneHeight * 3);
    PictureView view{pixels.data(), PaneWidth, PaneHeight, std::size_t(PaneWidth) * 3};
    int tilesDrawn = 0;

    // wheel: steps from the whole map; 0 is the whole map.
    explicit Pane(int wheel)
    {
        pane.SetSource([this](const std::vector<form::MapPane::TileRequest>& tiles) {
            for (const form::MapPane::TileRequest& tile : tiles) {
                for (int y = 0; y < tile.Out.Height; ++y)
                    std::memset(tile.Out.Pixels + std::size_t(y) * tile.Out.Stride, (y * 7) & 0xFF,
                        std::size_t(tile.Out.Width) * 3);
                ++tilesDrawn;
            }
            return true;
        });
        pane.Resize(PaneWidth, PaneHeight);
        pane.SetMap(MapBlocks{896, 512});
        std::vector<TilePosition> marks;
        for (int i = 0; i < 10000; ++i)
            marks.push_back({static_cast<std::uint16_t>(i * 7 % 7168), static_cast<std::uint16_t>(i * 13 % 4096)});
        pane.SetMarks(std::move(marks));
        pane.Select(TileArea{3000, 2000, 3100, 2100});
        pane.Wheel(wheel, PaneWidth / 2, PaneHeight / 2);
        pane.Paint(view);
    }
};

void BM_PaintStill(benchmark::State& state)
{
    Pane p(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        p.pane.Paint(p.view);
        benchmark::DoNotOptimize(p.pixels.data());
    }
    state.counters["pixels_a_tile"] = p.pane.PixelsPerTile();
}
// The whole map, then 1/8, 1/2, 1, 4 and 16 pixels a tile.
BENCHMARK(BM_PaintStill)->Arg(0)->Arg(1)->Arg(3)->Arg(4)->Arg(6)->Arg(8)->Unit(benchmark::kMillisecond);

// A drag: each paint after the mouse moved 9 pixels, back and forth across
// 400 pixels, so tiles come into view and are drawn once.
void BM_PaintWhileDragging(benchmark::State& state)
{
    Pane p(static_cast<int>(state.range(0)));
    p.pane.Press(100, 400, false);
    int x = 100;
    int step = 9;
    for (auto _ : state) {
        x += step;
        if (x > 500 || x < 100)
            step = -step;
        p.pane.Move(x, 400);
        p.pane.Paint(p.view);
        benchmark::DoNotOptimize(p.pixels.data());
    }
    state.counters["tiles_drawn"] = p.tilesDrawn;
}
BENCHMARK(BM_PaintWhileDragging)->Arg(4)->Arg(6)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace cryo::bench

BENCHMARK_MAIN();
