// The abstract cache: one browser cache folder, the decoder that reads its
// index, and the items of the last decode grouped by server name.
#pragma once

#include "app/AppContext.h"
#include "model/CacheItem.h"
#include "platform/ContainedPath.h"
#include "platform/OwnerWindow.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <sys/stat.h>

namespace oriel {

class DecodeJob;
class Progress;
struct BrowserProfile;

// One named group of items (for URL-based caches, one server).
class CNamedCacheItemArray {
public:
    explicit CNamedCacheItemArray(OptText name);
    // Not for a group a cache holds: its group table views the name.
    void SetName(OptText name);
    const char* GetName() const { return name_ ? name_->c_str() : nullptr; }
    // The whole name (NULs too); empty when none.
    std::string_view GetNameView() const { return name_ ? std::string_view(*name_) : std::string_view(); }
    int32_t GetCount() const { return int32_t(items_.size()); }
    CCacheItem* ItemAt(int32_t index) const;
    void Add(std::unique_ptr<CCacheItem> item);

private:
    std::optional<std::string> name_;
    std::vector<std::unique_ptr<CCacheItem>> items_;
};

class CCache {
public:
    // A hash for the cache's tables of texts, which are looked up by a
    // string_view without building a string.
    struct TextHash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };

    CCache(const AppContext& context, BrowserProfile* profile, std::string folder);
    virtual ~CCache();
    CCache(const CCache&) = delete;
    CCache& operator=(const CCache&) = delete;

    // Clears the item list and resets the decoded and stop flags.
    virtual void DoShutdown();
    // Reads the index and adds every item; 0 on success.
    virtual int DoDecode() = 0;
    // Removes every cached file of this cache; 0 on success.
    virtual int DoEmpty(OwnerWindow owner) = 0;
    // Deletes the given items' files and index entries; 0 on success.
    virtual int DoDeleteItems(OwnerWindow owner, std::span<CCacheItem* const> items) = 0;
    // 0 if the index can be opened; otherwise shows the format's message
    // (when show-messages is on) and returns non-zero.
    virtual int OpenDatabase() { return 0; }

    // Decodes on the calling thread; -1 without touching the list while
    // another decode of this cache runs.
    int Decode();
    int Decode(Progress* progress, bool showMessages);
    // Starts a decode on a worker thread (a DecodeJob the cache keeps) and
    // returns 0 at once; does nothing while a decode runs.
    int DecodeThread(Progress* progress, bool showMessages);
    // Waits for a decode started by DecodeThread to end.
    void WaitForDecodeThread();
    int Empty(OwnerWindow owner);
    int Empty(OwnerWindow owner, Progress* progress);
    int DeleteItems(OwnerWindow owner, std::span<CCacheItem* const> items);
    int DeleteItems(OwnerWindow owner, Progress* progress, std::span<CCacheItem* const> items);
    // Writes every item's CSV row; false without writing unless decoded.
    bool ExportCSV(std::ostream& out);

    // What one decode may hold in items (their texts and headers) before
    // it is stopped: an index that makes each of many records copy a large
    // block would otherwise take all the memory there is.
    static constexpr uint64_t kDefaultDecodeBudget = uint64_t(1) << 30;
    void SetDecodeBudget(uint64_t bytes) { decodeBudget_ = bytes; }

