#pragma once

#include "Reporter.h"
#include "StaIdx.h"
#include "StaticBlock.h"
#include "StaticsFiles.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

namespace cryo::test {

using Bytes = std::vector<unsigned char>;

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

    // Names of everything in the folder, sorted, but the lock files that runs
    // leave beside the files they change and the history of completed ones.
    std::vector<std::string> Entries() const { return EntriesOf(path_); }
    static std::vector<std::string> EntriesOf(const std::string& folder);

private:
    std::string path_;
};

// The lines, each ended with CR LF, as the world save holds them.
std::string CrLfLines(std::initializer_list<std::string> lines);

// The bytes of a followed by those of b (tests bring it in with a using-declaration).
Bytes operator+(Bytes a, const Bytes& b);

Bytes ReadBytes(const std::string& path);
std::string ReadText(const std::string& path);
void WriteBytes(const std::string& path, const Bytes& bytes);
void WriteText(const std::string& path, const std::string& text);
void SetReadOnly(const std::string& path);

// The bytes of an index file holding the table.
Bytes IndexBytes(const StaIdx& table);
// The records of the items, as the statics file stores them.
Bytes ItemBytes(const std::vector<TStaticItem>& items);
// The items a block holds, in order.
std::vector<TStaticItem> BlockItems(const TStaticBlock& block);

// Records everything reported, in order.
class RecordingReporter final : public Reporter {
public:
    void Log(std::string_view line) override { Lines.emplace_back(line); }
    void SetProgress(int position) override { Progress.push_back(position); }
    void Flush() override { ++Flushes; }

    std::vector<std::string> Lines;
    std::vector<int> Progress;
    int Flushes = 0;
};

// The message of the Error that fn throws, or "" when it throws none.
std::string ErrorText(const std::function<void()>& fn);
// The same error as the command line shows it, with its file and place.
std::string ErrorLineOf(const std::function<void()>& fn);

// Runs fn in a child process under limits that root would otherwise pass: with
// Unprivileged the child drops to an unprivileged user (when run as root), with
// FileSizeLimit it may write no file beyond that many bytes. Returns the error
// text fn raised, "" when it raised none; a crash fails the test.
struct ChildLimits {
    bool Unprivileged = false;
    // With Unprivileged: this user id instead of the usual unprivileged user,
    // whose processes the child then may not look into.
    int OtherUser = -1;
    std::int64_t FileSizeLimit = -1;
};
std::string ErrorTextInChild(const ChildLimits& limits, const std::function<void()>& fn);

// Gives the file to the user that ErrorTextInChild switches to.
void GiveToUnprivilegedUser(const std::string& path);

// A program run to its end: its exit status (-1 when a signal ended it) and output.
struct ProgramRun {
    int Status = -1;
    std::string Out;
    std::string Err;
};
ProgramRun RunProgram(const std::vector<std::string>& args, const ChildLimits& limits = {});
// Runs fn in a child the same way; the error text fn raised is its output.
ProgramRun RunInChild(const std::function<void()>& fn, const ChildLimits& limits = {});
// Starts a program with its output and errors written to the file output, or
// discarded; returns its process id.
int StartProgram(const std::vector<std::string>& args, const std::string& output = {});
// Waits for a started program: its exit status, -1 when a signal ended it.
int WaitForProgram(int process);

} // namespace cryo::test
