#include "WorldRewrite.h"

#include "BackgroundJob.h"

#include "Convert.h"
#include "Error.h"
#include "File.h"
#include "Text.h"
#include "WscText.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <exception>
#include <map>
#include <optional>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace cryo {

namespace {

// A freeze never takes 65535, and refuses numbers above it.
constexpr std::int32_t HighestFrozenNumber = 65534;

bool IsEofLine(std::string_view line)
{
    const std::string_view trimmed = Trim(line);
    return trimmed.size() == 3 && StartsWithTag(trimmed, "EOF");
}

void WriteItemSection(WscWriter& out, std::int32_t number, std::int32_t serial, const TStaticItem& item,
    std::uint16_t xBlock, std::uint16_t yBlock)
{
    // Written without a string per line: an area's melt writes tens of thousands.
    auto decimal = [&](auto value) {
        char digits[16];
        out.Write(
            std::string_view(digits, static_cast<std::size_t>(std::to_chars(digits, digits + 16, value).ptr - digits)));
    };
    out.Write("SECTION WORLDITEM ");
    decimal(number);
    out.Write("\r\n{\r\nSERIAL ");
    decimal(serial);
    out.Write("\r\nNAME #\r\nID ");
    decimal(item.TileId);
    out.Write("\r\nX ");
    decimal(xBlock * 8 + item.XOffset);
    out.Write("\r\nY ");
    decimal(yBlock * 8 + item.YOffset);
    out.Write("\r\nZ ");
    decimal(int{item.Z});
    out.Write("\r\nCOLOR ");
    decimal(item.Color);
    out.Write("\r\nCONT -1\r\nTYPE 255\r\n}\r\n\r\n");
}

// Whether a run of whole lines is written back as it was read: every line
// ends in CR LF, and none is an "EOF" line, which holds an F.
bool CopiedAsRead(std::string_view run)
{
    if (!run.ends_with("\r\n"))
        return false;
    const char* const base = run.data();
    std::size_t i = 0;
#if defined(__SSE2__)
    for (; run.size() - i > 16; i += 16) {
        const __m128i cr
            = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(base + i)), _mm_set1_epi8('\r'));
        const __m128i lf
            = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(base + i + 1)), _mm_set1_epi8('\n'));
        if (_mm_movemask_epi8(_mm_andnot_si128(lf, cr)) != 0)
            return false;
    }
#endif
    for (; i + 1 < run.size(); ++i)
        if (base[i] == '\r' && base[i + 1] != '\n')
            return false;
    for (const char f : {'F', 'f'}) {
        for (const char* p = base;
             (p = static_cast<const char*>(std::memchr(p, f, run.size() - static_cast<std::size_t>(p - base))))
             != nullptr;
             ++p) {
            const auto at = static_cast<std::size_t>(p - base);
            const std::size_t cr = run.rfind('\r', at);
            const std::size_t begin = cr == std::string_view::npos ? 0 : cr + 2;
            if (IsEofLine(run.substr(begin, run.find('\r', at) - begin)))
                return false;
        }
    }
    return true;
}

constexpr int KeepSection = -1;

// Copies the text, cutting out the sections of the table whose entries have a
// slot; a value error is recorded for its slot and the pass goes on. A
// section is cut through its last line beginning with "}" before the next
// section line, the one whose values the selection took last: lines after an
// earlier "}" are held until a later one shows that they belong to it.
class SectionExtractor {
public:
    SectionExtractor(const std::string& path, const ExportTable& table, const std::vector<int>& slotOfEntry,
        std::vector<ExtractedBlock>& slots)
        : path_(path)
        , table_(table)
        , slotOfEntry_(slotOfEntry)
        , slots_(slots)
    {
    }

    void Run(WscReader& reader, WscWriter& out)
    {
        out.WriteRaw(reader.Bom());
        reader.ForEachLine([&](std::string_view line) { Line(line, out); });
        if (slot_ != KeepSection)
            EndSection(out);
        if (next_ != table_.size())
            throw ChangedText();
        out.WriteRaw(reader.ReadTail());
        out.Finish();
    }

private:
    // The selection read the same text: every selected section closes before
    // the next section line, unless another program changed the file since.
    static Error ChangedText() { return Error("The world save changed while it was frozen"); }

