// The Internet Explorer loader that reads index.dat directly: the same
// profile as IESettingsLoader, with a ClientUrlCache. The collection uses it
// through CreateCache, for a folder that holds an index.dat.
#pragma once

#include "model/SettingsLoader.h"

namespace oriel {

class ClientUrlCacheSettingsLoader : public SettingsLoader {
public:
    using SettingsLoader::SettingsLoader;

    void Load(ProfileTable& profiles, int32_t& count) override;
    std::unique_ptr<CCache> CreateCache(BrowserProfile& profile, const std::string& folder) override;
};

} // namespace oriel
