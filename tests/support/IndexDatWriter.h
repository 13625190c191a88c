// Writer of Internet Explorer 5.2 "index.dat" cache files for tests, fuzz
// seeds, benchmarks and oriel-synth.
//
// The file it builds is what Internet Explorer itself leaves behind, so that
// libmsiecf's msiecfexport and pasco list every live record:
//   0x0000  header: signature "Client UrlCache MMF Ver 5.2\0", file size (28),
//           first hash table (32), block count (36), allocated blocks (40),
//           cache limit (48), cache size (56), directory count (72),
//           directory table (76, 12 bytes an entry: file count, 8-byte name)
//   0x0250  allocation bitmap: one bit per 128-byte block, bit 0 of each
//           byte first, block 0 at file offset 0x4000
//   0x4000  the first hash table, then records in the order they were added,
//           with further hash tables chained in where the previous one fills
//
// A test states the file in a few lines:
//   IndexDatWriter w;
//   w.addDirectory("ABCD1234");
//   w.addUrl({.url = "http://a/b.gif", .fileName = "b[1].gif", .headers = "HTTP/1.1 200 OK\r\n\r\n"});
//   w.addStrayBlock();
//   std::string bytes = w.build();
#pragma once

#include "support/SynthOptions.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace oriel::test {

// Windows FILETIME (100 ns units since 1601-01-01 UTC) of a Unix time.
uint64_t FileTimeFromUnix(int64_t seconds);
// FAT (MS-DOS) date and time fields of a Unix time, taken as UTC; years
// 1980 to 2107, seconds rounded down to even.
uint16_t FatDateFromUnix(int64_t seconds);
uint16_t FatTimeFromUnix(int64_t seconds);
// The 8-byte expiry field of a 5.2 record for a Unix time: the FAT date in
// bits 0-15, the FAT time in bits 16-31, and zero in the upper 32 bits.
uint64_t FatExpiryFromUnix(int64_t seconds);

// Little-endian stores into a byte string (grown when needed), for tests
// that damage a built file.
void PutU8(std::string& bytes, size_t offset, uint8_t value);
void PutU32(std::string& bytes, size_t offset, uint32_t value);
void PutU64(std::string& bytes, size_t offset, uint64_t value);

// One URL or LEAK record.
struct IndexDatUrl {
    std::string url{};
    std::string fileName{};         // empty: file-name offset 0
    std::string headers{};          // empty: header offset 0
    uint8_t directory = 0;          // sub-folder index (record offset 56)
    std::optional<uint32_t> size{}; // record offset 32; default: the body's size
    std::string body{};             // written by writeCache into <dir>/<fileName>
    uint64_t lastModified = 0;    // FILETIME at record offset 8
    uint64_t lastAccess = 0;      // FILETIME at record offset 16
    uint64_t expires = 0;         // raw 8 bytes at record offset 24 (see FatExpiryFromUnix)
    uint32_t blocks = 0;          // 0: as many as the texts need
};

class IndexDatWriter {
public:
    static constexpr uint32_t kBlockSize = 128;
    static constexpr uint32_t kBitmapOffset = 0x250;
    static constexpr uint32_t kFirstBlockOffset = 0x4000;
    static constexpr uint32_t kMaxBlocks = (kFirstBlockOffset - kBitmapOffset) * 8;
    static constexpr uint32_t kHashTableBlocks = 32;
    static constexpr uint32_t kHashEntriesPerTable = (kHashTableBlocks * kBlockSize - 16) / 8;
    static constexpr uint32_t kMaxDirectories = 32;
    static constexpr uint32_t kUrlTextStart = 0x68;

    // What fills blocks that the bitmap marks free.
    enum class Stray {
        Garbage,    // bytes that form no record signature
        Zero,       // zero bytes
        BadFood,    // 0x0BADF00D repeated, as Internet Explorer fills freed blocks
        FakeRecord, // a "URL " prefix with a block count, and nothing sensible after it
    };

    // Adds a sub-folder; returns its index. Without a file count the count
    // is the number of URL and LEAK records that name the folder.
    int addDirectory(std::string name, std::optional<uint32_t> fileCount = std::nullopt);

    // Each add returns the record's index (see recordOffset).
    size_t addUrl(IndexDatUrl entry);
    size_t addLeak(IndexDatUrl entry);
    size_t addRedirect(std::string url);
    // A URL record whose URL offset is 0x0BADF00D: allocated, not hashed.
    size_t addFreedUrl(IndexDatUrl entry);
    // A whole URL record left in blocks the bitmap marks free (a record
    // Internet Explorer deleted).
    size_t addStaleUrl(IndexDatUrl entry);
    // The same for a LEAK record and for a REDR record.
    size_t addStaleLeak(IndexDatUrl entry);
    size_t addStaleRedirect(std::string url);
    // A URL record left in free blocks whose blocks after the first
    // `keptBlocks` were taken by what is added next: its block count still
    // names the whole record, but only `keptBlocks` blocks of it are there.
    size_t addCutStaleUrl(IndexDatUrl entry, uint32_t keptBlocks);
    // `blocks` free blocks filled as `fill` says.
    size_t addStrayBlock(Stray fill = Stray::Garbage, uint32_t blocks = 1);
    // Any bytes, padded with zeros to whole blocks. Allocated raw records
    // are not hashed.
    size_t addRawRecord(std::string bytes, bool allocated = true);

    // Fewer entries per hash table make longer chains in small files.
    void setHashEntriesPerTable(uint32_t entries) { hashEntriesPerTable_ = entries; }
    // Free blocks after the last record (default: up to the next 32 KB).
    void setTrailingFreeBlocks(std::optional<uint32_t> blocks) { trailingFreeBlocks_ = blocks; }

    // The whole file.
    std::string build() const;
    // File offset of the record with this index.
    uint32_t recordOffset(size_t index) const;
    // File offsets of the hash tables, in chain order.
    std::vector<uint32_t> hashTableOffsets() const;
    size_t recordCount() const { return records_.size(); }

    // Writes <folder>/index.dat and, with bodies, every URL and LEAK
    // record's body into <folder>/<sub-folder>/<file name>. Returns the
    // index file's path.
    std::string writeCache(const std::string& folder, bool withBodies = true) const;

    // The bytes of one URL record (signature "URL " or "LEAK"), whole blocks.
    static std::string UrlRecordBytes(const IndexDatUrl& entry, uint32_t signature, bool freed = false);

private:
    enum class Kind { Url, Leak, Redirect, Freed, Stale, Stray, Raw };
    struct Record {
        Kind kind;
        IndexDatUrl entry;
        std::string bytes; // whole blocks
        bool allocated;
        bool hashed;
    };
    struct Layout {
        std::vector<uint32_t> recordOffsets;
        std::vector<uint32_t> hashOffsets;
        std::vector<std::vector<size_t>> hashMembers; // record indexes per table
        uint32_t endOffset = 0;                       // after the last record
    };

    size_t add(Kind kind, IndexDatUrl entry, std::string bytes, bool allocated, bool hashed);
    Layout layout() const;

    struct Directory {
        std::string name;
        std::optional<uint32_t> fileCount;
    };
    std::vector<Directory> directories_;
    std::vector<Record> records_;
    uint32_t hashEntriesPerTable_ = kHashEntriesPerTable;
    std::optional<uint32_t> trailingFreeBlocks_;
};

// A plausible Internet Explorer cache folder: index.dat with
// `options.entries` records over several sub-folders and servers, and
// small html, gif, png, css and js bodies. Returns the index file's path.
std::string WriteSyntheticIndexDatCache(const std::string& folder, const SynthOptions& options);

} // namespace oriel::test
