#include "ItemRecords.h"

#include "Error.h"
#include "ItemValues.h"
#include "Text.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace cryo {

namespace {

RecordKind KindOf(std::string_view section)
{
    if (section == "[ITEM]")
        return RecordKind::Item;
    if (section == "[CHARACTER]")
        return RecordKind::Character;
    if (section == "[HOUSE]")
        return RecordKind::House;
    if (section == "[BOAT]")
        return RecordKind::Boat;
    if (section == "[SPAWNITEM]")
        return RecordKind::SpawnItem;
    return RecordKind::Other;
}

// The slot of a key the scan keeps; nullptr for every other key.
KeyValue* SlotOf(RecordValues& values, std::string_view key)
{
    switch (key.size()) {
    case 1:
        if (KeyIs(key, "X"))
            return &values.X;
        if (KeyIs(key, "Y"))
            return &values.Y;
        if (KeyIs(key, "Z"))
            return &values.Z;
        break;
    case 2:
        if (KeyIs(key, "ID"))
            return &values.Id;
        break;
    case 3:
        if (KeyIs(key, "XYZ"))
            return &values.Xyz;
        break;
    case 4:
        if (KeyIs(key, "CONT"))
            return &values.Cont;
        if (KeyIs(key, "TYPE"))
            return &values.Type;
        break;
    case 5:
        if (KeyIs(key, "COLOR"))
            return &values.Colour;
        break;
    case 6:
        if (KeyIs(key, "SERIAL"))
            return &values.Serial;
        if (KeyIs(key, "COLOUR"))
            return &values.Colour;
        break;
    case 7:
        if (KeyIs(key, "MULTIID"))
            return &values.MultiId;
        break;
    case 8:
        if (KeyIs(key, "LOCATION"))
            return &values.Location;
        break;
    case 11:
        if (KeyIs(key, "WORLDNUMBER"))
            return &values.WorldNumber;
        break;
    default:
        break;
    }
    return nullptr;
}

// The pairs of first characters, case folded, of the record lines a scan
// reads: those of the keys it keeps and of "o---o", and every line that
// begins with a blank. The others, most of a record, are passed over.
struct LinePrefixes {
    std::array<std::array<bool, 256>, 256> Matters{};

    constexpr LinePrefixes()
    {
        auto pair = [this](char first, char second) {
            for (const char a : {first, UpperAscii(first)})
                for (const char b : {second, UpperAscii(second)})
                    Matters[static_cast<unsigned char>(a)][static_cast<unsigned char>(b)] = true;
        };
        for (const char blank : {' ', '\t', '\v', '\f'})
            for (int second = 0; second < 256; ++second)
                Matters[static_cast<unsigned char>(blank)][static_cast<std::size_t>(second)] = true;
        // Serial, ID, Colour, COLOR, Cont, Location, WorldNumber, Type, MultiID, o---o, XYZ
        for (const char* key : {"se", "id", "co", "lo", "wo", "ty", "mu", "o-", "xy"})
            pair(key[0], key[1]);
        for (const char single : {'x', 'y', 'z'})
            for (const char end : {'=', ' ', '\t', '\v', '\f'})
                pair(single, end);
    }

    bool operator()(std::string_view line) const
    {
        return line.size() >= 2 && Matters[static_cast<unsigned char>(line[0])][static_cast<unsigned char>(line[1])];
    }
};
constexpr LinePrefixes MayMatter;

std::string_view ProblemOf(const KeyValue& value, int fieldsNeeded)
{
    return fieldsNeeded == 0 ? NumberProblem(ReadServerNumber(value.Value))
                             : FieldsProblem(ReadServerFields(value.Value), fieldsNeeded);
}

// How many list fields the server needs in a slot's value; 0 for a single number.
int FieldsNeeded(const RecordValues& values, const KeyValue& slot)
{
    if (&slot == &values.Location)
        return 4;
    return &slot == &values.Xyz ? 3 : 0;
}

// The values of the record being read. A slot belongs to it only when its
// line is at or after the record's section line, so nothing is cleared
// between records.
class RecordReader {
public:
    void Start(std::uint32_t line) { start_ = line; }

