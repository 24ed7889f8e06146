// Two runs on the same files at once, an index that a window loaded before
// another run changed the files, and a program that appends to the world save
// while a freeze runs: every object ends in exactly one place, and a run that
// cannot go on stops with its message and changes nothing.
#include "Reliability.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <thread>

#include <sys/wait.h>

namespace cryo::reliability {
namespace {

using namespace std::chrono_literals;

TEST(Concurrency, TwoCommandLinesStartedTogetherNeitherLoseNorDuplicateAnObject)
{
    // A world with a block to melt and TYPE 255 items to freeze.
    WorldFolder world;
    WriteWorldFor(Operation::Melt, world, 31, 20);
    const WorldFolder::Snapshot before = world.Take();
    const Objects everything = Everything(world);
    const std::pair<Operation, Operation> pairs[] = {{Operation::Melt, Operation::Freeze},
        {Operation::Freeze, Operation::Melt}, {Operation::Freeze, Operation::Freeze}};
    std::mt19937 random(5);
    const int tries = FromEnvironment("CRYOWEAVER_CONCURRENT_RUNS", 5);
    for (const auto& [first, second] : pairs) {
        for (int i = 0; i < tries; ++i) {
            Restore(world, before);
            const auto gap = std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 60)(random));
            const int one = test::StartProgram(CliArguments(first, world));
            std::this_thread::sleep_for(gap);
            const int two = test::StartProgram(CliArguments(second, world));
            const std::string where = std::string(NameOf(first)) + " then " + NameOf(second) + " "
                + std::to_string(gap.count()) + " ms later";
            EXPECT_EQ(test::WaitForProgram(one), 0) << where;
            EXPECT_EQ(test::WaitForProgram(two), 0) << where;
            EXPECT_TRUE(Everything(world) == everything) << where;
            EXPECT_EQ(Leftovers(world), std::vector<std::string>{}) << where;
        }
    }
}

TEST(Concurrency, AWindowsIndexIsLoadedAgainWhenAnotherRunChangedIt)
{
    WorldFolder world;
    WriteWorldFor(Operation::Melt, world, 33);
    const Objects everything = Everything(world);
    const WorldFiles files = FilesOf(world);
    // Melts the same block as the command line, as the window does: first
    // after the command line has ended, then while it runs.
    for (const auto wait : {std::chrono::milliseconds(-1), 0ms, 30ms}) {
        test::RecordingReporter window;
        auto table = std::make_unique<StaIdx>();
        {
            const LockedWorld locked(files, window);
            LoadStaIdx(files.StaIdx, *table, window);
        }
        const int cli = test::StartProgram(CliArguments(Operation::Melt, world));
        if (wait.count() < 0)
            EXPECT_EQ(test::WaitForProgram(cli), 0);
        else
            std::this_thread::sleep_for(wait);
        EXPECT_EQ(test::ErrorText([&] {
            const LockedWorld locked(files, window);
            ReloadIfChanged(files, *table, window);
            RunMelt(files, std::to_string(MeltX), std::to_string(MeltY), *table, window);
        }),
            "");
        if (wait.count() >= 0)
            EXPECT_EQ(test::WaitForProgram(cli), 0);
        else
            EXPECT_EQ(
                window.Lines.at(0), "The index changed since it was loaded; loading it again from " + files.StaIdx);
        EXPECT_TRUE(Everything(world) == everything) << wait.count();
        // The block's objects go back for the next round.
        EXPECT_EQ(RunOperation(Operation::Freeze, world), "");
    }
}

TEST(Concurrency, AFreezeWhileAnotherProgramAppendsToTheWorldSaveStopsAndChangesNothing)
{
    WorldFolder world;
    WriteWorldFor(Operation::Freeze, world, 35, 20);
    const WorldFolder::Snapshot before = world.Take();
    test::TempFolder logs;
    const int cli = test::StartProgram(CliArguments(Operation::Freeze, world), logs / "output");
    // One section every millisecond until the freeze has ended.
    const std::string section = test::CrLfLines({"SECTION WORLDITEM 60000", "{", "ID 100", "TYPE 0", "}"});
    int appended = 0;
    int status = 0;
    while (::waitpid(cli, &status, WNOHANG) == 0) {
        std::FILE* file = std::fopen(world.Wsc().c_str(), "ab");
        std::fputs(section.c_str(), file);
        std::fclose(file);
        ++appended;
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
    EXPECT_TRUE(test::ReadText(logs / "output")
                    .ends_with("cryoweaver-cli: " + world.Wsc()
                        + ": Another program changed the file while Cryoweaver worked; no file was changed.\n"));
    const WorldFolder::Snapshot now = world.Take();
    std::string appendedText;
    for (int i = 0; i < appended; ++i)
        appendedText += section;
    EXPECT_TRUE(now.StaIdx == before.StaIdx && now.Statics == before.Statics);
    EXPECT_EQ(
        std::string(now.Wsc.begin(), now.Wsc.end()), std::string(before.Wsc.begin(), before.Wsc.end()) + appendedText);
    EXPECT_EQ(Leftovers(world), std::vector<std::string>{});
}

TEST(Concurrency, ARunThatFindsTheFilesBusyForLongStopsWithItsMessageAndChangesNothing)
{
    WorldFolder world;
    WriteWorldFor(Operation::Freeze, world, 37);
    const WorldFolder::Snapshot before = world.Take();
    NullReporter quiet;
    const FileLocks held({world.Wsc()}, quiet);
    const test::ProgramRun run = test::RunProgram(CliArguments(Operation::Freeze, world));
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Out, "Waiting for another run of Cryoweaver to finish with " + world.Wsc() + "...\n");
    EXPECT_EQ(run.Err,
        "cryoweaver-cli: " + world.Wsc()
            + ": Another run of Cryoweaver is working on this file; try again once it has finished.\n");
    EXPECT_TRUE(world.Take() == before);
}

} // namespace
} // namespace cryo::reliability
