#pragma once

#include <string>
#include <vector>

#include "lv2/plugin_layout.h"

namespace dynamics_lv2 {

// The bundle's manifest: each plug-in's URI, the binary that holds it and the file that
// describes it (pluginsTurtle, written as kPluginsFile).
inline constexpr const char* kPluginsFile = "Dynamics.ttl";
std::string manifestTurtle(const std::vector<PluginLayout>& layouts, const std::string& binaryName);

// The plug-ins with their names, features and ports.
std::string pluginsTurtle(const std::vector<PluginLayout>& layouts);

}  // namespace dynamics_lv2
