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

bool IsRecordSignature(uint32_t sig)
{
    return sig == IndexDatFile::kSigUrl || sig == IndexDatFile::kSigLeak || sig == IndexDatFile::kSigRedr ||
           sig == IndexDatFile::kSigHash;
}

} // namespace

IndexDatFile::IndexDatFile(std::string bytes)
    : bytes_(std::move(bytes))
    , reader_(bytes_)
{
}

bool IndexDatFile::ParseHeader()
{
    directories_.clear();
    if (bytes_.size() < kMinHeaderSize)
        return false;
    if (std::memcmp(bytes_.data(), kSignature, kSignatureSize) != 0)
        return false;
    firstRecord_ = *reader_.u32le(32);

    // The directory table ends where the bitmap begins; a count above what
    // fits there (or in the bytes read) is cut to what is there.
    uint32_t count = *reader_.u32le(kDirectoryCountOffset);
    size_t tableEnd = std::min(bytes_.size(), kBitmapOffset);
    size_t capacity = (tableEnd - kDirectoryTableOffset) / kDirectoryEntrySize;
    count = uint32_t(std::min<size_t>(count, capacity));
    directories_.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        size_t at = kDirectoryTableOffset + i * kDirectoryEntrySize;
        Directory dir;
        dir.fileCount = int32_t(*reader_.u32le(at));
        std::string_view name = *reader_.bytes(at + 4, 8);
        dir.name = std::string(name.substr(0, std::min(name.find('\0'), name.size())));
        directories_.push_back(std::move(dir));
    }

    // A bitmap that is all zero (or missing) is not used: the walk then
    // reads every block.
    useBitmap_ = false;
    size_t bitmapEnd = std::min(bytes_.size(), kFirstBitmapBlock);
    for (size_t i = kBitmapOffset; i < bitmapEnd; ++i) {
        if (bytes_[i] != 0) {
            useBitmap_ = true;
            break;
        }
    }
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
    auto byte = reader_.u8(kBitmapOffset + *bit / 8);
    return byte && ((*byte >> (*bit % 8)) & 1);
}

std::optional<IndexDatFile::Record> IndexDatFile::NextRecord(size_t& cursor) const
{
    while (cursor < bytes_.size()) {
        size_t offset = cursor;
        auto sig = reader_.u32le(offset);
        auto blocks = reader_.u32le(offset + 4);
        if (!sig || !blocks) {
            cursor = bytes_.size();
            return std::nullopt;
        }
        cursor += kBlockSize;
        if (!IsBlockAllocated(offset) || !IsRecordSignature(*sig))
            continue;
        uint64_t length = uint64_t(*blocks) * kBlockSize;
        if (*blocks == 0 || !reader_.has(offset, length))
            continue;
        cursor = offset + size_t(length);
        return Record{offset, *sig, reader_.sub(offset, size_t(length))};
    }
    return std::nullopt;
}

IndexDatFile::UrlRecord IndexDatFile::DecodeUrlRecord(const ByteReader& r)
{
    UrlRecord rec;
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
    rec.freed = urlOffset == kFreed;

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
