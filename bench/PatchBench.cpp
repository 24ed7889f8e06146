// Making and applying a players' patch on generated statics pairs of a 896 x
// 512 map (64 MB each, or CRYOWEAVER_BENCH_PATCH_MB megabytes): the current
// pair changes every tenth block (or every CRYOWEAVER_BENCH_PATCH_EVERY-th),
// appended at the end of its statics file as a freeze leaves it. Making is measured beside a plain read of both pairs,
// applying beside a durable write of the replaced blocks and the index; both
// with the process's peak memory.
#include "ApplyPatch.h"
#include "BenchSupport.h"
#include "MakePatch.h"
#include "StaticBlock.h"

#include <algorithm>
#include <memory>

#include <sys/resource.h>

namespace cryo::bench {
namespace {

constexpr std::size_t Chunk = std::size_t{4} << 20;

// A file written through a replacement in large pieces.
class BufferedFile {
public:
    explicit BufferedFile(const std::string& path)
        : file_(path)
    {
    }
    void Write(const unsigned char* data, std::size_t size)
    {
        buffer_.insert(buffer_.end(), data, data + size);
        if (buffer_.size() >= Chunk) {
            file_.Write(buffer_.data(), buffer_.size());
            buffer_.clear();
        }
    }
    void Commit()
    {
        file_.Write(buffer_.data(), buffer_.size());
        file_.Commit();
    }

private:
    ReplacementFile file_;
    std::vector<unsigned char> buffer_;
};

struct Pairs {
    std::string Folder;
    std::uint64_t ReleaseBytes = 0;
    std::uint64_t ChangedBytes = 0; // of the replaced blocks' new copies

    std::string Path(const std::string& name) const { return Folder + "/" + name; }

    Pairs()
        : Folder(ScratchFolder("patch"))
    {
        const char* megabytes = std::getenv("CRYOWEAVER_BENCH_PATCH_MB");
        const std::uint64_t target = std::uint64_t(megabytes != nullptr ? std::atoi(megabytes) : 64) << 20;
        StaIdx release({896, 512});
        const std::size_t blocks = release.Entries.size();
        const int items = static_cast<int>(std::clamp<std::uint64_t>(target / blocks / StaticItemSize, 1, 511));
        std::vector<unsigned char> block(static_cast<std::size_t>(items + 1) * StaticItemSize);
        BufferedFile releaseStatics(Path("release-statics.mul"));
        for (std::size_t n = 0; n < blocks; ++n) {
            for (int i = 0; i < items; ++i)
                EncodeStaticItem({static_cast<std::uint16_t>(n + static_cast<std::size_t>(i)),
                                     static_cast<std::uint8_t>(i % 8), static_cast<std::uint8_t>(i / 8 % 8), 0, 0},
                    &block[static_cast<std::size_t>(i) * StaticItemSize]);
            release.Entries[n] = {static_cast<std::int32_t>(ReleaseBytes), items * StaticItemSize, 0};
            releaseStatics.Write(block.data(), static_cast<std::size_t>(items) * StaticItemSize);
            ReleaseBytes += static_cast<std::uint64_t>(items) * StaticItemSize;
        }
        releaseStatics.Commit();

        // The current statics file: the release's bytes, then the changed
        // blocks (every CRYOWEAVER_BENCH_PATCH_EVERY-th, 10 without it), each
        // with its middle object recoloured and one more at its end, as a
        // melt, an edit and a freeze leave it.
        const char* every = std::getenv("CRYOWEAVER_BENCH_PATCH_EVERY");
        const std::size_t stride = every != nullptr && std::atoi(every) > 0 ? std::size_t(std::atoi(every)) : 10;
        std::filesystem::copy_file(Path("release-statics.mul"), Path("current-statics.mul"),
            std::filesystem::copy_options::overwrite_existing);
        StaIdx current = release;
        {
            File out = File::OpenExisting(Path("current-statics.mul"));
            out.Seek(static_cast<std::int64_t>(ReleaseBytes));
            std::vector<unsigned char> appended;
            for (std::size_t n = 0; n < blocks; n += stride) {
                for (int i = 0; i <= items; ++i)
                    EncodeStaticItem({static_cast<std::uint16_t>(n + static_cast<std::size_t>(i)),
                                         static_cast<std::uint8_t>(i % 8), static_cast<std::uint8_t>(i / 8 % 8), 0,
                                         static_cast<std::uint16_t>(i == items / 2 ? 0x21 : 0)},
                        &block[static_cast<std::size_t>(i) * StaticItemSize]);
                current.Entries[n] = {static_cast<std::int32_t>(ReleaseBytes + ChangedBytes + appended.size()),
                    (items + 1) * StaticItemSize, 0};
                appended.insert(appended.end(), block.begin(), block.end());
                if (appended.size() >= Chunk) {
                    out.Write(appended.data(), appended.size());
                    ChangedBytes += appended.size();
                    appended.clear();
                }
            }
            out.Write(appended.data(), appended.size());
            ChangedBytes += appended.size();
            out.Sync();
        }
        NullReporter reporter;
        SaveStaIdx(Path("release-staidx.mul"), release, reporter);
        SaveStaIdx(Path("current-staidx.mul"), current, reporter);
        SaveStaIdx(Path("player-staidx-original.mul"), release, reporter);
        std::filesystem::copy_file(
            Path("release-statics.mul"), Path("player-statics.mul"), std::filesystem::copy_options::overwrite_existing);
        MakePatch({Path("release-staidx.mul"), Path("release-statics.mul")},
            {Path("current-staidx.mul"), Path("current-statics.mul")}, Path("players.patch"), reporter);
    }

