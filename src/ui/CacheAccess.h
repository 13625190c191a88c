// Whether a profile's cache can be changed: a cache on a read-only mount
// (a disk examined as evidence, mounted read-only) is shown as such and
// offers no command that deletes.
#pragma once

namespace oriel {

struct BrowserProfile;

// False when the profile's cache folder exists but is not writable; true
// for a profile without a cache or without a folder (nothing to judge).
bool CacheWritable(const BrowserProfile* profile);

} // namespace oriel
