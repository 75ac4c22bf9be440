// Our declarations of CLAP 1.2's preset discovery factory and preset-load extension: a host's
// preset browser indexes the presets a plug-in's providers declare, then asks the plug-in to
// load one by its location and key. Sizes and offsets pinned below for the four targets.
#pragma once

#include "clap/clap_api.h"

extern "C" {

typedef uint64_t clap_timestamp;
constexpr clap_timestamp CLAP_TIMESTAMP_UNKNOWN = 0;

enum clap_preset_discovery_location_kind : uint32_t {
    CLAP_PRESET_DISCOVERY_LOCATION_FILE = 0,
    CLAP_PRESET_DISCOVERY_LOCATION_PLUGIN = 1,
};
enum clap_preset_discovery_flags : uint32_t {
    CLAP_PRESET_DISCOVERY_IS_FACTORY_CONTENT = 1 << 0,
    CLAP_PRESET_DISCOVERY_IS_USER_CONTENT = 1 << 1,
    CLAP_PRESET_DISCOVERY_IS_DEMO_CONTENT = 1 << 2,
    CLAP_PRESET_DISCOVERY_IS_FAVORITE = 1 << 3,
};

struct clap_universal_plugin_id_t {
    const char* abi;  // "clap", "vst3", ...
    const char* id;
};

struct clap_preset_discovery_metadata_receiver_t {
    void* receiver_data;
    void(CLAP_ABI* on_error)(const clap_preset_discovery_metadata_receiver_t* receiver, int32_t os_error,
                             const char* error_message);
    bool(CLAP_ABI* begin_preset)(const clap_preset_discovery_metadata_receiver_t* receiver, const char* name,
                                 const char* load_key);
    void(CLAP_ABI* add_plugin_id)(const clap_preset_discovery_metadata_receiver_t* receiver,
                                  const clap_universal_plugin_id_t* plugin_id);
    void(CLAP_ABI* set_soundpack_id)(const clap_preset_discovery_metadata_receiver_t* receiver, const char* soundpack_id);
    void(CLAP_ABI* set_flags)(const clap_preset_discovery_metadata_receiver_t* receiver, uint32_t flags);
    void(CLAP_ABI* add_creator)(const clap_preset_discovery_metadata_receiver_t* receiver, const char* creator);
    void(CLAP_ABI* set_description)(const clap_preset_discovery_metadata_receiver_t* receiver, const char* description);
    void(CLAP_ABI* set_timestamps)(const clap_preset_discovery_metadata_receiver_t* receiver,
                                   clap_timestamp creation_time, clap_timestamp modification_time);
    void(CLAP_ABI* add_feature)(const clap_preset_discovery_metadata_receiver_t* receiver, const char* feature);
    void(CLAP_ABI* add_extra_info)(const clap_preset_discovery_metadata_receiver_t* receiver, const char* key,
                                   const char* value);
};

struct clap_preset_discovery_filetype_t {
    const char* name;
    const char* description;
    const char* file_extension;  // without the dot
};

struct clap_preset_discovery_location_t {
    uint32_t flags;
    const char* name;
    uint32_t kind;
    const char* location;  // null for a location of kind plugin
};

struct clap_preset_discovery_soundpack_t {
    uint32_t flags;
    const char* id;
    const char* name;
    const char* description;
    const char* homepage_url;
    const char* vendor;
    const char* image_path;
    clap_timestamp release_timestamp;
};

struct clap_preset_discovery_provider_descriptor_t {
    clap_version_t clap_version;
    const char* id;
    const char* name;
    const char* vendor;
};

struct clap_preset_discovery_provider_t {
    const clap_preset_discovery_provider_descriptor_t* desc;
    void* provider_data;
    bool(CLAP_ABI* init)(const clap_preset_discovery_provider_t* provider);
    void(CLAP_ABI* destroy)(const clap_preset_discovery_provider_t* provider);
    bool(CLAP_ABI* get_metadata)(const clap_preset_discovery_provider_t* provider, uint32_t location_kind,
                                 const char* location, const clap_preset_discovery_metadata_receiver_t* metadata_receiver);
    const void*(CLAP_ABI* get_extension)(const clap_preset_discovery_provider_t* provider, const char* extension_id);
};

struct clap_preset_discovery_indexer_t {
    clap_version_t clap_version;
    const char* name;
    const char* vendor;
    const char* url;
    const char* version;
    void* indexer_data;
    bool(CLAP_ABI* declare_filetype)(const clap_preset_discovery_indexer_t* indexer,
                                     const clap_preset_discovery_filetype_t* filetype);
    bool(CLAP_ABI* declare_location)(const clap_preset_discovery_indexer_t* indexer,
                                     const clap_preset_discovery_location_t* location);
    bool(CLAP_ABI* declare_soundpack)(const clap_preset_discovery_indexer_t* indexer,
                                      const clap_preset_discovery_soundpack_t* soundpack);
    const void*(CLAP_ABI* get_extension)(const clap_preset_discovery_indexer_t* indexer, const char* extension_id);
};

struct clap_preset_discovery_factory_t {
    uint32_t(CLAP_ABI* count)(const clap_preset_discovery_factory_t* factory);
    const clap_preset_discovery_provider_descriptor_t*(CLAP_ABI* get_descriptor)(
        const clap_preset_discovery_factory_t* factory, uint32_t index);
    const clap_preset_discovery_provider_t*(CLAP_ABI* create)(const clap_preset_discovery_factory_t* factory,
                                                              const clap_preset_discovery_indexer_t* indexer,
                                                              const char* provider_id);
};

struct clap_plugin_preset_load_t {
    bool(CLAP_ABI* from_location)(const clap_plugin_t* plugin, uint32_t location_kind, const char* location,
                                  const char* load_key);
};

struct clap_host_preset_load_t {
    void(CLAP_ABI* on_error)(const clap_host_t* host, uint32_t location_kind, const char* location,
                             const char* load_key, int32_t os_error, const char* msg);
    void(CLAP_ABI* loaded)(const clap_host_t* host, uint32_t location_kind, const char* location, const char* load_key);
};

}  // extern "C"

