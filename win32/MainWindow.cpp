#include "MainWindow.h"

#include "Interrupt.h"
#include "WideText.h"

#include <commctrl.h>
#include <commdlg.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <windowsx.h>

#include <algorithm>
#include <cwchar>

namespace cryo::win32 {

using form::Control;
using settings::Narrow;
using settings::Widen;

namespace {

constexpr const wchar_t* ClassName = L"CryoweaverMainForm";
constexpr int ControlIdBase = 100;
constexpr int MainListId = 200;
constexpr int LogListId = 201;
constexpr int CopyCommand = 300;
constexpr int SelectAllCommand = 301;
constexpr int ExitCommand = 400;
constexpr int MenuItemIdBase = 401; // + form::MenuItem
constexpr int ChoiceIdBase = 500; // + the item's number in a menu of choices
constexpr UINT_PTR TickTimer = 1;
// Posted by the worker when an operation's work has ended.
constexpr UINT WorkDoneMessage = WM_APP + 1;
constexpr COLORREF Green = RGB(0, 128, 0);
constexpr COLORREF Red = RGB(255, 0, 0);

std::size_t Index(Control control)
{
    return static_cast<std::size_t>(control);
}

bool IsFileEdit(Control control)
{
    return control == Control::StaIdxEdit || control == Control::StaticsEdit || control == Control::WSCEdit;
}

// The screen's scaling for the window: per monitor where the system knows it.
int DpiOf(HWND window)
{
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpi = reinterpret_cast<GetDpiForWindowFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (getDpi != nullptr)
        return static_cast<int>(getDpi(window));
    HDC screen = ::GetDC(nullptr);
    const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
    return dpi;
}

std::wstring WindowText(HWND window)
{
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

} // namespace

MainWindow::MainWindow(settings::SettingsStore& store, HINSTANCE instance)
    : form_(*this, store)
    , instance_(instance)
    , green_(::CreateSolidBrush(Green))
    , red_(::CreateSolidBrush(Red))
{
    static const ATOM registered = [instance] {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        // Every control is placed anew at each size: the whole window repaints.
        windowClass.style = CS_HREDRAW | CS_VREDRAW;
        windowClass.lpfnWndProc = &MainWindow::WindowProc;
        windowClass.hInstance = instance;
        windowClass.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(1));
        windowClass.hCursor = ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // IDC_ARROW
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        windowClass.lpszClassName = ClassName;
        return ::RegisterClassExW(&windowClass);
    }();
    (void)registered;
    window_ = ::CreateWindowExW(WS_EX_CONTROLPARENT | WS_EX_ACCEPTFILES, ClassName, L"Cryoweaver", WS_OVERLAPPEDWINDOW,
        CW_USEDEFAULT, CW_USEDEFAULT, 720, 480, nullptr, nullptr, instance, this);
    dpi_ = DpiOf(window_);
    CreateMenuBar();
    CreateControls();
    ApplyScale();
    RECT frame{0, 0, Scaled(720), Scaled(480)};
    ::AdjustWindowRectEx(&frame, WS_OVERLAPPEDWINDOW, TRUE, WS_EX_CONTROLPARENT);
    ::SetWindowPos(window_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
        SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    form_.Initialize();
}

MainWindow::~MainWindow()
{
    // A window destroyed from outside (a test, the session's end) stops its operation first.
    if (worker_.joinable()) {
        interrupt::Request("closing the window");
        worker_.join();
    }
    if (window_ != nullptr) {
        ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        ::DestroyWindow(window_);
    }
    if (tooltip_ != nullptr)
        ::DestroyWindow(tooltip_);
    for (HGDIOBJ object : {static_cast<HGDIOBJ>(font_), static_cast<HGDIOBJ>(green_), static_cast<HGDIOBJ>(red_)}) {
        if (object != nullptr)
            ::DeleteObject(object);
    }
}

void MainWindow::CreateMenuBar()
{
    const auto item
        = [](form::MenuItem which) { return static_cast<UINT_PTR>(MenuItemIdBase + static_cast<int>(which)); };
    HMENU file = ::CreatePopupMenu();
    ::AppendMenuW(file, MF_STRING, item(form::MenuItem::OpenServerFolder), L"&Open server folder...");
    ::AppendMenuW(file, MF_STRING, item(form::MenuItem::ServerMap), L"Server's &map...");
    ::AppendMenuW(file, MF_STRING, item(form::MenuItem::ChangeFiles), L"&Change files...");
    ::AppendMenuW(file, MF_SEPARATOR, 0, nullptr);
    ::AppendMenuW(file, MF_STRING, ExitCommand, L"E&xit");
    HMENU tools = ::CreatePopupMenu();
    ::AppendMenuW(tools, MF_STRING, item(form::MenuItem::UndoLastOperation), L"&Undo last operation...");
    ::AppendMenuW(tools, MF_STRING, item(form::MenuItem::History), L"&History...");
    ::AppendMenuW(tools, MF_STRING, item(form::MenuItem::CheckFiles), L"&Check files");
    ::AppendMenuW(tools, MF_STRING, item(form::MenuItem::CompactStatics), L"C&ompact statics");
    ::AppendMenuW(tools, MF_STRING, item(form::MenuItem::MakePatch), L"&Make players' patch...");
    ::AppendMenuW(tools, MF_STRING, item(form::MenuItem::ApplyPatch), L"&Apply patch...");
    HMENU help = ::CreatePopupMenu();
    ::AppendMenuW(help, MF_STRING, item(form::MenuItem::About), L"&About");
    HMENU bar = ::CreateMenu();
    ::AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), L"&File");
    ::AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(tools), L"&Tools");
    ::AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(help), L"&Help");
    // The window destroys its menu with it.
    ::SetMenu(window_, bar);
}

