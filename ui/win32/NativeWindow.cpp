#include "ui/win32/NativeWindow.h"

#include "ui/NameField.h"
#include "ui/Window.h"
#include "ui/win32/D2dCanvas.h"
#include "ui/win32/TextLayoutCache.h"

#include <algorithm>
#include <optional>
#include <utility>

namespace tav::ui {
namespace {

constexpr const wchar_t* kClassName = L"TavimoView";
constexpr const wchar_t* kTitle = L"Tavimo";
constexpr UINT_PTR kFrameTimer = 1;
constexpr float kDeviceIndependentDpi = 96.0f; // one device-independent unit is one pixel

// The module that holds this code: the class and the window belong to it.
HINSTANCE moduleInstance() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&moduleInstance), &module);
    return module;
}

// The class keeps DefWindowProcW as its procedure; each window switches to its own after
// creation. A module loaded again finds its class still there, which is as good.
bool registerClassOnce(HINSTANCE instance) {
    static const bool registered = [instance] {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.style = CS_DBLCLKS;
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = instance;
        windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)); // IDC_ARROW
        windowClass.lpszClassName = kClassName;
        return RegisterClassExW(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }();
    return registered;
}

std::optional<Key> keyOf(WPARAM virtualKey) {
    switch (virtualKey) {
    case VK_LEFT:
        return Key::Left;
    case VK_RIGHT:
        return Key::Right;
    case VK_UP:
        return Key::Up;
    case VK_DOWN:
        return Key::Down;
    case VK_PRIOR:
        return Key::PageUp;
    case VK_NEXT:
        return Key::PageDown;
    case VK_HOME:
        return Key::Home;
    case VK_END:
        return Key::End;
    case VK_TAB:
        return Key::Tab;
    case VK_RETURN: // the main Return key and the keypad's Enter
        return Key::Return;
    case VK_SPACE:
        return Key::Space;
    case VK_ESCAPE:
        return Key::Escape;
    case VK_BACK:
        return Key::Backspace;
    case VK_DELETE:
        return Key::Delete;
    default:
        return std::nullopt;
    }
}

LPCSTR cursorOf(CursorKind kind) {
    switch (kind) {
    case CursorKind::Hand:
        return MAKEINTRESOURCEA(32649); // IDC_HAND
    case CursorKind::ResizeHorizontal:
        return MAKEINTRESOURCEA(32644); // IDC_SIZEWE
    case CursorKind::ResizeVertical:
        return MAKEINTRESOURCEA(32645); // IDC_SIZENS
    case CursorKind::Arrow:
        break;
    }
    return MAKEINTRESOURCEA(32512); // IDC_ARROW
}

int64_t counterNow() {
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

} // namespace

NativeWindow::NativeWindow(Window& view, TickCallback tick) : view(view), tick(std::move(tick)) {}

NativeWindow::~NativeWindow() {
    destroy();
}

bool NativeWindow::create(void* parent, int32_t width, int32_t height,
                          const std::filesystem::path& fontsFolder) {
    destroy();
    if (!resources.initialise(fontsFolder))
        return false;
    const HINSTANCE instance = moduleInstance();
    if (!registerClassOnce(instance))
        return false;
    window = CreateWindowExW(0, kClassName, kTitle, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0,
                             width, height, static_cast<HWND>(parent), nullptr, instance, nullptr);
    if (window == nullptr)
        return false;
    // Messages sent during creation went to DefWindowProcW; from here on they come to us.
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&NativeWindow::procedure));

    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    countFrequency = frequency.QuadPart > 0 ? frequency.QuadPart : 1;
    previousCount = counterNow();
    SetTimer(window, kFrameTimer, kFrameIntervalMs, nullptr);
    return true;
}

void NativeWindow::resize(int32_t width, int32_t height) {
    if (window != nullptr)
        MoveWindow(window, 0, 0, width, height, TRUE);
}

void NativeWindow::destroy() {
    if (window != nullptr) {
        KillTimer(window, kFrameTimer);
        // Late messages (those DestroyWindow sends) go to DefWindowProcW.
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        DestroyWindow(window);
        window = nullptr;
    }
    renderTarget.Reset();
    leaveRequested = false;
}

LRESULT CALLBACK NativeWindow::procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<NativeWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self == nullptr)
        return DefWindowProcW(hwnd, message, wParam, lParam);
    return self->onMessage(message, wParam, lParam);
}

void NativeWindow::redraw() {
    InvalidateRect(window, nullptr, FALSE);
}

