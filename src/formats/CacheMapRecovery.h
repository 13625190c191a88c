// What a Mozilla cache folder still holds beside its live map records:
// records the map no longer counts (after the entry count of a clean map,
// behind an empty record in a bucket, or whose hash number was cleared when
// the entry was deleted), and the names of separate files, so that files no
// record names can be found.
#pragma once

#include "formats/CacheMapFile.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace oriel {

// Every record slot of `map` after its header that the live reading did not
// take (`live`, as ParseCacheMapRecords gave them) and whose two locations
// still look real (initialised, reserved bits clear), in map order, at most
// `limit`. A slot that names the same metadata as a live record is left
// out: Firefox moves a bucket's last record into a deleted record's place,
// leaving a copy behind. With `swapped` the slots are byte-swapped first,
// as the live records of a little-endian bucket map were.
std::vector<CacheMapRecord> FindStaleCacheMapRecords(const ByteReader& map, const CacheMapHeader& header, bool swapped,
                                                     const std::vector<CacheMapRecord>& live, size_t limit);

// A separate file's name, flat ("0A1B2C3Dd01") or nested ("0/A1/B2C3Dd01"),
// in either case of letters; empty for any other name.
struct CacheMapSeparateName {
    uint32_t hashNumber = 0;
    char kind = 'd'; // 'd' data, 'm' metadata
    uint32_t generation = 0;
};
std::optional<CacheMapSeparateName> ParseCacheMapSeparateName(std::string_view relative);

} // namespace oriel
