#include "WorldRewrite.h"

#include "Convert.h"
#include "Error.h"
#include "File.h"
#include "Text.h"
#include "WscText.h"

#include <algorithm>
#include <map>

namespace cryo {

namespace {

bool IsEofLine(std::string_view line)
{
    const std::string_view trimmed = Trim(line);
    return trimmed.size() == 3 && StartsWithTag(trimmed, "EOF");
}

void WriteItemSection(WscWriter& out, std::int32_t number, std::int32_t serial, const TStaticItem& item,
    std::uint16_t xBlock, std::uint16_t yBlock)
{
    out.WriteLine("SECTION WORLDITEM " + std::to_string(number));
    out.WriteLine("{");
    out.WriteLine("SERIAL " + std::to_string(serial));
    out.WriteLine("NAME #");
    out.WriteLine("ID " + std::to_string(item.TileId));
    out.WriteLine("X " + std::to_string(xBlock * 8 + item.XOffset));
    out.WriteLine("Y " + std::to_string(yBlock * 8 + item.YOffset));
    out.WriteLine("Z " + std::to_string(item.Z));
    out.WriteLine("COLOR " + std::to_string(item.Color));
    out.WriteLine("CONT -1");
    out.WriteLine("TYPE 255");
    out.WriteLine("}");
    out.WriteLine("");
}

constexpr int KeepSection = -1;

// The keep/extract machine shared by the one-block and the all-blocks extraction.
// slotOf maps a section number to the slot it is extracted into, or KeepSection.
// With stopAtFirstError a value error is raised at once, as the one-block
// extraction does; otherwise it is recorded for its slot and the pass goes on.
class SectionExtractor {
public:
    SectionExtractor(const std::vector<int>& slotOf, std::vector<ExtractedBlock>& slots, bool stopAtFirstError)
        : slotOf_(slotOf)
        , slots_(slots)
        , stopAtFirstError_(stopAtFirstError)
    {
    }

    void Run(WscReader& reader, WscWriter& out)
    {
        reader.ForEachLine([&](std::string_view line) { Line(line, out); });
        RefuseUnterminated();
        out.WriteRaw(reader.ReadTail());
        out.Finish();
    }

private:
    void Line(std::string_view line, WscWriter& out)
    {
        if (StartsWithTag(line, "SECTION WORLDITEM ")) {
            RefuseUnterminated();
            number_ = static_cast<std::uint16_t>(CheckedRange(TagValue(line, 17), 0, 65535));
            item_ = {};
            x_ = y_ = 0;
            slot_ = slotOf_[number_];
        }
        if (slot_ == KeepSection) {
            out.WriteLine(line);
            return;
        }
        ExtractedBlock& block = slots_[static_cast<std::size_t>(slot_)];
        if (block.Error) {
            // A section whose values already failed still ends at its "}".
            if (StartsWithTag(line, "}"))
                slot_ = KeepSection;
            return;
        }
        try {
            if (StartsWithTag(line, "ID "))
                item_.TileId = CheckedNarrow<std::uint16_t>(TagValue(line, 2));
            else if (StartsWithTag(line, "X "))
                x_ = CheckedNarrow<std::uint16_t>(TagValue(line, 1));
            else if (StartsWithTag(line, "Y "))
                y_ = CheckedNarrow<std::uint16_t>(TagValue(line, 1));
            else if (StartsWithTag(line, "Z "))
                item_.Z = CheckedNarrow<std::int8_t>(TagValue(line, 1));
            else if (StartsWithTag(line, "COLOR "))
                item_.Color = CheckedNarrow<std::uint16_t>(TagValue(line, 5));
            else if (StartsWithTag(line, "}")) {
                slot_ = KeepSection;
                if (block.Items.size() == MaxBlockItems)
                    throw RangeError();
                item_.XOffset = static_cast<std::uint8_t>(x_ % 8);
                item_.YOffset = static_cast<std::uint8_t>(y_ % 8);
                block.Items.push_back(item_);
            }
        } catch (const Error&) {
            if (stopAtFirstError_)
                throw;
            block.Error = std::current_exception();
        }
    }

    // A section to take out that ends without a "}" line has no item to take,
    // and dropping its lines would lose them: the file must be mended first.
    void RefuseUnterminated() const
    {
        if (slot_ != KeepSection)
            throw Error("No line beginning with \"}\" ends \"SECTION WORLDITEM " + std::to_string(number_) + "\"");
    }

    const std::vector<int>& slotOf_;
    std::vector<ExtractedBlock>& slots_;
    bool stopAtFirstError_;

