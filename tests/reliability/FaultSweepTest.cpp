// Every file operation of a melt and a freeze, in turn, fails with each error
// a disk can give, or the process stops there as at a kill or a power cut: an
// error leaves every file as it was, and after a stop the next run finds every
// object in exactly one place.
#include "Reliability.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include <unistd.h>

namespace cryo::reliability {
namespace {

// A data flush that failed is not tried again, and nothing is put in place
// after it. (A folder's flush that fails puts the old files back.)
void ExpectNoRetryAfterFailedFlush(const std::vector<std::string>& operations, int failed, const std::string& where)
{
    const std::string& op = operations[static_cast<std::size_t>(failed - 1)];
    if (!op.starts_with("sync ") || op.ends_with("/"))
        return;
    for (std::size_t i = static_cast<std::size_t>(failed); i < operations.size(); ++i) {
        EXPECT_NE(operations[i], op) << where << ": retried " << op;
        EXPECT_FALSE(operations[i].starts_with("rename ")) << where << ": renamed after failed " << op;
    }
}

void Report(const std::vector<std::string>& problems, const std::string& where)
{
    for (const std::string& problem : problems)
        ADD_FAILURE() << where << ": " << problem;
}

// A world and what its completed operation makes of it.
struct Sweepable {
    Sweepable(Operation kind, std::uint32_t seed, int sizeFactor, bool named)
        : Kind(kind)
        , Named(named)
        , World(InFolder(kind))
    {
        WriteWorldFor(kind, World, seed, sizeFactor);
        Before = World.Take();
        Everything = reliability::Everything(World);
        FaultAt counter(0, FaultAt::Action::Count, FileError::Kind::Other, 0, named);
        EXPECT_EQ(RunOperation(kind, World), "");
        Operations = counter.Operations();
        After = World.Take();
        // An apply changes the objects: those of the patched files are the ones kept.
        if (kind == Operation::Apply)
            Everything = reliability::Everything(World);
        EXPECT_TRUE(reliability::Everything(World) == Everything);
        EXPECT_TRUE(After.StaIdx != Before.StaIdx
            && (kind == Operation::Compact || kind == Operation::Apply
                    ? After.Statics != Before.Statics
                    : After.Wsc != Before.Wsc || After.Folder != Before.Folder));
    }

    std::string Name() const { return std::string(NameOf(Kind)) + (Named ? " (named)" : ""); }
    int Total() const { return static_cast<int>(Operations.size()); }