    // Files an item under its group; decoders call it for every item. An
    // item past the decode's budget is dropped, and the decode stops and
    // fails with a message.
    void AddItem(std::string_view groupName, std::unique_ptr<CCacheItem> item);
    // Files items a decoder made ahead (on another thread), in order, item
    // i under groupNames[groupOf[i]], with `charge` the sum of what AddItem
    // would charge for them: the same as AddItem for each, when the budget
    // takes them all. False, with nothing filed, when it does not (the
    // caller then adds them one by one, and the budget stops the decode
    // where it would).
    bool AddItemsMadeAhead(std::span<const std::string_view> groupNames, std::span<const uint32_t> groupOf,
                           std::span<std::unique_ptr<CCacheItem>> items, uint64_t charge);
    // Files a recovered item (CCacheItem::IsRecovered) in the one list of
    // recovered items, apart from the groups: item counts, the CSV export
    // and HasCacheName see only the live items. Charged to the budget as
    // AddItem charges.
    void AddRecoveredItem(std::unique_ptr<CCacheItem> item);
    // Where this cache's items keep their texts; let go with the items.
    ItemArena& GetItemArena() { return arena_; }
    // Whether the items of the next decode keep their stored HTTP headers.
    // A caller that never shows them (an export, a plain listing) decodes
    // without: the headers are still read for the type, length and encoding
    // they give, but not kept (some 80 bytes an item).
    void SetKeepsHeaders(bool keep) { keepsHeaders_ = keep; }
    bool KeepsHeaders() const { return keepsHeaders_; }
    // The recovered items of the last decode (an unnamed group).
    const CNamedCacheItemArray& GetRecoveredItems() const { return *recovered_; }
    int32_t GetRecoveredCount() const { return recovered_->GetCount(); }
    // True if any item's cache name equals `name` exactly.
    bool HasCacheName(std::string_view name) const;
    int32_t GetItemCount() const;
    // True when the file `path` is certainly not there: its folder is
    // missing, or the folder's listing (taken once while the items live)
    // holds no name like it without regard to case. False means the caller
    // looks at the file itself. A listing of 40,000 items whose bodies are
    // gone then costs a few folder reads, not a path walk per item.
    bool IsCertainlyMissing(const std::string& path) const;
    // While a pass over many items holds one (a listing, the list's check
    // of which bodies are there), each folder is looked at once, when the
    // pass first asks about it, instead of once per item: the pass sees
    // the folders as they were then. Passes may overlap; outside any, every
    // question looks again. The questions a pass covers, on any thread,
    // are answered before it closes.
    class FolderPass {
    public:
        explicit FolderPass(const CCache& cache);
        ~FolderPass();
        FolderPass(const FolderPass&) = delete;
        FolderPass& operator=(const FolderPass&) = delete;
        bool Of(const CCache& cache) const { return &cache_ == &cache; }

    private:
        const CCache& cache_;
    };
    bool IsDecoded() const { return decoded_ && !decoding_; }
    bool IsDecoding() const { return decoding_; }
    void RequestStop()
    {
        // Counted first: a decode that clears the flag while it begins
        // sees from the count that a stop came after its start.
        ++stopRequests_;
        stop_ = true;
    }
    bool StopRequested() const { return stop_; }
    // Drops a stop request left over from an earlier operation; a job that
    // deletes calls it when it begins, on the starting thread, while no
    // decode runs.
    void ClearStopRequest() { stop_ = false; }

    // The options, examined system, message sink and trace log this cache
    // works with.
    const AppContext& Context() const { return context_; }
    const std::string& GetFolder() const { return folder_; }
    int32_t GetFolderLength() const { return int32_t(folder_.size()); }
    int32_t GetGroupCount() const { return int32_t(groups_.size()); }
    CNamedCacheItemArray* GetGroup(int32_t index) const;
    BrowserProfile* GetProfile() const { return profile_; }
    int32_t GetProgressTotal() const { return progressTotal_; }
    Progress* GetProgress() const { return progress_; }
    void SetProgress(Progress* progress) { progress_ = progress; }
    bool ShowMessages() const { return showMessages_; }
    void SetShowMessages(bool show) { showMessages_ = show; }

protected:
    // Subclass destructors call this first, so that a decode thread never
    // runs on a half-destroyed cache.
    void StopDecodeThread()
    {
        RequestStop();
        WaitForDecodeThread();
    }
    // Shows `text` with the exclamation icon when show-messages is on.
    void ShowMessage(const std::string& text) const;
    // Shows why the database file `path` could not be opened: that it is
    // not in the folder, or the system's reason ("Permission denied"),
    // naming the file.
    void ShowOpenFailure(const std::string& path) const;
    // Shows that the header of `path` is invalid, naming the file, and why
    // when `reason` is given.
    void ShowInvalidHeader(const std::string& path, std::string_view reason = {}) const;
    void Trace(std::string_view text) const { context_.Trace(text); }
    // Progress helpers that do nothing without a progress target.
    void ProgressSetRange(int32_t total);
    void ProgressSetPos(int32_t position);
    void SetProgressTotal(int32_t total) { progressTotal_ = total; }
    // Counts `bytes` that the decode keeps outside its items (a block that
    // items share) against the budget; false once it is spent, and then
    // the decode is stopped.
    bool ChargeDecodeBytes(uint64_t bytes);
    // The bytes the budget still takes: what a decoder may hold in items it
    // makes ahead of adding them; 0 once the budget is spent.
    uint64_t DecodeBudgetLeft() const;

