// The file layer's system calls on Linux and other POSIX systems.
#include "FileSystem.h"

#include <cerrno>
#include <climits>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cryo {

namespace {

// The one mapping of system error numbers to the user-facing kinds.
FileError SystemError(int err)
{
    using Kind = FileError::Kind;
    switch (err) {
    case ENOENT:
    case ENOTDIR:
        return {Kind::NotFound, err};
    case ENAMETOOLONG:
        return {Kind::InvalidName, err};
    case EMFILE:
    case ENFILE:
        return {Kind::TooManyOpen, err};
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
        return {Kind::AccessDenied, err};
    case EISDIR:
        return {Kind::Folder, err};
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return {Kind::DiskFull, err};
    default:
        return {Kind::Other, err};
    }
}

[[noreturn]] void RaiseErrno()
{
    throw SystemError(errno);
}

// Repeats a call that a signal interrupted before it did anything.
template <typename Call> auto Retrying(Call call)
{
    for (;;) {
        const auto result = call();
        if (result >= 0 || errno != EINTR)
            return result;
    }
}

const char* Checked(const std::string& path)
{
    if (path.find('\0') != std::string::npos)
        throw FileError(FileError::Kind::InvalidName, EINVAL);
    return path.c_str();
}

int Fd(sys::Handle handle)
{
    return static_cast<int>(handle);
}

std::string FolderPath(const std::string& folderPrefix)
{
    return folderPrefix.empty() ? "." : folderPrefix;
}

std::int64_t Nanoseconds(const timespec& time)
{
    return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

FileIdentity IdentityOf(const struct stat& st)
{
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
        static_cast<std::uint64_t>(st.st_size), Nanoseconds(st.st_mtim), Nanoseconds(st.st_ctim)};
}

// A folder, or anything else that is no file (a device, a pipe, a socket).
void RefuseUnlessFile(const struct stat& st)
{
    if (S_ISDIR(st.st_mode))
        throw SystemError(EISDIR);
    if (!S_ISREG(st.st_mode))
        throw FileError(FileError::Kind::NotAFile, ENODEV);
}

} // namespace

