// The editor of the CLAP plug-in: the gui extension over a window in the host's, the host's
// timers and the window system's descriptor (timer-support, posix-fd-support), and the edits
// told to the host as gesture and value events of the next processing call or flush.
#pragma once

#include <array>
#include <atomic>
#include <memory>

#include "clap/clap_api.h"
#include "clap/clap_context_menu_api.h"
#include "editor/meters.h"
#include "entry/embedded_decoder.h"
#include "shell/edit_queue.h"
#include "shell/session.h"

namespace clapeditor {

// What one plug-in instance keeps for its editor.
struct EditorState final : editor::EditorHost {
    const clap_host_t* host = nullptr;
    vintrel::EmbeddedDecoder* decoder = nullptr;
    editor::MeterFeed meters;
    shell::EditQueue edits;
    std::unique_ptr<shell::EditorSession> session;
    std::atomic<bool> processing{false};
    // Per parameter, the editor's notices (gesture begins, values, ends) the host has not yet
    // heard. While any is, a value from the host for that parameter is older than the editor's
    // and is not applied (hosts send back the value they last knew).
    std::array<std::atomic<int>, 16> untold{};
    bool hostValueIsStale(int parameter) const {
        return parameter >= 0 && parameter < static_cast<int>(untold.size()) &&
               untold[static_cast<std::size_t>(parameter)].load(std::memory_order_acquire) > 0;
    }
    clap_id timer = 0;
    bool hasTimer = false;
    int fd = -1;
    double scale = 1.0;

    // editor::EditorHost: the value takes effect at once (the decoder takes changes from any
    // thread), and the host hears of it through the queue.
    void beginEdit(int parameter) override;
    void performEdit(int parameter, double value) override;
    void endEdit(int parameter) override;
    // The host's menu of the parameter, where it offers context menus it can pop up.
    bool showHostMenu(int parameter, double x, double y) override;
    // The tone match is the decoder's; a new one changes the state, which the host hears of.
    align::ToneCurve toneCurve() override { return decoder->toneCurve(); }
    void setToneCurve(const align::ToneCurve& curve) override;
};

// Defined by the plug-in: the editor state of an instance.
EditorState& editorOf(const clap_plugin_t* plugin);

// The host's events for what the editor did since the last call, in order.
void tellHost(EditorState& state, const clap_output_events_t* out);

extern const clap_plugin_gui_t kGui;
extern const clap_plugin_timer_support_t kTimerSupport;
extern const clap_plugin_posix_fd_support_t kPosixFdSupport;
// The editor's items (a parameter's default, a typed value) in the host's menus.
extern const clap_plugin_context_menu_t kContextMenu;

}  // namespace clapeditor
