// The Internet Explorer loader: one profile, "Internet Explorer Cache",
// whose cache is read through the URL-cache service.
#pragma once

#include "model/SettingsLoader.h"

#include <string>

namespace oriel {

class IESettingsLoader : public SettingsLoader {
public:
    using SettingsLoader::SettingsLoader;

    void Load(ProfileTable& profiles, int32_t& count) override;
    std::unique_ptr<CCache> CreateCache(BrowserProfile& profile, const std::string& folder) override;

    // "Directory" of HKLM\Software\Microsoft\Windows\CurrentVersion\Internet
    // Settings\Cache\Paths, less one trailing backslash; empty when the value
    // cannot be read. A Windows path.
    std::string ReadDirectoryValue() const;

    // The cache folder as a host path: the "Directory" value mapped onto the
    // examined system; when the registry gives no usable folder, the
    // "Content.IE5" folder of the examined user's Temporary Internet Files,
    // where that exists; otherwise empty.
    std::string CacheFolder() const;

    // Sets the profile's cache folder and both its names ("Internet Explorer
    // Cache").
    static void NameProfile(BrowserProfile& profile, const std::string& folder);
};

} // namespace oriel
