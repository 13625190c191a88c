// The Mozilla loader (Mozilla, Netscape 6 and 7): the profiles listed in the
// registry file registry.dat in the roaming application-data folder
// ("Mozilla\registry.dat"), each with a Mozilla cache-map decoder on the
// cache folder that its prefs.js names.
#pragma once

#include "loaders/BaseNetscapeSettingsLoader.h"

namespace oriel {

class Netscape60SettingsLoader : public BaseNetscapeSettingsLoader {
public:
    using BaseNetscapeSettingsLoader::BaseNetscapeSettingsLoader;

    // Where the profile list stands: the key path that older releases
    // used, and the one that Mozilla's own registry files hold (their
    // "Users" key is empty). The first one that exists is read.
    static constexpr const char* kUsersProfilesKey = "Users\\Common\\Profiles\\";
    static constexpr const char* kCommonProfilesKey = "Common\\Profiles\\";

    void Load(ProfileTable& profiles, int32_t& count) override;
    // A NetscapeCacheMapCache for (profile, folder); the profile is left as it is.
    std::unique_ptr<CCache> CreateCache(BrowserProfile& profile, const std::string& folder) override;
};

} // namespace oriel
