#include "formats/HashDbFile.h"

namespace oriel {

namespace hashdb {

std::optional<Header> ParseHeader(const ByteReader& file)
{
    // Page 0's words are big-endian: offset 12 the page size, 56 the key
    // count.
    const ByteReader header = file.sub(0, kHeaderSize);
    auto pageSize = header.u32be(12);
    auto keyCount = header.u32be(56);
    if (!pageSize || !keyCount || *pageSize < kMinPageSize || *pageSize > kMaxPageSize)
        return std::nullopt;
    return Header{*pageSize, *keyCount};
}

std::optional<uint64_t> PageOffset(uint64_t page, uint32_t pageSize)
{
    const uint64_t offset = page * pageSize;
    if (pageSize == 0 || offset / pageSize != page || offset > uint64_t(INT64_MAX))
        return std::nullopt;
    return offset;
}

void PagePairs(const ByteReader& page, std::vector<Pair>& out)
{
    out.clear();
    auto n = page.u16le(0);
    if (!n || *n == 0 || *n >= kMaxOffsetWords)
        return;
    for (size_t i = 0; i + 1 < *n; i += 2) {
        auto key = page.u16le(2 + 2 * i);
        auto data = page.u16le(2 + 2 * (i + 1));
        if (!key || !data)
            break;
        out.push_back({*key, *data});
    }
}

std::optional<std::string_view> ReadText(const ByteReader& page, size_t& pos)
{
    auto length = page.u32le(pos);
    if (!length)
        return std::nullopt;
    pos += 4;
    if (*length > kMaxTextLength)
        return std::nullopt;
    auto text = page.bytes(pos, *length);
    if (!text)
        return std::nullopt;
    pos += *length;
    return text;
}

std::string_view UpToNul(std::string_view text)
{
    size_t nul = text.find('\0');
    return nul == std::string_view::npos ? text : text.substr(0, nul);
}

} // namespace hashdb

std::optional<CacheDbRecord> ParseCacheDbRecord(const ByteReader& page, size_t keyOffset, size_t dataOffset,
                                                uint32_t pageSize)
{
    // Key: a check word; keys beginning with "SE" are the database's own.
    auto keyCheck = page.u32le(keyOffset);
    if (!keyCheck || (*page.u8(keyOffset) == 0x53 && *page.u8(keyOffset + 1) == 0x45))
        return std::nullopt;
    // Data: record length, the same check word, then three texts.
    auto recordLength = page.u32le(dataOffset);
    auto dataCheck = page.u32le(dataOffset + 4);
    if (!recordLength || *recordLength == 0 || *recordLength >= pageSize || !dataCheck || *dataCheck != *keyCheck)
        return std::nullopt;
    size_t pos = dataOffset + 8;
    auto url = hashdb::ReadText(page, pos);
    if (!url)
        return std::nullopt;
    auto description = hashdb::ReadText(page, pos);
    if (!description)
        return std::nullopt;
    auto bodyPath = hashdb::ReadText(page, pos);
    if (!bodyPath)
        return std::nullopt;

    // The object description (big-endian): one unused byte; named values
    // (name, NUL, 4-byte length, value) up to an empty name; 2 + 1 + 4 + 8
    // unused bytes; downloaded, last-modified and expires times.
    const ByteReader desc(*description);
    std::optional<std::string_view> headers;
    bool listEnded = false;
    size_t at = 1;
    while (at < desc.size()) {
        auto name = desc.cstring(at, desc.size());
        if (!name || at + name->size() >= desc.size())
            break; // no NUL before the end
        at += name->size() + 1;
        if (name->empty()) {
            listEnded = true;
            break;
        }
        auto length = desc.u32be(at);
        if (!length)
            break;
        auto value = desc.bytes(at + 4, *length);
        if (!value)
            break;
        at += 4 + size_t(*length);
        if (name->substr(0, 12) == "HTTP headers")
            headers = hashdb::UpToNul(*value);
    }
    int64_t downloaded = 0, lastModified = 0, expires = 0;
    if (listEnded) {
        const size_t times = at + 2 + 1 + 4 + 8;
        // Signed 32-bit seconds since 1970, widened with their sign.
        downloaded = int32_t(desc.u32be(times).value_or(0));
        lastModified = int32_t(desc.u32be(times + 4).value_or(0));
        expires = int32_t(desc.u32be(times + 8).value_or(0));
    }

    CacheDbRecord record;
    record.url = hashdb::UpToNul(*url);
    record.bodyPath = *bodyPath;
    record.headers = headers;
    record.downloaded = downloaded;
    record.lastModified = lastModified;
    record.expires = expires;
    return record;
}

namespace {

// Moves past a text: its length word, and its bytes when they are there.
void SkipText(const ByteReader& page, size_t& pos)
{
    hashdb::ReadText(page, pos);
}

} // namespace

FatDbRecord ParseFatDbRecord(const ByteReader& page, size_t dataOffset, size_t keyOffset, uint32_t pageSize)
{
    using Status = FatDbRecord::Status;
    FatDbRecord record;
    auto recordLength = page.u32le(dataOffset);
    if (!recordLength || *recordLength == 0 || *recordLength >= pageSize)
        return record;
    auto version = page.u32le(dataOffset + 4);
    if (!version || *version == kFatDbInternalVersion)
        return record;
    const bool layoutA = *version >= 2 && *version <= 4;
    const bool layoutB = *version == 5;
    if (!layoutA && !layoutB) {
        record.status = Status::UnsupportedVersion;
        return record;
    }

    // offset 8: last modified; 12: downloaded; 16: expires; 20: size
    auto lastModified = page.u32le(dataOffset + 8);
    auto downloaded = page.u32le(dataOffset + 12);
    auto expires = page.u32le(dataOffset + 16);
    auto size = page.u32le(dataOffset + 20);
    if (!lastModified || !downloaded || !expires || !size)
        return record;
    // offset 24: 1 unused byte; 25: 4 unused bytes
    size_t pos = dataOffset + 29;
    auto cacheName = hashdb::ReadText(page, pos);
    if (!cacheName) {
        record.status = Status::MissingText;
        return record;
    }

    if (layoutA) {
        pos += 4;
        auto variant = page.u8(pos);
        pos += 1;
        switch (variant.value_or(0xFF)) {
        case 0:
            pos += 24;
            break;
        case 1:
            pos += 20;
            if (page.u32le(pos).value_or(0) > 0) {
                pos += 4;
                SkipText(page, pos);
            } else {
                pos += 8;
            }
            break;
        case 2:
            pos += 8;
            SkipText(page, pos);
            SkipText(page, pos);
            pos += 8;
            break;
        default:
            break;
        }
    } else {
        pos += 4 + 1 + 4;
        SkipText(page, pos);
        pos += 4;
        SkipText(page, pos);
    }
    auto contentType = hashdb::ReadText(page, pos);

    // Key: length, then the URL as a text.
    auto keyLength = page.u32le(keyOffset);
    if (!keyLength || *keyLength == 0 || *keyLength >= pageSize)
        return record;
    size_t keyPos = keyOffset + 4;
    auto urlText = hashdb::ReadText(page, keyPos);
    if (!urlText) {
        record.status = Status::MissingText;
        return record;
    }

    record.status = Status::Parsed;
    record.url = hashdb::UpToNul(*urlText);
    record.cacheName = hashdb::UpToNul(*cacheName);
    if (contentType)
        record.contentType = hashdb::UpToNul(*contentType);
    record.size = *size;
    record.lastModified = int32_t(*lastModified);
    record.downloaded = int32_t(*downloaded);
    record.expires = int32_t(*expires);
    return record;
}

} // namespace oriel