    void Line(std::string_view line, WscWriter& out)
    {
        if (StartsWithTag(line, "SECTION ")) {
            if (slot_ != KeepSection)
                EndSection(out);
            if (StartsWithTag(line, "SECTION WORLDITEM ")) {
                if (next_ < table_.size() && table_[next_].Section == sections_) {
                    slot_ = slotOfEntry_[next_];
                    number_ = table_[next_].Number;
                    ++next_;
                    item_ = {};
                    x_ = y_ = 0;
                    type_ = 0;
                    contained_ = closed_ = selected_ = false;
                }
                ++sections_;
            }
        }
        if (slot_ == KeepSection) {
            out.WriteLine(line);
            return;
        }
        if (!closed_) {
            Read(line);
            return;
        }
        if (!StartsWithTag(line, "}")) {
            held_.emplace_back(line);
            return;
        }
        for (const std::string& earlier : held_)
            Read(earlier);
        held_.clear();
        Read(line);
    }

    // A line of the section being cut.
    void Read(std::string_view line)
    {
        const bool close = StartsWithTag(line, "}");
        closed_ = closed_ || close;
        ExtractedBlock& block = slots_[static_cast<std::size_t>(slot_)];
        if (block.Error)
            return;
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
            else if (StartsWithTag(line, "TYPE "))
                type_ = TagValue(line, 4);
            else if (StartsWithTag(line, "CONT "))
                contained_ = ContainedBy(line);
            else if (close && type_ == 255 && !contained_) {
                selected_ = true;
                taken_ = item_;
                taken_.XOffset = static_cast<std::uint8_t>(x_ % 8);
                taken_.YOffset = static_cast<std::uint8_t>(y_ % 8);
            }
        } catch (const Error&) {
            Failed(block);
        }
    }

    static bool ContainedBy(std::string_view line)
    {
        try {
            return TagValue(line, 4) != -1;
        } catch (const ConvertError&) {
            return true;
        }
    }

    // At the next section line or the end of the text: the object is stored
    // and the lines after the section's last "}" are written.
    void EndSection(WscWriter& out)
    {
        ExtractedBlock& block = slots_[static_cast<std::size_t>(slot_)];
        if (!closed_ || (!selected_ && !block.Error))
            throw ChangedText();
        if (!block.Error) {
            if (block.Items.size() == MaxBlockItems) {
                try {
                    throw RangeError();
                } catch (const Error&) {
                    Failed(block);
                }
            } else {
                block.Items.push_back(taken_);
            }
        }
        for (const std::string& line : held_)
            out.WriteLine(line);
        held_.clear();
        slot_ = KeepSection;
    }

    // Called while an Error is handled: it is kept, naming the section, for its block.
    void Failed(ExtractedBlock& block) const
    {
        try {
            throw;
        } catch (Error& error) {
            error.SetPlace(SectionPlace(number_));
            error.SetFile(path_);
            block.Error = std::current_exception();
        }
    }

    const std::string& path_;
    const ExportTable& table_;
    const std::vector<int>& slotOfEntry_;
    std::vector<ExtractedBlock>& slots_;

    std::uint64_t sections_ = 0; // "SECTION WORLDITEM" lines so far
    std::size_t next_ = 0; // the next entry of the table to meet
    int slot_ = KeepSection; // where the section being read goes
    std::uint16_t number_ = 0;
    TStaticItem item_;
    std::uint16_t x_ = 0;
    std::uint16_t y_ = 0;
    std::int32_t type_ = 0;
    bool contained_ = false;
    bool closed_ = false; // a "}" line of the section has been read
    bool selected_ = false; // one of them selected it
    TStaticItem taken_; // as the last selecting "}" found it
    std::vector<std::string> held_; // lines since the last "}"
};

} // namespace

std::string MeltingBlockLine(std::uint16_t xBlock, std::uint16_t yBlock)
{
    return "Melting XBlock: " + std::to_string(xBlock) + " YBlock: " + std::to_string(yBlock);
}

