#pragma once

// Shared by the reliability tests: generated worlds with everything a freeze
// or melt must not lose, a file-layer injector that fails or stops the N-th
// operation, and the checks that every object is in exactly one place.

#include "Actions.h"
#include "Error.h"
#include "FaultInjection.h"
#include "World.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace cryo::reliability {

using test::Objects;
using test::WorldFolder;

// Exit status of a child stopped by the injector.
constexpr int StoppedStatus = 77;

// Counts the file layer's operations and, at the N-th, throws the chosen error
// or ends the process at once (as a kill or a power cut would, without
// destructors or buffered output). Installed while it lives.
class FaultAt final : public fault::Injector {
public:
    enum class Action { Count, Fail, Stop };

    explicit FaultAt(int n = 0, Action action = Action::Count, FileError::Kind kind = FileError::Kind::Other,
        int code = 0, bool named = false);
    ~FaultAt() override;
    FaultAt(const FaultAt&) = delete;
    FaultAt& operator=(const FaultAt&) = delete;

    void Before(fault::Operation op, const std::string& path) override;
    // Replacements named from the start, as where the system has no unnamed files.
    bool UnnamedFilesAllowed() override { return !named_; }

    int Seen() const { return static_cast<int>(operations_.size()); }
    // The operations seen, as "name path".
    const std::vector<std::string>& Operations() const { return operations_; }

private:
    int n_;
    Action action_;
    FileError::Kind kind_;
    int code_;
    bool named_;
    std::vector<std::string> operations_;
};

// The injected errors of a sweep and the texts they must show.
struct InjectedError {
    FileError::Kind Kind;
    int Code;
    const char* Text;
};
extern const InjectedError InjectedErrors[3];

// FreezeFolder: a freeze from the server's shared folder of region files,
// some serials in two of them. An undo takes back the freeze of a world for
// freezing. Apply: a players' patch ("players.patch" beside the files) applied
// to the released files it was made from. MeltFolder: a melt into a shared
// folder of a block at x = 0, whose objects there stay in a new copy of the
// block. MeltArea: a melt into a shared folder of an area whose blocks lie in
// two region files, block (0, MeltY) among them.
enum class Operation { Freeze, Melt, Compact, FreezeFolder, Undo, Apply, MeltFolder, MeltArea };
const char* NameOf(Operation operation);
// Whether the world save is a shared folder.
bool InFolder(Operation operation);

// A world whose freeze touches several blocks, some with objects already,
// among ordinary items and characters; or whose block (MeltX, MeltY) holds
// objects to melt (among a few TYPE 255 items); for a compaction, the melt's
// world in which every other block has an old copy no entry refers to.
// sizeFactor scales the world save, the number of blocks a freeze fills and
// the blocks a compaction copies.
constexpr std::uint16_t MeltX = 300;
constexpr std::uint16_t MeltY = 100;
// The area a MeltArea melts, corners in reverse order: blocks 0..32 by 100..101.
constexpr const char* MeltAreaText = "263,815,0,800";
// The block's x: 0 for a melt into a folder.
std::uint16_t MeltXOf(Operation operation);
void WriteWorldFor(Operation operation, const WorldFolder& world, std::uint32_t seed, int sizeFactor = 1);

// Every object of a world: the statics the index refers to and the world
// save's TYPE 255 items.
Objects Everything(const WorldFolder& world);

// The index's, statics file's and world save's names, sorted.
std::vector<std::string> WorldFileNames();

// The patch an apply reads, beside the index.
std::string PatchOf(const WorldFiles& files);

WorldFiles FilesOf(const WorldFolder& world);

// Runs the operation as the command line does: locks the files, completes or
// undoes what an interrupted run left, loads the index, then melts or
// freezes. Returns the error text ("PATH: text." with line), "" on success.
std::string RunOperation(Operation operation, const WorldFiles& files, bool line = false);
std::string RunOperation(Operation operation, const WorldFolder& world);
// The command line's arguments for the operation.
std::vector<std::string> CliArguments(Operation operation, const WorldFolder& world);
// A number from the environment, for longer local runs than CI's.
int FromEnvironment(const char* name, int fallback);

// What the next run finds after a failed or stopped one, once it has
// completed or undone its commit: the index and the world save both old or
// both new, the statics file the old one with at most the new copies
// appended, every object in exactly one place. Then that next run completes,
// leaves nothing behind, and still every object is in exactly one place.
// Returns the problems found.
std::vector<std::string> CheckExactlyOnce(Operation operation, const WorldFolder& world,
    const WorldFolder::Snapshot& before, const WorldFolder::Snapshot& after, const Objects& everything);

// Names in the folder that are not the three files or a patch (lock files aside), and
// in a shared folder the names runs leave there.
std::vector<std::string> Leftovers(const WorldFolder& world);

// Puts the three files back as the snapshot holds them and removes leftovers
// and the history.
void Restore(const WorldFolder& world, const WorldFolder::Snapshot& snapshot);
// Restores the world as written, then, for an undo, freezes it.
void Prepare(Operation operation, const WorldFolder& world, const WorldFolder::Snapshot& written);

} // namespace cryo::reliability
