#include "Text.h"

#include <gtest/gtest.h>

namespace cryo {
namespace {

TEST(Text, UpperCasingChangesOnlyAsciiLetters)
{
    EXPECT_EQ(UpperCase("section worlditem 5"), "SECTION WORLDITEM 5");
    EXPECT_EQ(UpperCase("a\xE9z{}~`"), "A\xE9Z{}~`");
    EXPECT_EQ(LowerCase("StaIdx0.MUL"), "staidx0.mul");
}

TEST(Text, TrimRemovesCodesZeroToThirtyTwoAtBothEnds)
{
    using namespace std::string_literals;
    EXPECT_EQ(Trim(" \t\x01 5 \r\x1F"), "5");
    EXPECT_EQ(Trim("\0 a b \0"s), "a b");
    EXPECT_EQ(Trim("   "), "");
    EXPECT_EQ(Trim("\xA0x\xA0"), "\xA0x\xA0");
    EXPECT_EQ(Trim("!x!"), "!x!");
}

TEST(Text, TagsMatchCaseInsensitivelyAtTheFirstCharacterOnly)
{
    EXPECT_TRUE(StartsWithTag("type 255", "TYPE "));
    EXPECT_TRUE(StartsWithTag("X 5", "X "));
    EXPECT_FALSE(StartsWithTag(" X 5", "X "));
    EXPECT_FALSE(StartsWithTag("X", "X "));
    EXPECT_FALSE(StartsWithTag("XY 5", "X "));
    EXPECT_FALSE(StartsWithTag("", "}"));
    EXPECT_TRUE(StartsWithTag("}}", "}"));
}

TEST(Text, BytesToHexShowsTheLowBytesMostSignificantFirst)
{
    EXPECT_EQ(BytesToHex(0x0EED, 2), "0E ED");
    EXPECT_EQ(BytesToHex(0x40000001, 4), "40 00 00 01");
    EXPECT_EQ(BytesToHex(0x40000000, 4), "40 00 00 00");
    EXPECT_EQ(BytesToHex(0x12345678, 3), "34 56 78");
    EXPECT_EQ(BytesToHex(0x12345678, 1), "78");
    EXPECT_EQ(BytesToHex(0x12345678, 0), "");
    EXPECT_EQ(BytesToHex(0xFFFFFFFB, 4), "FF FF FF FB");
}

TEST(Text, FullStopIsAddedAfterCharactersSortingAfterIt)
{
    EXPECT_EQ(WithFullStop("Disk full"), "Disk full.");
    EXPECT_EQ(WithFullStop("I/O error 5"), "I/O error 5.");
    EXPECT_EQ(WithFullStop("'x' is not a valid integer value"), "'x' is not a valid integer value.");
    EXPECT_EQ(WithFullStop("Invalid item in patch file! (Item#: 7)"), "Invalid item in patch file! (Item#: 7)");
    EXPECT_EQ(WithFullStop("Invalid tag after \"SECTION WORLDITEM 5\""), "Invalid tag after \"SECTION WORLDITEM 5\"");
    EXPECT_EQ(WithFullStop("Done."), "Done.");
    EXPECT_EQ(WithFullStop("a-"), "a-");
    EXPECT_EQ(WithFullStop("a/"), "a/.");
    EXPECT_EQ(WithFullStop(""), "");
}

} // namespace
} // namespace cryo
