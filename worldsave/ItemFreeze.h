#pragma once

#include "Error.h"
#include "ItemRecords.h"
#include "MapArea.h"
#include "StaticBlock.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What a freeze of one map takes out of [ITEM] world files, and the files'
// new bytes without it. Every Type 255 [ITEM] record is decided here, before
// anything is written: it is taken, left with a reason for the log, or the
// freeze is refused with an Error that names its file and line.
namespace cryo {

class BackgroundJob;

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

// A file that loses records. Its bytes are not kept: a freeze reads the
// file again when it writes the rest, so that a selection holds no more than
// one file at a time whatever the folder's size.
struct FreezeFile {
    std::string Path;
    std::uint64_t Size = 0; // when it was read
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
    // For a selector that collects refusals: the serial of every record that
    // has one, file by file in reading order, and the names of the files.
    std::vector<std::vector<SerialLine>> Serials;
    std::vector<std::string> FileNames;
    // Where a record with a serial lies: File in FileNames.
    struct SerialPlace {
        std::uint32_t Serial = 0;
        std::uint32_t File = 0;
        std::uint32_t Line = 0;
    };
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
    explicit FreezeSelector(const FreezeMap& map, bool collectRefusals = false);
    FreezeSelector(const FreezeSelector&) = delete;
    FreezeSelector& operator=(const FreezeSelector&) = delete;
    ~FreezeSelector();

    // Reads the whole file into bytes, whose memory is reused; a large one in
    // two halves, on two threads. An error names the file.
    void ReadFile(const std::string& path, std::string& bytes);

    // Adds the next file in reading order. A large file is read in two
    // halves, on two threads. Nothing of its bytes is kept: the
    // caller may reuse them for the next file.
    void AddFile(const std::string& path, std::string_view bytes);

    // Decides every Type 255 item once all files are in. A selector that does
    // not collect refusals reads every file once more for the records that
    // share a serial with an item or lie in one, so that what it holds grows
    // with the items rather than with the folder; the files with items it
    // reads again for their records' values.
    FreezeSelection Finish();

private:
    // A Type 255 record: where it lies, and what deciding its serial needs.
    // Its values are read again from its file when it is decided, so that
    // thousands of them take little memory.
    struct Candidate {
        std::uint64_t Begin = 0;
        std::uint64_t End = 0;
        std::uint32_t File = 0; // in files_
        std::uint32_t Line = 0;
        std::uint32_t OpenBefore = 0; // line of an unterminated record just before
        ServerNumber Serial;
        RecordKind Kind = RecordKind::Other;
        bool Terminated = false;
    };
    struct PendingFile {
        std::string Path;
        std::string Name;
        std::uint64_t Size = 0;
        std::uint32_t Order = 0; // among all files added
    };
    // A candidate's record read again alone, its lines as in its file.
    struct ReadCandidate {
        std::string_view Section;
        RecordValues Values;
    };
    // Where a record with a serial lies, in reading order; File counts all files added.
    using SerialPlace = FreezeSelection::SerialPlace;
    struct Outcome;

    // The candidate's bytes, its file read again when it is not the one loaded.
    std::string_view TextOf(const Candidate& candidate);
    ReadCandidate ValuesOf(const Candidate& candidate, std::string_view text) const;
    // What becomes of the candidate, the record the server keeps of its serial.
    Outcome Decide(const Candidate& candidate, std::string_view text, FreezeSelection& selection) const;
    // Whether the candidate's record, a copy of a kept one, is cut with it.
    Outcome DecideCopy(
        const Candidate& candidate, std::string_view text, const SerialPlace& kept, bool keptTaken) const;
    // The containers and serials that the candidates' serials need, read again from every file.
    void ReadOwners(const std::vector<std::uint32_t>& serials);
    // Runs first, and second beside it on a second thread when the bytes are
    // cut at split (else only first).
    void Halves(std::size_t split, const std::function<void()>& second, const std::function<void()>& first);
    // Raises the error, or records it when collecting.
    void Refuse(const Error& error);
    std::string PlaceText(const SerialPlace& place) const;

    FreezeMap map_;
    bool collect_ = false;
    std::vector<Error> refused_;
    std::vector<PendingFile> files_; // those with candidates
    std::deque<Candidate> candidates_; // a deque: no copy of them all as it grows
    std::vector<std::uint32_t> containers_; // every Cont that is not the ground (a freeze's: of candidates)
    std::vector<std::string> paths_; // of every file added
    std::vector<std::string> names_;
    std::vector<std::uint64_t> sizes_;
    // The serial of every record that has one (a freeze's: of candidates), file by file.
    std::vector<std::vector<SerialLine>> serials_;
    std::vector<SerialLine> fileSerials_; // reused for each file read line by line
    std::string text_; // the file last read again
    std::size_t loaded_ = SIZE_MAX; // in files_, the one text_ holds
    std::unique_ptr<BackgroundJob> helper_; // made for the first file read in halves
};

// Reads the files, each once and whole, in the given order and selects.
FreezeSelection SelectForFreeze(const std::vector<std::string>& paths, const FreezeMap& map);

// A selected file's bytes for its rewrite, read again into bytes; a file of
// another size than when it was selected has changed meanwhile.
void ReadSelectedFile(const FreezeFile& file, std::string& bytes);

// The objects of one block, in reading order.
struct BlockObjects {
    std::uint16_t XBlock = 0;
    std::uint16_t YBlock = 0;
    std::vector<TStaticItem> Items;

    bool operator==(const BlockObjects&) const = default;
};

// The objects grouped by block, blocks in X-major order.
std::vector<BlockObjects> ObjectsByBlock(const std::vector<FrozenObject>& objects);

// Removes the ranges, which are in ascending order and do not overlap, from
// the bytes; every other byte stays as it was.
void RemoveRanges(std::string& bytes, const std::vector<ByteRange>& ranges);

} // namespace cryo
