// The index of the Chromium simple cache, "index-dir/the-real-index": a
// pickle (u32 payload size, u32 crc32 of the payload, then the payload)
// of little-endian words:
//
//   u64 magic 0x656e74657220796f ("you enter" backwards), u32 version,
//   u64 entry count, u64 cache size, [u32 write reason: version 7 on],
//   then per entry: u64 entry hash, i64 last used (microseconds since
//   1601), u64 size (version 8 on: packed, the size in 256-byte units in
//   bits 8 and up, memory hints in the low byte), and last the cache
//   folder's modification time (i64).
//
// The cache folder also holds "index", a 24-byte file with the same magic
// and version that marks the folder; the browser rebuilds the real index
// from the entry files when it is missing, and so does this reader: the
// index only adds the last-used times.
#pragma once

#include "platform/ByteReader.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace oriel {

namespace simplecache {
constexpr uint64_t kIndexMagic = 0x656e74657220796full;
constexpr uint32_t kMinIndexVersion = 6;
constexpr uint32_t kMaxIndexVersion = 9;
constexpr const char* kIndexFolderName = "index-dir";
constexpr const char* kRealIndexFileName = "the-real-index";
constexpr const char* kFakeIndexFileName = "index";
} // namespace simplecache

struct SimpleIndexRecord {
    uint64_t hash = 0;
    uint64_t lastUsed = 0; // microseconds since 1601
    uint64_t size = 0;     // bytes the entry's files take
};

struct SimpleIndex {
    uint32_t version = 0;
    uint64_t entryCount = 0; // as the header announces it
    uint64_t cacheSize = 0;
    // The records the file holds (at most the announced count).
    std::vector<SimpleIndexRecord> records;
};

// Empty without the pickle's payload, the magic or a known version. Records
// cut short at the end are left out.
std::optional<SimpleIndex> ParseSimpleIndex(const ByteReader& bytes);

// True when `bytes` (the folder's "index") start with the index magic.
bool IsSimpleFakeIndex(const ByteReader& bytes);

} // namespace oriel
