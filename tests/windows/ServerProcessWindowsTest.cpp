// A UOX3 server on Windows: found in the process list by its program's name
// and folder.
#include "RunningServer.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <filesystem>
#include <string>

namespace cryo::test {
namespace {

// A copy of this test program under another name, started suspended in its
// folder, so that it does nothing until it is ended.
class SuspendedProgram {
public:
    SuspendedProgram(const std::string& folder, const std::string& name)
    {
        std::wstring self(32768, L'\0');
        self.resize(::GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size())));
        const std::filesystem::path program = std::filesystem::path(folder) / name;
        std::filesystem::copy_file(self, program);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        std::wstring line = L"\"" + program.wstring() + L"\"";
        EXPECT_TRUE(::CreateProcessW(program.wstring().c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED,
            nullptr, std::filesystem::path(folder).wstring().c_str(), &startup, &process_))
            << ::GetLastError();
    }
    ~SuspendedProgram()
    {
        ::TerminateProcess(process_.hProcess, 1);
        ::WaitForSingleObject(process_.hProcess, INFINITE);
        ::CloseHandle(process_.hThread);
        ::CloseHandle(process_.hProcess);
    }

    PROCESS_INFORMATION process_{};
};

TEST(WindowsServerProcess, FoundByTheFolderOfAProgramNamedUox3)
{
    const struct {
        const char* Folder;
        const char* Name;
        bool Found;
    } cases[] = {{"uo", "UOX3.exe", true}, {"uo", "notepad.exe", false}, {"other", "uox3.exe", false}};
    for (const auto& c : cases) {
        TempFolder dir;
        std::filesystem::create_directories(dir / "uo/shared");
        std::filesystem::create_directory(dir / "other");
        const SuspendedProgram program(dir / c.Folder, c.Name);
        const std::vector<ServerProcess> found = FindRunningServers(ServerFoldersOf({"", dir / "uo/shared"}));
        ASSERT_EQ(found.size(), c.Found ? 1u : 0u) << c.Name << " in " << c.Folder;
        if (!c.Found)
            continue;
        EXPECT_EQ(found[0].Id, program.process_.dwProcessId);
        EXPECT_EQ(found[0].Program, c.Name);
        EXPECT_TRUE(sys::SameFolder(found[0].Folder, dir / "uo")) << found[0].Folder;
    }
}

} // namespace
} // namespace cryo::test
