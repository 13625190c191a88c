#include "support/FirefoxCache2Writer.h"

#include "support/DemoImages.h"
#include "support/MozillaCacheWriter.h"

#include <algorithm>
#include <stdexcept>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace oriel::test {

namespace {

void PutBE32(std::string& out, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out += char((v >> shift) & 0xFF);
}

void PutBE16(std::string& out, uint16_t v)
{
    out += char(v >> 8);
    out += char(v & 0xFF);
}

} // namespace

FirefoxCache2Writer::Entry& FirefoxCache2Writer::Add(const std::string& url, std::string body,
                                                     const std::string& contentType,
                                                     const std::string& contentEncoding)
{
    Entry& e = entries_.emplace_back();
    e.url = url;
    e.responseHead = "HTTP/1.1 200 OK\r\n";
    if (!contentType.empty())
        e.responseHead += "Content-Type: " + contentType + "\r\n";
    if (!contentEncoding.empty())
        e.responseHead += "Content-Encoding: " + contentEncoding + "\r\n";
    e.responseHead += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    e.body = std::move(body);
    return e;
}

FirefoxCache2Writer& FirefoxCache2Writer::SetIndex(bool write, uint32_t version)
{
    writeIndex_ = write;
    indexVersion_ = version;
    return *this;
}

FirefoxCache2Writer& FirefoxCache2Writer::SetIndexDirty(bool dirty)
{
    indexDirty_ = dirty;
    return *this;
}

std::array<uint8_t, 20> FirefoxCache2Writer::KeyHash(std::string_view key)
{
    // FNV-1a, restarted with a different seed for each word: any 20 bytes
    // do, as long as different keys give different names.
    std::array<uint8_t, 20> hash{};
    for (size_t word = 0; word < 5; ++word) {
        uint32_t h = 2166136261u ^ uint32_t(word * 0x9E3779B9u);
        for (char c : key)
            h = (h ^ uint8_t(c)) * 16777619u;
        for (size_t b = 0; b < 4; ++b)
            hash[word * 4 + b] = uint8_t(h >> (24 - 8 * b));
    }
    return hash;
}

std::string FirefoxCache2Writer::HashName(const std::array<uint8_t, 20>& hash)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string name;
    for (uint8_t b : hash) {
        name += kHex[b >> 4];
        name += kHex[b & 0xF];
    }
    return name;
}

std::string FirefoxCache2Writer::FileNameOf(size_t i) const
{
    const Entry& e = entries_[i];
    if (e.doomed)
        return "doomed/" + std::to_string(i);
    return "entries/" + HashName(KeyHash(e.Key()));
}

std::string FirefoxCache2Writer::MetadataBlock(const Entry& e)
{
    if (e.rawMetadata)
        return *e.rawMetadata;
    std::string out;
    PutBE32(out, 0x12345678); // the metadata hash (not checked by readers)
    const uint64_t chunks = (e.body.size() + 262143) / 262144;
    for (uint64_t c = 0; c < chunks; ++c)
        PutBE16(out, uint16_t(0xC000 + c));
    const std::string key = e.Key();
    PutBE32(out, e.metadataVersion);
    PutBE32(out, e.fetchCount);
    PutBE32(out, e.lastFetched);
    PutBE32(out, e.lastModified);
    PutBE32(out, e.frecency);
    PutBE32(out, e.expiration);
    PutBE32(out, e.keySizeWord.value_or(uint32_t(key.size())));
    if (e.metadataVersion >= 2)
        PutBE32(out, e.flags);
    out += key;
    out += '\0';
    auto element = [&out](const std::string& name, const std::string& value) {
        out += name;
        out += '\0';
        out += value;
        out += '\0';
    };
    for (const auto& [name, value] : e.elements)
        element(name, value);
    if (!e.responseHead.empty())
        element("response-head", e.responseHead);
    if (e.securityInfo)
        element("security-info", "FnhllAKWRHGAlo+ESXykKAAAAAAAAAAAwAAAAAAAAEaphjojH6pBabDSgSnsfLHeAAAAAgAAAAAAAAAAAAAAAAAAAAEAOQFmCjImkVxP+7sgiYWmMt8F");
    element("net-response-time-onstart", "12");
    return out;
}

std::string FirefoxCache2Writer::EntryFile(const Entry& e)
{
    std::string out = e.body;
    out += MetadataBlock(e);
    PutBE32(out, e.offsetWord.value_or(uint32_t(e.body.size())));
    return out;
}

