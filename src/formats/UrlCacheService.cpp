#include "formats/UrlCacheService.h"

#include "model/TextForms.h"
#include "platform/ByteSource.h"
#include "platform/ContainedPath.h"
#include "platform/FileSystem.h"
#include "platform/WindowsSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <unordered_set>
#include <vector>

namespace oriel {

namespace {

constexpr const char* kContentFolderName = "Content.IE5";
// The file's offsets are 32 bits: no index is larger than they reach.
constexpr uint64_t kMaxIndexSize = UINT32_MAX;

// Header fields the service keeps right when it frees a record.
constexpr size_t kAllocatedBlocksOffset = 40;
constexpr size_t kDirectoryTableOffset = 76;
constexpr size_t kDirectoryEntrySize = 12;
// A hash-table slot that holds no record has 3 in both words (the table's
// layout: ParseIndexDatHashTable).
constexpr uint32_t kUnusedHashSlot = 3;
// Record fields read beyond those of the index.dat decoder.
constexpr size_t kEntryTypeOffset = 64;
constexpr size_t kLastSyncOffset = 80;

constexpr int64_t kUnixEpochInFileTimeSeconds = 11644473600LL;

uint64_t FileTimeFromUnix(int64_t seconds)
{
    if (seconds == 0 || seconds < -kUnixEpochInFileTimeSeconds)
        return 0;
    return uint64_t(seconds + kUnixEpochInFileTimeSeconds) * 10000000ULL;
}

uint64_t FatToFileTime(uint32_t value)
{
    return FileTimeFromUnix(FatDateTimeToUnix(uint16_t(value & 0xFFFF), uint16_t(value >> 16)));
}

// The host path of a record's file: the sub-folder named by the directory
// table and the file name, both of which must stay inside the cache folder.
std::optional<std::string> LocalFilePath(const std::string& folder, const IndexDatFile& file,
                                         const IndexDatFile::UrlRecord& rec)
{
    const auto& dirs = file.Directories();
    if (folder.empty() || rec.directoryIndex >= dirs.size() || !rec.fileName || rec.fileName->empty())
        return std::nullopt;
    const std::string& dir = dirs[rec.directoryIndex].name;
    if (dir.empty() || dir.find_first_of("/\\") != std::string::npos ||
        rec.fileName->find_first_of("/\\") != std::string_view::npos)
        return std::nullopt;
    std::string relative = dir + "\\" + std::string(*rec.fileName);
    if (!platform::IsContainedRelativeName(relative))
        return std::nullopt;
    return platform::ResolvePath(platform::MakePath(folder, relative));
}

bool MatchesPattern(std::string_view pattern, uint32_t type)
{
    if (pattern == "cookie:")
        return (type & COOKIE_CACHE_ENTRY) != 0;
    if (pattern == "visited:")
        return (type & URLHISTORY_CACHE_ENTRY) != 0;
    return true;
}

// Reads a whole file through a descriptor.
std::optional<std::string> ReadAll(int fd, uint64_t size)
{
    if (size > kMaxIndexSize)
        return std::nullopt;
    std::string bytes(size_t(size), '\0');
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::pread(fd, bytes.data() + done, bytes.size() - done, off_t(done));
        if (n <= 0)
            return std::nullopt;
        done += size_t(n);
    }
    return bytes;
}

bool WriteAt(int fd, const std::string& bytes, size_t offset, size_t length)
{
    size_t done = 0;
    while (done < length) {
        ssize_t n = ::pwrite(fd, bytes.data() + offset + done, length - done, off_t(offset + done));
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

// True when the file holds `bytes[offset, offset + length)` at `offset`.
bool SameAsFile(int fd, const std::string& bytes, size_t offset, size_t length)
{
    std::string current(length, '\0');
    size_t done = 0;
    while (done < length) {
        ssize_t n = ::pread(fd, current.data() + done, length - done, off_t(offset + done));
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return current.compare(0, length, bytes, offset, length) == 0;
}

void Store32(std::string& bytes, size_t offset, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[offset + size_t(i)] = char((value >> (8 * i)) & 0xFF);
}

} // namespace

class UrlCacheService::Enumeration {
public:
    Enumeration(std::string folder, std::unique_ptr<IndexDatFile> file, std::string pattern)
        : folder_(std::move(folder))
        , file_(std::move(file))
        , pattern_(std::move(pattern))
        , cursor_(file_->FirstRecordOffset())
    {
    }

    const IndexDatFile& File() const { return *file_; }

    bool Next(UrlCacheEntryInfo& entry)
    {
        while (auto record = file_->NextRecord(cursor_)) {
            if (record->signature != IndexDatFile::kSigUrl)
                continue;
            IndexDatFile::UrlRecord rec = ParseIndexDatUrlRecord(record->bytes);
            if (rec.freed || !rec.url)
                continue;
            uint32_t type = record->bytes.u32le(kEntryTypeOffset).value_or(0);
            if (!MatchesPattern(pattern_, type))
                continue;
            entry = UrlCacheEntryInfo{};
            entry.cacheEntryType = type;
            entry.sourceUrlName = std::string(*rec.url);
            entry.localFileName = LocalFilePath(folder_, *file_, rec);
            entry.sizeLow = rec.size;
            entry.lastModifiedTime = uint64_t(rec.lastModifiedHigh) << 32 | rec.lastModifiedLow;
            entry.expireTime = rec.expiresHigh == 0 ? FatToFileTime(rec.expiresLow)
                                                    : uint64_t(rec.expiresHigh) << 32 | rec.expiresLow;
            entry.lastSyncTime = FatToFileTime(record->bytes.u32le(kLastSyncOffset).value_or(0));
            entry.lastAccessTime = uint64_t(rec.lastAccessHigh) << 32 | rec.lastAccessLow;
            if (rec.headers)
                entry.headerInfo = std::string(*rec.headers);
            return true;
        }
        return false;
    }

private:
    std::string folder_;
    std::unique_ptr<IndexDatFile> file_;
    std::string pattern_;
    size_t cursor_;
};

// The index as last read for deleting, with the offset of each URL's record.
struct UrlCacheService::Snapshot {
    std::string bytes;
    std::unique_ptr<IndexDatFile> file;
    std::unordered_map<std::string, size_t> records; // URL -> record offset (first one wins)
    std::unordered_map<uint32_t, std::vector<size_t>> hashSlots; // record offset -> slots pointing to it
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec mtime{};
};

UrlCacheService::UrlCacheService(std::string contentFolder)
    : folder_(std::move(contentFolder))
{
}

UrlCacheService::~UrlCacheService() = default;

std::shared_ptr<UrlCacheService> UrlCacheService::ForExaminedUser(const AppContext& context)
{
    std::string folder;
    if (auto cache = context.KnownFolderPath(platform::KnownFolder::InternetCache))
        folder = platform::ResolvePath(platform::MakePath(*cache, kContentFolderName));
    return std::make_shared<UrlCacheService>(std::move(folder));
}

std::string UrlCacheService::IndexFilePath() const
{
    if (folder_.empty())
        return {};
    return platform::ResolvePath(platform::MakePath(folder_, "index.dat"));
}

std::unique_ptr<IndexDatFile> UrlCacheService::ReadIndex() const
{
    std::string path = IndexFilePath();
    if (path.empty())
        return nullptr;
    // The header is checked before the file is read whole: a large file
    // that is no index (or larger than an index can be) costs nothing.
    {
        auto head = platform::FileRange{path}.Open();
        if (!head || head->Size() > kMaxIndexSize ||
            !ParseIndexDatHeader(head->Read(0, IndexDatFile::kFirstBitmapBlock)))
            return nullptr;
    }
    auto bytes = platform::ReadFile(path, kMaxIndexSize);
    if (!bytes)
        return nullptr;
    auto file = std::make_unique<IndexDatFile>(std::move(*bytes));
    if (!file->ParseHeader())
        return nullptr;
    return file;
}

const IndexDatFile& UrlCacheService::EnumeratedIndex(const Enumeration& handle)
{
    return handle.File();
}

std::optional<std::string> UrlCacheService::LocalFileOf(const IndexDatFile& index,
                                                        const IndexDatFile::UrlRecord& record) const
{
    return LocalFilePath(folder_, index, record);
}

UrlCacheService::FindHandle UrlCacheService::FindFirstUrlCacheEntry(std::string_view pattern, UrlCacheEntryInfo& entry)
{
    auto file = ReadIndex();
    if (!file)
        return nullptr;
    FindHandle handle(new Enumeration(folder_, std::move(file), std::string(pattern)));
    if (!handle->Next(entry))
        return nullptr;
    return handle;
}

bool UrlCacheService::FindNextUrlCacheEntry(Enumeration& handle, UrlCacheEntryInfo& entry)
{
    return handle.Next(entry);
}

void UrlCacheService::EnumerationDeleter::operator()(Enumeration* handle) const
{
    delete handle;
}

void UrlCacheService::FindCloseUrlCache(FindHandle handle)
{
    handle.reset();
}

bool UrlCacheService::LoadSnapshot(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return false;
    if (snapshot_ && snapshot_->device == st.st_dev && snapshot_->inode == st.st_ino &&
        snapshot_->size == st.st_size && snapshot_->mtime.tv_sec == st.st_mtim.tv_sec &&
        snapshot_->mtime.tv_nsec == st.st_mtim.tv_nsec)
        return true;

    snapshot_.reset();
    auto bytes = ReadAll(fd, uint64_t(st.st_size));
    if (!bytes)
        return false;
    auto snapshot = std::make_unique<Snapshot>();
    snapshot->bytes = std::move(*bytes);
    snapshot->file = std::make_unique<IndexDatFile>(snapshot->bytes);
    if (!snapshot->file->ParseHeader())
        return false;
    size_t cursor = snapshot->file->FirstRecordOffset();
    while (auto record = snapshot->file->NextRecord(cursor)) {
        if (record->signature != IndexDatFile::kSigUrl)
            continue;
        IndexDatFile::UrlRecord rec = ParseIndexDatUrlRecord(record->bytes);
        if (!rec.freed && rec.url)
            snapshot->records.emplace(std::string(*rec.url), record->offset);
    }
    // The hash-table slots by the record they point to. The chain is
    // followed only as far as it stays inside the file and visits no table
    // twice.
    std::unordered_set<size_t> visited;
    ByteReader r(snapshot->bytes);
    size_t table = snapshot->file->FirstRecordOffset();
    while (table != 0 && visited.insert(table).second) {
        auto parsed = table < r.size() ? ParseIndexDatHashTable(r.sub(table, r.size() - table)) : std::nullopt;
        if (!parsed)
            break;
        for (const IndexDatHashTable::Slot& slot : parsed->entries)
            snapshot->hashSlots[slot.record].push_back(table + slot.offset);
        table = parsed->next;
    }
    snapshot->device = st.st_dev;
    snapshot->inode = st.st_ino;
    snapshot->size = st.st_size;
    snapshot->mtime = st.st_mtim;
    snapshot_ = std::move(snapshot);
    return true;
}

bool UrlCacheService::DeleteUrlCacheEntry(std::string_view url)
{
    std::lock_guard lock(mutex_);
    std::string path = IndexFilePath();
    if (path.empty())
        return false;
    // Opening for writing first: on a read-only tree nothing is touched. The
    // index is opened inside its container, so one that is a link leading
    // out of it is never written (the walk traces the refusal).
    platform::UniqueFd index = platform::OpenContained(path, platform::OpenAs::ReadWrite);
    if (!index)
        return false;
    const int fd = index.Get();

    // The snapshot is checked against the file where the delete reads and
    // writes (the header with the bitmap, and the record): a file changed
    // by others within the time stamps' resolution is read again.
    size_t offset = 0, length = 0;
    uint32_t blocks = 0;
    bool found = false;
    for (int attempt = 0; attempt < 2 && !found; ++attempt) {
        if (attempt > 0)
            snapshot_.reset();
        if (!LoadSnapshot(fd))
            return false;
        auto it = snapshot_->records.find(std::string(url));
        if (it == snapshot_->records.end()) {
            if (attempt > 0)
                return false;
            continue;
        }
        offset = it->second;
        ByteReader reader(snapshot_->bytes);
        blocks = reader.u32le(offset + 4).value_or(0);
        length = size_t(blocks) * IndexDatFile::kBlockSize;
        if (blocks == 0 || !reader.has(offset, length))
            return false;
        found = SameAsFile(fd, snapshot_->bytes, 0, std::min(snapshot_->bytes.size(), IndexDatFile::kFirstBitmapBlock)) &&
                SameAsFile(fd, snapshot_->bytes, offset, length);
    }
    if (!found)
        return false;
    Snapshot& snap = *snapshot_;
    ByteReader reader(snap.bytes);
    IndexDatFile::UrlRecord rec = ParseIndexDatUrlRecord(reader.sub(offset, length));
    auto localFile = LocalFilePath(folder_, *snap.file, rec);
    const uint8_t directory = rec.directoryIndex;
    const bool countedFile = localFile.has_value();

    // The body goes first: if it cannot be removed the index still lists it.
    // It is removed by the contained walk too: a body reached through a link
    // that leads out of the cache is left where it is.
    if (localFile && platform::FileExists(*localFile) && !platform::RemoveContained(*localFile))
        return false;

    struct Range {
        size_t offset, length;
    };
    std::vector<Range> dirty;

    // The record's blocks, filled as Internet Explorer fills freed blocks.
    for (size_t at = offset; at + 4 <= offset + length; at += 4)
        Store32(snap.bytes, at, IndexDatFile::kFreed);
    dirty.push_back({offset, length});

    if (snap.file->UsesBitmap()) {
        for (size_t at = offset; at < offset + length; at += IndexDatFile::kBlockSize) {
            auto bit = IndexDatFile::BitmapBit(at);
            if (!bit)
                continue;
            size_t byte = IndexDatFile::kBitmapOffset + *bit / 8;
            if (byte < snap.bytes.size()) {
                snap.bytes[byte] = char(uint8_t(snap.bytes[byte]) & ~(1u << (*bit % 8)));
                dirty.push_back({byte, 1});
            }
        }
    }

    ByteReader header(snap.bytes);
    if (auto allocated = header.u32le(kAllocatedBlocksOffset); allocated && *allocated >= blocks) {
        Store32(snap.bytes, kAllocatedBlocksOffset, *allocated - blocks);
        dirty.push_back({kAllocatedBlocksOffset, 4});
    }
    if (countedFile && directory < snap.file->Directories().size()) {
        size_t at = kDirectoryTableOffset + size_t(directory) * kDirectoryEntrySize;
        if (auto count = header.u32le(at); count && *count > 0) {
            Store32(snap.bytes, at, *count - 1);
            dirty.push_back({at, 4});
        }
    }

    // The hash-table slots that point to the record.
    if (auto slots = snap.hashSlots.find(uint32_t(offset)); slots != snap.hashSlots.end()) {
        for (size_t slot : slots->second) {
            if (ByteReader(snap.bytes).u32le(slot + 4) != uint32_t(offset) || !SameAsFile(fd, snap.bytes, slot, 8))
                continue;
            Store32(snap.bytes, slot, kUnusedHashSlot);
            Store32(snap.bytes, slot + 4, kUnusedHashSlot);
            dirty.push_back({slot, 8});
        }
        snap.hashSlots.erase(slots);
    }

    bool written = true;
    for (const Range& range : dirty)
        written = WriteAt(fd, snap.bytes, range.offset, range.length) && written;
    snap.records.erase(std::string(url));
    if (!written) {
        snapshot_.reset();
        return false;
    }
    // Our own write changed the file's time; keep the snapshot current.
    struct stat st {};
    if (::fstat(fd, &st) == 0) {
        snap.size = st.st_size;
        snap.mtime = st.st_mtim;
    } else {
        snapshot_.reset();
    }
    return true;
}

} // namespace oriel
