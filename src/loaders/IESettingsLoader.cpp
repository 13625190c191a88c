#include "loaders/IESettingsLoader.h"

#include "app/StringTable.h"
#include "formats/IECache.h"
#include "formats/UrlCacheService.h"
#include "platform/FileSystem.h"
#include "platform/RegistryReader.h"
#include "platform/WindowsSystem.h"

namespace oriel {

std::string IESettingsLoader::ReadDirectoryValue() const
{
    std::string folder;
    Context().Registry()->QueryString(platform::RootKey::LocalMachine, LoadString(IDS_IE_CACHE_PATHS_KEY),
                                      "Directory", folder);
    if (!folder.empty() && folder.back() == '\\')
        folder.pop_back();
    return folder;
}

std::string IESettingsLoader::CacheFolder() const
{
    std::string value = ReadDirectoryValue();
    if (!value.empty()) {
        if (auto host = Context().MapWindowsPath(value))
            return *host;
    }
    // The registry names no folder on this host (the value is missing, or a
    // path that does not map): the examined user's own cache folder, which
    // is where the URL-cache service reads.
    auto service = UrlCacheService::ForExaminedUser(Context());
    auto attributes = platform::GetFileAttributes(service->ContentFolder());
    if (!service->ContentFolder().empty() && attributes && attributes->isDirectory)
        return service->ContentFolder();
    return {};
}

void IESettingsLoader::NameProfile(BrowserProfile& profile, const std::string& folder)
{
    profile.cacheFolder = folder;
    profile.profileName = LoadString(IDS_IE_CACHE);
    profile.displayName = profile.profileName;
}

void IESettingsLoader::Load(ProfileTable& profiles, int32_t& count)
{
    Trace("Entry - IESettingsLoader::Load()");
    if (count >= 0 && count < kMaxProfiles) {
        auto profile = std::make_unique<BrowserProfile>();
        std::string folder = CacheFolder();
        NameProfile(*profile, folder);
        profile->cache = std::make_unique<IECache>(Context(), profile.get(), folder);
        profiles[size_t(count)] = std::move(profile);
        ++count;
    }
    Trace("Exit - IESettingsLoader::Load()");
}

std::unique_ptr<CCache> IESettingsLoader::CreateCache(BrowserProfile& profile, const std::string& folder)
{
    NameProfile(profile, folder);
    return std::make_unique<IECache>(Context(), &profile, folder);
}

} // namespace oriel
