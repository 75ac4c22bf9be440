// Our declarations of the published CLAP 1.2 plug-in interface: the parts this plug-in and our
// test host use. Plain C layouts; every size and offset is pinned below for the four targets
// (Linux and Windows, 64-bit and 32-bit x86, whose 64-bit fields align differently).
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define CLAP_ABI __cdecl
#else
#define CLAP_ABI
#endif

extern "C" {

typedef uint32_t clap_id;
typedef int32_t clap_process_status;
constexpr clap_id CLAP_INVALID_ID = 0xFFFFFFFFu;
constexpr uint32_t CLAP_NAME_SIZE = 256, CLAP_PATH_SIZE = 1024;

struct clap_version_t {
    uint32_t major, minor, revision;
};
constexpr clap_version_t CLAP_VERSION = {1, 2, 10};

struct clap_host_t;
struct clap_plugin_t;
struct clap_process_t;

struct clap_plugin_entry_t {
    clap_version_t clap_version;
    bool(CLAP_ABI* init)(const char* plugin_path);
    void(CLAP_ABI* deinit)(void);
    const void*(CLAP_ABI* get_factory)(const char* factory_id);
};

struct clap_plugin_descriptor_t {
    clap_version_t clap_version;
    const char* id;
    const char* name;
    const char* vendor;
    const char* url;
    const char* manual_url;
    const char* support_url;
    const char* version;
    const char* description;
    const char* const* features;
};

struct clap_plugin_factory_t {
    uint32_t(CLAP_ABI* get_plugin_count)(const clap_plugin_factory_t* factory);
    const clap_plugin_descriptor_t*(CLAP_ABI* get_plugin_descriptor)(const clap_plugin_factory_t* factory,
                                                                    uint32_t index);
    const clap_plugin_t*(CLAP_ABI* create_plugin)(const clap_plugin_factory_t* factory, const clap_host_t* host,
                                                 const char* plugin_id);
};

struct clap_plugin_t {
    const clap_plugin_descriptor_t* desc;
    void* plugin_data;
    bool(CLAP_ABI* init)(const clap_plugin_t* plugin);
    void(CLAP_ABI* destroy)(const clap_plugin_t* plugin);
    bool(CLAP_ABI* activate)(const clap_plugin_t* plugin, double sample_rate, uint32_t min_frames_count,
                             uint32_t max_frames_count);
    void(CLAP_ABI* deactivate)(const clap_plugin_t* plugin);
    bool(CLAP_ABI* start_processing)(const clap_plugin_t* plugin);
    void(CLAP_ABI* stop_processing)(const clap_plugin_t* plugin);
    void(CLAP_ABI* reset)(const clap_plugin_t* plugin);
    clap_process_status(CLAP_ABI* process)(const clap_plugin_t* plugin, const clap_process_t* process);
    const void*(CLAP_ABI* get_extension)(const clap_plugin_t* plugin, const char* id);
    void(CLAP_ABI* on_main_thread)(const clap_plugin_t* plugin);
};

struct clap_host_t {
    clap_version_t clap_version;
    void* host_data;
    const char* name;
    const char* vendor;
    const char* url;
    const char* version;
    const void*(CLAP_ABI* get_extension)(const clap_host_t* host, const char* extension_id);
    void(CLAP_ABI* request_restart)(const clap_host_t* host);
    void(CLAP_ABI* request_process)(const clap_host_t* host);
    void(CLAP_ABI* request_callback)(const clap_host_t* host);
};

// Events.
struct clap_event_header_t {
    uint32_t size;
    uint32_t time;
    uint16_t space_id;
    uint16_t type;
    uint32_t flags;
};
constexpr uint16_t CLAP_CORE_EVENT_SPACE_ID = 0;
enum : uint16_t {
    CLAP_EVENT_PARAM_VALUE = 5,
    CLAP_EVENT_PARAM_MOD = 6,
    CLAP_EVENT_PARAM_GESTURE_BEGIN = 7,
    CLAP_EVENT_PARAM_GESTURE_END = 8,
    CLAP_EVENT_TRANSPORT = 9,
};

struct clap_event_param_value_t {
    clap_event_header_t header;
    clap_id param_id;
    void* cookie;
    int32_t note_id;
    int16_t port_index;
    int16_t channel;
    int16_t key;
    double value;
};

// A user's edit from the plug-in's editor begins and ends around its values.
struct clap_event_param_gesture_t {
    clap_event_header_t header;
    clap_id param_id;
};

typedef int64_t clap_beattime;
typedef int64_t clap_sectime;
constexpr int64_t CLAP_BEATTIME_FACTOR = int64_t(1) << 31;
enum : uint32_t {
    CLAP_TRANSPORT_HAS_TEMPO = 1 << 0,
    CLAP_TRANSPORT_HAS_BEATS_TIMELINE = 1 << 1,
    CLAP_TRANSPORT_HAS_TIME_SIGNATURE = 1 << 3,
    CLAP_TRANSPORT_IS_PLAYING = 1 << 4,
    CLAP_TRANSPORT_IS_RECORDING = 1 << 5,
};
struct clap_event_transport_t {
    clap_event_header_t header;
    uint32_t flags;
    clap_beattime song_pos_beats;
    clap_sectime song_pos_seconds;
    double tempo;
    double tempo_inc;
    clap_beattime loop_start_beats;
    clap_beattime loop_end_beats;
    clap_sectime loop_start_seconds;
    clap_sectime loop_end_seconds;
    clap_beattime bar_start;
    int32_t bar_number;
    uint16_t tsig_num;
    uint16_t tsig_denom;
};

struct clap_input_events_t {
    void* ctx;
    uint32_t(CLAP_ABI* size)(const clap_input_events_t* list);
    const clap_event_header_t*(CLAP_ABI* get)(const clap_input_events_t* list, uint32_t index);
};

struct clap_output_events_t {
    void* ctx;
    bool(CLAP_ABI* try_push)(const clap_output_events_t* list, const clap_event_header_t* event);
};

// Processing.
struct clap_audio_buffer_t {
    float** data32;
    double** data64;
    uint32_t channel_count;
    uint32_t latency;
    uint64_t constant_mask;
};

struct clap_process_t {
    int64_t steady_time;
    uint32_t frames_count;
    const clap_event_transport_t* transport;
    const clap_audio_buffer_t* audio_inputs;
    clap_audio_buffer_t* audio_outputs;
    uint32_t audio_inputs_count;
    uint32_t audio_outputs_count;
    const clap_input_events_t* in_events;
    const clap_output_events_t* out_events;
};
enum : clap_process_status {
    CLAP_PROCESS_ERROR = 0, CLAP_PROCESS_CONTINUE = 1, CLAP_PROCESS_CONTINUE_IF_NOT_QUIET = 2, CLAP_PROCESS_TAIL = 3,
    CLAP_PROCESS_SLEEP = 4
};

// Streams.
struct clap_istream_t {
    void* ctx;
    int64_t(CLAP_ABI* read)(const clap_istream_t* stream, void* buffer, uint64_t size);
};
struct clap_ostream_t {
    void* ctx;
    int64_t(CLAP_ABI* write)(const clap_ostream_t* stream, const void* buffer, uint64_t size);
};

// Extensions.
struct clap_audio_port_info_t {
    clap_id id;
    char name[CLAP_NAME_SIZE];
    uint32_t flags;
    uint32_t channel_count;
    const char* port_type;
    clap_id in_place_pair;
};
enum : uint32_t { CLAP_AUDIO_PORT_IS_MAIN = 1 << 0, CLAP_AUDIO_PORT_SUPPORTS_64BITS = 1 << 1 };
struct clap_plugin_audio_ports_t {
    uint32_t(CLAP_ABI* count)(const clap_plugin_t* plugin, bool is_input);
    bool(CLAP_ABI* get)(const clap_plugin_t* plugin, uint32_t index, bool is_input, clap_audio_port_info_t* info);
};

typedef uint32_t clap_param_info_flags;
enum : uint32_t {
    CLAP_PARAM_IS_STEPPED = 1 << 0,
    CLAP_PARAM_IS_BYPASS = 1 << 4,
    CLAP_PARAM_IS_AUTOMATABLE = 1 << 5,
    CLAP_PARAM_IS_ENUM = 1 << 16,
};
struct clap_param_info_t {
    clap_id id;
    clap_param_info_flags flags;
    void* cookie;
    char name[CLAP_NAME_SIZE];
    char module[CLAP_PATH_SIZE];
    double min_value;
    double max_value;
    double default_value;
};
struct clap_plugin_params_t {
    uint32_t(CLAP_ABI* count)(const clap_plugin_t* plugin);
    bool(CLAP_ABI* get_info)(const clap_plugin_t* plugin, uint32_t param_index, clap_param_info_t* param_info);
    bool(CLAP_ABI* get_value)(const clap_plugin_t* plugin, clap_id param_id, double* out_value);
    bool(CLAP_ABI* value_to_text)(const clap_plugin_t* plugin, clap_id param_id, double value, char* out_buffer,
                                  uint32_t out_buffer_capacity);
    bool(CLAP_ABI* text_to_value)(const clap_plugin_t* plugin, clap_id param_id, const char* param_value_text,
                                  double* out_value);
    void(CLAP_ABI* flush)(const clap_plugin_t* plugin, const clap_input_events_t* in, const clap_output_events_t* out);
};
enum : uint32_t { CLAP_PARAM_RESCAN_VALUES = 1 << 0 };
struct clap_host_params_t {
    void(CLAP_ABI* rescan)(const clap_host_t* host, uint32_t flags);
    void(CLAP_ABI* clear)(const clap_host_t* host, clap_id param_id, uint32_t flags);
    void(CLAP_ABI* request_flush)(const clap_host_t* host);
};

struct clap_plugin_state_t {
    bool(CLAP_ABI* save)(const clap_plugin_t* plugin, const clap_ostream_t* stream);
    bool(CLAP_ABI* load)(const clap_plugin_t* plugin, const clap_istream_t* stream);
};
struct clap_plugin_latency_t {
    uint32_t(CLAP_ABI* get)(const clap_plugin_t* plugin);
};
struct clap_host_latency_t {
    void(CLAP_ABI* changed)(const clap_host_t* host);
};
struct clap_host_state_t {
    void(CLAP_ABI* mark_dirty)(const clap_host_t* host);
};
struct clap_plugin_tail_t {
    uint32_t(CLAP_ABI* get)(const clap_plugin_t* plugin);
};
struct clap_host_thread_check_t {
    bool(CLAP_ABI* is_main_thread)(const clap_host_t* host);
    bool(CLAP_ABI* is_audio_thread)(const clap_host_t* host);
};

// The editor: a window in the host's, timers and the window system's descriptors from the host.
typedef unsigned long clap_xwnd;
typedef void* clap_hwnd;
struct clap_window_t {
    const char* api;
    union {
        void* cocoa;
        clap_xwnd x11;
        clap_hwnd win32;
        void* ptr;
    };
};
struct clap_gui_resize_hints_t {
    bool can_resize_horizontally;
    bool can_resize_vertically;
    bool preserve_aspect_ratio;
    uint32_t aspect_ratio_width;
    uint32_t aspect_ratio_height;
};
struct clap_plugin_gui_t {
    bool(CLAP_ABI* is_api_supported)(const clap_plugin_t* plugin, const char* api, bool is_floating);
    bool(CLAP_ABI* get_preferred_api)(const clap_plugin_t* plugin, const char** api, bool* is_floating);
    bool(CLAP_ABI* create)(const clap_plugin_t* plugin, const char* api, bool is_floating);
    void(CLAP_ABI* destroy)(const clap_plugin_t* plugin);
    bool(CLAP_ABI* set_scale)(const clap_plugin_t* plugin, double scale);
    bool(CLAP_ABI* get_size)(const clap_plugin_t* plugin, uint32_t* width, uint32_t* height);
    bool(CLAP_ABI* can_resize)(const clap_plugin_t* plugin);
    bool(CLAP_ABI* get_resize_hints)(const clap_plugin_t* plugin, clap_gui_resize_hints_t* hints);
    bool(CLAP_ABI* adjust_size)(const clap_plugin_t* plugin, uint32_t* width, uint32_t* height);
    bool(CLAP_ABI* set_size)(const clap_plugin_t* plugin, uint32_t width, uint32_t height);
    bool(CLAP_ABI* set_parent)(const clap_plugin_t* plugin, const clap_window_t* window);
    bool(CLAP_ABI* set_transient)(const clap_plugin_t* plugin, const clap_window_t* window);
    void(CLAP_ABI* suggest_title)(const clap_plugin_t* plugin, const char* title);
    bool(CLAP_ABI* show)(const clap_plugin_t* plugin);
    bool(CLAP_ABI* hide)(const clap_plugin_t* plugin);
};
struct clap_host_gui_t {
    void(CLAP_ABI* resize_hints_changed)(const clap_host_t* host);
    bool(CLAP_ABI* request_resize)(const clap_host_t* host, uint32_t width, uint32_t height);
    bool(CLAP_ABI* request_show)(const clap_host_t* host);
    bool(CLAP_ABI* request_hide)(const clap_host_t* host);
    void(CLAP_ABI* closed)(const clap_host_t* host, bool was_destroyed);
};
struct clap_plugin_timer_support_t {
    void(CLAP_ABI* on_timer)(const clap_plugin_t* plugin, clap_id timer_id);
};
struct clap_host_timer_support_t {
    bool(CLAP_ABI* register_timer)(const clap_host_t* host, uint32_t period_ms, clap_id* timer_id);
    bool(CLAP_ABI* unregister_timer)(const clap_host_t* host, clap_id timer_id);
};
typedef uint32_t clap_posix_fd_flags_t;
enum : uint32_t { CLAP_POSIX_FD_READ = 1 << 0, CLAP_POSIX_FD_WRITE = 1 << 1, CLAP_POSIX_FD_ERROR = 1 << 2 };
struct clap_plugin_posix_fd_support_t {
    void(CLAP_ABI* on_fd)(const clap_plugin_t* plugin, int fd, clap_posix_fd_flags_t flags);
};
struct clap_host_posix_fd_support_t {
    bool(CLAP_ABI* register_fd)(const clap_host_t* host, int fd, clap_posix_fd_flags_t flags);
    bool(CLAP_ABI* modify_fd)(const clap_host_t* host, int fd, clap_posix_fd_flags_t flags);
    bool(CLAP_ABI* unregister_fd)(const clap_host_t* host, int fd);
};

}  // extern "C"

