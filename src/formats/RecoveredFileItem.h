// An item found outside the live index (a stale record, a body no record
// names) whose body, if any, is a plain file in the cache folder. It says
// where it was found, so that an examiner can go back to the bytes.
#pragma once

#include "model/CacheItem.h"

namespace oriel {

// "Found at" and the like are the properties its decoder adds
// (AddFormatProperty), shown after the common fields.
using CRecoveredFileItem = CFileCacheItem;

} // namespace oriel
