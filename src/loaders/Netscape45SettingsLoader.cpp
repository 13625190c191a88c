#include "loaders/Netscape45SettingsLoader.h"

#include "app/StringTable.h"
#include "formats/NetscapeCacheDBCache.h"
#include "loaders/NSRegistry.h"
#include "platform/WindowsSystem.h"

#include <vector>

namespace oriel {

void Netscape45SettingsLoader::Load(ProfileTable& profiles, int32_t& count)
{
    Trace("Entry - Netscape45SettingsLoader::Load()");
    auto windows = Context().System()->KnownFolderWindowsPath(platform::KnownFolder::Windows, *Context().Registry());
    if (!windows) {
        Trace("         GetWindowsDirectory() fails");
        Trace("Exit - Netscape45SettingsLoader::Load()");
        return;
    }
    CNSRegistry registry(&Context().Log());
    auto file = HostPath(*windows + "\\nsreg.dat");
    std::vector<std::string> names;
    if (file && registry.Open(*file)) {
        const std::string users = std::string(LoadString(IDS_USERS)) + "\\";
        registry.GetSubkeys(users, names);
        for (const std::string& name : names) {
            if (count < 0 || count >= kMaxProfiles)
                break;
            std::string location;
            if (!registry.GetValue(users + name + "\\", "ProfileLocation", location))
                location.clear();
            auto profile = std::make_unique<BrowserProfile>();
            profile->profileName = name;
            profile->displayName = name + " (Netscape 4.5)";
            // The profile folder, a Windows path of the examined system.
            AddProfileFromPrefsJS(profiles, count, std::move(profile), location, false);
        }
        registry.Close();
    }
    Trace("Exit - Netscape45SettingsLoader::Load()");
}

std::unique_ptr<CCache> Netscape45SettingsLoader::CreateCache(BrowserProfile& profile, const std::string& folder)
{
    return std::make_unique<NetscapeCacheDBCache>(Context(), &profile, folder);
}

} // namespace oriel
