// The file layer's steps, the same on every system; FileSystem.h has the
// system calls they are made of.
#include "File.h"

#include "FaultInjection.h"
#include "FileSystem.h"

#include <random>

namespace cryo {

using fault::Operation;

namespace {

// Runs one step of the file layer; a failure names the file the user gave.
template <typename Step> auto Naming(const std::string& path, Step&& step) -> decltype(step())
{
    try {
        return step();
    } catch (FileError& error) {
        error.SetFile(path);
        throw;
    }
}

bool IsSeparator(char c)
{
#ifdef _WIN32
    return c == '/' || c == '\\';
#else
    return c == '/';
#endif
}

void WriteAll(sys::Handle handle, const void* data, std::size_t size)
{
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const std::size_t written = sys::WriteOnce(handle, bytes, size);
        bytes += written;
        size -= written;
    }
}

// A replacement's names while it has one: "." + target name + ".cryoweaver-"
// + digits + ".tmp" beside the target, and ".bak" for the old content while
// Windows swaps the two.
constexpr std::string_view TemporaryMark = ".cryoweaver-";
constexpr std::string_view TemporaryEnd = ".tmp";
constexpr std::string_view BackupEnd = ".bak";

std::string LeftoverPrefix(const std::string& name)
{
    return "." + name + std::string(TemporaryMark);
}

// A fresh temporary name for the target name in its folder.
std::string TemporaryName(const std::string& folder, const std::string& name)
{
    static std::mt19937 random(std::random_device{}());
    return folder + LeftoverPrefix(name) + std::to_string(random() % 1000000000u) + std::string(TemporaryEnd);
}

bool IsLeftoverOf(const std::string& entry, const std::string& name)
{
    const std::string prefix = LeftoverPrefix(name);
    if (entry.size() <= prefix.size() + TemporaryEnd.size() || entry.compare(0, prefix.size(), prefix) != 0)
        return false;
    const std::string_view end = std::string_view(entry).substr(entry.size() - TemporaryEnd.size());
    if (end != TemporaryEnd && end != BackupEnd)
        return false;
    return entry.find_first_not_of("0123456789", prefix.size()) == entry.size() - TemporaryEnd.size();
}

// Removes what earlier runs, stopped before their replacement was in place,
// left of this target's replacements. Best effort: nothing here fails the caller.
void RemoveLeftovers(const std::string& folder, const std::string& name)
{
    for (const std::string& entry : sys::FolderEntries(folder, LeftoverPrefix(name))) {
        if (!IsLeftoverOf(entry, name))
            continue;
        try {
            fault::Before(Operation::Remove, folder + entry);
        } catch (const Error&) {
            continue;
        }
        sys::RemoveIfUnused(folder + entry);
    }
}

} // namespace

std::string sys::FolderPrefix(const std::string& path)
{
    std::size_t end = path.size();
    while (end > 0 && !IsSeparator(path[end - 1]))
        --end;
#ifdef _WIN32
    if (end == 0 && path.size() >= 2 && path[1] == ':')
        end = 2;
#endif
    return path.substr(0, end);
}

File::File(std::intptr_t handle, std::string path)
    : handle_(handle)
    , path_(std::move(path))
{
}

File File::OpenExisting(const std::string& path)
{
    return Naming(path, [&] {
        fault::Before(Operation::Open, path);
        return File(sys::Open(path, sys::Access::ReadWrite), path);
    });
}

File File::OpenForReading(const std::string& path)
{
    return Naming(path, [&] {
        fault::Before(Operation::Open, path);
        return File(sys::Open(path, sys::Access::Read), path);
    });
}

File::File(File&& other) noexcept
    : handle_(other.handle_)
    , path_(std::move(other.path_))
{
    other.handle_ = sys::NoHandle;
}

File& File::operator=(File&& other) noexcept
{
    if (this != &other) {
        sys::CloseQuietly(handle_);
        handle_ = other.handle_;
        path_ = std::move(other.path_);
        other.handle_ = sys::NoHandle;
    }
    return *this;
}

File::~File()
{
    sys::CloseQuietly(handle_);
}

std::uint64_t File::Size()
{
    return Naming(path_, [&] {
        fault::Before(Operation::Size, path_);
        return sys::Size(handle_);
    });
}

void File::Seek(std::int64_t position)
{
    Naming(path_, [&] {
        fault::Before(Operation::Seek, path_);
        sys::Seek(handle_, position);
    });
}

