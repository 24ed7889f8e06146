// The command-line program, run as a user runs it.
#include "StaIdx.h"
#include "TestSupport.h"
#include "Version.h"
#include "World.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <regex>

#include <sys/stat.h>
#include <unistd.h>

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
        if (command != "list" && command != "compact")
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
        "Melting completed!\n"
        "6 objects of block 100, 200 melted into UOX3.wsc\n");
    EXPECT_EQ(melt.Err, "");
    EXPECT_EQ(sample.Run("list", {"100", "200"}).Out, "");

    const Result freeze = sample.Run("freeze");
    EXPECT_EQ(freeze.Status, 0) << freeze.Err;
    std::string expected = "Freezing in progress... Cryoweaver may look crashed, do not interrupt!\n";
    for (int n = 2; n <= 10; ++n)
        expected += "Selecting item for export: " + std::to_string(n) + "\n";
    for (const char* block : {"XBlock: 100 YBlock: 200", "XBlock: 100 YBlock: 201", "XBlock: 102 YBlock: 199"})
        expected += std::string("Extracting from WSC... ") + block + "\nAppending to Statics... " + block + "\n";
    EXPECT_EQ(freeze.Out, expected + "Freezing completed!\n9 items frozen into 3 blocks\n");
    EXPECT_EQ(sample.Run("list", {"100", "200"}).Out, SampleBlock);
}

TEST(CommandLine, AnAreaIsListedAndMeltedAsOneOperationWhateverItsCornersOrder)
{
    const Sample sample;
    for (const char* block : {"800,1600,807,1607", "807,1607,800,1600", "800,1607,807,1600"})
        EXPECT_EQ(sample.Run("list", {"--area", block}).Out, SampleBlock) << block;
    const std::string before = test::ReadText(sample.dir / "UOX3.wsc");
    const std::string listed = sample.Run("list", {"--area", "799,1599,808,1608"}).Out;
    EXPECT_TRUE(
        listed.starts_with("XBlock: 100 YBlock: 200\n" + std::string(SampleBlock) + "XBlock: 100 YBlock: 201\n"));

    const Result melt = sample.Run("melt", {"--area", "808,1608,799,1599"});
    EXPECT_EQ(melt.Status, 0) << melt.Err;
    EXPECT_TRUE(melt.Out.ends_with("Writing StaIdx file...\nDone!\nMelting completed!\n9 objects of 9 blocks, "
                                   "99,199 to 101,201, melted into UOX3.wsc\n"))
        << melt.Out;
    EXPECT_EQ(sample.Run("list", {"--area", "799,1599,808,1608"}).Out, "");
    EXPECT_EQ(sample.Run("history").Out.substr(22), "melt of blocks 99,199 to 101,201\n");
    EXPECT_EQ(sample.Run("undo").Status, 0);
    EXPECT_EQ(sample.Run("list", {"--area", "799,1599,808,1608"}).Out, listed);
    EXPECT_EQ(test::ReadText(sample.dir / "UOX3.wsc"), before);

    // check --area finds what lies in the blocks it touches only.
    test::Bytes index = test::ReadBytes(sample.dir / "StaIdx0.mul");
    EncodeStaIdxEntry({1000000, 7, 0}, &index[(300 * 512 + 300) * 12]);
    test::WriteBytes(sample.dir / "StaIdx0.mul", index);
    for (const auto& [area, status] : {std::pair{"799,1599,808,1608", 0}, {"2407,2407,2400,2400", 1}})
        EXPECT_EQ(sample.Run("check", {"--area", area}).Status, status) << area;
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
    const std::vector<test::Bytes> melted = Contents(sample);
    ASSERT_EQ(
        Cli({"compact", "--staidx", sample.dir / "StaIdx0.mul", "--statics", sample.dir / "Statics0.mul"}).Status, 0);
    std::string when;
    EXPECT_EQ(History(sample, &when),
        (std::vector<std::string>{"compact of the statics file from 98 to 42 bytes", "melt of block 100,200",
            "freeze of 3 items into 2 blocks"}));

    Result undo = sample.Run("undo");
    EXPECT_EQ(
        undo.Out, "Undoing the compact of the statics file from 98 to 42 bytes of " + when + "...\nUndo completed!\n");
    EXPECT_EQ(Contents(sample), melted);
    undo = sample.Run("undo");
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
        "cryoweaver-cli: " + sample.dir / "StaIdx0.mul"
            + ": No melt, freeze, compact or apply of this index can be undone.\n");
    EXPECT_EQ(sample.Run("history").Out, "Nothing to undo for " + sample.dir / "StaIdx0.mul\n");
    EXPECT_FALSE(std::filesystem::exists(sample.dir / ".cryoweaver-history"));
}

