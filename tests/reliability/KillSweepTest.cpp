// The real command line, killed with SIGKILL or asked to stop with SIGINT or
// SIGTERM at random moments of a freeze, a melt and an undo. After a kill the next
// run finds every object in exactly one place. A stop ends the run as an
// error does, with every file as it was, unless its commit had begun, which
// then completes.
#include "Reliability.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>

namespace cryo::reliability {
namespace {

using Clock = std::chrono::steady_clock;

struct SignalCase {
    Operation Kind;
    int Signal;
    int Runs;
};

class KillSweep : public testing::TestWithParam<SignalCase> { };

TEST_P(KillSweep, EveryObjectIsInExactlyOnePlaceWhateverMomentTheSignalComes)
{
    const SignalCase c = GetParam();
    // A longer sweep than CI's: CRYOWEAVER_KILL_RUNS runs, at most
    // CRYOWEAVER_KILL_SECONDS seconds each.
    const int runs = FromEnvironment("CRYOWEAVER_KILL_RUNS", c.Runs);
    const std::chrono::seconds budget(FromEnvironment("CRYOWEAVER_KILL_SECONDS", 40));
    WorldFolder world(InFolder(c.Kind));
    WriteWorldFor(c.Kind, world, 21, c.Kind == Operation::Melt ? 60 : 40);
    const WorldFolder::Snapshot written = world.Take();
    Prepare(c.Kind, world, written);
    const WorldFolder::Snapshot before = world.Take();
    Objects everything = Everything(world);
    const std::vector<std::string> args = CliArguments(c.Kind, world);
    test::TempFolder logs;
    const std::string output = logs / "output";

    const Clock::time_point start = Clock::now();
    EXPECT_EQ(test::WaitForProgram(test::StartProgram(args)), 0);
    const auto duration = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
    const WorldFolder::Snapshot after = world.Take();
    // An apply changes the objects: those of the patched files are the ones kept.
    if (c.Kind == Operation::Apply)
        everything = Everything(world);

    const std::string stopped
        = std::string("Stopped by ") + (c.Signal == SIGINT ? "SIGINT" : "SIGTERM") + "; no file was changed.";
    int tried = 0;
    int survived = 0;
    int completed = 0; // ended before the signal, or completed a commit that had begun
    int undone = 0; // stopped with every file as it was
    std::mt19937 random(static_cast<std::uint32_t>(runs + c.Signal));
    for (const Clock::time_point end = Clock::now() + budget; tried < runs && Clock::now() < end; ++tried) {
        Prepare(c.Kind, world, written);
        // Moments across the whole run, and a little past its usual end.
        const auto delay = std::chrono::microseconds(
            std::uniform_int_distribution<std::int64_t>(0, duration.count() * 11 / 10)(random));
        const int child = test::StartProgram(args, output);
        std::this_thread::sleep_for(delay);
        ::kill(child, c.Signal);
        const int status = test::WaitForProgram(child);
        const std::string where = "signal " + std::to_string(c.Signal) + " after " + std::to_string(delay.count())
            + " us, exit status " + std::to_string(status);
        completed += status == 0;
        if (status == 0) {
            EXPECT_TRUE(world.Take() == after) << where;
        }
        if (status == 1) {
            ++undone;
            const std::string text = test::ReadText(output);
            EXPECT_EQ(text.substr(text.rfind('\n', text.size() - 2) + 1), "cryoweaver-cli: " + stopped + "\n") << where;
            EXPECT_TRUE(world.Take() == before) << where;
            EXPECT_EQ(Leftovers(world), std::vector<std::string>{}) << where;
        }
        // A listing, which does not lock, first completes or undoes a killed commit.
        if (status == -1) {
            EXPECT_EQ(test::RunProgram({CRYOWEAVER_CLI, "list", "--staidx", world.StaIdx(), "--statics",
                                           world.Statics(), std::to_string(MeltX), std::to_string(MeltY)})
                          .Status,
                0)
                << where;
        }
        // Before its handler is set, a stop signal ends the program as a kill does.
        EXPECT_TRUE(status == 0 || status == -1 || (status == 1 && c.Signal != SIGKILL)) << where;
        const std::vector<std::string> problems = CheckExactlyOnce(c.Kind, world, before, after, everything);
        for (const std::string& problem : problems)
            ADD_FAILURE() << where << ": " << problem;
        survived += problems.empty();
    }
    std::printf("%s, signal %d: a run takes %lld ms; %d tried, %d survived (%d completed, %d stopped and undone)\n",
        NameOf(c.Kind), c.Signal, static_cast<long long>(duration.count() / 1000), tried, survived, completed, undone);
    EXPECT_GE(tried, 6);
    EXPECT_EQ(survived, tried);
    RecordProperty("signal_points_tried", tried);
}

INSTANTIATE_TEST_SUITE_P(Signals, KillSweep,
    testing::Values(SignalCase{Operation::Freeze, SIGKILL, 16}, SignalCase{Operation::Melt, SIGKILL, 10},
        SignalCase{Operation::Freeze, SIGINT, 10}, SignalCase{Operation::Melt, SIGTERM, 8},
        SignalCase{Operation::Compact, SIGKILL, 10}, SignalCase{Operation::FreezeFolder, SIGKILL, 10},
        SignalCase{Operation::Undo, SIGKILL, 10}, SignalCase{Operation::Undo, SIGTERM, 6},
        SignalCase{Operation::Apply, SIGKILL, 10}, SignalCase{Operation::Apply, SIGINT, 6},
        SignalCase{Operation::MeltFolder, SIGKILL, 10}, SignalCase{Operation::MeltArea, SIGKILL, 10}),
    [](const testing::TestParamInfo<SignalCase>& info) {
        return std::string(NameOf(info.param.Kind))
            + (info.param.Signal == SIGKILL       ? "Kill"
                    : info.param.Signal == SIGINT ? "Int"
                                                  : "Term");
    });

} // namespace
} // namespace cryo::reliability
