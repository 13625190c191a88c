// Rows of text made on two threads and written in their order, for an
// export of tens of thousands of items, whose rows cost more to make than
// to write. The rows are cut into runs; the calling thread makes the even
// runs, a helper the odd ones, each into a buffer of its own, and the
// calling thread writes every run in order as soon as it is made.
#pragma once

#include "platform/CopyBytes.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <streambuf>
#include <string_view>
#include <vector>

namespace oriel {

class CCache;
class CNamedCacheItemArray;

// The text of one run of rows: a stream buffer that grows as rows are
// written into it, kept between runs. A row can also be written in place:
// Room for its longest form, then Filled up to where it ended.
class RowRun : public std::streambuf {
public:
    RowRun();
    std::string_view Text() const { return {pbase(), size_t(pptr() - pbase())}; }
    void Clear() { setp(buffer_.data(), buffer_.data() + buffer_.size()); }
    char* Room(size_t size)
    {
        if (size_t(epptr() - pptr()) < size)
            Grow(size);
        return pptr();
    }
    void Filled(const char* end) { pbump(int(end - pptr())); }

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* s, std::streamsize n) override;

private:
    void Grow(size_t more);
    std::vector<char> buffer_;
};

// Makes `runs` runs with `make(run, into)` and hands each, in run order, to
// `write`, which returns false to stop (the output failed): then the runs
// not yet written are not made. Without a second usable core, or with one
// run, every run is made on the calling thread. An exception from `make`
// on either thread comes out of the call, once the helper has ended.
void MakeRowsOnTwoThreads(size_t runs, const std::function<void(size_t run, RowRun& into)>& make,
                          const std::function<bool(std::string_view text)>& write);

// A cache's live items in group order, one row each, in runs of
// kRowsPerRun rows (for MakeRowsOnTwoThreads).
class ItemRows {
public:
    static constexpr size_t kRowsPerRun = 128;
    explicit ItemRows(const CCache& cache);
    size_t Runs() const { return (groupStarts_.back() + kRowsPerRun - 1) / kRowsPerRun; }
    // Calls `row(group, i, count)` for item i of its group (of `count`
    // items), for every row of run `run` in order.
    void ForRowsOf(size_t run,
                   const std::function<void(const CNamedCacheItemArray& group, int32_t i, int32_t count)>& row) const;

private:
    const CCache& cache_;
    std::vector<size_t> groupStarts_; // each group's first row, then the row count
};

} // namespace oriel
