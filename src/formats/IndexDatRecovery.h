// Records that Internet Explorer deleted but that still stand in blocks the
// allocation bitmap of "index.dat" marks free: stale URL, LEAK and REDR
// records. Nothing in a free block is trusted: a record is taken only as
// far as its blocks are still free and hold no other record, and a text
// only when its terminating NUL lies inside what is left.
#pragma once

#include "formats/IndexDatFile.h"
#include "model/Cache.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace oriel {

struct IndexDatStaleRecord {
    size_t offset = 0;          // file offset of the record's first block
    uint32_t signature = 0;     // "URL ", "LEAK" or "REDR"
    uint32_t declaredBlocks = 0; // the block count at record offset 4
    size_t keptLength = 0;      // bytes of the record still standing, whole blocks
    // Later writes (an allocated block, another record's signature, a
    // freed-block fill, the end of the file) cut the record before its
    // declared end: only fields wholly inside keptLength are set.
    bool partial = false;
    // URL and LEAK records: every field of a live record. REDR records:
    // only the URL (at record offset 16).
    IndexDatFile::UrlRecord fields;
};

// Every stale record in the free blocks of `index` (whose header has been
// parsed), in file order, at most `limit` of them; the texts are views of
// the file's bytes, for an index over bytes held whole. Returns nothing
// when the file does not use its allocation bitmap (then no block is known
// free).
std::vector<IndexDatStaleRecord> FindIndexDatStaleRecords(const IndexDatFile& index, size_t limit = SIZE_MAX);
// The same walk, handing each record to `each` while its texts are in view
// (over a file read as the walk goes, a view lasts until the next read);
// returns how many there were.
size_t ForEachIndexDatStaleRecord(const IndexDatFile& index, const std::function<void(const IndexDatStaleRecord&)>& each,
                                  size_t limit = SIZE_MAX);

// The cache name a recovered record's item carries, from the record's
// sub-folder and file name; none: the item names no file.
using IndexDatCacheName = std::function<std::optional<std::string>(const IndexDatFile::UrlRecord&)>;

// Files one recovered item in `cache` per stale record of `index` that
// still has a URL or a cache file name, with record keys from `firstKey`
// on (after the live records' keys). The cache name is the sub-folder, a
// backslash and the file name (a name relative to the index's folder)
// unless `cacheNameOf` says otherwise. Returns the number of items made.
int32_t AddIndexDatRecoveredItems(CCache& cache, const IndexDatFile& index, int32_t firstKey,
                                  const IndexDatCacheName& cacheNameOf = {});

} // namespace oriel
