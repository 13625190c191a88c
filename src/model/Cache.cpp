#include "model/Cache.h"

#include "app/StringTable.h"
#include "model/DecodeJob.h"
#include "model/Progress.h"
#include "model/RowsOnTwoThreads.h"
#include "platform/CaseFold.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <iterator>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace oriel {

CNamedCacheItemArray::CNamedCacheItemArray(OptText name)
{
    if (name)
        name_ = std::string(*name);
}

void CNamedCacheItemArray::SetName(OptText name)
{
    if (name)
        name_ = std::string(*name);
}

CCacheItem* CNamedCacheItemArray::ItemAt(int32_t index) const
{
    if (index < 0 || index >= GetCount())
        return nullptr;
    return items_[size_t(index)].get();
}

void CNamedCacheItemArray::Add(std::unique_ptr<CCacheItem> item)
{
    items_.push_back(std::move(item));
}

// ---------------------------------------------------------------------------

CCache::CCache(const AppContext& context, BrowserProfile* profile, std::string folder)
    : context_(context)
    , folder_(std::move(folder))
    , container_(platform::RegisterContainer(folder_))
    , profile_(profile)
{
}

CCache::~CCache()
{
    // A decode still running on its thread must not outlive the cache.
    RequestStop();
    WaitForDecodeThread();
    CCache::DoShutdown();
}

void CCache::DoShutdown()
{
    Trace("Entry - CCache::DoShutdown()");
    groupIndex_.clear(); // it views the groups' names
    groups_.clear();
    groups_.shrink_to_fit();
    recovered_ = std::make_unique<CNamedCacheItemArray>(std::nullopt);
    lastGroupName_ = {};
    lastGroup_ = 0;
    cacheNames_.clear();
    cacheNamesBuilt_ = false;
    // After the items and the names, which view their texts in it.
    arena_.Clear();
    {
        std::lock_guard lock(listingsMutex_);
        listings_.clear();
        // What threads remember of the listings let go is for a pass that
        // has ended.
        if (folderPass_.load(std::memory_order_relaxed) != 0)
            folderPass_.store(NewFolderPass(), std::memory_order_release);
    }
    decoded_ = false;
    stop_ = false;
    Trace("Exit  - CCache::DoShutdown()");
}

bool CCache::BeginDecode(Progress* progress, bool showMessages)
{
    bool expected = false;
    if (!decoding_.compare_exchange_strong(expected, true))
        return false;
    progress_ = progress;
    showMessages_ = showMessages;
    stopsAtStart_ = stopRequests_;
    return true;
}

int CCache::RunDecode()
{
    Trace("Entry - CCache::Decode()");
    DoShutdown();
    // DoShutdown clears the stop flag, which drops a stop requested after
    // the decode began (while its thread was starting, say); put it back.
    if (stopRequests_ != stopsAtStart_)
        stop_ = true;
    decodeCharged_ = 0;
    budgetSpent_ = false;
    int result = OpenDatabase();
    if (result != 0) {
        DoShutdown();
    } else {
        bool outOfMemory = false;
        try {
            result = DoDecode();
        } catch (const std::bad_alloc&) {
            outOfMemory = true;
        }
        if (outOfMemory || budgetSpent_) {
            // What was read is let go: the index is hostile or damaged.
            DoShutdown();
            ShowMessage(std::string(LoadString(IDS_DECODE_OUT_OF_MEMORY)) + folder_);
            Trace("     CCache::Decode - stopped: " + std::string(outOfMemory ? "out of memory" : "memory budget spent"));
            result = -1;
        }
        if (result == 0)
            decoded_ = true;
    }
    Trace("Exit  - CCache::Decode()");
    decoding_ = false;
    return result;
}

int CCache::Decode()
{
    return Decode(progress_, showMessages_);
}

int CCache::Decode(Progress* progress, bool showMessages)
{
    // A second decode on the same list would rebuild it under the first.
    if (!BeginDecode(progress, showMessages))
        return -1;
    return RunDecode();
}

