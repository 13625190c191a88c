#include "formats/CacheMapFile.h"

#include <cstdio>

namespace oriel {

namespace {

using cachemap::kRecordSize;

// Version 0x00010005: a 16-byte header padded to 4096 bytes, then buckets
// of 4096 bytes, each up to 256 records.
constexpr size_t kBucketMapHeaderSize = 4096;
constexpr size_t kBucketSize = 4096;
// Other versions: version, data size, entry count, dirty flag, record
// count, 32 eviction ranks and 32 bucket usages; the records follow.
constexpr size_t kRecordMapHeaderSize = 276;
// The metadata header: nine big-endian words, then the key.
constexpr size_t kMetadataHeaderSize = 36;

uint32_t Swap32(uint32_t v)
{
    return (v >> 24) | ((v >> 8) & 0x0000FF00u) | ((v << 8) & 0x00FF0000u) | (v << 24);
}

CacheMapRecord ReadRecordBE(const ByteReader& bytes, size_t off)
{
    return {bytes.u32be(off).value_or(0), bytes.u32be(off + 4).value_or(0), bytes.u32be(off + 8).value_or(0),
            bytes.u32be(off + 12).value_or(0)};
}

// A record as a real map holds it: both locations initialised, reserved
// bits clear.
bool LooksReal(uint32_t dataLocation, uint32_t metaLocation)
{
    auto ok = [](uint32_t l) { return cachemap::IsInitialized(l) && (l & cachemap::kReserved) == 0; };
    return ok(dataLocation) && ok(metaLocation);
}

} // namespace

namespace cachemap {

std::string SeparateFileName(uint32_t hashNumber, char kind, uint32_t generation)
{
    char name[32];
    std::snprintf(name, sizeof name, "%08x%c%02x", hashNumber, kind, generation & 0xFF);
    return name;
}

std::string NestedFileName(uint32_t hashNumber, char kind, uint32_t generation)
{
    char name[32];
    std::snprintf(name, sizeof name, "%X/%02X/%05X%c%02X", hashNumber >> 28, (hashNumber >> 20) & 0xFF,
                  hashNumber & 0xFFFFF, kind, generation & 0xFF);
    return name;
}

} // namespace cachemap

std::optional<CacheMapMetadata> ParseCacheMapMetadata(const ByteReader& bytes)
{
    if (!bytes.has(0, kMetadataHeaderSize))
        return std::nullopt;
    CacheMapMetadata meta;
    meta.version = *bytes.u32be(0);
    if (meta.version < cachemap::kMinMetadataVersion || meta.version > cachemap::kMaxMetadataVersion)
        return std::nullopt;
    // offset 4: metadata location; 32: metadata size (neither is used)
    meta.fetchCount = *bytes.u32be(8);
    // The times are signed 32-bit seconds since 1970.
    meta.lastFetched = int32_t(*bytes.u32be(12));
    meta.lastModified = int32_t(*bytes.u32be(16));
    meta.expires = int32_t(*bytes.u32be(20));
    meta.dataSize = *bytes.u32be(24);
    const uint64_t keySize = *bytes.u32be(28);

    // The key (client id, colon, URL) ends at its zero or at the bytes read.
    const uint64_t keyEnd = kMetadataHeaderSize + keySize;
    auto key = bytes.cstring(kMetadataHeaderSize, size_t(std::min<uint64_t>(keyEnd, bytes.size())));
    if (!key)
        return std::nullopt;
    size_t colon = key->find(':');
    if (colon == std::string_view::npos)
        return std::nullopt;
    meta.key = *key;
    meta.url = key->substr(colon + 1);
    // "wyciwyg://N/URL" holds a page that a script wrote; list the page.
    constexpr std::string_view kWyciwyg = "wyciwyg://";
    if (meta.url.substr(0, kWyciwyg.size()) == kWyciwyg) {
        size_t slash = meta.url.find('/', kWyciwyg.size());
        if (slash != std::string_view::npos)
            meta.url = meta.url.substr(slash + 1);
    }

    // Elements: name and value, each zero-terminated; an empty name ends
    // the list, and so do the bytes read.
    size_t pos = size_t(std::min<uint64_t>(keyEnd, bytes.size()));
    while (pos < bytes.size()) {
        auto name = bytes.cstring(pos, bytes.size());
        if (!name || name->empty())
            break;
        pos += name->size() + 1;
        std::string_view value;
        if (pos < bytes.size()) {
            value = *bytes.cstring(pos, bytes.size());
            pos += value.size() + 1;
        }
        if (name->substr(0, 13) == "response-head") {
            meta.headers = value;
            break;
        }
    }
    return meta;
}

std::optional<CacheMapHeader> ParseCacheMapHeader(const ByteReader& map)
{
    if (map.size() < 12)
        return std::nullopt;
    CacheMapHeader header;
    header.version = *map.u32be(0);
    // offset 4: data size (not used)
    header.entryCount = *map.u32be(8);
    header.buckets = header.version == cachemap::kBucketMapVersion;
    header.dirtyWord = header.buckets ? 0 : map.u32be(12).value_or(0);
    header.dirty = header.dirtyWord != 0;
    header.size = header.buckets ? kBucketMapHeaderSize : kRecordMapHeaderSize;
    return header;
}

std::optional<CacheMapRecord> ParseCacheMapRecord(const ByteReader& bytes, size_t off)
{
    if (!bytes.has(off, kRecordSize))
        return std::nullopt;
    return ReadRecordBE(bytes, off);
}

bool ParseCacheMapRecords(const ByteReader& records, bool buckets, size_t limit, std::vector<CacheMapRecord>& out)
{
    const size_t first = out.size();
    auto full = [&] { return out.size() - first >= limit; };
    if (!buckets) {
        // One array of records to the end of the file.
        for (size_t off = 0; !full(); off += kRecordSize) {
            auto r = ParseCacheMapRecord(records, off);
            if (!r)
                break;
            if (r->hashNumber != 0)
                out.push_back(*r);
        }
        return false;
    }
    size_t littleEndianLike = 0, bigEndianLike = 0;
    for (size_t start = 0; start < records.size() && !full(); start += kBucketSize) {
        const ByteReader bucket = records.sub(start, kBucketSize);
        for (size_t off = 0; !full(); off += kRecordSize) {
            auto r = ParseCacheMapRecord(bucket, off);
            if (!r || r->hashNumber == 0)
                break;
            bigEndianLike += LooksReal(r->dataLocation, r->metaLocation);
            littleEndianLike += LooksReal(Swap32(r->dataLocation), Swap32(r->metaLocation));
            out.push_back(*r);
        }
    }
    // Mozilla writes these records big-endian like the header; a map
    // written little-endian shows real locations only when swapped.
    if (littleEndianLike <= bigEndianLike)
        return false;
    for (size_t i = first; i < out.size(); ++i) {
        CacheMapRecord& r = out[i];
        r = {Swap32(r.hashNumber), Swap32(r.evictionRank), Swap32(r.dataLocation), Swap32(r.metaLocation)};
    }
    return true;
}

} // namespace oriel
