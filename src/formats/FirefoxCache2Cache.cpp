#include "formats/FirefoxCache2Cache.h"

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

// Entry files read at once (their metadata blocks held until listed).
constexpr size_t kReadBatch = 2048;

int32_t ClampToInt32(uint64_t value)
{
    return int32_t(std::min<uint64_t>(value, INT32_MAX));
}

std::string Hex(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", value);
    return text;
}

// Bytes read from the end of an entry file at once: the offset word and,
// for nearly every entry, its whole metadata block.
constexpr size_t kTailRead = 8192;

// The metadata block of an entry file (from the metadata offset to the
// offset word) and the body's length; false when the file is no entry
// file.
bool ReadMetadataBlock(int folderFd, const std::string& name, std::string& block, uint32_t& bodySize)
{
    // Opened relative to the folder: no walk of the whole path per entry.
    struct stat st {};
    const int fd = OpenPlainFileAt(folderFd, name, st);
    if (fd < 0)
        return false;
    bool ok = false;
    if (st.st_size >= 4) {
        const uint64_t fileSize = uint64_t(st.st_size);
        const size_t tailSize = size_t(std::min<uint64_t>(fileSize, kTailRead));
        const uint64_t tailStart = fileSize - tailSize;
        if (ReadRangeAt(fd, tailStart, tailSize, block)) {
            auto offset = ParseCache2MetadataOffset(ByteReader(block).sub(tailSize - 4, 4), fileSize);
            if (offset && fileSize - 4 - *offset <= cache2::kMaxMetadataSize) {
                bodySize = *offset;
                if (*offset >= tailStart) {
                    // The block is inside the bytes read.
                    block.erase(0, size_t(*offset - tailStart));
                    block.resize(block.size() - 4);
                    ok = true;
                } else {
                    ok = ReadRangeAt(fd, *offset, size_t(fileSize - 4 - *offset), block);
                }
            }
        }
    }
    ::close(fd);
    return ok;
}

} // namespace

FirefoxCache2Item::FirefoxCache2Item(CCache* owner, int32_t recordKey, OptText url, OptText urlPath,
                                     OptText cacheName, int32_t size, int64_t lastModified, int64_t downloaded,
                                     int64_t expires, OptText headers, uint32_t bodySize, Details details)
    : CEmbeddedBodyItem(owner, recordKey, url, urlPath, cacheName, size, lastModified, downloaded, expires, headers)
    , bodySize_(bodySize)
    , details_(std::move(details))
{
}

std::vector<std::pair<std::string, std::string>> FirefoxCache2Item::GetFormatProperties() const
{
    std::vector<std::pair<std::string, std::string>> out;
    out.emplace_back("Key tags", details_.tags);
    out.emplace_back("Deleted", details_.deleted ? "yes" : "no");
    out.emplace_back("Metadata version", std::to_string(details_.metadataVersion));
    out.emplace_back("Fetch count", std::to_string(details_.fetchCount));
    out.emplace_back("Frecency", std::to_string(details_.frecency));
    out.emplace_back("Metadata flags", Hex(details_.metadataFlags));
    out.emplace_back("Index flags", details_.indexFlags ? Hex(*details_.indexFlags) : std::string("not indexed"));
    return out;
}

std::string FirefoxCache2Item::ContainerFileName() const
{
    return std::string(cacheName_.View());
}

std::optional<CEmbeddedBodyItem::StoredRange> FirefoxCache2Item::StoredBytes() const
{
    // The body is the file's first bytes, up to the metadata.
    return StoredRange{0, size_t(bodySize_)};
}

FirefoxCache2Cache::FirefoxCache2Cache(const AppContext& context, BrowserProfile* profile, std::string folder)
    : NetscapeCache(context, profile, std::move(folder), kIndexFileName)
{
}

FirefoxCache2Cache::~FirefoxCache2Cache()
{
    StopDecodeThread();
}

int FirefoxCache2Cache::OpenDatabase()
{
    return 0;
}

int FirefoxCache2Cache::DoDecode()
{
    Trace("Entry - FirefoxCache2Cache::DoDecode()");
    ReadIndex();
    EntryFolder entries = ListEntryFiles(kEntriesFolderName);
    EntryFolder doomed = ListEntryFiles(kDoomedFolderName);
    SetProgressTotal(ClampToInt32(entries.names.size() + doomed.names.size()));
    Trace("Entry files: " + std::to_string(entries.names.size()) + ", doomed: " + std::to_string(doomed.names.size()));

    // The files are read a batch at a time on a few threads (opening
    // 100,000 files is most of the work, and the kernel does it on every
    // core); their metadata is then parsed and listed in name order.
    struct Read {
        std::string block;
        uint32_t bodySize = 0;
        bool ok = false;
    };
    std::vector<Read> batch(kReadBatch);
    int32_t key = 0;
    for (const EntryFolder* folder : {&entries, &doomed}) {
        if (folder->names.empty())
            continue;
        platform::UniqueFd opened = platform::OpenContained(folder->path, platform::OpenAs::Directory);
        if (!opened)
            continue;
        const int folderFd = opened.Get();
        const bool deleted = folder == &doomed;
        const char* subFolder = deleted ? kDoomedFolderName : kEntriesFolderName;
        const std::vector<std::string>& names = folder->names;
        for (size_t first = 0; first < names.size() && !StopRequested(); first += kReadBatch) {
            const size_t count = std::min(kReadBatch, names.size() - first);
            ForEachInParallel(count, [&](size_t i) {
                Read& read = batch[i];
                read.ok = ReadMetadataBlock(folderFd, names[first + i], read.block, read.bodySize);
            });
            for (size_t i = 0; i < count && !StopRequested(); ++i) {
                const int32_t recordKey = key++;
                if (batch[i].ok)
                    DecodeEntryFile(recordKey, subFolder, names[first + i], deleted, batch[i].block, batch[i].bodySize);
            }
            std::this_thread::yield();
        }
    }
    Trace("Exit  - FirefoxCache2Cache::DoDecode()");
    return 0;
}

