#include "formats/ClientUrlCache.h"

#include "app/StringTable.h"
#include "formats/IndexDatRecovery.h"
#include "model/TextForms.h"
#include "platform/CopyBytes.h"
#include "platform/Cores.h"
#include "platform/FileSystem.h"
#include "platform/LargeBuffer.h"

#include "model/ItemArena.h"
#include "model/ItemHeap.h"

#include <algorithm>
#include <atomic>
#include <thread>
#include <unordered_map>
#include <vector>

namespace oriel {

namespace {
// The file's offsets are 32 bits: no index is larger than they reach.
constexpr uint64_t kMaxIndexSize = UINT32_MAX;
// The records are read through a window of this size: the walks go from
// the start of the file to its end.
constexpr size_t kReadWindow = 128 * 1024;
constexpr const char* kShortRead = "the file could not be read whole";
// How far past the middle the later part of a split walk looks for a
// record to begin at; an index with nothing there is walked whole.
constexpr size_t kLaterStartWithin = 1 << 20;

struct MadeItem {
    std::unique_ptr<CFileCacheItem> item;
    std::string_view host; // a view into the item's own URL
};

// The item of a URL or LEAK record; none for a freed record or one whose
// URL has no host. The cache name is composed in `nameBuffer`, kept
// between records.
MadeItem MakeUrlItem(CCache* cache, const IndexDatFile& index, const ByteReader& bytes, int32_t key,
                     std::string& nameBuffer)
{
    IndexDatFile::UrlRecord rec = ParseIndexDatUrlRecord(bytes);
    if (rec.freed || !rec.url)
        return {};
    auto parts = SplitUrl(*rec.url);
    if (!parts)
        return {};

    OptText cacheName;
    const auto& dirs = index.Directories();
    if (rec.directoryIndex < dirs.size() && rec.fileName) {
        const std::string& dir = dirs[rec.directoryIndex].name;
        const size_t length = dir.size() + 1 + rec.fileName->size();
        if (nameBuffer.size() < length)
            nameBuffer.resize(length);
        char* at = nameBuffer.data();
        platform::CopyBytes(at, dir.data(), dir.size());
        at[dir.size()] = '\\';
        platform::CopyBytes(at + dir.size() + 1, rec.fileName->data(), rec.fileName->size());
        cacheName = std::string_view(at, length);
    }

    auto item = std::make_unique<CFileCacheItem>(
        cache, key, *rec.url, parts->path, cacheName, int32_t(rec.size),
        FileTimeToUnix(rec.lastModifiedLow, rec.lastModifiedHigh),
        FileTimeToUnix(rec.lastAccessLow, rec.lastAccessHigh),
        IndexDatFile::ExpiryTime(rec.expiresLow, rec.expiresHigh), rec.headers);
    // The record's last-access time, shown as the download date, is also
    // when the browser last used the entry.
    item->SetLastAccessed(FileTimeToUnix(rec.lastAccessLow, rec.lastAccessHigh));
    const std::string_view host(item->GetURL() + (parts->host.data() - rec.url->data()), parts->host.size());
    return {std::move(item), host};
}

} // namespace

// The later part of a walk split in two: from a record start past the
// middle of the index to its end, on a thread of its own, through a second
// reader of the same open file. Its items wait, numbered from 1, until the
// first part's walk has come to where this one began; only then is it
// known that one walk would have met the same records, and how many came
// before them.
class ClientUrlCache::LaterPart {
public:
    LaterPart(ClientUrlCache& cache, std::unique_ptr<IndexDatFile> index, size_t start, uint64_t budget)
        : cache_(cache)
        , index_(std::move(index))
        , start_(start)
        , budget_(budget)
    {
        const auto blocks = size_t((index_->Size() - start) / IndexDatFile::kBlockSize);
        items_.reserve(blocks);
        hostOf_.reserve(blocks);
        thread_ = std::make_unique<platform::SideThread>([this] { Walk(); });
    }
    ~LaterPart() { Finish(); }
    LaterPart(const LaterPart&) = delete;
    LaterPart& operator=(const LaterPart&) = delete;

