// One cached object as a decoder found it: URL, where the body lies, size,
// MIME type, three dates and the stored HTTP response headers.
#pragma once

#include "model/ItemArena.h"
#include "model/ItemHeap.h"
#include "platform/LogSink.h"
#include "platform/RegistryReader.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace oriel {

class CCache;
class TypeIconSource;

// A text a decoder supplies, or none (std::nullopt).
using OptText = std::optional<std::string_view>;

class CCacheItem {
public:
    enum Encoding : int32_t {
        kEncodingNone = -1,
        kEncodingGzip = 1,
        kEncodingCompress = 2,
        kEncodingDeflate = 3,
        kEncodingBrotli = 4
    };

    CCacheItem(CCache* owner, int32_t recordKey);
    // With content type.
    CCacheItem(CCache* owner, int32_t recordKey, OptText url, OptText urlPath, OptText cacheName,
               OptText contentType, int32_t size, int64_t lastModified, int64_t downloaded, int64_t expires);
    // With headers: the size is set before the headers are parsed, so a
    // non-zero size from the index wins over a Content-Length header.
    CCacheItem(CCache* owner, int32_t recordKey, OptText url, OptText urlPath, OptText cacheName, int32_t size,
               int64_t lastModified, int64_t downloaded, int64_t expires, OptText headers);
    virtual ~CCacheItem();
    CCacheItem(const CCacheItem&) = delete;
    // Items of every kind live in the item heap (model/ItemHeap.h); the
    // size a delete is given is that of the item's own class.
    static void* operator new(size_t size) { return ItemHeap::Allocate(size); }
    static void operator delete(void* block, size_t size) noexcept { ItemHeap::Free(block, size); }
    CCacheItem& operator=(const CCacheItem&) = delete;

    // Asks the processor for the item itself, or for its texts, ahead of a
    // walk that will read them: a group's items lie far apart in memory
    // (made in the index's order, the groups interleaved).
    void PrefetchItem() const { __builtin_prefetch(this); }
    void PrefetchTexts() const
    {
        __builtin_prefetch(url_.c_str());
        __builtin_prefetch(cacheName_.c_str());
    }
    const char* GetURL() const { return Get(url_); }
    int32_t GetURLLength() const { return Length(url_); }
    const char* GetCacheName() const { return Get(cacheName_); }
    int32_t GetCacheNameLength() const { return Length(cacheName_); }
    virtual const char* GetDisplayCacheName() { return GetCacheName(); }
    virtual int32_t GetDisplayCacheNameLength() { return GetCacheNameLength(); }
    const char* GetURLPath() const { return Get(urlPath_); }
    int32_t GetURLPathLength() const { return Length(urlPath_); }
    // Host path of the body (or of its working copy); null when none.
    virtual const char* GetFilePath() = 0;
    virtual int32_t GetFilePathLength() = 0;
    const char* GetHeaders() const { return headers_.c_str(); }
    const char* GetContentType() const { return Get(contentType_); }
    // The size field's 32 bits, unsigned: a 4 GB field is 4294967295.
    int64_t GetSize() const { return size_; }
    const std::string& GetSizeText();
    int64_t GetLastModified() const { return lastModifiedIsText_ ? 0 : lastModified_; }
    // The time to sort the last-modified dates by: the time, or for a date
    // kept only as text the time that text denotes (an HTTP date); 0 when
    // there is neither.
    int64_t GetLastModifiedSortTime();
    const std::string& GetLastModifiedText();
    // The text GetLastModifiedText gives, appended to `out` without being
    // kept (an export or a listing touches every item once).
    void AppendLastModifiedText(std::string& out) const;
    // That text when the item holds it as text (made by the window, or the
    // only form the format gave); none when it is the date of
    // GetLastModified, formatted.
    std::optional<std::string_view> HeldLastModifiedText() const;
    int64_t GetDownloaded() const { return downloaded_; }
    const std::string& GetDownloadedText();
    int64_t GetExpires() const { return expires_; }
    // When the browser last used the entry, for the formats that keep it
    // (same time base as the other dates); 0 when unknown.
    int64_t GetLastAccessed() const { return lastAccessed_; }
    void SetLastAccessed(int64_t time) { lastAccessed_ = time; }
    const std::string& GetExpiresText();
    virtual bool Exists() = 0;
    // Makes the body openable by a program that judges files by their
    // extension (decoded, extracted or copied with an extension).
    virtual bool PrepareFile() = 0;
    // The icon index of the item's type in `icons`, looked up once.
    int32_t GetTypeIcon(TypeIconSource& icons);
    void SetTypeIcon(int32_t index) { typeIcon_ = index; }
    virtual bool DeleteCacheFile() = 0;
    // Writes the body as PrepareFile would give it (extracted, decoded) to
    // the new file `target`, without writing anything beside the body;
    // false when the item cannot (then PrepareFile is the way).
    virtual bool ExtractBodyTo(const std::string& target)
    {
        (void)target;
        return false;
    }
    // Writes the item's CSV row; always true. Defined in model/CsvExport.cpp,
    // beside the header of the same file.
    virtual bool WriteCSV(std::ostream& out);

