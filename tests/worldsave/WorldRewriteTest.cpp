#include "WorldRewrite.h"
#include "Error.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <memory>

namespace cryo {
namespace {

using test::BlockItems;
using test::CrLfLines;
using test::ErrorText;
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

TEST(AppendBlockToWsc, WritesOneThirteenLineSectionPerObjectBeforeEof)
{
    TempFolder dir;
    WriteText(dir / "UOX3.wsc", Existing + CrLfLines({"EOF", "after the end"}));
    RecordingReporter reporter;
    AppendBlockToWsc(dir / "UOX3.wsc", StaticBlockOf({{1234, 3, 5, -5, 0}}), 100, 200, reporter);

    EXPECT_EQ(ReadText(dir / "UOX3.wsc"),
        Existing
            + CrLfLines({"SECTION WORLDITEM 42", "{", "SERIAL 1073741901", "NAME #", "ID 1234", "X 803", "Y 1605",
                "Z -5", "COLOR 0", "CONT -1", "TYPE 255", "}", "", "EOF", ""}));
    EXPECT_EQ(reporter.Lines, (std::vector<std::string>{"Highest number: 41", "Highest serial: 40 00 00 4C"}));
    EXPECT_EQ(reporter.Progress, (std::vector<int>{60, 90}));
}

TEST(AppendBlockToWsc, NumbersFollowTheHighestAndProgressRunsTo90)
{
    TempFolder dir;
    WriteText(dir / "UOX3.wsc", "");
    std::vector<TStaticItem> items;
    for (int i = 0; i < 7; ++i)
        items.push_back({static_cast<std::uint16_t>(0xFFFF - i), static_cast<std::uint8_t>(i), 7, 127, 65535});
    RecordingReporter reporter;
    AppendBlockToWsc(dir / "UOX3.wsc", StaticBlockOf(items), 767, 511, reporter);

    std::string expected;
    for (int i = 0; i < 7; ++i)
        expected += Section(i, 1073741825 + i, 0xFFFF - i, 6136 + i, 4095, 127, 65535);
    EXPECT_EQ(ReadText(dir / "UOX3.wsc"), expected + CrLfLines({"EOF", ""}));
    EXPECT_EQ(reporter.Lines, (std::vector<std::string>{"Highest number: -1", "Highest serial: 40 00 00 00"}));
    EXPECT_EQ(reporter.Progress, (std::vector<int>{60, 64, 68, 72, 77, 81, 85, 90}));

    // A second melt numbers after the first.
    RecordingReporter second;
    AppendBlockToWsc(dir / "UOX3.wsc", StaticBlockOf({{1, 0, 0, 0, 0}}), 0, 0, second);
    EXPECT_EQ(second.Lines, (std::vector<std::string>{"Highest number: 6", "Highest serial: 40 00 00 07"}));
    EXPECT_EQ(ReadText(dir / "UOX3.wsc"), expected + Section(7, 1073741832, 1, 0, 0, 0, 0) + CrLfLines({"EOF", ""}));
}

struct EofCase {
    std::string Before;
    std::string Kept;
};

TEST(AppendBlockToWsc, KeepsLinesAsReadUpToTheFirstEofLine)
{
    const EofCase cases[] = {
        {CrLfLines({"a", " eof ", "b"}), CrLfLines({"a"})},
        {CrLfLines({"a", "Eof", "EOF"}), CrLfLines({"a"})},
        {CrLfLines({"lower case ", "\tTabbed", "EOFX", "E O F"}),
            CrLfLines({"lower case ", "\tTabbed", "EOFX", "E O F"})},
        {"no line end", CrLfLines({"no line end"})},
        {"a\nb\r\nEOF\r\n", CrLfLines({"a\nb"})},
        {"a\rEOF\r", CrLfLines({"a"})},
    };
    TempFolder dir;
    for (const EofCase& c : cases) {
        WriteText(dir / "UOX3.wsc", c.Before);
        RecordingReporter reporter;
        AppendBlockToWsc(dir / "UOX3.wsc", StaticBlockOf({{2, 1, 1, 0, 0}}), 0, 0, reporter);
        EXPECT_EQ(ReadText(dir / "UOX3.wsc"), c.Kept + Section(0, 1073741825, 2, 1, 1, 0, 0) + CrLfLines({"EOF", ""}))
            << testing::PrintToString(c.Before);
    }
}

TEST(AppendBlockToWsc, AnEmptyBlockOnlyLogs)
{
    TempFolder dir;
    RecordingReporter reporter;
    AppendBlockToWsc(dir / "missing.wsc", TStaticBlock{}, 1, 1, reporter);
    EXPECT_EQ(reporter.Lines, std::vector<std::string>{"Nothing to do!"});
    EXPECT_TRUE(reporter.Progress.empty());
    EXPECT_TRUE(dir.Entries().empty());
}

TEST(AppendBlockToWsc, KeepsWhatFollowsACtrlZ)
{
    TempFolder dir;
    WriteText(dir / "UOX3.wsc", CrLfLines({"a", "EOF"}) + "\x1A" + "SECTION WORLDITEM 900\r\nbinary\x01\xFF");
    RecordingReporter reporter;
    AppendBlockToWsc(dir / "UOX3.wsc", StaticBlockOf({{2, 1, 1, 0, 0}}), 0, 0, reporter);
    EXPECT_EQ(reporter.Lines[0], "Highest number: -1");
    EXPECT_EQ(ReadText(dir / "UOX3.wsc"),
        CrLfLines({"a"}) + Section(0, 1073741825, 2, 1, 1, 0, 0) + CrLfLines({"EOF", ""}) + "\x1A"
            + "SECTION WORLDITEM 900\r\nbinary\x01\xFF");
}

TEST(AppendBlockToWsc, AFailureLeavesTheWorldSaveByteIdentical)
{
    TempFolder dir;
    const std::string serialAtTheTop = CrLfLines({"SECTION WORLDITEM 5", "SERIAL 2147483646", "EOF"});
    WriteText(dir / "UOX3.wsc", serialAtTheTop);
    RecordingReporter reporter;
    EXPECT_EQ(ErrorText([&] {
        AppendBlockToWsc(dir / "UOX3.wsc", StaticBlockOf({{1, 0, 0, 0, 0}, {2, 0, 0, 0, 0}}), 0, 0, reporter);
    }),
        "Integer overflow");
    EXPECT_EQ(reporter.Progress, (std::vector<int>{60, 75}));
    EXPECT_EQ(ReadText(dir / "UOX3.wsc"), serialAtTheTop);

    const std::string numberAtTheTop = CrLfLines({"SECTION WORLDITEM 2147483647"});
    WriteText(dir / "UOX3.wsc", numberAtTheTop);
    EXPECT_EQ(ErrorText([&] {
        AppendBlockToWsc(dir / "UOX3.wsc", StaticBlockOf({{1, 0, 0, 0, 0}}), 0, 0, reporter);
    }),
        "Integer overflow");
    EXPECT_EQ(ReadText(dir / "UOX3.wsc"), numberAtTheTop);

    const std::string notANumber = CrLfLines({"SERIAL 12 34"});
    WriteText(dir / "UOX3.wsc", notANumber);
    EXPECT_EQ(ErrorText([&] {
        AppendBlockToWsc(dir / "UOX3.wsc", StaticBlockOf({{1, 0, 0, 0, 0}}), 0, 0, reporter);
    }),
        "'12 34' is not a valid integer value");
    EXPECT_EQ(ReadText(dir / "UOX3.wsc"), notANumber);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"UOX3.wsc"});
}

