#include "support/MozillaCacheWriter.h"

#include "support/DemoImages.h"
#include "support/TestEnvironment.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <set>
#include <stdexcept>

namespace oriel::test {

namespace {

constexpr uint32_t kBucketMapVersion = 0x00010005;
constexpr size_t kBitmapBytes = 4096;
constexpr uint32_t kBitmapBlocks = kBitmapBytes * 8;
constexpr uint32_t kBlockSizes[3] = {256, 1024, 4096};

void PutBE(std::string& out, size_t off, uint32_t v)
{
    if (out.size() < off + 4)
        out.resize(off + 4, '\0');
    out[off] = char(v >> 24);
    out[off + 1] = char(v >> 16);
    out[off + 2] = char(v >> 8);
    out[off + 3] = char(v);
}

void PutLE(std::string& out, size_t off, uint32_t v)
{
    if (out.size() < off + 4)
        out.resize(off + 4, '\0');
    out[off] = char(v);
    out[off + 1] = char(v >> 8);
    out[off + 2] = char(v >> 16);
    out[off + 3] = char(v >> 24);
}

void AppendBE(std::string& out, uint32_t v)
{
    PutBE(out, out.size(), v);
}

void AppendLE(std::string& out, uint32_t v)
{
    PutLE(out, out.size(), v);
}

uint32_t Fnv1a(std::string_view s)
{
    uint32_t h = 2166136261u;
    for (unsigned char c : s) {
        h ^= c;
        h *= 16777619u;
    }
    return h;
}

std::string RawDeflate(std::string_view data)
{
    z_stream strm{};
    if (deflateInit2(&strm, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2");
    std::string out(deflateBound(&strm, uLong(data.size())) + 16, '\0');
    strm.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    strm.avail_in = uInt(data.size());
    strm.next_out = reinterpret_cast<Bytef*>(out.data());
    strm.avail_out = uInt(out.size());
    int rc = deflate(&strm, Z_FINISH);
    out.resize(strm.total_out);
    deflateEnd(&strm);
    if (rc != Z_STREAM_END)
        throw std::runtime_error("deflate");
    return out;
}

// One block file being filled: bitmap, then blocks handed out in order
// (a run never crosses a 32-block bitmap word, as the browser's allocator
// keeps it).
class BlockFileBuilder {
public:
    explicit BlockFileBuilder(uint32_t blockSize)
        : blockSize_(blockSize)
        , bytes_(kBitmapBytes, '\0')
    {
    }
    uint32_t Allocate(uint32_t count, std::string_view content)
    {
        if (next_ % 32 + count > 32)
            next_ = (next_ / 32 + 1) * 32;
        uint32_t start = next_;
        next_ += count;
        for (uint32_t b = start; b < start + count && b < kBitmapBlocks; ++b) {
            // Bitmap words are big-endian; block b is bit b % 32 of word b / 32.
            size_t byte = (b / 32) * 4 + (3 - (b % 32) / 8);
            bytes_[byte] = char(uint8_t(bytes_[byte]) | (1u << (b % 8)));
        }
        size_t off = kBitmapBytes + size_t(start) * blockSize_;
        size_t end = kBitmapBytes + size_t(start + count) * blockSize_;
        if (bytes_.size() < end)
            bytes_.resize(end, '\0');
        std::copy(content.begin(), content.end(), bytes_.begin() + std::ptrdiff_t(off));
        return start;
    }
    std::string& Bytes() { return bytes_; }

private:
    uint32_t blockSize_;
    uint32_t next_ = 0;
    std::string bytes_;
};

// The block file that holds `size` bytes in at most four blocks, or 0.
int FileFor(size_t size)
{
    for (int f = 1; f <= 3; ++f) {
        if (std::max<size_t>(size, 1) <= 4 * size_t(kBlockSizes[f - 1]))
            return f;
    }
    return 0;
}

uint32_t BlocksFor(int file, size_t size)
{
    uint32_t bs = kBlockSizes[file - 1];
    return uint32_t(std::max<size_t>((size + bs - 1) / bs, 1));
}

} // namespace

std::string GzipBytes(std::string_view data, uint8_t flags)
{
    std::string out = {char(0x1F), char(0x8B), 8, char(flags), 0x10, 0x20, 0x30, 0x40, 0, 3};
    if (flags & kGzipExtra) {
        std::string extra = "AB\x04\x00xyzw";
        out += char(extra.size() & 0xFF);
        out += char(extra.size() >> 8);
        out += extra;
    }
    if (flags & kGzipName)
        out += std::string("page.html") + '\0';
    if (flags & kGzipComment)
        out += std::string("a comment") + '\0';
    if (flags & kGzipHeaderCrc) {
        uLong crc = crc32(0, reinterpret_cast<const Bytef*>(out.data()), uInt(out.size()));
        out += char(crc & 0xFF);
        out += char((crc >> 8) & 0xFF);
    }
    out += RawDeflate(data);
    AppendLE(out, uint32_t(crc32(0, reinterpret_cast<const Bytef*>(data.data()), uInt(data.size()))));
    AppendLE(out, uint32_t(data.size()));
    return out;
}

std::string DeflateBytes(std::string_view data, bool zlibWrapper)
{
    if (!zlibWrapper)
        return RawDeflate(data);
    uLongf length = compressBound(uLong(data.size()));
    std::string out(length, '\0');
    if (compress2(reinterpret_cast<Bytef*>(out.data()), &length, reinterpret_cast<const Bytef*>(data.data()),
                  uLong(data.size()), Z_BEST_COMPRESSION) != Z_OK)
        throw std::runtime_error("compress2");
    out.resize(length);
    return out;
}

std::string NoiseBytes(size_t length, uint32_t seed)
{
    std::string out(length, '\0');
    uint32_t x = seed ? seed : 1;
    for (char& c : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = char(x);
    }
    return out;
}

MozillaCacheWriter& MozillaCacheWriter::SetFormat(MapFormat format)
{
    format_ = format;
    return *this;
}

MozillaCacheWriter& MozillaCacheWriter::SetLayout(Layout layout)
{
    layout_ = layout;
    return *this;
}

MozillaCacheWriter& MozillaCacheWriter::SetVersion(uint32_t version)
{
    version_ = version;
    return *this;
}

MozillaCacheWriter& MozillaCacheWriter::SetDirty(bool dirty)
{
    dirty_ = dirty;
    return *this;
}

MozillaCacheWriter& MozillaCacheWriter::SetEntryCount(uint32_t count)
{
    entryCount_ = count;
    return *this;
}

MozillaCacheWriter& MozillaCacheWriter::SetLittleEndianRecords(bool littleEndian)
{
    littleEndianRecords_ = littleEndian;
    return *this;
}

MozillaCacheWriter::Entry& MozillaCacheWriter::Add(const std::string& url, std::string body,
                                                   const std::string& contentType,
                                                   const std::string& contentEncoding)
{
    Entry entry;
    entry.key = "HTTP:" + url;
    entry.responseHead = "HTTP/1.1 200 OK\r\nDate: Tue, 14 Nov 2023 22:13:20 GMT\r\n";
    if (!contentType.empty())
        entry.responseHead += "Content-Type: " + contentType + "\r\n";
    if (!contentEncoding.empty())
        entry.responseHead += "Content-Encoding: " + contentEncoding + "\r\n";
    entry.responseHead += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    entry.body = std::move(body);
    return AddEntry(std::move(entry));
}

MozillaCacheWriter::Entry& MozillaCacheWriter::AddEntry(Entry entry)
{
    entries_.push_back(std::move(entry));
    return entries_.back();
}

MozillaCacheWriter& MozillaCacheWriter::AddOrphanBody(uint32_t hash, uint32_t generation, std::string body)
{
    orphanBodies_.push_back({hash, generation, std::move(body)});
    return *this;
}

uint32_t MozillaCacheWriter::BlockLocation(int file, uint32_t startBlock, uint32_t blockCount)
{
    return 0x80000000u | uint32_t(file & 3) << 28 | ((blockCount - 1) & 3) << 24 | (startBlock & 0x00FFFFFF);
}

uint32_t MozillaCacheWriter::SeparateLocation(uint32_t generation, uint32_t sizeInK)
{
    return 0x80000000u | (std::min<uint32_t>(sizeInK, 0xFFFF) << 8) | (generation & 0xFF);
}

std::string MozillaCacheWriter::SeparateName(uint32_t hash, char kind, uint32_t generation, Layout layout)
{
    char name[32];
    if (layout == Layout::Flat)
        std::snprintf(name, sizeof name, "%08X%c%02X", hash, kind, generation & 0xFF);
    else
        std::snprintf(name, sizeof name, "%X/%02X/%05X%c%02X", hash >> 28, (hash >> 20) & 0xFF, hash & 0xFFFFF, kind,
                      generation & 0xFF);
    return name;
}

std::string MozillaCacheWriter::Metadata(const Entry& entry, uint32_t metaLocation)
{
    if (entry.rawMetadata)
        return *entry.rawMetadata;
    std::string elements;
    for (const auto& [name, value] : entry.elements)
        elements += name + '\0' + value + '\0';
    if (!entry.responseHead.empty())
        elements += std::string("response-head") + '\0' + entry.responseHead + '\0';
    std::string out;
    AppendBE(out, entry.metadataVersion);
    AppendBE(out, metaLocation);
    AppendBE(out, 1); // fetch count
    AppendBE(out, uint32_t(entry.lastFetched));
    AppendBE(out, uint32_t(entry.lastModified));
    AppendBE(out, uint32_t(entry.expires));
    AppendBE(out, entry.dataSize.value_or(uint32_t(entry.body.size())));
    AppendBE(out, uint32_t(entry.key.size() + 1));
    AppendBE(out, uint32_t(elements.size()));
    out += entry.key;
    out += '\0';
    out += elements;
    return out;
}

MozillaCacheWriter::Image MozillaCacheWriter::Build()
{
    Image image;
    BlockFileBuilder blocks[3] = {BlockFileBuilder(256), BlockFileBuilder(1024), BlockFileBuilder(4096)};

    // Hash numbers: from the key, never 0, never twice.
    std::set<uint32_t> used;
    for (Entry& e : entries_) {
        if (e.hash == 0) {
            uint32_t h = Fnv1a(e.key);
            while (h == 0 || used.count(h))
                ++h;
            e.hash = h;
        }
        used.insert(e.hash);
    }

    for (Entry& e : entries_) {
        e.dataFileName.clear();
        e.metaFileName.clear();
        int dataFile = e.dataFile >= 0 ? e.dataFile : FileFor(e.body.size());
        if (dataFile == 0) {
            e.dataLocation = SeparateLocation(e.generation, uint32_t((e.body.size() + 1023) / 1024));
            e.dataFileName = SeparateName(e.hash, 'd', e.generation, layout_);
            image.files.emplace_back(e.dataFileName, e.body);
        } else {
            uint32_t count = std::min<uint32_t>(BlocksFor(dataFile, e.body.size()), 4);
            uint32_t start = blocks[dataFile - 1].Allocate(count, e.body.substr(0, count * kBlockSizes[dataFile - 1]));
            e.dataLocation = BlockLocation(dataFile, start, count);
        }

        // The metadata's size does not depend on the location word in it.
        size_t metaSize = Metadata(e, 0).size();
        int metaFile = e.metaFile >= 0 ? e.metaFile : FileFor(metaSize);
        if (metaFile == 0) {
            e.metaLocation = SeparateLocation(e.generation, uint32_t((metaSize + 1023) / 1024));
            e.metaFileName = SeparateName(e.hash, 'm', e.generation, layout_);
            image.files.emplace_back(e.metaFileName, Metadata(e, e.metaLocation));
        } else {
            uint32_t count = std::min<uint32_t>(BlocksFor(metaFile, metaSize), 4);
            // The location word inside the metadata names its own blocks;
            // the start block is known only after allocating.
            uint32_t start = blocks[metaFile - 1].Allocate(count, {});
            e.metaLocation = BlockLocation(metaFile, start, count);
            std::string meta = Metadata(e, e.metaLocation);
            std::string& file = blocks[metaFile - 1].Bytes();
            size_t off = kBitmapBytes + size_t(start) * kBlockSizes[metaFile - 1];
            meta.resize(std::min<size_t>(meta.size(), count * kBlockSizes[metaFile - 1]));
            std::copy(meta.begin(), meta.end(), file.begin() + std::ptrdiff_t(off));
        }
    }
    for (int f = 0; f < 3; ++f)
        image.blocks[f] = std::move(blocks[f].Bytes());
    for (const OrphanBody& orphan : orphanBodies_)
        image.files.emplace_back(SeparateName(orphan.hash, 'd', orphan.generation, layout_), orphan.body);

    // The map's records: the live entries of each bucket first, then the
    // stale ones; entries without a record have none.
    std::vector<size_t> mapped;
    for (Entry::Record want : {Entry::Record::Live, Entry::Record::Stale}) {
        for (size_t i = 0; i < entries_.size(); ++i) {
            if (entries_[i].record == want)
                mapped.push_back(i);
        }
    }
    const uint32_t liveCount = uint32_t(std::count_if(entries_.begin(), entries_.end(),
                                                      [](const Entry& e) { return e.record == Entry::Record::Live; }));
    const uint32_t entryCount = entryCount_.value_or(liveCount);
    auto recordOf = [](const Entry& e, uint32_t rank) {
        return std::array<uint32_t, 4>{e.record == Entry::Record::Stale ? 0u : e.hash, rank,
                                       e.dataLocationWord.value_or(e.dataLocation),
                                       e.metaLocationWord.value_or(e.metaLocation)};
    };
    uint32_t dataSizeK = 0;
    for (const std::string& b : image.blocks)
        dataSizeK += uint32_t(b.size() / 1024);

    if (format_ == MapFormat::Buckets) {
        size_t bucketCount = 32;
        std::vector<std::vector<size_t>> buckets;
        for (;;) {
            buckets.assign(bucketCount, {});
            for (size_t i : mapped)
                buckets[entries_[i].hash % bucketCount].push_back(i);
            bool fits = std::all_of(buckets.begin(), buckets.end(), [](const auto& b) { return b.size() <= 256; });
            if (fits)
                break;
            bucketCount *= 2;
        }
        std::string& map = image.map;
        AppendBE(map, kBucketMapVersion);
        AppendBE(map, dataSizeK);
        AppendBE(map, entryCount);
        AppendBE(map, dirty_ ? 1 : 0);
        map.resize(4096 + bucketCount * 4096, '\0');
        for (size_t b = 0; b < bucketCount; ++b) {
            size_t off = 4096 + b * 4096;
            uint32_t rank = 1;
            for (size_t index : buckets[b]) {
                for (uint32_t word : recordOf(entries_[index], rank++)) {
                    if (littleEndianRecords_)
                        PutLE(map, off, word);
                    else
                        PutBE(map, off, word);
                    off += 4;
                }
            }
        }
        return image;
    }

    // Record array: 32 buckets of equal size; a record's bucket is the low
    // five bits of its hash number; unused records are zero.
    std::vector<std::vector<size_t>> buckets(32);
    for (size_t i : mapped)
        buckets[entries_[i].hash & 31].push_back(i);
    size_t perBucket = 16;
    for (const auto& b : buckets)
        perBucket = std::max(perBucket, b.size());
    std::string& map = image.map;
    AppendBE(map, version_);
    AppendBE(map, dataSizeK);
    AppendBE(map, entryCount);
    AppendBE(map, dirty_ ? 1 : 0);
    AppendBE(map, uint32_t(perBucket * 32));
    for (const auto& b : buckets) // eviction ranks
        AppendBE(map, uint32_t(b.size()));
    for (const auto& b : buckets) // bucket usage: the live records
        AppendBE(map, uint32_t(std::count_if(b.begin(), b.end(), [this](size_t i) {
                     return entries_[i].record == Entry::Record::Live;
                 })));
    map.resize(276 + perBucket * 32 * 16, '\0');
    for (size_t b = 0; b < 32; ++b) {
        size_t off = 276 + b * perBucket * 16;
        uint32_t rank = 1;
        for (size_t index : buckets[b]) {
            for (uint32_t word : recordOf(entries_[index], rank++)) {
                PutBE(map, off, word);
                off += 4;
            }
        }
    }
    return image;
}

MozillaCacheWriter::Image MozillaCacheWriter::Write(const std::string& folder)
{
    Image image = Build();
    WriteImage(image, folder);
    return image;
}

void MozillaCacheWriter::WriteImage(const Image& image, const std::string& folder)
{
    std::filesystem::create_directories(folder);
    WriteFile(folder + "/_CACHE_MAP_", image.map);
    for (int f = 0; f < 3; ++f)
        WriteFile(folder + "/_CACHE_00" + std::to_string(f + 1) + "_", image.blocks[f]);
    for (const auto& [name, bytes] : image.files)
        WriteFile(folder + "/" + name, bytes);
}

std::string WriteSyntheticMozillaCache(const std::string& folder, const SynthOptions& options)
{
    MozillaCacheWriter w;
    w.SetFormat(options.mapVersion == "old" ? MozillaCacheWriter::MapFormat::Buckets
                                            : MozillaCacheWriter::MapFormat::RecordArray);
    w.SetLayout(options.layout == "nested" ? MozillaCacheWriter::Layout::Nested : MozillaCacheWriter::Layout::Flat);
    static const struct {
        const char* ext;
        const char* type;
    } kinds[] = {{".html", "text/html"}, {".css", "text/css"}, {".js", "application/javascript"},
                 {".gif", "image/gif"}, {".png", "image/png"}, {".json", "application/json"}};
    uint32_t x = options.seed ? options.seed : 1;
    auto next = [&x] {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        return x;
    };
    for (int i = 0; i < options.entries; ++i) {
        const auto& kind = kinds[size_t(i) % std::size(kinds)];
        std::string url = "http://www" + std::to_string(i % 50) + ".example.com/path/" + std::to_string(i / 50) +
                          "/file" + std::to_string(i) + kind.ext;
        std::string body = "<!-- entry " + std::to_string(i) + " -->\n";
        size_t length = options.bodies ? 100 + next() % 3000 : 16;
        while (body.size() < length)
            body += "cached text of entry " + std::to_string(i) + "\n";
        body.resize(length);
        if (options.bodies && kind.type == std::string_view("image/gif"))
            body = MakePatternGif(uint16_t(12 + length % 52), uint16_t(12 + length % 40), next());
        else if (options.bodies && kind.type == std::string_view("image/png"))
            body = MakePatternPng(uint32_t(12 + length % 52), uint32_t(12 + length % 40), next());
        std::string encoding;
        if (options.bodies && i % 10 == 3) {
            body = GzipBytes(body, i % 20 == 3 ? kGzipName : 0);
            encoding = "gzip";
        } else if (options.bodies && i % 15 == 7) {
            body = DeflateBytes(body, i % 30 == 7);
            encoding = "deflate";
        }
        auto& e = w.Add(url, std::move(body), kind.type, encoding);
        e.lastFetched = int32_t(1600000000 + i * 60);
        e.lastModified = int32_t(1500000000 + i * 3600);
        e.expires = i % 7 == 0 ? 0 : int32_t(1700000000 + i * 600);
        if (i % 100 == 42) {
            e.dataFile = 0;
            if (options.bodies)
                e.body += NoiseBytes(17000, uint32_t(i + 1));
        }
        if (i % 250 == 17)
            e.metaFile = 0;
        // Deleted entries: the record left with its hash cleared; every
        // fourth one gone from the map, its separate files left behind.
        const int deletedEvery = options.deleted > 0 ? std::max(1, options.entries / options.deleted) : 0;
        if (deletedEvery && i % deletedEvery == deletedEvery / 2) {
            if ((i / deletedEvery) % 4 == 3) {
                e.dataFile = 0;
                e.metaFile = 0;
                e.record = MozillaCacheWriter::Entry::Record::None;
            } else {
                e.record = MozillaCacheWriter::Entry::Record::Stale;
            }
        }
    }
    if (options.deleted > 0)
        w.AddOrphanBody(0x0DE1E7ED, 1, "<html><body>A body whose record is gone.</body></html>\n");
    w.Write(folder);
    return folder + "/_CACHE_MAP_";
}

} // namespace oriel::test
