#include "Reliability.h"

#include "Actions.h"
#include "ApplyPatch.h"
#include "ItemFreeze.h"
#include "ItemSaveFiles.h"
#include "MakePatch.h"
#include "RegionGen.h"
#include "StaticBlock.h"
#include "Undo.h"
#include "WorldGen.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <set>
#include <tuple>

#include <unistd.h>

namespace cryo::reliability {

const InjectedError InjectedErrors[3] = {
    {FileError::Kind::DiskFull, 28, "Disk full"},
    {FileError::Kind::Other, 5, "I/O error 5"},
    {FileError::Kind::AccessDenied, 13, "File access denied"},
};

namespace {

const char* OperationName(fault::Operation op)
{
    static const char* const names[] = {
        "open", "create", "read", "write", "seek", "size", "truncate", "sync", "close", "rename", "remove", "status"};
    return names[static_cast<int>(op)];
}

} // namespace

FaultAt::FaultAt(int n, Action action, FileError::Kind kind, int code, bool named)
    : n_(n)
    , action_(action)
    , kind_(kind)
    , code_(code)
    , named_(named)
{
    fault::Install(this);
}

FaultAt::~FaultAt()
{
    fault::Install(nullptr);
}

void FaultAt::Before(fault::Operation op, const std::string& path)
{
    operations_.push_back(std::string(OperationName(op)) + " " + path);
    if (Seen() != n_)
        return;
    if (action_ == Action::Stop)
        ::_exit(StoppedStatus);
    if (action_ == Action::Fail)
        throw FileError(kind_, code_);
}

const char* NameOf(Operation operation)
{
    static const char* const names[]
        = {"freeze", "melt", "compact", "freezeFolder", "undo", "apply", "meltFolder", "meltArea"};
    return names[static_cast<int>(operation)];
}

bool InFolder(Operation operation)
{
    return operation == Operation::FreezeFolder || operation == Operation::MeltFolder
        || operation == Operation::MeltArea;
}

std::uint16_t MeltXOf(Operation operation)
{
    return operation == Operation::MeltFolder || operation == Operation::MeltArea ? 0 : MeltX;
}

namespace {

// The items a freeze takes: of the world-save text, or of the shared folder.
Objects Type255Objects(const WorldFolder& world, const std::string& wsc)
{
    if (!world.Shared())
        return test::Type255Items(wsc);
    Objects objects;
    for (const FrozenObject& object : SelectForFreeze(FreezeFiles(world.Wsc()), FreezeMap{0, 6144, 4096, {}}).Objects)
        objects.insert({object.Item.TileId, object.XBlock * 8 + object.Item.XOffset,
            object.YBlock * 8 + object.Item.YOffset, object.Item.Z, object.Item.Color});
    return objects;
}

// The released files, and a patch of the operator's edits: every other
// filled block loses its first object and gains two, and a few empty blocks
// get two.
void WritePatchWorld(const WorldFolder& world, std::uint32_t seed, int sizeFactor)
{
    StaIdx table = worldgen::EmptyIndex();
    std::vector<unsigned char> statics;
    worldgen::GenerateStatics(30 * sizeFactor, 20, seed, table, statics);
    world.Write(table, statics, "");
    StaIdx edited = table;
    std::vector<unsigned char> editedStatics = statics;
    std::mt19937 random(seed);
    int filledSeen = 0;
    for (std::size_t n = 0; n < table.Entries.size(); ++n) {
        const TStaIdxEntry entry = table.Entries[n];
        const bool filled = entry.Offset >= 0 && entry.Length >= StaticItemSize;
        if (filled ? filledSeen++ % 2 != 0 : random() % 20000 != 0)
            continue;
        std::vector<unsigned char> block;
        if (filled)
            block.assign(statics.begin() + entry.Offset + StaticItemSize,
                statics.begin() + entry.Offset + entry.Length / StaticItemSize * StaticItemSize);
        for (int k = 0; k < 2; ++k) {
            unsigned char bytes[StaticItemSize];
            EncodeStaticItem(
                {static_cast<std::uint16_t>(random() % 0x4000), static_cast<std::uint8_t>(random() % 8),
                    static_cast<std::uint8_t>(random() % 8), 0, static_cast<std::uint16_t>(random() % 3000)},
                bytes);
            block.insert(block.end(), bytes, bytes + StaticItemSize);
        }
        edited.Entries[n]
            = {static_cast<std::int32_t>(editedStatics.size()), static_cast<std::int32_t>(block.size()), entry.Extra};
        editedStatics.insert(editedStatics.end(), block.begin(), block.end());
    }
    test::TempFolder current;
    test::WriteBytes(current / "StaIdx0.mul", test::IndexBytes(edited));
    test::WriteBytes(current / "Statics0.mul", editedStatics);
    NullReporter reporter;
    MakePatch({world.StaIdx(), world.Statics()}, {current / "StaIdx0.mul", current / "Statics0.mul"},
        PatchOf(FilesOf(world)), reporter);
}

} // namespace

void WriteWorldFor(Operation operation, const WorldFolder& world, std::uint32_t seed, int sizeFactor)
{
    if (operation == Operation::Apply)
        return WritePatchWorld(world, seed, sizeFactor);
    if (operation == Operation::Undo)
        operation = Operation::Freeze;
    StaIdx table = worldgen::EmptyIndex();
    std::vector<unsigned char> statics;
    worldgen::GenerateStatics(operation == Operation::Compact ? 30 * sizeFactor : 30, 20, seed, table, statics);
    std::mt19937 random(seed);
    if (operation == Operation::FreezeFolder) {
        // A few region files, the marked items over blocks in every other one.
        world.Write(table, statics, "");
        worldgen::RegionOptions folder;
        folder.TargetBytes = 20000u * static_cast<std::uint64_t>(sizeFactor);
        folder.Files = 8;
        folder.Type255Items = std::min(40 * sizeFactor, 3000);
        folder.Blocks = worldgen::BlocksInEveryNthFile(std::min(6 * sizeFactor, 600), 2, 8, seed);
        folder.Seed = seed;
        worldgen::WriteRegionFolder(world.Wsc(), folder);
        // Objects that moved between files: the server keeps the last record of each serial.
        for (int k = 0; k < 4; ++k) {
            auto item = [&](int x, int y) {
                return "[ITEM]\nSerial=0x7fff000" + std::to_string(k) + "\nID=0x" + std::to_string(k + 1)
                    + "\nLocation=" + std::to_string(x) + "," + std::to_string(y)
                    + ",0,0,0\nCont=0xffffffff\nType=255\n\no---o\n\n";
            };
            for (const auto& [name, x, y] : {std::tuple{"/0.0.wsc", 8 + k, 8}, {"/overflow.wsc", 16 + 8 * k, 24}})
                test::WriteText(world.Wsc() + name, test::ReadText(world.Wsc() + name) + item(x, y));
        }
    }
    if (operation == Operation::MeltFolder || operation == Operation::MeltArea) {
        world.Write(table, statics, "");
        worldgen::RegionOptions folder;
        folder.TargetBytes = 20000u * static_cast<std::uint64_t>(sizeFactor);
        folder.Files = 4;
        folder.Type255Items = 10;
        folder.Blocks = worldgen::BlocksInEveryNthFile(3, 1, 4, seed);
        folder.Seed = seed;
        worldgen::WriteRegionFolder(world.Wsc(), folder);
    }
    worldgen::WscOptions options;
    options.Type255Items = operation == Operation::Freeze ? std::min(40 * sizeFactor, 3000) : 10;
    options.Blocks = operation == Operation::Freeze ? std::min(6 * sizeFactor, 600) : 3;
    options.OrdinaryItems = 150 * sizeFactor;
    options.Characters = 5;
    options.Seed = seed;
    const std::string wsc = InFolder(operation) ? "" : worldgen::GenerateWsc(options);

    // Objects already in the block to melt, or in every other block that
    // receives items.
    std::set<std::pair<int, int>> blocks{{MeltXOf(operation), MeltY}};
    if (operation == Operation::MeltArea)
        blocks.insert({{31, MeltY}, {32, MeltY + 1}});
    const bool melt
        = operation == Operation::Melt || operation == Operation::MeltFolder || operation == Operation::MeltArea;
    if (!melt) {
        blocks.clear();
        int i = 0;
        for (const test::WorldObject& item : Type255Objects(world, wsc))
            if (i++ % 2 == 0)
                blocks.insert({item.X / 8, item.Y / 8});
    }
    for (const auto& [x, y] : blocks) {
        const int count = melt ? 25 : static_cast<int>(random() % 20) + 1;
        table.At(static_cast<std::uint16_t>(x), static_cast<std::uint16_t>(y))
            = {static_cast<std::int32_t>(statics.size()), count * StaticItemSize, static_cast<std::uint32_t>(random())};
        for (int k = 0; k < count; ++k) {
            unsigned char bytes[StaticItemSize];
            EncodeStaticItem(
                // A melt into a folder leaves the objects at x = 0 of block 0, a few.
                {static_cast<std::uint16_t>(random() % 0x4000),
                    static_cast<std::uint8_t>(k % 4 == 0 && melt && x == 0 ? 0 : random() % 8),
                    static_cast<std::uint8_t>(random() % 8), static_cast<std::int8_t>(random() % 256 - 128),
                    static_cast<std::uint16_t>(random() % 3000)},
                bytes);
            statics.insert(statics.end(), bytes, bytes + StaticItemSize);
        }
    }
    if (operation == Operation::Compact) {
        int k = 0;
        for (TStaIdxEntry& entry : table.Entries) {
            if (entry.Offset < 0 || entry.Length < StaticItemSize || k++ % 2 != 0)
                continue;
            const std::vector<unsigned char> copy(statics.begin() + entry.Offset,
                statics.begin() + entry.Offset + entry.Length / StaticItemSize * StaticItemSize);
            entry.Offset = static_cast<std::int32_t>(statics.size());
            statics.insert(statics.end(), copy.begin(), copy.end());
        }
    }
    world.Write(table, statics, wsc);
}

Objects Everything(const WorldFolder& world)
{
    Objects all = test::IndexedObjects(world.StaIdx(), world.Statics());
    const Objects items = Type255Objects(world, world.Shared() ? "" : test::ReadText(world.Wsc()));
    all.insert(items.begin(), items.end());
    return all;
}

std::vector<std::string> WorldFileNames()
{
    return {"StaIdx0.mul", "Statics0.mul", "UOX3.wsc"};
}

std::string PatchOf(const WorldFiles& files)
{
    return files.StaIdx.substr(0, files.StaIdx.rfind('/') + 1) + "players.patch";
}

WorldFiles FilesOf(const WorldFolder& world)
{
    return {world.StaIdx(), world.Statics(), world.Wsc()};
}

std::string RunOperation(Operation operation, const WorldFiles& files, bool line)
{
    auto table = std::make_unique<StaIdx>();
    NullReporter reporter;
    return (line ? test::ErrorLineOf : test::ErrorText)([&] {
        if (operation == Operation::Undo) {
            if (!UndoableOperations(files).empty())
                UndoLastOperation(files, reporter);
            return;
        }
        const LockedWorld locked(files, reporter);
        LoadStaIdx(files.StaIdx, *table, reporter);
        if (operation == Operation::Melt || operation == Operation::MeltFolder)
            RunMelt(files, std::to_string(MeltXOf(operation)), std::to_string(MeltY), *table, reporter);
        else if (operation == Operation::MeltArea)
            RunMelt(files, ParseArea(MeltAreaText), *table, reporter);
        else if (operation == Operation::Apply)
            RunApplyPatch(files.StaIdx, files.Statics, PatchOf(files), *table, reporter);
        else if (operation == Operation::Compact)
            RunCompact(files, *table, reporter);
        else
            RunFreeze(files, *table, reporter);
    });
}

std::string RunOperation(Operation operation, const WorldFolder& world)
{
    return RunOperation(operation, FilesOf(world));
}

int FromEnvironment(const char* name, int fallback)
{
    const char* value = std::getenv(name);
    return value != nullptr && std::atoi(value) > 0 ? std::atoi(value) : fallback;
}

std::vector<std::string> CliArguments(Operation operation, const WorldFolder& world)
{
    const char* const command
        = operation == Operation::Melt || operation == Operation::MeltFolder || operation == Operation::MeltArea
        ? "melt"
        : operation == Operation::Compact ? "compact"
        : operation == Operation::Undo    ? "undo"
        : operation == Operation::Apply   ? "apply"
                                          : "freeze";
    std::vector<std::string> args{CRYOWEAVER_CLI, command, "--staidx", world.StaIdx(), "--statics", world.Statics()};
    if (operation == Operation::Apply)
        args.push_back(PatchOf(FilesOf(world)));
    else if (operation != Operation::Compact)
        args.insert(args.end(), {"--wsc", world.Wsc()});
    if (operation == Operation::Melt || operation == Operation::MeltFolder) {
        args.push_back(std::to_string(MeltXOf(operation)));
        args.push_back(std::to_string(MeltY));
    }
    if (operation == Operation::MeltArea)
        args.insert(args.end(), {"--area", MeltAreaText});
    return args;
}

std::vector<std::string> Leftovers(const WorldFolder& world)
{
    std::vector<std::string> names;
    const std::vector<std::string> files = WorldFileNames();
    for (const std::string& name : world.Dir().Entries())
        if (!std::binary_search(files.begin(), files.end(), name) && !(world.Shared() && name == "shared")
            && name != "players.patch")
            names.push_back(name);
    if (world.Shared())
        for (const std::string& name : test::TempFolder::EntriesOf(world.Wsc()))
            if (name.starts_with("."))
                names.push_back("shared/" + name);
    return names;
}

void Restore(const WorldFolder& world, const WorldFolder::Snapshot& snapshot)
{
    for (const std::string& name : Leftovers(world))
        std::remove((world.Dir() / name).c_str());
    std::filesystem::remove_all(world.Dir() / ".cryoweaver-history");
    world.Put(snapshot);
}

void Prepare(Operation operation, const WorldFolder& world, const WorldFolder::Snapshot& written)
{
    Restore(world, written);
    if (operation == Operation::Undo) {
        EXPECT_EQ(RunOperation(Operation::Freeze, world), "");
    }
}

std::vector<std::string> CheckExactlyOnce(Operation operation, const WorldFolder& world,
    const WorldFolder::Snapshot& before, const WorldFolder::Snapshot& after, const Objects& everything)
{
    std::vector<std::string> problems;
    auto problem = [&](bool found, const std::string& text) {
        if (found)
            problems.push_back(text);
    };
    auto isPrefix = [](const test::Bytes& prefix, const test::Bytes& whole) {
        return prefix.size() <= whole.size() && std::equal(prefix.begin(), prefix.end(), whole.begin());
    };
    // An apply's objects are those of the patched files once it is done;
    // before, the old files' bytes are checked below.
    bool applied = true;
    auto exactlyOnce = [&](const char* when) {
        const std::string loads = test::ErrorText([&] {
            problem(applied && Everything(world) != everything,
                std::string("not every object is in exactly one place ") + when);
        });
        problem(!loads.empty(), std::string("the files do not load ") + when + ": " + loads);
    };
    {
        NullReporter reporter;
        const std::string recovered = test::ErrorText([&] { LockedWorld locked(FilesOf(world), reporter); });
        problem(!recovered.empty(), "the next run cannot begin: " + recovered);
    }
    const WorldFolder::Snapshot now = world.Take();
    const bool old = now.StaIdx == before.StaIdx && now.Wsc == before.Wsc && now.Folder == before.Folder;
    const bool done = now.StaIdx == after.StaIdx && now.Wsc == after.Wsc && now.Folder == after.Folder;
    problem(!old && !done, "the index and the world save are not both old or both new");
    applied = operation != Operation::Apply || done;
    if (operation == Operation::Undo) {
        // Cut back once the old files are back, in one step.
        problem(now.Statics != before.Statics && (!done || now.Statics != after.Statics),
            "the statics file is neither the old one nor cut back after the undo");
    } else if (operation == Operation::Compact) {
        problem(now.Statics != (old ? before.Statics : after.Statics), "the index and the statics file do not match");
    } else {
        problem(!isPrefix(before.Statics, now.Statics) || !isPrefix(now.Statics, after.Statics),
            "the statics file is not the old one with part of the new copies");
    }
    problem(operation != Operation::Undo && done && now.Statics != after.Statics,
        "the new index refers to copies not all in the statics file");
    exactlyOnce("after the next run began");
    applied = true;
    const std::string next = RunOperation(operation, world);
    problem(!next.empty(), "the next run fails: " + next);
    for (const std::string& name : Leftovers(world))
        problem(true, "left behind: " + name);
    exactlyOnce("after the next run");
    problem(operation == Operation::Undo && !(world.Take() == after), "the undo is not complete after the next run");
    return problems;
}

} // namespace cryo::reliability
