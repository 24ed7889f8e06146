#include "ItemFreeze.h"

#include "Error.h"
#include "ItemSaveFiles.h"
#include "ItemValues.h"

#include <algorithm>
#include <cstdio>
#include <optional>

namespace cryo {

namespace {

constexpr std::uint32_t NoSerial = 0xFFFFFFFF; // the ground, or no house or boat

std::string FileName(const std::string& path)
{
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A numeric key's value, or fallback when the record has no such key.
std::uint32_t ValueOr(const KeyValue& key, std::uint32_t fallback)
{
    return key.Present() ? NumberOf(key) : fallback;
}

} // namespace

struct FreezeSelector::Outcome {
    enum class Kind { Left, Taken, Cut };
    Kind What = Kind::Left;
    std::string Line; // why an item is left; empty when it is not named
    FrozenObject Object; // of an item taken
    std::string Note; // of an item taken at the server's default position
};

void FreezeSelector::AddFile(const std::string& path, std::string& bytes)
{
    const auto order = static_cast<std::uint32_t>(names_.size());
    names_.push_back(FileName(path));
    // Most files hold no Type 255 item: only their containers and serials matter.
    fileSerials_.clear();
    if (ReferencesOnly(bytes, containers_, fileSerials_)) {
        for (const SerialLine& serial : fileSerials_)
            serials_.push_back({serial.Serial, order, serial.Line});
        return;
    }
    // The bytes move to their place first: the candidates point into them.
    const std::size_t file = files_.size();
    PendingFile& pending = files_.emplace_back(PendingFile{path, names_.back(), std::move(bytes), order});
    const RecordScan scan = ScanRecords(pending.Bytes);
    bytes.clear();
    if (scan.ByteOrderMark)
        Refuse(ErrorAtLine(path, 1, ByteOrderMarkText));
    if (scan.LongLine.Line != 0)
        Refuse(ErrorAtLine(path, scan.LongLine.Line, LongLineText(scan)));
    bool keep = false;
    for (std::size_t i = 0; i < scan.Records.size(); ++i) {
        const SaveRecord& record = scan.Records[i];
        if (record.Cont.IsNumber() && record.Cont.Value != NoSerial)
            containers_.push_back(record.Cont.Value);
        if (record.Serial.IsNumber())
            serials_.push_back({record.Serial.Value, order, record.Line});
        if (record.Kind == RecordKind::Character || record.Details < 0)
            continue;
        const RecordValues& values = scan.Details[static_cast<std::size_t>(record.Details)];
        if (record.Kind == RecordKind::Item && values.Unreadable.Present()) {
            Refuse(ErrorAtLine(path, values.Unreadable.Line,
                "The server cannot load " + values.Unreadable.Text() + ": " + std::string(values.UnreadableProblem)));
            continue;
        }
        const std::uint32_t openBefore = i > 0 && !scan.Records[i - 1].Terminated ? scan.Records[i - 1].Line : 0;
        candidates_.push_back({file, record, values, openBefore});
        keep = true;
    }
    if (!keep)
        bytes.swap(pending.Bytes);
}

namespace {

// The record as the log names it: "[ITEM] Serial=0x40000001 in 0.0.wsc, line 8".
std::string RecordText(const SaveRecord& record, const RecordValues& values, const std::string& file)
{
    return std::string(record.Section) + (values.Serial.Present() ? " " + values.Serial.Text() : std::string()) + " in "
        + file + ", line " + std::to_string(record.Line);
}

std::string SerialText(std::uint32_t serial)
{
    char text[24];
    std::snprintf(text, sizeof text, "Serial=0x%x", static_cast<unsigned>(serial));
    return text;
}

// Raises where cutting the record out would leave or swallow another's lines.
void CheckCut(const std::string& path, const SaveRecord& record, std::uint32_t openBefore, std::size_t fileSize)
{
    if (!record.Terminated)
        RaiseAtLine(path, record.Line,
            record.End == fileSize ? "This Type 255 item has no o---o line before the end of the file"
                                   : "This Type 255 item has no o---o line: the server reads the next record into it");
    if (openBefore != 0)
        RaiseAtLine(path, record.Line,
            "The record before this Type 255 item (line " + std::to_string(openBefore)
                + ") has no o---o line: the server reads the item into it");
}

} // namespace

std::string FreezeSelector::PlaceText(const SerialPlace& place) const
{
    return names_[place.File] + ", line " + std::to_string(place.Line);
}

FreezeSelector::Outcome FreezeSelector::Decide(const Candidate& candidate, FreezeSelection& selection) const
{
    const PendingFile& file = files_[candidate.File];
    const SaveRecord& record = candidate.Record;
    const RecordValues& values = candidate.Values;
    auto leave = [&](const std::string& reason) {
        return Outcome{
            Outcome::Kind::Left, "Not frozen: " + RecordText(record, values, file.Name) + " " + reason, {}, {}};
    };
    if (record.Kind != RecordKind::Item)
        return leave("is not an [ITEM] record");
    if (ValueOr(values.Cont, NoSerial) != NoSerial)
        return leave("is inside a container or worn (" + values.Cont.Text() + ")");
    const ItemPosition position = PositionOf(values);
    if (position.World != map_.World) {
        ++selection.OtherWorlds[position.World];
        if (collect_)
            return {};
        return leave("is in world " + std::to_string(position.World));
    }
    if (position.X == 0)
        selection.AtXZero.push_back(RecordText(record, values, file.Name));
    if (position.Instance != 0)
        return leave("is in instance " + std::to_string(position.Instance) + " of its world, not in the map itself");
    if (ValueOr(values.MultiId, NoSerial) != NoSerial)
        return leave("belongs to a house or boat (" + values.MultiId.Text() + ")");
    if (map_.Area
        && (position.X < map_.Area->X1 || position.X > map_.Area->X2 || position.Y < map_.Area->Y1
            || position.Y > map_.Area->Y2)) {
        ++selection.OutsideArea;
        return {};
    }
    if (!values.Serial.Present())
        RaiseAtLine(file.Path, record.Line, "This Type 255 item has no Serial: the server does not load it");
    if (std::binary_search(containers_.begin(), containers_.end(), record.Serial.Value))
        return leave("contains other items");

    CheckCut(file.Path, record, candidate.OpenBefore, file.Bytes.size());
    const std::uint32_t id = ValueOr(values.Id, 0);
    if (id > 0xFFFF)
        RaiseAtLine(file.Path, values.Id.Line, values.Id.Text() + " is above 0xFFFF, the highest graphic");
    const std::uint32_t hue = ValueOr(values.Colour, 0);
    if (hue > 0xFFFF)
        RaiseAtLine(file.Path, values.Colour.Line, values.Colour.Text() + " is above 0xFFFF, the highest hue");
    if (position.X >= map_.WidthTiles || position.Y >= map_.HeightTiles) {
        const std::uint32_t line = position.X >= map_.WidthTiles ? position.XLine : position.YLine;
        RaiseAtLine(file.Path, line != 0 ? line : record.Line,
            "This Type 255 item lies at " + std::to_string(position.X) + "," + std::to_string(position.Y)
                + ", off the map of " + std::to_string(map_.WidthTiles) + " x " + std::to_string(map_.HeightTiles)
                + " tiles");
    }
    if (position.Z < -128 || position.Z > 127)
        RaiseAtLine(file.Path, position.ZLine,
            "This Type 255 item lies at altitude " + std::to_string(position.Z) + ", outside -128..127");

    Outcome taken{Outcome::Kind::Taken, {},
        {static_cast<std::uint16_t>(position.X / 8), static_cast<std::uint16_t>(position.Y / 8),
            {static_cast<std::uint16_t>(id), static_cast<std::uint8_t>(position.X % 8),
                static_cast<std::uint8_t>(position.Y % 8), static_cast<std::int8_t>(position.Z),
                static_cast<std::uint16_t>(hue)}},
        {}};
    if (position.XLine == 0 || position.YLine == 0)
        taken.Note = RecordText(record, values, file.Name) + " has no Location: frozen at " + std::to_string(position.X)
            + "," + std::to_string(position.Y) + ", where the server places it";
    return taken;
}

FreezeSelector::Outcome FreezeSelector::DecideCopy(
    const Candidate& candidate, const SerialPlace& kept, bool keptTaken) const
{
    const PendingFile& file = files_[candidate.File];
    const SaveRecord& record = candidate.Record;
    if (keptTaken && record.Kind == RecordKind::Item && ValueOr(candidate.Values.Cont, NoSerial) == NoSerial) {
        CheckCut(file.Path, record, candidate.OpenBefore, file.Bytes.size());
        return {Outcome::Kind::Cut, {}, {}, {}};
    }
    return {Outcome::Kind::Left,
        "Not frozen: " + RecordText(record, candidate.Values, file.Name)
            + " is dropped by the server, which keeps the later record with this serial in " + PlaceText(kept),
        {}, {}};
}

FreezeSelection FreezeSelector::Finish()
{
    std::sort(containers_.begin(), containers_.end());
    containers_.erase(std::unique(containers_.begin(), containers_.end()), containers_.end());

    // The record the server keeps of each candidate's serial: the last it loads.
    std::vector<std::uint32_t> wanted;
    for (const Candidate& candidate : candidates_)
        if (candidate.Record.Serial.IsNumber())
            wanted.push_back(candidate.Record.Serial.Value);
    std::sort(wanted.begin(), wanted.end());
    wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
    std::vector<SerialPlace> kept(wanted.size());
    std::vector<std::uint32_t> records(wanted.size());
    for (const SerialPlace& place : serials_) {
        const auto found = std::lower_bound(wanted.begin(), wanted.end(), place.Serial);
        if (found != wanted.end() && *found == place.Serial) {
            const auto k = static_cast<std::size_t>(found - wanted.begin());
            kept[k] = place;
            ++records[k];
        }
    }
    auto groupOf = [&](const Candidate& candidate) -> std::optional<std::size_t> {
        if (!candidate.Record.Serial.IsNumber())
            return std::nullopt;
        const auto k = static_cast<std::size_t>(
            std::lower_bound(wanted.begin(), wanted.end(), candidate.Record.Serial.Value) - wanted.begin());
        return records[k] > 1 ? std::optional(k) : std::nullopt;
    };
    auto isKept = [&](const Candidate& candidate, std::size_t k) {
        return kept[k].File == files_[candidate.File].Order && kept[k].Line == candidate.Record.Line;
    };

    // The kept records are decided first, then their copies.
    FreezeSelection selection;
    std::vector<Outcome> outcomes(candidates_.size());
    std::vector<bool> keptTaken(wanted.size());
    for (int pass = 0; pass < 2; ++pass) {
        for (std::size_t i = 0; i < candidates_.size(); ++i) {
            const Candidate& candidate = candidates_[i];
            const std::optional<std::size_t> group = groupOf(candidate);
            const bool copy = group && !isKept(candidate, *group);
            if (copy != (pass == 1))
                continue;
            try {
                outcomes[i]
                    = copy ? DecideCopy(candidate, kept[*group], keptTaken[*group]) : Decide(candidate, selection);
            } catch (const Error& error) {
                Refuse(error);
            }
            if (group && !copy)
                keptTaken[*group] = outcomes[i].What == Outcome::Kind::Taken;
        }
    }

    // A record of the serial that the freeze leaves (no Type 255 item on the
    // ground) would be loaded in place of the frozen one, which would then
    // stand twice: such a serial is not frozen at all.
    std::vector<std::uint32_t> goes(wanted.size());
    for (std::size_t i = 0; i < candidates_.size(); ++i)
        if (const std::optional<std::size_t> group = groupOf(candidates_[i]))
            goes[*group] += outcomes[i].What != Outcome::Kind::Left;
    for (std::size_t i = 0; i < candidates_.size(); ++i) {
        const std::optional<std::size_t> group = groupOf(candidates_[i]);
        if (!group || !keptTaken[*group] || goes[*group] == records[*group])
            continue;
        const Candidate& candidate = candidates_[i];
        outcomes[i] = isKept(candidate, *group)
            ? Outcome{Outcome::Kind::Left,
                "Not frozen: " + RecordText(candidate.Record, candidate.Values, files_[candidate.File].Name)
                    + ": the server would load another record with this serial, which is no Type 255 item on the"
                      " ground, in its place",
                {}, {}}
            : DecideCopy(candidate, kept[*group], false);
    }
    for (std::size_t k = 0; k < wanted.size(); ++k)
        keptTaken[k] = keptTaken[k] && goes[k] == records[k];

    std::vector<std::uint32_t> removed(wanted.size());
    std::vector<std::vector<ByteRange>> taken(files_.size());
    std::vector<std::vector<ByteRange>> copies(files_.size());
    for (std::size_t i = 0; i < candidates_.size(); ++i) {
        const Candidate& candidate = candidates_[i];
        const ByteRange range{candidate.Record.Begin, candidate.Record.End};
        if (outcomes[i].What != Outcome::Kind::Left)
            if (const std::optional<std::size_t> group = groupOf(candidate))
                ++removed[*group];
        if (outcomes[i].What == Outcome::Kind::Cut)
            copies[candidate.File].push_back(range);
        if (outcomes[i].What != Outcome::Kind::Left)
            taken[candidate.File].push_back(range);
    }
    for (std::size_t i = 0; i < candidates_.size(); ++i) {
        Outcome& outcome = outcomes[i];
        if (outcome.What == Outcome::Kind::Left && !outcome.Line.empty())
            selection.NotFrozen.push_back(std::move(outcome.Line));
        if (outcome.What != Outcome::Kind::Taken)
            continue;
        selection.Objects.push_back(outcome.Object);
        if (!outcome.Note.empty())
            selection.Notes.push_back(std::move(outcome.Note));
        const std::optional<std::size_t> group = groupOf(candidates_[i]);
        if (group && removed[*group] > 1)
            selection.Notes.push_back(SerialText(wanted[*group]) + ": frozen once, from " + PlaceText(kept[*group])
                + ", the record the server keeps; " + std::to_string(removed[*group])
                + " records with this serial removed");
    }
    for (std::size_t k = 0; k < wanted.size(); ++k) {
        if (records[k] < 2)
            continue;
        selection.SerialOutcomes[wanted[k]] = keptTaken[k]
            ? "a freeze takes the one in " + PlaceText(kept[k]) + ", which the server keeps, and removes "
                + std::to_string(removed[k]) + (removed[k] == 1 ? " record" : " records")
            : "a freeze takes none: the server keeps the one in " + PlaceText(kept[k]) + ", which a freeze leaves";
    }

    for (std::size_t i = 0; i < files_.size(); ++i) {
        if (taken[i].empty())
            continue;
        selection.Files.push_back(
            {files_[i].Path, std::move(files_[i].Bytes), std::move(taken[i]), std::move(copies[i])});
    }
    files_.clear();
    candidates_.clear();
    containers_.clear();
    names_.clear();
    serials_.clear();
    selection.Refused = std::move(refused_);
    refused_.clear();
    return selection;
}

void FreezeSelector::Refuse(const Error& error)
{
    if (!collect_)
        throw error;
    refused_.push_back(error);
}

FreezeSelection SelectForFreeze(const std::vector<std::string>& paths, const FreezeMap& map)
{
    FreezeSelector selector(map);
    std::string bytes; // reused for every file that is not kept
    for (const std::string& path : paths) {
        ReadWholeFile(path, bytes);
        selector.AddFile(path, bytes);
    }
    return selector.Finish();
}

std::vector<BlockObjects> ObjectsByBlock(const std::vector<FrozenObject>& objects)
{
    std::vector<FrozenObject> sorted = objects;
    std::stable_sort(sorted.begin(), sorted.end(), [](const FrozenObject& a, const FrozenObject& b) {
        return a.XBlock != b.XBlock ? a.XBlock < b.XBlock : a.YBlock < b.YBlock;
    });
    std::vector<BlockObjects> blocks;
    for (const FrozenObject& object : sorted) {
        if (blocks.empty() || blocks.back().XBlock != object.XBlock || blocks.back().YBlock != object.YBlock)
            blocks.push_back({object.XBlock, object.YBlock, {}});
        blocks.back().Items.push_back(object.Item);
    }
    return blocks;
}

std::string WithoutRanges(std::string_view bytes, const std::vector<ByteRange>& ranges)
{
    std::string result;
    std::uint64_t total = 0;
    for (const ByteRange& range : ranges)
        total += range.End - range.Begin;
    result.reserve(bytes.size() - total);
    std::uint64_t at = 0;
    for (const ByteRange& range : ranges) {
        result.append(bytes.substr(at, range.Begin - at));
        at = range.End;
    }
    result.append(bytes.substr(at));
    return result;
}

} // namespace cryo
