#include "WscText.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

namespace cryo {
namespace {

using namespace std::string_literals;
using test::TempFolder;
using test::WriteText;

struct ReadCase {
    std::string Text;
    std::vector<std::string> Lines;
    std::string Tail;
};

std::vector<std::string> LinesOf(WscReader& reader)
{
    std::vector<std::string> lines;
    reader.ForEachLine([&lines](std::string_view line) { lines.emplace_back(line); });
    return lines;
}

TEST(WscReader, LinesEndAtCarriageReturnsAndTextEndsAtCtrlZ)
{
    const ReadCase cases[] = {
        {"", {}, ""},
        {"a", {"a"}, ""},
        {"a\r\nb\r\n", {"a", "b"}, ""},
        {"a\rb\r", {"a", "b"}, ""},
        {"a\r\nb", {"a", "b"}, ""},
        {"a\r\r\nb", {"a", "", "b"}, ""},
        {"a\r\n\r\n", {"a", ""}, ""},
        {"\r\n", {""}, ""},
        {"\n\r\n", {"\n"}, ""},
        // An LF that no CR precedes is part of the line: LF-only files are one line.
        {"a\nb\nc\n", {"a\nb\nc\n"}, ""},
        {"a\n\rb", {"a\n", "b"}, ""},
        {"a\r\n\n", {"a", "\n"}, ""},
        // Ctrl-Z ends the text anywhere; the text before it on its line is a line.
        {"ab\x1A"
         "cd\r\n",
            {"ab"},
            "\x1A"
            "cd\r\n"},
        {"\x1A", {}, "\x1A"},
        {"a\r\x1A\r\nb", {"a"}, "\x1A\r\nb"},
        {"a\r\n\x1A\x1A", {"a"}, "\x1A\x1A"},
        {"a\0b\r\n"s, {"a\0b"s}, ""},
        // Sixteen bytes and more at a time, with line ends on and across their edges.
        {"0123456789abcde\r\n0123456789abcdef\r0123456789abcdefghijklmnopq\r\r\r\n\r",
            {"0123456789abcde", "0123456789abcdef", "0123456789abcdefghijklmnopq", "", "", ""}, ""},
        {std::string(15, 'a') + "\r" + std::string(16, '\n') + "\r\n", {std::string(15, 'a'), std::string(15, '\n')},
            ""},
    };
    TempFolder dir;
    for (const ReadCase& c : cases) {
        WriteText(dir / "w.wsc", c.Text);
        WscReader reader(dir / "w.wsc");
        EXPECT_EQ(LinesOf(reader), c.Lines) << testing::PrintToString(c.Text);
        EXPECT_EQ(reader.ReadTail(), c.Tail) << testing::PrintToString(c.Text);
    }
}

TEST(WscReader, LinesOfAnyLengthAndLineEndsAcrossReadBlocks)
{
    TempFolder dir;
    constexpr std::size_t block = std::size_t{1} << 20;
    for (const std::size_t length : {block - 2, block - 1, block, block + 1, 3 * block + 5}) {
        const std::string longLine(length, 'x');
        WriteText(dir / "w.wsc",
            "first\r\n" + longLine + "\r\nlast\r\n" + longLine + "\r" + longLine
                + "\x1A"
                  "end");
        WscReader reader(dir / "w.wsc");
        const std::vector<std::string> lines = LinesOf(reader);
        ASSERT_EQ(lines.size(), 5u) << length;
        EXPECT_EQ(lines[0], "first");
        EXPECT_EQ(lines[1], longLine);
        EXPECT_EQ(lines[2], "last");
        EXPECT_EQ(lines[3], longLine);
        EXPECT_EQ(lines[4], longLine);
        EXPECT_EQ(reader.ReadTail(),
            "\x1A"
            "end");

        reader.Rewind();
        EXPECT_EQ(LinesOf(reader).size(), 5u);
    }
    // Each line end falls once on the edge between two read blocks.
    std::string text;
    std::vector<std::string> expected;
    for (std::size_t i = 0; text.size() < 2 * block + 100; ++i) {
        expected.push_back(std::string(1 + i % 13, static_cast<char>('a' + i % 26)));
        text += expected.back() + (i % 3 == 0 ? "\r" : "\r\n");
    }
    WriteText(dir / "w.wsc", text);
    WscReader reader(dir / "w.wsc");
    EXPECT_EQ(LinesOf(reader), expected);
}

TEST(WscWriter, WritesEveryLineWithCrLf)
{
    TempFolder dir;
    {
        ReplacementFile file(dir / "out.wsc");
        WscWriter writer(file);
        writer.WriteLine("a");
        writer.WriteLine("");
        writer.WriteLine("b\nc");
        writer.WriteLine(std::string(3 << 20, 'y'));
        writer.WriteRaw("\x1Atail");
        writer.Finish();
        file.Commit();
    }
    EXPECT_EQ(test::ReadText(dir / "out.wsc"), "a\r\n\r\nb\nc\r\n" + std::string(3 << 20, 'y') + "\r\n\x1Atail");
}

TEST(TagValue, TrimsTheRestAndReportsTheUpperCasedText)
{
    EXPECT_EQ(TagValue("X 5", 1), 5);
    EXPECT_EQ(TagValue("x \t 5 \x01", 1), 5);
    EXPECT_EQ(TagValue("TYPE $ff", 4), 255);
    EXPECT_EQ(TagValue("SECTION WORLDITEM   -0", 17), 0);
    EXPECT_EQ(test::ErrorText([] { TagValue("x abc", 1); }), "'ABC' is not a valid integer value");
    EXPECT_EQ(test::ErrorText([] { TagValue("X ", 1); }), "'' is not a valid integer value");
    EXPECT_EQ(test::ErrorText([] { TagValue("Z 1 2", 1); }), "'1 2' is not a valid integer value");
}

} // namespace
} // namespace cryo
