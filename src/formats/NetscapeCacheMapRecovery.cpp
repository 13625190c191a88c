// The recovered entries of a Mozilla cache folder: stale map records and
// separate files that no map record names. Kept apart from the live decode
// in NetscapeCacheMapCache.cpp.
#include "formats/NetscapeCacheMapCache.h"

#include "app/StringTable.h"
#include "formats/CacheMapRecovery.h"
#include "formats/RecoveredFileItem.h"
#include "model/TextForms.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <string>
#include <utility>

namespace oriel {

namespace {

// No real map holds more; the walk over a hostile one stops there.
constexpr size_t kMaxStaleRecords = size_t(1) << 18;
// Separate files looked at in one folder, and bytes read of an orphan
// metadata file (real ones hold a few KiB).
constexpr size_t kMaxOrphanFiles = size_t(1) << 20;
constexpr uint64_t kMaxOrphanMetadata = uint64_t(1) << 20;

bool IsHexName(const std::string& name, size_t length)
{
    return name.size() == length &&
           std::all_of(name.begin(), name.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

// The separate files of the folder, flat ("0A1B2C3Dd01") and nested
// ("0/A1/B2C3Dd01"), as relative names spelled as on disk; plain files
// only (a link may lead out of the examined tree). Each folder is opened
// inside the container and its listing taken from `folders`, which the
// decode's name lookups have mostly listed already.
std::vector<std::string> ListSeparateFiles(platform::FolderIndex& folders, const std::string& folder)
{
    const platform::FolderEntries none;
    auto listing = [&](const std::string& dir) { return folders.ListContained(dir); };
    std::vector<std::string> names;
    auto top = listing(folder);
    if (!top)
        return names;
    for (const platform::FolderEntry& entry : *top) {
        if (names.size() >= kMaxOrphanFiles)
            break;
        if (entry.isRegular && ParseCacheMapSeparateName(entry.name)) {
            names.push_back(entry.name);
        } else if (entry.isDirectory && IsHexName(entry.name, 1)) {
            auto middle = listing(platform::MakePath(folder, entry.name));
            for (const platform::FolderEntry& sub : middle ? *middle : none) {
                if (!sub.isDirectory || !IsHexName(sub.name, 2))
                    continue;
                const std::string prefix = entry.name + "/" + sub.name + "/";
                auto files = listing(platform::MakePath(folder, entry.name + "/" + sub.name));
                for (const platform::FolderEntry& file : files ? *files : none) {
                    if (names.size() >= kMaxOrphanFiles)
                        break;
                    if (file.isRegular && ParseCacheMapSeparateName(prefix + file.name))
                        names.push_back(prefix + file.name);
                }
            }
        }
    }
    return names;
}

} // namespace

void NetscapeCacheMapCache::RecoverEntries()
{
    const platform::ByteSource* source = Database();
    if (!source)
        return;
    const ByteReader map = source->ReadAll();
    auto header = ParseCacheMapHeader(map);
    if (!header)
        return;
    const std::vector<CacheMapRecord> stale =
        FindStaleCacheMapRecords(map, *header, recordsLittleEndian_, records_, kMaxStaleRecords);
    Trace("Stale map records: " + std::to_string(stale.size()));
    // Keys go on after the live records' positions.
    int32_t key = int32_t(std::min<size_t>(records_.size(), INT32_MAX / 2));
    std::string scratch;
    for (const CacheMapRecord& record : stale) {
        if (StopRequested())
            return;
        DecodeRecord(key++, record, scratch, nullptr, true);
    }
    RecoverOrphanFiles(key, stale);
}

void NetscapeCacheMapCache::RecoverOrphanFiles(int32_t firstKey, const std::vector<CacheMapRecord>& stale)
{
    // Every separate file a record (live or stale) names, in either
    // layout: hash number, kind and generation, sorted.
    auto id = [](uint32_t hash, char kind, uint32_t generation) {
        return uint64_t(hash) << 16 | uint64_t(uint8_t(kind)) << 8 | (generation & 0xFF);
    };
    std::vector<uint64_t> named;
    for (const std::vector<CacheMapRecord>* records : {&std::as_const(records_), &stale}) {
        for (const CacheMapRecord& r : *records) {
            for (auto [location, kind] : {std::pair(r.dataLocation, 'd'), std::pair(r.metaLocation, 'm')}) {
                if (cachemap::IsInitialized(location) && cachemap::FileSelector(location) == 0)
                    named.push_back(id(r.hashNumber, kind, cachemap::Generation(location)));
            }
        }
    }
    std::sort(named.begin(), named.end());

    // The files no record names, paired by hash number and generation.
    struct Pair {
        std::string data, meta;
    };
    std::map<std::pair<uint32_t, uint32_t>, Pair> orphans;
    const std::string& folder = GetFolder();
    for (const std::string& file : ListSeparateFiles(*separateFiles_, folder)) {
        auto parsed = ParseCacheMapSeparateName(file);
        if (std::binary_search(named.begin(), named.end(), id(parsed->hashNumber, parsed->kind, parsed->generation)))
            continue;
        Pair& pair = orphans[{parsed->hashNumber, parsed->generation}];
        (parsed->kind == 'd' ? pair.data : pair.meta) = file;
    }

    int32_t key = firstKey;
    int32_t made = 0;
    for (const auto& [id, pair] : orphans) {
        if (StopRequested())
            break;
        const OptText cacheName = pair.data.empty() ? std::nullopt : OptText(pair.data);
        std::unique_ptr<CRecoveredFileItem> item;
        std::string from;
        if (!pair.meta.empty()) {
            // Metadata without a record still names its URL, times and
            // headers; its data file, when there, is the body.
            auto bytes = platform::ReadFile(platform::MakePath(folder, pair.meta), kMaxOrphanMetadata);
            auto meta = bytes ? ParseCacheMapMetadata(std::string_view(*bytes)) : std::nullopt;
            if (meta) {
                auto parts = SplitUrl(meta->url);
                item = std::make_unique<CRecoveredFileItem>(this, key, meta->url,
                                                            parts ? OptText(parts->path) : std::nullopt, cacheName,
                                                            int32_t(meta->dataSize), meta->lastModified,
                                                            meta->lastFetched, meta->expires, meta->headers);
                from = "metadata file " + pair.meta + " that no map record names";
            }
        }
        if (!item) {
            if (pair.data.empty())
                continue;
            // A body alone: no URL, but its name, so it can be opened and
            // copied.
            auto attributes = platform::GetFileAttributes(platform::MakePath(folder, pair.data));
            const int32_t size = attributes ? int32_t(std::min<uint64_t>(attributes->size, UINT32_MAX)) : 0;
            item = std::make_unique<CRecoveredFileItem>(this, key, std::string_view(), std::nullopt, cacheName, size,
                                                        0, 0, 0, std::nullopt);
            from = "data file that no map record names";
        }
        item->AddFormatProperty(LoadString(IDS_PROP_RECOVERED_FROM), from);
        item->SetRecovered(false);
        AddRecoveredItem(std::move(item));
        ++key;
        ++made;
    }
    Trace("Separate files no record names: " + std::to_string(made));
}

} // namespace oriel
