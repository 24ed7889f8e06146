#include "WorldScan.h"

#include "Convert.h"
#include "Error.h"
#include "Text.h"
#include "WscText.h"

namespace cryo {

HighestNumbers FindHighestNumbers(WscReader& reader)
{
    HighestNumbers highest;
    bool inItem = false;
    std::int32_t section = 0;
    try {
        reader.Rewind();
        reader.ForEachLine([&](std::string_view line) {
            if (line.empty() || UpperAscii(line[0]) != 'S')
                return;
            if (StartsWithTag(line, "SECTION WORLDITEM ")) {
                // A bad number is no section to name.
                inItem = false;
                section = TagValue(line, 17);
                inItem = true;
                if (section > highest.Number)
                    highest.Number = section;
            } else if (StartsWithTag(line, "SECTION ")) {
                inItem = false;
            } else if (StartsWithTag(line, "SERIAL ")) {
                const std::int32_t serial = TagValue(line, 6);
                if (serial > highest.Serial)
                    highest.Serial = serial;
            }
        });
        reader.Rewind();
    } catch (Error& error) {
        if (inItem)
            error.SetPlace(SectionPlace(section));
        throw;
    }
    return highest;
}

namespace {

constexpr std::uint16_t NoSection = 65535;

} // namespace

void SelectItemsForExport(const std::string& wscPath, ExportTable& table, Reporter& reporter)
{
    table.clear();
    std::uint64_t sections = 0; // "SECTION WORLDITEM" lines so far
    bool inItem = false; // an item section runs to the next section line
    std::uint16_t section = NoSection; // its number; 65535 also stands for none
    std::uint16_t x = 0;
    std::uint16_t y = 0;
    std::uint16_t type = 0;
    bool contained = false; // its CONT so far is not -1
    bool selected = false;

    // A section that ends with TYPE 255 but was never selected is named, so
    // that nobody takes it for frozen.
    auto endSection = [&] {
        if (inItem && !selected && type == 255) {
            const std::string number = std::to_string(section);
            if (section == NoSection)
                reporter.Log("Not frozen: SECTION WORLDITEM 65535 is a number that is never frozen");
            else if (contained)
                reporter.Log("Not frozen: SECTION WORLDITEM " + number + " is inside a container");
            else
                reporter.Log("Not frozen: SECTION WORLDITEM " + number + " has no closing } after its TYPE 255");
        }
        inItem = false;
    };
    auto ranged = [&section](std::string_view line, std::size_t removed, int lo, int hi) {
        const std::int32_t value = TagValue(line, removed);
        if (value < lo || value > hi)
            throw Error("Invalid tag after \"SECTION WORLDITEM " + std::to_string(section) + "\"");
        return value;
    };

    try {
        WscReader reader(wscPath);
        // The tests of the tag table, in its order; at most one applies to a line.
        reader.ForEachLine([&](std::string_view line) {
            if (line.empty())
                return;
            switch (UpperAscii(line[0])) {
            case 'S':
                if (StartsWithTag(line, "SECTION WORLDITEM ")) {
                    endSection();
                    section = static_cast<std::uint16_t>(ranged(line, 17, 0, 65535));
                    ++sections;
                    inItem = true;
                    x = y = type = 0;
                    contained = selected = false;
                } else if (StartsWithTag(line, "SECTION ")) {
                    endSection();
                    section = NoSection;
                }
                break;
            case 'X':
                if (StartsWithTag(line, "X "))
                    x = static_cast<std::uint16_t>(ranged(line, 1, 0, 65535));
                break;
            case 'Y':
                if (StartsWithTag(line, "Y "))
                    y = static_cast<std::uint16_t>(ranged(line, 1, 0, 65535));
                break;
            case 'Z':
                if (StartsWithTag(line, "Z "))
                    ranged(line, 1, -128, 127);
                break;
            case 'T':
                if (StartsWithTag(line, "TYPE "))
                    type = static_cast<std::uint16_t>(ranged(line, 4, 0, 65535));
                break;
            case 'C':
                if (StartsWithTag(line, "CONT ")) {
                    try {
                        contained = TagValue(line, 4) != -1;
                    } catch (const ConvertError&) {
                        contained = true;
                    }
                }
                break;
            case '}':
                if (inItem && section != NoSection && type == 255 && !contained) {
                    reporter.Log("Selecting item for export: " + std::to_string(section));
                    if (!selected)
                        table.push_back({sections - 1, section, 0, 0});
                    selected = true;
                    table.back().XBlock = static_cast<std::uint16_t>(x / 8);
                    table.back().YBlock = static_cast<std::uint16_t>(y / 8);
                    table.back().X = x;
                    table.back().Y = y;
                }
                break;
            default:
                break;
            }
        });
        endSection();
    } catch (Error& error) {
        if (inItem)
            error.SetPlace(SectionPlace(section));
        error.SetFile(wscPath);
        throw;
    }
}

} // namespace cryo
