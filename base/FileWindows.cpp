// The file layer's system calls on Windows.
#include "FileSystem.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace cryo {

namespace {

// ERROR_DISK_QUOTA_EXCEEDED, missing from older mingw-w64 headers.
constexpr DWORD DiskQuotaExceeded = 1295;

// The one mapping of Windows error numbers to the user-facing kinds.
FileError SystemError(DWORD code)
{
    using Kind = FileError::Kind;
    const int number = static_cast<int>(code);
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
        return {Kind::NotFound, number};
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_NO_UNICODE_TRANSLATION:
        return {Kind::InvalidName, number};
    case ERROR_TOO_MANY_OPEN_FILES:
        return {Kind::TooManyOpen, number};
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
    case ERROR_NETWORK_ACCESS_DENIED:
    // ReplaceFileW's ways of saying that the old file is in use.
    case ERROR_UNABLE_TO_REMOVE_REPLACED:
    case ERROR_UNABLE_TO_MOVE_REPLACEMENT:
        return {Kind::AccessDenied, number};
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case DiskQuotaExceeded:
    case ERROR_FILE_TOO_LARGE:
        return {Kind::DiskFull, number};
    case ERROR_HANDLE_EOF:
        return {Kind::ReadBeyondEnd, number};
    default:
        return {Kind::Other, number};
    }
}

[[noreturn]] void RaiseLastError()
{
    throw SystemError(::GetLastError());
}

// Paths are UTF-8 everywhere else; Windows takes UTF-16.
std::wstring Wide(const std::string& path)
{
    if (path.find('\0') != std::string::npos)
        throw SystemError(ERROR_INVALID_NAME);
    if (path.empty())
        return {};
    const int length
        = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), static_cast<int>(path.size()), nullptr, 0);
    if (length <= 0)
        throw SystemError(ERROR_NO_UNICODE_TRANSLATION);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(
        CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), static_cast<int>(path.size()), wide.data(), length);
    return wide;
}

std::string Narrow(const std::wstring& text)
{
    if (text.empty())
        return {};
    const int length
        = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    ::WideCharToMultiByte(
        CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), length, nullptr, nullptr);
    return narrow;
}

HANDLE Native(sys::Handle handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

sys::Handle Stored(HANDLE handle)
{
    return reinterpret_cast<sys::Handle>(handle);
}

constexpr DWORD ShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;

// Reads and writes move at most this much per call; DWORD counts stop at 4 GiB.
constexpr std::size_t MaxTransfer = std::size_t{1} << 30;

DWORD Chunk(std::size_t size)
{
    return static_cast<DWORD>(size < MaxTransfer ? size : MaxTransfer);
}

// INVALID_FILE_ATTRIBUTES for nothing at path, and for names that cannot be one.
DWORD AttributesOf(const std::string& path)
{
    if (path.empty() || path.find('\0') != std::string::npos)
        return INVALID_FILE_ATTRIBUTES;
    try {
        return ::GetFileAttributesW(Wide(path).c_str());
    } catch (const FileError&) {
        return INVALID_FILE_ATTRIBUTES;
    }
}

// Scanners and indexers open fresh files for a moment; a replace that meets
// them is tried again for about two seconds before it counts as failed.
bool IsTransient(DWORD code)
{
    return code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION
        || code == ERROR_UNABLE_TO_REMOVE_REPLACED || code == ERROR_UNABLE_TO_MOVE_REPLACEMENT;
}

template <typename Step> DWORD Retried(Step step)
{
    constexpr int Attempts = 20;
    constexpr DWORD PauseMs = 100;
    DWORD code = ERROR_SUCCESS;
    for (int attempt = 0; attempt < Attempts; ++attempt) {
        if (attempt > 0)
            ::Sleep(PauseMs);
        if (step())
            return ERROR_SUCCESS;
        code = ::GetLastError();
        if (!IsTransient(code))
            break;
    }
    return code;
}

DWORD MoveInPlace(const std::wstring& from, const std::wstring& to)
{
    return Retried([&] {
        return ::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    });
}

std::int64_t Ticks(std::uint64_t high, std::uint64_t low)
{
    // 100-nanosecond ticks.
    return static_cast<std::int64_t>((high << 32) | low) * 100;
}

FileIdentity IdentityOf(HANDLE handle)
{
    BY_HANDLE_FILE_INFORMATION information{};
    if (!::GetFileInformationByHandle(handle, &information))
        RaiseLastError();
    FileIdentity identity;
    identity.Device = information.dwVolumeSerialNumber;
    identity.Id = (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow;
    identity.Size = (std::uint64_t{information.nFileSizeHigh} << 32) | information.nFileSizeLow;
    identity.Modified = Ticks(information.ftLastWriteTime.dwHighDateTime, information.ftLastWriteTime.dwLowDateTime);
    FILE_BASIC_INFO basic{};
    if (::GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic))
        identity.Changed = basic.ChangeTime.QuadPart * 100;
    return identity;
}

} // namespace

