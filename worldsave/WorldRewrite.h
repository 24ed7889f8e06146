#pragma once

#include "Reporter.h"
#include "StaticBlock.h"
#include "WorldScan.h"

#include <cstdint>
#include <exception>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace cryo {

class ReplacementFile;

// The objects a melt moves out of one block.
struct MeltingBlock {
    std::uint16_t XBlock = 0;
    std::uint16_t YBlock = 0;
    std::span<const TStaticItem> Items;
};

// The line that names a block among the lines of an area melt.
std::string MeltingBlockLine(std::uint16_t xBlock, std::uint16_t yBlock);

// Writes the new text of the world save with the blocks' objects as new
// TYPE 255 item sections, block after block, numbered and serialled after the
// highest ones found, in place of its first "EOF" line, and leaves it in a
// replacement for the caller to commit. The world save is read and written
// once, and each block logs what a melt of it alone would: an empty one
// "Nothing to do!", another the highest number and serial before it. Of
// several blocks, each is named first. Without objects in any block the world
// save is not opened and no replacement is given. Numbers above 65534, which
// no freeze takes, are refused before anything is written, with how many the
// blocks need and how many are left. A dry run writes the text nowhere and
// gives no replacement.
std::unique_ptr<ReplacementFile> AppendBlocksToWsc(
    const std::string& wscPath, const std::vector<MeltingBlock>& blocks, Reporter& reporter, bool dryRun = false);

// The same for one block.
std::unique_ptr<ReplacementFile> AppendBlockToWsc(const std::string& wscPath, const TStaticBlock& block,
    std::uint16_t xBlock, std::uint16_t yBlock, Reporter& reporter, bool dryRun = false);

// The objects cut out for one block.
struct ExtractedBlock {
    std::uint16_t XBlock = 0;
    std::uint16_t YBlock = 0;
    std::vector<TStaticItem> Items; // in file order
    // The first error met in this block's sections (a bad value, a 513th
    // object), which stops the freeze when it reaches this block.
    std::exception_ptr Error;
};

// Cuts every section of the table whose block is listed out of the world save,
// each from its "SECTION WORLDITEM" line through its last line beginning with
// "}" before the next section line, in one pass, and writes the rest of the
// text to out without committing it. Returns the listed blocks in their
// order, each with its sections' objects, whose values are those at the last
// "}" that selected the section.
std::vector<ExtractedBlock> ExtractSelectedSections(const std::string& wscPath, const ExportTable& table,
    const std::vector<std::pair<std::uint16_t, std::uint16_t>>& blocks, ReplacementFile& out);

} // namespace cryo