#ifndef _WIN32

TEST(AppendBlockToWsc, FullDisksAndReadOnlyFilesLeaveTheWorldSaveByteIdentical)
{
    TempFolder dir;
    std::string text = Existing;
    while (text.size() < 20000)
        text += Existing;
    WriteText(dir / "UOX3.wsc", text);

    const std::string full = test::ErrorTextInChild({.FileSizeLimit = 10000}, [&] {
        RecordingReporter reporter;
        AppendBlockToWsc(dir / "UOX3.wsc", StaticBlockOf({{1, 0, 0, 0, 0}}), 0, 0, reporter);
    });
    EXPECT_EQ(full, "Disk full");
    EXPECT_EQ(ReadText(dir / "UOX3.wsc"), text);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"UOX3.wsc"});

    ::chmod(dir.path().c_str(), 0777);
    test::SetReadOnly(dir / "UOX3.wsc");
    const std::string denied = test::ErrorTextInChild({.Unprivileged = true}, [&] {
        RecordingReporter reporter;
        AppendBlockToWsc(dir / "UOX3.wsc", StaticBlockOf({{1, 0, 0, 0, 0}}), 0, 0, reporter);
        throw Error("no error");
    });
    EXPECT_EQ(denied, "File access denied");
    EXPECT_EQ(ReadText(dir / "UOX3.wsc"), text);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"UOX3.wsc"});
}

