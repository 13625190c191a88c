// The entry files of the Chromium simple cache (Chrome on Android and
// Linux, and wherever the browser picks it): one "<16 hex digits>_0" file
// per entry (the digits the first 8 bytes of the key's SHA-1, as a
// little-endian number), beside it perhaps "<hash>_1" (stream 2, not read
// here) and "<hash>_s" (the sparse data of media ranges). Every number is
// little-endian; the records are 8-byte aligned (24 bytes each; a 32-bit
// Linux build wrote them without the 4 padding bytes, 20 bytes each).
//
// "_0" file:
//   SimpleFileHeader   u64 initial magic, u32 version, u32 key length,
//                      u32 key hash, padding
//   key                key length bytes (no NUL)
//   stream 1           the body, as the server sent it
//   SimpleFileEOF      for stream 1: u64 final magic, u32 flags, u32 crc32,
//                      u32 stream size (unused here), padding
//   stream 0           the serialized response info (the HTTP headers)
//   [SHA-256 of key]   32 bytes, when the last EOF's flags say so
//   SimpleFileEOF      for stream 0, at the file's end; its stream size is
//                      stream 0's length
//
// "_s" file: the header and key as above, then ranges, each a 32-byte
// SimpleFileSparseRangeHeader (u64 sparse magic, i64 offset, i64 length,
// u32 crc32, padding) followed by its length of data.
#pragma once

#include "platform/ByteReader.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace oriel {

namespace simplecache {
constexpr uint64_t kInitialMagic = 0xfcfb6d1ba7725c30ull;
constexpr uint64_t kFinalMagic = 0xf4fa6f45970d41d8ull;
constexpr uint64_t kSparseRangeMagic = 0xeb97bf016553676bull;
// Entry versions read: 5 is what every browser since 2013 writes; later
// ones are taken while their records keep this layout.
constexpr uint32_t kMinEntryVersion = 5;
constexpr uint32_t kMaxEntryVersion = 9;
constexpr size_t kRecordSize = 24;       // header and EOF, with their padding
constexpr size_t kPackedRecordSize = 20; // the same without it (32-bit Linux)
constexpr size_t kKeySha256Size = 32;
constexpr size_t kSparseRangeHeaderSize = 32;
constexpr uint32_t kFlagHasCrc32 = 1u << 0;
constexpr uint32_t kFlagHasKeySha256 = 1u << 1;
// A key longer than this is a damaged header (real keys stay far below).
constexpr uint32_t kMaxKeyLength = 1u << 20;
} // namespace simplecache

struct SimpleFileHeader {
    uint32_t version = 0;
    uint32_t keyLength = 0;
    uint32_t keyHash = 0;
};
// Empty without the initial magic, with a version outside 5 to 9, a key
// length past kMaxKeyLength, or when the 20 bytes are not all there.
std::optional<SimpleFileHeader> ParseSimpleFileHeader(const ByteReader& bytes);

struct SimpleFileEOF {
    uint32_t flags = 0;
    uint32_t crc32 = 0;
    uint32_t streamSize = 0;
};
// Empty without the final magic or when the 20 bytes are not all there.
std::optional<SimpleFileEOF> ParseSimpleFileEOF(const ByteReader& bytes);

// Where the parts of a "_0" file lie, from its size and its records.
struct SimpleEntryLayout {
    size_t recordSize = simplecache::kRecordSize;
    uint64_t keyOffset = 0;
    uint64_t stream1Offset = 0;
    uint64_t stream1Size = 0;
    uint64_t stream1EofOffset = 0; // stream 1's EOF record, to check its magic
    uint64_t stream0Offset = 0;
    uint64_t stream0Size = 0;
    bool hasKeySha256 = false;
    SimpleFileEOF stream0Eof;
};

// The record size of a "_0" file of `fileSize` bytes whose last bytes are
// `tail` (at least the last 24): 24 when the final magic starts 24 bytes
// before the end, 20 when it starts 20 before; none when neither.
std::optional<size_t> SimpleRecordSize(const ByteReader& tail, uint64_t fileSize);

// The layout of a "_0" file of `fileSize` bytes with `header`, given the
// EOF record at its end: none when stream 0 (and the key's SHA-256) do not
// fit between the key and that record with room for stream 1's record.
std::optional<SimpleEntryLayout> SimpleEntryLayoutOf(const SimpleFileHeader& header, const SimpleFileEOF& stream0Eof,
                                                     size_t recordSize, uint64_t fileSize);

struct SimpleSparseRange {
    int64_t offset = 0; // in the entry's sparse stream
    int64_t length = 0;
};
// Empty without the sparse range magic, with a negative offset or length,
// or when cut short.
std::optional<SimpleSparseRange> ParseSimpleSparseRangeHeader(const ByteReader& bytes);

// "0123456789abcdef_0": the entry hash of such a name and the file's kind
// ('0', '1' or 's'); none for any other name.
struct SimpleEntryFileName {
    uint64_t hash = 0;
    char kind = 0;
};
std::optional<SimpleEntryFileName> ParseSimpleEntryFileName(std::string_view name);

} // namespace oriel
