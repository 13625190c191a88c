// Whether each item's body is still there: one Exists per item (a stat of
// its body file), on several threads for a large list. The list takes it
// before it shows a cache; oriel-cli can ask it the same way.
#pragma once

#include "model/Progress.h"

#include <cstddef>
#include <vector>

namespace oriel {

class CCacheItem;

// One flag per item, in the items' order: 1 when the item's Exists is true
// (a null item counts as absent). Each item is checked by exactly one
// thread and keeps its answer in its own fields. `progress` moves, on the
// calling thread only, up to the number of items.
std::vector<char> CheckItemExistence(const std::vector<CCacheItem*>& items, Progress& progress);

// How many threads, the caller's included, check `count` items.
unsigned ExistenceCheckThreads(std::size_t count);

} // namespace oriel
