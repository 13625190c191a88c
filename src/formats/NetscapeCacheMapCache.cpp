#include "formats/NetscapeCacheMapCache.h"

#include "app/StringTable.h"
#include "formats/InternalCacheItem.h"
#include "model/TextForms.h"
#include "platform/ByteSource.h"
#include "platform/FileSystem.h"
#include "platform/NearbyRangeReader.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <new>
#include <thread>

namespace oriel {

namespace {

// No real map holds this many records; a larger count is hostile.
constexpr size_t kMaxRecords = size_t(1) << 24;
// Records decoded between two yields of the processor.
constexpr size_t kRecordsPerYield = 4096;
// Lower-case hex without leading zeros ("%x"); made for every record, so
// without the cost of a formatted print.
std::string Hex(uint32_t value)
{
    char text[16];
    return std::string(text, std::to_chars(text, text + sizeof text, value, 16).ptr);
}

int32_t ClampToInt32(uint64_t value)
{
    return int32_t(std::min<uint64_t>(value, INT32_MAX));
}

} // namespace

NetscapeCacheMapCache::NetscapeCacheMapCache(const AppContext& context, BrowserProfile* profile, std::string folder)
    : NetscapeCache(context, profile, std::move(folder), kMapFileName)
{
}

NetscapeCacheMapCache::~NetscapeCacheMapCache()
{
    StopDecodeThread();
    CloseCacheMapMetaFiles();
    CloseDBFile();
}

void NetscapeCacheMapCache::DoShutdown()
{
    records_.clear();
    records_.shrink_to_fit();
    NetscapeCache::DoShutdown();
}

int NetscapeCacheMapCache::DoDecode()
{
    Trace("Entry - NetscapeCacheMapCache::DoDecode()");
    int result = iDecodeCacheMap();
    Trace("Exit  - NetscapeCacheMapCache::DoDecode()");
    return result;
}

int NetscapeCacheMapCache::iDecodeCacheMap()
{
    if (GetCacheMapHeaderInfo() != 0)
        return -1;
    if (OpenCacheMapMetaFiles() != 0) {
        CloseCacheMapMetaFiles();
        return -1;
    }
    GetCacheMapMetadata();
    if (!StopRequested())
        RecoverEntries();
    return CloseCacheMapMetaFiles();
}

int NetscapeCacheMapCache::GetCacheMapHeaderInfo()
{
    auto fail = [this](std::string_view reason = {}) {
        ShowInvalidHeader(DatabaseFilePath(), reason);
        RequestStop();
        return -1;
    };
    records_.clear();
    const platform::ByteSource* source = Database();
    const ByteReader map = source ? source->ReadAll() : ByteReader();
    auto header = source ? ParseCacheMapHeader(map) : std::nullopt;
    if (!header)
        return fail();
    // A map of nothing but zero bytes (a file the browser never wrote, or
    // one wiped) is damaged: listing nothing would read as an empty cache.
    const std::string_view all = map.size() ? *map.bytes(0, map.size()) : std::string_view();
    if (all.find_first_not_of('\0') == std::string_view::npos)
        return fail("the map holds only zero bytes, so the index is damaged");
    mapVersion_ = header->version;
    mapDirty_ = header->dirty;
    recordsLittleEndian_ = false;

    char line[64];
    std::snprintf(line, sizeof line, "Cache version=%x", mapVersion_);
    Trace(line);
    std::snprintf(line, sizeof line, "Cache enties=%d", int32_t(header->entryCount));
    Trace(line);
    if (!header->buckets) {
        std::snprintf(line, sizeof line, "Dirty=%d", int32_t(header->dirtyWord));
        Trace(line);
    }
    SetProgressTotal(ClampToInt32(header->entryCount));

    // The table holds at most the records the file can hold: a count that
    // announces more (a cut or hostile map) does not size it. A dirty map's
    // count may be stale, so all its records are read.
    const size_t inFile = map.size() > header->size ? (map.size() - header->size) / cachemap::kRecordSize : 0;
    size_t limit = std::min<size_t>({mapDirty_ ? inFile : size_t(header->entryCount), inFile, kMaxRecords});
    try {
        records_.reserve(limit);
    } catch (const std::bad_alloc&) {
        return fail();
    }
    recordsLittleEndian_ = ParseCacheMapRecords(map.sub(header->size, map.size()), header->buckets, limit, records_);
    std::snprintf(line, sizeof line, "Read %d entries", int32_t(records_.size()));
    Trace(line);
    SetProgressTotal(ClampToInt32(records_.size()));
    return 0;
}

int NetscapeCacheMapCache::OpenCacheMapMetaFiles()
{
    for (int i = 0; i < 3; ++i) {
        std::string name = "_CACHE_00" + std::to_string(i + 1) + "_";
        std::string path = platform::ResolvePath(platform::MakePath(GetFolder(), name));
        Trace("NetscapeCacheMapCache::OpenCacheMapMetaFiles() - attempt open of metadata file");
        Trace(path);
        // Only a regular file is opened (a FIFO would block the reader).
        blockFiles_[i] = platform::FileRange{path}.Open();
        if (!blockFiles_[i]) {
            Trace("                                - bad");
            ShowMessage(std::string(LoadString(IDS_META_FILES_OPEN_ERROR)) + "\n" + path);
            RequestStop();
            return -1;
        }
    }
    Trace("                                - good");
    separateFiles_ = std::make_unique<platform::FolderIndex>();
    return 0;
}

int NetscapeCacheMapCache::CloseCacheMapMetaFiles()
{
    for (auto& file : blockFiles_)
        file.reset();
    separateFiles_.reset();
    return 0;
}

uint64_t NetscapeCacheMapCache::MetadataKey(const CacheMapRecord& record)
{
    const bool separate = cachemap::FileSelector(record.metaLocation) == 0;
    return (uint64_t(separate ? record.hashNumber : 0) << 32) | record.metaLocation;
}

int NetscapeCacheMapCache::GetCacheMapMetadata()
{
    auto decodable = [](const CacheMapRecord& record) {
        return cachemap::IsInitialized(record.dataLocation) && cachemap::IsInitialized(record.metaLocation);
    };
    // Records that name the same metadata (a real map never has them; a
    // hostile one may have thousands) are found first, so that what they
    // share is read once and held once.
    std::vector<uint64_t> keys;
    keys.reserve(records_.size());
    for (const CacheMapRecord& record : records_) {
        if (decodable(record))
            keys.push_back(MetadataKey(record));
    }
    std::sort(keys.begin(), keys.end());
    std::unordered_map<uint64_t, SharedMetadata> shared;
    for (size_t i = 1; i < keys.size(); ++i) {
        if (keys[i] == keys[i - 1])
            shared.try_emplace(keys[i]);
    }
    keys.clear();
    keys.shrink_to_fit();

    MadeAhead made = MakeBlockFileItems(shared);
    std::string scratch;
    for (size_t i = 0; i < records_.size() && !StopRequested(); ++i) {
        const CacheMapRecord& record = records_[i];
        if (i < made.done.size() && made.done[i]) {
            // Added here, in map order, as DecodeRecord would have: the
            // groups, their order and the budget's charges stay the same.
            // The group is the host of the item's copy of the URL, which
            // MakeItem took it from.
            if (std::unique_ptr<CCacheItem>& item = made.items[i]) {
                const char* url = item->GetURL();
                auto parts = url ? SplitUrl(std::string_view(url, size_t(item->GetURLLength()))) : std::nullopt;
                AddItem(parts ? parts->host : std::string_view(), std::move(item));
            }
        } else if (decodable(record)) {
            auto found = shared.empty() ? shared.end() : shared.find(MetadataKey(record));
            DecodeRecord(int32_t(i), record, scratch, found == shared.end() ? nullptr : &found->second);
        }
        // Give the processor away now and then, not after every record: on
        // a busy machine every yield costs a time slice.
        if (i % kRecordsPerYield == kRecordsPerYield - 1)
            std::this_thread::yield();
    }
    return 0;
}

NetscapeCacheMapCache::MadeAhead
NetscapeCacheMapCache::MakeBlockFileItems(const std::unordered_map<uint64_t, SharedMetadata>& shared)
{
    // Each such record as one number, sorted: block file, start block,
    // then the record's index (below 2^24, as the record count is).
    static_assert(kMaxRecords <= size_t(1) << 24);
    std::vector<uint64_t> order;
    order.reserve(records_.size());
    for (size_t i = 0; i < records_.size(); ++i) {
        const CacheMapRecord& r = records_[i];
        const int selector = cachemap::FileSelector(r.metaLocation);
        if (!cachemap::IsInitialized(r.dataLocation) || !cachemap::IsInitialized(r.metaLocation) || selector == 0)
            continue;
        if (!shared.empty() && shared.count(MetadataKey(r)))
            continue;
        order.push_back(uint64_t(selector) << 48 | uint64_t(cachemap::StartBlock(r.metaLocation)) << 24 | i);
    }
    std::sort(order.begin(), order.end());

    MadeAhead made;
    if (order.empty())
        return made;
    made.items.resize(records_.size());
    made.done.resize(records_.size(), false);
    // The items made here are held before AddItem charges them: no more
    // of them than the budget would take. The records past that are left
    // to the map-order pass, which stops where the budget ends.
    const uint64_t budget = DecodeBudgetLeft();
    uint64_t held = 0;
    std::vector<platform::NearbyRangeReader::Range> ranges;
    size_t madeCount = 0;
    // The ranges of one block file are read a few thousand at a time: that
    // many sorted ranges already join into long reads, and the list of them
    // stays small beside the items.
    constexpr size_t kRangesPerReader = 4096;
    for (size_t first = 0; first < order.size();) {
        const int selector = int(order[first] >> 48);
        size_t last = first;
        ranges.clear();
        for (; last < order.size() && last - first < kRangesPerReader && int(order[last] >> 48) == selector; ++last) {
            const CacheMapRecord& r = records_[size_t(order[last] & 0xFFFFFF)];
            // Block n of a block file starts after its 4096-byte bitmap.
            const uint32_t blockSize = cachemap::BlockSize(selector);
            ranges.push_back({cachemap::kBlockFileHeaderSize + uint64_t(cachemap::StartBlock(r.metaLocation)) * blockSize,
                              size_t(cachemap::BlockCount(r.metaLocation) * blockSize)});
        }
        platform::NearbyRangeReader reader(*blockFiles_[selector - 1], ranges);
        for (size_t k = 0; k < ranges.size(); ++k) {
            if (StopRequested())
                return made;
            const size_t index = size_t(order[first + k] & 0xFFFFFF);
            const ByteReader bytes = reader.Read(k);
            std::unique_ptr<CCacheItem> item;
            if (bytes.size() != 0) {
                if (auto meta = ParseCacheMapMetadata(bytes)) {
                    std::string_view host;
                    item = MakeItem(int32_t(index), records_[index], *meta, nullptr, host);
                    if (item) {
                        held += item->HeldBytes() + host.size();
                        if (held > budget)
                            return made;
                    }
                }
            }
            made.items[index] = std::move(item);
            made.done[index] = true;
            if (++madeCount % kRecordsPerYield == 0)
                std::this_thread::yield();
        }
        first = last;
    }
    return made;
}

std::optional<ByteReader> NetscapeCacheMapCache::ReadMetadata(const CacheMapRecord& record, std::string& scratch)
{
    const uint32_t location = record.metaLocation;
    const int selector = cachemap::FileSelector(location);
    if (selector != 0) {
        // Block n of a block file starts after its 4096-byte bitmap.
        const uint32_t blockSize = cachemap::BlockSize(selector);
        uint64_t offset = cachemap::kBlockFileHeaderSize + uint64_t(cachemap::StartBlock(location)) * blockSize;
        ByteReader bytes = blockFiles_[selector - 1]->Read(offset, cachemap::BlockCount(location) * blockSize);
        if (bytes.size() == 0)
            return std::nullopt;
        return bytes;
    }
    const uint32_t generation = cachemap::Generation(location);
    const std::string& folder = GetFolder();
    auto name = separateFiles_->FindRelative(folder, cachemap::SeparateFileName(record.hashNumber, 'm', generation));
    if (!name)
        name = separateFiles_->FindRelative(folder, cachemap::NestedFileName(record.hashNumber, 'm', generation));
    if (!name)
        return std::nullopt;
    auto bytes =
        platform::ReadFile(platform::MakePath(folder, *name), uint64_t(cachemap::SeparateFileSizeK(location)) * 1024);
    if (!bytes)
        return std::nullopt;
    scratch = std::move(*bytes);
    return ByteReader(scratch);
}

void NetscapeCacheMapCache::DecodeRecord(int32_t recordKey, const CacheMapRecord& record, std::string& scratch,
                                         SharedMetadata* shared, bool recovered)
{
    std::optional<CacheMapMetadata> meta;
    if (shared && shared->bytes) {
        meta = shared->meta;
    } else {
        auto bytes = ReadMetadata(record, scratch);
        if (bytes && shared) {
            // Kept for the other records that name it; its parse points
            // into the kept copy.
            if (!ChargeDecodeBytes(bytes->size()))
                return;
            auto kept = bytes->size() ? std::make_shared<const std::string>(*bytes->bytes(0, bytes->size()))
                                      : std::make_shared<const std::string>();
            shared->bytes = kept;
            shared->meta = ParseCacheMapMetadata(std::string_view(*kept));
            if (shared->meta && shared->meta->headers) {
                if (!ChargeDecodeBytes(shared->meta->headers->size()))
                    return;
                shared->headers = std::make_shared<const std::string>(*shared->meta->headers);
            }
            meta = shared->meta;
        } else if (bytes) {
            meta = ParseCacheMapMetadata(*bytes);
        } else if (shared) {
            shared->bytes = std::make_shared<const std::string>(); // nothing to read, for every record
        }
    }
    if (!meta)
        return;
    std::string_view host;
    std::unique_ptr<CCacheItem> item = MakeItem(recordKey, record, *meta, shared, host);
    if (!item)
        return;
    if (recovered) {
        item->SetRecovered(false);
        AddRecoveredItem(std::move(item));
        return;
    }
    AddItem(host, std::move(item));
}

std::unique_ptr<CCacheItem> NetscapeCacheMapCache::MakeItem(int32_t recordKey, const CacheMapRecord& record,
                                                            const CacheMapMetadata& meta,
                                                            const SharedMetadata* shared, std::string_view& host)
{
    auto parts = SplitUrl(meta.url);
    if (!parts)
        return nullptr;
    host = parts->host;
    // Shared headers are given to the item after its construction, as one
    // block; others are copied by the constructor.
    const OptText headers = meta.headers && !shared ? OptText(*meta.headers) : std::nullopt;
    // The 32-bit field as it stands: items keep sizes as 32 unsigned bits.
    const int32_t size = int32_t(meta.dataSize);

    const uint32_t location = record.dataLocation;
    const int selector = cachemap::FileSelector(location);
    std::unique_ptr<CCacheItem> item;
    if (selector != 0) {
        const uint32_t blockSize = cachemap::BlockSize(selector);
        const int64_t offset = cachemap::kBlockFileHeaderSize + int64_t(cachemap::StartBlock(location)) * blockSize;
        const int32_t length = int32_t(cachemap::BlockCount(location) * blockSize);
        item = std::make_unique<CInternalCacheItem>(this, recordKey, meta.url, parts->path, Hex(record.hashNumber),
                                                    size, meta.lastModified, meta.lastFetched, meta.expires,
                                                    headers, selector, offset, length);
    } else {
        // The separate data file: the flat name, else the Firefox 4 nested
        // one, as spelled on disk; the flat name when neither is there.
        const uint32_t generation = cachemap::Generation(location);
        std::string flat = cachemap::SeparateFileName(record.hashNumber, 'd', generation);
        const std::string& folder = GetFolder();
        auto name = separateFiles_->FindRelative(folder, flat);
        if (!name)
            name = separateFiles_->FindRelative(folder, cachemap::NestedFileName(record.hashNumber, 'd', generation));
        item = std::make_unique<CFileCacheItem>(this, recordKey, meta.url, parts->path, name ? *name : flat, size,
                                                meta.lastModified, meta.lastFetched, meta.expires, headers);
    }
    if (shared && shared->headers)
        item->SetSharedHeaders(shared->headers);
    item->SetLastAccessed(meta.lastFetched);
    return item;
}

} // namespace oriel
