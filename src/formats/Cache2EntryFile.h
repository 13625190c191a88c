// One entry file of Firefox's cache2 ("entries/" + 40 upper-case hex digits,
// the SHA-1 of the entry's key). Every number in it is big-endian.
//
//   [body]                      the bytes as the server sent them
//   [metadata]                  at the offset the last 4 bytes give
//     u32  hash of the metadata
//     u16  hash of each 256 KiB chunk of the body (ceil(body / 262144) of them)
//     header                    28 bytes (version 1) or 32 (versions 2, 3)
//     key                       key size bytes, then one NUL
//     elements                  name NUL value NUL, to the end of the metadata
//   u32  the metadata offset     (= the body's length)
//
// The key is the entry's tags (each ending in ',': "a,", "O^partitionKey=
// %28https%2Cexample.com%29,", "~1677526967,") then ':' then the URL as
// the channel asked for it.
#pragma once

#include "platform/ByteReader.h"

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace oriel {

namespace cache2 {
constexpr uint32_t kChunkSize = 262144;
constexpr size_t kHeaderSizeV1 = 28;
constexpr size_t kHeaderSizeV2 = 32; // versions 2 and 3 add the flags word
constexpr uint32_t kMinMetadataVersion = 1;
constexpr uint32_t kMaxMetadataVersion = 3;
// The expiration time of an entry that never expires.
constexpr uint32_t kNoExpiration = 0xFFFFFFFFu;
// The largest metadata this reader takes: real ones hold a few kilobytes
// (the security-info element is the largest); more is a damaged file.
constexpr size_t kMaxMetadataSize = size_t(8) << 20;

// The number of chunk hashes that a body of `bodySize` bytes has.
inline uint64_t ChunkCount(uint64_t bodySize) { return (bodySize + kChunkSize - 1) / kChunkSize; }
} // namespace cache2

// The metadata header, after the hashes.
struct Cache2MetadataHeader {
    uint32_t version = 0;      // offset 0
    uint32_t fetchCount = 0;   // 4
    uint32_t lastFetched = 0;  // 8: seconds since 1970
    uint32_t lastModified = 0; // 12: seconds since 1970, when the entry last changed
    uint32_t frecency = 0;     // 16
    uint32_t expiration = 0;   // 20: seconds since 1970; kNoExpiration for never
    uint32_t keySize = 0;      // 24: without its NUL
    uint32_t flags = 0;        // 28: versions 2 and 3 only
};

// A key split at its first ':'. Tags never hold a ':' (their values are
// percent-encoded), so the URL keeps every ':' of its own.
struct Cache2Key {
    std::string_view tags; // "a," or "O^partitionKey=...,a,"; empty for none
    std::string_view url;
};

struct Cache2Element {
    std::string_view name;
    std::string_view value;
};

// An entry file's metadata block as read. The texts point into the bytes
// given to the parser.
struct Cache2Metadata {
    uint32_t bodySize = 0; // = the metadata offset
    Cache2MetadataHeader header;
    std::string_view key;
    Cache2Key splitKey;
    std::vector<Cache2Element> elements;
    // True when the last element pair ran to the end without its NUL.
    bool elementsCutShort = false;

    // The value of the first element named `name`; none without one.
    std::optional<std::string_view> Element(std::string_view name) const;
};

// The metadata offset the last 4 bytes of an entry file of `fileSize`
// bytes give (`tail` is those 4 bytes); none when the file is shorter than
// the offset word or the offset leaves no room for the metadata.
std::optional<uint32_t> ParseCache2MetadataOffset(const ByteReader& tail, uint64_t fileSize);

// The header at the start of `bytes`; none when the version is outside 1 to
// 3 or the header is cut short.
std::optional<Cache2MetadataHeader> ParseCache2MetadataHeader(const ByteReader& bytes);

// Splits a key into its tags and URL; none without a ':'.
std::optional<Cache2Key> ParseCache2Key(std::string_view key);

// The element pairs in `bytes`; a name without its value's NUL takes the
// rest as its value and sets `cutShort`. An empty name ends the list.
std::vector<Cache2Element> ParseCache2Elements(const ByteReader& bytes, bool& cutShort);

// The metadata block (from the metadata offset to the offset word, that
// word excluded) of an entry whose body has `bodySize` bytes; none when the
// hashes or header are cut short, the version is unknown, the key runs past
// the block or holds no ':'.
std::optional<Cache2Metadata> ParseCache2Metadata(const ByteReader& block, uint32_t bodySize);

} // namespace oriel
