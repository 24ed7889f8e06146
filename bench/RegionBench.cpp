// A freeze and a check of a generated shared folder of 112 region files,
// 1,000,000 short [ITEM] records in about 113 MB, with 20,000 Type 255 items
// over 2,000 blocks of an 896-wide map 0 in every tenth file, beside what
// they cannot do without: a durable copy of the folder and the statics pair
// (as "cp -r" and "sync" make it) for the freeze, and reading every file of
// both once for the check. Both are timed in the same iteration and their
// ratio is reported. The folder is kept between runs; the peak memory of a
// freeze is measured in a child process of its own.
#include "BenchSupport.h"
#include "Check.h"
#include "Freeze.h"
#include "ItemSaveFiles.h"
#include "RegionGen.h"
#include "WorldGen.h"

#include <chrono>
#include <memory>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace cryo::bench {
namespace {

namespace fs = std::filesystem;

struct SharedWorld {
    std::string Folder = ScratchFolder("regions");
    std::string Shared = Folder + "/shared";
    std::string Original = Folder + "/original";
    std::string Copy = Folder + "/copy";
    std::string Index = Folder + "/staidx0.mul";
    std::string Statics = Folder + "/statics0.mul";
    std::vector<std::string> Changed; // names of the region files a freeze changes

    SharedWorld()
    {
        if (!fs::exists(Folder + "/complete-short")) {
            fs::remove_all(Original);
            fs::create_directories(Original);
            worldgen::RegionOptions options;
            options.TargetBytes = 113'000'000;
            options.Files = 112;
            options.Type255Items = 20000;
            options.Blocks = worldgen::BlocksInEveryNthFile(2000, 10, 112, 5);
            options.ShortRecords = true;
            worldgen::WriteRegionFolder(Original, options);
            StaIdx table = worldgen::EmptyIndex({896, 512});
            std::vector<unsigned char> statics;
            worldgen::GenerateStatics(20000, 20, 3, table, statics);
            NullReporter reporter;
            SaveStaIdx(Original + "/staidx0.mul", table, reporter);
            WriteFile(Original + "/statics0.mul", std::string(statics.begin(), statics.end()));
            WriteFile(Folder + "/complete-short", "");
        }
        fs::remove_all(Shared);
        fs::create_directories(Shared);
        for (const auto& entry : fs::directory_iterator(Original))
            if (entry.path().extension() == ".wsc")
                CopyFile(entry.path().string(), Shared + "/" + entry.path().filename().string());
        Restore();
        for (const FreezeFile& file : SelectForFreeze(FreezeFiles(Shared), FreezeMapOf(*LoadedIndex())).Files)
            Changed.push_back(fs::path(file.Path).filename().string());
    }

    std::unique_ptr<StaIdx> LoadedIndex() const
    {
        auto table = std::make_unique<StaIdx>();
        NullReporter reporter;
        LoadStaIdx(Index, *table, reporter);
        return table;
    }

    // Only the files a freeze changes need to be put back.
    void Restore() const
    {
        CopyFile(Original + "/staidx0.mul", Index);
        CopyFile(Original + "/statics0.mul", Statics);
        for (const std::string& name : Changed)
            CopyFile(Original + "/" + name, Shared + "/" + name);
    }

