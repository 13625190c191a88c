// The application's document: the collection of browser profiles that the
// views show, each with the cache object that reads its folder. The views
// are told what changed by update hints (ViewHintEnum).
#pragma once

#include "model/BrowserProfile.h"
#include "model/CacheCatalog.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace oriel {

class AppContext;
struct AppOptions;
class SettingsLoader;

// The numbers passed with every update of the views.
enum ViewHintEnum : int32_t {
    CACHE_NOCHANGE = 1, // the item selection changed
    CACHE_RELOAD = 2,   // a cache's item list changed (decoded again, items deleted or moved)
    CACHE_REFRESH = 3,  // the same items must be listed again
    CACHE_EMPTY = 4,    // a cache was emptied, or the whole collection was rebuilt
};

class CBrowserSettings {
public:
    using LoaderFactory = oriel::LoaderFactory;

    // The display modes of "UseProfiles".
    static constexpr int kModeAllBrowsers = 0;
    static constexpr int kModeIEOnly = 1;
    static constexpr int kModeFolderOnly = 2;

    // Over the context's options, read again at every reload, with the
    // formats and loaders of `catalog`.
    CBrowserSettings(const AppContext& context, const CacheCatalog& catalog);
    // With another list of non-Microsoft loaders than the catalog's.
    CBrowserSettings(const AppContext& context, const CacheCatalog& catalog, std::vector<LoaderFactory> loaders);
    ~CBrowserSettings();
    CBrowserSettings(const CBrowserSettings&) = delete;
    CBrowserSettings& operator=(const CBrowserSettings&) = delete;

    // Destroys every profile and cache and builds the collection again from
    // the display mode and the folder option.
    void ReloadProfiles();
    // Appends the profiles of the non-Microsoft browsers.
    void LoadProfiles();
    // Appends the Internet Explorer profile.
    void LoadIEProfiles();
    // Appends one profile for the folder option.
    void SingleCache();
    // Recognises the cache format in the folder option by its index file and
    // stores the matching cache object in the profile; null if none.
    CCache* LoadSingleCache(BrowserProfile& profile);

    int32_t GetCount() const { return count_; }
    BrowserProfile* GetProfile(int32_t slot) const;
    BrowserProfile* GetDefaultProfile() const { return defaultProfile_; }
    const AppContext& Context() const { return context_; }

private:
    void Clear();

    const AppContext& context_;
    const CacheCatalog& catalog_;
    std::vector<LoaderFactory> loaders_;
    ProfileTable profiles_;
    int32_t count_ = 0;
    BrowserProfile* defaultProfile_ = nullptr;
};

} // namespace oriel
