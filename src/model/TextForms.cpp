#include "model/TextForms.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iterator>

namespace oriel {

char* WriteSize(char* out, int64_t size)
{
    // At most 20 digits, 6 separators and a sign: within kMaxFormLength.
    bool negative = size < 0;
    uint64_t value = negative ? uint64_t(-(size + 1)) + 1 : uint64_t(size);
    char digits[24];
    int n = 0;
    do {
        digits[n++] = char('0' + value % 10);
        value /= 10;
    } while (value);
    if (negative)
        *out++ = '-';
    for (int i = n - 1; i >= 0; --i) {
        *out++ = digits[i];
        if (i != 0 && i % 3 == 0)
            *out++ = ',';
    }
    return out;
}

void AppendSize(std::string& out, int64_t size)
{
    char buffer[kMaxFormLength];
    out.append(buffer, size_t(WriteSize(buffer, size) - buffer));
}

std::string FormatSize(int64_t size)
{
    std::string out;
    AppendSize(out, size);
    return out;
}

namespace {

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t year, int month, int day)
{
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yoe = year - era * 400;
    const int64_t doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

// Reads the words of an HTTP date: runs of letters and of digits, the rest
// separating them.
class DateWords {
public:
    explicit DateWords(std::string_view text)
        : text_(text)
    {
    }
    std::optional<std::string_view> Next()
    {
        while (pos_ < text_.size() && !IsWordChar(text_[pos_]))
            ++pos_;
        if (pos_ == text_.size())
            return std::nullopt;
        const size_t start = pos_;
        const bool digits = IsDigit(text_[pos_]);
        while (pos_ < text_.size() && IsWordChar(text_[pos_]) && IsDigit(text_[pos_]) == digits)
            ++pos_;
        return text_.substr(start, pos_ - start);
    }

    static bool IsDigit(char c) { return c >= '0' && c <= '9'; }
    static bool IsWordChar(char c) { return IsDigit(c) || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z'); }

private:
    std::string_view text_;
    size_t pos_ = 0;
};

std::optional<int> Number(std::optional<std::string_view> word, size_t maxDigits)
{
    if (!word || word->empty() || word->size() > maxDigits || !DateWords::IsDigit(word->front()))
        return std::nullopt;
    int value = 0;
    for (char c : *word)
        value = value * 10 + (c - '0');
    return value;
}

std::optional<int> Month(std::optional<std::string_view> word)
{
    static constexpr std::string_view kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                                   "jul", "aug", "sep", "oct", "nov", "dec"};
    if (!word || word->size() < 3)
        return std::nullopt;
    for (int m = 0; m < 12; ++m) {
        bool same = true;
        for (size_t i = 0; i < 3; ++i)
            same = same && char((*word)[i] | 0x20) == kMonths[m][i];
        if (same)
            return m + 1;
    }
    return std::nullopt;
}

} // namespace

std::optional<int64_t> ParseHttpDate(std::string_view text)
{
    DateWords words(text);
    auto weekday = words.Next();
    if (!weekday || DateWords::IsDigit(weekday->front()))
        return std::nullopt;
    std::optional<int> day, month, year, hour, minute, second;
    auto first = words.Next();
    if (first && DateWords::IsDigit(first->front())) {
        // "06 Nov 1994 08:49:37 GMT" or "06-Nov-94 08:49:37 GMT"
        day = Number(first, 2);
        month = Month(words.Next());
        year = Number(words.Next(), 4);
        hour = Number(words.Next(), 2);
        minute = Number(words.Next(), 2);
        second = Number(words.Next(), 2);
    } else {
        // "Nov  6 08:49:37 1994"
        month = Month(first);
        day = Number(words.Next(), 2);
        hour = Number(words.Next(), 2);
        minute = Number(words.Next(), 2);
        second = Number(words.Next(), 2);
        year = Number(words.Next(), 4);
    }
    if (!day || !month || !year || !hour || !minute || !second)
        return std::nullopt;
    // Two-digit years (the second form): 70 to 99 are 19xx, the rest 20xx.
    int fullYear = *year < 100 ? (*year >= 70 ? 1900 + *year : 2000 + *year) : *year;
    if (*day < 1 || *day > 31 || *hour > 23 || *minute > 59 || *second > 60 || fullYear < 1970)
        return std::nullopt;
    return DaysFromCivil(fullYear, *month, *day) * 86400 + *hour * 3600 + *minute * 60 + *second;
}

std::string FormatDate(int64_t time)
{
    std::string out;
    AppendDate(out, time);
    return out;
}

void AppendDate(std::string& out, int64_t time)
{
    char buffer[kMaxFormLength];
    out.append(buffer, size_t(WriteDate(buffer, time) - buffer));
}

namespace {

// "d/mm/yyyy " of one day, made by breaking the day number down by hand
// (civil date from day number).
struct DayText {
    int64_t days = -1;
    uint8_t length = 0;
    char text[12];
};

void MakeDayText(DayText& entry, int64_t days)
{
    int64_t z = days + 719468;
    int64_t era = z / 146097;
    int64_t doe = z - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    int day = int(doy - (153 * mp + 2) / 5 + 1);
    int month = int(mp < 10 ? mp + 3 : mp - 9);
    int year = int(yoe + era * 400 + (month <= 2 ? 1 : 0));
    char* p = entry.text;
    if (day >= 10)
        *p++ = char('0' + day / 10);
    *p++ = char('0' + day % 10);
    *p++ = '/';
    *p++ = char('0' + month / 10);
    *p++ = char('0' + month % 10);
    *p++ = '/';
    *p++ = char('0' + year / 1000);
    *p++ = char('0' + year / 100 % 10);
    *p++ = char('0' + year / 10 % 10);
    *p++ = char('0' + year % 10);
    *p++ = ' ';
    entry.days = days;
    entry.length = uint8_t(p - entry.text);
}

} // namespace

char* WriteDate(char* out, int64_t time)
{
    // _gmtime64 accepts 0 up to 23:59:59 on 31 December 3000 UTC.
    constexpr int64_t kLastSecond = 32535215999;
    if (time <= 0 || time > kLastSecond)
        return out;
    // This runs three times per item in every listing and export, and the
    // items of a cache share few days: the day's text is kept per thread in
    // a small table indexed by the day number.
    thread_local DayText dayTexts[512];
    const int64_t days = time / 86400;
    DayText& entry = dayTexts[size_t(days) % std::size(dayTexts)];
    if (entry.days != days)
        MakeDayText(entry, days);
    const int secondsOfDay = int(time % 86400);
    const int hour = secondsOfDay / 3600;
    const int minute = secondsOfDay / 60 % 60;
    const int second = secondsOfDay % 60;
    const int hour12 = hour % 12 == 0 ? 12 : hour % 12;

    // "dd/mm/yyyy hh:mm:ss PM": 22 bytes at most.
    char* p = out;
    // The whole text field at once, as fixed-size moves: the output has the
    // room (kMaxFormLength) and what lies past the day's length is
    // overwritten next.
    std::memcpy(p, entry.text, sizeof entry.text);
    p += entry.length;
    if (hour12 >= 10)
        *p++ = '1';
    *p++ = char('0' + hour12 % 10);
    *p++ = ':';
    *p++ = char('0' + minute / 10);
    *p++ = char('0' + minute % 10);
    *p++ = ':';
    *p++ = char('0' + second / 10);
    *p++ = char('0' + second % 10);
    *p++ = ' ';
    *p++ = hour < 12 ? 'A' : 'P';
    *p++ = 'M';
    return p;
}

int64_t FileTimeToUnix(uint32_t low, uint32_t high)
{
    // A zero FILETIME is a field the browser never set: no time, not 1601.
    if (low == 0 && high == 0)
        return 0;
    double ticks = double(high) * 4294967296.0 + double(low);
    double seconds = ticks * 1e-7 - 11644473600.0;
    return int64_t(std::trunc(seconds));
}

int64_t FatDateTimeToUnix(uint16_t date, uint16_t tod)
{
    int day = int(date & 0x1F);
    int month = int((date >> 5) & 0x0F);
    int year = 1980 + int(date >> 9);
    int seconds = int(tod & 0x1F) * 2;
    int minutes = int((tod >> 5) & 0x3F);
    int hours = int(tod >> 11);
    if (day < 1 || month < 1 || month > 12 || hours > 23 || minutes > 59 || seconds > 59)
        return 0;
    // Days from the civil date (proleptic Gregorian), no time zone involved.
    int y = year - (month <= 2 ? 1 : 0);
    int era = y / 400;
    int yoe = y - era * 400;
    int mp = (month + 9) % 12;
    int doy = (153 * mp + 2) / 5 + day - 1;
    int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    int64_t days = int64_t(era) * 146097 + doe - 719468;
    return days * 86400 + hours * 3600 + minutes * 60 + seconds;
}

std::optional<UrlParts> SplitUrl(std::string_view url)
{
    size_t slashes = url.find("//");
    if (slashes == std::string_view::npos)
        return std::nullopt;
    UrlParts parts;
    parts.scheme = slashes > 0 ? url.substr(0, slashes - 1) : std::string_view{};
    std::string_view rest = url.substr(slashes + 2);
    size_t slash = rest.find('/');
    if (slash == std::string_view::npos) {
        parts.host = rest;
        parts.path = {};
    } else {
        parts.host = rest.substr(0, slash);
        parts.path = rest.substr(slash);
    }
    return parts;
}

} // namespace oriel
