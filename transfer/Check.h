#pragma once

// What could make the server or a later freeze misbehave, found by reading
// the statics files and the world save without changing them.

#include "Actions.h"
#include "Reporter.h"
#include "StaIdx.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace cryo {

// One kind of fault: how often it was found, and the first few cases.
struct CheckFinding {
    std::string Key; // a stable name for scripts, "past_end"
    std::string Title; // "Index entries past the end of the statics file"
    std::uint64_t Count = 0;
    std::vector<std::string> Examples;
};

struct CheckReport {
    static constexpr std::size_t MaxExamples = 5;

    // Every kind the files were checked for, in a fixed order, found or not.
    std::vector<CheckFinding> Findings;
    std::uint64_t StaticsBytes = 0;
    // Bytes of the statics file no index entry refers to: old copies of
    // blocks, which only cost room.
    std::uint64_t UnreferencedBytes = 0;
    // "classic", "item file" or "folder"; empty when no world save was checked.
    std::string WorldSaveKind;
    // What is no fault of the files but makes edits go unseen (blocks that
    // the server's diff files replace), each kind once checked for.
    std::vector<CheckFinding> Warnings;
    // TYPE 255 items on the ground of other worlds than the map's, by world:
    // no fault, as a folder holds every world.
    std::map<std::uint32_t, std::uint64_t> OtherWorlds;

    bool Healthy() const;
};

// Checks the statics files against the loaded index, and the world save, if
// one is named, as a freeze into that index would read it. Errors that stop
// the files being read at all (a missing file) are raised.
// With an area, only its blocks and the TYPE 255 items that would go to them
// are checked; the unreferenced share is the whole file's.
CheckReport CheckWorld(const WorldFiles& files, const StaIdx& table, Reporter& reporter,
    const std::optional<BlockArea>& area = std::nullopt);

// The report as the log shows it: each kind found, with its count and first
// cases, the unreferenced share, and the verdict.
std::vector<std::string> CheckReportLines(const CheckReport& report);

} // namespace cryo
