#include "loaders/Netscape60SettingsLoader.h"

#include "formats/NetscapeCacheMapCache.h"
#include "loaders/NSRegistry.h"
#include "platform/WindowsSystem.h"

#include <deque>

namespace oriel {

void Netscape60SettingsLoader::Load(ProfileTable& profiles, int32_t& count)
{
    Trace("Entry - Netscape60SettingsLoader::Load()");
    // Once a profile says it was not migrated, neither it nor any later
    // profile reads the new-cache setting.
    bool newCache = true;

    auto roaming = Context().System()->KnownFolderWindowsPath(platform::KnownFolder::AppData, *Context().Registry());
    std::optional<std::string> file;
    if (roaming)
        file = HostPath(*roaming + "\\Mozilla\\registry.dat");
    CNSRegistry registry(&Context().Log());
    if (file && count >= 0 && count < kMaxProfiles && registry.Open(*file)) {
        std::string base = kUsersProfilesKey;
        std::vector<std::string> found;
        if (!registry.GetSubkeys(base, found)) {
            base = kCommonProfilesKey;
            registry.GetSubkeys(base, found);
        }
        std::deque<std::string> names(found.begin(), found.end());
        while (!names.empty()) {
            std::string name = std::move(names.front());
            names.pop_front();
            const std::string key = base + name + "\\";

            std::string directory;
            registry.GetValue(key, "directory", directory);
            auto profile = std::make_unique<BrowserProfile>();
            profile->profileName = name;
            profile->displayName = name + " (Mozilla)";

            std::string migrated;
            if (registry.GetValue(key, "migrated", migrated) && migrated == "no")
                newCache = false;

            AddProfileFromPrefsJS(profiles, count, std::move(profile), directory, newCache);
            if (count >= kMaxProfiles)
                names.clear();
        }
        registry.Close();
    }
    Trace("Exit - Netscape60SettingsLoader::Load()");
}

std::unique_ptr<CCache> Netscape60SettingsLoader::CreateCache(BrowserProfile& profile, const std::string& folder)
{
    return std::make_unique<NetscapeCacheMapCache>(Context(), &profile, folder);
}

} // namespace oriel
