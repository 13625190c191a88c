#include "support/ChromiumSimpleCacheWriter.h"

#include "support/ChromiumCacheWriter.h"

#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace oriel::test {

namespace {

constexpr uint64_t kInitialMagic = 0xfcfb6d1ba7725c30ull;
constexpr uint64_t kFinalMagic = 0xf4fa6f45970d41d8ull;
constexpr uint64_t kSparseMagic = 0xeb97bf016553676bull;
constexpr uint64_t kIndexMagic = 0x656e74657220796full;

void Append32(std::string& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out += char((v >> (8 * i)) & 0xFF);
}

void Append64(std::string& out, uint64_t v)
{
    Append32(out, uint32_t(v));
    Append32(out, uint32_t(v >> 32));
}

uint32_t Crc(std::string_view bytes)
{
    return uint32_t(crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), uInt(bytes.size())));
}

// A header or EOF record: the magic and three words, padded to 24 bytes
// unless packed.
std::string Record(uint64_t magic, uint32_t a, uint32_t b, uint32_t c, bool packed)
{
    std::string out;
    Append64(out, magic);
    Append32(out, a);
    Append32(out, b);
    Append32(out, c);
    if (!packed)
        Append32(out, 0);
    return out;
}

std::string Header(const ChromiumSimpleCacheWriter::Entry& e, bool packed)
{
    const uint32_t length = e.keyLengthWord.value_or(uint32_t(e.key.size()));
    return Record(kInitialMagic, e.version, length, uint32_t(ChromiumSimpleCacheWriter::EntryHash(e.key)), packed) +
           e.key;
}

void WriteBytes(const fs::path& path, std::string_view bytes)
{
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

} // namespace

ChromiumSimpleCacheWriter::Entry& ChromiumSimpleCacheWriter::Add(std::string key, std::string body, std::string headers)
{
    Entry e;
    e.key = std::move(key);
    e.body = std::move(body);
    e.headers = std::move(headers);
    entries_.push_back(std::move(e));
    return entries_.back();
}

uint64_t ChromiumSimpleCacheWriter::EntryHash(std::string_view key)
{
    uint64_t h = 1469598103934665603ull;
    for (char c : key)
        h = (h ^ uint8_t(c)) * 1099511628211ull;
    return h;
}

std::string ChromiumSimpleCacheWriter::FileName(std::string_view key, char kind)
{
    char name[32];
    std::snprintf(name, sizeof name, "%016llx_%c", static_cast<unsigned long long>(EntryHash(key)), kind);
    return name;
}

std::string ChromiumSimpleCacheWriter::EntryFile(const Entry& e)
{
    const bool packed = e.packedRecords;
    std::string out = Header(e, packed);
    out += e.body;
    out += Record(kFinalMagic, 1, Crc(e.body), 0, packed);
    const std::string info =
        e.headers.empty() ? std::string() : ChromiumResponseInfo(e.headers, ChromeTime(e.responded - 1), ChromeTime(e.responded));
    out += info;
    uint32_t flags = 1;
    if (e.keySha256) {
        flags |= 2;
        // A stand-in for the SHA-256: the entry hash repeated.
        for (int i = 0; i < 4; ++i)
            Append64(out, EntryHash(e.key) + uint64_t(i));
    }
    out += Record(kFinalMagic, flags, Crc(info), e.stream0SizeWord.value_or(uint32_t(info.size())), packed);
    return out;
}

std::string ChromiumSimpleCacheWriter::SparseFile(const Entry& e)
{
    std::string out = Header(e, false);
    for (const auto& [offset, bytes] : e.sparse) {
        Append64(out, kSparseMagic);
        Append64(out, uint64_t(offset));
        Append64(out, uint64_t(bytes.size()));
        Append32(out, Crc(bytes));
        Append32(out, 0);
        out += bytes;
    }
    return out;
}

std::string ChromiumSimpleCacheWriter::MarkerFile(uint32_t version)
{
    std::string out;
    Append64(out, kIndexMagic);
    Append32(out, version);
    Append32(out, 0);
    Append32(out, 0);
    Append32(out, 0);
    return out;
}

std::string ChromiumSimpleCacheWriter::IndexFile() const
{
    std::string payload;
    uint64_t count = 0;
    uint64_t total = 0;
    std::string records;
    for (const Entry& e : entries_) {
        if (!e.indexed)
            continue;
        ++count;
        const uint64_t size = e.key.size() + e.body.size() + e.headers.size() + 128;
        total += size;
        Append64(records, EntryHash(e.key));
        Append64(records, ChromeTime(e.lastUsed));
        Append64(records, indexVersion >= 8 ? ((size + 255) / 256) << 8 : size);
    }
    Append64(payload, kIndexMagic);
    Append32(payload, indexVersion);
    Append64(payload, announcedCount.value_or(count));
    Append64(payload, total);
    if (indexVersion >= 7)
        Append32(payload, 1); // the write reason
    payload += records;
    Append64(payload, ChromeTime(1700001000)); // the folder's modification time
    std::string out;
    Append32(out, uint32_t(payload.size()));
    Append32(out, Crc(payload));
    return out + payload;
}

std::vector<std::pair<std::string, std::string>> ChromiumSimpleCacheWriter::Build() const
{
    std::vector<std::pair<std::string, std::string>> files;
    if (writeMarker)
        files.emplace_back("index", MarkerFile(indexVersion));
    if (writeIndex)
        files.emplace_back("index-dir/the-real-index", IndexFile());
    for (const Entry& e : entries_) {
        if (e.entryFile)
            files.emplace_back(FileName(e.key, '0'), EntryFile(e));
        if (!e.sparse.empty())
            files.emplace_back(FileName(e.key, 's'), SparseFile(e));
    }
    return files;
}

void ChromiumSimpleCacheWriter::Write(const std::string& dir) const
{
    fs::create_directories(dir);
    for (const auto& [name, bytes] : Build())
        WriteBytes(fs::path(dir) / name, bytes);
}

std::string WriteSyntheticChromiumSimpleCache(const std::string& folder, const SynthOptions& options)
{
    ChromiumSimpleCacheWriter w;
    for (int i = 0; i < options.entries; ++i) {
        if (i == 7) {
            // A media entry fetched in ranges: an empty body, sparse data.
            auto& media = w.Add("https://media.example.com/clip.webm", std::string(),
                                "HTTP/1.1 206 Partial Content\nContent-Type: video/webm");
            media.sparse = {{0, std::string(4096, 'v')}, {1 << 20, std::string(1024, 'w')}};
            continue;
        }
        ChromiumSynthEntry synth = SyntheticChromiumEntry(i, options);
        auto& e = w.Add(std::move(synth.key), std::move(synth.body), std::move(synth.headers));
        e.responded = synth.responded;
        e.lastUsed = synth.responded + 30;
        e.indexed = i % 20 != 19;
        e.keySha256 = i % 3 != 2;
    }
    w.Write(folder);
    return (fs::path(folder) / "index-dir" / "the-real-index").string();
}

} // namespace oriel::test
