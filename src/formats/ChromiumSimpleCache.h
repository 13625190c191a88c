// The Chromium simple cache: a folder of entry files, one "<hash>_0" per
// entry holding its key, its body (stream 1) and its response info with
// the headers (stream 0), "<hash>_s" files with sparse data, the marker
// file "index" and the optional "index-dir/the-real-index" (see
// ChromiumSimpleEntryFile.h and ChromiumSimpleIndexFile.h).
//
// Every "_0" file that starts with the entry magic is an item, listed in
// file-name order whether or not the index names it; its body is a byte
// range of the file, extracted (and decoded by its Content-Encoding) on
// demand. A "_0" file whose records at the end are damaged is listed with
// its key and without a body. A "_s" file adds its ranges to its entry's
// properties; one without a "_0" file is listed by its own key, its body
// (the ranges) not extracted.
#pragma once

#include "formats/ChromiumBlockFile.h"
#include "formats/ChromiumCacheItems.h"
#include "formats/ChromiumSimpleEntryFile.h"
#include "formats/ChromiumSimpleIndexFile.h"
#include "formats/NetscapeCache.h"

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace oriel {

// What a simple-cache item shows beside the common fields.
struct ChromiumSimpleDetails {
    uint64_t hash = 0;         // from the file name
    uint32_t entryVersion = 0;
    std::string siteKey;       // a double key's sites; empty for a plain key
    bool damaged = false;      // the records at the end did not read
    std::optional<uint64_t> lastUsed; // the index's (microseconds since 1601); none when not indexed
    uint32_t sparseRanges = 0;
    uint64_t sparseBytes = 0;
    bool hasSparseFile = false;
};

std::vector<std::pair<std::string, std::string>> ChromiumSimpleProperties(const ChromiumSimpleDetails& details);

// The body is stream 1 of the "_0" file.
class ChromiumSimpleItem : public CChromiumEmbeddedItem {
public:
    ChromiumSimpleItem(CCache* owner, int32_t recordKey, OptText url, OptText urlPath, OptText cacheName, int32_t size,
                       int64_t lastModified, int64_t downloaded, OptText headers, int64_t offset, int32_t length,
                       ChromiumSimpleDetails details);
    const ChromiumSimpleDetails& GetDetails() const { return details_; }
    std::vector<std::pair<std::string, std::string>> GetFormatProperties() const override;

private:
    ChromiumSimpleDetails details_;
};

// An entry whose body cannot be read: a "_0" file with damaged records, or
// sparse data alone.
class ChromiumSimpleBodilessItem : public CChromiumFileItem {
public:
    ChromiumSimpleBodilessItem(CCache* owner, int32_t recordKey, OptText url, OptText urlPath, int64_t lastModified,
                               ChromiumSimpleDetails details);
    const ChromiumSimpleDetails& GetDetails() const { return details_; }
    std::vector<std::pair<std::string, std::string>> GetFormatProperties() const override;

private:
    ChromiumSimpleDetails details_;
};

class ChromiumSimpleCache : public NetscapeCache {
public:
    ChromiumSimpleCache(const AppContext& context, BrowserProfile* profile, std::string folder);
    ~ChromiumSimpleCache() override;

    // The index is optional: 0 always.
    int OpenDatabase() override;
    int DoDecode() override;

    // The index as read by the last decode; none without a usable one.
    const std::optional<SimpleIndex>& GetIndex() const { return index_; }

    // True when `folder` holds "index-dir/the-real-index", an "index" that
    // starts with the simple index magic, or a "_0" file that starts with
    // the entry magic (a trimmed copy may keep only the entry files).
    static bool Recognize(const std::string& folder);

private:
    struct Sparse {
        uint32_t ranges = 0;
        uint64_t bytes = 0;
        std::string key; // from the "_s" file's own header
        bool read = false;
    };
    // What reading one "_0" file gave, made on a reading thread and turned
    // into an item on the decoding one; its buffers are kept for the next
    // file read into it.
    struct EntryRead {
        bool isEntry = false; // opened, and it starts with the entry magic
        uint32_t version = 0;
        int64_t modified = 0;
        std::string key;
        std::optional<SimpleEntryLayout> layout; // none when the records are damaged
        std::optional<ResponseInfo> info;
        std::string tail;
        std::string head;
        std::string extra;
    };
    void ReadIndex();
    // Reads the "_0" file `name` of the open cache folder `folderFd`; safe
    // to run for several files at once.
    static void ReadEntryFile(int folderFd, const std::string& name, EntryRead& read);
    void AddEntryItem(int32_t recordKey, const std::string& name, uint64_t hash, const EntryRead& read);
    void DecodeSparseOnly(int32_t recordKey, uint64_t hash, const Sparse& sparse);
    Sparse ReadSparseFile(int folderFd, const std::string& name) const;
    void AddDetailsFromIndex(ChromiumSimpleDetails& details) const;

    std::optional<SimpleIndex> index_;
    // (hash, record) pairs, sorted.
    std::vector<std::pair<uint64_t, size_t>> indexByHash_;
    std::unordered_map<uint64_t, Sparse> sparse_;
};

} // namespace oriel
