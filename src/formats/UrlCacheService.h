// The URL-cache service: what Windows programs ask WinINet for (the entries
// of the user's Internet Explorer cache, and the removal of one entry by
// URL), answered from the examined user's cache on disk. The entries come
// from the "index.dat" of the "Content.IE5" folder under the user's
// Temporary Internet Files folder, read with the same record walk as the
// index.dat decoder (allocated blocks only).
//
// Per entry it supplies what WinINet's INTERNET_CACHE_ENTRY_INFO does and
// the cache viewer reads. From a "URL " record (offsets within the record):
//   entry type      offset 64, the entry's flags as WinINet returns them
//                   (NORMAL_CACHE_ENTRY 0x1, COOKIE_CACHE_ENTRY 0x100000,
//                   URLHISTORY_CACHE_ENTRY 0x200000, ...)
//   last modified   offset 8, FILETIME
//   expiry          offset 24 (a FAT date and time in 5.2 files)
//   last sync       offset 80, FAT date (low half) and time (high half) of
//                   the last check against the server
//   size            offset 32 (low 32 bits)
//   URL, file name, headers: the texts at offsets 52, 60 and 68
// LEAK records are entries Windows has already deleted (their file was in
// use) and are not listed, nor are freed records.
#pragma once

#include "app/AppContext.h"
#include "formats/IndexDatFile.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace oriel {

// WinINet's entry type bits.
constexpr uint32_t NORMAL_CACHE_ENTRY = 0x00000001;
constexpr uint32_t COOKIE_CACHE_ENTRY = 0x00100000;
constexpr uint32_t URLHISTORY_CACHE_ENTRY = 0x00200000;

struct UrlCacheEntryInfo {
    uint32_t cacheEntryType = 0;
    std::string sourceUrlName;
    std::optional<std::string> localFileName; // host path; none when the entry has no file
    uint32_t sizeLow = 0;
    uint64_t lastModifiedTime = 0; // FILETIME (100 ns since 1601, UTC); 0 when not known
    uint64_t expireTime = 0;
    uint64_t lastSyncTime = 0;
    uint64_t lastAccessTime = 0;
    std::optional<std::string> headerInfo;
};

class UrlCacheService {
public:
    // An enumeration in progress (WinINet's find handle).
    class Enumeration;
    struct EnumerationDeleter {
        void operator()(Enumeration* handle) const;
    };
    using FindHandle = std::unique_ptr<Enumeration, EnumerationDeleter>;

    // The service over one "Content.IE5" folder (a host path).
    explicit UrlCacheService(std::string contentFolder);
    ~UrlCacheService();
    UrlCacheService(const UrlCacheService&) = delete;
    UrlCacheService& operator=(const UrlCacheService&) = delete;

    // The service of the examined user: the "Content.IE5" folder under the
    // user's Temporary Internet Files folder. Without a Windows system it
    // has no folder and finds nothing.
    static std::shared_ptr<UrlCacheService> ForExaminedUser(const AppContext& context);

    const std::string& ContentFolder() const { return folder_; }
    // Host path of the index file; empty without a folder.
    std::string IndexFilePath() const;

    // Starts an enumeration and fills the first entry. `pattern` "*.*" (or
    // empty) lists every entry, "cookie:" the cookie entries and "visited:"
    // the history entries. Null when the index cannot be read, is invalid,
    // or holds no matching entry.
    FindHandle FindFirstUrlCacheEntry(std::string_view pattern, UrlCacheEntryInfo& entry);
    // Fills the next entry; false at the end.
    bool FindNextUrlCacheEntry(Enumeration& handle, UrlCacheEntryInfo& entry);
    void FindCloseUrlCache(FindHandle handle);

    // Beyond what WinINet offers, for the records it does not list (those
    // in free blocks, which IECache recovers): the index an enumeration
    // walks, and the index read afresh (none when it cannot be read or is
    // no index), as FindFirstUrlCacheEntry reads it.
    static const IndexDatFile& EnumeratedIndex(const Enumeration& handle);
    std::unique_ptr<IndexDatFile> ReadIndex() const;
    // The host path of a record's local file, as an entry's localFileName
    // gives it; none when the record names no file inside the folder.
    std::optional<std::string> LocalFileOf(const IndexDatFile& index, const IndexDatFile::UrlRecord& record) const;

    // Removes the entry for `url`: deletes its local file, then marks its
    // record free in the index (the record's blocks are overwritten with
    // 0x0BADF00D, their bitmap bits cleared, the allocated-block count and
    // the sub-folder's file count lowered, and the hash-table slot that
    // points to it emptied). False, with nothing changed, when the index or
    // the file cannot be written (a read-only tree) or no entry has the URL.
    bool DeleteUrlCacheEntry(std::string_view url);

private:
    struct Snapshot;
    bool LoadSnapshot(int fd);

    std::string folder_;
    std::mutex mutex_;
    std::unique_ptr<Snapshot> snapshot_;
};

} // namespace oriel
