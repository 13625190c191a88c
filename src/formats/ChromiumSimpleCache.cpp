#include "formats/ChromiumSimpleCache.h"

#include "formats/ChromiumBlockFile.h"
#include "formats/EntryFolder.h"
#include "model/TextForms.h"
#include "platform/ContainedPath.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace oriel {

namespace {

// Entry files read at once on the reading threads.
constexpr size_t kReadBatch = 2048;
// Bytes read from the end of a "_0" file at once: both records and, for
// nearly every entry, the response info; a small file is read whole.
constexpr size_t kTailRead = 16384;
// Bytes read from the start when the tail does not reach it: the header
// and any key of an ordinary length.
constexpr size_t kHeadRead = 2048;
// Stream 0 is read at most this long.
constexpr uint64_t kMaxResponseInfo = 1 << 20;
// A "_s" file is walked for at most this many ranges.
constexpr uint32_t kMaxSparseRanges = 1 << 16;
// The real index is read only up to this size (24 bytes an entry).
constexpr uint64_t kMaxIndexSize = uint64_t(256) << 20;
// Recognition looks at no more "_0" files than this.
constexpr int kMaxProbes = 16;

int32_t ClampToInt32(uint64_t value)
{
    return int32_t(std::min<uint64_t>(value, INT32_MAX));
}

std::string Hex64(uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

// The entry files of a folder: the plain files whose names read as entry
// file names, sorted.
std::vector<std::pair<std::string, SimpleEntryFileName>> ListEntryFiles(const std::string& folder)
{
    std::vector<std::pair<std::string, SimpleEntryFileName>> files;
    // The cache folder itself is the one the profile or the user named.
    for (std::string& name : ListPlainFiles(folder, true)) {
        if (auto parsed = ParseSimpleEntryFileName(name))
            files.emplace_back(std::move(name), *parsed);
    }
    return files;
}

// The URL and group of a key: views of the key.
struct KeyParts {
    std::string_view url;
    std::string_view siteKey;
    std::string_view group;
    std::string_view path;
};

KeyParts SplitKey(std::string_view key)
{
    const ChromiumKey parts = SplitChromiumKey(key);
    KeyParts out;
    out.url = parts.url;
    out.siteKey = parts.siteKey;
    if (auto split = SplitUrl(out.url)) {
        out.group = split->host;
        out.path = split->path;
    } else {
        // "data:", "chrome:" and the like: listed under their scheme.
        out.group = out.url.substr(0, std::min(out.url.find(':'), out.url.size()));
        out.path = out.url;
    }
    return out;
}

std::string ChromeTimeText(uint64_t value)
{
    const std::string text = FormatDate(blockfile::ChromeTimeToUnix(value));
    return text.empty() ? std::string("none") : text;
}

} // namespace

std::vector<std::pair<std::string, std::string>> ChromiumSimpleProperties(const ChromiumSimpleDetails& details)
{
    std::vector<std::pair<std::string, std::string>> out;
    out.emplace_back("Site key", details.siteKey);
    out.emplace_back("Entry hash", Hex64(details.hash));
    out.emplace_back("Entry version", std::to_string(details.entryVersion));
    out.emplace_back("Last used", details.lastUsed ? ChromeTimeText(*details.lastUsed) : std::string("not indexed"));
    if (details.hasSparseFile) {
        out.emplace_back("Sparse data", std::to_string(details.sparseRanges) + " ranges, " +
                                            std::to_string(details.sparseBytes) + " bytes");
    }
    if (details.damaged)
        out.emplace_back("Damaged", "the entry file's end records do not read");
    return out;
}

ChromiumSimpleItem::ChromiumSimpleItem(CCache* owner, int32_t recordKey, OptText url, OptText urlPath,
                                       OptText cacheName, int32_t size, int64_t lastModified, int64_t downloaded,
                                       OptText headers, int64_t offset, int32_t length, ChromiumSimpleDetails details)
    : CChromiumEmbeddedItem(owner, recordKey, url, urlPath, cacheName, size, lastModified, downloaded, 0, headers,
                            cacheName ? *cacheName : std::string_view(), offset, length)
    , details_(std::move(details))
{
    SetSiteKey(details_.siteKey);
}

std::vector<std::pair<std::string, std::string>> ChromiumSimpleItem::GetFormatProperties() const
{
    return ChromiumSimpleProperties(details_);
}

ChromiumSimpleBodilessItem::ChromiumSimpleBodilessItem(CCache* owner, int32_t recordKey, OptText url,
                                                       OptText urlPath, int64_t lastModified,
                                                       ChromiumSimpleDetails details)
    : CChromiumFileItem(owner, recordKey, url, urlPath, std::nullopt, 0, lastModified, 0, 0, std::nullopt)
    , details_(std::move(details))
{
    SetSiteKey(details_.siteKey);
}

std::vector<std::pair<std::string, std::string>> ChromiumSimpleBodilessItem::GetFormatProperties() const
{
    return ChromiumSimpleProperties(details_);
}

ChromiumSimpleCache::ChromiumSimpleCache(const AppContext& context, BrowserProfile* profile, std::string folder)
    : NetscapeCache(context, profile, std::move(folder), simplecache::kFakeIndexFileName)
{
}

ChromiumSimpleCache::~ChromiumSimpleCache()
{
    StopDecodeThread();
}

int ChromiumSimpleCache::OpenDatabase()
{
    return 0;
}

bool ChromiumSimpleCache::Recognize(const std::string& folder)
{
    if (folder.empty())
        return false;
    const std::string indexDir = platform::ResolvePath(platform::MakePath(folder, simplecache::kIndexFolderName));
    auto real = platform::GetFileAttributes(platform::ResolvePath(platform::MakePath(indexDir, simplecache::kRealIndexFileName)));
    if (real && real->isRegular)
        return true;
    const std::string marker = platform::ResolvePath(platform::MakePath(folder, simplecache::kFakeIndexFileName));
    if (auto source = platform::FileRange{marker, 0, 8}.Open(); source && IsSimpleFakeIndex(source->Read(0, 8)))
        return true;
    int probes = 0;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end && probes < kMaxProbes; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        auto parsed = ParseSimpleEntryFileName(name);
        if (!parsed || parsed->kind != '0' || it->symlink_status(ec).type() != fs::file_type::regular)
            continue;
        ++probes;
        auto source = platform::FileRange{it->path().string(), 0, simplecache::kRecordSize}.Open();
        if (source && ParseSimpleFileHeader(source->Read(0, simplecache::kRecordSize)))
            return true;
    }
    return false;
}

