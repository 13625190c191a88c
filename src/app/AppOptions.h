// The application's option values as the core reads them.
#pragma once

#include <cstdint>
#include <string>

namespace oriel {

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
    // Decoded bodies are cut at this size (256 MiB); tests set less.
    uint64_t maxDecodedBytes = uint64_t(256) << 20;
};

} // namespace oriel
