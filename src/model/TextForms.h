// Display forms shared by items, the list and the CSV export, and the time
// conversions every decoder uses.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace oriel {

// 1234567 -> "1,234,567"; no unit.
std::string FormatSize(int64_t size);
// The same, appended to `out` (no text of its own to allocate).
void AppendSize(std::string& out, int64_t size);

// Seconds since 1970 UTC as "6/12/2026 3:05:04 PM" (day and hour without
// leading zero). Empty for 0, for -1, and for times the Windows runtime
// cannot break down (before 1 January 1970, after 31 December 3000).
std::string FormatDate(int64_t time);
// The same, appended to `out`.
void AppendDate(std::string& out, int64_t time);

// The two forms written at `out`, which has room for kMaxFormLength bytes;
// the end of what was written is returned. For rows built in one buffer.
constexpr size_t kMaxFormLength = 32;
char* WriteSize(char* out, int64_t size);
char* WriteDate(char* out, int64_t time);

// A Windows FILETIME (100 ns since 1601, UTC) as seconds since 1970, by the
// index.dat rule: high * 2^32 + low in double precision, * 1e-7, minus
// 11644473600, truncated toward zero. A zero FILETIME gives 0 (no time).
int64_t FileTimeToUnix(uint32_t low, uint32_t high);

// A FAT (MS-DOS) date and time, taken as UTC; 0 when the fields do not form
// a valid date.
int64_t FatDateTimeToUnix(uint16_t date, uint16_t time);

// An HTTP date as seconds since 1970 UTC, in any of the three forms HTTP/1.1
// allows: "Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT"
// and "Sun Nov  6 08:49:37 1994". Empty for any other text, and for dates
// before 1970.
std::optional<int64_t> ParseHttpDate(std::string_view text);

// The parts of a URL: scheme (text before "//" less its last character),
// host (after "//" up to the next "/"), path (the rest from that "/").
struct UrlParts {
    std::string_view scheme;
    std::string_view host;
    std::string_view path;
};
// Empty when the URL holds no "//".
std::optional<UrlParts> SplitUrl(std::string_view url);

} // namespace oriel
