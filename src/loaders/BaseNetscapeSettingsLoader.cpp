#include "loaders/BaseNetscapeSettingsLoader.h"

#include "app/Messages.h"
#include "app/StringTable.h"
#include "platform/FileSystem.h"
#include "platform/WindowsSystem.h"

#include <fstream>

namespace oriel {

namespace {

// The value of one prefs.js line, or empty. For the usual line
//   user_pref("browser.cache.directory", "C:\\Cache");
// that is the text between the third and fourth double quotes, with its
// doubled backslashes collapsed. A line whose key stands at column 0 is
// not a user_pref call and gives nothing.
std::string ValueOfLine(std::string_view line, std::string_view key)
{
    size_t keyColumn = line.find(key);
    if (keyColumn == std::string_view::npos || keyColumn == 0)
        return {};
    const size_t length = line.size();
    // Just past the key's closing quote and the comma.
    size_t start = keyColumn + key.size() + 2;
    size_t open = start > length ? std::string_view::npos : line.find('"', start);
    // Without an opening quote after the key (a number or a truth value,
    // or a line cut short) the line sets no folder; taking the text from
    // column 0 instead would make a folder of "user_pref(".
    if (open == std::string_view::npos)
        return {};
    size_t first = open + 1;
    size_t close = first > length ? std::string_view::npos : line.find('"', first);
    if (close == std::string_view::npos || close < first)
        return {};
    std::string_view value = line.substr(first, close - first);

    // Prefs files double every backslash. A value that starts with a
    // doubled backslash (a network path, "\\\\server\\share") is kept as
    // written, later pairs included.
    std::string collapsed;
    size_t current = 0;
    for (;;) {
        size_t pair = value.find("\\\\", current);
        if (pair == std::string_view::npos || pair == 0) {
            collapsed.append(value.substr(current));
            break;
        }
        collapsed.append(value.substr(current, pair + 1 - current));
        current = pair + 2;
    }
    return collapsed;
}

} // namespace

std::optional<std::string> BaseNetscapeSettingsLoader::HostPath(const std::string& windowsPath) const
{
    if (!platform::IsWindowsAbsolutePath(windowsPath) && windowsPath.rfind("\\\\?\\", 0) != 0)
        return std::nullopt;
    return Context().MapWindowsPath(windowsPath);
}

std::string BaseNetscapeSettingsLoader::FindPrefValue(std::istream& prefs, std::string_view key)
{
    std::string line;
    while (std::getline(prefs, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::string value = ValueOfLine(line, key);
        if (!value.empty())
            return value;
    }
    return {};
}

std::string BaseNetscapeSettingsLoader::GetCachePathFromPrefsJS(const std::string& profileFolder, bool useNewCache) const
{
    Trace("Entry - BaseNetscapeSettingsLoader::GetCachePathFromPrefsJS()");
    Trace("         path = " + profileFolder);

    const bool newCache = useNewCache && Context().Options().netscapeVersion == 61;
    const std::string key = LoadString(newCache ? IDS_PREF_NEWCACHE_DIRECTORY : IDS_PREF_CACHE_DIRECTORY);
    const char* fallbackSuffix = newCache ? "\\newcache" : "\\cache";

    // A prefs.js that cannot be opened (a profile folder without one, or a
    // profile folder that does not exist) counts as empty: the fallback
    // below is taken and the caller's existence test of the profile folder
    // decides.
    std::string result;
    if (auto host = HostPath(profileFolder + "\\prefs.js")) {
        std::ifstream prefs;
        if (platform::OpenPlainFile(prefs, platform::ResolvePath(*host)) && prefs)
            result = FindPrefValue(prefs, key);
    }
    if (result.empty())
        result = profileFolder + fallbackSuffix;

    Trace("Exit - BaseNetscapeSettingsLoader::GetCachePathFromPrefsJS()");
    Trace("         return sCacheDB = " + result);
    return result;
}

bool BaseNetscapeSettingsLoader::TestProfileExists(const std::string& path) const
{
    Trace("Entry - BaseNetscapeSettingsLoader::TestProfileExists()");
    Trace("         path = " + path);
    bool found = false;
    if (auto host = HostPath(path))
        found = platform::GetFileAttributes(*host).has_value();
    Trace("Exit - BaseNetscapeSettingsLoader::TestProfileExists()");
    Trace(found ? "         return Found" : "         return Not Found");
    return found;
}

void BaseNetscapeSettingsLoader::ReportProfileNotFound(const std::string& profileName) const
{
    Context().Messages().ShowMessage(std::string(LoadString(IDS_PROFILE_NOT_FOUND)) + " " + profileName,
                           MessageIcon::Exclamation);
}

void BaseNetscapeSettingsLoader::AddProfile(ProfileTable& profiles, int32_t& count,
                                            std::unique_ptr<BrowserProfile> profile, const std::string& cacheFolder)
{
    profile->cacheFolder = HostPath(cacheFolder).value_or(std::string());
    profile->cache = CreateCache(*profile, profile->cacheFolder);
    profiles[size_t(count)] = std::move(profile);
    ++count;
}

void BaseNetscapeSettingsLoader::AddProfileFromPrefsJS(ProfileTable& profiles, int32_t& count,
                                                       std::unique_ptr<BrowserProfile> profile,
                                                       const std::string& profileFolder, bool useNewCache)
{
    if (TestProfileExists(profileFolder))
        AddProfile(profiles, count, std::move(profile), GetCachePathFromPrefsJS(profileFolder, useNewCache));
    else
        ReportProfileNotFound(profile->profileName);
}

} // namespace oriel
