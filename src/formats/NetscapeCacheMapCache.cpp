#include "formats/NetscapeCacheMapCache.h"

#include "app/StringTable.h"
#include "formats/InternalCacheItem.h"
#include "model/TextForms.h"
#include "platform/ByteSource.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <thread>

namespace oriel {

namespace {

// No real map holds this many records; a larger count is hostile.
constexpr size_t kMaxRecords = size_t(1) << 24;
// Records decoded between two yields of the processor.
constexpr size_t kRecordsPerYield = 4096;
std::string Hex(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%x", value);
    return text;
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
    return CloseCacheMapMetaFiles();
}

int NetscapeCacheMapCache::GetCacheMapHeaderInfo()
{
    auto fail = [this] {
        ShowMessage(LoadString(IDS_INVALID_HEADER));
        RequestStop();
        return -1;
    };
    records_.clear();
    const platform::ByteSource* source = Database();
    const ByteReader map = source ? source->ReadAll() : ByteReader();
    auto header = source ? ParseCacheMapHeader(map) : std::nullopt;
    if (!header)
        return fail();
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
            ShowMessage(LoadString(IDS_META_FILES_OPEN_ERROR));
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

int NetscapeCacheMapCache::GetCacheMapMetadata()
{
    std::string scratch;
    for (size_t i = 0; i < records_.size() && !StopRequested(); ++i) {
        const CacheMapRecord& record = records_[i];
        if (cachemap::IsInitialized(record.dataLocation) && cachemap::IsInitialized(record.metaLocation))
            DecodeRecord(int32_t(i), record, scratch);
        // Give the processor away now and then, not after every record: on
        // a busy machine every yield costs a time slice.
        if (i % kRecordsPerYield == kRecordsPerYield - 1)
            std::this_thread::yield();
    }
    return 0;
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

void NetscapeCacheMapCache::DecodeRecord(int32_t recordKey, const CacheMapRecord& record, std::string& scratch)
{
    auto bytes = ReadMetadata(record, scratch);
    if (!bytes)
        return;
    auto meta = ParseCacheMapMetadata(*bytes);
    if (!meta)
        return;
    auto parts = SplitUrl(meta->url);
    if (!parts)
        return;
    const OptText headers = meta->headers ? OptText(*meta->headers) : std::nullopt;
    const int32_t size = ClampToInt32(meta->dataSize);

    const uint32_t location = record.dataLocation;
    const int selector = cachemap::FileSelector(location);
    std::unique_ptr<CCacheItem> item;
    if (selector != 0) {
        const uint32_t blockSize = cachemap::BlockSize(selector);
        const int64_t offset = cachemap::kBlockFileHeaderSize + int64_t(cachemap::StartBlock(location)) * blockSize;
        const int32_t length = int32_t(cachemap::BlockCount(location) * blockSize);
        item = std::make_unique<CInternalCacheItem>(this, recordKey, meta->url, parts->path, Hex(record.hashNumber),
                                                    size, meta->lastModified, meta->lastFetched, meta->expires,
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
        item = std::make_unique<CFileCacheItem>(this, recordKey, meta->url, parts->path, name ? *name : flat, size,
                                                meta->lastModified, meta->lastFetched, meta->expires, headers);
    }
    AddItem(parts->host, std::move(item));
}

} // namespace oriel
