// The real command line, killed with SIGKILL at random moments of a freeze
// and a melt of a larger world: after every kill nothing is lost, the files
// changed in order, and the next run completes and leaves nothing behind.
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

int RunToEnd(const std::vector<std::string>& args)
{
    return test::WaitForProgram(test::StartProgram(args));
}

// A longer sweep than CI's: CRYOWEAVER_KILL_RUNS runs, at most
// CRYOWEAVER_KILL_SECONDS seconds each way.
int FromEnvironment(const char* name, int fallback)
{
    const char* value = std::getenv(name);
    return value != nullptr && std::atoi(value) > 0 ? std::atoi(value) : fallback;
}

void KillSweep(Operation operation, int runs, int seconds)
{
    runs = FromEnvironment("CRYOWEAVER_KILL_RUNS", runs);
    const std::chrono::seconds budget(FromEnvironment("CRYOWEAVER_KILL_SECONDS", seconds));
    WorldFolder world;
    WriteWorldFor(operation, world, 21, operation == Operation::Freeze ? 40 : 60);
    const WorldFolder::Snapshot before = world.Take();
    const Objects everything = Everything(world);
    std::vector<std::string> args{CRYOWEAVER_CLI, NameOf(operation), "--staidx", world.StaIdx(), "--statics",
        world.Statics(), "--wsc", world.Wsc()};
    if (operation == Operation::Melt) {
        args.push_back(std::to_string(MeltX));
        args.push_back(std::to_string(MeltY));
    }

    const Clock::time_point start = Clock::now();
    EXPECT_EQ(RunToEnd(args), 0);
    const auto duration = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
    const WorldFolder::Snapshot after = world.Take();
    EXPECT_TRUE(test::ContainsAll(Everything(world), everything));

    int tried = 0;
    int survived = 0;
    int completed = 0; // ended before the kill came
    std::mt19937 random(static_cast<std::uint32_t>(runs));
    const Clock::time_point end = Clock::now() + budget;
    for (; tried < runs && Clock::now() < end; ++tried) {
        Restore(world, before);
        // Moments across the whole run, and a little past its usual end.
        const auto delay = std::chrono::microseconds(
            std::uniform_int_distribution<std::int64_t>(0, duration.count() * 11 / 10)(random));
        const int child = test::StartProgram(args);
        std::this_thread::sleep_for(delay);
        ::kill(child, SIGKILL);
        if (const int status = test::WaitForProgram(child); status != -1) {
            ++completed;
            EXPECT_EQ(status, 0);
        }
        const std::string where = "killed after " + std::to_string(delay.count()) + " us";
        const std::vector<std::string> problems = CheckInterrupted(operation, world, before, after, everything, true);
        for (const std::string& problem : problems)
            ADD_FAILURE() << where << ": " << problem;
        EXPECT_EQ(RunToEnd(args), 0) << where;
        EXPECT_EQ(Leftovers(world), std::vector<std::string>{}) << where;
        const bool kept = test::ContainsAll(Everything(world), everything);
        EXPECT_TRUE(kept) << where;
        survived += problems.empty() && kept;
    }
    std::printf("%s: a run takes %lld ms; %d kill points tried, %d survived (%d runs ended before the kill)\n",
        NameOf(operation), static_cast<long long>(duration.count() / 1000), tried, survived, completed);
    EXPECT_GE(tried, 10);
    EXPECT_EQ(survived, tried);
    testing::Test::RecordProperty("kill_points_tried", tried);
    testing::Test::RecordProperty("kill_points_survived", survived);
}

TEST(KillSweep, AKilledFreezeLosesNothing)
{
    KillSweep(Operation::Freeze, 20, 60);
}

TEST(KillSweep, AKilledMeltLosesNothing)
{
    KillSweep(Operation::Melt, 12, 40);
}

} // namespace
} // namespace cryo::reliability
