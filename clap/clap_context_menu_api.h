// Our declarations of CLAP 1.2's context-menu extension: a host shows its menu for a target (a
// parameter) and asks the plug-in to add its own items through a builder; the item the user
// picks comes back as an action id. Sizes and offsets pinned below for the four targets.
#pragma once

#include "clap/clap_api.h"

extern "C" {

enum : uint32_t { CLAP_CONTEXT_MENU_TARGET_KIND_GLOBAL = 0, CLAP_CONTEXT_MENU_TARGET_KIND_PARAM = 1 };
typedef uint32_t clap_context_menu_item_kind_t;
enum : clap_context_menu_item_kind_t {
    CLAP_CONTEXT_MENU_ITEM_ENTRY = 0,
    CLAP_CONTEXT_MENU_ITEM_CHECK_ENTRY = 1,
    CLAP_CONTEXT_MENU_ITEM_SEPARATOR = 2,
    CLAP_CONTEXT_MENU_ITEM_BEGIN_SUBMENU = 3,
    CLAP_CONTEXT_MENU_ITEM_END_SUBMENU = 4,
    CLAP_CONTEXT_MENU_ITEM_TITLE = 5,
};

struct clap_context_menu_target_t {
    uint32_t kind;
    clap_id id;  // the parameter, for a PARAM target
};
struct clap_context_menu_entry_t {
    const char* label;
    bool is_enabled;
    clap_id action_id;
};
struct clap_context_menu_check_entry_t {
    const char* label;
    bool is_enabled;
    bool is_checked;
    clap_id action_id;
};
struct clap_context_menu_item_title_t {
    const char* title;
    bool is_enabled;
};
struct clap_context_menu_submenu_t {
    const char* label;
    bool is_enabled;
};
struct clap_context_menu_builder_t {
    void* ctx;
    // item_data: the structure of item_kind's kind, or null (separator, end of a submenu).
    bool(CLAP_ABI* add_item)(const clap_context_menu_builder_t* builder, clap_context_menu_item_kind_t item_kind,
                             const void* item_data);
    bool(CLAP_ABI* supports)(const clap_context_menu_builder_t* builder, clap_context_menu_item_kind_t item_kind);
};
struct clap_plugin_context_menu_t {
    bool(CLAP_ABI* populate)(const clap_plugin_t* plugin, const clap_context_menu_target_t* target,
                             const clap_context_menu_builder_t* builder);
    bool(CLAP_ABI* perform)(const clap_plugin_t* plugin, const clap_context_menu_target_t* target, clap_id action_id);
};
struct clap_host_context_menu_t {
    bool(CLAP_ABI* populate)(const clap_host_t* host, const clap_context_menu_target_t* target,
                             const clap_context_menu_builder_t* builder);
    bool(CLAP_ABI* perform)(const clap_host_t* host, const clap_context_menu_target_t* target, clap_id action_id);
    bool(CLAP_ABI* can_popup)(const clap_host_t* host);
    // x and y in the plug-in's window.
    bool(CLAP_ABI* popup)(const clap_host_t* host, const clap_context_menu_target_t* target, int32_t screen_index,
                          int32_t x, int32_t y);
};

}  // extern "C"

// The stable id, and the draft one of hosts of CLAP 1.1 (the same structures).
constexpr char CLAP_EXT_CONTEXT_MENU[] = "clap.context-menu/1";
constexpr char CLAP_EXT_CONTEXT_MENU_COMPAT[] = "clap.context-menu.draft/0";

// clang-format off
static_assert(sizeof(clap_context_menu_target_t) == 8 && alignof(clap_context_menu_target_t) == 4 &&
              offsetof(clap_context_menu_target_t, id) == 4);
#if INTPTR_MAX == INT64_MAX
static_assert(sizeof(clap_context_menu_entry_t) == 16 && offsetof(clap_context_menu_entry_t, is_enabled) == 8 &&
              offsetof(clap_context_menu_entry_t, action_id) == 12);
static_assert(sizeof(clap_context_menu_check_entry_t) == 16 && offsetof(clap_context_menu_check_entry_t, is_checked) == 9 &&
              offsetof(clap_context_menu_check_entry_t, action_id) == 12);
static_assert(sizeof(clap_context_menu_item_title_t) == 16 && offsetof(clap_context_menu_item_title_t, is_enabled) == 8);
static_assert(sizeof(clap_context_menu_submenu_t) == 16 && offsetof(clap_context_menu_submenu_t, is_enabled) == 8);
static_assert(sizeof(clap_context_menu_builder_t) == 24 && offsetof(clap_context_menu_builder_t, add_item) == 8 &&
              offsetof(clap_context_menu_builder_t, supports) == 16);
static_assert(sizeof(clap_plugin_context_menu_t) == 16 && offsetof(clap_plugin_context_menu_t, perform) == 8);
static_assert(sizeof(clap_host_context_menu_t) == 32 && offsetof(clap_host_context_menu_t, perform) == 8 &&
              offsetof(clap_host_context_menu_t, can_popup) == 16 && offsetof(clap_host_context_menu_t, popup) == 24);
#else
static_assert(sizeof(clap_context_menu_entry_t) == 12 && offsetof(clap_context_menu_entry_t, is_enabled) == 4 &&
              offsetof(clap_context_menu_entry_t, action_id) == 8);
static_assert(sizeof(clap_context_menu_check_entry_t) == 12 && offsetof(clap_context_menu_check_entry_t, is_checked) == 5 &&
              offsetof(clap_context_menu_check_entry_t, action_id) == 8);
static_assert(sizeof(clap_context_menu_item_title_t) == 8 && offsetof(clap_context_menu_item_title_t, is_enabled) == 4);
static_assert(sizeof(clap_context_menu_submenu_t) == 8 && offsetof(clap_context_menu_submenu_t, is_enabled) == 4);
static_assert(sizeof(clap_context_menu_builder_t) == 12 && offsetof(clap_context_menu_builder_t, add_item) == 4 &&
              offsetof(clap_context_menu_builder_t, supports) == 8);
static_assert(sizeof(clap_plugin_context_menu_t) == 8 && offsetof(clap_plugin_context_menu_t, perform) == 4);
static_assert(sizeof(clap_host_context_menu_t) == 16 && offsetof(clap_host_context_menu_t, perform) == 4 &&
              offsetof(clap_host_context_menu_t, can_popup) == 8 && offsetof(clap_host_context_menu_t, popup) == 12);
#endif
// clang-format on
