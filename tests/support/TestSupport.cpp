#include "TestSupport.h"

#include "Error.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#ifndef _WIN32
#include <csignal>
#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace cryo::test {

namespace {

#ifndef _WIN32
constexpr uid_t UnprivilegedId = 65534; // nobody / nogroup
#endif

} // namespace

TempFolder::TempFolder()
{
    static int counter = 0;
    for (;;) {
        const fs::path candidate = fs::temp_directory_path()
            / ("cryoweaver-test-"
                + std::to_string(
#ifdef _WIN32
                    0
#else
                    ::getpid()
#endif
                    )
                + "-" + std::to_string(++counter));
        if (fs::create_directory(candidate)) {
            path_ = candidate.generic_string();
            break;
        }
    }
}

TempFolder::~TempFolder()
{
    std::error_code ignored;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
}

std::vector<std::string> TempFolder::Entries() const
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(path_))
        names.push_back(entry.path().filename().generic_string());
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
    Bytes bytes(StaIdxFileSize);
    for (std::size_t i = 0; i < table.Entries.size(); ++i)
        EncodeStaIdxEntry(table.Entries[i], &bytes[i * StaIdxRecordSize]);
    bytes.insert(bytes.end(), table.Trailing.begin(), table.Trailing.end());
    return bytes;
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

#ifndef _WIN32

void GiveToUnprivilegedUser(const std::string& path)
{
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(path.c_str(), UnprivilegedId, UnprivilegedId), 0) << path;
    }
}

std::string ErrorTextInChild(const ChildLimits& limits, const std::function<void()>& fn)
{
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0) {
        ADD_FAILURE() << "pipe failed";
        return "";
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeEnds[0]);
        if (limits.Unprivileged && ::geteuid() == 0) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(UnprivilegedId) != 0 || ::setuid(UnprivilegedId) != 0)
                ::_exit(3);
        }
        if (limits.FileSizeLimit >= 0) {
            // Writes past the limit then fail with an error instead of a signal.
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{static_cast<rlim_t>(limits.FileSizeLimit), static_cast<rlim_t>(limits.FileSizeLimit)};
            if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
                ::_exit(4);
        }
        std::string text;
        try {
            fn();
        } catch (const Error& error) {
            text = error.what();
        } catch (const std::exception& error) {
            text = std::string("unexpected exception: ") + error.what();
        }
        const char* data = text.data();
        std::size_t left = text.size();
        while (left > 0) {
            const ssize_t n = ::write(pipeEnds[1], data, left);
            if (n <= 0)
                break;
            data += n;
            left -= static_cast<std::size_t>(n);
        }
        ::_exit(0);
    }
    ::close(pipeEnds[1]);
    std::string text;
    char buffer[256];
    ssize_t n;
    while ((n = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<std::size_t>(n));
    ::close(pipeEnds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child failed, status " << status;
    return text;
}

#endif

} // namespace cryo::test
