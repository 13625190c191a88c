#include "formats/IECache.h"

#include "formats/IndexDatRecovery.h"
#include "formats/UrlCacheService.h"
#include "model/Progress.h"
#include "model/TextForms.h"

#include <thread>

namespace oriel {

namespace {

constexpr int64_t kSecondsFrom1601To1970 = 11644473600LL;
constexpr int64_t kUnixTimeOf1900 = -2208988800LL;

} // namespace

IECache::IECache(const AppContext& context, BrowserProfile* profile, std::string folder)
    : CCache(context, profile, std::move(folder))
{
}

IECache::IECache(const AppContext& context, BrowserProfile* profile, std::string folder, std::shared_ptr<UrlCacheService> service)
    : CCache(context, profile, std::move(folder))
    , service_(std::move(service))
{
}

IECache::~IECache()
{
    StopDecodeThread();
}

UrlCacheService& IECache::Service()
{
    if (!service_)
        service_ = UrlCacheService::ForExaminedUser(Context());
    return *service_;
}

int64_t IECache::ItemTimeFromFileTime(uint64_t fileTime)
{
    int64_t seconds = int64_t(fileTime / 10000000ULL) - kSecondsFrom1601To1970;
    return seconds < kUnixTimeOf1900 ? 0 : seconds;
}

std::optional<std::string> IECache::CacheNameOf(const std::optional<std::string>& localFile) const
{
    if (!localFile)
        return std::nullopt;
    // Local file paths are host paths; the cache name is the part below the
    // cache folder, written the Windows way.
    std::string prefix = GetFolder();
    while (prefix.size() > 1 && prefix.back() == '/')
        prefix.pop_back();
    prefix += '/';
    // An entry whose file lies outside the cache folder (or a cache without
    // a folder) gets no cache name rather than a mangled one.
    if (GetFolderLength() == 0 || localFile->size() <= prefix.size() || localFile->compare(0, prefix.size(), prefix) != 0)
        return std::nullopt;
    std::string cacheName = localFile->substr(prefix.size());
    for (char& c : cacheName) {
        if (c == '/')
            c = '\\';
    }
    return cacheName;
}

int IECache::DoDecode()
{
    Trace("Entry - IECache::DoDecode()");
    UrlCacheService& service = Service();
    UrlCacheEntryInfo entry;
    auto handle = service.FindFirstUrlCacheEntry("*.*", entry);

    int32_t recordKey = 0;
    uint32_t entries = 0;
    bool more = handle != nullptr;
    while (more) {
        bool skip = (entry.cacheEntryType & (COOKIE_CACHE_ENTRY | URLHISTORY_CACHE_ENTRY)) != 0 ||
                    !entry.headerInfo;
        auto parts = skip ? std::nullopt : SplitUrl(entry.sourceUrlName);
        if (parts) {
            std::optional<std::string> cacheName = CacheNameOf(entry.localFileName);
            auto item = std::make_unique<CFileCacheItem>(
                this, recordKey, entry.sourceUrlName, parts->path,
                cacheName ? OptText(*cacheName) : std::nullopt, int32_t(entry.sizeLow),
                ItemTimeFromFileTime(entry.lastModifiedTime), ItemTimeFromFileTime(entry.lastSyncTime),
                ItemTimeFromFileTime(entry.expireTime), OptText(*entry.headerInfo));
            item->SetLastAccessed(ItemTimeFromFileTime(entry.lastAccessTime));
            AddItem(parts->host, std::move(item));
            ++recordKey;
        }
        if (StopRequested())
            break;
        more = service.FindNextUrlCacheEntry(*handle, entry);
        // Let other threads run now and then; yielding on every entry costs
        // a time slice each on a busy machine.
        if (++entries % 1024 == 0)
            std::this_thread::yield();
    }
    // The records in free blocks of the same index, recovered as the
    // index.dat decoder recovers them (the index the enumeration walked;
    // read afresh when it listed nothing), their cache names relative to
    // this cache's folder as the live items' are.
    if (!StopRequested()) {
        std::unique_ptr<IndexDatFile> read;
        const IndexDatFile* index = handle ? &UrlCacheService::EnumeratedIndex(*handle) : nullptr;
        if (!index) {
            read = service.ReadIndex();
            index = read.get();
        }
        if (index) {
            AddIndexDatRecoveredItems(*this, *index, recordKey, [this, &service, index](const IndexDatFile::UrlRecord& rec) {
                return CacheNameOf(service.LocalFileOf(*index, rec));
            });
        }
    }
    if (handle)
        service.FindCloseUrlCache(std::move(handle));
    Trace("Exit  - IECache::DoDecode()");
    return 0;
}

void IECache::TraceDeleted(const char* operation, CCacheItem& item) const
{
    // One line per removed entry: its file, or its URL when it has none.
    const char* file = item.GetFilePath();
    Trace(std::string("     IECache::") + operation + " - deleted " + (file ? file : item.GetURL()));
}

int IECache::DoEmpty(OwnerWindow)
{
    Trace("Entry - IECache::DoEmpty()");
    UrlCacheService& service = Service();
    int32_t groups = GetGroupCount();
    uint32_t deleted = 0;
    ProgressSetRange(groups);
    for (int32_t g = 0; g < groups && !StopRequested(); ++g) {
        CNamedCacheItemArray* group = GetGroup(g);
        for (int32_t i = 0; group && i < group->GetCount(); ++i) {
            CCacheItem* item = group->ItemAt(i);
            if (item && item->GetURL() && item->Exists() && service.DeleteUrlCacheEntry(item->GetURL()))
                TraceDeleted("DoEmpty", *item);
            if (++deleted % 1024 == 0)
                std::this_thread::yield();
        }
        ProgressSetPos(g + 1);
    }
    Trace("Exit  - IECache::DoEmpty()");
    return 0;
}

int IECache::DoDeleteItems(OwnerWindow, std::span<CCacheItem* const> items)
{
    Trace("Entry - IECache::DoDeleteItems()");
    UrlCacheService& service = Service();
    for (CCacheItem* item : items) {
        if (StopRequested())
            break;
        if (item && item->GetURL() && service.DeleteUrlCacheEntry(item->GetURL()))
            TraceDeleted("DoDeleteItems", *item);
        if (progress_)
            progress_->OffsetPos(1);
    }
    Trace("Exit  - IECache::DoDeleteItems()");
    return 0;
}

} // namespace oriel
