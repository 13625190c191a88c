// Entries of a Chromium blockfile cache that no chain of the index reaches
// any more but whose records still stand whole in a block file of entries
// (data_1, and the 256-byte block files it goes on in): entries Chromium
// doomed or evicted, whose blocks the allocation bitmap marks free, and
// entries unlinked from their chain but not yet freed.
//
// Nothing in such a block is trusted. A record counts only when its key
// stands whole (an inline key ends in a NUL inside the record's blocks, a
// key stored apart reads to its full length) and the key hashes, as
// Chromium hashes keys, to the record's hash field: a block that merely
// looks like a record, or a record cut by a later write, is not taken.
//
// A block file's header: 0 magic, 4 version, 8 this file (16 bits), 10 next
// file (16 bits), 12 entry size, 16 entry count, 20 maximum entries, 24 the
// empty-run counts (4 words), 40 the hints (4 words), 56 updating, 60 user
// (5 words), 80 the allocation bitmap (2028 words, one bit a block, bit n
// of word n / 32 for block n), 8192 the first block.
#pragma once

#include "formats/ChromiumBlockFile.h"
#include "platform/ByteSource.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace oriel {

// Paul Hsieh's SuperFastHash, the hash Chromium's blockfile cache files its
// keys by (base::PersistentHash). The one or three bytes left after the
// last whole group of four are taken as signed chars there, and so here.
uint32_t SuperFastHash(std::string_view data);

namespace blockfile {
constexpr size_t kAllocationMapOffset = 80;
constexpr size_t kAllocationMapWords = 2028;
constexpr uint32_t kMaxBlocksPerFile = uint32_t(kAllocationMapWords) * 32;
// The longest key kept in the record itself (in up to four blocks); a
// longer one is stored apart.
constexpr int32_t kMaxInlineKeyLength = int32_t(4 * kEntryStoreSize - kEntryKeyOffset - 1);
// The blocks an entry record takes for a key of `keyLength` bytes kept in
// the record: 1 to 4 (1 for a key stored apart).
uint32_t EntryBlocksForKey(int32_t keyLength);
// True when the allocation bitmap of the block file whose header is
// `header` marks `block` as in use; false past the bitmap or the bytes.
bool BitmapMarksUsed(const ByteReader& header, uint32_t block);
} // namespace blockfile

// The blocks and separate files that the live entries of a cache use.
class BlockfileBlockUse {
public:
    BlockfileBlockUse();
    ~BlockfileBlockUse();
    BlockfileBlockUse(BlockfileBlockUse&&) noexcept;
    BlockfileBlockUse& operator=(BlockfileBlockUse&&) noexcept;

    // Notes an address: a run of blocks, or a separate file.
    void Mark(uint32_t address);
    // Every address an entry uses: its own run, its key, its rankings node
    // and its streams.
    void MarkEntry(uint32_t address, const EntryStore& entry);
    bool IsUsed(uint32_t file, uint32_t block) const;
    // True when any block of the address's run, or its separate file, is
    // in use.
    bool Overlaps(uint32_t address) const;
    // True when every block of [first, end) in `file` is in use.
    bool AllUsed(uint32_t file, uint32_t first, uint32_t end) const;

private:
    std::unique_ptr<std::vector<bool>> files_[256];
    std::unordered_set<uint32_t> separate_;
};

struct BlockfileStaleEntry {
    uint32_t address = 0;   // the record's own address (data_N, first block, count)
    bool allocated = false; // the bitmap still marks its first block used
    EntryStore entry;       // its inline key a view of `key`
    std::string key;
};

// Every record of the 256-byte block file `file` (number `number`) that
// stands in blocks `live` does not mark and passes the checks above, in
// block order, at most `limit`. `readKeyApart` reads a key stored apart
// (empty when it does not read). Reads at most the file's bitmap range,
// and skips runs of blocks that are all in use without reading them.
std::vector<BlockfileStaleEntry> FindBlockfileStaleEntries(
    const platform::ByteSource& file, uint32_t number, const BlockfileBlockUse& live,
    const std::function<std::optional<std::string>(const EntryStore&)>& readKeyApart, size_t limit);

} // namespace oriel
