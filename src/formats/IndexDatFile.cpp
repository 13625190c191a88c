#include "formats/IndexDatFile.h"

#include "model/TextForms.h"

#include <algorithm>
#include <cstring>

namespace oriel {

namespace {

constexpr char kSignature[] = "Client UrlCache MMF Ver 5.2"; // 27 characters and the NUL
constexpr size_t kSignatureSize = 28;
constexpr size_t kDirectoryCountOffset = 72;
constexpr size_t kDirectoryTableOffset = 76;
constexpr size_t kDirectoryEntrySize = 12;

// Freed records noted past this many are a hostile file's, not a real
// cache's: the walk for them then looks at every free block itself.
constexpr size_t kMaxCandidates = size_t(1) << 20;

bool IsRecordSignature(uint32_t sig)
{
    return sig == IndexDatFile::kSigUrl || sig == IndexDatFile::kSigLeak || sig == IndexDatFile::kSigRedr ||
           sig == IndexDatFile::kSigHash;
}

} // namespace

IndexDatFile::IndexDatFile(std::string bytes)
    : owned_(std::move(bytes))
    , reader_(owned_)
    , head_(reader_.sub(0, kFirstBitmapBlock))
    , size_(reader_.size())
{
}

IndexDatFile::IndexDatFile(const ByteReader& bytes)
    : reader_(bytes)
    , head_(reader_.sub(0, kFirstBitmapBlock))
    , size_(reader_.size())
{
}

IndexDatFile::IndexDatFile(std::shared_ptr<const platform::ByteSource> source)
    : source_(std::move(source))
{
    if (!source_)
        return;
    size_ = source_->Size();
    const ByteReader head = source_->Read(0, kFirstBitmapBlock);
    if (auto bytes = head.bytes(0, head.size()))
        owned_.assign(*bytes);
    head_ = ByteReader(owned_);
    if (owned_.size() < std::min<uint64_t>(size_, kFirstBitmapBlock))
        readFellShort_ = true;
}

ByteReader IndexDatFile::Span(size_t offset, size_t length) const
{
    if (offset >= size_)
        return {};
    const size_t there = size_t(std::min<uint64_t>(length, size_ - offset));
    if (!source_)
        return reader_.sub(offset, there);
    ByteReader read = source_->Read(offset, there);
    if (read.size() < there)
        readFellShort_ = true;
    return read;
}

std::optional<IndexDatHeader> ParseIndexDatHeader(const ByteReader& file)
{
    if (file.size() < IndexDatFile::kMinHeaderSize)
        return std::nullopt;
    if (*file.bytes(0, kSignatureSize) != std::string_view(kSignature, kSignatureSize))
        return std::nullopt;
    IndexDatHeader header;
    header.firstRecord = *file.u32le(32);

    // The directory table ends where the bitmap begins; a count above what
    // fits there (or in the bytes read) is cut to what is there.
    uint32_t count = *file.u32le(kDirectoryCountOffset);
    size_t tableEnd = std::min(file.size(), IndexDatFile::kBitmapOffset);
    size_t capacity = (tableEnd - kDirectoryTableOffset) / kDirectoryEntrySize;
    count = uint32_t(std::min<size_t>(count, capacity));
    header.directories.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        size_t at = kDirectoryTableOffset + i * kDirectoryEntrySize;
        IndexDatFile::Directory dir;
        dir.fileCount = int32_t(*file.u32le(at));
        std::string_view name = *file.bytes(at + 4, 8);
        dir.name = std::string(name.substr(0, std::min(name.find('\0'), name.size())));
        header.directories.push_back(std::move(dir));
    }

    // A bitmap that is all zero (or missing) is not used: the walk then
    // reads every block.
    size_t bitmapEnd = std::min(file.size(), IndexDatFile::kFirstBitmapBlock);
    if (bitmapEnd > IndexDatFile::kBitmapOffset) {
        std::string_view bitmap = *file.bytes(IndexDatFile::kBitmapOffset, bitmapEnd - IndexDatFile::kBitmapOffset);
        header.usesBitmap = bitmap.find_first_not_of('\0') != std::string_view::npos;
    }
    return header;
}

std::optional<IndexDatHashTable> ParseIndexDatHashTable(const ByteReader& table)
{
    constexpr size_t kNextOffset = 8;
    constexpr size_t kSlotsOffset = 16;
    constexpr size_t kSlotSize = 8;
    auto sig = table.u32le(0);
    auto blocks = table.u32le(4);
    if (!sig || *sig != IndexDatFile::kSigHash || !blocks)
        return std::nullopt;
    const uint64_t length = uint64_t(*blocks) * IndexDatFile::kBlockSize;
    if (!table.has(0, size_t(length)) || length > table.size())
        return std::nullopt;
    IndexDatHashTable parsed;
    parsed.next = table.u32le(kNextOffset).value_or(0);
    for (size_t slot = kSlotsOffset; slot + kSlotSize <= length; slot += kSlotSize)
        parsed.entries.push_back({slot, *table.u32le(slot), *table.u32le(slot + 4)});
    return parsed;
}

