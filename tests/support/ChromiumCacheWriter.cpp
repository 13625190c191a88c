#include "support/ChromiumCacheWriter.h"

#include "support/DemoImages.h"
#include "support/MozillaCacheWriter.h"

#include <brotli/encode.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace oriel::test {

namespace {

void Put32(std::string& out, size_t at, uint32_t v)
{
    if (out.size() < at + 4)
        out.resize(at + 4, '\0');
    for (int i = 0; i < 4; ++i)
        out[at + size_t(i)] = char((v >> (8 * i)) & 0xFF);
}

void Put64(std::string& out, size_t at, uint64_t v)
{
    Put32(out, at, uint32_t(v));
    Put32(out, at + 4, uint32_t(v >> 32));
}

void Append32(std::string& out, uint32_t v) { Put32(out, out.size(), v); }
void Append64(std::string& out, uint64_t v) { Put64(out, out.size(), v); }

void WriteFile(const fs::path& path, std::string_view bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

constexpr uint32_t kBlockHeader = 8192;
// The allocation bitmap's 2028 words, a bit a block.
constexpr uint32_t kMaxBlocks = 2028 * 32;

// The block files of a cache being written: each type of block fills its
// own files; a full file (64896 blocks, as many as the header's bitmap
// covers) goes on in a new one.
class BlockFiles {
public:
    BlockFiles()
    {
        // data_0 rankings, data_1 256-byte, data_2 1 KiB, data_3 4 KiB blocks.
        for (uint32_t type = 1; type <= 4; ++type)
            current_[type] = NewFile(type);
    }

    // Puts `bytes` in a run of up to four blocks of `type`; the address.
    uint32_t Store(uint32_t type, std::string_view bytes, uint32_t minBlocks = 1)
    {
        const uint32_t size = BlockSizeOf(type);
        uint32_t count = std::max<uint32_t>(minBlocks, uint32_t((bytes.size() + size - 1) / size));
        if (count == 0)
            count = 1;
        if (count > 4)
            throw std::runtime_error("run too long");
        File* file = &files_[current_[type]];
        // A run never crosses a group of four blocks.
        if (file->used % 4 + count > 4)
            file->used += 4 - file->used % 4;
        if (file->used + count > kMaxBlocks) {
            uint32_t next = NewFile(type);
            files_[current_[type]].next = next;
            current_[type] = next;
            file = &files_[next];
        }
        const uint32_t start = file->used;
        file->used += count;
        const uint32_t address = 0x80000000u | (type << 28) | ((count - 1) << 24) | (file->number << 16) | start;
        StoreAt(address, bytes);
        return address;
    }

    // Puts `bytes` at `address` (a run that is free) and marks it used.
    void StoreAt(uint32_t address, std::string_view bytes)
    {
        File& file = files_[(address >> 16) & 0xFF];
        const uint32_t size = BlockSizeOf(file.type);
        const uint32_t count = ((address >> 24) & 3) + 1;
        const uint32_t start = address & 0xFFFF;
        if (bytes.size() > size_t(count) * size)
            throw std::runtime_error("bytes longer than the run");
        std::string& data = file.bytes;
        const size_t at = kBlockHeader + size_t(start) * size;
        if (data.size() < at + size_t(count) * size)
            data.resize(at + size_t(count) * size, '\0');
        data.replace(at, bytes.size(), bytes);
        file.entries += 1;
        SetBits(file, start, count, true);
    }

    // Marks the run at `address` free in its file's bitmap; its bytes stay.
    void Free(uint32_t address)
    {
        File& file = files_[(address >> 16) & 0xFF];
        file.entries -= 1;
        SetBits(file, address & 0xFFFF, ((address >> 24) & 3) + 1, false);
    }

    // Where the record at `address` lies, for writing into it later.
    char* At(uint32_t address)
    {
        File& file = files_[(address >> 16) & 0xFF];
        return file.bytes.data() + kBlockHeader + size_t(address & 0xFFFF) * BlockSizeOf((address >> 28) & 7);
    }

    void Write(const fs::path& dir, uint32_t version)
    {
        for (File& file : files_) {
            Put32(file.bytes, 0, 0xC104CAC3u);
            Put32(file.bytes, 4, version);
            file.bytes[8] = char(file.number & 0xFF);
            file.bytes[9] = char(file.number >> 8);
            file.bytes[10] = char(file.next & 0xFF);
            file.bytes[11] = char(file.next >> 8);
            Put32(file.bytes, 12, BlockSizeOf(file.type));
            Put32(file.bytes, 16, file.entries);
            Put32(file.bytes, 20, kMaxBlocks);
            WriteFile(dir / ("data_" + std::to_string(file.number)), file.bytes);
        }
    }

    static uint32_t BlockSizeOf(uint32_t type)
    {
        static constexpr uint32_t kSizes[8] = {0, 36, 256, 1024, 4096, 8, 104, 48};
        return kSizes[type & 7];
    }

private:
    struct File {
        uint32_t number = 0;
        uint32_t type = 0;
        uint32_t used = 0;
        uint32_t entries = 0;
        uint32_t next = 0;
        std::string bytes;
    };

    // The allocation bitmap at header offset 80: bit n % 32 of word n / 32
    // for block n.
    static void SetBits(File& file, uint32_t start, uint32_t count, bool used)
    {
        for (uint32_t b = start; b < start + count; ++b) {
            const size_t byte = 80 + b / 8;
            if (byte >= kBlockHeader)
                throw std::runtime_error("block past the bitmap");
            const char bit = char(1 << (b % 8));
            file.bytes[byte] = used ? char(file.bytes[byte] | bit) : char(file.bytes[byte] & ~bit);
        }
    }

    uint32_t NewFile(uint32_t type)
    {
        File file;
        file.number = uint32_t(files_.size());
        file.type = type;
        file.bytes.assign(kBlockHeader, '\0');
        files_.push_back(std::move(file));
        return files_.back().number;
    }

    std::vector<File> files_;
    uint32_t current_[8] = {};
};

} // namespace

uint32_t ChromiumKeyHash(std::string_view key)
{
    // Paul Hsieh's SuperFastHash: 16-bit little-endian halves, four bytes a
    // round, then the one to three bytes left (a lone last byte and the
    // third of three added as signed chars), then the final mixing.
    const size_t n = key.size();
    if (n == 0)
        return 0;
    auto byte = [&key](size_t i) { return uint32_t(uint8_t(key[i])); };
    auto half = [&byte](size_t i) { return byte(i) + (byte(i + 1) << 8); };
    auto signedByte = [&key](size_t i) { return uint32_t(int64_t(int8_t(key[i])) & 0xFFFFFFFF); };
    uint32_t h = uint32_t(n);
    size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        h += half(i);
        h = (h << 16) ^ (half(i + 2) << 11) ^ h;
        h += h >> 11;
    }
    if (n - i == 3) {
        h += half(i);
        h ^= h << 16;
        h ^= signedByte(i + 2) << 18;
        h += h >> 11;
    } else if (n - i == 2) {
        h += half(i);
        h ^= h << 11;
        h += h >> 17;
    } else if (n - i == 1) {
        h += signedByte(i);
        h ^= h << 10;
        h += h >> 1;
    }
    h ^= h << 3;
    h += h >> 5;
    h ^= h << 4;
    h += h >> 17;
    h ^= h << 25;
    h += h >> 6;
    return h;
}

