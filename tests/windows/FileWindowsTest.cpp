// What only Windows can show of the file layer: sharing modes, file attributes,
// UTF-16 names and ReplaceFileW.
#include "Error.h"
#include "FaultInjection.h"
#include "File.h"
#include "StaIdx.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>
#include <vector>

namespace cryo::test {
namespace {

std::wstring Wide(const std::string& utf8)
{
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), length);
    return wide;
}

DWORD Attributes(const std::string& path)
{
    return ::GetFileAttributesW(Wide(path).c_str());
}

// Another opener of the file, as an editor or a running server would be.
class HeldOpen {
public:
    HeldOpen(const std::string& path, DWORD access, DWORD share)
        : handle_(
            ::CreateFileW(Wide(path).c_str(), access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr))
    {
        EXPECT_NE(handle_, INVALID_HANDLE_VALUE) << "cannot hold " << path << ": " << ::GetLastError();
    }
    ~HeldOpen() { Release(); }
    HeldOpen(const HeldOpen&) = delete;
    HeldOpen& operator=(const HeldOpen&) = delete;

    void Release()
    {
        if (handle_ != INVALID_HANDLE_VALUE)
            ::CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE handle_;
};

// Read-only files would outlive the temporary folder: Windows deletes none.
class ReadOnlyFile {
public:
    explicit ReadOnlyFile(std::string path)
        : path_(std::move(path))
    {
        EXPECT_TRUE(::SetFileAttributesW(Wide(path_).c_str(), FILE_ATTRIBUTE_READONLY));
    }
    ~ReadOnlyFile() { ::SetFileAttributesW(Wide(path_).c_str(), FILE_ATTRIBUTE_NORMAL); }
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

private:
    std::string path_;
};

const Bytes OldContent{'o', 'l', 'd', '\r', '\n', 0, 255};
const Bytes NewContent{'n', 'e', 'w', ' ', 'c', 'o', 'n', 't', 'e', 'n', 't'};

void Replace(const std::string& path, const Bytes& content)
{
    ReplacementFile file(path);
    file.Write(content.data(), content.size());
    file.Commit();
}

// Fails the first operation of the given kind with the given text's error.
class FailAt final : public fault::Injector {
public:
    FailAt(fault::Operation op, FileError::Kind kind, int code)
        : op_(op)
        , kind_(kind)
        , code_(code)
    {
        fault::Install(this);
    }
    ~FailAt() override { fault::Install(nullptr); }
    FailAt(const FailAt&) = delete;
    FailAt& operator=(const FailAt&) = delete;

    void Before(fault::Operation op, const std::string&) override
    {
        if (op == op_)
            throw FileError(kind_, code_);
    }

private:
    fault::Operation op_;
    FileError::Kind kind_;
    int code_;
};

TEST(WindowsFileTest, FileHeldWithoutSharingIsAccessDenied)
{
    TempFolder folder;
    const std::string path = folder / "StaIdx0.mul";
    WriteBytes(path, OldContent);
    HeldOpen other(path, GENERIC_READ, 0);

    EXPECT_EQ(ErrorText([&] { File::OpenExisting(path); }), "File access denied");
    EXPECT_EQ(ErrorText([&] { File::OpenForReading(path); }), "File access denied");
    StaIdx table;
    NullReporter reporter;
    EXPECT_EQ(ErrorText([&] { LoadStaIdx(path, table, reporter); }), "File access denied");
    EXPECT_FALSE(table.StaIdxLoaded);
    EXPECT_EQ(ErrorText([&] { Replace(path, NewContent); }), "File access denied");
    other.Release();

    EXPECT_EQ(ReadBytes(path), OldContent);
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"StaIdx0.mul"});
}

