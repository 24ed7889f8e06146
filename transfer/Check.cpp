#include "Check.h"

#include "Error.h"
#include "File.h"
#include "ItemFreeze.h"
#include "ItemSaveFiles.h"
#include "StaticBlock.h"
#include "StaticsWindow.h"
#include "Text.h"
#include "WorldScan.h"
#include "WscText.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <type_traits>
#include <utility>

namespace cryo {

namespace {

// The kinds in the order they are reported.
enum Kind {
    PastEnd,
    NegativeOffset,
    BadLength,
    Over512,
    OffsetOf8,
    NotFrozen,
    Duplicates,
    Refused,
    BlockOverflow,
    AtXZero // of [ITEM] files only
};

std::vector<CheckFinding> EmptyFindings(bool itemRecords)
{
    std::vector<CheckFinding> findings{
        {"past_end", "Index entries past the end of the statics file", 0, {}},
        {"negative_offset", "Index entries at a negative offset other than -1", 0, {}},
        {"bad_length", "Index entries whose length is negative or not a multiple of 7", 0, {}},
        {"over_512", "Blocks over 512 objects", 0, {}},
        {"offset_8_or_more", "Static objects with an X or Y offset of 8 or more", 0, {}},
        {"not_frozen", "TYPE 255 items a freeze would leave behind", 0, {}},
        itemRecords ? CheckFinding{"duplicate_serials", "Serials that more than one record carries", 0, {}}
                    : CheckFinding{"duplicate_sections", "Section numbers that more than one section carries", 0, {}},
        {"refused", "Values the server or a freeze would refuse", 0, {}},
        {"block_overflow", "Blocks a freeze would fill past 512 objects", 0, {}},
    };
    if (itemRecords)
        findings.push_back({"x_zero", "TYPE 255 items at x = 0, which the server drops at its next save", 0, {}});
    return findings;
}

// Counts a case; example is its text, or what makes it, for faults that may
// be found millions of times.
template <typename Example> void Note(CheckFinding& finding, Example&& example)
{
    if (finding.Examples.size() < CheckReport::MaxExamples) {
        if constexpr (std::is_invocable_v<Example>)
            finding.Examples.push_back(example());
        else
            finding.Examples.emplace_back(std::forward<Example>(example));
    }
    ++finding.Count;
}

// The objects an entry refers to when it can be read at all; 0 otherwise.
int ReadableCount(const TStaIdxEntry& entry, std::uint64_t staticsBytes)
{
    if (entry.Offset < 0 || entry.Length < StaticItemSize)
        return 0;
    const std::uint64_t count = static_cast<std::uint64_t>(entry.Length / StaticItemSize);
    return static_cast<std::uint64_t>(entry.Offset) + count * StaticItemSize <= staticsBytes ? static_cast<int>(count)
                                                                                             : 0;
}

bool Inside(const std::optional<BlockArea>& area, int x, int y)
{
    return !area || (x >= area->X && x < area->X + area->Width && y >= area->Y && y < area->Y + area->Height);
}

// A misplaced object found while the blocks are read in the file's order,
// for the examples, which name the first in the table's order.
struct MisplacedObject {
    std::size_t Entry = 0;
    int Item = 0;
    int XOffset = 0, YOffset = 0;