    Operation Kind;
    bool Named;
    WorldFolder World;
    WorldFolder::Snapshot Before;
    WorldFolder::Snapshot After;
    Objects Everything;
    std::vector<std::string> Operations;
};

int SweepErrors(const Sweepable& sweep)
{
    int points = 0;
    for (const InjectedError& error : InjectedErrors) {
        // The commit's error paths do not depend on the operation: a compaction
        // and named replacements are swept with one kind of error.
        if ((sweep.Named || sweep.Kind == Operation::Compact || sweep.Kind == Operation::Apply)
            && &error != &InjectedErrors[0])
            break;
        for (int n = 1; n <= sweep.Total(); ++n, ++points) {
            const std::string where = sweep.Name() + ", " + error.Text + " at " + sweep.Operations[n - 1];
            Restore(sweep.World, sweep.Before);
            std::string text;
            std::vector<std::string> operations;
            {
                FaultAt fault(n, FaultAt::Action::Fail, error.Kind, error.Code, sweep.Named);
                text = RunOperation(sweep.Kind, sweep.World);
                operations = fault.Operations();
            }
            // Only what a complete commit no longer needs may fail unseen.
            EXPECT_TRUE(text == error.Text || text.empty()) << where << ": " << text;
            EXPECT_TRUE(sweep.World.Take() == (text.empty() ? sweep.After : sweep.Before)) << where;
            ExpectNoRetryAfterFailedFlush(operations, n, where);
            // Every error leaves the same files, so one kind is followed further.
            if (&error == &InjectedErrors[0])
                Report(CheckExactlyOnce(sweep.Kind, sweep.World, sweep.Before, sweep.After, sweep.Everything), where);
        }
    }
    return points;
}

// Stops at every operation; the statics file's reads and appends, a few for
// each block, are alike, so CI stops at 16 of them (CRYOWEAVER_SWEEP_ALL=1:
// at every one).
int SweepStops(const Sweepable& sweep)
{
    auto perBlock = [&](int n) {
        const std::string& op = sweep.Operations[static_cast<std::size_t>(n - 1)];
        return op.ends_with("/Statics0.mul") && !op.starts_with("open ") && !op.starts_with("sync ")
            && !op.starts_with("truncate ");
    };
    int perBlockCount = 0;
    for (int n = 1; n <= sweep.Total(); ++n)
        perBlockCount += perBlock(n);
    const int stride = FromEnvironment("CRYOWEAVER_SWEEP_ALL", 0) != 0 ? 1 : std::max(1, perBlockCount / 16);
    int points = 0;
    int seen = 0;
    for (int n = 1; n <= sweep.Total() + 1; ++n) {
        if (n <= sweep.Total() && perBlock(n) && seen++ % stride != 0)
            continue;
        ++points;
        const std::string where = sweep.Name() + ", stopped at "
            + (n <= sweep.Total() ? sweep.Operations[static_cast<std::size_t>(n - 1)] : "the end");
        Restore(sweep.World, sweep.Before);
        const int status = test::RunInChild([&] {
            FaultAt stop(n, FaultAt::Action::Stop, FileError::Kind::Other, 0, sweep.Named);
            if (!RunOperation(sweep.Kind, sweep.World).empty())
                ::_exit(1);
        }).Status;
        EXPECT_EQ(status, n <= sweep.Total() ? StoppedStatus : 0) << where;
        Report(CheckExactlyOnce(sweep.Kind, sweep.World, sweep.Before, sweep.After, sweep.Everything), where);
    }
    return points;
}

struct SweepCase {
    Operation Kind;
    bool Named;
};

class FaultSweep : public testing::TestWithParam<SweepCase> { };

// Errors on small worlds (CRYOWEAVER_SWEEP_WORLDS of them); stops on a world
// whose freeze fills 300 blocks (a melt's operations do not grow with the
// world), or on a small one with named replacements.
TEST_P(FaultSweep, EveryObjectIsInExactlyOnePlaceWhereverTheOperationFailsOrStops)
{
    const SweepCase c = GetParam();
    int errors = 0;
    for (int world = 0; world < (c.Named ? 1 : FromEnvironment("CRYOWEAVER_SWEEP_WORLDS", 1)); ++world)
        errors += SweepErrors(
            Sweepable(c.Kind, static_cast<std::uint32_t>(1 + 2 * world + (c.Named ? 8 : 0)), 1, c.Named));
    const Sweepable large(
        c.Kind, 21, c.Named ? 1 : (c.Kind == Operation::Freeze || c.Kind == Operation::Apply ? 50 : 5), c.Named);
    const int stops = SweepStops(large);
    std::printf(
        "%s: %d error points, %d of %d stop points swept\n", large.Name().c_str(), errors, stops, large.Total() + 1);
    RecordProperty("fault_points", errors + stops);
}

INSTANTIATE_TEST_SUITE_P(Operations, FaultSweep,
    testing::Values(SweepCase{Operation::Freeze, false}, SweepCase{Operation::Melt, false},
        SweepCase{Operation::Freeze, true}, SweepCase{Operation::Melt, true}, SweepCase{Operation::Compact, false},
        SweepCase{Operation::FreezeFolder, false}, SweepCase{Operation::Apply, false},
        SweepCase{Operation::MeltFolder, false}, SweepCase{Operation::MeltArea, false}),
    [](const testing::TestParamInfo<SweepCase>& info) {
        std::string name = NameOf(info.param.Kind);
        name[0] = static_cast<char>(name[0] - 'a' + 'A');
        return name + (info.param.Named ? "Named" : "");
    });

} // namespace
} // namespace cryo::reliability
