#include "ItemMelt.h"

#include "Error.h"
#include "ItemSaveFiles.h"
#include "ItemValues.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// Whether a line that begins with c may open or end a record or name its
// serial: "[", "o---o", "Serial=" in any case, or a line that begins with a
// blank, which the server trims.
constexpr bool MayOpenEndOrName(char c)
{
    return c == '[' || c == 'o' || (c | 0x20) == 's' || c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

// The highest serial of the records of a text, read line by line as
// ScanRecords reads them: a record runs from its section line to its "o---o",
// and of several Serial lines in it the last one counts.
class SerialLines {
public:
    explicit SerialLines(std::string_view bytes)
        : bytes_(bytes)
    {
    }

    void Line(std::size_t begin)
    {
        if (bytes_[begin] == '[') {
            Close();
            open_ = true;
            return;
        }
        if (!open_)
            return;
        // The server's own lines are read at once.
        if (bytes_.compare(begin, 6, "o---o\n") == 0)
            return Close();
        if (ServerSerial(begin))
            return;
        // A line that begins "s" but not "se", or "o" but not "o-", is no Serial or "o---o" line.
        const char first = bytes_[begin];
        const char second = begin + 1 < bytes_.size() ? bytes_[begin + 1] : '\n';
        if (((first | 0x20) == 's' && (second | 0x20) != 'e') || (first == 'o' && second != '-'))
            return;
        const std::size_t lf = bytes_.find('\n', begin);
        std::string_view line = bytes_.substr(begin, lf == std::string_view::npos ? lf : lf - begin);
        if (lf != std::string_view::npos && line.ends_with('\r'))
            line.remove_suffix(1);
        const std::string_view trimmed = ServerTrim(line);
        if (trimmed.starts_with("o---o")) {
            if (ReadRecordLine(line).LineKind == RecordLine::Kind::RecordEnd)
                Close();
            return;
        }
        const std::size_t equals = trimmed.find('=');
        if (equals == std::string_view::npos || !KeyIs(ServerTrim(trimmed.substr(0, equals)), "SERIAL"))
            return;
        std::string_view value = trimmed.substr(equals + 1);
        if (const std::size_t comment = value.find("//"); comment != std::string_view::npos)
            value = value.substr(0, comment);
        serial_ = ReadServerNumber(ServerTrim(value));
    }

    std::uint32_t Highest()
    {
        Close();
        return highest_;
    }

private:
    // A "Serial=0x..." line as the server writes it, up to 8 hexadecimal digits.
    bool ServerSerial(std::size_t begin)
    {
        if (bytes_.compare(begin, 9, "Serial=0x") != 0)
            return false;
        std::uint32_t value = 0;
        std::size_t at = begin + 9;
        for (; at < bytes_.size() && at - begin < 17; ++at) {
            const char c = bytes_[at];
            const char folded = static_cast<char>(c | 0x20);
            const int digit = c >= '0' && c <= '9' ? c - '0' : folded >= 'a' && folded <= 'f' ? folded - 'a' + 10 : -1;
            if (digit < 0)
                break;
            value = value << 4 | static_cast<std::uint32_t>(digit);
        }
        if (at == begin + 9 || at == bytes_.size() || bytes_[at] != '\n')
            return false;
        serial_ = {ServerNumber::State::Number, value};
        return true;
    }

    void Close()
    {
        if (open_ && serial_.IsNumber())
            highest_ = std::max(highest_, serial_.Value);
        open_ = false;
        serial_ = {};
    }

    std::string_view bytes_;
    bool open_ = false;
    ServerNumber serial_;
    std::uint32_t highest_ = 0;
};

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

std::uint32_t HighestSerialOfText(std::string_view bytes)
{
    SerialLines lines(bytes);
    if (bytes.empty())
        return 0;
    if (MayOpenEndOrName(bytes[0]))
        lines.Line(0);
    const char* const base = bytes.data();
    const std::size_t size = bytes.size();
    std::size_t i = 0;
#if defined(__SSE2__)
    // Sixteen bytes at a time: the lines that begin with a byte that may
    // matter, "se" and "o-" in place of "s" and "o", are found without
    // looking at the others.
    auto at = [base](std::size_t offset) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + offset)); };
    auto is = [](__m128i bytes, char c) { return _mm_cmpeq_epi8(bytes, _mm_set1_epi8(c)); };
    const __m128i fold = _mm_set1_epi8(0x20);
    for (; size - i >= 18; i += 16) {
        const __m128i here = at(i);
        const __m128i first = at(i + 1);
        const __m128i second = at(i + 2);
        // A blank or control character other than a line end: the server trims the blanks.
        const __m128i low = _mm_andnot_si128(is(first, '\n'), _mm_cmpeq_epi8(_mm_min_epu8(first, fold), first));
        const __m128i s = _mm_and_si128(is(_mm_or_si128(first, fold), 's'), is(_mm_or_si128(second, fold), 'e'));
        const __m128i o = _mm_and_si128(is(first, 'o'), is(second, '-'));
        const __m128i wanted = _mm_or_si128(_mm_or_si128(is(first, '['), low), _mm_or_si128(s, o));
        for (auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(is(here, '\n'), wanted))); mask != 0;
             mask &= mask - 1)
            lines.Line(i + static_cast<std::size_t>(__builtin_ctz(mask)) + 1);
    }
