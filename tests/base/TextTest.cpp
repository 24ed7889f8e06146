#include "Text.h"

#include <gtest/gtest.h>

namespace cryo {
namespace {

TEST(Text, CaseTrimAndTagsFollowTheAsciiRules)
{
    using namespace std::string_literals;
    EXPECT_EQ(UpperCase("section worlditem a\xE9z{}~`"), "SECTION WORLDITEM A\xE9Z{}~`");
    EXPECT_EQ(LowerCase("StaIdx0.MUL"), "staidx0.mul");
    EXPECT_EQ(Trim(" \t\x01 5 \r\x1F"), "5");
    EXPECT_EQ(Trim("\0 a b \0"s), "a b");
    EXPECT_EQ(Trim("   "), "");
    EXPECT_EQ(Trim("\xA0x!"), "\xA0x!");
    EXPECT_TRUE(StartsWithTag("type 255", "TYPE "));
    EXPECT_TRUE(StartsWithTag("}}", "}"));
    for (const char* line : {" X 5", "X", "XY 5", ""})
        EXPECT_FALSE(StartsWithTag(line, "X ")) << line;
}

TEST(Text, BytesToHexAndTheFullStop)
{
    EXPECT_EQ(BytesToHex(0x0EED, 2), "0E ED");
    EXPECT_EQ(BytesToHex(0x40000001, 4), "40 00 00 01");
    EXPECT_EQ(BytesToHex(0x12345678, 3), "34 56 78");
    EXPECT_EQ(BytesToHex(0x12345678, 0), "");
    // A full stop follows a last character that sorts after it.
    const std::pair<const char*, const char*> cases[] = {{"Disk full", "Disk full."}, {"I/O error 5", "I/O error 5."},
        {"(Item#: 7)", "(Item#: 7)"}, {"a\"", "a\""}, {"Done.", "Done."}, {"a-", "a-"}, {"a/", "a/."}, {"", ""}};
    for (const auto& [text, shown] : cases)
        EXPECT_EQ(WithFullStop(text), shown);
}

} // namespace
} // namespace cryo
