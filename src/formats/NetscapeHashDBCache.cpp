#include "formats/NetscapeHashDBCache.h"

#include "app/StringTable.h"
#include "model/Progress.h"

#include <algorithm>
#include <limits>
#include <thread>

namespace oriel {

namespace {

int32_t ClampToInt32(int64_t value)
{
    return int32_t(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

} // namespace

int NetscapeHashDBCache::GetDBHeaderInfo()
{
    const platform::ByteSource* db = Database();
    auto header = db ? hashdb::ParseHeader(db->Read(0, hashdb::kHeaderSize)) : std::nullopt;
    if (!header) {
        ShowInvalidHeader(DatabaseFilePath());
        RequestStop();
        return -1;
    }
    pageSize_ = header->pageSize;
    total_ = header->keyCount;
    SetProgressTotal(ClampToInt32(total_));
    return 0;
}

void NetscapeHashDBCache::DecodePages()
{
    ProgressSetRange(GetProgressTotal());
    int64_t remaining = total_;
    const uint64_t barrenLimit = std::max<uint64_t>(kMaxBarrenRun / pageSize_, kMinBarrenPages);
    uint64_t barren = 0;
    for (uint64_t page = 1;; ++page) {
        // Let other threads run now and then; yielding on every page gives
        // the core away thousands of times on a busy machine.
        if (page % 64 == 0)
            std::this_thread::yield();
        const int64_t result = DecodePage(page, remaining);
        if (result >= 0)
            remaining = result;
        ProgressSetPos(ClampToInt32(total_ - remaining));
        if (result < 0 || StopRequested())
            break;
        barren = pageItems_ ? 0 : barren + 1;
        if (barren >= barrenLimit) {
            Trace("     NetscapeHashDBCache - " + std::to_string(barren) + " pages without an item before page " +
                  std::to_string(page + 1) + ": the rest of the file is not read");
            break;
        }
    }
}

int64_t NetscapeHashDBCache::DecodePage(uint64_t page, int64_t remaining)
{
    const platform::ByteSource* db = Database();
    if (!db)
        return -1;
    // Page p starts at p * page size; the last page may be cut short, and a
    // page that cannot be addressed ends the file.
    const auto offset = hashdb::PageOffset(page, pageSize_);
    const ByteReader bytes = offset ? db->Read(*offset, pageSize_) : ByteReader();
    const bool atEnd = bytes.size() < pageSize_;
    hashdb::PagePairs(bytes, pairs_);

    // A page with more pairs than keys are left raises the total.
    const int64_t count = int64_t(pairs_.size());
    if (count > remaining) {
        total_ += count - remaining;
        remaining = count;
        SetProgressTotal(ClampToInt32(total_));
        if (progress_)
            progress_->SetRange(0, GetProgressTotal());
    }
    pageItems_ = 0;
    // The pairs are listed from the last to the first.
    for (size_t i = pairs_.size(); i-- > 0;) {
        const hashdb::Pair pair = pairs_[i];
        if (pair.dataOffset == 0 || pair.dataOffset >= pageSize_)
            continue;
        const PairOutcome outcome = DecodePagePair(bytes, ClampToInt32(total_ - remaining), pair);
        if (outcome == PairOutcome::EndOfPage)
            break;
        if (outcome == PairOutcome::Item) {
            ++pageItems_;
            if (remaining > 0)
                --remaining;
        }
    }
    return atEnd ? -1 : remaining;
}

} // namespace oriel