    bool operator<(const MisplacedObject& other) const
    {
        return Entry != other.Entry ? Entry < other.Entry : Item < other.Item;
    }
};

void CheckStatics(const std::string& path, const StaIdx& table, const std::optional<BlockArea>& area,
    CheckReport& report, std::vector<CheckFinding>& f, Reporter& reporter)
{
    File statics = File::OpenExisting(path);
    const std::uint64_t size = statics.Size();
    report.StaticsBytes = size;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> referenced;
    // The blocks whose objects are read: where they begin, and their entry.
    std::vector<std::pair<std::uint64_t, std::size_t>> toRead;
    for (int x = 0; x < table.Width(); ++x) {
        for (int y = 0; y < table.Height(); ++y) {
            const TStaIdxEntry& entry = table.Entries[table.Number(x, y)];
            if (entry.Offset == -1)
                continue;
            // Outside the area a block only counts for the bytes referenced.
            if (!Inside(area, x, y)) {
                const std::uint64_t end = static_cast<std::uint64_t>(entry.Offset)
                    + static_cast<std::uint64_t>(entry.Length / StaticItemSize) * StaticItemSize;
                if (entry.Offset >= 0 && entry.Length >= StaticItemSize && end <= size)
                    referenced.emplace_back(static_cast<std::uint64_t>(entry.Offset), end);
                continue;
            }
            if (entry.Offset < 0) {
                Note(f[NegativeOffset], BlockPlace(x, y) + ": offset " + std::to_string(entry.Offset));
                continue;
            }
            if (entry.Length % StaticItemSize != 0 || entry.Length < 0)
                Note(f[BadLength], BlockPlace(x, y) + ": length " + std::to_string(entry.Length));
            if (entry.Length < StaticItemSize)
                continue;
            const std::uint64_t begin = static_cast<std::uint64_t>(entry.Offset);
            const std::uint64_t end
                = begin + static_cast<std::uint64_t>(entry.Length / StaticItemSize) * StaticItemSize;
            if (end > size) {
                Note(f[PastEnd],
                    BlockPlace(x, y) + ": offset " + std::to_string(entry.Offset) + ", length "
                        + std::to_string(entry.Length) + ", in a file of " + std::to_string(size) + " bytes");
                continue;
            }
            referenced.emplace_back(begin, end);
            toRead.emplace_back(begin, table.Number(x, y));
            if (end - begin > std::uint64_t{MaxBlockItems} * StaticItemSize)
                Note(f[Over512], BlockPlace(x, y) + ": " + std::to_string((end - begin) / StaticItemSize) + " objects");
        }
    }
    reporter.SetProgress(10);

    // The objects are read in the file's order, which a window serves with
    // few reads however the blocks lie.
    std::sort(toRead.begin(), toRead.end());
    StaticsWindow window(statics);
    std::vector<MisplacedObject> misplaced; // the first few, in the table's order
    std::uint64_t misplacedCount = 0;
    for (std::size_t done = 0; done < toRead.size(); ++done) {
        const auto [begin, number] = toRead[done];
        const TStaIdxEntry& entry = table.Entries[number];
        const std::uint64_t end = begin + static_cast<std::uint64_t>(entry.Length / StaticItemSize) * StaticItemSize;
        int item = 0;
        for (std::uint64_t at = begin; at < end;) {
            const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(end - at, window.Capacity()));
            const unsigned char* bytes = window.Read(at, piece);
            for (std::size_t i = 0; i < piece; i += StaticItemSize) {
                ++item;
                const TStaticItem object = DecodeStaticItem(bytes + i);
                if (object.XOffset < 8 && object.YOffset < 8)
                    continue;
                ++misplacedCount;
                misplaced.push_back({number, item, object.XOffset, object.YOffset});
                if (misplaced.size() > 8 * CheckReport::MaxExamples) {
                    std::nth_element(misplaced.begin(), misplaced.begin() + CheckReport::MaxExamples, misplaced.end());
                    misplaced.resize(CheckReport::MaxExamples);
                }
            }
            at += piece;
        }
        if (done % 1024 == 0)
            reporter.SetProgress(10 + static_cast<int>(done * 50 / toRead.size()));
    }
    std::sort(misplaced.begin(), misplaced.end());
    const auto height = static_cast<std::size_t>(table.Height());
    for (const MisplacedObject& object : misplaced)
        Note(f[OffsetOf8],
            BlockPlace(static_cast<int>(object.Entry / height), static_cast<int>(object.Entry % height)) + ", Item #"
                + std::to_string(object.Item) + ": X offset " + std::to_string(object.XOffset) + ", Y offset "
                + std::to_string(object.YOffset));
    f[OffsetOf8].Count = misplacedCount;

