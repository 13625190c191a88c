#include "ops/Timeline.h"

#include "model/Cache.h"
#include "model/CacheItem.h"
#include "model/Progress.h"
#include "ops/TextEscape.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace oriel {

namespace {

constexpr struct {
    uint8_t kind;
    std::string_view text;
} kKindTexts[] = {
    {kTimeLastModified, "Last Modified"},
    {kTimeDownloaded, "Downloaded"},
    {kTimeExpires, "Expires"},
    {kTimeLastAccessed, "Last Accessed"},
};

void AppendNumber(std::string& out, int64_t value)
{
    char buffer[24];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    (void)ec;
    out.append(buffer, end);
}

void AppendTwo(std::string& out, unsigned value)
{
    out += char('0' + value / 10 % 10);
    out += char('0' + value % 10);
}

// Days since 1970-01-01 to year, month, day (proleptic Gregorian calendar).
void CivilFromDays(int64_t days, int64_t& year, unsigned& month, unsigned& day)
{
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned doe = unsigned(days - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = doy - (153 * mp + 2) / 5 + 1;
    month = mp < 10 ? mp + 3 : mp - 9;
    year = int64_t(yoe) + era * 400 + (month <= 2 ? 1 : 0);
}

void AppendIsoTime(std::string& out, int64_t seconds)
{
    int64_t days = seconds / 86400;
    int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    int64_t year = 0;
    unsigned month = 0, day = 0;
    CivilFromDays(days, year, month, day);
    AppendTwo(out, unsigned(year / 100));
    AppendTwo(out, unsigned(year % 100));
    out += '-';
    AppendTwo(out, month);
    out += '-';
    AppendTwo(out, day);
    out += 'T';
    AppendTwo(out, unsigned(rest / 3600));
    out += ':';
    AppendTwo(out, unsigned(rest / 60 % 60));
    out += ':';
    AppendTwo(out, unsigned(rest % 60));
    out += "+00:00";
}

std::string_view OrEmpty(const char* text)
{
    return text ? std::string_view(text) : std::string_view();
}

std::string SourceFile(const TimelineSource& source, const CCacheItem& item)
{
    if (!source.indexFile.empty())
        return source.indexFile;
    if (!item.GetCacheName())
        return {};
    std::string path = source.cacheFolder;
    if (!path.empty() && path.back() != '/')
        path += '/';
    return path + item.GetCacheName();
}

// Writes `text` to `out` once it holds this much, so that a timeline of
// 100,000 events is not one string of its own.
constexpr size_t kFlushSize = 1 << 20;

template <typename WriteEvent>
bool WriteEvents(std::ostream& out, const Timeline& timeline, Progress* progress, std::string buffer,
                 WriteEvent write)
{
    const auto& events = timeline.Events();
    if (progress) {
        progress->SetRange(0, int(std::min<size_t>(events.size(), 0x7FFFFFFF)));
        progress->SetPos(0);
    }
    buffer.reserve(kFlushSize + 4096);
    std::string sourceFile;
    const TimelineSource* lastSource = nullptr;
    const CCacheItem* lastItem = nullptr;
    for (size_t i = 0; i < events.size(); ++i) {
        const TimelineEvent& event = events[i];
        const TimelineSource& source = timeline.Sources()[event.source];
        if (&source != lastSource || event.item != lastItem) {
            sourceFile = SourceFile(source, *event.item);
            lastSource = &source;
            lastItem = event.item;
        }
        write(buffer, event, source, sourceFile);
        if (buffer.size() >= kFlushSize) {
            out.write(buffer.data(), std::streamsize(buffer.size()));
            buffer.clear();
            if (progress)
                progress->SetPos(int(i + 1));
        }
    }
    out.write(buffer.data(), std::streamsize(buffer.size()));
    out.flush();
    if (progress)
        progress->SetPos(int(events.size()));
    return bool(out);
}

// The description of every combination of kinds, made once.
const std::string& KindsText(uint8_t kinds)
{
    static const auto texts = [] {
        std::array<std::string, 16> t;
        for (uint8_t k = 0; k < 16; ++k)
            t[k] = TimeKindsText(k);
        return t;
    }();
    return texts[kinds & 15];
}

std::string_view UrlOf(const CCacheItem& item)
{
    return item.GetURL() ? std::string_view(item.GetURL(), size_t(item.GetURLLength())) : std::string_view();
}

std::string_view CacheNameOf(const CCacheItem& item)
{
    return item.GetCacheName() ? std::string_view(item.GetCacheName(), size_t(item.GetCacheNameLength()))
                               : std::string_view();
}


} // namespace

std::string TimeKindsText(uint8_t kinds)
{
    std::string text;
    for (const auto& k : kKindTexts) {
        if (kinds & k.kind) {
            if (!text.empty())
                text += "; ";
            text += k.text;
        }
    }
    return text;
}

std::string IsoUtcTime(int64_t seconds)
{
    std::string out;
    AppendIsoTime(out, seconds);
    return out;
}

uint32_t Timeline::AddSource(TimelineSource source)
{
    sources_.push_back(std::move(source));
    return uint32_t(sources_.size() - 1);
}

void Timeline::AddCache(uint32_t source, const CCache& cache, bool withRecovered)
{
    for (int32_t g = 0; g < cache.GetGroupCount(); ++g) {
        const CNamedCacheItemArray* group = cache.GetGroup(g);
        for (int32_t i = 0; i < group->GetCount(); ++i) {
            if (CCacheItem* item = group->ItemAt(i))
                AddItem(source, *item);
        }
    }
    if (withRecovered) {
        const CNamedCacheItemArray& recovered = cache.GetRecoveredItems();
        for (int32_t i = 0; i < recovered.GetCount(); ++i) {
            if (CCacheItem* item = recovered.ItemAt(i))
                AddItem(source, *item);
        }
    }
}

void Timeline::AddItem(uint32_t source, CCacheItem& item)
{
    const std::pair<uint8_t, int64_t> times[] = {
        {kTimeLastModified, item.GetLastModified() ? item.GetLastModified() : item.GetLastModifiedSortTime()},
        {kTimeDownloaded, item.GetDownloaded()},
        {kTimeExpires, item.GetExpires()},
        {kTimeLastAccessed, item.GetLastAccessed()},
    };
    // Each distinct time once, with every kind that carries it.
    TimelineEvent events[4];
    size_t count = 0;
    for (const auto& [kind, time] : times) {
        if (time == 0 || time == -1)
            continue;
        if (time < kEarliest || time > kLatest) {
            ++outOfRange_;
            continue;
        }
        TimelineEvent* same = nullptr;
        for (size_t k = 0; k < count && !same; ++k) {
            if (events[k].time == time)
                same = &events[k];
        }
        if (same)
            same->kinds |= kind;
        else
            events[count++] = TimelineEvent{time, kind, source, &item};
    }
    events_.insert(events_.end(), events, events + count);
}

void Timeline::Sort()
{
    std::stable_sort(events_.begin(), events_.end(),
                     [](const TimelineEvent& a, const TimelineEvent& b) { return a.time < b.time; });
}

const std::vector<std::string_view>& TimelineColumns()
{
    static const std::vector<std::string_view> columns{
        "message", "datetime", "timestamp_desc", "timestamp",    "url",       "browser",
        "profile", "cache_name", "size",         "content_type", "recovered", "source_file",
    };
    return columns;
}

bool WriteTimelineCsv(std::ostream& out, const Timeline& timeline, Progress* progress)
{
    std::string header;
    for (std::string_view column : TimelineColumns()) {
        if (!header.empty())
            header += ',';
        header += column;
    }
    header += "\r\n";
    return WriteEvents(out, timeline, progress, std::move(header),
                       [url = std::string()](std::string& line, const TimelineEvent& event,
                                             const TimelineSource& source, const std::string& sourceFile) mutable {
                           const CCacheItem& item = *event.item;
                           const std::string& description = KindsText(event.kinds);
                           // The URL escaped once, for the message and its own field.
                           url.clear();
                           AppendCsvText(url, UrlOf(item));
                           // The description leads: the message never looks like a formula.
                           line += '"';
                           line += description;
                           line += ": ";
                           if (item.GetURL())
                               line += url;
                           else
                               AppendCsvText(line, CacheNameOf(item));
                           line += '"';
                           line += ",\"";
                           AppendIsoTime(line, event.time);
                           line += "\",";
                           AppendCsvField(line, description);
                           line += ',';
                           AppendNumber(line, event.time * 1000000);
                           line += ',';
                           line += LooksLikeFormula(UrlOf(item)) ? "\"'" : "\"";
                           line += url;
                           line += '"';
                           line += ',';
                           AppendCsvField(line, source.browser);
                           line += ',';
                           AppendCsvField(line, source.profile);
                           line += ',';
                           AppendCsvField(line, CacheNameOf(item));
                           line += ',';
                           AppendNumber(line, item.GetSize());
                           line += ',';
                           AppendCsvField(line, OrEmpty(item.GetContentType()));
                           line += item.IsRecovered() ? ",true," : ",false,";
                           AppendCsvField(line, sourceFile);
                           line += "\r\n";
                       });
}

bool WriteTimelineJsonl(std::ostream& out, const Timeline& timeline, Progress* progress)
{
    return WriteEvents(out, timeline, progress, std::string(),
                       [url = std::string()](std::string& line, const TimelineEvent& event,
                                             const TimelineSource& source, const std::string& sourceFile) mutable {
                           const CCacheItem& item = *event.item;
                           const std::string& description = KindsText(event.kinds);
                           url.clear();
                           AppendJsonText(url, UrlOf(item));
                           auto text = [&line](std::string_view key, const char* value) {
                               line += ",\"";
                               line += key;
                               line += "\":";
                               if (value)
                                   AppendJsonString(line, value);
                               else
                                   line += "null";
                           };
                           line += "{\"message\":";
                           line += '"';
                           line += description;
                           line += ": ";
                           if (item.GetURL())
                               line += url;
                           else
                               AppendJsonText(line, CacheNameOf(item));
                           line += '"';
                           line += ",\"datetime\":\"";
                           AppendIsoTime(line, event.time);
                           line += "\",\"timestamp_desc\":";
                           AppendJsonString(line, description);
                           line += ",\"timestamp\":";
                           AppendNumber(line, event.time * 1000000);
                           if (item.GetURL()) {
                               line += ",\"url\":\"";
                               line += url;
                               line += '"';
                           } else {
                               line += ",\"url\":null";
                           }
                           text("browser", source.browser.c_str());
                           text("profile", source.profile.c_str());
                           text("cache_name", item.GetCacheName());
                           line += ",\"size\":";
                           AppendNumber(line, item.GetSize());
                           text("content_type", item.GetContentType());
                           line += item.IsRecovered() ? ",\"recovered\":true" : ",\"recovered\":false";
                           text("source_file", sourceFile.empty() ? nullptr : sourceFile.c_str());
                           line += "}\n";
                       });
}

} // namespace oriel
