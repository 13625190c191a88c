// The application's option values and their life: loaded once at start-up by
// GetAppGlobals, changed in memory by the options dialog, and partly saved
// again at exit. Both faces (the window and oriel-cli) hold one CCacheApp.
#pragma once

#include "platform/WindowsSystem.h"

#include <memory>
#include <optional>
#include <string>

namespace oriel {

class OptionStore;
class CBrowserSettings;

struct AppOptions {
    std::string cacheFolder;         // "Netscape"/"Cache", without trailing backslash
    int useProfiles = 0;             // "Netscape"/"UseProfiles": 0 all, 1 IE only, 2 folder only
    std::string quickView;           // "Options"/"QuickView"
    std::string defaultFileName = "index";
    int usePathNames = 1;
    int extractNames = 1;
    int useServerInPath = 1;
    int checkVersionOnStartup = 1;
    int fastDelete = 0;
    int removeDB = 0;
    int deleteOnlyDefault = 0;
    int ignoreUnsupported = 0;       // never read: every run starts with 0
    std::string forceNetscapeVersion;
    int netscapeVersion = 99;        // derived: major digit * 10 + minor digit
};

class CCacheApp {
public:
    static constexpr const char* kVersionText = "2.8.03";

    // The application object of this process; null before one is created.
    static CCacheApp* Instance();

    explicit CCacheApp(OptionStore& store);
    ~CCacheApp(); // saves the exit options, then closes the trace log
    CCacheApp(const CCacheApp&) = delete;
    CCacheApp& operator=(const CCacheApp&) = delete;

    // Writes the first trace line (which creates the log), sets up the
    // examined Windows system and its registry (from the "System" options, or
    // the configuration given to SetSystemConfig) and loads the options; the
    // start-up steps that both faces share.
    void Start();
    // Replaces the "System" options for this run (oriel-cli's flags).
    void SetSystemConfig(platform::SystemConfig config) { systemConfig_ = std::move(config); }

    // Start-up up to the window: Start, then, unless the command line holds
    // "/EMPTY", the document (which discovers the profiles). False for an
    // empty-only run: the caller empties the caches and ends.
    bool InitInstance(const std::string& commandLine);
    // The document; null before InitInstance built it.
    CBrowserSettings* Document() const { return document_.get(); }

    void GetAppGlobals();
    void SaveAtExit();

    AppOptions& Options() { return options_; }
    const AppOptions& Options() const { return options_; }
    OptionStore& Store() { return store_; }

    // "/EMPTY" anywhere in the upper-cased command line.
    static bool HasEmptySwitch(const std::string& commandLine);
    // Ten times the first character's digit value plus the third's.
    static int NetscapeVersionNumber(const std::string& versionText);

private:
    OptionStore& store_;
    AppOptions options_;
    bool saveAtExit_ = false;
    std::optional<platform::SystemConfig> systemConfig_;
    std::unique_ptr<CBrowserSettings> document_;
};

} // namespace oriel
