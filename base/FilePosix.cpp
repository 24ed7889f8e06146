// POSIX implementation of the file layer.
#include "File.h"

#include "Error.h"
#include "FaultInjection.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <map>
#include <random>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace cryo {

using fault::Operation;

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
    case EISDIR:
    case ETXTBSY:
        return {Kind::AccessDenied, err};
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

void CheckName(const std::string& path)
{
    if (path.find('\0') != std::string::npos)
        throw FileError(FileError::Kind::InvalidName, EINVAL);
}

int OpenChecked(const std::string& path, int flags, mode_t mode = 0)
{
    CheckName(path);
    int fd;
    do
        fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        RaiseErrno();
    return fd;
}

// Opening a folder for reading succeeds on POSIX; as a file it is no file at all.
void RejectFolder(int fd)
{
    struct stat st { };
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        throw SystemError(EISDIR);
    }
}

void WriteAll(int fd, const void* data, std::size_t size)
{
    auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = ::write(fd, bytes, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            RaiseErrno();
        }
        if (written == 0)
            throw SystemError(ENOSPC);
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
}

std::string FolderOf(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

// Follows symbolic links to the file that a replacement must change.
std::string ResolveLinks(std::string path)
{
    for (int depth = 0; depth < 40; ++depth) {
        struct stat st { };
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return path;
        std::string link(PATH_MAX, '\0');
        const ssize_t length = ::readlink(path.c_str(), link.data(), link.size());
        if (length < 0)
            RaiseErrno();
        link.resize(static_cast<std::size_t>(length));
        path = (link.front() == '/') ? link : FolderOf(path) + "/" + link;
    }
    throw SystemError(ELOOP);
}

// A replacement's name while it has one: "." + target name + ".cryoweaver-" +
// digits + ".tmp", in the target's folder.
constexpr const char* TemporaryMark = ".cryoweaver-";
constexpr const char* TemporaryEnd = ".tmp";

bool IsTemporaryOf(const std::string& entry, const std::string& name)
{
    const std::string prefix = "." + name + TemporaryMark;
    const std::size_t endLength = std::strlen(TemporaryEnd);
    if (entry.size() <= prefix.size() + endLength || entry.compare(0, prefix.size(), prefix) != 0
        || entry.compare(entry.size() - endLength, endLength, TemporaryEnd) != 0)
        return false;
    for (std::size_t i = prefix.size(); i < entry.size() - endLength; ++i)
        if (entry[i] < '0' || entry[i] > '9')
            return false;
    return true;
}

// Removes what an earlier run, stopped between naming its replacement and
// putting it in place, left of this target's replacements. A replacement still
// being written holds a lock on its file and is left alone; a stopped
// process's lock is gone with it. Best effort: nothing here fails the caller.
void RemoveStaleTemporaries(const std::string& folder, const std::string& name)
{
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return;
    const int dirFd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        const std::string entryName = entry->d_name;
        if (!IsTemporaryOf(entryName, name))
            continue;
        try {
            fault::Before(Operation::Remove, folder + "/" + entryName);
        } catch (const Error&) {
            continue;
        }
        const int fd = ::openat(dirFd, entryName.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat opened { };
        struct stat named { };
        if (::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0
            && ::fstatat(dirFd, entryName.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_ino == opened.st_ino
            && named.st_dev == opened.st_dev)
            ::unlinkat(dirFd, entryName.c_str(), 0);
        ::close(fd);
    }
    ::closedir(dir);
}

// An unnamed file in the folder (Linux): it vanishes by itself if the process
// stops before Commit names it. -1 where the file system or kernel has none.
int OpenUnnamed(const std::string& folder)
{
#if defined(O_TMPFILE)
    if (!fault::UnnamedFilesAllowed() || ::access("/proc/self/fd", X_OK) != 0)
        return -1;
    int fd;
    do
        fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    while (fd < 0 && errno == EINTR);
    if (fd >= 0)
        return fd;
    // Older kernels take O_TMPFILE for O_DIRECTORY; some file systems refuse it.
    if (errno == EISDIR || errno == EOPNOTSUPP || errno == EINVAL)
        return -1;
    RaiseErrno();
#else
    (void)folder;
    return -1;
#endif
}

// Gives an unnamed file a name; false when the name is taken.
bool NameUnnamed(int fd, const std::string& name)
{
    if (::linkat(fd, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0)
        return true;
    if (errno == EEXIST)
        return false;
    // Without the right to link by descriptor, through its /proc name.
    const std::string byName = "/proc/self/fd/" + std::to_string(fd);
    if (::linkat(AT_FDCWD, byName.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return true;
    if (errno == EEXIST)
        return false;
    RaiseErrno();
}

void SyncFolder(const std::string& folder)
{
    fault::Before(Operation::Sync, folder);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        RaiseErrno();
    const int result = ::fsync(fd);
    const int err = errno;
    ::close(fd);
    // Some file systems cannot sync a folder; the rename itself is done then.
    if (result != 0 && err != EINVAL && err != ENOTSUP)
        throw SystemError(err);
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
    const int fd = OpenChecked(path, O_RDWR);
    return File(fd, path);
}

File File::OpenForReading(const std::string& path)
{
    fault::Before(Operation::Open, path);
    const int fd = OpenChecked(path, O_RDONLY);
    RejectFolder(fd);
    return File(fd, path);
}

File::File(File&& other) noexcept
    : handle_(other.handle_)
    , path_(std::move(other.path_))
{
    other.handle_ = -1;
}

File& File::operator=(File&& other) noexcept
{
    if (this != &other) {
        if (handle_ >= 0)
            ::close(static_cast<int>(handle_));
        handle_ = other.handle_;
        path_ = std::move(other.path_);
        other.handle_ = -1;
    }
    return *this;
}

File::~File()
{
    if (handle_ >= 0)
        ::close(static_cast<int>(handle_));
}

std::uint64_t File::Size()
{
    fault::Before(Operation::Size, path_);
    struct stat st { };
    if (::fstat(static_cast<int>(handle_), &st) != 0)
        RaiseErrno();
    return static_cast<std::uint64_t>(st.st_size);
}

void File::Seek(std::int64_t position)
{
    fault::Before(Operation::Seek, path_);
    if (::lseek(static_cast<int>(handle_), static_cast<off_t>(position), SEEK_SET) < 0)
        RaiseErrno();
}

std::size_t File::ReadSome(void* buffer, std::size_t size)
{
    fault::Before(Operation::Read, path_);
    auto* bytes = static_cast<char*>(buffer);
    std::size_t total = 0;
    while (total < size) {
        const ssize_t got = ::read(static_cast<int>(handle_), bytes + total, size - total);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            RaiseErrno();
        }
        if (got == 0)
            break;
        total += static_cast<std::size_t>(got);
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
    WriteAll(static_cast<int>(handle_), data, size);
}

void File::Truncate(std::uint64_t size)
{
    fault::Before(Operation::Truncate, path_);
    if (::ftruncate(static_cast<int>(handle_), static_cast<off_t>(size)) != 0)
        RaiseErrno();
}

void File::Sync()
{
    fault::Before(Operation::Sync, path_);
    if (::fsync(static_cast<int>(handle_)) != 0)
        RaiseErrno();
}

void File::Close()
{
    if (handle_ < 0)
        return;
    fault::Before(Operation::Close, path_);
    const int fd = static_cast<int>(handle_);
    handle_ = -1;
    if (::close(fd) != 0 && errno != EINTR)
        RaiseErrno();
}

bool FileExists(const std::string& path)
{
    if (path.empty() || path.find('\0') != std::string::npos)
        return false;
    struct stat st { };
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool PathExists(const std::string& path)
{
    struct stat st { };
    return !path.empty() && path.find('\0') == std::string::npos && ::lstat(path.c_str(), &st) == 0;
}

void MakeFolder(const std::string& path)
{
    CheckName(path);
    fault::Before(Operation::Create, path);
    if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST)
        RaiseErrno();
    struct stat st { };
    if (::stat(path.c_str(), &st) != 0)
        RaiseErrno();
    if (!S_ISDIR(st.st_mode))
        throw SystemError(ENOTDIR);
}

bool StandardErrorIsTerminal()
{
    return ::isatty(STDERR_FILENO) != 0;
}

ReplacementFile::ReplacementFile(const std::string& path)
{
    CheckName(path);
    target_ = ResolveLinks(path);

    // The target must be writable now, as if it were opened for a rewrite.
    fault::Before(Operation::Open, target_);
    struct stat st { };
    if (::stat(target_.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            throw SystemError(EISDIR);
        const int probe = OpenChecked(target_, O_WRONLY);
        ::close(probe);
        targetExists_ = true;
        targetMode_ = st.st_mode & 07777;
        targetOwner_ = st.st_uid;
        targetGroup_ = st.st_gid;
    } else if (errno != ENOENT) {
        RaiseErrno();
    }

    const std::string folder = FolderOf(target_);
    const std::string name = target_.substr(target_.find_last_of('/') + 1);
    // With the target missing, a leftover may hold the only copy of its content.
    if (targetExists_)
        RemoveStaleTemporaries(folder, name);

    std::random_device seed;
    std::mt19937 random(seed());
    auto pickName = [&] {
        temporary_ = folder + "/." + name + TemporaryMark + std::to_string(random() % 1000000000u) + TemporaryEnd;
    };
    pickName();
    fault::Before(Operation::Create, temporary_);
    CheckName(temporary_);
    const int unnamed = OpenUnnamed(folder);
    if (unnamed >= 0) {
        handle_ = unnamed;
        named_ = false;
    } else {
        for (int attempt = 0;; ++attempt) {
            const int fd = ::open(temporary_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (fd >= 0) {
                handle_ = fd;
                named_ = true;
                break;
            }
            if (errno != EEXIST || attempt > 100) {
                temporary_.clear();
                RaiseErrno();
            }
            pickName();
        }
    }
    // Held until the replacement is closed: a named one is then not taken for
    // a stopped run's leftover.
    ::flock(static_cast<int>(handle_), LOCK_EX | LOCK_NB);
}

ReplacementFile::~ReplacementFile()
{
    if (!committed_)
        Discard();
}

void ReplacementFile::Discard() noexcept
{
    if (handle_ >= 0)
        ::close(static_cast<int>(handle_));
    handle_ = -1;
    if (named_ && !temporary_.empty())
        ::unlink(temporary_.c_str());
    temporary_.clear();
}

void ReplacementFile::Write(const void* data, std::size_t size)
{
    fault::Before(Operation::Write, temporary_);
    WriteAll(static_cast<int>(handle_), data, size);
}

void ReplacementFile::Commit()
{
    const int fd = static_cast<int>(handle_);
    if (targetExists_) {
        // Ownership can only be kept where the process may give it away.
        [[maybe_unused]] const int kept = ::fchown(fd, targetOwner_, targetGroup_);
        if (::fchmod(fd, targetMode_) != 0)
            RaiseErrno();
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        if (::fchmod(fd, 0666 & ~mask) != 0)
            RaiseErrno();
    }

    // A failed flush is final: the pages it could not write may already count
    // as clean, so a second try could report success for lost data.
    fault::Before(Operation::Sync, temporary_);
    if (::fsync(fd) != 0)
        RaiseErrno();

    if (!named_) {
        const std::string folder = FolderOf(target_);
        const std::string name = target_.substr(target_.find_last_of('/') + 1);
        std::random_device seed;
        std::mt19937 random(seed());
        for (int attempt = 0;; ++attempt) {
            fault::Before(Operation::Create, temporary_);
            if (NameUnnamed(fd, temporary_))
                break;
            if (attempt > 100)
                throw SystemError(EEXIST);
            temporary_ = folder + "/." + name + TemporaryMark + std::to_string(random() % 1000000000u) + TemporaryEnd;
        }
        named_ = true;
    }

    fault::Before(Operation::Close, temporary_);
    handle_ = -1;
    if (::close(fd) != 0 && errno != EINTR)
        RaiseErrno();

    fault::Before(Operation::Rename, target_);
    if (::rename(temporary_.c_str(), target_.c_str()) != 0)
        RaiseErrno();
    temporary_.clear();
    committed_ = true;

    SyncFolder(FolderOf(target_));
}

void CheckFreeSpace(const std::vector<SpaceNeed>& needs)
{
    struct Volume {
        std::uint64_t Needed = 0;
        std::uint64_t Available = 0;
    };
    std::map<dev_t, Volume> volumes;
    for (const SpaceNeed& need : needs) {
        if (need.Bytes == 0)
            continue;
        std::string folder;
        try {
            folder = FolderOf(ResolveLinks(need.Path));
        } catch (const Error&) {
            continue;
        }
        struct stat st { };
        if (::stat(folder.c_str(), &st) != 0)
            continue;
        Volume& volume = volumes[st.st_dev];
        if (volume.Needed == 0) {
            if (const auto injected = fault::FreeSpace(folder)) {
                volume.Available = *injected;
            } else {
                struct statvfs vfs { };
                // Where the free space cannot be known, the writes will tell.
                if (::statvfs(folder.c_str(), &vfs) != 0)
                    continue;
                volume.Available = static_cast<std::uint64_t>(vfs.f_bavail) * vfs.f_frsize;
            }
        }
        volume.Needed += need.Bytes;
        if (volume.Needed > volume.Available)
            throw SystemError(ENOSPC);
    }
}

} // namespace cryo
