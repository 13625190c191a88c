// Setting up the examined Windows system at start-up: from the "System"
// option section, or from what oriel-cli's flags say instead.
#pragma once

#include "platform/WindowsSystem.h"

#include <memory>

namespace oriel {

class OptionStore;

// "System"/"Root", "User", "RegistryFiles" (";"-separated) and "Drives"
// ("D=/mnt/d;E=/media/e"). A malformed drive entry is left out after one
// warning.
platform::SystemConfig ReadSystemOptions(const OptionStore& store);

// Installs the system and its registry for the process. A configured root
// that is not a folder, or a configured user that the system does not have,
// shows one warning each; the run goes on without them.
std::shared_ptr<const platform::WindowsSystem> SetUpExaminedSystem(const platform::SystemConfig& config);

} // namespace oriel
