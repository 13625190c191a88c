#include "formats/ChromiumSimpleIndexFile.h"

#include <algorithm>

namespace oriel {

namespace {
constexpr size_t kPickleHeaderSize = 8;
constexpr size_t kRecordSize = 24;
} // namespace

std::optional<SimpleIndex> ParseSimpleIndex(const ByteReader& bytes)
{
    auto payloadSize = bytes.u32le(0);
    if (!payloadSize || !bytes.has(kPickleHeaderSize, *payloadSize))
        return std::nullopt;
    const ByteReader payload = bytes.sub(kPickleHeaderSize, *payloadSize);
    // 0 magic, 8 version, 12 entry count, 20 cache size, [28 reason].
    auto magic = payload.u64le(0);
    if (!magic || *magic != simplecache::kIndexMagic || !payload.has(0, 28))
        return std::nullopt;
    SimpleIndex index;
    index.version = *payload.u32le(8);
    if (index.version < simplecache::kMinIndexVersion || index.version > simplecache::kMaxIndexVersion)
        return std::nullopt;
    index.entryCount = *payload.u64le(12);
    index.cacheSize = *payload.u64le(20);
    const size_t first = index.version >= 7 ? 32 : 28;
    if (first > payload.size())
        return index;
    const uint64_t inFile = (payload.size() - first) / kRecordSize;
    const uint64_t count = std::min<uint64_t>(index.entryCount, inFile);
    index.records.reserve(size_t(count));
    for (uint64_t i = 0; i < count; ++i) {
        const size_t at = first + size_t(i) * kRecordSize;
        SimpleIndexRecord record;
        record.hash = *payload.u64le(at);
        record.lastUsed = *payload.u64le(at + 8);
        const uint64_t size = *payload.u64le(at + 16);
        record.size = index.version >= 8 ? (size >> 8) * 256 : size;
        index.records.push_back(record);
    }
    return index;
}

bool IsSimpleFakeIndex(const ByteReader& bytes)
{
    auto magic = bytes.u64le(0);
    return magic && *magic == simplecache::kIndexMagic;
}

} // namespace oriel
