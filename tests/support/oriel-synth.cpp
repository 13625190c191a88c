// oriel-synth: writes synthetic browser caches for the benchmarks, the
// fuzz seeds and the demo.
//
//   oriel-synth FORMAT DIR [--entries N] [--seed S] [--no-bodies] [--layout L] [--modern-firefox] [--deleted N]
//                  [--images N]
//   oriel-synth demo DIR
//
// Each format's writer lives in its own tests/support file; this file only
// parses the command line and dispatches.
#include "support/ChromiumCacheWriter.h"
#include "support/ChromiumSimpleCacheWriter.h"
#include "support/Dcache4Writer.h"
#include "support/FirefoxCache2Writer.h"
#include "support/IndexDatWriter.h"
#include "support/MozillaCacheWriter.h"
#include "support/NetscapeDbWriter.h"
#include "support/SynthOptions.h"
#include "support/WindowsTreeWriter.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace {

using oriel::test::SynthOptions;

struct Format {
    const char* name;
    const char* what;
    // Writes the cache into the folder; returns the index file's path.
    std::string (*write)(const std::string& folder, const SynthOptions& options);
};

// One line a format; later formats add theirs.
const std::vector<Format>& Formats()
{
    static const std::vector<Format> formats{
        {"index-dat", "Internet Explorer cache folder (index.dat and sub-folders)",
         &oriel::test::WriteSyntheticIndexDatCache},
        {"cache-db", "Netscape 4.5 cache folder (cache.db and bodies)",
         [](const std::string& folder, const SynthOptions& options) {
             return oriel::test::WriteSyntheticCacheDbCache(folder, options);
         }},
        {"fat-db", "Netscape 4.0 cache folder (fat.db and bodies)", &oriel::test::WriteSyntheticFatDbCache},
        {"dcache4", "Opera cache folder (dcache4.url, bodies, some kept in the index)",
         &oriel::test::WriteSyntheticOperaCache},
        {"mozilla", "Mozilla/Firefox cache folder (_CACHE_MAP_, block files; --layout flat|nested, --version old|new)",
         &oriel::test::WriteSyntheticMozillaCache},
        {"firefox-cache2", "Firefox 32+ cache2 folder (entries/, doomed/, index)",
         &oriel::test::WriteSyntheticFirefoxCache2Cache},
        {"chromium", "Chromium blockfile cache folder (index, data_0 to data_3, f_ files)",
         &oriel::test::WriteSyntheticChromiumCache},
        {"chromium-simple", "Chromium simple cache folder (HASH_0 entry files, HASH_s sparse files, index-dir/)",
         &oriel::test::WriteSyntheticChromiumSimpleCache},
        {"windows-tree", "Windows system drive (hives, users, an IE cache; --layout xp|vista)",
         &oriel::test::WriteSyntheticWindowsTree},
    };
    return formats;
}

// Where each format's demo cache goes under the demo folder.
struct DemoCache {
    const char* format;
    const char* subfolder;
};
constexpr DemoCache kDemoCaches[] = {
    {"index-dat", "ie"},
    {"cache-db", "netscape45"},
    {"fat-db", "netscape40"},
    {"dcache4", "opera"},
    {"mozilla", "firefox"},
    {"firefox-cache2", "firefox-cache2"},
    {"chromium", "chrome"},
    {"chromium-simple", "chrome-simple"},
    {"windows-tree", "windows"},
};

void Usage(FILE* out)
{
    std::fprintf(out,
                 "usage: oriel-synth FORMAT DIR [--entries N] [--seed S] [--no-bodies] [--layout L] [--modern-firefox] [--deleted N]\n"
                 "                   [--images N] (index-dat: N image bodies among the entries)\n"
                 "       oriel-synth demo DIR\n\nformats:\n");
    for (const Format& f : Formats())
        std::fprintf(out, "  %-15s %s\n", f.name, f.what);
    std::fprintf(out, "  %-15s %s\n", "demo", "one small cache of every format under DIR");
}

bool ParseNumber(std::string_view text, long long low, long long high, long long& value)
{
    std::string s(text);
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(s.c_str(), &end, 10);
    if (s.empty() || *end != '\0' || errno != 0 || v < low || v > high)
        return false;
    value = v;
    return true;
}

