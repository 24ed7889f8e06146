// The command-line program, run as a user runs it.
#include "StaIdx.h"
#include "TestSupport.h"
#include "Version.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>

namespace cryo {
namespace {

using test::TempFolder;
using test::operator+;

using Result = test::ProgramRun;

// Runs the command-line program with the arguments, as an unprivileged user if
// asked (CI runs as root).
Result Cli(std::vector<std::string> args, bool unprivileged = false)
{
    args.insert(args.begin(), CRYOWEAVER_CLI);
    return test::RunProgram(args, {.Unprivileged = unprivileged});
}

// The sample world in a folder, and the arguments that name its files.
struct Sample {
    Sample()
    {
        const Result sample = Cli({"sample", dir.path()});
        EXPECT_EQ(sample.Status, 0) << sample.Err;
        EXPECT_EQ(sample.Out,
            "Wrote " + dir / "StaIdx0.mul\n" + "Wrote " + dir / "Statics0.mul\n" + "Wrote " + dir / "UOX3.wsc\n");
    }

    Result Run(const std::string& command, std::vector<std::string> rest = {}, bool unprivileged = false) const
    {
        std::vector<std::string> args{command, "--staidx", dir / "StaIdx0.mul", "--statics", dir / "Statics0.mul"};
        if (command != "list")
            args.insert(args.end(), {"--wsc", dir / "UOX3.wsc"});
        args.insert(args.end(), rest.begin(), rest.end());
        return Cli(args, unprivileged);
    }

