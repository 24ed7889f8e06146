#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace cryo {

// The one place that talks to the operating system about files. Every failure
// is raised as a FileError with the user-facing text.
class File {
public:
    // An existing file, opened for reading and writing even when it is only read,
    // so a read-only file fails with "File access denied". Other processes may
    // read and write it meanwhile. Nothing is created.
    static File OpenExisting(const std::string& path);

    // An existing file opened for reading only, as text files are.
    static File OpenForReading(const std::string& path);

    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File();

    std::uint64_t Size();
    // Positioning beyond the end is no error; the next read fails.
    void Seek(std::int64_t position);
    // Reads up to size bytes, fewer only at the end of the file.
    std::size_t ReadSome(void* buffer, std::size_t size);
    // Reads exactly size bytes or raises "Read beyond end of file".
    void ReadExact(void* buffer, std::size_t size);
    void Write(const void* data, std::size_t size);
    void Truncate(std::uint64_t size);
    // Flushes the file's data to the disk.
    void Sync();
    // Closes and reports a failed close; the destructor closes silently.
    void Close();

    const std::string& path() const { return path_; }

private:
    File(std::intptr_t handle, std::string path);

    std::intptr_t handle_;
    std::string path_;
};

// True for an existing file that is not a folder.
bool FileExists(const std::string& path);

// True for anything at path, folder or file.
bool PathExists(const std::string& path);

// Creates the folder unless it exists already.
void MakeFolder(const std::string& path);

// Whether the standard error stream is an interactive terminal.
bool StandardErrorIsTerminal();

// A file's new content, written beside it and put in its place only by Commit,
// so that an error at any point leaves the old file as it was. The target must
// either not exist or be writable; a read-only target fails with
// "File access denied" before anything is written. A path that is a symbolic
// link replaces the link's target. The replaced file keeps its permissions.
// The new content is flushed to the disk before it takes the target's name,
// and the folder after. No temporary file outlives the replacement: where the
// system allows, it has no name until Commit (so a killed process leaves
// nothing); a name left by a run stopped during Commit is removed by the next
// replacement of the same target.
class ReplacementFile {
public:
    explicit ReplacementFile(const std::string& path);
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;
    // Removes the temporary file unless Commit succeeded.
    ~ReplacementFile();

    void Write(const void* data, std::size_t size);
    // Flushes the new content to the disk and puts it in place of the target.
    void Commit();

    // True once the new content is in place, even if a later step failed.
    bool Committed() const { return committed_; }

private:
    void Discard() noexcept;

    std::string target_;
    std::string temporary_;
    std::intptr_t handle_ = -1;
    bool named_ = true; // false while the new content has no name yet
    bool committed_ = false;
    bool targetExists_ = false;
    std::uint32_t targetMode_ = 0;
    std::uint32_t targetOwner_ = 0;
    std::uint32_t targetGroup_ = 0;
};

// Bytes about to be written beside a file: a replacement's new content, or
// what is appended to it.
struct SpaceNeed {
    std::string Path;
    std::uint64_t Bytes = 0;
};

// Raises "Disk full" before anything is written when the disks holding the
// files have less free space than the needs add up to on each of them. Where
// the free space cannot be known, nothing is raised.
void CheckFreeSpace(const std::vector<SpaceNeed>& needs);

} // namespace cryo