constexpr char CLAP_PLUGIN_FACTORY_ID[] = "clap.plugin-factory";
constexpr char CLAP_EXT_GUI[] = "clap.gui";
constexpr char CLAP_EXT_TIMER_SUPPORT[] = "clap.timer-support";
constexpr char CLAP_EXT_POSIX_FD_SUPPORT[] = "clap.posix-fd-support";
constexpr char CLAP_WINDOW_API_X11[] = "x11";
constexpr char CLAP_WINDOW_API_WIN32[] = "win32";
constexpr char CLAP_EXT_AUDIO_PORTS[] = "clap.audio-ports";
constexpr char CLAP_EXT_PARAMS[] = "clap.params";
constexpr char CLAP_EXT_STATE[] = "clap.state";
constexpr char CLAP_EXT_LATENCY[] = "clap.latency";
constexpr char CLAP_EXT_TAIL[] = "clap.tail";
constexpr char CLAP_EXT_THREAD_CHECK[] = "clap.thread-check";

// clang-format off
static_assert(sizeof(clap_event_param_gesture_t) == 20 && alignof(clap_event_param_gesture_t) == 4 &&
              offsetof(clap_event_param_gesture_t, param_id) == 16);
static_assert(sizeof(clap_gui_resize_hints_t) == 12 && offsetof(clap_gui_resize_hints_t, preserve_aspect_ratio) == 2 &&
              offsetof(clap_gui_resize_hints_t, aspect_ratio_width) == 4 &&
              offsetof(clap_gui_resize_hints_t, aspect_ratio_height) == 8);
