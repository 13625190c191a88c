// The Chromium blockfile disk cache (Chrome, Edge, Opera 15+, Brave,
// Vivaldi): the index file "index", the block files "data_0" to "data_3"
// and the separate files "f_XXXXXX". The layouts and the parsers of each
// structure, over bytes already read. Every word is little-endian.
//
// "index": a 368-byte header (magic 0xC103CAC3, version 2.0 0x20000, 2.1
// 0x20001 or 3.0 0x30000, entry count, ..., table length at 28), then the
// hash table: one cache address per bucket, the first entry of a chain.
//
// A cache address (32 bits): bit 31 set when initialised; bits 28-30 the
// file type (0 a separate file, 1 rankings, 2 blocks of 256 bytes, 3 of
// 1 KiB, 4 of 4 KiB, 5 of 8, 6 of 104, 7 of 48). A separate file's number
// is bits 0-27 ("f_" and 6 hex digits); a block address holds the block
// file number "data_N" (bits 16-23), the block count less one (bits 24-25)
// and the first block (bits 0-15).
//
// Block file: an 8192-byte header (magic 0xC104CAC3, version, this file,
// next file, entry size, ...), then blocks of the entry size.
#pragma once

#include "platform/ByteReader.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace oriel {

namespace blockfile {
constexpr uint32_t kIndexMagic = 0xC103CAC3u;
constexpr uint32_t kBlockMagic = 0xC104CAC3u;
constexpr uint32_t kVersion2_0 = 0x20000u;
constexpr uint32_t kVersion2_1 = 0x20001u;
constexpr uint32_t kVersion3_0 = 0x30000u;
constexpr size_t kIndexHeaderSize = 368;
constexpr uint32_t kDefaultTableSize = 0x10000;
constexpr size_t kBlockHeaderSize = 8192;
constexpr size_t kEntryStoreSize = 256;
constexpr size_t kEntryKeyOffset = 96;
constexpr size_t kRankingsNodeSize = 36;

enum FileType : int { kExternal = 0, kRankings = 1, kBlock256 = 2, kBlock1K = 3, kBlock4K = 4 };

inline bool IsInitialized(uint32_t address) { return (address & 0x80000000u) != 0; }
inline int AddressFileType(uint32_t address) { return int((address >> 28) & 7); }
inline uint32_t ExternalFileNumber(uint32_t address) { return address & 0x0FFFFFFFu; }
inline uint32_t BlockFileNumber(uint32_t address) { return (address >> 16) & 0xFF; }
inline uint32_t BlockCount(uint32_t address) { return ((address >> 24) & 3) + 1; }
inline uint32_t StartBlock(uint32_t address) { return address & 0xFFFF; }
// The block size of a file type; 0 for a separate file.
uint32_t BlockSize(int fileType);
// "f_00002a".
std::string ExternalFileName(uint32_t address);
// "data_1".
std::string BlockFileName(uint32_t address);
// Where a block address's first block lies in its block file.
inline uint64_t BlockOffset(uint32_t address)
{
    return kBlockHeaderSize + uint64_t(StartBlock(address)) * BlockSize(AddressFileType(address));
}
// Base time (microseconds since 1601, UTC) as seconds since 1970; 0 for 0.
int64_t ChromeTimeToUnix(uint64_t value);
} // namespace blockfile

struct BlockfileIndexHeader {
    uint32_t version = 0;
    int32_t entryCount = 0;
    uint32_t tableLength = 0; // the buckets to read (the default when the header gives 0)
};
// Empty without the index magic, with an unknown version or when the
// header is cut short.
std::optional<BlockfileIndexHeader> ParseBlockfileIndexHeader(const ByteReader& index);

// The bucket's cache address at `bucket` of the table after the header;
// empty when it lies past the bytes read.
std::optional<uint32_t> ParseBlockfileBucket(const ByteReader& index, uint32_t bucket);

struct BlockFileHeader {
    uint32_t version = 0;
    int16_t thisFile = 0;
    int16_t nextFile = 0;
    int32_t entrySize = 0;
};
// Empty without the block magic or when cut short.
std::optional<BlockFileHeader> ParseBlockFileHeader(const ByteReader& file);

// One entry record (256 bytes, the key running on into the next blocks of
// the same run when longer than fits).
struct EntryStore {
    uint32_t hash = 0;
    uint32_t next = 0;          // next entry of the bucket's chain
    uint32_t rankingsNode = 0;
    int32_t state = 0;
    uint64_t creationTime = 0;  // microseconds since 1601
    int32_t keyLength = 0;
    uint32_t longKey = 0;       // the key's own address when it is stored apart
    int32_t dataSize[4] = {};
    uint32_t dataAddress[4] = {};
    uint32_t flags = 0;
    std::string_view inlineKey; // the key in the record, when not stored apart
};
// `bytes` is the entry's run of blocks. Empty when the first 96 bytes are
// not all there. The inline key is cut at the bytes of the run.
std::optional<EntryStore> ParseEntryStore(const ByteReader& bytes);

struct RankingsNode {
    uint64_t lastUsed = 0;     // microseconds since 1601
    uint64_t lastModified = 0; // microseconds since 1601
    uint32_t contents = 0;     // the entry's address
};
std::optional<RankingsNode> ParseRankingsNode(const ByteReader& bytes);

// Stream 0 of an entry: the serialized response info, a pickle (a 4-byte
// payload size, then the payload aligned to 4 bytes: flags, request time,
// response time, then the raw headers as a length and bytes, the status
// line and each header ending in a NUL).
struct ResponseInfo {
    uint64_t requestTime = 0;  // microseconds since 1601
    uint64_t responseTime = 0; // microseconds since 1601
    std::string_view rawHeaders;
    // The headers with CR LF in place of each NUL, as the items read them.
    std::string headers;
};
std::optional<ResponseInfo> ParseResponseInfo(const ByteReader& bytes);
// The same into `info`, whose buffer is reused from one entry to the next;
// false (and `info` emptied) when the bytes are no response info.
bool ParseResponseInfoInto(const ByteReader& bytes, ResponseInfo& info);

// True when the headers (CR LF separated) give "Content-Encoding: br". The
// items' own header reading leaves br bodies as stored (the older formats
// never held them); the Chromium decoders mark them for decoding.
bool NamesBrotliEncoding(std::string_view headers);

// A cache key split: the URL (the last part of a double key) and the site
// key before it ("_dk_" and the sites; empty for a plain key).
struct ChromiumKey {
    std::string_view url;
    std::string_view siteKey;
};
ChromiumKey SplitChromiumKey(std::string_view key);

} // namespace oriel
