// Destination names for files copied or moved out of a cache: built from
// the item's URL (host, path folders, last segment) or its cache name, as a
// relative path with "/" between folders. Every name stays inside the
// folder it is joined to: empty segments are dropped, "." and ".." become
// "_", NUL bytes become "_", and each segment is cut to 255 bytes keeping
// its extension.
#pragma once

#include <string>
#include <string_view>

namespace oriel {

class CCacheItem;
struct AppOptions;

struct DestNameOptions {
    bool usePathNames = true;    // names from URLs, not from cache names
    bool extractNames = true;    // the URL's folders become folders
    bool useServerInPath = true; // the host is the first folder
    std::string defaultFileName = "index"; // for URLs that end in "/"

    static DestNameOptions From(const AppOptions& options);
};

// The longest file name segment the file systems take, in bytes.
constexpr size_t kMaxSegmentBytes = 255;

// The destination name of a URL (usePathNames is not looked at).
std::string MakeDestName(std::string_view url, const DestNameOptions& options);

// A relative path made safe to join to a folder (see above); the default
// name when nothing is left.
std::string SafeRelativePath(std::string_view path, std::string_view fallback);

// One segment cut to `maxBytes` bytes at a UTF-8 character boundary,
// keeping its extension (a final "." and up to 32 bytes after it).
std::string CutSegment(std::string_view segment, size_t maxBytes = kMaxSegmentBytes);

// The name an item is copied under: MakeDestName of its URL when the
// options say so, otherwise its cache name (its "\" as "/").
std::string DestNameFor(const CCacheItem& item, const DestNameOptions& options);

// "name (N).ext": the numbered form of a name that is taken, N >= 2.
std::string NumberedName(std::string_view fileName, int number);

} // namespace oriel