static_assert(sizeof(clap_window_t) == 2 * sizeof(void*) && offsetof(clap_window_t, x11) == sizeof(void*) &&
              offsetof(clap_window_t, win32) == sizeof(void*));
static_assert(sizeof(clap_plugin_gui_t) == 15 * sizeof(void*) && offsetof(clap_plugin_gui_t, set_parent) == 10 * sizeof(void*) &&
              offsetof(clap_plugin_gui_t, hide) == 14 * sizeof(void*));
static_assert(sizeof(clap_host_gui_t) == 5 * sizeof(void*) && sizeof(clap_plugin_timer_support_t) == sizeof(void*) &&
              sizeof(clap_host_timer_support_t) == 2 * sizeof(void*) && sizeof(clap_plugin_posix_fd_support_t) == sizeof(void*) &&
              sizeof(clap_host_posix_fd_support_t) == 3 * sizeof(void*) && sizeof(clap_posix_fd_flags_t) == 4);
static_assert(sizeof(clap_version_t) == 12 && sizeof(clap_event_header_t) == 16);
static_assert(offsetof(clap_event_header_t, time) == 4 && offsetof(clap_event_header_t, space_id) == 8 &&
              offsetof(clap_event_header_t, type) == 10 && offsetof(clap_event_header_t, flags) == 12);
