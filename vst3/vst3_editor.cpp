#include "vst3/vst3_editor.h"

#include <atomic>
#include <cstring>
#include <string>

#include "shell/session.h"

namespace vst3editor {
namespace {

using namespace vst3;

#if defined(_WIN32)
constexpr const char* kPlatform = kPlatformTypeHWND;
#else
constexpr const char* kPlatform = kPlatformTypeX11EmbedWindowID;
#endif

// The editor's items in the host's menu of a control: they reach the view while it lives.
class MenuTarget final : public IContextMenuTarget {
public:
    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override {
        if (obj == nullptr) return kInvalidArgument;
        *obj = nullptr;
        if (!sameUid(iid, FUnknown::iid) && !sameUid(iid, IContextMenuTarget::iid)) return kNoInterface;
        *obj = static_cast<IContextMenuTarget*>(this);
        addRef();
        return kResultOk;
    }
    uint32 PLUGIN_API addRef() override { return ++references_; }
    uint32 PLUGIN_API release() override {
        const uint32 left = --references_;
        if (left == 0) delete this;
        return left;
    }
    tresult PLUGIN_API executeMenuItem(int32 tag) override {
        if (tag < 0 || tag >= editor::kMenuItems || session == nullptr) return kResultFalse;
        session->editor().chooseMenuItem(parameter, static_cast<editor::MenuItem>(tag));
        session->refresh();
        return kResultOk;
    }