    // A line of the record, without its line end, that may matter. Returns
    // true for the record's "o---o" line.
    bool Read(std::string_view line, std::uint32_t lineNumber)
    {
        const std::string_view trimmed = ServerTrim(line);
        if (trimmed.starts_with("o---o"))
            return ReadRecordLine(line).LineKind == RecordLine::Kind::RecordEnd;
        const std::size_t equals = trimmed.find('=');
        if (equals == std::string_view::npos)
            return false;
        const std::string_view key = ServerTrim(trimmed.substr(0, equals));
        KeyValue* slot = SlotOf(values_, key);
        if (slot == nullptr) // a key cut by a comment is none of them either
            return false;
        std::string_view value = trimmed.substr(equals + 1);
        if (const std::size_t comment = value.find("//"); comment != std::string_view::npos)
            value = value.substr(0, comment);
        // A value that a later line overrides still stops the server.
        if (Fresh(*slot) && (!Fresh(overridden_) || slot->Line < overridden_.Line)) {
            const std::string_view problem = ProblemOf(*slot, FieldsNeeded(values_, *slot));
            if (!problem.empty()) {
                overridden_ = *slot;
                overriddenProblem_ = problem;
            }
        }
        *slot = {key, ServerTrim(value), lineNumber};
        return false;
    }

    // Fills the record's numbers; true, with its values, for a Type that reads 255.
    bool Finish(SaveRecord& record, RecordValues& values)
    {
        auto number
            = [this](const KeyValue& slot) { return Fresh(slot) ? ReadServerNumber(slot.Value) : ServerNumber{}; };
        record.Serial = number(values_.Serial);
        record.Cont = number(values_.Cont);
        record.Type = number(values_.Type);
        if (!record.Type.IsNumber() || record.Type.Value != 255)
            return false;
        values = RecordValues{};
        if (Fresh(overridden_)) {
            values.Unreadable = overridden_;
            values.UnreadableProblem = overriddenProblem_;
        }
        for (auto [from, to] :
            {std::pair{&values_.Serial, &values.Serial}, {&values_.Id, &values.Id}, {&values_.Colour, &values.Colour},
                {&values_.Cont, &values.Cont}, {&values_.Type, &values.Type}, {&values_.MultiId, &values.MultiId},
                {&values_.Location, &values.Location}, {&values_.X, &values.X}, {&values_.Y, &values.Y},
                {&values_.Z, &values.Z}, {&values_.Xyz, &values.Xyz}, {&values_.WorldNumber, &values.WorldNumber}}) {
            if (!Fresh(*from))
                continue;
            *to = *from;
            if (values.Unreadable.Present() && values.Unreadable.Line < from->Line)
                continue;
            const std::string_view problem = ProblemOf(*from, FieldsNeeded(values_, *from));
            if (!problem.empty()) {
                values.Unreadable = *from;
                values.UnreadableProblem = problem;
            }
        }
        return true;
    }

private:
    bool Fresh(const KeyValue& slot) const { return slot.Line >= start_ && slot.Line != 0; }

    RecordValues values_;
    KeyValue overridden_;
    std::string_view overriddenProblem_;
    std::uint32_t start_ = 0;
};

// Calls fn(begin, end, next) for every line: its bytes run from begin to end,
// without the LF; the next line starts at next.
template <typename Fn> void ForEachLfLine(std::string_view bytes, Fn&& fn)
{
    const char* const base = bytes.data();
    const std::size_t size = bytes.size();
    std::size_t start = 0;
    std::size_t i = 0;
#if defined(__SSE2__)
    // Most lines are short: find their ends sixteen bytes at a time.
    const __m128i lfs = _mm_set1_epi8('\n');
    for (; size - i >= 16; i += 16) {
        auto mask = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(base + i)), lfs)));
        while (mask != 0) {
            const std::size_t lf = i + static_cast<std::size_t>(__builtin_ctz(mask));
            fn(start, lf, lf + 1);
            start = lf + 1;
            mask &= mask - 1;
        }
    }
#endif
    for (; i < size; ++i) {
        if (base[i] == '\n') {
            fn(start, i, i + 1);
            start = i + 1;
        }
    }
    if (start < size)
        fn(start, size, size);
}

} // namespace

std::string KeyValue::Text() const
{
    return std::string(Key) + "=" + std::string(Value);
}

Error ErrorAtLine(const std::string& path, std::uint32_t line, const std::string& text)
{
    Error error(text);
    error.SetFile(path);
    error.SetPlace("line " + std::to_string(line));
    return error;
}

void RaiseAtLine(const std::string& path, std::uint32_t line, const std::string& text)
{
    throw ErrorAtLine(path, line, text);
}