void FirefoxCache2Cache::ReadIndex()
{
    index_.reset();
    indexByHash_.clear();
    indexCursor_ = 0;
    const std::string path = platform::ResolvePath(platform::MakePath(GetFolder(), kIndexFileName));
    auto attributes = platform::GetFileAttributes(path);
    if (!attributes || !attributes->isRegular)
        return;
    auto bytes = platform::ReadFile(path);
    if (!bytes)
        return;
    index_ = ParseCache2Index(ByteReader(*bytes));
    if (!index_) {
        Trace("The index is not usable; entry files are read without it");
        return;
    }
    indexByHash_.reserve(index_->records.size());
    for (size_t i = 0; i < index_->records.size(); ++i)
        indexByHash_.emplace_back(index_->records[i].hash, i);
    std::stable_sort(indexByHash_.begin(), indexByHash_.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
}

const Cache2IndexRecord* FirefoxCache2Cache::FindIndexRecord(const std::string& name)
{
    // Only a name of 40 upper-case hex digits is an index record's (as
    // Cache2IndexRecord::FileName spells it).
    if (name.size() != 40 || indexByHash_.empty())
        return nullptr;
    std::array<uint8_t, 20> hash{};
    for (size_t i = 0; i < 40; ++i) {
        const char c = name[i];
        int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (digit < 0)
            return nullptr;
        hash[i / 2] = uint8_t(hash[i / 2] << 4 | digit);
    }
    // The names come in ascending order, and so do their hashes: the
    // cursor only moves on, a step at a time (a name out of order is
    // looked up over the whole table).
    auto less = [](const auto& entry, const auto& key) { return entry.first < key; };
    auto found = indexByHash_.begin();
    if (indexCursor_ > 0 && indexByHash_[indexCursor_ - 1].first >= hash) {
        found = std::lower_bound(indexByHash_.begin(), indexByHash_.end(), hash, less);
    } else {
        while (indexCursor_ < indexByHash_.size() && indexByHash_[indexCursor_].first < hash)
            ++indexCursor_;
        found = indexByHash_.begin() + std::ptrdiff_t(indexCursor_);
    }
    indexCursor_ = size_t(found - indexByHash_.begin());
    if (found == indexByHash_.end() || found->first != hash)
        return nullptr;
    return &index_->records[found->second];
}

FirefoxCache2Cache::EntryFolder FirefoxCache2Cache::ListEntryFiles(const char* subFolder) const
{
    EntryFolder folder;
    folder.path = platform::ResolvePath(platform::MakePath(GetFolder(), subFolder));
    // Only plain files: a link could lead out of the examined tree.
    folder.names = ListPlainFiles(folder.path, true);
    return folder;
}

void FirefoxCache2Cache::DecodeEntryFile(int32_t recordKey, const char* subFolder, const std::string& name,
                                         bool deleted, const std::string& block, uint32_t bodySize)
{
    relative_.assign(subFolder).append("/").append(name);
    const std::string& relative = relative_;
    auto meta = ParseCache2Metadata(ByteReader(block), bodySize);
    if (!meta)
        return;

    FirefoxCache2Item::Details details;
    details.tags = std::string(meta->splitKey.tags);
    details.deleted = deleted;
    details.metadataVersion = meta->header.version;
    details.fetchCount = meta->header.fetchCount;
    details.frecency = meta->header.frecency;
    details.metadataFlags = meta->header.flags;
    if (!deleted) {
        if (const Cache2IndexRecord* found = FindIndexRecord(name)) {
            const Cache2IndexRecord& record = *found;
            details.frecency = record.frecency;
            details.indexFlags = record.flags;
        }
    }

    const std::string_view url = meta->splitKey.url;
    std::string_view group, path;
    if (auto parts = SplitUrl(url)) {
        group = parts->host;
        path = parts->path;
    } else {
        // "about:", "data:" and the like: listed under their scheme.
        group = url.substr(0, url.find(':'));
    }
    const OptText headers = meta->Element("response-head");
    const int64_t expires = meta->header.expiration == cache2::kNoExpiration ? 0 : int64_t(meta->header.expiration);
    auto item = std::make_unique<FirefoxCache2Item>(this, recordKey, url, path, relative, int32_t(bodySize),
                                                    int64_t(meta->header.lastModified),
                                                    int64_t(meta->header.lastFetched), expires, headers, bodySize,
                                                    std::move(details));
    item->SetLastAccessed(int64_t(meta->header.lastFetched));
    // A doomed entry is one Firefox was removing: it no longer belongs to
    // the live listing, but stands whole in its file.
    if (deleted) {
        item->SetRecovered(false);
        AddRecoveredItem(std::move(item));
        return;
    }
    AddItem(group, std::move(item));
}

} // namespace oriel
