#include "WorldRewrite.h"
#include "File.h"
#include "TestSupport.h"
#include "World.h"

#include <gtest/gtest.h>

namespace cryo {
namespace {

using test::CrLfLines;
using test::ReadText;
using test::RecordingReporter;
using test::TempFolder;
using test::WriteText;

std::string Section(int number, long serial, int id, int x, int y, int z, int color)
{
    return CrLfLines({"SECTION WORLDITEM " + std::to_string(number), "{", "SERIAL " + std::to_string(serial), "NAME #",
        "ID " + std::to_string(id), "X " + std::to_string(x), "Y " + std::to_string(y), "Z " + std::to_string(z),
        "COLOR " + std::to_string(color), "CONT -1", "TYPE 255", "}", ""});
}

const std::string Existing = CrLfLines({"SECTION CHARACTER 0", "{", "SERIAL 1073741900", "}", "",
    "SECTION WORLDITEM 41", "{", "SERIAL 1073741850", "id 5", "TYPE 0", "}", ""});

// The world save's text after appending the items of block (x, y), committed.
std::string Append(const TempFolder& dir, const std::vector<TStaticItem>& items, std::uint16_t x, std::uint16_t y,
    RecordingReporter& reporter)
{
    if (const auto file = AppendBlockToWsc(dir / "UOX3.wsc", StaticBlockOf(items), x, y, reporter))
        file->Commit();
    return ReadText(dir / "UOX3.wsc");
}

TEST(AppendBlockToWsc, WritesOneThirteenLineSectionPerObjectAfterTheHighestNumbers)
{
    TempFolder dir;
    WriteText(dir / "UOX3.wsc", Existing + CrLfLines({"EOF"}));
    RecordingReporter reporter;
    EXPECT_EQ(Append(dir, {{1234, 3, 5, -5, 0}, {0xFFFF, 7, 7, 127, 65535}}, 100, 200, reporter),
        Existing
            + CrLfLines({"SECTION WORLDITEM 42", "{", "SERIAL 1073741901", "NAME #", "ID 1234", "X 803", "Y 1605",
                "Z -5", "COLOR 0", "CONT -1", "TYPE 255", "}", ""})
            + Section(43, 1073741902, 65535, 807, 1607, 127, 65535) + CrLfLines({"EOF", ""}));
    EXPECT_EQ(reporter.Lines, (std::vector<std::string>{"Highest number: 41", "Highest serial: 40 00 00 4C"}));
    EXPECT_EQ(reporter.Progress, (std::vector<int>{60, 75, 90}));

    // An empty block only logs, and opens no file.
    RecordingReporter empty;
    EXPECT_EQ(AppendBlockToWsc(dir / "missing.wsc", TStaticBlock{}, 1, 1, empty), nullptr);
    EXPECT_EQ(empty.Lines, std::vector<std::string>{"Nothing to do!"});
}

struct AppendCase {
    std::string Before;
    std::string Kept; // what stays in front of the new section
    int Number; // the new section's number and serial
    int Serial;
    std::string Rest; // what follows the new "EOF" line
};

TEST(AppendBlockToWsc, NumbersFollowTheHighestAndSectionsReplaceTheFirstEofLine)
{
    const std::string afterCtrlZ = "\x1A"
                                   "SECTION WORLDITEM 900\r\nbinary\x01\xFF";
    // The largest number and serial count, wherever they stand and however written.
    const std::string numbers = CrLfLines({"SECTION WORLDITEM 7", "SECTION CHARACTER 9", "SERIAL 1073741900",
        "section worlditem $1F", " SECTION WORLDITEM 90", "SERIALS 1073741999", "SECTION WORLDITEM -5"});
    const std::string last = CrLfLines({"SECTION WORLDITEM 65533", "serial $4000000F"});
    const AppendCase cases[] = {
        {numbers, numbers, 32, 1073741901, "\r\n"},
        // The last number that a freeze takes.
        {last, last, 65534, 1073741840, "\r\n"},
        {CrLfLines({"a", " eof ", "", " \t"}), CrLfLines({"a"}), 0, 1073741825, "\r\n"},
        {"no line end", CrLfLines({"no line end"}), 0, 1073741825, "\r\n"},
        {std::string(3 << 20, 'y'), CrLfLines({std::string(3 << 20, 'y')}), 0, 1073741825, "\r\n"},
        {CrLfLines({"lower case ", "\tTabbed", "EOFX"}), CrLfLines({"lower case ", "\tTabbed", "EOFX"}), 0, 1073741825,
            "\r\n"},
        {"a\rEOF\r", CrLfLines({"a"}), 0, 1073741825, "\r\n"},
        // What follows the first "EOF" line stays unless it is blank.
        {CrLfLines({"a", "Eof", "", "SECTION WORLDITEM 900", "}", "EOF", ""}), CrLfLines({"a"}), 901, 1073741825,
            CrLfLines({"", "SECTION WORLDITEM 900", "}", "EOF", ""})},
        {CrLfLines({"EOF", "EOF"}), "", 0, 1073741825, CrLfLines({"EOF"})},
        // A byte-order mark stays at the start, and what follows a Ctrl-Z at the end.
        {"\xEF\xBB\xBF" + CrLfLines({"SECTION WORLDITEM  +4 ", "EOF"}) + afterCtrlZ,
            "\xEF\xBB\xBF" + CrLfLines({"SECTION WORLDITEM  +4 "}), 5, 1073741825, "\r\n" + afterCtrlZ},
    };
    // Long texts, read sixteen bytes at a time and copied in runs, at every alignment.
    std::vector<AppendCase> all(std::begin(cases), std::end(cases));
    const std::string pad = CrLfLines({"SECTION CHARACTER 1", "{", "NAME Fred of Foxfield", "}", ""});
    for (int shift = 0; shift < 17; ++shift) {
        const std::string kept = std::string(static_cast<std::size_t>(shift), ' ') + "\r\n" + pad + pad
            + "\nSECTION WORLDITEM 80\r\nx\ry\r\nSERIAL 1073742000\r\nsection worlditem 6\r\n";
        all.push_back({kept + " eOf \r\nafter\r\n",
            CrLfLines({std::string(static_cast<std::size_t>(shift), ' ')}) + pad + pad
                + CrLfLines({"\nSECTION WORLDITEM 80", "x", "y", "SERIAL 1073742000", "section worlditem 6"}),
            7, 1073742001, CrLfLines({"after"})});
    }
    TempFolder dir;
    for (const AppendCase& c : all) {
        WriteText(dir / "UOX3.wsc", c.Before);
        RecordingReporter reporter;
        EXPECT_EQ(Append(dir, {{2, 1, 1, 0, 0}}, 0, 0, reporter),
            c.Kept + Section(c.Number, c.Serial, 2, 1, 1, 0, 0) + CrLfLines({"EOF"}) + c.Rest)
            << testing::PrintToString(c.Before.substr(0, 100));
    }
}

} // namespace
} // namespace cryo
