#include "formats/ClientUrlCache.h"

#include "app/StringTable.h"
#include "model/TextForms.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <thread>

namespace oriel {

namespace {
// Index files are a few megabytes; anything past this is not an index.
constexpr uint64_t kMaxIndexSize = uint64_t(1) << 31;
} // namespace

ClientUrlCache::ClientUrlCache(const AppContext& context, BrowserProfile* profile, std::string folder)
    : CCache(context, profile, std::move(folder))
{
}

ClientUrlCache::~ClientUrlCache()
{
    StopDecodeThread();
    CloseDBFile();
}

std::string ClientUrlCache::IndexFilePath() const
{
    return platform::ResolvePath(platform::MakePath(GetFolder(), kIndexFileName));
}

void ClientUrlCache::DoShutdown()
{
    CloseDBFile();
    CCache::DoShutdown();
}

int ClientUrlCache::OpenDBFile()
{
    // The whole index is read at once: the record walk jumps about it.
    source_ = givenSource_ ? givenSource_ : platform::OpenWholeFile(IndexFilePath(), kMaxIndexSize);
    if (!source_)
        return -1;
    index_ = std::make_unique<IndexDatFile>(source_->ReadAll());
    return 0;
}

int ClientUrlCache::CloseDBFile()
{
    index_.reset();
    source_.reset();
    return 0;
}

int ClientUrlCache::OpenDatabase()
{
    if (OpenDBFile() == 0)
        return 0;
    CloseDBFile();
    ShowMessage(std::string(LoadString(IDS_DB_NOT_FOUND)) + GetFolder());
    return -1;
}

int ClientUrlCache::GetHeaderInfo()
{
    if (!index_ || !index_->ParseHeader())
        return -1;
    int64_t total = index_->SumOfFileCounts();
    Trace("     - Found " + std::to_string(int32_t(total)) + " items");
    SetProgressTotal(int32_t(std::clamp<int64_t>(total, 0, INT32_MAX)));
    return 0;
}

int ClientUrlCache::DoDecode()
{
    Trace("Entry - ClientUrlCache::DoDecode()");
    if (GetHeaderInfo() != 0) {
        ShowMessage(LoadString(IDS_INVALID_HEADER));
        RequestStop();
        Trace("Exit - ClientUrlCache::DoDecode() GetHeaderInfo fails");
        return -1;
    }
    ProgressSetRange(GetProgressTotal());

    recordCount_ = 0;
    int64_t offset = index_->FirstRecordOffset();
    int records = 0;
    while (offset >= 0 && !StopRequested()) {
        // Let other threads run now and then; yielding on every record
        // gives the core away tens of thousands of times on a busy machine.
        if (++records % 1024 == 0)
            std::this_thread::yield();
        bool decodedUrl = false;
        offset = ReadRecord(offset, decodedUrl);
        if (decodedUrl)
            ProgressSetPos(recordCount_);
    }
    CloseDBFile();
    Trace("Exit  - ClientUrlCache::DoDecode()");
    return 0;
}

int64_t ClientUrlCache::ReadRecord(int64_t offset, bool& decodedUrl)
{
    decodedUrl = false;
    size_t cursor = size_t(offset);
    auto record = index_->NextRecord(cursor);
    if (!record)
        return -1;
    if (record->signature == IndexDatFile::kSigUrl || record->signature == IndexDatFile::kSigLeak) {
        ++recordCount_;
        ParseUrlRecord(record->bytes);
        decodedUrl = true;
    }
    return int64_t(cursor);
}

int ClientUrlCache::ParseUrlRecord(const ByteReader& bytes)
{
    IndexDatFile::UrlRecord rec = ParseIndexDatUrlRecord(bytes);
    if (rec.freed || !rec.url)
        return 0;
    auto parts = SplitUrl(*rec.url);
    if (!parts)
        return 0;

    // The cache name is composed in a buffer kept between records.
    OptText cacheName;
    const auto& dirs = index_->Directories();
    if (rec.directoryIndex < dirs.size() && rec.fileName) {
        cacheNameBuffer_.assign(dirs[rec.directoryIndex].name);
        cacheNameBuffer_ += '\\';
        cacheNameBuffer_ += *rec.fileName;
        cacheName = cacheNameBuffer_;
    }

    auto item = std::make_unique<CFileCacheItem>(
        this, recordCount_, *rec.url, parts->path, cacheName, int32_t(rec.size),
        FileTimeToUnix(rec.lastModifiedLow, rec.lastModifiedHigh),
        FileTimeToUnix(rec.lastAccessLow, rec.lastAccessHigh),
        IndexDatFile::ExpiryTime(rec.expiresLow, rec.expiresHigh), rec.headers);
    AddItem(parts->host, std::move(item));
    return 0;
}

int ClientUrlCache::DoEmpty(OwnerWindow)
{
    Trace("Entry - ClientUrlCache::DoEmpty()");
    Trace("Exit  - ClientUrlCache::DoEmpty()");
    return 0;
}

int ClientUrlCache::DoDeleteItems(OwnerWindow, std::span<CCacheItem* const>)
{
    Trace("Entry - ClientUrlCache::DoDeleteItems()");
    Trace("Exit  - ClientUrlCache::DoDeleteItems()");
    return 0;
}

} // namespace oriel