// The stable ids, and the draft ones that hosts of CLAP 1.1 ask for (the same structures).
constexpr char CLAP_PRESET_DISCOVERY_FACTORY_ID[] = "clap.preset-discovery-factory/2";
constexpr char CLAP_PRESET_DISCOVERY_FACTORY_ID_COMPAT[] = "clap.preset-discovery-factory/draft-2";
constexpr char CLAP_EXT_PRESET_LOAD[] = "clap.preset-load/2";
constexpr char CLAP_EXT_PRESET_LOAD_COMPAT[] = "clap.preset-load.draft/2";

// clang-format off
#if INTPTR_MAX == INT64_MAX
static_assert(sizeof(clap_preset_discovery_factory_t) == 24 && offsetof(clap_preset_discovery_factory_t, create) == 16);
static_assert(sizeof(clap_preset_discovery_provider_descriptor_t) == 40 &&
              offsetof(clap_preset_discovery_provider_descriptor_t, id) == 16 &&
              offsetof(clap_preset_discovery_provider_descriptor_t, vendor) == 32);
static_assert(sizeof(clap_preset_discovery_provider_t) == 48 && offsetof(clap_preset_discovery_provider_t, init) == 16 &&
              offsetof(clap_preset_discovery_provider_t, get_metadata) == 32 &&
              offsetof(clap_preset_discovery_provider_t, get_extension) == 40);
static_assert(sizeof(clap_preset_discovery_indexer_t) == 88 && offsetof(clap_preset_discovery_indexer_t, name) == 16 &&
              offsetof(clap_preset_discovery_indexer_t, indexer_data) == 48 &&
              offsetof(clap_preset_discovery_indexer_t, declare_filetype) == 56 &&
              offsetof(clap_preset_discovery_indexer_t, declare_location) == 64 &&
              offsetof(clap_preset_discovery_indexer_t, get_extension) == 80);
