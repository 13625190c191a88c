// The disk cache of Opera (versions 7 and later): the index "dcache4.url",
// a 12-byte header followed by tagged records, one per cached object, each
// made of tagged fields. Every multi-byte integer is big-endian; tags are
// one byte and lengths two bytes.
//
//   header   file version (4096..8191), 4 unused bytes, 2 + 2 unused bytes
//   record   tag, 16-bit length, body; tag 1 describes a cached object
//   field    tag, then (for tags below 0x80) a 16-bit length and payload;
//            a tag with bit 7 set is a flag of one byte
//
// Field tags of an object record: 3 URL, 5 downloaded time, 8 size, 9
// content type, 13 cache file name, 16 nested fields, 22 expires time, 23
// last-modified date as text, 32 content encoding, 0x50 the body itself.
// Opera 10 and later write the times of tags 5 and 22 as 8-byte payloads
// and keep small bodies in field 0x50 instead of a cache file.
//
// Every input byte is untrusted: each field is read inside its record, and
// a nested field inside its parent.
#pragma once

#include "platform/ByteReader.h"
#include "formats/NetscapeCache.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace oriel {

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

// The content encoding a field names, compared without regard to case with
// the start of "gzip", "x-gzip" (1), "deflate" (3), "compress",
// "x-compress" (2); -1 for anything else, and for an empty name.
int32_t OperaContentEncoding(std::string_view name);

class OperaCache : public NetscapeCache {
public:
    static constexpr const char* kDatabaseFileName = "dcache4.url";
    static constexpr uint32_t kMinFileVersion = 4096;
    static constexpr uint32_t kMaxFileVersion = 8191;
    static constexpr size_t kHeaderSize = 12;

    OperaCache(BrowserProfile* profile, std::string folder);
    ~OperaCache() override;

    int DoDecode() override;

    uint32_t GetFileVersion() const { return fileVersion_; }

private:
    int iDecodeFatDB();
    int GetFatDBHeaderInfo();
    // Reads record `recordKey` at `offset` of the file, moving the offset
    // past it; false at the end of the file (also in the middle of a record).
    bool ReadRecord(const platform::ByteSource& db, int32_t recordKey, uint64_t& offset);
    void MakeItem(int32_t recordKey, uint64_t bodyOffset, const ByteReader& body);

    uint32_t fileVersion_ = 0;
};

} // namespace oriel