TEST(WindowsFileTest, FileSharedForReadingAndWritingStaysUsable)
{
    TempFolder folder;
    const std::string path = folder / "Statics0.mul";
    WriteBytes(path, OldContent);
    // Another process may read and write the file meanwhile.
    HeldOpen other(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);

    File file = File::OpenExisting(path);
    Bytes read(OldContent.size());
    file.ReadExact(read.data(), read.size());
    EXPECT_EQ(read, OldContent);
    file.Write("+", 1);
    file.Close();
    File::OpenForReading(path).Close();
}

TEST(WindowsFileTest, FileSharedOnlyForReadingCannotBeOpenedForWriting)
{
    TempFolder folder;
    const std::string path = folder / "Statics0.mul";
    WriteBytes(path, OldContent);
    HeldOpen other(path, GENERIC_READ, FILE_SHARE_READ);

    EXPECT_EQ(ErrorText([&] { File::OpenExisting(path); }), "File access denied");
    File::OpenForReading(path).Close();
}

TEST(WindowsFileTest, MissingFolderIsFileNotFound)
{
    TempFolder folder;
    const std::string path = folder / "missing/StaIdx0.mul";

    EXPECT_EQ(ErrorText([&] { File::OpenExisting(path); }), "File not found");
    EXPECT_EQ(ErrorText([&] { File::OpenForReading(path); }), "File not found");
    EXPECT_EQ(ErrorText([&] { File::OpenExisting(folder / "missing.mul"); }), "File not found");
    EXPECT_EQ(ErrorText([&] { Replace(path, NewContent); }), "File not found");
    EXPECT_EQ(ErrorText([&] { MakeFolder(folder / "missing/sub"); }), "File not found");
    EXPECT_TRUE(folder.Entries().empty());
}

TEST(WindowsFileTest, BadNamesAreInvalidFilename)
{
    TempFolder folder;
    EXPECT_EQ(ErrorText([&] { File::OpenExisting(folder / "a<b>.mul"); }), "Invalid filename");
    EXPECT_EQ(ErrorText([&] { File::OpenExisting(folder / "bad\xff\xfe.mul"); }), "Invalid filename");
    EXPECT_EQ(ErrorText([&] { File::OpenExisting(folder / std::string("a\0b", 3)); }), "Invalid filename");
    EXPECT_EQ(ErrorText([&] { ReplacementFile file(folder / "bad\xc3.mul"); }), "Invalid filename");
    EXPECT_FALSE(PathExists(folder / "bad\xff.mul"));
    EXPECT_TRUE(folder.Entries().empty());
}

TEST(WindowsFileTest, ReadOnlyFileIsAccessDeniedAndUnchanged)
{
    TempFolder folder;
    const std::string path = folder / "StaIdx0.mul";
    WriteBytes(path, OldContent);
    ReadOnlyFile readOnly(path);

    EXPECT_EQ(ErrorText([&] { File::OpenExisting(path); }), "File access denied");
    StaIdx table;
    NullReporter reporter;
    EXPECT_EQ(ErrorText([&] { LoadStaIdx(path, table, reporter); }), "File access denied");
    EXPECT_EQ(ErrorText([&] { SaveStaIdx(path, table, reporter); }), "File access denied");
    EXPECT_EQ(ErrorText([&] { Replace(path, NewContent); }), "File access denied");
    // Text files are only read, so a read-only one is fine.
    File::OpenForReading(path).Close();

    EXPECT_EQ(ReadBytes(path), OldContent);
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"StaIdx0.mul"});
}

TEST(WindowsFileTest, FolderIsNoFile)
{
    TempFolder folder;
    MakeFolder(folder / "sub");
    MakeFolder(folder / "sub");
    EXPECT_TRUE(PathExists(folder / "sub"));
    EXPECT_FALSE(FileExists(folder / "sub"));
    EXPECT_EQ(ErrorText([&] { File::OpenExisting(folder / "sub"); }), "File access denied");
    EXPECT_EQ(ErrorText([&] { File::OpenForReading(folder / "sub"); }), "File access denied");
    EXPECT_EQ(ErrorText([&] { Replace(folder / "sub", NewContent); }), "File access denied");

    WriteBytes(folder / "plain", OldContent);
    EXPECT_EQ(ErrorText([&] { MakeFolder(folder / "plain"); }), "File not found");
    EXPECT_EQ(folder.Entries(), (std::vector<std::string>{"plain", "sub"}));
}