TEST(CommandLine, UndoRestoresASharedFolderAndRemovesTheFileAMeltMade)
{
    const Sample sample;
    const std::string shared = sample.dir / "shared";
    std::filesystem::create_directory(shared);
    test::WriteText(shared + "/5.1.wsc",
        "[ITEM]\nSerial=0x4000a1b2\nID=0xb21\nLocation=1432,1696,0,0,0\nCont=0xffffffff\nType=255\n\no---o\n\n");
    auto run = [&](const std::string& command, std::vector<std::string> rest = {}) {
        rest.insert(rest.begin(),
            {command, "--staidx", sample.dir / "StaIdx0.mul", "--statics", sample.dir / "Statics0.mul", "--wsc",
                shared});
        return Cli(rest);
    };
    auto contents = [&] {
        return std::vector<test::Bytes>{test::ReadBytes(sample.dir / "StaIdx0.mul"),
            test::ReadBytes(sample.dir / "Statics0.mul"), test::ReadBytes(shared + "/5.1.wsc")};
    };
    const std::vector<test::Bytes> original = contents();
    EXPECT_EQ(run("freeze").Status, 0);
    EXPECT_EQ(run("melt", {"100", "200"}).Status, 0);
    EXPECT_EQ(TempFolder::EntriesOf(shared), (std::vector<std::string>{"3.1.wsc", "5.1.wsc"}));
    // Given another world save of the index, the undo would touch files it has not locked.
    const std::vector<test::Bytes> melted = contents();
    std::string when;
    History(sample, &when);
    const Result elsewhere = sample.Run("undo");
    EXPECT_EQ(elsewhere.Status, 1);
    EXPECT_EQ(elsewhere.Err,
        "cryoweaver-cli: " + shared + "/3.1.wsc: The last operation on this index, the melt of block 100,200 of " + when
            + ", changed this file of another world save: give that world save to undo it; nothing was undone.\n");
    EXPECT_EQ(contents(), melted);
    const Result undo = run("undo");
    EXPECT_NE(undo.Out.find("Removed the file it made: " + shared + "/3.1.wsc\n"), std::string::npos) << undo.Out;
    EXPECT_EQ(run("undo").Status, 0);
    EXPECT_EQ(contents(), original);
    EXPECT_EQ(TempFolder::EntriesOf(shared), std::vector<std::string>{"5.1.wsc"});
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

// An operation whose recording was stopped before its manifest took its name
// is completed by the next run, and counts toward the kept number.
TEST(CommandLine, HistoryKeepsTheNewestOperationsOnly)
{
    const Sample sample;
    const std::string history = sample.dir / ".cryoweaver-history";
    ::setenv("CRYOWEAVER_HISTORY_KEEP", "2", 1);
    for (const char* block : {"200", "201"}) {
        EXPECT_EQ(sample.Run("melt", {"100", block}).Status, 0);
        if (std::string(block) == "200")
            std::filesystem::rename(history + "/00000001/manifest", history + "/00000001/manifest.tmp");
    }
    EXPECT_EQ(History(sample), (std::vector<std::string>{"melt of block 100,201", "melt of block 100,200"}));
    EXPECT_EQ(sample.Run("melt", {"101", "200"}).Status, 0);
    ::unsetenv("CRYOWEAVER_HISTORY_KEEP");
    EXPECT_EQ(History(sample), (std::vector<std::string>{"melt of block 101,200", "melt of block 100,201"}));
    EXPECT_EQ(test::TempFolder::EntriesOf(history), (std::vector<std::string>{"00000002", "00000003"}));
    EXPECT_EQ(test::TempFolder::EntriesOf(history + "/00000002"),
        (std::vector<std::string>{"StaIdx0.mul", "UOX3.wsc", "manifest"}));
}

// An undo stopped while it forgot the operation, its manifest set aside and
// its kept files still there, is finished by the next run: nothing is left.
TEST(CommandLine, AnOperationHalfForgottenIsFinishedByTheNextRun)
{
    const Sample sample;
    const std::string history = sample.dir / ".cryoweaver-history";
    for (const char* block : {"200", "201"})
        EXPECT_EQ(sample.Run("melt", {"100", block}).Status, 0);
    std::filesystem::rename(history + "/00000002/manifest", history + "/00000002/manifest.forgotten");
    EXPECT_EQ(History(sample), std::vector<std::string>{"melt of block 100,200"});
    EXPECT_EQ(sample.Run("melt", {"101", "200"}).Status, 0);
    EXPECT_EQ(History(sample), (std::vector<std::string>{"melt of block 101,200", "melt of block 100,200"}));
    for (const std::string& id : test::TempFolder::EntriesOf(history))
        EXPECT_EQ(test::TempFolder::EntriesOf(history + "/" + id),
            (std::vector<std::string>{"StaIdx0.mul", "UOX3.wsc", "manifest"}))
            << id;
}

// Undo finds an operation however its files were spelt, through links too,
// and walks back a freeze and the compact under it.
TEST(CommandLine, UndoFindsEverySpellingAndWalksBackAnyChain)
{
    struct Case {
        std::string Done; // the folder as the operation was given it
        std::string Undone; // as the undo is
        std::vector<std::vector<std::string>> Operations;
    };
    const Case cases[] = {
        {"{dir}/.", "{dir}", {{"melt", "100", "200"}}},
        {"{link}", "{dir}", {{"melt", "100", "200"}}},
        {"{dir}/../{name}", "{link}", {{"freeze"}, {"melt", "100", "201"}}},
        {"{dir}", "{dir}", {{"compact"}, {"freeze"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Done);
        const Sample sample;
        const TempFolder other;
        const std::string link = other / "link";
        std::filesystem::create_directory_symlink(sample.dir.path(), link);
        const std::string shared = sample.dir / "shared";
        std::filesystem::create_directory(shared);
        const std::filesystem::path dir(sample.dir.path());
        auto folder = [&](std::string spelling) {
            for (const auto& [key, value] : {std::pair<std::string, std::string>{"{dir}", dir.string()},
                     {"{link}", link}, {"{name}", dir.filename().string()}})
                if (const std::size_t at = spelling.find(key); at != std::string::npos)
                    spelling.replace(at, key.size(), value);
            return spelling;
        };
        // A melt goes into the shared folder, a freeze takes the classic save.
        auto run = [&](const std::string& spelling, std::vector<std::string> args, const std::string& kind) {
            const std::string at = folder(spelling);
            args.insert(args.begin() + 1, {"--staidx", at + "/StaIdx0.mul", "--statics", at + "/Statics0.mul"});
            if (kind != "compact")
                args.insert(args.end(), {"--wsc", at + (kind == "melt" ? "/shared" : "/UOX3.wsc")});
            return Cli(args);
        };
        test::WriteText(shared + "/5.1.wsc", "");
        const std::vector<test::Bytes> original = Contents(sample);
        for (const std::vector<std::string>& operation : c.Operations) {
            const Result done = run(c.Done, operation, operation[0]);
            ASSERT_EQ(done.Status, 0) << done.Err;
        }
        for (auto operation = c.Operations.rbegin(); operation != c.Operations.rend(); ++operation) {
            const Result undo = run(c.Undone, {"undo"}, (*operation)[0]);
            EXPECT_EQ(undo.Status, 0) << undo.Err;
        }
        EXPECT_EQ(Contents(sample), original);
        EXPECT_EQ(TempFolder::EntriesOf(shared), std::vector<std::string>{"5.1.wsc"});
        EXPECT_EQ(sample.Run("history").Out, "Nothing to undo for " + sample.dir / "StaIdx0.mul\n");
    }
}

// A melt of a block without objects and a freeze with nothing to freeze
// replace no file and leave nothing to undo; the melt still wants the world save.
TEST(CommandLine, NothingToDoChangesNoFileAndLeavesNoHistory)
{
    const Sample sample;
    ASSERT_EQ(sample.Run("freeze").Status, 0);
    const std::vector<std::string> history = History(sample);
    auto identities = [&] {
        std::vector<std::pair<ino_t, std::int64_t>> all;
        for (const char* name : {"StaIdx0.mul", "Statics0.mul", "UOX3.wsc"}) {
            struct stat st { };
            EXPECT_EQ(::stat((sample.dir / name).c_str(), &st), 0);
            all.emplace_back(st.st_ino, st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec);
        }
        return all;
    };
    const auto before = identities();
    const Result melt = sample.Run("melt", {"1", "1"});
    EXPECT_EQ(melt.Status, 0) << melt.Err;
    EXPECT_EQ(melt.Out,
        "Melting in progress... Cryoweaver may look crashed, do not interrupt!\nNothing to do!\nWriting StaIdx "
        "file...\nDone!\nMelting completed!\nNo object of block 1, 1 was melted\n");
    const Result freeze = sample.Run("freeze");
    EXPECT_EQ(freeze.Status, 0) << freeze.Err;
    EXPECT_EQ(identities(), before);
    EXPECT_EQ(History(sample), history);
    std::filesystem::remove(sample.dir / "UOX3.wsc");
    EXPECT_EQ(sample.Run("melt", {"1", "1"}).Err, "cryoweaver-cli: " + sample.dir / "UOX3.wsc: File not found.\n");
}

// A region file that a melt run as root makes is the server's like the others
// (or like the folder, when it holds none).
TEST(CommandLine, NewRegionFilesTakeTheOwnerAndModeOfTheOthers)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root gives files to another user";
    for (const bool others : {true, false}) {
        const Sample sample;
        const std::string shared = sample.dir / "shared";
        std::filesystem::create_directory(shared);
        ::chmod(shared.c_str(), 02775);
        ASSERT_EQ(::chown(shared.c_str(), 65534, 65533), 0);
        if (others) {
            test::WriteText(shared + "/5.1.wsc", "");
            ::chmod((shared + "/5.1.wsc").c_str(), 0660);
            ASSERT_EQ(::chown((shared + "/5.1.wsc").c_str(), 65533, 65534), 0);
        }
        const Result melt = Cli({"melt", "--staidx", sample.dir / "StaIdx0.mul", "--statics",
            sample.dir / "Statics0.mul", "--wsc", shared, "100", "200"});
        EXPECT_EQ(melt.Status, 0) << melt.Err;
        struct stat st { };
        ASSERT_EQ(::stat((shared + "/3.1.wsc").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, others ? 0660u : 0664u);
        EXPECT_EQ(st.st_uid, others ? 65533u : 65534u);
        EXPECT_EQ(st.st_gid, others ? 65534u : 65533u);
    }
}

TEST(CommandLine, ADryRunChecksAndPrintsButWritesNothing)
{
    struct Case {
        std::vector<std::string> Args;
        std::string Out;
        std::string Summary;
    };
    const Case cases[] = {
        {{"freeze", "--dry-run"},
            "Selecting item for export: 2\nSelecting item for export: 3\nSelecting item for export: 4\n"
            "Would append 2 objects to XBlock: 100 YBlock: 201\nWould append 1 objects to XBlock: 102 YBlock: 199\n",
            "3 items would be frozen into 2 blocks\n"},
        {{"melt", "--dry-run", "100", "200"},
            "Highest number: 4\nHighest serial: 40 00 00 05\n"
            "Would move 6 objects of XBlock: 100 YBlock: 200 into the world save\n",
            "6 objects of block 100, 200 would be melted into UOX3.wsc\n"},
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
            "Dry run: every check, but no file is changed...\n" + c.Out + "Dry run completed; no file was changed.\n"
                + c.Summary);
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
        {"list", {"0", "65536"}, none, "", "Range check error: Y block 65536 is outside 0..511."},
        {"list", {"-5", "0"}, none, "", "Range check error: X block -5 is outside 0..767."},
        {"melt", {"768", "0"}, none, "", "Range check error: X block 768 is outside 0..767."},
        {"melt", {"0", "$200"}, none, "", "Range check error: Y block 512 is outside 0..511."},
        {"list", {"100", "200"}, [](const TempFolder& dir) { fs::remove(dir / "StaIdx0.mul"); }, "StaIdx0.mul",
            "File not found."},
        {"list", {"100", "200"}, [](const TempFolder& dir) { fs::remove(dir / "Statics0.mul"); }, "Statics0.mul",
            "File not found."},
        {"freeze", {}, [](const TempFolder& dir) { fs::remove(dir / "UOX3.wsc"); }, "UOX3.wsc", "File not found."},
        {"check", {}, [](const TempFolder& dir) { fs::remove(dir / "UOX3.wsc"); }, "UOX3.wsc", "File not found."},
        {"compact", {}, cut("Statics0.mul", 10), "StaIdx0.mul: block 100, 200",
            "The index refers to bytes the statics file does not hold; no file was changed. Run check to list every "
            "damaged entry."},
        {"melt", {"100", "200"},
            [](const TempFolder& dir) {
                std::filesystem::permissions(dir.path(), std::filesystem::perms(0777));
                test::SetReadOnly(dir / "StaIdx0.mul");
            },
            "StaIdx0.mul", "File access denied.", true},
        {"melt", {"100", "200"},
            [](const TempFolder& dir) {
                for (const char* name : {"StaIdx0.mul", "Statics0.mul", "UOX3.wsc"})
                    std::filesystem::permissions(dir / name, std::filesystem::perms(0666));
                std::filesystem::permissions(dir.path(), std::filesystem::perms(0755));
            },
            "StaIdx0.mul",
            "File access denied: the folder does not let Cryoweaver make its lock file .StaIdx0.mul.cryoweaver-lock.",
            true},
        {"freeze", {}, cut("StaIdx0.mul", 1000), "StaIdx0.mul", "Read beyond end of file."},
        {"melt", {"100", "200"}, cut("Statics0.mul", 10), "Statics0.mul: block 100, 200", "Read beyond end of file."},
        {"freeze", {},
            [](const TempFolder& dir) {
                test::WriteText(dir / "UOX3.wsc", "SECTION WORLDITEM 7\r\nTYPE 255\r\nX 6144\r\n}\r\n");
            },
            "UOX3.wsc", "Invalid item in patch file! (Item#: 7)"},
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

TEST(CommandLine, FilesThatAreOneAreRefusedBeforeAnythingIsLockedOrRead)
{
    namespace fs = std::filesystem;
    // hard.mul is a second name of StaIdx0.mul, soft.wsc a link to it, copy.wsc a copy of Statics0.mul.
    const struct {
        std::vector<std::string> Files; // the command, its files, then the output file of an export
        std::string Err;
    } cases[] = {
        {{"melt", "StaIdx0.mul", "Statics0.mul", "Statics0.mul"},
            "The statics file 'Statics0.mul' and the world save "
            "'Statics0.mul' are one file: each must be a file of "
            "its own."},
        {{"freeze", "StaIdx0.mul", "hard.mul", "UOX3.wsc"},
            "The index 'StaIdx0.mul' and the statics file 'hard.mul' are one file: each must be a file of its own."},
        {{"check", "StaIdx0.mul", "Statics0.mul", "soft.wsc"},
            "The index 'StaIdx0.mul' and the world save 'soft.wsc' are one file: each must be a file of its own."},
        {{"list", "StaIdx0.mul", "./StaIdx0.mul"},
            "The index 'StaIdx0.mul' and the statics file './StaIdx0.mul' are one file: each must be a file of its "
            "own."},
        {{"export", "StaIdx0.mul", "Statics0.mul", "UOX3.wsc", "hard.mul"},
            "The index 'StaIdx0.mul' and the output file 'hard.mul' are one file: each must be a file of its own."},
        // A file that is not text is no world save.
        {{"melt", "StaIdx0.mul", "Statics0.mul", "copy.wsc"},
            "copy.wsc: This is not a world save but a binary file: it holds a NUL byte at offset 5."},
        {{"export", "StaIdx0.mul", "Statics0.mul", "copy.wsc", "out.wsc"},
            "copy.wsc: This is not a world save but a binary file: it holds a NUL byte at offset 5."},
    };
    for (const auto& c : cases) {
        const Sample sample;
        fs::create_hard_link(sample.dir / "StaIdx0.mul", sample.dir / "hard.mul");
        fs::create_symlink(sample.dir / "StaIdx0.mul", sample.dir / "soft.wsc");
        fs::copy_file(sample.dir / "Statics0.mul", sample.dir / "copy.wsc");
        const std::vector<test::Bytes> before = Contents(sample);
        std::vector<std::string> args{c.Files[0]};
        const char* const options[] = {"--staidx", "--statics", "--wsc"};
        for (std::size_t i = 1; i < c.Files.size(); ++i) {
            if (i <= 3)
                args.push_back(options[i - 1]);
            args.push_back(sample.dir / c.Files[i]);
        }
        if (c.Files[0] == "melt" || c.Files[0] == "list")
            args.insert(args.end(), {"100", "200"});
        const Result run = Cli(args);
        const bool binary = c.Err.starts_with("copy");
        const std::string err = std::regex_replace(c.Err, std::regex("'([^']+)'"), "'" + sample.dir.path() + "/$1'");
        EXPECT_EQ(run.Status, 1) << c.Err;
        EXPECT_EQ(run.Err, "cryoweaver-cli: " + (binary ? sample.dir / err : err) + "\n");
        EXPECT_EQ(Contents(sample), before) << c.Err;
        EXPECT_FALSE(fs::exists(sample.dir / "out.wsc"));
        // The files that are one are refused before anything is locked.
        for (const auto& entry : fs::directory_iterator(sample.dir.path()))
            EXPECT_TRUE(binary || !entry.path().filename().string().ends_with(".cryoweaver-lock")) << c.Err;
        EXPECT_TRUE(binary || run.Out.empty()) << c.Err;
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
        {list2("statics2.mul", {"287", "200"}), "Range check error: Y block 200 is outside 0..199."},
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

// A map of 1 x 2 blocks: two objects in block 0, 0, one in block 0, 1, and
// an item the freeze would add to block 0, 1; each case damages one thing.
struct CheckWorld {
    StaIdx Table{{1, 2}};
    test::Bytes Statics = test::ItemBytes({{0x64, 1, 2, 0, 0}, {0x65, 3, 4, 0, 0}, {0x66, 5, 6, 0, 0}});
    std::string Wsc = test::CrLfLines({"SECTION WORLDITEM 1", "{", "TYPE 255", "X 3", "Y 9", "}", "EOF"});
    test::WorldFolder Folder;

    CheckWorld() { Table.Entries = {{0, 14, 0}, {14, 7, 0}}; }
    // The statics files of a map of its own, named without a map number.
    std::string IndexPath() const { return Folder.Dir() / "custom.idx"; }
    std::string StaticsPath() const { return Folder.Dir() / "custom.mul"; }
    Result Run(std::vector<std::string> rest = {})
    {
        Folder.Write(Table, Statics, Wsc);
        std::filesystem::rename(Folder.StaIdx(), IndexPath());
        std::filesystem::rename(Folder.Statics(), StaticsPath());
        rest.insert(rest.begin(),
            {"check", "--staidx", IndexPath(), "--statics", StaticsPath(), "--wsc", Folder.Wsc(), "--map-size",
                "8x16"});
        return Cli(rest);
    }
};

TEST(CommandLine, CheckReportsEachKindOfFaultWithItsCountAndFirstCases)
{
    const std::string items = "Unreferenced bytes in the statics file: 0 of 21 (0.0%)\n";
    const struct {
        std::function<void(CheckWorld&)> Damage;
        std::string Out; // {wsc} stands for the world save's path
    } cases[] = {
        {[](CheckWorld&) {}, items + "No problems found\n"},
        {[](CheckWorld& w) {
             w.Table.Entries[1] = {14, 14, 0};
         },
            "Index entries past the end of the statics file: 1\n  block 0, 1: offset 14, length 14, in a file of 21 "
            "bytes\nUnreferenced bytes in the statics file: 7 of 21 (33.3%); compact reclaims them\n"},
        {[](CheckWorld& w) {
             w.Table.Entries[1] = {-5, 7, 0};
         },
            "Index entries at a negative offset other than -1: 1\n  block 0, 1: offset -5\nUnreferenced bytes in the "
            "statics file: 7 of 21 (33.3%); compact reclaims them\n"},
        {[](CheckWorld& w) {
             w.Table.Entries[1] = {14, 10, 0};
         },
            "Index entries whose length is negative or not a multiple of 7: 1\n  block 0, 1: length 10\n" + items},
        {[](CheckWorld& w) {
             w.Statics = test::ItemBytes(std::vector<TStaticItem>(513));
             w.Table.Entries = {{0, 513 * 7, 0}, {-1, 0, 0}};
         },
            "Blocks over 512 objects: 1\n  block 0, 0: 513 objects\nUnreferenced bytes in the statics file: 0 of 3591 "
            "(0.0%)\n"},
        {[](CheckWorld& w) {
             w.Statics = test::ItemBytes(std::vector<TStaticItem>(7, {1, 9, 2, 0, 0}));
             w.Table.Entries = {{0, 49, 0}, {-1, 0, 0}};
         },
            "Static objects with an X or Y offset of 8 or more: 7\n  block 0, 0, Item #1: X offset 9, Y offset 2\n"
            "  block 0, 0, Item #2: X offset 9, Y offset 2\n  block 0, 0, Item #3: X offset 9, Y offset 2\n"
            "  block 0, 0, Item #4: X offset 9, Y offset 2\n  block 0, 0, Item #5: X offset 9, Y offset 2\n"
            "  ... and 2 more\nUnreferenced bytes in the statics file: 0 of 49 (0.0%)\n"},
        // Read in the file's order, named in the table's.
        {[](CheckWorld& w) {
             w.Statics = test::ItemBytes(std::vector<TStaticItem>(7, {1, 9, 2, 0, 0}));
             const test::Bytes block00 = test::ItemBytes(std::vector<TStaticItem>(3, {1, 8, 0, 0, 0}));
             w.Statics.insert(w.Statics.end(), block00.begin(), block00.end());
             w.Table.Entries = {{49, 21, 0}, {0, 49, 0}};
         },
            "Static objects with an X or Y offset of 8 or more: 10\n  block 0, 0, Item #1: X offset 8, Y offset 0\n"
            "  block 0, 0, Item #2: X offset 8, Y offset 0\n  block 0, 0, Item #3: X offset 8, Y offset 0\n"
            "  block 0, 1, Item #1: X offset 9, Y offset 2\n  block 0, 1, Item #2: X offset 9, Y offset 2\n"
            "  ... and 5 more\nUnreferenced bytes in the statics file: 0 of 70 (0.0%)\n"},
        {[](CheckWorld& w) {
             w.Wsc = test::CrLfLines({"SECTION WORLDITEM 2", "{", "TYPE 255", "CONT 5", "}", "EOF"});
         },
            "TYPE 255 items a freeze would leave behind: 1\n  Not frozen: SECTION WORLDITEM 2 is inside a container\n"
                + items},
        {[](CheckWorld& w) { w.Wsc = "SECTION WORLDITEM 1\r\n" + w.Wsc; },
            "Section numbers that more than one section carries: 1\n  SECTION WORLDITEM 1: 2 sections\n" + items},
        {[](CheckWorld& w) {
             w.Wsc = test::CrLfLines({"SECTION WORLDITEM 4", "{", "TYPE 255", "X 8", "}", "EOF"});
         },
            "Values the server or a freeze would refuse: 1\n  {wsc}: SECTION WORLDITEM 4: Invalid item in patch file! "
            "(Item#: 4)\n"
                + items},
        {[](CheckWorld& w) {
             w.Statics = test::ItemBytes(std::vector<TStaticItem>(512));
             w.Table.Entries = {{-1, 0, 0}, {0, 512 * 7, 0}};
         },
            "Blocks a freeze would fill past 512 objects: 1\n  block 0, 1: 512 objects and 1 to freeze\nUnreferenced "
            "bytes in the statics file: 0 of 3584 (0.0%)\n"},
        {[](CheckWorld& w) {
             const std::string item = "[ITEM]\nSerial=0x40000001\nLocation=3,9,0,0,0\nType=255\n";
             w.Wsc = item + "\no---o\n\n" + item + "Colour=0x10000\n\no---o\n\n" + item + "Cont=0x40000009\n\no---o\n";
         },
            // The server keeps the last record, whose copies a freeze would not take whatever their values.
            "TYPE 255 items a freeze would leave behind: 3\n  Not frozen: [ITEM] Serial=0x40000001 in UOX3.wsc, line 1 "
            "is dropped by the server, which keeps the later record with this serial in UOX3.wsc, line 16\n  Not "
            "frozen: [ITEM] Serial=0x40000001 in UOX3.wsc, line 8 is dropped by the server, which keeps the later "
            "record with this serial in UOX3.wsc, line 16\n  Not frozen: [ITEM] Serial=0x40000001 in UOX3.wsc, line 16 "
            "is inside a container or worn (Cont=0x40000009)\nSerials that more than one record carries: 1\n  "
            "Serial=0x40000001: 3 records (UOX3.wsc line 1, UOX3.wsc line 8, UOX3.wsc line 16); a freeze takes none: "
            "the server keeps the one in UOX3.wsc, line 16, which a freeze leaves\n"
                + items},
        // Serials spread over more of their range than a bit each would take.
        {[](CheckWorld& w) {
             w.Wsc.clear();
             for (const int span : {1, 2, 3, 4, 5, 6, 7, 8, 9, 5})
                 w.Wsc += "[ITEM]\nSerial=0x" + std::to_string(span) + "000001\n\no---o\n\n";
         },
            "Serials that more than one record carries: 1\n  Serial=0x5000001: 2 records (UOX3.wsc line 21, UOX3.wsc "
            "line 46)\n"
                + items},
    };
    for (const auto& c : cases) {
        CheckWorld world;
        c.Damage(world);
        const Result result = world.Run();
        const std::string out = std::regex_replace(c.Out, std::regex("\\{wsc\\}"), world.Folder.Wsc());
        const bool healthy = out.ends_with("No problems found\n");
        const bool two = out.find("Serials") != std::string::npos && out.find("TYPE 255") != std::string::npos;
        EXPECT_EQ(result.Out, out + (healthy ? "" : two ? "Problems found: 2 kinds\n" : "Problems found: 1 kind\n"));
        EXPECT_EQ(result.Status, healthy ? 0 : 1) << out;
        EXPECT_EQ(result.Err, "");
    }
}

TEST(CommandLine, CheckPrintsOneJsonObject)
{
    CheckWorld world;
    world.Table.Entries[1] = {-5, 7, 0};
    // Quotes, tabs and bytes that are no UTF-8 in an example.
    world.Wsc = "[ITEM]\nSerial=0x40000001\nType=255\nColour=q\"\t\xff\n\no---o\n";
    const Result result = world.Run({"--json"});
    EXPECT_EQ(result.Status, 1);
    const std::string dir = world.Folder.Dir().path();
    EXPECT_EQ(result.Out,
        "{\n  \"healthy\": false,\n  \"staidx\": \"" + dir + "/custom.idx\",\n  \"statics\": \"" + dir
            + "/custom.mul\",\n  \"wsc\": \"" + dir + "/UOX3.wsc\",\n" + R"(  "world_save": "item file",
  "map_blocks": [1, 2],
  "statics_bytes": 21,
  "unreferenced_bytes": 7,
  "other_worlds": {},
  "findings": [
    {"kind": "past_end", "title": "Index entries past the end of the statics file", "count": 0, "examples": []},
    {"kind": "negative_offset", "title": "Index entries at a negative offset other than -1", "count": 1, "examples": ["block 0, 1: offset -5"]},
    {"kind": "bad_length", "title": "Index entries whose length is negative or not a multiple of 7", "count": 0, "examples": []},
    {"kind": "over_512", "title": "Blocks over 512 objects", "count": 0, "examples": []},
    {"kind": "offset_8_or_more", "title": "Static objects with an X or Y offset of 8 or more", "count": 0, "examples": []},
    {"kind": "not_frozen", "title": "TYPE 255 items a freeze would leave behind", "count": 0, "examples": []},
    {"kind": "duplicate_serials", "title": "Serials that more than one record carries", "count": 0, "examples": []},
    {"kind": "refused", "title": "Values the server or a freeze would refuse", "count": 1, "examples": [")"
            + dir
            + R"(/UOX3.wsc: line 4: The server cannot load Colour=q\"\t)"
              "\xEF\xBF\xBD"
              R"(: the value is not a number."]},
    {"kind": "block_overflow", "title": "Blocks a freeze would fill past 512 objects", "count": 0, "examples": []},
    {"kind": "x_zero", "title": "TYPE 255 items at x = 0, which the server drops at its next save", "count": 0, "examples": []}
  ]
}
)");
}

TEST(CommandLine, CheckCountsTheItemsOfOtherWorldsAndNamesWhatTheServerWouldLose)
{
    const Sample sample;
    const std::string shared = sample.dir / "shared";
    std::filesystem::create_directory(shared);
    auto item = [](const char* serial, const char* location) {
        return "[ITEM]\nSerial=" + std::string(serial) + "\nID=0x1\nLocation=" + location
            + "\nCont=0xffffffff\nType=255\n\no---o\n\n";
    };
    // A folder shared by maps 0, 1 and 2, each with items to freeze.
    test::WriteText(shared + "/0.0.wsc",
        item("0x40000001", "10,20,0,0,0") + item("0x40000002", "10,20,0,1,0") + item("0x40000003", "10,20,0,2,0"));
    test::WriteText(shared + "/1.0.wsc", item("0x40000004", "300,20,0,1,0"));
    auto check = [&](std::vector<std::string> rest = {}) {
        rest.insert(rest.begin(),
            {"check", "--staidx", sample.dir / "StaIdx0.mul", "--statics", sample.dir / "Statics0.mul", "--wsc",
                shared});
        return Cli(rest);
    };
    const std::string statics = "Unreferenced bytes in the statics file: 0 of 63 (0.0%)\n";
    Result result = check();
    EXPECT_EQ(result.Status, 0) << result.Out;
    EXPECT_EQ(result.Out,
        "TYPE 255 items of other worlds, for their own maps: world 1: 2, world 2: 1\n" + statics
            + "No problems found\n");
    result = check({"--json"});
    EXPECT_EQ(result.Status, 0);
    EXPECT_NE(result.Out.find("\n  \"other_worlds\": {\"1\": 2, \"2\": 1},\n"), std::string::npos) << result.Out;

    // An item at x = 0, which the server would not save again, and one serial in two files.
    test::WriteText(shared + "/2.0.wsc", item("0x40000001", "600,20,0,0,0"));
    test::WriteText(shared + "/overflow.wsc", item("0x40000005", "0,7,0,0,0"));
    // And one in a world that no server has.
    test::WriteText(shared + "/3.0.wsc", item("0x40000006", "800,20,0,7,0"));
    result = check();
    EXPECT_EQ(result.Status, 1);
    EXPECT_EQ(result.Out,
        "Serials that more than one record carries: 1\n  Serial=0x40000001: 2 records (0.0.wsc line 1, 2.0.wsc "
        "line 1); a freeze takes the one in 2.0.wsc, line 1, which the server keeps, and removes 2 records\n"
        "Values the server or a freeze would refuse: 1\n  "
            + shared
            + "/3.0.wsc: line 1: This Type 255 item is in world 7, which no server has a map for (it loads maps 0 "
              "to 5): the server stops at start-up on it.\n"
              "TYPE 255 items at x = 0, which the server drops at its next save: 1\n  [ITEM] Serial=0x40000005 in "
              "overflow.wsc, line 1\nTYPE 255 items of other worlds, for their own maps: world 1: 2, world 2: 1\n"
            + statics + "Problems found: 3 kinds\n");
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

// The operator freezes the sample's items and makes a patch from a copy of
// the released files; a player applies it, again, and
// undoes it; a player whose block differs is refused until --force.
TEST(CommandLine, APatchGivesPlayersTheOperatorsBlocksOnceAndOnlyFromTheRelease)
{
    const Sample current;
    TempFolder copies;
    for (const char* folder : {"release", "player"})
        std::filesystem::copy(current.dir.path(), copies / folder);
    auto files = [&](const std::string& folder) {
        return std::vector<std::string>{
            "--staidx", copies / folder + "/StaIdx0.mul", "--statics", copies / folder + "/Statics0.mul"};
    };
    EXPECT_EQ(current.Run("freeze").Status, 0);

    const std::string patch = copies / "players.patch";
    std::vector<std::string> make
        = {"patch", "--new-staidx", current.dir / "StaIdx0.mul", "--new-statics", current.dir / "Statics0.mul", patch};
    const std::vector<std::string> release = files("release");
    make.insert(make.begin() + 1, release.begin(), release.end());
    const Result made = Cli(make);
    EXPECT_EQ(made.Status, 0) << made.Err;
    EXPECT_EQ(made.Out, "Patch written to " + patch + ": 2 blocks changed, 3 objects added, 0 removed\n");

    auto apply = [&](const std::string& folder, std::vector<std::string> rest) {
        std::vector<std::string> args = files(folder);
        args.insert(args.begin(), "apply");
        args.insert(args.end(), rest.begin(), rest.end());
        return Cli(args);
    };
    const Result applied = apply("player", {patch});
    EXPECT_EQ(applied.Status, 0) << applied.Err;
    EXPECT_EQ(applied.Out,
        "Applying the patch... Cryoweaver may look crashed, do not interrupt!\n"
        "Replacing the 2 objects of block 100,201 by 4\n"
        "Replacing the 0 objects of block 102,199 by 1\n"
        "Blocks replaced: 2\n"
        "Blocks already up to date: 0\n"
        "Applying completed!\n");
    std::vector<std::string> list = files("player");
    list.insert(list.begin(), "list");
    list.insert(list.end(), {"100", "201"});
    EXPECT_EQ(Cli(list).Out, current.Run("list", {"100", "201"}).Out);
    EXPECT_EQ(apply("player", {patch}).Out,
        "Applying the patch... Cryoweaver may look crashed, do not interrupt!\n"
        "Every block of the patch is up to date; no file was changed\n"
        "Applying completed!\n");
    std::vector<std::string> undo = files("player");
    undo.insert(undo.begin(), "undo");
    EXPECT_EQ(Cli(undo).Status, 0);
    EXPECT_EQ(test::ReadBytes(copies / "player/StaIdx0.mul"), test::ReadBytes(copies / "release/StaIdx0.mul"));
    EXPECT_EQ(test::ReadBytes(copies / "player/Statics0.mul"), test::ReadBytes(copies / "release/Statics0.mul"));

    // A player who froze something into block 100,201 meanwhile.
    test::Bytes index = test::ReadBytes(copies / "player/StaIdx0.mul");
    index[(100 * 512 + 201) * 12 + 4] = 7; // the block's first object only
    test::WriteBytes(copies / "player/StaIdx0.mul", index);
    const Result refused = apply("player", {patch});
    EXPECT_EQ(refused.Status, 1);
    EXPECT_EQ(refused.Err,
        "cryoweaver-cli: " + copies / "player/Statics0.mul"
            + ": 1 block differs from the release the patch was made from: block 100,201. Nothing was changed; apply "
              "with --force to replace them all the same.\n");
    EXPECT_EQ(test::ReadBytes(copies / "player/StaIdx0.mul"), index);
    const Result forced = apply("player", {"--force", patch});
    EXPECT_EQ(forced.Status, 0) << forced.Err;
    EXPECT_NE(forced.Out.find("Replacing the 1 object of block 100,201, which differs from the release, by 4\n"),
        std::string::npos);
}

TEST(CommandLine, RenderDrawsTheBlocksAnAreaTouchesWhateverItsCornersOrder)
{
    const Sample sample;
    const std::string out = sample.dir / "town.png";
    const std::string noClient = "No radarcol.mul, nor map0LegacyMUL.uop or map0.mul beside the statics: the picture "
                                 "shows the statics alone\n";
    test::Bytes first;
    // 799,1599 .. 816,1608 touches blocks 99..102 and 199..201 by one tile at each edge.
    for (const char* area : {"799,1599,816,1608", "816,1608,799,1599", "799,1608,816,1599"}) {
        const Result render = sample.Run("render", {"--area", area, "--scale", "2", out});
        EXPECT_EQ(render.Status, 0) << render.Err;
        EXPECT_EQ(render.Out,
            noClient + "Items to freeze, marked: 3\nWrote " + out
                + ": 16 x 12 pixels, tiles 792,1592,823,1615, 2 tiles a pixel\n");
        EXPECT_EQ(render.Err, "");
        const test::Bytes png = test::ReadBytes(out);
        if (first.empty())
            first = png;
        EXPECT_EQ(png, first) << area;
    }
    // The PNG signature, then the header: 16 x 12 pixels, 8-bit RGB.
    ASSERT_GT(first.size(), 33u);
    EXPECT_EQ(test::Bytes(first.begin(), first.begin() + 29),
        (test::Bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R', 0, 0, 0, 16, 0, 0, 0,
            12, 8, 2, 0, 0, 0}));

    const Result whole = Cli({"render", "--staidx", sample.dir / "StaIdx0.mul", "--statics",
        sample.dir / "Statics0.mul", "--scale", "8", "--", sample.dir / "-whole.PNG"});
    EXPECT_EQ(whole.Status, 0) << whole.Err;
    EXPECT_EQ(whole.Out,
        noClient + "Wrote " + sample.dir / "-whole.PNG"
            + ": 768 x 512 pixels, tiles 0,0,6143,4095, "
              "8 tiles a pixel\n");

    const std::vector<std::string> before = sample.dir.Entries();
    const struct {
        std::vector<std::string> Args;
        std::string Err;
    } refused[] = {
        {{"--area", "0,0,6144,10", out}, "The area 0,0,6144,10 reaches outside the map of 6144 x 4096 tiles."},
        {{"--client", sample.dir.path(), sample.dir / "other.png"},
            sample.dir.path() + ": The client folder holds no radarcol.mul, nor map0LegacyMUL.uop or map0.mul."},
        {{sample.dir / "town.jpg"},
            sample.dir / "town.jpg: The picture is written as PNG: give a file name ending in .png."},
    };
    for (const auto& c : refused) {
        const Result render = sample.Run("render", c.Args);
        EXPECT_EQ(render.Status, 1);
        EXPECT_EQ(render.Err, "cryoweaver-cli: " + c.Err + "\n");
        EXPECT_EQ(test::ReadBytes(out), first);
        EXPECT_EQ(sample.dir.Entries(), before);
    }
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
        {"compact", "--staidx", "a", "--statics", "b", "--wsc", "c"},
        {"freeze", "--staidx", "a", "--statics", "b", "--wsc", "c", "--json"},
        {"check", "--staidx", "a", "--statics", "b"},
        {"patch", "--staidx", "a", "--statics", "b", "--new-staidx", "c", "out"},
        {"patch", "--staidx", "a", "--statics", "b", "--new-staidx", "c", "--new-statics", "d"},
        {"apply", "--staidx", "a", "--statics", "b"},
        {"apply", "--staidx", "a", "--statics", "b", "--new-staidx", "c", "p"},
        {"freeze", "--staidx", "a", "--statics", "b", "--wsc", "c", "--force"},
        {"render", "--staidx", "a", "--statics", "b"},
        {"render", "--staidx", "a", "--statics", "b", "a.png", "b.png"},
        {"render", "--staidx", "a", "--statics", "b", "--area", "1,2,3", "a.png"},
        {"list", "--staidx", "a", "--statics", "b", "--area", "1,2,3,4", "5", "6"},
        {"melt", "--staidx", "a", "--statics", "b", "--wsc", "c", "--area", "1,2,3,4", "--at", "1,2"},
        {"compact", "--staidx", "a", "--statics", "b", "--area", "1,2,3,4"},
        {"melt", "--staidx", "a", "--statics", "b", "--wsc", "c", "--client", "d", "1", "2"},
        {"freeze", "--staidx", "a", "--statics", "b", "--wsc", "c", "--grid"},
        // Every option once.
        {"list", "--staidx", "a", "--staidx", "b", "--statics", "c", "1", "2"},
        {"list", "--staidx=a", "--statics", "c", "--staidx=a", "1", "2"},
        {"freeze", "--staidx", "a", "--statics", "b", "--wsc", "c", "--dry-run", "--dry-run"},
        {"check", "--staidx", "a", "--statics", "b", "--wsc", "c", "--json", "--json"},
        {"melt", "--staidx", "a", "--statics", "b", "--wsc", "c", "--at", "1,2", "--at", "3,4"},
    };
    for (const auto& args : wrong) {
        const Result result = Cli(args);
        EXPECT_EQ(result.Status, 2) << testing::PrintToString(args);
        EXPECT_EQ(result.Out, "");
        EXPECT_TRUE(result.Err.starts_with("cryoweaver-cli: ")) << result.Err;
        EXPECT_NE(result.Err.find("\n\nUsage:\n"), std::string::npos);
    }
    EXPECT_TRUE(Cli({"list", "--staidx", "a"}).Err.starts_with("cryoweaver-cli: list needs --statics FILE\n\nUsage:"));
    EXPECT_TRUE(Cli({"list", "--staidx", "a", "--statics", "b", "1", "2", "3"})
                    .Err.starts_with("cryoweaver-cli: list takes two block numbers, X and Y, not 3\n\nUsage:"));
    EXPECT_TRUE(Cli({"apply", "--staidx", "a", "--statics", "b"})
                    .Err.starts_with("cryoweaver-cli: apply needs exactly one patch file\n\nUsage:"));
    EXPECT_TRUE(Cli({"patch", "--staidx", "a", "--statics", "b", "--new-staidx", "c", "out"})
                    .Err.starts_with("cryoweaver-cli: patch needs --new-statics FILE\n\nUsage:"));
    const std::pair<std::vector<std::string>, std::string> render[] = {
        {{"--scale", "3"}, "Invalid scale '3': give 1, 2, 4 or 8 tiles a pixel"},
        {{"--scale", "16"}, "Invalid scale '16': give 1, 2, 4 or 8 tiles a pixel"},
        {{"--grid", "--scale", "4"}, "render --grid needs --scale 1 or 2, where a block is 8 or 4 pixels wide"},
        {{"--area", "1,2,,4"},
            "Invalid area '1,2,,4': give X1,Y1,X2,Y2 in tiles, two opposite corners, such as 1400,1600,1500,1700"},
        {{"--dry-run"}, "render takes no --dry-run"},
    };
    for (const auto& [options, text] : render) {
        std::vector<std::string> args{"render", "--staidx", "a", "--statics", "b", "a.png"};
        args.insert(args.end(), options.begin(), options.end());
        EXPECT_TRUE(Cli(args).Err.starts_with("cryoweaver-cli: " + text + "\n\nUsage:")) << text;
    }
    EXPECT_TRUE(Cli({"list", "--staidx", "a", "--staidx", "b", "--statics", "c", "1", "2"})
                    .Err.starts_with("cryoweaver-cli: option '--staidx' is given twice\n\nUsage:"));
    EXPECT_TRUE(Cli({"freeze", "--staidx", "a", "--statics", "b", "--wsc", "c", "--dry-run", "--dry-run"})
                    .Err.starts_with("cryoweaver-cli: option '--dry-run' is given twice\n\nUsage:"));

    // A numbered map's files are laid out at its height: another is refused, another width is not.
    const int heights[] = {4096, 4096, 1600, 2048, 1448, 4096};
    for (int map = 0; map < 6; ++map) {
        const std::string n = std::to_string(map);
        auto list = [&](const std::string& size, const std::string& statics) {
            return Cli({"list", "--staidx", "/nowhere/STAIDX" + n + ".MUL", "--statics", "/nowhere/" + statics,
                "--map-size", size, "0", "0"});
        };
        const std::string wrong = "2048x" + std::to_string(heights[map] + 8);
        const Result refused = list(wrong, "statics" + n + ".mul");
        EXPECT_EQ(refused.Status, 2) << map;
        EXPECT_TRUE(
            refused.Err.starts_with("cryoweaver-cli: --map-size " + wrong + " does not fit map " + n + " of its files, "
                + std::to_string(heights[map]) + " tiles high; give that height, or leave --map-size out\n\nUsage:"))
            << refused.Err;
        for (const auto& [size, statics] :
            {std::pair{"2048x" + std::to_string(heights[map]), "statics" + n + ".mul"}, {wrong, "statics.mul"}})
            EXPECT_EQ(list(size, statics).Status, 1) << map << " " << size << " " << statics;
    }
    const Result help = Cli({"--help"});
    EXPECT_EQ(help.Status, 0);
    EXPECT_TRUE(help.Out.starts_with("Usage:\n"));
    EXPECT_EQ(Cli({"--version"}).Out, std::string("cryoweaver-cli ") + VersionText + "\n");
}

} // namespace
} // namespace cryo
