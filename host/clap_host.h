// A small CLAP host: loads a .clap through clap_entry and drives one plug-in as a host does,
// with the thread-check and params extensions of its own. For tests.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "clap/clap_api.h"
#include "host/shared_library.h"
#include "host/threads.h"

namespace claphost {

class Module {
public:
    static std::unique_ptr<Module> load(const std::string& path, std::string& error);
    ~Module();
    const clap_plugin_entry_t& entry() const { return *entry_; }
    const clap_plugin_factory_t& factory() const { return *factory_; }

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

    // State through streams that move at most `step` bytes per call; `failAfter` bytes in, the
    // stream reports an error.
    bool saveState(std::vector<std::uint8_t>& out, std::size_t step = 1 << 20, std::size_t failAfter = SIZE_MAX);
    bool loadState(const std::vector<std::uint8_t>& in, std::size_t step = 1 << 20, std::size_t failAfter = SIZE_MAX);

    double value(clap_id id);
    int rescans() const { return rescans_; }
    // Calls of host functions from a thread the interface does not allow them on.
    int wrongThreadCalls() const { return wrongThread_; }

private:
    Plugin() = default;
    static const void* CLAP_ABI hostExtension(const clap_host_t* host, const char* id);
    static void CLAP_ABI hostRescan(const clap_host_t* host, std::uint32_t flags);
    static bool CLAP_ABI isMainThread(const clap_host_t* host);
    static bool CLAP_ABI isAudioThread(const clap_host_t* host);

    clap_host_t host_{};
    const clap_plugin_t* plugin_ = nullptr;
    bool active_ = false, processing_ = false;
    std::uintptr_t mainThread_ = host::currentThread();
    std::atomic<std::uintptr_t> audioThread_{0};
    int rescans_ = 0, wrongThread_ = 0;
};

}  // namespace claphost