int CCache::DecodeThread(Progress* progress, bool showMessages)
{
    Trace("Entry - CCache::DecodeThread()");
    if (!decoding_) {
        // The previous job's decode has ended (decoding is 0): let it finish
        // and reap its thread without a stop request reaching the cache.
        if (decodeJob_) {
            decodeJob_->Wait();
            decodeJob_.reset();
        }
        decodeJob_ = std::make_unique<DecodeJob>(*this, progress, showMessages);
        decodeJob_->Start();
    }
    Trace("Exit  - CCache::DecodeThread()");
    return 0;
}

void CCache::WaitForDecodeThread()
{
    if (decodeJob_)
        decodeJob_->Wait();
}

int CCache::Empty(OwnerWindow owner)
{
    Trace("Entry  - CCache::Empty()");
    int result = DoEmpty(owner);
    DoShutdown();
    Trace("Exit  - CCache::Empty()");
    return result;
}

int CCache::Empty(OwnerWindow owner, Progress* progress)
{
    progress_ = progress;
    return Empty(owner);
}

int CCache::DeleteItems(OwnerWindow owner, std::span<CCacheItem* const> items)
{
    Trace("Entry  - CCache::DeleteItems()");
    // Recovered items are never deleted: the index no longer lists them,
    // and their record keys name no record a decoder could remove.
    std::vector<CCacheItem*> live;
    if (std::any_of(items.begin(), items.end(), [](CCacheItem* item) { return item && item->IsRecovered(); })) {
        std::copy_if(items.begin(), items.end(), std::back_inserter(live),
                     [](CCacheItem* item) { return !item || !item->IsRecovered(); });
        items = live;
        Trace("       - recovered items are left as they are");
    }
    int result = DoDeleteItems(owner, items);
    Trace("Exit - CCache::DeleteItems()");
    return result;
}

int CCache::DeleteItems(OwnerWindow owner, Progress* progress, std::span<CCacheItem* const> items)
{
    progress_ = progress;
    return DeleteItems(owner, items);
}

namespace {

// The CSV row of item `i` of `group` (of `count` items).
void WriteCsvRow(const CNamedCacheItemArray& group, int32_t i, int32_t count, std::ostream& out)
{
    // Items a few rows ahead are fetched while a row is written, their
    // texts once the item itself has come in.
    constexpr int32_t kItemsAhead = 16, kTextsAhead = 8;
    if (i + kItemsAhead < count)
        if (const CCacheItem* ahead = group.ItemAt(i + kItemsAhead))
            ahead->PrefetchItem();
    if (i + kTextsAhead < count)
        if (const CCacheItem* ahead = group.ItemAt(i + kTextsAhead))
            ahead->PrefetchTexts();
    if (CCacheItem* item = group.ItemAt(i))
        item->WriteCSV(out);
}

} // namespace

bool CCache::ExportCSV(std::ostream& out)
{
    Trace("Entry  - CCache::ExportCSV()");
    if (!decoded_ || decoding_) {
        Trace("Exit  - CCache::ExportCSV() not decoded");
        return false;
    }
    // The rows are made in runs on two threads, and written in order.
    const ItemRows rows(*this);
    MakeRowsOnTwoThreads(
        rows.Runs(),
        [&rows](size_t run, RowRun& into) {
            std::ostream rowsOut(&into);
            rows.ForRowsOf(run, [&rowsOut](const CNamedCacheItemArray& group, int32_t i, int32_t count) {
                WriteCsvRow(group, i, count, rowsOut);
            });
        },
        [&out](std::string_view text) {
            out.write(text.data(), std::streamsize(text.size()));
            return bool(out);
        });
    Trace("Exit  - CCache::ExportCSV()");
    return true;
}

bool CCache::ChargeDecodeBytes(uint64_t bytes)
{
    if (!budgetSpent_ && bytes <= decodeBudget_ - std::min(decodeCharged_, decodeBudget_)) {
        decodeCharged_ += bytes;
        return true;
    }
    budgetSpent_ = true;
    RequestStop();
    return false;
}