    // Records past the table (a map given smaller than the index file) keep
    // their bytes too, as compact does.
    for (std::size_t at = 0; at + StaIdxRecordSize <= table.Trailing.size(); at += StaIdxRecordSize) {
        const TStaIdxEntry entry = DecodeStaIdxEntry(&table.Trailing[at]);
        if (const int count = ReadableCount(entry, size); count > 0) {
            const std::uint64_t begin = static_cast<std::uint64_t>(entry.Offset);
            referenced.emplace_back(begin, begin + static_cast<std::uint64_t>(count) * StaticItemSize);
        }
    }

    // Blocks may share bytes: the referenced share counts each byte once.
    std::sort(referenced.begin(), referenced.end());
    std::uint64_t covered = 0;
    std::uint64_t reach = 0;
    for (const auto& [begin, end] : referenced) {
        const std::uint64_t from = std::max(begin, reach);
        if (end > from)
            covered += end - from;
        reach = std::max(reach, end);
    }
    report.UnreferencedBytes = size - covered;
}

// Blocks whose objects and those a freeze adds pass 512.
void CheckBlockFill(const std::map<std::pair<int, int>, int>& added, const StaIdx& table, std::uint64_t staticsBytes,
    CheckFinding& overflow)
{
    for (const auto& [block, count] : added) {
        const int existing = ReadableCount(table.Entries[table.Number(block.first, block.second)], staticsBytes);
        if (existing + count > MaxBlockItems)
            Note(overflow,
                BlockPlace(block.first, block.second) + ": " + std::to_string(existing) + " objects and "
                    + std::to_string(count) + " to freeze");
    }
}

// Keeps the lines that name the items a freeze leaves behind.
class NotFrozenLines final : public Reporter {
public:
    explicit NotFrozenLines(CheckFinding& finding)
        : finding_(finding)
    {
    }
    void Log(std::string_view line) override
    {
        if (line.starts_with("Not frozen: "))
            Note(finding_, std::string(line));
    }
    void SetProgress(int) override { }

private:
    CheckFinding& finding_;
};

void CheckClassic(const std::string& path, const StaIdx& table, const std::optional<BlockArea>& area,
    std::uint64_t staticsBytes, std::vector<CheckFinding>& f)
{
    std::map<std::int32_t, int> sections;
    try {
        WscReader reader(path);
        reader.ForEachLine([&](std::string_view line) {
            if (line.empty() || UpperAscii(line[0]) != 'S' || !StartsWithTag(line, "SECTION WORLDITEM "))
                return;
            try {
                ++sections[TagValue(line, 17)];
            } catch (const Error&) {
                // The selection below refuses it.
            }
        });
    } catch (const FileError&) {
        throw;
    } catch (Error& error) {
        error.SetFile(path);
        Note(f[Refused], ErrorLine(error));
        return;
    }
    for (const auto& [number, count] : sections)
        if (count > 1)
            Note(f[Duplicates], SectionPlace(number) + ": " + std::to_string(count) + " sections");

    ExportTable exports;
    NotFrozenLines notFrozen(f[NotFrozen]);
    try {
        SelectItemsForExport(path, exports, notFrozen);
    } catch (const FileError&) {
        throw;
    } catch (const Error& error) {
        Note(f[Refused], ErrorLine(error));
        return;
    }
    std::map<std::pair<int, int>, int> added;
    for (const TExportEntry& entry : exports) {
        if (!Inside(area, entry.XBlock, entry.YBlock))
            continue;
        if (entry.XBlock < table.Width() && entry.YBlock < table.Height()) {
            ++added[{entry.XBlock, entry.YBlock}];
            continue;
        }
        Error error("Invalid item in patch file! (Item#: " + std::to_string(entry.Number) + ")");
        error.SetFile(path);
        error.SetPlace(SectionPlace(entry.Number));
        Note(f[Refused], ErrorLine(error));
    }
    CheckBlockFill(added, table, staticsBytes, f[BlockOverflow]);
}

// The serials carried more than once, ascending. Serials crowd into a few
// spans of 2^24 (characters low, items from 0x40000000): a bit for each serial
// of those spans finds them in one pass; serials spread wider are sorted.
std::vector<std::uint32_t> RepeatedSerials(const std::vector<std::vector<SerialLine>>& files)
{
    constexpr unsigned SpanBits = 24;
    constexpr std::size_t MostSpans = 8; // 2 MB each
    std::array<std::vector<std::uint64_t>, std::size_t{1} << (32 - SpanBits)> spans;
    std::size_t used = 0;
    std::vector<std::uint32_t> repeated;
    bool fits = true;
    for (const std::vector<SerialLine>& file : files) {
        for (const SerialLine& place : file) {
            std::vector<std::uint64_t>& span = spans[place.Serial >> SpanBits];
            if (span.empty()) {
                if (++used > MostSpans) {
                    fits = false;
                    break;
                }
                span.resize((std::size_t{1} << SpanBits) / 64);
            }
            const std::uint32_t bit = place.Serial & ((1u << SpanBits) - 1);
            std::uint64_t& word = span[bit / 64];
            const std::uint64_t mask = std::uint64_t{1} << (bit % 64);
            if ((word & mask) != 0)
                repeated.push_back(place.Serial);
            word |= mask;
        }
        if (!fits)
            break;
    }
    if (!fits) {
        std::vector<std::uint32_t> serials;
        for (const std::vector<SerialLine>& file : files)
            for (const SerialLine& place : file)
                serials.push_back(place.Serial);
        std::sort(serials.begin(), serials.end());
        repeated.clear();
        for (std::size_t i = 1; i < serials.size(); ++i)
            if (serials[i] == serials[i - 1])
                repeated.push_back(serials[i]);
    }
    std::sort(repeated.begin(), repeated.end());
    repeated.erase(std::unique(repeated.begin(), repeated.end()), repeated.end());
    return repeated;
}

// The serials that several records carry, ascending, each with its places in
// reading order. Most serials are carried once: only the places of the few
// others are gathered.
std::vector<std::vector<FreezeSelection::SerialPlace>> SharedSerials(const std::vector<std::vector<SerialLine>>& files)
{
    const std::vector<std::uint32_t> shared = RepeatedSerials(files);
    std::vector<std::vector<FreezeSelection::SerialPlace>> groups(shared.size());
    if (shared.empty())
        return groups;
    const SerialSet set(shared);
    for (std::size_t file = 0; file < files.size(); ++file)
        for (const SerialLine& place : files[file])
            if (const std::size_t k = set.Find(place.Serial); k != SIZE_MAX)
                groups[k].push_back({place.Serial, static_cast<std::uint32_t>(file), place.Line});
    return groups;
}

void CheckItemFiles(const std::vector<std::string>& paths, const FreezeMap& map, const StaIdx& table,
    CheckReport& report, std::vector<CheckFinding>& f)
{
    FreezeSelector selector(map, true);
    std::string bytes;
    for (const std::string& path : paths) {
        selector.ReadFile(path, bytes);
        selector.AddFile(path, bytes);
    }
    FreezeSelection selection = selector.Finish();
    const std::vector<std::string>& names = selection.FileNames;
    for (const std::string& line : selection.NotFrozen)
        Note(f[NotFrozen], line);
    for (const Error& error : selection.Refused)
        Note(f[Refused], ErrorLine(error));
    for (const std::string& item : selection.AtXZero)
        Note(f[AtXZero], item);
    report.OtherWorlds = selection.OtherWorlds;

    std::map<std::pair<int, int>, int> added;
    for (const BlockObjects& block : ObjectsByBlock(selection.Objects))
        added[{block.XBlock, block.YBlock}] = static_cast<int>(block.Items.size());
    CheckBlockFill(added, table, report.StaticsBytes, f[BlockOverflow]);

    for (const std::vector<FreezeSelection::SerialPlace>& group : SharedSerials(selection.Serials)) {
        std::string places;
        for (const FreezeSelection::SerialPlace& place : group)
            places += (places.empty() ? "" : ", ") + names[place.File] + " line " + std::to_string(place.Line);
        char serial[16];
        std::snprintf(serial, sizeof serial, "0x%x", static_cast<unsigned>(group.front().Serial));
        const auto outcome = selection.SerialOutcomes.find(group.front().Serial);
        Note(f[Duplicates],
            "Serial=" + std::string(serial) + ": " + std::to_string(group.size()) + " records (" + places + ")"
                + (outcome != selection.SerialOutcomes.end() ? "; " + outcome->second : std::string()));
    }
}

} // namespace