void MainWindow::CreateControls()
{
    // Every control starts a group of its own but the second mode button, so
    // that arrow keys move between the mode buttons only.
    const auto make = [this](const wchar_t* className, const wchar_t* text, DWORD style, int id, DWORD exStyle = 0) {
        return ::CreateWindowExW(exStyle, className, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, window_,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
    };
    const auto control
        = [&](Control which, const wchar_t* className, const wchar_t* text, DWORD style, DWORD exStyle = 0) {
              controls_[Index(which)] = make(className, text, style, ControlIdBase + static_cast<int>(which), exStyle);
          };
    const DWORD tab = WS_TABSTOP | WS_GROUP;
    const DWORD edit = tab | ES_AUTOHSCROLL;
    const DWORD button = tab | BS_PUSHBUTTON;

    // In the order of the Tab key.
    labels_.push_back(make(L"STATIC", L"StaIdx0.mul", SS_CENTERIMAGE, -1));
    control(Control::StaIdxEdit, L"EDIT", L"", edit, WS_EX_CLIENTEDGE);
    control(Control::StaIdxBrowseButton, L"BUTTON", L"...", button);
    labels_.push_back(make(L"STATIC", L"Statics0.mul", SS_CENTERIMAGE, -1));
    control(Control::StaticsEdit, L"EDIT", L"", edit, WS_EX_CLIENTEDGE);
    control(Control::StaticsBrowseButton, L"BUTTON", L"...", button);
    labels_.push_back(make(L"STATIC", L"UOX3.wsc", SS_CENTERIMAGE, -1));
    control(Control::WSCEdit, L"EDIT", L"", edit, WS_EX_CLIENTEDGE);
    control(Control::WSCBrowseButton, L"BUTTON", L"...", button);
    control(Control::GetStaticIndexButton, L"BUTTON", L"GetStaticIndex", button);
    labels_.push_back(make(L"STATIC", L"Position", SS_CENTERIMAGE, -1));
    control(Control::PositionEdit, L"EDIT", L"", edit, WS_EX_CLIENTEDGE);
    labels_.push_back(make(L"STATIC", L"X", SS_CENTERIMAGE, -1));
    control(Control::XBlockEdit, L"EDIT", L"", edit, WS_EX_CLIENTEDGE);
    control(Control::XBlockUpDown, UPDOWN_CLASSW, L"", UDS_SETBUDDYINT | UDS_ARROWKEYS | UDS_NOTHOUSANDS);
    labels_.push_back(make(L"STATIC", L"Y", SS_CENTERIMAGE, -1));
    control(Control::YBlockEdit, L"EDIT", L"", edit, WS_EX_CLIENTEDGE);
    control(Control::YBlockUpDown, UPDOWN_CLASSW, L"", UDS_SETBUDDYINT | UDS_ARROWKEYS | UDS_NOTHOUSANDS);
    control(Control::GetStaticBlockButton, L"BUTTON", L"GetStaticBlock", button);
    control(Control::MeltBlockButton, L"BUTTON", L"Melt!", button);
    control(Control::FreezeWorldButton, L"BUTTON", L"Freeze!", button);
    modeGroup_ = make(L"BUTTON", L"Mode", BS_GROUPBOX | WS_GROUP, -1);
    control(Control::NormalModeRadioButton, L"BUTTON", L"Normal", tab | BS_AUTORADIOBUTTON);
    control(Control::SimpleModeRadioButton, L"BUTTON", L"Simple", BS_AUTORADIOBUTTON);
    control(Control::ModeNoteLabel, L"STATIC", L"", SS_LEFT | WS_GROUP);
    const DWORD list = tab | WS_VSCROLL | WS_HSCROLL | LBS_NOINTEGRALHEIGHT | LBS_EXTENDEDSEL | LBS_NOTIFY;
    mainList_ = make(L"LISTBOX", L"", list, MainListId, WS_EX_CLIENTEDGE);
    logList_ = make(L"LISTBOX", L"", list, LogListId, WS_EX_CLIENTEDGE);
    control(Control::DryRunCheckBox, L"BUTTON", L"Only show what would change", tab | BS_AUTOCHECKBOX);
    progressBar_ = make(PROGRESS_CLASSW, L"", WS_GROUP, -1);
    control(Control::CancelButton, L"BUTTON", L"Cancel", button);
    ::SendMessageW(progressBar_, PBM_SETRANGE32, 0, 100);
    ::SendMessageW(Hwnd(Control::XBlockUpDown), UDM_SETBUDDY, reinterpret_cast<WPARAM>(Hwnd(Control::XBlockEdit)), 0);
    ::SendMessageW(Hwnd(Control::YBlockUpDown), UDM_SETBUDDY, reinterpret_cast<WPARAM>(Hwnd(Control::YBlockEdit)), 0);
    mapPane_ = std::make_unique<MapPaneWindow>(form_, window_, instance_);

    // The reason a box is red shows when the mouse rests on it.
    tooltip_ = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window_, nullptr, instance_, nullptr);
    for (const Control box : {Control::StaIdxEdit, Control::StaticsEdit, Control::WSCEdit}) {
        TOOLINFOW tool{};
        tool.cbSize = sizeof tool;
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = window_;
        tool.uId = reinterpret_cast<UINT_PTR>(Hwnd(box));
        tool.lpszText = const_cast<wchar_t*>(L"");
        ::SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }
}

