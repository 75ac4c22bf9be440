#include "host/clap_host.h"

#include <algorithm>
#include <cstring>

namespace claphost {

std::unique_ptr<Module> Module::load(const std::string& path, std::string& error) {
    std::unique_ptr<Module> module(new Module);
    module->library_ = host::SharedLibrary::open(path, error);
    if (!module->library_) return nullptr;
    module->entry_ = static_cast<const clap_plugin_entry_t*>(module->library_->symbol("clap_entry"));
    if (module->entry_ == nullptr) {
        error = path + " exports no clap_entry";
        return nullptr;
    }
    if (module->entry_->clap_version.major < 1 || !module->entry_->init(path.c_str())) {
        error = path + ": clap_entry refused to start";
        module->entry_ = nullptr;
        return nullptr;
    }
    module->factory_ = static_cast<const clap_plugin_factory_t*>(module->entry_->get_factory(CLAP_PLUGIN_FACTORY_ID));
    if (module->factory_ == nullptr) {
        error = path + " has no plug-in factory";
        return nullptr;
    }
    return module;
}

Module::~Module() {
    if (entry_ != nullptr) entry_->deinit();
}

namespace {

// The indexer's and receiver's side of preset discovery: what the provider declares and lists.
struct Indexing {
    std::vector<clap_preset_discovery_location_t> locations;
    std::vector<std::string> locationNames;
    std::vector<DiscoveredPreset>* presets = nullptr;
    std::uint32_t kind = 0;
    const char* location = nullptr;
    std::string error;

    static Indexing& of(const clap_preset_discovery_indexer_t* i) { return *static_cast<Indexing*>(i->indexer_data); }
    static Indexing& of(const clap_preset_discovery_metadata_receiver_t* r) { return *static_cast<Indexing*>(r->receiver_data); }
    DiscoveredPreset* current() { return presets->empty() ? nullptr : &presets->back(); }

    static bool CLAP_ABI declareFiletype(const clap_preset_discovery_indexer_t*, const clap_preset_discovery_filetype_t*) {
        return true;
    }
    static bool CLAP_ABI declareLocation(const clap_preset_discovery_indexer_t* i, const clap_preset_discovery_location_t* l) {
        if (l == nullptr) return false;
        of(i).locations.push_back(*l);
        return true;
    }
    static bool CLAP_ABI declareSoundpack(const clap_preset_discovery_indexer_t*, const clap_preset_discovery_soundpack_t*) {
        return true;
    }
    static const void* CLAP_ABI indexerExtension(const clap_preset_discovery_indexer_t*, const char*) { return nullptr; }

