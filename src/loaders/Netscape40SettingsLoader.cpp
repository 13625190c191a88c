#include "loaders/Netscape40SettingsLoader.h"

#include "app/StringTable.h"
#include "formats/NetscapeFatDBCache.h"
#include "platform/RegistryReader.h"

#include <vector>

namespace oriel {

void Netscape40SettingsLoader::Load(ProfileTable& profiles, int32_t& count)
{
    Trace("Entry - Netscape40SettingsLoader::Load()");
    auto registry = Context().Registry();
    const std::string listKey = std::string(LoadString(IDS_NETSCAPE_NAVIGATOR_KEY)) + LoadString(IDS_USERS) + "\\";
    std::vector<std::string> names;
    registry->EnumSubkeys(platform::RootKey::LocalMachine, listKey, names);

    for (const std::string& name : names) {
        if (count < 0 || count >= kMaxProfiles)
            break;
        auto profile = std::make_unique<BrowserProfile>();
        profile->profileName = name;
        const std::string key = listKey + name;
        std::string userName;
        registry->QueryString(platform::RootKey::LocalMachine, key, LoadString(IDS_USER_NAME_VALUE), userName);
        profile->displayName = userName + " (Netscape 4.0)";
        // The profile folder, a Windows path of the examined system.
        std::string profileFolder;
        registry->QueryString(platform::RootKey::LocalMachine, key, LoadString(IDS_DIR_ROOT_VALUE), profileFolder);

        AddProfileFromPrefsJS(profiles, count, std::move(profile), profileFolder, false);
    }
    Trace("Exit - Netscape40SettingsLoader::Load()");
}

std::unique_ptr<CCache> Netscape40SettingsLoader::CreateCache(BrowserProfile& profile, const std::string& folder)
{
    return std::make_unique<NetscapeFatDBCache>(Context(), &profile, folder);
}

} // namespace oriel
