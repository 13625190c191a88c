// Setting up the examined Windows system at start-up: from the "System"
// option section, or from what oriel-cli's flags say instead.
#pragma once

#include "platform/WindowsSystem.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace oriel {

class AppContext;
class MessageSink;
class OptionStore;

// "System"/"Root", "User", "RegistryFiles" (";"-separated) and "Drives"
// ("D=/mnt/d;E=/media/e"). A malformed drive entry is left out after one
// warning.
platform::SystemConfig ReadSystemOptions(const OptionStore& store, MessageSink& messages);
// Writes the four keys back in the form ReadSystemOptions reads.
void WriteSystemOptions(OptionStore& store, const platform::SystemConfig& config);
// "D=/mnt/d;E=/media/e" and "a.reg;b.reg": the option forms of the drive
// map and of the file list.
std::string DrivesText(const std::map<char, std::string>& drives);
std::string FileListText(const std::vector<std::string>& files);

// Opens the system and its registry and gives them to `context`. A
// registry source that cannot be used, a configured root that is not a
// folder, or a configured user that the system does not have, shows one
// warning each; the run goes on without them.
std::shared_ptr<const platform::WindowsSystem> SetUpExaminedSystem(const platform::SystemConfig& config,
                                                                   AppContext& context);

} // namespace oriel
