// Writes Opera's cache index "dcache4.url": a 12-byte header (file version,
// application version, tag and length widths), then one record per cached
// object (tag 1, a 16-bit length, fields), all big-endian.
//
//   Dcache4Writer w;
//   w.addEntry({.url = "http://a/b.gif", .cacheName = "opr00001.gif", .contentType = "image/gif"});
//   w.addEntry({.url = "http://a/", .embeddedBody = GzipBytes(html), .encoding = "gzip"}); // Opera 10
//   w.write(dir);
//
// Entries may put some fields inside a nested field (tag 16), write times
// and sizes as 64-bit payloads, and carry flag fields (tags 0x80 and up).
#pragma once

#include "support/SynthOptions.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace oriel::test {

struct OperaEntry {
    std::string url;
    std::optional<std::string> cacheName;
    std::optional<std::string> contentType;
    std::optional<std::string> encoding;         // the content-encoding field
    std::optional<std::string> lastModifiedText; // field 23
    std::optional<uint32_t> downloaded = 1200000000;
    std::optional<uint32_t> expires = 1300000000;
    std::optional<uint32_t> size;
    bool wideTimes = false;    // 8-byte payloads for the times (Opera 10 and later)
    bool wideSize = false;     // an 8-byte size, its high word `sizeHighWord`
    uint32_t sizeHighWord = 0;
    std::optional<std::string> embeddedBody; // field 0x50
    std::optional<uint8_t> containerObject;  // field 0x51: the object's id in its container file
    bool nested = false;       // times, size and encoding inside a tag-16 field
    std::vector<uint8_t> flags{0x85}; // flag fields written after the URL
};

class Dcache4Writer {
public:
    static constexpr uint32_t kFileVersion = 0x00001000;

    Dcache4Writer& setFileVersion(uint32_t version)
    {
        fileVersion_ = version;
        return *this;
    }

    // Each returns the record's number (1, 2, ...).
    size_t addEntry(const OperaEntry& entry);
    // A record of any tag and body.
    size_t addRawRecord(uint8_t tag, std::string body);

    std::string build() const;
    // Builds and writes "dcache4.url" into `folder`; returns its path.
    std::string write(const std::string& folder) const;

    // Byte offset of record `number`'s body in the last build.
    size_t recordBodyOffset(size_t number) const;

    // Field builders: a field with a 16-bit length, a flag, a 32- and a
    // 64-bit number payload.
    static std::string Field(uint8_t tag, std::string_view payload);
    static std::string Flag(uint8_t tag) { return std::string(1, char(tag)); }
    static std::string U32(uint32_t value);
    static std::string U64(uint64_t value);
    static std::string RecordBody(const OperaEntry& entry);

private:
    uint32_t fileVersion_ = kFileVersion;
    std::vector<std::pair<uint8_t, std::string>> records_;
};

// An Opera 12 container file holding `objects` (id, bytes) in that order:
// 0x5A, the count, (id, 16-bit big-endian length) per object, the objects.
std::string OperaContainer(const std::vector<std::pair<uint8_t, std::string>>& objects);

// A synthetic Opera cache of `options.entries` entries: most with a cache
// file (written beside the index unless options.bodies is off), every
// fifth with its body, gzip-encoded, in the index. Returns the index's path.
std::string WriteSyntheticOperaCache(const std::string& folder, const SynthOptions& options);

// OperaDef6.ini with the given "Multi User" ([System]) and "Cache
// Directory4" ([User Prefs]) values; none: the key is not written.
std::string OperaDef6Ini(std::optional<int> multiUser, std::optional<std::string> cacheDirectory4);

} // namespace oriel::test