    // What "cp -r" of the folder and the statics pair, then "sync", does.
    void DurableCopy() const
    {
        fs::create_directories(Copy + "/shared");
        for (const auto& entry : fs::directory_iterator(Shared))
            if (entry.path().extension() == ".wsc")
                CopyFile(entry.path().string(), Copy + "/shared/" + entry.path().filename().string());
        CopyFile(Index, Copy + "/staidx0.mul");
        CopyFile(Statics, Copy + "/statics0.mul");
#ifndef _WIN32
        ::sync();
#endif
    }
};

SharedWorld& World()
{
    static SharedWorld world;
    return world;
}

double Seconds(std::chrono::steady_clock::duration duration)
{
    return std::chrono::duration<double>(duration).count();
}

// Each iteration times the durable copy, then the freeze from fresh files;
// the benchmark's own time is the freeze's.
void FreezeBesideDurableCopy(benchmark::State& state)
{
    const SharedWorld& world = World();
    LatestReporter reporter;
    double copy = 0;
    double freeze = 0;
    for (auto _ : state) {
        world.Restore();
        std::unique_ptr<StaIdx> table = world.LoadedIndex();
        fs::remove_all(world.Copy);
        auto start = std::chrono::steady_clock::now();
        world.DurableCopy();
        copy += Seconds(std::chrono::steady_clock::now() - start);
        start = std::chrono::steady_clock::now();
        FreezeWorld(world.Index, world.Statics, world.Shared, *table, reporter);
        const double took = Seconds(std::chrono::steady_clock::now() - start);
        freeze += took;
        state.SetIterationTime(took);
    }
    const auto n = static_cast<double>(state.iterations());
    state.counters["copy_ms"] = copy / n * 1000;
    state.counters["ratio"] = freeze / copy;
    state.counters["files_changed"] = static_cast<double>(world.Changed.size());
}
BENCHMARK(FreezeBesideDurableCopy)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

// Each iteration times reading every file of the folder and the statics pair
// once, then a check of them.
void CheckBesideReadingOnce(benchmark::State& state)
{
    const SharedWorld& world = World();
    world.Restore();
    const std::unique_ptr<StaIdx> table = world.LoadedIndex();
    NullReporter reporter;
    double read = 0;
    double check = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        for (const std::string& path : FreezeFiles(world.Shared))
            benchmark::DoNotOptimize(PlainRead(path));
        benchmark::DoNotOptimize(PlainRead(world.Index));
        benchmark::DoNotOptimize(PlainRead(world.Statics));
        read += Seconds(std::chrono::steady_clock::now() - start);
        start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(CheckWorld({world.Index, world.Statics, world.Shared}, *table, reporter).Healthy());
        const double took = Seconds(std::chrono::steady_clock::now() - start);
        check += took;
        state.SetIterationTime(took);
    }
    state.counters["read_ms"] = read / static_cast<double>(state.iterations()) * 1000;
    state.counters["ratio"] = check / read;
}
BENCHMARK(CheckBesideReadingOnce)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

#ifndef _WIN32
// The peak memory of one freeze, in a child whose memory holds nothing else,
// beside the largest file of the folder.
void FreezePeakMemory(benchmark::State& state)
{
    const SharedWorld& world = World();
    std::uintmax_t largest = 0;
    for (const std::string& path : FreezeFiles(world.Shared))
        largest = std::max(largest, fs::file_size(path));
    long peak = 0;
    long before = 0;
    for (auto _ : state) {
        world.Restore();
        const pid_t child = ::fork();
        if (child == 0) {
            std::unique_ptr<StaIdx> table = world.LoadedIndex();
            rusage usage{};
            getrusage(RUSAGE_SELF, &usage);
            const long loaded = usage.ru_maxrss;
            NullReporter reporter;
            FreezeWorld(world.Index, world.Statics, world.Shared, *table, reporter);
            // The peak before the freeze goes out as the exit status, in MB.
            ::_exit(static_cast<int>(std::min(loaded / 1024, 255L)));
        }
        int status = 0;
        rusage usage{};
        ::wait4(child, &status, 0, &usage);
        peak = usage.ru_maxrss;
        before = WEXITSTATUS(status);
    }
    state.counters["peak_MB"] = static_cast<double>(peak) / 1024.0;
    state.counters["before_freeze_MB"] = static_cast<double>(before);
    state.counters["largest_file_MB"] = static_cast<double>(largest) / (1024.0 * 1024.0);
}
BENCHMARK(FreezePeakMemory)->Unit(benchmark::kMillisecond)->Iterations(1);
#endif

} // namespace
} // namespace cryo::bench

BENCHMARK_MAIN();
