#pragma once

#include "Error.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cryo {

// What tells whether a file is still the one that was read.
struct FileIdentity {
    std::uint64_t Device = 0; // the volume's serial number on Windows
    std::uint64_t Id = 0; // the inode, or the file index on Windows
    std::uint64_t Size = 0;
    std::int64_t Modified = 0; // nanoseconds
    std::int64_t Changed = 0; // the status change time, in nanoseconds

    bool operator==(const FileIdentity&) const = default;
    // The same file of the same size: what tells an old file from its
    // replacement, whose times a rename or a second name may move.
    bool SameFile(const FileIdentity& other) const
    {
        return Device == other.Device && Id == other.Id && Size == other.Size;
    }
};

// What a replacement keeps of the file it replaces (its permissions and owner).
struct FileStatus {
    enum class Kind { File, Folder, Other };

    FileIdentity Identity;
    Kind Type = Kind::File;
    std::uint32_t Mode = 0; // POSIX permission bits, or Windows attributes
    std::uint32_t Owner = 0;
    std::uint32_t Group = 0;
};

// The one place that talks to the operating system about files. Every failure
// is raised as a FileError with the user-facing text and the path it concerns.
class File {
public:
    // An existing file, opened for reading and writing even when it is only read,
    // so a read-only file fails with "File access denied". Other processes may
    // read and write it meanwhile. Nothing is created. A folder, a device or a
    // pipe is refused at once, without waiting for a writer.
    static File OpenExisting(const std::string& path);

    // An existing file opened for reading only, as text files are.
    static File OpenForReading(const std::string& path);

    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File();

    std::uint64_t Size();
    FileIdentity Identity();
    // Positioning beyond the end is no error; the next read fails, as it does
    // before the start.
    void Seek(std::int64_t position);
    // Reads up to size bytes, fewer only at the end of the file.
    std::size_t ReadSome(void* buffer, std::size_t size);
    // "Read beyond end of file" for this file, for a reader that found a record cut short.
    FileError ReadBeyondEnd() const;
    void Write(const void* data, std::size_t size);
    void Truncate(std::uint64_t size);
    // Flushes the file's data to the disk.
    void Sync();
    // Starts writing the bytes [offset, offset + size) to the disk without
    // waiting, so that a large write's Sync has little left to wait for
    // (a size of 0: to the end).
    void StartSync(std::uint64_t offset, std::uint64_t size) noexcept;
    // Closes and reports a failed close; the destructor closes silently.
    void Close();

    const std::string& path() const { return path_; }

private:
    File(std::intptr_t handle, std::string path);

    std::intptr_t handle_;
    std::string path_;
};

// The identity of the file at path, links followed; "File not found" when
// there is none.
FileIdentity IdentityOf(const std::string& path);

// The error for a file that another program changed since it was read.
Error ChangedMeanwhile(const std::string& path);

// True for an existing file that is not a folder.
bool FileExists(const std::string& path);

// Whether path names an existing file that one of others names too (another
// name, a link, another spelling of the folder).
bool IsOneOfFiles(const std::string& path, const std::vector<std::string>& others);

// True for an existing folder, links followed.
bool FolderExists(const std::string& path);

// True for anything at path, folder or file.
bool PathExists(const std::string& path);

// Creates the folder unless it exists already.
void MakeFolder(const std::string& path);

// Whether the standard error stream is an interactive terminal.
bool StandardErrorIsTerminal();

// A file's new content, written beside it and put in its place only by Commit
// (or by a Commit of several files, Commit.h), so that an error at any point
// leaves the old file as it was. The target must either not exist or be a
// writable file; anything else fails before anything is written. A path that is
// a symbolic link replaces the link's target. The replaced file keeps its
// permissions, owner and group; where the owner cannot be kept, the flush fails
// with "File access denied". The new content is flushed to the disk before it
// takes the target's name, and the folder after. No temporary file outlives the
// replacement: where the system allows, it has no name until it is flushed (so
// a killed process leaves nothing); a name left by a run stopped after that is
// removed by the next replacement of the same target.
class ReplacementFile {
public:
    explicit ReplacementFile(const std::string& path);
    // For a dry run: the target is checked as above, but nothing is written
    // anywhere, and the replacement cannot be committed.
    struct Discarding { };
    ReplacementFile(const std::string& path, Discarding);
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;
    // Removes the temporary file unless Commit succeeded.
    ~ReplacementFile();

    void Write(const void* data, std::size_t size);
    // As File::StartSync, for the new content.
    void StartSync(std::uint64_t offset, std::uint64_t size) noexcept;
    // The new content is the file at kept, on the target's volume: a second
    // name of it where the system has them, so that the target becomes that
    // very file again, or else a copy.
    void TakeContentOf(const std::string& kept);
    // A new file takes the owner, group and permissions of the file at model
    // (for a folder, its permissions without the right to run), as far as
    // this user may give them; an existing target keeps its own.
    void ModelOn(const std::string& model);
    // Flushes the new content to the disk under a temporary name beside the
    // target; the target is not touched yet. Several replacements can thus all
    // be complete on disk before the first is put in place.
    void Flush();
    // Flushes the new content unless Flush did, and puts it in place of the target.
    void Commit();

    // True once the new content is in place, even if a later step failed.
    bool Committed() const { return committed_; }

    const std::string& path() const { return path_; }

private:
    friend class Commit;

    std::string path_; // as the caller named it: errors show this one
    std::string target_; // links followed
    std::string folder_;
    std::string temporary_;
    std::optional<FileStatus> targetStatus_; // none for a new file
    std::optional<FileStatus> model_; // what a new file takes its owner from
    FileIdentity newIdentity_; // of the flushed new content
    std::intptr_t handle_ = -1;
    bool named_ = true; // false while the new content has no name yet
    bool flushed_ = false;
    bool committed_ = false;
    bool discarding_ = false;

    void CheckTarget();
};

} // namespace cryo
