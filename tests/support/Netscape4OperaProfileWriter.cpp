#include "support/Netscape4OperaProfileWriter.h"

#include "support/Dcache4Writer.h"
#include "support/MozillaProfileWriter.h"
#include "support/NSRegistryWriter.h"
#include "support/NetscapeDbWriter.h"
#include "support/TestEnvironment.h"
#include "support/WindowsTreeWriter.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <stdexcept>

namespace oriel::test {

namespace {

constexpr const char* kNavigatorUsers = "Netscape\\Netscape Navigator\\Users\\";
constexpr const char* kOperaAppPath = "Microsoft\\Windows\\CurrentVersion\\App Paths\\Opera.exe";

std::string RoamingFolder(const WindowsTreeWriter& tree, const std::string& user)
{
    bool xp = tree.layout() == WindowsTreeWriter::Layout::Xp;
    return tree.profileFolder(user) + (xp ? "/Application Data" : "/AppData/Roaming");
}

std::string WindowsFolder(const WindowsTreeWriter& tree)
{
    return tree.layout() == WindowsTreeWriter::Layout::Xp ? "WINDOWS" : "Windows";
}

// Writes the profile folder's prefs.js and returns the cache folder (host path).
std::string WriteNetscape4Profile(const WindowsTreeWriter& tree, const std::string& root,
                                  const Netscape4ProfileSetup& p)
{
    const std::string folder = root + "/" + Netscape4ProfileFolder(p);
    if (p.writeProfileFolder) {
        PrefsJs prefs;
        prefs.setString("browser.startup.homepage", "http://home.netscape.com/");
        if (p.cacheDirectory)
            prefs.setString("browser.cache.directory", *p.cacheDirectory);
        WriteFile(folder + "/prefs.js", prefs.text());
    }
    return p.cacheDirectory ? tree.hostPath(root, *p.cacheDirectory) : folder + "/cache";
}

} // namespace

std::string Netscape4ProfileFolder(const Netscape4ProfileSetup& setup)
{
    return setup.folder.empty() ? "Program Files/Netscape/Users/" + setup.name : setup.folder;
}

void AddNetscape40Profiles(WindowsTreeWriter& tree, std::vector<Netscape4ProfileSetup> profiles)
{
    for (const Netscape4ProfileSetup& p : profiles) {
        const std::string key = kNavigatorUsers + p.name;
        tree.software().setString(key, "UserName", p.userName);
        tree.software().setString(key, "DirRoot", tree.windowsPath(Netscape4ProfileFolder(p)));
    }
    tree.addExtraWriter([&tree, profiles = std::move(profiles)](const std::string& root) {
        for (const Netscape4ProfileSetup& p : profiles) {
            const std::string cache = WriteNetscape4Profile(tree, root, p);
            if (p.cache)
                WriteSyntheticFatDbCache(cache, *p.cache);
        }
    });
}

void AddNetscape45Profiles(WindowsTreeWriter& tree, std::vector<Netscape4ProfileSetup> profiles)
{
    tree.addExtraWriter([&tree, profiles = std::move(profiles)](const std::string& root) {
        NSRegistryWriter nsreg;
        nsreg.addKey("Users");
        for (const Netscape4ProfileSetup& p : profiles) {
            nsreg.setString("Users\\" + p.name, "ProfileLocation", tree.windowsPath(Netscape4ProfileFolder(p)));
            const std::string cache = WriteNetscape4Profile(tree, root, p);
            if (p.cache) {
                // The browser stores every body's full path.
                const std::string stored =
                    p.cacheDirectory ? *p.cacheDirectory : tree.windowsPath(Netscape4ProfileFolder(p) + "/cache");
                WriteSyntheticCacheDbCache(cache, *p.cache, stored);
            }
        }
        nsreg.writeTo(root + "/" + WindowsFolder(tree) + "/nsreg.dat");
    });
}

std::string OperaCacheFolder(const WindowsTreeWriter& tree, const std::string& user, const OperaProfileSetup& setup)
{
    if (setup.mode == OperaProfileSetup::Mode::SingleUser) {
        if (setup.cacheDirectory4)
            return tree.hostPath("", *setup.cacheDirectory4).substr(1);
        return setup.operaFolder + "/profile/cache4";
    }
    return RoamingFolder(tree, user) + "/Opera/Opera/profile/cache4";
}

void AddOperaProfile(WindowsTreeWriter& tree, const std::string& user, OperaProfileSetup setup)
{
    if (setup.mode != OperaProfileSetup::Mode::Unregistered)
        tree.software().setString(kOperaAppPath, "Path", tree.windowsPath(setup.operaFolder));
    tree.addExtraWriter([&tree, user, setup = std::move(setup)](const std::string& root) {
        const std::string opera = root + "/" + setup.operaFolder;
        if (setup.mode != OperaProfileSetup::Mode::Unregistered) {
            std::optional<int> multiUser;
            if (setup.writeMultiUserKey)
                multiUser = setup.mode == OperaProfileSetup::Mode::SingleUser ? 0 : 1;
            WriteFile(opera + "/OperaDef6.ini", OperaDef6Ini(multiUser, setup.cacheDirectory4));
            WriteFile(opera + "/Opera.exe", "MZ");
        }
        if (setup.cache)
            WriteSyntheticOperaCache(root + "/" + OperaCacheFolder(tree, user, setup), *setup.cache);
    });
}

void AddSyntheticNetscapeOperaProfiles(WindowsTreeWriter& tree, const std::string& user, const SynthOptions& options)
{
    SynthOptions small = options;
    small.entries = std::clamp(options.entries / 4, 1, 50);
    Netscape4ProfileSetup nav40;
    nav40.name = "nav40";
    nav40.userName = "Jane Navigator";
    nav40.cache = small;
    AddNetscape40Profiles(tree, {nav40});

    Netscape4ProfileSetup comm45;
    comm45.name = "jane";
    comm45.cache = small;
    comm45.cache->seed = options.seed + 2;
    AddNetscape45Profiles(tree, {comm45});

    OperaProfileSetup opera;
    opera.cache = small;
    opera.cache->seed = options.seed + 3;
    AddOperaProfile(tree, user, opera);
}

} // namespace oriel::test
