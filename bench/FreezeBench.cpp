// A freeze of a generated 100 MB world save with 20,000 TYPE 255 items over
// 2,000 blocks, beside a plain read + write of its world save and index; and
// the freeze of a 10 MB world save into 10, 50 and 200 blocks.
#include "BenchSupport.h"
#include "Freeze.h"
#include "StaticBlock.h"
#include "WorldGen.h"

#include <map>
#include <memory>

namespace cryo::bench {
namespace {

struct World {
    std::string Folder;
    std::string Index;
    std::string Statics;
    std::string Wsc;
    std::int64_t WscBytes = 0;

    World(const std::string& name, std::uint64_t bytes, int items, int blocks)
        : Folder(ScratchFolder(name))
    {
        Index = Folder + "/StaIdx0.mul";
        Statics = Folder + "/Statics0.mul";
        Wsc = Folder + "/UOX3.wsc";
        StaIdx table = worldgen::EmptyIndex();
        std::vector<unsigned char> statics;
        worldgen::GenerateStatics(20000, 20, 3, table, statics);
        NullReporter reporter;
        SaveStaIdx(Folder + "/original-index.mul", table, reporter);
        WriteFile(Folder + "/original-statics.mul", std::string(statics.begin(), statics.end()));
        worldgen::WscOptions options;
        options.TargetBytes = bytes;
        options.Type255Items = items;
        options.Blocks = blocks;
        options.ReusedNumbers = options.OtherSections = options.ContainedItems = options.Unterminated
            = options.TextAfterEof = true;
        const std::string text = worldgen::GenerateWsc(options);
        WscBytes = static_cast<std::int64_t>(text.size());
        WriteFile(Folder + "/original.wsc", text);
        Restore();
    }

    void Restore() const
    {
        CopyFile(Folder + "/original-index.mul", Index);
        CopyFile(Folder + "/original-statics.mul", Statics);
        CopyFile(Folder + "/original.wsc", Wsc);
    }
};

World& Large()
{
    static World world("freeze-large", 100'000'000, 20000, 2000);
    return world;
}

void PlainCopy(benchmark::State& state, const World& world)
{
    for (auto _ : state) {
        PlainReadWrite(world.Wsc);
        PlainReadWrite(world.Index);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * world.WscBytes);
}

// Times freeze on a fresh copy of the world, with its index loaded.
template <typename Freeze> void TimedFreeze(benchmark::State& state, const World& world, Freeze freeze)
{
    LatestReporter reporter;
    for (auto _ : state) {
        state.PauseTiming();
        world.Restore();
        auto table = std::make_unique<StaIdx>();
        LoadStaIdx(world.Index, *table, reporter);
        state.ResumeTiming();
        freeze(world, *table, reporter);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * world.WscBytes);
}

void OnePass(benchmark::State& state, const World& world)
{
    TimedFreeze(state, world, [](const World& w, StaIdx& table, Reporter& reporter) {
        FreezeWorld(w.Index, w.Statics, w.Wsc, table, reporter);
    });
}

// How the freeze grows with the number of blocks, on a 10 MB world save.
const World& Small(int blocks)
{
    static std::map<int, std::unique_ptr<World>> worlds;
    auto& world = worlds[blocks];
    if (!world)
        world = std::make_unique<World>("freeze-small-" + std::to_string(blocks), 10'000'000, blocks * 5, blocks);
    return *world;
}

// The worlds are made before the first benchmark is timed.
const bool Prepared = [] {
    Large();
    for (const int blocks : {10, 50, 200})
        Small(blocks);
    return true;
}();

void PlainCopyLarge(benchmark::State& state)
{
    PlainCopy(state, Large());
}
BENCHMARK(PlainCopyLarge)->Unit(benchmark::kMillisecond)->Iterations(3);

void FreezeLarge(benchmark::State& state)
{
    OnePass(state, Large());
}
BENCHMARK(FreezeLarge)->Unit(benchmark::kMillisecond)->Iterations(3);

void FreezeSmall(benchmark::State& state)
{
    OnePass(state, Small(static_cast<int>(state.range(0))));
}
BENCHMARK(FreezeSmall)->Arg(10)->Arg(50)->Arg(200)->Unit(benchmark::kMillisecond)->Iterations(2);

} // namespace
} // namespace cryo::bench

BENCHMARK_MAIN();
