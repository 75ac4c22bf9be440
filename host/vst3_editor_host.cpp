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
    if (!sameUid(iid, FUnknown::iid) && !sameUid(iid, IComponentHandler::iid)) return kNoInterface;
    *obj = static_cast<IComponentHandler*>(this);
    return kResultOk;
}

}  // namespace vst3host
