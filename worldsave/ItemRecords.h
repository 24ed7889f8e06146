#pragma once

#include "Error.h"
#include "ItemValues.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The records of an [ITEM] world file (a region file of the server's shared
// folder, overflow.wsc, or a patch file): where each record lies, byte for
// byte, and the few values that melt and freeze need. Files have LF or CR LF
// line ends; nothing is changed or copied, the results point into the bytes.
namespace cryo {

enum class RecordKind : std::uint8_t { Item, Character, House, Boat, SpawnItem, Other };

// The last occurrence of a key in a record, as written.
struct KeyValue {
    std::string_view Key;
    std::string_view Value; // trimmed, without its comment
    std::uint32_t Line = 0; // 0: the record has no such key

    bool Present() const { return Line != 0; }
    // "Key=Value" as the file spells it, for messages.
    std::string Text() const;
};

struct RecordValues {
    KeyValue Serial, Id, Colour, Cont, Type, MultiId;
    // The position: Location=x,y,z,world,instance, or the older keys.
    KeyValue Location, X, Y, Z, Xyz, WorldNumber;
    // The first occurrence of any of these keys whose value the server cannot
    // load (it stops at start-up on it), and why.
    KeyValue Unreadable;
    std::string_view UnreadableProblem;
};

// Where the server puts a record: later keys override earlier ones, and a
// record without any position key lands at 100,100,0 in world 0. Each line
// is that of the key the coordinate came from (0 for the default). Valid
// only for records whose position keys are all readable.
struct ItemPosition {
    std::uint32_t X = 100, Y = 100;
    std::int32_t Z = 0;
    std::uint32_t World = 0;
    std::uint32_t Instance = 0; // Location's fifth field, 0 without one
    std::uint32_t XLine = 0, YLine = 0, ZLine = 0;
};
ItemPosition PositionOf(const RecordValues& values);

// The value of a present key as the server reads it.
std::uint32_t NumberOf(const KeyValue& value);

// A record: its section line ("[ITEM]", "[CHARACTER]", ... or any line
// beginning with "["), its Key=value lines, a blank line, "o---o" and a blank
// line. Its bytes run from its section line through its "o---o" line and the
// one blank line after it; at the end of a file without that blank line,
// through the "o---o" line. A record without "o---o" runs to the next section
// line or the end of the file.
struct SaveRecord {
    RecordKind Kind = RecordKind::Other;
    bool Terminated = false; // ended by its "o---o" line
    std::uint32_t Line = 0; // of the section line, from 1
    std::uint64_t Begin = 0;
    std::uint64_t End = 0;
    std::string_view Section; // the section line, trimmed
    // As the server reads them: what melt and the container test need of every record.
    ServerNumber Serial, Cont, Type;
    // Where RecordScan::Details holds all values of a record whose Type reads
    // 255; -1 for every other record.
    std::int32_t Details = -1;
    // The line of the record just before when it has no "o---o" line (the
    // server reads this one into it); 0 otherwise.
    std::uint32_t OpenBefore = 0;
};

// The server reads lines of at most this many characters (line ends not
// counted, a CR before the LF counted) and silently skips the rest of a file
// after a longer one.
constexpr std::size_t LongestLineBetweenRecords = 1022;
constexpr std::size_t LongestLineInRecord = 4095;

struct RecordScan {
    std::vector<SaveRecord> Records; // in file order
    std::vector<RecordValues> Details;
    // The first line the server cannot read; Line 0 when there is none.
    struct {
        std::uint32_t Line = 0;
        std::size_t Length = 0;
        std::size_t Limit = 0;
    } LongLine;
    std::uint32_t Lines = 0; // read, the last one counted whether or not it ends
    // The file ends inside a record that has no "o---o" line: text appended
    // to the file would be read as part of that record.
    bool EndsInsideRecord = false;
    // The file begins with a UTF-8 byte-order mark, which hides its first
    // section line from the server.
    bool ByteOrderMark = false;
};

// Why a file that begins with a UTF-8 byte-order mark is refused.
inline constexpr const char* ByteOrderMarkText
    = "The file begins with a UTF-8 byte-order mark, which hides its first record from the server";

// An Error with the text that names the file and the line, and one raised.
Error ErrorAtLine(const std::string& path, std::uint32_t line, const std::string& text);
[[noreturn]] void RaiseAtLine(const std::string& path, std::uint32_t line, const std::string& text);

// What the server does with the scan's long line, for messages.
std::string LongLineText(const RecordScan& scan);

// A record's serial, as the server reads it, and the line of its section line.
struct SerialLine {
    std::uint32_t Serial = 0;
    std::uint32_t Line = 0;

