// The disk cache of Firefox 32 and later ("cache2" in the profile's local
// folder): one file per entry in "entries/", files of entries that Firefox
// was removing in "doomed/", and an optional "index" (see Cache2IndexFile.h,
// Cache2EntryFile.h for the layouts).
//
// Every entry file with a valid metadata block is an item, whether or not
// the index lists it; its body is the file's first bytes, extracted (and
// decoded by its Content-Encoding) on demand. Entries in "doomed/" are
// recovered items (CCacheItem::IsRecovered) that are also deleted ones.
#pragma once

#include "formats/Cache2EntryFile.h"
#include "formats/Cache2IndexFile.h"
#include "formats/EmbeddedBodyItem.h"
#include "formats/NetscapeCache.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace oriel {

class FirefoxCache2Item : public CEmbeddedBodyItem {
public:
    // What the entry file and the index give beside the common fields.
    struct Details {
        std::string tags;            // the key's tags before ':'
        bool deleted = false;        // found in "doomed/"
        uint32_t metadataVersion = 0;
        uint32_t fetchCount = 0;
        uint32_t frecency = 0;       // the index's when it lists the entry, else the metadata's
        uint32_t metadataFlags = 0;
        std::optional<uint32_t> indexFlags; // none when the index does not list the entry
    };

    FirefoxCache2Item(CCache* owner, int32_t recordKey, OptText url, OptText urlPath, OptText cacheName,
                      int32_t size, int64_t lastModified, int64_t downloaded, int64_t expires, OptText headers,
                      uint32_t bodySize, Details details);

    const Details& GetDetails() const { return details_; }
    bool IsDeleted() const override { return details_.deleted; }
    std::vector<std::pair<std::string, std::string>> GetFormatProperties() const override;

protected:
    std::string ContainerFileName() const override;
    std::optional<StoredRange> StoredBytes() const override;
    const char* TraceName() const override { return "FirefoxCache2Item"; }

private:
    uint32_t bodySize_;
    Details details_;
};

class FirefoxCache2Cache : public NetscapeCache {
public:
    // The folder a cache2 folder holds; its presence names the format.
    static constexpr const char* kEntriesFolderName = "entries";
    static constexpr const char* kDoomedFolderName = "doomed";
    static constexpr const char* kIndexFileName = "index";

    FirefoxCache2Cache(const AppContext& context, BrowserProfile* profile, std::string folder);
    ~FirefoxCache2Cache() override;

    // The index is optional: a folder without one is read from its entry
    // files alone. 0 always.
    int OpenDatabase() override;
    int DoDecode() override;

    // The index as read by the last decode; none without a usable one.
    const std::optional<Cache2Index>& GetIndex() const { return index_; }

private:
    void ReadIndex();
    struct EntryFolder {
        std::string path;               // the sub-folder, as found on disk
        std::vector<std::string> names; // its plain files, sorted
    };
    EntryFolder ListEntryFiles(const char* subFolder) const;
    // The entry file `name` of `subFolder`, its metadata block as read.
    void DecodeEntryFile(int32_t recordKey, const char* subFolder, const std::string& name, bool deleted,
                         const std::string& block, uint32_t bodySize);

    std::optional<Cache2Index> index_;
    // The index's records by hash (ascending; the first of equal hashes
    // first), and how far the walk over the sorted entry names has come.
    const Cache2IndexRecord* FindIndexRecord(const std::string& name);
    std::vector<std::pair<std::array<uint8_t, 20>, size_t>> indexByHash_;
    size_t indexCursor_ = 0;
    // The entry's name below the cache folder, rebuilt for each entry.
    std::string relative_;
};

} // namespace oriel