    // True for an entry the browser had already removed from its cache
    // whose file is still there (Firefox's "doomed" entries).
    virtual bool IsDeleted() const { return false; }
    // True for an entry the cache no longer lists that the decoder found
    // still standing: a record in blocks marked free, a body no record
    // names, an entry the browser doomed or can no longer reach. Such items
    // are kept apart from the live ones (CCache::AddRecoveredItem).
    bool IsRecovered() const { return Recovery(recovery_) != Recovery::Live; }
    // True for a recovered record that later writes cut short: only the
    // fields that lie wholly inside what is left are set.
    bool IsPartial() const { return Recovery(recovery_) == Recovery::Partial; }
    void SetRecovered(bool partial) { recovery_ = uint8_t(partial ? Recovery::Partial : Recovery::Whole); }
    // Fields that only this item's format has, as (label, text) pairs in
    // the order they are shown; none for most formats. By default those a
    // decoder added (where a recovered entry was found).
    virtual std::vector<std::pair<std::string, std::string>> GetFormatProperties() const;
    // One (label, text) pair more for GetFormatProperties to give; most
    // items have none and pay nothing for it.
    void AddFormatProperty(std::string label, std::string text);
    // Why the body counts as missing when that is more than its absence (a
    // link that leads out of the examined tree); empty otherwise.
    const std::string& GetBodyProblem() const;
    // The properties shown for the item: the format's, then "Body problem"
    // when there is one.
    std::vector<std::pair<std::string, std::string>> GetProperties() const;

    int32_t GetRecordKey() const { return recordKey_; }
    // For a decoder that makes items ahead, on another thread, and numbers
    // them once it knows how many records came before.
    void SetRecordKey(int32_t key) { recordKey_ = key; }
    int32_t GetContentEncoding() const { return contentEncoding_; }
    // One of the kEncoding values.
    void SetContentEncoding(int32_t encoding) { contentEncoding_ = int8_t(encoding); }
    CCache* GetOwner() const { return owner_; }

    // Setters for fields that are still empty.
    void SetURL(std::string_view text) { url_ = Copy(text); }
    void SetURLPath(std::string_view text);
    void SetCacheName(std::string_view text) { cacheName_ = Copy(text); }
    void SetContentType(std::string_view text) { contentType_ = Copy(text); }
    // Kept unless the owner decodes without headers (CCache::SetKeepsHeaders).
    void SetHeaders(std::string_view text);
    // Headers that several items share (records that name one metadata
    // block): the text is kept once, not copied per item; parsed as
    // ParseHeaders does.
    void SetSharedHeaders(std::shared_ptr<const std::string> headers);
    // The bytes this item holds of its own (texts, not shared headers),
    // for the decode's memory budget.
    size_t HeldBytes() const;
    void SetSize(int32_t size);
    void SetDownloaded(int64_t time);
    void SetExpires(int64_t time);
    // For formats that keep the date only as text: the time becomes 0 and
    // GetLastModifiedText returns this text unchanged.
    void SetLastModifiedText(OptText text);

    // Takes Content-Length, Content-Type and Content-Encoding from the
    // header text (CR LF separated).
    void ParseHeaders(std::string_view headers);

    // Decodes the body at `source` into `destination` by the content
    // encoding; 0 on success.
    int Decompress(const std::string& source, const std::string& destination);
    // True when the last decoding of the body was cut at the decoded-size
    // cap: the working copy holds only the body's first 256 MiB.
    bool IsBodyCut() const { return bodyCut_; }

    // The extension to use for this item when opening or copying it: from
    // the body's name, the URL path, or the content type; empty if none.
    std::string FindExtension(std::string_view bodyFileName);

protected:
    static const char* Get(const ItemText& s) { return s.c_str(); }
    static int32_t Length(const ItemText& s) { return s.size(); }
    // Where the item's texts are kept: the owner's arena, or for an item
    // without a cache one of its own.
    ItemArena& Arena();
    // A copy of `t` in the arena.
    ItemText Copy(OptText t);
    // False when the owner decodes without keeping headers.
    bool KeepsHeaders() const;
    // The texts a constructor is given, copied in one piece; a URL path that
    // ends the URL is a view of the URL's copy.
    void CopyTexts(OptText url, OptText urlPath, OptText cacheName, OptText contentType, OptText headers);
    void SetBodyProblem(const std::string& problem);

