// The Opera loader: the one Opera cache of the examined user, as the
// profile "Opera Cache" with the dcache4.url decoder. Opera's folder comes
// from its "App Paths" registration (value "Path" of ...\App Paths\Opera.exe
// under HKEY_LOCAL_MACHINE); its OperaDef6.ini says whether it runs in
// multi-user mode ("Multi User" in [System], default 1) and, if not, where
// its cache is ("Cache Directory4" in [User Prefs], else the Opera folder's
// "profile\cache4"). In multi-user mode, or without the registration, the
// cache is the roaming application-data folder's "Opera\Opera\profile\cache4"
// when that exists.
#pragma once

#include "model/SettingsLoader.h"

namespace oriel {

class OperaSettingsLoader : public SettingsLoader {
public:
    using SettingsLoader::SettingsLoader;

    void Load(ProfileTable& profiles, int32_t& count) override;
    // Appends the profile "Opera Cache" on `cacheFolder` (a host path) while
    // fewer than 256 profiles are there.
    void LoadProfile(const std::string& cacheFolder, ProfileTable& profiles, int32_t& count);
    // An OperaCache for (profile, folder); the profile is left as it is.
    std::unique_ptr<CCache> CreateCache(BrowserProfile& profile, const std::string& folder) override;

    // The cache folder as the examined system names it (a Windows path);
    // empty when Opera keeps none that this loader can find.
    std::string FindCacheFolder() const;
};

} // namespace oriel
