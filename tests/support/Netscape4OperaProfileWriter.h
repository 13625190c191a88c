// Writers of Netscape 4 and Opera installations inside a synthetic Windows
// tree: the registry values and profile files their loaders read, and a
// synthetic cache in each cache folder.
//
//   Netscape 4.0: HKLM\SOFTWARE\Netscape\Netscape Navigator\Users\<name>
//                 ("UserName", "DirRoot"), prefs.js, fat.db
//   Netscape 4.5: <Windows folder>\nsreg.dat ("Users\<name>", entry
//                 "ProfileLocation"), prefs.js, cache.db
//   Opera:        HKLM\SOFTWARE\...\App Paths\Opera.exe ("Path"),
//                 <Opera folder>\OperaDef6.ini, dcache4.url in the cache folder
//
//   WindowsTreeWriter tree(WindowsTreeWriter::Layout::Xp);
//   tree.addUser("Jane");
//   AddNetscape45Profiles(tree, {{.name = "jane", .cache = SynthOptions{}}});
//   AddOperaProfile(tree, "Jane", {.mode = OperaProfileSetup::Mode::MultiUser, .cache = SynthOptions{}});
//   tree.write(root);
#pragma once

#include "support/SynthOptions.h"

#include <optional>
#include <string>
#include <vector>

namespace oriel::test {

class WindowsTreeWriter;

struct Netscape4ProfileSetup {
    std::string name{};   // the profile's name: registry subkey or nsreg.dat key
    std::string userName{}; // Netscape 4.0's "UserName"
    // The profile folder relative to the root, with '/'; empty:
    // "Program Files/Netscape/Users/<name>".
    std::string folder{};
    // The cache folder set in prefs.js (a Windows path); none: no setting,
    // so the profile folder's "cache".
    std::optional<std::string> cacheDirectory{};
    bool writeProfileFolder = true;     // false: the registered folder is missing
    std::optional<SynthOptions> cache{}; // a synthetic cache; none: no cache files
};

// Netscape 4.0 profiles, registered in the SOFTWARE hive in the order given.
void AddNetscape40Profiles(WindowsTreeWriter& tree, std::vector<Netscape4ProfileSetup> profiles);
// Netscape 4.5 profiles, listed in nsreg.dat in the Windows folder.
void AddNetscape45Profiles(WindowsTreeWriter& tree, std::vector<Netscape4ProfileSetup> profiles);

struct OperaProfileSetup {
    enum class Mode {
        MultiUser,    // "Multi User=1": the cache under the user's roaming folder
        SingleUser,   // "Multi User=0" without "Cache Directory4": <Opera>\profile\cache4
        Unregistered, // no App Paths entry: the cache under the user's roaming folder
    };
    Mode mode = Mode::MultiUser;
    std::string operaFolder = "Program Files/Opera"; // relative to the root
    std::optional<std::string> cacheDirectory4{};    // single-user: "Cache Directory4" (a Windows path)
    bool writeMultiUserKey = true;                   // false: OperaDef6.ini without "Multi User"
    std::optional<SynthOptions> cache{};
};

// The Opera installation and the cache of `user`.
void AddOperaProfile(WindowsTreeWriter& tree, const std::string& user, OperaProfileSetup setup);

// Where a Netscape 4 profile's or Opera's cache goes, relative to the root.
std::string Netscape4ProfileFolder(const Netscape4ProfileSetup& setup);
std::string OperaCacheFolder(const WindowsTreeWriter& tree, const std::string& user, const OperaProfileSetup& setup);

// The Netscape 4 and Opera installations of the synthetic tree: Netscape
// 4.0 profile "nav40" and Netscape 4.5 profile "jane", Opera in multi-user
// mode for `user`, each with a small synthetic cache.
void AddSyntheticNetscapeOperaProfiles(WindowsTreeWriter& tree, const std::string& user, const SynthOptions& options);

} // namespace oriel::test