bool CheckReport::Healthy() const
{
    return std::all_of(
        Findings.begin(), Findings.end(), [](const CheckFinding& finding) { return finding.Count == 0; });
}

CheckReport CheckWorld(
    const WorldFiles& files, const StaIdx& table, Reporter& reporter, const std::optional<BlockArea>& area)
{
    reporter.SetProgress(0);
    CheckReport report;
    const WorldSaveKind kind = files.Wsc.empty() ? WorldSaveKind::Classic : WorldSaveKindOf(files.Wsc);
    std::vector<CheckFinding> findings = EmptyFindings(kind != WorldSaveKind::Classic);
    CheckStatics(files.Statics, table, area, report, findings, reporter);
    if (!files.Wsc.empty()) {
        reporter.SetProgress(60);
        if (kind == WorldSaveKind::Classic) {
            report.WorldSaveKind = "classic";
            CheckClassic(files.Wsc, table, area, report.StaticsBytes, findings);
        } else {
            report.WorldSaveKind = kind == WorldSaveKind::Folder ? "folder" : "item file";
            FreezeMap map{static_cast<std::uint32_t>(table.LoadedAs.Map), static_cast<std::uint32_t>(table.Width()) * 8,
                static_cast<std::uint32_t>(table.Height()) * 8, {}};
            if (area)
                map.Area = TileArea{static_cast<std::uint16_t>(area->X * 8), static_cast<std::uint16_t>(area->Y * 8),
                    static_cast<std::uint16_t>((area->X + area->Width) * 8 - 1),
                    static_cast<std::uint16_t>((area->Y + area->Height) * 8 - 1)};
            CheckItemFiles(kind == WorldSaveKind::Folder ? FreezeFiles(files.Wsc) : std::vector{files.Wsc}, map, table,
                report, findings);
        }
    } else {
        findings.resize(OffsetOf8 + 1);
    }
    report.Findings = std::move(findings);
    reporter.SetProgress(100);
    return report;
}

