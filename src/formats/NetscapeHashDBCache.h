// The decoder walk shared by Netscape 4's "cache.db" (4.5 and later) and
// "fat.db" (4.0), whose pages HashDbFile.h describes.
//
// Every input byte is untrusted: offsets, lengths and texts are read only
// inside the page they belong to, and the walk ends at the end of the file.
#pragma once

#include "formats/HashDbFile.h"
#include "formats/NetscapeCache.h"
#include "platform/ByteReader.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace oriel {

// The walk that both caches make over their database: the header, then
// every page from page 1 to the end of the file, each page's pairs from the
// last to the first. What a pair holds is for each cache to decode.
class NetscapeHashDBCache : public NetscapeCache {
public:
    uint32_t GetPageSize() const { return pageSize_; }

    // A run of pages that give no item spanning this many bytes (and at
    // least kMinBarrenPages pages) ends the page walk.
    static constexpr uint64_t kMaxBarrenRun = uint64_t(16) << 20;
    static constexpr uint64_t kMinBarrenPages = 256;

protected:
    using NetscapeCache::NetscapeCache;

    // What became of one pair.
    enum class PairOutcome {
        Item,     // it made an item (or was passed over as one): one key fewer to go
        Skipped,  // not an object's record, or one that cannot be read
        EndOfPage // the rest of the page is not decoded
    };

    // Reads the header: the page size, and the key count as the progress
    // total. An invalid header shows the message, asks the decoding to stop
    // and gives -1; otherwise 0.
    int GetDBHeaderInfo();
    // Decodes every page after the header until the end of the file or a
    // stop request, moving the progress along. A run of pages without an
    // item (kMaxBarrenRun) ends the walk too: a database of tiny pages and
    // gigabytes of nothing would otherwise take minutes.
    void DecodePages();
    // Decodes one pair of a page whose data offset lies inside the page.
    virtual PairOutcome DecodePagePair(const ByteReader& page, int32_t recordKey, hashdb::Pair pair) = 0;

private:
    // Decodes one page; the new remaining count, or -1 at the end of the file.
    int64_t DecodePage(uint64_t page, int64_t remaining);

    // Items the last DecodePage made.
    size_t pageItems_ = 0;

    uint32_t pageSize_ = 0;
    int64_t total_ = 0;
    std::vector<hashdb::Pair> pairs_;
};

} // namespace oriel
