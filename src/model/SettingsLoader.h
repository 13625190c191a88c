// A settings loader knows where one browser family keeps its profiles and
// cache folders. The profile collection creates one, asks it once, and
// deletes it; a loader holds no state between calls.
#pragma once

#include "app/AppContext.h"
#include "model/BrowserProfile.h"

#include <cstdint>
#include <memory>
#include <string>

namespace oriel {

class SettingsLoader {
public:
    explicit SettingsLoader(const AppContext& context)
        : context_(context)
    {
    }
    virtual ~SettingsLoader() = default;

    // Appends this family's profiles at slot `count`, each fully built
    // (names, folder, cache object) before `count` is raised by one; never
    // beyond kMaxProfiles. Failures show as fewer profiles.
    virtual void Load(ProfileTable& profiles, int32_t& count) = 0;

    // A new cache object for the profile and folder, or null.
    virtual std::unique_ptr<CCache> CreateCache(BrowserProfile& profile, const std::string& folder) = 0;

    // The options, examined system, message sink and trace log to work with.
    const AppContext& Context() const { return context_; }

protected:
    void Trace(std::string_view text) const { context_.Trace(text); }

private:
    const AppContext& context_;
};

} // namespace oriel
