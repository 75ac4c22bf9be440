// A small CLAP host: loads a .clap through clap_entry and drives one plug-in as a host does,
// with the thread-check and params extensions of its own. For tests.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "clap/clap_api.h"
#include "clap/clap_context_menu_api.h"
#include "clap/clap_preset_api.h"
#include "host/shared_library.h"
#include "host/threads.h"

namespace claphost {

// A preset as a host's preset browser indexes it: where it is, its key, and its metadata.
struct DiscoveredPreset {
    std::uint32_t locationKind;
    std::string location;  // empty for a location of kind plugin
    bool hasLocation;
    std::string name, key, description;
    std::vector<std::string> pluginIds;  // "abi:id"
    std::uint32_t flags = 0;
};

class Module {
public:
    static std::unique_ptr<Module> load(const std::string& path, std::string& error);
    ~Module();
    const clap_plugin_entry_t& entry() const { return *entry_; }
    const clap_plugin_factory_t& factory() const { return *factory_; }
    // Every provider of the preset discovery factory (`factoryId`, the stable id or the draft
    // one), created, its locations declared and their presets listed, as an indexer does;
    // false, with words, where something refuses.
    bool discoverPresets(const char* factoryId, std::vector<DiscoveredPreset>& presets, std::string& error) const;

private:
    Module() = default;
    std::unique_ptr<host::SharedLibrary> library_;
    const clap_plugin_entry_t* entry_ = nullptr;
    const clap_plugin_factory_t* factory_ = nullptr;
};

// One parameter change at a frame of the next block.
struct ParamChange {
    std::uint32_t frame;
    clap_id id;
    double value;
};

// The changes of one call as the plug-in reads them, in the order the interface requires (by
// frame); made once, it can be given to many calls.
class EventList {
public:
    explicit EventList(std::vector<ParamChange> changes);
    EventList(const EventList&) = delete;
    EventList& operator=(const EventList&) = delete;
    const clap_input_events_t* list() const { return &list_; }

private:
    static std::uint32_t CLAP_ABI size(const clap_input_events_t* l);
    static const clap_event_header_t* CLAP_ABI get(const clap_input_events_t* l, std::uint32_t i);
    std::vector<clap_event_param_value_t> events_;
    const clap_input_events_t list_{this, size, get};
};

class Plugin {
public:
    // The created and initialised plug-in; null when the factory refuses.
    static std::unique_ptr<Plugin> create(const Module& module, const char* id);
    ~Plugin();

    const clap_plugin_t& plugin() const { return *plugin_; }
    template <class Extension>
    const Extension* extension(const char* id) const {
        return static_cast<const Extension*>(plugin_->get_extension(plugin_, id));
    }

    bool activate(double rate, std::uint32_t maxFrames);
    void deactivate();

    // One processing call on the calling thread (the audio thread while it runs), with the
    // changes as its input events; three channels each way, in place when the pointers agree.
    template <class Sample>
    clap_process_status process(Sample* const* inputs, Sample* const* outputs, std::uint32_t frames,
                                const std::vector<ParamChange>& changes = {});
    template <class Sample>
    clap_process_status process(Sample* const* inputs, Sample* const* outputs, std::uint32_t frames,
                                const EventList& events);
    void flush(const std::vector<ParamChange>& changes);  // outside processing
    // The constant mask of the next call's input port, and the one the plug-in gave its output.
    std::uint64_t inputConstant = 0, outputConstant = 0;

    // State through streams that move at most `step` bytes per call; `failAfter` bytes in, the
    // stream reports an error.
    bool saveState(std::vector<std::uint8_t>& out, std::size_t step = 1 << 20, std::size_t failAfter = SIZE_MAX);
    bool loadState(const std::vector<std::uint8_t>& in, std::size_t step = 1 << 20, std::size_t failAfter = SIZE_MAX);

    double value(clap_id id);
    int rescans() const { return rescans_; }

    // Preset-load through the plug-in's extension; what it told the host's preset-load.
    bool loadPreset(std::uint32_t locationKind, const char* location, const char* key);
    std::vector<std::string> presetsLoaded, presetErrors;

    // What the plug-in told the host in its output events (processing and flush), in order:
    // 'b' gesture begin, 'v' value, 'e' gesture end.
    struct Heard {
        char kind;
        clap_id id;
        double value;
    };
    std::vector<Heard> heard;
    int flushRequests = 0;
    // The plug-in's request_restart calls (any thread), and its latency->changed calls.
    std::atomic<int> restartRequests{0};
    int latencyChanges = 0;
    // A run loop for an editor: timers and descriptors, each answered with a handle.
    struct RunLoop {
        std::function<int(int milliseconds, std::function<void()> tick)> every;
        std::function<int(int fd, std::function<void()> ready)> watch;
        std::function<void(int handle)> forget;
    };
    void serveEditor(RunLoop loop) { runLoop_ = std::move(loop); }
    // A host with context menus it can pop up (the context-menu extension): the popups asked
    // for, each a parameter and a point of the plug-in's window. And the plug-in's own items
    // for a parameter, and one of them performed.
    bool offersContextMenu = false;
    struct Popup {
        clap_id parameter;
        int x, y;
    };
    std::vector<Popup> popups;
    std::vector<std::string> pluginMenuItems(clap_id parameter, std::vector<bool>* enabled = nullptr);
    bool performPluginMenuItem(clap_id parameter, clap_id action);
    std::size_t editorSources() const { return timers_.size() + fds_.size(); }
    // Calls of host functions from a thread the interface does not allow them on.
    int wrongThreadCalls() const { return wrongThread_; }

private:
    Plugin() = default;
    static const void* CLAP_ABI hostExtension(const clap_host_t* host, const char* id);
    static void CLAP_ABI hostRescan(const clap_host_t* host, std::uint32_t flags);
    static void CLAP_ABI presetError(const clap_host_t* host, std::uint32_t kind, const char* location, const char* key,
                                     std::int32_t osError, const char* message);
    static void CLAP_ABI presetLoaded(const clap_host_t* host, std::uint32_t kind, const char* location, const char* key);
    static bool CLAP_ABI isMainThread(const clap_host_t* host);
    static bool CLAP_ABI isAudioThread(const clap_host_t* host);

    static bool CLAP_ABI registerTimer(const clap_host_t* host, std::uint32_t period, clap_id* id);
    static bool CLAP_ABI unregisterTimer(const clap_host_t* host, clap_id id);
    static bool CLAP_ABI registerFd(const clap_host_t* host, int fd, clap_posix_fd_flags_t flags);
    static bool CLAP_ABI unregisterFd(const clap_host_t* host, int fd);
    static bool CLAP_ABI hear(const clap_output_events_t* list, const clap_event_header_t* event);

    clap_host_t host_{};
    const clap_plugin_t* plugin_ = nullptr;
    const clap_output_events_t out_{this, hear};
    RunLoop runLoop_;
    std::map<clap_id, int> timers_;
    std::map<int, int> fds_;
    bool active_ = false, processing_ = false;
    std::uintptr_t mainThread_ = host::currentThread();
    std::atomic<std::uintptr_t> audioThread_{0};
    int rescans_ = 0, wrongThread_ = 0;
};

}  // namespace claphost
