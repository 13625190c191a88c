#include "loaders/ClientUrlCacheSettingsLoader.h"

#include "formats/ClientUrlCache.h"
#include "loaders/IESettingsLoader.h"

namespace oriel {

void ClientUrlCacheSettingsLoader::Load(ProfileTable& profiles, int32_t& count)
{
    Trace("Entry - ClientUrlCacheSettingsLoader::Load()");
    if (count >= 0 && count < kMaxProfiles) {
        auto profile = std::make_unique<BrowserProfile>();
        std::string folder = IESettingsLoader(Context()).CacheFolder();
        IESettingsLoader::NameProfile(*profile, folder);
        profile->cache = std::make_unique<ClientUrlCache>(Context(), profile.get(), folder);
        profiles[size_t(count)] = std::move(profile);
        ++count;
    }
    Trace("Exit - ClientUrlCacheSettingsLoader::Load()");
}

std::unique_ptr<CCache> ClientUrlCacheSettingsLoader::CreateCache(BrowserProfile& profile,
                                                                  const std::string& folder)
{
    IESettingsLoader::NameProfile(profile, folder);
    return std::make_unique<ClientUrlCache>(Context(), &profile, folder);
}

} // namespace oriel
