#pragma once

#include "Reporter.h"
#include "StaticBlock.h"
#include "WorldScan.h"

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace cryo {

class ReplacementFile;

// Writes the new text of the world save with the block's objects as new
// TYPE 255 item sections, numbered and serialled after the highest ones found,
// in place of its first "EOF" line, and leaves it in a replacement for the
// caller to commit. An empty block only logs "Nothing to do!" and gives none.
// Numbers above 65534, which no freeze takes, are refused before anything is
// written. A dry run writes the text nowhere and gives no replacement.
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
