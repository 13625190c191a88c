// libFuzzer harness for the Netscape registry file reader. The input is
// written as the examined user's Mozilla registry.dat in a synthetic Windows
// tree made once, then read the way the application reads it: the Mozilla
// loader lists its profiles (with their prefs.js and caches), and the key
// tree is walked a few levels deep with GetSubkeys and GetValue.
#include "FuzzSupport.h"

#include "loaders/NSRegistry.h"
#include "loaders/Netscape60SettingsLoader.h"
#include "platform/WindowsSystem.h"
#include "support/MozillaProfileWriter.h"
#include "support/TestContext.h"
#include "support/NSRegistryWriter.h"
#include "support/TestEnvironment.h"
#include "support/WindowsTreeWriter.h"

#include <string>
#include <vector>

namespace {

using oriel::test::MozillaProfileRegistry;
using oriel::test::MozillaRegistryLayout;
using oriel::test::NSRegistryWriter;

// The tree's root; its user Jane has a profile folder C:\Moz\default with a
// prefs.js, which the seeds name.
const std::string& Root()
{
    static const std::string root = [] {
        std::string dir = PrivateFolder("nsreg");
        oriel::test::WindowsTreeWriter tree(oriel::test::WindowsTreeWriter::Layout::Vista);
        tree.addUser("Jane");
        tree.write(dir);
        oriel::test::PrefsJs prefs;
        prefs.setString("browser.cache.directory", "C:\\Moz\\default\\Cache");
        oriel::test::WriteFile(dir + "/Moz/default/prefs.js", prefs.text());
        oriel::platform::SystemConfig config;
        config.root = dir;
        oriel::test::InstallSystem(config);
        return dir;
    }();
    return root;
}

std::vector<oriel::test::MozillaRegistryProfile> Profiles()
{
    return {{"default", "C:\\Moz\\default", std::nullopt},
            {"second", "C:\\Moz\\missing", "no"},
            {"third", std::nullopt, "yes"}};
}

// Lists the keys below `path` (ending in a backslash, or empty for the
// root's children) down to `depth` levels, reading a few entries of each.
size_t Walk(oriel::CNSRegistry& registry, const std::string& path, int depth)
{
    std::vector<std::string> names;
    if (!path.empty() && !registry.GetSubkeys(path, names))
        return 0;
    if (path.empty()) {
        for (const char* root : {"Users\\", "Common\\", "Version Registry\\"}) {
            if (registry.GetSubkeys(root, names))
                names.push_back(std::string(root, std::string(root).size() - 1));
        }
    }
    size_t sink = names.size();
    if (depth == 0)
        return sink;
    for (size_t i = 0; i < names.size() && i < 8; ++i) {
        std::string key = path + names[i] + "\\";
        std::string value;
        for (const char* entry : {"directory", "migrated", "CurrentProfile", "ProfileLocation"}) {
            if (registry.GetValue(key, entry, value))
                sink += value.size();
        }
        sink += Walk(registry, key, depth - 1);
    }
    return sink;
}

} // namespace

void WriteFuzzSeeds(const std::string& dir)
{
    NSRegistryWriter common = MozillaProfileRegistry(MozillaRegistryLayout::Common, Profiles());
    std::string commonBytes = common.build();
    WriteSeed(dir, "common.dat", commonBytes);
    WriteSeed(dir, "users-common.dat", MozillaProfileRegistry(MozillaRegistryLayout::UsersCommon, Profiles()).build());
    {
        // The last profile's next sibling back to the first; an entry chain
        // that comes back to its start.
        std::string looped = commonBytes;
        oriel::test::PutLE32(looped, common.keyOffset("Common\\Profiles\\third") + 12,
                             common.keyOffset("Common\\Profiles\\default"));
        oriel::test::PutLE32(looped, common.entryOffset("Common\\Profiles\\second", "migrated") + 12,
                             common.entryOffset("Common\\Profiles\\second", "directory"));
        WriteSeed(dir, "looped.dat", looped);
    }
    WriteSeed(dir, "cut.dat", commonBytes.substr(0, commonBytes.size() - 40));
    {
        NSRegistryWriter w;
        w.setString("Users\\Jane", "ProfileLocation", "C:\\Moz\\default", 300);
        w.setString("Common\\Netscape\\ProfileManager", "LastNetscapeUser", "Jane");
        std::string bytes = w.build();
        oriel::test::PutLE32(bytes, w.keyOffset("Common\\Netscape") + 4, 0); // a key without name
        WriteSeed(dir, "nsreg.dat", bytes);
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string file = Root() + "/Users/Jane/AppData/Roaming/Mozilla/registry.dat";
    WriteInputFile(file, data, size);
    oriel::ProfileTable profiles;
    int32_t count = 0;
    oriel::Netscape60SettingsLoader(oriel::test::Context()).Load(profiles, count);
    size_t sink = size_t(count);

    oriel::CNSRegistry registry;
    if (registry.Open(file))
        sink += Walk(registry, "", 3);
    return sink == size_t(-1) ? 1 : 0;
}
