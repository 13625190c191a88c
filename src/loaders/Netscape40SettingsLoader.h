// The Netscape Navigator 4.0 loader: the profiles listed in the examined
// system's registry under HKEY_LOCAL_MACHINE "Software\Netscape\Netscape
// Navigator\Users" (one subkey per profile, with the values "UserName" and
// "DirRoot", the profile folder), each with the fat.db decoder on the cache
// folder that its prefs.js names.
#pragma once

#include "loaders/BaseNetscapeSettingsLoader.h"

namespace oriel {

class Netscape40SettingsLoader : public BaseNetscapeSettingsLoader {
public:
    using BaseNetscapeSettingsLoader::BaseNetscapeSettingsLoader;

    void Load(ProfileTable& profiles, int32_t& count) override;
    // A NetscapeFatDBCache for (profile, folder); the profile is left as it is.
    std::unique_ptr<CCache> CreateCache(BrowserProfile& profile, const std::string& folder) override;
};

} // namespace oriel