    shell::EditorSession* session = nullptr;  // null once the view is gone
    int parameter = -1;

private:
    ~MenuTarget() = default;
    std::atomic<uint32> references_{1};
};

// A key the host passes on (onKeyDown) as the value field reads it.
editor::Key keyOf(char16 key, int16 code, char& character) {
    if (code == KEY_RETURN || code == KEY_ENTER) return editor::Key::Enter;
    if (code == KEY_ESCAPE) return editor::Key::Escape;
    if (code == KEY_BACK) return editor::Key::Backspace;
    if (key >= 0x20 && key < 0x7f) character = static_cast<char>(key);
    else if (code == KEY_SPACE) character = ' ';
    else if (code == KEY_SUBTRACT) character = '-';
    else if (code == KEY_DECIMAL) character = '.';
    else if (code >= VKEY_FIRST_ASCII && code < VKEY_FIRST_ASCII + 43) character = static_cast<char>('0' + code - VKEY_FIRST_ASCII);
    return character != 0 ? editor::Key::Character : editor::Key::Other;
}

class View final : public IPlugView,
                   public IPlugViewContentScaleSupport,
                   public Linux::IEventHandler,
                   public Linux::ITimerHandler,
                   public editor::EditorHost {
public:
    explicit View(ViewOwner& owner)
        : owner_(owner), session_(*this, owner.meters(), [&owner](int p) { return owner.shownValue(p); }) {
        owner_.owner()->addRef();
        menuTarget_->session = &session_;
    }

    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override {
        if (obj == nullptr) return kInvalidArgument;
        *obj = nullptr;
        if (sameUid(iid, FUnknown::iid) || sameUid(iid, IPlugView::iid))
            *obj = static_cast<IPlugView*>(this);
        else if (sameUid(iid, IPlugViewContentScaleSupport::iid))
            *obj = static_cast<IPlugViewContentScaleSupport*>(this);
        else if (sameUid(iid, Linux::IEventHandler::iid))
            *obj = static_cast<Linux::IEventHandler*>(this);
        else if (sameUid(iid, Linux::ITimerHandler::iid))
            *obj = static_cast<Linux::ITimerHandler*>(this);
        else
            return kNoInterface;
        addRef();
        return kResultOk;
    }
    uint32 PLUGIN_API addRef() override { return ++references_; }
    uint32 PLUGIN_API release() override {
        const uint32 left = --references_;
        if (left == 0) delete this;
        return left;
    }

    // IPlugView.
    tresult PLUGIN_API isPlatformTypeSupported(FIDString type) override {
        return type != nullptr && std::strcmp(type, kPlatform) == 0 ? kResultTrue : kResultFalse;
    }
    tresult PLUGIN_API attached(void* parent, FIDString type) override {
        if (isPlatformTypeSupported(type) != kResultTrue || parent == nullptr) return kResultFalse;
        try {
            std::string error;
            if (!session_.open(parent, error)) return kResultFalse;
            listen(true);
            return kResultOk;
        } catch (...) {
            return kResultFalse;
        }
    }
    tresult PLUGIN_API removed() override {
        listen(false);
        session_.close();
        return kResultOk;
    }
    tresult PLUGIN_API onWheel(float) override { return kResultFalse; }  // the window's own wheel events serve
    // Keys are the editor's only while its value field is open; any other is the host's.
    tresult PLUGIN_API onKeyDown(char16 key, int16 keyCode, int16) override {
        if (!session_.editor().typing()) return kResultFalse;
        char character = 0;
        const editor::Key k = keyOf(key, keyCode, character);
        session_.editor().keyDown(k, character);
        session_.refresh();
        return kResultTrue;
    }
    tresult PLUGIN_API onKeyUp(char16, int16, int16) override {
        return session_.editor().typing() ? kResultTrue : kResultFalse;
    }
    tresult PLUGIN_API getSize(ViewRect* size) override {
        if (size == nullptr) return kInvalidArgument;
        *size = {0, 0, session_.editor().width(), session_.editor().height()};
        return kResultOk;
    }
    tresult PLUGIN_API onSize(ViewRect* size) override {
        if (size == nullptr) return kInvalidArgument;
        session_.setSize(size->right - size->left, size->bottom - size->top);
        return kResultOk;
    }
    tresult PLUGIN_API onFocus(TBool) override { return kResultOk; }
    tresult PLUGIN_API setFrame(IPlugFrame* frame) override {
        if (frame == frame_) return kResultOk;
        if (frame != nullptr) frame->addRef();
        if (frame_ != nullptr) frame_->release();
        frame_ = frame;
        return kResultOk;
    }
    tresult PLUGIN_API canResize() override { return kResultTrue; }
    tresult PLUGIN_API checkSizeConstraint(ViewRect* rect) override {
        if (rect == nullptr) return kInvalidArgument;
        // Never smaller than half the size at this scale: below it the text is no longer readable.
        const int minWidth = session_.editor().smallestWidth(), minHeight = session_.editor().smallestHeight();
        if (rect->right - rect->left < minWidth) rect->right = rect->left + minWidth;
        if (rect->bottom - rect->top < minHeight) rect->bottom = rect->top + minHeight;
        return kResultTrue;
    }

    // IPlugViewContentScaleSupport: the whole picture drawn at the host's scale, and the host told
    // the size that gives.
    tresult PLUGIN_API setContentScaleFactor(ScaleFactor factor) override {
        if (!(factor >= 0.5f && factor <= 4.0f)) return kResultFalse;
        session_.setScale(factor);
        ViewRect size{0, 0, session_.editor().width(), session_.editor().height()};
        if (frame_ != nullptr) frame_->resizeView(this, &size);
        return kResultOk;
    }

    // Linux::IEventHandler and ITimerHandler: the host's run loop.
    void PLUGIN_API onFDIsSet(Linux::FileDescriptor) override { session_.handleEvents(); }
    void PLUGIN_API onTimer() override { session_.tick(); }

    // editor::EditorHost.
    void beginEdit(int parameter) override { owner_.beginEdit(parameter); }
    void performEdit(int parameter, double value) override { owner_.performEdit(parameter, value); }
    void presetChosen(int preset) override { owner_.presetChosen(preset); }
    void endEdit(int parameter) override { owner_.endEdit(parameter); }
    align::ToneCurve toneCurve() override { return owner_.toneCurve(); }
    // A new curve changes the state outside the parameters: the host is told it is unsaved.
    void setToneCurve(const align::ToneCurve& curve) override {
        owner_.setToneCurve(curve);
        withSecondHandler([](IComponentHandler2& h) { h.setDirty(true); });
    }
    // APPLY's edits as one step of the host's undo.
    void beginStep() override {
        withSecondHandler([](IComponentHandler2& h) { h.startGroupEdit(); });
    }
    void endStep() override {
        withSecondHandler([](IComponentHandler2& h) { h.finishGroupEdit(); });
    }
    template <class Call>
    void withSecondHandler(Call call) {
        IComponentHandler* handler = owner_.componentHandler();
        IComponentHandler2* second = nullptr;
        if (handler == nullptr ||
            handler->queryInterface(IComponentHandler2::iid.bytes, reinterpret_cast<void**>(&second)) != kResultOk ||
            second == nullptr)
            return;
        call(*second);
        second->release();
    }
    // The host's menu of the control's parameter, with the editor's items added.
    bool showHostMenu(int parameter, double x, double y) override {
        IComponentHandler* handler = owner_.componentHandler();
        IComponentHandler3* third = nullptr;
        if (handler == nullptr ||
            handler->queryInterface(IComponentHandler3::iid.bytes, reinterpret_cast<void**>(&third)) != kResultOk ||
            third == nullptr)
            return false;
        const auto id = static_cast<ParamID>(parameter);
        IContextMenu* menu = third->createContextMenu(this, &id);
        third->release();
        if (menu == nullptr) return false;
        menuTarget_->parameter = parameter;
        for (int i = 0; i < editor::kMenuItems; ++i) {
            IContextMenuItem item{};
            const char* name = editor::menuItemName(static_cast<editor::MenuItem>(i));
            for (std::size_t k = 0; name[k] != '\0' && k < 127; ++k) item.name[k] = static_cast<unsigned char>(name[k]);
            item.tag = i;
            menu->addItem(item, menuTarget_);
        }
        const bool shown = menu->popup(static_cast<UCoord>(x), static_cast<UCoord>(y)) == kResultOk;
        menu->release();
        return shown;
    }

private:
    ~View() override {
        menuTarget_->session = nullptr;
        menuTarget_->release();
        listen(false);
        session_.close();
        setFrame(nullptr);
        owner_.owner()->release();
    }

    // The host's run loop calls the view for the window's events and its timer while attached.
    void listen(bool on) {
        if (on == listening_ || frame_ == nullptr) return;
        Linux::IRunLoop* loop = nullptr;
        if (frame_->queryInterface(Linux::IRunLoop::iid.bytes, reinterpret_cast<void**>(&loop)) != kResultOk || loop == nullptr)
            return;
        if (on) {
            if (session_.eventFd() >= 0) loop->registerEventHandler(this, session_.eventFd());
            loop->registerTimer(this, shell::EditorSession::kTimerMilliseconds);
        } else {
            loop->unregisterEventHandler(this);
            loop->unregisterTimer(this);
        }
        loop->release();
        listening_ = on;
    }

    ViewOwner& owner_;
    shell::EditorSession session_;
    IPlugFrame* frame_ = nullptr;
    MenuTarget* menuTarget_ = new MenuTarget;
    std::atomic<uint32> references_{1};
    bool listening_ = false;
};

}  // namespace

IPlugView* createView(ViewOwner& owner) { return new View(owner); }

}  // namespace vst3editor
