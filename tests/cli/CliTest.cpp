#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace cryo {
namespace {

#ifndef _WIN32

using test::TempFolder;

struct Result {
    int Status = -1;
    std::string Out;
    std::string Err;
};

std::string Drain(int fd)
{
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<std::size_t>(n));
    ::close(fd);
    return text;
}

// Runs the command-line program with the arguments, its output captured.
Result Cli(const std::vector<std::string>& args)
{
    int out[2];
    int err[2];
    EXPECT_EQ(::pipe(out), 0);
    EXPECT_EQ(::pipe(err), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        ::close(out[0]);
        ::close(err[0]);
        std::vector<char*> argv{const_cast<char*>(CRYOWEAVER_CLI)};
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        ::execv(CRYOWEAVER_CLI, argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    Result result;
    // Small outputs: the pipes cannot fill before both are read.
    result.Err = Drain(err[0]);
    result.Out = Drain(out[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    result.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

class CommandLine : public testing::Test {
protected:
    void SetUp() override
    {
        const Result sample = Cli({"sample", dir.path()});
        ASSERT_EQ(sample.Status, 0) << sample.Err;
        EXPECT_EQ(sample.Out,
            "Wrote " + dir / "StaIdx0.mul\n" + "Wrote " + dir / "Statics0.mul\n" + "Wrote " + dir / "UOX3.wsc\n");
        EXPECT_EQ(sample.Err, "");
    }

    std::vector<std::string> Files(std::initializer_list<std::string> rest, bool withWsc = true) const
    {
        std::vector<std::string> args{"--staidx", dir / "StaIdx0.mul", "--statics", dir / "Statics0.mul"};
        if (withWsc) {
            args.push_back("--wsc");
            args.push_back(dir / "UOX3.wsc");
        }
        args.insert(args.end(), rest.begin(), rest.end());
        return args;
    }

    Result Run(const std::string& command, std::initializer_list<std::string> rest, bool withWsc = true) const
    {
        std::vector<std::string> args = Files(rest, withWsc);
        args.insert(args.begin(), command);
        return Cli(args);
    }

    TempFolder dir;
};

const char* const SampleBlock = "Item #1: Item ID = 0E ED, X = 803, Y = 1605, Z = -5, Color = 00 00\n"
                                "Item #2: Item ID = 00 64, X = 800, Y = 1600, Z = 0, Color = 00 00\n"
                                "Item #3: Item ID = 00 65, X = 801, Y = 1600, Z = 0, Color = 00 00\n"
                                "Item #4: Item ID = 00 66, X = 802, Y = 1600, Z = 0, Color = 00 00\n"
                                "Item #5: Item ID = 04 95, X = 804, Y = 1604, Z = 0, Color = 04 81\n"
                                "Item #6: Item ID = 0B 41, X = 806, Y = 1602, Z = 3, Color = 00 00\n";

TEST_F(CommandLine, ListsMeltsAndFreezesTheSampleWorld)
{
    Result list = Run("list", {"100", "200"}, false);
    EXPECT_EQ(list.Status, 0);
    EXPECT_EQ(list.Out, SampleBlock);
    EXPECT_EQ(list.Err, "");

    const Result melt = Run("melt", {"100", "200"});
    EXPECT_EQ(melt.Status, 0) << melt.Err;
    EXPECT_EQ(melt.Out,
        "Melting in progress... Cryoweaver may look crashed, do not interrupt!\n"
        "Highest number: 4\n"
        "Highest serial: 40 00 00 05\n"
        "Writing StaIdx file...\n"
        "Done!\n"
        "Melting completed!\n");
    EXPECT_EQ(melt.Err, "");
    EXPECT_EQ(Run("list", {"100", "200"}, false).Out, "");

    const Result freeze = Run("freeze", {});
    EXPECT_EQ(freeze.Status, 0) << freeze.Err;
    std::string expected = "Freezing in progress... Cryoweaver may look crashed, do not interrupt!\n";
    for (int n = 2; n <= 10; ++n)
        expected += "Selecting item for export: " + std::to_string(n) + "\n";
    expected += "Extracting from WSC... XBlock: 100 YBlock: 200\n"
                "Appending to Statics... XBlock: 100 YBlock: 200\n"
                "Extracting from WSC... XBlock: 100 YBlock: 201\n"
                "Appending to Statics... XBlock: 100 YBlock: 201\n"
                "Extracting from WSC... XBlock: 102 YBlock: 199\n"
                "Appending to Statics... XBlock: 102 YBlock: 199\n"
                "Freezing completed!\n";
    EXPECT_EQ(freeze.Out, expected);
    EXPECT_EQ(Run("list", {"100", "200"}, false).Out, SampleBlock);
}

TEST_F(CommandLine, ErrorsGoToStandardErrorWithTheFullStopRule)
{
    struct Case {
        std::vector<std::string> Block;
        std::string Err;
    };
    const Case cases[] = {
        {{"abc", "0"}, "cryoweaver-cli: 'abc' is not a valid integer value.\n"},
        {{"0", "65536"}, "cryoweaver-cli: Range check error.\n"},
        {{"768", "0"}, "cryoweaver-cli: Range check error.\n"},
        {{"-5", "0"}, "cryoweaver-cli: Range check error.\n"},
    };
    for (const Case& c : cases) {
        const Result list = Run("list", {c.Block[0], c.Block[1]}, false);
        EXPECT_EQ(list.Status, 1);
        EXPECT_EQ(list.Out, "");
        EXPECT_EQ(list.Err, c.Err);
    }
    const Result melt = Run("melt", {"768", "0"});
    EXPECT_EQ(melt.Status, 1);
    EXPECT_EQ(melt.Out, "Melting in progress... Cryoweaver may look crashed, do not interrupt!\n");
    EXPECT_EQ(melt.Err, "cryoweaver-cli: Range check error.\n");

    test::WriteText(dir / "UOX3.wsc", "SECTION WORLDITEM 7\r\nTYPE 255\r\nX 6144\r\n}\r\n");
    const Result freeze = Run("freeze", {});
    EXPECT_EQ(freeze.Status, 1);
    EXPECT_EQ(freeze.Err, "cryoweaver-cli: Invalid item in patch file! (Item#: 7)\n");

    std::filesystem::remove(dir / "Statics0.mul");
    const Result missing = Run("list", {"100", "200"}, false);
    EXPECT_EQ(missing.Status, 1);
    EXPECT_EQ(missing.Err, "cryoweaver-cli: File not found.\n");
}

TEST_F(CommandLine, TheSampleNeverOverwritesAFile)
{
    const std::string before = test::ReadText(dir / "UOX3.wsc");
    const Result again = Cli({"sample", dir.path()});
    EXPECT_EQ(again.Status, 1);
    EXPECT_EQ(again.Err,
        "cryoweaver-cli: '" + dir / "StaIdx0.mul" + "' already exists; the sample never overwrites a file.\n");
    EXPECT_EQ(test::ReadText(dir / "UOX3.wsc"), before);
}

TEST(CommandLineUsage, WrongCommandLinesExitWith2AndShowTheUsage)
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
    };
    for (const auto& args : wrong) {
        const Result result = Cli(args);
        EXPECT_EQ(result.Status, 2) << testing::PrintToString(args);
        EXPECT_EQ(result.Out, "");
        EXPECT_EQ(result.Err.rfind("cryoweaver-cli: ", 0), 0u) << result.Err;
        EXPECT_NE(result.Err.find("Usage:\n"), std::string::npos);
    }
    EXPECT_EQ(Cli({"list", "--staidx", "a"}).Err.substr(0, 44), "cryoweaver-cli: list needs --statics FILE\n\nU");

    const Result help = Cli({"--help"});
    EXPECT_EQ(help.Status, 0);
    EXPECT_EQ(help.Out.rfind("Usage:\n", 0), 0u);
    const Result version = Cli({"--version"});
    EXPECT_EQ(version.Status, 0);
    EXPECT_EQ(version.Out, "cryoweaver-cli 3.2\n");
}

#endif

} // namespace
} // namespace cryo
