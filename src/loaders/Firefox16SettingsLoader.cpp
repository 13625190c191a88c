#include "loaders/Firefox16SettingsLoader.h"

#include "formats/NetscapeCacheMapCache.h"
#include "platform/IniFile.h"
#include "platform/WindowsSystem.h"

namespace oriel {

void Firefox16SettingsLoader::Load(ProfileTable& profiles, int32_t& count)
{
    Trace("Entry - Firefox16SettingsLoader::Load()");
    auto system = Context().System();
    auto registry = Context().Registry();
    auto roaming = system->KnownFolderWindowsPath(platform::KnownFolder::AppData, *registry);
    auto local = system->KnownFolderWindowsPath(platform::KnownFolder::LocalAppData, *registry);

    // Without an examined user there is no profiles.ini: every read gives
    // its default, and the empty first name ends the list.
    platform::IniFile ini;
    if (roaming) {
        if (auto host = HostPath(*roaming + "\\Mozilla\\Firefox\\profiles.ini"))
            ini.Load(*host);
    }
    const std::string firefoxFolder = roaming.value_or(std::string()) + "\\Mozilla\\Firefox\\";
    const std::string localFirefoxFolder = local.value_or(std::string()) + "\\Mozilla\\Firefox\\";

    for (int n = 0; count >= 0 && count < kMaxProfiles; ++n) {
        const std::string section = "Profile" + std::to_string(n);
        std::string name = ini.GetString(section, "Name", "");
        if (name.empty())
            break;

        auto profile = std::make_unique<BrowserProfile>();
        profile->profileName = name;
        profile->displayName = name + " (Firefox)";

        const bool relative = ini.GetInt(section, "IsRelative", 1) != 0;
        // Relative paths are written with forward slashes
        // ("Profiles/abcd1234.default"); the path mapping takes both.
        const std::string path = ini.GetString(section, "Path", "Default");
        const std::string profileFolder = relative ? firefoxFolder + path : path;

        std::string cacheFolder = GetCachePathFromPrefsJS(profileFolder, false);
        if (!TestProfileExists(cacheFolder)) {
            if (relative) {
                cacheFolder = localFirefoxFolder + path + "\\Cache";
            } else {
                // A profile kept outside the Firefox folder has no folder of
                // its own under the local application data: Firefox 1.5 to
                // 3.6 keep its cache in the profile folder itself.
                cacheFolder = profileFolder + "\\Cache";
            }
        }

        if (TestProfileExists(profileFolder))
            AddProfile(profiles, count, std::move(profile), cacheFolder);
        else
            ReportProfileNotFound(name);
        if (path.empty())
            break;
    }
    Trace("Exit - Firefox16SettingsLoader::Load()");
}

std::unique_ptr<CCache> Firefox16SettingsLoader::CreateCache(BrowserProfile& profile, const std::string& folder)
{
    return std::make_unique<NetscapeCacheMapCache>(Context(), &profile, folder);
}

} // namespace oriel
