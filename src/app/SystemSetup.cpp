#include "app/SystemSetup.h"

#include "app/AppContext.h"
#include "app/Messages.h"
#include "app/OptionStore.h"

namespace oriel {

platform::SystemConfig ReadSystemOptions(const OptionStore& store, MessageSink& messages)
{
    platform::SystemConfig config;
    config.root = store.ReadString("System", "Root", "");
    config.user = store.ReadString("System", "User", "");
    config.registryFiles = platform::SystemConfig::ParseFileList(store.ReadString("System", "RegistryFiles", ""));
    std::string error;
    if (!platform::SystemConfig::ParseDrives(store.ReadString("System", "Drives", ""), config.drives, &error))
        messages.ShowMessage("Option System/Drives: " + error, MessageIcon::Exclamation);
    return config;
}

std::string DrivesText(const std::map<char, std::string>& drives)
{
    std::string text;
    for (const auto& [letter, folder] : drives) {
        if (!text.empty())
            text += ';';
        text += letter;
        text += '=';
        text += folder;
    }
    return text;
}

std::string FileListText(const std::vector<std::string>& files)
{
    std::string text;
    for (const std::string& file : files) {
        if (!text.empty())
            text += ';';
        text += file;
    }
    return text;
}

void WriteSystemOptions(OptionStore& store, const platform::SystemConfig& config)
{
    store.WriteString("System", "Root", config.root);
    store.WriteString("System", "User", config.user);
    store.WriteString("System", "RegistryFiles", FileListText(config.registryFiles));
    store.WriteString("System", "Drives", DrivesText(config.drives));
    store.Sync();
}

std::shared_ptr<const platform::WindowsSystem> SetUpExaminedSystem(const platform::SystemConfig& config,
                                                                   AppContext& context)
{
    std::vector<std::string> warnings;
    platform::ExaminedSystem examined = platform::OpenExaminedSystem(config, &warnings);
    MessageSink& messages = context.Messages();
    for (const std::string& warning : warnings)
        messages.ShowMessage(warning, MessageIcon::Exclamation);
    auto system = examined.system;
    context.SetExaminedSystem(std::move(examined));
    if (!config.root.empty() && !system->HasSystem())
        messages.ShowMessage("Windows system folder not found: " + config.root, MessageIcon::Exclamation);
    else if (!config.user.empty() && !system->User())
        messages.ShowMessage(system->UserProblem(), MessageIcon::Exclamation);
    return system;
}

} // namespace oriel