// The font and sizes that follow the screen's scaling.
void MainWindow::ApplyScale()
{
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    ::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    LOGFONTW face = metrics.lfMessageFont;
    HDC screen = ::GetDC(nullptr);
    const int systemDpi = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
    face.lfHeight = MulDiv(face.lfHeight, dpi_, systemDpi);
    HFONT font = ::CreateFontIndirectW(&face);
    std::vector<HWND> all(controls_.begin(), controls_.end());
    all.insert(all.end(), labels_.begin(), labels_.end());
    all.insert(all.end(), {mainList_, logList_, modeGroup_, tooltip_});
    for (HWND child : all)
        ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    if (font_ != nullptr)
        ::DeleteObject(font_);
    font_ = font;
    mapPane_->SetFont(font);
    charWidths_.assign(charWidths_.size(), -1);
    ::SendMessageW(tooltip_, TTM_SETMAXTIPWIDTH, 0, Scaled(400));
    for (HWND list : {mainList_, logList_})
        ::SendMessageW(list, LB_SETITEMHEIGHT, 0, std::max(Scaled(13), static_cast<int>(-face.lfHeight * 4 / 3)));
}

void MainWindow::Layout()
{
    RECT client{};
    ::GetClientRect(window_, &client);
    const int width = client.right;
    const int height = client.bottom;
    const int margin = Scaled(4);
    const int gap = Scaled(4);
    const int lineHeight = Scaled(23);

    // The widest caption decides the button column's width.
    HDC dc = ::GetDC(window_);
    HGDIOBJ old = ::SelectObject(dc, font_);
    const auto textWidth = [dc](HWND window) {
        const std::wstring text = WindowText(window);
        SIZE size{};
        ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
        return static_cast<int>(size.cx);
    };
    int columnWidth = Scaled(90);
    for (const Control button : {Control::GetStaticIndexButton, Control::GetStaticBlockButton})
        columnWidth = std::max(columnWidth, textWidth(Hwnd(button)) + Scaled(20));
    std::array<int, 3> labelWidths{};
    for (std::size_t i = 0; i < 3; ++i)
        labelWidths[i] = textWidth(labels_[i]) + Scaled(6);
    const int dryRunWidth = textWidth(Hwnd(Control::DryRunCheckBox)) + Scaled(24);
    ::SelectObject(dc, old);
    ::ReleaseDC(window_, dc);

    HDWP moves = ::BeginDeferWindowPos(40);
    const auto place = [&moves](HWND window, int x, int y, int w, int h) {
        moves = ::DeferWindowPos(
            moves, window, nullptr, x, y, std::max(w, 0), std::max(h, 0), SWP_NOZORDER | SWP_NOACTIVATE);
    };

    // The file names along the bottom; the three boxes share the room.
    const int filesY = height - margin - lineHeight;
    const int browseWidth = Scaled(26);
    const int boxWidth
        = (width - 2 * margin - labelWidths[0] - labelWidths[1] - labelWidths[2] - 3 * browseWidth - 5 * gap) / 3;
    int x = margin;
    const Control boxes[][2] = {{Control::StaIdxEdit, Control::StaIdxBrowseButton},
        {Control::StaticsEdit, Control::StaticsBrowseButton}, {Control::WSCEdit, Control::WSCBrowseButton}};
    for (std::size_t i = 0; i < 3; ++i) {
        place(labels_[i], x, filesY, labelWidths[i], lineHeight);
        x += labelWidths[i];
        place(Hwnd(boxes[i][0]), x, filesY, boxWidth, lineHeight);
        x += boxWidth;
        place(Hwnd(boxes[i][1]), x, filesY, browseWidth, lineHeight);
        x += browseWidth + gap * 2;
    }

    // The buttons on the right, the mode at the bottom of their column.
    const int columnX = width - margin - columnWidth;
    const int buttonHeight = Scaled(25);
    const int labelWidth = Scaled(16);
    const int upDownWidth = Scaled(18);
    const int labelHeight = Scaled(16);
    int y = margin;
    place(Hwnd(Control::GetStaticIndexButton), columnX, y, columnWidth, buttonHeight);
    y += buttonHeight + gap * 2;
    place(labels_[3], columnX, y, columnWidth, labelHeight);
    y += labelHeight;
    place(Hwnd(Control::PositionEdit), columnX, y, columnWidth, lineHeight);
    y += lineHeight + gap;
    const Control rows[][2]
        = {{Control::XBlockEdit, Control::XBlockUpDown}, {Control::YBlockEdit, Control::YBlockUpDown}};
    for (std::size_t i = 0; i < 2; ++i) {
        place(labels_[4 + i], columnX, y, labelWidth, lineHeight);
        place(Hwnd(rows[i][0]), columnX + labelWidth, y, columnWidth - labelWidth - upDownWidth, lineHeight);
        place(Hwnd(rows[i][1]), columnX + columnWidth - upDownWidth, y, upDownWidth, lineHeight);
        y += lineHeight + gap;
    }
    y += gap;
    for (const Control button : {Control::GetStaticBlockButton, Control::MeltBlockButton, Control::FreezeWorldButton}) {
        place(Hwnd(button), columnX, y, columnWidth, buttonHeight);
        y += buttonHeight + gap;
    }
    // The mode at the bottom of the column, with room beneath the buttons for
    // a note of two lines on the next start's mode.
    const int radioHeight = Scaled(20);
    const int noteHeight = Scaled(28);
    const int groupHeight = Scaled(18) + 2 * radioHeight + noteHeight + gap;
    const int groupY = filesY - gap * 2 - groupHeight;
    const int insideX = columnX + Scaled(8);
    const int insideWidth = columnWidth - Scaled(12);
    place(modeGroup_, columnX, groupY, columnWidth, groupHeight);
    place(Hwnd(Control::NormalModeRadioButton), insideX, groupY + Scaled(18), insideWidth, radioHeight);
    place(Hwnd(Control::SimpleModeRadioButton), insideX, groupY + Scaled(18) + radioHeight, insideWidth, radioHeight);
    place(Hwnd(Control::ModeNoteLabel), insideX, groupY + Scaled(18) + 2 * radioHeight, insideWidth, noteHeight);

    // The map, in normal mode, beside the lists and as high as the column.
    int listsWidth = columnX - gap - margin;
    if (mapShown_) {
        // The lists keep room for the row of the dry-run box, the bar and Cancel.
        const int rowWidth = dryRunWidth + Scaled(77) + Scaled(60) + 2 * gap;
        const int paneWidth = std::max(Scaled(40), std::min((listsWidth - gap) * 3 / 5, listsWidth - gap - rowWidth));
        listsWidth -= paneWidth + gap;
        place(mapPane_->Handle(), margin + listsWidth + gap, margin, paneWidth, filesY - gap * 2 - margin);
    }
    // The lists take the rest: the listing above, the log below, and under
    // both the dry-run box, the bar and Cancel in one row.
    const int progressY = filesY - gap * 2 - buttonHeight;
    const int room = progressY - gap - margin - Scaled(5);
    const int minimum = Scaled(50);
    const int logHeight = std::clamp(Scaled(logHeight_), minimum, std::max(minimum, room - minimum));
    place(mainList_, margin, margin, listsWidth, room - logHeight);
    place(logList_, margin, progressY - gap - logHeight, listsWidth, logHeight);
    const int cancelWidth = Scaled(77);
    place(Hwnd(Control::DryRunCheckBox), margin, progressY, dryRunWidth, buttonHeight);
    place(progressBar_, margin + dryRunWidth + gap, progressY + (buttonHeight - Scaled(16)) / 2,
        listsWidth - dryRunWidth - cancelWidth - 2 * gap, Scaled(16));
    place(Hwnd(Control::CancelButton), margin + listsWidth - cancelWidth, progressY, cancelWidth, buttonHeight);
    ::EndDeferWindowPos(moves);
    // Nothing of the old places stays painted.
    ::RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

RECT MainWindow::SplitterRect() const
{
    RECT main{};
    RECT log{};
    ::GetWindowRect(mainList_, &main);
    ::GetWindowRect(logList_, &log);
    ::MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&main), 2);
    ::MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&log), 2);
    return RECT{main.left, main.bottom, main.right, log.top};
}