    size_t Start() const { return start_; }
    // Waits for the walk; `drop` asks it to end first.
    void Finish(bool drop = true)
    {
        if (drop)
            dropped_ = true;
        if (thread_)
            thread_->join();
    }
    // After Finish: whether the walk went to the end of the file.
    bool Complete() const { return complete_; }
    const IndexDatFile& Index() const { return *index_; }
    int32_t UrlRecords() const { return urlRecords_; }
    // The items in record order, each with the index of its server in
    // Hosts (servers in the order their first items came), and what
    // AddItem charges for them all.
    std::vector<std::unique_ptr<CCacheItem>>& Items() { return items_; }
    const std::vector<uint32_t>& HostOf() const { return hostOf_; }
    const std::vector<std::string_view>& Hosts() const { return hosts_; }
    uint64_t Charge() const { return held_; }
    // Lets the items' list go (their room goes back to the system).
    void ForgetItems()
    {
        std::vector<std::unique_ptr<CCacheItem>>().swap(items_);
        std::vector<uint32_t>().swap(hostOf_);
    }

private:
    void Walk()
    {
        // Items and texts are made here and on the first part's thread at
        // once: each thread takes room of its own.
        ItemHeap::Lane heapLane;
        ItemArena::Lane textLane(cache_.GetItemArena());
        std::string nameBuffer;
        // The servers met so far, by a view of the host in their first
        // item's URL.
        std::unordered_map<std::string_view, uint32_t> hostIndex;
        try {
            size_t cursor = start_;
            int records = 0;
            while (!dropped_ && !cache_.StopRequested()) {
                if (++records % 1024 == 0)
                    std::this_thread::yield();
                auto record = index_->NextRecord(cursor);
                if (!record) {
                    complete_ = true;
                    // Its reader's buffer is let go now, not when the
                    // first part is done.
                    index_->CloseSource();
                    return;
                }
                if (record->signature != IndexDatFile::kSigUrl && record->signature != IndexDatFile::kSigLeak)
                    continue;
                ++urlRecords_;
                MadeItem made = MakeUrlItem(&cache_, *index_, record->bytes, urlRecords_, nameBuffer);
                if (!made.item)
                    continue;
                // Past what the decode may hold, the first part walks on
                // itself and meets the budget as one walk does.
                held_ += made.item->HeldBytes() + made.host.size();
                if (held_ > budget_)
                    return;
                const auto [at, added] = hostIndex.try_emplace(made.host, uint32_t(hosts_.size()));
                if (added)
                    hosts_.push_back(made.host);
                hostOf_.push_back(at->second);
                items_.push_back(std::move(made.item));
            }
        } catch (...) {
            // Left to the first part's walk, which meets the same want of
            // memory as one walk would.
        }
    }

    ClientUrlCache& cache_;
    std::unique_ptr<IndexDatFile> index_;
    size_t start_;
    uint64_t budget_;
    // Room for as many items as the blocks walked could hold, taken at
    // once: the array is never copied as it grows, only the part filled
    // is ever touched, and it is one block that goes back to the system
    // when the items have been filed.
    std::vector<std::unique_ptr<CCacheItem>> items_;
    std::vector<uint32_t> hostOf_;
    std::vector<std::string_view> hosts_;
    uint64_t held_ = 0;
    int32_t urlRecords_ = 0;
    bool complete_ = false;
    std::atomic<bool> dropped_{false};
    std::unique_ptr<platform::SideThread> thread_;
};

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
    // The items and their texts take about as many bytes as the records
    // they come from.
    platform::LargePageSlices::ExpectMany(size_t(index_->Size()));

