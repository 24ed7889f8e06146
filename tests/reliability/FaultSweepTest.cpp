// Every file operation of a melt and a freeze, in turn, fails with each error
// a disk can give or stops the process there; what is left on disk must keep
// every object, change the files in order, and let the next run complete.
#include "Reliability.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include <unistd.h>

namespace cryo::reliability {
namespace {

// A flush that failed is not tried again, and nothing is put in place after it.
void ExpectNoRetryAfterFailedSync(const std::vector<std::string>& operations, int failed, const std::string& where)
{
    const std::string& op = operations[static_cast<std::size_t>(failed - 1)];
    if (!op.starts_with("sync "))
        return;
    for (std::size_t i = static_cast<std::size_t>(failed); i < operations.size(); ++i) {
        EXPECT_NE(operations[i], op) << where << ": retried " << op;
        EXPECT_FALSE(operations[i].starts_with("rename ")) << where << ": renamed after failed " << op;
    }
}

// The next run removes what a failed or stopped one left and completes.
void ExpectNextRunCompletes(
    Operation operation, const WorldFolder& world, const Objects& everything, const std::string& where)
{
    EXPECT_EQ(RunOperation(operation, world), "") << where;
    EXPECT_EQ(Leftovers(world), std::vector<std::string>{}) << where;
    EXPECT_TRUE(test::ContainsAll(Everything(world), everything)) << where;
}

// With named, every replacement has a name from the start (the way of systems
// without unnamed files); one kind of error is then swept, and every stop.
int Sweep(Operation operation, std::uint32_t seed, bool named)
{
    WorldFolder world;
    WriteWorldFor(operation, world, seed);
    const WorldFolder::Snapshot before = world.Take();
    const Objects everything = Everything(world);

    // The completed operation: what every file becomes, and how many file
    // operations it takes.
    int total = 0;
    {
        FaultAt counter(0, FaultAt::Action::Count, FileError::Kind::Other, 0, named);
        EXPECT_EQ(RunOperation(operation, world), "");
        total = counter.Seen();
    }
    const WorldFolder::Snapshot after = world.Take();
    EXPECT_TRUE(test::ContainsAll(Everything(world), everything));
    EXPECT_NE(after.StaIdx, before.StaIdx);
    EXPECT_NE(after.Wsc, before.Wsc);
    EXPECT_GT(total, 15);

    const std::string name = std::string(NameOf(operation)) + (named ? " (named)" : "");
    int points = 0;
    for (const InjectedError& error : InjectedErrors) {
        if (named && &error != &InjectedErrors[0])
            break;
        for (int n = 1; n <= total; ++n, ++points) {
            const std::string where = name + ", " + error.Text + " at operation " + std::to_string(n);
            Restore(world, before);
            std::string text;
            std::vector<std::string> operations;
            {
                FaultAt fault(n, FaultAt::Action::Fail, error.Kind, error.Code, named);
                text = RunOperation(operation, world);
                operations = fault.Operations();
            }
            EXPECT_EQ(text, error.Text) << where << " (" << operations[static_cast<std::size_t>(n - 1)] << ")";
            ExpectNoRetryAfterFailedSync(operations, n, where);
            for (const std::string& problem : CheckInterrupted(operation, world, before, after, everything, false))
                ADD_FAILURE() << where << ": " << problem;
            // Every error leaves the same files, so one kind is tried again.
            if (&error == &InjectedErrors[0])
                ExpectNextRunCompletes(operation, world, everything, where);
        }
    }
    for (int n = 1; n <= total + 1; ++n, ++points) {
        const std::string where = name + ", stopped at operation " + std::to_string(n);
        Restore(world, before);
        const int status = test::RunInChild([&] {
            FaultAt stop(n, FaultAt::Action::Stop, FileError::Kind::Other, 0, named);
            if (!RunOperation(operation, world).empty())
                ::_exit(1);
        }).Status;
        EXPECT_EQ(status, n <= total ? StoppedStatus : 0) << where;
        for (const std::string& problem : CheckInterrupted(operation, world, before, after, everything, true))
            ADD_FAILURE() << where << ": " << problem;
        ExpectNextRunCompletes(operation, world, everything, where);
    }
    return points;
}

// CI sweeps one world each way; CRYOWEAVER_SWEEP_WORLDS asks for more.
int Worlds()
{
    const char* value = std::getenv("CRYOWEAVER_SWEEP_WORLDS");
    return value != nullptr && std::atoi(value) > 0 ? std::atoi(value) : 1;
}

struct SweepCase {
    Operation Kind;
    bool Named;
};

class FaultSweep : public testing::TestWithParam<SweepCase> { };

TEST_P(FaultSweep, EveryObjectIsKeptWhereverTheOperationFailsOrStops)
{
    const SweepCase sweep = GetParam();
    int points = 0;
    for (int world = 0; world < (sweep.Named ? 1 : Worlds()); ++world)
        points += Sweep(sweep.Kind, static_cast<std::uint32_t>(1 + 2 * world + (sweep.Named ? 8 : 0)), sweep.Named);
    std::printf("%s%s: %d fault points swept\n", NameOf(sweep.Kind), sweep.Named ? ", named replacements" : "", points);
    RecordProperty("fault_points", points);
}

INSTANTIATE_TEST_SUITE_P(Operations, FaultSweep,
    testing::Values(SweepCase{Operation::Freeze, false}, SweepCase{Operation::Melt, false},
        SweepCase{Operation::Freeze, true}, SweepCase{Operation::Melt, true}),
    [](const testing::TestParamInfo<SweepCase>& info) {
        return std::string(info.param.Kind == Operation::Freeze ? "Freeze" : "Melt")
            + (info.param.Named ? "Named" : "");
    });

} // namespace
} // namespace cryo::reliability