#endif

// ---- Extraction ----

struct Extraction {
    std::vector<TStaticItem> Items;
    std::string Text;
};

Extraction Extract(
    const TempFolder& dir, const std::string& text, const ExportTable& table, std::uint16_t x, std::uint16_t y)
{
    WriteText(dir / "UOX3.wsc", text);
    TStaticBlock block;
    ExtractBlockFromWsc(dir / "UOX3.wsc", block, table, x, y);
    return {BlockItems(block), ReadText(dir / "UOX3.wsc")};
}

TEST(ExtractBlockFromWsc, MeltedSectionsComeBackAsTheSameObjectsInOrder)
{
    TempFolder dir;
    const std::vector<TStaticItem> items{{1234, 3, 5, -5, 0}, {0xFFFF, 7, 7, 127, 65535}, {0, 0, 0, -128, 1}};
    WriteText(dir / "UOX3.wsc", Existing + CrLfLines({"EOF"}));
    RecordingReporter reporter;
    AppendBlockToWsc(dir / "UOX3.wsc", StaticBlockOf(items), 100, 200, reporter);

    auto table = std::make_unique<ExportTable>();
    SelectItemsForExport(dir / "UOX3.wsc", *table, reporter);
    const Extraction result = Extract(dir, ReadText(dir / "UOX3.wsc"), *table, 100, 200);
    EXPECT_EQ(result.Items, items);
    // Each section loses its twelve lines; the empty line after each "}" stays.
    EXPECT_EQ(result.Text, Existing + CrLfLines({"", "", "", "EOF", ""}));
}

TEST(ExtractBlockFromWsc, TakesOnlyTheSectionsSelectedForThisBlock)
{
    TempFolder dir;
    const std::string other = CrLfLines({"SECTION WORLDITEM 2", "{", "ID 9", "X 16", "Y 16", "TYPE 255", "}"});
    const std::string text = CrLfLines({"SECTION WORLDITEM 1", "{", "id 7", "x 803", "y 1605", "z -5", "color 33",
                                 "TYPE 255", "}", "after"})
        + other
        + CrLfLines(
            {"SECTION WORLDITEM 3", "{", "TYPE 255", "X 12", "}", "SECTION WORLDITEM 1", "X 811", "Y 1613", "}"});
    auto table = std::make_unique<ExportTable>();
    (*table)[1] = {1, 100, 200};
    (*table)[2] = {1, 2, 2};
    (*table)[3] = {1, 100, 200};

    const Extraction result = Extract(dir, text, *table, 100, 200);
    // By number alone: the second section 1 is taken too. Offsets are X mod 8, Y mod 8.
    EXPECT_EQ(result.Items, (std::vector<TStaticItem>{{7, 3, 5, -5, 33}, {0, 4, 0, 0, 0}, {0, 3, 5, 0, 0}}));
    EXPECT_EQ(result.Text, CrLfLines({"after"}) + other);
}

TEST(ExtractBlockFromWsc, ALineAfterTheBraceStaysAndOffsetsBeyondTheBlockWrap)
{
    TempFolder dir;
    const std::string text
        = CrLfLines({"SECTION WORLDITEM 4", "{", "X 805", "Y 1611", "TYPE 255", "} trailing", "kept"});
    auto table = std::make_unique<ExportTable>();
    (*table)[4] = {1, 0, 0};
    const Extraction result = Extract(dir, text, *table, 0, 0);
    EXPECT_EQ(result.Items, (std::vector<TStaticItem>{{0, 5, 3, 0, 0}}));
    EXPECT_EQ(result.Text, CrLfLines({"kept"}));
}