std::size_t File::ReadSome(void* buffer, std::size_t size)
{
    return Naming(path_, [&] {
        fault::Before(Operation::Read, path_);
        auto* bytes = static_cast<char*>(buffer);
        std::size_t total = 0;
        while (total < size) {
            const std::size_t got = sys::ReadOnce(handle_, bytes + total, size - total);
            if (got == 0)
                break;
            total += got;
        }
        return total;
    });
}

FileError File::ReadBeyondEnd() const
{
    FileError error(FileError::Kind::ReadBeyondEnd, 0);
    error.SetFile(path_);
    return error;
}

void File::Write(const void* data, std::size_t size)
{
    Naming(path_, [&] {
        fault::Before(Operation::Write, path_);
        WriteAll(handle_, data, size);
    });
}

void File::Truncate(std::uint64_t size)
{
    Naming(path_, [&] {
        fault::Before(Operation::Truncate, path_);
        sys::Truncate(handle_, size);
    });
}

void File::Sync()
{
    Naming(path_, [&] {
        fault::Before(Operation::Sync, path_);
        sys::Sync(handle_);
    });
}

void File::Close()
{
    if (handle_ == sys::NoHandle)
        return;
    Naming(path_, [&] {
        fault::Before(Operation::Close, path_);
        const sys::Handle handle = handle_;
        handle_ = sys::NoHandle;
        sys::Close(handle);
    });
}

void MakeFolder(const std::string& path)
{
    Naming(path, [&] {
        fault::Before(Operation::Create, path);
        sys::MakeFolder(path);
    });
}

ReplacementFile::ReplacementFile(const std::string& path)
    : path_(path)
{
    Naming(path_, [&] {
        target_ = sys::ResolveLinks(path);
        // The target must be writable now, as if it were opened for a rewrite.
        fault::Before(Operation::Open, target_);
        targetStatus_ = sys::StatusOf(target_);
        if (targetStatus_)
            sys::Close(sys::Open(target_, sys::Access::Probe));

        folder_ = sys::FolderPrefix(target_);
        const std::string name = target_.substr(folder_.size());
        // With the target missing, a leftover may hold the only copy of its content.
        if (targetStatus_)
            RemoveLeftovers(folder_, name);

        temporary_ = TemporaryName(folder_, name);
        fault::Before(Operation::Create, temporary_);
#ifndef _WIN32
        if (fault::UnnamedFilesAllowed()) {
            handle_ = sys::CreateUnnamed(folder_);
            named_ = handle_ == sys::NoHandle;
        }
#endif
        for (int attempt = 0; handle_ == sys::NoHandle; ++attempt) {
            if (attempt > 100)
                throw sys::NameTaken();
            if (attempt > 0)
                temporary_ = TemporaryName(folder_, name);
            handle_ = sys::CreateExclusive(temporary_);
        }
    });
}

ReplacementFile::~ReplacementFile()
{
    if (committed_)
        return;
    sys::CloseQuietly(handle_);
    if (named_)
        sys::RemoveQuietly(temporary_);
}

void ReplacementFile::Write(const void* data, std::size_t size)
{
    Naming(path_, [&] {
        fault::Before(Operation::Write, temporary_);
        WriteAll(handle_, data, size);
    });
}

void ReplacementFile::Flush()
{
    if (flushed_)
        return;
    Naming(path_, [&] {
        sys::KeepStatus(handle_, targetStatus_);
        // A failed flush is final: the pages it could not write may already
        // count as clean, so a second try could report success for lost data.
        fault::Before(Operation::Sync, temporary_);
        sys::Sync(handle_);
#ifndef _WIN32
        if (!named_) {
            for (int attempt = 0;; ++attempt) {
                fault::Before(Operation::Create, temporary_);
                if (sys::Name(handle_, temporary_))
                    break;
                if (attempt > 100)
                    throw sys::NameTaken();
                temporary_ = TemporaryName(folder_, target_.substr(folder_.size()));
            }
            named_ = true;
        }
#endif
        fault::Before(Operation::Close, temporary_);
        const sys::Handle handle = handle_;
        handle_ = sys::NoHandle;
        sys::Close(handle);
        flushed_ = true;
    });
}

void ReplacementFile::Commit()
{
    Flush();
    Naming(path_, [&] {
        fault::Before(Operation::Rename, target_);
        sys::PutInPlace(temporary_, target_, targetStatus_.has_value());
        committed_ = true;
        fault::Before(Operation::Sync, folder_);
        sys::SyncFolder(folder_);
    });
}

} // namespace cryo
