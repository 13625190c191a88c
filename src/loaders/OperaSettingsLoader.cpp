#include "loaders/OperaSettingsLoader.h"

#include "app/StringTable.h"
#include "formats/OperaCache.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/WindowsSystem.h"

namespace oriel {

namespace {

std::optional<std::string> HostPath(const AppContext& context, const std::string& windowsPath)
{
    if (!platform::IsWindowsAbsolutePath(windowsPath))
        return std::nullopt;
    return context.MapWindowsPath(windowsPath);
}

} // namespace

std::string OperaSettingsLoader::FindCacheFolder() const
{
    auto registry = Context().Registry();
    std::string operaFolder;
    const bool registered = registry->QueryString(platform::RootKey::LocalMachine, LoadString(IDS_OPERA_APP_PATH_KEY),
                                                  LoadString(IDS_OPERA_PATH_VALUE), operaFolder) >= 0;
    if (registered) {
        // A trailing backslash in the folder is kept, as Opera's own
        // lookup keeps it.
        platform::IniFile ini;
        if (auto host = HostPath(Context(), operaFolder + "\\" + LoadString(IDS_OPERA_INI_FILE)))
            ini.Load(*host);
        if (ini.GetInt("System", "Multi User", 1) == 0) {
            std::string folder = ini.GetString("User Prefs", "Cache Directory4", "", 259);
            return folder.empty() ? operaFolder + "\\profile\\cache4" : folder;
        }
    }
    auto roaming =
        Context().System()->KnownFolderWindowsPath(platform::KnownFolder::AppData, *Context().Registry());
    if (!roaming)
        return {};
    std::string folder = *roaming + "\\Opera\\Opera\\profile\\cache4";
    auto host = HostPath(Context(), folder);
    return host && platform::GetFileAttributes(*host) ? folder : std::string();
}

void OperaSettingsLoader::Load(ProfileTable& profiles, int32_t& count)
{
    Trace("Entry - OperaSettingsLoader::Load()");
    std::string folder = FindCacheFolder();
    if (!folder.empty()) {
        // A single-user folder is taken without an existence test; one that
        // does not lie on the examined system leaves the profile without a
        // folder, and its decode reports that no index is there.
        LoadProfile(HostPath(Context(), folder).value_or(std::string()), profiles, count);
    }
    Trace("Exit - OperaSettingsLoader::Load()");
}

void OperaSettingsLoader::LoadProfile(const std::string& cacheFolder, ProfileTable& profiles, int32_t& count)
{
    Trace("Entry - OperaSettingsLoader::LoadProfile()");
    if (count >= 0 && count < kMaxProfiles) {
        auto profile = std::make_unique<BrowserProfile>();
        profile->cacheFolder = cacheFolder;
        profile->profileName = LoadString(IDS_OPERA_CACHE);
        profile->displayName = profile->profileName;
        profile->cache = CreateCache(*profile, cacheFolder);
        profiles[size_t(count)] = std::move(profile);
        ++count;
    }
    Trace("Exit - OperaSettingsLoader::LoadProfile()");
}

std::unique_ptr<CCache> OperaSettingsLoader::CreateCache(BrowserProfile& profile, const std::string& folder)
{
    return std::make_unique<OperaCache>(Context(), &profile, folder);
}

} // namespace oriel
