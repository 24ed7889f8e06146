#include "WscText.h"
#include "TestSupport.h"
#include "World.h"

#include <gtest/gtest.h>

namespace cryo {
namespace {

using namespace std::string_literals;
using test::TempFolder;
using test::WriteText;

struct ReadCase {
    std::string Text;
    std::vector<std::string> Lines;
    std::string Tail; // or, for text that is refused, the error
};

std::vector<std::string> LinesOf(WscReader& reader)
{
    std::vector<std::string> lines;
    reader.ForEachLine([&lines](std::string_view line) { lines.emplace_back(line); });
    return lines;
}

TEST(WscReader, LinesEndAtCarriageReturnsAndTextEndsAtCtrlZ)
{
    const std::string lfAlone
        = "The world save's lines end in LF alone, not CR LF: convert it to CR LF line ends first.";
    const std::string utf16 = "The world save is UTF-16 text: save it as ANSI or UTF-8 first.";
    const ReadCase cases[] = {
        {"", {}, ""},
        {"a\r\nb", {"a", "b"}, ""},
        {"a\rb\r", {"a", "b"}, ""},
        {"a\r\r\nb\r\n\r\n", {"a", "", "b", ""}, ""},
        // An LF that no CR precedes is part of the line.
        {"\n\r\na\n\rb\r\n\n", {"\n", "a\n", "b", "\n"}, ""},
        // Ctrl-Z ends the text anywhere; the text before it on its line is a line.
        {"ab\x1A" + "cd\r\n"s, {"ab"}, "\x1A" + "cd\r\n"s},
        {"a\r\x1A\r\nb", {"a"}, "\x1A\r\nb"},
        {"a\0b\r\n"s, {"a\0b"s}, ""},
        // A UTF-8 byte-order mark is no part of the first line; a broken one is.
        {"\xEF\xBB\xBF" + "a\r\nb"s, {"a", "b"}, ""},
        {"\xEF\xBB" + "a\r\n"s, {"\xEF\xBB" + "a"s}, ""},
        // Text that would be misread is refused.
        {"SECTION WORLDITEM 1\nTYPE 255\n}\n", {}, lfAlone},
        {"\xEF\xBB\xBF" + "a\nb"s, {}, lfAlone},
        {"a\nb\x1A\r\n", {}, lfAlone},
        {"\xFF\xFE" + "S\0\r\0\n\0"s, {}, utf16},
        {"\xFE\xFF\0S\0\r"s, {}, utf16},
    };
    TempFolder dir;
    for (const ReadCase& c : cases) {
        WriteText(dir / "w.wsc", c.Text);
        std::vector<std::string> lines;
        std::string tail;
        const std::string error = test::ErrorLineOf([&] {
            WscReader reader(dir / "w.wsc");
            lines = LinesOf(reader);
            tail = reader.ReadTail();
            EXPECT_EQ(reader.Bom(), c.Text.starts_with("\xEF\xBB\xBF") ? "\xEF\xBB\xBF" : "");
            reader.Rewind();
            EXPECT_EQ(LinesOf(reader), lines);
        });
        EXPECT_EQ(lines, c.Lines) << testing::PrintToString(c.Text);
        EXPECT_EQ(error.empty() ? tail : error, (error.empty() ? "" : dir / "w.wsc: ") + c.Tail)
            << testing::PrintToString(c.Text);
    }
}

TEST(WscReader, LinesOfAnyLengthAndLineEndsAcrossReadBlocks)
{
    TempFolder dir;
    constexpr std::size_t block = std::size_t{1} << 20;
    for (const std::size_t length : {block - 2, block - 1, block, 3 * block + 5}) {
        const std::string longLine(length, 'x');
        WriteText(dir / "w.wsc", "first\r\n" + longLine + "\r\nlast\r\n" + longLine + "\r" + longLine + "\x1A");
        WscReader reader(dir / "w.wsc");
        EXPECT_EQ(LinesOf(reader), (std::vector<std::string>{"first", longLine, "last", longLine, longLine}));
        EXPECT_EQ(reader.ReadTail(), "\x1A");
    }
}

} // namespace
} // namespace cryo
