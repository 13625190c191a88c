#include "formats/Cache2EntryFile.h"

namespace oriel {

std::optional<std::string_view> Cache2Metadata::Element(std::string_view name) const
{
    for (const Cache2Element& element : elements) {
        if (element.name == name)
            return element.value;
    }
    return std::nullopt;
}

std::optional<uint32_t> ParseCache2MetadataOffset(const ByteReader& tail, uint64_t fileSize)
{
    if (fileSize < 4)
        return std::nullopt;
    auto offset = tail.u32be(0);
    // The metadata lies between the body and the offset word.
    if (!offset || uint64_t(*offset) > fileSize - 4)
        return std::nullopt;
    return offset;
}

std::optional<Cache2MetadataHeader> ParseCache2MetadataHeader(const ByteReader& bytes)
{
    auto version = bytes.u32be(0);
    if (!version || *version < cache2::kMinMetadataVersion || *version > cache2::kMaxMetadataVersion)
        return std::nullopt;
    const size_t size = *version == 1 ? cache2::kHeaderSizeV1 : cache2::kHeaderSizeV2;
    if (!bytes.has(0, size))
        return std::nullopt;
    Cache2MetadataHeader h;
    h.version = *version;
    h.fetchCount = *bytes.u32be(4);
    h.lastFetched = *bytes.u32be(8);
    h.lastModified = *bytes.u32be(12);
    h.frecency = *bytes.u32be(16);
    h.expiration = *bytes.u32be(20);
    h.keySize = *bytes.u32be(24);
    if (*version >= 2)
        h.flags = *bytes.u32be(28);
    return h;
}

std::optional<Cache2Key> ParseCache2Key(std::string_view key)
{
    size_t colon = key.find(':');
    if (colon == std::string_view::npos)
        return std::nullopt;
    return Cache2Key{key.substr(0, colon), key.substr(colon + 1)};
}

std::vector<Cache2Element> ParseCache2Elements(const ByteReader& bytes, bool& cutShort)
{
    std::vector<Cache2Element> elements;
    // A response's metadata holds about half a dozen pairs.
    elements.reserve(8);
    cutShort = false;
    size_t pos = 0;
    while (pos < bytes.size()) {
        auto name = bytes.cstring(pos, bytes.size());
        if (!name || name->empty())
            break;
        pos += name->size() + 1;
        std::string_view value;
        if (pos > bytes.size()) {
            cutShort = true; // the name ran to the end
        } else if (pos < bytes.size()) {
            value = *bytes.cstring(pos, bytes.size());
            pos += value.size() + 1;
            cutShort = pos > bytes.size();
        } else {
            cutShort = true; // a name with no value after it
        }
        elements.push_back({*name, value});
    }
    return elements;
}

std::optional<Cache2Metadata> ParseCache2Metadata(const ByteReader& block, uint32_t bodySize)
{
    // u32 metadata hash, then one u16 per chunk of the body.
    const uint64_t hashes = 4 + 2 * cache2::ChunkCount(bodySize);
    if (hashes > block.size())
        return std::nullopt;
    const ByteReader rest = block.sub(size_t(hashes), block.size() - size_t(hashes));
    auto header = ParseCache2MetadataHeader(rest);
    if (!header)
        return std::nullopt;
    const size_t keyStart = header->version == 1 ? cache2::kHeaderSizeV1 : cache2::kHeaderSizeV2;
    auto key = rest.bytes(keyStart, header->keySize);
    if (!key)
        return std::nullopt;
    auto split = ParseCache2Key(*key);
    if (!split)
        return std::nullopt;

    Cache2Metadata meta;
    meta.bodySize = bodySize;
    meta.header = *header;
    meta.key = *key;
    meta.splitKey = *split;
    // The key's NUL, then the elements to the end of the block.
    const uint64_t elementsStart = uint64_t(keyStart) + header->keySize + 1;
    if (elementsStart < rest.size()) {
        meta.elements = ParseCache2Elements(rest.sub(size_t(elementsStart), rest.size() - size_t(elementsStart)),
                                            meta.elementsCutShort);
    }
    return meta;
}

} // namespace oriel
