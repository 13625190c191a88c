#include "formats/NetscapeCacheDBCache.h"

#include "app/StringTable.h"
#include "app/TraceLog.h"
#include "model/Progress.h"
#include "model/TextForms.h"
#include "platform/FileSystem.h"
#include "platform/WindowsSystem.h"

#include <algorithm>
#include <limits>
#include <thread>

namespace oriel {

namespace hashdb {

std::optional<Header> ReadHeader(std::istream& in)
{
    in.clear();
    in.seekg(0);
    char bytes[kHeaderSize];
    in.read(bytes, sizeof bytes);
    ByteReader header(bytes, size_t(std::max<std::streamsize>(in.gcount(), 0)));
    in.clear();
    // Page 0's words are big-endian.
    auto pageSize = header.u32be(12);
    auto keyCount = header.u32be(56);
    if (!pageSize || !keyCount || *pageSize < kMinPageSize || *pageSize > kMaxPageSize)
        return std::nullopt;
    return Header{*pageSize, *keyCount};
}

bool ReadPage(std::istream& in, uint64_t page, uint32_t pageSize, std::string& out)
{
    out.resize(pageSize);
    const uint64_t offset = page * pageSize;
    in.clear();
    if (pageSize == 0 || offset / pageSize != page || offset > uint64_t(std::numeric_limits<std::streamoff>::max())) {
        out.clear();
        return true;
    }
    in.seekg(std::streamoff(offset));
    if (!in) {
        out.clear();
        return true;
    }
    in.read(out.data(), std::streamsize(pageSize));
    const std::streamsize got = std::max<std::streamsize>(in.gcount(), 0);
    out.resize(size_t(got));
    const bool atEnd = got < std::streamsize(pageSize);
    in.clear();
    return atEnd;
}

void PagePairs(const ByteReader& page, std::vector<Pair>& out)
{
    out.clear();
    auto n = page.u16le(0);
    if (!n || *n == 0 || *n >= kMaxOffsetWords)
        return;
    for (size_t i = 0; i + 1 < *n; i += 2) {
        auto key = page.u16le(2 + 2 * i);
        auto data = page.u16le(2 + 2 * (i + 1));
        if (!key || !data)
            break;
        out.push_back({*key, *data});
    }
}

std::optional<std::string_view> ReadText(const ByteReader& page, size_t& pos)
{
    auto length = page.u32le(pos);
    if (!length)
        return std::nullopt;
    pos += 4;
    if (*length > kMaxTextLength)
        return std::nullopt;
    auto text = page.bytes(pos, *length);
    if (!text)
        return std::nullopt;
    pos += *length;
    return text;
}

std::string_view UpToNul(std::string_view text)
{
    size_t nul = text.find('\0');
    return nul == std::string_view::npos ? text : text.substr(0, nul);
}

} // namespace hashdb

namespace {

int32_t ClampToInt32(int64_t value)
{
    return int32_t(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

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

NetscapeCacheDBCache::NetscapeCacheDBCache(BrowserProfile* profile, std::string folder)
    : NetscapeCache(profile, std::move(folder), kDatabaseFileName)
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
        if (auto host = platform::MapWindowsPath(stored)) {
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

int NetscapeCacheDBCache::GetCacheDBHeaderInfo()
{
    std::ifstream* db = DatabaseStream();
    auto header = db ? hashdb::ReadHeader(*db) : std::nullopt;
    if (!header) {
        ShowMessage(LoadString(IDS_INVALID_HEADER));
        RequestStop();
        return -1;
    }
    pageSize_ = header->pageSize;
    total_ = header->keyCount;
    SetProgressTotal(ClampToInt32(total_));
    return 0;
}

int NetscapeCacheDBCache::iDecodeCacheDB()
{
    if (GetCacheDBHeaderInfo() != 0) {
        Trace("Exit - NetscapeCacheDBCache::iDecodeCacheDB() GetCacheDBHeaderInfo failed");
        return -1;
    }
    ProgressSetRange(GetProgressTotal());
    int64_t remaining = total_;
    for (uint64_t page = 1;; ++page) {
        // Let other threads run now and then; yielding on every page gives
        // the core away thousands of times on a busy machine.
        if (page % 64 == 0)
            std::this_thread::yield();
        const int64_t result = DecodePage(page, remaining);
        if (result >= 0)
            remaining = result;
        ProgressSetPos(ClampToInt32(total_ - remaining));
        if (result < 0 || StopRequested())
            break;
    }
    pageBuffer_.clear();
    pageBuffer_.shrink_to_fit();
    return 0;
}

int64_t NetscapeCacheDBCache::DecodePage(uint64_t page, int64_t remaining)
{
    std::ifstream* db = DatabaseStream();
    if (!db)
        return -1;
    const bool atEnd = hashdb::ReadPage(*db, page, pageSize_, pageBuffer_);
    const ByteReader bytes(pageBuffer_);
    hashdb::PagePairs(bytes, pairs_);

    const int64_t count = int64_t(pairs_.size());
    if (count > remaining) {
        total_ += count - remaining;
        remaining = count;
        SetProgressTotal(ClampToInt32(total_));
        if (progress_)
            progress_->SetRange(0, GetProgressTotal());
    }
    // The pairs are listed from the last to the first.
    for (size_t i = pairs_.size(); i-- > 0;) {
        const hashdb::Pair pair = pairs_[i];
        if (pair.keyOffset == 0 || pair.keyOffset >= pageSize_ || pair.dataOffset == 0 || pair.dataOffset >= pageSize_)
            continue;
        if (DecodePair(bytes, ClampToInt32(total_ - remaining), pair.keyOffset, pair.dataOffset) && remaining > 0)
            --remaining;
    }
    return atEnd ? -1 : remaining;
}

bool NetscapeCacheDBCache::DecodePair(const ByteReader& page, int32_t recordKey, size_t keyOffset, size_t dataOffset)
{
    // Key: a check word; keys beginning with "SE" are the database's own.
    auto keyCheck = page.u32le(keyOffset);
    if (!keyCheck || (*page.u8(keyOffset) == 0x53 && *page.u8(keyOffset + 1) == 0x45))
        return false;
    // Data: record length, the same check word, then three texts.
    auto recordLength = page.u32le(dataOffset);
    auto dataCheck = page.u32le(dataOffset + 4);
    if (!recordLength || *recordLength == 0 || *recordLength >= pageSize_ || !dataCheck || *dataCheck != *keyCheck)
        return false;
    size_t pos = dataOffset + 8;
    auto url = hashdb::ReadText(page, pos);
    if (!url)
        return false;
    auto description = hashdb::ReadText(page, pos);
    if (!description)
        return false;
    auto bodyPath = hashdb::ReadText(page, pos);
    if (!bodyPath)
        return false;

    // The object description (big-endian): one unused byte; named values
    // (name, NUL, 4-byte length, value) up to an empty name; 2 + 1 + 4 + 8
    // unused bytes; downloaded, last-modified and expires times.
    const ByteReader desc(*description);
    std::optional<std::string_view> headers;
    bool listEnded = false;
    size_t at = 1;
    while (at < desc.size()) {
        auto name = desc.cstring(at, desc.size());
        if (!name || at + name->size() >= desc.size())
            break; // no NUL before the end
        at += name->size() + 1;
        if (name->empty()) {
            listEnded = true;
            break;
        }
        auto length = desc.u32be(at);
        if (!length)
            break;
        auto value = desc.bytes(at + 4, *length);
        if (!value)
            break;
        at += 4 + size_t(*length);
        if (name->substr(0, 12) == "HTTP headers")
            headers = hashdb::UpToNul(*value);
    }
    int64_t downloaded = 0, lastModified = 0, expires = 0;
    if (listEnded) {
        const size_t times = at + 2 + 1 + 4 + 8;
        // Signed 32-bit seconds since 1970, widened with their sign.
        downloaded = int32_t(desc.u32be(times).value_or(0));
        lastModified = int32_t(desc.u32be(times + 4).value_or(0));
        expires = int32_t(desc.u32be(times + 8).value_or(0));
    }

    const std::string_view fullUrl = StripWyciwyg(hashdb::UpToNul(*url));
    const std::string cacheName = CacheNameFromStoredPath(*bodyPath);
    auto parts = SplitUrl(fullUrl);
    if (!parts)
        return false;
    auto item = std::make_unique<CFileCacheItem>(this, recordKey, fullUrl, parts->path,
                                                 cacheName.empty() ? OptText() : OptText(cacheName), 0,
                                                 lastModified, downloaded, expires,
                                                 headers ? OptText(*headers) : OptText());
    AddItem(parts->host, std::move(item));
    return true;
}

} // namespace oriel
