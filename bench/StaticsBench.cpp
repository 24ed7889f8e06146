// The index and static blocks beside plain reads and writes of the same bytes.
#include "BenchSupport.h"
#include "StaIdx.h"
#include "StaticBlock.h"
#include "WorldGen.h"

#include <memory>

namespace cryo::bench {
namespace {

struct IndexFiles {
    std::string Folder = ScratchFolder("statics");
    std::string Index = Folder + "/StaIdx0.mul";
    std::string Statics = Folder + "/Statics0.mul";

    IndexFiles()
    {
        StaIdx table = worldgen::EmptyIndex();
        std::vector<unsigned char> statics;
        worldgen::GenerateStatics(20000, 40, 1, table, statics);
        NullReporter reporter;
        SaveStaIdx(Index, table, reporter);
        WriteFile(Statics, std::string(statics.begin(), statics.end()));
    }
};

IndexFiles& Files()
{
    static IndexFiles files;
    return files;
}

const bool Prepared = [] {
    PlainRead(Files().Index);
    return true;
}();

void PlainReadIndex(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(PlainReadWhole(Files().Index, StaIdxFileSize));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * StaIdxFileSize);
}
BENCHMARK(PlainReadIndex)->Unit(benchmark::kMillisecond);

void LoadIndex(benchmark::State& state)
{
    auto table = std::make_unique<StaIdx>();
    LatestReporter reporter;
    for (auto _ : state)
        LoadStaIdx(Files().Index, *table, reporter);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * StaIdxFileSize);
}
BENCHMARK(LoadIndex)->Unit(benchmark::kMillisecond);

void PlainWriteIndex(benchmark::State& state)
{
    const std::string bytes(StaIdxFileSize, '\x5A');
    for (auto _ : state) {
        ReplacementFile file(Files().Folder + "/plain.mul");
        file.Write(bytes.data(), bytes.size());
        file.Commit();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * StaIdxFileSize);
}
BENCHMARK(PlainWriteIndex)->Unit(benchmark::kMillisecond);

void SaveIndex(benchmark::State& state)
{
    auto table = std::make_unique<StaIdx>();
    LatestReporter reporter;
    LoadStaIdx(Files().Index, *table, reporter);
    for (auto _ : state)
        SaveStaIdx(Files().Folder + "/saved.mul", *table, reporter);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * StaIdxFileSize);
}
BENCHMARK(SaveIndex)->Unit(benchmark::kMillisecond);

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
