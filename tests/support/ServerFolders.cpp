#include "ServerFolders.h"

#include "WorldGen.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#ifndef _WIN32
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace cryo::test {

const char* const TestIni = "[system]\r\n"
                            "SERVERNAME=Test Shard\r\n"
                            "[directories]\r\n"
                            "DATADIRECTORY={client}/\r\n"
                            "DEFSDIRECTORY=./dfndata/\r\n"
                            "SHAREDDIRECTORY=./shared/\r\n"
                            "[settings]\r\n"
                            "MAPDIFFSENABLED=0\r\n";

const char* const TestMaps = "// the maps of the test shard\n"
                             "[MAP 0]\n"
                             "{\n"
                             "MAP=map0.mul\n"
                             "STATICS=statics0.mul\n"
                             "STAIDX=staidx0.mul\n"
                             "X=6144\n"
                             "Y=4096\n"
                             "}\n"
                             "\n"
                             "[MAP 2]\n"
                             "{\n"
                             "STATICS=custom-statics.mul\n"
                             "STAIDX=custom-index.mul\n"
                             "X=512\n"
                             "Y=256\n"
                             "}\n";

TestServer::TestServer()
{
    fs::create_directories(MapsDfn().substr(0, MapsDfn().rfind('/')));
    fs::create_directory(Shared());
    fs::create_directory(Client());
    WriteIni(TestIni);
    WriteMaps(TestMaps);
    WriteStatics("staidx0.mul", "statics0.mul", {768, 512});
    WriteStatics("custom-index.mul", "custom-statics.mul", {64, 32});
}

void TestServer::WriteIni(const std::string& text) const
{
    WriteText(Ini(), std::regex_replace(text, std::regex("\\{client\\}"), Client()));
}

void TestServer::WriteMaps(const std::string& text) const
{
    WriteText(MapsDfn(), text);
}

void TestServer::WriteStatics(const std::string& staIdx, const std::string& statics, MapBlocks size) const
{
    WriteBytes(Client() + "/" + staIdx, IndexBytes(worldgen::EmptyIndex(size)));
    WriteBytes(Client() + "/" + statics, {});
}

std::map<std::string, Bytes> TestServer::Files() const
{
    std::map<std::string, Bytes> files;
    for (const auto& entry : fs::recursive_directory_iterator(Root()))
        files[entry.path().generic_string()] = entry.is_regular_file() ? ReadBytes(entry.path().string()) : Bytes{};
    return files;
}

#ifndef _WIN32
RunningProgram::RunningProgram(const std::string& name, const std::string& folder, int user)
{
    const std::string program = bin_ / name;
    fs::copy_file("/bin/sleep", program);
    fs::permissions(program,
        fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec | fs::perms::group_read
            | fs::perms::others_read);
    // The exec closes the pipe: once it reads the end, the program runs.
    int ready[2];
    EXPECT_EQ(::pipe2(ready, O_CLOEXEC), 0);
    process_ = ::fork();
    if (process_ == 0) {
        if (::chdir(folder.c_str()) != 0)
            ::_exit(126);
        if (::geteuid() == 0
            && (::setgroups(0, nullptr) != 0 || ::setgid(static_cast<gid_t>(user)) != 0
                || ::setuid(static_cast<uid_t>(user)) != 0))
            ::_exit(125);
        ::execl(program.c_str(), name.c_str(), "600", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(ready[1]);
    char byte;
    while (::read(ready[0], &byte, 1) > 0) { }
    ::close(ready[0]);
    int status = 0;
    EXPECT_EQ(::waitpid(process_, &status, WNOHANG), 0) << name << " did not start in " << folder;
}

RunningProgram::~RunningProgram()
{
    if (process_ > 0) {
        ::kill(process_, SIGKILL);
        ::waitpid(process_, nullptr, 0);
    }
}
#endif

} // namespace cryo::test
