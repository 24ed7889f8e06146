#include "TestSupport.h"

#include "Error.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#ifndef _WIN32
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace cryo::test {

TempFolder::TempFolder()
{
    static int counter = 0;
#ifdef _WIN32
    const int process = 0;
#else
    const int process = ::getpid();
#endif
    fs::path candidate;
    do
        candidate = fs::temp_directory_path()
            / ("cryoweaver-test-" + std::to_string(process) + "-" + std::to_string(++counter));
    while (!fs::create_directory(candidate));
    path_ = candidate.generic_string();
}

TempFolder::~TempFolder()
{
    std::error_code ignored;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
}

std::vector<std::string> TempFolder::EntriesOf(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().generic_string();
        if (!name.ends_with(".cryoweaver-lock") && name != ".cryoweaver-history")
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string CrLfLines(std::initializer_list<std::string> lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + "\r\n";
    return text;
}

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    EXPECT_TRUE(in.good()) << "cannot read " << path;
    // One read of the whole file: byte by byte is slow in unoptimised builds.
    Bytes bytes(static_cast<std::size_t>(std::max<std::streamoff>(in.tellg(), 0)));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
    return bytes;
}

std::string ReadText(const std::string& path)
{
    const Bytes bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

void WriteBytes(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << "cannot write " << path;
}

void WriteText(const std::string& path, const std::string& text)
{
    WriteBytes(path, Bytes(text.begin(), text.end()));
}

void SetReadOnly(const std::string& path)
{
    fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
}

Bytes IndexBytes(const StaIdx& table)
{
    Bytes bytes(table.Entries.size() * StaIdxRecordSize);
    for (std::size_t i = 0; i < table.Entries.size(); ++i)
        EncodeStaIdxEntry(table.Entries[i], &bytes[i * StaIdxRecordSize]);
    return bytes + table.Trailing;
}

Bytes ItemBytes(const std::vector<TStaticItem>& items)
{
    Bytes bytes(items.size() * StaticItemSize);
    for (std::size_t i = 0; i < items.size(); ++i)
        EncodeStaticItem(items[i], &bytes[i * StaticItemSize]);
    return bytes;
}

std::vector<TStaticItem> BlockItems(const TStaticBlock& block)
{
    return std::vector<TStaticItem>(block.Items.begin(), block.Items.begin() + block.Count);
}

std::string ErrorText(const std::function<void()>& fn)
{
    try {
        fn();
    } catch (const Error& error) {
        return error.what();
    }
    return "";
}

std::string ErrorLineOf(const std::function<void()>& fn)
{
    try {
        fn();
    } catch (const Error& error) {
        return ErrorLine(error);
    }
    return "";
}

#ifndef _WIN32

namespace {

constexpr uid_t UnprivilegedId = 65534; // nobody / nogroup

// In a child: the limits applied, or the child ends.
void Limit(const ChildLimits& limits)
{
    const uid_t user = limits.OtherUser >= 0 ? static_cast<uid_t>(limits.OtherUser) : UnprivilegedId;
    if (limits.Unprivileged && ::geteuid() == 0
        && (::setgroups(0, nullptr) != 0 || ::setgid(user) != 0 || ::setuid(user) != 0))
        ::_exit(3);
    if (limits.FileSizeLimit >= 0) {
        // Writes past the limit then fail with an error instead of a signal.
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{static_cast<rlim_t>(limits.FileSizeLimit), static_cast<rlim_t>(limits.FileSizeLimit)};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
            ::_exit(4);
    }
}

std::string Drain(int fd)
{
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(n));
    ::close(fd);
    return text;
}

// Runs body in a child whose standard output and error go to out and err.
pid_t Fork(int out, int err, const std::function<void()>& body)
{
    // Output buffered so far would otherwise be written by both processes.
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(out, STDOUT_FILENO);
        ::dup2(err, STDERR_FILENO);
        body();
        ::_exit(0);
    }
    return child;
}

// program, when given, is the program opened before the child dropped its
// rights: an unprivileged user may not reach the build folder (a clone in a
// private folder, say).
[[noreturn]] void Exec(const std::vector<std::string>& args, int program = -1)
{
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    if (program >= 0)
        ::fexecve(program, argv.data(), environ);
    else
        ::execv(argv[0], argv.data());
    ::_exit(127);
}

// Runs the program of args, or fn when there is one, in a child under the
// limits; fn's error text goes to standard output.
ProgramRun RunChild(const std::vector<std::string>& args, const ChildLimits& limits, const std::function<void()>& fn)
{
    int out[2];
    int err[2];
    if (::pipe(out) != 0 || ::pipe(err) != 0)
        ADD_FAILURE() << "pipe failed";
    const pid_t child = Fork(out[1], err[1], [&] {
        ::close(out[0]);
        ::close(err[0]);
        const int program = fn ? -1 : ::open(args.at(0).c_str(), O_RDONLY | O_CLOEXEC);
        Limit(limits);
        if (!fn)
            Exec(args, program);
        std::string text;
        try {
            fn();
        } catch (const Error& error) {
            text = error.what();
        } catch (const std::exception& error) {
            text = std::string("unexpected exception: ") + error.what();
        }
        for (std::size_t done = 0; done < text.size();) {
            const ssize_t n = ::write(STDOUT_FILENO, text.data() + done, text.size() - done);
            if (n <= 0)
                break;
            done += static_cast<std::size_t>(n);
        }
    });
    ::close(out[1]);
    ::close(err[1]);
    ProgramRun run;
    // Small outputs: the pipes cannot fill before both are read.
    run.Err = Drain(err[0]);
    run.Out = Drain(out[0]);
    run.Status = WaitForProgram(child);
    return run;
}

} // namespace

void GiveToUnprivilegedUser(const std::string& path)
{
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(path.c_str(), UnprivilegedId, UnprivilegedId), 0) << path;
    }
}

std::string ErrorTextInChild(const ChildLimits& limits, const std::function<void()>& fn)
{
    const ProgramRun run = RunInChild(fn, limits);
    EXPECT_EQ(run.Status, 0) << "child failed: " << run.Err;
    return run.Out;
}

ProgramRun RunProgram(const std::vector<std::string>& args, const ChildLimits& limits)
{
    return RunChild(args, limits, nullptr);
}

ProgramRun RunInChild(const std::function<void()>& fn, const ChildLimits& limits)
{
    return RunChild({}, limits, fn);
}

int StartProgram(const std::vector<std::string>& args, const std::string& output)
{
    const int out
        = ::open(output.empty() ? "/dev/null" : output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const pid_t child = Fork(out, out, [&] { Exec(args); });
    ::close(out);
    return child;
}

int WaitForProgram(int process)
{
    int status = 0;
    if (::waitpid(process, &status, 0) != process || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

#endif

} // namespace cryo::test