static_assert(sizeof(clap_preset_discovery_metadata_receiver_t) == 88 &&
              offsetof(clap_preset_discovery_metadata_receiver_t, on_error) == 8 &&
              offsetof(clap_preset_discovery_metadata_receiver_t, begin_preset) == 16 &&
              offsetof(clap_preset_discovery_metadata_receiver_t, set_flags) == 40 &&
              offsetof(clap_preset_discovery_metadata_receiver_t, set_description) == 56 &&
              offsetof(clap_preset_discovery_metadata_receiver_t, add_extra_info) == 80);
static_assert(sizeof(clap_preset_discovery_filetype_t) == 24 && offsetof(clap_preset_discovery_filetype_t, file_extension) == 16);
static_assert(sizeof(clap_preset_discovery_location_t) == 32 && offsetof(clap_preset_discovery_location_t, name) == 8 &&
              offsetof(clap_preset_discovery_location_t, kind) == 16 && offsetof(clap_preset_discovery_location_t, location) == 24);
static_assert(sizeof(clap_preset_discovery_soundpack_t) == 64 &&
              offsetof(clap_preset_discovery_soundpack_t, release_timestamp) == 56);
static_assert(sizeof(clap_universal_plugin_id_t) == 16 && sizeof(clap_plugin_preset_load_t) == 8 &&
              sizeof(clap_host_preset_load_t) == 16 && offsetof(clap_host_preset_load_t, loaded) == 8);
#else
static_assert(sizeof(clap_preset_discovery_factory_t) == 12 && offsetof(clap_preset_discovery_factory_t, create) == 8);
static_assert(sizeof(clap_preset_discovery_provider_descriptor_t) == 24 &&
              offsetof(clap_preset_discovery_provider_descriptor_t, id) == 12 &&
              offsetof(clap_preset_discovery_provider_descriptor_t, vendor) == 20);
static_assert(sizeof(clap_preset_discovery_provider_t) == 24 && offsetof(clap_preset_discovery_provider_t, init) == 8 &&
              offsetof(clap_preset_discovery_provider_t, get_metadata) == 16 &&
              offsetof(clap_preset_discovery_provider_t, get_extension) == 20);
static_assert(sizeof(clap_preset_discovery_indexer_t) == 48 && offsetof(clap_preset_discovery_indexer_t, name) == 12 &&
              offsetof(clap_preset_discovery_indexer_t, indexer_data) == 28 &&
              offsetof(clap_preset_discovery_indexer_t, declare_filetype) == 32 &&
              offsetof(clap_preset_discovery_indexer_t, declare_location) == 36 &&
              offsetof(clap_preset_discovery_indexer_t, get_extension) == 44);
static_assert(sizeof(clap_preset_discovery_metadata_receiver_t) == 44 &&
              offsetof(clap_preset_discovery_metadata_receiver_t, on_error) == 4 &&
              offsetof(clap_preset_discovery_metadata_receiver_t, begin_preset) == 8 &&
              offsetof(clap_preset_discovery_metadata_receiver_t, set_flags) == 20 &&
              offsetof(clap_preset_discovery_metadata_receiver_t, set_description) == 28 &&
              offsetof(clap_preset_discovery_metadata_receiver_t, add_extra_info) == 40);
static_assert(sizeof(clap_preset_discovery_filetype_t) == 12 && offsetof(clap_preset_discovery_filetype_t, file_extension) == 8);
static_assert(sizeof(clap_preset_discovery_location_t) == 16 && offsetof(clap_preset_discovery_location_t, name) == 4 &&
              offsetof(clap_preset_discovery_location_t, kind) == 8 && offsetof(clap_preset_discovery_location_t, location) == 12);
#if defined(_WIN32)  // 64-bit fields align to 8 inside structures
static_assert(sizeof(clap_preset_discovery_soundpack_t) == 40 &&
              offsetof(clap_preset_discovery_soundpack_t, release_timestamp) == 32);
#else  // System V i386: 4
static_assert(sizeof(clap_preset_discovery_soundpack_t) == 36 &&
              offsetof(clap_preset_discovery_soundpack_t, release_timestamp) == 28);
#endif
static_assert(sizeof(clap_universal_plugin_id_t) == 8 && sizeof(clap_plugin_preset_load_t) == 4 &&
              sizeof(clap_host_preset_load_t) == 8 && offsetof(clap_host_preset_load_t, loaded) == 4);
#endif
// clang-format on
