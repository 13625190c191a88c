// The common base of the Netscape-family loaders (Netscape 4, Mozilla and
// Netscape 6 and later, Firefox): reading a profile's cache folder from its
// prefs.js, and testing whether a profile or cache folder exists.
//
// The folders these loaders handle are Windows paths of the examined system
// ("C:\Documents and Settings\Jane\Application Data\Mozilla\..."), as the
// browsers write them into their registry files, profiles.ini and prefs.js.
// They are mapped onto the host only where a file is opened or tested, and
// only through the examined system's path mapping: a folder named in one of
// these files never leads outside the system being examined.
#pragma once

#include "model/SettingsLoader.h"

#include <cstdint>
#include <istream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace oriel {

class BaseNetscapeSettingsLoader : public SettingsLoader {
public:
    using SettingsLoader::SettingsLoader;

    // The cache folder that the profile's prefs.js sets: "browser.cache.directory",
    // or "browser.newcache.directory" when `useNewCache` is set and the
    // Netscape version number is 61. Without such a setting (or without a
    // readable prefs.js), the profile folder + "\cache" ("\newcache").
    std::string GetCachePathFromPrefsJS(const std::string& profileFolder, bool useNewCache) const;

    // True when the path (a Windows path of the examined system) names an
    // existing file or folder.
    bool TestProfileExists(const std::string& path) const;

    // The first non-empty value of `key` in prefs.js text, its doubled
    // backslashes collapsed; empty when no line gives one.
    static std::string FindPrefValue(std::istream& prefs, std::string_view key);

    // The host path of a Windows path of the examined system; empty optional
    // for relative, network and unmapped paths.
    std::optional<std::string> HostPath(const std::string& windowsPath) const;

protected:
    // Shows "Netscape Profile data not found for profile named: NAME".
    void ReportProfileNotFound(const std::string& profileName) const;

    // Puts the profile at slot `count` and raises `count`, with its cache
    // folder (a Windows path of the examined system) mapped onto the host
    // and a cache object for it.
    void AddProfile(ProfileTable& profiles, int32_t& count, std::unique_ptr<BrowserProfile> profile,
                    const std::string& cacheFolder);
    // When the profile folder exists: adds the profile with the cache
    // folder its prefs.js sets (see GetCachePathFromPrefsJS). Otherwise
    // reports the profile as not found.
    void AddProfileFromPrefsJS(ProfileTable& profiles, int32_t& count, std::unique_ptr<BrowserProfile> profile,
                               const std::string& profileFolder, bool useNewCache);
};

} // namespace oriel
