// The world-save rewrites. The one-pass extraction of a freeze must give the
// same text and objects as ExtractBlockFromWsc where a single block is frozen;
// a melt's append must number its sections right after the highest ones.
#include "File.h"
#include "FuzzSupport.h"
#include "StaIdx.h"
#include "WorldRewrite.h"
#include "WorldScan.h"

#include <fstream>
#include <iterator>
#include <memory>
#include <set>

using namespace cryo;

namespace {

std::string Contents(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool KnownExtractError(const std::string& text)
{
    return text == "Range check error" || text.rfind("No line beginning with \"}\" ends \"SECTION WORLDITEM ", 0) == 0
        || fuzz::IsConvertErrorText(text);
}

void CheckExtraction(const std::uint8_t* data, std::size_t size, const std::string& path)
{
    static auto table = std::make_unique<ExportTable>();
    NullReporter reporter;
    if (!fuzz::ErrorOf([&] { SelectItemsForExport(path, *table, reporter); }).empty())
        return;
    std::set<std::pair<std::uint16_t, std::uint16_t>> marked;
    for (int n = 0; n < ExportTable::Size; ++n) {
        const TExportEntry& entry = (*table)[static_cast<std::uint16_t>(n)];
        if (entry.Selected != 0 && entry.XBlock < MapXBlocks && entry.YBlock < MapYBlocks)
            marked.insert({entry.XBlock, entry.YBlock});
    }
    if (marked.empty())
        return;
    const std::vector<std::pair<std::uint16_t, std::uint16_t>> blocks(marked.begin(), marked.end());

    const std::string onePass = fuzz::ScratchFile("one-pass.wsc");
    fuzz::WriteFileBytes(onePass, data, size);
    std::vector<ExtractedBlock> extracted;
    const std::string error = fuzz::ErrorOf([&] {
        ReplacementFile out(onePass);
        extracted = ExtractSelectedSections(path, *table, blocks, out);
        out.Commit();
    });
    if (!error.empty()) {
        if (!KnownExtractError(error))
            fuzz::Mismatch("extraction error");
        if (Contents(onePass) != std::string(reinterpret_cast<const char*>(data), size))
            fuzz::Mismatch("a failed extraction changed the file");
        return;
    }
    if (extracted.size() != blocks.size())
        fuzz::Mismatch("extracted blocks");
    for (const ExtractedBlock& block : extracted) {
        if (block.Items.size() > MaxBlockItems)
            fuzz::Mismatch("more than 512 objects");
        if (block.Error && !KnownExtractError(fuzz::ErrorOf([&] { std::rethrow_exception(block.Error); })))
            fuzz::Mismatch("block error");
    }
    if (blocks.size() != 1)
        return;

    const std::string single = fuzz::ScratchFile("single.wsc");
    fuzz::WriteFileBytes(single, data, size);
    auto block = std::make_unique<TStaticBlock>();
    const std::string singleError
        = fuzz::ErrorOf([&] { ExtractBlockFromWsc(single, *block, *table, blocks[0].first, blocks[0].second); });
    const std::string onePassError
        = extracted[0].Error ? fuzz::ErrorOf([&] { std::rethrow_exception(extracted[0].Error); }) : "";
    if (singleError != onePassError)
        fuzz::Mismatch("errors of the two extractions");
    if (!singleError.empty()) {
        if (Contents(single) != std::string(reinterpret_cast<const char*>(data), size))
            fuzz::Mismatch("a failed extraction changed the file");
        return;
    }
    if (Contents(single) != Contents(onePass))
        fuzz::Mismatch("texts of the two extractions");
    if (block->Count != extracted[0].Items.size()
        || !std::equal(extracted[0].Items.begin(), extracted[0].Items.end(), block->Items.begin()))
        fuzz::Mismatch("objects of the two extractions");
}

void CheckAppend(const std::uint8_t* data, std::size_t size, const std::string& path)
{
    HighestNumbers before;
    if (!fuzz::ErrorOf([&] { before = FindHighestNumbers(path); }).empty())
        return;
    auto block = std::make_unique<TStaticBlock>();
    block->Count = 2;
    block->Items[0] = {0x0EED, 3, 5, -5, 0};
    block->Items[1] = {65535, 7, 7, 127, 65535};

    const std::string melted = fuzz::ScratchFile("melted.wsc");
    fuzz::WriteFileBytes(melted, data, size);
    NullReporter reporter;
    const std::string error = fuzz::ErrorOf([&] { AppendBlockToWsc(melted, *block, 767, 511, reporter); });
    if (!error.empty()) {
        if (error != "Integer overflow")
            fuzz::Mismatch("append error");
        if (Contents(melted) != std::string(reinterpret_cast<const char*>(data), size))
            fuzz::Mismatch("a failed append changed the file");
        return;
    }
    HighestNumbers after;
    if (!fuzz::ErrorOf([&] { after = FindHighestNumbers(melted); }).empty())
        fuzz::Mismatch("the appended text does not scan");
    if (after.Number != before.Number + 2 || after.Serial != before.Serial + 2)
        fuzz::Mismatch("numbers of the appended sections");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string path = fuzz::ScratchFile("extract.wsc");
    fuzz::WriteFileBytes(path, data, size);
    CheckExtraction(data, size, path);
    CheckAppend(data, size, path);
    return 0;
}
