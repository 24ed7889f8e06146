#include "Reliability.h"

#include "Actions.h"
#include "StaticBlock.h"
#include "WorldGen.h"
#include "WorldScan.h"

#include <filesystem>
#include <memory>
#include <random>
#include <set>

#include <sys/wait.h>
#include <unistd.h>

namespace cryo::reliability {

const InjectedError InjectedErrors[3] = {
    {FileError::Kind::DiskFull, 28, "Disk full"},
    {FileError::Kind::Other, 5, "I/O error 5"},
    {FileError::Kind::AccessDenied, 13, "File access denied"},
};

void FaultAt::Before(fault::Operation op, const std::string& path)
{
    operations_.push_back(std::string(fault::OperationName(op)) + " " + path);
    if (++seen_ != n_)
        return;
    if (action_ == Action::Stop)
        ::_exit(StoppedStatus);
    if (action_ == Action::Fail)
        throw FileError(kind_, code_);
}

namespace {

// Gives some of the blocks that the world save's items go to objects already.
void AppendRandomItems(std::vector<unsigned char>& statics, int count, std::mt19937& random)
{
    for (int k = 0; k < count; ++k) {
        unsigned char bytes[StaticItemSize];
        EncodeStaticItem({static_cast<std::uint16_t>(random() % 0x4000), static_cast<std::uint8_t>(random() % 8),
                             static_cast<std::uint8_t>(random() % 8), static_cast<std::int8_t>(random() % 256 - 128),
                             static_cast<std::uint16_t>(random() % 3000)},
            bytes);
        statics.insert(statics.end(), bytes, bytes + StaticItemSize);
    }
}

void AddExistingObjects(const std::string& wsc, std::uint32_t seed, StaIdx& table, std::vector<unsigned char>& statics)
{
    test::TempFolder scratch;
    test::WriteText(scratch / "UOX3.wsc", wsc);
    auto exportTable = std::make_unique<ExportTable>();
    NullReporter reporter;
    SelectItemsForExport(scratch / "UOX3.wsc", *exportTable, reporter);
    std::set<std::pair<int, int>> blocks;
    for (int n = 0; n < ExportTable::Size; ++n) {
        const TExportEntry& entry = (*exportTable)[static_cast<std::uint16_t>(n)];
        if (entry.Selected != 0)
            blocks.insert({entry.XBlock, entry.YBlock});
    }
    std::mt19937 random(seed);
    int i = 0;
    for (const auto& [x, y] : blocks) {
        if (i++ % 2 == 1)
            continue;
        const int count = static_cast<int>(random() % 20) + 1;
        table.At(static_cast<std::uint16_t>(x), static_cast<std::uint16_t>(y))
            = {static_cast<std::int32_t>(statics.size()), count * StaticItemSize, static_cast<std::uint32_t>(random())};
        AppendRandomItems(statics, count, random);
    }
}

} // namespace

void WriteFreezeWorld(const WorldFolder& world, std::uint32_t seed, int sizeFactor)
{
    StaIdx table = worldgen::EmptyIndex();
    std::vector<unsigned char> statics;
    worldgen::GenerateStatics(30, 20, seed, table, statics);
    worldgen::WscOptions options;
    options.Type255Items = std::min(40 * sizeFactor, 3000);
    options.Blocks = std::min(6 * sizeFactor, 400);
    options.OrdinaryItems = 150 * sizeFactor;
    options.Characters = 5;
    options.Seed = seed;
    const std::string wsc = worldgen::GenerateWsc(options);
    AddExistingObjects(wsc, seed, table, statics);
    world.Write(table, statics, wsc);
}

void WriteMeltWorld(const WorldFolder& world, std::uint32_t seed, int sizeFactor)
{
    StaIdx table = worldgen::EmptyIndex();
    std::vector<unsigned char> statics;
    worldgen::GenerateStatics(30, 20, seed, table, statics);
    std::mt19937 random(seed);
    const int count = 25;
    table.At(MeltX, MeltY) = {static_cast<std::int32_t>(statics.size()), count * StaticItemSize, 0x1234};
    AppendRandomItems(statics, count, random);
    worldgen::WscOptions options;
    options.Type255Items = 10;
    options.Blocks = 3;
    options.OrdinaryItems = 150 * sizeFactor;
    options.Characters = 5;
    options.Seed = seed;
    world.Write(table, statics, worldgen::GenerateWsc(options));
}

Objects Everything(const WorldFolder& world)
{
    Objects all = test::IndexedObjects(world.StaIdx(), world.Statics());
    const Objects items = test::Type255Items(test::ReadText(world.Wsc()));
    all.insert(items.begin(), items.end());
    return all;
}

std::vector<std::string> WorldFileNames()
{
    return {"StaIdx0.mul", "Statics0.mul", "UOX3.wsc"};
}

void WriteWorldFor(Operation operation, const WorldFolder& world, std::uint32_t seed)
{
    if (operation == Operation::Freeze)
        WriteFreezeWorld(world, seed);
    else
        WriteMeltWorld(world, seed);
}

std::string RunOperation(Operation operation, const WorldFolder& world)
{
    auto table = std::make_unique<StaIdx>();
    NullReporter reporter;
    const WorldFiles files{world.StaIdx(), world.Statics(), world.Wsc()};
    return test::ErrorText([&] {
        LoadStaIdx(files.StaIdx, *table, reporter);
        if (operation == Operation::Freeze)
            RunFreeze(files, *table, reporter);
        else
            RunMelt(files, std::to_string(MeltX), std::to_string(MeltY), *table, reporter);
    });
}

std::vector<std::string> Leftovers(const WorldFolder& world)
{
    std::vector<std::string> names;
    const std::vector<std::string> files = WorldFileNames();
    for (const std::string& name : world.Dir().Entries())
        if (std::find(files.begin(), files.end(), name) == files.end())
            names.push_back(name);
    return names;
}

void Restore(const WorldFolder& world, const WorldFolder::Snapshot& snapshot)
{
    for (const std::string& name : Leftovers(world))
        std::remove((world.Dir() / name).c_str());
    test::WriteBytes(world.StaIdx(), snapshot.StaIdx);
    test::WriteBytes(world.Statics(), snapshot.Statics);
    test::WriteBytes(world.Wsc(), snapshot.Wsc);
}

namespace {

bool IsPrefix(const test::Bytes& prefix, const test::Bytes& whole)
{
    return prefix.size() <= whole.size() && std::equal(prefix.begin(), prefix.end(), whole.begin());
}

bool IsReplacementName(const std::string& name)
{
    for (const std::string& file : WorldFileNames()) {
        const std::string prefix = "." + file + ".cryoweaver-";
        if (name.size() > prefix.size() + 4 && name.compare(0, prefix.size(), prefix) == 0
            && name.compare(name.size() - 4, 4, ".tmp") == 0
            && name.find_first_not_of("0123456789", prefix.size()) == name.size() - 4)
            return true;
    }
    return false;
}

} // namespace

std::vector<std::string> CheckInterrupted(Operation operation, const WorldFolder& world,
    const WorldFolder::Snapshot& before, const WorldFolder::Snapshot& after, const Objects& everything, bool stopped)
{
    std::vector<std::string> problems;
    const WorldFolder::Snapshot now = world.Take();
    const bool indexNew = now.StaIdx == after.StaIdx && now.StaIdx != before.StaIdx;
    const bool wscNew = now.Wsc == after.Wsc && now.Wsc != before.Wsc;
    if (now.StaIdx != before.StaIdx && now.StaIdx != after.StaIdx)
        problems.push_back("the index is neither the old nor the new one");
    if (now.Wsc != before.Wsc && now.Wsc != after.Wsc)
        problems.push_back("the world save is neither the old nor the new one");
    if (operation == Operation::Freeze) {
        // Appended copies are referenced only once the index is replaced, and
        // the world save loses its items only after that.
        if (!IsPrefix(before.Statics, now.Statics) || !IsPrefix(now.Statics, after.Statics))
            problems.push_back("the statics file is not the old one with part of the new copies");
        if (indexNew && now.Statics != after.Statics)
            problems.push_back("the new index refers to copies that are not all in the statics file");
        if (!stopped && !indexNew && now.Statics != before.Statics)
            problems.push_back("a failed freeze left copies in the statics file");
        if (wscNew && !indexNew)
            problems.push_back("the world save lost its items before the index referred to their copies");
    } else {
        if (now.Statics != before.Statics)
            problems.push_back("a melt changed the statics file");
        if (indexNew && !wscNew)
            problems.push_back("the index lost the block before the world save held its objects");
    }

    for (const std::string& name : Leftovers(world))
        if (!stopped || !IsReplacementName(name))
            problems.push_back("left behind: " + name);

    const std::string loads = test::ErrorText([&] {
        const Objects objects = Everything(world);
        if (!test::ContainsAll(objects, everything))
            problems.push_back("objects were lost");
        auto exportTable = std::make_unique<ExportTable>();
        NullReporter reporter;
        SelectItemsForExport(world.Wsc(), *exportTable, reporter);
        FindHighestNumbers(world.Wsc());
    });
    if (!loads.empty())
        problems.push_back("the files do not load and scan: " + loads);
    return problems;
}

int StatusOfChild(const std::function<void()>& fn)
{
    const pid_t child = ::fork();
    if (child == 0) {
        try {
            fn();
        } catch (...) {
            ::_exit(1);
        }
        ::_exit(0);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

} // namespace cryo::reliability