void ChromiumSimpleCache::ReadIndex()
{
    index_.reset();
    indexByHash_.clear();
    const std::string dir = platform::ResolvePath(platform::MakePath(GetFolder(), simplecache::kIndexFolderName));
    const std::string path = platform::ResolvePath(platform::MakePath(dir, simplecache::kRealIndexFileName));
    auto attributes = platform::GetFileAttributes(path);
    if (!attributes || !attributes->isRegular)
        return;
    auto bytes = platform::ReadFile(path, kMaxIndexSize);
    if (!bytes)
        return;
    index_ = ParseSimpleIndex(ByteReader(*bytes));
    if (!index_) {
        Trace("The index is not usable; entry files are read without it");
        return;
    }
    // Sorted by hash, and for one hash by place: a look-up finds the
    // first record of a hash.
    indexByHash_.reserve(index_->records.size());
    for (size_t i = 0; i < index_->records.size(); ++i)
        indexByHash_.emplace_back(index_->records[i].hash, i);
    std::sort(indexByHash_.begin(), indexByHash_.end());
}

void ChromiumSimpleCache::AddDetailsFromIndex(ChromiumSimpleDetails& details) const
{
    auto found = std::lower_bound(indexByHash_.begin(), indexByHash_.end(), std::pair<uint64_t, size_t>(details.hash, 0));
    if (found != indexByHash_.end() && found->first == details.hash)
        details.lastUsed = index_->records[found->second].lastUsed;
    if (auto sparse = sparse_.find(details.hash); sparse != sparse_.end()) {
        details.hasSparseFile = true;
        details.sparseRanges = sparse->second.ranges;
        details.sparseBytes = sparse->second.bytes;
    }
}

