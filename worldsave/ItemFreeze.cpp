#include "ItemFreeze.h"

#include "Error.h"
#include "ItemSaveFiles.h"
#include "ItemValues.h"

#include <algorithm>

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

void FreezeSelector::AddFile(const std::string& path, std::string& bytes)
{
    // Most files hold no Type 255 item: only their containers matter.
    if (ContainersOnly(bytes, containers_))
        return;
    // The bytes move to their place first: the candidates point into them.
    const std::size_t file = files_.size();
    PendingFile& pending = files_.emplace_back(PendingFile{path, FileName(path), std::move(bytes)});
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

void FreezeSelector::Decide(
    const Candidate& candidate, FreezeSelection& selection, std::vector<std::vector<ByteRange>>& taken) const
{
    const PendingFile& file = files_[candidate.File];
    const SaveRecord& record = candidate.Record;
    const RecordValues& values = candidate.Values;
    auto leave = [&](const std::string& reason) {
        selection.NotFrozen.push_back("Not frozen: " + std::string(record.Section)
            + (values.Serial.Present() ? " " + values.Serial.Text() : std::string()) + " in " + file.Name + ", line "
            + std::to_string(record.Line) + " " + reason);
    };
    if (record.Kind != RecordKind::Item) {
        leave("is not an [ITEM] record");
        return;
    }
    if (ValueOr(values.Cont, NoSerial) != NoSerial) {
        leave("is inside a container or worn (" + values.Cont.Text() + ")");
        return;
    }
    const ItemPosition position = PositionOf(values);
    if (position.World != map_.World) {
        leave("is in world " + std::to_string(position.World));
        return;
    }
    if (ValueOr(values.MultiId, NoSerial) != NoSerial) {
        leave("belongs to a house or boat (" + values.MultiId.Text() + ")");
        return;
    }
    if (!values.Serial.Present())
        RaiseAtLine(file.Path, record.Line, "This Type 255 item has no Serial: the server does not load it");
    if (std::binary_search(containers_.begin(), containers_.end(), record.Serial.Value)) {
        leave("contains other items");
        return;
    }

    if (!record.Terminated)
        RaiseAtLine(file.Path, record.Line,
            record.End == file.Bytes.size()
                ? "This Type 255 item has no o---o line before the end of the file"
                : "This Type 255 item has no o---o line: the server reads the next record into it");
    if (candidate.OpenBefore != 0)
        RaiseAtLine(file.Path, record.Line,
            "The record before this Type 255 item (line " + std::to_string(candidate.OpenBefore)
                + ") has no o---o line: the server reads the item into it");
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

    selection.Objects.push_back({static_cast<std::uint16_t>(position.X / 8), static_cast<std::uint16_t>(position.Y / 8),
        {static_cast<std::uint16_t>(id), static_cast<std::uint8_t>(position.X % 8),
            static_cast<std::uint8_t>(position.Y % 8), static_cast<std::int8_t>(position.Z),
            static_cast<std::uint16_t>(hue)}});
    taken[candidate.File].push_back({record.Begin, record.End});
}

FreezeSelection FreezeSelector::Finish()
{
    std::sort(containers_.begin(), containers_.end());
    containers_.erase(std::unique(containers_.begin(), containers_.end()), containers_.end());

    FreezeSelection selection;
    std::vector<std::vector<ByteRange>> taken(files_.size());
    for (const Candidate& candidate : candidates_) {
        try {
            Decide(candidate, selection, taken);
        } catch (const Error& error) {
            Refuse(error);
        }
    }

    for (std::size_t i = 0; i < files_.size(); ++i)
        if (!taken[i].empty())
            selection.Files.push_back({files_[i].Path, std::move(files_[i].Bytes), std::move(taken[i])});
    files_.clear();
    candidates_.clear();
    containers_.clear();
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
