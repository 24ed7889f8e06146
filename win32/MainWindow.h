#pragma once

#include "FormView.h"
#include "MainForm.h"
#include "MapPaneWindow.h"

#include <windows.h>
// After windows.h, which it builds on.
#include <shellapi.h>

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace cryo::settings {
class SettingsStore;
}

namespace cryo::win32 {

// The native window: builds the controls with the Win32 API and common
// controls, lays them out for the screen's scaling, and forwards their events
// to the logic. Texts are UTF-16 at the API and UTF-8 everywhere else.
class MainWindow final : public form::FormView {
public:
    MainWindow(settings::SettingsStore& store, HINSTANCE instance);
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Shows the window and runs the logic's first start (settings, mode question).
    void Show(int showCommand);
    // Handles what the window does before a message is dispatched (Tab, Enter
    // on a button, Ctrl+C in a list); true when the message is used up.
    bool PreTranslate(MSG& message);

    HWND Handle() const { return window_; }
    HWND Hwnd(form::Control control) const { return controls_[static_cast<std::size_t>(control)]; }
    HWND MainListBox() const { return mainList_; }
    HWND LogListBox() const { return logList_; }
    HWND ProgressBar() const { return progressBar_; }
    HWND Tooltip() const { return tooltip_; }
    form::TMainForm& Form() { return form_; }

    std::string Text(form::Control control) const override;
    void SetText(form::Control control, const std::string& text) override;
    void SetEditColor(form::Control edit, form::EditColor color, const std::string& tip) override;
    void SetEnabled(form::Control control, bool enabled) override;
    void SetMenuEnabled(form::MenuItem item, bool enabled) override;
    bool IsChecked(form::Control checkBox) const override;
    void SetChecked(form::Control button, bool checked) override;
    void SetFocus(form::Control control) override;
    void SetCaption(const std::string& caption) override;
    void SetBlockRanges(int xMaximum, int yMaximum) override;
    void ReplaceMainList(const std::vector<std::string>& lines) override;
    void AddLogLines(const std::vector<std::string>& lines) override;
    void SetProgress(int position) override;
    void RunInBackground(std::function<void()> work, std::function<void()> tick, std::function<void()> done) override;
    void CloseWindow() override;
    bool AskYesNo(const std::string& caption, const std::string& text) override;
    bool AskToOverride(const std::string& caption, const std::string& text) override;
    void ShowNotice(const std::string& caption, const std::string& text) override;
    void ShowError(const std::string& text, const std::string& detail) override;
    std::optional<std::string> AskFileName(const std::string& title, const std::string& folder) override;
    std::optional<std::string> AskFolderName(const std::string& title, const std::string& folder) override;
    std::optional<std::string> AskSaveFileName(
        const std::string& title, const std::string& folder, const std::string& name) override;
    std::optional<std::size_t> ChooseFromMenu(form::Control anchor, const std::vector<std::string>& items) override;
    void ShowMapPane(bool shown) override;
    void RedrawMapPane() override;
    HWND MapPane() const { return mapPane_->Handle(); }

    // Every child window, the labels and the group box included: for a test
    // of the layout.
    std::vector<HWND> Children() const;

private:
    static constexpr std::size_t ControlCount = static_cast<std::size_t>(form::LastControl) + 1;

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void CreateControls();
    // File (Exit), Tools and Help; their items go to the logic.
    void CreateMenuBar();
    void ApplyScale();
    void Layout();
    int Scaled(int pixels) const { return MulDiv(pixels, dpi_, 96); }
    RECT SplitterRect() const;
    void Command(int id, int code, HWND control);
    void Dropped(HDROP drop);
    // Adds lines to a list without painting it between them; widest follows
    // the widest line, for the horizontal scroll bar.
    void AddListLines(HWND list, const std::vector<std::string>& lines, int& widest);
    // The width of a line in the lists' font.
    int TextWidth(HDC dc, const std::wstring& text);
    void WorkDone();
    void CopyList(HWND list);
    void ListMenu(HWND list, POINT at);
    std::optional<form::Control> FileEditOf(HWND window) const;

    form::TMainForm form_;
    HINSTANCE instance_;
    HWND window_ = nullptr;
    std::array<HWND, ControlCount> controls_{};
    std::array<form::EditColor, ControlCount> colors_{};
    std::vector<HWND> labels_;
    HWND mainList_ = nullptr;
    HWND logList_ = nullptr;
    HWND progressBar_ = nullptr;
    HWND modeGroup_ = nullptr;
    HWND tooltip_ = nullptr;
    HFONT font_ = nullptr;
    HBRUSH green_ = nullptr;
    HBRUSH red_ = nullptr;
    int dpi_ = 96;
    int logHeight_ = 113; // at 96 dpi
    int mainWidest_ = 0;
    int logWidest_ = 0;
    std::vector<int> charWidths_ = std::vector<int>(0x10000, -1); // -1: not asked yet
    HWND lastFocus_ = nullptr;
    bool settingText_ = false;
    bool dragging_ = false;
    int dragStartY_ = 0;
    int dragStartHeight_ = 0;
    std::array<std::wstring, 3> tips_;
    std::unique_ptr<MapPaneWindow> mapPane_;
    bool mapShown_ = false;
    // The running operation: its thread, and the window's calls meanwhile and after.
    std::thread worker_;
    std::function<void()> tick_;
    std::function<void()> done_;
};

// Runs the message loop until the window closes; returns the exit code.
int RunMessageLoop(MainWindow& window);

} // namespace cryo::win32