std::string LongLineText(const RecordScan& scan)
{
    return "This line is " + std::to_string(scan.LongLine.Length) + " characters long: the server reads at most "
        + std::to_string(scan.LongLine.Limit) + " characters on a line "
        + (scan.LongLine.Limit == LongestLineInRecord ? "inside a record" : "between records")
        + " and skips the rest of the file";
}

std::uint32_t NumberOf(const KeyValue& value)
{
    return ReadServerNumber(value.Value).Value;
}

ItemPosition PositionOf(const RecordValues& values)
{
    ItemPosition position;
    // Each coordinate comes from the last line that sets it.
    auto take = [](std::uint32_t& line, const KeyValue& key) {
        if (key.Line > line)
            line = key.Line;
        return key.Line == line && line != 0;
    };
    std::uint32_t worldLine = 0;
    const KeyValue* xFrom = nullptr;
    const KeyValue* yFrom = nullptr;
    const KeyValue* zFrom = nullptr;
    const KeyValue* worldFrom = nullptr;
    for (const KeyValue* key : {&values.Location, &values.Xyz}) {
        if (!key->Present())
            continue;
        if (take(position.XLine, *key))
            xFrom = key;
        if (take(position.YLine, *key))
            yFrom = key;
        if (take(position.ZLine, *key))
            zFrom = key;
        if (key == &values.Location && take(worldLine, *key))
            worldFrom = key;
    }
    if (take(position.XLine, values.X))
        xFrom = &values.X;
    if (take(position.YLine, values.Y))
        yFrom = &values.Y;
    if (take(position.ZLine, values.Z))
        zFrom = &values.Z;
    if (take(worldLine, values.WorldNumber))
        worldFrom = &values.WorldNumber;

    auto field = [&values](const KeyValue* from, int index) {
        if (from == &values.Location || from == &values.Xyz)
            return ReadServerFields(from->Value).Field[index];
        return ReadServerNumber(from->Value);
    };
    if (xFrom != nullptr)
        position.X = field(xFrom, 0).Value;
    if (yFrom != nullptr)
        position.Y = field(yFrom, 1).Value;
    if (zFrom != nullptr)
        position.Z = field(zFrom, 2).Signed();
    if (worldFrom != nullptr)
        position.World = field(worldFrom, 3).Value;
    if (values.Location.Present()) {
        const ServerFields fields = ReadServerFields(values.Location.Value);
        if (fields.Count >= 5 && fields.Field[4].IsNumber())
            position.Instance = fields.Field[4].Value;
    }
    return position;
}

