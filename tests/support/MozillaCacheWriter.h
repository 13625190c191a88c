// Writes Mozilla-family disk caches: the map "_CACHE_MAP_" (version
// 0x00010005 with 4096-byte buckets, or a later version with one record
// array after its 276-byte header), the three block files with their
// 4096-byte bitmaps, and separate files in the flat layout ("0A1B2C3Dd01")
// or the Firefox 4 nested one ("0/A1/B2C3Dd01"), with upper-case names.
//
//   MozillaCacheWriter w;
//   w.Add("http://a.example/logo.gif", gifBytes, "image/gif");
//   w.Add("http://a.example/", GzipBytes(html), "text/html", "gzip");
//   w.Write(dir);
//
// Block files grow past the 32768 blocks that their bitmap can mark when a
// synthetic cache needs more room than a browser would give it; only the
// first 32768 blocks then show in the bitmap.
#pragma once

#include "support/SynthOptions.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace oriel::test {

// gzip header flags.
constexpr uint8_t kGzipHeaderCrc = 0x02;
constexpr uint8_t kGzipExtra = 0x04;
constexpr uint8_t kGzipName = 0x08;
constexpr uint8_t kGzipComment = 0x10;

// One gzip member of `data`; `flags` adds the optional header fields.
std::string GzipBytes(std::string_view data, uint8_t flags = 0);
// `data` deflated, with a zlib header and trailer or raw.
std::string DeflateBytes(std::string_view data, bool zlibWrapper);
// Bytes that do not compress (for decompression tests that need size).
std::string NoiseBytes(size_t length, uint32_t seed = 1);

class MozillaCacheWriter {
public:
    enum class MapFormat { Buckets, RecordArray };
    enum class Layout { Flat, Nested };

    struct Entry {
        std::string key;          // "HTTP:" and the URL
        std::string body;         // the bytes as stored
        std::string responseHead; // the "response-head" element; empty for none
        // Elements written before "response-head".
        std::vector<std::pair<std::string, std::string>> elements{{"request-method", "GET"}};
        uint32_t hash = 0; // 0: derived from the key
        uint32_t generation = 1;
        int dataFile = -1; // -1: by size; 0: separate file; 1 to 3: block file
        int metaFile = -1;
        uint32_t metadataVersion = 0x00010008;
        int32_t lastFetched = 1700000000;
        int32_t lastModified = 1690000000;
        int32_t expires = 1710000000;
        std::optional<uint32_t> dataSize;         // default: the body's size
        std::optional<std::string> rawMetadata;   // replaces the metadata built from the fields
        std::optional<uint32_t> dataLocationWord; // replace the record's words as written
        std::optional<uint32_t> metaLocationWord;
        // Live: a map record lists the entry. Stale: the entry was deleted
        // the way Firefox deletes one: its record stays after the live
        // records of its bucket with the hash number cleared, its metadata
        // and data stay where they were. None: no map record at all, only
        // the entry's files (separate files make an orphan pair).
        enum class Record { Live, Stale, None };
        Record record = Record::Live;

        // Where Build put the entry.
        uint32_t dataLocation = 0;
        uint32_t metaLocation = 0;
        std::string dataFileName; // relative path of a separate data file, or empty
        std::string metaFileName; // relative path of a separate metadata file, or empty
    };

    struct Image {
        std::string map;
        std::string blocks[3];
        std::vector<std::pair<std::string, std::string>> files; // relative path ('/'), bytes
    };

    MozillaCacheWriter& SetFormat(MapFormat format);
    MozillaCacheWriter& SetLayout(Layout layout);
    // The version word of a record-array map (default 0x00010013).
    MozillaCacheWriter& SetVersion(uint32_t version);
    MozillaCacheWriter& SetDirty(bool dirty);
    // The entry count the header announces (default: the entries' number).
    MozillaCacheWriter& SetEntryCount(uint32_t count);
    // Writes a version 0x00010005 map's records little-endian.
    MozillaCacheWriter& SetLittleEndianRecords(bool littleEndian);

    // An entry with key "HTTP:" + url and a response head naming the type
    // and, when given, the content encoding.
    Entry& Add(const std::string& url, std::string body, const std::string& contentType = "text/html",
               const std::string& contentEncoding = "");
    Entry& AddEntry(Entry entry);
    // A separate data file that no record names (its entry's record and
    // metadata are gone), written at the hash's place in the layout.
    MozillaCacheWriter& AddOrphanBody(uint32_t hash, uint32_t generation, std::string body);
    std::deque<Entry>& Entries() { return entries_; }
    const std::deque<Entry>& Entries() const { return entries_; }

    Image Build();
    // Build, then write every file into `folder` (created when missing).
    Image Write(const std::string& folder);
    static void WriteImage(const Image& image, const std::string& folder);

    // One entry's metadata bytes.
    static std::string Metadata(const Entry& entry, uint32_t metaLocation);
    static uint32_t BlockLocation(int file, uint32_t startBlock, uint32_t blockCount);
    static uint32_t SeparateLocation(uint32_t generation, uint32_t sizeInK);
    static std::string SeparateName(uint32_t hash, char kind, uint32_t generation, Layout layout);

private:
    MapFormat format_ = MapFormat::RecordArray;
    Layout layout_ = Layout::Flat;
    uint32_t version_ = 0x00010013;
    bool dirty_ = false;
    std::optional<uint32_t> entryCount_;
    bool littleEndianRecords_ = false;
    std::deque<Entry> entries_; // references to entries stay valid as more are added
    struct OrphanBody {
        uint32_t hash;
        uint32_t generation;
        std::string body;
    };
    std::vector<OrphanBody> orphanBodies_;
};

// oriel-synth's Mozilla cache: `options.entries` entries over 50 servers,
// most inside the block files, some in separate files (layout "nested" for
// Firefox 4 sub-folders, otherwise flat), some gzip or deflate encoded,
// some with metadata in separate files; `options.mapVersion` "old" writes a
// version 0x00010005 map. Returns the map file's path.
std::string WriteSyntheticMozillaCache(const std::string& folder, const SynthOptions& options);

} // namespace oriel::test