uint64_t CCache::DecodeBudgetLeft() const
{
    return budgetSpent_ ? 0 : decodeBudget_ - std::min(decodeCharged_, decodeBudget_);
}

void CCache::AddItem(std::string_view groupName, std::unique_ptr<CCacheItem> item)
{
    if (!item || !ChargeDecodeBytes(item->HeldBytes() + groupName.size()))
        return;
    FileItem(GroupNamed(groupName), std::move(item));
}

bool CCache::AddItemsMadeAhead(std::span<const std::string_view> groupNames, std::span<const uint32_t> groupOf,
                               std::span<std::unique_ptr<CCacheItem>> items, uint64_t charge)
{
    // Each item's charge fits where their sum does.
    if (charge > DecodeBudgetLeft() || groupOf.size() != items.size())
        return false;
    decodeCharged_ += charge;
    // The groups not there yet are made in the order their first items
    // come, as AddItem makes them.
    std::vector<CNamedCacheItemArray*> groups;
    groups.reserve(groupNames.size());
    for (std::string_view name : groupNames)
        groups.push_back(&GroupNamed(name));
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i] && groupOf[i] < groups.size())
            FileItem(*groups[groupOf[i]], std::move(items[i]));
    }
    return true;
}

CNamedCacheItemArray& CCache::GroupNamed(std::string_view groupName)
{
    if (lastGroupName_.data() && lastGroupName_ == groupName)
        return *groups_[lastGroup_];
    auto found = groupIndex_.find(groupName);
    if (found == groupIndex_.end()) {
        groups_.push_back(std::make_unique<CNamedCacheItemArray>(groupName));
        found = groupIndex_.emplace(groups_.back()->GetNameView(), groups_.size() - 1).first;
    }
    lastGroupName_ = found->first;
    lastGroup_ = found->second;
    return *groups_[lastGroup_];
}

void CCache::FileItem(CNamedCacheItemArray& group, std::unique_ptr<CCacheItem> item)
{
    // The item is read only when the names are kept: a decode files items
    // made on another thread, no longer in this core's cache.
    if (cacheNamesBuilt_) {
        if (const char* cacheName = item->GetCacheName())
            cacheNames_.emplace(cacheName, size_t(item->GetCacheNameLength()));
    }
    group.Add(std::move(item));
}

void CCache::AddRecoveredItem(std::unique_ptr<CCacheItem> item)
{
    if (!item || !ChargeDecodeBytes(item->HeldBytes()))
        return;
    if (!item->IsRecovered())
        item->SetRecovered(false);
    recovered_->Add(std::move(item));
}

bool CCache::HasCacheName(std::string_view name) const
{
    if (!cacheNamesBuilt_) {
        for (const auto& group : groups_) {
            for (int32_t i = 0; i < group->GetCount(); ++i) {
                if (const char* cacheName = group->ItemAt(i)->GetCacheName())
                    cacheNames_.emplace(cacheName, size_t(group->ItemAt(i)->GetCacheNameLength()));
            }
        }
        cacheNamesBuilt_ = true;
    }
    return cacheNames_.find(name) != cacheNames_.end();
}

