#include "formats/NetscapeCacheDBCache.h"

#include "model/TextForms.h"
#include "platform/FileSystem.h"
#include "platform/WindowsSystem.h"

#include <algorithm>

namespace oriel {

namespace {

bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// Paths compared without regard to case, either separator matching the
// other.
bool SamePathText(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (IsSeparator(a[i]) ? !IsSeparator(b[i]) : Lower(a[i]) != Lower(b[i]))
            return false;
    }
    return true;
}

std::string_view TrimSeparators(std::string_view path)
{
    while (path.size() > 1 && IsSeparator(path.back()))
        path.remove_suffix(1);
    return path;
}

// The part of `path` after `base` and a separator; empty when `path` does
// not lie under `base`.
std::string_view Below(std::string_view path, std::string_view base)
{
    base = TrimSeparators(base);
    if (base.empty() || path.size() <= base.size() + 1 || !IsSeparator(path[base.size()]) ||
        !SamePathText(path.substr(0, base.size()), base))
        return {};
    return path.substr(base.size() + 1);
}

std::string_view LastComponent(std::string_view path)
{
    path = TrimSeparators(path);
    size_t sep = path.find_last_of("\\/");
    return sep == std::string_view::npos ? path : path.substr(sep + 1);
}

// Removes the "wyciwyg://N/" prefix of a page that a script wrote.
std::string_view StripWyciwyg(std::string_view url)
{
    constexpr std::string_view kWyciwyg = "wyciwyg://";
    if (url.substr(0, kWyciwyg.size()) != kWyciwyg)
        return url;
    size_t slash = url.find('/', kWyciwyg.size());
    return slash == std::string_view::npos ? url : url.substr(slash + 1);
}

} // namespace

NetscapeCacheDBCache::NetscapeCacheDBCache(const AppContext& context, BrowserProfile* profile, std::string folder)
    : NetscapeHashDBCache(context, profile, std::move(folder), kDatabaseFileName)
{
}

NetscapeCacheDBCache::~NetscapeCacheDBCache()
{
    StopDecodeThread();
}

std::string NetscapeCacheDBCache::CacheNameFromStoredPath(std::string_view storedPath) const
{
    const std::string_view stored = hashdb::UpToNul(storedPath);
    auto usable = [](std::string_view name) { return !name.empty() && platform::IsContainedRelativeName(name); };
    const std::string& folder = GetFolder();

    // The browser stored the path on the examined system: map it onto the
    // host and take it relative to the cache folder.
    if (platform::IsWindowsAbsolutePath(stored)) {
        if (auto host = Context().MapWindowsPath(stored)) {
            std::string_view rel = Below(*host, platform::ResolvePath(folder));
            if (usable(rel)) {
                // Shown as the browser wrote it, with backslashes.
                std::string name(rel);
                std::replace(name.begin(), name.end(), '/', '\\');
                return name;
            }
        }
    }
    // A path that names the folder as this host does.
    if (std::string_view rel = Below(stored, folder); usable(rel))
        return std::string(rel);
    // A cache folder copied elsewhere still carries its own name: the part
    // of the stored path after the last component of that name.
    const std::string_view folderName = LastComponent(folder);
    if (!folderName.empty() && !IsSeparator(folderName.front())) {
        if (std::string_view rel = Below(stored, folderName); usable(rel))
            return std::string(rel);
        for (size_t at = stored.size(); at > 0;) {
            size_t sep = stored.find_last_of("\\/", at - 1);
            if (sep == std::string_view::npos)
                break;
            std::string_view rest = stored.substr(sep + 1);
            if (std::string_view rel = Below(rest, folderName); usable(rel))
                return std::string(rel);
            at = sep;
        }
    }
    // Otherwise the file name alone (a path that ends in a separator names
    // a folder, not a body).
    if (stored.empty() || IsSeparator(stored.back()))
        return {};
    std::string_view name = LastComponent(stored);
    if (usable(name) && name.find(':') == std::string_view::npos)
        return std::string(name);
    return {};
}

int NetscapeCacheDBCache::DoDecode()
{
    Trace("Entry - NetscapeCacheDBCache::DoDecode()");
    int result = iDecodeCacheDB();
    Trace("Exit - NetscapeCacheDBCache::DoDecode()");
    return result;
}

int NetscapeCacheDBCache::iDecodeCacheDB()
{
    if (GetCacheDBHeaderInfo() != 0) {
        Trace("Exit - NetscapeCacheDBCache::iDecodeCacheDB() GetCacheDBHeaderInfo failed");
        return -1;
    }
    DecodePages();
    return 0;
}

NetscapeHashDBCache::PairOutcome NetscapeCacheDBCache::DecodePagePair(const ByteReader& page, int32_t recordKey,
                                                                      hashdb::Pair pair)
{
    if (pair.keyOffset == 0 || pair.keyOffset >= GetPageSize())
        return PairOutcome::Skipped;
    return DecodePair(page, recordKey, pair.keyOffset, pair.dataOffset) ? PairOutcome::Item : PairOutcome::Skipped;
}

bool NetscapeCacheDBCache::DecodePair(const ByteReader& page, int32_t recordKey, size_t keyOffset, size_t dataOffset)
{
    auto record = ParseCacheDbRecord(page, keyOffset, dataOffset, GetPageSize());
    if (!record)
        return false;
    const std::string_view fullUrl = StripWyciwyg(record->url);
    const std::string cacheName = CacheNameFromStoredPath(record->bodyPath);
    auto parts = SplitUrl(fullUrl);
    if (!parts)
        return false;
    auto item = std::make_unique<CFileCacheItem>(this, recordKey, fullUrl, parts->path,
                                                 cacheName.empty() ? OptText() : OptText(cacheName), 0,
                                                 record->lastModified, record->downloaded, record->expires,
                                                 record->headers ? OptText(*record->headers) : OptText());
    AddItem(parts->host, std::move(item));
    return true;
}

} // namespace oriel
