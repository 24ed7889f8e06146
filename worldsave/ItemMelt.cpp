#include "ItemMelt.h"

#include "Error.h"
#include "ItemSaveFiles.h"
#include "ItemValues.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace cryo {

namespace {

constexpr std::uint32_t GridWidth = 7168;
constexpr std::uint32_t GridHeight = 4096;
constexpr std::uint32_t FirstItemSerial = 0x40000000;
constexpr std::string_view OverflowFileName = "overflow.wsc";

// Hexadecimal as the server writes it: "0x", lower case, no padding.
std::string Hex(std::uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(value));
    return text;
}

} // namespace

std::string RegionFileName(std::uint32_t x, std::uint32_t y, std::uint32_t mapWidth, std::uint32_t mapHeight)
{
    if (x >= GridWidth || y >= GridHeight || x / 32 >= mapWidth / 32 || y / 128 >= mapHeight / 128)
        return std::string(OverflowFileName);
    return std::to_string(x / 256) + "." + std::to_string(y / 1024) + ".wsc";
}

bool IsOverflowFile(std::string_view path)
{
    const std::size_t slash = path.find_last_of("/\\");
    return (slash == std::string_view::npos ? path : path.substr(slash + 1)) == OverflowFileName;
}

std::uint32_t HighestSerial(const RecordScan& scan)
{
    std::uint32_t highest = 0;
    for (const SaveRecord& record : scan.Records)
        if (record.Serial.IsNumber())
            highest = std::max(highest, record.Serial.Value);
    return highest;
}

std::uint32_t HighestSerialOfFiles(const std::vector<std::string>& paths)
{
    std::uint32_t highest = 0;
    std::string bytes;
    for (const std::string& path : paths) {
        try {
            ReadWholeFile(path, bytes);
            highest = std::max(highest, HighestSerial(ScanRecords(bytes)));
        } catch (Error& error) {
            error.SetFile(path);
            throw;
        }
    }
    return highest;
}

std::uint32_t FirstNewSerial(std::uint32_t highest, std::uint32_t count)
{
    const std::uint64_t first = std::max<std::uint64_t>(std::uint64_t{highest} + 1, FirstItemSerial);
    if (first + count > 0xFFFFFFFF)
        throw Error(
            "No serial is left for " + std::to_string(count) + " new items above the highest serial, " + Hex(highest));
    return static_cast<std::uint32_t>(first);
}

void AppendItemRecord(std::string& out, const MeltedObject& object)
{
    // Written straight into out: an area's melt writes hundreds of thousands.
    // Each number has a buffer of its own, which the compiler can see is
    // never overrun.
    auto put = [&](std::string_view part) { out.append(part); };
    auto number = [&](auto value, int base) {
        char digits[24];
        out.append(digits, std::to_chars(digits, digits + sizeof digits, value, base).ptr);
    };
    put("[ITEM]\nSerial=0x");
    number(object.Serial, 16);
    put("\nID=0x");
    number(object.TileId, 16);
    put("\nColour=0x");
    number(object.Hue, 16);
    put("\nName=#\nLocation=");
    number(object.X, 10);
    put(",");
    number(object.Y, 10);
    put(",");
    number(static_cast<int>(object.Z), 10);
    put(",");
    number(object.World, 10);
    put(",0\nCont=0xffffffff\nType=255\nMovable=2\n\no---o\n\n");
}

std::string ItemRecordText(const MeltedObject& object)
{
    std::string text;
    AppendItemRecord(text, object);
    return text;
}

std::string_view LineEndBefore(std::string_view existing, bool crLf)
{
    if (existing.empty() || existing.back() == '\n')
        return "";
    return crLf ? "\r\n" : "\n";
}

bool UsesCrLf(std::string_view bytes)
{
    const std::size_t lf = bytes.find('\n');
    return lf != std::string_view::npos && lf > 0 && bytes[lf - 1] == '\r';
}

std::string WithCrLf(std::string_view records)
{
    std::string text;
    text.reserve(records.size() + records.size() / 8);
    for (const char c : records) {
        if (c == '\n')
            text += '\r';
        text += c;
    }
    return text;
}

void CheckAppendTarget(const std::string& path, std::string_view bytes, const RecordScan& scan)
{
    if (WorldSaveKindOfText(bytes, path) != WorldSaveKind::ItemFile) {
        Error error("This file is a classic world save of SECTION WORLDITEM sections, not a file of [ITEM] records: a "
                    "melt writes no [ITEM] records into it");
        error.SetFile(path);
        throw error;
    }
    if (scan.ByteOrderMark)
        RaiseAtLine(path, 1, ByteOrderMarkText);
    if (scan.LongLine.Line != 0)
        RaiseAtLine(path, scan.LongLine.Line, LongLineText(scan) + ", so it would not load new items there");
    if (scan.EndsInsideRecord)
        RaiseAtLine(path, scan.Records.back().Line,
            "The last record has no o---o line: the server would read new items into it");
}

} // namespace cryo
