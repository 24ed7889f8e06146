// Scans and rewrites of a generated 100 MB world save, beside a plain read and
// a plain read + write of the same file.
#include "BenchSupport.h"
#include "WorldGen.h"
#include "WorldRewrite.h"
#include "WorldScan.h"

#include <memory>

namespace cryo::bench {
namespace {

struct WorldSave {
    std::string Folder = ScratchFolder("worldsave");
    std::string Original = Folder + "/original.wsc";
    std::string Wsc = Folder + "/UOX3.wsc";
    std::int64_t Bytes = 0;

    WorldSave()
    {
        worldgen::WscOptions options;
        options.TargetBytes = 100'000'000;
        options.Type255Items = 20000;
        options.Blocks = 2000;
        options.Characters = 2000;
        const std::string text = worldgen::GenerateWsc(options);
        Bytes = static_cast<std::int64_t>(text.size());
        WriteFile(Original, text);
        CopyFile(Original, Wsc);
    }
};

WorldSave& Save()
{
    static WorldSave save;
    return save;
}

// Made, and read once into the cache, before the first benchmark is timed.
const bool Prepared = [] {
    PlainRead(Save().Wsc);
    return true;
}();

void Processed(benchmark::State& state)
{
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * Save().Bytes);
}

void PlainReadWsc(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(PlainRead(Save().Wsc));
    Processed(state);
}
BENCHMARK(PlainReadWsc)->Unit(benchmark::kMillisecond);

void FindHighest(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(FindHighestNumbers(Save().Wsc));
    Processed(state);
}
BENCHMARK(FindHighest)->Unit(benchmark::kMillisecond);

void SelectItems(benchmark::State& state)
{
    auto table = std::make_unique<ExportTable>();
    LatestReporter reporter;
    for (auto _ : state)
        SelectItemsForExport(Save().Wsc, *table, reporter);
    Processed(state);
}
BENCHMARK(SelectItems)->Unit(benchmark::kMillisecond);

void PlainReadWriteWsc(benchmark::State& state)
{
    for (auto _ : state)
        PlainReadWrite(Save().Wsc);
    Processed(state);
}
BENCHMARK(PlainReadWriteWsc)->Unit(benchmark::kMillisecond);

void AppendBlock(benchmark::State& state)
{
    TStaticBlock block;
    block.Count = 100;
    LatestReporter reporter;
    for (auto _ : state) {
        state.PauseTiming();
        CopyFile(Save().Original, Save().Wsc);
        state.ResumeTiming();
        AppendBlockToWsc(Save().Wsc, block, 100, 200, reporter);
    }
    Processed(state);
}
BENCHMARK(AppendBlock)->Unit(benchmark::kMillisecond);

void ExtractBlock(benchmark::State& state)
{
    auto table = std::make_unique<ExportTable>();
    LatestReporter reporter;
    CopyFile(Save().Original, Save().Wsc);
    SelectItemsForExport(Save().Wsc, *table, reporter);
    const TExportEntry target = (*table)[0];
    for (auto _ : state) {
        state.PauseTiming();
        CopyFile(Save().Original, Save().Wsc);
        state.ResumeTiming();
        TStaticBlock block;
        ExtractBlockFromWsc(Save().Wsc, block, *table, target.XBlock, target.YBlock);
    }
    Processed(state);
}
BENCHMARK(ExtractBlock)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace cryo::bench

BENCHMARK_MAIN();