const Format* FindFormat(std::string_view name)
{
    for (const Format& f : Formats()) {
        if (name == f.name)
            return &f;
    }
    return nullptr;
}

int Run(int argc, char** argv)
{
    if (argc < 2 || std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h") {
        Usage(argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    std::string_view command = argv[1];
    std::string folder;
    SynthOptions options;
    for (int i = 2; i < argc; ++i) {
        std::string_view arg = argv[i];
        long long value = 0;
        if (arg == "--images" && i + 1 < argc) {
            if (!ParseNumber(argv[++i], 0, 10000000, value)) {
                std::fprintf(stderr, "oriel-synth: bad number for --images: %s\n", argv[i]);
                return 2;
            }
            options.images = int(value);
        } else if ((arg == "--entries" || arg == "--seed") && i + 1 < argc) {
            bool entries = arg == "--entries";
            if (!ParseNumber(argv[++i], 0, entries ? 10000000 : 0xFFFFFFFFLL, value)) {
                std::fprintf(stderr, "oriel-synth: bad number for %s: %s\n", entries ? "--entries" : "--seed",
                             argv[i]);
                return 2;
            }
            if (entries)
                options.entries = int(value);
            else
                options.seed = uint32_t(value);
        } else if (arg == "--deleted" && i + 1 < argc) {
            if (!ParseNumber(argv[++i], 0, 10000000, value)) {
                std::fprintf(stderr, "oriel-synth: bad number for --deleted: %s\n", argv[i]);
                return 2;
            }
            options.deleted = int(value);
        } else if (arg == "--no-bodies") {
            options.bodies = false;
        } else if (arg == "--layout" && i + 1 < argc) {
            options.layout = argv[++i];
        } else if (arg == "--modern-firefox") {
            options.modernFirefox = true;
        } else if (arg == "--version" && i + 1 < argc) {
            options.mapVersion = argv[++i];
        } else if (!arg.empty() && arg[0] != '-' && folder.empty()) {
            folder = std::string(arg);
        } else {
            std::fprintf(stderr, "oriel-synth: unexpected argument: %s\n", argv[i]);
            Usage(stderr);
            return 2;
        }
    }
    if (folder.empty()) {
        std::fprintf(stderr, "oriel-synth: no folder given\n");
        Usage(stderr);
        return 2;
    }
    std::filesystem::create_directories(folder);

    if (command == "demo") {
        // The demo's Windows tree also holds a Firefox of today.
        options.modernFirefox = true;
        for (const DemoCache& demo : kDemoCaches) {
            std::string path = FindFormat(demo.format)->write(folder + "/" + demo.subfolder, options);
            std::printf("%s\n", path.c_str());
        }
        // The Windows tree's user Jane also has a Chrome profile with a
        // cache of pictures, pages and scripts.
        const bool xp = options.layout == "xp";
        oriel::test::WindowsTreeWriter tree(xp ? oriel::test::WindowsTreeWriter::Layout::Xp
                                               : oriel::test::WindowsTreeWriter::Layout::Vista);
        tree.addUser("Jane");
        const std::string local = tree.profileFolder("Jane") + (xp ? "/Local Settings/Application Data" : "/AppData/Local");
        oriel::test::SynthOptions chrome = options;
        chrome.entries = std::min(options.entries, 60);
        std::printf("%s\n", oriel::test::WriteSyntheticChromiumCache(
                                 folder + "/windows/" + local + "/Google/Chrome/User Data/Default/Cache/Cache_Data", chrome)
                                 .c_str());
        // A second Chrome profile whose cache is a simple cache (as a
        // profile brought over from Linux or Android keeps it).
        std::printf("%s\n",
                    oriel::test::WriteSyntheticChromiumSimpleCache(
                        folder + "/windows/" + local + "/Google/Chrome/User Data/Profile 1/Cache/Cache_Data", chrome)
                        .c_str());
        return 0;
    }
    const Format* format = FindFormat(command);
    if (!format) {
        std::fprintf(stderr, "oriel-synth: unknown format: %.*s\n", int(command.size()), command.data());
        Usage(stderr);
        return 2;
    }
    std::printf("%s\n", format->write(folder, options).c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "oriel-synth: %s\n", e.what());
        return 1;
    }
}