namespace sys {

Handle Open(const std::string& path, Access access)
{
    DWORD rights = GENERIC_READ | GENERIC_WRITE;
    DWORD share = ShareReadWrite;
    if (access == Access::Read) {
        // A text file is read while its replacement is written; as on POSIX,
        // the replacement may take its name while it is still open here.
        rights = GENERIC_READ;
        share |= FILE_SHARE_DELETE;
    } else if (access == Access::Probe) {
        rights = GENERIC_WRITE;
    }
    const HANDLE handle
        = ::CreateFileW(Wide(path).c_str(), rights, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD code = ::GetLastError();
        const DWORD attributes = AttributesOf(path);
        if (code == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES
            && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            throw FileError(FileError::Kind::Folder, static_cast<int>(code));
        throw SystemError(code);
    }
    // Devices ("NUL", "COM1") and pipes open like files.
    if (::GetFileType(handle) != FILE_TYPE_DISK) {
        ::CloseHandle(handle);
        throw FileError(FileError::Kind::NotAFile, ERROR_BAD_FILE_TYPE);
    }
    // Windows refuses to write a read-only file itself; Wine run by root does
    // not, so the mark is checked here as well.
    BY_HANDLE_FILE_INFORMATION information{};
    if ((rights & GENERIC_WRITE) != 0 && ::GetFileInformationByHandle(handle, &information)
        && (information.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
        ::CloseHandle(handle);
        throw SystemError(ERROR_ACCESS_DENIED);
    }
    return Stored(handle);
}

Handle CreateExclusive(const std::string& path)
{
    // Without delete sharing, so that no other run removes it as a leftover.
    const HANDLE handle = ::CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
        CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE)
        return Stored(handle);
    const DWORD code = ::GetLastError();
    if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS)
        return NoHandle;
    throw SystemError(code);
}

void Close(Handle handle)
{
    if (!::CloseHandle(Native(handle)))
        RaiseLastError();
}

void CloseQuietly(Handle handle) noexcept
{
    if (handle != NoHandle)
        ::CloseHandle(Native(handle));
}

std::uint64_t Size(Handle handle)
{
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(Native(handle), &size))
        RaiseLastError();
    return static_cast<std::uint64_t>(size.QuadPart);
}

FileIdentity Identity(Handle handle)
{
    return IdentityOf(Native(handle));
}

void Seek(Handle handle, std::int64_t position)
{
    LARGE_INTEGER to{};
    to.QuadPart = position;
    if (!::SetFilePointerEx(Native(handle), to, nullptr, FILE_BEGIN))
        RaiseLastError();
}

std::size_t ReadOnce(Handle handle, void* buffer, std::size_t size)
{
    DWORD got = 0;
    if (!::ReadFile(Native(handle), buffer, Chunk(size), &got, nullptr)) {
        const DWORD code = ::GetLastError();
        if (code == ERROR_HANDLE_EOF || code == ERROR_BROKEN_PIPE)
            return 0;
        throw SystemError(code);
    }
    return got;
}

std::size_t WriteOnce(Handle handle, const void* data, std::size_t size)
{
    DWORD written = 0;
    if (!::WriteFile(Native(handle), data, Chunk(size), &written, nullptr))
        RaiseLastError();
    if (written == 0)
        throw SystemError(ERROR_DISK_FULL);
    return written;
}