std::unique_ptr<ReplacementFile> AppendBlocksToWsc(
    const std::string& wscPath, const std::vector<MeltingBlock>& blocks, Reporter& reporter, bool dryRun)
{
    const bool named = blocks.size() > 1;
    std::int64_t objects = 0;
    for (const MeltingBlock& block : blocks)
        objects += static_cast<std::int64_t>(block.Items.size());
    if (objects == 0) {
        for (const MeltingBlock& block : blocks) {
            if (named)
                reporter.Log(MeltingBlockLine(block.XBlock, block.YBlock));
            reporter.Log("Nothing to do!");
        }
        return nullptr;
    }
    return NamingWorldSave(wscPath, [&] {
        WscReader reader(wscPath);
        // The highest numbers are found on a second thread while the file is
        // copied here: only the new sections after it need them. Their faults
        // come first, as they did when they were found before the copy.
        WscReader scanned(wscPath);
        HighestNumbers highest;
        BackgroundJob scanning;
        scanning.Start([&] { highest = FindHighestNumbers(scanned); });

        std::unique_ptr<ReplacementFile> file;
        std::optional<WscWriter> out;
        // The lines up to the first "EOF" line stay as read; the new sections
        // take its place, and what follows it stays after the new "EOF".
        bool atEof = false;
        bool textAfterEof = false;
        std::string afterEof;
        std::exception_ptr copying;
        try {
            file = dryRun ? std::make_unique<ReplacementFile>(wscPath, ReplacementFile::Discarding{})
                          : std::make_unique<ReplacementFile>(wscPath);
            out.emplace(*file);
            out->WriteRaw(reader.Bom());
            auto copyLine = [&](std::string_view line) {
                if (!atEof) {
                    atEof = IsEofLine(line);
                    if (!atEof)
                        out->WriteLine(line);
                    return;
                }
                textAfterEof = textAfterEof || !Trim(line).empty();
                afterEof.append(line);
                afterEof.append("\r\n");
            };
            reader.ForEachRun([&](std::string_view run) {
                if (!atEof && CopiedAsRead(run))
                    out->Write(run);
                else
                    ForEachLineIn(run, copyLine);
            });
        } catch (...) {
            copying = std::current_exception();
        }
        scanning.Wait();
        if (!named) {
            reporter.Log("Highest number: " + std::to_string(highest.Number));
            reporter.Log("Highest serial: " + BytesToHex(static_cast<std::uint32_t>(highest.Serial), 4));
        }
        if (highest.Number > HighestFrozenNumber - objects) {
            const std::int64_t left = std::max<std::int64_t>(0, std::int64_t{HighestFrozenNumber} - highest.Number);
            throw Error("Too few item numbers left: new sections after " + SectionPlace(highest.Number)
                + " would pass 65534, the highest number a freeze takes: the melt needs " + std::to_string(objects)
                + ", and " + std::to_string(left) + (left == 1 ? " is" : " are") + " left");
        }
        reporter.SetProgress(60);
        if (copying)
            std::rethrow_exception(copying);

        std::int64_t written = 0;
        for (const MeltingBlock& block : blocks) {
            if (named) {
                reporter.Log(MeltingBlockLine(block.XBlock, block.YBlock));
                if (block.Items.empty()) {
                    reporter.Log("Nothing to do!");
                    continue;
                }
                reporter.Log("Highest number: " + std::to_string(highest.Number));
                reporter.Log("Highest serial: " + BytesToHex(static_cast<std::uint32_t>(highest.Serial), 4));
            }
            for (const TStaticItem& item : block.Items) {
                highest.Number = CheckedAdd(highest.Number, 1);
                highest.Serial = CheckedAdd(highest.Serial, 1);
                WriteItemSection(*out, highest.Number, highest.Serial, item, block.XBlock, block.YBlock);
                ++written;
                reporter.SetProgress(static_cast<int>(written * 30 / objects + 60));
            }
        }
        out->WriteLine("EOF");
        if (textAfterEof)
            out->WriteRaw(afterEof);
        else
            out->WriteLine("");
        out->WriteRaw(reader.ReadTail());
        out->Finish();
        file->StartSync(0, 0);
        return dryRun ? nullptr : std::move(file);
    });
}

std::unique_ptr<ReplacementFile> AppendBlockToWsc(const std::string& wscPath, const TStaticBlock& block,
    std::uint16_t xBlock, std::uint16_t yBlock, Reporter& reporter, bool dryRun)
{
    return AppendBlocksToWsc(wscPath, {{xBlock, yBlock, std::span(block.Items.data(), block.Count)}}, reporter, dryRun);
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
    std::vector<int> slotOfEntry;
    slotOfEntry.reserve(table.size());
    for (const TExportEntry& entry : table) {
        const auto found = slotOfBlock.find({entry.XBlock, entry.YBlock});
        slotOfEntry.push_back(found != slotOfBlock.end() ? found->second : KeepSection);
    }

    return NamingWorldSave(wscPath, [&] {
        WscReader reader(wscPath);
        WscWriter writer(out);
        SectionExtractor(wscPath, table, slotOfEntry, slots).Run(reader, writer);
        return slots;
    });
}

} // namespace cryo