#if INTPTR_MAX == INT64_MAX
static_assert(sizeof(clap_plugin_entry_t) == 40 && offsetof(clap_plugin_entry_t, init) == 16 &&
              offsetof(clap_plugin_entry_t, deinit) == 24 && offsetof(clap_plugin_entry_t, get_factory) == 32);
static_assert(sizeof(clap_plugin_factory_t) == 24 && offsetof(clap_plugin_factory_t, create_plugin) == 16);
static_assert(sizeof(clap_plugin_descriptor_t) == 88 && offsetof(clap_plugin_descriptor_t, id) == 16 &&
              offsetof(clap_plugin_descriptor_t, version) == 64 && offsetof(clap_plugin_descriptor_t, features) == 80);
static_assert(sizeof(clap_plugin_t) == 96 && offsetof(clap_plugin_t, plugin_data) == 8 &&
              offsetof(clap_plugin_t, activate) == 32 && offsetof(clap_plugin_t, process) == 72 &&
              offsetof(clap_plugin_t, on_main_thread) == 88);
static_assert(sizeof(clap_host_t) == 88 && offsetof(clap_host_t, host_data) == 16 &&
              offsetof(clap_host_t, get_extension) == 56 && offsetof(clap_host_t, request_callback) == 80);
static_assert(sizeof(clap_process_t) == 64 && offsetof(clap_process_t, frames_count) == 8 &&
              offsetof(clap_process_t, transport) == 16 && offsetof(clap_process_t, audio_inputs) == 24 &&
              offsetof(clap_process_t, audio_outputs) == 32 && offsetof(clap_process_t, audio_inputs_count) == 40 &&
              offsetof(clap_process_t, audio_outputs_count) == 44 && offsetof(clap_process_t, in_events) == 48 &&
              offsetof(clap_process_t, out_events) == 56);