int ChromiumSimpleCache::DoDecode()
{
    Trace("Entry - ChromiumSimpleCache::DoDecode()");
    ReadIndex();
    sparse_.clear();
    const auto files = ListEntryFiles(GetFolder());
    // Opened as the listing opened it: a folder link is followed only while
    // it stays inside the examined tree.
    platform::UniqueFd folder = platform::OpenContained(GetFolder(), platform::OpenAs::Directory);
    const int folderFd = folder.Get();
    if (folderFd < 0) {
        Trace("Exit  - ChromiumSimpleCache::DoDecode() no folder");
        return 0;
    }
    // The sparse files first, so that each entry finds its own.
    // The hashes that have a "_0" file, sorted, each once.
    std::vector<uint64_t> entryHashes;
    entryHashes.reserve(files.size());
    for (const auto& [name, parsed] : files) {
        if (parsed.kind == '0')
            entryHashes.push_back(parsed.hash);
        else if (parsed.kind == 's' && !StopRequested())
            sparse_[parsed.hash] = ReadSparseFile(folderFd, name);
    }
    std::sort(entryHashes.begin(), entryHashes.end());
    entryHashes.erase(std::unique(entryHashes.begin(), entryHashes.end()), entryHashes.end());
    auto hasEntryFile = [&entryHashes](uint64_t hash) {
        return std::binary_search(entryHashes.begin(), entryHashes.end(), hash);
    };
    size_t total = entryHashes.size();
    for (const auto& [hash, sparse] : sparse_)
        total += hasEntryFile(hash) ? 0 : 1;
    SetProgressTotal(ClampToInt32(total));
    Trace("Entry files: " + std::to_string(entryHashes.size()) + ", sparse files: " + std::to_string(sparse_.size()));

    // The entry files are read a batch at a time on a few threads (opening
    // and reading 100,000 small files is most of the work, and the kernel
    // does it on every core); the items are then made and listed in name
    // order on this thread.
    std::vector<EntryRead> batch(kReadBatch);
    std::vector<size_t> entryFiles; // indexes into `files` of a batch's "_0" files
    entryFiles.reserve(kReadBatch);
    int32_t key = 0;
    for (size_t first = 0; first < files.size() && !StopRequested(); first += kReadBatch) {
        const size_t count = std::min(kReadBatch, files.size() - first);
        entryFiles.clear();
        for (size_t i = first; i < first + count; ++i) {
            if (files[i].second.kind == '0')
                entryFiles.push_back(i);
        }
        ForEachInParallel(entryFiles.size(), [&](size_t i) {
            ReadEntryFile(folderFd, files[entryFiles[i]].first, batch[i]);
        });
        size_t nextRead = 0;
        for (size_t i = first; i < first + count && !StopRequested(); ++i) {
            const auto& [name, parsed] = files[i];
            if (parsed.kind == '0') {
                EntryRead& read = batch[nextRead++];
                const int32_t recordKey = key++;
                if (read.isEntry)
                    AddEntryItem(recordKey, name, parsed.hash, read);
            } else if (parsed.kind == 's' && !hasEntryFile(parsed.hash)) {
                auto sparse = sparse_.find(parsed.hash);
                if (sparse != sparse_.end() && sparse->second.read)
                    DecodeSparseOnly(key++, parsed.hash, sparse->second);
            }
        }
        std::this_thread::yield();
    }
    folder.Reset();
    Trace("Read " + std::to_string(key) + " entries");
    Trace("Exit  - ChromiumSimpleCache::DoDecode()");
    return 0;
}