std::string FirefoxCache2Writer::IndexFile() const
{
    std::string out;
    const uint32_t v = indexVersion_;
    PutBE32(out, v);
    PutBE32(out, 1700000100);
    PutBE32(out, indexDirty_ ? 1 : 0);
    if (v >= 6)
        PutBE32(out, 1234); // kilobytes written
    for (const Entry& e : entries_) {
        if (e.doomed || !e.indexed)
            continue;
        for (uint8_t b : KeyHash(e.Key()))
            out += char(b);
        PutBE32(out, e.indexFrecency);
        if (v <= 3) {
            PutBE32(out, e.expiration);
            PutBE32(out, 0); // app id
        } else {
            PutBE32(out, 0xA1B2C3D4); // origin-attributes hash
            PutBE32(out, 0x01020304);
            if (v <= 7)
                PutBE32(out, e.expiration);
            if (v >= 5) {
                PutBE16(out, 10); // on-start time
                PutBE16(out, 20); // on-stop time
            }
            if (v >= 9)
                out += char(3); // content type: image
        }
        PutBE32(out, e.indexFlags | uint32_t((e.body.size() + 1023) / 1024));
    }
    PutBE32(out, 0x0BADF00D); // the trailing hash
    return out;
}

std::vector<std::pair<std::string, std::string>> FirefoxCache2Writer::Build() const
{
    std::vector<std::pair<std::string, std::string>> files;
    for (size_t i = 0; i < entries_.size(); ++i)
        files.emplace_back(FileNameOf(i), EntryFile(entries_[i]));
    if (writeIndex_)
        files.emplace_back("index", IndexFile());
    return files;
}

bool FirefoxCache2Writer::Write(const std::string& dir) const
{
    std::error_code ec;
    fs::create_directories(fs::path(dir) / "entries", ec);
    fs::create_directories(fs::path(dir) / "doomed", ec);
    for (const auto& [name, bytes] : Build()) {
        std::ofstream out(fs::path(dir) / name, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), std::streamsize(bytes.size()));
        if (!out)
            return false;
    }
    return true;
}

FirefoxCache2Writer SyntheticFirefoxCache2(const std::string& host, int entries, uint32_t seed, bool bodies)
{
    FirefoxCache2Writer w;
    uint32_t state = seed ? seed : 1;
    const int count = std::max(1, entries);
    for (int i = 0; i < count; ++i) {
        state = state * 1103515245u + 12345u;
        const std::string base = "https://" + host + "/assets/" + std::to_string(i);
        FirefoxCache2Writer::Entry* e = nullptr;
        switch (i % 5) {
        case 0:
            e = &w.Add(base + ".png", bodies ? MakePatternPng(16 + state % 48, 16 + state % 32, state >> 8) : "",
                       "image/png");
            break;
        case 1:
            e = &w.Add(base + ".gif", bodies ? MakePatternGif(uint16_t(12 + state % 40), 24, state >> 8) : "",
                       "image/gif");
            break;
        case 2:
            e = &w.Add(base + ".jpg", bodies ? MakeMosaicJpeg(uint16_t(2 + state % 4), 3, state >> 8) : "",
                       "image/jpeg");
            break;
        default: {
            std::string html = "<html><body><h1>page " + std::to_string(i) + "</h1></body></html>";
            if (bodies)
                html += std::string(size_t(state % 3000), ' ');
            else
                html.clear();
            if (i % 5 == 3)
                e = &w.Add("https://" + host + "/page" + std::to_string(i) + ".html", bodies ? GzipBytes(html) : "",
                           "text/html", "gzip");
            else
                e = &w.Add("https://" + host + "/page" + std::to_string(i) + ".html?q=" + std::to_string(state % 97),
                           html, "text/html; charset=utf-8");
            break;
        }
        }
        e->metadataVersion = 1 + uint32_t(i % 3);
        e->tags = i % 7 == 6 ? "O^partitionKey=%28https%2C" + host + "%29,a," : i % 11 == 10 ? "~1677526967,a," : "a,";
        e->lastFetched = 1650000000 + uint32_t(i) * 60;
        e->lastModified = 1640000000 + state % 1000000;
        e->expiration = i % 4 == 0 ? 0xFFFFFFFFu : 1660000000 + uint32_t(i);
        e->fetchCount = 1 + state % 9;
        e->indexFrecency = state % 100000;
    }
    if (count >= 3) {
        w.Entries()[size_t(count - 1)].doomed = true;
        w.Entries()[size_t(count - 2)].indexed = false;
    }
    return w;
}

std::string WriteSyntheticFirefoxCache2Cache(const std::string& folder, const SynthOptions& options)
{
    FirefoxCache2Writer w = SyntheticFirefoxCache2("www.cache2.example", options.entries, options.seed, options.bodies);
    if (!w.Write(folder))
        throw std::runtime_error("cannot write the cache2 folder " + folder);
    return folder + "/index";
}

} // namespace oriel::test
