#include "clap/clap_presets.h"

#include <cstring>
#include <new>

#include "clap/clap_identity.h"

namespace clappresets {

namespace {

const clap_preset_discovery_provider_descriptor_t kProviderDescriptor = {
    CLAP_VERSION, "net.brelvander.guitar-decoder.factory-presets", "Guitar decoder factory presets", clapidentity::kVendor};

const clap_preset_discovery_location_t kLocation = {CLAP_PRESET_DISCOVERY_IS_FACTORY_CONTENT, "Factory presets",
                                                    CLAP_PRESET_DISCOVERY_LOCATION_PLUGIN, nullptr};

struct Provider {
    clap_preset_discovery_provider_t provider{};
    const clap_preset_discovery_indexer_t* indexer = nullptr;
};

const clap_preset_discovery_indexer_t* indexerOf(const clap_preset_discovery_provider_t* p) {
    return static_cast<Provider*>(p->provider_data)->indexer;
}

bool init(const clap_preset_discovery_provider_t* p) {
    const clap_preset_discovery_indexer_t* indexer = indexerOf(p);
    return indexer != nullptr && indexer->declare_location != nullptr && indexer->declare_location(indexer, &kLocation);
}

void destroy(const clap_preset_discovery_provider_t* p) { delete static_cast<Provider*>(p->provider_data); }

// Every preset of the table, in its order; a receiver that wants no more stops the list.
bool getMetadata(const clap_preset_discovery_provider_t*, uint32_t kind, const char* location,
                 const clap_preset_discovery_metadata_receiver_t* receiver) {
    if (receiver == nullptr || kind != CLAP_PRESET_DISCOVERY_LOCATION_PLUGIN || location != nullptr) return false;
    const clap_universal_plugin_id_t plugin = {"clap", clapidentity::kPluginId};
    for (const vintrel::FactoryPreset& preset : vintrel::kFactoryPresets) {
        if (!receiver->begin_preset(receiver, preset.name, preset.key)) break;
        receiver->add_plugin_id(receiver, &plugin);
        receiver->set_flags(receiver, CLAP_PRESET_DISCOVERY_IS_FACTORY_CONTENT);
        receiver->add_creator(receiver, clapidentity::kVendor);
        receiver->set_description(receiver, preset.situation);
    }
    return true;
}

const void* providerExtension(const clap_preset_discovery_provider_t*, const char*) { return nullptr; }

uint32_t count(const clap_preset_discovery_factory_t*) { return 1; }

const clap_preset_discovery_provider_descriptor_t* descriptor(const clap_preset_discovery_factory_t*, uint32_t index) {
    return index == 0 ? &kProviderDescriptor : nullptr;
}

const clap_preset_discovery_provider_t* create(const clap_preset_discovery_factory_t*,
                                               const clap_preset_discovery_indexer_t* indexer, const char* id) {
    if (indexer == nullptr || id == nullptr || std::strcmp(id, kProviderDescriptor.id) != 0) return nullptr;
    auto* made = new (std::nothrow) Provider;
    if (made == nullptr) return nullptr;
    made->indexer = indexer;
    made->provider = {&kProviderDescriptor, made, init, destroy, getMetadata, providerExtension};
    return &made->provider;
}

}  // namespace

const clap_preset_discovery_factory_t kDiscoveryFactory = {count, descriptor, create};

const vintrel::FactoryPreset* presetAt(uint32_t locationKind, const char* location, const char* loadKey,
                                       std::string& error) {
    if (locationKind != CLAP_PRESET_DISCOVERY_LOCATION_PLUGIN || location != nullptr) {
        error = "this plug-in's presets are built into it: it loads no preset from a file";
        return nullptr;
    }
    const vintrel::FactoryPreset* preset = vintrel::factoryPresetByKey(loadKey);
    if (preset == nullptr)
        error = std::string("no factory preset has the key \"") + (loadKey != nullptr ? loadKey : "") + "\"";
    return preset;
}

}  // namespace clappresets
