#include "platform/NearbyRangeReader.h"

#include <algorithm>

namespace oriel::platform {

NearbyRangeReader::NearbyRangeReader(const ByteSource& source, std::span<const Range> ranges, size_t maxGap,
                                     size_t maxRead)
    : source_(source)
    , ranges_(ranges)
    , maxGap_(maxGap)
    , maxRead_(maxRead)
{
}

uint64_t NearbyRangeReader::EndOf(const Range& range)
{
    // Saturated: a hostile offset near the top of the range of numbers
    // must not wrap around to the start of the file.
    return range.offset + std::min<uint64_t>(range.length, UINT64_MAX - range.offset);
}

ByteReader NearbyRangeReader::Read(size_t index)
{
    if (index >= ranges_.size())
        return {};
    const Range& wanted = ranges_[index];
    const uint64_t wantedEnd = EndOf(wanted);
    if (!haveWindow_ || wanted.offset < windowStart_ || wantedEnd > windowEnd_) {
        // A new read from this range on, taking in the ranges after it
        // while they start close to the bytes already taken.
        const uint64_t start = wanted.offset;
        uint64_t end = wantedEnd;
        for (size_t next = index + 1; next < ranges_.size(); ++next) {
            const Range& range = ranges_[next];
            if (range.offset < start || range.offset - std::min(range.offset, end) > maxGap_)
                break;
            const uint64_t joined = std::max(end, EndOf(range));
            if (joined - start > maxRead_)
                break;
            end = joined;
        }
        // end - start is the wanted range's length or at most maxRead_.
        window_ = source_.Read(start, size_t(end - start));
        windowStart_ = start;
        windowEnd_ = end;
        haveWindow_ = true;
    }
    // The window holds [windowStart_, windowStart_ + window_.size()); sub
    // cuts the range where the source ended, as a direct read would.
    return window_.sub(size_t(wanted.offset - windowStart_), wanted.length);
}

} // namespace oriel::platform