    // The player's files as released: the apply only appended to the statics file.
    void RestorePlayer() const
    {
        CopyFile(Path("player-staidx-original.mul"), Path("player-staidx.mul"));
        File statics = File::OpenExisting(Path("player-statics.mul"));
        statics.Truncate(ReleaseBytes);
        statics.Close();
    }
};

const Pairs& Generated()
{
    static const Pairs pairs;
    return pairs;
}

const bool Prepared = [] {
    Generated();
    return true;
}();

void ReportMemory(benchmark::State& state, std::uint64_t bytes)
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_rss_MB"] = static_cast<double>(usage.ru_maxrss) / 1024;
    state.counters["file_MB"] = static_cast<double>(Generated().ReleaseBytes) / (1 << 20);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

// The baseline of making: both pairs read once.
void PlainReadOfBothPairs(benchmark::State& state)
{
    const Pairs& pairs = Generated();
    std::uint64_t total = 0;
    for (auto _ : state) {
        total = 0;
        for (const char* name :
            {"release-staidx.mul", "release-statics.mul", "current-staidx.mul", "current-statics.mul"})
            total += PlainRead(pairs.Path(name));
    }
    ReportMemory(state, total);
}
BENCHMARK(PlainReadOfBothPairs)->Unit(benchmark::kMillisecond)->Iterations(3);

void MakePatchOfBothPairs(benchmark::State& state)
{
    const Pairs& pairs = Generated();
    NullReporter reporter;
    for (auto _ : state) {
        const MadePatch made = MakePatch({pairs.Path("release-staidx.mul"), pairs.Path("release-statics.mul")},
            {pairs.Path("current-staidx.mul"), pairs.Path("current-statics.mul")}, pairs.Path("made.patch"), reporter);
        benchmark::DoNotOptimize(made);
    }
    ReportMemory(state, 2 * pairs.ReleaseBytes + pairs.ChangedBytes);
}
BENCHMARK(MakePatchOfBothPairs)->Unit(benchmark::kMillisecond)->Iterations(3);

// The baseline of applying: the replaced blocks appended to a file and
// flushed, and the index written through a durable replacement.
void DurableWriteOfBlocksAndIndex(benchmark::State& state)
{
    const Pairs& pairs = Generated();
    const std::vector<unsigned char> bytes(Chunk, 0x5A);
    for (auto _ : state) {
        state.PauseTiming();
        pairs.RestorePlayer();
        state.ResumeTiming();
        File statics = File::OpenExisting(pairs.Path("player-statics.mul"));
        statics.Seek(static_cast<std::int64_t>(pairs.ReleaseBytes));
        for (std::uint64_t left = pairs.ChangedBytes; left > 0;) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, Chunk));
            statics.Write(bytes.data(), n);
            left -= n;
        }
        statics.Sync();
        statics.Close();
        PlainReadWrite(pairs.Path("player-staidx.mul"));
    }
    ReportMemory(state, pairs.ChangedBytes);
}
BENCHMARK(DurableWriteOfBlocksAndIndex)->Unit(benchmark::kMillisecond)->Iterations(3);

void ApplyPatchToRelease(benchmark::State& state)
{
    const Pairs& pairs = Generated();
    NullReporter reporter;
    for (auto _ : state) {
        state.PauseTiming();
        pairs.RestorePlayer();
        auto table = std::make_unique<StaIdx>();
        LoadStaIdx(pairs.Path("player-staidx.mul"), *table, reporter);
        state.ResumeTiming();
        const AppliedPatch applied = ApplyPatch(pairs.Path("player-staidx.mul"), pairs.Path("player-statics.mul"),
            pairs.Path("players.patch"), *table, reporter, {});
        benchmark::DoNotOptimize(applied);
    }
    ReportMemory(state, pairs.ChangedBytes);
}
BENCHMARK(ApplyPatchToRelease)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
} // namespace cryo::bench

BENCHMARK_MAIN();
