#pragma once

#include "Error.h"
#include "ItemRecords.h"
#include "MapArea.h"
#include "StaticBlock.h"

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What a freeze of one map takes out of [ITEM] world files, and the files'
// new bytes without it. Every Type 255 [ITEM] record is decided here, before
// anything is written: it is taken, left with a reason for the log, or the
// freeze is refused with an Error that names its file and line.
namespace cryo {

// The map a freeze writes into: its number, which is the world of the items
// it takes, and its size in tiles (at most 65,536 each).
struct FreezeMap {
    std::uint32_t World = 0;
    std::uint32_t WidthTiles = 7168;
    std::uint32_t HeightTiles = 4096;
    // Only the items inside this rectangle of tiles, when given.
    std::optional<TileArea> Area;
};

struct ByteRange {
    std::uint64_t Begin = 0;
    std::uint64_t End = 0;

    bool operator==(const ByteRange&) const = default;
};

// One object a freeze takes: the block of its position, and in Item its
// graphic, its offsets in the block (x mod 8, y mod 8), its altitude and hue.
struct FrozenObject {
    std::uint16_t XBlock = 0;
    std::uint16_t YBlock = 0;
    TStaticItem Item;

    bool operator==(const FrozenObject&) const = default;
};

// A file that loses records, with its bytes as they were read.
struct FreezeFile {
    std::string Path;
    std::string Bytes;
    std::vector<ByteRange> Records; // every record cut, in file order
    // Of those, the copies cut with an object taken from another record of
    // their serial (an export leaves them out), in file order.
    std::vector<ByteRange> Copies;
};

struct FreezeSelection {
    std::vector<FrozenObject> Objects; // in reading order
    std::vector<FreezeFile> Files; // only files that lose records, in reading order
    // One line for every Type 255 item left behind, saying why, in reading order.
    std::vector<std::string> NotFrozen;
    // What else the log says about the items taken, in reading order: one
    // taken at the server's default position, one serial's several records.
    std::vector<std::string> Notes;
    // For each serial that several records carry, one of them Type 255: what
    // a freeze does with them.
    std::map<std::uint32_t, std::string> SerialOutcomes;
    // Type 255 items on the ground of the map's world at x = 0, which the
    // server drops at its next save, as "[ITEM] Serial=... in FILE, line N".
    std::vector<std::string> AtXZero;
    // Type 255 items of the map left because they lie outside the area.
    std::uint64_t OutsideArea = 0;
    // Type 255 items on the ground of other worlds, counted by world.
    std::map<std::uint32_t, std::uint64_t> OtherWorlds;
    // What a selector that collects refusals would have refused, in reading order.
    std::vector<Error> Refused;
};

// Takes every [ITEM] record whose Type reads 255, that lies on the ground
// (Cont absent or 0xFFFFFFFF), in the map's world and its first instance
// (Location's fifth field absent or 0), in no house or boat (MultiID absent
// or 0xFFFFFFFF) and holds no other item (no record's Cont is its serial: its
// contents would be lost). An item without a position is taken where the
// server puts it, at 100,100.
//
// Of several records with one serial the server keeps one object, from the
// last record it loads: the object is taken from that record when it is one
// to take, and every Type 255 [ITEM] record on the ground with that serial is
// cut; when it is not, no record of that serial is taken or cut.
//
// Refused, naming the file and line: a byte-order mark (it hides the first
// record from the server), a line too long for the server, and a value it
// cannot load in any Type 255 item; in an item to be taken, a missing Serial,
// a graphic or hue above 0xFFFF, a position off the map, an altitude outside
// -128..127, and a missing "o---o" line in it or in the record before it (the
// server reads such records as one), which also holds for a copy to be cut.
class FreezeSelector {
public:
    // A selector that collects refusals (for a check of the files) goes on
    // past each one, leaving its item, instead of raising the first; it counts
    // the items of other worlds without naming each.
    explicit FreezeSelector(const FreezeMap& map, bool collectRefusals = false)
        : map_(map)
        , collect_(collectRefusals)
    {
    }

    // Adds the next file in reading order. The bytes are taken, leaving the
    // argument empty, only when the file holds Type 255 items; otherwise the
    // caller may reuse them for the next file.
    void AddFile(const std::string& path, std::string& bytes);

    // Decides every Type 255 item once all files are in.
    FreezeSelection Finish();

private:
    struct Candidate {
        std::size_t File = 0;
        SaveRecord Record;
        RecordValues Values;
        std::uint32_t OpenBefore = 0; // line of an unterminated record just before
    };
    struct PendingFile {
        std::string Path;
        std::string Name;
        std::string Bytes;
        std::uint32_t Order = 0; // among all files added
    };
    // Where a record with a serial lies, in reading order.
    struct SerialPlace {
        std::uint32_t Serial = 0;
        std::uint32_t File = 0; // among all files added
        std::uint32_t Line = 0;
    };
    struct Outcome;

    // What becomes of the candidate, the record the server keeps of its serial.
    Outcome Decide(const Candidate& candidate, FreezeSelection& selection) const;
    // Whether the candidate's record, a copy of a kept one, is cut with it.
    Outcome DecideCopy(const Candidate& candidate, const SerialPlace& kept, bool keptTaken) const;
    // Raises the error, or records it when collecting.
    void Refuse(const Error& error);
    std::string PlaceText(const SerialPlace& place) const;

    FreezeMap map_;
    bool collect_ = false;
    std::vector<Error> refused_;
    std::deque<PendingFile> files_; // a deque: candidates point into the bytes
    std::vector<Candidate> candidates_;
    std::vector<std::uint32_t> containers_; // every Cont that is not the ground
    std::vector<std::string> names_; // of every file added
    std::vector<SerialPlace> serials_; // of every record with a serial
    std::vector<SerialLine> fileSerials_; // reused for each file read line by line
};

// Reads the files, each once and whole, in the given order and selects.
FreezeSelection SelectForFreeze(const std::vector<std::string>& paths, const FreezeMap& map);

// The objects of one block, in reading order.
struct BlockObjects {
    std::uint16_t XBlock = 0;
    std::uint16_t YBlock = 0;
    std::vector<TStaticItem> Items;

    bool operator==(const BlockObjects&) const = default;
};

// The objects grouped by block, blocks in X-major order.
std::vector<BlockObjects> ObjectsByBlock(const std::vector<FrozenObject>& objects);

// The bytes without the ranges, which are in ascending order and do not
// overlap; every other byte stays as it was.
std::string WithoutRanges(std::string_view bytes, const std::vector<ByteRange>& ranges);

} // namespace cryo
