#include "model/BrowserSettings.h"

#include "app/CacheApp.h"
#include "app/TraceLog.h"
#include "loaders/Firefox16SettingsLoader.h"
#include "loaders/IESettingsLoader.h"
#include "loaders/Netscape40SettingsLoader.h"
#include "loaders/Netscape45SettingsLoader.h"
#include "loaders/Netscape60SettingsLoader.h"
#include "loaders/OperaSettingsLoader.h"
#include "model/CacheFolder.h"
#include "platform/FileSystem.h"
#include "platform/WindowsSystem.h"

#include <new>

namespace oriel {

namespace {

const AppOptions& CurrentOptions()
{
    static const AppOptions defaults;
    CCacheApp* app = CCacheApp::Instance();
    return app ? app->Options() : defaults;
}

// The folder option is a host folder, or a Windows path when it came from
// the examined system's registry; the latter is mapped onto the system.
std::string HostFolder(const std::string& folder)
{
    if (platform::IsWindowsAbsolutePath(folder))
        return platform::MapWindowsPath(folder).value_or(std::string());
    return folder;
}

template <typename Loader>
std::unique_ptr<SettingsLoader> MakeLoader()
{
    return std::make_unique<Loader>();
}

} // namespace

const std::vector<CBrowserSettings::LoaderFactory>& CBrowserSettings::ProfileLoaders()
{
    // Each browser family adds its loader here as it lands, in this order:
    //   Firefox16SettingsLoader, Netscape60SettingsLoader,
    //   Netscape45SettingsLoader, Netscape40SettingsLoader,
    //   OperaSettingsLoader.
    // Internet Explorer is not one of them: LoadIEProfiles appends it last.
    static const std::vector<LoaderFactory> loaders = {
        &MakeLoader<Firefox16SettingsLoader>,
        &MakeLoader<Netscape60SettingsLoader>,
        &MakeLoader<Netscape45SettingsLoader>,
        &MakeLoader<Netscape40SettingsLoader>,
        &MakeLoader<OperaSettingsLoader>,
    };
    return loaders;
}

CBrowserSettings::CBrowserSettings()
    : CBrowserSettings(CurrentOptions())
{
}

CBrowserSettings::CBrowserSettings(const AppOptions& options)
    : CBrowserSettings(options, ProfileLoaders())
{
}

CBrowserSettings::CBrowserSettings(const AppOptions& options, std::vector<LoaderFactory> loaders)
    : options_(&options)
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
    if (options_->useProfiles == kModeAllBrowsers)
        LoadProfiles();
    if (options_->useProfiles != kModeFolderOnly)
        LoadIEProfiles();
    if (count_ == 0)
        SingleCache();
    if (!defaultProfile_ && count_ > 0)
        defaultProfile_ = profiles_[0].get();
}

void CBrowserSettings::LoadProfiles()
{
    Trace("Entry - CBrowserSettings::LoadProfiles()");
    for (LoaderFactory factory : loaders_) {
        if (count_ >= kMaxProfiles)
            break;
        std::unique_ptr<SettingsLoader> loader;
        try {
            loader = factory();
        } catch (const std::bad_alloc&) {
            continue;
        }
        if (loader)
            loader->Load(profiles_, count_);
    }
    Trace("Exit - CBrowserSettings::LoadProfiles()");
}

void CBrowserSettings::LoadIEProfiles()
{
    if (count_ > kMaxProfiles - 1)
        return;
    IESettingsLoader loader;
    loader.Load(profiles_, count_);
}

void CBrowserSettings::SingleCache()
{
    Trace("Entry - CBrowserSettings::SingleCache()");
    if (count_ == 0) {
        auto profile = std::make_unique<BrowserProfile>();
        const std::string& folder = options_->cacheFolder;
        profile->profileName = folder.empty() ? "Cache Folder" : folder;
        profile->displayName = profile->profileName;
        BrowserProfile& ref = *profile;
        profiles_[0] = std::move(profile);
        LoadSingleCache(ref);
        ++count_;
    }
    Trace("Exit - CBrowserSettings::SingleCache()");
}

CCache* CBrowserSettings::LoadSingleCache(BrowserProfile& profile)
{
    Trace("Entry  - CBrowserSettings::LoadSingleCache()");
    std::string folder = HostFolder(options_->cacheFolder);
    profile.cache.reset();
    // An empty folder names no folder at all (RecognizeCacheFolder says so).
    const CacheFormat* format = RecognizeCacheFolder(folder);
    if (format) {
        if (format->loader) {
            std::unique_ptr<SettingsLoader> loader = format->loader();
            profile.cache = loader->CreateCache(profile, folder);
        } else {
            profile.cache = format->create(&profile, folder);
        }
    }
    Trace("Exit  - CBrowserSettings::LoadSingleCache()");
    return profile.cache.get();
}

} // namespace oriel