namespace {

// Whether a line beginning with c may be a Cont or Type line, or one that
// begins with a blank; "| 0x20" folds C and T, and no other byte, to c and t.
bool MayBeContOrType(char c)
{
    const char folded = static_cast<char>(c | 0x20);
    return folded == 'c' || folded == 't' || c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

// The value of a "Cont=" or "Type=" line in the server's own form, a "0x"
// hexadecimal or a decimal number up to the line's LF; false for any other
// form, which the server's rules then read.
bool ReadServerForm(std::string_view bytes, std::size_t at, std::uint32_t& value)
{
    // At most 8 hexadecimal or 9 decimal digits, which cannot overflow.
    std::size_t digits = 0;
    std::uint32_t result = 0;
    if (bytes.substr(at, 2) == "0x") {
        for (at += 2; at < bytes.size() && digits < 9; ++at, ++digits) {
            const char c = bytes[at];
            const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
            if (digit < 0)
                break;
            result = result << 4 | static_cast<std::uint32_t>(digit);
        }
        if (digits == 0 || digits > 8)
            return false;
    } else if (at < bytes.size() && bytes[at] >= '1' && bytes[at] <= '9') {
        for (; at < bytes.size() && digits < 10 && bytes[at] >= '0' && bytes[at] <= '9'; ++at, ++digits)
            result = result * 10 + static_cast<std::uint32_t>(bytes[at] - '0');
        if (digits > 9)
            return false;
    } else if (bytes.substr(at, 1) == "0") {
        ++at; // "0" alone; a leading zero before more digits is octal
    } else {
        return false;
    }
    value = result;
    return at == bytes.size() || bytes[at] == '\n';
}

// The line from begin to its LF, if it is a Cont or Type line: a Cont value
// that names an object is appended to containers; returns false for a Type
// that reads 255.
bool ReadContOrType(std::string_view bytes, std::size_t begin, std::vector<std::uint32_t>& containers)
{
    // Most lines are the server's own: read at once.
    const std::string_view head = bytes.substr(begin, 5);
    if (std::uint32_t value = 0; (head == "Cont=" || head == "Type=") && ReadServerForm(bytes, begin + 5, value)) {
        if (head[0] == 'T')
            return value != 255;
        // The contents of one container follow each other: one entry does.
        if (value != 0xFFFFFFFF && (containers.empty() || containers.back() != value))
            containers.push_back(value);
        return true;
    }
    // Colour, Title, ...: a line that begins with its key is passed over at once.
    if (const char first = static_cast<char>(head.empty() ? 0 : head[0] | 0x20); first == 'c' || first == 't') {
        char key[4] = {};
        for (std::size_t i = 0; i < 4 && i < head.size(); ++i)
            key[i] = static_cast<char>(head[i] | 0x20);
        if (std::string_view(key, 4) != "cont" && std::string_view(key, 4) != "type")
            return true;
    }
    const std::size_t lf = bytes.find('\n', begin);
    std::string_view line = bytes.substr(begin, lf == std::string_view::npos ? std::string_view::npos : lf - begin);
    if (!line.empty() && line[0] != 'C' && line[0] != 'T')
        line = ServerTrim(line);
    if (line.size() < 5)
        return true;
    const char folded[4] = {static_cast<char>(line[0] | 0x20), static_cast<char>(line[1] | 0x20),
        static_cast<char>(line[2] | 0x20), static_cast<char>(line[3] | 0x20)};
    const std::string_view key(folded, 4);
    const bool cont = key == "cont";
    if ((!cont && key != "type") || line == "Cont=0xffffffff")
        return true;
    const RecordLine read = ReadRecordLine(line);
    if (read.LineKind != RecordLine::Kind::KeyValue || read.Key.size() != 4)
        return true;
    const ServerNumber number = ReadServerNumber(read.Value);
    if (cont && number.IsNumber() && number.Value != 0xFFFFFFFF)
        containers.push_back(number.Value);
    return cont || !number.IsNumber() || number.Value != 255;
}

} // namespace

namespace {

// Whether a line beginning with c may matter to ReferencesPassing: a section
// line, a Cont, Type or Serial line, an "o---o", or one that begins with a blank.
bool MayBeReference(char c)
{
    const char folded = static_cast<char>(c | 0x20);
    return MayBeContOrType(c) || c == '[' || folded == 's' || c == 'o';
}

// The record ReferencesPassing is passing over, for its serial.
struct PassedRecord {
    bool Open = false;
    std::uint32_t Line = 0;
    ServerNumber Serial;
    std::size_t Begin = 0; // of its section line
    std::uint32_t OpenBefore = 0; // as SaveRecord's