std::vector<std::string> CheckReportLines(const CheckReport& report)
{
    std::vector<std::string> lines;
    const auto add = [&](const CheckFinding& finding, const char* prefix) {
        if (finding.Count == 0)
            return;
        lines.push_back(prefix + finding.Title + ": " + std::to_string(finding.Count));
        for (const std::string& example : finding.Examples)
            lines.push_back("  " + example);
        if (finding.Count > finding.Examples.size())
            lines.push_back("  ... and " + std::to_string(finding.Count - finding.Examples.size()) + " more");
    };
    for (const CheckFinding& finding : report.Findings)
        add(finding, "");
    for (const CheckFinding& warning : report.Warnings)
        add(warning, "Warning: ");
    if (!report.OtherWorlds.empty()) {
        std::string counts;
        for (const auto& [world, items] : report.OtherWorlds)
            counts += (counts.empty() ? "" : ", ") + ("world " + std::to_string(world)) + ": " + std::to_string(items);
        lines.push_back("TYPE 255 items of other worlds, for their own maps: " + counts);
    }
    const std::uint64_t permille = report.StaticsBytes == 0
        ? 0
        : (report.UnreferencedBytes * 1000 + report.StaticsBytes / 2) / report.StaticsBytes;
    lines.push_back("Unreferenced bytes in the statics file: " + std::to_string(report.UnreferencedBytes) + " of "
        + std::to_string(report.StaticsBytes) + " (" + std::to_string(permille / 10) + "."
        + std::to_string(permille % 10) + "%)" + (report.UnreferencedBytes > 0 ? "; compact reclaims them" : ""));
    if (report.Healthy()) {
        lines.push_back("No problems found");
    } else {
        const auto kinds = std::count_if(report.Findings.begin(), report.Findings.end(),
            [](const CheckFinding& finding) { return finding.Count != 0; });
        lines.push_back("Problems found: " + std::to_string(kinds) + (kinds == 1 ? " kind" : " kinds"));
    }
    return lines;
}

} // namespace cryo
