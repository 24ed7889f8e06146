#include "File.h"
#include "Error.h"
#include "FaultInjection.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace cryo {
namespace {

using test::Bytes;
using test::ErrorText;
using test::ReadText;
using test::TempFolder;
using test::WriteText;

TEST(File, MissingFilesAndFoldersAreNotFound)
{
    TempFolder dir;
    EXPECT_EQ(ErrorText([&] { File::OpenExisting(dir / "missing.mul"); }), "File not found");
    EXPECT_EQ(ErrorText([&] { File::OpenForReading(dir / "missing.wsc"); }), "File not found");
    EXPECT_EQ(ErrorText([&] { File::OpenExisting(dir / "no-folder/StaIdx0.mul"); }), "File not found");
    EXPECT_EQ(ErrorText([&] { ReplacementFile(dir / "no-folder/StaIdx0.mul"); }), "File not found");
    EXPECT_FALSE(FileExists(dir / "missing.mul"));
    EXPECT_FALSE(FileExists(dir.path()));
    EXPECT_FALSE(FileExists(""));
}

TEST(File, BadNamesAreInvalidFilenames)
{
    TempFolder dir;
    using namespace std::string_literals;
    EXPECT_EQ(ErrorText([&] { File::OpenExisting(dir / "a\0b"s); }), "Invalid filename");
    EXPECT_EQ(ErrorText([&] { ReplacementFile(dir / "a\0b"s); }), "Invalid filename");
#ifndef _WIN32
    EXPECT_EQ(ErrorText([&] { File::OpenExisting(dir / std::string(300, 'n')); }), "Invalid filename");
#endif
}

TEST(File, AFolderIsNoFile)
{
    TempFolder dir;
    std::filesystem::create_directory(dir / "sub");
    EXPECT_EQ(ErrorText([&] { File::OpenExisting(dir / "sub"); }), "File access denied");
    EXPECT_EQ(ErrorText([&] { File::OpenForReading(dir / "sub"); }), "File access denied");
    EXPECT_EQ(ErrorText([&] { ReplacementFile(dir / "sub"); }), "File access denied");
}

TEST(File, ShortReadsAreReadsBeyondTheEnd)
{
    TempFolder dir;
    WriteText(dir / "f", "12345");
    File file = File::OpenExisting(dir / "f");
    EXPECT_EQ(file.Size(), 5u);
    char buffer[8];
    file.Seek(2);
    EXPECT_EQ(file.ReadSome(buffer, sizeof buffer), 3u);
    file.Seek(1);
    EXPECT_EQ(ErrorText([&] { file.ReadExact(buffer, 5); }), "Read beyond end of file");
    file.Seek(100);
    EXPECT_EQ(file.ReadSome(buffer, sizeof buffer), 0u);
}

TEST(ReplacementFile, ReplacesOnlyOnCommitAndLeavesNoTemporaryFile)
{
    TempFolder dir;
    WriteText(dir / "UOX3.wsc", "old");
    {
        ReplacementFile file(dir / "UOX3.wsc");
        file.Write("new text", 8);
        EXPECT_EQ(ReadText(dir / "UOX3.wsc"), "old");
        // The replacement has no name at all where the system allows it.
        EXPECT_LE(dir.Entries().size(), 2u);
        EXPECT_EQ(dir.Entries().back(), "UOX3.wsc");
    }
    EXPECT_EQ(ReadText(dir / "UOX3.wsc"), "old");
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"UOX3.wsc"});

    ReplacementFile file(dir / "UOX3.wsc");
    file.Write("new text", 8);
    file.Commit();
    EXPECT_TRUE(file.Committed());
    EXPECT_EQ(ReadText(dir / "UOX3.wsc"), "new text");
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"UOX3.wsc"});
}

TEST(ReplacementFile, CreatesAMissingFile)
{
    TempFolder dir;
    ReplacementFile file(dir / "StaIdx0.mul");
    file.Write("x", 1);
    file.Commit();
    EXPECT_EQ(ReadText(dir / "StaIdx0.mul"), "x");
}

// Makes the n-th file operation fail, counting from 1.
class FailAt final : public fault::Injector {
public:
    FailAt(int n, FileError::Kind kind, int code)
        : n_(n)
        , kind_(kind)
        , code_(code)
    {
    }
    void Before(fault::Operation, const std::string&) override
    {
        if (++seen_ == n_)
            throw FileError(kind_, code_);
    }
    int seen_ = 0;

private:
    int n_;
    FileError::Kind kind_;
    int code_;
};

