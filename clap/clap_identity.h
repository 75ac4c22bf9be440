// The CLAP plug-in's id, as its descriptor and its presets' metadata name it.
#pragma once

namespace clapidentity {

inline constexpr char kPluginId[] = "net.brelvander.guitar-decoder";
inline constexpr char kVendor[] = "Brelvander";

}  // namespace clapidentity
