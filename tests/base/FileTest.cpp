// The file layer as both systems must show it: errors that name the file,
// replacements that change nothing until they are put in place, leftovers.
#include "File.h"
#include "Commit.h"
#include "Error.h"
#include "FaultInjection.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
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
#include <sys/stat.h>
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
        {folder, [&] { File::OpenExisting(folder); }, "This is a folder, not a file"},
        {folder, [&] { File::OpenForReading(folder); }, "This is a folder, not a file"},
        {folder, [&] { ReplacementFile{folder}; }, "This is a folder, not a file"},
#ifdef _WIN32
        {"NUL", [&] { File::OpenExisting("NUL"); }, "This is a device or a pipe, not a file"},
#else
        {dir / std::string(300, 'n'), [&] { File::OpenExisting(dir / std::string(300, 'n')); }, "Invalid filename"},
        // Refused at once: a pipe without a writer is never waited for.
        {dir / "pipe", [&] { File::OpenForReading(dir / "pipe"); }, "This is a device or a pipe, not a file"},
        {dir / "pipe", [&] { ReplacementFile{dir / "pipe"}; }, "This is a device or a pipe, not a file"},
        {"/dev/null", [&] { File::OpenExisting("/dev/null"); }, "This is a device or a pipe, not a file"},
#endif
    };
#ifndef _WIN32
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0666), 0);
#endif
    for (const Case& c : cases)
        EXPECT_EQ(ErrorLineOf(c.Step), c.Path + ": " + c.Text + ".");
    EXPECT_FALSE(FileExists(missing));
    EXPECT_FALSE(FileExists(folder));
    EXPECT_FALSE(FileExists(""));
#ifndef _WIN32
    std::filesystem::remove(dir / "pipe");
#endif
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
        EXPECT_EQ(entries[0].rfind(".cryoweaver-", 0), 0u);
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
    int Seen() const { return seen_; }

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
    // Every name a replacement of UOX3.wsc takes shares a short prefix.
    std::string prefix;
    {
        ReplacementFile file(dir / "UOX3.wsc");
        file.Flush();
        prefix = dir.Entries().at(0).substr(0, 21);
    }
    // Without the target, a leftover may hold the only copy of its content.
    WriteText(dir / (prefix + "0000002a.tmp"), "the only copy");
    Replace(dir / "UOX3.wsc", "first");
    EXPECT_EQ(dir.Entries(), (Names{prefix + "0000002a.tmp", "UOX3.wsc"}));

    Names kept{prefix + "0000001.tmp", prefix + "0000000g.tmp", prefix + "00000005.tmp.bak", prefix + "00000008.tmp",
        ".cryoweaver-" + std::string(prefix == ".cryoweaver-00000000-" ? "11111111" : "00000000") + "-00000001.tmp",
        "UOX3.wsc.cryoweaver-1.tmp"};
    for (const std::string& name : kept)
        WriteText(dir / name, "not a leftover of UOX3.wsc, or still being written");
    WriteText(dir / (prefix + "00000034.bak"), "left by a stopped run");
    // A replacement still being written holds its file.
