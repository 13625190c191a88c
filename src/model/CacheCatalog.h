// What the profile collection knows of the cache formats and browser
// families: rows it is handed, never the decoders and loaders themselves.
// The faces hand it the application's catalog; tests may hand it others.
#pragma once

#include "model/Cache.h"

#include <memory>
#include <span>
#include <string>
#include <vector>

namespace oriel {

class AppContext;
struct BrowserProfile;
class SettingsLoader;

using LoaderFactory = std::unique_ptr<SettingsLoader> (*)(const AppContext& context);

// One cache format, recognised by the name of its index file (and, where
// the name is not enough, by its content).
struct CacheFormat {
    const char* indexFile; // "index.dat"
    const char* name;      // short format name for listings: "ie", "mozilla", ...
    std::unique_ptr<CCache> (*create)(const AppContext& context, BrowserProfile* profile, const std::string& folder);
    // The family's settings loader, whose CreateCache the single-folder
    // profile uses (the Internet Explorer loader also names the profile);
    // null when the family has none, and then `create` builds the cache.
    LoaderFactory loader = nullptr;
    // A look at the index file's content, for names that several formats
    // use ("index"): the folder is this format's only when it answers true.
    // Null: the name alone decides.
    bool (*recognize)(const std::string& folder) = nullptr;
};

struct CacheCatalog {
    // In the order they are tried on a folder.
    std::span<const CacheFormat> formats;
    // The non-Microsoft browser families, in the order their profiles are
    // listed.
    std::vector<LoaderFactory> profileLoaders;
    // Internet Explorer, listed after all of them.
    LoaderFactory ieLoader = nullptr;

    // The first format whose index file exists in `folder` (a file or a
    // folder of that name counts), or null; null for an empty folder name.
    const CacheFormat* Recognize(const std::string& folder) const;
    // The cache object for `folder`; null when no format is recognised.
    std::unique_ptr<CCache> CreateCacheForFolder(const AppContext& context, BrowserProfile* profile,
                                                 const std::string& folder, const CacheFormat** format = nullptr) const;
};

} // namespace oriel