void MainWindow::Show(int showCommand)
{
    ::ShowWindow(window_, showCommand);
    ::UpdateWindow(window_);
    form_.FormShow();
}

bool MainWindow::PreTranslate(MSG& message)
{
    // The wheel zooms the map under the mouse, wherever the focus is.
    if (message.message == WM_MOUSEWHEEL && mapShown_ && message.hwnd != mapPane_->Handle()) {
        POINT at{GET_X_LPARAM(message.lParam), GET_Y_LPARAM(message.lParam)};
        if (::WindowFromPoint(at) == mapPane_->Handle()) {
            ::SendMessageW(mapPane_->Handle(), WM_MOUSEWHEEL, message.wParam, message.lParam);
            return true;
        }
    }
    if (message.message == WM_KEYDOWN) {
        const bool control = (::GetKeyState(VK_CONTROL) & 0x8000) != 0;
        if ((message.hwnd == mainList_ || message.hwnd == logList_) && control
            && (message.wParam == 'C' || message.wParam == 'A')) {
            if (message.wParam == 'C')
                CopyList(message.hwnd);
            else
                ::SendMessageW(message.hwnd, LB_SETSEL, TRUE, -1);
            return true;
        }
        // Enter in a block's box lists that block.
        if (message.wParam == VK_RETURN) {
            for (const Control edit : {Control::PositionEdit, Control::XBlockEdit, Control::YBlockEdit}) {
                if (message.hwnd == Hwnd(edit)) {
                    form_.Entered(edit);
                    return true;
                }
            }
        }
        // Enter presses the button that has the focus.
        if (message.wParam == VK_RETURN) {
            wchar_t className[16] = {};
            ::GetClassNameW(message.hwnd, className, 16);
            const LONG_PTR style = ::GetWindowLongPtrW(message.hwnd, GWL_STYLE);
            if (::GetParent(message.hwnd) == window_ && lstrcmpiW(className, L"Button") == 0
                && (style & BS_TYPEMASK) == BS_PUSHBUTTON) {
                ::SendMessageW(message.hwnd, BM_CLICK, 0, 0);
                return true;
            }
        }
    }
    return ::IsDialogMessageW(window_, &message) != FALSE;
}