TEST(ReplacementFile, AFailureAtAnyStepKeepsTheOldFile)
{
    TempFolder dir;
    WriteText(dir / "UOX3.wsc", "old");
    int steps = 0;
    for (int n = 1;; ++n) {
        FailAt failAt(n, FileError::Kind::Other, 5);
        fault::Install(&failAt);
        const std::string text = ErrorText([&] {
            ReplacementFile file(dir / "UOX3.wsc");
            file.Write("new", 3);
            file.Commit();
        });
        fault::Install(nullptr);
        if (text.empty()) {
            steps = n - 1;
            break;
        }
        EXPECT_EQ(text, "I/O error 5") << "step " << n;
        // The folder sync comes after the rename; every earlier failure keeps the old text.
        if (failAt.seen_ < 6) {
            EXPECT_EQ(ReadText(dir / "UOX3.wsc"), "old") << "step " << n;
        }
        EXPECT_EQ(dir.Entries(), std::vector<std::string>{"UOX3.wsc"}) << "step " << n;
        WriteText(dir / "UOX3.wsc", "old");
    }
    EXPECT_GE(steps, 5); // open, create, write, sync, rename at least
    EXPECT_EQ(ReadText(dir / "UOX3.wsc"), "new");
}

#ifndef _WIN32

TEST(ReplacementFile, KeepsPermissionsAndReplacesTheTargetOfALink)
{
    TempFolder dir;
    WriteText(dir / "real.wsc", "old");
    ::chmod((dir / "real.wsc").c_str(), 0640);
    std::filesystem::create_symlink("real.wsc", dir / "UOX3.wsc");

    ReplacementFile file(dir / "UOX3.wsc");
    file.Write("new", 3);
    file.Commit();

    EXPECT_TRUE(std::filesystem::is_symlink(dir / "UOX3.wsc"));
    EXPECT_EQ(ReadText(dir / "real.wsc"), "new");
    struct stat st { };
    ASSERT_EQ(::stat((dir / "real.wsc").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"UOX3.wsc", "real.wsc"}));
}

TEST(File, ReadOnlyFilesDenyAccessForReadAndWriteButReadAsText)
{
    TempFolder dir;
    ::chmod(dir.path().c_str(), 0777);
    WriteText(dir / "StaIdx0.mul", "index");
    test::SetReadOnly(dir / "StaIdx0.mul");

    const std::string text = test::ErrorTextInChild({.Unprivileged = true}, [&] {
        const std::string open = ErrorText([&] { File::OpenExisting(dir / "StaIdx0.mul"); });
        const std::string replace = ErrorText([&] { ReplacementFile(dir / "StaIdx0.mul"); });
        char byte;
        File::OpenForReading(dir / "StaIdx0.mul").ReadExact(&byte, 1);
        throw Error(open + "|" + replace);
    });
    EXPECT_EQ(text, "File access denied|File access denied");
    EXPECT_EQ(ReadText(dir / "StaIdx0.mul"), "index");
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"StaIdx0.mul"});
}

TEST(ReplacementFile, AFullDiskKeepsTheOldFileAndLeavesNoTemporaryFile)
{
    TempFolder dir;
    WriteText(dir / "UOX3.wsc", "old");
    const std::string text = test::ErrorTextInChild({.FileSizeLimit = 1000}, [&] {
        ReplacementFile file(dir / "UOX3.wsc");
        const std::string big(5000, 'x');
        file.Write(big.data(), big.size());
        file.Commit();
    });
    EXPECT_EQ(text, "Disk full");
    EXPECT_EQ(ReadText(dir / "UOX3.wsc"), "old");
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"UOX3.wsc"});
}

TEST(ReplacementFile, AFolderThatCannotBeWrittenDeniesAccess)
{
    TempFolder dir;
    WriteText(dir / "UOX3.wsc", "old");
    test::GiveToUnprivilegedUser(dir / "UOX3.wsc");
    ::chmod(dir.path().c_str(), 0555);
    const std::string text = test::ErrorTextInChild({.Unprivileged = true}, [&] { ReplacementFile(dir / "UOX3.wsc"); });
    ::chmod(dir.path().c_str(), 0755);
    EXPECT_EQ(text, "File access denied");
    EXPECT_EQ(ReadText(dir / "UOX3.wsc"), "old");
}

#endif

} // namespace
} // namespace cryo