ChromiumSimpleCache::Sparse ChromiumSimpleCache::ReadSparseFile(int folderFd, const std::string& name) const
{
    Sparse sparse;
    struct stat st {};
    const int fd = OpenPlainFileAt(folderFd, name, st);
    if (fd < 0)
        return sparse;
    const uint64_t fileSize = uint64_t(st.st_size);
    std::string bytes;
    if (ReadRangeAt(fd, 0, size_t(std::min<uint64_t>(fileSize, kHeadRead)), bytes)) {
        auto header = ParseSimpleFileHeader(ByteReader(bytes));
        const uint64_t keyEnd = header ? simplecache::kRecordSize + uint64_t(header->keyLength) : 0;
        if (header && keyEnd <= fileSize) {
            if (keyEnd > bytes.size() && !ReadRangeAt(fd, 0, size_t(keyEnd), bytes))
                bytes.clear();
            if (keyEnd <= bytes.size()) {
                sparse.read = true;
                sparse.key.assign(bytes, simplecache::kRecordSize, header->keyLength);
                // The ranges follow one another to the file's end.
                uint64_t at = keyEnd;
                std::string range;
                while (sparse.ranges < kMaxSparseRanges && fileSize - at >= simplecache::kSparseRangeHeaderSize &&
                       ReadRangeAt(fd, at, simplecache::kSparseRangeHeaderSize, range)) {
                    auto parsed = ParseSimpleSparseRangeHeader(ByteReader(range));
                    const uint64_t room = fileSize - at - simplecache::kSparseRangeHeaderSize;
                    if (!parsed || uint64_t(parsed->length) > room)
                        break;
                    ++sparse.ranges;
                    sparse.bytes += uint64_t(parsed->length);
                    at += simplecache::kSparseRangeHeaderSize + uint64_t(parsed->length);
                }
            }
        }
    }
    ::close(fd);
    return sparse;
}

void ChromiumSimpleCache::DecodeSparseOnly(int32_t recordKey, uint64_t hash,
                                           const Sparse& sparse)
{
    const KeyParts parts = SplitKey(sparse.key);
    ChromiumSimpleDetails details;
    details.hash = hash;
    details.siteKey = parts.siteKey;
    AddDetailsFromIndex(details);
    const int64_t lastUsed = details.lastUsed ? blockfile::ChromeTimeToUnix(*details.lastUsed) : 0;
    auto item = std::make_unique<ChromiumSimpleBodilessItem>(this, recordKey, parts.url, parts.path, 0,
                                                             std::move(details));
    item->SetLastAccessed(lastUsed);
    AddItem(parts.group, std::move(item));
}

