#include "formats/IndexDatRecovery.h"

#include "app/StringTable.h"
#include "formats/RecoveredFileItem.h"
#include "model/TextForms.h"

#include <cstdio>

namespace oriel {

namespace {

constexpr size_t kBlock = IndexDatFile::kBlockSize;
// A REDR record: signature, block count, two words, then the URL at 16.
constexpr size_t kRedirectUrlOffset = 16;

// A block that starts another record, or that Internet Explorer filled when
// it freed it, no longer belongs to the record before it.
bool StartsOtherContent(uint32_t word)
{
    return IndexDatFile::IsStaleSignature(word) || word == IndexDatFile::kSigHash || word == IndexDatFile::kFreed;
}

} // namespace

size_t ForEachIndexDatStaleRecord(const IndexDatFile& index, const std::function<void(const IndexDatStaleRecord&)>& each,
                                  size_t limit)
{
    size_t found = 0;
    if (!index.UsesBitmap())
        return found;
    // Whole blocks inside the file; a word of one.
    auto hasBlock = [&index](size_t at) { return at <= index.Size() && kBlock <= index.Size() - at; };
    auto wordAt = [&index](size_t at) { return index.Span(at, 4).u32le(0); };
    // Only blocks the bitmap covers and marks free: a block outside it is
    // never known to be free.
    auto isFree = [&index](size_t offset) {
        return IndexDatFile::BitmapBit(offset).has_value() && !index.IsBlockAllocated(offset);
    };

    // The blocks to look at, in file order: every free one; or, where the
    // live walk met them already, the free ones before the first record
    // and then those it noted. The index is then not read whole again.
    const std::vector<uint32_t>* candidates = index.StaleCandidates();
    size_t nextCandidate = 0;
    auto nextBlock = [&](size_t from) -> std::optional<size_t> {
        if (!candidates)
            return index.NextFreeBlock(from);
        if (from < index.FirstRecordOffset()) {
            const std::optional<size_t> free = index.NextFreeBlock(from);
            if (free && *free < index.FirstRecordOffset())
                return free;
        }
        if (nextCandidate < candidates->size())
            return size_t((*candidates)[nextCandidate++]);
        return std::nullopt;
    };
    size_t cursor = IndexDatFile::kFirstBitmapBlock;
    while (found < limit) {
        // A whole block inside the file, free in the bitmap.
        const std::optional<size_t> next = nextBlock(cursor);
        if (!next)
            break;
        const size_t offset = *next;
        cursor = offset + kBlock;
        const ByteReader first = index.Span(offset, kBlock);
        if (first.size() != kBlock)
            break; // the file can be read no further
        const uint32_t sig = *first.u32le(0);
        const uint32_t blocks = *first.u32le(4);
        if (!IndexDatFile::IsStaleSignature(sig) || blocks == 0)
            continue;

        // The record stands as far as its blocks are whole, still free and
        // not taken by other content; the first block always is.
        uint32_t kept = 1;
        while (kept < blocks) {
            const size_t at = offset + size_t(kept) * kBlock;
            if (!hasBlock(at) || !isFree(at))
                break;
            const std::optional<uint32_t> word = wordAt(at);
            if (!word || StartsOtherContent(*word))
                break;
            ++kept;
        }
        IndexDatStaleRecord stale;
        stale.offset = offset;
        stale.signature = sig;
        stale.declaredBlocks = blocks;
        stale.keptLength = size_t(kept) * kBlock;
        stale.partial = kept < blocks;
        // Read again whole: the views below last until the next read.
        const ByteReader record = index.Span(offset, stale.keptLength);
        if (record.size() != stale.keptLength)
            break;

        // A text counts only if it ends inside what is left of the record;
        // in a whole record it may run to the record's end, as in a live one.
        auto text = [&record, &stale](uint32_t off) -> std::optional<std::string_view> {
            if (int32_t(off) <= 0 || off >= record.size())
                return std::nullopt;
            auto t = record.cstring(off, record.size());
            if (t && stale.partial && off + t->size() >= record.size())
                return std::nullopt;
            return t;
        };
        if (sig == IndexDatFile::kSigRedr) {
            stale.fields.url = text(kRedirectUrlOffset);
        } else {
            // The fixed fields (up to record offset 72) lie in the first
            // block, which is always there; the texts may not be.
            stale.fields = ParseIndexDatUrlRecord(record);
            stale.fields.url = stale.fields.freed ? std::nullopt : text(*record.u32le(52));
            stale.fields.fileName = text(*record.u32le(60));
            stale.fields.headers = text(*record.u32le(68));
        }
        each(stale);
        ++found;
        // What follows the part left is looked at afresh: it may be the
        // start of the record that cut this one.
        cursor = offset + stale.keptLength;
    }
    return found;
}

std::vector<IndexDatStaleRecord> FindIndexDatStaleRecords(const IndexDatFile& index, size_t limit)
{
    std::vector<IndexDatStaleRecord> found;
    ForEachIndexDatStaleRecord(index, [&found](const IndexDatStaleRecord& stale) { found.push_back(stale); }, limit);
    return found;
}

int32_t AddIndexDatRecoveredItems(CCache& cache, const IndexDatFile& index, int32_t firstKey,
                                  const IndexDatCacheName& cacheNameOf)
{
    int32_t key = firstKey;
    int32_t made = 0;
    const auto& dirs = index.Directories();
    // Each item is made while its record's texts are in view.
    ForEachIndexDatStaleRecord(index, [&](const IndexDatStaleRecord& stale) {
        if (cache.StopRequested())
            return;
        const IndexDatFile::UrlRecord& rec = stale.fields;
        // The cache name as a live record gives it: sub-folder, backslash,
        // file name.
        std::optional<std::string> cacheName;
        if (cacheNameOf)
            cacheName = cacheNameOf(rec);
        else if (rec.fileName && rec.directoryIndex < dirs.size())
            cacheName = dirs[rec.directoryIndex].name + '\\' + std::string(*rec.fileName);
        // A whole record without URL or file name (a freed one) is
        // skipped as a live one would be; a cut one is kept for its times
        // and size, which still say that an entry was there.
        if (!rec.url && !cacheName && (!stale.partial || stale.signature == IndexDatFile::kSigRedr))
            return;
        // A URL without "//" (a history entry's "Visited: ...") is kept as
        // it stands: recovered items are not grouped by server.
        std::optional<UrlParts> parts = rec.url ? SplitUrl(*rec.url) : std::nullopt;
        const OptText url = rec.url ? OptText(*rec.url) : OptText(std::string_view());
        const OptText path = parts ? OptText(parts->path) : std::nullopt;
        const OptText name = cacheName ? OptText(*cacheName) : std::nullopt;

        std::unique_ptr<CRecoveredFileItem> item;
        if (stale.signature == IndexDatFile::kSigRedr) {
            item = std::make_unique<CRecoveredFileItem>(&cache, key, url, path, std::nullopt, 0, 0, 0, 0, std::nullopt);
        } else {
            item = std::make_unique<CRecoveredFileItem>(
                &cache, key, url, path, name, int32_t(rec.size), FileTimeToUnix(rec.lastModifiedLow, rec.lastModifiedHigh),
                FileTimeToUnix(rec.lastAccessLow, rec.lastAccessHigh),
                IndexDatFile::ExpiryTime(rec.expiresLow, rec.expiresHigh), rec.headers);
        }
        const char* kind = stale.signature == IndexDatFile::kSigUrl    ? "URL"
                           : stale.signature == IndexDatFile::kSigLeak ? "LEAK"
                                                                       : "REDR";
        char where[128];
        std::snprintf(where, sizeof where, "%s record in free blocks at offset 0x%zx", kind, stale.offset);
        item->AddFormatProperty(LoadString(IDS_PROP_RECOVERED_FROM), where);
        std::snprintf(where, sizeof where, "%s (%zu of %u blocks)",
                      LoadString(stale.partial ? IDS_RECOVERED_PARTIAL : IDS_RECOVERED_WHOLE),
                      stale.keptLength / kBlock, stale.declaredBlocks);
        item->AddFormatProperty(LoadString(IDS_PROP_RECOVERED_STATE), where);
        item->SetRecovered(stale.partial);
        cache.AddRecoveredItem(std::move(item));
        ++key;
        ++made;
    });
    return made;
}

} // namespace oriel