    static void CLAP_ABI onError(const clap_preset_discovery_metadata_receiver_t* r, std::int32_t, const char* message) {
        of(r).error = message != nullptr ? message : "(no words)";
    }
    static bool CLAP_ABI beginPreset(const clap_preset_discovery_metadata_receiver_t* r, const char* name, const char* key) {
        Indexing& self = of(r);
        self.presets->push_back({self.kind, self.location ? self.location : "", self.location != nullptr,
                                 name ? name : "", key ? key : "", "", {}, 0});
        return true;
    }
    static void CLAP_ABI addPluginId(const clap_preset_discovery_metadata_receiver_t* r, const clap_universal_plugin_id_t* id) {
        if (auto* p = of(r).current(); p != nullptr && id != nullptr && id->abi != nullptr && id->id != nullptr)
            p->pluginIds.push_back(std::string(id->abi) + ":" + id->id);
    }
    static void CLAP_ABI setSoundpack(const clap_preset_discovery_metadata_receiver_t*, const char*) {}
    static void CLAP_ABI setFlags(const clap_preset_discovery_metadata_receiver_t* r, std::uint32_t flags) {
        if (auto* p = of(r).current()) p->flags = flags;
    }
    static void CLAP_ABI addCreator(const clap_preset_discovery_metadata_receiver_t*, const char*) {}
    static void CLAP_ABI setDescription(const clap_preset_discovery_metadata_receiver_t* r, const char* text) {
        if (auto* p = of(r).current(); p != nullptr && text != nullptr) p->description = text;
    }
    static void CLAP_ABI setTimestamps(const clap_preset_discovery_metadata_receiver_t*, clap_timestamp, clap_timestamp) {}
    static void CLAP_ABI addFeature(const clap_preset_discovery_metadata_receiver_t*, const char*) {}
    static void CLAP_ABI addExtraInfo(const clap_preset_discovery_metadata_receiver_t*, const char*, const char*) {}
};

}  // namespace

bool Module::discoverPresets(const char* factoryId, std::vector<DiscoveredPreset>& presets, std::string& error) const {
    const auto* factory = static_cast<const clap_preset_discovery_factory_t*>(entry_->get_factory(factoryId));
    if (factory == nullptr) {
        error = std::string("no preset discovery factory for ") + factoryId;
        return false;
    }
    presets.clear();
    for (std::uint32_t i = 0; i < factory->count(factory); ++i) {
        const clap_preset_discovery_provider_descriptor_t* descriptor = factory->get_descriptor(factory, i);
        if (descriptor == nullptr || descriptor->id == nullptr) {
            error = "provider " + std::to_string(i) + " has no descriptor";
            return false;
        }
        Indexing indexing;
        indexing.presets = &presets;
        const clap_preset_discovery_indexer_t indexer = {CLAP_VERSION, "clapthost", "tests", "", "1.0", &indexing,
                                                         Indexing::declareFiletype, Indexing::declareLocation,
                                                         Indexing::declareSoundpack, Indexing::indexerExtension};
        const clap_preset_discovery_provider_t* provider = factory->create(factory, &indexer, descriptor->id);
        if (provider == nullptr || !provider->init(provider)) {
            if (provider != nullptr) provider->destroy(provider);
            error = std::string("provider ") + descriptor->id + " did not start";
            return false;
        }
        const clap_preset_discovery_metadata_receiver_t receiver = {
            &indexing, Indexing::onError, Indexing::beginPreset, Indexing::addPluginId, Indexing::setSoundpack,
            Indexing::setFlags, Indexing::addCreator, Indexing::setDescription, Indexing::setTimestamps,
            Indexing::addFeature, Indexing::addExtraInfo};
        bool listed = true;
        for (const clap_preset_discovery_location_t& location : indexing.locations) {
            indexing.kind = location.kind;
            indexing.location = location.location;
            listed = listed && provider->get_metadata(provider, location.kind, location.location, &receiver);
        }
        provider->destroy(provider);
        if (!listed || !indexing.error.empty()) {
            error = "provider " + std::string(descriptor->id) + " did not list its presets: " + indexing.error;
            return false;
        }
    }
    return true;
}

namespace {


struct Stream {
    std::vector<std::uint8_t>* bytes;
    std::size_t position, step, failAfter;
    static std::int64_t CLAP_ABI write(const clap_ostream_t* s, const void* buffer, std::uint64_t size) {
        auto* self = static_cast<Stream*>(s->ctx);
        if (self->position >= self->failAfter) return -1;
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>({size, self->step, self->failAfter - self->position}));
        const auto* from = static_cast<const std::uint8_t*>(buffer);
        if (n > 0) self->bytes->insert(self->bytes->end(), from, from + n);
        self->position += n;
        return static_cast<std::int64_t>(n);
    }
    static std::int64_t CLAP_ABI read(const clap_istream_t* s, void* buffer, std::uint64_t size) {
        auto* self = static_cast<Stream*>(s->ctx);
        if (self->position >= self->failAfter) return -1;
        const std::size_t left = self->bytes->size() - self->position;
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>({size, self->step, left, self->failAfter - self->position}));
        if (n > 0) std::memcpy(buffer, self->bytes->data() + self->position, n);
        self->position += n;
        return static_cast<std::int64_t>(n);
    }
};

}  // namespace

std::unique_ptr<Plugin> Plugin::create(const Module& module, const char* id) {
    std::unique_ptr<Plugin> p(new Plugin);
    p->host_ = {CLAP_VERSION, p.get(), "clapthost", "tests", "", "1.0", hostExtension, nullptr, nullptr, nullptr};
    p->host_.request_restart = [](const clap_host_t* h) { ++static_cast<Plugin*>(h->host_data)->restartRequests; };
    p->host_.request_process = [](const clap_host_t*) {};
    p->host_.request_callback = [](const clap_host_t*) {};
    p->plugin_ = module.factory().create_plugin(&module.factory(), &p->host_, id);
    if (p->plugin_ == nullptr) return nullptr;
    if (!p->plugin_->init(p->plugin_)) {
        p->plugin_->destroy(p->plugin_);
        p->plugin_ = nullptr;
        return nullptr;
    }
    return p;
}

