#include "WorldScan.h"

#include "Convert.h"
#include "Error.h"
#include "Text.h"
#include "WscText.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace cryo {

namespace {

// Calls fn(line) for the lines that begin with "S" or "s", found sixteen
// bytes at a time: the other lines are passed over unread.
template <typename Fn> void ForEachLineStartingWithS(WscReader& reader, Fn&& fn)
{
    reader.ForEachRun([&](std::string_view run) {
        const char* const base = run.data();
        const std::size_t size = run.size();
        auto lineAt = [&](std::size_t begin) {
            const void* cr = std::memchr(base + begin, '\r', size - begin);
            fn(run.substr(begin, cr ? static_cast<std::size_t>(static_cast<const char*>(cr) - base) - begin : size));
        };
        // A line begins after a CR, or after the LF that follows one.
        auto startsLine = [&](std::size_t i) {
            return i == 0 || base[i - 1] == '\r' || (i >= 2 && base[i - 1] == '\n' && base[i - 2] == '\r');
        };
        std::size_t i = 0;
        for (; i < std::min<std::size_t>(size, 2); ++i)
            if ((base[i] | 0x20) == 's' && startsLine(i))
                lineAt(i);
#if defined(__SSE2__)
        auto at
            = [base](std::size_t offset) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + offset)); };
        auto is = [](__m128i bytes, char c) { return _mm_cmpeq_epi8(bytes, _mm_set1_epi8(c)); };
        for (; size - i >= 16; i += 16) {
            const __m128i s = is(_mm_or_si128(at(i), _mm_set1_epi8(0x20)), 's');
            const __m128i afterCr = is(at(i - 1), '\r');
            const __m128i afterCrLf = _mm_and_si128(is(at(i - 1), '\n'), is(at(i - 2), '\r'));
            for (auto mask
                 = static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(s, _mm_or_si128(afterCr, afterCrLf))));
                 mask != 0; mask &= mask - 1)
                lineAt(i + static_cast<std::size_t>(__builtin_ctz(mask)));
        }
#endif
        for (; i < size; ++i)
            if ((base[i] | 0x20) == 's' && startsLine(i))
                lineAt(i);
    });
}

} // namespace

HighestNumbers FindHighestNumbers(WscReader& reader)
{
    HighestNumbers highest;
    bool inItem = false;
    std::int32_t section = 0;
    try {
        reader.Rewind();
        ForEachLineStartingWithS(reader, [&](std::string_view line) {
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
