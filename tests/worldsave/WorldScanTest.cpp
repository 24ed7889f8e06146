#include "WorldScan.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <memory>

namespace cryo {
namespace {

using test::CrLfLines;
using test::ErrorText;
using test::RecordingReporter;
using test::TempFolder;
using test::WriteText;

struct HighestCase {
    std::string Text;
    std::int32_t Number;
    std::int32_t Serial;
};

TEST(FindHighestNumbers, TakesTheLargestNumberAndSerialWhereverTheyStand)
{
    const HighestCase cases[] = {
        {"", -1, 1073741824},
        {CrLfLines({"SECTION CHARACTER 3", "{", "SERIAL 5", "}"}), -1, 1073741824},
        {CrLfLines({"SECTION WORLDITEM 7", "SECTION WORLDITEM 3"}), 7, 1073741824},
        {CrLfLines({"section worlditem 70000", "serial 1073741825"}), 70000, 1073741825},
        {CrLfLines({"SECTION CHARACTER 1", "SERIAL 1073741900", "SECTION WORLDITEM 2", "SERIAL 1073741830"}), 2,
            1073741900},
        {CrLfLines({"SECTION WORLDITEM $1F", "SERIAL $7FFFFFFF"}), 31, 2147483647},
        {CrLfLines({"SECTION WORLDITEM -5", "SECTION WORLDITEM  +4 "}), 4, 1073741824},
        {CrLfLines({" SECTION WORLDITEM 9", "SERIALS 1073741999", "SECTION WORLDITEM 1"}), 1, 1073741824},
        // The scans end at a Ctrl-Z.
        {CrLfLines({"SECTION WORLDITEM 1"}) + "SECTION WORLDITEM 2\x1A" + CrLfLines({"SECTION WORLDITEM 3"}), 2,
            1073741824},
        // Lines ended by LF alone are one line.
        {"// saved\nSECTION WORLDITEM 1\nSECTION WORLDITEM 8\n", -1, 1073741824},
    };
    TempFolder dir;
    for (const HighestCase& c : cases) {
        WriteText(dir / "w.wsc", c.Text);
        const HighestNumbers highest = FindHighestNumbers(dir / "w.wsc");
        EXPECT_EQ(highest.Number, c.Number) << testing::PrintToString(c.Text);
        EXPECT_EQ(highest.Serial, c.Serial) << testing::PrintToString(c.Text);
    }
}

TEST(FindHighestNumbers, ValuesThatAreNoIntegersStopTheScan)
{
    TempFolder dir;
    WriteText(dir / "w.wsc", CrLfLines({"SECTION WORLDITEM 1", "SERIAL 12x"}));
    EXPECT_EQ(ErrorText([&] { FindHighestNumbers(dir / "w.wsc"); }), "'12X' is not a valid integer value");
    WriteText(dir / "w.wsc", CrLfLines({"SECTION WORLDITEM "}));
    EXPECT_EQ(ErrorText([&] { FindHighestNumbers(dir / "w.wsc"); }), "'' is not a valid integer value");
    // A file of LF-only lines is one line, whose value is everything after the tag.
    WriteText(dir / "w.wsc", "SECTION WORLDITEM 1\nSERIAL 5\n");
    EXPECT_EQ(ErrorText([&] { FindHighestNumbers(dir / "w.wsc"); }), "'1\nSERIAL 5' is not a valid integer value");
    WriteText(dir / "w.wsc", CrLfLines({"SECTION WORLDITEM 2147483648"}));
    EXPECT_EQ(ErrorText([&] { FindHighestNumbers(dir / "w.wsc"); }), "'2147483648' is not a valid integer value");
    EXPECT_EQ(ErrorText([&] { FindHighestNumbers(dir / "missing.wsc"); }), "File not found");
}

struct Selection {
    int Number;
    std::uint16_t XBlock;
    std::uint16_t YBlock;
};

struct SelectCase {
    const char* Name;
    std::string Text;
    std::vector<Selection> Selected;
    std::vector<std::string> Log;
};

void ExpectSelection(const ExportTable& table, const std::vector<Selection>& selected, const char* name)
{
    ExportTable expected;
    for (const Selection& s : selected)
        expected[static_cast<std::uint16_t>(s.Number)] = {1, s.XBlock, s.YBlock};
    for (int n = 0; n < ExportTable::Size; ++n)
        ASSERT_EQ(table[static_cast<std::uint16_t>(n)], expected[static_cast<std::uint16_t>(n)])
            << name << ", entry " << n;
}

TEST(SelectItemsForExport, MarksType255SectionsWithTheBlockOfTheirLastXAndY)
{
    const SelectCase cases[] = {
        {"plain", CrLfLines({"SECTION WORLDITEM 12", "{", "type 255", "X 1000", "Y 2000", "}"}), {{12, 125, 250}},
            {"Selecting item for export: 12"}},
        {"nothing", CrLfLines({"SECTION CHARACTER 1", "{", "TYPE 255", "}", "EOF"}), {}, {}},
        {"indented type", CrLfLines({"SECTION WORLDITEM 12", "{", "  TYPE 255", "X 1000", "}"}), {}, {}},
        {"no position", CrLfLines({"SECTION WORLDITEM 4", "{", "TYPE 255", "}"}), {{4, 0, 0}},
            {"Selecting item for export: 4"}},
        {"other types", CrLfLines({"SECTION WORLDITEM 1", "TYPE 254", "}", "SECTION WORLDITEM 2", "TYPE 256", "}"}), {},
            {}},
        {"hex and signs", CrLfLines({"SECTION WORLDITEM $10", "TYPE $FF", "X +17", "Y -0", "}"}), {{16, 2, 0}},
            {"Selecting item for export: 16"}},
        {"65535 is never selected", CrLfLines({"SECTION WORLDITEM 65535", "TYPE 255", "}"}), {}, {}},
        {"X 65535", CrLfLines({"SECTION WORLDITEM 3", "TYPE 255", "X 65535", "Y 4095", "}"}), {{3, 8191, 511}},
            {"Selecting item for export: 3"}},
        {"a second brace selects again",
            CrLfLines({"SECTION WORLDITEM 5", "TYPE 255", "X 8", "}", "X 16", "Y 24", "}"}), {{5, 2, 3}},
            {"Selecting item for export: 5", "Selecting item for export: 5"}},
        {"character resets only the section",
            CrLfLines({"SECTION WORLDITEM 5", "TYPE 255", "X 80", "SECTION CHARACTER 1", "}", "SECTION WORLDITEM 6",
                "}", "SECTION WORLDITEM 7", "TYPE 255", "}"}),
            {{7, 0, 0}}, {"Selecting item for export: 7"}},
        {"selected once, kept selected",
            CrLfLines({"SECTION WORLDITEM 5", "TYPE 255", "X 8", "}", "SECTION WORLDITEM 5", "TYPE 0", "}"}),
            {{5, 1, 0}}, {"Selecting item for export: 5"}},
        {"a later qualifying section overwrites",
            CrLfLines({"SECTION WORLDITEM 5", "TYPE 255", "X 8", "}", "SECTION WORLDITEM 5", "TYPE 255", "Y 80", "}"}),
            {{5, 0, 10}}, {"Selecting item for export: 5", "Selecting item for export: 5"}},
        {"type after the brace", CrLfLines({"SECTION WORLDITEM 5", "}", "TYPE 255", "}"}), {{5, 0, 0}},
            {"Selecting item for export: 5"}},
        {"LF-only files are one line", "// saved\nSECTION WORLDITEM 5\nTYPE 255\n}\n", {}, {}},
        {"Ctrl-Z ends the text",
            CrLfLines({"SECTION WORLDITEM 5", "TYPE 255"}) + "}\x1A"
                + CrLfLines({"SECTION WORLDITEM 6", "TYPE 255", "}"}),
            {{5, 0, 0}}, {"Selecting item for export: 5"}},
        {"brace lines with more text", CrLfLines({"SECTION WORLDITEM 9", "TYPE 255", "} // end"}), {{9, 0, 0}},
            {"Selecting item for export: 9"}},
        {"tags need their blank", CrLfLines({"SECTION WORLDITEM 9", "TYPE 255", "XY 800", "X", "}"}), {{9, 0, 0}},
            {"Selecting item for export: 9"}},
    };
    TempFolder dir;
    for (const SelectCase& c : cases) {
        WriteText(dir / "w.wsc", c.Text);
        auto table = std::make_unique<ExportTable>();
        (*table)[100] = {1, 2, 3};
        RecordingReporter reporter;
        SelectItemsForExport(dir / "w.wsc", *table, reporter);
        ExpectSelection(*table, c.Selected, c.Name);
        EXPECT_EQ(reporter.Lines, c.Log) << c.Name;
        EXPECT_TRUE(reporter.Progress.empty()) << c.Name;
    }
}

struct FailCase {
    std::string Text;
    std::string Error;
};

TEST(SelectItemsForExport, OutOfRangeValuesNameTheSectionBeingRead)
{
    const FailCase cases[] = {
        {CrLfLines({"SECTION WORLDITEM 12", "TYPE 65791"}), "Invalid tag after \"SECTION WORLDITEM 12\""},
        {CrLfLines({"SECTION WORLDITEM 12", "Z 200"}), "Invalid tag after \"SECTION WORLDITEM 12\""},
        {CrLfLines({"SECTION WORLDITEM 12", "Z -129"}), "Invalid tag after \"SECTION WORLDITEM 12\""},
        {CrLfLines({"SECTION WORLDITEM 12", "X -1"}), "Invalid tag after \"SECTION WORLDITEM 12\""},
        {CrLfLines({"SECTION WORLDITEM 12", "Y 65536"}), "Invalid tag after \"SECTION WORLDITEM 12\""},
        {CrLfLines({"SECTION WORLDITEM 70000"}), "Invalid tag after \"SECTION WORLDITEM 65535\""},
        {CrLfLines({"SECTION WORLDITEM 8", "SECTION WORLDITEM 70000"}), "Invalid tag after \"SECTION WORLDITEM 8\""},
        {CrLfLines({"SECTION WORLDITEM 8", "SECTION CHARACTER 2", "X 70000"}),
            "Invalid tag after \"SECTION WORLDITEM 65535\""},
        {CrLfLines({"X 70000"}), "Invalid tag after \"SECTION WORLDITEM 65535\""},
        {CrLfLines({"SECTION WORLDITEM 8", "X abc"}), "'ABC' is not a valid integer value"},
        {CrLfLines({"SECTION WORLDITEM 8", "X "}), "'' is not a valid integer value"},
        {CrLfLines({"SECTION WORLDITEM 8", "TYPE 99999999999"}), "'99999999999' is not a valid integer value"},
    };
    TempFolder dir;
    for (const FailCase& c : cases) {
        WriteText(dir / "w.wsc", c.Text);
        auto table = std::make_unique<ExportTable>();
        RecordingReporter reporter;
        EXPECT_EQ(ErrorText([&] { SelectItemsForExport(dir / "w.wsc", *table, reporter); }), c.Error)
            << testing::PrintToString(c.Text);
    }
}

TEST(SelectItemsForExport, KeepsWhatWasSelectedBeforeAFailureAndClearsFirst)
{
    TempFolder dir;
    WriteText(dir / "w.wsc", CrLfLines({"SECTION WORLDITEM 1", "TYPE 255", "}", "SECTION WORLDITEM 2", "Z 300"}));
    auto table = std::make_unique<ExportTable>();
    (*table)[9] = {1, 1, 1};
    RecordingReporter reporter;
    EXPECT_EQ(ErrorText([&] { SelectItemsForExport(dir / "w.wsc", *table, reporter); }),
        "Invalid tag after \"SECTION WORLDITEM 2\"");
    ExpectSelection(*table, {{1, 0, 0}}, "partial");

    (*table)[9] = {1, 1, 1};
    EXPECT_EQ(ErrorText([&] { SelectItemsForExport(dir / "missing.wsc", *table, reporter); }), "File not found");
    ExpectSelection(*table, {}, "missing");
}

} // namespace
} // namespace cryo