namespace {

// The hash of a name's folded form, the same for the names a listing holds
// and the names asked about. Plain ASCII names (nearly all) are folded in
// a buffer kept per thread, without an allocation each.
uint64_t FoldedNameHash(std::string_view name)
{
    thread_local std::string folded;
    if (std::all_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        folded.resize(name.size());
        for (size_t i = 0; i < name.size(); ++i) {
            const char c = name[i];
            folded[i] = (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
        }
    } else {
        folded = platform::FoldCase(name);
    }
    return std::hash<std::string_view>{}(folded);
}

// What a thread has learned inside a pass about the folders it asked
// about. In a pass a folder is looked at once and its listing does not
// change after, so the thread's next asks about the same folders (a
// listing asks about every item, spread over a cache's few folders) take
// no lock.
struct KnownFolders {
    enum class Answer { Missing, NotCertain, ByName };
    struct Known {
        Answer answer = Answer::NotCertain;
        const std::vector<uint64_t>* names = nullptr; // the listing's, for ByName
    };
    // A cache has a few folders; one that names more is asked about afresh.
    static constexpr size_t kMostFolders = 256;
    uint64_t pass = 0;
    std::unordered_map<std::string, Known, CCache::TextHash, std::equal_to<>> folders;
};
thread_local KnownFolders tKnownFolders;

std::atomic<uint64_t> lastFolderPass{0};

} // namespace

uint64_t CCache::NewFolderPass()
{
    return lastFolderPass.fetch_add(1, std::memory_order_relaxed) + 1;
}

bool CCache::IsCertainlyMissing(const std::string& path) const
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0)
        return false;
    const std::string_view folder = std::string_view(path).substr(0, slash);
    using Answer = KnownFolders::Answer;
    KnownFolders& memo = tKnownFolders;
    if (const uint64_t pass = folderPass_.load(std::memory_order_acquire); pass != 0) {
        if (memo.pass != pass) {
            memo.folders.clear();
            memo.pass = pass;
        }
        if (auto found = memo.folders.find(folder); found != memo.folders.end()) {
            if (found->second.answer != Answer::ByName)
                return found->second.answer == Answer::Missing;
            const uint64_t name = FoldedNameHash(std::string_view(path).substr(slash + 1));
            return !std::binary_search(found->second.names->begin(), found->second.names->end(), name);
        }
    }
    // Kept for this thread's next asks, inside a pass (under the lock).
    auto remember = [&](Answer answer, const std::vector<uint64_t>* names = nullptr) {
        if (const uint64_t pass = folderPass_.load(std::memory_order_relaxed); pass != 0 && pass == memo.pass) {
            if (memo.folders.size() >= KnownFolders::kMostFolders)
                memo.folders.clear();
            memo.folders.insert_or_assign(std::string(folder), KnownFolders::Known{answer, names});
        }
    };
    FolderListing* entry = nullptr;
    struct stat st {};
    int looked = 0;
    int lookError = 0;
    bool known = false;
    {
        std::lock_guard lock(listingsMutex_);
        auto found = listings_.find(folder);
        if (found == listings_.end()) {
            FolderListing listing;
            listing.resolved = platform::ResolvePath(std::string(folder));
            found = listings_.emplace(std::string(folder), std::move(listing)).first;
        }
        // Entries stay put until DoShutdown, and their resolved path does
        // not change: the folder is looked at without the lock, so that
        // checks on several threads do not wait for one another's stat.
        entry = &found->second;
        // Inside a pass, a folder already looked at in it is not looked at
        // again.
        if (const uint64_t pass = folderPass_.load(std::memory_order_relaxed); pass && entry->lookedInPass == pass) {
            st = entry->looked;
            looked = entry->lookResult;
            lookError = entry->lookError;
            known = true;
        }
    }
    if (!known) {
        looked = ::stat(entry->resolved.c_str(), &st);
        lookError = errno;
    }
    std::lock_guard lock(listingsMutex_);
    FolderListing& listing = *entry;
    if (const uint64_t pass = folderPass_.load(std::memory_order_relaxed); !known && pass) {
        if (listing.lookedInPass == pass) {
            // Another thread looked first in this pass: its look holds for
            // every thread, so that the listing is made once in the pass.
            st = listing.looked;
            looked = listing.lookResult;
            lookError = listing.lookError;
        } else {
            listing.lookedInPass = pass;
            listing.looked = st;
            listing.lookResult = looked;
            listing.lookError = lookError;
        }
    }
    if (looked != 0) {
        // Only a folder that is plainly not there: any other failure is for
        // the file's own check to tell.
        listing.missing = lookError == ENOENT;
        listing.usable = listing.missing;
        listing.foldedNames.clear();
        remember(listing.missing ? Answer::Missing : Answer::NotCertain);
        return listing.missing;
    }
    // A folder changed in the last moments may change again within the
    // same tick of its clock, unseen by its time of change: looked at name
    // by name instead.
    timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    if (now.tv_sec - st.st_mtim.tv_sec < 2) {
        remember(Answer::NotCertain);
        return false;
    }
    if (!listing.usable || listing.missing || st.st_mtim.tv_sec != listing.changedSeconds ||
        st.st_mtim.tv_nsec != listing.changedNanoseconds) {
        listing.usable = false;
        listing.missing = false;
        listing.foldedNames.clear();
        listing.changedSeconds = st.st_mtim.tv_sec;
        listing.changedNanoseconds = st.st_mtim.tv_nsec;
        // Listed through the contained walk: a folder link is followed only
        // while it stays inside the examined tree.
        if (platform::UniqueFd fd = platform::OpenContained(listing.resolved, platform::OpenAs::Directory)) {
            if (DIR* dir = ::fdopendir(fd.Get())) {
                fd.Release();
                while (const dirent* entry = ::readdir(dir))
                    listing.foldedNames.push_back(FoldedNameHash(entry->d_name));
                ::closedir(dir);
                std::sort(listing.foldedNames.begin(), listing.foldedNames.end());
                listing.usable = true;
            }
        }
    }
    if (!listing.usable) {
        remember(Answer::NotCertain);
        return false;
    }
    remember(Answer::ByName, &listing.foldedNames);
    // A name whose hash the folder holds is looked at: a name like it may
    // be there (or the hashes of two names met).
    const uint64_t name = FoldedNameHash(std::string_view(path).substr(slash + 1));
    return !std::binary_search(listing.foldedNames.begin(), listing.foldedNames.end(), name);
}

