// libFuzzer harness for the prefs.js reader. The input is written as the
// prefs.js of a profile folder in a synthetic Windows tree made once, then
// read the way the loaders read it, with and without the new-cache key.
// The cache folder found is either the fallback or a text that stood
// between two double quotes of one line, so it holds no quote and no line
// end; anything else is a fault.
#include "FuzzSupport.h"

#include "app/CacheApp.h"
#include "app/OptionStore.h"
#include "loaders/Firefox16SettingsLoader.h"
#include "platform/WindowsSystem.h"
#include "support/MozillaProfileWriter.h"
#include "support/TestContext.h"
#include "support/TestEnvironment.h"

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

namespace {

const char* const kProfile = "C:\\Profile";

const std::string& Root()
{
    static const std::string root = [] {
        std::string dir = PrivateFolder("prefs");
        std::filesystem::create_directories(dir + "/Profile");
        oriel::platform::SystemConfig config;
        config.root = dir;
        oriel::test::Context().SetSystem(std::make_shared<oriel::platform::WindowsSystem>(config));
        // Version number 61: the new-cache flag selects the other key.
        static oriel::CCacheApp app(oriel::OptionStore::Instance());
        app.Options().netscapeVersion = 61;
        return dir;
    }();
    return root;
}

void Check(const std::string& result, size_t inputSize)
{
    bool fallback = result == std::string(kProfile) + "\\cache" || result == std::string(kProfile) + "\\newcache";
    if (fallback)
        return;
    if (result.empty() || result.size() > inputSize || result.find_first_of("\"\n") != std::string::npos)
        std::abort();
}

} // namespace

void WriteFuzzSeeds(const std::string& dir)
{
    using oriel::test::PrefsJs;
    PrefsJs usual;
    usual.setString("browser.cache.directory", "C:\\Documents and Settings\\Jane\\Cache")
        .setInt("browser.cache.disk.capacity", 50000)
        .setString("browser.newcache.directory", "D:\\New Cache");
    WriteSeed(dir, "usual.js", usual.text());
    PrefsJs tricky;
    tricky.addLine("browser.cache.directory\", \"C:\\\\AtColumnZero\");")
        .setString("browser.cache.directory", "")
        .setString("browser.cache.directory", "\\\\server\\share\\cache")
        .addLine("user_pref(\"browser.cache.directory\", \"C:\\\\\\Three\");")
        .addLine("user_pref(\"browser.cache.directory\", 5);")
        .addLine("user_pref(\"browser.cache.directory\"");
    WriteSeed(dir, "tricky.js", tricky.text());
    WriteSeed(dir, "empty.js", "");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    WriteInputFile(Root() + "/Profile/prefs.js", data, size);
    for (bool newCache : {false, true})
        Check(oriel::Firefox16SettingsLoader(oriel::test::Context()).GetCachePathFromPrefsJS(kProfile, newCache), size);
    return 0;
}
