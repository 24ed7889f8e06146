// Compacting a generated statics file (64 MB, or CRYOWEAVER_BENCH_COMPACT_MB
// megabytes) of a 896 x 512 map, of which about 70% is referenced, beside a
// durable copy of the referenced bytes; with the process's peak memory.
#include "BenchSupport.h"
#include "Compact.h"
#include "StaticBlock.h"

#include <algorithm>
#include <memory>

#include <sys/resource.h>

namespace cryo::bench {
namespace {

constexpr std::size_t Chunk = std::size_t{4} << 20;

struct Statics {
    std::string Folder;
    std::string Index;
    std::string Data;
    std::uint64_t Bytes = 0;
    // The referenced bytes as runs of the file, in file order.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> Referenced;
    std::uint64_t ReferencedBytes = 0;

    // Every block has a referenced copy followed by an unreferenced one of
    // 30% of its size; every tenth block's referenced copy lies at the end of
    // the file instead, as a freeze leaves it.
    Statics()
        : Folder(ScratchFolder("compact"))
    {
        Index = Folder + "/StaIdx0.mul";
        Data = Folder + "/Statics0.mul";
        const char* megabytes = std::getenv("CRYOWEAVER_BENCH_COMPACT_MB");
        const std::uint64_t target = std::uint64_t(megabytes != nullptr ? std::atoi(megabytes) : 64) << 20;
        StaIdx table({896, 512});
        const std::uint64_t blocks = table.Entries.size();
        const int items
            = static_cast<int>(std::clamp<std::uint64_t>(target * 7 / 10 / blocks / StaticItemSize, 1, 512));
        const int unreferenced = std::max(1, items * 3 / 10);
        std::vector<unsigned char> copy(static_cast<std::size_t>(items) * StaticItemSize);
        for (int i = 0; i < items; ++i)
            EncodeStaticItem({static_cast<std::uint16_t>(i), static_cast<std::uint8_t>(i % 8),
                                 static_cast<std::uint8_t>(i / 8 % 8), 0, 0},
                &copy[static_cast<std::size_t>(i) * StaticItemSize]);

        ReplacementFile out(Folder + "/original-statics.mul");
        std::vector<unsigned char> buffer;
        auto write = [&](std::size_t size, bool referenced) {
            if (referenced) {
                if (!Referenced.empty() && Referenced.back().second == Bytes)
                    Referenced.back().second += size;
                else
                    Referenced.emplace_back(Bytes, Bytes + size);
                ReferencedBytes += size;
            }
            buffer.insert(buffer.end(), copy.begin(), copy.begin() + static_cast<std::ptrdiff_t>(size));
            Bytes += size;
            if (buffer.size() >= Chunk) {
                out.Write(buffer.data(), buffer.size());
                buffer.clear();
            }
        };
        for (std::size_t i = 0; i < blocks; ++i) {
            if (i % 10 != 0)
                table.Entries[i] = {static_cast<std::int32_t>(Bytes), items * StaticItemSize, 0};
            write(copy.size(), i % 10 != 0);
            write(static_cast<std::size_t>(unreferenced) * StaticItemSize, false);
        }
        for (std::size_t i = 0; i < blocks; i += 10) {
            table.Entries[i] = {static_cast<std::int32_t>(Bytes), items * StaticItemSize, 0};
            write(copy.size(), true);
        }
        out.Write(buffer.data(), buffer.size());
        out.Commit();
        NullReporter reporter;
        SaveStaIdx(Folder + "/original-index.mul", table, reporter);
    }

    void Restore() const
    {
        CopyFile(Folder + "/original-index.mul", Index);
        CopyFile(Folder + "/original-statics.mul", Data);
    }
};

const Statics& Generated()
{
    static const Statics statics;
    return statics;
}

const bool Prepared = [] {
    Generated();
    return true;
}();

void ReportMemory(benchmark::State& state, const Statics& statics)
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_rss_MB"] = static_cast<double>(usage.ru_maxrss) / 1024;
    state.counters["file_MB"] = static_cast<double>(statics.Bytes) / (1 << 20);
    state.counters["referenced_%"] = 100.0 * static_cast<double>(statics.ReferencedBytes) / statics.Bytes;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * statics.ReferencedBytes));
}

// The baseline: the file read once in large blocks, and its referenced runs
// written, in large blocks too, through the same durable replacement to a
// new file.
void DurableCopyOfReferenced(benchmark::State& state)
{
    const Statics& statics = Generated();
    std::vector<unsigned char> buffer(Chunk);
    std::vector<unsigned char> output;
    output.reserve(2 * Chunk);
    for (auto _ : state) {
        state.PauseTiming();
        statics.Restore();
        state.ResumeTiming();
        File in = File::OpenExisting(statics.Data);
        ReplacementFile out(statics.Folder + "/copy.mul");
        auto run = statics.Referenced.begin();
        for (std::uint64_t at = 0; run != statics.Referenced.end();) {
            const std::size_t n = in.ReadSome(buffer.data(), buffer.size());
            for (; run != statics.Referenced.end() && run->first < at + n; ++run) {
                const std::uint64_t from = std::max(run->first, at);
                const std::uint64_t to = std::min(run->second, at + n);
                output.insert(output.end(), buffer.begin() + static_cast<std::ptrdiff_t>(from - at),
                    buffer.begin() + static_cast<std::ptrdiff_t>(to - at));
                if (to < run->second)
                    break;
            }
            if (output.size() >= Chunk) {
                out.Write(output.data(), output.size());
                output.clear();
            }
            at += n;
        }
        out.Write(output.data(), output.size());
        output.clear();
        out.Commit();
    }
    ReportMemory(state, statics);
}
BENCHMARK(DurableCopyOfReferenced)->Unit(benchmark::kMillisecond)->Iterations(3);

void CompactStaticsFile(benchmark::State& state)
{
    const Statics& statics = Generated();
    NullReporter reporter;
    for (auto _ : state) {
        state.PauseTiming();
        statics.Restore();
        auto table = std::make_unique<StaIdx>();
        LoadStaIdx(statics.Index, *table, reporter);
        state.ResumeTiming();
        const CompactResult result = CompactStatics(statics.Index, statics.Data, *table, reporter);
        benchmark::DoNotOptimize(result);
    }
    ReportMemory(state, statics);
}
BENCHMARK(CompactStaticsFile)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
} // namespace cryo::bench

BENCHMARK_MAIN();
