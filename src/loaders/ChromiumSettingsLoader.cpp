#include "loaders/ChromiumSettingsLoader.h"

#include "formats/ChromiumBlockfileCache.h"
#include "formats/ChromiumSimpleCache.h"
#include "platform/FileSystem.h"
#include "platform/WindowsSystem.h"

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;

namespace oriel {

namespace {

struct Browser {
    const char* userData; // below the local application data
    const char* name;
};

constexpr Browser kBrowsers[] = {
    {"Google\\Chrome\\User Data", "Chrome"},
    {"Chromium\\User Data", "Chromium"},
    {"Microsoft\\Edge\\User Data", "Edge"},
    {"BraveSoftware\\Brave-Browser\\User Data", "Brave"},
    {"Vivaldi\\User Data", "Vivaldi"},
};

bool IsProfileFolderName(const std::string& name)
{
    if (name == "Default")
        return true;
    constexpr std::string_view kPrefix = "Profile ";
    if (name.size() <= kPrefix.size() || name.compare(0, kPrefix.size(), kPrefix) != 0)
        return false;
    return std::all_of(name.begin() + kPrefix.size(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool IsFolder(const std::string& hostPath)
{
    auto attributes = platform::GetFileAttributes(hostPath);
    return attributes && attributes->isDirectory;
}

// The cache folder of a profile folder (a host path): "Cache\Cache_Data"
// when there, else "Cache"; empty when neither is.
std::string CacheOf(const std::string& profileFolder)
{
    const std::string cache = platform::ResolvePath(platform::MakePath(profileFolder, "Cache"));
    const std::string data = platform::ResolvePath(platform::MakePath(cache, "Cache_Data"));
    if (IsFolder(data))
        return data;
    return IsFolder(cache) ? cache : std::string();
}

} // namespace

std::vector<ChromiumSettingsLoader::Found> ChromiumSettingsLoader::FindCaches() const
{
    std::vector<Found> found;
    auto registry = Context().Registry();
    auto system = Context().System();
    auto local = system->KnownFolderWindowsPath(platform::KnownFolder::LocalAppData, *registry);
    auto roaming = system->KnownFolderWindowsPath(platform::KnownFolder::AppData, *registry);
    auto host = [this](const std::string& windowsPath) -> std::string {
        if (!platform::IsWindowsAbsolutePath(windowsPath))
            return {};
        return Context().MapWindowsPath(windowsPath).value_or(std::string());
    };
    if (local) {
        for (const Browser& browser : kBrowsers) {
            const std::string userData = host(*local + "\\" + browser.userData);
            if (userData.empty() || !IsFolder(userData))
                continue;
            std::vector<std::string> names;
            for (const platform::FolderEntry& entry :
                 platform::ListFolder(userData).value_or(std::vector<platform::FolderEntry>{})) {
                if (IsProfileFolderName(entry.name))
                    names.push_back(entry.name);
            }
            std::sort(names.begin(), names.end());
            for (const std::string& name : names) {
                std::string cache = CacheOf(platform::MakePath(userData, name));
                if (!cache.empty())
                    found.push_back({name + " (" + browser.name + ")", cache});
            }
        }
    }
    // Opera 15 and later: its one profile, with the cache under the local
    // application data, else under the roaming one.
    for (const auto& base : {local, roaming}) {
        if (!base)
            continue;
        const std::string profile = host(*base + "\\Opera Software\\Opera Stable");
        if (profile.empty() || !IsFolder(profile))
            continue;
        std::string cache = CacheOf(profile);
        if (!cache.empty()) {
            found.push_back({"Opera Stable (Opera)", cache});
            break;
        }
    }
    return found;
}

void ChromiumSettingsLoader::Load(ProfileTable& profiles, int32_t& count)
{
    Trace("Entry - ChromiumSettingsLoader::Load()");
    for (Found& cache : FindCaches()) {
        if (count < 0 || count >= kMaxProfiles)
            break;
        auto profile = std::make_unique<BrowserProfile>();
        profile->profileName = cache.name;
        profile->displayName = cache.name;
        profile->cacheFolder = cache.cacheFolder;
        profile->cache = CreateCache(*profile, cache.cacheFolder);
        profiles[size_t(count)] = std::move(profile);
        ++count;
    }
    Trace("Exit - ChromiumSettingsLoader::Load()");
}

std::unique_ptr<CCache> ChromiumSettingsLoader::CreateCache(BrowserProfile& profile, const std::string& folder)
{
    // Both layouts are found in either place (Chrome on Windows mostly keeps
    // a blockfile cache, on Linux and Android a simple one): the folder's
    // content decides, a blockfile index first; a folder that is neither
    // yet (empty) is read as a blockfile cache, which lists nothing.
    if (!ChromiumBlockfileCache::Recognize(folder) && ChromiumSimpleCache::Recognize(folder))
        return std::make_unique<ChromiumSimpleCache>(Context(), &profile, folder);
    return std::make_unique<ChromiumBlockfileCache>(Context(), &profile, folder);
}

} // namespace oriel
