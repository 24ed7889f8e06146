#pragma once

#include "Reporter.h"

#include <cstdint>
#include <string>
#include <vector>

namespace cryo {

class WscReader;

// One world-save item section number's part in a freeze.
struct TExportEntry {
    std::uint8_t Selected = 0; // 1: the section is to be frozen
    std::uint16_t XBlock = 0; // the section's X div 8
    std::uint16_t YBlock = 0; // the section's Y div 8

    bool operator==(const TExportEntry&) const = default;
};

// The items to freeze, indexed by item section number.
class ExportTable {
public:
    static constexpr int Size = 65536;

    ExportTable()
        : entries_(Size)
    {
    }

    void Clear() { entries_.assign(Size, TExportEntry{}); }
    TExportEntry& operator[](std::uint16_t number) { return entries_[number]; }
    const TExportEntry& operator[](std::uint16_t number) const { return entries_[number]; }

private:
    std::vector<TExportEntry> entries_;
};

struct HighestNumbers {
    std::int32_t Number = -1; // highest "SECTION WORLDITEM" number
    std::int32_t Serial = 0x40000000; // highest "SERIAL", at least 1073741824
};

// Scans the whole text from its start and leaves the reader at its start again.
HighestNumbers FindHighestNumbers(WscReader& reader);
HighestNumbers FindHighestNumbers(const std::string& wscPath);

// Clears the table, then marks every item section whose TYPE is 255 at a line
// beginning with "}", with the block of its last X and Y values, logging
// "Selecting item for export: n" each time.
void SelectItemsForExport(const std::string& wscPath, ExportTable& table, Reporter& reporter);

} // namespace cryo
