#pragma once

// Shared by the reliability tests: generated worlds with everything a freeze
// or melt must not lose, a file-layer injector that fails or stops the N-th
// operation, and the checks of what a stopped operation leaves on disk.

#include "Error.h"
#include "FaultInjection.h"
#include "StaIdx.h"
#include "World.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace cryo::reliability {

using test::Objects;
using test::WorldFolder;

// Exit status of a child stopped by the injector.
constexpr int StoppedStatus = 77;

// Counts the file layer's operations and, at the N-th, throws the chosen error
// or ends the process at once (as a kill or a power cut would, without
// destructors or buffered output).
class FaultAt final : public fault::Injector {
public:
    enum class Action { Count, Fail, Stop };

    FaultAt() = default;
    FaultAt(int n, Action action, FileError::Kind kind = FileError::Kind::Other, int code = 0)
        : n_(n)
        , action_(action)
        , kind_(kind)
        , code_(code)
    {
    }

    void Before(fault::Operation op, const std::string& path) override;
    std::optional<std::uint64_t> FreeSpace(const std::string&) override { return freeSpace_; }
    bool UnnamedFilesAllowed() override { return unnamed_; }

    int Seen() const { return seen_; }
    // The operations seen, as "name path".
    const std::vector<std::string>& Operations() const { return operations_; }
    void ReportFreeSpace(std::optional<std::uint64_t> bytes) { freeSpace_ = bytes; }
    // Replacements named from the start, as where the system has no unnamed files.
    void NameReplacements() { unnamed_ = false; }

private:
    int n_ = 0;
    Action action_ = Action::Count;
    FileError::Kind kind_ = FileError::Kind::Other;
    int code_ = 0;
    int seen_ = 0;
    std::vector<std::string> operations_;
    std::optional<std::uint64_t> freeSpace_;
    bool unnamed_ = true;
};

// Installs an injector for one scope.
class Installed {
public:
    explicit Installed(fault::Injector& injector) { fault::Install(&injector); }
    ~Installed() { fault::Install(nullptr); }
    Installed(const Installed&) = delete;
    Installed& operator=(const Installed&) = delete;
};

// The injected errors of a sweep and the texts they must show.
struct InjectedError {
    FileError::Kind Kind;
    int Code;
    const char* Text;
};
extern const InjectedError InjectedErrors[3];

// A world whose freeze touches several blocks, some with objects already,
// among ordinary items and characters; sizeFactor scales the world save.
void WriteFreezeWorld(const WorldFolder& world, std::uint32_t seed, int sizeFactor = 1);
// A world whose block (MeltX, MeltY) holds objects to melt.
constexpr std::uint16_t MeltX = 300;
constexpr std::uint16_t MeltY = 100;
void WriteMeltWorld(const WorldFolder& world, std::uint32_t seed, int sizeFactor = 1);

// Every object of a world: the statics the index refers to and the world
// save's TYPE 255 items.
Objects Everything(const WorldFolder& world);

// The world save's, index's and statics file's names of a world folder.
std::vector<std::string> WorldFileNames();

enum class Operation { Freeze, Melt };

// Runs the operation as the command line does: loads the index, then melts or
// freezes. Returns the error text, "" on success.
std::string RunOperation(Operation operation, const WorldFolder& world);

// The world of WriteFreezeWorld or WriteMeltWorld, as the operation needs.
void WriteWorldFor(Operation operation, const WorldFolder& world, std::uint32_t seed);

// What an interrupted operation may leave: every file is as before or as the
// completed operation leaves it (the statics file, which is appended to in
// place, anything between the two), the files changed in the operation's
// order, nothing is lost, everything loads and scans. Returns the problems
// found, empty when there are none. A stop may leave a named replacement
// behind; stopped says so, and its names are then accepted.
std::vector<std::string> CheckInterrupted(Operation operation, const WorldFolder& world,
    const WorldFolder::Snapshot& before, const WorldFolder::Snapshot& after, const Objects& everything, bool stopped);

// Names in the folder that are not the three files.
std::vector<std::string> Leftovers(const WorldFolder& world);

// Puts the three files back as the snapshot holds them and removes leftovers.
void Restore(const WorldFolder& world, const WorldFolder::Snapshot& snapshot);

// Runs fn in a child process; its exit status (StoppedStatus when the
// injector stopped it), or -1 when it died otherwise.
int StatusOfChild(const std::function<void()>& fn);

} // namespace cryo::reliability
