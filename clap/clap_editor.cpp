#include "clap/clap_editor.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

namespace clapeditor {
namespace {

#if defined(_WIN32)
constexpr const char* kApi = CLAP_WINDOW_API_WIN32;
#else
constexpr const char* kApi = CLAP_WINDOW_API_X11;
#endif

template <class Extension>
const Extension* hostExtension(const EditorState& s, const char* id) {
    if (s.host == nullptr || s.host->get_extension == nullptr) return nullptr;
    return static_cast<const Extension*>(s.host->get_extension(s.host, id));
}

// Counted as untold before its effect, so that no host value can slip in between.
void markUntold(EditorState& s, int parameter, int by) {
    if (parameter >= 0 && parameter < static_cast<int>(s.untold.size()))
        s.untold[static_cast<std::size_t>(parameter)].fetch_add(by, std::memory_order_acq_rel);
}

void notify(EditorState& s, const shell::EditNotice& notice) {
    if (!s.edits.push(notice)) markUntold(s, notice.parameter, -1);  // a full queue: never told
    // Outside processing the host must call flush to hear it.
    if (!s.processing.load(std::memory_order_relaxed))
        if (const auto* params = hostExtension<clap_host_params_t>(s, CLAP_EXT_PARAMS))
            if (params->request_flush != nullptr) params->request_flush(s.host);
}

bool isApiSupported(const clap_plugin_t*, const char* api, bool floating) {
    return !floating && api != nullptr && std::strcmp(api, kApi) == 0;
}

bool preferredApi(const clap_plugin_t*, const char** api, bool* floating) {
    if (api == nullptr || floating == nullptr) return false;
    *api = kApi, *floating = false;
    return true;
}

bool create(const clap_plugin_t* plugin, const char* api, bool floating) {
    EditorState& s = editorOf(plugin);
    if (!isApiSupported(plugin, api, floating) || s.session) return false;
    try {
        vintrel::EmbeddedDecoder* decoder = s.decoder;
        s.session = std::make_unique<shell::EditorSession>(s, s.meters, [decoder](int p) { return decoder->value(p); });
        s.session->setScale(s.scale);
        return true;
    } catch (...) {
        return false;
    }
}

void stopListening(EditorState& s) {
    if (s.hasTimer)
        if (const auto* timers = hostExtension<clap_host_timer_support_t>(s, CLAP_EXT_TIMER_SUPPORT))
            timers->unregister_timer(s.host, s.timer);
    if (s.fd >= 0)
        if (const auto* fds = hostExtension<clap_host_posix_fd_support_t>(s, CLAP_EXT_POSIX_FD_SUPPORT))
            fds->unregister_fd(s.host, s.fd);
    s.hasTimer = false, s.fd = -1;
}

void destroy(const clap_plugin_t* plugin) {
    EditorState& s = editorOf(plugin);
    stopListening(s);
    s.session.reset();
}

bool setScale(const clap_plugin_t* plugin, double scale) {
    EditorState& s = editorOf(plugin);
    if (!(scale >= 0.5 && scale <= 4)) return false;
    s.scale = scale;
    if (s.session) s.session->setScale(scale);
    return true;
}

bool getSize(const clap_plugin_t* plugin, uint32_t* width, uint32_t* height) {
    EditorState& s = editorOf(plugin);
    if (!s.session || width == nullptr || height == nullptr) return false;
    *width = static_cast<uint32_t>(s.session->editor().width());
    *height = static_cast<uint32_t>(s.session->editor().height());
    return true;
}

bool canResize(const clap_plugin_t*) { return true; }

bool resizeHints(const clap_plugin_t*, clap_gui_resize_hints_t* hints) {
    if (hints == nullptr) return false;
    *hints = {true, true, true, static_cast<uint32_t>(editor::kBaseWidth), static_cast<uint32_t>(editor::kBaseHeight)};
    return true;
}

// Never smaller than half the size at the scale: below it the text is no longer readable.
bool adjustSize(const clap_plugin_t* plugin, uint32_t* width, uint32_t* height) {
    EditorState& s = editorOf(plugin);
    if (width == nullptr || height == nullptr) return false;
    *width = std::max(*width, static_cast<uint32_t>(std::lround(editor::kBaseWidth * s.scale / 2)));
    *height = std::max(*height, static_cast<uint32_t>(std::lround(editor::kBaseHeight * s.scale / 2)));
    return true;
}

bool setSize(const clap_plugin_t* plugin, uint32_t width, uint32_t height) {
    EditorState& s = editorOf(plugin);
    if (!s.session) return false;
    s.session->setSize(static_cast<int>(width), static_cast<int>(height));
    return true;
}

bool setParent(const clap_plugin_t* plugin, const clap_window_t* window) {
    EditorState& s = editorOf(plugin);
    if (!s.session || window == nullptr || window->api == nullptr || std::strcmp(window->api, kApi) != 0) return false;
    try {
        std::string error;
#if defined(_WIN32)
        void* parent = window->win32;
#else
        void* parent = reinterpret_cast<void*>(static_cast<std::uintptr_t>(window->x11));
#endif
        if (!s.session->open(parent, error)) return false;
        // The host's timer paces the pictures; its loop watches the window's connection.
        if (const auto* timers = hostExtension<clap_host_timer_support_t>(s, CLAP_EXT_TIMER_SUPPORT))
            s.hasTimer = timers->register_timer(s.host, shell::EditorSession::kTimerMilliseconds, &s.timer);
        if (const auto* fds = hostExtension<clap_host_posix_fd_support_t>(s, CLAP_EXT_POSIX_FD_SUPPORT))
            if (s.session->eventFd() >= 0 && fds->register_fd(s.host, s.session->eventFd(), CLAP_POSIX_FD_READ))
                s.fd = s.session->eventFd();
        return true;
    } catch (...) {
        return false;
    }
}

bool setTransient(const clap_plugin_t*, const clap_window_t*) { return false; }  // embedded only
void suggestTitle(const clap_plugin_t*, const char*) {}
bool show(const clap_plugin_t* plugin) { return editorOf(plugin).session != nullptr; }
bool hide(const clap_plugin_t* plugin) { return editorOf(plugin).session != nullptr; }

void onTimer(const clap_plugin_t* plugin, clap_id timer) {
    EditorState& s = editorOf(plugin);
    if (s.session && s.hasTimer && timer == s.timer) s.session->tick();
}

void onFd(const clap_plugin_t* plugin, int fd, clap_posix_fd_flags_t) {
    EditorState& s = editorOf(plugin);
    if (s.session && fd == s.fd) s.session->handleEvents();
}

// A parameter target the editor has items for.
int menuParameter(const clap_context_menu_target_t* target) {
    if (target == nullptr || target->kind != CLAP_CONTEXT_MENU_TARGET_KIND_PARAM || !editor::shows(static_cast<int>(target->id)))
        return -1;
    return static_cast<int>(target->id);
}

bool populateMenu(const clap_plugin_t* plugin, const clap_context_menu_target_t* target,
                  const clap_context_menu_builder_t* builder) {
    if (menuParameter(target) < 0 || builder == nullptr || builder->add_item == nullptr) return false;
    const EditorState& s = editorOf(plugin);
    for (int i = 0; i < editor::kMenuItems; ++i) {
        const auto item = static_cast<editor::MenuItem>(i);
        // Typing needs the editor's field; the default is set with or without an editor.
        const clap_context_menu_entry_t entry{editor::menuItemName(item), item == editor::MenuItem::Default || s.session,
                                              static_cast<clap_id>(i)};
        if (!builder->add_item(builder, CLAP_CONTEXT_MENU_ITEM_ENTRY, &entry)) return false;
    }
    return true;
}

bool performMenu(const clap_plugin_t* plugin, const clap_context_menu_target_t* target, clap_id action) {
    EditorState& s = editorOf(plugin);
    const int parameter = menuParameter(target);
    if (parameter < 0 || action >= static_cast<clap_id>(editor::kMenuItems)) return false;
    const auto item = static_cast<editor::MenuItem>(action);
    if (s.session) {
        s.session->editor().chooseMenuItem(parameter, item);
        s.session->refresh();
        return true;
    }
    if (item != editor::MenuItem::Default) return false;
    s.beginEdit(parameter);
    s.performEdit(parameter, vintrel::kPluginParameters[static_cast<std::size_t>(parameter)].defaultValue);
    s.endEdit(parameter);
    return true;
}

}  // namespace

bool EditorState::showHostMenu(int parameter, double x, double y) {
    const auto* menu = hostExtension<clap_host_context_menu_t>(*this, CLAP_EXT_CONTEXT_MENU);
    if (menu == nullptr) menu = hostExtension<clap_host_context_menu_t>(*this, CLAP_EXT_CONTEXT_MENU_COMPAT);
    if (menu == nullptr || menu->can_popup == nullptr || menu->popup == nullptr || !menu->can_popup(host)) return false;
    const clap_context_menu_target_t target{CLAP_CONTEXT_MENU_TARGET_KIND_PARAM, static_cast<clap_id>(parameter)};
    return menu->popup(host, &target, 0, static_cast<int32_t>(x), static_cast<int32_t>(y));
}

void EditorState::setToneCurve(const align::ToneCurve& curve) {
    decoder->setToneCurve(curve);
    if (const auto* state = hostExtension<clap_host_state_t>(*this, CLAP_EXT_STATE); state != nullptr && state->mark_dirty != nullptr)
        state->mark_dirty(host);
}

void EditorState::beginEdit(int parameter) {
    markUntold(*this, parameter, 1);
    notify(*this, {shell::EditNotice::Begin, parameter, 0});
}

void EditorState::performEdit(int parameter, double value) {
    markUntold(*this, parameter, 1);
    decoder->setValue(parameter, value);
    notify(*this, {shell::EditNotice::Value, parameter, value});
}

void EditorState::endEdit(int parameter) {
    markUntold(*this, parameter, 1);
    notify(*this, {shell::EditNotice::End, parameter, 0});
}

void tellHost(EditorState& state, const clap_output_events_t* out) {
    shell::EditNotice notice;
    while (state.edits.pop(notice)) {
        struct Told {  // however the notice leaves, the host has had its chance to hear it
            EditorState& s;
            int parameter;
            ~Told() { markUntold(s, parameter, -1); }
        } told{state, notice.parameter};
        if (out == nullptr || out->try_push == nullptr) continue;
        const auto id = static_cast<clap_id>(notice.parameter);
        if (notice.kind == shell::EditNotice::Value) {
            clap_event_param_value_t e{};
            e.header = {sizeof e, 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
            e.param_id = id, e.note_id = -1, e.port_index = -1, e.channel = -1, e.key = -1, e.value = notice.value;
            out->try_push(out, &e.header);
        } else {
            clap_event_param_gesture_t e{};
            const uint16_t type = notice.kind == shell::EditNotice::Begin ? CLAP_EVENT_PARAM_GESTURE_BEGIN : CLAP_EVENT_PARAM_GESTURE_END;
            e.header = {sizeof e, 0, CLAP_CORE_EVENT_SPACE_ID, type, 0};
            e.param_id = id;
            out->try_push(out, &e.header);
        }
    }
}

const clap_plugin_gui_t kGui = {isApiSupported, preferredApi, create,       destroy,      setScale,
                                getSize,        canResize,    resizeHints,  adjustSize,   setSize,
                                setParent,      setTransient, suggestTitle, show,         hide};
const clap_plugin_timer_support_t kTimerSupport = {onTimer};
const clap_plugin_posix_fd_support_t kPosixFdSupport = {onFd};
const clap_plugin_context_menu_t kContextMenu = {populateMenu, performMenu};

}  // namespace clapeditor
