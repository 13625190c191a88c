#include "formats/CacheMapRecovery.h"

#include <algorithm>
#include <set>

namespace oriel {

namespace {

uint32_t Swap32(uint32_t v)
{
    return (v >> 24) | ((v >> 8) & 0x0000FF00u) | ((v << 8) & 0x00FF0000u) | (v << 24);
}

bool LooksReal(uint32_t location)
{
    return cachemap::IsInitialized(location) && (location & cachemap::kReserved) == 0;
}

// Where a record's metadata starts, as one number: its block file and
// first block, or for a separate file the hash number that names it and its
// generation. Packed so that sorting many of them stays cheap.
uint64_t MetadataPlace(const CacheMapRecord& r)
{
    const int selector = cachemap::FileSelector(r.metaLocation);
    if (selector == 0)
        return uint64_t(r.hashNumber) << 8 | cachemap::Generation(r.metaLocation);
    return uint64_t(selector) << 40 | cachemap::StartBlock(r.metaLocation);
}

std::optional<uint32_t> Hex(std::string_view digits)
{
    if (digits.empty() || digits.size() > 8)
        return std::nullopt;
    uint32_t value = 0;
    for (char c : digits) {
        int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (d < 0)
            return std::nullopt;
        value = value << 4 | uint32_t(d);
    }
    return value;
}

} // namespace

std::vector<CacheMapRecord> FindStaleCacheMapRecords(const ByteReader& map, const CacheMapHeader& header, bool swapped,
                                                     const std::vector<CacheMapRecord>& live, size_t limit)
{
    // The slots the live reading took need no matching of their own: such
    // a slot names its live record's metadata, and a slot naming live
    // metadata is passed over below in any case. Sorted vectors, not
    // node-based sets: a hostile map may hold millions of live records.
    std::vector<uint64_t> liveMetadata;
    liveMetadata.reserve(live.size());
    for (const CacheMapRecord& r : live)
        liveMetadata.push_back(MetadataPlace(r));
    std::sort(liveMetadata.begin(), liveMetadata.end());
    std::vector<CacheMapRecord> stale;
    std::set<uint64_t> staleMetadata; // at most `limit`
    for (size_t off = header.size; stale.size() < limit; off += cachemap::kRecordSize) {
        auto slot = ParseCacheMapRecord(map, off);
        if (!slot)
            break;
        CacheMapRecord r = *slot;
        if (swapped)
            r = {Swap32(r.hashNumber), Swap32(r.evictionRank), Swap32(r.dataLocation), Swap32(r.metaLocation)};
        if (!LooksReal(r.dataLocation) || !LooksReal(r.metaLocation))
            continue;
        // A slot naming live metadata is a leftover copy; two stale slots
        // naming the same metadata are one entry.
        const uint64_t place = MetadataPlace(r);
        if (std::binary_search(liveMetadata.begin(), liveMetadata.end(), place) || !staleMetadata.insert(place).second)
            continue;
        stale.push_back(r);
    }
    return stale;
}

std::optional<CacheMapSeparateName> ParseCacheMapSeparateName(std::string_view name)
{
    // The last 3 characters are the kind and the generation; before them
    // the hash: 8 digits flat, or "H/HH/HHHHH" nested.
    if (name.size() < 4)
        return std::nullopt;
    const char kind = char(name[name.size() - 3] | 0x20);
    auto generation = Hex(name.substr(name.size() - 2));
    if ((kind != 'd' && kind != 'm') || !generation || name.substr(name.size() - 2).size() != 2)
        return std::nullopt;
    std::string_view hash = name.substr(0, name.size() - 3);
    std::optional<uint32_t> value;
    if (hash.size() == 8) {
        value = Hex(hash);
    } else if (hash.size() == 10 && hash[1] == '/' && hash[4] == '/') {
        auto first = Hex(hash.substr(0, 1)), middle = Hex(hash.substr(2, 2)), rest = Hex(hash.substr(5, 5));
        if (first && middle && rest)
            value = *first << 28 | *middle << 20 | *rest;
    }
    if (!value)
        return std::nullopt;
    return CacheMapSeparateName{*value, kind, *generation};
}

} // namespace oriel
