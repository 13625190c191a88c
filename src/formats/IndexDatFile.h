// The Internet Explorer "index.dat" file: header, directory table,
// allocation bitmap and the walk over its records. Shared by the index.dat
// decoder and the URL-cache service.
//
// All integers are little-endian. Header: the 28-byte signature
// "Client UrlCache MMF Ver 5.2" with its NUL at 0; offset 32: first record
// (the first hash table); offset 72: directory count; offset 76: 12 bytes a
// directory (file count, 8-byte name). Offset 0x250: the allocation bitmap,
// one bit per 128-byte block (bit 0 of each byte first), blocks counted from
// file offset 0x4000.
#pragma once

#include "platform/ByteReader.h"
#include "platform/ByteSource.h"

#include <cstdint>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace oriel {

class IndexDatFile {
public:
    static constexpr uint32_t kSigUrl = 0x204C5255;  // "URL "
    static constexpr uint32_t kSigLeak = 0x4B41454C; // "LEAK"
    static constexpr uint32_t kSigRedr = 0x52444552; // "REDR"
    static constexpr uint32_t kSigHash = 0x48534148; // "HASH"
    static constexpr uint32_t kFreed = 0x0BADF00D;
    static constexpr size_t kBlockSize = 128;
    static constexpr size_t kMinHeaderSize = 255;
    static constexpr size_t kBitmapOffset = 0x250;
    static constexpr size_t kFirstBitmapBlock = 0x4000;

    struct Directory {
        int32_t fileCount = 0;
        std::string name; // up to 8 characters
    };

    struct Record {
        size_t offset = 0;
        uint32_t signature = 0;
        ByteReader bytes; // the whole record (block count * 128 bytes)
    };

    // Fields of a URL or LEAK record; texts are views into the file's bytes.
    struct UrlRecord {
        uint32_t lastModifiedLow = 0, lastModifiedHigh = 0; // offset 8, FILETIME
        uint32_t lastAccessLow = 0, lastAccessHigh = 0;     // offset 16, FILETIME
        uint32_t expiresLow = 0, expiresHigh = 0;           // offset 24
        uint32_t size = 0;                                  // offset 32
        bool freed = false;                                 // URL offset 0x0BADF00D
        uint8_t directoryIndex = 0;                         // offset 56
        std::optional<std::string_view> url;                // offset of the text at 52
        std::optional<std::string_view> fileName;           // at 60
        std::optional<std::string_view> headers;            // at 68
    };

    // Over bytes it owns, or over bytes that a byte source holds and that
    // outlive it.
    explicit IndexDatFile(std::string bytes);
    explicit IndexDatFile(const ByteReader& bytes);
    // Over a file read as the walks go: the header and the bitmap (the
    // first kFirstBitmapBlock bytes) are kept, the records are read through
    // the source's buffer (a source with read-ahead keeps a small window
    // of the file, not all of it).
    explicit IndexDatFile(std::shared_ptr<const platform::ByteSource> source);

    // Checks the signature and reads the header; false for an invalid header.
    bool ParseHeader();

    uint32_t FirstRecordOffset() const { return firstRecord_; }
    const std::vector<Directory>& Directories() const { return directories_; }
    int64_t SumOfFileCounts() const;
    // The file's size, and its bytes [offset, offset + length), cut at the
    // end of the file or where a read fell short. Over a source, the view
    // lasts until the next Span.
    uint64_t Size() const { return size_; }
    ByteReader Span(size_t offset, size_t length) const;
    // True once a read of bytes inside the file gave fewer than asked
    // (a file that shrank, or a read error): what the walks found is then
    // not all the file holds.
    bool ReadFellShort() const { return readFellShort_; }
    bool UsesBitmap() const { return useBitmap_; }

    // The next live record at or after `cursor`, which moves past it. Steps,
    // 128 bytes at a time, over blocks the bitmap marks free, free and
    // unrecognised signatures, and records whose block count is 0 or that
    // run past the end of the file. Empty at the end of the file, and when
    // the steps reach `end` (the cursor is then `end`): a walk in parts
    // stops where the next part began.
    std::optional<Record> NextRecord(size_t& cursor, size_t end = SIZE_MAX) const;

    // The first block at or after `from` and before `end`, stepping a block
    // at a time, that NextRecord would take for a record's start; none when
    // there is none. Counts and notes nothing.
    std::optional<size_t> NextRecordStart(size_t from, size_t end) const;

