#include "ItemFreeze.h"

#include "BackgroundJob.h"
#include "Error.h"
#include "File.h"
#include "ItemSaveFiles.h"
#include "ItemValues.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>

namespace cryo {

namespace {

constexpr std::uint32_t NoSerial = 0xFFFFFFFF; // the ground, or no house or boat

std::string FileName(const std::string& path)
{
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A coordinate as the save gives it: a negative one was read as a number past 2^31.
std::string CoordinateText(std::uint32_t value)
{
    return std::to_string(static_cast<std::int32_t>(value));
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

FreezeSelector::FreezeSelector(const FreezeMap& map, bool collectRefusals)
    : map_(map)
    , collect_(collectRefusals)
{
}

FreezeSelector::~FreezeSelector() = default;

namespace {

// Where a file's bytes are cut for two threads: the beginning of a section
// line near the middle, so that each half holds whole records and a record
// open at the cut ends there as the section line would end it; 0 to read the
// file on one thread.
std::size_t SplitPoint(std::string_view bytes)
{
    constexpr std::size_t Smallest = 256 * 1024;
    if (bytes.size() < Smallest)
        return 0;
    const std::size_t lf = bytes.find("\n[", bytes.size() / 2);
    return lf == std::string_view::npos ? 0 : lf + 1;
}

} // namespace

void FreezeSelector::Halves(std::size_t split, const std::function<void()>& second, const std::function<void()>& first)
{
    if (split == 0) {
        first();
        return;
    }
    if (!helper_)
        helper_ = std::make_unique<BackgroundJob>();
    helper_->Both(second, first);
}

void FreezeSelector::ReadFile(const std::string& path, std::string& bytes)
{
    try {
        File first = File::OpenForReading(path);
        const auto size = static_cast<std::size_t>(first.Size());
        if (size < 2 * 256 * 1024) {
            ReadWholeFile(path, bytes);
            return;
        }
        // The second half beside the first: copying the bytes is a good part of the work.
        bytes.resize(size);
        const std::size_t half = size / 2;
        auto readInto = [&bytes](File& file, std::size_t from, std::size_t to) {
            while (from < to) {
                const std::size_t got = file.ReadSome(bytes.data() + from, to - from);
                if (got == 0)
                    break;
                from += got;
            }
            return from;
        };
        std::size_t firstEnd = 0;
        std::size_t secondEnd = 0;
        Halves(
            1,
            [&] {
                try {
                    File second = File::OpenForReading(path);
                    second.Seek(static_cast<std::int64_t>(half));
                    secondEnd = readInto(second, half, size);
                    // A file that grew meanwhile is read to its end.
                    char chunk[65536];
                    if (secondEnd == size)
                        while (const std::size_t got = second.ReadSome(chunk, sizeof chunk))
                            bytes.append(chunk, got);
                } catch (const Error&) {
                    secondEnd = 0; // read again as a whole, which names what fails
                }
            },
            [&] { firstEnd = readInto(first, 0, half); });
        if (firstEnd != half || secondEnd != size)
            ReadWholeFile(path, bytes); // cut short meanwhile: read as a whole
    } catch (Error& error) {
        error.SetFile(path);
        throw;
    }
}

void FreezeSelector::AddFile(const std::string& path, std::string_view bytes)
{
    const auto order = static_cast<std::uint32_t>(names_.size());
    paths_.push_back(path);
    names_.push_back(FileName(path));
    sizes_.push_back(bytes.size());
    const std::size_t split = SplitPoint(bytes);
    const std::string_view first = bytes.substr(0, split == 0 ? bytes.size() : split);
    const std::string_view second = bytes.substr(first.size());
    const auto file = static_cast<std::uint32_t>(files_.size());
    // What each half gives; the second's lines are counted from its own beginning.
    struct Part {
        std::vector<Candidate> Candidates;
        std::vector<SerialLine> Serials;
        std::vector<std::uint32_t> Containers;
        std::vector<std::pair<std::uint32_t, std::string>>
            Unreadable; // line and text, refused after the file's own faults
        RecordScan Scan;
        bool Any = false; // a record
        bool FirstIsCandidate = false;
        std::uint32_t LastLine = 0;
        bool LastTerminated = true;
    };
    // A record read whole; its containers and serial too unless they are known.
    auto addRecord = [&](const SaveRecord& record, const RecordValues* values, std::uint64_t offset, Part& out,
                         bool references) {
        const bool firstRecord = !out.Any;
        out.Any = true;
        out.LastLine = record.Line;
        out.LastTerminated = record.Terminated;
        if (references) {
            if (record.Cont.IsNumber() && record.Cont.Value != NoSerial)
                out.Containers.push_back(record.Cont.Value);
            if (record.Serial.IsNumber())
                out.Serials.push_back({record.Serial.Value, record.Line});
        }
        if (record.Kind == RecordKind::Character || values == nullptr)
            return;
        if (record.Kind == RecordKind::Item && values->Unreadable.Present()) {
            out.Unreadable.emplace_back(values->Unreadable.Line,
                "The server cannot load " + values->Unreadable.Text() + ": " + std::string(values->UnreadableProblem));
            return;
        }
        out.FirstIsCandidate = out.FirstIsCandidate || firstRecord;
        out.Candidates.push_back({record.Begin + offset, record.End + offset, file, record.Line, record.OpenBefore,
            record.Serial, record.Kind, record.Terminated});
    };
    auto scanPart = [&](std::string_view part, std::uint64_t offset, Part& out) {
        out.Scan = ScanRecords(part, [&](const SaveRecord& record, const RecordValues* values) {
            addRecord(record, values, offset, out, collect_);
        });
    };
    // Only the records passed over for a Type line that reads 255, each read
    // alone from its section line to the next.
    auto readPassed = [&](std::string_view part, std::uint64_t offset, const PassedFile& passed, Part& out) {
        for (const PassedFile::RecordStart& start : passed.Type255) {
            const std::size_t next = part.find("\n[", start.Begin);
            const std::string_view text = part.substr(
                start.Begin, next == std::string_view::npos ? std::string_view::npos : next + 1 - start.Begin);
            ScanRecords(text, [&](SaveRecord record, const RecordValues* values) {
                record.Begin += start.Begin;
                record.End += start.Begin;
                record.Line = start.Line;
                record.OpenBefore = start.OpenBefore;
                std::optional<RecordValues> placed;
                if (values != nullptr) {
                    placed = *values;
                    if (placed->Unreadable.Present())
                        placed->Unreadable.Line += start.Line - 1;
                }
                addRecord(record, placed ? &*placed : nullptr, offset, out, false);
            });
        }
        // The second part begins with a section line.
        out.FirstIsCandidate = !out.Candidates.empty() && out.Candidates.front().Line == 1 && part.starts_with('[');
        out.Any = passed.LastLine != 0;
        out.LastLine = passed.LastLine;
        out.LastTerminated = !passed.LastOpen;
        out.Scan.Lines = passed.Lines;
    };
    Part one;
    Part two;
    // A check keeps the file's serials, the second half's lines counted on from the first's.
    auto keepSerials
        = [&](const std::vector<SerialLine>& first, const std::vector<SerialLine>& second, std::uint32_t lines) {
              std::vector<SerialLine>& serials = serials_.emplace_back();
              serials.reserve(first.size() + second.size());
              serials.assign(first.begin(), first.end());
              for (const SerialLine& serial : second)
                  serials.push_back({serial.Serial, serial.Line + lines});
          };

    // Most files hold no Type 255 item: a check needs only their containers
    // and serials, a freeze nothing yet. Of the others only the Type 255
    // records are read whole.
    if (!collect_) {
        bool may = false;
        bool secondMay = false;
        Halves(
            split, [&] { secondMay = MayHoldType255(second); }, [&] { may = MayHoldType255(first); });
        if (!may && !secondMay)
            return;
    }
    const std::size_t containersBefore = containers_.size();
    std::vector<std::uint32_t> secondContainers;
    std::vector<SerialLine> secondSerials;
    fileSerials_.clear();
    PassedFile passedFirst;
    PassedFile passedSecond;
    bool alone = false;
    bool secondAlone = true;
    Halves(
        split, [&] { secondAlone = ReferencesPassing(second, secondContainers, secondSerials, passedSecond); },
        [&] { alone = ReferencesPassing(first, containers_, fileSerials_, passedFirst); });
    const bool passedOver = alone && secondAlone;
    if (passedOver && collect_) {
        containers_.insert(containers_.end(), secondContainers.begin(), secondContainers.end());
        keepSerials(fileSerials_, secondSerials, passedFirst.Lines);
    } else {
        // A freeze finds the containers it needs once it knows its items.
        containers_.resize(containersBefore);
    }
    if (passedOver && passedFirst.Type255.empty() && passedSecond.Type255.empty())
        return;
    if (passedOver)
        Halves(
            split, [&] { readPassed(second, split, passedSecond, two); },
            [&] { readPassed(first, 0, passedFirst, one); });
    else
        Halves(
            split, [&] { scanPart(second, split, two); }, [&] { scanPart(first, 0, one); });
    const std::uint32_t lines = one.Scan.Lines;
    for (Candidate& candidate : two.Candidates) {
        candidate.Line += lines;
        candidate.OpenBefore += candidate.OpenBefore != 0 ? lines : 0;
    }
    if (two.FirstIsCandidate && one.Any && !one.LastTerminated)
        two.Candidates.front().OpenBefore = one.LastLine;

    if (one.Scan.ByteOrderMark)
        Refuse(ErrorAtLine(path, 1, ByteOrderMarkText));
    if (one.Scan.LongLine.Line != 0)
        Refuse(ErrorAtLine(path, one.Scan.LongLine.Line, LongLineText(one.Scan)));
    else if (two.Scan.LongLine.Line != 0)
        Refuse(ErrorAtLine(path, two.Scan.LongLine.Line + lines, LongLineText(two.Scan)));
    for (const Part* part : {&one, &two})
        for (const auto& [line, text] : part->Unreadable)
            Refuse(ErrorAtLine(path, line + (part == &two ? lines : 0), text));

    if (collect_ && !passedOver) {
        containers_.insert(containers_.end(), one.Containers.begin(), one.Containers.end());
        containers_.insert(containers_.end(), two.Containers.begin(), two.Containers.end());
        keepSerials(one.Serials, two.Serials, lines);
    }
    if (one.Candidates.empty() && two.Candidates.empty())
        return;
    files_.push_back(PendingFile{path, names_.back(), bytes.size(), order});
    candidates_.insert(candidates_.end(), one.Candidates.begin(), one.Candidates.end());
    candidates_.insert(candidates_.end(), two.Candidates.begin(), two.Candidates.end());
}

std::string_view FreezeSelector::TextOf(const Candidate& candidate)
{
    if (loaded_ != candidate.File) {
        const PendingFile& file = files_[candidate.File];
        loaded_ = SIZE_MAX;
        ReadFile(file.Path, text_);
        if (text_.size() != file.Size)
            throw ChangedMeanwhile(file.Path);
        loaded_ = candidate.File;
    }
    return std::string_view(text_).substr(candidate.Begin, candidate.End - candidate.Begin);
}

FreezeSelector::ReadCandidate FreezeSelector::ValuesOf(const Candidate& candidate, std::string_view text) const
{
    // Read alone, the record gives the values it gave in its file, with its lines counted from 1.
    ReadCandidate read;
    bool first = true;
    ScanRecords(text, [&](const SaveRecord& record, const RecordValues* values) {
        if (first && values != nullptr)
            read = {record.Section, *values};
        first = false;
    });
    RecordValues& values = read.Values;
    for (KeyValue* key : {&values.Serial, &values.Id, &values.Colour, &values.Cont, &values.Type, &values.MultiId,
             &values.Location, &values.X, &values.Y, &values.Z, &values.Xyz, &values.WorldNumber, &values.Unreadable})
        if (key->Present())
            key->Line += candidate.Line - 1;
    return read;
}

namespace {

// The record as the log names it: "[ITEM] Serial=0x40000001 in 0.0.wsc, line 8".
std::string RecordText(
    std::string_view section, std::uint32_t line, const RecordValues& values, const std::string& file)
{
    std::string text(section);
    if (values.Serial.Present()) {
        text += ' ';
        text += values.Serial.Text();
    }
    return text + " in " + file + ", line " + std::to_string(line);
}

std::string SerialText(std::uint32_t serial)
{
    char text[24];
    std::snprintf(text, sizeof text, "Serial=0x%x", static_cast<unsigned>(serial));
    return text;
}

// Raises where cutting the record out would leave or swallow another's lines.
template <typename Record> void CheckCut(const std::string& path, const Record& record, std::size_t fileSize)
{
    const std::uint32_t openBefore = record.OpenBefore;
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

FreezeSelector::Outcome FreezeSelector::Decide(
    const Candidate& candidate, std::string_view text, FreezeSelection& selection) const
{
    const PendingFile& file = files_[candidate.File];
    const Candidate& record = candidate;
    const ReadCandidate read = ValuesOf(candidate, text);
    const RecordValues& values = read.Values;
    auto named = [&] { return RecordText(read.Section, record.Line, values, file.Name); };
    auto leave = [&](const std::string& reason) {
        return Outcome{Outcome::Kind::Left, "Not frozen: " + named() + " " + reason, {}, {}};
    };
    if (record.Kind != RecordKind::Item)
        return leave("is not an [ITEM] record");
    if (ValueOr(values.Cont, NoSerial) != NoSerial)
        return leave("is inside a container or worn (" + values.Cont.Text() + ")");
    const ItemPosition position = PositionOf(values);
    // No server loads more than maps 0 to 5, and it stops at start-up on an
    // item in a world without one.
    constexpr std::uint32_t LastWorld = 5;
    if (position.World > LastWorld)
        RaiseAtLine(file.Path, record.Line,
            "This Type 255 item is in world " + std::to_string(position.World)
                + ", which no server has a map for (it loads maps 0 to 5): the server stops at start-up on it");
    if (position.World != map_.World) {
        ++selection.OtherWorlds[position.World];
        if (collect_)
            return {};
        return leave("is in world " + std::to_string(position.World));
    }
    if (position.X == 0)
        selection.AtXZero.push_back(named());
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

    CheckCut(file.Path, record, file.Size);
    const std::uint32_t id = ValueOr(values.Id, 0);
    if (id > 0xFFFF)
        RaiseAtLine(file.Path, values.Id.Line, values.Id.Text() + " is above 0xFFFF, the highest graphic");
    const std::uint32_t hue = ValueOr(values.Colour, 0);
    if (hue > 0xFFFF)
        RaiseAtLine(file.Path, values.Colour.Line, values.Colour.Text() + " is above 0xFFFF, the highest hue");
    if (position.X >= map_.WidthTiles || position.Y >= map_.HeightTiles) {
        const std::uint32_t line = position.X >= map_.WidthTiles ? position.XLine : position.YLine;
        RaiseAtLine(file.Path, line != 0 ? line : record.Line,
            "This Type 255 item lies at " + CoordinateText(position.X) + "," + CoordinateText(position.Y)
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
        taken.Note = named() + " has no Location: frozen at " + std::to_string(position.X) + ","
            + std::to_string(position.Y) + ", where the server places it";
    return taken;
}

FreezeSelector::Outcome FreezeSelector::DecideCopy(
    const Candidate& candidate, std::string_view text, const SerialPlace& kept, bool keptTaken) const
{
    const PendingFile& file = files_[candidate.File];
    const ReadCandidate read = ValuesOf(candidate, text);
    const RecordValues& values = read.Values;
    if (keptTaken && candidate.Kind == RecordKind::Item && ValueOr(values.Cont, NoSerial) == NoSerial) {
        CheckCut(file.Path, candidate, file.Size);
        return {Outcome::Kind::Cut, {}, {}, {}};
    }
    return {Outcome::Kind::Left,
        "Not frozen: " + RecordText(read.Section, candidate.Line, values, file.Name)
            + " is dropped by the server, which keeps the later record with this serial in " + PlaceText(kept),
        {}, {}};
}

void FreezeSelector::ReadOwners(const std::vector<std::uint32_t>& serials)
{
    const SerialSet wanted(serials);
    loaded_ = SIZE_MAX;
    for (std::size_t file = 0; file < paths_.size(); ++file) {
        ReadFile(paths_[file], text_);
        if (text_.size() != sizes_[file])
            throw ChangedMeanwhile(paths_[file]);
        const std::string_view bytes = text_;
        const std::size_t split = SplitPoint(bytes);
        const std::string_view first = bytes.substr(0, split == 0 ? bytes.size() : split);
        const std::string_view second = bytes.substr(first.size());
        const std::size_t containersBefore = containers_.size();
        std::vector<SerialLine>& found = serials_.emplace_back();
        std::vector<std::uint32_t> secondContainers;
        std::vector<SerialLine> secondSerials;
        bool alone = false;
        bool secondAlone = true;
        std::uint32_t lines = 0;
        Halves(
            split, [&] { secondAlone = ReferencesAmong(second, wanted, secondContainers, secondSerials); },
            [&] { alone = ReferencesAmong(first, wanted, containers_, found, &lines); });
        if (alone && secondAlone) {
            containers_.insert(containers_.end(), secondContainers.begin(), secondContainers.end());
            for (const SerialLine& serial : secondSerials)
                found.push_back({serial.Serial, serial.Line + lines});
            continue;
        }
        containers_.resize(containersBefore);
        found.clear();
        ScanRecords(text_, [&](const SaveRecord& record, const RecordValues*) {
            if (record.Cont.IsNumber() && wanted.Holds(record.Cont.Value))
                containers_.push_back(record.Cont.Value);
            if (record.Serial.IsNumber() && wanted.Holds(record.Serial.Value))
                found.push_back({record.Serial.Value, record.Line});
        });
    }
}

FreezeSelection FreezeSelector::Finish()
{
    // The record the server keeps of each candidate's serial: the last it loads.
    std::vector<std::uint32_t> candidateSerials;
    for (const Candidate& candidate : candidates_)
        if (candidate.Serial.IsNumber())
            candidateSerials.push_back(candidate.Serial.Value);
    if (!collect_)
        ReadOwners(candidateSerials);
    const SerialSet wantedSerials(std::move(candidateSerials));
    const std::vector<std::uint32_t>& wanted = wantedSerials.All();
    // Only whether a candidate holds an item is asked of the containers; a
    // check has every record's.
    std::erase_if(containers_, [&](std::uint32_t container) { return !wantedSerials.Holds(container); });
    std::sort(containers_.begin(), containers_.end());
    containers_.erase(std::unique(containers_.begin(), containers_.end()), containers_.end());

    std::vector<SerialPlace> kept(wanted.size());
    std::vector<std::uint32_t> records(wanted.size());
    for (std::size_t file = 0; file < serials_.size(); ++file) {
        for (const SerialLine& serial : serials_[file]) {
            const std::size_t k = wantedSerials.Find(serial.Serial);
            if (k == SIZE_MAX)
                continue;
            kept[k] = {serial.Serial, static_cast<std::uint32_t>(file), serial.Line};
            ++records[k];
        }
    }
    auto groupOf = [&](const Candidate& candidate) -> std::optional<std::size_t> {
        if (!candidate.Serial.IsNumber())
            return std::nullopt;
        const auto k = static_cast<std::size_t>(
            std::lower_bound(wanted.begin(), wanted.end(), candidate.Serial.Value) - wanted.begin());
        return records[k] > 1 ? std::optional(k) : std::nullopt;
    };
    auto isKept = [&](const Candidate& candidate, std::size_t k) {
        return kept[k].File == files_[candidate.File].Order && kept[k].Line == candidate.Line;
    };

    // What becomes of each candidate, its texts apart: most have none.
    struct Decided {
        Outcome::Kind What = Outcome::Kind::Left;
        FrozenObject Object;
        std::uint32_t Line = 0; // in texts, from 1; 0 for none
        std::uint32_t Note = 0;
    };
    std::vector<std::string> texts;
    auto decided = [&texts](Outcome&& outcome) {
        Decided result{outcome.What, outcome.Object, 0, 0};
        for (auto [text, index] : {std::pair{&outcome.Line, &result.Line}, {&outcome.Note, &result.Note}}) {
            if (text->empty())
                continue;
            texts.push_back(std::move(*text));
            *index = static_cast<std::uint32_t>(texts.size());
        }
        return result;
    };

    // The kept records are decided first, file by file, half of a file's on
    // a second thread; then their copies.
    FreezeSelection selection;
    std::vector<Decided> outcomes(candidates_.size());
    std::vector<bool> keptTaken(wanted.size());
    auto isCopy = [&](const Candidate& candidate) {
        const std::optional<std::size_t> group = groupOf(candidate);
        return group && !isKept(candidate, *group);
    };
    for (std::size_t begin = 0; begin < candidates_.size();) {
        std::size_t end = begin;
        while (end < candidates_.size() && candidates_[end].File == candidates_[begin].File)
            ++end;
        TextOf(candidates_[begin]); // loads their file
        const std::string_view file = text_;
        std::vector<Outcome> decisions(end - begin);
        std::vector<std::optional<Error>> errors(end - begin);
        auto decide = [&](std::size_t from, std::size_t to, FreezeSelection& into) {
            for (std::size_t i = from; i < to; ++i) {
                const Candidate& candidate = candidates_[i];
                if (isCopy(candidate))
                    continue;
                try {
                    decisions[i - begin]
                        = Decide(candidate, file.substr(candidate.Begin, candidate.End - candidate.Begin), into);
                } catch (const Error& error) {
                    errors[i - begin] = error;
                }
            }
        };
        constexpr std::size_t FewForTwoThreads = 64;
        const bool split = end - begin >= FewForTwoThreads;
        const std::size_t middle = split ? begin + (end - begin) / 2 : end;
        FreezeSelection second;
        Halves(
            split ? 1 : 0, [&] { decide(middle, end, second); }, [&] { decide(begin, middle, selection); });
        selection.AtXZero.insert(selection.AtXZero.end(), second.AtXZero.begin(), second.AtXZero.end());
        selection.OutsideArea += second.OutsideArea;
        for (const auto& [world, items] : second.OtherWorlds)
            selection.OtherWorlds[world] += items;
        for (std::size_t i = begin; i < end; ++i) {
            if (isCopy(candidates_[i]))
                continue;
            if (errors[i - begin])
                Refuse(*errors[i - begin]);
            else
                outcomes[i] = decided(std::move(decisions[i - begin]));
            if (const std::optional<std::size_t> group = groupOf(candidates_[i]))
                keptTaken[*group] = outcomes[i].What == Outcome::Kind::Taken;
        }
        begin = end;
    }
    for (std::size_t i = 0; i < candidates_.size(); ++i) {
        const Candidate& candidate = candidates_[i];
        if (!isCopy(candidate))
            continue;
        const std::size_t group = *groupOf(candidate);
        const std::string_view text = TextOf(candidate);
        try {
            outcomes[i] = decided(DecideCopy(candidate, text, kept[group], keptTaken[group]));
        } catch (const Error& error) {
            Refuse(error);
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
        const std::string_view text = TextOf(candidate);
        outcomes[i]
            = decided(isKept(candidate, *group) ? Outcome{Outcome::Kind::Left,
                          "Not frozen: "
                              + RecordText(ValuesOf(candidate, text).Section, candidate.Line,
                                  ValuesOf(candidate, text).Values, files_[candidate.File].Name)
                              + ": the server would load another record with this serial, which is no Type 255 item on"
                                " the ground, in its place",
                          {}, {}}
                                                : DecideCopy(candidate, text, kept[*group], false));
    }
    for (std::size_t k = 0; k < wanted.size(); ++k)
        keptTaken[k] = keptTaken[k] && goes[k] == records[k];

    std::vector<std::uint32_t> removed(wanted.size());
    std::vector<std::vector<ByteRange>> taken(files_.size());
    std::vector<std::vector<ByteRange>> copies(files_.size());
    for (std::size_t i = 0; i < candidates_.size(); ++i) {
        const Candidate& candidate = candidates_[i];
        const ByteRange range{candidate.Begin, candidate.End};
        if (outcomes[i].What != Outcome::Kind::Left)
            if (const std::optional<std::size_t> group = groupOf(candidate))
                ++removed[*group];
        if (outcomes[i].What == Outcome::Kind::Cut)
            copies[candidate.File].push_back(range);
        if (outcomes[i].What != Outcome::Kind::Left)
            taken[candidate.File].push_back(range);
    }
    for (std::size_t i = 0; i < candidates_.size(); ++i) {
        const Decided& outcome = outcomes[i];
        if (outcome.What == Outcome::Kind::Left && outcome.Line != 0)
            selection.NotFrozen.push_back(std::move(texts[outcome.Line - 1]));
        if (outcome.What != Outcome::Kind::Taken)
            continue;
        selection.Objects.push_back(outcome.Object);
        if (outcome.Note != 0)
            selection.Notes.push_back(std::move(texts[outcome.Note - 1]));
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
        selection.Files.push_back({files_[i].Path, files_[i].Size, std::move(taken[i]), std::move(copies[i])});
    }
    if (collect_) {
        selection.Serials = std::move(serials_);
        selection.FileNames = std::move(names_);
    }
    files_.clear();
    candidates_.clear();
    containers_.clear();
    paths_.clear();
    names_.clear();
    sizes_.clear();
    serials_.clear();
    std::string().swap(text_);
    loaded_ = SIZE_MAX;
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
    {
        std::string bytes; // reused for every file
        for (const std::string& path : paths) {
            selector.ReadFile(path, bytes);
            selector.AddFile(path, bytes);
        }
    }
    return selector.Finish();
}

void ReadSelectedFile(const FreezeFile& file, std::string& bytes)
{
    ReadWholeFile(file.Path, bytes);
    if (bytes.size() != file.Size)
        throw ChangedMeanwhile(file.Path);
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

void RemoveRanges(std::string& bytes, const std::vector<ByteRange>& ranges)
{
    std::size_t to = ranges.empty() ? bytes.size() : ranges.front().Begin;
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        const std::size_t from = ranges[i].End;
        const std::size_t end = i + 1 < ranges.size() ? ranges[i + 1].Begin : bytes.size();
        // Down, never over bytes not yet moved.
        std::copy(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.begin() + static_cast<std::ptrdiff_t>(end),
            bytes.begin() + static_cast<std::ptrdiff_t>(to));
        to += end - from;
    }
    bytes.resize(to);
}

} // namespace cryo