    Progress* progress_ = nullptr;
    bool showMessages_ = true;
    int32_t progressTotal_ = 0;

private:
    friend class DecodeJob;
    // The two halves of a decode: BeginDecode claims the decoding flag on
    // the starting thread (false when a decode already runs) and stores the
    // progress target and messages flag; RunDecode is the decode itself and
    // releases the flag.
    bool BeginDecode(Progress* progress, bool showMessages);
    int RunDecode();

    // Declared before the groups, so that it outlives their items.
    ItemArena arena_;
    bool keepsHeaders_ = true;
    std::vector<std::unique_ptr<CNamedCacheItemArray>> groups_;
    std::unique_ptr<CNamedCacheItemArray> recovered_ = std::make_unique<CNamedCacheItemArray>(std::nullopt);
    // Beside the ordered groups: group name -> index, and every cache name,
    // so that AddItem and HasCacheName stay fast with 100,000 items.
    // Looked up by string_view (TextHash), so that finding a group or a
    // name builds no string of its own.
    // Keyed by a view of each group's own name: a group stays put (it is
    // held by pointer) and keeps its name, and a cache of many servers does
    // not keep every name twice.
    std::unordered_map<std::string_view, size_t, TextHash> groupIndex_;
    // The group of that name, made at the end if there is none.
    CNamedCacheItemArray& GroupNamed(std::string_view groupName);
    void FileItem(CNamedCacheItemArray& group, std::unique_ptr<CCacheItem> item);
    // The group the last item went to: decoders meet the records of one
    // server one after another more often than not, and then the table is
    // not asked.
    std::string_view lastGroupName_;
    size_t lastGroup_ = 0;
    // Built on the first HasCacheName, then kept up to date: decoders that
    // never ask do not pay for it. Views of the items' own texts, which the
    // arena keeps until the cache lets its items go.
    mutable std::unordered_set<std::string_view, TextHash> cacheNames_;
    mutable bool cacheNamesBuilt_ = false;
    // Folder path -> what a listing of it found (IsCertainlyMissing); a
    // folder whose time of change moved is listed again.
    struct FolderListing {
        std::string resolved;
        bool usable = false;  // false: nothing is known, always look
        bool missing = false; // the folder is not there
        int64_t changedSeconds = 0;
        int64_t changedNanoseconds = 0;
        std::vector<uint64_t> foldedNames; // hashes of the case-folded names, sorted
        // The folder's last look, kept for the pass it was made in.
        uint64_t lookedInPass = 0;
        int lookResult = 0;
        int lookError = 0;
        struct stat looked {};
    };
    // The pass now open (0: none), and how many hold it. A pass's number
    // is the process's, never given twice, so that what a thread remembers
    // of a pass is never taken for another pass or another cache's
    // (IsCertainlyMissing).
    mutable std::atomic<uint64_t> folderPass_{0};
    static uint64_t NewFolderPass();
    mutable int folderPassHolders_ = 0;
    mutable std::mutex listingsMutex_;
    mutable std::unordered_map<std::string, FolderListing, TextHash, std::equal_to<>> listings_;
    const AppContext& context_;
    std::string folder_;
    // The folder is a container of the files read from it while the cache
    // lives (platform/ContainedPath.h).
    std::shared_ptr<platform::ContainerRegistration> container_;
    std::atomic<bool> stop_{false};
    std::atomic<uint32_t> stopRequests_{0};
    // stopRequests_ when the running decode began.
    uint32_t stopsAtStart_ = 0;
    std::atomic<bool> decoded_{false};
    std::atomic<bool> decoding_{false};
    BrowserProfile* profile_;
    std::unique_ptr<DecodeJob> decodeJob_;
    uint64_t decodeBudget_ = kDefaultDecodeBudget;
    uint64_t decodeCharged_ = 0;
    bool budgetSpent_ = false;
};

} // namespace oriel
