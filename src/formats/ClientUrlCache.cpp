#include "formats/ClientUrlCache.h"

#include "app/StringTable.h"
#include "formats/IndexDatRecovery.h"
#include "model/TextForms.h"
#include "platform/CopyBytes.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <thread>

namespace oriel {

namespace {
// The file's offsets are 32 bits: no index is larger than they reach.
constexpr uint64_t kMaxIndexSize = UINT32_MAX;
// The records are read through a window of this size: the walks go from
// the start of the file to its end.
constexpr size_t kReadWindow = 256 * 1024;
constexpr const char* kShortRead = "the file could not be read whole";
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
    // Nothing is read yet: the header is read and checked first.
    source_ = givenSource_ ? givenSource_ : platform::FileRange{IndexFilePath()}.Open(kReadWindow);
    return source_ ? 0 : -1;
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
    ShowOpenFailure(IndexFilePath());
    return -1;
}

int ClientUrlCache::GetHeaderInfo(std::string& reason)
{
    if (!source_)
        return -1;
    // Only the header (up to the first record block) is read here, and
    // checked before any record is: a large file that is no index costs
    // nothing. The records are read as the walks go, through the source's
    // window: the walks run from the first record to the end of the file,
    // and the index is never held whole.
    const uint64_t fileSize = source_->Size();
    index_ = std::make_unique<IndexDatFile>(source_);
    if (!index_->ParseHeader())
        return -1;
    if (fileSize > kMaxIndexSize) {
        reason = "the file is larger than the 4 GiB an index can address (" + std::to_string(fileSize) + " bytes)";
        return -1;
    }
    if (index_->ReadFellShort()) {
        reason = kShortRead;
        return -1;
    }
    int64_t total = index_->SumOfFileCounts();
    Trace("     - Found " + std::to_string(int32_t(total)) + " items");
    SetProgressTotal(int32_t(std::clamp<int64_t>(total, 0, INT32_MAX)));
    // The walk starts at the first hash table: one outside the file leaves
    // nothing to read, which is damage, not an empty cache.
    if (index_->FirstRecordOffset() >= fileSize) {
        reason = "the hash table offset " + std::to_string(index_->FirstRecordOffset()) + " lies outside the file (" +
                 std::to_string(fileSize) + " bytes)";
        return -1;
    }
    return 0;
}

int ClientUrlCache::DoDecode()
{
    Trace("Entry - ClientUrlCache::DoDecode()");
    std::string reason;
    if (GetHeaderInfo(reason) != 0) {
        ShowInvalidHeader(IndexFilePath(), reason);
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
    // Records that are all there but none of which can be read: the index
    // is damaged, not empty.
    if (!StopRequested() && index_->RecordsFound() == 0 && index_->ImpossibleBlockCounts() > 0) {
        ShowMessage(std::string(LoadString(IDS_INDEX_DAMAGED)) + IndexFilePath() + ": " +
                    std::to_string(index_->ImpossibleBlockCounts()) +
                    " record(s) whose block count runs past the end of the file, and no other record");
        CloseDBFile();
        Trace("Exit  - ClientUrlCache::DoDecode() damaged index");
        return -1;
    }
    // Records in free blocks are listed apart, after the live ones.
    if (!StopRequested())
        AddIndexDatRecoveredItems(*this, *index_, recordCount_ + 1);
    // A file that could not be read to its end is not taken for all the
    // index holds.
    if (index_->ReadFellShort()) {
        ShowInvalidHeader(IndexFilePath(), kShortRead);
        CloseDBFile();
        Trace("Exit  - ClientUrlCache::DoDecode() short read");
        return -1;
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
        const std::string& dir = dirs[rec.directoryIndex].name;
        const size_t length = dir.size() + 1 + rec.fileName->size();
        if (cacheNameBuffer_.size() < length)
            cacheNameBuffer_.resize(length);
        char* at = cacheNameBuffer_.data();
        platform::CopyBytes(at, dir.data(), dir.size());
        at[dir.size()] = '\\';
        platform::CopyBytes(at + dir.size() + 1, rec.fileName->data(), rec.fileName->size());
        cacheName = std::string_view(at, length);
    }

    auto item = std::make_unique<CFileCacheItem>(
        this, recordCount_, *rec.url, parts->path, cacheName, int32_t(rec.size),
        FileTimeToUnix(rec.lastModifiedLow, rec.lastModifiedHigh),
        FileTimeToUnix(rec.lastAccessLow, rec.lastAccessHigh),
        IndexDatFile::ExpiryTime(rec.expiresLow, rec.expiresHigh), rec.headers);
    // The record's last-access time, shown as the download date, is also
    // when the browser last used the entry.
    item->SetLastAccessed(FileTimeToUnix(rec.lastAccessLow, rec.lastAccessHigh));
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
