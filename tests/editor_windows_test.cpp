// The editor on Windows (under wine, on an X server of the tests'), as a host shows it: the
// VST 3 view and the CLAP gui in a window of ours, painted with the editor's picture, a drag
// of the mouse heard as one gesture.
#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "editor/editor.h"
#include "host/clap_host.h"
#include "host/vst3_host.h"
#include "shell/window.h"

namespace {

using namespace vst3;

struct NoHost : editor::EditorHost {
    void beginEdit(int) override {}
    void performEdit(int, double) override {}
    void endEdit(int) override {}
};

// A top-level window of the host's, the size of the editor.
class HostWindow {
public:
    HostWindow() {
        WNDCLASSW c{};
        c.lpfnWndProc = DefWindowProcW;
        c.hInstance = GetModuleHandleW(nullptr);
        c.lpszClassName = L"EditorTestHost";
        RegisterClassW(&c);
        RECT r{0, 0, editor::kBaseWidth, editor::kBaseHeight};
        AdjustWindowRect(&r, WS_OVERLAPPEDWINDOW, FALSE);
        window = CreateWindowW(L"EditorTestHost", L"host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, r.right - r.left,
                               r.bottom - r.top, nullptr, nullptr, c.hInstance, nullptr);
    }
    ~HostWindow() { DestroyWindow(window); }
    // Runs the message loop for this long, as a host's UI thread does.
    void pump(int milliseconds) {
        const DWORD end = GetTickCount() + static_cast<DWORD>(milliseconds);
        while (GetTickCount() < end) {
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
            Sleep(5);
        }
    }
    // The editor's child window, and its pixels as R, G, B.
    HWND child() const { return FindWindowExW(window, nullptr, L"GuitarDecoderEditor", nullptr); }
    std::vector<std::uint8_t> pixels(int& width, int& height) const {
        RECT r;
        GetClientRect(child(), &r);
        width = r.right, height = r.bottom;
        HDC screen = GetDC(child());
        HDC memory = CreateCompatibleDC(screen);
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        void* bits = nullptr;
        HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
        std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
        const auto* bgra = static_cast<const std::uint8_t*>(bits);
        for (std::size_t i = 0; i < static_cast<std::size_t>(width) * height; ++i)
            rgb[i * 3] = bgra[i * 4 + 2], rgb[i * 3 + 1] = bgra[i * 4 + 1], rgb[i * 3 + 2] = bgra[i * 4];
        SelectObject(memory, old);
        DeleteObject(bitmap);
        DeleteDC(memory);
        ReleaseDC(child(), screen);
        return rgb;
    }
    HWND window;
};

::testing::AssertionResult looksAsDrawn(const HostWindow& host, const std::vector<std::pair<int, double>>& values) {
    NoHost none;
    editor::Editor e(none);
    for (const auto& [parameter, value] : values) e.setValue(parameter, value);
    const editor::Canvas canvas = e.draw();
    int width = 0, height = 0;
    const auto shot = host.pixels(width, height);
    if (width != canvas.width() || height != canvas.height())
        return ::testing::AssertionFailure() << "the window is " << width << "x" << height;
    std::size_t differing = 0;
    for (std::size_t i = 0; i < static_cast<std::size_t>(width) * height; ++i)
        for (int k = 0; k < 3; ++k) differing += shot[i * 3 + k] != canvas.pixels()[i * 4 + k];
    if (differing == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << differing << " colour values differ";
}

// A drag of the stereo width knob 60 pixels up, as Windows sends it to the editor's window.
void dragWidth(HostWindow& host) {
    NoHost none;
    editor::Editor e(none);
    int x = 0, y = 0;
    for (y = 0; y < e.height() && e.parameterAt(x, y) != 3; y += 2)
        for (x = 0; x < e.width() && e.parameterAt(x, y) != 3; x += 2) {
        }
    x += 40, y += 60;
    SendMessageW(host.child(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    for (int dy = 1; dy <= 60; ++dy) SendMessageW(host.child(), WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x, y - dy));
    SendMessageW(host.child(), WM_LBUTTONUP, 0, MAKELPARAM(x, y - 60));
}

class Recording final : public IComponentHandler {
public:
    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override {
        *obj = sameUid(iid, FUnknown::iid) || sameUid(iid, IComponentHandler::iid) ? this : nullptr;
        return *obj != nullptr ? kResultOk : kNoInterface;  // a host without context menus
    }
    uint32 PLUGIN_API addRef() override { return 1; }
    uint32 PLUGIN_API release() override { return 1; }
    tresult PLUGIN_API beginEdit(ParamID) override { return kinds += 'b', kResultOk; }
    tresult PLUGIN_API performEdit(ParamID, ParamValue v) override { return kinds += 'p', last = v, kResultOk; }
    tresult PLUGIN_API endEdit(ParamID) override { return kinds += 'e', kResultOk; }
    tresult PLUGIN_API restartComponent(int32) override { return kResultOk; }
    std::string kinds;
    double last = -1;
};

TEST(WindowsEditor, AWindowOfTheShell) {
    NoHost none;
    editor::Editor e(none);
    HostWindow host;
    std::string error;
    ASSERT_NE(host.window, nullptr) << "the host's window: error " << GetLastError();
    auto window = shell::openEditorWindow(host.window, e, error);
    EXPECT_TRUE(window) << error;
}

// The VST 3 plug-in with its edits heard by `handler`, and its view (null where it has none).
struct Vst3View {
    std::unique_ptr<vst3host::Module> module;
    std::unique_ptr<vst3host::Plugin> plugin;
    IPlugView* view = nullptr;
    explicit Vst3View(Recording& handler) {
        std::string error;
        module = vst3host::Module::load(VINTREL_VST3_PATH, error);
        if (module) plugin = vst3host::Plugin::create(*module, error);
        if (!plugin) {
            ADD_FAILURE() << error;
            return;
        }
        plugin->controller()->setComponentHandler(&handler);
        view = plugin->controller()->createView(kEditorViewType);
    }
};

TEST(WindowsEditor, TheVst3ViewPaintsThePictureAndADragIsOneGesture) {
    Recording handler;
    Vst3View v(handler);
    auto& plugin = v.plugin;
    IPlugView* view = v.view;
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->isPlatformTypeSupported(kPlatformTypeHWND), kResultTrue);
    HostWindow host;
    ASSERT_EQ(view->attached(host.window, kPlatformTypeHWND), kResultOk);
    host.pump(300);
    ASSERT_NE(host.child(), nullptr);
    EXPECT_TRUE(looksAsDrawn(host, {}));
    dragWidth(host);
    host.pump(100);
    ASSERT_GE(handler.kinds.size(), 3u);
    EXPECT_EQ(handler.kinds.front(), 'b');
    EXPECT_EQ(handler.kinds.back(), 'e');
    EXPECT_EQ(handler.kinds.find_first_not_of('p', 1), handler.kinds.size() - 1);
    EXPECT_DOUBLE_EQ(handler.last, (48.0 + 120) / 240);
    EXPECT_TRUE(looksAsDrawn(host, {{3, 48}}));
    view->removed();
    view->release();
    plugin->controller()->setComponentHandler(nullptr);
}

// Windows' messages for a double click on the output trim's value, "-3.5" typed and Enter: one
// gesture, with the keyboard's focus the editor's only while the field is open. A right click
// in a host without menus shows the editor's own and changes nothing.
TEST(WindowsEditor, ATypedValueIsOneGestureAndTheFocusGoesBack) {
    Recording handler;
    Vst3View v(handler);
    auto& plugin = v.plugin;
    IPlugView* view = v.view;
    ASSERT_NE(view, nullptr);
    HostWindow host;
    ASSERT_EQ(view->attached(host.window, kPlatformTypeHWND), kResultOk);
    host.pump(200);
    HWND editorWindow = host.child();
    ASSERT_NE(editorWindow, nullptr);
    SetFocus(host.window);
    NoHost none;
    editor::Editor e(none);
    int x = 0, y = 0;
    for (y = 0; y < e.height() && e.parameterAt(x, y) != 2; y += 2)
        for (x = 0; x < e.width() && e.parameterAt(x, y) != 2; x += 2) {
        }
    x += 40, y += 109;  // the knob's value
    SendMessageW(editorWindow, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    SendMessageW(editorWindow, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
    SendMessageW(editorWindow, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(x, y));
    SendMessageW(editorWindow, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
    EXPECT_EQ(GetFocus(), editorWindow) << "the field takes the keyboard";
    for (char c : std::string("-3.5")) SendMessageW(editorWindow, WM_CHAR, static_cast<WPARAM>(c), 0);
    SendMessageW(editorWindow, WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_EQ(handler.kinds, "bpe");
    EXPECT_DOUBLE_EQ(handler.last, (-3.5 + 150) / 162);
    EXPECT_EQ(GetFocus(), host.window) << "and gives it back";
    SendMessageW(editorWindow, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(x, y - 50));
    host.pump(50);
    EXPECT_EQ(handler.kinds, "bpe") << "a right click changes nothing";
    view->removed();
    view->release();
    plugin->controller()->setComponentHandler(nullptr);
}

TEST(WindowsEditor, TheClapGuiPaintsThePicture) {
    std::string error;
    auto module = claphost::Module::load(VINTREL_CLAP_PATH, error);
    ASSERT_TRUE(module) << error;
    auto plugin = claphost::Plugin::create(*module, "net.brelvander.guitar-decoder");
    ASSERT_TRUE(plugin);
    const auto* gui = plugin->extension<clap_plugin_gui_t>(CLAP_EXT_GUI);
    ASSERT_NE(gui, nullptr);
    const clap_plugin_t* p = &plugin->plugin();
    EXPECT_TRUE(gui->is_api_supported(p, CLAP_WINDOW_API_WIN32, false));
    HostWindow host;
    clap_window_t window{};
    window.api = CLAP_WINDOW_API_WIN32;
    window.win32 = host.window;
    ASSERT_TRUE(gui->create(p, CLAP_WINDOW_API_WIN32, false));
    ASSERT_TRUE(gui->set_parent(p, &window));
    host.pump(300);
    EXPECT_TRUE(looksAsDrawn(host, {}));
    dragWidth(host);
    host.pump(100);
    EXPECT_EQ(plugin->value(3), 48.0);
    EXPECT_TRUE(looksAsDrawn(host, {{3, 48}}));
    gui->destroy(p);
}

}  // namespace
