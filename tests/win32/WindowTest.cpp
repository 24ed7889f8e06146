// The Win32 window, as a user drives it: texts typed into its boxes, buttons
// clicked, message boxes answered, all through window messages; the state is
// read back from the controls, the files and the registry.
#include "MainWindow.h"
#include "RegistrySettingsStore.h"
#include "TestSupport.h"
#include "WideText.h"
#include "WorldGen.h"

#include <commctrl.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <thread>

using namespace cryo;
using cryo::form::Control;
using cryo::settings::Narrow;
using cryo::settings::Widen;

namespace {

constexpr const wchar_t* TestKey = L"Software\\Quellmar\\CryoweaverWindowTest";

// Message boxes are answered from a timer, which runs inside their own loop.
std::deque<int> answers;
std::vector<std::string> boxes;

void CALLBACK AnswerBoxes(HWND, UINT, UINT_PTR, DWORD)
{
    ::EnumThreadWindows(
        ::GetCurrentThreadId(),
        [](HWND box, LPARAM) -> BOOL {
            wchar_t className[16] = {};
            ::GetClassNameW(box, className, 16);
            if (std::wstring(className) != L"#32770" || !::IsWindowVisible(box))
                return TRUE;
            wchar_t caption[256] = {};
            ::GetWindowTextW(box, caption, 256);
            std::wstring text; // the longest static text is the message
            for (HWND child = ::GetWindow(box, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
                wchar_t buffer[2048] = {};
                ::GetWindowTextW(child, buffer, 2048);
                ::GetClassNameW(child, className, 16);
                if (std::wstring(className) == L"Static" && std::wcslen(buffer) > text.size())
                    text = buffer;
            }
            boxes.push_back(Narrow(caption) + ": " + Narrow(text));
            int answer = IDOK;
            if (::GetDlgItem(box, IDYES) != nullptr && !answers.empty()) {
                answer = answers.front();
                answers.pop_front();
            }
            ::PostMessageW(box, WM_COMMAND, answer, 0);
            return FALSE;
        },
        0);
}

std::pair<DWORD, std::string> Stored(const char* name)
{
    DWORD type = 0;
    wchar_t data[512] = {};
    DWORD size = sizeof data;
    ::RegGetValueW(HKEY_CURRENT_USER, TestKey, Widen(name).c_str(), RRF_RT_ANY, &type, data, &size);
    if (type == REG_DWORD) {
        DWORD number = 0;
        std::memcpy(&number, data, sizeof number);
        return {type, std::to_string(number)};
    }
    return {type, Narrow(data)};
}

int Type255Count(const std::string& wsc)
{
    const std::string text = test::ReadText(wsc);
    int count = 0;
    for (std::size_t at = text.find("TYPE 255"); at != std::string::npos; at = text.find("TYPE 255", at + 1))
        ++count;
    return count;
}

class Win32WindowTest : public testing::Test {
protected:
    Win32WindowTest()
    {
        ::RegDeleteTreeW(HKEY_CURRENT_USER, TestKey);
        std::filesystem::create_directories(dir / "world");
        worldgen::WriteSampleWorld(dir / "world");
        timer_ = ::SetTimer(nullptr, 0, 30, AnswerBoxes);
        boxes.clear();
    }
    ~Win32WindowTest() override
    {
        ::KillTimer(nullptr, timer_);
        ::RegDeleteTreeW(HKEY_CURRENT_USER, TestKey);
    }

    void Start()
    {
        window = std::make_unique<win32::MainWindow>(store, ::GetModuleHandleW(nullptr));
        ASSERT_NE(window->Handle(), nullptr) << "no window (error " << ::GetLastError() << "): is there a display?";
        window->Show(SW_SHOW);
        Pump();
    }
    void Restart()
    {
        window.reset();
        Pump();
        Start();
    }
    static void Pump()
    {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }

    HWND Hwnd(Control control) const { return window->Hwnd(control); }
    std::string Text(Control control) const { return window->Text(control); }
    void Type(Control edit, const std::string& text)
    {
        ::SendMessageW(Hwnd(edit), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Widen(text).c_str()));
    }
    // Operations run off the window's thread: the test waits, answering
    // messages, as the message loop does.
    void WaitForTheOperation()
    {
        while (window->Form().Running()) {
            ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
            Pump();
        }
        Pump();
    }
    void Click(Control button)
    {
        ASSERT_TRUE(::IsWindowEnabled(Hwnd(button)));
        ::SendMessageW(Hwnd(button), BM_CLICK, 0, 0);
        Pump();
        WaitForTheOperation();
    }
    void Choose(int menu, int item)
    {
        ::SendMessageW(
            window->Handle(), WM_COMMAND, ::GetMenuItemID(::GetSubMenu(::GetMenu(window->Handle()), menu), item), 0);
        WaitForTheOperation();
    }
    // A key as the message loop hands it to the window.
    void Key(HWND target, WPARAM key, bool withControl = false)
    {
        BYTE keys[256] = {};
        ::GetKeyboardState(keys);
        keys[VK_CONTROL] = withControl ? 0x80 : 0;
        ::SetKeyboardState(keys);
        MSG message{target, WM_KEYDOWN, key, 0, 0, {}};
        if (!window->PreTranslate(message)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
        keys[VK_CONTROL] = 0;
        ::SetKeyboardState(keys);
        Pump();
        WaitForTheOperation();
    }
    std::vector<std::string> Lines(HWND list) const
    {
        std::vector<std::string> lines;
        const int count = static_cast<int>(::SendMessageW(list, LB_GETCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            wchar_t line[512] = {};
            ::SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(line));
            lines.push_back(Narrow(line));
        }
        return lines;
    }
    // The colour the window paints a box with, as it answers the box's request.
    std::string ColorOf(Control edit) const
    {
        HDC dc = ::CreateCompatibleDC(nullptr);
        ::SetBkColor(dc, RGB(1, 2, 3));
        const UINT message = ::IsWindowEnabled(Hwnd(edit)) ? WM_CTLCOLOREDIT : WM_CTLCOLORSTATIC;
        ::SendMessageW(window->Handle(), message, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(Hwnd(edit)));
        const COLORREF color = ::GetBkColor(dc);
        ::DeleteDC(dc);
        return color == RGB(0, 128, 0) ? "green" : color == RGB(255, 0, 0) ? "red" : "default";
    }
    std::vector<Control> EnabledButtons() const
    {
        std::vector<Control> enabled;
        for (const Control c : {Control::GetStaticIndexButton, Control::XBlockEdit, Control::XBlockUpDown,
                 Control::YBlockEdit, Control::YBlockUpDown, Control::GetStaticBlockButton, Control::MeltBlockButton,
                 Control::FreezeWorldButton}) {
            if (::IsWindowEnabled(Hwnd(c)))
                enabled.push_back(c);
        }
        return enabled;
    }
    std::string Caption() const
    {
        wchar_t caption[256] = {};
        ::GetWindowTextW(window->Handle(), caption, 256);
        return Narrow(caption);
    }
    // The window as it shows on the screen, into a file when screenshots are
    // asked for: Wine hands the window's X window to xwd (Debian package x11-apps).
    void Screenshot(const char* name)
    {
        if (const char* folder = std::getenv("CRYOWEAVER_SCREENSHOTS")) {
            ::RedrawWindow(window->Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
            Pump();
            const auto id = reinterpret_cast<std::uintptr_t>(::GetPropW(window->Handle(), L"__wine_x11_whole_window"));
            std::system(
                ("start /wait /unix /usr/bin/xwd -id " + std::to_string(id) + " -out " + folder + "/" + name + ".xwd")
                    .c_str());
        }
    }

    test::TempFolder dir;
    std::string world = dir / "world";
    settings::RegistrySettingsStore store{TestKey};
    std::unique_ptr<win32::MainWindow> window;
    UINT_PTR timer_ = 0;
};

TEST_F(Win32WindowTest, FirstRunAsksForTheModeAndARestartRemembersEverything)
{
    answers = {IDYES};
    Start();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].starts_with("Simple mode?: You have not yet selected a mode.")) << boxes[0];
    EXPECT_EQ(Caption(), "Cryoweaver (Version 3.2) (Simple mode)");
    EXPECT_EQ(::SendMessageW(Hwnd(Control::SimpleModeRadioButton), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(ColorOf(Control::StaIdxEdit), "red");
    wchar_t tip[128] = {};
    TOOLINFOW tool{sizeof tool, 0, window->Handle(), reinterpret_cast<UINT_PTR>(Hwnd(Control::StaIdxEdit)), {}, nullptr,
        tip, 0, nullptr};
    ::SendMessageW(window->Tooltip(), TTM_GETTEXTW, 128, reinterpret_cast<LPARAM>(&tool));
    EXPECT_EQ(Narrow(tip), "No file given.");
    EXPECT_EQ(Lines(window->MainListBox()).at(0), "Please enter the path of your Staidx0.mul file in");

    Type(Control::StaIdxEdit, world + "/StaIdx0.mul");
    Type(Control::StaticsEdit, world + "/Statics0.mul");
    Type(Control::WSCEdit, world + "/UOX3.wsc");
    EXPECT_EQ(ColorOf(Control::WSCEdit), "green");
    EXPECT_EQ(EnabledButtons(), std::vector<Control>{Control::GetStaticIndexButton});
    Click(Control::GetStaticIndexButton);
    EXPECT_EQ(Lines(window->LogListBox()),
        (std::vector<std::string>{
            "Init in progress... Cryoweaver may look crashed, do not interrupt!", "Init completed!"}));
    EXPECT_EQ(EnabledButtons(), std::vector<Control>{Control::FreezeWorldButton});
    EXPECT_EQ(::GetFocus(), Hwnd(Control::FreezeWorldButton));
    EXPECT_FALSE(::IsWindowEnabled(Hwnd(Control::StaIdxEdit)));
    EXPECT_EQ(ColorOf(Control::StaIdxEdit), "default");
    EXPECT_EQ(::SendMessageW(window->ProgressBar(), PBM_GETPOS, 0, 0), 100);
    Screenshot("win32-simple");

    Click(Control::FreezeWorldButton);
    EXPECT_EQ(Lines(window->LogListBox()).back(), "3 items frozen into 2 blocks");
    EXPECT_EQ(Type255Count(world + "/UOX3.wsc"), 0);

    Restart();
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_EQ(Stored("StaIdx0.mul"), std::pair(DWORD{REG_SZ}, world + "/StaIdx0.mul"));
    EXPECT_EQ(Stored("UOX3.wsc"), std::pair(DWORD{REG_SZ}, world + "/UOX3.wsc"));
    EXPECT_EQ(Stored("Mode"), std::pair(DWORD{REG_DWORD}, std::string("1")));
    EXPECT_EQ(Text(Control::StaticsEdit), world + "/Statics0.mul");
    EXPECT_EQ(ColorOf(Control::StaticsEdit), "green");
    EXPECT_EQ(Lines(window->MainListBox()).at(0), "Click on the \"GetStaticIndex\"-button to the right.");
}

TEST_F(Win32WindowTest, NormalModeListsMeltsAndFreezes)
{
    store.Open(true);
    store.SetValue("Mode", 0);
    store.Close();
    Start();
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(Caption(), "Cryoweaver (Version 3.2) (Normal mode)");

    // Files dropped on the window go to the boxes they fit.
    const std::wstring files = Widen(world + "/Statics0.mul") + L'\0' + Widen(world + "/StaIdx0.mul") + L'\0'
        + Widen(world + "/UOX3.wsc") + L"\0\0";
    HGLOBAL drop = ::GlobalAlloc(GHND, sizeof(DROPFILES) + files.size() * sizeof(wchar_t));
    auto* header = static_cast<DROPFILES*>(::GlobalLock(drop));
    *header = DROPFILES{sizeof(DROPFILES), POINT{2, 2}, FALSE, TRUE};
    std::copy(files.begin(), files.end(), reinterpret_cast<wchar_t*>(header + 1));
    ::GlobalUnlock(drop);
    ::SendMessageW(window->Handle(), WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0);
    EXPECT_EQ(Text(Control::StaIdxEdit), world + "/StaIdx0.mul");
    EXPECT_EQ(ColorOf(Control::StaticsEdit), "green");

    Click(Control::GetStaticIndexButton);
    EXPECT_EQ(::GetFocus(), Hwnd(Control::XBlockEdit));
    EXPECT_EQ(::SendMessageW(Hwnd(Control::XBlockUpDown), UDM_GETBUDDY, 0, 0),
        reinterpret_cast<LRESULT>(Hwnd(Control::XBlockEdit)));
    int low = -1, high = -1;
    ::SendMessageW(
        Hwnd(Control::YBlockUpDown), UDM_GETRANGE32, reinterpret_cast<WPARAM>(&low), reinterpret_cast<LPARAM>(&high));
    EXPECT_EQ(std::pair(low, high), std::pair(0, 511));

    // Leaving a block box clamps it to the map.
    Type(Control::XBlockEdit, "900");
    ::SetFocus(Hwnd(Control::YBlockEdit));
    EXPECT_EQ(Text(Control::XBlockEdit), "767");
    Type(Control::XBlockEdit, "100");
    Type(Control::YBlockEdit, "200");
    // Enter presses the button that has the focus.
    ::SetFocus(Hwnd(Control::GetStaticBlockButton));
    Key(Hwnd(Control::GetStaticBlockButton), VK_RETURN);
    const std::vector<std::string> listing = Lines(window->MainListBox());
    ASSERT_EQ(listing.size(), 6u);
    EXPECT_EQ(listing[0], "Item #1: Item ID = 0E ED, X = 803, Y = 1605, Z = -5, Color = 00 00");
    Screenshot("win32-normal");
    // Enter in a position's box lists its block.
    Type(Control::PositionEdit, "6143,4095");
    Key(Hwnd(Control::PositionEdit), VK_RETURN);
    EXPECT_EQ(Lines(window->MainListBox()), std::vector<std::string>{"Block 767, 511 holds no objects."});
    Type(Control::XBlockEdit, "100");
    Type(Control::YBlockEdit, "200");

    Click(Control::MeltBlockButton);
    EXPECT_EQ(Lines(window->LogListBox()).back(), "6 objects of block 100, 200 melted into UOX3.wsc");
    EXPECT_EQ(Type255Count(world + "/UOX3.wsc"), 9);
    Click(Control::FreezeWorldButton);
    EXPECT_EQ(Type255Count(world + "/UOX3.wsc"), 0);
    Click(Control::GetStaticBlockButton);
    EXPECT_EQ(Lines(window->MainListBox()).size(), 6u);
    EXPECT_TRUE(boxes.empty());

    // Tools, Undo last operation... asks, then takes back the freeze.
    answers.push_back(IDYES);
    Choose(1, 0);
    EXPECT_EQ(Type255Count(world + "/UOX3.wsc"), 9);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].starts_with("Cryoweaver: Undo the freeze of 9 items into 3 blocks of ")) << boxes[0];
    EXPECT_NE(boxes[0].find("UOX3.wsc"), std::string::npos) << boxes[0];
    boxes.clear();

    // The log can be selected and copied.
    ::SendMessageW(window->LogListBox(), LB_SETSEL, TRUE, 0);
    Key(window->LogListBox(), 'C', true);
    ASSERT_TRUE(::OpenClipboard(window->Handle()));
    HANDLE data = ::GetClipboardData(CF_UNICODETEXT);
    const auto* copied = data != nullptr ? static_cast<const wchar_t*>(::GlobalLock(data)) : nullptr;
    EXPECT_EQ(Narrow(copied ? copied : L""), "Init in progress... Cryoweaver may look crashed, do not interrupt!");
    if (copied != nullptr)
        ::GlobalUnlock(data);
    ::CloseClipboard();

    // Errors and notices come in message boxes with their captions, and
    // errors go to the log too.
    Type(Control::XBlockEdit, "abc");
    Click(Control::MeltBlockButton);
    Click(Control::SimpleModeRadioButton);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0], "Cryoweaver: 'abc' is not a valid integer value.");
    EXPECT_EQ(Lines(window->LogListBox()).back(), "Error: 'abc' is not a valid integer value.");
    EXPECT_TRUE(boxes[1].starts_with("Simple mode selected: ")) << boxes[1];
    EXPECT_EQ(Stored("Mode"), std::pair(DWORD{REG_DWORD}, std::string("1")));
    // The running mode stays checked, with a note on the next start's.
    EXPECT_EQ(Caption(), "Cryoweaver (Version 3.2) (Normal mode)");
    EXPECT_EQ(::SendMessageW(Hwnd(Control::NormalModeRadioButton), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(::SendMessageW(Hwnd(Control::SimpleModeRadioButton), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_EQ(Text(Control::ModeNoteLabel), "Next start: Simple mode");
}

// Every control, at every size the window can take: shown, inside the
// window and clear of every other (the mode's buttons lie in their group).
TEST_F(Win32WindowTest, AResizeKeepsEveryControlVisibleAndInsideTheWindow)
{
    store.Open(true);
    store.SetValue("Mode", 0);
    store.Close();
    Start();
    const HWND main = window->Handle();
    const std::vector<HWND> children = window->Children();
    for (const auto& [width, height] : {std::pair{100, 100}, {720, 480}, {1400, 1000}, {600, 900}}) {
        ::SetWindowPos(main, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER);
        Pump();
        RECT client{};
        ::GetClientRect(main, &client);
        EXPECT_TRUE(client.right >= 500 && client.bottom >= 350) << "the window's smallest size";
        std::vector<RECT> placed;
        for (const HWND child : children) {
            RECT at{};
            ::GetWindowRect(child, &at);
            ::MapWindowPoints(nullptr, main, reinterpret_cast<POINT*>(&at), 2);
            RECT inside{};
            EXPECT_TRUE(::IsWindowVisible(child) && at.right - at.left > 4 && at.bottom - at.top > 4
                && ::IntersectRect(&inside, &at, &client) && ::EqualRect(&inside, &at))
                << placed.size() << " at " << width << "x" << height;
            for (std::size_t other = 0; other < placed.size(); ++other) {
                const bool grouped = child == children.back()
                    && (children[other] == Hwnd(Control::NormalModeRadioButton)
                        || children[other] == Hwnd(Control::SimpleModeRadioButton)
                        || children[other] == Hwnd(Control::ModeNoteLabel));
                EXPECT_TRUE(grouped || !::IntersectRect(&inside, &at, &placed[other]))
                    << placed.size() << " lies on " << other << " at " << width << "x" << height;
            }
            placed.push_back(at);
        }
    }
}

// A freeze of 60,000 TYPE 255 items: Cancel stops it with every file as it
// was; run again, the window answers every message within a second.
TEST_F(Win32WindowTest, ABigFreezeKeepsTheWindowAnsweringAndCanBeCancelled)
{
    worldgen::WscOptions options;
    options.Type255Items = 60000;
    options.Blocks = 6000;
    const std::string wsc = worldgen::GenerateWsc(options);
    worldgen::WriteWholeFile(world + "/UOX3.wsc", wsc.data(), wsc.size());
    store.Open(true);
    for (const char* name : {"StaIdx0.mul", "Statics0.mul", "UOX3.wsc"})
        store.SetValue(name, world + "/" + name);
    store.SetValue("Mode", 0);
    store.Close();
    Start();
    Click(Control::GetStaticIndexButton);
    const std::string before = test::ReadText(world + "/StaIdx0.mul") + test::ReadText(world + "/UOX3.wsc");
    // The window's thread is free to take the click while the freeze runs.
    ::SendMessageW(Hwnd(Control::FreezeWorldButton), BM_CLICK, 0, 0);
    EXPECT_FALSE(::IsWindowEnabled(Hwnd(Control::MeltBlockButton)));
    Click(Control::CancelButton);
    EXPECT_EQ(Lines(window->LogListBox()).back(), "Stopped by the Cancel button; no file was changed.");
    EXPECT_EQ(test::ReadText(world + "/StaIdx0.mul") + test::ReadText(world + "/UOX3.wsc"), before);
    EXPECT_EQ(test::ReadBytes(world + "/Statics0.mul").size(), 63u);

    std::atomic<bool> running = true;
    std::atomic<int> answered = 0;
    std::atomic<int> unanswered = 0;
    std::thread asker([&, main = window->Handle()] {
        for (DWORD_PTR result = 0; running; ::Sleep(20))
            ++(::SendMessageTimeoutW(main, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &result) != 0 ? answered : unanswered);
    });
    Click(Control::FreezeWorldButton);
    running = false;
    asker.join();
    EXPECT_EQ(unanswered, 0);
    EXPECT_GT(answered, 0);
    EXPECT_EQ(Lines(window->LogListBox()).back(), "60000 items frozen into 6000 blocks");
    EXPECT_TRUE(boxes.empty());
}

} // namespace