std::string BrotliBytes(std::string_view data)
{
    std::string out(BrotliEncoderMaxCompressedSize(data.size()) + 16, '\0');
    size_t size = out.size();
    if (!BrotliEncoderCompress(BROTLI_DEFAULT_QUALITY, BROTLI_DEFAULT_WINDOW, BROTLI_MODE_GENERIC, data.size(),
                               reinterpret_cast<const uint8_t*>(data.data()), &size,
                               reinterpret_cast<uint8_t*>(out.data())))
        throw std::runtime_error("brotli encoding failed");
    out.resize(size);
    return out;
}

uint64_t ChromeTime(int64_t unixSeconds)
{
    return uint64_t(unixSeconds + 11644473600LL) * 1000000u;
}

std::string ChromiumResponseInfo(std::string_view headerLines, uint64_t requestTime, uint64_t responseTime)
{
    std::string raw;
    size_t pos = 0;
    while (pos <= headerLines.size()) {
        size_t nl = headerLines.find('\n', pos);
        if (nl == std::string_view::npos)
            nl = headerLines.size();
        raw.append(headerLines.substr(pos, nl - pos));
        raw.push_back('\0');
        pos = nl + 1;
    }
    raw.push_back('\0');
    std::string payload;
    Append32(payload, 3); // the version, no flags
    Append64(payload, requestTime);
    Append64(payload, responseTime);
    Append32(payload, uint32_t(raw.size()));
    payload += raw;
    payload.resize((payload.size() + 3) / 4 * 4, '\0');
    std::string pickle;
    Append32(pickle, uint32_t(payload.size()));
    return pickle + payload;
}