TEST(ExtractBlockFromWsc, ASectionWithoutItsBraceStopsItBeforeTheFileChanges)
{
    TempFolder dir;
    auto table = std::make_unique<ExportTable>();
    (*table)[6] = {1, 0, 0};
    // Two sections numbered 6; the first never closes before the next section line.
    const std::string beforeNext = CrLfLines(
        {"SECTION WORLDITEM 6", "{", "ID 5", "TYPE 255", "SECTION WORLDITEM 6", "{", "ID 8", "TYPE 255", "}", "rest"});
    const std::string atTheEnd = CrLfLines({"SECTION WORLDITEM 6", "{", "ID 8", "}", "SECTION WORLDITEM 6", "ID 1"});
    for (const std::string& text : {beforeNext, atTheEnd}) {
        WriteText(dir / "UOX3.wsc", text);
        TStaticBlock block;
        EXPECT_EQ(ErrorText([&] { ExtractBlockFromWsc(dir / "UOX3.wsc", block, *table, 0, 0); }),
            "No line beginning with \"}\" ends \"SECTION WORLDITEM 6\"");
        EXPECT_EQ(ReadText(dir / "UOX3.wsc"), text);
        EXPECT_EQ(dir.Entries(), std::vector<std::string>{"UOX3.wsc"});
    }
    // Sections that stay need no brace.
    const Extraction kept
        = Extract(dir, CrLfLines({"SECTION WORLDITEM 7", "ID 5", "SECTION WORLDITEM 6", "}"}), *table, 0, 0);
    EXPECT_EQ(kept.Items.size(), 1u);
    EXPECT_EQ(kept.Text, CrLfLines({"SECTION WORLDITEM 7", "ID 5"}));
}

TEST(ExtractBlockFromWsc, KeepsUnselectedTextExactlyAndWhatFollowsACtrlZ)
{
    TempFolder dir;
    const std::string text = "kept as is  \r"
                             "lf\ninside\r\n"
                             "SECTION WORLDITEM 1\r\nTYPE 255\r\n}\r\n"
                             "EOF\r\n\x1A"
                             "after\r\nthe end";
    auto table = std::make_unique<ExportTable>();
    (*table)[1] = {1, 0, 0};
    const Extraction result = Extract(dir, text, *table, 0, 0);
    EXPECT_EQ(result.Items.size(), 1u);
    EXPECT_EQ(result.Text,
        "kept as is  \r\n"
        "lf\ninside\r\n"
        "EOF\r\n\x1A"
        "after\r\nthe end");
}

struct BadValueCase {
    std::string Section;
    std::string Error;
};

TEST(ExtractBlockFromWsc, BadValuesAndA513thObjectLeaveTheFileByteIdentical)
{
    const BadValueCase cases[] = {
        {CrLfLines({"SECTION WORLDITEM 1", "ID 70000", "}"}), "Range check error"},
        {CrLfLines({"SECTION WORLDITEM 1", "COLOR -1", "}"}), "Range check error"},
        {CrLfLines({"SECTION WORLDITEM 1", "Z 128", "}"}), "Range check error"},
        {CrLfLines({"SECTION WORLDITEM 1", "X 65536", "}"}), "Range check error"},
        {CrLfLines({"SECTION WORLDITEM 1", "COLOR abc", "}"}), "'ABC' is not a valid integer value"},
        {CrLfLines({"SECTION WORLDITEM 70000"}), "Range check error"},
        {CrLfLines({"SECTION WORLDITEM x"}), "'X' is not a valid integer value"},
    };
    TempFolder dir;
    auto table = std::make_unique<ExportTable>();
    (*table)[1] = {1, 0, 0};
    for (const BadValueCase& c : cases) {
        const std::string text = CrLfLines({"head"}) + c.Section + CrLfLines({"EOF"});
        WriteText(dir / "UOX3.wsc", text);
        TStaticBlock block;
        EXPECT_EQ(ErrorText([&] { ExtractBlockFromWsc(dir / "UOX3.wsc", block, *table, 0, 0); }), c.Error)
            << testing::PrintToString(c.Section);
        EXPECT_EQ(ReadText(dir / "UOX3.wsc"), text);
        EXPECT_EQ(dir.Entries(), std::vector<std::string>{"UOX3.wsc"});
    }
    // A bad value in a section that stays is never read.
    const Extraction kept = Extract(dir, CrLfLines({"SECTION WORLDITEM 2", "ID 70000", "}"}), *table, 0, 0);
    EXPECT_TRUE(kept.Items.empty());

    std::string many;
    for (int i = 0; i < 513; ++i)
        many += CrLfLines({"SECTION WORLDITEM 1", "ID " + std::to_string(i), "}"});
    WriteText(dir / "UOX3.wsc", many);
    TStaticBlock block;
    EXPECT_EQ(ErrorText([&] { ExtractBlockFromWsc(dir / "UOX3.wsc", block, *table, 0, 0); }), "Range check error");
    EXPECT_EQ(ReadText(dir / "UOX3.wsc"), many);
    many.resize(many.size() - CrLfLines({"SECTION WORLDITEM 1", "ID 512", "}"}).size());
    EXPECT_EQ(Extract(dir, many, *table, 0, 0).Items.size(), 512u);
}

} // namespace
} // namespace cryo
