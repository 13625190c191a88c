// Many small byte ranges of one source, read so that ranges lying close
// together come in one read. A decoder that picks thousands of records of a
// few hundred bytes out of a large file (the entry metadata in a Mozilla
// block file) otherwise pays a system call for each of them; asked in
// offset order, the ranges here cost a few hundred reads, and no read takes
// more than a small gap past the bytes that were asked for.
#pragma once

#include "platform/ByteReader.h"
#include "platform/ByteSource.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace oriel::platform {

class NearbyRangeReader {
public:
    struct Range {
        uint64_t offset = 0;
        size_t length = 0;
    };

    // Two ranges join one read when the bytes between them are at most
    // `maxGap` (about what one system call costs in copying), as long as
    // the read stays within `maxRead` bytes; a single longer range is read
    // alone. `ranges` should be sorted by offset, and must outlive the
    // reader, as must `source`; nothing else may read `source` while the
    // reader is used (a source's view lives until its next read).
    NearbyRangeReader(const ByteSource& source, std::span<const Range> ranges, size_t maxGap = 4096,
                      size_t maxRead = 256 * 1024);

    // The bytes of ranges[index], as source.Read(offset, length) gives them
    // (cut at the end of the source, empty past it). Valid until the next
    // call. Ranges asked in any order come out right; in offset order each
    // run of nearby ranges is read once.
    ByteReader Read(size_t index);

private:
    static uint64_t EndOf(const Range& range);

    const ByteSource& source_;
    std::span<const Range> ranges_;
    size_t maxGap_;
    size_t maxRead_;
    // The bytes last read: [windowStart_, windowEnd_) as asked, fewer when
    // the source ended first.
    ByteReader window_;
    uint64_t windowStart_ = 0;
    uint64_t windowEnd_ = 0;
    bool haveWindow_ = false;
};

} // namespace oriel::platform