ChromiumBlockfileWriter::Entry& ChromiumBlockfileWriter::Add(std::string key, std::string body, std::string headers)
{
    Entry entry;
    entry.key = std::move(key);
    entry.body = std::move(body);
    entry.headers = std::move(headers);
    entries_.push_back(std::move(entry));
    return entries_.back();
}

std::vector<std::string> ChromiumBlockfileWriter::Write(const std::string& dirName,
                                                       std::vector<uint32_t>* entryAddresses) const
{
    const fs::path dir(dirName);
    fs::create_directories(dir);
    BlockFiles blocks;
    std::vector<uint32_t> table(tableLength, 0);
    std::vector<std::string> separate;
    uint32_t nextExternal = 1;
    int32_t liveCount = 0;
    // A deleted entry's body run that the next live body to fit takes.
    uint32_t takenRun = 0;

    auto typeFor = [](size_t size) -> uint32_t { return size <= 4 * 256 ? 2 : size <= 4 * 1024 ? 3 : size <= 4 * 4096 ? 4 : 0; };
    auto storeStream = [&](std::string_view bytes) -> uint32_t {
        const uint32_t type = typeFor(bytes.size());
        return type ? blocks.Store(type, bytes) : 0;
    };
    auto storeApart = [&](std::string_view bytes) -> uint32_t {
        char name[16];
        std::snprintf(name, sizeof name, "f_%06x", nextExternal);
        WriteFile(dir / name, bytes);
        separate.push_back(name);
        return 0x80000000u | nextExternal++;
    };

    for (const Entry& e : entries_) {
        const uint32_t hash = ChromiumKeyHash(e.key);
        // Every address the entry uses, freed with it when it is deleted.
        std::vector<uint32_t> used;
        std::string record(256, '\0');
        Put32(record, 0, hash);
        Put64(record, 24, ChromeTime(e.created));
        Put32(record, 32, uint32_t(e.key.size()));
        uint32_t blocksNeeded = 1;
        const bool apart = e.keyApart || e.key.size() + 96 + 1 > 4 * 256;
        if (apart) {
            std::string key = e.key + '\0';
            uint32_t address = storeStream(key);
            address = address ? address : storeApart(key);
            used.push_back(address);
            Put32(record, 36, address);
        } else {
            record.resize(96);
            record += e.key;
            record.push_back('\0');
            blocksNeeded = uint32_t((record.size() + 255) / 256);
        }
        if (!e.headers.empty()) {
            std::string info = ChromiumResponseInfo(e.headers, ChromeTime(e.responded - 1), ChromeTime(e.responded));
            Put32(record, 40, uint32_t(info.size()));
            uint32_t address = storeStream(info);
            address = address ? address : storeApart(info);
            used.push_back(address);
            Put32(record, 56, address);
        }
        if (!e.body.empty()) {
            Put32(record, 44, uint32_t(e.body.size()));
            uint32_t address = 0;
            const uint32_t type = typeFor(e.body.size());
            if (!e.deleted && takenRun && !e.bodyApart && type == ((takenRun >> 28) & 7)) {
                const uint32_t count =
                    uint32_t((e.body.size() + BlockFiles::BlockSizeOf(type) - 1) / BlockFiles::BlockSizeOf(type));
                if (count <= ((takenRun >> 24) & 3) + 1) {
                    address = (takenRun & ~(3u << 24)) | ((count - 1) << 24);
                    blocks.StoreAt(address, e.body);
                    takenRun = 0;
                }
            }
            if (!address)
                address = e.bodyApart ? 0 : storeStream(e.body);
            address = address ? address : storeApart(e.body);
            used.push_back(address);
            Put32(record, 60, address);
            if (e.deleted && e.bodyTaken && !e.stillAllocated && (address >> 28 & 7) != 0)
                takenRun = address;
        }
        // The chain: a new live entry goes at the head of its bucket.
        uint32_t& bucket = table[hash & (tableLength - 1)];
        if (!e.deleted)
            Put32(record, 4, bucket);
        const uint32_t entryAddress = blocks.Store(2, record, blocksNeeded);
        used.push_back(entryAddress);
        if (entryAddresses)
            entryAddresses->push_back(entryAddress);

        std::string node(36, '\0');
        Put64(node, 0, ChromeTime(e.modified + 10));
        Put64(node, 8, ChromeTime(e.modified));
        Put32(node, 24, entryAddress);
        const uint32_t nodeAddress = blocks.Store(1, node);
        used.push_back(nodeAddress);
        Put32(record, 8, nodeAddress);
        std::memcpy(blocks.At(entryAddress) + 8, record.data() + 8, 4);
        if (!e.deleted) {
            bucket = entryAddress;
            ++liveCount;
        } else if (!e.stillAllocated) {
            // Freed: the blocks are free again, the separate files gone.
            for (uint32_t address : used) {
                if ((address >> 28 & 7) != 0) {
                    blocks.Free(address);
                } else {
                    char name[16];
                    std::snprintf(name, sizeof name, "f_%06x", address & 0x0FFFFFFF);
                    fs::remove(dir / name);
                    separate.erase(std::remove(separate.begin(), separate.end(), name), separate.end());
                }
            }
        }
    }

    std::string index(368, '\0');
    Put32(index, 0, 0xC103CAC3u);
    Put32(index, 4, version);
    Put32(index, 8, uint32_t(announcedCount ? announcedCount : liveCount));
    Put32(index, 16, nextExternal - 1);
    Put32(index, 28, tableLength);
    for (uint32_t v : table)
        Append32(index, v);
    WriteFile(dir / "index", index);
    blocks.Write(dir, version >= 0x30000 ? 0x30000 : 0x20000);
    return separate;
}

