#pragma once

#include "Reporter.h"
#include "StaticBlock.h"
#include "WorldScan.h"

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace cryo {

class ReplacementFile;

// Writes the block's objects into the world save as new TYPE 255 item sections,
// numbered and serialled after the highest ones found, in front of its "EOF"
// line. An empty block only logs "Nothing to do!". The world save is replaced
// only when the whole new text has been written.
void AppendBlockToWsc(const std::string& wscPath, const TStaticBlock& block, std::uint16_t xBlock, std::uint16_t yBlock,
    Reporter& reporter);

// The same, but the new text is left in a replacement for the caller to commit
// (nothing, after "Nothing to do!", for an empty block).
std::unique_ptr<ReplacementFile> PrepareAppendBlockToWsc(const std::string& wscPath, const TStaticBlock& block,
    std::uint16_t xBlock, std::uint16_t yBlock, Reporter& reporter);

// The most that AppendBlockToWsc adds to a world save for count objects.
std::uint64_t AppendedWscBytes(int count);

// Cuts every section that the table selects for block (xBlock, yBlock) out of the
// world save and returns their objects, in file order, in block.Items.
void ExtractBlockFromWsc(const std::string& wscPath, TStaticBlock& block, const ExportTable& table,
    std::uint16_t xBlock, std::uint16_t yBlock);

// The objects cut out for one block by a whole-file extraction.
struct ExtractedBlock {
    std::uint16_t XBlock = 0;
    std::uint16_t YBlock = 0;
    std::vector<TStaticItem> Items; // in file order
    // The first error met in this block's sections (a bad value, a 513th object);
    // what the block's own extraction would have raised.
    std::exception_ptr Error;
};

// Extracts the selected sections of the given blocks in one pass, exactly as one
// ExtractBlockFromWsc per block in the given order would, and writes the
// remaining text to out without committing it. The result lists the blocks in
// the given order; sections selected for other blocks stay.
std::vector<ExtractedBlock> ExtractSelectedSections(const std::string& wscPath, const ExportTable& table,
    const std::vector<std::pair<std::uint16_t, std::uint16_t>>& blocks, ReplacementFile& out);

} // namespace cryo
