#pragma once

#include "Reporter.h"

#include <cstdint>
#include <string>
#include <vector>

namespace cryo {

class WscReader;

// One item section to freeze. A section is told from others that carry its
// number by its place in the text: it is the Section-th line beginning with
// "SECTION WORLDITEM " (counted from 0).
struct TExportEntry {
    std::uint64_t Section = 0;
    std::uint16_t Number = 0;
    std::uint16_t XBlock = 0; // X div 8 at the section's last selecting "}"
    std::uint16_t YBlock = 0;
    std::uint16_t X = 0; // the position in tiles, as XBlock and YBlock took it
    std::uint16_t Y = 0;

    bool operator==(const TExportEntry&) const = default;
};

// The sections to freeze, in file order.
using ExportTable = std::vector<TExportEntry>;

struct HighestNumbers {
    std::int32_t Number = -1; // highest "SECTION WORLDITEM" number
    std::int32_t Serial = 0x40000000; // highest "SERIAL", at least 1073741824
};

// Scans the whole text from its start and leaves the reader at its start again.
HighestNumbers FindHighestNumbers(WscReader& reader);

// Clears the table, then lists every item section that a line beginning with
// "}" selects: its TYPE is 255, it lies on the ground (its CONT, if any, is -1)
// and its number is not 65535. Logs "Selecting item for export: n" at each
// such line, and a "Not frozen: ..." line for every other section whose TYPE
// is 255 when it ends.
void SelectItemsForExport(const std::string& wscPath, ExportTable& table, Reporter& reporter);

} // namespace cryo
