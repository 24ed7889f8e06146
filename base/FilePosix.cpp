// POSIX implementation of the file layer.
#include "File.h"

#include "Error.h"
#include "FaultInjection.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <random>

#include <fcntl.h>
#include <sys/stat.h>
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
    struct stat st {};
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
        struct stat st {};
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

File::File(std::intptr_t handle, std::string path) : handle_(handle), path_(std::move(path)) {}

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

File::File(File&& other) noexcept : handle_(other.handle_), path_(std::move(other.path_))
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
    struct stat st {};
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
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool PathExists(const std::string& path)
{
    struct stat st {};
    return !path.empty() && path.find('\0') == std::string::npos && ::lstat(path.c_str(), &st) == 0;
}

void MakeFolder(const std::string& path)
{
    CheckName(path);
    fault::Before(Operation::Create, path);
    if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST)
        RaiseErrno();
    struct stat st {};
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
    struct stat st {};
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
    std::random_device seed;
    std::mt19937 random(seed());
    for (int attempt = 0;; ++attempt) {
        temporary_ = folder + "/." + name + ".cryoweaver-" + std::to_string(random() % 1000000000u) + ".tmp";
        fault::Before(Operation::Create, temporary_);
        CheckName(temporary_);
        const int fd = ::open(temporary_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            handle_ = fd;
            break;
        }
        if (errno != EEXIST || attempt > 100) {
            temporary_.clear();
            RaiseErrno();
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
    if (handle_ >= 0)
        ::close(static_cast<int>(handle_));
    handle_ = -1;
    if (!temporary_.empty())
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

    fault::Before(Operation::Sync, temporary_);
    if (::fsync(fd) != 0)
        RaiseErrno();

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

} // namespace cryo