void Truncate(Handle handle, std::uint64_t size)
{
    // SetEndOfFile cuts at the file pointer; the position is kept, as ftruncate does.
    LARGE_INTEGER zero{};
    LARGE_INTEGER position{};
    LARGE_INTEGER end{};
    end.QuadPart = static_cast<LONGLONG>(size);
    if (!::SetFilePointerEx(Native(handle), zero, &position, FILE_CURRENT)
        || !::SetFilePointerEx(Native(handle), end, nullptr, FILE_BEGIN) || !::SetEndOfFile(Native(handle))
        || !::SetFilePointerEx(Native(handle), position, nullptr, FILE_BEGIN))
        RaiseLastError();
}

void Sync(Handle handle)
{
    if (!::FlushFileBuffers(Native(handle)))
        RaiseLastError();
}

void StartWriteBack(Handle) noexcept { }

std::optional<FileStatus> StatusOf(const std::string& path)
{
    // Opened for its attributes only, which no other opener can prevent.
    const HANDLE handle = ::CreateFileW(Wide(path).c_str(), FILE_READ_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
        nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD code = ::GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
            return std::nullopt;
        throw SystemError(code);
    }
    FileStatus status;
    BY_HANDLE_FILE_INFORMATION information{};
    const bool known = ::GetFileInformationByHandle(handle, &information) != 0;
    const DWORD code = ::GetLastError();
    const DWORD type = ::GetFileType(handle);
    if (known)
        status.Identity = IdentityOf(handle);
    ::CloseHandle(handle);
    if (!known)
        throw SystemError(code);
    status.Mode = information.dwFileAttributes;
    status.Type = (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FileStatus::Kind::Folder
        : type == FILE_TYPE_DISK                                                 ? FileStatus::Kind::File
                                                                                 : FileStatus::Kind::Other;
    return status;
}

std::string ResolveLinks(const std::string& path)
{
    const std::wstring wide = Wide(path);
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
        return path;
    const HANDLE handle = ::CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        RaiseLastError();
    std::wstring final(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetFinalPathNameByHandleW(
            handle, final.data(), static_cast<DWORD>(final.size()), FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0) {
            const DWORD code = ::GetLastError();
            ::CloseHandle(handle);
            throw SystemError(code);
        }
        if (length < final.size()) {
            final.resize(length);
            break;
        }
        final.assign(length + 1, L'\0');
    }
    ::CloseHandle(handle);
    // "\\?\C:\..." names a drive path that plain calls accept without the prefix.
    if (final.rfind(L"\\\\?\\", 0) == 0 && final.size() > 6 && final[5] == L':')
        final.erase(0, 4);
    return Narrow(final);
}

void TakeStatusOf(Handle, const FileStatus&)
{
    // A new file takes its security settings from its folder.
}

void KeepStatus(Handle handle, const std::optional<FileStatus>& old)
{
    // The new content keeps the old file's hidden and system marks and is
    // marked for backup as changed. ReplaceFileW keeps its security settings.
    if (!old)
        return;
    constexpr DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = (old->Mode & kept) | FILE_ATTRIBUTE_ARCHIVE;
    if (!::SetFileInformationByHandle(Native(handle), FileBasicInfo, &basic, sizeof basic))
        RaiseLastError();
}

void CheckReplaceable(const std::string&, const FileStatus&)
{
    // What forbids a replacement here (a read-only mark, an opener without
    // delete sharing) was met when the target was opened, or is waited for.
}

bool LinkBackup(const std::string&, const std::string&)
{
    // ReplaceFileW gives the old file the backup's name in the same step.
    return false;
}

void PutInPlace(const std::string& temporary, const std::string& target, const std::string& backup, bool)
{
    const std::wstring wideTemporary = Wide(temporary);
    const std::wstring wideTarget = Wide(target);
    // Without a backup wanted, one is made for the swap and deleted after it.
    const bool keepBackup = !backup.empty();
    const std::wstring wideBackup = Wide(keepBackup ? backup : temporary.substr(0, temporary.size() - 4) + ".bak");
    DWORD code = ERROR_FILE_NOT_FOUND;
    bool backupMade = false;
    if (AttributesOf(target) != INVALID_FILE_ATTRIBUTES) {
        code = Retried([&] {
            return ::ReplaceFileW(wideTarget.c_str(), wideTemporary.c_str(), wideBackup.c_str(),
                       REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)
                != 0;
        });
        backupMade = code == ERROR_SUCCESS;
        if (code == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
            // The old file is already the backup; the new one must still take
            // its name, or the old one goes back.
            code = MoveInPlace(wideTemporary, wideTarget);
            if (code != ERROR_SUCCESS) {
                MoveInPlace(wideBackup, wideTarget);
                throw SystemError(code);
            }
            backupMade = true;
        }
    }
    // A target that does not exist (or no longer does) simply takes the new file.
    if (code == ERROR_FILE_NOT_FOUND)
        code = MoveInPlace(wideTemporary, wideTarget);
    if (code != ERROR_SUCCESS)
        throw SystemError(code);
    // The old content is no longer needed; a scanner may hold it a moment.
    if (backupMade && !keepBackup)
        Retried([&] { return ::DeleteFileW(wideBackup.c_str()) != 0 || ::GetLastError() == ERROR_FILE_NOT_FOUND; });
}

void Rename(const std::string& from, const std::string& to)
{
    const DWORD code = MoveInPlace(Wide(from), Wide(to));
    if (code != ERROR_SUCCESS)
        throw SystemError(code);
}

void SyncFolder(const std::string&)
{
    // MOVEFILE_WRITE_THROUGH and ReplaceFileW leave nothing to flush.
}

std::vector<std::string> FolderEntries(const std::string& folderPrefix, const std::string& prefix)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAW found{};
    HANDLE search = INVALID_HANDLE_VALUE;
    try {
        search = ::FindFirstFileW(Wide(folderPrefix + prefix + "*").c_str(), &found);
    } catch (const FileError&) {
    }
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do
        names.push_back(Narrow(found.cFileName));
    while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return names;
}

