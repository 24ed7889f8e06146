#pragma once

// The system calls of the file layer, one small part per platform
// (FilePosix.cpp, FileWindows.cpp). File.cpp builds files and replacements
// from them; nothing else includes this header. Failures are raised as
// FileError; the caller adds the file's name.

#include "Error.h"
#include "File.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cryo::sys {

using Handle = std::intptr_t;
constexpr Handle NoHandle = -1;

enum class Access {
    Read, // text files: others may also rename or delete them meanwhile
    ReadWrite, // binary files, even when they are only read
    Probe, // for writing, only to learn whether that is allowed
};

// An existing file; a folder is refused, as is a read-only file for writing.
Handle Open(const std::string& path, Access access);
// A new file under a name nobody uses, open for reading and writing and held
// so that no other run takes it for a leftover; NoHandle when the name is taken.
Handle CreateExclusive(const std::string& path);
void Close(Handle handle);
void CloseQuietly(Handle handle) noexcept;

std::uint64_t Size(Handle handle);
void Seek(Handle handle, std::int64_t position);
// One read: fewer bytes than asked only at the end of the file, 0 there.
std::size_t ReadOnce(Handle handle, void* buffer, std::size_t size);
// One write of at least one byte; a disk that takes nothing is full.
std::size_t WriteOnce(Handle handle, const void* data, std::size_t size);
// Changes the size and keeps the position.
void Truncate(Handle handle, std::uint64_t size);
void Sync(Handle handle);

// The status of the file at path, links followed; nothing when there is none.
std::optional<FileStatus> StatusOf(const std::string& path);
// The file that a path names once symbolic links are followed.
std::string ResolveLinks(const std::string& path);

// Gives a replacement's content the old file's permissions (or, for a new
// file, the usual ones) before it is flushed.
void KeepStatus(Handle handle, const std::optional<FileStatus>& old);
// Puts the temporary file in place of the target in one step.
void PutInPlace(const std::string& temporary, const std::string& target, bool targetExists);
// Makes a rename in the folder durable, where the system needs that.
void SyncFolder(const std::string& folderPrefix);

// Names in the folder that begin with prefix.
std::vector<std::string> FolderEntries(const std::string& folderPrefix, const std::string& prefix);
// Removes the leftover at path unless it is a link, a folder or still in use.
void RemoveIfUnused(const std::string& path) noexcept;
void RemoveQuietly(const std::string& path) noexcept;

#ifndef _WIN32
// A file in the folder without a name (Linux), which vanishes by itself if the
// process stops; NoHandle where the system or the file system has none.
Handle CreateUnnamed(const std::string& folderPrefix);
// Gives an unnamed file a name; false when the name is taken.
bool Name(Handle handle, const std::string& path);
#endif

// Creates the folder unless it exists; a file in its place is not found.
void MakeFolder(const std::string& path);

// A name that random attempts kept finding taken.
FileError NameTaken();

// Shared by both parts: the folder part of a path with its separator ("" for
// a bare name).
std::string FolderPrefix(const std::string& path);

} // namespace cryo::sys
