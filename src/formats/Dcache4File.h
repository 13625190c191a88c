// Opera's cache index "dcache4.url" (versions 7 and later): a 12-byte
// header followed by tagged records, one per cached object, each made of
// tagged fields. Every multi-byte integer is big-endian; tags are one byte
// and lengths two bytes.
//
//   header   file version (4096..8191), 4 unused bytes, 2 + 2 unused bytes
//   record   tag, 16-bit length, body; tag 1 describes a cached object
//   field    tag, then (for tags below 0x80) a 16-bit length and payload;
//            a tag with bit 7 set is a flag of one byte
//
// Field tags of an object record: 3 URL, 5 downloaded time, 8 size, 9
// content type, 13 cache file name, 16 nested fields, 22 expires time, 23
// last-modified date as text, 32 content encoding, 0x50 the body itself,
// 0x51 the object's id inside a container file (1 byte).
// Opera 10 and later write the times of tags 5 and 22 as 8-byte payloads
// and keep small bodies in field 0x50 instead of a cache file.
//
// Every input byte is untrusted: each field is read inside its record, and
// a nested field inside its parent.
#pragma once

#include "platform/ByteReader.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

namespace oriel {

namespace dcache4 {
constexpr uint32_t kMinFileVersion = 4096;
constexpr uint32_t kMaxFileVersion = 8191;
constexpr size_t kHeaderSize = 12;
constexpr size_t kRecordHeadSize = 3; // tag and 16-bit length
constexpr uint8_t kRecordObject = 1;
} // namespace dcache4

// One object record's fields as read; the texts point into the record.
struct OperaRecordFields {
    std::optional<std::string_view> url;
    std::optional<std::string_view> contentType;
    std::optional<std::string_view> cacheName;
    std::optional<std::string_view> lastModifiedText;
    std::optional<int64_t> downloaded;
    std::optional<int64_t> expires;
    std::optional<int32_t> size;
    std::optional<int32_t> contentEncoding;
    // The body kept in the record (field 0x50): offset within the record
    // body and length.
    std::optional<std::pair<size_t, size_t>> body;
    // The object's id inside the cache file when that file is a container
    // of several objects (field 0x51).
    std::optional<uint8_t> containerObject;
};

// Parses the fields of one object record body, nested fields included.
OperaRecordFields ParseOperaRecord(const ByteReader& body);

// The file header: the file version; empty when the 12 header bytes are
// not all there or the version is outside 4096..8191.
std::optional<uint32_t> ParseOperaHeader(const ByteReader& file);

// The head of the record at `offset` of the file: tag and body length. The
// body follows the 3 head bytes. Empty when the head is cut short.
struct OperaRecordHead {
    uint8_t tag = 0;
    uint16_t length = 0;
};
std::optional<OperaRecordHead> ParseOperaRecordHead(const ByteReader& file, size_t offset);

// Opera 12 packs small objects into one cache file, a container:
//
//   offset 0   0x5A
//   offset 1   N, the number of objects
//   offset 2   N entries of 3 bytes: object id (1 byte), length (16-bit)
//   then       the objects, one after another in entry order
//
// A single object may be stored the same way (N = 1, a 5-byte header).
namespace opera_container {
constexpr uint8_t kSignature = 0x5A;
constexpr size_t kEntrySize = 3;
// The longest header there can be: 255 entries.
constexpr size_t kMaxHeaderSize = 2 + 255 * kEntrySize;
} // namespace opera_container

// Where object `id` lies in a container file of `fileSize` bytes whose
// first bytes are `head` (at least the header; kMaxHeaderSize serves
// always): offset and length. Empty when the file is no container, the id
// is not in its header, or the lengths do not add up to the file's size.
struct OperaContainerObject {
    uint64_t offset = 0;
    size_t length = 0;
};
std::optional<OperaContainerObject> LocateOperaContainerObject(const ByteReader& head, uint64_t fileSize, uint8_t id);

// The content encoding a field names, compared without regard to case with
// the start of "gzip", "x-gzip" (1), "deflate" (3), "compress",
// "x-compress" (2); -1 for anything else, and for an empty name.
int32_t OperaContentEncoding(std::string_view name);

} // namespace oriel
