#include "model/BrowserSettings.h"

#include "app/AppContext.h"
#include "model/SettingsLoader.h"
#include "platform/FileSystem.h"
#include "platform/WindowsSystem.h"

#include <new>

namespace oriel {

namespace {

// The folder option is a host folder, or a Windows path when it came from
// the examined system's registry; the latter is mapped onto the system.
std::string HostFolder(const AppContext& context, const std::string& folder)
{
    if (platform::IsWindowsAbsolutePath(folder))
        return context.MapWindowsPath(folder).value_or(std::string());
    return folder;
}

} // namespace

CBrowserSettings::CBrowserSettings(const AppContext& context, const CacheCatalog& catalog)
    : CBrowserSettings(context, catalog, catalog.profileLoaders)
{
}

CBrowserSettings::CBrowserSettings(const AppContext& context, const CacheCatalog& catalog,
                                   std::vector<LoaderFactory> loaders)
    : context_(context)
    , catalog_(catalog)
    , loaders_(std::move(loaders))
{
    ReloadProfiles();
}

CBrowserSettings::~CBrowserSettings()
{
    Clear();
}

void CBrowserSettings::Clear()
{
    count_ = 0;
    defaultProfile_ = nullptr;
    // A profile's destruction shuts its cache down and destroys it first.
    for (auto& profile : profiles_)
        profile.reset();
}

BrowserProfile* CBrowserSettings::GetProfile(int32_t slot) const
{
    if (slot < 0 || slot >= count_)
        return nullptr;
    return profiles_[size_t(slot)].get();
}

void CBrowserSettings::ReloadProfiles()
{
    Clear();
    if (context_.Options().useProfiles == kModeAllBrowsers)
        LoadProfiles();
    if (context_.Options().useProfiles != kModeFolderOnly)
        LoadIEProfiles();
    if (count_ == 0)
        SingleCache();
    if (!defaultProfile_ && count_ > 0)
        defaultProfile_ = profiles_[0].get();
}

void CBrowserSettings::LoadProfiles()
{
    context_.Trace("Entry - CBrowserSettings::LoadProfiles()");
    for (LoaderFactory factory : loaders_) {
        if (count_ >= kMaxProfiles)
            break;
        std::unique_ptr<SettingsLoader> loader;
        try {
            loader = factory(context_);
        } catch (const std::bad_alloc&) {
            continue;
        }
        if (loader)
            loader->Load(profiles_, count_);
    }
    context_.Trace("Exit - CBrowserSettings::LoadProfiles()");
}

void CBrowserSettings::LoadIEProfiles()
{
    if (count_ > kMaxProfiles - 1)
        return;
    if (!catalog_.ieLoader)
        return;
    if (std::unique_ptr<SettingsLoader> loader = catalog_.ieLoader(context_))
        loader->Load(profiles_, count_);
}

void CBrowserSettings::SingleCache()
{
    context_.Trace("Entry - CBrowserSettings::SingleCache()");
    if (count_ == 0) {
        auto profile = std::make_unique<BrowserProfile>();
        const std::string& folder = context_.Options().cacheFolder;
        profile->profileName = folder.empty() ? "Cache Folder" : folder;
        profile->displayName = profile->profileName;
        BrowserProfile& ref = *profile;
        profiles_[0] = std::move(profile);
        LoadSingleCache(ref);
        ++count_;
    }
    context_.Trace("Exit - CBrowserSettings::SingleCache()");
}

CCache* CBrowserSettings::LoadSingleCache(BrowserProfile& profile)
{
    context_.Trace("Entry  - CBrowserSettings::LoadSingleCache()");
    std::string folder = HostFolder(context_, context_.Options().cacheFolder);
    profile.cache.reset();
    // An empty folder names no folder at all (RecognizeCacheFolder says so).
    const CacheFormat* format = catalog_.Recognize(folder);
    if (format) {
        if (format->loader) {
            std::unique_ptr<SettingsLoader> loader = format->loader(context_);
            profile.cache = loader->CreateCache(profile, folder);
        } else {
            profile.cache = format->create(context_, &profile, folder);
        }
    }
    context_.Trace("Exit  - CBrowserSettings::LoadSingleCache()");
    return profile.cache.get();
}

} // namespace oriel