    TempFolder dir;
};

const char* const SampleBlock = "Item #1: Item ID = 0E ED, X = 803, Y = 1605, Z = -5, Color = 00 00\n"
                                "Item #2: Item ID = 00 64, X = 800, Y = 1600, Z = 0, Color = 00 00\n"
                                "Item #3: Item ID = 00 65, X = 801, Y = 1600, Z = 0, Color = 00 00\n"
                                "Item #4: Item ID = 00 66, X = 802, Y = 1600, Z = 0, Color = 00 00\n"
                                "Item #5: Item ID = 04 95, X = 804, Y = 1604, Z = 0, Color = 04 81\n"
                                "Item #6: Item ID = 0B 41, X = 806, Y = 1602, Z = 3, Color = 00 00\n";

TEST(CommandLine, ListsMeltsAndFreezesTheSampleWorld)
{
    const Sample sample;
    const Result list = sample.Run("list", {"100", "200"});
    EXPECT_EQ(list.Status, 0);
    EXPECT_EQ(list.Out, SampleBlock);
    EXPECT_EQ(list.Err, "");

    const Result melt = sample.Run("melt", {"100", "200"});
    EXPECT_EQ(melt.Status, 0) << melt.Err;
    EXPECT_EQ(melt.Out,
        "Melting in progress... Cryoweaver may look crashed, do not interrupt!\n"
        "Highest number: 4\n"
        "Highest serial: 40 00 00 05\n"
        "Writing StaIdx file...\n"
        "Done!\n"
        "Melting completed!\n");
    EXPECT_EQ(melt.Err, "");
    EXPECT_EQ(sample.Run("list", {"100", "200"}).Out, "");

    const Result freeze = sample.Run("freeze");
    EXPECT_EQ(freeze.Status, 0) << freeze.Err;
    std::string expected = "Freezing in progress... Cryoweaver may look crashed, do not interrupt!\n";
    for (int n = 2; n <= 10; ++n)
        expected += "Selecting item for export: " + std::to_string(n) + "\n";
    for (const char* block : {"XBlock: 100 YBlock: 200", "XBlock: 100 YBlock: 201", "XBlock: 102 YBlock: 199"})
        expected += std::string("Extracting from WSC... ") + block + "\nAppending to Statics... " + block + "\n";
    EXPECT_EQ(freeze.Out, expected + "Freezing completed!\n");
    EXPECT_EQ(sample.Run("list", {"100", "200"}).Out, SampleBlock);
}

// The bytes of the sample's three files.
std::vector<test::Bytes> Contents(const Sample& sample)
{
    std::vector<test::Bytes> contents;
    for (const char* name : {"StaIdx0.mul", "Statics0.mul", "UOX3.wsc"})
        contents.push_back(test::ReadBytes(sample.dir / name));
    return contents;
}

// The operations that history lists, without their times; and the newest's
// time as undo shows it.
std::vector<std::string> History(const Sample& sample, std::string* newest = nullptr)
{
    const Result history = sample.Run("history");
    EXPECT_EQ(history.Status, 0) << history.Err;
    std::vector<std::string> operations;
    for (std::size_t start = 0; start < history.Out.size();) {
        const std::size_t end = history.Out.find('\n', start);
        operations.push_back(history.Out.substr(start + 22, end - start - 22));
        start = end + 1;
    }
    if (newest != nullptr)
        *newest = history.Out.substr(0, 10) + " " + history.Out.substr(11, 5);
    return operations;
}

TEST(CommandLine, UndoTakesBackOneOperationAfterAnotherByteForByte)
{
    const Sample sample;
    const std::vector<test::Bytes> original = Contents(sample);
    ASSERT_EQ(sample.Run("freeze").Status, 0);
    const std::vector<test::Bytes> frozen = Contents(sample);
    ASSERT_EQ(sample.Run("melt", {"100", "200"}).Status, 0);
    std::string when;
    EXPECT_EQ(
        History(sample, &when), (std::vector<std::string>{"melt of block 100,200", "freeze of 3 items into 2 blocks"}));

    Result undo = sample.Run("undo");
    EXPECT_EQ(undo.Status, 0) << undo.Err;
    EXPECT_EQ(undo.Out, "Undoing the melt of block 100,200 of " + when + "...\nUndo completed!\n");
    EXPECT_EQ(Contents(sample), frozen);
    EXPECT_EQ(History(sample), std::vector<std::string>{"freeze of 3 items into 2 blocks"});

    undo = sample.Run("undo");
    EXPECT_EQ(undo.Status, 0) << undo.Err;
    EXPECT_EQ(undo.Out,
        "Undoing the freeze of 3 items into 2 blocks of " + when + "...\nCut the "
            + std::to_string(frozen[1].size() - original[1].size())
            + " bytes it appended off the statics file: " + sample.dir / "Statics0.mul\nUndo completed!\n");
    EXPECT_EQ(Contents(sample), original);

    undo = sample.Run("undo");
    EXPECT_EQ(undo.Status, 1);
    EXPECT_EQ(undo.Err,
        "cryoweaver-cli: " + sample.dir / "StaIdx0.mul" + ": No melt or freeze of this index can be undone.\n");
    EXPECT_EQ(sample.Run("history").Out, "Nothing to undo for " + sample.dir / "StaIdx0.mul\n");
    EXPECT_FALSE(std::filesystem::exists(sample.dir / ".cryoweaver-history"));
}

TEST(CommandLine, UndoRefusesWhenAFileChangedSinceAndLeavesAGrownStaticsFile)
{
    struct Case {
        const char* File;
        std::function<void(const std::string&)> Change;
    };
    const test::Bytes tail(7, 0x5a);
    const Case cases[] = {
        // The server saves again: a new file of the same bytes.
        {"UOX3.wsc",
            [](const std::string& path) {
                const test::Bytes bytes = test::ReadBytes(path);
                std::filesystem::remove(path);
                test::WriteBytes(path, bytes);
            }},
        {"StaIdx0.mul", [](const std::string& path) { test::WriteBytes(path, test::ReadBytes(path)); }},
        {"Statics0.mul", [&](const std::string& path) { test::WriteBytes(path, test::ReadBytes(path) + tail); }},
    };
    for (const Case& c : cases) {
        const Sample sample;
        const std::vector<test::Bytes> original = Contents(sample);
        ASSERT_EQ(sample.Run("freeze").Status, 0);
        const std::vector<test::Bytes> frozen = Contents(sample);
        std::string when;
        History(sample, &when);
        const std::string path = sample.dir / c.File;
        c.Change(path);
        const std::vector<test::Bytes> changed = Contents(sample);
        const Result undo = sample.Run("undo");
        if (std::string(c.File) == "Statics0.mul") {
            EXPECT_EQ(undo.Status, 0) << undo.Err;
            EXPECT_EQ(undo.Out,
                "Undoing the freeze of 3 items into 2 blocks of " + when + "...\nThe statics file grew after it; the "
                    + std::to_string(frozen[1].size() - original[1].size())
                    + " bytes it appended stay, referenced by no block: " + path + "\nUndo completed!\n");
            EXPECT_EQ(Contents(sample), (std::vector<test::Bytes>{original[0], frozen[1] + tail, original[2]}));
            continue;
        }
        EXPECT_EQ(undo.Status, 1) << c.File;
        EXPECT_EQ(undo.Err,
            "cryoweaver-cli: " + path + ": The file changed after the freeze of 3 items into 2 blocks of " + when
                + "; nothing was undone.\n");
        EXPECT_EQ(Contents(sample), changed) << c.File;
        EXPECT_EQ(History(sample), std::vector<std::string>{"freeze of 3 items into 2 blocks"}) << c.File;
    }
}

TEST(CommandLine, HistoryKeepsTheNewestOperationsOnly)
{
    const Sample sample;
    ::setenv("CRYOWEAVER_HISTORY_KEEP", "2", 1);
    for (const char* block : {"1", "2", "3"})
        EXPECT_EQ(sample.Run("melt", {block, block}).Status, 0);
    ::unsetenv("CRYOWEAVER_HISTORY_KEEP");
    EXPECT_EQ(History(sample), (std::vector<std::string>{"melt of block 3,3", "melt of block 2,2"}));
    const std::string history = sample.dir / ".cryoweaver-history";
    EXPECT_EQ(test::TempFolder::EntriesOf(history), (std::vector<std::string>{"00000002", "00000003"}));
    EXPECT_EQ(
        test::TempFolder::EntriesOf(history + "/00000002"), (std::vector<std::string>{"StaIdx0.mul", "manifest"}));
}

TEST(CommandLine, ADryRunChecksAndPrintsButWritesNothing)
{
    struct Case {
        std::vector<std::string> Args;
        std::string Out;
    };
    const Case cases[] = {
        {{"freeze", "--dry-run"},
            "Selecting item for export: 2\nSelecting item for export: 3\nSelecting item for export: 4\n"
            "Would append 2 objects to XBlock: 100 YBlock: 201\nWould append 1 objects to XBlock: 102 YBlock: 199\n"},
        {{"melt", "--dry-run", "100", "200"},
            "Highest number: 4\nHighest serial: 40 00 00 05\n"
            "Would move 6 objects of XBlock: 100 YBlock: 200 into the world save\n"},
    };
    for (const Case& c : cases) {
        const Sample sample;
        auto state = [&] {
            std::vector<std::string> state;
            for (const auto& entry : std::filesystem::directory_iterator(sample.dir.path()))
                state.push_back(entry.path().filename().string() + " "
                    + std::to_string(std::filesystem::last_write_time(entry).time_since_epoch().count()));
            std::sort(state.begin(), state.end());
            return state;
        };
        const std::vector<std::string> before = state();
        const std::vector<test::Bytes> contents = Contents(sample);
        const Result run = sample.Run(c.Args[0], std::vector<std::string>(c.Args.begin() + 1, c.Args.end()));
        EXPECT_EQ(run.Status, 0) << run.Err;
        EXPECT_EQ(run.Out,
            "Dry run: every check, but no file is changed...\n" + c.Out + "Dry run completed; no file was changed.\n");
        EXPECT_EQ(state(), before) << c.Args[0];
        EXPECT_EQ(Contents(sample), contents) << c.Args[0];
    }
}

TEST(CommandLine, ErrorsGoToStandardErrorWithTheFileAndTheFullStopRule)
{
    namespace fs = std::filesystem;
    struct Case {
        std::string Command;
        std::vector<std::string> Block;
        std::function<void(const TempFolder&)> Damage;
        std::string File; // the file the error names, if any
        std::string Text;
        bool Unprivileged = false;
    };
    const auto none = [](const TempFolder&) {};
    const auto cut = [](const std::string& name, std::uintmax_t size) {
        return [=](const TempFolder& dir) { fs::resize_file(dir / name, size); };
    };
    const Case cases[] = {
        {"list", {"abc", "0"}, none, "", "'abc' is not a valid integer value."},
        {"list", {"0", "65536"}, none, "", "Range check error."},
        {"list", {"-5", "0"}, none, "", "Range check error."},
        {"melt", {"768", "0"}, none, "", "Range check error."},
        {"list", {"100", "200"}, [](const TempFolder& dir) { fs::remove(dir / "StaIdx0.mul"); }, "StaIdx0.mul",
            "File not found."},
        {"list", {"100", "200"}, [](const TempFolder& dir) { fs::remove(dir / "Statics0.mul"); }, "Statics0.mul",
            "File not found."},
        {"freeze", {}, [](const TempFolder& dir) { fs::remove(dir / "UOX3.wsc"); }, "UOX3.wsc", "File not found."},
        {"melt", {"100", "200"}, [](const TempFolder& dir) { test::SetReadOnly(dir / "StaIdx0.mul"); }, "StaIdx0.mul",
            "File access denied.", true},
        {"freeze", {}, cut("StaIdx0.mul", 1000), "StaIdx0.mul", "Read beyond end of file."},
        {"melt", {"100", "200"}, cut("Statics0.mul", 10), "Statics0.mul", "Read beyond end of file."},
        {"freeze", {},
            [](const TempFolder& dir) {
                test::WriteText(dir / "UOX3.wsc", "SECTION WORLDITEM 7\r\nTYPE 255\r\nX 6144\r\n}\r\n");
            },
            "", "Invalid item in patch file! (Item#: 7)"},
    };
    for (const Case& c : cases) {
        const Sample sample;
        c.Damage(sample.dir);
        const auto before = sample.dir.Entries();
        const Result result = sample.Run(c.Command, c.Block, c.Unprivileged);
        const std::string file = c.File.empty() ? "" : sample.dir / c.File + ": ";
        EXPECT_EQ(result.Status, 1) << c.Text;
        EXPECT_EQ(result.Err, "cryoweaver-cli: " + file + c.Text + "\n");
        EXPECT_EQ(sample.dir.Entries(), before) << c.Text;
    }
}

TEST(CommandLine, APositionOrAMapSizeFindsTheBlockOnAnyMap)
{
    const Sample sample;
    // /where 803,1605 lies in block (100, 200).
    EXPECT_EQ(sample.Run("list", {"--at", "803,1605"}).Out, SampleBlock);
    EXPECT_EQ(sample.Run("list", {"--map-size", "6144x4096", "--at=807,1607"}).Out, SampleBlock);
    EXPECT_EQ(sample.Run("melt", {"--at", "800,1600"}).Status, 0);
    EXPECT_EQ(sample.Run("list", {"100", "200"}).Out, "");

    // Map 2 is 2304 x 1600 tiles: its last tile is a block, the next is off the map.
    StaIdx map2({288, 200});
    for (TStaIdxEntry& entry : map2.Entries)
        entry = {-1, 0, 0};
    test::WriteBytes(sample.dir / "staidx2.mul", test::IndexBytes(map2));
    test::WriteText(sample.dir / "statics2.mul", "");
    auto list2 = [&](const std::string& statics, std::vector<std::string> rest) {
        rest.insert(rest.begin(), {"list", "--staidx", sample.dir / "staidx2.mul", "--statics", sample.dir / statics});
        return Cli(rest);
    };
    EXPECT_EQ(list2("statics2.mul", {"--at", "2303,1599"}).Status, 0);
    const struct {
        Result Run;
        std::string Err;
    } failures[] = {
        {list2("statics2.mul", {"--at", "0,1600"}), "The position 0,1600 lies outside the map of 2304 x 1600 tiles."},
        {list2("statics2.mul", {"287", "200"}), "Range check error."},
        {list2("Statics0.mul", {"0", "0"}),
            "The index '" + sample.dir / "staidx2.mul" + "' belongs to map 2 but the statics file '"
                + sample.dir / "Statics0.mul"
                + "' to map 0: give the two files of one map (staidxN.mul with staticsN.mul; a name without a map "
                  "number is map 0)"},
        {sample.Run("freeze", {"--map-size", "7168x4096"}), sample.dir / "StaIdx0.mul" + ": Read beyond end of file."},
    };
    for (const auto& f : failures) {
        EXPECT_EQ(f.Run.Status, 1) << f.Err;
        EXPECT_EQ(f.Run.Err, "cryoweaver-cli: " + f.Err + "\n");
    }
}

TEST(CommandLine, TheSampleNeverOverwritesAFile)
{
    const Sample sample;
    const std::string before = test::ReadText(sample.dir / "UOX3.wsc");
    const Result again = Cli({"sample", sample.dir.path()});
    EXPECT_EQ(again.Status, 1);
    EXPECT_EQ(again.Err,
        "cryoweaver-cli: '" + sample.dir / "StaIdx0.mul" + "' already exists; the sample never overwrites a file.\n");
    EXPECT_EQ(test::ReadText(sample.dir / "UOX3.wsc"), before);
}

TEST(CommandLine, WrongCommandLinesExitWith2AndShowTheUsage)
{
    const std::vector<std::vector<std::string>> wrong = {
        {},
        {"frobnicate"},
        {"list", "--staidx", "a", "1", "2"},
        {"list", "--staidx", "a", "--statics", "b", "1"},
        {"list", "--staidx", "a", "--statics", "b", "--wsc", "c", "1", "2"},
        {"melt", "--staidx", "a", "--statics", "b", "1", "2"},
        {"freeze", "--staidx", "a", "--statics", "b", "--wsc", "c", "9"},
        {"freeze", "--staidx", "a", "--statics", "b", "--wsc"},
        {"freeze", "--bogus", "x"},
        {"sample"},
        {"list", "--staidx", "a", "--statics", "b", "--at", "1,2", "3", "4"},
        {"melt", "--staidx", "a", "--statics", "b", "--wsc", "c", "--at", "1432"},
        {"freeze", "--staidx", "a", "--statics", "b", "--wsc", "c", "--at", "1,2"},
        {"freeze", "--staidx", "a", "--statics", "b", "--wsc", "c", "--map-size", "7004x4096"},
        {"list", "--staidx", "a", "--statics", "b", "1", "2", "--map-size"},
        {"undo", "--staidx", "a", "--statics", "b", "--wsc", "c", "--dry-run"},
        {"history", "--staidx", "a", "--statics", "b", "--wsc", "c", "1", "2"},
    };
    for (const auto& args : wrong) {
        const Result result = Cli(args);
        EXPECT_EQ(result.Status, 2) << testing::PrintToString(args);
        EXPECT_EQ(result.Out, "");
        EXPECT_TRUE(result.Err.starts_with("cryoweaver-cli: ")) << result.Err;
        EXPECT_NE(result.Err.find("\n\nUsage:\n"), std::string::npos);
    }
    EXPECT_TRUE(Cli({"list", "--staidx", "a"}).Err.starts_with("cryoweaver-cli: list needs --statics FILE\n\nUsage:"));
    const Result help = Cli({"--help"});
    EXPECT_EQ(help.Status, 0);
    EXPECT_TRUE(help.Out.starts_with("Usage:\n"));
    EXPECT_EQ(Cli({"--version"}).Out, std::string("cryoweaver-cli ") + VersionText + "\n");
}

} // namespace
} // namespace cryo