LRESULT NativeWindow::onMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    // Client coordinates arrive as signed 16-bit values; the view works in units of 760 wide.
    const auto viewPoint = [this, lParam] {
        RECT client{};
        GetClientRect(window, &client);
        const float scale = inputScale(client.right - client.left);
        const auto px = static_cast<int16_t>(LOWORD(lParam));
        const auto py = static_cast<int16_t>(HIWORD(lParam));
        return Point{static_cast<float>(px) / scale, static_cast<float>(py) / scale};
    };
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint{};
        BeginPaint(window, &paint);
        paintFrame();
        EndPaint(window, &paint);
        return 0;
    }
    case WM_ERASEBKGND:
        return 1; // every frame covers the whole client area
    case WM_SETCURSOR:
        if (LOWORD(lParam) != HTCLIENT)
            break;
        SetCursor(LoadCursorA(nullptr, cursorOf(view.cursorKind())));
        return 1;
    case WM_GETDLGCODE:
        return DLGC_WANTALLKEYS; // a host's dialog handling must not take Tab, Return or Escape
    case WM_KEYDOWN: {
        const std::optional<Key> key = keyOf(wParam);
        if (!key)
            break;
        view.onKey(*key, (GetKeyState(VK_SHIFT) & 0x8000) != 0);
        redraw();
        return 0;
    }
    case WM_CHAR:
        if (onCharacter(static_cast<char16_t>(wParam)))
            return 0;
        break;
    case WM_TIMER:
        tickFrame();
        redraw();
        return 0;
    case WM_MOUSEMOVE: {
        if (!leaveRequested) {
            TRACKMOUSEEVENT track{};
            track.cbSize = sizeof track;
            track.dwFlags = TME_LEAVE;
            track.hwndTrack = window;
            track.dwHoverTime = 0;
            TrackMouseEvent(&track);
            leaveRequested = true;
        }
        const Point p = viewPoint();
        view.onMouseMove(p.x, p.y);
        redraw();
        return 0;
    }
    case WM_LBUTTONDOWN: {
        SetFocus(window);
        SetCapture(window);
        const Point p = viewPoint();
        view.onMouseDown(p.x, p.y);
        redraw();
        return 0;
    }
    case WM_LBUTTONUP: {
        ReleaseCapture();
        const Point p = viewPoint();
        view.onMouseUp(p.x, p.y);
        redraw();
        return 0;
    }
    case WM_LBUTTONDBLCLK: {
        const Point p = viewPoint();
        view.onDoubleClick(p.x, p.y);
        redraw();
        return 0;
    }
    case WM_MOUSEWHEEL: {
        // The wheel's point is on the screen; a notch is 120.
        POINT screen{static_cast<int16_t>(LOWORD(lParam)), static_cast<int16_t>(HIWORD(lParam))};
        ScreenToClient(window, &screen);
        RECT client{};
        GetClientRect(window, &client);
        const float scale = inputScale(client.right - client.left);
        const auto notches = static_cast<float>(static_cast<int16_t>(HIWORD(wParam))) / 120.0f;
        view.onWheel(static_cast<float>(screen.x) / scale, static_cast<float>(screen.y) / scale,
                     notches);
        redraw();
        return 0;
    }
    case WM_MOUSELEAVE:
        leaveRequested = false;
        view.onMouseLeave();
        redraw();
        return 0;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// Characters come as UTF-16 units, a character beyond the first plane as two messages. They
// are typing only while the name field is open; control characters come with keys the view
// already had (Return, Backspace, Escape).
bool NativeWindow::onCharacter(char16_t unit) {
    if (unit >= 0xD800 && unit <= 0xDBFF) {
        highSurrogate = unit;
        return view.nameFieldOpen();
    }
    char32_t character = unit;
    if (unit >= 0xDC00 && unit <= 0xDFFF) {
        if (highSurrogate == 0)
            return false;
        character = 0x10000 + ((static_cast<char32_t>(highSurrogate) - 0xD800) << 10) +
                    (static_cast<char32_t>(unit) - 0xDC00);
    }
    highSurrogate = 0;
    if (character < 0x20 || character == 0x7F || !view.nameFieldOpen())
        return false;
    view.onText(encodeUtf8(character).c_str());
    redraw();
    return true;
}

void NativeWindow::tickFrame() {
    const int64_t now = counterNow();
    const float elapsed =
        static_cast<float>(static_cast<double>(now - previousCount) / countFrequency);
    previousCount = now;
    if (tick)
        tick(view, std::min(elapsed, kMaxFrameSeconds));
}

void NativeWindow::paintFrame() {
    RECT client{};
    GetClientRect(window, &client);
    const int32_t width = client.right - client.left;
    const int32_t height = client.bottom - client.top;
    if (width <= 0 || height <= 0 || resources.d2dFactory() == nullptr)
        return;
    const D2D1_SIZE_U size{static_cast<UINT32>(width), static_cast<UINT32>(height)};
    if (!renderTarget) {
        const D2D1_RENDER_TARGET_PROPERTIES properties{
            D2D1_RENDER_TARGET_TYPE_DEFAULT,
            D2D1_PIXEL_FORMAT{DXGI_FORMAT_UNKNOWN, D2D1_ALPHA_MODE_UNKNOWN},
            kDeviceIndependentDpi,
            kDeviceIndependentDpi,
            D2D1_RENDER_TARGET_USAGE_NONE,
            D2D1_FEATURE_LEVEL_DEFAULT};
        const D2D1_HWND_RENDER_TARGET_PROPERTIES windowProperties{window, size,
                                                                  D2D1_PRESENT_OPTIONS_NONE};
        if (FAILED(resources.d2dFactory()->CreateHwndRenderTarget(&properties, &windowProperties,
                                                                  &renderTarget)))
            return; // the next paint tries again
    } else {
        const D2D1_SIZE_U current = renderTarget->GetPixelSize();
        if (current.width != size.width || current.height != size.height)
            renderTarget->Resize(&size);
    }
    renderTarget->BeginDraw();
    {
        D2dCanvas canvas(resources, renderTarget.Get(), paintScale(width));
        view.paint(canvas);
    }
    if (renderTarget->EndDraw(nullptr, nullptr) == static_cast<HRESULT>(D2DERR_RECREATE_TARGET))
        renderTarget.Reset(); // the device is lost: the next frame makes a new target
    trimTextCaches(++frameCount);
}

} // namespace tav::ui