bool IndexDatFile::ParseHeader()
{
    directories_.clear();
    auto header = ParseIndexDatHeader(head_);
    if (!header)
        return false;
    firstRecord_ = header->firstRecord;
    // The candidates' blocks must be the bitmap's: a first record off its
    // grid leaves the walk for freed records to look for itself.
    walkedTo_ = firstRecord_ >= kFirstBitmapBlock && (firstRecord_ - kFirstBitmapBlock) % kBlockSize == 0 ? firstRecord_
                                                                                                           : SIZE_MAX;
    staleCandidates_.clear();
    candidatesDropped_ = false;
    directories_ = std::move(header->directories);
    useBitmap_ = header->usesBitmap;
    return true;
}

int64_t IndexDatFile::SumOfFileCounts() const
{
    int64_t sum = 0;
    for (const auto& dir : directories_)
        sum += dir.fileCount;
    return sum;
}

std::optional<size_t> IndexDatFile::BitmapBit(size_t offset)
{
    if (offset < kFirstBitmapBlock)
        return std::nullopt;
    size_t bit = (offset - kFirstBitmapBlock) / kBlockSize;
    if (bit >= (kFirstBitmapBlock - kBitmapOffset) * 8)
        return std::nullopt;
    return bit;
}

bool IndexDatFile::IsBlockAllocated(size_t offset) const
{
    if (!useBitmap_)
        return true;
    auto bit = BitmapBit(offset);
    if (!bit)
        return true;
    auto byte = head_.u8(kBitmapOffset + *bit / 8);
    return byte && ((*byte >> (*bit % 8)) & 1);
}

std::optional<size_t> IndexDatFile::NextFreeBlock(size_t offset) const
{
    if (!useBitmap_ || offset < kFirstBitmapBlock || (offset - kFirstBitmapBlock) % kBlockSize != 0 ||
        size_ < kFirstBitmapBlock)
        return std::nullopt;
    const size_t bits =
        size_t(std::min<uint64_t>((kFirstBitmapBlock - kBitmapOffset) * 8, (size_ - kFirstBitmapBlock) / kBlockSize));
    size_t bit = (offset - kFirstBitmapBlock) / kBlockSize;
    auto bytes = head_.bytes(kBitmapOffset, kFirstBitmapBlock - kBitmapOffset);
    if (!bytes)
        return std::nullopt;
    const auto* bitmap = reinterpret_cast<const unsigned char*>(bytes->data());
    while (bit < bits) {
        // Eight bytes of allocated blocks at once.
        if (bit % 64 == 0 && bit + 64 <= bits) {
            uint64_t word;
            std::memcpy(&word, bitmap + bit / 8, sizeof word);
            if (word == ~uint64_t(0)) {
                bit += 64;
                continue;
            }
        }
        if (!((bitmap[bit / 8] >> (bit % 8)) & 1))
            return kFirstBitmapBlock + bit * kBlockSize;
        ++bit;
    }
    return std::nullopt;
}

std::optional<IndexDatFile::Record> IndexDatFile::NextRecord(size_t& cursor, size_t end) const
{
    // The stale candidates are noted only along one unbroken walk.
    bool noting = walkedTo_ == cursor;
    if (!noting)
        walkedTo_ = SIZE_MAX;
    auto stop = [&] {
        cursor = size_t(size_);
        walkedTo_ = SIZE_MAX;
        return std::nullopt;
    };
    const uint64_t last = std::min<uint64_t>(size_, end);
    while (cursor < last) {
        size_t offset = cursor;
        const ByteReader head = Span(offset, 8);
        auto sig = head.u32le(0);
        auto blocks = head.u32le(4);
        if (!sig || !blocks)
            return stop();
        cursor += kBlockSize;
        if (!IsBlockAllocated(offset) || !IsRecordSignature(*sig)) {
            if (noting)
                NoteIfStaleCandidate(offset, head);
            continue;
        }
        if (!RecordFits(offset, *blocks)) {
            ++impossibleBlockCounts_;
            continue;
        }
        const uint64_t length = uint64_t(*blocks) * kBlockSize;
        ByteReader bytes = Span(offset, size_t(length));
        if (bytes.size() != length) // the file can be read no further
            return stop();
        // A block inside the record that the bitmap marks free (a damaged
        // bitmap) is one the walk for freed records looks at too.
        if (noting) {
            for (size_t at = kBlockSize; at < length; at += kBlockSize)
                NoteIfStaleCandidate(offset + at, bytes.sub(at, 8));
        }
        cursor = offset + size_t(length);
        if (noting)
            walkedTo_ = cursor;
        ++recordsFound_;
        return Record{offset, *sig, bytes};
    }
    if (noting)
        walkedTo_ = cursor;
    return std::nullopt;
}

