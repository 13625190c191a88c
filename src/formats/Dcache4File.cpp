#include "formats/Dcache4File.h"

#include "model/CacheItem.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace oriel {

namespace {

enum FieldTag : uint8_t {
    kTagUrl = 3,
    kTagDownloaded = 5,
    kTagSize = 8,
    kTagContentType = 9,
    kTagCacheName = 13,
    kTagNested = 16,
    kTagExpires = 22,
    kTagLastModifiedText = 23,
    kTagContentEncoding = 32,
    kTagEmbeddedBody = 0x50,
    kTagContainerObject = 0x51,
};
constexpr uint8_t kFlagBit = 0x80;

std::string_view UpToNul(std::string_view text)
{
    size_t nul = text.find('\0');
    return nul == std::string_view::npos ? text : text.substr(0, nul);
}

// A time field: 32-bit unsigned seconds since 1970; Opera 10 and later
// write 64 bits. Other payload lengths carry no time.
std::optional<int64_t> ReadTime(const ByteReader& payload)
{
    if (payload.size() == 4)
        return int64_t(*payload.u32be(0));
    if (payload.size() == 8) {
        uint64_t value = *payload.u64be(0);
        if (value <= uint64_t(std::numeric_limits<int64_t>::max()))
            return int64_t(value);
    }
    return std::nullopt;
}

char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// True when `name` equals the first name.size() characters of `known`,
// case ignored (a name longer than `known` does not match).
bool MatchesStart(std::string_view name, std::string_view known)
{
    if (name.size() > known.size())
        return false;
    for (size_t i = 0; i < name.size(); ++i) {
        if (Lower(name[i]) != known[i])
            return false;
    }
    return true;
}

} // namespace

int32_t OperaContentEncoding(std::string_view name)
{
    // An empty name would match every entry; it names no encoding.
    if (name.empty())
        return CCacheItem::kEncodingNone;
    static constexpr std::pair<std::string_view, int32_t> kNames[] = {
        {"gzip", CCacheItem::kEncodingGzip},         {"x-gzip", CCacheItem::kEncodingGzip},
        {"deflate", CCacheItem::kEncodingDeflate},   {"compress", CCacheItem::kEncodingCompress},
        {"x-compress", CCacheItem::kEncodingCompress},
    };
    for (const auto& [known, encoding] : kNames) {
        if (MatchesStart(name, known))
            return encoding;
    }
    return CCacheItem::kEncodingNone;
}

OperaRecordFields ParseOperaRecord(const ByteReader& body)
{
    OperaRecordFields fields;
    // The ends of the record and of each nested field being read; a nested
    // field is read to its end, then its parent goes on after it.
    std::vector<size_t> ends{body.size()};
    size_t pos = 0;
    while (!ends.empty()) {
        const size_t limit = ends.back();
        if (pos >= limit) {
            pos = limit;
            ends.pop_back();
            continue;
        }
        const uint8_t tag = *body.u8(pos);
        if (tag & kFlagBit) {
            pos += 1;
            continue;
        }
        auto length = body.u16be(pos + 1);
        if (!length || pos + 3 > limit) {
            pos = limit; // the field's length is cut off
            continue;
        }
        const size_t start = pos + 3;
        const size_t end = start + *length;
        if (tag == kTagNested) {
            // A nested field longer than its parent is read to the parent's end.
            ends.push_back(std::min(end, limit));
            pos = start;
            continue;
        }
        if (end > limit) {
            pos = limit; // a payload past its parent ends the parent
            continue;
        }
        const ByteReader payload = body.sub(start, *length);
        const std::string_view text = *body.bytes(start, *length);
        switch (tag) {
        case kTagUrl:
            fields.url = UpToNul(text);
            break;
        case kTagDownloaded:
            if (auto time = ReadTime(payload))
                fields.downloaded = time;
            break;
        case kTagExpires:
            if (auto time = ReadTime(payload))
                fields.expires = time;
            break;
        case kTagSize:
            // 32 bits, or 64 bits of which the high word is ignored.
            if (*length == 4)
                fields.size = int32_t(*payload.u32be(0));
            else if (*length == 8)
                fields.size = int32_t(*payload.u32be(4));
            break;
        case kTagContentType:
            fields.contentType = UpToNul(text);
            break;
        case kTagCacheName:
            fields.cacheName = UpToNul(text);
            break;
        case kTagLastModifiedText:
            fields.lastModifiedText = UpToNul(text);
            break;
        case kTagContentEncoding:
            fields.contentEncoding = OperaContentEncoding(UpToNul(text));
            break;
        case kTagEmbeddedBody:
            fields.body = std::pair{start, size_t(*length)};
            break;
        case kTagContainerObject:
            if (*length == 1)
                fields.containerObject = *payload.u8(0);
            break;
        default:
            break;
        }
        pos = end;
    }
    return fields;
}

std::optional<OperaContainerObject> LocateOperaContainerObject(const ByteReader& head, uint64_t fileSize, uint8_t id)
{
    using namespace opera_container;
    auto signature = head.u8(0);
    auto count = head.u8(1);
    if (!signature || *signature != kSignature || !count)
        return std::nullopt;
    const size_t headerSize = 2 + size_t(*count) * kEntrySize;
    if (!head.has(0, headerSize))
        return std::nullopt;
    uint64_t offset = headerSize;
    std::optional<OperaContainerObject> found;
    for (size_t i = 0; i < *count; ++i) {
        const size_t entry = 2 + i * kEntrySize;
        const uint8_t entryId = *head.u8(entry);
        const uint16_t length = *head.u16be(entry + 1);
        if (entryId == id && !found)
            found = OperaContainerObject{offset, length};
        offset += length;
    }
    // Lengths that do not add up to the file describe some other file (or
    // a damaged one): no object of it can be trusted.
    if (offset != fileSize)
        return std::nullopt;
    return found;
}

std::optional<uint32_t> ParseOperaHeader(const ByteReader& file)
{
    // offset 0: the file version; 4: 4 unused bytes; 8: 2 + 2 unused bytes
    auto version = file.has(0, dcache4::kHeaderSize) ? file.u32be(0) : std::nullopt;
    if (!version || *version < dcache4::kMinFileVersion || *version > dcache4::kMaxFileVersion)
        return std::nullopt;
    return version;
}

std::optional<OperaRecordHead> ParseOperaRecordHead(const ByteReader& file, size_t offset)
{
    auto tag = file.u8(offset);
    auto length = offset < SIZE_MAX ? file.u16be(offset + 1) : std::nullopt;
    if (!tag || !length)
        return std::nullopt;
    return OperaRecordHead{*tag, *length};
}

} // namespace oriel