    void Close(std::vector<SerialLine>& serials)
    {
        if (Open && Serial.IsNumber())
            serials.push_back({Serial.Value, Line});
        Open = false;
    }
};

// The line that begins at begin, number lineNumber, for ReferencesPassing;
// false for a Type that reads 255.
bool ReadReference(std::string_view bytes, std::size_t begin, std::uint32_t lineNumber,
    std::vector<std::uint32_t>& containers, std::vector<SerialLine>& serials, PassedRecord& record)
{
    const char first = bytes[begin];
    if (first == '[') {
        const std::uint32_t openBefore = record.Open ? record.Line : 0;
        record.Close(serials);
        record = {true, lineNumber, {}, begin, openBefore};
        return true;
    }
    const char folded = static_cast<char>(first | 0x20);
    if (folded == 'c' || folded == 't' || !record.Open)
        return !MayBeContOrType(first) || ReadContOrType(bytes, begin, containers);
    // Most lines are the server's own: read at once, or passed over at once
    // when they cannot be a Serial or "o---o" line (SpawnerID, Owner, ...).
    if (std::uint32_t value = 0; bytes.substr(begin, 7) == "Serial=" && ReadServerForm(bytes, begin + 7, value)) {
        record.Serial = {ServerNumber::State::Number, value};
        return true;
    }
    if (first == 'o') {
        if (bytes.substr(begin, 6) == "o---o\n")
            record.Close(serials);
        if (bytes.substr(begin, 5) != "o---o" || bytes.substr(begin, 6) == "o---o\n")
            return true;
    }
    if (folded == 's') {
        const std::string_view key = bytes.substr(begin, 6);
        if (!KeyIs(key, "SERIAL"))
            return true;
    }
    const std::size_t lf = bytes.find('\n', begin);
    std::string_view line = bytes.substr(begin, lf == std::string_view::npos ? std::string_view::npos : lf - begin);
    if (lf != std::string_view::npos && line.ends_with('\r'))
        line.remove_suffix(1);
    if (ServerTrim(line).starts_with("o---o")) {
        if (ReadRecordLine(line).LineKind == RecordLine::Kind::RecordEnd)
            record.Close(serials);
        return true;
    }
    const RecordLine read = ReadRecordLine(line);
    if (read.LineKind == RecordLine::Kind::KeyValue && KeyIs(read.Key, "SERIAL"))
        record.Serial = ReadServerNumber(read.Value);
    return !MayBeContOrType(first) || ReadContOrType(bytes, begin, containers);
}

// The bits set in a 16-bit mask of line ends, without the library call that
// a population count is where the processor has no instruction for it.
constexpr std::array<std::uint8_t, 256> BitsInByte = [] {
    std::array<std::uint8_t, 256> bits{};
    for (std::size_t i = 1; i < bits.size(); ++i)
        bits[i] = static_cast<std::uint8_t>(bits[i / 2] + (i & 1));
    return bits;
}();

[[maybe_unused]] std::uint32_t LineEnds(unsigned mask)
{
    return std::uint32_t{BitsInByte[mask & 0xFF]} + BitsInByte[(mask >> 8) & 0xFF];
}

} // namespace

namespace {

// Which lines a pass over a file reads, by their first byte.
enum class Starts {
    References, // ReferencesPassing's
    Types, // a Type line, or one that begins with a blank
    Owners, // ReferencesPassing's but Type lines
};

template <Starts Set> bool Wanted(char c)
{
    const char folded = static_cast<char>(c | 0x20);
    if constexpr (Set == Starts::Types)
        return folded == 't' || c == ' ' || c == '\t' || c == '\v' || c == '\f';
    else if constexpr (Set == Starts::Owners)
        return MayBeReference(c) && folded != 't';
    else
        return MayBeReference(c);
}

// Calls read(begin, lineNumber) for every line whose first byte is Wanted,
// while it returns true; lineNumber is the line's number where it begins
// with '[', and may be 0 for others. Returns false when it did not, or for a
// line longer than the server reads between records.
template <Starts Set, typename Read> bool ForEachWantedLine(std::string_view bytes, std::uint32_t& lines, Read&& read)
{
    bool alone = bytes.empty() || !Wanted<Set>(bytes[0]) || read(std::size_t{0}, std::uint32_t{1});
    std::size_t lineStart = 0;
    std::uint32_t linesEnded = 0; // line ends before the one being looked at
    // A line too long for the server is found between two line ends.
    auto lineEnd = [&](std::size_t lf) {
        alone = alone && lf - lineStart <= LongestLineBetweenRecords;
        lineStart = lf + 1;
    };
    const char* const base = bytes.data();
    const std::size_t size = bytes.size();
    std::size_t i = 0;
#if defined(__SSE2__)
    // Lines are found sixteen bytes at a time, and only those that begin with
    // a byte Wanted takes are read.
    const __m128i lfs = _mm_set1_epi8('\n');
    const __m128i fold = _mm_set1_epi8(0x20);
    auto equal = [](__m128i a, char c) { return _mm_cmpeq_epi8(a, _mm_set1_epi8(c)); };
    auto foldedAt = [&](std::size_t at) {
        return _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(base + at)), fold);
    };
    for (; alone && size - i >= 19; i += 16) {
        const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + i));
        const auto lfMask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(here, lfs)));
        if (lfMask == 0)
            continue;
        lineEnd(i + static_cast<std::size_t>(__builtin_ctz(lfMask)));
        lineStart = i + 32 - static_cast<std::size_t>(__builtin_clz(lfMask));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + i + 1));
        const __m128i folded = _mm_or_si128(next, fold);
        const __m128i blanks = _mm_or_si128(
            _mm_or_si128(equal(next, ' '), equal(next, '\t')), _mm_or_si128(equal(next, '\v'), equal(next, '\f')));
        __m128i wanted = blanks;
        if constexpr (Set != Starts::Owners)
            wanted = _mm_or_si128(wanted, equal(folded, 't'));
        if constexpr (Set != Starts::Types) {
            // A Colour line, one in every record, is no Cont line.
            const __m128i colour = _mm_and_si128(
                equal(folded, 'c'), _mm_and_si128(equal(foldedAt(i + 2), 'o'), equal(foldedAt(i + 3), 'l')));
            wanted = _mm_or_si128(_mm_or_si128(wanted, _mm_andnot_si128(colour, equal(folded, 'c'))),
                _mm_or_si128(_mm_or_si128(equal(next, '['), equal(folded, 's')), equal(next, 'o')));
        }
        for (auto mask = lfMask & static_cast<unsigned>(_mm_movemask_epi8(wanted)); mask != 0; mask &= mask - 1) {
            const auto bit = static_cast<unsigned>(__builtin_ctz(mask));
            // Only a section line's number is wanted: it is a record's.
            if (Set == Starts::Types || base[i + bit + 1] != '[') {
                alone = read(i + bit + 1, 0) && alone;
            } else {
                const std::uint32_t line = linesEnded + LineEnds(lfMask & ((2u << bit) - 1)) + 1;
                alone = read(i + bit + 1, line) && alone;
            }
        }
        if constexpr (Set != Starts::Types)
            linesEnded += LineEnds(lfMask);
    }