    bool operator==(const SerialLine&) const = default;
};

// What ReferencesPassing leaves for a whole reading of a file: where each
// record whose Type line reads 255 begins, and how the file ends.
struct PassedFile {
    struct RecordStart {
        std::size_t Begin = 0; // of its section line
        std::uint32_t Line = 0;
        std::uint32_t OpenBefore = 0; // as SaveRecord's
    };
    std::vector<RecordStart> Type255; // in file order
    std::uint32_t Lines = 0; // line ends
    std::uint32_t LastLine = 0; // of the last record's section line; 0 for none
    bool LastOpen = false; // the last record has no "o---o" line
};

// What a check needs of a file, found line by line without reading records,
// which is several times faster: appends to containers the value of every
// Cont line that names an object, and to serials the serial of every record
// that has one, lists the records a Type line of which reads 255 for
// ScanRecords to read alone (from its section line to the next), and returns
// true. Returns false, with containers and serials as they were, when the
// whole file needs ScanRecords: it has a byte-order mark or a line longer than
// the server reads between records.
bool ReferencesPassing(std::string_view bytes, std::vector<std::uint32_t>& containers, std::vector<SerialLine>& serials,
    PassedFile& passed);

// A set of serials, most others passed over by a bit per hash of them.
class SerialSet {
public:
    explicit SerialSet(std::vector<std::uint32_t> serials);

    const std::vector<std::uint32_t>& All() const { return serials_; } // sorted, each once
    // Its index in All(), or SIZE_MAX.
    std::size_t Find(std::uint32_t serial) const;
    bool Holds(std::uint32_t serial) const
    {
        return (maybe_[Hash(serial) >> 6] >> (Hash(serial) & 63) & 1) != 0 && Find(serial) != SIZE_MAX;
    }

private:
    static constexpr unsigned HashBits = 18;
    static std::uint32_t Hash(std::uint32_t serial) { return (serial * 2654435761u) >> (32 - HashBits); }

    std::vector<std::uint32_t> serials_;
    std::vector<std::uint64_t> maybe_;
};

// ReferencesPassing for a freeze that knows the serials it wants: appends only
// the containers and serials wanted holds, whatever the Type
// lines read. Returns false, with both as they were, for a byte-order mark or
// a line longer than the server reads between records.
bool ReferencesAmong(std::string_view bytes, const SerialSet& wanted, std::vector<std::uint32_t>& containers,
    std::vector<SerialLine>& serials, std::uint32_t* lineEnds = nullptr);

// Whether a freeze must read the file record by record: it may hold a Type
// 255 item (a Type line reads 255), begins with a byte-order mark or has a
// line longer than the server reads between records. Only the Type lines are
// read, which is faster still than ReferencesPassing.
bool MayHoldType255(std::string_view bytes);

// Reads every record of the file's bytes in one pass. A UTF-8 byte-order mark
// hides the first section line, as it does from the server.
RecordScan ScanRecords(std::string_view bytes);

// ScanRecords that keeps no record: calls visit for each, in file order, once
// its bytes are known, with its values when its Type reads 255 (nullptr
// otherwise; Details stays -1). The scan returned has no Records or Details.
using RecordVisit = std::function<void(const SaveRecord&, const RecordValues*)>;
RecordScan ScanRecords(std::string_view bytes, const RecordVisit& visit);

} // namespace cryo
