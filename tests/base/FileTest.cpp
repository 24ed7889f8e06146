// The file layer as both systems must show it: errors that name the file,
// replacements that change nothing until they are put in place, leftovers.
#include "File.h"
#include "Error.h"
#include "FaultInjection.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace cryo {
namespace {

using test::ErrorLineOf;
using test::ReadText;
using test::TempFolder;
using test::WriteText;
using Names = std::vector<std::string>;

void Replace(const std::string& path, const std::string& text)
{
    ReplacementFile file(path);
    file.Write(text.data(), text.size());
    file.Commit();
}

TEST(Error, LinesAndDetailsNameTheFileAndPlace)
{
    FileError error(FileError::Kind::Other, 5);
    EXPECT_EQ(ErrorLine(error), "I/O error 5.");
    EXPECT_EQ(ErrorDetail(error), "");
    error.SetFile("a/UOX3.wsc");
    error.SetFile("ignored");
    EXPECT_EQ(ErrorLine(error), "a/UOX3.wsc: I/O error 5.");
    error.SetPlace("SECTION WORLDITEM 7");
    EXPECT_EQ(ErrorLine(error), "a/UOX3.wsc: SECTION WORLDITEM 7: I/O error 5.");
    EXPECT_EQ(ErrorDetail(error), "a/UOX3.wsc\nSECTION WORLDITEM 7");
    EXPECT_EQ(ErrorLine(std::runtime_error("x")), "x.");
}

TEST(File, FailuresNameTheFileTheCallerGave)
{
    TempFolder dir;
    std::filesystem::create_directory(dir / "sub");
    using namespace std::string_literals;
    const std::string missing = dir / "missing.mul";
    const std::string noFolder = dir / "no-folder/StaIdx0.mul";
    const std::string badName = dir / "a\0b"s;
    const std::string folder = dir / "sub";
    struct Case {
        std::string Path;
        std::function<void()> Step;
        const char* Text;
    };
    const Case cases[] = {
        {missing, [&] { File::OpenExisting(missing); }, "File not found"},
        {missing, [&] { File::OpenForReading(missing); }, "File not found"},
        {noFolder, [&] { File::OpenExisting(noFolder); }, "File not found"},
        {noFolder, [&] { ReplacementFile{noFolder}; }, "File not found"},
        {badName, [&] { File::OpenExisting(badName); }, "Invalid filename"},
        {badName, [&] { ReplacementFile{badName}; }, "Invalid filename"},
        {folder, [&] { File::OpenExisting(folder); }, "File access denied"},
        {folder, [&] { File::OpenForReading(folder); }, "File access denied"},
        {folder, [&] { ReplacementFile{folder}; }, "File access denied"},
#ifndef _WIN32
        {dir / std::string(300, 'n'), [&] { File::OpenExisting(dir / std::string(300, 'n')); }, "Invalid filename"},
#endif
    };
    for (const Case& c : cases)
        EXPECT_EQ(ErrorLineOf(c.Step), c.Path + ": " + c.Text + ".");
    EXPECT_FALSE(FileExists(missing));
    EXPECT_FALSE(FileExists(folder));
    EXPECT_FALSE(FileExists(""));
    EXPECT_EQ(dir.Entries(), Names{"sub"});
}

TEST(File, ReadsStopAtTheEndAndACutRecordNamesTheFile)
{
    TempFolder dir;
    WriteText(dir / "f", "12345");
    File file = File::OpenExisting(dir / "f");
    EXPECT_EQ(file.Size(), 5u);
    char buffer[8];
    file.Seek(2);
    EXPECT_EQ(file.ReadSome(buffer, sizeof buffer), 3u);
    file.Seek(100);
    EXPECT_EQ(file.ReadSome(buffer, sizeof buffer), 0u);
    EXPECT_EQ(ErrorLine(file.ReadBeyondEnd()), dir / "f" + ": Read beyond end of file.");
}

TEST(ReplacementFile, ChangesNothingUntilCommitAndLeavesNoTemporaryFile)
{
    TempFolder dir;
    WriteText(dir / "UOX3.wsc", "old");
    {
        ReplacementFile file(dir / "UOX3.wsc");
        file.Write("new text", 8);
#ifdef __linux__
        // Where the file system has unnamed files, the new content has no name
        // until it is flushed: a process killed meanwhile leaves nothing.
        if (const int probe = ::open(dir.path().c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600); probe >= 0) {
            ::close(probe);
            EXPECT_EQ(dir.Entries(), Names{"UOX3.wsc"});
        }
#endif
        // Flushed under a name of its own beside the target, which is untouched.
        file.Flush();
        EXPECT_EQ(ReadText(dir / "UOX3.wsc"), "old");
        const Names entries = dir.Entries();
        ASSERT_EQ(entries.size(), 2u);
        EXPECT_EQ(entries[0].rfind(".UOX3.wsc.cryoweaver-", 0), 0u);
        EXPECT_FALSE(file.Committed());
    }
    EXPECT_EQ(ReadText(dir / "UOX3.wsc"), "old");
    EXPECT_EQ(dir.Entries(), Names{"UOX3.wsc"});

    Replace(dir / "UOX3.wsc", "new text");
    Replace(dir / "StaIdx0.mul", "created");
    EXPECT_EQ(ReadText(dir / "UOX3.wsc"), "new text");
    EXPECT_EQ(ReadText(dir / "StaIdx0.mul"), "created");
    EXPECT_EQ(dir.Entries(), (Names{"StaIdx0.mul", "UOX3.wsc"}));
}

// Makes the n-th file operation fail, counting from 1.
class FailAt final : public fault::Injector {
public:
    explicit FailAt(int n)
        : n_(n)
    {
    }
    void Before(fault::Operation, const std::string&) override
    {
        if (++seen_ == n_)
            throw FileError(FileError::Kind::Other, 5);
    }

private:
    int n_;
    int seen_ = 0;
};

TEST(ReplacementFile, AFailureAtAnyStepKeepsTheOldFileUnlessTheNewOneIsInPlace)
{
    TempFolder dir;
    const std::string path = dir / "UOX3.wsc";
    int steps = 0;
    for (int n = 1;; ++n) {
        WriteText(path, "old");
        FailAt failAt(n);
        fault::Install(&failAt);
        bool committed = false;
        const std::string line = ErrorLineOf([&] {
            ReplacementFile file(path);
            file.Write("new", 3);
            try {
                file.Commit();
            } catch (const Error&) {
                committed = file.Committed();
                throw;
            }
        });
        fault::Install(nullptr);
        if (line.empty())
            break;
        ++steps;
        EXPECT_EQ(line, path + ": I/O error 5.") << "step " << n;
        // Only the folder's flush comes after the rename.
        EXPECT_EQ(ReadText(path), committed ? "new" : "old") << "step " << n;
        EXPECT_EQ(dir.Entries(), Names{"UOX3.wsc"}) << "step " << n;
    }
    EXPECT_GE(steps, 6); // open, create, write, flush, close, rename at least
    EXPECT_EQ(ReadText(path), "new");
}

TEST(ReplacementFile, RemovesOnlyLeftoversOfStoppedRunsAndOnlyWhileTheTargetExists)
{
    TempFolder dir;
    // Without the target, a leftover may hold the only copy of its content.
    WriteText(dir / ".UOX3.wsc.cryoweaver-42.tmp", "the only copy");
    Replace(dir / "UOX3.wsc", "first");
    EXPECT_EQ(dir.Entries(), (Names{".UOX3.wsc.cryoweaver-42.tmp", "UOX3.wsc"}));

    const Names kept{".StaIdx0.mul.cryoweaver-1.tmp", ".UOX3.wsc.cryoweaver-.tmp", ".UOX3.wsc.cryoweaver-12a.tmp",
        ".UOX3.wsc.cryoweaver-5.tmp.bak", ".UOX3.wsc.cryoweaver-8.tmp", "UOX3.wsc.cryoweaver-1.tmp"};
    for (const std::string& name : kept)
        WriteText(dir / name, "not a leftover, or still being written");
    WriteText(dir / ".UOX3.wsc.cryoweaver-34.bak", "left by a stopped run");
    // A replacement still being written holds its file.
#ifdef _WIN32
    const HANDLE busy = ::CreateFileW(std::filesystem::path(dir / ".UOX3.wsc.cryoweaver-8.tmp").c_str(), GENERIC_READ,
        FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(busy, INVALID_HANDLE_VALUE);
#else
    const int busy = ::open((dir / ".UOX3.wsc.cryoweaver-8.tmp").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_EQ(::flock(busy, LOCK_EX), 0);
    std::filesystem::create_symlink("UOX3.wsc", dir / ".UOX3.wsc.cryoweaver-7.tmp");
#endif
    Replace(dir / "UOX3.wsc", "second");
#ifdef _WIN32
    ::CloseHandle(busy);
#else
    ::close(busy);
    EXPECT_TRUE(std::filesystem::is_symlink(dir / ".UOX3.wsc.cryoweaver-7.tmp"));
    std::filesystem::remove(dir / ".UOX3.wsc.cryoweaver-7.tmp");
#endif
    Names expected = kept;
    expected.insert(expected.begin() + 5, "UOX3.wsc");
    EXPECT_EQ(dir.Entries(), expected);
    EXPECT_EQ(ReadText(dir / "UOX3.wsc"), "second");
}

#ifndef _WIN32

TEST(ReplacementFile, AFullDiskKeepsTheOldFileAndLeavesNothing)
{
    TempFolder dir;
    WriteText(dir / "UOX3.wsc", "old");
    const std::string full = test::ErrorTextInChild({.FileSizeLimit = 1000}, [&] {
        const std::string text(5000, 'x');
        Replace(dir / "UOX3.wsc", text);
    });
    EXPECT_EQ(full, "Disk full");
    EXPECT_EQ(ReadText(dir / "UOX3.wsc"), "old");
    EXPECT_EQ(dir.Entries(), Names{"UOX3.wsc"});
}

#endif

} // namespace
} // namespace cryo
