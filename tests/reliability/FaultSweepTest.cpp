// Every file operation of a melt and a freeze, in turn, fails with each error
// a disk can give or stops the process there; what is left on disk must keep
// every object, change the files in order, and let the next run complete.
#include "Reliability.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace cryo::reliability {
namespace {

std::string Name(Operation operation)
{
    return operation == Operation::Freeze ? "freeze" : "melt";
}

// A flush that failed is not tried again, and nothing is put in place after it.
void ExpectNoRetryAfterFailedSync(const std::vector<std::string>& operations, int failed, const std::string& where)
{
    const std::string& op = operations[static_cast<std::size_t>(failed - 1)];
    if (op.rfind("sync ", 0) != 0)
        return;
    for (std::size_t i = static_cast<std::size_t>(failed); i < operations.size(); ++i) {
        EXPECT_NE(operations[i], op) << where << ": retried " << op;
        EXPECT_NE(operations[i].rfind("rename ", 0), 0u) << where << ": renamed after failed " << op;
    }
}

// With named, every replacement has a name from the start (the way of systems
// without unnamed files); one kind of error is then swept, and every stop.
int Sweep(Operation operation, std::uint32_t seed, bool named = false)
{
    WorldFolder world;
    WriteWorldFor(operation, world, seed);
    const WorldFolder::Snapshot before = world.Take();
    const Objects everything = Everything(world);

    // The completed operation: what every file becomes, and how many file
    // operations it takes.
    FaultAt counter;
    if (named)
        counter.NameReplacements();
    {
        Installed installed(counter);
        EXPECT_EQ(RunOperation(operation, world), "");
    }
    const int total = counter.Seen();
    const WorldFolder::Snapshot after = world.Take();
    EXPECT_TRUE(test::ContainsAll(Everything(world), everything));
    EXPECT_NE(after.StaIdx, before.StaIdx);
    EXPECT_NE(after.Wsc, before.Wsc);
    if (operation == Operation::Freeze) {
        EXPECT_TRUE(test::Type255Items(test::ReadText(world.Wsc())).empty());
        EXPECT_GT(after.Statics.size(), before.Statics.size());
    }
    EXPECT_GT(total, 15);

    int points = 0;
    for (const InjectedError& error : InjectedErrors) {
        if (named && &error != &InjectedErrors[0])
            break;
        for (int n = 1; n <= total; ++n) {
            const std::string where = Name(operation) + (named ? " (named)" : "") + ", " + error.Text + " at operation "
                + std::to_string(n);
            Restore(world, before);
            FaultAt fault(n, FaultAt::Action::Fail, error.Kind, error.Code);
            if (named)
                fault.NameReplacements();
            std::string text;
            {
                Installed installed(fault);
                text = RunOperation(operation, world);
            }
            ++points;
            EXPECT_EQ(text, error.Text) << where << " (" << fault.Operations()[static_cast<std::size_t>(n - 1)] << ")";
            ExpectNoRetryAfterFailedSync(fault.Operations(), n, where);
            for (const std::string& problem : CheckInterrupted(operation, world, before, after, everything, false))
                ADD_FAILURE() << where << ": " << problem;
            // Tried again with nothing failing, it completes and loses nothing.
            // Every error leaves the same files, so one kind of error is enough.
            if (&error == &InjectedErrors[0]) {
                EXPECT_EQ(RunOperation(operation, world), "") << where;
                EXPECT_TRUE(Leftovers(world).empty()) << where;
                EXPECT_TRUE(test::ContainsAll(Everything(world), everything)) << where;
            }
        }
    }

    for (int n = 1; n <= total + 1; ++n) {
        const std::string where
            = Name(operation) + (named ? " (named)" : "") + ", stopped at operation " + std::to_string(n);
        Restore(world, before);
        const int status = StatusOfChild([&] {
            FaultAt stop(n, FaultAt::Action::Stop);
            if (named)
                stop.NameReplacements();
            Installed installed(stop);
            if (!RunOperation(operation, world).empty())
                ::_exit(1);
        });
        ++points;
        EXPECT_EQ(status, n <= total ? StoppedStatus : 0) << where;
        for (const std::string& problem : CheckInterrupted(operation, world, before, after, everything, true))
            ADD_FAILURE() << where << ": " << problem;
        // The next run removes what the stopped one left and completes.
        EXPECT_EQ(RunOperation(operation, world), "") << where;
        EXPECT_EQ(Leftovers(world), std::vector<std::string>{}) << where;
        EXPECT_TRUE(test::ContainsAll(Everything(world), everything)) << where;
    }
    return points;
}

// CI sweeps one world each way; CRYOWEAVER_SWEEP_WORLDS asks for more.
int Worlds()
{
    const char* value = std::getenv("CRYOWEAVER_SWEEP_WORLDS");
    return value != nullptr && std::atoi(value) > 0 ? std::atoi(value) : 1;
}

TEST(FaultSweep, FreezeKeepsEveryObjectWhereverItFailsOrStops)
{
    int points = 0;
    for (int world = 0; world < Worlds(); ++world)
        points += Sweep(Operation::Freeze, static_cast<std::uint32_t>(1 + 2 * world));
    std::printf("freeze: %d fault points swept\n", points);
    RecordProperty("fault_points", points);
}

TEST(FaultSweep, MeltKeepsEveryObjectWhereverItFailsOrStops)
{
    int points = 0;
    for (int world = 0; world < Worlds(); ++world)
        points += Sweep(Operation::Melt, static_cast<std::uint32_t>(2 + 2 * world));
    std::printf("melt: %d fault points swept\n", points);
    RecordProperty("fault_points", points);
}

TEST(FaultSweep, FreezeWithNamedReplacementsLosesAndLeavesNothing)
{
    const int points = Sweep(Operation::Freeze, 9, true);
    std::printf("freeze, named replacements: %d fault points swept\n", points);
    RecordProperty("fault_points", points);
}

TEST(FaultSweep, MeltWithNamedReplacementsLosesAndLeavesNothing)
{
    const int points = Sweep(Operation::Melt, 10, true);
    std::printf("melt, named replacements: %d fault points swept\n", points);
    RecordProperty("fault_points", points);
}

} // namespace
} // namespace cryo::reliability
