// Windows implementation of the file layer.
#include "File.h"

#include "Error.h"
#include "FaultInjection.h"

#include <cstring>
#include <map>
#include <random>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace cryo {

using fault::Operation;

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

HANDLE Native(std::intptr_t handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

std::intptr_t Stored(HANDLE handle)
{
    return reinterpret_cast<std::intptr_t>(handle);
}

constexpr std::intptr_t NoHandle = -1; // INVALID_HANDLE_VALUE

HANDLE OpenChecked(const std::string& path, DWORD access, DWORD creation, DWORD share)
{
    const std::wstring wide = Wide(path);
    const HANDLE handle = ::CreateFileW(wide.c_str(), access, share, nullptr, creation, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        RaiseLastError();
    // Windows refuses to write a read-only file itself; Wine run by root does
    // not, so the mark is checked here as well.
    BY_HANDLE_FILE_INFORMATION information{};
    if ((access & GENERIC_WRITE) != 0 && ::GetFileInformationByHandle(handle, &information)
        && (information.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
        ::CloseHandle(handle);
        throw SystemError(ERROR_ACCESS_DENIED);
    }
    return handle;
}

constexpr DWORD ShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;

// Reads and writes move at most this much per call; DWORD counts stop at 4 GiB.
constexpr std::size_t MaxTransfer = std::size_t{1} << 30;

void WriteAll(HANDLE handle, const void* data, std::size_t size)
{
    auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const DWORD chunk = static_cast<DWORD>(size < MaxTransfer ? size : MaxTransfer);
        DWORD written = 0;
        if (!::WriteFile(handle, bytes, chunk, &written, nullptr))
            RaiseLastError();
        if (written == 0)
            throw SystemError(ERROR_DISK_FULL);
        bytes += written;
        size -= written;
    }
}

bool IsSeparator(char c)
{
    return c == '/' || c == '\\';
}

// The folder part of a path with its trailing separator ("" for a bare name).
std::string FolderPrefix(const std::string& path)
{
    std::size_t end = path.size();
    while (end > 0 && !IsSeparator(path[end - 1]) && !(end == 2 && path[1] == ':'))
        --end;
    return path.substr(0, end);
}

// A symbolic link is replaced by replacing the file it points to.
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

// Scanners and indexers open fresh files for a moment; a replace that meets
// them is tried again for about two seconds before it counts as failed.
bool IsTransient(DWORD code)
{
    return code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION
        || code == ERROR_UNABLE_TO_REMOVE_REPLACED || code == ERROR_UNABLE_TO_MOVE_REPLACEMENT;
}

constexpr int ReplaceAttempts = 20;
constexpr DWORD ReplacePauseMs = 100;

template <typename Step> DWORD Retried(Step step)
{
    DWORD code = ERROR_SUCCESS;
    for (int attempt = 0; attempt < ReplaceAttempts; ++attempt) {
        if (attempt > 0)
            ::Sleep(ReplacePauseMs);
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

// A replacement's names: "." + target name + ".cryoweaver-" + digits + ".tmp",
// and ".bak" for the old content while ReplaceFileW swaps them.
constexpr const char* TemporaryMark = ".cryoweaver-";

bool IsTemporaryOf(const std::string& entry, const std::string& name)
{
    const std::string prefix = "." + name + TemporaryMark;
    if (entry.size() <= prefix.size() + 4 || entry.compare(0, prefix.size(), prefix) != 0)
        return false;
    const std::string end = entry.substr(entry.size() - 4);
    if (end != ".tmp" && end != ".bak")
        return false;
    for (std::size_t i = prefix.size(); i < entry.size() - 4; ++i)
        if (entry[i] < '0' || entry[i] > '9')
            return false;
    return true;
}

// Removes what an earlier run, stopped before its replacement was in place,
// left of this target's replacements. A replacement still being written is
// open without delete sharing, so Windows refuses to delete it. Best effort:
// nothing here fails the caller.
void RemoveStaleTemporaries(const std::string& folder, const std::string& name)
{
    std::wstring pattern;
    try {
        pattern = Wide(folder + "." + name + TemporaryMark + "*");
    } catch (const FileError&) {
        return;
    }
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
            continue;
        const std::string entry = Narrow(found.cFileName);
        if (!IsTemporaryOf(entry, name))
            continue;
        try {
            fault::Before(Operation::Remove, folder + entry);
            ::DeleteFileW(Wide(folder + entry).c_str());
        } catch (const Error&) {
        }
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
}

} // namespace

File::File(std::intptr_t handle, std::string path)
    : handle_(handle)
    , path_(std::move(path))
{
}

File File::OpenExisting(const std::string& path)
{
    fault::Before(Operation::Open, path);
    const HANDLE handle = OpenChecked(path, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING, ShareReadWrite);
    return File(Stored(handle), path);
}

File File::OpenForReading(const std::string& path)
{
    fault::Before(Operation::Open, path);
    // A text file is read while its replacement is written; as on POSIX, the
    // replacement may take its name while it is still open here.
    const HANDLE handle = OpenChecked(path, GENERIC_READ, OPEN_EXISTING, ShareReadWrite | FILE_SHARE_DELETE);
    return File(Stored(handle), path);
}

File::File(File&& other) noexcept
    : handle_(other.handle_)
    , path_(std::move(other.path_))
{
    other.handle_ = NoHandle;
}

File& File::operator=(File&& other) noexcept
{
    if (this != &other) {
        if (handle_ != NoHandle)
            ::CloseHandle(Native(handle_));
        handle_ = other.handle_;
        path_ = std::move(other.path_);
        other.handle_ = NoHandle;
    }
    return *this;
}

File::~File()
{
    if (handle_ != NoHandle)
        ::CloseHandle(Native(handle_));
}

std::uint64_t File::Size()
{
    fault::Before(Operation::Size, path_);
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(Native(handle_), &size))
        RaiseLastError();
    return static_cast<std::uint64_t>(size.QuadPart);
}

void File::Seek(std::int64_t position)
{
    fault::Before(Operation::Seek, path_);
    LARGE_INTEGER to{};
    to.QuadPart = position;
    if (!::SetFilePointerEx(Native(handle_), to, nullptr, FILE_BEGIN))
        RaiseLastError();
}

std::size_t File::ReadSome(void* buffer, std::size_t size)
{
    fault::Before(Operation::Read, path_);
    auto* bytes = static_cast<char*>(buffer);
    std::size_t total = 0;
    while (total < size) {
        const std::size_t left = size - total;
        const DWORD chunk = static_cast<DWORD>(left < MaxTransfer ? left : MaxTransfer);
        DWORD got = 0;
        if (!::ReadFile(Native(handle_), bytes + total, chunk, &got, nullptr)) {
            const DWORD code = ::GetLastError();
            if (code == ERROR_HANDLE_EOF || code == ERROR_BROKEN_PIPE)
                break;
            throw SystemError(code);
        }
        if (got == 0)
            break;
        total += got;
    }
    return total;
}

void File::ReadExact(void* buffer, std::size_t size)
{
    if (ReadSome(buffer, size) != size)
        throw FileError(FileError::Kind::ReadBeyondEnd, 0);
}

void File::Write(const void* data, std::size_t size)
{
    fault::Before(Operation::Write, path_);
    WriteAll(Native(handle_), data, size);
}

void File::Truncate(std::uint64_t size)
{
    fault::Before(Operation::Truncate, path_);
    const HANDLE handle = Native(handle_);
    // SetEndOfFile cuts at the file pointer; the position is kept, as ftruncate does.
    LARGE_INTEGER zero{};
    LARGE_INTEGER position{};
    LARGE_INTEGER end{};
    end.QuadPart = static_cast<LONGLONG>(size);
    if (!::SetFilePointerEx(handle, zero, &position, FILE_CURRENT)
        || !::SetFilePointerEx(handle, end, nullptr, FILE_BEGIN) || !::SetEndOfFile(handle))
        RaiseLastError();
    if (!::SetFilePointerEx(handle, position, nullptr, FILE_BEGIN))
        RaiseLastError();
}

void File::Sync()
{
    fault::Before(Operation::Sync, path_);
    if (!::FlushFileBuffers(Native(handle_)))
        RaiseLastError();
}

void File::Close()
{
    if (handle_ == NoHandle)
        return;
    fault::Before(Operation::Close, path_);
    const HANDLE handle = Native(handle_);
    handle_ = NoHandle;
    if (!::CloseHandle(handle))
        RaiseLastError();
}

namespace {

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

} // namespace

bool FileExists(const std::string& path)
{
    const DWORD attributes = AttributesOf(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool PathExists(const std::string& path)
{
    return AttributesOf(path) != INVALID_FILE_ATTRIBUTES;
}

void MakeFolder(const std::string& path)
{
    const std::wstring wide = Wide(path);
    fault::Before(Operation::Create, path);
    if (!::CreateDirectoryW(wide.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
        RaiseLastError();
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        RaiseLastError();
    // A file in the folder's place: as on POSIX, the folder is not found.
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        throw SystemError(ERROR_PATH_NOT_FOUND);
}

bool StandardErrorIsTerminal()
{
    // Only a console shows progress redrawn in place; pipes and files do not.
    DWORD mode = 0;
    const HANDLE handle = ::GetStdHandle(STD_ERROR_HANDLE);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode) != 0;
}

ReplacementFile::ReplacementFile(const std::string& path)
{
    Wide(path);
    target_ = ResolveLinks(path);

    // The target must be writable now, as if it were opened for a rewrite.
    fault::Before(Operation::Open, target_);
    const std::wstring wideTarget = Wide(target_);
    const DWORD attributes = ::GetFileAttributesW(wideTarget.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            throw SystemError(ERROR_ACCESS_DENIED);
        const HANDLE probe = OpenChecked(target_, GENERIC_WRITE, OPEN_EXISTING, ShareReadWrite);
        ::CloseHandle(probe);
        targetExists_ = true;
        targetMode_ = attributes;
    } else {
        const DWORD code = ::GetLastError();
        if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND)
            throw SystemError(code);
    }

    const std::string folder = FolderPrefix(target_);
    const std::string name = target_.substr(folder.size());
    // With the target missing, a leftover may hold the only copy of its content.
    if (targetExists_)
        RemoveStaleTemporaries(folder, name);
    std::random_device seed;
    std::mt19937 random(seed());
    for (int attempt = 0;; ++attempt) {
        temporary_ = folder + "." + name + ".cryoweaver-" + std::to_string(random() % 1000000000u) + ".tmp";
        fault::Before(Operation::Create, temporary_);
        const std::wstring wide = Wide(temporary_);
        const HANDLE handle = ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
            CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            handle_ = Stored(handle);
            break;
        }
        const DWORD code = ::GetLastError();
        if ((code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) || attempt > 100) {
            temporary_.clear();
            throw SystemError(code);
        }
    }
}

ReplacementFile::~ReplacementFile()
{
    if (!committed_)
        Discard();
}

void ReplacementFile::Discard() noexcept
{
    if (handle_ != NoHandle)
        ::CloseHandle(Native(handle_));
    handle_ = NoHandle;
    if (!temporary_.empty()) {
        try {
            ::DeleteFileW(Wide(temporary_).c_str());
        } catch (...) {
        }
    }
    temporary_.clear();
}

void ReplacementFile::Write(const void* data, std::size_t size)
{
    fault::Before(Operation::Write, temporary_);
    WriteAll(Native(handle_), data, size);
}

void ReplacementFile::Commit()
{
    const HANDLE handle = Native(handle_);

    fault::Before(Operation::Sync, temporary_);
    if (!::FlushFileBuffers(handle))
        RaiseLastError();

    fault::Before(Operation::Close, temporary_);
    handle_ = NoHandle;
    if (!::CloseHandle(handle))
        RaiseLastError();

    const std::wstring wideTemporary = Wide(temporary_);
    const std::wstring wideTarget = Wide(target_);
    // The new content keeps the old file's hidden and system marks and is
    // marked for backup as changed. ReplaceFileW keeps its security settings.
    if (targetExists_) {
        constexpr DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
        if (!::SetFileAttributesW(wideTemporary.c_str(), (targetMode_ & kept) | FILE_ATTRIBUTE_ARCHIVE))
            RaiseLastError();
    }

    fault::Before(Operation::Rename, target_);
    const std::string backup = temporary_.substr(0, temporary_.size() - 4) + ".bak";
    const std::wstring wideBackup = Wide(backup);
    DWORD code = ERROR_FILE_NOT_FOUND;
    bool backupMade = false;
    if (targetExists_) {
        code = Retried([&] {
            return ::ReplaceFileW(wideTarget.c_str(), wideTemporary.c_str(), wideBackup.c_str(),
                       REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)
                != 0;
        });
        backupMade = code == ERROR_SUCCESS;
        if (code == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
            // The old file is already the backup; the new one must still take its
            // name, or the old one goes back.
            code = MoveInPlace(wideTemporary, wideTarget);
            if (code == ERROR_SUCCESS) {
                backupMade = true;
            } else {
                MoveInPlace(wideBackup, wideTarget);
                throw SystemError(code);
            }
        }
    }
    // A target that does not exist (or no longer does) simply takes the new file.
    if (code == ERROR_FILE_NOT_FOUND)
        code = MoveInPlace(wideTemporary, wideTarget);
    if (code != ERROR_SUCCESS)
        throw SystemError(code);
    temporary_.clear();
    committed_ = true;

    // The old content is no longer needed; a scanner may hold it a moment.
    if (backupMade)
        Retried([&] { return ::DeleteFileW(wideBackup.c_str()) != 0 || ::GetLastError() == ERROR_FILE_NOT_FOUND; });
}

void CheckFreeSpace(const std::vector<SpaceNeed>& needs)
{
    struct Volume {
        std::uint64_t Needed = 0;
        std::uint64_t Available = 0;
    };
    std::map<std::wstring, Volume> volumes;
    for (const SpaceNeed& need : needs) {
        if (need.Bytes == 0)
            continue;
        std::wstring folder;
        try {
            const std::string prefix = FolderPrefix(ResolveLinks(need.Path));
            folder = Wide(prefix.empty() ? std::string(".\\") : prefix);
        } catch (const Error&) {
            continue;
        }
        std::wstring root(MAX_PATH + 1, L'\0');
        if (!::GetVolumePathNameW(folder.c_str(), root.data(), static_cast<DWORD>(root.size())))
            continue;
        root.resize(std::wcslen(root.c_str()));
        Volume& volume = volumes[root];
        if (volume.Needed == 0) {
            if (const auto injected = fault::FreeSpace(Narrow(folder))) {
                volume.Available = *injected;
            } else {
                ULARGE_INTEGER available{};
                // Where the free space cannot be known, the writes will tell.
                if (!::GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr))
                    continue;
                volume.Available = available.QuadPart;
            }
        }
        volume.Needed += need.Bytes;
        if (volume.Needed > volume.Available)
            throw SystemError(ERROR_DISK_FULL);
    }
}

} // namespace cryo
