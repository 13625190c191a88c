// The "index" file of Firefox's cache2 folder: a header, one record per
// entry, and a u32 hash of everything before it. Every number is
// big-endian. The index is a hint only (Firefox rebuilds it from the entry
// files): an entry file without a record is still an entry.
//
//   header   u32 version, u32 last written (seconds since 1970), u32 dirty;
//            from version 6 on also u32 kilobytes written (16 bytes)
//   records  20-byte SHA-1 of the key, u32 frecency, then by version:
//            1 to 3: u32 expiration, u32 app id, u32 flags          (36 bytes)
//            4:      u64 origin-attributes hash, u32 expiration,
//                    u32 flags                                      (40 bytes)
//            5 to 7: u64 origin-attributes hash, u32 expiration,
//                    u16 on-start time, u16 on-stop time, u32 flags (44 bytes)
//            8:      u64 origin-attributes hash, u16 on-start time,
//                    u16 on-stop time, u32 flags                    (40 bytes)
//            9, 10:  as 8 with a u8 content type before the flags   (41 bytes)
//   trailer  u32 hash
#pragma once

#include "platform/ByteReader.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace oriel {

namespace cache2 {
constexpr uint32_t kMaxIndexVersion = 0x0A;
// Record flags.
constexpr uint32_t kIndexInitialized = 0x80000000u;
constexpr uint32_t kIndexAnonymous = 0x40000000u;
constexpr uint32_t kIndexRemoved = 0x20000000u;
constexpr uint32_t kIndexDirty = 0x10000000u;
constexpr uint32_t kIndexFresh = 0x08000000u;
constexpr uint32_t kIndexPinned = 0x04000000u;
constexpr uint32_t kIndexHasAltData = 0x02000000u;
constexpr uint32_t kIndexFileSizeMask = 0x00FFFFFFu; // the entry file's size in KiB

// Header and record sizes of an index version; none for an unknown version.
struct IndexLayout {
    size_t headerSize;
    size_t recordSize;
};
std::optional<IndexLayout> IndexLayoutOf(uint32_t version);
} // namespace cache2

struct Cache2IndexRecord {
    std::array<uint8_t, 20> hash{};
    uint32_t frecency = 0;
    uint32_t flags = 0;

    // The entry file's name: the hash as 40 upper-case hex digits.
    std::string FileName() const;
};

struct Cache2Index {
    uint32_t version = 0;
    uint32_t lastWritten = 0;
    bool dirty = false;
    std::vector<Cache2IndexRecord> records;
};

// The whole index file; none when the version is unknown, the header is cut
// short or the bytes after it are not whole records and the trailer. A
// dirty index's records are taken as they stand.
std::optional<Cache2Index> ParseCache2Index(const ByteReader& bytes);

} // namespace oriel
