// One browser profile: its names, its cache folder and the cache object
// that reads that folder.
#pragma once

#include "model/Cache.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>

namespace oriel {

struct BrowserProfile {
    std::string profileName; // the browser's own name for the profile
    std::string displayName; // what the tree and the CSV header show
    std::string cacheFolder; // full path of the cache folder; may be empty
    std::unique_ptr<CCache> cache; // null when no cache format was recognised

    ~BrowserProfile()
    {
        if (cache)
            cache->DoShutdown();
    }
};

// The profile slots of the collection, as the settings loaders fill them:
// slots below the count hold profiles, the others are null.
constexpr int32_t kMaxProfiles = 256;
using ProfileTable = std::array<std::unique_ptr<BrowserProfile>, kMaxProfiles>;

} // namespace oriel