static_assert(sizeof(clap_audio_buffer_t) == 32 && offsetof(clap_audio_buffer_t, data64) == 8 &&
              offsetof(clap_audio_buffer_t, channel_count) == 16 && offsetof(clap_audio_buffer_t, latency) == 20 &&
              offsetof(clap_audio_buffer_t, constant_mask) == 24);
static_assert(sizeof(clap_event_param_value_t) == 56 && offsetof(clap_event_param_value_t, param_id) == 16 &&
              offsetof(clap_event_param_value_t, cookie) == 24 && offsetof(clap_event_param_value_t, note_id) == 32 &&
              offsetof(clap_event_param_value_t, port_index) == 36 && offsetof(clap_event_param_value_t, channel) == 38 &&
              offsetof(clap_event_param_value_t, key) == 40 && offsetof(clap_event_param_value_t, value) == 48);
static_assert(sizeof(clap_event_transport_t) == 104 && offsetof(clap_event_transport_t, song_pos_beats) == 24 &&
              offsetof(clap_event_transport_t, tempo) == 40 && offsetof(clap_event_transport_t, bar_number) == 96 &&
              offsetof(clap_event_transport_t, tsig_num) == 100 && offsetof(clap_event_transport_t, tsig_denom) == 102);
static_assert(sizeof(clap_input_events_t) == 24 && offsetof(clap_input_events_t, get) == 16);
static_assert(sizeof(clap_output_events_t) == 16 && offsetof(clap_output_events_t, try_push) == 8);
static_assert(sizeof(clap_istream_t) == 16 && sizeof(clap_ostream_t) == 16 && offsetof(clap_istream_t, read) == 8);
static_assert(sizeof(clap_audio_port_info_t) == 288 && offsetof(clap_audio_port_info_t, flags) == 260 &&
              offsetof(clap_audio_port_info_t, channel_count) == 264 &&
              offsetof(clap_audio_port_info_t, port_type) == 272 && offsetof(clap_audio_port_info_t, in_place_pair) == 280);