TEST(WindowsFileTest, NamesAreUnicode)
{
    TempFolder folder;
    const std::string name = "Kr\xc3\xa4hen-\xe5\x9c\xb0\xe5\x9b\xb3-\xf0\x9f\x90\x89.wsc"; // Krähen-地図-🐉
    const std::string path = folder / name;
    Replace(path, NewContent);

    EXPECT_NE(::GetFileAttributesW((Wide(folder.path()) + L"/Kr\u00e4hen-\u5730\u56f3-\U0001F409.wsc").c_str()),
        INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(FileExists(path));
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{name});
    File file = File::OpenForReading(path);
    Bytes read(NewContent.size());
    file.ReadExact(read.data(), read.size());
    EXPECT_EQ(read, NewContent);
}

TEST(WindowsFileTest, BackslashPathsWork)
{
    TempFolder folder;
    std::string path = folder / "StaIdx0.mul";
    for (char& c : path)
        if (c == '/')
            c = '\\';
    Replace(path, OldContent);
    Replace(path, NewContent);
    EXPECT_EQ(ReadBytes(folder / "StaIdx0.mul"), NewContent);
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"StaIdx0.mul"});
}

TEST(WindowsFileTest, SizesAndPositionsPassFourGigabytes)
{
    TempFolder folder;
    const std::string path = folder / "Statics0.mul";
    WriteBytes(path, OldContent);
    constexpr std::uint64_t big = (std::uint64_t{5} << 30) + 7;

    File file = File::OpenExisting(path);
    file.Seek(2);
    file.Truncate(big);
    EXPECT_EQ(file.Size(), big);
    // Truncating keeps the position.
    unsigned char byte = 0;
    file.ReadExact(&byte, 1);
    EXPECT_EQ(byte, 'd');

    file.Seek(static_cast<std::int64_t>(big - 1));
    byte = 1;
    file.ReadExact(&byte, 1);
    EXPECT_EQ(byte, 0);
    EXPECT_EQ(ErrorText([&] { file.ReadExact(&byte, 1); }), "Read beyond end of file");
    file.Seek(static_cast<std::int64_t>(big + 100));
    EXPECT_EQ(file.ReadSome(&byte, 1), 0u);

    file.Truncate(OldContent.size());
    EXPECT_EQ(file.Size(), OldContent.size());
    file.Close();
    EXPECT_EQ(ReadBytes(path), OldContent);
}

TEST(WindowsFileTest, ReplacementLeavesOnlyTheNewFile)
{
    TempFolder folder;
    const std::string path = folder / "UOX3.wsc";
    Replace(path, OldContent);
    EXPECT_EQ(ReadBytes(path), OldContent);
    Replace(path, NewContent);
    EXPECT_EQ(ReadBytes(path), NewContent);
    Replace(path, {});
    EXPECT_TRUE(ReadBytes(path).empty());
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"UOX3.wsc"});
}

TEST(WindowsFileTest, ReplacementKeepsHiddenMark)
{
    TempFolder folder;
    const std::string path = folder / "UOX3.wsc";
    WriteBytes(path, OldContent);
    ASSERT_TRUE(::SetFileAttributesW(Wide(path).c_str(), FILE_ATTRIBUTE_HIDDEN));

    Replace(path, NewContent);
    EXPECT_EQ(ReadBytes(path), NewContent);
    const DWORD attributes = Attributes(path);
    EXPECT_NE(attributes & FILE_ATTRIBUTE_HIDDEN, 0u);
    EXPECT_EQ(attributes & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"UOX3.wsc"});
}