std::optional<Control> MainWindow::FileEditOf(HWND window) const
{
    for (const Control box : {Control::StaIdxEdit, Control::StaticsEdit, Control::WSCEdit}) {
        if (Hwnd(box) == window)
            return box;
    }
    return std::nullopt;
}

LRESULT CALLBACK MainWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* self = static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->window_ = window;
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<MainWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr || self->mainList_ == nullptr)
        return ::DefWindowProcW(window, message, wParam, lParam);
    return self->Handle(message, wParam, lParam);
}

LRESULT MainWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SIZE:
        Layout();
        return 0;
    case WM_GETMINMAXINFO: {
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        info->ptMinTrackSize = POINT{Scaled(560), Scaled(400)};
        return 0;
    }
    case WM_DPICHANGED: {
        dpi_ = HIWORD(wParam);
        ApplyScale();
        const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
        ::SetWindowPos(window_, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
            suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
        Layout();
        return 0;
    }
    case WM_ACTIVATE:
        // The focus comes back to the control that had it, as in a dialog.
        if (LOWORD(wParam) == WA_INACTIVE) {
            HWND focus = ::GetFocus();
            if (focus != nullptr && ::IsChild(window_, focus))
                lastFocus_ = focus;
        } else if (lastFocus_ != nullptr && ::IsWindowEnabled(lastFocus_)) {
            ::SetFocus(lastFocus_);
            return 0;
        }
        break;
    case WM_COMMAND:
        Command(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
        return 0;
    case WM_CTLCOLOREDIT: {
        // The colour of a file box is the logic's record of whether its file was found.
        const auto box = FileEditOf(reinterpret_cast<HWND>(lParam));
        if (box && colors_[Index(*box)] != form::EditColor::Default) {
            const bool green = colors_[Index(*box)] == form::EditColor::Green;
            HDC dc = reinterpret_cast<HDC>(wParam);
            ::SetTextColor(dc, RGB(255, 255, 255));
            ::SetBkColor(dc, green ? Green : Red);
            return reinterpret_cast<LRESULT>(green ? green_ : red_);
        }
        break;
    }
    case WM_DROPFILES:
        Dropped(reinterpret_cast<HDROP>(wParam));
        return 0;
    case WM_CONTEXTMENU: {
        HWND list = reinterpret_cast<HWND>(wParam);
        if (list == mainList_ || list == logList_) {
            ListMenu(list, POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
            return 0;
        }
        break;
    }
    case WM_SETCURSOR: {
        POINT at{};
        ::GetCursorPos(&at);
        ::ScreenToClient(window_, &at);
        const RECT splitter = SplitterRect();
        if (reinterpret_cast<HWND>(wParam) == window_ && ::PtInRect(&splitter, at)) {
            ::SetCursor(::LoadCursorW(nullptr, MAKEINTRESOURCEW(32645))); // IDC_SIZENS
            return TRUE;
        }
        break;
    }
    case WM_LBUTTONDOWN: {
        const POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        const RECT splitter = SplitterRect();
        if (::PtInRect(&splitter, at)) {
            dragging_ = true;
            dragStartY_ = at.y;
            RECT log{};
            ::GetWindowRect(logList_, &log);
            dragStartHeight_ = log.bottom - log.top;
            ::SetCapture(window_);
        }
        return 0;
    }
    case WM_MOUSEMOVE:
    case WM_LBUTTONUP:
        if (dragging_) {
            // The splitter trades height between the two lists.
            const int height = dragStartHeight_ - (GET_Y_LPARAM(lParam) - dragStartY_);
            logHeight_ = MulDiv(height, 96, dpi_);
            Layout();
            if (message == WM_LBUTTONUP) {
                dragging_ = false;
                ::ReleaseCapture();
            }
        }
        return 0;
    case WM_CLOSE:
        if (form_.CloseQuery())
            ::DestroyWindow(window_);
        return 0;
    case WM_TIMER:
        if (wParam == TickTimer && tick_)
            tick_();
        return 0;
    case WorkDoneMessage:
        WorkDone();
        return 0;
    case WM_DESTROY:
        window_ = nullptr;
        ::PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return ::DefWindowProcW(window_, message, wParam, lParam);
}

void MainWindow::Command(int id, int code, HWND child)
{
    if (id == CopyCommand || id == SelectAllCommand)
        return;
    // A menu's item comes without a control.
    if (child == nullptr && id == ExitCommand) {
        ::SendMessageW(window_, WM_CLOSE, 0, 0);
        return;
    }
    if (child == nullptr && id >= MenuItemIdBase && id <= MenuItemIdBase + static_cast<int>(form::LastMenuItem)) {
        form_.MenuChosen(static_cast<form::MenuItem>(id - MenuItemIdBase));
        return;
    }
    const int number = id - ControlIdBase;
    if (number < 0 || number >= static_cast<int>(controls_.size())
        || child != controls_[static_cast<std::size_t>(number)])
        return;
    const auto control = static_cast<Control>(number);
    if (IsFileEdit(control) && code == EN_CHANGE) {
        if (!settingText_)
            form_.Changed(control);
    } else if ((control == Control::XBlockEdit || control == Control::YBlockEdit || control == Control::PositionEdit)
        && code == EN_KILLFOCUS) {
        // Focus lost to another window or a message box is no leaving.
        HWND focus = ::GetFocus();
        if (focus != nullptr && ::IsChild(window_, focus))
            form_.Exited(control);
    } else if (code == BN_CLICKED) {
        const bool radio = control == Control::NormalModeRadioButton || control == Control::SimpleModeRadioButton;
        if (control != Control::DryRunCheckBox && (!radio || ::SendMessageW(child, BM_GETCHECK, 0, 0) == BST_CHECKED))
            form_.Clicked(control);
    }
}

void MainWindow::Dropped(HDROP drop)
{
    std::vector<std::string> paths;
    const UINT count = ::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        std::wstring path(::DragQueryFileW(drop, i, nullptr, 0) + 1, L'\0');
        path.resize(::DragQueryFileW(drop, i, path.data(), static_cast<UINT>(path.size())));
        paths.push_back(Narrow(path));
    }
    POINT at{};
    ::DragQueryPoint(drop, &at);
    ::DragFinish(drop);
    form_.FilesDropped(paths, FileEditOf(::ChildWindowFromPointEx(window_, at, CWP_SKIPINVISIBLE)));
}

int MainWindow::TextWidth(HDC dc, const std::wstring& text)
{
    // A log of many thousand lines is measured by its characters' widths,
    // each asked of the system once: far cheaper than asking for each line.
    int width = 0;
    for (const wchar_t c : text) {
        if (c >= 0xD800 && c <= 0xDFFF) {
            SIZE size{};
            ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
            return static_cast<int>(size.cx);
        }
        int& known = charWidths_[static_cast<std::size_t>(c)];
        if (known < 0 && !::GetCharWidth32W(dc, c, c, &known))
            known = 0;
        width += known;
    }
    return width;
}

void MainWindow::AddListLines(HWND list, const std::vector<std::string>& lines, int& widest)
{
    std::size_t characters = 0;
    for (const std::string& line : lines)
        characters += line.size() + 1;
    ::SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    ::SendMessageW(list, LB_INITSTORAGE, lines.size(), characters * sizeof(wchar_t));
    HDC dc = ::GetDC(list);
    HGDIOBJ old = ::SelectObject(dc, font_);
    int batchWidest = widest;
    for (const std::string& line : lines) {
        const std::wstring wide = Widen(line);
        ::SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
        batchWidest = std::max(batchWidest, TextWidth(dc, wide) + Scaled(8));
    }
    ::SelectObject(dc, old);
    ::ReleaseDC(list, dc);
    // Lines wider than the list scroll sideways.
    if (batchWidest > widest) {
        widest = batchWidest;
        ::SendMessageW(list, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(widest), 0);
    }
    ::SendMessageW(list, WM_SETREDRAW, TRUE, 0);
}

void MainWindow::CopyList(HWND list)
{
    std::wstring text;
    const int count = static_cast<int>(::SendMessageW(list, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        if (::SendMessageW(list, LB_GETSEL, static_cast<WPARAM>(i), 0) > 0) {
            std::wstring line(
                static_cast<std::size_t>(::SendMessageW(list, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0)) + 1, L'\0');
            line.resize(static_cast<std::size_t>(
                ::SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(line.data()))));
            text += (text.empty() ? L"" : L"\r\n") + line;
        }
    }
    if (!::OpenClipboard(window_))
        return;
    ::EmptyClipboard();
    HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
    if (memory != nullptr) {
        auto* target = static_cast<wchar_t*>(::GlobalLock(memory));
        std::copy(text.c_str(), text.c_str() + text.size() + 1, target);
        ::GlobalUnlock(memory);
        if (::SetClipboardData(CF_UNICODETEXT, memory) == nullptr)
            ::GlobalFree(memory);
    }
    ::CloseClipboard();
}

void MainWindow::ListMenu(HWND list, POINT at)
{
    if (at.x == -1 && at.y == -1) {
        at = POINT{0, 0};
        ::ClientToScreen(list, &at);
    }
    HMENU menu = ::CreatePopupMenu();
    ::AppendMenuW(menu, MF_STRING, CopyCommand, L"&Copy\tCtrl+C");
    ::AppendMenuW(menu, MF_STRING, SelectAllCommand, L"Select &all\tCtrl+A");
    const int chosen
        = static_cast<int>(::TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x, at.y, 0, window_, nullptr));
    ::DestroyMenu(menu);
    if (chosen == CopyCommand)
        CopyList(list);
    else if (chosen == SelectAllCommand)
        ::SendMessageW(list, LB_SETSEL, TRUE, -1);
}

