#include "formats/Cache2IndexFile.h"

namespace oriel {

namespace cache2 {

std::optional<IndexLayout> IndexLayoutOf(uint32_t version)
{
    if (version >= 1 && version <= 3)
        return IndexLayout{12, 36};
    if (version == 4)
        return IndexLayout{12, 40};
    if (version == 5)
        return IndexLayout{12, 44};
    if (version == 6 || version == 7)
        return IndexLayout{16, 44};
    if (version == 8)
        return IndexLayout{16, 40};
    if (version == 9 || version == kMaxIndexVersion)
        return IndexLayout{16, 41};
    return std::nullopt;
}

} // namespace cache2

std::string Cache2IndexRecord::FileName() const
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string name(40, '0');
    for (size_t i = 0; i < hash.size(); ++i) {
        name[2 * i] = kHex[hash[i] >> 4];
        name[2 * i + 1] = kHex[hash[i] & 0xF];
    }
    return name;
}

std::optional<Cache2Index> ParseCache2Index(const ByteReader& bytes)
{
    auto version = bytes.u32be(0);
    if (!version)
        return std::nullopt;
    auto layout = cache2::IndexLayoutOf(*version);
    if (!layout || !bytes.has(0, layout->headerSize + 4))
        return std::nullopt;
    const size_t recordBytes = bytes.size() - layout->headerSize - 4;
    if (recordBytes % layout->recordSize != 0)
        return std::nullopt;

    Cache2Index index;
    index.version = *version;
    index.lastWritten = *bytes.u32be(4);
    index.dirty = *bytes.u32be(8) != 0;
    const size_t count = recordBytes / layout->recordSize;
    index.records.reserve(count);
    // The flags are the record's last word in every version.
    const size_t flagsAt = layout->recordSize - 4;
    for (size_t i = 0; i < count; ++i) {
        const ByteReader r = bytes.sub(layout->headerSize + i * layout->recordSize, layout->recordSize);
        Cache2IndexRecord record;
        for (size_t b = 0; b < record.hash.size(); ++b)
            record.hash[b] = *r.u8(b);
        record.frecency = *r.u32be(20);
        record.flags = *r.u32be(flagsAt);
        index.records.push_back(record);
    }
    return index;
}

} // namespace oriel
