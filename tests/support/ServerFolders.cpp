#include "ServerFolders.h"

#include "WorldGen.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <tuple>

#ifndef _WIN32
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace cryo::test {

const char* const TestIni
    = "[system]\r\nSERVERNAME=Test Shard\r\n[directories]\r\nDATADIRECTORY={client}/\r\n"
      "DEFSDIRECTORY=./dfndata/\r\nSHAREDDIRECTORY=./shared/\r\n[settings]\r\nMAPDIFFSENABLED=0\r\n";

const char* const TestMaps = "// the maps of the test shard\n[MAP 0]\n{\nMAP=map0.mul\nSTATICS=statics0.mul\n"
                             "STAIDX=staidx0.mul\nX=6144\nY=4096\n}\n\n[MAP 2]\n{\nSTATICS=custom-statics.mul\n"
                             "STAIDX=custom-index.mul\nX=512\nY=256\n}\n";

TestServer::TestServer()
{
    fs::create_directories(MapsDfn().substr(0, MapsDfn().rfind('/')));
    fs::create_directory(Shared());
    fs::create_directory(Client());
    WriteIni(TestIni);
    WriteMaps(TestMaps);
    for (const auto& [index, statics, size] : {std::tuple{"staidx0.mul", "statics0.mul", MapBlocks{768, 512}},
             std::tuple{"custom-index.mul", "custom-statics.mul", MapBlocks{64, 32}}}) {
        WriteBytes(Client() + "/" + index, IndexBytes(worldgen::EmptyIndex(size)));
        WriteBytes(Client() + "/" + statics, {});
    }
}

void TestServer::WriteIni(const std::string& text) const
{
    WriteText(Ini(), std::regex_replace(text, std::regex("\\{client\\}"), Client()));
}

void TestServer::WriteMaps(const std::string& text) const
{
    WriteText(MapsDfn(), text);
}

std::map<std::string, Bytes> TestServer::Files() const
{
    std::map<std::string, Bytes> files;
    for (const auto& entry : fs::recursive_directory_iterator(Root()))
        files[entry.path().generic_string()] = entry.is_regular_file() ? ReadBytes(entry.path().string()) : Bytes{};
    return files;
}

#ifndef _WIN32
RunningProgram::RunningProgram(const std::string& name, const std::string& folder)
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
        if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(125);
        ::execl(program.c_str(), name.c_str(), "600", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(ready[1]);
    char byte;
    while (::read(ready[0], &byte, 1) > 0) { }
    ::close(ready[0]);
    EXPECT_EQ(::waitpid(process_, nullptr, WNOHANG), 0) << name << " did not start in " << folder;
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
