#include "support/IndexDatWriter.h"

#include "support/DemoImages.h"
#include "support/TestEnvironment.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>
#include <random>
#include <stdexcept>

namespace oriel::test {

namespace {

constexpr char kSignature[] = "Client UrlCache MMF Ver 5.2"; // and its NUL: 28 bytes
constexpr uint32_t kSigUrl = 0x204C5255;                     // "URL "
constexpr uint32_t kSigLeak = 0x4B41454C;                    // "LEAK"
constexpr uint32_t kSigRedr = 0x52444552;                    // "REDR"
constexpr uint32_t kSigHash = 0x48534148;                    // "HASH"
constexpr uint32_t kBadFood = 0x0BADF00D;
// A hash-table slot that holds no record.
constexpr uint32_t kUnusedSlot = 0x00000003;
constexpr uint32_t kFileGrowth = 0x8000;

uint32_t BlocksFor(size_t bytes)
{
    return uint32_t((bytes + IndexDatWriter::kBlockSize - 1) / IndexDatWriter::kBlockSize);
}

void PadToBlocks(std::string& bytes, uint32_t blocks)
{
    bytes.resize(size_t(blocks) * IndexDatWriter::kBlockSize, '\0');
}

// The hash-table value of a URL. Internet Explorer's own hash is not needed
// by readers; they only want a value whose low bits are not the flags of an
// unused or deleted slot.
uint32_t UrlHash(const std::string& url)
{
    uint32_t h = 2166136261u;
    for (unsigned char c : url)
        h = (h ^ c) * 16777619u;
    h &= ~0x3Fu;
    return h ? h : 0x40;
}

std::tm UtcFields(int64_t seconds)
{
    std::time_t t = std::time_t(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    return tm;
}

} // namespace

uint64_t FileTimeFromUnix(int64_t seconds)
{
    return uint64_t(seconds + 11644473600LL) * 10000000ULL;
}

uint16_t FatDateFromUnix(int64_t seconds)
{
    std::tm tm = UtcFields(seconds);
    int year = std::clamp(tm.tm_year + 1900, 1980, 2107);
    return uint16_t(((year - 1980) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
}

uint16_t FatTimeFromUnix(int64_t seconds)
{
    std::tm tm = UtcFields(seconds);
    return uint16_t((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
}

uint64_t FatExpiryFromUnix(int64_t seconds)
{
    return uint64_t(FatDateFromUnix(seconds)) | uint64_t(FatTimeFromUnix(seconds)) << 16;
}

void PutU8(std::string& bytes, size_t offset, uint8_t value)
{
    if (bytes.size() < offset + 1)
        bytes.resize(offset + 1, '\0');
    bytes[offset] = char(value);
}

void PutU32(std::string& bytes, size_t offset, uint32_t value)
{
    for (size_t i = 0; i < 4; ++i)
        PutU8(bytes, offset + i, uint8_t(value >> (8 * i)));
}

void PutU64(std::string& bytes, size_t offset, uint64_t value)
{
    PutU32(bytes, offset, uint32_t(value));
    PutU32(bytes, offset + 4, uint32_t(value >> 32));
}

// ---------------------------------------------------------------------------

int IndexDatWriter::addDirectory(std::string name, std::optional<uint32_t> fileCount)
{
    directories_.push_back({std::move(name), fileCount});
    return int(directories_.size()) - 1;
}

size_t IndexDatWriter::add(Kind kind, IndexDatUrl entry, std::string bytes, bool allocated, bool hashed)
{
    records_.push_back({kind, std::move(entry), std::move(bytes), allocated, hashed});
    return records_.size() - 1;
}

size_t IndexDatWriter::addUrl(IndexDatUrl entry)
{
    std::string bytes = UrlRecordBytes(entry, kSigUrl);
    return add(Kind::Url, std::move(entry), std::move(bytes), true, true);
}

size_t IndexDatWriter::addLeak(IndexDatUrl entry)
{
    std::string bytes = UrlRecordBytes(entry, kSigLeak);
    return add(Kind::Leak, std::move(entry), std::move(bytes), true, true);
}

size_t IndexDatWriter::addFreedUrl(IndexDatUrl entry)
{
    std::string bytes = UrlRecordBytes(entry, kSigUrl, true);
    return add(Kind::Freed, std::move(entry), std::move(bytes), true, false);
}

size_t IndexDatWriter::addStaleUrl(IndexDatUrl entry)
{
    std::string bytes = UrlRecordBytes(entry, kSigUrl);
    return add(Kind::Stale, std::move(entry), std::move(bytes), false, false);
}

size_t IndexDatWriter::addStaleLeak(IndexDatUrl entry)
{
    std::string bytes = UrlRecordBytes(entry, kSigLeak);
    return add(Kind::Stale, std::move(entry), std::move(bytes), false, false);
}

size_t IndexDatWriter::addStaleRedirect(std::string url)
{
    size_t index = addRedirect(std::move(url));
    records_[index].kind = Kind::Stale;
    records_[index].allocated = false;
    records_[index].hashed = false;
    records_[index].entry.size = 0;
    return index;
}

size_t IndexDatWriter::addCutStaleUrl(IndexDatUrl entry, uint32_t keptBlocks)
{
    std::string bytes = UrlRecordBytes(entry, kSigUrl);
    bytes.resize(std::min(bytes.size(), size_t(std::max<uint32_t>(keptBlocks, 1)) * kBlockSize));
    return add(Kind::Stale, std::move(entry), std::move(bytes), false, false);
}

size_t IndexDatWriter::addRedirect(std::string url)
{
    // REDR: signature, block count, two unknown words, then the URL at 16.
    std::string bytes;
    PutU32(bytes, 0, kSigRedr);
    PutU32(bytes, 8, 0);
    PutU32(bytes, 12, UrlHash(url));
    bytes += url;
    bytes += '\0';
    uint32_t blocks = BlocksFor(bytes.size());
    PutU32(bytes, 4, blocks);
    PadToBlocks(bytes, blocks);
    return add(Kind::Redirect, IndexDatUrl{.url = std::move(url)}, std::move(bytes), true, true);
}

size_t IndexDatWriter::addStrayBlock(Stray fill, uint32_t blocks)
{
    std::string bytes(size_t(blocks) * kBlockSize, '\0');
    for (uint32_t b = 0; b < blocks; ++b) {
        size_t at = size_t(b) * kBlockSize;
        switch (fill) {
        case Stray::Garbage:
            // "JUNK" is no record signature; the rest is noise.
            bytes.replace(at, 4, "JUNK");
            for (size_t i = 4; i < kBlockSize; ++i)
                bytes[at + i] = char((i * 37 + b * 11 + 5) & 0xFF);
            break;
        case Stray::Zero:
            break;
        case Stray::BadFood:
            for (size_t i = 0; i < kBlockSize; i += 4)
                PutU32(bytes, at + i, kBadFood);
            break;
        case Stray::FakeRecord: {
            // A record prefix claiming far more blocks than exist, with a
            // URL text: readers must step over it block by block.
            PutU32(bytes, at, kSigUrl);
            PutU32(bytes, at + 4, 0x00FFFFFF);
            PutU32(bytes, at + 52, 0x68);
            std::string url = "http://stray.invalid/";
            bytes.replace(at + 0x68, url.size(), url);
            break;
        }
        }
    }
    return add(Kind::Stray, {}, std::move(bytes), false, false);
}

size_t IndexDatWriter::addRawRecord(std::string bytes, bool allocated)
{
    uint32_t blocks = std::max<uint32_t>(1, BlocksFor(bytes.size()));
    PadToBlocks(bytes, blocks);
    return add(Kind::Raw, {}, std::move(bytes), allocated, false);
}

std::string IndexDatWriter::UrlRecordBytes(const IndexDatUrl& e, uint32_t signature, bool freed)
{
    std::string bytes(kUrlTextStart, '\0');
    PutU32(bytes, 0, signature);
    PutU64(bytes, 8, e.lastModified);
    PutU64(bytes, 16, e.lastAccess);
    PutU64(bytes, 24, e.expires);
    PutU32(bytes, 32, e.size.value_or(uint32_t(e.body.size())));
    PutU8(bytes, 56, e.directory);
    PutU32(bytes, 84, 1); // hit count

    // The texts follow the fixed part, each with its NUL.
    auto appendText = [&bytes](const std::string& text) {
        uint32_t at = uint32_t(bytes.size());
        bytes += text;
        bytes += '\0';
        return at;
    };
    uint32_t urlAt = appendText(e.url);
    PutU32(bytes, 52, freed ? kBadFood : urlAt);
    if (!e.fileName.empty())
        PutU32(bytes, 60, appendText(e.fileName));
    if (!e.headers.empty()) {
        PutU32(bytes, 68, appendText(e.headers));
        PutU32(bytes, 72, uint32_t(e.headers.size()));
    }
    uint32_t blocks = e.blocks ? e.blocks : BlocksFor(bytes.size());
    PutU32(bytes, 4, blocks);
    PadToBlocks(bytes, blocks);
    return bytes;
}

IndexDatWriter::Layout IndexDatWriter::layout() const
{
    Layout l;
    uint32_t perTable = std::clamp<uint32_t>(hashEntriesPerTable_, 1, kHashEntriesPerTable);
    uint64_t offset = kFirstBlockOffset;
    l.hashOffsets.push_back(uint32_t(offset));
    l.hashMembers.emplace_back();
    offset += kHashTableBlocks * kBlockSize;
    for (size_t i = 0; i < records_.size(); ++i) {
        const Record& r = records_[i];
        if (r.hashed && l.hashMembers.back().size() == perTable) {
            l.hashOffsets.push_back(uint32_t(offset));
            l.hashMembers.emplace_back();
            offset += kHashTableBlocks * kBlockSize;
        }
        if (r.hashed)
            l.hashMembers.back().push_back(i);
        l.recordOffsets.push_back(uint32_t(offset));
        offset += r.bytes.size();
        if (offset > UINT32_MAX)
            throw std::runtime_error("index.dat larger than 4 GB");
    }
    l.endOffset = uint32_t(offset);
    return l;
}

uint32_t IndexDatWriter::recordOffset(size_t index) const
{
    return layout().recordOffsets.at(index);
}

std::vector<uint32_t> IndexDatWriter::hashTableOffsets() const
{
    return layout().hashOffsets;
}

std::string IndexDatWriter::build() const
{
    Layout l = layout();
    uint64_t usedBlocks = (l.endOffset - kFirstBlockOffset) / kBlockSize;
    if (usedBlocks > kMaxBlocks)
        throw std::runtime_error("index.dat records need more blocks than the allocation bitmap addresses");
    uint64_t totalBlocks;
    if (trailingFreeBlocks_) {
        totalBlocks = usedBlocks + *trailingFreeBlocks_;
    } else {
        // Internet Explorer grows the file 32 KB at a time.
        uint64_t size = (uint64_t(l.endOffset) + kFileGrowth - 1) / kFileGrowth * kFileGrowth;
        totalBlocks = std::min<uint64_t>((size - kFirstBlockOffset) / kBlockSize, kMaxBlocks);
    }
    uint64_t fileSize = kFirstBlockOffset + totalBlocks * kBlockSize;
    std::string out(size_t(fileSize), '\0');

    // Records, hash tables and the bitmap.
    uint32_t allocatedBlocks = 0;
    auto markAllocated = [&](uint32_t offset, size_t length) {
        uint32_t first = (offset - kFirstBlockOffset) / kBlockSize;
        uint32_t count = BlocksFor(length);
        for (uint32_t b = first; b < first + count && b < kMaxBlocks; ++b) {
            out[kBitmapOffset + b / 8] = char(uint8_t(out[kBitmapOffset + b / 8]) | (1u << (b % 8)));
            ++allocatedBlocks;
        }
    };
    for (size_t i = 0; i < records_.size(); ++i) {
        out.replace(l.recordOffsets[i], records_[i].bytes.size(), records_[i].bytes);
        if (records_[i].allocated)
            markAllocated(l.recordOffsets[i], records_[i].bytes.size());
    }
    for (size_t t = 0; t < l.hashOffsets.size(); ++t) {
        // HASH: signature, block count, next table (0 for the last),
        // sequence number, then 8-byte slots (hash value, record offset).
        uint32_t at = l.hashOffsets[t];
        PutU32(out, at, kSigHash);
        PutU32(out, at + 4, kHashTableBlocks);
        PutU32(out, at + 8, t + 1 < l.hashOffsets.size() ? l.hashOffsets[t + 1] : 0);
        PutU32(out, at + 12, uint32_t(t));
        for (uint32_t slot = 0; slot < kHashEntriesPerTable; ++slot) {
            uint32_t slotAt = at + 16 + slot * 8;
            if (slot < l.hashMembers[t].size()) {
                size_t member = l.hashMembers[t][slot];
                PutU32(out, slotAt, UrlHash(records_[member].entry.url));
                PutU32(out, slotAt + 4, l.recordOffsets[member]);
            } else {
                PutU32(out, slotAt, kUnusedSlot);
                PutU32(out, slotAt + 4, kUnusedSlot);
            }
        }
        markAllocated(at, kHashTableBlocks * kBlockSize);
    }

    // Header.
    out.replace(0, sizeof kSignature, kSignature, sizeof kSignature);
    PutU32(out, 28, uint32_t(fileSize));
    PutU32(out, 32, l.hashOffsets.front());
    PutU32(out, 36, uint32_t(totalBlocks));
    PutU32(out, 40, allocatedBlocks);
    uint64_t cacheSize = 0;
    for (const Record& r : records_) {
        if (r.kind == Kind::Url || r.kind == Kind::Leak)
            cacheSize += r.entry.size.value_or(uint32_t(r.entry.body.size()));
    }
    PutU64(out, 48, 50ULL * 1024 * 1024); // cache limit
    PutU64(out, 56, cacheSize);
    PutU32(out, 72, uint32_t(directories_.size()));
    if (directories_.size() > kMaxDirectories)
        throw std::runtime_error("index.dat holds at most 32 directories");
    for (size_t d = 0; d < directories_.size(); ++d) {
        size_t at = 76 + d * 12;
        uint32_t count = 0;
        if (directories_[d].fileCount) {
            count = *directories_[d].fileCount;
        } else {
            for (const Record& r : records_) {
                if ((r.kind == Kind::Url || r.kind == Kind::Leak) && r.entry.directory == d &&
                    !r.entry.fileName.empty())
                    ++count;
            }
        }
        PutU32(out, at, count);
        std::string name = directories_[d].name.substr(0, 8);
        out.replace(at + 4, name.size(), name);
    }
    return out;
}

std::string IndexDatWriter::writeCache(const std::string& folder, bool withBodies) const
{
    std::string index = folder + "/index.dat";
    WriteFile(index, build());
    if (!withBodies)
        return index;
    for (const Record& r : records_) {
        // A deleted record's body may outlive it: stale records with a
        // body have it written too.
        if (r.kind != Kind::Url && r.kind != Kind::Leak && !(r.kind == Kind::Stale && !r.entry.body.empty()))
            continue;
        if (r.entry.fileName.empty() || r.entry.directory >= directories_.size())
            continue;
        WriteFile(folder + "/" + directories_[r.entry.directory].name + "/" + r.entry.fileName, r.entry.body);
    }
    return index;
}

// ---------------------------------------------------------------------------
// Synthetic caches.

namespace {

struct BodyKind {
    const char* extension;
    const char* contentType;
};
constexpr std::array<BodyKind, 5> kBodyKinds{{
    {"htm", "text/html"},
    {"gif", "image/gif"},
    {"png", "image/png"},
    {"css", "text/css"},
    {"js", "application/x-javascript"},
}};

constexpr std::array<const char*, 12> kServers{
    "www.example.com",   "images.example.com", "www.example.org", "static.example.net",
    "news.example.co.uk", "ads.example.biz",   "www.example.edu", "cdn.example.info",
    "mail.example.com",  "shop.example.org",   "intranet",        "www.example.de",
};

constexpr std::array<const char*, 8> kWords{"index", "logo", "banner", "style", "menu", "news", "photo", "main"};

} // namespace

std::string WriteSyntheticIndexDatCache(const std::string& folder, const SynthOptions& options)
{
    std::mt19937 rng(options.seed);
    auto pick = [&rng](uint32_t n) { return uint32_t(rng() % n); };

    IndexDatWriter w;
    constexpr char kNameChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    constexpr int kDirectories = 4;
    for (int d = 0; d < kDirectories; ++d) {
        std::string name;
        for (int i = 0; i < 8; ++i)
            name += kNameChars[pick(36)];
        w.addDirectory(name);
    }

    // 1 June 2009, 12:00 UTC.
    constexpr int64_t kNow = 1243857600;
    // With a number of images: entry i is a picture when the even spread
    // of that many over the entries steps at i.
    constexpr BodyKind kJpeg{"jpg", "image/jpeg"};
    int imagesMade = 0;
    for (int i = 0; i < options.entries; ++i) {
        const BodyKind* chosen = &kBodyKinds[pick(uint32_t(kBodyKinds.size()))];
        if (options.images >= 0) {
            const bool image = int64_t(i + 1) * options.images / options.entries != int64_t(i) * options.images / options.entries;
            if (image) {
                static constexpr int kImageKinds[] = {2, -1, 1}; // png, jpeg, gif
                const int k = kImageKinds[imagesMade++ % 3];
                chosen = k < 0 ? &kJpeg : &kBodyKinds[size_t(k)];
            } else {
                static constexpr int kTextKinds[] = {0, 3, 4}; // htm, css, js
                chosen = &kBodyKinds[size_t(kTextKinds[i % 3])];
            }
        }
        const BodyKind& kind = *chosen;
        const char* server = kServers[pick(uint32_t(kServers.size()))];
        std::string stem = std::string(kWords[pick(uint32_t(kWords.size()))]) + std::to_string(i);
        std::string url = std::string(i % 7 == 3 ? "https://" : "http://") + server + "/" +
                          kWords[pick(uint32_t(kWords.size()))] + "/" + stem + "." + kind.extension;

        std::string body;
        std::string ext = kind.extension;
        uint8_t r = uint8_t(pick(256)), g = uint8_t(pick(256)), b = uint8_t(pick(256));
        if (ext == "htm")
            body = "<html><head><title>Page " + std::to_string(i) + "</title>\n<link rel=\"stylesheet\" href=\"style.css\">"
                   "</head>\n<body><h1>" + stem + "</h1><p>Cached page " + std::to_string(i) + " of " + server +
                   ".</p><img src=\"logo.gif\"></body></html>\n";
        else if (ext == "gif" || ext == "png") {
            // Mostly icons; now and then a picture large enough to look at.
            const uint32_t colours = uint32_t(r) | uint32_t(g) << 8 | uint32_t(b) << 16;
            const uint32_t side = (i % 25 == 1 ? 96 : 16) + (r % 48);
            if (ext == "gif")
                body = MakePatternGif(uint16_t(side), uint16_t(side * 3 / 4), colours);
            else
                body = MakePatternPng(side + pick(16), side, colours);
        }
        else if (ext == "jpg")
            body = MakeMosaicJpeg(uint16_t(2 + r % 6), uint16_t(2 + g % 5), uint32_t(r) | uint32_t(g) << 8 | uint32_t(b) << 16);
        else if (ext == "css")
            body = "body { color: #" + std::to_string(100000 + pick(899999)) + "; margin: " +
                   std::to_string(pick(20)) + "px; }\nh1 { font-size: 120%; }\n";
        else
            body = "function " + stem + "() { return " + std::to_string(pick(100000)) + "; }\n";

        int64_t modified = kNow - int64_t(pick(365 * 86400));
        int64_t accessed = kNow - int64_t(pick(30 * 86400));
        IndexDatUrl e{
            .url = url,
            .fileName = stem + "[1]." + ext,
            .headers = "HTTP/1.1 200 OK\r\nContent-Type: " + std::string(kind.contentType) +
                       "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n~U:user\r\n",
            .directory = uint8_t(pick(kDirectories)),
            .size = std::nullopt,
            .body = options.bodies ? body : std::string(),
            .lastModified = FileTimeFromUnix(modified),
            .lastAccess = FileTimeFromUnix(accessed),
            .expires = pick(4) == 0 ? 0 : FatExpiryFromUnix(accessed + int64_t(pick(60 * 86400))),
        };
        if (!options.bodies)
            e.size = uint32_t(body.size());
        // Deleted entries: the record left in blocks now free, every third
        // one cut short by the record written after it.
        const int deletedEvery = options.deleted > 0 ? std::max(1, options.entries / options.deleted) : 0;
        if (deletedEvery && i % deletedEvery == deletedEvery / 2 && i + 1 < options.entries) {
            if ((i / deletedEvery) % 3 == 2) {
                // Headers long enough for a record of four blocks, of
                // which the first two (with the URL and file name) stand.
                e.headers.insert(e.headers.find("\r\n\r\n") + 2, "X-Cache-Padding: " + std::string(200, 'p') + "\r\n");
                w.addCutStaleUrl(std::move(e), 2);
            }
            else if ((i / deletedEvery) % 5 == 4)
                w.addStaleLeak(std::move(e));
            else
                w.addStaleUrl(std::move(e));
        } else if (i % 97 == 50)
            w.addLeak(std::move(e));
        else
            w.addUrl(std::move(e));
        // Now and then a block Internet Explorer freed, left as it was.
        if (i % 100 == 99)
            w.addStrayBlock(pick(2) ? IndexDatWriter::Stray::BadFood : IndexDatWriter::Stray::Garbage);
    }
    return w.writeCache(folder, options.bodies);
}

} // namespace oriel::test
