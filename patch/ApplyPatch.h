#pragma once

#include "Error.h"
#include "Reporter.h"
#include "StaIdx.h"

#include <cstdint>
#include <string>

namespace cryo {

struct ApplyOptions {
    // Replaces blocks that differ from the release too.
    bool Force = false;
    // Makes every check and logs what would change, but writes nothing.
    bool DryRun = false;
};

struct AppliedPatch {
    std::uint32_t Blocks = 0; // in the patch
    std::uint32_t UpToDate = 0; // already holding the new objects
    std::uint32_t Replaced = 0; // holding the release's objects, replaced (or to be, in a dry run)
    std::uint32_t Differing = 0; // holding neither; replaced only when forced
};

// Blocks of the player's files that hold neither the patch's new objects nor
// those it was made from; nothing was changed. A window offers to force them.
class DifferingBlocksError : public Error {
public:
    DifferingBlocksError(std::uint32_t count, std::string blocks);
    std::uint32_t Count() const { return count_; }
    // "block 100,200, block 101,200 and 3 more"
    const std::string& Blocks() const { return blocks_; }

private:
    std::uint32_t count_;
    std::string blocks_;
};

// Applies a patch file to a player's index and statics file, which the caller
// has locked (LockedWorld) and loaded into table. For each block of the
// patch: one that already holds the new objects is up to date and left
// alone; one that holds the objects the patch was made from is replaced by
// the new ones, appended to the statics file and repointed as a freeze does
// (an emptied block's entry becomes -1, its Extra kept); any other differs
// from the release. Before anything changes it refuses a damaged or
// cut-short patch, a patch of another map or size, and, unless forced,
// blocks that differ, naming up to five of them and their count. Then one
// commit appends the blocks and replaces the index (Commit.h), kept in the
// history so that undo takes it back. The patch file is only read, so
// applying it again changes nothing. Memory does not grow with the statics
// file.
AppliedPatch ApplyPatch(const std::string& staIdxPath, const std::string& staticsPath, const std::string& patchPath,
    StaIdx& table, Reporter& reporter, const ApplyOptions& options = {});

// ApplyPatch with the lines around it that every front end logs.
AppliedPatch RunApplyPatch(const std::string& staIdxPath, const std::string& staticsPath, const std::string& patchPath,
    StaIdx& table, Reporter& reporter, const ApplyOptions& options = {});

} // namespace cryo
