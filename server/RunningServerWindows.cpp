// The processes of a Windows system, from its process list: a process's
// working folder cannot be read from outside, so the folder of its program
// stands for it (the server runs from the folder uox3.exe lies in).
#include "RunningServer.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// After windows.h, which they need.
#include <tlhelp32.h>

namespace cryo::sys {

namespace {

std::wstring Wide(const std::string& utf8)
{
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), length);
    return wide;
}

std::string Utf8(const std::wstring& wide)
{
    const int length
        = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(
        CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), length, nullptr, nullptr);
    return utf8;
}

// The full path of a process's program; empty when this user may not ask.
std::string ImagePath(DWORD id)
{
    const HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
    if (process == nullptr)
        return {};
    std::wstring path(32768, L'\0');
    DWORD length = static_cast<DWORD>(path.size());
    const bool known = ::QueryFullProcessImageNameW(process, 0, path.data(), &length) != 0;
    ::CloseHandle(process);
    if (!known)
        return {};
    path.resize(length);
    return Utf8(path);
}

struct FolderId {
    DWORD Volume = 0;
    DWORD High = 0;
    DWORD Low = 0;
};

bool IdOf(const std::string& path, FolderId& id)
{
    const HANDLE handle = ::CreateFileW(Wide(path).c_str(), FILE_READ_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
        nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION information{};
    const bool known = ::GetFileInformationByHandle(handle, &information) != 0;
    ::CloseHandle(handle);
    if (!known || (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return false;
    id = {information.dwVolumeSerialNumber, information.nFileIndexHigh, information.nFileIndexLow};
    return true;
}

} // namespace

std::vector<ServerProcess> ServerProcesses()
{
    std::vector<ServerProcess> found;
    const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return found;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    const DWORD self = ::GetCurrentProcessId();
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry)) {
        const std::string program = Utf8(entry.szExeFile);
        if (entry.th32ProcessID == self || !IsServerProgram(program))
            continue;
        const std::string image = ImagePath(entry.th32ProcessID);
        const std::size_t separator = image.find_last_of("\\/");
        std::string folder = separator == std::string::npos ? std::string() : image.substr(0, separator);
        if (folder.size() == 2 && folder[1] == ':')
            folder += '\\'; // the root of a drive
        found.push_back({static_cast<std::int64_t>(entry.th32ProcessID), program, folder, folder});
    }
    ::CloseHandle(snapshot);
    return found;
}

bool SameFolder(const std::string& a, const std::string& b)
{
    FolderId first;
    FolderId second;
    return IdOf(a, first) && IdOf(b, second) && first.Volume == second.Volume && first.High == second.High
        && first.Low == second.Low;
}

} // namespace cryo::sys
