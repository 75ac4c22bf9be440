// The editor's window on Windows: a child of the host's window, painted from the editor's
// picture, with a timer of its own for meters and the host's changes.
#include <windows.h>
#include <windowsx.h>

#include <string>
#include <vector>

#include "shell/window.h"

namespace shell {
namespace {

constexpr wchar_t kClassName[] = L"GuitarDecoderEditor";

class Win32Window final : public EditorWindow {
public:
    Win32Window(HWND parent, editor::Editor& editor) : editor_(editor) {
        window_ = CreateWindowExW(0, windowClass(), L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0, editor.width(),
                                  editor.height(), parent, nullptr, moduleHandle(), nullptr);
        if (window_ != nullptr) SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~Win32Window() override {
        if (window_ == nullptr) return;
        if (focused_ && previousFocus_ != nullptr && IsWindow(previousFocus_)) SetFocus(previousFocus_);
        KillTimer(window_, 1);
        SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        DestroyWindow(window_);
    }
    bool created() const { return window_ != nullptr; }

    bool handleEvents() override { return false; }  // the host's message loop dispatches them
    int eventFd() const override { return -1; }
    void* nativeHandle() const override { return window_; }
    void tickEvery(int milliseconds, std::function<void()> tick) override {
        tick_ = std::move(tick);
        SetTimer(window_, 1, static_cast<UINT>(milliseconds), nullptr);
    }
    void redraw() override {
        followTyping();  // a change from outside the window (a host's menu) may open the field
        picture();
        InvalidateRect(window_, nullptr, FALSE);
        UpdateWindow(window_);
    }
    void resize(int width, int height) override {
        editor_.setSize(width, height);
        SetWindowPos(window_, nullptr, 0, 0, editor_.width(), editor_.height(), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        redraw();
    }

private:
    static HINSTANCE moduleHandle() {
        HMODULE module = nullptr;
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCWSTR>(&kClassName), &module);
        return module;
    }
    static const wchar_t* windowClass() {
        static const bool registered = [] {
            WNDCLASSW c{};
            c.style = CS_DBLCLKS;
            c.lpfnWndProc = procedure;
            c.hInstance = moduleHandle();
            c.hCursor = LoadCursor(nullptr, IDC_ARROW);
            c.lpszClassName = kClassName;
            return RegisterClassW(&c) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
        }();
        return registered ? kClassName : nullptr;
    }
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
        auto* self = reinterpret_cast<Win32Window*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (self != nullptr) {
            LRESULT result = 0;
            if (self->handle(message, w, l, result)) return result;
        }
        return DefWindowProcW(window, message, w, l);
    }

    // The editor's picture as Windows wants a 32-bit top-down bitmap: B, G, R, unused.
    void picture() {
        const editor::Canvas canvas = editor_.draw();
        width_ = canvas.width(), height_ = canvas.height();
        pixels_.resize(canvas.pixels().size());
        const std::uint8_t* rgba = canvas.pixels().data();
        for (std::size_t i = 0; i < pixels_.size(); i += 4)
            pixels_[i] = rgba[i + 2], pixels_[i + 1] = rgba[i + 1], pixels_[i + 2] = rgba[i], pixels_[i + 3] = 0;
    }

    bool handle(UINT message, WPARAM w, LPARAM l, LRESULT& result) {
        switch (message) {
            case WM_PAINT: {
                PAINTSTRUCT paint;
                HDC dc = BeginPaint(window_, &paint);
                if (pixels_.empty()) picture();
                BITMAPINFO info{};
                info.bmiHeader.biSize = sizeof info.bmiHeader;
                info.bmiHeader.biWidth = width_;
                info.bmiHeader.biHeight = -height_;  // top-down rows
                info.bmiHeader.biPlanes = 1;
                info.bmiHeader.biBitCount = 32;
                info.bmiHeader.biCompression = BI_RGB;
                SetDIBitsToDevice(dc, 0, 0, static_cast<DWORD>(width_), static_cast<DWORD>(height_), 0, 0, 0,
                                  static_cast<UINT>(height_), pixels_.data(), &info, DIB_RGB_COLORS);
                EndPaint(window_, &paint);
                return true;
            }
            case WM_ERASEBKGND: result = 1; return true;
            case WM_TIMER:
                if (tick_) tick_();
                return true;
            default: return input(message, w, l);
        }
    }

    // The mouse and, while the value field is open, the keyboard.
    bool input(UINT message, WPARAM w, LPARAM l) {
        const unsigned modifiers = (GET_KEYSTATE_WPARAM(w) & MK_SHIFT) ? editor::kShift : 0;
        const int x = GET_X_LPARAM(l), y = GET_Y_LPARAM(l);
        bool changed = false;
        switch (message) {
            case WM_LBUTTONDOWN:
            case WM_LBUTTONDBLCLK:
                SetCapture(window_);
                changed = editor_.mouseDown(x, y, modifiers, message == WM_LBUTTONDBLCLK ? 2 : 1);
                break;
            case WM_MOUSEMOVE:
                changed = editor_.mouseMove(x, y, modifiers);
                break;
            case WM_LBUTTONUP:
                ReleaseCapture();
                changed = editor_.mouseUp(x, y);
                break;
            case WM_MOUSEWHEEL: {
                POINT at{x, y};
                ScreenToClient(window_, &at);  // wheel positions come in screen coordinates
                changed = editor_.wheel(at.x, at.y, GET_WHEEL_DELTA_WPARAM(w) / WHEEL_DELTA, modifiers);
                break;
            }
            case WM_RBUTTONDOWN: changed = editor_.rightClick(x, y); break;
            case WM_KEYDOWN:
                if (!editor_.typing()) return false;
                if (w == VK_RETURN) changed = editor_.keyDown(editor::Key::Enter);
                else if (w == VK_ESCAPE) changed = editor_.keyDown(editor::Key::Escape);
                else if (w == VK_BACK) changed = editor_.keyDown(editor::Key::Backspace);
                else return true;  // characters come as WM_CHAR
                break;
            case WM_CHAR:
                if (!editor_.typing()) return false;
                if (w >= 0x20 && w < 0x7f) changed = editor_.keyDown(editor::Key::Character, static_cast<char>(w));
                break;
            default: return false;
        }
        followTyping();
        if (changed) redraw();
        return true;
    }

    // The keyboard is the editor's only while its value field is open; then the focus goes
    // back to the window that had it.
    void followTyping() {
        if (editor_.typing() == focused_) return;
        focused_ = editor_.typing();
        if (focused_)
            previousFocus_ = SetFocus(window_);
        else if (previousFocus_ != nullptr && IsWindow(previousFocus_))
            SetFocus(previousFocus_);
    }

    editor::Editor& editor_;
    HWND window_ = nullptr;
    HWND previousFocus_ = nullptr;
    bool focused_ = false;
    std::function<void()> tick_;
    std::vector<std::uint8_t> pixels_;
    int width_ = 0, height_ = 0;
};

}  // namespace

std::unique_ptr<EditorWindow> openEditorWindow(void* parent, editor::Editor& editor, std::string& error) {
    auto window = std::make_unique<Win32Window>(static_cast<HWND>(parent), editor);
    if (!window->created()) {
        error = "Windows made no editor window (error " + std::to_string(GetLastError()) + ")";
        return nullptr;
    }
    return window;
}

}  // namespace shell
