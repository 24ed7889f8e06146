// The world-save rewrites. The one-pass extraction of a freeze must give the
// same text, objects and errors, block by block, as the reference freeze; a
// melt must write exactly the text that the rules give.
#include "../tests/support/FreezeReference.h"
#include "File.h"
#include "FuzzSupport.h"
#include "Text.h"
#include "WorldRewrite.h"
#include "WorldScan.h"
#include "WscText.h"

#include <fstream>
#include <iterator>
#include <memory>

using namespace cryo;

namespace {

std::string Contents(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void CheckExtraction(const std::string& input, const std::string& path)
{
    const test::ReferenceFreeze freeze = test::FreezeOf(input);
    if (!freeze.Error.empty())
        return;
    ExportTable table;
    NullReporter reporter;
    if (!fuzz::ErrorOf([&] { SelectItemsForExport(path, table, reporter); }).empty())
        fuzz::Mismatch("selection error");
    std::vector<std::pair<std::uint16_t, std::uint16_t>> blocks;
    for (const auto& [block, extracted] : freeze.Blocks)
        blocks.emplace_back(static_cast<std::uint16_t>(block.first), static_cast<std::uint16_t>(block.second));
    if (blocks.empty())
        return;

    const std::string onePass = fuzz::ScratchFile("one-pass.wsc");
    fuzz::WriteFileBytes(onePass, input.data(), input.size());
    ReplacementFile out(onePass);
    std::vector<ExtractedBlock> extracted;
    if (!fuzz::ErrorOf([&] { extracted = ExtractSelectedSections(path, table, blocks, out); }).empty())
        fuzz::Mismatch("extraction error");
    if (extracted.size() != blocks.size())
        fuzz::Mismatch("extracted blocks");
    bool failed = false;
    auto expected = freeze.Blocks.begin();
    for (const ExtractedBlock& block : extracted) {
        const std::string error = block.Error ? fuzz::ErrorOf([&] { std::rethrow_exception(block.Error); }) : "";
        if (error != expected->second.Error || (error.empty() && block.Items != expected->second.Items))
            fuzz::Mismatch("a block's objects or error");
        failed = failed || !error.empty();
        ++expected;
    }
    if (failed)
        return;
    out.Commit();
    if (Contents(onePass) != freeze.Text)
        fuzz::Mismatch("text after the extraction");
}

std::string SectionText(std::int32_t number, std::int32_t serial, const TStaticItem& item)
{
    return "SECTION WORLDITEM " + std::to_string(number) + "\r\n{\r\nSERIAL " + std::to_string(serial)
        + "\r\nNAME #\r\nID " + std::to_string(item.TileId) + "\r\nX " + std::to_string(767 * 8 + item.XOffset)
        + "\r\nY " + std::to_string(511 * 8 + item.YOffset) + "\r\nZ " + std::to_string(item.Z) + "\r\nCOLOR "
        + std::to_string(item.Color) + "\r\nCONT -1\r\nTYPE 255\r\n}\r\n\r\n";
}

void CheckAppend(const std::string& input, const std::string& path)
{
    HighestNumbers before;
    if (!fuzz::ErrorOf([&] {
            WscReader reader(path);
            before = FindHighestNumbers(reader);
        }).empty())
        return;
    auto block = std::make_unique<TStaticBlock>();
    block->Count = 2;
    block->Items[0] = {0x0EED, 3, 5, -5, 0};
    block->Items[1] = {65535, 7, 7, 127, 65535};

    const std::string melted = fuzz::ScratchFile("melted.wsc");
    fuzz::WriteFileBytes(melted, input.data(), input.size());
    NullReporter reporter;
    const std::string error = fuzz::ErrorOf([&] { AppendBlockToWsc(melted, *block, 767, 511, reporter)->Commit(); });
    const bool tooFew = before.Number > 65532;
    if (!error.empty()) {
        if (tooFew ? !error.starts_with("Too few item numbers left") : error != "Integer overflow")
            fuzz::Mismatch("append error");
        if (Contents(melted) != input)
            fuzz::Mismatch("a failed append changed the file");
        return;
    }
    if (tooFew || before.Serial > 2147483645)
        fuzz::Mismatch("append without its error");

    // The lines before the first "EOF" line, the new sections, "EOF", and what
    // followed it when that is more than blank lines.
    const std::size_t ctrlZ = std::min(input.find('\x1A'), input.size());
    const std::size_t start = input.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    std::string expected = input.substr(0, start);
    std::string after;
    bool atEof = false;
    bool textAfterEof = false;
    for (std::size_t at = start; at < ctrlZ;) {
        const std::size_t cr = std::min(input.find('\r', at), ctrlZ);
        const std::string line = input.substr(at, cr - at);
        at = cr + (input.compare(cr, 2, "\r\n") == 0 && cr + 1 < ctrlZ ? 2 : 1);
        if (atEof) {
            after += line + "\r\n";
            textAfterEof = textAfterEof || !Trim(line).empty();
        } else if (UpperCase(Trim(line)) == "EOF") {
            atEof = true;
        } else {
            expected += line + "\r\n";
        }
    }
    expected += SectionText(before.Number + 1, before.Serial + 1, block->Items[0])
        + SectionText(before.Number + 2, before.Serial + 2, block->Items[1]) + "EOF\r\n"
        + (textAfterEof ? after : "\r\n") + input.substr(ctrlZ);
    if (Contents(melted) != expected)
        fuzz::Mismatch("text of the melt");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::string path = fuzz::ScratchFile("extract.wsc");
    fuzz::WriteFileBytes(path, data, size);
    CheckExtraction(input, path);
    CheckAppend(input, path);
    return 0;
}
