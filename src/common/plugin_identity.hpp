#pragma once
// Who the bridge's own in-app plug-ins are. Host control reports them, the installer
// writes and packages them; both read these constants.
#include <string_view>

namespace cutrelay {

// The UXP plug-in, as its manifest names it and as Adobe's installer agent knows it.
inline constexpr std::string_view kPluginId = "inc.quor.premiere.bridge";
inline constexpr std::string_view kPluginName = "Quor Bridge";
inline constexpr std::string_view kPluginVersion = "0.1.0";

// The invisible CEP helper's bundle id, which is also its folder name among the user's
// CEP extensions.
inline constexpr std::string_view kCepBundleId = "inc.quor.premiere.cep";

}  // namespace cutrelay
