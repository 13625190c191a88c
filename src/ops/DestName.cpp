#include "ops/DestName.h"

#include "app/AppOptions.h"
#include "model/CacheItem.h"

#include <vector>

namespace oriel {

DestNameOptions DestNameOptions::From(const AppOptions& options)
{
    DestNameOptions o;
    o.usePathNames = options.usePathNames != 0;
    o.extractNames = options.extractNames != 0;
    o.useServerInPath = options.useServerInPath != 0;
    o.defaultFileName = options.defaultFileName;
    return o;
}

namespace {

std::string DefaultName(const DestNameOptions& options)
{
    return options.defaultFileName + ".htm";
}

// The eight characters a file name may not hold on the shell's file
// systems; the copies keep the names portable.
bool IsReserved(char c)
{
    switch (c) {
    case '/': case ':': case '*': case '?': case '"': case '>': case '<': case '|':
        return true;
    default:
        return false;
    }
}

std::string CleanFileName(std::string_view name)
{
    std::string cleaned(name);
    for (char& c : cleaned) {
        if (IsReserved(c))
            c = '_';
    }
    std::string out;
    for (size_t i = 0; i < cleaned.size();) {
        if (cleaned.compare(i, 3, "%20") == 0) {
            out += ' ';
            i += 3;
        } else {
            out += cleaned[i++];
        }
    }
    return out;
}

size_t Utf8Boundary(std::string_view s, size_t at)
{
    while (at > 0 && at < s.size() && (static_cast<unsigned char>(s[at]) & 0xC0) == 0x80)
        --at;
    return at;
}

} // namespace

std::string CutSegment(std::string_view segment, size_t maxBytes)
{
    if (segment.size() <= maxBytes)
        return std::string(segment);
    std::string_view ext;
    size_t dot = segment.rfind('.');
    if (dot != std::string_view::npos && dot > 0 && segment.size() - dot <= 33 && segment.size() - dot < maxBytes)
        ext = segment.substr(dot);
    std::string_view stem = segment.substr(0, segment.size() - ext.size());
    size_t keep = Utf8Boundary(stem, maxBytes - ext.size());
    return std::string(stem.substr(0, keep)) + std::string(ext);
}

std::string SafeRelativePath(std::string_view path, std::string_view fallback)
{
    std::vector<std::string> segments;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string_view::npos)
            end = path.size();
        std::string segment(path.substr(start, end - start));
        start = end + 1;
        if (segment.empty())
            continue; // a leading "/" or "//" would make the path absolute or odd
        for (char& c : segment) {
            if (c == '\0')
                c = '_';
        }
        if (segment == "." || segment == "..")
            segment = "_";
        segments.push_back(CutSegment(segment));
    }
    if (segments.empty())
        return fallback.empty() ? std::string("_") : SafeRelativePath(fallback, "_");
    std::string out;
    for (const std::string& s : segments) {
        if (!out.empty())
            out += '/';
        out += s;
    }
    return out;
}

std::string MakeDestName(std::string_view url, const DestNameOptions& options)
{
    std::string name;
    // The host begins past "://"; a URL without it has no file name.
    const size_t colon = url.find(':');
    if (colon == std::string_view::npos || colon + 3 > url.size())
        return SafeRelativePath(DefaultName(options), "_");
    const size_t hostStart = colon + 3;
    const size_t pathStart = url.find('/', hostStart);
    if (options.useServerInPath)
        name += url.substr(hostStart, pathStart == std::string_view::npos ? std::string_view::npos : pathStart - hostStart);

    // The file name is what follows the last "/" (a query's "/" counts); a
    // URL ending in "/" has none.
    bool hasFileName = false;
    size_t fileStart = std::string_view::npos;
    if (pathStart != std::string_view::npos) {
        size_t pos = pathStart;
        for (;;) {
            size_t next = url.find('/', pos + 1);
            if (next == std::string_view::npos) {
                fileStart = pos + 1;
                hasFileName = fileStart < url.size();
                break;
            }
            if (next == url.size() - 1) {
                fileStart = url.size();
                break;
            }
            pos = next;
        }
    }
    if (options.extractNames && pathStart != std::string_view::npos) {
        if (hasFileName)
            name += url.substr(pathStart, fileStart - pathStart);
        else
            name += url.substr(pathStart);
    } else if (!name.empty()) {
        // The host and the file name would otherwise run together.
        name += '/';
    }
    if (hasFileName)
        name += CleanFileName(url.substr(fileStart));
    else
        name += DefaultName(options);
    return SafeRelativePath(name, DefaultName(options));
}

std::string DestNameFor(const CCacheItem& item, const DestNameOptions& options)
{
    if (options.usePathNames && item.GetURL())
        return MakeDestName(item.GetURL(), options);
    std::string name = item.GetCacheName() ? item.GetCacheName() : "";
    for (char& c : name) {
        if (c == '\\')
            c = '/';
    }
    return SafeRelativePath(name, options.defaultFileName + ".htm");
}

std::string NumberedName(std::string_view fileName, int number)
{
    size_t dot = fileName.rfind('.');
    if (dot == 0 || dot == std::string_view::npos)
        dot = fileName.size();
    std::string suffix = " (" + std::to_string(number) + ")";
    std::string ext(fileName.substr(dot));
    if (ext.size() > 33)
        ext.clear(), dot = fileName.size();
    std::string stem(fileName.substr(0, dot));
    // The number survives the cut: the stem gives way.
    size_t room = kMaxSegmentBytes - suffix.size() - ext.size();
    if (stem.size() > room)
        stem.resize(Utf8Boundary(stem, room));
    return stem + suffix + ext;
}

} // namespace oriel