static_assert(sizeof(clap_plugin_audio_ports_t) == 16);
static_assert(sizeof(clap_param_info_t) == 1320 && offsetof(clap_param_info_t, cookie) == 8 &&
              offsetof(clap_param_info_t, name) == 16 && offsetof(clap_param_info_t, module) == 272 &&
              offsetof(clap_param_info_t, min_value) == 1296 && offsetof(clap_param_info_t, max_value) == 1304 &&
              offsetof(clap_param_info_t, default_value) == 1312);
static_assert(sizeof(clap_plugin_params_t) == 48 && offsetof(clap_plugin_params_t, flush) == 40);
static_assert(sizeof(clap_host_params_t) == 24 && sizeof(clap_plugin_state_t) == 16);
static_assert(sizeof(clap_plugin_latency_t) == 8 && sizeof(clap_plugin_tail_t) == 8 &&
              sizeof(clap_host_thread_check_t) == 16 && sizeof(clap_host_latency_t) == 8 && sizeof(clap_host_state_t) == 8);
#else
static_assert(sizeof(clap_plugin_entry_t) == 24 && offsetof(clap_plugin_entry_t, init) == 12 &&
              offsetof(clap_plugin_entry_t, deinit) == 16 && offsetof(clap_plugin_entry_t, get_factory) == 20);
static_assert(sizeof(clap_plugin_factory_t) == 12 && offsetof(clap_plugin_factory_t, create_plugin) == 8);
static_assert(sizeof(clap_plugin_descriptor_t) == 48 && offsetof(clap_plugin_descriptor_t, id) == 12 &&
              offsetof(clap_plugin_descriptor_t, version) == 36 && offsetof(clap_plugin_descriptor_t, features) == 44);
