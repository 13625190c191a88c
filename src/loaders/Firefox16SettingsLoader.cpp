#include "loaders/Firefox16SettingsLoader.h"

#include "formats/FirefoxCache2Cache.h"
#include "formats/NetscapeCacheMapCache.h"
#include "platform/CaseFold.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/WindowsSystem.h"

namespace oriel {

bool Firefox16SettingsLoader::IsCache2Folder(const std::string& folder)
{
    if (folder.empty())
        return false;
    if (platform::FileExists(platform::MakePath(folder, FirefoxCache2Cache::kEntriesFolderName)))
        return true;
    std::string base = platform::FileNameOf(folder);
    return platform::FoldCase(base) == "cache2";
}

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

        // Firefox 32 and later keep the cache2 folder beside the old cache:
        // in the profile's local folder, or in the profile folder itself
        // for a profile kept outside the Firefox folder.
        const std::string cache2Folder = (relative ? localFirefoxFolder + path : profileFolder) + "\\cache2";

        if (TestProfileExists(profileFolder)) {
            const bool hasCache2 = TestProfileExists(cache2Folder);
            // The old cache's row stays unless the profile only has cache2.
            if (!hasCache2 || TestProfileExists(cacheFolder)) {
                AddProfile(profiles, count, std::move(profile), cacheFolder);
                if (hasCache2) {
                    profile = std::make_unique<BrowserProfile>();
                    profile->profileName = name;
                }
            }
            if (hasCache2 && profile && count < kMaxProfiles) {
                profile->displayName = name + " (Firefox cache2)";
                AddProfile(profiles, count, std::move(profile), cache2Folder);
            }
        } else {
            ReportProfileNotFound(name);
        }
        if (path.empty())
            break;
    }
    Trace("Exit - Firefox16SettingsLoader::Load()");
}

std::unique_ptr<CCache> Firefox16SettingsLoader::CreateCache(BrowserProfile& profile, const std::string& folder)
{
    if (IsCache2Folder(folder))
        return std::make_unique<FirefoxCache2Cache>(Context(), &profile, folder);
    return std::make_unique<NetscapeCacheMapCache>(Context(), &profile, folder);
}

} // namespace oriel