#endif
    for (; alone && i < size; ++i) {
        if (base[i] != '\n')
            continue;
        lineEnd(i);
        ++linesEnded;
        if (i + 1 < size && Wanted<Set>(base[i + 1]))
            alone = read(i + 1, linesEnded + 1) && alone;
    }
    lines = linesEnded;
    return alone && size - lineStart <= LongestLineBetweenRecords;
}

} // namespace

bool ReferencesPassing(std::string_view bytes, std::vector<std::uint32_t>& containers, std::vector<SerialLine>& serials,
    PassedFile& passed)
{
    passed = {};
    if (bytes.starts_with("\xEF\xBB\xBF"))
        return false;
    const std::size_t before = containers.size();
    const std::size_t serialsBefore = serials.size();
    PassedRecord record;
    const bool alone
        = ForEachWantedLine<Starts::References>(bytes, passed.Lines, [&](std::size_t begin, std::uint32_t line) {
              if (ReadReference(bytes, begin, line, containers, serials, record))
                  return true;
              // A Type line that reads 255: its record is read whole later; one
              // outside any record is none of the server's.
              if (record.Open && (passed.Type255.empty() || passed.Type255.back().Line != record.Line))
                  passed.Type255.push_back({record.Begin, record.Line, record.OpenBefore});
              return true;
          });
    passed.LastLine = record.Line;
    passed.LastOpen = record.Open;
    record.Close(serials);
    if (!alone) {
        containers.resize(before);
        serials.resize(serialsBefore);
        passed.Type255.clear();
    }
    return alone;
}

SerialSet::SerialSet(std::vector<std::uint32_t> serials)
    : serials_(std::move(serials))
    , maybe_(std::size_t{1} << (HashBits - 6))
{
    std::sort(serials_.begin(), serials_.end());
    serials_.erase(std::unique(serials_.begin(), serials_.end()), serials_.end());
    for (const std::uint32_t serial : serials_)
        maybe_[Hash(serial) >> 6] |= std::uint64_t{1} << (Hash(serial) & 63);
}

std::size_t SerialSet::Find(std::uint32_t serial) const
{
    if ((maybe_[Hash(serial) >> 6] >> (Hash(serial) & 63) & 1) == 0)
        return SIZE_MAX;
    const auto found = std::lower_bound(serials_.begin(), serials_.end(), serial);
    return found != serials_.end() && *found == serial ? static_cast<std::size_t>(found - serials_.begin()) : SIZE_MAX;
}

