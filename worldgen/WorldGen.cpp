#include "WorldGen.h"

#include "File.h"

#include <random>
#include <set>

namespace cryo::worldgen {

namespace {

void AppendLine(std::string& text, const std::string& line)
{
    text += line;
    text += "\r\n";
}

void AppendItem(std::string& text, int number, std::int64_t serial, int id, int x, int y, int z, int color,
    bool type255, int extraLines, const char* cont = "-1", bool closed = true)
{
    AppendLine(text, "SECTION WORLDITEM " + std::to_string(number));
    AppendLine(text, "{");
    AppendLine(text, "SERIAL " + std::to_string(serial));
    AppendLine(text, type255 ? "NAME #" : "NAME a generated item");
    AppendLine(text, "ID " + std::to_string(id));
    AppendLine(text, "X " + std::to_string(x));
    AppendLine(text, "Y " + std::to_string(y));
    AppendLine(text, "Z " + std::to_string(z));
    AppendLine(text, "COLOR " + std::to_string(color));
    AppendLine(text, std::string("CONT ") + cont);
    AppendLine(text, "TYPE " + std::to_string(type255 ? 255 : 0));
    for (int i = 0; i < extraLines; ++i)
        AppendLine(text, "MORE " + std::to_string(i));
    if (closed)
        AppendLine(text, "}");
    AppendLine(text, "");
}

void AppendMulti(std::string& text, int number, std::int64_t serial, int x, int y)
{
    AppendLine(text, "SECTION MULTI " + std::to_string(number));
    AppendLine(text, "{");
    AppendLine(text, "SERIAL " + std::to_string(serial));
    AppendLine(text, "ID 16384");
    AppendLine(text, "X " + std::to_string(x));
    AppendLine(text, "Y " + std::to_string(y));
    AppendLine(text, "}");
    AppendLine(text, "");
}

void AppendCharacter(std::string& text, int number, std::int64_t serial, int x, int y)
{
    AppendLine(text, "SECTION CHARACTER " + std::to_string(number));
    AppendLine(text, "{");
    AppendLine(text, "SERIAL " + std::to_string(serial));
    AppendLine(text, "NAME Character " + std::to_string(number));
    AppendLine(text, "X " + std::to_string(x));
    AppendLine(text, "Y " + std::to_string(y));
    AppendLine(text, "Z 0");
    AppendLine(text, "}");
    AppendLine(text, "");
}

} // namespace

void WriteWholeFile(const std::string& path, const void* data, std::size_t size)
{
    ReplacementFile file(path);
    file.Write(data, size);
    file.Commit();
}

std::string GenerateWsc(const WscOptions& options)
{
    std::mt19937 random(options.Seed);
    auto uniform = [&random](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };

    std::vector<std::pair<int, int>> blocks;
    std::set<std::pair<int, int>> used;
    while (static_cast<int>(blocks.size()) < std::max(1, options.Blocks)) {
        const std::pair<int, int> block{uniform(0, MapXBlocks - 1), uniform(0, MapYBlocks - 1)};
        if (used.insert(block).second)
            blocks.push_back(block);
    }

    std::string text;
    text.reserve(static_cast<std::size_t>(options.TargetBytes) + 4096);
    std::int64_t serial = 0x40000000;

    for (int c = 0; c < options.Characters; ++c)
        AppendCharacter(text, c, c + 1, uniform(0, 6143), uniform(0, 4095));
    if (options.ReusedNumbers)
        AppendItem(text, 65535, ++serial, 1, 8, 8, 0, 0, true, 0);
    const bool oddCases = options.OtherSections || options.ContainedItems || options.Unterminated;

    // TYPE 255 items are spread evenly through the file and own their numbers;
    // ordinary items take the numbers after them and, once the 16-bit numbers
    // run out, reuse them, as long-running servers' files do.
    constexpr std::uint64_t TypicalSectionBytes = 190;
    const int type255Count = std::min(options.Type255Items, 65535);
    const std::uint64_t sections = std::max<std::uint64_t>(
        static_cast<std::uint64_t>(type255Count + options.OrdinaryItems), options.TargetBytes / TypicalSectionBytes);
    int type255Left = type255Count;
    int ordinaryLeft = options.OrdinaryItems;
    int nextType255Number = 0;
    int nextOrdinaryNumber = type255Count;
    for (std::uint64_t written = 0; type255Left > 0 || ordinaryLeft > 0 || text.size() + 16 < options.TargetBytes;
         ++written) {
        const std::uint64_t slotsLeft = sections > written ? sections - written : 1;
        const bool type255 = type255Left > 0
            && std::uniform_int_distribution<std::uint64_t>(0, slotsLeft - 1)(random)
                < static_cast<std::uint64_t>(type255Left);
        if (type255) {
            const auto [bx, by] = blocks[static_cast<std::size_t>(type255Left) % blocks.size()];
            int number = nextType255Number++;
            if (options.ReusedNumbers && uniform(0, 3) == 0)
                number = uniform(0, std::max(0, std::min(nextOrdinaryNumber, options.HighestNumber) - 1));
            AppendItem(text, number, ++serial, uniform(1, 0x3FFF), bx * 8 + uniform(0, 7), by * 8 + uniform(0, 7),
                uniform(-128, 127), uniform(0, 3000), true, 0);
            --type255Left;
        } else {
            // Each odd case takes the place of about one ordinary item in twenty.
            const int odd = oddCases ? uniform(0, 59) : 59;
            if (odd < 3 && options.ContainedItems) {
                const char* conts[] = {"1073741830", "$FF", "x"};
                AppendItem(text, nextOrdinaryNumber, ++serial, 3, 5, 5, 0, 0, true, 0, conts[odd]);
            } else if (odd < 6 && options.Unterminated) {
                AppendItem(text, nextOrdinaryNumber, ++serial, 4, uniform(0, 6143), uniform(0, 4095), 0, 0, true, 0,
                    "-1", false);
                if (odd == 3 && options.OtherSections)
                    AppendMulti(text, nextOrdinaryNumber, ++serial, uniform(0, 6143), uniform(0, 4095));
            } else {
                AppendItem(text, nextOrdinaryNumber, ++serial, uniform(1, 0x3FFF), uniform(0, 6143), uniform(0, 4095),
                    uniform(-128, 127), uniform(0, 3000), false, uniform(0, 4));
                if (odd >= 6 && odd < 9 && options.OtherSections)
                    AppendMulti(text, nextOrdinaryNumber, ++serial, uniform(0, 6143), uniform(0, 4095));
            }
            if (++nextOrdinaryNumber > options.HighestNumber)
                nextOrdinaryNumber = std::min(type255Count, options.HighestNumber);
            if (ordinaryLeft > 0)
                --ordinaryLeft;
        }
    }
    AppendLine(text, "EOF");
    AppendLine(text, "");
    if (options.TextAfterEof) {
        const auto [bx, by] = blocks[0];
        AppendItem(text, nextType255Number, ++serial, 7, bx * 8, by * 8, 0, 0, true, 0);
        AppendItem(text, nextOrdinaryNumber, ++serial, 8, 100, 100, 0, 0, false, 0);
        AppendLine(text, "EOF");
        AppendLine(text, "");
    }
    return text;
}

void GenerateStatics(
    int blockCount, int maxItems, std::uint32_t seed, StaIdx& table, std::vector<unsigned char>& statics)
{
    std::mt19937 random(seed);
    auto uniform = [&random](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
    for (int b = 0; b < blockCount; ++b) {
        TStaIdxEntry& entry
            = table.Entries[static_cast<std::size_t>(uniform(0, static_cast<int>(table.Entries.size()) - 1))];
        const int count = uniform(1, std::max(1, maxItems));
        entry.Offset = static_cast<std::int32_t>(statics.size());
        entry.Length = count * StaticItemSize;
        for (int i = 0; i < count; ++i) {
            const TStaticItem item{static_cast<std::uint16_t>(uniform(1, 0x3FFF)),
                static_cast<std::uint8_t>(uniform(0, 7)), static_cast<std::uint8_t>(uniform(0, 7)),
                static_cast<std::int8_t>(uniform(-128, 127)), static_cast<std::uint16_t>(uniform(0, 3000))};
            unsigned char bytes[StaticItemSize];
            EncodeStaticItem(item, bytes);
            statics.insert(statics.end(), bytes, bytes + StaticItemSize);
        }
    }
}

StaIdx EmptyIndex(MapBlocks size)
{
    StaIdx table(size);
    for (TStaIdxEntry& entry : table.Entries)
        entry = {-1, 0, 0};
    return table;
}

void WriteSampleWorld(const std::string& folder)
{
    StaIdx table = EmptyIndex();
    std::vector<unsigned char> statics;
    auto addBlock = [&](int xBlock, int yBlock, const std::vector<TStaticItem>& items) {
        TStaIdxEntry& entry = table.At(static_cast<std::uint16_t>(xBlock), static_cast<std::uint16_t>(yBlock));
        entry
            = {static_cast<std::int32_t>(statics.size()), static_cast<std::int32_t>(items.size() * StaticItemSize), 0};
        for (const TStaticItem& item : items) {
            unsigned char bytes[StaticItemSize];
            EncodeStaticItem(item, bytes);
            statics.insert(statics.end(), bytes, bytes + StaticItemSize);
        }
    };
    // A little house: walls, a floor tile, a lamp post, a sign.
    addBlock(100, 200,
        {{0x0EED, 3, 5, -5, 0}, {0x0064, 0, 0, 0, 0}, {0x0065, 1, 0, 0, 0}, {0x0066, 2, 0, 0, 0},
            {0x0495, 4, 4, 0, 0x0481}, {0x0B41, 6, 2, 3, 0}});
    addBlock(100, 201, {{0x0CCA, 2, 2, 0, 0}, {0x0CCB, 5, 6, 1, 0}});
    addBlock(101, 200, {{0x1771, 0, 7, 0, 0x03E8}});

    std::vector<unsigned char> index(table.Entries.size() * StaIdxRecordSize);
    for (std::size_t i = 0; i < table.Entries.size(); ++i)
        EncodeStaIdxEntry(table.Entries[i], &index[i * StaIdxRecordSize]);

    std::string wsc;
    AppendCharacter(wsc, 0, 1, 803, 1605);
    AppendItem(wsc, 0, 0x40000001, 0x0EED, 805, 1602, 0, 0, false, 1);
    AppendItem(wsc, 1, 0x40000002, 0x0E75, 806, 1603, 0, 0, false, 0);
    // Three items placed by an operator, marked to become statics.
    AppendItem(wsc, 2, 0x40000003, 0x0FAF, 803, 1610, 0, 0, true, 0);
    AppendItem(wsc, 3, 0x40000004, 0x0FB0, 804, 1610, 0, 0, true, 0);
    AppendItem(wsc, 4, 0x40000005, 0x0A2A, 818, 1599, 5, 0x0021, true, 0);
    AppendLine(wsc, "EOF");
    AppendLine(wsc, "");

    const std::string prefix = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    WriteWholeFile(prefix + "StaIdx0.mul", index.data(), index.size());
    WriteWholeFile(prefix + "Statics0.mul", statics.data(), statics.size());
    WriteWholeFile(prefix + "UOX3.wsc", wsc.data(), wsc.size());
}

} // namespace cryo::worldgen