    // A second walker over the same file from `start` on, read through
    // `source` (a second reader of the same bytes), with this one's header:
    // the later part of a walk split in two. Its counts and noted blocks
    // are its own until TakeLaterWalk.
    std::unique_ptr<IndexDatFile> LaterWalker(std::shared_ptr<const platform::ByteSource> source, size_t start) const;
    // Lets the source go, once the walks over it are done; what they met
    // stays.
    void CloseSource() { source_.reset(); }
    // Takes in what `later` met, as if this walker had gone on from `start`
    // itself: for a walk that reached `start` exactly, where `later` began.
    void TakeLaterWalk(const IndexDatFile& later, size_t start);
    // What the walks so far met: records returned, and blocks that carry a
    // record signature but a block count of 0 or one that runs past the end
    // of the file (all of them, in a damaged index, and none returned).
    size_t RecordsFound() const { return recordsFound_; }
    size_t ImpossibleBlockCounts() const { return impossibleBlockCounts_; }

    // A record signature that a freed record may still carry.
    static bool IsStaleSignature(uint32_t sig) { return sig == kSigUrl || sig == kSigLeak || sig == kSigRedr; }
    // The blocks at or after the first record that NextFreeBlock would
    // give and that start with a stale signature and a block count other
    // than 0, in file order, as NextRecord met them: so the walk for freed
    // records reads only those, not the whole file again. Only when
    // NextRecord walked from the first record to the end of the file, one
    // call after another, and the records lie on the bitmap's block grid;
    // none otherwise.
    const std::vector<uint32_t>* StaleCandidates() const;

    bool IsBlockAllocated(size_t offset) const;
    // The bitmap bit of the block at `offset`; false when the block lies
    // outside the bitmap.
    static std::optional<size_t> BitmapBit(size_t offset);
    // The first block at or after `offset` (a block's start) that lies
    // whole inside the file, inside the bitmap, and is marked free there;
    // none when no such block is left. Runs of allocated blocks are passed
    // a bitmap word at a time.
    std::optional<size_t> NextFreeBlock(size_t offset) const;

    // The expiry time of a record: in version 5.2 files the field holds a
    // FAT date and time in its lower half and zero in its upper half.
    static int64_t ExpiryTime(uint32_t low, uint32_t high);

private:
    // The header of `header`, its records read through `source`.
    IndexDatFile(const IndexDatFile& header, std::shared_ptr<const platform::ByteSource> source);
    // Whether a record of `blocks` blocks at `offset` has blocks and ends
    // inside the file.
    bool RecordFits(size_t offset, uint32_t blocks) const
    {
        return blocks != 0 && uint64_t(blocks) * kBlockSize <= size_ - offset;
    }

    std::string owned_;
    ByteReader reader_; // the whole file, unless read through source_
    std::shared_ptr<const platform::ByteSource> source_;
    ByteReader head_;   // header, directory table and bitmap
    uint64_t size_ = 0;
    mutable bool readFellShort_ = false;
    uint32_t firstRecord_ = 0;
    std::vector<Directory> directories_;
    bool useBitmap_ = false;
    mutable size_t recordsFound_ = 0;
    mutable size_t impossibleBlockCounts_ = 0;
    // Notes a block NextRecord met if it is a stale candidate.
    void NoteIfStaleCandidate(size_t offset, const ByteReader& block) const;
    // How far NextRecord has walked, one call after another, from the
    // first record; SIZE_MAX once a call started elsewhere or a read failed
    // (the list is then no use).
    mutable size_t walkedTo_ = SIZE_MAX;
    mutable std::vector<uint32_t> staleCandidates_;
    mutable bool candidatesDropped_ = false; // too many to hold
};

// The file header: where the records begin, the cache directories, and
// whether the allocation bitmap is used. Empty when the bytes are fewer
// than kMinHeaderSize or the signature is not there.
struct IndexDatHeader {
    uint32_t firstRecord = 0;
    std::vector<IndexDatFile::Directory> directories;
    bool usesBitmap = false;
};
std::optional<IndexDatHeader> ParseIndexDatHeader(const ByteReader& file);

// A hash table: "HASH" at 0, its block count at 4, the offset of the next
// table at 8 (0 ends the chain), then from offset 16 slots of 8 bytes each:
// a hash word and the offset of the record it points to.
struct IndexDatHashTable {
    struct Slot {
        size_t offset = 0; // within the table
        uint32_t hash = 0;
        uint32_t record = 0;
    };
    uint32_t next = 0;
    std::vector<Slot> entries;
};
// `table` starts at the table and may run on past it. Empty when the
// signature is not "HASH" or the blocks it announces are not all there.
std::optional<IndexDatHashTable> ParseIndexDatHashTable(const ByteReader& table);

// A URL or LEAK record (the whole record); texts whose offsets fall outside
// the record are absent.
IndexDatFile::UrlRecord ParseIndexDatUrlRecord(const ByteReader& record);

} // namespace oriel