TEST(WindowsFileTest, UncommittedReplacementKeepsOldFile)
{
    TempFolder folder;
    const std::string path = folder / "UOX3.wsc";
    WriteBytes(path, OldContent);
    {
        ReplacementFile file(path);
        file.Write(NewContent.data(), NewContent.size());
        EXPECT_EQ(folder.Entries().size(), 2u);
        EXPECT_FALSE(file.Committed());
    }
    EXPECT_EQ(ReadBytes(path), OldContent);
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"UOX3.wsc"});
}

TEST(WindowsFileTest, FailedReplaceOrFlushKeepsOldFile)
{
    struct Case {
        fault::Operation Operation;
        FileError::Kind Kind;
        int Code;
        const char* Text;
    };
    const Case cases[] = {
        {fault::Operation::Rename, FileError::Kind::DiskFull, ERROR_DISK_FULL, "Disk full"},
        {fault::Operation::Sync, FileError::Kind::Other, ERROR_CRC, "I/O error 23"},
    };
    for (const Case& c : cases) {
        TempFolder folder;
        const std::string path = folder / "UOX3.wsc";
        WriteBytes(path, OldContent);
        {
            FailAt failure(c.Operation, c.Kind, c.Code);
            EXPECT_EQ(ErrorText([&] { Replace(path, NewContent); }), c.Text);
        }
        EXPECT_EQ(ReadBytes(path), OldContent) << c.Text;
        EXPECT_EQ(folder.Entries(), std::vector<std::string>{"UOX3.wsc"}) << c.Text;
    }
}

TEST(WindowsFileTest, TargetLockedAtCommitKeepsOldFile)
{
    TempFolder folder;
    const std::string path = folder / "UOX3.wsc";
    WriteBytes(path, OldContent);
    ReplacementFile file(path);
    file.Write(NewContent.data(), NewContent.size());
    {
        // Opened after the probe and never let go: the retries end in failure.
        HeldOpen other(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
        EXPECT_EQ(ErrorText([&] { file.Commit(); }), "File access denied");
        EXPECT_FALSE(file.Committed());
    }
    EXPECT_EQ(ReadBytes(path), OldContent);
    const std::vector<std::string> entries = folder.Entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1], "UOX3.wsc");
    EXPECT_EQ(entries[0].substr(entries[0].size() - 4), ".tmp");
}

TEST(WindowsFileTest, TargetLockedAtCommitLeavesNoTempBehind)
{
    TempFolder folder;
    const std::string path = folder / "UOX3.wsc";
    WriteBytes(path, OldContent);
    {
        ReplacementFile file(path);
        file.Write(NewContent.data(), NewContent.size());
        HeldOpen other(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
        EXPECT_EQ(ErrorText([&] { file.Commit(); }), "File access denied");
    }
    EXPECT_EQ(ReadBytes(path), OldContent);
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"UOX3.wsc"});
}

TEST(WindowsFileTest, BriefLockAtCommitIsWaitedFor)
{
    TempFolder folder;
    const std::string path = folder / "UOX3.wsc";
    WriteBytes(path, OldContent);
    ReplacementFile file(path);
    file.Write(NewContent.data(), NewContent.size());

    // A scanner that looks at the file for a moment and lets go.
    HANDLE scanner = ::CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(scanner, INVALID_HANDLE_VALUE);
    HANDLE timer = nullptr;
    ASSERT_TRUE(::CreateTimerQueueTimer(
        &timer, nullptr, [](void* handle, BOOLEAN) { ::CloseHandle(static_cast<HANDLE>(handle)); }, scanner, 300, 0,
        WT_EXECUTEONLYONCE));

    file.Commit();
    ::DeleteTimerQueueTimer(nullptr, timer, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(file.Committed());
    EXPECT_EQ(ReadBytes(path), NewContent);
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"UOX3.wsc"});
}

