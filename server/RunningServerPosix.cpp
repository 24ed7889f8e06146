// The processes of a Linux system, from /proc.
#include "RunningServer.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <fstream>

namespace cryo::sys {

namespace {

// What a link of /proc points to; empty when it cannot be read. A deleted
// program or folder reads "... (deleted)".
std::string LinkText(const std::string& path)
{
    std::string text(PATH_MAX, '\0');
    const ssize_t length = ::readlink(path.c_str(), text.data(), text.size());
    if (length <= 0)
        return {};
    text.resize(static_cast<std::size_t>(length));
    if (text.ends_with(" (deleted)"))
        text.resize(text.size() - 10);
    return text;
}

std::string BaseName(const std::string& path)
{
    return path.substr(path.find_last_of('/') + 1);
}

// Its name as the system keeps it (the program's name, cut to 15 bytes, or
// the name a program under Wine runs as, "uox3.exe").
std::string CommandName(const std::string& process)
{
    std::ifstream file(process + "/comm");
    std::string name;
    std::getline(file, name);
    return name;
}

} // namespace

std::vector<ServerProcess> ServerProcesses()
{
    std::vector<ServerProcess> found;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr)
        return found;
    const long self = static_cast<long>(::getpid());
    while (const dirent* entry = ::readdir(proc)) {
        const std::string id = entry->d_name;
        if (id.empty() || id.find_first_not_of("0123456789") != std::string::npos || std::stol(id) == self)
            continue;
        const std::string process = "/proc/" + id;
        std::string program = BaseName(LinkText(process + "/exe"));
        if (!IsServerProgram(program))
            program = CommandName(process);
        if (!IsServerProgram(program))
            continue;
        struct stat folder { };
        if (::stat((process + "/cwd").c_str(), &folder) != 0) {
            if (errno != EACCES && errno != EPERM)
                continue; // ended meanwhile, or a zombie
            found.push_back({std::stoll(id), program, {}, {}});
            continue;
        }
        std::string where = LinkText(process + "/cwd");
        found.push_back({std::stoll(id), program, where.empty() ? process + "/cwd" : where, process + "/cwd"});
    }
    ::closedir(proc);
    return found;
}

bool SameFolder(const std::string& a, const std::string& b)
{
    struct stat first { };
    struct stat second { };
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 && S_ISDIR(first.st_mode)
        && first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

} // namespace cryo::sys