static_assert(sizeof(clap_plugin_t) == 48 && offsetof(clap_plugin_t, plugin_data) == 4 &&
              offsetof(clap_plugin_t, activate) == 16 && offsetof(clap_plugin_t, process) == 36 &&
              offsetof(clap_plugin_t, on_main_thread) == 44);
static_assert(sizeof(clap_host_t) == 48 && offsetof(clap_host_t, host_data) == 12 &&
              offsetof(clap_host_t, get_extension) == 32 && offsetof(clap_host_t, request_callback) == 44);
static_assert(sizeof(clap_process_t) == 40 && offsetof(clap_process_t, frames_count) == 8 &&
              offsetof(clap_process_t, transport) == 12 && offsetof(clap_process_t, audio_inputs) == 16 &&
              offsetof(clap_process_t, audio_outputs) == 20 && offsetof(clap_process_t, audio_inputs_count) == 24 &&
              offsetof(clap_process_t, audio_outputs_count) == 28 && offsetof(clap_process_t, in_events) == 32 &&
              offsetof(clap_process_t, out_events) == 36);
static_assert(sizeof(clap_audio_buffer_t) == 24 && offsetof(clap_audio_buffer_t, data64) == 4 &&
              offsetof(clap_audio_buffer_t, channel_count) == 8 && offsetof(clap_audio_buffer_t, latency) == 12 &&
              offsetof(clap_audio_buffer_t, constant_mask) == 16);
static_assert(offsetof(clap_event_param_value_t, param_id) == 16 && offsetof(clap_event_param_value_t, cookie) == 20 &&
              offsetof(clap_event_param_value_t, note_id) == 24 && offsetof(clap_event_param_value_t, port_index) == 28 &&
              offsetof(clap_event_param_value_t, channel) == 30 && offsetof(clap_event_param_value_t, key) == 32);
#if defined(_WIN32)  // 64-bit fields align to 8 inside structures
static_assert(sizeof(clap_event_param_value_t) == 48 && offsetof(clap_event_param_value_t, value) == 40);
static_assert(sizeof(clap_event_transport_t) == 104 && offsetof(clap_event_transport_t, song_pos_beats) == 24 &&
              offsetof(clap_event_transport_t, tempo) == 40);
static_assert(sizeof(clap_param_info_t) == 1320 && offsetof(clap_param_info_t, min_value) == 1296 &&
              offsetof(clap_param_info_t, default_value) == 1312);
#else  // System V i386: 4
static_assert(sizeof(clap_event_param_value_t) == 44 && offsetof(clap_event_param_value_t, value) == 36);
static_assert(sizeof(clap_event_transport_t) == 100 && offsetof(clap_event_transport_t, song_pos_beats) == 20 &&
              offsetof(clap_event_transport_t, tempo) == 36 &&
              offsetof(clap_event_transport_t, tsig_denom) == 98);
static_assert(sizeof(clap_param_info_t) == 1316 && offsetof(clap_param_info_t, min_value) == 1292 &&
              offsetof(clap_param_info_t, default_value) == 1308);
#endif
static_assert(offsetof(clap_param_info_t, name) == 12 && offsetof(clap_param_info_t, module) == 268);
static_assert(sizeof(clap_input_events_t) == 12 && sizeof(clap_output_events_t) == 8);
static_assert(sizeof(clap_istream_t) == 8 && sizeof(clap_ostream_t) == 8);
static_assert(sizeof(clap_audio_port_info_t) == 276 && offsetof(clap_audio_port_info_t, port_type) == 268 &&
              offsetof(clap_audio_port_info_t, in_place_pair) == 272);
static_assert(sizeof(clap_plugin_audio_ports_t) == 8 && sizeof(clap_plugin_params_t) == 24 &&
              sizeof(clap_host_params_t) == 12 && sizeof(clap_plugin_state_t) == 8);
static_assert(sizeof(clap_plugin_latency_t) == 4 && sizeof(clap_host_latency_t) == 4 && sizeof(clap_host_state_t) == 4);
#endif
// clang-format on