    int slot_ = KeepSection;
    std::uint16_t number_ = 0;
    TStaticItem item_;
    std::uint16_t x_ = 0;
    std::uint16_t y_ = 0;
};

} // namespace

std::uint64_t AppendedWscBytes(int count)
{
    // The 13 lines of a section with the longest numbers, each with CR LF
    // ("SECTION WORLDITEM 2147483647", "SERIAL 2147483647", "Z -128", ...).
    constexpr std::uint64_t LongestSection = 30 + 3 + 19 + 8 + 10 + 10 + 10 + 8 + 13 + 9 + 10 + 3 + 2;
    constexpr std::uint64_t EofLines = 5 + 2;
    return static_cast<std::uint64_t>(count) * LongestSection + EofLines;
}

void AppendBlockToWsc(const std::string& wscPath, const TStaticBlock& block, std::uint16_t xBlock, std::uint16_t yBlock,
    Reporter& reporter)
{
    if (const auto file = PrepareAppendBlockToWsc(wscPath, block, xBlock, yBlock, reporter))
        file->Commit();
}

std::unique_ptr<ReplacementFile> PrepareAppendBlockToWsc(const std::string& wscPath, const TStaticBlock& block,
    std::uint16_t xBlock, std::uint16_t yBlock, Reporter& reporter)
{
    if (block.Count == 0) {
        reporter.Log("Nothing to do!");
        return nullptr;
    }
    WscReader reader(wscPath);
    HighestNumbers highest = FindHighestNumbers(reader);
    reporter.Log("Highest number: " + std::to_string(highest.Number));
    reporter.Log("Highest serial: " + BytesToHex(static_cast<std::uint32_t>(highest.Serial), 4));
    reporter.SetProgress(60);

    auto file = std::make_unique<ReplacementFile>(wscPath);
    WscWriter out(*file);
    // The lines up to the first "EOF" line stay as read; it and the rest go.
    bool atEof = false;
    reader.ForEachLine([&](std::string_view line) {
        atEof = atEof || IsEofLine(line);
        if (!atEof)
            out.WriteLine(line);
    });

    for (int i = 1; i <= block.Count; ++i) {
        highest.Number = CheckedAdd(highest.Number, 1);
        highest.Serial = CheckedAdd(highest.Serial, 1);
        WriteItemSection(
            out, highest.Number, highest.Serial, block.Items[static_cast<std::size_t>(i - 1)], xBlock, yBlock);
        reporter.SetProgress(i * 30 / block.Count + 60);
    }
    out.WriteLine("EOF");
    out.WriteLine("");
    out.WriteRaw(reader.ReadTail());
    out.Finish();
    return file;
}

void ExtractBlockFromWsc(const std::string& wscPath, TStaticBlock& block, const ExportTable& table,
    std::uint16_t xBlock, std::uint16_t yBlock)
{
    std::vector<int> slotOf(ExportTable::Size, KeepSection);
    for (int n = 0; n < ExportTable::Size; ++n) {
        const TExportEntry& entry = table[static_cast<std::uint16_t>(n)];
        if (entry.Selected != 0 && entry.XBlock == xBlock && entry.YBlock == yBlock)
            slotOf[static_cast<std::size_t>(n)] = 0;
    }
    std::vector<ExtractedBlock> slots(1);

    ReplacementFile file(wscPath);
    {
        // Closed before the replacement, which some systems refuse for open files.
        WscReader reader(wscPath);
        WscWriter out(file);
        SectionExtractor(slotOf, slots, true).Run(reader, out);
    }
    file.Commit();

    const std::vector<TStaticItem>& items = slots[0].Items;
    std::copy(items.begin(), items.end(), block.Items.begin());
    block.Count = static_cast<std::uint16_t>(items.size());
}

std::vector<ExtractedBlock> ExtractSelectedSections(const std::string& wscPath, const ExportTable& table,
    const std::vector<std::pair<std::uint16_t, std::uint16_t>>& blocks, ReplacementFile& out)
{
    std::map<std::pair<std::uint16_t, std::uint16_t>, int> slotOfBlock;
    std::vector<ExtractedBlock> slots;
    for (const auto& [x, y] : blocks) {
        if (slotOfBlock.emplace(std::pair{x, y}, static_cast<int>(slots.size())).second)
            slots.push_back({x, y, {}, nullptr});
    }
    std::vector<int> slotOf(ExportTable::Size, KeepSection);
    for (int n = 0; n < ExportTable::Size; ++n) {
        const TExportEntry& entry = table[static_cast<std::uint16_t>(n)];
        if (entry.Selected == 0)
            continue;
        const auto found = slotOfBlock.find({entry.XBlock, entry.YBlock});
        if (found != slotOfBlock.end())
            slotOf[static_cast<std::size_t>(n)] = found->second;
    }

    WscReader reader(wscPath);
    WscWriter writer(out);
    SectionExtractor(slotOf, slots, false).Run(reader, writer);
    return slots;
}

} // namespace cryo