void RemoveIfUnused(const std::string& path) noexcept
{
    // A replacement still being written is open without delete sharing, so
    // Windows refuses to delete it.
    const DWORD attributes = AttributesOf(path);
    if (attributes == INVALID_FILE_ATTRIBUTES
        || (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
        return;
    RemoveQuietly(path);
}

void RemoveQuietly(const std::string& path) noexcept
{
    try {
        ::DeleteFileW(Wide(path).c_str());
    } catch (...) {
    }
}

void RemoveFolderQuietly(const std::string& path) noexcept
{
    try {
        ::RemoveDirectoryW(Wide(path).c_str());
    } catch (...) {
    }
}

void MakeFolder(const std::string& path)
{
    const std::wstring wide = Wide(path);
    if (!::CreateDirectoryW(wide.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
        RaiseLastError();
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        RaiseLastError();
    // A file in the folder's place: as on POSIX, the folder is not found.
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        throw SystemError(ERROR_PATH_NOT_FOUND);
}

Handle OpenLockFile(const std::string& path)
{
    const HANDLE handle = ::CreateFileW(Wide(path).c_str(), GENERIC_READ,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        RaiseLastError();
    if (::GetFileType(handle) != FILE_TYPE_DISK) {
        ::CloseHandle(handle);
        throw SystemError(ERROR_ACCESS_DENIED);
    }
    return Stored(handle);
}

bool TryLock(Handle handle)
{
    // A lock of the first byte, which the empty file need not have.
    OVERLAPPED at{};
    if (::LockFileEx(Native(handle), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
        return true;
    const DWORD code = ::GetLastError();
    if (code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING)
        return false;
    throw SystemError(code);
}

std::string AbsolutePath(const std::string& path)
{
    const std::wstring wide = Wide(path);
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length == 0)
            RaiseLastError();
        if (length < full.size()) {
            full.resize(length);
            return Narrow(full);
        }
        full.assign(length + 1, L'\0');
    }
}

std::string NameKey(const std::string& name)
{
    std::string key = name;
    for (char& c : key) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return key;
}

FileError NameTaken()
{
    return SystemError(ERROR_FILE_EXISTS);
}

} // namespace sys

bool FileExists(const std::string& path)
{
    const DWORD attributes = AttributesOf(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool PathExists(const std::string& path)
{
    return AttributesOf(path) != INVALID_FILE_ATTRIBUTES;
}

bool StandardErrorIsTerminal()
{
    // Only a console shows progress redrawn in place; pipes and files do not.
    DWORD mode = 0;
    const HANDLE handle = ::GetStdHandle(STD_ERROR_HANDLE);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode) != 0;
}

} // namespace cryo
