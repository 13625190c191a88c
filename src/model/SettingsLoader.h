// A settings loader knows where one browser family keeps its profiles and
// cache folders. The profile collection creates one, asks it once, and
// deletes it; a loader holds no state between calls.
#pragma once

#include "model/BrowserProfile.h"

#include <cstdint>
#include <memory>
#include <string>

namespace oriel {

class SettingsLoader {
public:
    virtual ~SettingsLoader() = default;

    // Appends this family's profiles at slot `count`, each fully built
    // (names, folder, cache object) before `count` is raised by one; never
    // beyond kMaxProfiles. Failures show as fewer profiles.
    virtual void Load(ProfileTable& profiles, int32_t& count) = 0;

    // A new cache object for the profile and folder, or null.
    virtual std::unique_ptr<CCache> CreateCache(BrowserProfile& profile, const std::string& folder) = 0;
};

} // namespace oriel