    // Trace lines go to the owning cache's log; an item without a cache logs
    // nothing.
    void Trace(std::string_view text) const;
    platform::LogSink* Log() const;
    // What a decoded body may grow to (the owner's options; the default
    // without a cache).
    uint64_t DecodedSizeCap() const;
    // The examined system's registry (an empty one without a cache).
    std::shared_ptr<const platform::RegistryReader> Registry() const;

    // The pointers and eight-byte fields first, the small ones last, so
    // that a derived item's own small fields fill what is left of the last
    // eight bytes: an item of a plain file is 120 bytes.
    CCache* owner_;
    ItemText url_;
    ItemText urlPath_;
    ItemText cacheName_;
    ItemText headers_;
    ItemText contentType_;
    // A format that keeps the last-modified date only as text (an HTTP
    // date) has its text here instead of a time: a date text per item in
    // the display texts would cost a few hundred bytes an item.
    union {
        int64_t lastModified_ = 0;
        ItemText lastModifiedText_; // when lastModifiedIsText_
    };
    std::optional<std::string_view> StoredLastModifiedText() const
    {
        if (!lastModifiedIsText_)
            return std::nullopt;
        return *lastModifiedText_;
    }
    int64_t downloaded_ = 0;
    int64_t expires_ = 0;
    int64_t lastAccessed_ = 0;
    // The display texts, made when first asked for (the list asks only for
    // the rows it paints; an export formats without keeping them).
    struct DisplayTexts {
        std::optional<std::string> size;
        std::optional<std::string> lastModified;
        std::optional<std::string> downloaded;
        std::optional<std::string> expires;
    };
    // What few items need, kept apart so that the others do not pay for it:
    // display texts (rows the window has painted), a body problem, the
    // properties a decoder added, and for an item without a cache the
    // store of its texts.
    struct Extras {
        DisplayTexts texts;
        std::string bodyProblem;
        std::vector<std::pair<std::string, std::string>> properties;
        std::unique_ptr<ItemArena> arena;
    };
    Extras& Extra();
    DisplayTexts& Texts() { return Extra().texts; }
    const DisplayTexts* KeptTexts() const { return extras_ ? &extras_->texts : nullptr; }
    void ForgetSizeText()
    {
        if (extras_)
            extras_->texts.size.reset();
    }
    std::unique_ptr<Extras> extras_;
    int32_t recordKey_;
    uint32_t size_ = 0;
    int32_t typeIcon_ = -1;
    int8_t contentEncoding_ = kEncodingNone;
    bool bodyCut_ = false; // written when a body is prepared, apart from the bits below
    // Set while the item is made, before another thread can see it: they
    // share one byte.
    bool headersShared_ : 1 = false;
    bool lastModifiedIsText_ : 1 = false;
    enum class Recovery : uint8_t { Live, Whole, Partial };
    uint8_t recovery_ : 2 = uint8_t(Recovery::Live);
};

static_assert(alignof(CCacheItem) <= ItemHeap::kAlignment, "the item heap's room is too loosely aligned");

// An item whose body is a plain file inside the cache folder.
class CFileCacheItem : public CCacheItem {
public:
    using CCacheItem::CCacheItem;
    ~CFileCacheItem() override;

    const char* GetFilePath() override;
    int32_t GetFilePathLength() override;
    bool Exists() override;
    bool PrepareFile() override;
    bool DeleteCacheFile() override;

    bool IsPrepared() const { return paths_ && paths_->prepared; }
    // The body inside the cache folder (never a working copy); none until
    // GetFilePath or Exists has looked it up.
    const std::optional<std::string>& GetBodyPath() const;
    bool DeletesOnDestroy() const { return paths_ && paths_->deleteOnDestroy; }

protected:
    // The body's path inside the cache folder as the cache name spells it
    // (not yet looked up without regard to case); none when the name is
    // missing or would leave the folder.
    std::optional<std::string> SpelledBodyPath() const;
    // The same path spelled in `out` (its room reused); false for none.
    bool SpellBodyPathIn(std::string& out) const;
    static void RemoveWorkingCopy(const std::string& copy);

    bool exists_ = true;
    struct Paths {
        std::optional<std::string> file;
        // The body itself, kept apart from a working copy that replaced it
        // in `file`, so that deleting the item removes the body, not the copy.
        std::optional<std::string> body;
        // Preparing settles the paths first, so what it did is kept here.
        bool prepared = false;
        bool deleteOnDestroy = false; // `file` is a working copy of this item's own
    };
    // Made when a path is first settled: an export or a listing of missing
    // bodies never needs one.
    Paths& PathsOf();
    bool HasFilePath() const { return paths_ && paths_->file; }
    std::unique_ptr<Paths> paths_;
};

// Icon indexes for item types: the window's file-type icon cache.
class TypeIconSource {
public:
    virtual ~TypeIconSource() = default;
    virtual int32_t GetIcon(const std::string& extension, const char* contentType) = 0;
};

} // namespace oriel
