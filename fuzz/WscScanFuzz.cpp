// The world-save scans: FindHighestNumbers against a plain line-by-line
// reading of the same rules, and SelectItemsForExport, which must raise only
// its own errors and select only what its rules allow.
#include "FuzzSupport.h"
#include "Text.h"
#include "WorldScan.h"
#include "WscText.h"

#include <memory>

using namespace cryo;

namespace {

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

bool KnownSelectError(const std::string& text)
{
    return text.rfind("Invalid tag after \"SECTION WORLDITEM ", 0) == 0 || fuzz::IsConvertErrorText(text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string path = fuzz::ScratchFile("scan.wsc");
    fuzz::WriteFileBytes(path, data, size);

    HighestNumbers highest;
    HighestNumbers reference;
    const std::string error = fuzz::ErrorOf([&] { highest = FindHighestNumbers(path); });
    const std::string referenceError = fuzz::ErrorOf([&] { reference = ReferenceHighest(path); });
    if (error != referenceError)
        fuzz::Mismatch("FindHighestNumbers error");
    if (error.empty() && (highest.Number != reference.Number || highest.Serial != reference.Serial))
        fuzz::Mismatch("FindHighestNumbers result");

    static auto table = std::make_unique<ExportTable>();
    NullReporter reporter;
    const std::string selectError = fuzz::ErrorOf([&] { SelectItemsForExport(path, *table, reporter); });
    if (!selectError.empty() && !KnownSelectError(selectError))
        fuzz::Mismatch("SelectItemsForExport error");
    for (int n = 0; n < ExportTable::Size; ++n) {
        const TExportEntry& entry = (*table)[static_cast<std::uint16_t>(n)];
        if (entry.Selected > 1 || entry.XBlock > 8191 || entry.YBlock > 8191
            || (entry.Selected == 0 && !(entry == TExportEntry{})))
            fuzz::Mismatch("export table entry");
    }
    if (table->operator[](65535).Selected != 0)
        fuzz::Mismatch("section 65535 selected");
    return 0;
}
