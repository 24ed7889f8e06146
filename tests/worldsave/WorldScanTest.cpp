#include "WorldScan.h"
#include "TestSupport.h"
#include "World.h"
#include "WscText.h"

#include <gtest/gtest.h>

namespace cryo {
namespace {

using test::CrLfLines;
using test::RecordingReporter;
using test::TempFolder;
using test::WriteText;

struct SelectCase {
    const char* Name;
    std::string Text;
    std::vector<TExportEntry> Selected;
    std::vector<std::string> Log;
};

std::string Selecting(int number)
{
    return "Selecting item for export: " + std::to_string(number);
}

TEST(SelectItemsForExport, SelectsEachType255SectionOnTheGroundOnItsOwn)
{
    const std::string never = "Not frozen: SECTION WORLDITEM 65535 is a number that is never frozen";
    const SelectCase cases[] = {
        {"plain", CrLfLines({"SECTION WORLDITEM 12", "{", "type 255", "X 1000", "Y 2000", "}"}),
            {{0, 12, 125, 250, 1000, 2000}}, {Selecting(12)}},
        {"no item", CrLfLines({"SECTION CHARACTER 1", "{", "TYPE 255", "}", "EOF"}), {}, {}},
        {"indented or other types",
            CrLfLines({"SECTION WORLDITEM 1", "  TYPE 255", "}", "SECTION WORLDITEM 2", "TYPE 256", "}"}), {}, {}},
        {"tags need their blank", CrLfLines({"SECTION WORLDITEM 9", "TYPE $FF", "XY 800", "X", "} // end"}),
            {{0, 9, 0, 0, 0, 0}}, {Selecting(9)}},
        {"65535", CrLfLines({"SECTION WORLDITEM 65535", "TYPE 255", "}"}), {}, {never}},
        {"X 65535", CrLfLines({"SECTION WORLDITEM 3", "TYPE 255", "X 65535", "Y 4095", "}"}),
            {{0, 3, 8191, 511, 65535, 4095}}, {Selecting(3)}},
        {"each brace selects again, the last one places",
            CrLfLines({"SECTION WORLDITEM 5", "}", "TYPE 255", "X 8", "}", "X 16", "Y 24", "}"}),
            {{0, 5, 2, 3, 16, 24}}, {Selecting(5), Selecting(5)}},
        // One number, several sections: each is selected and placed on its own.
        {"two blocks, one number",
            CrLfLines({"SECTION WORLDITEM 4", "TYPE 255", "X 16", "}", "SECTION CHARACTER 4", "SECTION WORLDITEM 4",
                "TYPE 255", "Y 80", "}"}),
            {{0, 4, 2, 0, 16, 0}, {1, 4, 0, 10, 0, 80}}, {Selecting(4), Selecting(4)}},
        {"a later CONT", CrLfLines({"SECTION WORLDITEM 5", "TYPE 255", "}", "CONT 7", "}"}), {{0, 5, 0, 0, 0, 0}},
            {Selecting(5)}},
        {"not frozen, in order of precedence",
            CrLfLines({"SECTION WORLDITEM 65535", "CONT 9", "TYPE 255", "SECTION WORLDITEM 2", "TYPE 255", "CONT 9",
                "SECTION WORLDITEM 3", "TYPE 0", "}", "TYPE 255"}),
            {},
            {never, "Not frozen: SECTION WORLDITEM 2 is inside a container",
                "Not frozen: SECTION WORLDITEM 3 has no closing } after its TYPE 255"}},
        {"byte-order mark and Ctrl-Z",
            "\xEF\xBB\xBF" + CrLfLines({"SECTION WORLDITEM 5", "TYPE 255"}) + "}\x1A"
                + CrLfLines({"SECTION WORLDITEM 6", "TYPE 255", "}"}),
            {{0, 5, 0, 0, 0, 0}}, {Selecting(5)}},
    };
    TempFolder dir;
    for (const SelectCase& c : cases) {
        WriteText(dir / "w.wsc", c.Text);
        ExportTable table{{9, 9, 9, 9, 9, 9}};
        RecordingReporter reporter;
        SelectItemsForExport(dir / "w.wsc", table, reporter);
        EXPECT_EQ(table, c.Selected) << c.Name;
        EXPECT_EQ(reporter.Lines, c.Log) << c.Name;
        EXPECT_TRUE(reporter.Progress.empty()) << c.Name;
    }
}

struct FailCase {
    std::string Text;
    std::string Error; // as the command line shows it, after the path
};

TEST(SelectItemsForExport, BadValuesNameTheFileAndTheSection)
{
    const FailCase cases[] = {
        {CrLfLines({"SECTION WORLDITEM 12", "TYPE 65791"}),
            "SECTION WORLDITEM 12: Invalid tag after \"SECTION WORLDITEM 12\""},
        {CrLfLines({"SECTION WORLDITEM 12", "Z 200"}),
            "SECTION WORLDITEM 12: Invalid tag after \"SECTION WORLDITEM 12\""},
        {CrLfLines({"SECTION WORLDITEM 12", "X -1"}),
            "SECTION WORLDITEM 12: Invalid tag after \"SECTION WORLDITEM 12\""},
        {CrLfLines({"SECTION WORLDITEM 70000"}), "Invalid tag after \"SECTION WORLDITEM 65535\""},
        {CrLfLines({"SECTION WORLDITEM 8", "SECTION WORLDITEM 70000"}), "Invalid tag after \"SECTION WORLDITEM 8\""},
        {CrLfLines({"SECTION WORLDITEM 8", "SECTION MULTI 2", "Y 70000"}),
            "Invalid tag after \"SECTION WORLDITEM 65535\""},
        {CrLfLines({"SECTION WORLDITEM 8", "X abc"}), "SECTION WORLDITEM 8: 'ABC' is not a valid integer value."},
        {CrLfLines({"SECTION WORLDITEM 8", "TYPE 99999999999"}),
            "SECTION WORLDITEM 8: '99999999999' is not a valid integer value."},
    };
    TempFolder dir;
    for (const FailCase& c : cases) {
        WriteText(dir / "w.wsc", c.Text);
        ExportTable table;
        RecordingReporter reporter;
        EXPECT_EQ(
            test::ErrorLineOf([&] { SelectItemsForExport(dir / "w.wsc", table, reporter); }), dir / "w.wsc: " + c.Error)
            << c.Text;
    }
    // A conversion error in FindHighestNumbers names its section too.
    WriteText(dir / "w.wsc", CrLfLines({"SECTION WORLDITEM 1", "SERIAL 12x"}));
    WscReader reader(dir / "w.wsc");
    EXPECT_EQ(test::ErrorLineOf([&] { FindHighestNumbers(reader); }),
        "SECTION WORLDITEM 1: '12X' is not a valid integer value.");
}

} // namespace
} // namespace cryo
