// Where the plug-ins come from and under which licence, as every format's description says it
// (LV2's doap properties, CLAP's descriptor, VST 3's factory information).
#pragma once

namespace vintrel {

inline constexpr char kHomepage[] = "https://brelvander.net/guitar-decoder";
inline constexpr char kManualUrl[] = "https://brelvander.net/guitar-decoder/manual";
inline constexpr char kSupportEmail[] = "support@brelvander.net";
inline constexpr char kSupportUrl[] = "mailto:support@brelvander.net";
inline constexpr char kLicence[] = "MIT";
inline constexpr char kLicenceUri[] = "https://spdx.org/licenses/MIT";

}  // namespace vintrel
