#include "app/SystemSetup.h"

#include "app/Messages.h"
#include "app/OptionStore.h"

namespace oriel {

platform::SystemConfig ReadSystemOptions(const OptionStore& store)
{
    platform::SystemConfig config;
    config.root = store.ReadString("System", "Root", "");
    config.user = store.ReadString("System", "User", "");
    config.registryFiles = platform::SystemConfig::ParseFileList(store.ReadString("System", "RegistryFiles", ""));
    std::string error;
    if (!platform::SystemConfig::ParseDrives(store.ReadString("System", "Drives", ""), config.drives, &error))
        Messages().ShowMessage("Option System/Drives: " + error, MessageIcon::Exclamation);
    return config;
}

std::shared_ptr<const platform::WindowsSystem> SetUpExaminedSystem(const platform::SystemConfig& config)
{
    auto system = platform::InstallSystem(config);
    if (!config.root.empty() && !system->HasSystem())
        Messages().ShowMessage("Windows system folder not found: " + config.root, MessageIcon::Exclamation);
    else if (!config.user.empty() && !system->User())
        Messages().ShowMessage(system->UserProblem(), MessageIcon::Exclamation);
    return system;
}

} // namespace oriel