void ChromiumSimpleCache::ReadEntryFile(int folderFd, const std::string& name, EntryRead& read)
{
    read.isEntry = false;
    read.key.clear();
    read.layout.reset();
    read.info.reset();
    struct stat st {};
    const int fd = OpenPlainFileAt(folderFd, name, st);
    if (fd < 0)
        return;
    const uint64_t fileSize = uint64_t(st.st_size);
    read.modified = int64_t(st.st_mtime);
    // The end of the file, and the start when the end does not reach it.
    const size_t tailSize = size_t(std::min<uint64_t>(fileSize, kTailRead));
    const uint64_t tailStart = fileSize - tailSize;
    if (!ReadRangeAt(fd, tailStart, tailSize, read.tail)) {
        ::close(fd);
        return;
    }
    const ByteReader tail(read.tail);
    ByteReader head = tail;
    if (tailStart > 0) {
        if (!ReadRangeAt(fd, 0, size_t(std::min<uint64_t>(fileSize, kHeadRead)), read.head)) {
            ::close(fd);
            return;
        }
        head = ByteReader(read.head);
    }
    auto header = ParseSimpleFileHeader(head);
    if (!header) {
        ::close(fd);
        return; // not an entry file
    }
    read.isEntry = true;
    read.version = header->version;
    const size_t recordSize = SimpleRecordSize(tail, fileSize).value_or(simplecache::kRecordSize);
    const uint64_t keyEnd = recordSize + uint64_t(header->keyLength);
    if (keyEnd <= head.size()) {
        read.key.assign(*head.bytes(recordSize, header->keyLength));
    } else if (keyEnd <= fileSize) {
        if (!ReadRangeAt(fd, recordSize, header->keyLength, read.key))
            read.key.clear();
    } else {
        // The key runs past the file: what there is of it.
        auto rest = head.bytes(std::min(recordSize, head.size()), head.size() - std::min(recordSize, head.size()));
        read.key.assign(rest ? *rest : std::string_view());
    }

    // The records at the end give the streams.
    std::optional<SimpleEntryLayout>& layout = read.layout;
    if (auto eof = ParseSimpleFileEOF(tail.sub(tail.size() - std::min(tail.size(), recordSize), recordSize))) {
        layout = SimpleEntryLayoutOf(*header, *eof, recordSize, fileSize);
    }
    if (layout) {
        // Stream 1's record must be where stream 0's size puts it.
        std::optional<SimpleFileEOF> streamOneEof;
        if (layout->stream1EofOffset >= tailStart) {
            streamOneEof = ParseSimpleFileEOF(tail.sub(size_t(layout->stream1EofOffset - tailStart), recordSize));
        } else if (ReadRangeAt(fd, layout->stream1EofOffset, recordSize, read.extra)) {
            streamOneEof = ParseSimpleFileEOF(ByteReader(read.extra));
        }
        if (!streamOneEof)
            layout.reset();
    }
    if (layout && layout->stream0Size > 0 && layout->stream0Size <= kMaxResponseInfo) {
        if (layout->stream0Offset >= tailStart) {
            read.info = ParseResponseInfo(tail.sub(size_t(layout->stream0Offset - tailStart), size_t(layout->stream0Size)));
        } else if (ReadRangeAt(fd, layout->stream0Offset, size_t(layout->stream0Size), read.extra)) {
            read.info = ParseResponseInfo(ByteReader(read.extra));
        }
    }
    ::close(fd);
}

void ChromiumSimpleCache::AddEntryItem(int32_t recordKey, const std::string& name, uint64_t hash,
                                       const EntryRead& read)
{
    const KeyParts parts = SplitKey(read.key);
    ChromiumSimpleDetails details;
    details.hash = hash;
    details.entryVersion = read.version;
    details.siteKey = parts.siteKey;
    details.damaged = !read.layout;
    AddDetailsFromIndex(details);
    const int64_t lastUsed = details.lastUsed ? blockfile::ChromeTimeToUnix(*details.lastUsed) : 0;

    const std::optional<SimpleEntryLayout>& layout = read.layout;
    const std::optional<ResponseInfo>& info = read.info;
    std::unique_ptr<CCacheItem> item;
    if (layout) {
        const int64_t downloaded = info ? blockfile::ChromeTimeToUnix(info->responseTime ? info->responseTime
                                                                                        : info->requestTime)
                                        : 0;
        const OptText headers = info ? OptText(info->headers) : std::nullopt;
        const int32_t size = ClampToInt32(layout->stream1Size);
        item = std::make_unique<ChromiumSimpleItem>(this, recordKey, parts.url, parts.path, name, size, read.modified,
                                                    downloaded, headers, int64_t(layout->stream1Offset), size,
                                                    std::move(details));
        if (info && NamesBrotliEncoding(info->headers))
            item->SetContentEncoding(CCacheItem::kEncodingBrotli);
    } else {
        item = std::make_unique<ChromiumSimpleBodilessItem>(this, recordKey, parts.url, parts.path, read.modified,
                                                            std::move(details));
    }
    item->SetLastAccessed(lastUsed);
    AddItem(parts.group, std::move(item));
}

} // namespace oriel
