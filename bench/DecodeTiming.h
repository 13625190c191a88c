// The timing shared by the decode benchmarks: the best of three decodes of
// one cache folder, reported against the target of a tenth of a second, and
// the heap the decode takes per item.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace oriel {
class CCache;
} // namespace oriel

namespace oriel::bench {

// Decodes three times, each with a fresh cache from `makeCache` (messages
// off), and prints one line: `label`, the item count, the best wall time and
// the best CPU time, and whether the target was met; then one line of the
// heap the first decode took per item (at its peak, held after it, the
// items' texts alone, and the peak beyond the texts). Returns 0 when every
// decode succeeded and found `entries` items; a failed decode is reported
// under `name`.
int TimeDecode(const std::string& name, const std::string& label, int entries,
               const std::function<std::unique_ptr<CCache>()>& makeCache);

} // namespace oriel::bench