std::string MainWindow::Text(Control control) const
{
    return Narrow(WindowText(Hwnd(control)));
}

void MainWindow::SetText(Control control, const std::string& text)
{
    settingText_ = true;
    ::SetWindowTextW(Hwnd(control), Widen(text).c_str());
    settingText_ = false;
}

void MainWindow::SetEditColor(Control edit, form::EditColor color, const std::string& tip)
{
    colors_[Index(edit)] = color;
    ::InvalidateRect(Hwnd(edit), nullptr, TRUE);
    std::wstring& text = tips_[Index(edit) - Index(Control::StaIdxEdit)];
    text = Widen(tip);
    TOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = window_;
    tool.uId = reinterpret_cast<UINT_PTR>(Hwnd(edit));
    tool.lpszText = text.data();
    ::SendMessageW(tooltip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
}

void MainWindow::SetEnabled(Control control, bool enabled)
{
    ::EnableWindow(Hwnd(control), enabled ? TRUE : FALSE);
}

void MainWindow::SetMenuEnabled(form::MenuItem item, bool enabled)
{
    ::EnableMenuItem(::GetMenu(window_), static_cast<UINT>(MenuItemIdBase + static_cast<int>(item)),
        MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
}

bool MainWindow::IsChecked(Control checkBox) const
{
    return ::SendMessageW(Hwnd(checkBox), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void MainWindow::SetChecked(Control button, bool checked)
{
    ::SendMessageW(Hwnd(button), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void MainWindow::SetFocus(Control control)
{
    ::SetFocus(Hwnd(control));
}

void MainWindow::SetCaption(const std::string& caption)
{
    ::SetWindowTextW(window_, Widen(caption).c_str());
}

void MainWindow::SetBlockRanges(int xMaximum, int yMaximum)
{
    ::SendMessageW(Hwnd(Control::XBlockUpDown), UDM_SETRANGE32, 0, xMaximum);
    ::SendMessageW(Hwnd(Control::YBlockUpDown), UDM_SETRANGE32, 0, yMaximum);
}

void MainWindow::ReplaceMainList(const std::vector<std::string>& lines)
{
    ::SendMessageW(mainList_, WM_SETREDRAW, FALSE, 0);
    ::SendMessageW(mainList_, LB_RESETCONTENT, 0, 0);
    mainWidest_ = 0;
    ::SendMessageW(mainList_, LB_SETHORIZONTALEXTENT, 0, 0);
    AddListLines(mainList_, lines, mainWidest_);
    ::InvalidateRect(mainList_, nullptr, TRUE);
}

void MainWindow::AddLogLines(const std::vector<std::string>& lines)
{
    AddListLines(logList_, lines, logWidest_);
    const LRESULT count = ::SendMessageW(logList_, LB_GETCOUNT, 0, 0);
    ::SendMessageW(logList_, LB_SETTOPINDEX, static_cast<WPARAM>(count - 1), 0);
    ::InvalidateRect(logList_, nullptr, TRUE);
}

void MainWindow::SetProgress(int position)
{
    ::SendMessageW(progressBar_, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void MainWindow::RunInBackground(std::function<void()> work, std::function<void()> tick, std::function<void()> done)
{
    tick_ = std::move(tick);
    done_ = std::move(done);
    // A few times a second: enough to follow, little enough to cost nothing.
    ::SetTimer(window_, TickTimer, 200, nullptr);
    worker_ = std::thread([window = window_, work = std::move(work)] {
        work();
        ::PostMessageW(window, WorkDoneMessage, 0, 0);
    });
}

void MainWindow::WorkDone()
{
    ::KillTimer(window_, TickTimer);
    worker_.join();
    tick_ = nullptr;
    std::exchange(done_, nullptr)();
}

void MainWindow::CloseWindow()
{
    ::PostMessageW(window_, WM_CLOSE, 0, 0);
}

std::vector<HWND> MainWindow::Children() const
{
    std::vector<HWND> children(controls_.begin(), controls_.end());
    children.insert(children.end(), labels_.begin(), labels_.end());
    // The mode's group box stays last: its buttons lie inside it.
    if (mapShown_)
        children.push_back(mapPane_->Handle());
    children.insert(children.end(), {mainList_, logList_, progressBar_, modeGroup_});
    return children;
}

void MainWindow::ShowMapPane(bool shown)
{
    if (shown == mapShown_)
        return;
    mapShown_ = shown;
    ::ShowWindow(mapPane_->Handle(), shown ? SW_SHOWNA : SW_HIDE);
    RECT frame{};
    ::GetWindowRect(window_, &frame);
    // Room for the map beside the lists.
    if (shown && (frame.right - frame.left < Scaled(1100) || frame.bottom - frame.top < Scaled(640))
        && !::IsZoomed(window_))
        ::SetWindowPos(window_, nullptr, 0, 0, std::max<int>(frame.right - frame.left, Scaled(1100)),
            std::max<int>(frame.bottom - frame.top, Scaled(640)), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    Layout();
}

void MainWindow::RedrawMapPane()
{
    ::InvalidateRect(mapPane_->Handle(), nullptr, FALSE);
}

bool MainWindow::AskYesNo(const std::string& caption, const std::string& text)
{
    return ::MessageBoxW(window_, Widen(text).c_str(), Widen(caption).c_str(), MB_YESNO | MB_ICONQUESTION) == IDYES;
}

bool MainWindow::AskToOverride(const std::string& caption, const std::string& text)
{
    return ::MessageBoxW(
               window_, Widen(text).c_str(), Widen(caption).c_str(), MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2)
        == IDYES;
}

void MainWindow::ShowNotice(const std::string& caption, const std::string& text)
{
    ::MessageBoxW(window_, Widen(text).c_str(), Widen(caption).c_str(), MB_OK | MB_ICONINFORMATION);
}

void MainWindow::ShowError(const std::string& text, const std::string& detail)
{
    const std::string shown = detail.empty() ? text : text + "\n\n" + detail;
    ::MessageBoxW(window_, Widen(shown).c_str(), Widen(form::ApplicationTitle).c_str(), MB_OK | MB_ICONERROR);
}

namespace {

// The common file dialog, to open an existing file or to name one to save;
// name is the file name offered at first.
std::optional<std::string> AskPath(
    HWND owner, bool save, const std::string& title, const std::string& folder, const std::string& name)
{
    std::wstring path = Widen(name);
    path.resize(32768, L'\0');
    const std::wstring wideTitle = Widen(title);
    const std::wstring wideFolder = Widen(folder);
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = L"All files\0*.*\0";
    dialog.lpstrFile = path.data();
    dialog.nMaxFile = static_cast<DWORD>(path.size());
    dialog.lpstrInitialDir = wideFolder.empty() ? nullptr : wideFolder.c_str();
    dialog.lpstrTitle = wideTitle.c_str();
    dialog.Flags = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_HIDEREADONLY
        | (save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST);
    if (!(save ? ::GetSaveFileNameW(&dialog) : ::GetOpenFileNameW(&dialog)))
        return std::nullopt;
    path.resize(std::wcslen(path.c_str()));
    return Narrow(path);
}

} // namespace

std::optional<std::string> MainWindow::AskFileName(const std::string& title, const std::string& folder)
{
    return AskPath(window_, false, title, folder, {});
}

std::optional<std::string> MainWindow::AskSaveFileName(
    const std::string& title, const std::string& folder, const std::string& name)
{
    return AskPath(window_, true, title, folder, name);
}

std::optional<std::string> MainWindow::AskFolderName(const std::string& title, const std::string& folder)
{
    // The dialog of today's look needs COM on this thread.
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    const std::wstring wideTitle = Widen(title);
    // The dialog finds a folder by its path in the system's own spelling.
    std::wstring start = Widen(folder);
    std::replace(start.begin(), start.end(), L'/', L'\\');
    while (start.size() > 3 && start.back() == L'\\')
        start.pop_back();
    BROWSEINFOW browse{};
    browse.hwndOwner = window_;
    browse.lpszTitle = wideTitle.c_str();
    browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE | BIF_EDITBOX;
    browse.lParam = reinterpret_cast<LPARAM>(start.c_str());
    browse.lpfn = [](HWND dialog, UINT message, LPARAM, LPARAM data) -> int {
        const auto* first = reinterpret_cast<const wchar_t*>(data);
        if (message == BFFM_INITIALIZED && *first != L'\0') {
            ::SendMessageW(dialog, BFFM_SETEXPANDED, TRUE, data);
            ::SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, data);
        }
        return 0;
    };
    std::optional<std::string> chosen;
    if (PIDLIST_ABSOLUTE list = ::SHBrowseForFolderW(&browse)) {
        std::wstring path(MAX_PATH * 4, L'\0');
        if (::SHGetPathFromIDListEx(list, path.data(), static_cast<DWORD>(path.size()), GPFIDL_DEFAULT)) {
            path.resize(std::wcslen(path.c_str()));
            chosen = Narrow(path);
        }
        ::CoTaskMemFree(list);
    }
    if (SUCCEEDED(com))
        ::CoUninitialize();
    return chosen;
}

std::optional<std::size_t> MainWindow::ChooseFromMenu(Control anchor, const std::vector<std::string>& items)
{
    HMENU menu = ::CreatePopupMenu();
    for (std::size_t i = 0; i < items.size(); ++i)
        ::AppendMenuW(menu, MF_STRING, ChoiceIdBase + i, Widen(items[i]).c_str());
    RECT below{};
    ::GetWindowRect(Hwnd(anchor), &below);
    const int chosen = static_cast<int>(::TrackPopupMenu(
        menu, TPM_RETURNCMD | TPM_LEFTALIGN | TPM_TOPALIGN, below.left, below.bottom, 0, window_, nullptr));
    ::DestroyMenu(menu);
    if (chosen < ChoiceIdBase || chosen >= ChoiceIdBase + static_cast<int>(items.size()))
        return std::nullopt;
    return static_cast<std::size_t>(chosen - ChoiceIdBase);
}

int RunMessageLoop(MainWindow& window)
{
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!window.PreTranslate(message)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
    return static_cast<int>(message.wParam);
}

} // namespace cryo::win32
