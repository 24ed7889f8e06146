#include "MapPaneWindow.h"

#include "MainForm.h"
#include "WideText.h"

#include <windowsx.h>

namespace cryo::win32 {

namespace {

constexpr const wchar_t* ClassName = L"CryoweaverMapPane";

} // namespace

MapPaneWindow::MapPaneWindow(form::TMainForm& form, HWND parent, HINSTANCE instance)
    : form_(form)
{
    static const ATOM registered = [instance] {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = &MapPaneWindow::WindowProc;
        windowClass.hInstance = instance;
        windowClass.hCursor = ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32515)); // IDC_CROSS
        windowClass.lpszClassName = ClassName;
        return ::RegisterClassExW(&windowClass);
    }();
    (void)registered;
    window_
        = ::CreateWindowExW(WS_EX_CLIENTEDGE, ClassName, L"", WS_CHILD, 0, 0, 0, 0, parent, nullptr, instance, this);
}

MapPaneWindow::~MapPaneWindow()
{
    if (window_ != nullptr) {
        ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        ::DestroyWindow(window_);
    }
    if (bitmap_ != nullptr)
        ::DeleteObject(bitmap_);
}

LRESULT CALLBACK MapPaneWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* self = static_cast<MapPaneWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->window_ = window;
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<MapPaneWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr)
        return ::DefWindowProcW(window, message, wParam, lParam);
    return self->Handle(message, wParam, lParam);
}

LRESULT MapPaneWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    form::MapPane& pane = form_.Pane();
    const int x = GET_X_LPARAM(lParam);
    const int y = GET_Y_LPARAM(lParam);
    switch (message) {
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT:
        Paint();
        return 0;
    case WM_SIZE:
        pane.Resize(LOWORD(lParam), HIWORD(lParam));
        ::InvalidateRect(window_, nullptr, FALSE);
        return 0;
    case WM_LBUTTONDOWN:
        ::SetCapture(window_);
        ::SetFocus(window_);
        form_.MapPaneAction(pane.Press(x, y, (wParam & MK_SHIFT) != 0));
        return 0;
    case WM_MOUSEMOVE:
        if (!tracking_) {
            TRACKMOUSEEVENT track{sizeof(TRACKMOUSEEVENT), TME_LEAVE, window_, 0};
            tracking_ = ::TrackMouseEvent(&track) != FALSE;
        }
        form_.MapPaneAction(pane.Move(x, y));
        return 0;
    case WM_LBUTTONUP:
        ::ReleaseCapture();
        form_.MapPaneAction(pane.Release(x, y));
        return 0;
    case WM_MOUSELEAVE:
        tracking_ = false;
        form_.MapPaneAction(pane.Leave());
        return 0;
    case WM_MOUSEWHEEL: {
        POINT at{x, y};
        ::ScreenToClient(window_, &at);
        wheelRest_ += GET_WHEEL_DELTA_WPARAM(wParam);
        const int steps = wheelRest_ / WHEEL_DELTA;
        wheelRest_ -= steps * WHEEL_DELTA;
        form_.MapPaneAction(pane.Wheel(steps, at.x, at.y));
        return 0;
    }
    default:
        break;
    }
    return ::DefWindowProcW(window_, message, wParam, lParam);
}

void MapPaneWindow::Paint()
{
    PAINTSTRUCT paint{};
    HDC dc = ::BeginPaint(window_, &paint);
    RECT client{};
    ::GetClientRect(window_, &client);
    const int width = client.right;
    const int height = client.bottom;
    if (width > 0 && height > 0 && (width != bitmapWidth_ || height != bitmapHeight_ || bitmap_ == nullptr)) {
        if (bitmap_ != nullptr)
            ::DeleteObject(bitmap_);
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height; // top row first
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 24;
        info.bmiHeader.biCompression = BI_RGB;
        bitmap_ = ::CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
        bitmapWidth_ = bitmap_ != nullptr ? width : 0;
        bitmapHeight_ = bitmap_ != nullptr ? height : 0;
    }
    if (bitmap_ != nullptr && width > 0 && height > 0) {
        form::MapPane& pane = form_.Pane();
        pane.Resize(width, height);
        // Rows of a 24-bit bitmap are padded to four bytes.
        const std::size_t stride = (std::size_t(width) * 3 + 3) / 4 * 4;
        pane.Paint(PictureView{static_cast<unsigned char*>(bits_), width, height, stride}, true);
        ::GdiFlush();
        HDC memory = ::CreateCompatibleDC(dc);
        HGDIOBJ old = ::SelectObject(memory, bitmap_);
        std::wstring text = settings::Widen(pane.PositionText());
        if (!pane.HasMap())
            text = L"GetStaticIndex shows the map here";
        if (!text.empty()) {
            HGDIOBJ oldFont = ::SelectObject(memory, font_ != nullptr ? font_ : ::GetStockObject(DEFAULT_GUI_FONT));
            SIZE size{};
            ::GetTextExtentPoint32W(memory, text.c_str(), static_cast<int>(text.size()), &size);
            RECT box{4, height - size.cy - 8, 4 + size.cx + 8, height - 4};
            ::FillRect(memory, &box, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
            ::SetBkMode(memory, TRANSPARENT);
            ::SetTextColor(memory, RGB(255, 255, 255));
            ::TextOutW(memory, box.left + 4, box.top + 2, text.c_str(), static_cast<int>(text.size()));
            ::SelectObject(memory, oldFont);
        }
        ::BitBlt(dc, 0, 0, width, height, memory, 0, 0, SRCCOPY);
        ::SelectObject(memory, old);
        ::DeleteDC(memory);
    }
    ::EndPaint(window_, &paint);
}

} // namespace cryo::win32