ChromiumSynthEntry SyntheticChromiumEntry(int i, const SynthOptions& options)
{
    const char* hosts[] = {"www.example.com", "cdn.example.net", "static.example.org", "news.example.com"};
    const std::string host = hosts[uint32_t(i) % 4];
    const uint32_t seed = options.seed * 7919u + uint32_t(i);
    ChromiumSynthEntry e;
    switch (i % 6) {
    case 0:
        e.key = "https://" + host + "/img/photo" + std::to_string(i) + ".png";
        e.body = MakePatternPng(96, 64, seed);
        e.headers = "HTTP/1.1 200 OK\nContent-Type: image/png";
        break;
    case 1:
        e.key = "https://" + host + "/img/icon" + std::to_string(i) + ".gif";
        e.body = MakePatternGif(32, 32, seed);
        e.headers = "HTTP/1.1 200 OK\nContent-Type: image/gif";
        break;
    case 2:
        e.key = "https://" + host + "/img/tile" + std::to_string(i) + ".jpg";
        e.body = MakeMosaicJpeg(8, 6, seed);
        e.headers = "HTTP/1.1 200 OK\nContent-Type: image/jpeg";
        break;
    case 3: {
        std::string page = "<html><body><h1>Page " + std::to_string(i) + "</h1></body></html>";
        e.key = "https://" + host + "/articles/" + std::to_string(i) + ".html";
        e.body = GzipBytes(page);
        e.headers = "HTTP/1.1 200 OK\nContent-Type: text/html; charset=utf-8\nContent-Encoding: gzip";
        break;
    }
    case 4: {
        std::string script = "console.log(" + std::to_string(i) + ");\n";
        e.key = "https://" + host + "/js/app" + std::to_string(i) + ".js";
        e.body = BrotliBytes(script);
        e.headers = "HTTP/1.1 200 OK\nContent-Type: application/javascript\nContent-Encoding: br";
        break;
    }
    default:
        e.key = "1/0/_dk_https://example.com https://example.com https://ads.example.org/px" + std::to_string(i) +
                ".gif";
        e.body = MakePatternGif(1, 1, seed);
        e.headers = "HTTP/1.1 200 OK\nContent-Type: image/gif";
        break;
    }
    if (!options.bodies)
        e.body.clear();
    e.responded = 1700000000 + int64_t(i) * 60;
    return e;
}

std::string WriteSyntheticChromiumCache(const std::string& folder, const SynthOptions& options)
{
    ChromiumBlockfileWriter w;
    w.tableLength = 0x10000;
    for (int i = 0; i < options.entries; ++i) {
        ChromiumSynthEntry synth = SyntheticChromiumEntry(i, options);
        auto& e = w.Add(std::move(synth.key), std::move(synth.body), std::move(synth.headers));
        e.bodyApart = i % 10 == 0;
        e.responded = synth.responded;
        e.created = e.responded - 5;
        e.modified = e.responded + 30;
        // Deleted entries: freed, every third one only unlinked, and every
        // fourth one's body blocks taken by a later entry's body.
        const int deletedEvery = options.deleted > 0 ? std::max(1, options.entries / options.deleted) : 0;
        if (deletedEvery && i % deletedEvery == deletedEvery / 2) {
            e.deleted = true;
            e.stillAllocated = (i / deletedEvery) % 3 == 2;
            e.bodyTaken = (i / deletedEvery) % 4 == 1;
        }
    }
    w.Write(folder);
    return (fs::path(folder) / "index").string();
}

} // namespace oriel::test