namespace sys {

Handle Open(const std::string& path, Access access)
{
    const int flags = access == Access::Read ? O_RDONLY : access == Access::ReadWrite ? O_RDWR : O_WRONLY;
    const char* name = Checked(path);
    // Not waiting for a pipe's other end: it is refused as soon as it is open.
    const int fd = Retrying([&] { return ::open(name, flags | O_CLOEXEC | O_NONBLOCK | O_NOCTTY); });
    if (fd < 0)
        RaiseErrno();
    struct stat st { };
    try {
        if (::fstat(fd, &st) != 0)
            RaiseErrno();
        RefuseUnlessFile(st);
    } catch (...) {
        ::close(fd);
        throw;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

Handle CreateExclusive(const std::string& path)
{
    const char* name = Checked(path);
    const int fd = Retrying([&] { return ::open(name, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600); });
    if (fd < 0) {
        if (errno == EEXIST)
            return NoHandle;
        RaiseErrno();
    }
    ::flock(fd, LOCK_EX | LOCK_NB);
    return fd;
}

Handle CreateUnnamed(const std::string& folderPrefix)
{
#if defined(O_TMPFILE)
    // Naming it later goes through /proc where linkat may not take the descriptor.
    if (::access("/proc/self/fd", X_OK) != 0)
        return NoHandle;
    const std::string folder = FolderPath(folderPrefix);
    const char* name = Checked(folder);
    const int fd = Retrying([&] { return ::open(name, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600); });
    if (fd < 0) {
        // Older kernels take O_TMPFILE for O_DIRECTORY; some file systems refuse it.
        if (errno == EISDIR || errno == EOPNOTSUPP || errno == EINVAL)
            return NoHandle;
        RaiseErrno();
    }
    // Held until the replacement is closed: once named, it is not taken for a
    // stopped run's leftover.
    ::flock(fd, LOCK_EX | LOCK_NB);
    return fd;
#else
    (void)folderPrefix;
    return NoHandle;
#endif
}

bool Name(Handle handle, const std::string& path)
{
    if (::linkat(Fd(handle), "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0)
        return true;
    if (errno == EEXIST)
        return false;
    // Without the right to link by descriptor, through its /proc name.
    const std::string byName = "/proc/self/fd/" + std::to_string(handle);
    if (::linkat(AT_FDCWD, byName.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return true;
    if (errno == EEXIST)
        return false;
    RaiseErrno();
}

void Close(Handle handle)
{
    // After EINTR the descriptor is gone on Linux: closing it again could close another.
    if (::close(Fd(handle)) != 0 && errno != EINTR)
        RaiseErrno();
}

void CloseQuietly(Handle handle) noexcept
{
    if (handle != NoHandle)
        ::close(Fd(handle));
}

std::uint64_t Size(Handle handle)
{
    struct stat st { };
    if (::fstat(Fd(handle), &st) != 0)
        RaiseErrno();
    return static_cast<std::uint64_t>(st.st_size);
}

FileIdentity Identity(Handle handle)
{
    struct stat st { };
    if (::fstat(Fd(handle), &st) != 0)
        RaiseErrno();
    return IdentityOf(st);
}

void Seek(Handle handle, std::int64_t position)
{
    if (::lseek(Fd(handle), static_cast<off_t>(position), SEEK_SET) < 0)
        RaiseErrno();
}

std::size_t ReadOnce(Handle handle, void* buffer, std::size_t size)
{
    const ssize_t got = Retrying([&] { return ::read(Fd(handle), buffer, size); });
    if (got < 0)
        RaiseErrno();
    return static_cast<std::size_t>(got);
}

std::size_t WriteOnce(Handle handle, const void* data, std::size_t size)
{
    const ssize_t written = Retrying([&] { return ::write(Fd(handle), data, size); });
    if (written < 0)
        RaiseErrno();
    if (written == 0)
        throw SystemError(ENOSPC);
    return static_cast<std::size_t>(written);
}

void Truncate(Handle handle, std::uint64_t size)
{
    if (Retrying([&] { return ::ftruncate(Fd(handle), static_cast<off_t>(size)); }) != 0)
        RaiseErrno();
}

void Sync(Handle handle)
{
    if (::fsync(Fd(handle)) != 0)
        RaiseErrno();
}

void StartWriteBack([[maybe_unused]] Handle handle) noexcept
{
#ifdef __linux__
    ::sync_file_range(Fd(handle), 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
}

std::optional<FileStatus> StatusOf(const std::string& path)
{
    struct stat st { };
    if (::stat(Checked(path), &st) != 0) {
        if (errno == ENOENT)
            return std::nullopt;
        RaiseErrno();
    }
    const FileStatus::Kind type = S_ISREG(st.st_mode) ? FileStatus::Kind::File
        : S_ISDIR(st.st_mode)                         ? FileStatus::Kind::Folder
                                                      : FileStatus::Kind::Other;
    return FileStatus{IdentityOf(st), type, static_cast<std::uint32_t>(st.st_mode & 07777), st.st_uid, st.st_gid};
}

std::string ResolveLinks(const std::string& path)
{
    std::string resolved = path;
    for (int depth = 0; depth < 40; ++depth) {
        struct stat st { };
        if (::lstat(Checked(resolved), &st) != 0 || !S_ISLNK(st.st_mode))
            return resolved;
        std::string link(PATH_MAX, '\0');
        const ssize_t length = ::readlink(resolved.c_str(), link.data(), link.size());
        if (length < 0)
            RaiseErrno();
        link.resize(static_cast<std::size_t>(length));
        resolved = link.front() == '/' ? link : FolderPrefix(resolved) + link;
    }
    throw SystemError(ELOOP);
}

void KeepStatus(Handle handle, const std::optional<FileStatus>& old)
{
    if (old) {
        // A file whose owner changed could no longer be written by its owner
        // (a server run as another user than the one that froze).
        if (::fchown(Fd(handle), old->Owner, old->Group) != 0) {
            struct stat st { };
            if (::fstat(Fd(handle), &st) != 0)
                RaiseErrno();
            if (st.st_uid != old->Owner || st.st_gid != old->Group)
                throw FileError(FileError::Kind::AccessDenied, EPERM,
                    "its owner and group cannot be kept by this user; run Cryoweaver as the file's owner or "
                    "as root");
        }
        if (::fchmod(Fd(handle), old->Mode) != 0)
            RaiseErrno();
        return;
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    if (::fchmod(Fd(handle), 0666 & ~mask) != 0)
        RaiseErrno();
}

void TakeStatusOf(Handle handle, const FileStatus& model)
{
    // Another's owner only root may give; the group, any member of it.
    if (::fchown(Fd(handle), model.Owner, model.Group) != 0)
        static_cast<void>(::fchown(Fd(handle), static_cast<uid_t>(-1), model.Group));
    const mode_t mode = model.Type == FileStatus::Kind::Folder ? model.Mode & 0666 : model.Mode;
    if (::fchmod(Fd(handle), mode) != 0)
        RaiseErrno();
}

void CheckReplaceable(const std::string& target, const FileStatus& status)
{
    struct stat folder { };
    if (::stat(FolderPath(FolderPrefix(target)).c_str(), &folder) != 0)
        RaiseErrno();
    const uid_t user = ::geteuid();
    if ((folder.st_mode & S_ISVTX) != 0 && user != 0 && user != status.Owner && user != folder.st_uid)
        throw FileError(FileError::Kind::AccessDenied, EPERM,
            "its folder lets only the owners of a file and of the folder replace the file, and neither is this "
            "user");
}

bool LinkBackup(const std::string& target, const std::string& backup)
{
    if (::link(target.c_str(), backup.c_str()) == 0)
        return true;
    if (errno == EPERM || errno == EOPNOTSUPP || errno == EXDEV || errno == EMLINK || errno == ENOSYS)
        return false;
    RaiseErrno();
}

void PutInPlace(const std::string& temporary, const std::string& target, const std::string& backup, bool backupLinked)
{
    if (!backup.empty() && !backupLinked && ::rename(target.c_str(), backup.c_str()) != 0)
        RaiseErrno();
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        const int err = errno;
        if (!backup.empty() && !backupLinked)
            ::rename(backup.c_str(), target.c_str());
        throw SystemError(err);
    }
}

void Rename(const std::string& from, const std::string& to)
{
    if (::rename(Checked(from), Checked(to)) != 0)
        RaiseErrno();
}

void SyncFolder(const std::string& folderPrefix)
{
    const int fd
        = Retrying([&] { return ::open(FolderPath(folderPrefix).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
    if (fd < 0)
        RaiseErrno();
    const int result = ::fsync(fd);
    const int err = errno;
    ::close(fd);
    // Some file systems cannot sync a folder; the rename itself is done then.
    if (result != 0 && err != EINVAL && err != ENOTSUP)
        throw SystemError(err);
}

std::vector<std::string> FolderEntries(const std::string& folderPrefix, const std::string& prefix)
{
    std::vector<std::string> names;
    DIR* dir = ::opendir(FolderPath(folderPrefix).c_str());
    if (dir == nullptr)
        return names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.compare(0, prefix.size(), prefix) == 0)
            names.push_back(name);
    }
    ::closedir(dir);
    return names;
}

void RemoveIfUnused(const std::string& path) noexcept
{
    // A replacement still being written holds a lock on its file; a stopped
    // process's lock is gone with it. The name must still be that same file.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat opened { };
    struct stat named { };
    if (::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0
        && ::lstat(path.c_str(), &named) == 0 && named.st_ino == opened.st_ino && named.st_dev == opened.st_dev)
        ::unlink(path.c_str());
    ::close(fd);
}

void RemoveQuietly(const std::string& path) noexcept
{
    ::unlink(path.c_str());
}

void RemoveFolderQuietly(const std::string& path) noexcept
{
    ::rmdir(path.c_str());
}

void MakeFolder(const std::string& path)
{
    const char* name = Checked(path);
    if (::mkdir(name, 0777) != 0 && errno != EEXIST)
        RaiseErrno();
    struct stat st { };
    if (::stat(name, &st) != 0)
        RaiseErrno();
    if (!S_ISDIR(st.st_mode))
        throw SystemError(ENOTDIR);
}

Handle OpenLockFile(const std::string& path)
{
    const char* name = Checked(path);
    int fd = Retrying([&] { return ::open(name, O_RDONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644); });
    if (fd >= 0) {
        // Whoever may read the folder may lock its files, whatever the umask.
        ::fchmod(fd, 0644);
        return fd;
    }
    if (errno != EEXIST)
        RaiseErrno();
    fd = Retrying([&] { return ::open(name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC); });
    if (fd < 0)
        RaiseErrno();
    struct stat st { };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        throw SystemError(EACCES);
    }
    return fd;
}

bool TryLock(Handle handle)
{
    if (Retrying([&] { return ::flock(Fd(handle), LOCK_EX | LOCK_NB); }) == 0)
        return true;
    if (errno == EWOULDBLOCK)
        return false;
    // A file system without locks: the run goes on unprotected, as it always did.
    if (errno == ENOLCK || errno == EOPNOTSUPP || errno == EINVAL)
        return true;
    RaiseErrno();
}

std::string AbsolutePath(const std::string& path)
{
    if (!path.empty() && path.front() == '/')
        return path;
    std::string folder(PATH_MAX, '\0');
    if (::getcwd(folder.data(), folder.size()) == nullptr)
        RaiseErrno();
    folder.resize(std::char_traits<char>::length(folder.c_str()));
    return folder + (folder.back() == '/' ? "" : "/") + path;
}

std::string NameKey(const std::string& name)
{
    return name;
}

FileError NameTaken()
{
    return SystemError(EEXIST);
}

} // namespace sys

bool FileExists(const std::string& path)
{
    struct stat st { };
    return !path.empty() && path.find('\0') == std::string::npos && ::stat(path.c_str(), &st) == 0
        && !S_ISDIR(st.st_mode);
}

bool PathExists(const std::string& path)
{
    struct stat st { };
    return !path.empty() && path.find('\0') == std::string::npos && ::lstat(path.c_str(), &st) == 0;
}

bool StandardErrorIsTerminal()
{
    return ::isatty(STDERR_FILENO) != 0;
}

} // namespace cryo
