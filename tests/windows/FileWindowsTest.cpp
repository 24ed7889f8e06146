// What only Windows can show of the file layer: sharing modes, file attributes,
// UTF-16 names, sizes past 4 GiB and ReplaceFileW.
#include "Error.h"
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

using Names = std::vector<std::string>;

std::wstring Wide(const std::string& utf8)
{
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), length);
    return wide;
}

// Another opener of the file, as an editor, a running server or a scanner would be.
HANDLE Hold(const std::string& path, DWORD access, DWORD share)
{
    const HANDLE handle
        = ::CreateFileW(Wide(path).c_str(), access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(handle, INVALID_HANDLE_VALUE) << "cannot hold " << path << ": " << ::GetLastError();
    return handle;
}

const std::string OldContent("old\r\n\0\xff", 7);
const std::string NewContent = "new content";

void Replace(const std::string& path, const std::string& content)
{
    ReplacementFile file(path);
    file.Write(content.data(), content.size());
    file.Commit();
}

TEST(WindowsFile, OtherOpenersAndTheReadOnlyMarkDecideWhatMayBeOpened)
{
    struct Case {
        DWORD Access;
        DWORD Share;
        bool ReadOnly;
        const char* Existing; // OpenExisting, and the replacement
        const char* Reading; // OpenForReading
    };
    const Case cases[] = {
        {GENERIC_READ, 0, false, "File access denied", "File access denied"},
        {GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, false, "", ""},
        {GENERIC_READ, FILE_SHARE_READ, false, "File access denied", ""},
        // Text files are only read, so a read-only one is fine.
        {0, 0, true, "File access denied", ""},
    };
    for (const Case& c : cases) {
        TempFolder folder;
        const std::string path = folder / "StaIdx0.mul";
        WriteText(path, OldContent);
        if (c.ReadOnly) {
            ASSERT_TRUE(::SetFileAttributesW(Wide(path).c_str(), FILE_ATTRIBUTE_READONLY));
        }
        const HANDLE other = c.ReadOnly ? INVALID_HANDLE_VALUE : Hold(path, c.Access, c.Share);
        const std::string where = "case " + std::to_string(&c - cases);
        EXPECT_EQ(ErrorText([&] { File::OpenExisting(path).Close(); }), c.Existing) << where;
        EXPECT_EQ(ErrorText([&] { File::OpenForReading(path).Close(); }), c.Reading) << where;
        if (*c.Existing != '\0') {
            EXPECT_EQ(ErrorText([&] { Replace(path, NewContent); }), c.Existing) << where;
            StaIdx table;
            NullReporter reporter;
            EXPECT_EQ(ErrorText([&] { LoadStaIdx(path, table, reporter); }), c.Existing) << where;
            EXPECT_FALSE(table.StaIdxLoaded);
        }
        if (other != INVALID_HANDLE_VALUE)
            ::CloseHandle(other);
        ::SetFileAttributesW(Wide(path).c_str(), FILE_ATTRIBUTE_NORMAL);
        EXPECT_EQ(ReadText(path), OldContent) << where;
        EXPECT_EQ(folder.Entries(), Names{"StaIdx0.mul"}) << where;
    }
}

TEST(WindowsFile, NamesAreUtf8ForUnicodeAndSomeNamesAreInvalid)
{
    TempFolder folder;
    EXPECT_EQ(ErrorText([&] { File::OpenExisting(folder / "a<b>.mul"); }), "Invalid filename");
    EXPECT_EQ(ErrorText([&] { File::OpenExisting(folder / "bad\xff\xfe.mul"); }), "Invalid filename");
    EXPECT_EQ(ErrorText([&] { ReplacementFile file(folder / "bad\xc3.mul"); }), "Invalid filename");
    EXPECT_FALSE(PathExists(folder / "bad\xff.mul"));

    const std::string name = "Kr\xc3\xa4hen-\xe5\x9c\xb0\xe5\x9b\xb3-\xf0\x9f\x90\x89.wsc"; // Krähen-地図-🐉
    Replace(folder / name, NewContent);
    EXPECT_NE(::GetFileAttributesW((Wide(folder.path()) + L"/Kr\u00e4hen-\u5730\u56f3-\U0001F409.wsc").c_str()),
        INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(FileExists(folder / name));
    char read[32];
    EXPECT_EQ(std::string(read, File::OpenForReading(folder / name).ReadSome(read, sizeof read)), NewContent);

    // Backslashes separate folders as slashes do.
    std::string path = folder / "StaIdx0.mul";
    for (char& c : path)
        if (c == '/')
            c = '\\';
    Replace(path, OldContent);
    Replace(path, NewContent);
    EXPECT_EQ(ReadText(folder / "StaIdx0.mul"), NewContent);
    EXPECT_EQ(folder.Entries(), (Names{name, "StaIdx0.mul"}));

    MakeFolder(folder / "sub");
    MakeFolder(folder / "sub");
    EXPECT_TRUE(PathExists(folder / "sub") && !FileExists(folder / "sub"));
    EXPECT_EQ(ErrorText([&] { MakeFolder(folder / "StaIdx0.mul"); }), "File not found");
    EXPECT_EQ(ErrorText([&] { MakeFolder(folder / "missing/sub"); }), "File not found");
}

TEST(WindowsFile, SizesAndPositionsPassFourGigabytes)
{
    TempFolder folder;
    const std::string path = folder / "Statics0.mul";
    WriteText(path, OldContent);
    constexpr std::uint64_t big = (std::uint64_t{5} << 30) + 7;

    File file = File::OpenExisting(path);
    file.Seek(2);
    file.Truncate(big);
    EXPECT_EQ(file.Size(), big);
    // Truncating keeps the position.
    char byte = 0;
    EXPECT_EQ(file.ReadSome(&byte, 1), 1u);
    EXPECT_EQ(byte, 'd');
    file.Seek(static_cast<std::int64_t>(big - 1));
    EXPECT_EQ(file.ReadSome(&byte, 1), 1u);
    EXPECT_EQ(byte, 0);
    EXPECT_EQ(file.ReadSome(&byte, 1), 0u);
    file.Truncate(OldContent.size());
    file.Close();
    EXPECT_EQ(ReadText(path), OldContent);
}

TEST(WindowsFile, AReplacementKeepsTheHiddenMarkAndMayReplaceATextFileBeingRead)
{
    TempFolder folder;
    const std::string path = folder / "UOX3.wsc";
    WriteText(path, OldContent);
    ASSERT_TRUE(::SetFileAttributesW(Wide(path).c_str(), FILE_ATTRIBUTE_HIDDEN));
    {
        File reader = File::OpenForReading(path);
        char read[3];
        EXPECT_EQ(reader.ReadSome(read, 3), 3u);
        Replace(path, NewContent);
        // The reader goes on with the old content.
        EXPECT_EQ(reader.ReadSome(read, 3), 3u);
        EXPECT_EQ(std::string(read, 3), std::string("\r\n\0", 3));
    }
    EXPECT_EQ(ReadText(path), NewContent);
    const DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
    EXPECT_NE(attributes & FILE_ATTRIBUTE_HIDDEN, 0u);
    EXPECT_EQ(attributes & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_EQ(folder.Entries(), Names{"UOX3.wsc"});
}

TEST(WindowsFile, ATargetHeldAtCommitIsWaitedForBrieflyThenKeptWithNothingLeft)
{
    TempFolder folder;
    const std::string path = folder / "UOX3.wsc";
    WriteText(path, OldContent);
    {
        ReplacementFile file(path);
        file.Write(NewContent.data(), NewContent.size());
        // Opened after the target was found writable, and never let go.
        const HANDLE other = Hold(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
        EXPECT_EQ(ErrorText([&] { file.Commit(); }), "File access denied");
        EXPECT_FALSE(file.Committed());
        ::CloseHandle(other);
    }
    EXPECT_EQ(ReadText(path), OldContent);
    EXPECT_EQ(folder.Entries(), Names{"UOX3.wsc"});

    // A scanner that looks at the file for a moment and lets go.
    ReplacementFile file(path);
    file.Write(NewContent.data(), NewContent.size());
    const HANDLE scanner = Hold(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
    HANDLE timer = nullptr;
    ASSERT_TRUE(::CreateTimerQueueTimer(
        &timer, nullptr, [](void* handle, BOOLEAN) { ::CloseHandle(static_cast<HANDLE>(handle)); }, scanner, 300, 0,
        WT_EXECUTEONLYONCE));
    file.Commit();
    ::DeleteTimerQueueTimer(nullptr, timer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ReadText(path), NewContent);
    EXPECT_EQ(folder.Entries(), Names{"UOX3.wsc"});
}

} // namespace
} // namespace cryo::test
