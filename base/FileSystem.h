#pragma once

// The system calls of the file layer, one small part per platform
// (FilePosix.cpp, FileWindows.cpp). File.cpp builds files and replacements
// from them; nothing else includes this header. Failures are raised as
// FileError; the caller adds the file's name.

#include "Error.h"
#include "File.h"
#include "Interrupt.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cryo::sys {

using Handle = std::intptr_t;
constexpr Handle NoHandle = -1;

enum class Access {
    Read, // text files: others may also rename or delete them meanwhile
    ReadWrite, // binary files, even when they are only read
    Probe, // for writing, only to learn whether that is allowed
};

// An existing file; a folder, a device or a pipe is refused without waiting,
// as is a read-only file for writing.
Handle Open(const std::string& path, Access access);
// A new file under a name nobody uses, open for reading and writing and held
// so that no other run takes it for a leftover; NoHandle when the name is taken.
Handle CreateExclusive(const std::string& path);
void Close(Handle handle);
void CloseQuietly(Handle handle) noexcept;

std::uint64_t Size(Handle handle);
FileIdentity Identity(Handle handle);
void Seek(Handle handle, std::int64_t position);
// One read: fewer bytes than asked only at the end of the file, 0 there.
std::size_t ReadOnce(Handle handle, void* buffer, std::size_t size);
// One write of at least one byte; a disk that takes nothing is full.
std::size_t WriteOnce(Handle handle, const void* data, std::size_t size);
// Changes the size and keeps the position.
void Truncate(Handle handle, std::uint64_t size);
void Sync(Handle handle);
// Starts writing a range of the file to the disk, without waiting: a hint,
// whose failures the next Sync reports. A size of 0 means to the end.
void StartSync(Handle handle, std::uint64_t offset, std::uint64_t size) noexcept;

// The status of the file at path, links followed; nothing when there is none.
std::optional<FileStatus> StatusOf(const std::string& path);
// The file that a path names once symbolic links are followed.
std::string ResolveLinks(const std::string& path);

// Gives a replacement's content the old file's permissions, owner and group
// (or, for a new file, the usual permissions) before it is flushed; an owner
// or group that cannot be given is "File access denied".
void KeepStatus(Handle handle, const std::optional<FileStatus>& old);
// Gives a new file the owner, group and permissions of a model file (a
// folder's without the right to run), as far as this user may.
void TakeStatusOf(Handle handle, const FileStatus& model);
// "File access denied" when this user may not rename over the target in its
// folder (a sticky folder that is not the user's, holding another's file).
void CheckReplaceable(const std::string& target, const FileStatus& status);
// Gives the old file a second name, its backup, before the new one takes its
// place; false where the file system has no second names, or where
// PutInPlace makes the backup itself (Windows).
bool LinkBackup(const std::string& target, const std::string& backup);
// Puts the temporary file in place of the target in one step. With a backup
// name that LinkBackup did not give, the old file gets that name in the same
// step (or, without second names, just before).
void PutInPlace(const std::string& temporary, const std::string& target, const std::string& backup, bool backupLinked);
// Gives from the name to, replacing whatever has it.
void Rename(const std::string& from, const std::string& to);
// Makes a rename in the folder durable, where the system needs that.
void SyncFolder(const std::string& folderPrefix);

// Names in the folder that begin with prefix.
std::vector<std::string> FolderEntries(const std::string& folderPrefix, const std::string& prefix);
// Removes the leftover at path unless it is a link, a folder or still in use.
void RemoveIfUnused(const std::string& path) noexcept;
void RemoveQuietly(const std::string& path) noexcept;
// Removes the folder if it is empty.
void RemoveFolderQuietly(const std::string& path) noexcept;

#ifndef _WIN32
// A file in the folder without a name (Linux), which vanishes by itself if the
// process stops; NoHandle where the system or the file system has none.
Handle CreateUnnamed(const std::string& folderPrefix);
// Gives an unnamed file a name; false when the name is taken.
bool Name(Handle handle, const std::string& path);
#endif

// Creates the folder unless it exists; a file in its place is not found.
void MakeFolder(const std::string& path);

// A lock file, opened (and made, if it is missing) to be locked; never a link.
// "File access denied" where it can be neither made nor opened.
Handle OpenLockFile(const std::string& path);
// Takes the exclusive lock of an open lock file without waiting; false while
// another holder has it. The system lets go of it when the process ends.
bool TryLock(Handle handle);

// The path from the root: journals name files wherever the next run starts.
std::string AbsolutePath(const std::string& path);

// Lower-cases the name where the file system ignores case.
std::string NameKey(const std::string& name);

// A name that random attempts kept finding taken.
FileError NameTaken();

// A name for a file kept beside a target while it is replaced (a temporary
// file, a backup, a journal): ".cryoweaver-" + 8 hexadecimal digits of the
// target's name + "-" + 8 random ones + end, short whatever the target's name.
std::string SideFileName(const std::string& folderPrefix, const std::string& name, std::string_view end);
// The part of such names that every one made for the target name shares.
std::string SideFilePrefix(const std::string& name);
// Removes the temporary files and backups that stopped runs left of targets
// of this name in the folder (of any name, for an empty one), unless a run
// still holds them. Best effort: nothing here fails the caller.
void RemoveLeftovers(const std::string& folderPrefix, const std::string& name);

// Shared by both parts: the folder part of a path with its separator ("" for
// a bare name).
std::string FolderPrefix(const std::string& path);

// Runs one step of the file layer, unless the run is to stop; a failure names
// the file the user gave.
template <typename Step> auto Naming(const std::string& path, Step&& step) -> decltype(step())
{
    try {
        interrupt::ThrowIfRequested();
        return step();
    } catch (FileError& error) {
        error.SetFile(path);
        throw;
    }
}

inline void WriteAll(Handle handle, const void* data, std::size_t size)
{
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const std::size_t written = WriteOnce(handle, bytes, size);
        bytes += written;
        size -= written;
    }
}

} // namespace cryo::sys
