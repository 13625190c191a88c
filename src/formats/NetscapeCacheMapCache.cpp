#include "formats/NetscapeCacheMapCache.h"

#include "app/StringTable.h"
#include "app/TraceLog.h"
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

constexpr size_t kRecordSize = 16;
// Version 0x00010005: a 16-byte header padded to 4096 bytes, then buckets
// of 4096 bytes, each up to 256 records.
constexpr size_t kBucketMapHeaderSize = 4096;
constexpr size_t kBucketSize = 4096;
// Other versions: version, data size, entry count, dirty flag, record
// count, 32 eviction ranks and 32 bucket usages; the records follow.
constexpr size_t kRecordMapHeaderSize = 276;
// No real map holds this many records; a larger count is hostile.
constexpr size_t kMaxRecords = size_t(1) << 24;
// Records decoded between two yields of the processor.
constexpr size_t kRecordsPerYield = 4096;
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

// ---------------------------------------------------------------------------

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

// ---------------------------------------------------------------------------

NetscapeCacheMapCache::NetscapeCacheMapCache(BrowserProfile* profile, std::string folder)
    : NetscapeCache(profile, std::move(folder), kMapFileName)
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
    const size_t inFile = map.size() > header->size ? (map.size() - header->size) / kRecordSize : 0;
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
        auto name = separateFiles_->FindRelative(GetFolder(), flat);
        if (!name)
            name = separateFiles_->FindRelative(GetFolder(), cachemap::NestedFileName(record.hashNumber, 'd', generation));
        item = std::make_unique<CFileCacheItem>(this, recordKey, meta->url, parts->path, name ? *name : flat, size,
                                                meta->lastModified, meta->lastFetched, meta->expires, headers);
    }
    AddItem(parts->host, std::move(item));
}

} // namespace oriel
