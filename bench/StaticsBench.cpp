// The index and static blocks beside plain reads and writes of the same bytes.
#include "BenchSupport.h"
#include "StaIdx.h"
#include "StaticBlock.h"
#include "WorldGen.h"

#include <filesystem>
#include <memory>

namespace cryo::bench {
namespace {

// Map 0 as older clients have it (768 blocks wide) and as today's have it (896).
struct IndexFiles {
    std::string Folder = ScratchFolder("statics");
    std::string Statics = Folder + "/Statics0.mul";

    IndexFiles()
    {
        for (const int width : {768, 896}) {
            std::filesystem::create_directories(Folder + "/" + std::to_string(width));
            StaIdx table = worldgen::EmptyIndex({width, 512});
            std::vector<unsigned char> statics;
            worldgen::GenerateStatics(20000, 40, 1, table, statics);
            NullReporter reporter;
            SaveStaIdx(Index(width), table, reporter);
            if (width == 768)
                WriteFile(Statics, std::string(statics.begin(), statics.end()));
        }
    }

    // StaIdx0.mul in a folder named for its width.
    std::string Index(std::int64_t width) const { return Folder + "/" + std::to_string(width) + "/StaIdx0.mul"; }
};

IndexFiles& Files()
{
    static IndexFiles files;
    return files;
}

std::size_t IndexBytes(const benchmark::State& state)
{
    return static_cast<std::size_t>(state.range(0)) * 512 * StaIdxRecordSize;
}

const bool Prepared = [] {
    PlainRead(Files().Index(768));
    PlainRead(Files().Index(896));
    return true;
}();

void PlainReadIndex(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(PlainReadWhole(Files().Index(state.range(0)), IndexBytes(state)));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * IndexBytes(state)));
}
BENCHMARK(PlainReadIndex)->Arg(768)->Arg(896)->Unit(benchmark::kMillisecond);

void LoadIndex(benchmark::State& state)
{
    auto table = std::make_unique<StaIdx>();
    LatestReporter reporter;
    for (auto _ : state)
        LoadStaIdx(Files().Index(state.range(0)), *table, reporter);
    if (table->Width() != state.range(0))
        state.SkipWithError("the index did not load at its width");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * IndexBytes(state)));
}
BENCHMARK(LoadIndex)->Arg(768)->Arg(896)->Unit(benchmark::kMillisecond);

void PlainWriteIndex(benchmark::State& state)
{
    const std::string bytes(IndexBytes(state), '\x5A');
    for (auto _ : state) {
        ReplacementFile file(Files().Folder + "/plain.mul");
        file.Write(bytes.data(), bytes.size());
        file.Commit();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * IndexBytes(state)));
}
BENCHMARK(PlainWriteIndex)->Arg(768)->Arg(896)->Unit(benchmark::kMillisecond);

void SaveIndex(benchmark::State& state)
{
    auto table = std::make_unique<StaIdx>();
    LatestReporter reporter;
    LoadStaIdx(Files().Index(state.range(0)), *table, reporter);
    for (auto _ : state)
        SaveStaIdx(Files().Folder + "/saved.mul", *table, reporter);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * IndexBytes(state)));
}
BENCHMARK(SaveIndex)->Arg(768)->Arg(896)->Unit(benchmark::kMillisecond);

TStaticBlock FullBlock()
{
    TStaticBlock block;
    for (int i = 0; i < MaxBlockItems; ++i)
        block.Items[static_cast<std::size_t>(i)] = {static_cast<std::uint16_t>(i), static_cast<std::uint8_t>(i % 8),
            static_cast<std::uint8_t>(i / 8 % 8), 0, 0};
    block.Count = MaxBlockItems;
    return block;
}

void ReadBlockOf512(benchmark::State& state)
{
    const std::string path = Files().Folder + "/block.mul";
    TStaIdxEntry entry{-1, 0, 0};
    LatestReporter reporter;
    WriteFile(path, "");
    AppendStaticBlock(path, entry, FullBlock(), reporter);
    TStaticBlock block;
    for (auto _ : state)
        ReadStaticBlock(path, entry, block, reporter);
}
BENCHMARK(ReadBlockOf512)->Unit(benchmark::kMicrosecond);

void AppendBlockOf512(benchmark::State& state)
{
    const std::string path = Files().Folder + "/append.mul";
    LatestReporter reporter;
    const TStaticBlock block = FullBlock();
    for (auto _ : state) {
        state.PauseTiming();
        WriteFile(path, "");
        TStaIdxEntry entry{-1, 0, 0};
        state.ResumeTiming();
        AppendStaticBlock(path, entry, block, reporter);
    }
}
BENCHMARK(AppendBlockOf512)->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace cryo::bench

BENCHMARK_MAIN();
