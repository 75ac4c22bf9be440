// A VST 3 host's side of the plug-in's editor, for tests: the frame the view lives in with the
// Linux run loop a host gives it (on an X11 stage), and a component handler that records the
// edits the editor makes.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "host/x11_stage.h"
#include "vst3/vst3_api.h"

namespace vst3host {

using namespace vst3;

class EditorFrame final : public IPlugFrame, public Linux::IRunLoop {
public:
    explicit EditorFrame(host::X11Stage& stage) : stage_(stage) {}
    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override;
    uint32 PLUGIN_API addRef() override { return 1; }  // lives on the test's stack
    uint32 PLUGIN_API release() override { return 1; }
    tresult PLUGIN_API resizeView(IPlugView* view, ViewRect* size) override;
    tresult PLUGIN_API registerEventHandler(Linux::IEventHandler* handler, Linux::FileDescriptor fd) override;
    tresult PLUGIN_API unregisterEventHandler(Linux::IEventHandler* handler) override;
    tresult PLUGIN_API registerTimer(Linux::ITimerHandler* handler, Linux::TimerInterval milliseconds) override;
    tresult PLUGIN_API unregisterTimer(Linux::ITimerHandler* handler) override;

    int resizes = 0;
    ViewRect lastSize{};
    // Everything the view registered and has not taken back.
    std::size_t registered() const { return handlers_.size() + timers_.size(); }

private:
    host::X11Stage& stage_;
    std::map<Linux::IEventHandler*, int> handlers_;
    std::map<Linux::ITimerHandler*, int> timers_;
};

// A host's context menu as the plug-in fills it: the items it added, with their targets, and
// where it asked the menu to pop up.
class RecordingMenu final : public IContextMenu {
public:
    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override;
    uint32 PLUGIN_API addRef() override { return ++references_; }
    uint32 PLUGIN_API release() override;
    int32 PLUGIN_API getItemCount() override { return static_cast<int32>(items_.size()); }
    tresult PLUGIN_API getItem(int32 index, Item& item, IContextMenuTarget** target) override;
    tresult PLUGIN_API addItem(const Item& item, IContextMenuTarget* target) override;
    tresult PLUGIN_API removeItem(const Item&, IContextMenuTarget*) override { return kNotImplemented; }
    tresult PLUGIN_API popup(UCoord x, UCoord y) override { return poppedAt = {x, y}, ++popups, kResultOk; }

    std::vector<std::string> names() const;
    // The user picks the item of this name: its target hears its tag.
    bool choose(const std::string& name);
    std::pair<UCoord, UCoord> poppedAt{-1, -1};
    int popups = 0;

private:
    ~RecordingMenu();
    std::vector<std::pair<Item, IContextMenuTarget*>> items_;
    int references_ = 1;
};

// The edits as the host hears them: begin, perform (normalised) and end, in order. With
// `offersMenus`, it is a host with context menus too (IComponentHandler3), and keeps each menu
// it made.
class RecordingHandler final : public IComponentHandler, public IComponentHandler3 {
public:
    struct Edit {
        char kind;
        ParamID id;
        ParamValue value;
    };
    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override;
    uint32 PLUGIN_API addRef() override { return 1; }
    uint32 PLUGIN_API release() override { return 1; }
    tresult PLUGIN_API beginEdit(ParamID id) override { return edits.push_back({'b', id, 0}), kResultOk; }
    tresult PLUGIN_API performEdit(ParamID id, ParamValue v) override { return edits.push_back({'p', id, v}), kResultOk; }
    tresult PLUGIN_API endEdit(ParamID id) override { return edits.push_back({'e', id, 0}), kResultOk; }
    tresult PLUGIN_API restartComponent(int32) override { return kResultOk; }
    IContextMenu* PLUGIN_API createContextMenu(IPlugView* view, const ParamID* id) override;
    ~RecordingHandler();
    std::vector<Edit> edits;
    bool offersMenus = false;
    std::vector<RecordingMenu*> menus;
    std::vector<ParamID> menusFor;  // each menu's parameter (~0u for none)
};

}  // namespace vst3host
