#include "formats/ChromiumSimpleEntryFile.h"

namespace oriel {

std::optional<SimpleFileHeader> ParseSimpleFileHeader(const ByteReader& bytes)
{
    // 0 initial magic, 8 version, 12 key length, 16 key hash.
    auto magic = bytes.u64le(0);
    if (!magic || *magic != simplecache::kInitialMagic || !bytes.has(0, simplecache::kPackedRecordSize))
        return std::nullopt;
    SimpleFileHeader header;
    header.version = *bytes.u32le(8);
    header.keyLength = *bytes.u32le(12);
    header.keyHash = *bytes.u32le(16);
    if (header.version < simplecache::kMinEntryVersion || header.version > simplecache::kMaxEntryVersion ||
        header.keyLength > simplecache::kMaxKeyLength)
        return std::nullopt;
    return header;
}

std::optional<SimpleFileEOF> ParseSimpleFileEOF(const ByteReader& bytes)
{
    // 0 final magic, 8 flags, 12 crc32, 16 stream size.
    auto magic = bytes.u64le(0);
    if (!magic || *magic != simplecache::kFinalMagic || !bytes.has(0, simplecache::kPackedRecordSize))
        return std::nullopt;
    SimpleFileEOF eof;
    eof.flags = *bytes.u32le(8);
    eof.crc32 = *bytes.u32le(12);
    eof.streamSize = *bytes.u32le(16);
    return eof;
}

std::optional<size_t> SimpleRecordSize(const ByteReader& tail, uint64_t fileSize)
{
    const size_t n = tail.size();
    if (uint64_t(n) > fileSize)
        return std::nullopt;
    for (size_t size : {simplecache::kRecordSize, simplecache::kPackedRecordSize}) {
        auto magic = n >= size ? tail.u64le(n - size) : std::nullopt;
        if (magic && *magic == simplecache::kFinalMagic)
            return size;
    }
    return std::nullopt;
}

std::optional<SimpleEntryLayout> SimpleEntryLayoutOf(const SimpleFileHeader& header, const SimpleFileEOF& stream0Eof,
                                                     size_t recordSize, uint64_t fileSize)
{
    SimpleEntryLayout layout;
    layout.recordSize = recordSize;
    layout.keyOffset = recordSize;
    layout.stream0Eof = stream0Eof;
    layout.hasKeySha256 = (stream0Eof.flags & simplecache::kFlagHasKeySha256) != 0;
    const uint64_t keyEnd = uint64_t(recordSize) + header.keyLength;
    const uint64_t sha = layout.hasKeySha256 ? simplecache::kKeySha256Size : 0;
    // The key, stream 1's record, stream 0, the SHA-256 and the last record
    // must all fit (every term is below 2^33: no overflow).
    const uint64_t fixed = keyEnd + recordSize + uint64_t(stream0Eof.streamSize) + sha + recordSize;
    if (fixed > fileSize)
        return std::nullopt;
    layout.stream0Size = stream0Eof.streamSize;
    layout.stream0Offset = fileSize - recordSize - sha - layout.stream0Size;
    layout.stream1EofOffset = layout.stream0Offset - recordSize;
    layout.stream1Offset = keyEnd;
    layout.stream1Size = layout.stream1EofOffset - keyEnd;
    return layout;
}

std::optional<SimpleSparseRange> ParseSimpleSparseRangeHeader(const ByteReader& bytes)
{
    // 0 sparse magic, 8 offset, 16 length, 24 crc32, 28 padding.
    auto magic = bytes.u64le(0);
    if (!magic || *magic != simplecache::kSparseRangeMagic || !bytes.has(0, 28))
        return std::nullopt;
    SimpleSparseRange range;
    range.offset = int64_t(*bytes.u64le(8));
    range.length = int64_t(*bytes.u64le(16));
    if (range.offset < 0 || range.length < 0)
        return std::nullopt;
    return range;
}

std::optional<SimpleEntryFileName> ParseSimpleEntryFileName(std::string_view name)
{
    if (name.size() != 18 || name[16] != '_')
        return std::nullopt;
    SimpleEntryFileName parsed;
    for (size_t i = 0; i < 16; ++i) {
        const char c = name[i];
        uint64_t digit = 0;
        if (c >= '0' && c <= '9')
            digit = uint64_t(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = uint64_t(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            digit = uint64_t(c - 'A' + 10);
        else
            return std::nullopt;
        parsed.hash = parsed.hash << 4 | digit;
    }
    parsed.kind = name[17];
    if (parsed.kind != '0' && parsed.kind != '1' && parsed.kind != 's')
        return std::nullopt;
    return parsed;
}

} // namespace oriel
