// The world-save scans: FindHighestNumbers against a plain line-by-line
// reading of the same rules, and SelectItemsForExport against the reference
// freeze's selection: the same log, error and blocks.
#include "../tests/support/FreezeReference.h"
#include "FuzzSupport.h"
#include "Text.h"
#include "WorldScan.h"
#include "WscText.h"

#include <set>

using namespace cryo;

namespace {

class LogReporter final : public Reporter {
public:
    void Log(std::string_view line) override { Lines.emplace_back(line); }
    void SetProgress(int) override { }
    std::vector<std::string> Lines;
};

HighestNumbers ReferenceHighest(const std::string& path)
{
    HighestNumbers highest;
    WscReader reader(path);
    reader.ForEachLine([&](std::string_view line) {
        if (StartsWithTag(line, std::string_view("SECTION WORLDITEM "))) {
            highest.Number = std::max(highest.Number, TagValue(line, 17));
        } else if (StartsWithTag(line, std::string_view("SERIAL "))) {
            highest.Serial = std::max(highest.Serial, TagValue(line, 6));
        }
    });
    return highest;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string path = fuzz::ScratchFile("scan.wsc");
    fuzz::WriteFileBytes(path, data, size);

    HighestNumbers highest;
    HighestNumbers reference;
    const std::string error = fuzz::ErrorOf([&] {
        WscReader reader(path);
        highest = FindHighestNumbers(reader);
    });
    const std::string referenceError = fuzz::ErrorOf([&] { reference = ReferenceHighest(path); });
    if (error != referenceError)
        fuzz::Mismatch("FindHighestNumbers error");
    if (error.empty() && (highest.Number != reference.Number || highest.Serial != reference.Serial))
        fuzz::Mismatch("FindHighestNumbers result");

    const test::ReferenceFreeze freeze = test::FreezeOf(std::string(reinterpret_cast<const char*>(data), size));
    ExportTable table;
    LogReporter reporter;
    const std::string selectError = fuzz::ErrorOf([&] { SelectItemsForExport(path, table, reporter); });
    // The reference also refuses items off the map, which the selection lists.
    if (selectError != freeze.Error && !(selectError.empty() && freeze.Error.starts_with("Invalid item")))
        fuzz::Mismatch("SelectItemsForExport error");
    if (reporter.Lines != freeze.Log)
        fuzz::Mismatch("SelectItemsForExport log");
    if (!freeze.Error.empty())
        return 0;
    std::set<std::pair<int, int>> blocks;
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (table[i].Number == 65535 || (i > 0 && table[i].Section <= table[i - 1].Section))
            fuzz::Mismatch("export table entry");
        blocks.insert({table[i].XBlock, table[i].YBlock});
    }
    std::set<std::pair<int, int>> referenceBlocks;
    for (const auto& [block, extracted] : freeze.Blocks)
        referenceBlocks.insert(block);
    if (blocks != referenceBlocks)
        fuzz::Mismatch("selected blocks");
    return 0;
}
