// Setting up the examined Windows system at start-up: from the "System"
// option section, or from what oriel-cli's flags say instead.
#pragma once

#include "platform/WindowsSystem.h"

#include <memory>

namespace oriel {

class AppContext;
class MessageSink;
class OptionStore;

// "System"/"Root", "User", "RegistryFiles" (";"-separated) and "Drives"
// ("D=/mnt/d;E=/media/e"). A malformed drive entry is left out after one
// warning.
platform::SystemConfig ReadSystemOptions(const OptionStore& store, MessageSink& messages);

// Opens the system and its registry and gives them to `context`. A
// registry source that cannot be used, a configured root that is not a
// folder, or a configured user that the system does not have, shows one
// warning each; the run goes on without them.
std::shared_ptr<const platform::WindowsSystem> SetUpExaminedSystem(const platform::SystemConfig& config,
                                                                   AppContext& context);

} // namespace oriel