Plugin::~Plugin() {
    if (plugin_ == nullptr) return;
    if (active_) deactivate();
    plugin_->destroy(plugin_);
}

bool Plugin::activate(double rate, std::uint32_t maxFrames) {
    active_ = plugin_->activate(plugin_, rate, 1, maxFrames);
    return active_;
}

void Plugin::deactivate() {
    if (processing_) {
        plugin_->stop_processing(plugin_);
        processing_ = false;
    }
    plugin_->deactivate(plugin_);
    active_ = false;
}

EventList::EventList(std::vector<ParamChange> changes) {
    std::stable_sort(changes.begin(), changes.end(),
                     [](const ParamChange& a, const ParamChange& b) { return a.frame < b.frame; });
    for (const ParamChange& c : changes) {
        clap_event_param_value_t e{};
        e.header = {sizeof e, c.frame, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
        e.param_id = c.id;
        e.note_id = -1, e.port_index = -1, e.channel = -1, e.key = -1;
        e.value = c.value;
        events_.push_back(e);
    }
}

std::uint32_t CLAP_ABI EventList::size(const clap_input_events_t* l) {
    return static_cast<std::uint32_t>(static_cast<const EventList*>(l->ctx)->events_.size());
}

const clap_event_header_t* CLAP_ABI EventList::get(const clap_input_events_t* l, std::uint32_t i) {
    const auto& events = static_cast<const EventList*>(l->ctx)->events_;
    return i < events.size() ? &events[i].header : nullptr;
}

template <class Sample>
clap_process_status Plugin::process(Sample* const* inputs, Sample* const* outputs, std::uint32_t frames,
                                    const std::vector<ParamChange>& changes) {
    const EventList events(changes);
    return process(inputs, outputs, frames, events);
}

template <class Sample>
clap_process_status Plugin::process(Sample* const* inputs, Sample* const* outputs, std::uint32_t frames,
                                    const EventList& events) {
    audioThread_ = host::currentThread();
    if (!processing_) processing_ = plugin_->start_processing(plugin_);
    clap_audio_buffer_t in{}, out{};
    in.channel_count = out.channel_count = 3;
    in.constant_mask = inputConstant;
    if constexpr (sizeof(Sample) == sizeof(double)) {
        in.data64 = const_cast<double**>(inputs);
        out.data64 = const_cast<double**>(outputs);
    } else {
        in.data32 = const_cast<float**>(inputs);
        out.data32 = const_cast<float**>(outputs);
    }
    clap_process_t call{};
    call.steady_time = -1;
    call.frames_count = frames;
    call.audio_inputs = &in;
    call.audio_outputs = &out;
    call.audio_inputs_count = call.audio_outputs_count = 1;
    call.in_events = events.list();
    call.out_events = &out_;
    const clap_process_status status = plugin_->process(plugin_, &call);
    outputConstant = out.constant_mask;
    audioThread_ = 0;
    return status;
}
template clap_process_status Plugin::process<float>(float* const*, float* const*, std::uint32_t,
                                                    const std::vector<ParamChange>&);
template clap_process_status Plugin::process<double>(double* const*, double* const*, std::uint32_t,
                                                     const std::vector<ParamChange>&);
template clap_process_status Plugin::process<float>(float* const*, float* const*, std::uint32_t, const EventList&);
template clap_process_status Plugin::process<double>(double* const*, double* const*, std::uint32_t, const EventList&);

void Plugin::flush(const std::vector<ParamChange>& changes) {
    const EventList events(changes);
    extension<clap_plugin_params_t>(CLAP_EXT_PARAMS)->flush(plugin_, events.list(), &out_);
}

bool Plugin::saveState(std::vector<std::uint8_t>& out, std::size_t step, std::size_t failAfter) {
    out.clear();
    Stream stream{&out, 0, step, failAfter};
    const clap_ostream_t s{&stream, Stream::write};
    return extension<clap_plugin_state_t>(CLAP_EXT_STATE)->save(plugin_, &s);
}

bool Plugin::loadState(const std::vector<std::uint8_t>& in, std::size_t step, std::size_t failAfter) {
    Stream stream{const_cast<std::vector<std::uint8_t>*>(&in), 0, step, failAfter};
    const clap_istream_t s{&stream, Stream::read};
    return extension<clap_plugin_state_t>(CLAP_EXT_STATE)->load(plugin_, &s);
}

double Plugin::value(clap_id id) {
    double v = -12345.0;
    extension<clap_plugin_params_t>(CLAP_EXT_PARAMS)->get_value(plugin_, id, &v);
    return v;
}

bool Plugin::loadPreset(std::uint32_t locationKind, const char* location, const char* key) {
    const auto* load = extension<clap_plugin_preset_load_t>(CLAP_EXT_PRESET_LOAD);
    return load != nullptr && load->from_location(plugin_, locationKind, location, key);
}

void CLAP_ABI Plugin::presetError(const clap_host_t* host, std::uint32_t, const char*, const char* key, std::int32_t,
                                  const char* message) {
    static_cast<Plugin*>(host->host_data)->presetErrors.push_back(std::string(key ? key : "") + ": " + (message ? message : ""));
}

void CLAP_ABI Plugin::presetLoaded(const clap_host_t* host, std::uint32_t, const char*, const char* key) {
    static_cast<Plugin*>(host->host_data)->presetsLoaded.push_back(key ? key : "");
}

const void* CLAP_ABI Plugin::hostExtension(const clap_host_t* host, const char* id) {
    static const clap_host_params_t params = {hostRescan, [](const clap_host_t*, clap_id, std::uint32_t) {},
                                              [](const clap_host_t* h) { ++static_cast<Plugin*>(h->host_data)->flushRequests; }};
    static const clap_host_thread_check_t threads = {isMainThread, isAudioThread};
    static const clap_host_latency_t latency = {[](const clap_host_t* h) { ++static_cast<Plugin*>(h->host_data)->latencyChanges; }};
    static const clap_host_timer_support_t timers = {registerTimer, unregisterTimer};
    static const clap_host_posix_fd_support_t fds = {registerFd, [](const clap_host_t*, int, clap_posix_fd_flags_t) { return true; },
                                                     unregisterFd};
    const bool servesEditor = static_cast<bool>(static_cast<Plugin*>(host->host_data)->runLoop_.every);
    if (std::strcmp(id, CLAP_EXT_PARAMS) == 0) return &params;
    if (std::strcmp(id, CLAP_EXT_THREAD_CHECK) == 0) return &threads;
    if (std::strcmp(id, CLAP_EXT_LATENCY) == 0) return &latency;
    static const clap_host_preset_load_t presets = {presetError, presetLoaded};
    if (std::strcmp(id, CLAP_EXT_PRESET_LOAD) == 0) return &presets;
    static const clap_host_context_menu_t menus = {
        [](const clap_host_t*, const clap_context_menu_target_t*, const clap_context_menu_builder_t*) { return true; },
        [](const clap_host_t*, const clap_context_menu_target_t*, clap_id) { return false; },
        [](const clap_host_t*) { return true; },
        [](const clap_host_t* h, const clap_context_menu_target_t* target, int32_t, int32_t x, int32_t y) {
            static_cast<Plugin*>(h->host_data)->popups.push_back({target->id, x, y});
            return true;
        }};
    if (std::strcmp(id, CLAP_EXT_CONTEXT_MENU) == 0 && static_cast<Plugin*>(host->host_data)->offersContextMenu) return &menus;
    if (std::strcmp(id, CLAP_EXT_TIMER_SUPPORT) == 0 && servesEditor) return &timers;
    if (std::strcmp(id, CLAP_EXT_POSIX_FD_SUPPORT) == 0 && servesEditor) return &fds;
    return nullptr;
}

bool CLAP_ABI Plugin::registerTimer(const clap_host_t* host, std::uint32_t period, clap_id* id) {
    auto* self = static_cast<Plugin*>(host->host_data);
    const clap_id timer = static_cast<clap_id>(self->timers_.size() + 100);
    const clap_plugin_t* plugin = self->plugin_;
    const auto* support = static_cast<const clap_plugin_timer_support_t*>(plugin->get_extension(plugin, CLAP_EXT_TIMER_SUPPORT));
    if (support == nullptr || id == nullptr) return false;
    self->timers_[timer] = self->runLoop_.every(static_cast<int>(period), [support, plugin, timer] { support->on_timer(plugin, timer); });
    *id = timer;
    return true;
}

bool CLAP_ABI Plugin::unregisterTimer(const clap_host_t* host, clap_id id) {
    auto* self = static_cast<Plugin*>(host->host_data);
    const auto found = self->timers_.find(id);
    if (found == self->timers_.end()) return false;
    self->runLoop_.forget(found->second);
    self->timers_.erase(found);
    return true;
}

bool CLAP_ABI Plugin::registerFd(const clap_host_t* host, int fd, clap_posix_fd_flags_t flags) {
    auto* self = static_cast<Plugin*>(host->host_data);
    const clap_plugin_t* plugin = self->plugin_;
    const auto* support = static_cast<const clap_plugin_posix_fd_support_t*>(plugin->get_extension(plugin, CLAP_EXT_POSIX_FD_SUPPORT));
    if (support == nullptr || self->fds_.count(fd)) return false;
    self->fds_[fd] = self->runLoop_.watch(fd, [support, plugin, fd, flags] { support->on_fd(plugin, fd, flags); });
    return true;
}

bool CLAP_ABI Plugin::unregisterFd(const clap_host_t* host, int fd) {
    auto* self = static_cast<Plugin*>(host->host_data);
    const auto found = self->fds_.find(fd);
    if (found == self->fds_.end()) return false;
    self->runLoop_.forget(found->second);
    self->fds_.erase(found);
    return true;
}

bool CLAP_ABI Plugin::hear(const clap_output_events_t* list, const clap_event_header_t* event) {
    auto* self = static_cast<Plugin*>(list->ctx);
    if (event->type == CLAP_EVENT_PARAM_VALUE) {
        const auto* e = reinterpret_cast<const clap_event_param_value_t*>(event);
        self->heard.push_back({'v', e->param_id, e->value});
    } else if (event->type == CLAP_EVENT_PARAM_GESTURE_BEGIN || event->type == CLAP_EVENT_PARAM_GESTURE_END) {
        const auto* e = reinterpret_cast<const clap_event_param_gesture_t*>(event);
        self->heard.push_back({event->type == CLAP_EVENT_PARAM_GESTURE_BEGIN ? 'b' : 'e', e->param_id, 0.0});
    }
    return true;
}

void CLAP_ABI Plugin::hostRescan(const clap_host_t* host, std::uint32_t) {
    auto* self = static_cast<Plugin*>(host->host_data);
    ++self->rescans_;
    if (!isMainThread(host)) ++self->wrongThread_;  // rescan belongs to the main thread
}

bool CLAP_ABI Plugin::isMainThread(const clap_host_t* host) {
    return host::currentThread() == static_cast<Plugin*>(host->host_data)->mainThread_;
}

bool CLAP_ABI Plugin::isAudioThread(const clap_host_t* host) {
    return host::currentThread() == static_cast<Plugin*>(host->host_data)->audioThread_.load();
}

std::vector<std::string> Plugin::pluginMenuItems(clap_id parameter, std::vector<bool>* enabled) {
    struct Items {
        std::vector<std::string> labels;
        std::vector<bool> enabled;
    } items;
    const auto* menu = extension<clap_plugin_context_menu_t>(CLAP_EXT_CONTEXT_MENU);
    if (menu == nullptr) return {};
    const clap_context_menu_builder_t builder{
        &items,
        [](const clap_context_menu_builder_t* b, clap_context_menu_item_kind_t kind, const void* data) {
            if (kind != CLAP_CONTEXT_MENU_ITEM_ENTRY || data == nullptr) return false;
            const auto* entry = static_cast<const clap_context_menu_entry_t*>(data);
            static_cast<Items*>(b->ctx)->labels.emplace_back(entry->label);
            static_cast<Items*>(b->ctx)->enabled.push_back(entry->is_enabled);
            return true;
        },
        [](const clap_context_menu_builder_t*, clap_context_menu_item_kind_t kind) { return kind == CLAP_CONTEXT_MENU_ITEM_ENTRY; }};
    const clap_context_menu_target_t target{CLAP_CONTEXT_MENU_TARGET_KIND_PARAM, parameter};
    if (!menu->populate(plugin_, &target, &builder)) return {};
    if (enabled != nullptr) *enabled = items.enabled;
    return items.labels;
}

bool Plugin::performPluginMenuItem(clap_id parameter, clap_id action) {
    const auto* menu = extension<clap_plugin_context_menu_t>(CLAP_EXT_CONTEXT_MENU);
    const clap_context_menu_target_t target{CLAP_CONTEXT_MENU_TARGET_KIND_PARAM, parameter};
    return menu != nullptr && menu->perform(plugin_, &target, action);
}

}  // namespace claphost
