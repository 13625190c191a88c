// The Chromium blockfile disk cache: the index "index", the block files
// "data_0" (rankings), "data_1" to "data_3" (entries, keys and streams in
// blocks of 256, 1024 and 4096 bytes) and the separate files "f_XXXXXX".
//
// Each bucket of the index's hash table starts a chain of entries linked
// by their next address. Each entry gives its key (in the record, in the
// blocks after it, or apart at its own address), its rankings node (the
// times) and four streams: stream 0 the serialized response info with
// the raw headers, stream 1 the body. The chains are followed once each:
// an address seen before ends the chain, so a cycle never hangs the
// decoder. An entry whose stream lies in a missing file is listed with its
// body missing. Records that no chain reaches but that still stand whole
// in the blocks of data_1 are recovered items (ChromiumBlockfileRecovery.h).
#pragma once

#include "formats/ChromiumBlockFile.h"
#include "formats/NetscapeCache.h"
#include "platform/ByteSource.h"
#include "platform/FileSystem.h"

#include <memory>
#include <string>

namespace oriel {

class BlockfileBlockUse;

class ChromiumBlockfileCache : public NetscapeCache {
public:
    static constexpr const char* kIndexFileName = "index";

    ChromiumBlockfileCache(const AppContext& context, BrowserProfile* profile, std::string folder);
    ~ChromiumBlockfileCache() override;

    int DoDecode() override;

    uint32_t GetIndexVersion() const { return version_; }
    int32_t GetIndexEntryCount() const { return entryCount_; }

    // True when `folder` holds an "index" that starts with the blockfile
    // magic (a simple cache and a Firefox cache2 keep other files named so).
    static bool Recognize(const std::string& folder);

private:
    // The bytes at a block address (its run of blocks), or empty when its
    // block file is missing or the address names none.
    ByteReader ReadBlocks(uint32_t address, uint64_t length);
    // Lists the entry; with `recovered`, as a recovered item.
    struct RecoveredEntry;
    void DecodeEntry(int32_t recordKey, const EntryStore& entry, const ByteReader& run,
                     const RecoveredEntry* recovered = nullptr);
    std::string ReadKey(const EntryStore& entry);
    // ChromiumBlockfileRecovery.cpp: the entries no chain reaches, with
    // record keys from `firstKey` on; `live` holds what the live entries
    // use.
    void RecoverEntries(int32_t firstKey, const BlockfileBlockUse& live);
    void AddRecoveredEntry(std::unique_ptr<CCacheItem> item, const RecoveredEntry& recovered);
    // The same as a view of key_, valid until the next entry's key.
    std::string_view KeyOf(const EntryStore& entry);

    uint32_t version_ = 0;
    int32_t entryCount_ = 0;
    // "data_0", "data_1", ... (a full block file goes on in a later one),
    // opened when first named; a missing or foreign one stays closed.
    // A small one is read whole when opened, a large one by range; the
    // source stays the same for the decode. A view ReadBlocks gives lives
    // until the next read of the same file.
    const platform::ByteSource* BlockFile(uint32_t number);
    std::string BlockFilePath(uint32_t number) const;
    struct BlockFileState {
        std::unique_ptr<platform::ByteSource> source;
        bool opened = false;
    };
    BlockFileState blockFiles_[256];
    uint64_t wholeReadBytes_ = 0;
    // The separate files, listed once for the decode (looked up without
    // regard to case).
    std::unique_ptr<platform::FolderIndex> separateFiles_;
    std::string scratch_;
    // Buffers reused from one entry to the next.
    std::string key_;
    ResponseInfo info_;
};

} // namespace oriel