bool ReferencesAmong(std::string_view bytes, const SerialSet& wanted, std::vector<std::uint32_t>& containers,
    std::vector<SerialLine>& serials, std::uint32_t* lineEnds)
{
    if (bytes.starts_with("\xEF\xBB\xBF"))
        return false;
    const std::size_t before = containers.size();
    const std::size_t serialsBefore = serials.size();
    // A line adds at most one container and one serial: the others go at once.
    auto keepWanted = [&](std::size_t containersHad, std::size_t serialsHad) {
        if (containers.size() > containersHad && !wanted.Holds(containers.back()))
            containers.pop_back();
        if (serials.size() > serialsHad && !wanted.Holds(serials.back().Serial))
            serials.pop_back();
    };
    PassedRecord record;
    std::uint32_t lines = 0;
    const bool alone = ForEachWantedLine<Starts::Owners>(bytes, lines, [&](std::size_t begin, std::uint32_t line) {
        const std::size_t containersHad = containers.size();
        const std::size_t serialsHad = serials.size();
        ReadReference(bytes, begin, line, containers, serials, record); // a Type line does not stop it
        keepWanted(containersHad, serialsHad);
        return true;
    });
    const std::size_t serialsHad = serials.size();
    record.Close(serials);
    keepWanted(containers.size(), serialsHad);
    if (!alone) {
        containers.resize(before);
        serials.resize(serialsBefore);
    }
    if (lineEnds != nullptr)
        *lineEnds = lines;
    return alone;
}

bool MayHoldType255(std::string_view bytes)
{
    if (bytes.starts_with("\xEF\xBB\xBF"))
        return true;
    std::vector<std::uint32_t> containers; // of lines that begin with a blank, not wanted here
    std::uint32_t lines = 0;
    return !ForEachWantedLine<Starts::Types>(bytes, lines, [&](std::size_t begin, std::uint32_t) {
        containers.clear();
        return ReadContOrType(bytes, begin, containers);
    });
}

RecordScan ScanRecords(std::string_view bytes, const RecordVisit& visit)
{
    RecordScan scan;
    // The record being read, until its "o---o"; then, until the next one
    // begins, the last one read, whose blank line may still follow.
    SaveRecord record;
    RecordValues values;
    bool open = false;
    bool held = false; // record is read but not yet visited
    bool hasValues = false;
    bool afterEnd = false; // the previous line ended a record
    std::uint32_t openBefore = 0;
    std::uint32_t lineNumber = 0;
    RecordReader reader;
    auto close = [&](std::uint64_t end, bool terminated) {
        record.End = end;
        record.Terminated = terminated;
        hasValues = reader.Finish(record, values);
        openBefore = terminated ? 0 : record.Line;
        open = false;
        held = true;
    };
    auto release = [&] {
        if (held)
            visit(record, hasValues ? &values : nullptr);
        held = false;
    };
    ForEachLfLine(
        bytes, [&](std::size_t begin, std::size_t end, std::size_t next) __attribute__((always_inline)) {
            ++lineNumber;
            std::string_view line(bytes.data() + begin, end - begin);
            const bool section = !line.empty() && line.front() == '[';
            const std::size_t limit = open && !section ? LongestLineInRecord : LongestLineBetweenRecords;
            if (line.size() > limit && scan.LongLine.Line == 0)
                scan.LongLine = {lineNumber, line.size(), limit};
            if (end < next && !line.empty() && line.back() == '\r')
                line.remove_suffix(1);

            const bool wasAfterEnd = afterEnd;
            afterEnd = false;
            if (section) {
                if (open)
                    close(begin, false);
                release();
                record = SaveRecord{};
                record.Section = ServerTrim(line);
                record.Kind = KindOf(record.Section);
                record.Begin = begin;
                record.Line = lineNumber;
                record.OpenBefore = openBefore;
                open = true;
                reader.Start(lineNumber);
            } else if (open) {
                if (MayMatter(line) && reader.Read(line, lineNumber)) {
                    close(next, true);
                    afterEnd = true;
                }
            } else if (wasAfterEnd && ServerTrim(line).empty()) {
                record.End = next;
            }
        });
    if (open) {
        close(bytes.size(), false);
        scan.EndsInsideRecord = true;
    }
    release();
    scan.Lines = lineNumber;
    scan.ByteOrderMark = bytes.starts_with("\xEF\xBB\xBF");
    return scan;
}

RecordScan ScanRecords(std::string_view bytes)
{
    std::vector<SaveRecord> records;
    std::vector<RecordValues> details;
    RecordScan scan = ScanRecords(bytes, [&](const SaveRecord& record, const RecordValues* values) {
        records.push_back(record);
        if (values != nullptr) {
            records.back().Details = static_cast<std::int32_t>(details.size());
            details.push_back(*values);
        }
    });
    scan.Records = std::move(records);
    scan.Details = std::move(details);
    return scan;
}

} // namespace cryo