#ifdef _WIN32
    const HANDLE busy = ::CreateFileW(std::filesystem::path(dir / (prefix + "00000008.tmp")).c_str(), GENERIC_READ,
        FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(busy, INVALID_HANDLE_VALUE);
#else
    const int busy = ::open((dir / (prefix + "00000008.tmp")).c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_EQ(::flock(busy, LOCK_EX), 0);
    std::filesystem::create_symlink("UOX3.wsc", dir / (prefix + "00000007.tmp"));
#endif
    Replace(dir / "UOX3.wsc", "second");
#ifdef _WIN32
    ::CloseHandle(busy);
#else
    ::close(busy);
    EXPECT_TRUE(std::filesystem::is_symlink(dir / (prefix + "00000007.tmp")));
    std::filesystem::remove(dir / (prefix + "00000007.tmp"));
#endif
    kept.push_back("UOX3.wsc");
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(dir.Entries(), kept);
    EXPECT_EQ(ReadText(dir / "UOX3.wsc"), "second");
}

// A commit of a file in the folder, one in a folder below and a new one there.
struct ThreeFiles {
    explicit ThreeFiles(const TempFolder& dir)
        : Paths{dir / "StaIdx0.mul", dir / "sub/UOX3.wsc", dir / "sub/new.wsc"}
    {
        std::filesystem::create_directories(dir / "sub");
        WriteText(Paths[0], "old 0");
        WriteText(Paths[1], "old 1");
        std::filesystem::remove(Paths[2]);
    }

    void Commit(const std::optional<FileIdentity>& read1 = std::nullopt, const std::function<void()>& meanwhile = {})
    {
        cryo::Commit commit;
        for (std::size_t i = 0; i < Paths.size(); ++i) {
            const std::string text = "new " + std::to_string(i);
            commit.Replace(Paths[i], i == 1 ? read1 : std::nullopt).Write(text.data(), text.size());
        }
        if (meanwhile)
            meanwhile();
        commit.Run();
    }

    // "old", "new", or what is mixed.
    std::string State() const
    {
        const std::string first = ReadText(Paths[0]).substr(0, 3);
        const bool same
            = ReadText(Paths[1]).starts_with(first) && std::filesystem::exists(Paths[2]) == (first == "new");
        return same ? first : "mixed";
    }

    std::vector<std::string> Paths;
};

TEST(Commit, AFailureAtAnyStepLeavesEveryFileOldOrEveryFileNewAndTheNextRunNothingElse)
{
    TempFolder dir;
    int total = 0;
    {
        ThreeFiles files(dir);
        FailAt counter(0);
        fault::Install(&counter);
        files.Commit();
        fault::Install(nullptr);
        total = counter.Seen();
    }
    NullReporter reporter;
    for (int n = 1; n <= total; ++n) {
        ThreeFiles files(dir);
        FailAt failAt(n);
        fault::Install(&failAt);
        const std::string line = ErrorLineOf([&] { files.Commit(); });
        fault::Install(nullptr);
        const std::string where = "step " + std::to_string(n);
        // Only steps after the new files are in place may fail unseen.
        EXPECT_EQ(files.State(), line.empty() ? "new" : "old") << where << ": " << line;
        EXPECT_TRUE(line.empty() || line.ends_with(": I/O error 5.")) << where << ": " << line;
        // What such a step leaves goes with the next run.
        FileLocks locks(files.Paths, reporter);
        RecoverInterruptedCommits(locks, reporter);
        Replace(files.Paths[0], "next");
        Replace(files.Paths[1], "next");
        EXPECT_EQ(dir.Entries(), (Names{"StaIdx0.mul", "sub"})) << where;
        const Names sub = line.empty() ? Names{"UOX3.wsc", "new.wsc"} : Names{"UOX3.wsc"};
        EXPECT_EQ(TempFolder::EntriesOf(dir / "sub"), sub) << where;
    }
    EXPECT_GE(total, 20);
}

TEST(Commit, AFileChangedSinceItWasReadStopsItWithNothingChanged)
{
    TempFolder dir;
    const std::vector<std::pair<const char*, std::function<void(const std::string&)>>> changes = {
        {"grown", [](const std::string& path) { WriteText(path, "old 1 and more"); }},
        {"rewritten",
            [](const std::string& path) {
                WriteText(path, "OLD 1");
                std::filesystem::last_write_time(path, std::filesystem::last_write_time(path) - std::chrono::hours(1));
            }},
        {"replaced",
            [&](const std::string& path) {
                WriteText(dir / "other", "old 1");
                std::filesystem::rename(dir / "other", path);
            }},
        {"removed", [](const std::string& path) { std::filesystem::remove(path); }},
    };
    for (const auto& [name, change] : changes) {
        ThreeFiles files(dir);
        const FileIdentity read = IdentityOf(files.Paths[1]);
        const std::string line
            = ErrorLineOf([&, &change = change] { files.Commit(read, [&] { change(files.Paths[1]); }); });
        EXPECT_EQ(
            line, files.Paths[1] + ": Another program changed the file while Cryoweaver worked; no file was changed.")
            << name;
        EXPECT_EQ(ReadText(files.Paths[0]), "old 0") << name;
        EXPECT_FALSE(std::filesystem::exists(files.Paths[2])) << name;
        EXPECT_EQ(dir.Entries(), (Names{"StaIdx0.mul", "sub"})) << name;
    }
}

TEST(FileLocks, ASecondRunWaitsThenStopsNamingTheBusyFileAndReplacementsKeepTheLock)
{
    using namespace std::chrono_literals;
    TempFolder dir;
    WriteText(dir / "StaIdx0.mul", "index");
    std::filesystem::create_directory(dir / "region");
    test::RecordingReporter first;
    test::RecordingReporter second;
    // The same file under two spellings is locked once.
    auto held = std::make_unique<FileLocks>(
        std::vector<std::string>{dir / "StaIdx0.mul", dir.path() + "/./StaIdx0.mul", dir / "region"}, first);
    EXPECT_TRUE(std::filesystem::exists(dir / ".StaIdx0.mul.cryoweaver-lock"));
    EXPECT_TRUE(std::filesystem::exists(dir / "region/.cryoweaver-lock"));
    Replace(dir / "StaIdx0.mul", "new index");
    for (const std::string& path : {dir / "StaIdx0.mul", dir / "region"}) {
        EXPECT_EQ(ErrorLineOf([&] {
            FileLocks({dir / "other", path}, second, true, 100ms);
        }),
            path + ": Another run of Cryoweaver is working on this file; try again once it has finished.");
    }
    EXPECT_EQ(
        second.Lines.at(0), "Waiting for another run of Cryoweaver to finish with " + dir / "StaIdx0.mul" + "...");
    EXPECT_TRUE(first.Lines.empty());
    held.reset();
    EXPECT_EQ(ErrorLineOf([&] { FileLocks({dir / "StaIdx0.mul", dir / "region"}, second, true, 100ms); }), "");
#ifndef _WIN32
    // Nothing is made beside a device.
    EXPECT_EQ(
        ErrorLineOf([&] { FileLocks({"/dev/null"}, second); }), "/dev/null: This is a device or a pipe, not a file.");
    // A name too long to take the lock file's ending gets a short lock file.
    const std::string longName(250, 'n');
    WriteText(dir / longName, "");
    FileLocks({dir / longName}, second);
    EXPECT_EQ(std::count_if(std::filesystem::directory_iterator(dir.path()), {},
                  [](const auto& entry) { return entry.path().filename().string().size() == 25; }),
        1);
#endif
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