void IndexDatFile::NoteIfStaleCandidate(size_t offset, const ByteReader& block) const
{
    // As NextFreeBlock gives them: whole inside the file, inside the
    // bitmap and free there.
    if (candidatesDropped_ || !useBitmap_ || offset > size_ || size_ - offset < kBlockSize || !BitmapBit(offset) ||
        IsBlockAllocated(offset))
        return;
    const auto sig = block.u32le(0);
    const auto blocks = block.u32le(4);
    if (!sig || !blocks || !IsStaleSignature(*sig) || *blocks == 0)
        return;
    // A file of freed records past any real count is left to the walk.
    if (staleCandidates_.size() >= kMaxCandidates) {
        candidatesDropped_ = true;
        staleCandidates_.clear();
        staleCandidates_.shrink_to_fit();
        return;
    }
    staleCandidates_.push_back(uint32_t(offset));
}

std::optional<size_t> IndexDatFile::NextRecordStart(size_t from, size_t end) const
{
    const uint64_t last = std::min<uint64_t>(size_, end);
    for (size_t offset = from; offset < last; offset += kBlockSize) {
        const ByteReader head = Span(offset, 8);
        auto sig = head.u32le(0);
        auto blocks = head.u32le(4);
        if (!sig || !blocks)
            return std::nullopt;
        if (IsBlockAllocated(offset) && IsRecordSignature(*sig) && RecordFits(offset, *blocks))
            return offset;
    }
    return std::nullopt;
}

std::unique_ptr<IndexDatFile> IndexDatFile::LaterWalker(std::shared_ptr<const platform::ByteSource> source,
                                                        size_t start) const
{
    std::unique_ptr<IndexDatFile> later(new IndexDatFile(*this, std::move(source)));
    // Blocks are noted from `start` only where this walker notes them.
    later->walkedTo_ = walkedTo_ != SIZE_MAX ? start : SIZE_MAX;
    return later;
}

IndexDatFile::IndexDatFile(const IndexDatFile& header, std::shared_ptr<const platform::ByteSource> source)
    : owned_(header.head_.bytes(0, header.head_.size()).value_or(std::string_view()))
    , reader_(header.source_ ? ByteReader() : header.reader_)
    , source_(std::move(source))
    , head_(owned_)
    , size_(header.size_)
    , firstRecord_(header.firstRecord_)
    , directories_(header.directories_)
    , useBitmap_(header.useBitmap_)
{
}

void IndexDatFile::TakeLaterWalk(const IndexDatFile& later, size_t start)
{
    recordsFound_ += later.recordsFound_;
    impossibleBlockCounts_ += later.impossibleBlockCounts_;
    readFellShort_ = readFellShort_ || later.readFellShort_;
    if (walkedTo_ != start)
        return;
    walkedTo_ = later.walkedTo_;
    if (candidatesDropped_)
        return;
    // One walk would have dropped them all past the same count.
    if (later.candidatesDropped_ || staleCandidates_.size() + later.staleCandidates_.size() > kMaxCandidates) {
        candidatesDropped_ = true;
        staleCandidates_.clear();
        staleCandidates_.shrink_to_fit();
        return;
    }
    staleCandidates_.insert(staleCandidates_.end(), later.staleCandidates_.begin(), later.staleCandidates_.end());
}

const std::vector<uint32_t>* IndexDatFile::StaleCandidates() const
{
    return !candidatesDropped_ && walkedTo_ != SIZE_MAX && walkedTo_ >= size_ ? &staleCandidates_ : nullptr;
}

IndexDatFile::UrlRecord ParseIndexDatUrlRecord(const ByteReader& r)
{
    IndexDatFile::UrlRecord rec;
    // Offsets within the record: 8 last modified, 16 last access (FILETIMEs),
    // 24 expiry, 32 size, 52 the URL's offset, 56 the directory index, 60
    // the file name's offset, 68 the response head's offset.
    auto u32 = [&r](size_t off) { return r.u32le(off).value_or(0); };
    rec.lastModifiedLow = u32(8);
    rec.lastModifiedHigh = u32(12);
    rec.lastAccessLow = u32(16);
    rec.lastAccessHigh = u32(20);
    rec.expiresLow = u32(24);
    rec.expiresHigh = u32(28);
    rec.size = u32(32);
    uint32_t urlOffset = u32(52);
    rec.directoryIndex = r.u8(56).value_or(0xFF);
    rec.freed = urlOffset == IndexDatFile::kFreed;

    // Offsets of 0 or less (as signed values) mean the text is absent;
    // offsets outside the record find nothing.
    auto text = [&r](uint32_t off) -> std::optional<std::string_view> {
        if (int32_t(off) <= 0)
            return std::nullopt;
        return r.cstring(off, r.size());
    };
    if (!rec.freed)
        rec.url = text(urlOffset);
    rec.fileName = text(u32(60));
    rec.headers = text(u32(68));
    return rec;
}

int64_t IndexDatFile::ExpiryTime(uint32_t low, uint32_t high)
{
    if (high == 0)
        return FatDateTimeToUnix(uint16_t(low & 0xFFFF), uint16_t(low >> 16));
    return FileTimeToUnix(low, high);
}

} // namespace oriel
