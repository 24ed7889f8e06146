// Scans and rewrites of a generated 100 MB world save, beside a plain read and
// a plain read + write of the same file; and the line splitting that every
// scan rests on, plain (memchr) against hand-written SSE2.
#include "BenchSupport.h"
#include "Text.h"
#include "WorldGen.h"
#include "WorldRewrite.h"
#include "WorldScan.h"
#include "WscText.h"

#include <memory>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace cryo::bench {
namespace {

struct WorldSave {
    std::string Folder = ScratchFolder("worldsave");
    std::string Original = Folder + "/original.wsc";
    std::string Appendable = Folder + "/appendable.wsc"; // room for the numbers of a melt
    std::string Wsc = Folder + "/UOX3.wsc";
    std::string Text;

    WorldSave()
    {
        worldgen::WscOptions options;
        options.TargetBytes = 100'000'000;
        options.Type255Items = 20000;
        options.Blocks = 2000;
        options.Characters = 2000;
        options.HighestNumber = 60000;
        options.ReusedNumbers = options.OtherSections = options.ContainedItems = options.Unterminated
            = options.TextAfterEof = true;
        Text = worldgen::GenerateWsc(options);
        WriteFile(Original, Text);
        std::string appendable = Text;
        const std::string never = "SECTION WORLDITEM 65535\r\n";
        appendable.replace(appendable.find(never), never.size(), "SECTION WORLDITEM 60000\r\n");
        WriteFile(Appendable, appendable);
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
    state.SetBytesProcessed(
        static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(Save().Text.size()));
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
    for (auto _ : state) {
        WscReader reader(Save().Wsc);
        benchmark::DoNotOptimize(FindHighestNumbers(reader));
    }
    Processed(state);
}
BENCHMARK(FindHighest)->Unit(benchmark::kMillisecond);

void SelectItems(benchmark::State& state)
{
    ExportTable table;
    LatestReporter reporter;
    for (auto _ : state)
        SelectItemsForExport(Save().Wsc, table, reporter);
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
        CopyFile(Save().Appendable, Save().Wsc);
        state.ResumeTiming();
        AppendBlockToWsc(Save().Wsc, block, 100, 200, reporter)->Commit();
    }
    Processed(state);
}
BENCHMARK(AppendBlock)->Unit(benchmark::kMillisecond);

void ExtractSections(benchmark::State& state)
{
    ExportTable table;
    LatestReporter reporter;
    CopyFile(Save().Original, Save().Wsc);
    SelectItemsForExport(Save().Wsc, table, reporter);
    std::vector<std::pair<std::uint16_t, std::uint16_t>> blocks;
    for (const TExportEntry& entry : table)
        blocks.emplace_back(entry.XBlock, entry.YBlock);
    for (auto _ : state) {
        state.PauseTiming();
        CopyFile(Save().Original, Save().Wsc);
        state.ResumeTiming();
        ReplacementFile out(Save().Wsc);
        benchmark::DoNotOptimize(ExtractSelectedSections(Save().Wsc, table, blocks, out));
        out.Commit();
    }
    Processed(state);
}
BENCHMARK(ExtractSections)->Unit(benchmark::kMillisecond);

// ---- Line splitting of the text in memory ----

#if defined(__SSE2__)
// The hand-written version this project used before: line ends sixteen bytes
// at a time.
template <typename Fn> void ForEachLineSse2(std::string_view text, Fn&& fn)
{
    const char* p = text.data();
    const char* const end = p + text.size();
    const char* start = p;
    auto lineEndsAt = [&](const char* cr) {
        fn(std::string_view(start, static_cast<std::size_t>(cr - start)));
        start = cr + 1;
        if (start < end && *start == '\n')
            ++start;
    };
    const __m128i crs = _mm_set1_epi8('\r');
    for (; end - p >= 16; p += 16) {
        auto mask = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), crs)));
        while (mask != 0) {
            lineEndsAt(p + __builtin_ctz(mask));
            mask &= mask - 1;
        }
    }
    for (; p < end; ++p)
        if (*p == '\r')
            lineEndsAt(p);
    if (start < end)
        fn(std::string_view(start, static_cast<std::size_t>(end - start)));
}

// The same, for the lines whose first character is a given letter, found
// sixteen bytes at a time: how FindHighestNumbers skipped other lines.
template <typename Fn> void ForEachLineStartingWithSse2(std::string_view text, char first, Fn&& fn)
{
    const char* const begin = text.data();
    const char* const end = begin + text.size();
    auto startsLine = [begin](const char* at) {
        return at == begin || at[-1] == '\r' || (at[-1] == '\n' && at - 1 > begin && at[-2] == '\r');
    };
    auto visit = [&](const char* at) {
        if (!startsLine(at))
            return;
        const void* cr = std::memchr(at, '\r', static_cast<std::size_t>(end - at));
        fn(std::string_view(at, static_cast<std::size_t>((cr != nullptr ? static_cast<const char*>(cr) : end) - at)));
    };
    const char folded = static_cast<char>(first | 0x20);
    const char* p = begin;
    const __m128i caseBit = _mm_set1_epi8(0x20);
    const __m128i wanted = _mm_set1_epi8(folded);
    for (; end - p >= 16; p += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_or_si128(v, caseBit), wanted)));
        while (mask != 0) {
            visit(p + __builtin_ctz(mask));
            mask &= mask - 1;
        }
    }
    for (; p < end; ++p)
        if ((*p | 0x20) == folded)
            visit(p);
}
#endif

void SplitLinesPlain(benchmark::State& state)
{
    for (auto _ : state) {
        std::size_t lines = 0;
        ForEachLineIn(Save().Text, [&lines](std::string_view) { ++lines; });
        benchmark::DoNotOptimize(lines);
    }
    Processed(state);
}
BENCHMARK(SplitLinesPlain)->Unit(benchmark::kMillisecond);

// What FindHighestNumbers does with the lines: those starting with an S.
void SLinesPlain(benchmark::State& state)
{
    for (auto _ : state) {
        std::size_t lines = 0;
        ForEachLineIn(
            Save().Text, [&lines](std::string_view line) { lines += !line.empty() && UpperAscii(line[0]) == 'S'; });
        benchmark::DoNotOptimize(lines);
    }
    Processed(state);
}
BENCHMARK(SLinesPlain)->Unit(benchmark::kMillisecond);

#if defined(__SSE2__)
void SplitLinesSse2(benchmark::State& state)
{
    for (auto _ : state) {
        std::size_t lines = 0;
        ForEachLineSse2(Save().Text, [&lines](std::string_view) { ++lines; });
        benchmark::DoNotOptimize(lines);
    }
    Processed(state);
}
BENCHMARK(SplitLinesSse2)->Unit(benchmark::kMillisecond);

void SLinesSse2(benchmark::State& state)
{
    for (auto _ : state) {
        std::size_t lines = 0;
        ForEachLineStartingWithSse2(Save().Text, 'S', [&lines](std::string_view) { ++lines; });
        benchmark::DoNotOptimize(lines);
    }
    Processed(state);
}
BENCHMARK(SLinesSse2)->Unit(benchmark::kMillisecond);
#endif

} // namespace
} // namespace cryo::bench

BENCHMARK_MAIN();
