#pragma once

#include <windows.h>

namespace cryo::form {
class TMainForm;
}

namespace cryo::win32 {

// The map pane: a child window that blits the picture the logic composes
// (through a DIB section) and passes on the mouse.
class MapPaneWindow {
public:
    MapPaneWindow(form::TMainForm& form, HWND parent, HINSTANCE instance);
    ~MapPaneWindow();
    MapPaneWindow(const MapPaneWindow&) = delete;
    MapPaneWindow& operator=(const MapPaneWindow&) = delete;

    HWND Handle() const { return window_; }
    void SetFont(HFONT font) { font_ = font; }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void Paint();

    form::TMainForm& form_;
    HWND window_ = nullptr;
    HFONT font_ = nullptr;
    // The picture, blue first and top row first, as wide as the pane.
    HBITMAP bitmap_ = nullptr;
    void* bits_ = nullptr;
    int bitmapWidth_ = 0;
    int bitmapHeight_ = 0;
    bool tracking_ = false;
    // Parts of a wheel's notch not yet used (touchpads send small steps).
    int wheelRest_ = 0;
};

} // namespace cryo::win32
