#include "WorldScan.h"

#include "Convert.h"
#include "Error.h"
#include "Text.h"
#include "WscText.h"

namespace cryo {

HighestNumbers FindHighestNumbers(WscReader& reader)
{
    HighestNumbers highest;
    reader.Rewind();
    reader.ForEachLineStartingWith('S', [&highest](std::string_view line) {
        if (StartsWithTag(line, "SECTION WORLDITEM ")) {
            const std::int32_t number = TagValue(line, 17);
            if (number > highest.Number)
                highest.Number = number;
        } else if (StartsWithTag(line, "SERIAL ")) {
            const std::int32_t serial = TagValue(line, 6);
            if (serial > highest.Serial)
                highest.Serial = serial;
        }
    });
    reader.Rewind();
    return highest;
}

HighestNumbers FindHighestNumbers(const std::string& wscPath)
{
    WscReader reader(wscPath);
    return FindHighestNumbers(reader);
}

namespace {

constexpr std::uint16_t NoSection = 65535;

// A tag value with its range; out of range is the caller's invalid-tag error.
bool ValueInRange(std::string_view line, std::size_t removed, int lo, int hi, std::int32_t& value)
{
    value = TagValue(line, removed);
    return value >= lo && value <= hi;
}

} // namespace

void SelectItemsForExport(const std::string& wscPath, ExportTable& table, Reporter& reporter)
{
    table.Clear();
    WscReader reader(wscPath);

    std::uint16_t section = NoSection;
    std::uint16_t x = 0;
    std::uint16_t y = 0;
    std::uint16_t type = 0;

    auto invalidTag
        = [&section]() { return Error("Invalid tag after \"SECTION WORLDITEM " + std::to_string(section) + "\""); };

    // The tests of the tag table, in its order; at most one applies to a line.
    reader.ForEachLine([&](std::string_view line) {
        if (line.empty())
            return;
        std::int32_t value = 0;
        switch (UpperAscii(line[0])) {
        case 'S':
            if (StartsWithTag(line, "SECTION CHARACTER ")) {
                section = NoSection;
            } else if (StartsWithTag(line, "SECTION WORLDITEM ")) {
                if (!ValueInRange(line, 17, 0, 65535, value))
                    throw invalidTag();
                section = static_cast<std::uint16_t>(value);
                x = y = type = 0;
            }
            break;
        case 'X':
            if (StartsWithTag(line, "X ")) {
                if (!ValueInRange(line, 1, 0, 65535, value))
                    throw invalidTag();
                x = static_cast<std::uint16_t>(value);
            }
            break;
        case 'Y':
            if (StartsWithTag(line, "Y ")) {
                if (!ValueInRange(line, 1, 0, 65535, value))
                    throw invalidTag();
                y = static_cast<std::uint16_t>(value);
            }
            break;
        case 'Z':
            if (StartsWithTag(line, "Z ") && !ValueInRange(line, 1, -128, 127, value))
                throw invalidTag();
            break;
        case 'T':
            if (StartsWithTag(line, "TYPE ")) {
                if (!ValueInRange(line, 4, 0, 65535, value))
                    throw invalidTag();
                type = static_cast<std::uint16_t>(value);
            }
            break;
        case '}':
            if (section != NoSection && type == 255) {
                reporter.Log("Selecting item for export: " + std::to_string(section));
                table[section] = {1, static_cast<std::uint16_t>(x / 8), static_cast<std::uint16_t>(y / 8)};
            }
            break;
        default:
            break;
        }
    });
}

} // namespace cryo