CCache::FolderPass::FolderPass(const CCache& cache)
    : cache_(cache)
{
    std::lock_guard lock(cache_.listingsMutex_);
    if (cache_.folderPassHolders_++ == 0)
        cache_.folderPass_.store(NewFolderPass(), std::memory_order_release);
}

CCache::FolderPass::~FolderPass()
{
    std::lock_guard lock(cache_.listingsMutex_);
    if (--cache_.folderPassHolders_ == 0)
        cache_.folderPass_.store(0, std::memory_order_release);
}

int32_t CCache::GetItemCount() const
{
    int32_t count = 0;
    for (const auto& group : groups_)
        count += group->GetCount();
    return count;
}

CNamedCacheItemArray* CCache::GetGroup(int32_t index) const
{
    if (index < 0 || index >= GetGroupCount())
        return nullptr;
    return groups_[size_t(index)].get();
}

void CCache::ShowMessage(const std::string& text) const
{
    if (showMessages_)
        context_.Messages().ShowMessage(text, MessageIcon::Exclamation);
}

void CCache::ShowOpenFailure(const std::string& path) const
{
    struct stat st {};
    if (path.empty() || (::stat(path.c_str(), &st) != 0 && errno == ENOENT)) {
        ShowMessage(std::string(LoadString(IDS_DB_NOT_FOUND)) + folder_);
        return;
    }
    std::string reason;
    // O_NONBLOCK: a FIFO of that name is not waited for.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        reason = std::strerror(errno);
    } else {
        ::close(fd);
        reason = S_ISDIR(st.st_mode) ? "a folder, not a file" : !S_ISREG(st.st_mode) ? "not a plain file" : "not readable";
    }
    ShowMessage(std::string(LoadString(IDS_DB_UNREADABLE)) + path + ": " + reason);
}

void CCache::ShowInvalidHeader(const std::string& path, std::string_view reason) const
{
    std::string text = std::string(LoadString(IDS_INVALID_HEADER)) + "\n" + path;
    if (!reason.empty())
        text += ": " + std::string(reason);
    ShowMessage(text);
}

void CCache::ProgressSetRange(int32_t total)
{
    if (progress_) {
        progress_->SetRange(0, total);
        progress_->SetPos(0);
    }
}

void CCache::ProgressSetPos(int32_t position)
{
    if (progress_)
        progress_->SetPos(position);
}

} // namespace oriel