    recordCount_ = 0;
    int64_t offset = index_->FirstRecordOffset();
    if (std::unique_ptr<LaterPart> later = StartLaterPart()) {
        // Both parts make items at once, each with room of its own.
        {
            ItemHeap::Lane heapLane;
            ItemArena::Lane textLane(GetItemArena());
            offset = WalkRecords(offset, later->Start());
            later->Finish(offset != int64_t(later->Start()) || StopRequested());
        }
        if (TakeLaterPart(*later, offset))
            offset = -1;
    }
    WalkRecords(offset, SIZE_MAX);
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

int64_t ClientUrlCache::WalkRecords(int64_t offset, size_t end)
{
    int records = 0;
    while (offset >= 0 && uint64_t(offset) < end && !StopRequested()) {
        // Let other threads run now and then; yielding on every record
        // gives the core away tens of thousands of times on a busy machine.
        if (++records % 1024 == 0)
            std::this_thread::yield();
        bool decodedUrl = false;
        offset = ReadRecord(offset, decodedUrl, end);
        if (decodedUrl)
            ProgressSetPos(recordCount_);
    }
    return offset;
}

std::unique_ptr<ClientUrlCache::LaterPart> ClientUrlCache::StartLaterPart()
{
    const uint64_t size = index_->Size();
    const size_t first = index_->FirstRecordOffset();
    if (size < splitWalkFrom_ || size <= first || platform::UsableCores() < 2)
        return nullptr;
    std::shared_ptr<const platform::ByteSource> twin = source_ ? source_->Twin() : nullptr;
    if (!twin)
        return nullptr;
    // The later part begins at a record start on the first part's block
    // grid, so that the first part's walk can come to it exactly.
    const size_t middle = first + size_t((size - first) / 2 / IndexDatFile::kBlockSize * IndexDatFile::kBlockSize);
    const auto start = index_->LaterWalker(twin, middle)->NextRecordStart(middle, middle + kLaterStartWithin);
    if (!start || *start <= first)
        return nullptr;
    try {
        auto later = std::make_unique<LaterPart>(*this, index_->LaterWalker(std::move(twin), *start), *start,
                                                 DecodeBudgetLeft());
        Trace("     - The records from offset " + std::to_string(*start) + " on are walked on a second thread");
        return later;
    } catch (const std::exception&) {
        // No room for its items, or no thread: one walk does it all.
        return nullptr;
    }
}

bool ClientUrlCache::TakeLaterPart(LaterPart& later, int64_t reached)
{
    if (reached != int64_t(later.Start()) || !later.Complete() || StopRequested()) {
        if (!StopRequested())
            Trace("     - The second thread's walk is dropped: the first one ended at " + std::to_string(reached));
        return false;
    }
    Trace("     - The second thread's " + std::to_string(later.Items().size()) + " items follow");
    index_->TakeLaterWalk(later.Index(), later.Start());
    auto& items = later.Items();
    for (const auto& item : items)
        item->SetRecordKey(recordCount_ + item->GetRecordKey());
    // All at once when the budget takes them all, as it mostly does;
    // otherwise one by one, so that it runs out where one walk's would.
    if (!AddItemsMadeAhead(later.Hosts(), later.HostOf(), items, later.Charge())) {
        for (size_t i = 0; i < items.size(); ++i)
            AddItem(later.Hosts()[later.HostOf()[i]], std::move(items[i]));
    }
    later.ForgetItems();
    recordCount_ += later.UrlRecords();
    ProgressSetPos(recordCount_);
    return true;
}

int64_t ClientUrlCache::ReadRecord(int64_t offset, bool& decodedUrl, size_t end)
{
    decodedUrl = false;
    size_t cursor = size_t(offset);
    auto record = index_->NextRecord(cursor, end);
    if (!record)
        return cursor >= end && cursor < index_->Size() ? int64_t(cursor) : -1;
    if (record->signature == IndexDatFile::kSigUrl || record->signature == IndexDatFile::kSigLeak) {
        ++recordCount_;
        ParseUrlRecord(record->bytes);
        decodedUrl = true;
    }
    return int64_t(cursor);
}

int ClientUrlCache::ParseUrlRecord(const ByteReader& bytes)
{
    MadeItem made = MakeUrlItem(this, *index_, bytes, recordCount_, cacheNameBuffer_);
    if (made.item)
        AddItem(made.host, std::move(made.item));
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