#endif
    for (; i + 1 < size; ++i)
        if (base[i] == '\n' && MayOpenEndOrName(base[i + 1]))
            lines.Line(i + 1);
    return lines.Highest();
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
    // Made in place at the end of out: an area's melt writes hundreds of thousands.
    const std::size_t start = out.size();
    out.resize(start + 160);
    char* at = out.data() + start;
    char* const end = out.data() + out.size();
    auto text = [&](std::string_view part) { at = std::copy(part.begin(), part.end(), at); };
    auto number = [&](auto value, int base) { at = std::to_chars(at, end, value, base).ptr; };
    text("[ITEM]\nSerial=0x");
    number(object.Serial, 16);
    text("\nID=0x");
    number(object.TileId, 16);
    text("\nColour=0x");
    number(object.Hue, 16);
    text("\nName=#\nLocation=");
    number(object.X, 10);
    text(",");
    number(object.Y, 10);
    text(",");
    number(static_cast<int>(object.Z), 10);
    text(",");
    number(object.World, 10);
    text(",0\nCont=0xffffffff\nType=255\nMovable=2\n\no---o\n\n");
    out.resize(static_cast<std::size_t>(at - out.data()));
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

namespace {

// Whether records appended to the file would load, found without reading its
// records: it has no byte-order mark, no line longer than the server reads
// between records, and its last line but blank ones (LF or CR LF) is
// "o---o". False says only that the records must be read to know.
bool EndsReadyForRecords(std::string_view bytes)
{
    if (bytes.starts_with("\xEF\xBB\xBF"))
        return false;
    // Every window of one character more than the longest line holds a line
    // end, the last of which begins the next window.
    for (std::size_t begin = 0; bytes.size() - begin > LongestLineBetweenRecords;) {
        const std::size_t lf = bytes.substr(begin, LongestLineBetweenRecords + 1).rfind('\n');
        if (lf == std::string_view::npos)
            return false;
        begin += lf + 1;
    }
    std::size_t end = bytes.size();
    while (end > 0 && bytes[end - 1] == '\n') {
        --end;
        if (end > 0 && bytes[end - 1] == '\r')
            --end;
    }
    const std::string_view rest = bytes.substr(0, end);
    return rest.ends_with("o---o") && (rest.size() == 5 || rest[rest.size() - 6] == '\n');
}

} // namespace

void CheckAppendTarget(const std::string& path, std::string_view bytes)
{
    if (WorldSaveKindOfText(bytes, path) != WorldSaveKind::ItemFile) {
        Error error("This file is a classic world save of SECTION WORLDITEM sections, not a file of [ITEM] records: a "
                    "melt writes no [ITEM] records into it");
        error.SetFile(path);
        throw error;
    }
    if (EndsReadyForRecords(bytes))
        return;
    const RecordScan scan = ScanRecords(bytes);
    if (scan.ByteOrderMark)
        RaiseAtLine(path, 1, ByteOrderMarkText);
    if (scan.LongLine.Line != 0)
        RaiseAtLine(path, scan.LongLine.Line, LongLineText(scan) + ", so it would not load new items there");
    if (scan.EndsInsideRecord)
        RaiseAtLine(path, scan.Records.back().Line,
            "The last record has no o---o line: the server would read new items into it");
}

} // namespace cryo
