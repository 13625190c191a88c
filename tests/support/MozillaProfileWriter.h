// Writers of the profile files of Firefox and Mozilla, and of whole
// profiles with their caches inside a synthetic Windows tree.
//
//   ProfilesIni ini;
//   ini.add({.name = "default", .path = "Profiles/k3x9abcd.default"});
//   WriteFile(dir + "/profiles.ini", ini.text());
//
//   PrefsJs prefs;
//   prefs.setString("browser.cache.directory", "C:\\FirefoxCache");
//   WriteFile(profile + "/prefs.js", prefs.text()); // the path with doubled backslashes
#pragma once

#include "support/FirefoxCache2Writer.h"
#include "support/MozillaCacheWriter.h"
#include "support/NSRegistryWriter.h"
#include "support/SynthOptions.h"

#include <optional>
#include <string>
#include <vector>

namespace oriel::test {

class WindowsTreeWriter;

struct ProfilesIniEntry {
    std::string name;
    std::optional<std::string> path = std::string("Profiles/default.default"); // none: no "Path" key
    std::optional<int> isRelative = 1;                                          // none: no "IsRelative" key
    bool isDefault = false;
};

// Firefox's profiles.ini: "[General]", then "[Profile0]", "[Profile1]", ...
// in the order added (or under the section names given to addSection).
class ProfilesIni {
public:
    ProfilesIni& add(ProfilesIniEntry entry);
    // A profile under a section name of one's own ("Profile2" after "Profile0").
    ProfilesIni& addSection(const std::string& section, ProfilesIniEntry entry);
    std::string text() const;

private:
    std::vector<std::pair<std::string, ProfilesIniEntry>> sections_;
};

// A prefs.js as Mozilla browsers write it: a comment header, then one
// user_pref line per preference, string values quoted with their
// backslashes and quotes escaped.
class PrefsJs {
public:
    PrefsJs& setString(const std::string& key, const std::string& value);
    PrefsJs& setInt(const std::string& key, int value);
    // A line written as given.
    PrefsJs& addLine(const std::string& line);
    std::string text() const;

    // "C:\a" -> "C:\\a", "x\"y" for x"y.
    static std::string Escape(const std::string& value);

private:
    std::vector<std::string> lines_;
};

// A Firefox profile of a user of the tree: listed in the user's
// profiles.ini, with a prefs.js, and a cache written by `cache`.
struct FirefoxProfileSetup {
    std::string name;                         // "default"
    std::string path = "Profiles/k3x9abcd.default"; // as profiles.ini writes it
    bool isRelative = true;                   // false: `path` is a Windows path
    // The cache folder set in prefs.js (a Windows path); none: Firefox's
    // default place, the same relative path under the local application data.
    std::optional<std::string> cacheDirectory;
    bool writeProfileFolder = true;           // false: the listed folder is missing
    std::optional<MozillaCacheWriter> cache;  // none: no cache files
    // Firefox 32 and later: the "cache2" folder beside the default "Cache".
    std::optional<FirefoxCache2Writer> cache2;
};

// A Mozilla profile of a user of the tree: listed in the user's
// registry.dat, with a prefs.js, and a cache in its folder's "Cache".
struct MozillaProfileSetup {
    std::string name;                         // "default"
    std::string folder = "default/x1y2z3ab.slt"; // under "Mozilla\Profiles" in the roaming data
    std::optional<std::string> migrated;
    std::optional<std::string> cacheDirectory; // the cache folder set in prefs.js
    bool writeProfileFolder = true;
    std::optional<MozillaCacheWriter> cache;
};

// Adds the user's Firefox and Mozilla profiles to the tree, written with it.
// The registry layout is Mozilla's own unless another is given.
void AddFirefoxProfiles(WindowsTreeWriter& tree, const std::string& user, std::vector<FirefoxProfileSetup> profiles);
void AddMozillaProfiles(WindowsTreeWriter& tree, const std::string& user, std::vector<MozillaProfileSetup> profiles,
                        MozillaRegistryLayout layout = MozillaRegistryLayout::Common);

// A small Mozilla cache with `entries` entries (at least one), its URLs
// under `host`.
MozillaCacheWriter SyntheticMozillaCache(const std::string& host, int entries, uint32_t seed);

// The Firefox and Mozilla profiles of the synthetic tree: Firefox profiles
// "default" (cache in its default place) and "work" (cache folder set in
// prefs.js), and the Mozilla profile "default".
void AddSyntheticMozillaProfiles(WindowsTreeWriter& tree, const std::string& user, const SynthOptions& options);

} // namespace oriel::test