TEST(WindowsFileTest, TextFileBeingReadCanBeReplaced)
{
    TempFolder folder;
    const std::string path = folder / "UOX3.wsc";
    WriteBytes(path, OldContent);
    {
        File reader = File::OpenForReading(path);
        Bytes read(3);
        reader.ReadExact(read.data(), read.size());
        Replace(path, NewContent);
        EXPECT_EQ(ReadBytes(path), NewContent);
        // The reader goes on with the old content.
        reader.ReadExact(read.data(), read.size());
        EXPECT_EQ(read, (Bytes{'\r', '\n', 0}));
    }
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"UOX3.wsc"});
}

TEST(WindowsFileTest, ReplacementCreatesMissingTarget)
{
    TempFolder folder;
    const std::string path = folder / "StaIdx0.mul";
    Replace(path, NewContent);
    EXPECT_EQ(ReadBytes(path), NewContent);
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"StaIdx0.mul"});
}

TEST(WindowsFileTest, TemporaryFileIsBesideTheTarget)
{
    TempFolder folder;
    MakeFolder(folder / "world");
    const std::string path = folder / "world/UOX3.wsc";
    WriteBytes(path, OldContent);
    ReplacementFile file(path);
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"world"});
    EXPECT_TRUE(FileExists(path));
    std::vector<std::string> names;
    WIN32_FIND_DATAW found;
    const HANDLE search = ::FindFirstFileW(Wide(folder / "world/*").c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    int files = 0;
    do
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            ++files;
    while (::FindNextFileW(search, &found));
    ::FindClose(search);
    EXPECT_EQ(files, 2);
}

TEST(WindowsFileTest, LeftoversOfAStoppedRunGoAtTheNextReplacement)
{
    TempFolder folder;
    const std::string path = folder / "UOX3.wsc";
    WriteBytes(path, OldContent);
    WriteBytes(folder / ".UOX3.wsc.cryoweaver-12.tmp", OldContent);
    WriteBytes(folder / ".UOX3.wsc.cryoweaver-34.bak", OldContent);
    WriteBytes(folder / ".UOX3.wsc.cryoweaver-5x.tmp", OldContent);
    WriteBytes(folder / ".StaIdx0.mul.cryoweaver-6.tmp", OldContent);
    // Open without delete sharing, as a replacement being written is.
    WriteBytes(folder / ".UOX3.wsc.cryoweaver-78.tmp", OldContent);
    HeldOpen busy(folder / ".UOX3.wsc.cryoweaver-78.tmp", GENERIC_READ, FILE_SHARE_READ);
    Replace(path, NewContent);
    busy.Release();
    EXPECT_EQ(ReadBytes(path), NewContent);
    EXPECT_EQ(folder.Entries(),
        (std::vector<std::string>{".StaIdx0.mul.cryoweaver-6.tmp", ".UOX3.wsc.cryoweaver-5x.tmp",
            ".UOX3.wsc.cryoweaver-78.tmp", "UOX3.wsc"}));
}

TEST(WindowsFileTest, FreeSpaceIsCheckedOnTheFilesDisk)
{
    TempFolder folder;
    const std::string path = folder / "UOX3.wsc";
    EXPECT_EQ(ErrorText([&] { CheckFreeSpace({{path, std::uint64_t{1} << 62}}); }), "Disk full");
    EXPECT_EQ(ErrorText([&] { CheckFreeSpace({{path, 1}}); }), "");
    ULARGE_INTEGER available{};
    ASSERT_TRUE(::GetDiskFreeSpaceExW(Wide(folder.path()).c_str(), &available, nullptr, nullptr));
    const std::uint64_t most = available.QuadPart / 10 * 6;
    EXPECT_EQ(ErrorText([&] { CheckFreeSpace({{path, most}, {folder / "StaIdx0.mul", most}}); }), "Disk full");
}

} // namespace
} // namespace cryo::test
