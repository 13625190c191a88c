// A timeline of what caches hold: one event for each time an item carries
// (last modified, downloaded, expires, last accessed), sorted by time, in
// the import format of the timeline tools examiners use (Timesketch's
// columns `message`, `datetime`, `timestamp_desc`, `timestamp`) with the
// item's own fields beside them.
//
// Where two of an item's times are the same instant they make one event
// whose description names both ("Downloaded; Last Accessed"): several
// formats keep one field that stands for both (Internet Explorer's last
// access, Mozilla's and Firefox's last fetch), and two rows would count
// that one fact twice. A time of 0 (or -1) is no time and gives no event.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace oriel {

class CCache;
class CCacheItem;
class Progress;

// The times an item carries, in the order an item's events name them.
enum TimeKind : uint8_t {
    kTimeLastModified = 1,
    kTimeDownloaded = 2,
    kTimeExpires = 4,
    kTimeLastAccessed = 8,
};

// "Last Modified", "Downloaded", "Expires", "Last Accessed", joined by "; "
// for an event of several kinds.
std::string TimeKindsText(uint8_t kinds);

// Where a group of events comes from: one cache of one profile.
struct TimelineSource {
    std::string browser;     // "Internet Explorer", "Chromium", ...
    std::string profile;     // the profile's display name
    std::string cacheFolder; // the cache folder
    // The index file the records were read from; empty for the formats
    // that keep each record in a file of its own (the item's cache name,
    // under the cache folder, is then the source file).
    std::string indexFile;
};

struct TimelineEvent {
    int64_t time = 0;   // Unix seconds, UTC
    uint8_t kinds = 0;  // TimeKind bits
    uint32_t source = 0; // index into Sources()
    const CCacheItem* item = nullptr;
};

class Timeline {
public:
    // Times that the import format cannot hold (before 1601 or after 9999,
    // which only a damaged record gives): left out and counted.
    static constexpr int64_t kEarliest = -11644473600; // 1601-01-01T00:00:00Z
    static constexpr int64_t kLatest = 253402300799;   // 9999-12-31T23:59:59Z

    uint32_t AddSource(TimelineSource source);
    // The events of every live item of `cache` (group by group), and of its
    // recovered items when asked.
    void AddCache(uint32_t source, const CCache& cache, bool withRecovered);
    // One item's events, in kind order. A last-modified date that the
    // format keeps only as text counts at the time that text denotes.
    void AddItem(uint32_t source, CCacheItem& item);
    // Sorts by time; events of one time keep the order they were added in.
    void Sort();

    const std::vector<TimelineEvent>& Events() const { return events_; }
    const std::vector<TimelineSource>& Sources() const { return sources_; }
    size_t OutOfRangeCount() const { return outOfRange_; }

private:
    std::vector<TimelineSource> sources_;
    std::vector<TimelineEvent> events_;
    size_t outOfRange_ = 0;
};

// "2009-06-01T12:00:00+00:00"; the time must lie in the timeline's range.
std::string IsoUtcTime(int64_t seconds);

// The columns, in order: message, datetime, timestamp_desc, timestamp
// (microseconds), url, browser, profile, cache_name, size, content_type,
// recovered, source_file.
const std::vector<std::string_view>& TimelineColumns();

// A header line, then one RFC 4180 record per event (CR LF line ends).
// Progress, when given, runs over the events. False when the stream fails.
bool WriteTimelineCsv(std::ostream& out, const Timeline& timeline, Progress* progress = nullptr);
// One JSON object per line with the same fields (size a number, recovered
// a boolean, texts that an item lacks as null).
bool WriteTimelineJsonl(std::ostream& out, const Timeline& timeline, Progress* progress = nullptr);

} // namespace oriel
