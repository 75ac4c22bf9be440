#include "host/vst3_editor_host.h"

namespace vst3host {

tresult PLUGIN_API EditorFrame::queryInterface(const TUID iid, void** obj) {
    *obj = nullptr;
    if (sameUid(iid, FUnknown::iid) || sameUid(iid, IPlugFrame::iid))
        *obj = static_cast<IPlugFrame*>(this);
    else if (sameUid(iid, Linux::IRunLoop::iid))
        *obj = static_cast<Linux::IRunLoop*>(this);
    else
        return kNoInterface;
    return kResultOk;
}

tresult PLUGIN_API EditorFrame::resizeView(IPlugView* view, ViewRect* size) {
    ++resizes;
    lastSize = *size;
    stage_.resize(size->right - size->left, size->bottom - size->top);
    view->onSize(size);
    return kResultOk;
}

tresult PLUGIN_API EditorFrame::registerEventHandler(Linux::IEventHandler* handler, Linux::FileDescriptor fd) {
    if (handler == nullptr || handlers_.count(handler)) return kInvalidArgument;
    handlers_[handler] = stage_.watch(fd, [handler, fd] { handler->onFDIsSet(fd); });
    return kResultOk;
}

tresult PLUGIN_API EditorFrame::unregisterEventHandler(Linux::IEventHandler* handler) {
    const auto found = handlers_.find(handler);
    if (found == handlers_.end()) return kInvalidArgument;
    stage_.forget(found->second);
    handlers_.erase(found);
    return kResultOk;
}

tresult PLUGIN_API EditorFrame::registerTimer(Linux::ITimerHandler* handler, Linux::TimerInterval milliseconds) {
    if (handler == nullptr || timers_.count(handler)) return kInvalidArgument;
    timers_[handler] = stage_.every(static_cast<int>(milliseconds), [handler] { handler->onTimer(); });
    return kResultOk;
}

tresult PLUGIN_API EditorFrame::unregisterTimer(Linux::ITimerHandler* handler) {
    const auto found = timers_.find(handler);
    if (found == timers_.end()) return kInvalidArgument;
    stage_.forget(found->second);
    timers_.erase(found);
    return kResultOk;
}

tresult PLUGIN_API RecordingHandler::queryInterface(const TUID iid, void** obj) {
    *obj = nullptr;
    if (offersMenus && sameUid(iid, IComponentHandler3::iid)) {
        *obj = static_cast<IComponentHandler3*>(this);
        return kResultOk;
    }
    if (!sameUid(iid, FUnknown::iid) && !sameUid(iid, IComponentHandler::iid)) return kNoInterface;
    *obj = static_cast<IComponentHandler*>(this);
    return kResultOk;
}

IContextMenu* PLUGIN_API RecordingHandler::createContextMenu(IPlugView* view, const ParamID* id) {
    if (view == nullptr) return nullptr;
    auto* menu = new RecordingMenu;
    menu->addRef();  // one for the plug-in, one kept here
    menus.push_back(menu);
    menusFor.push_back(id != nullptr ? *id : ~0u);
    return menu;
}

RecordingHandler::~RecordingHandler() {
    for (RecordingMenu* menu : menus) menu->release();
}

tresult PLUGIN_API RecordingMenu::queryInterface(const TUID iid, void** obj) {
    *obj = nullptr;
    if (!sameUid(iid, FUnknown::iid) && !sameUid(iid, IContextMenu::iid)) return kNoInterface;
    *obj = static_cast<IContextMenu*>(this);
    addRef();
    return kResultOk;
}

uint32 PLUGIN_API RecordingMenu::release() {
    const int left = --references_;
    if (left == 0) delete this;
    return static_cast<uint32>(left);
}

RecordingMenu::~RecordingMenu() {
    for (auto& [item, target] : items_)
        if (target != nullptr) target->release();
}

tresult PLUGIN_API RecordingMenu::getItem(int32 index, Item& item, IContextMenuTarget** target) {
    if (index < 0 || index >= getItemCount()) return kInvalidArgument;
    item = items_[static_cast<std::size_t>(index)].first;
    if (target != nullptr) *target = items_[static_cast<std::size_t>(index)].second;
    return kResultOk;
}

tresult PLUGIN_API RecordingMenu::addItem(const Item& item, IContextMenuTarget* target) {
    if (target != nullptr) target->addRef();
    items_.emplace_back(item, target);
    return kResultOk;
}

std::vector<std::string> RecordingMenu::names() const {
    std::vector<std::string> out;
    for (const auto& [item, target] : items_) {
        std::string name;
        for (int i = 0; i < 128 && item.name[i] != 0; ++i) name += static_cast<char>(item.name[i]);
        out.push_back(name);
    }
    return out;
}

bool RecordingMenu::choose(const std::string& name) {
    const auto all = names();
    for (std::size_t i = 0; i < all.size(); ++i)
        if (all[i] == name && items_[i].second != nullptr) return items_[i].second->executeMenuItem(items_[i].first.tag) == kResultOk;
    return false;
}

}  // namespace vst3host
