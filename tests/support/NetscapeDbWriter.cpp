#include "support/NetscapeDbWriter.h"

#include "support/DemoImages.h"
#include "support/TestEnvironment.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string_view>

namespace oriel::test {

namespace {

void AppendLE32(std::string& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out += char((v >> (8 * i)) & 0xFF);
}

void AppendBE32(std::string& out, uint32_t v)
{
    for (int i = 3; i >= 0; --i)
        out += char((v >> (8 * i)) & 0xFF);
}

void PutLE16(std::string& bytes, size_t at, uint16_t v)
{
    bytes[at] = char(v & 0xFF);
    bytes[at + 1] = char(v >> 8);
}

void PutBE32(std::string& bytes, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + size_t(i)] = char((v >> (8 * (3 - i))) & 0xFF);
}

void PatchLE32(std::string& bytes, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + size_t(i)] = char((v >> (8 * i)) & 0xFF);
}

uint32_t Fnv(const std::string& text)
{
    uint32_t h = 2166136261u;
    for (unsigned char c : text)
        h = (h ^ c) * 16777619u;
    // A key that starts with "SE" is the database's own: never derive one.
    if ((h & 0xFFFF) == 0x4553)
        h ^= 1;
    return h;
}

// A tiny generator, so that the same seed gives the same files everywhere.
struct Random {
    uint32_t state;
    uint32_t next()
    {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    }
};

const char* const kHosts[] = {"www.example.com", "images.example.net", "news.example.org", "static.example.com"};
const char* const kExtensions[] = {".htm", ".gif", ".jpg", ".css", ".js"};
const char* const kTypes[] = {"text/html", "image/gif", "image/jpeg", "text/css", "application/x-javascript"};

std::string BodyFor(int i, Random& random)
{
    std::string body = "<html><body>synthetic body " + std::to_string(i) + "</body></html>\n";
    body.append(random.next() % 200, char('a' + i % 26));
    return body;
}

// The body of synthetic entry i of type kTypes[kind]: a picture for GIFs
// and JPEGs.
std::string BodyFor(int i, size_t kind, Random& random)
{
    std::string body = BodyFor(i, random);
    if (kTypes[kind] == std::string_view("image/gif"))
        body = MakePatternGif(uint16_t(16 + body.size() % 48), uint16_t(16 + body.size() % 32), uint32_t(i) * 40503u);
    else if (kTypes[kind] == std::string_view("image/jpeg"))
        body = MakeMosaicJpeg(uint16_t(4 + body.size() % 12), uint16_t(3 + body.size() % 9), uint32_t(i) * 2246822519u);
    return body;
}

} // namespace

NetscapeDbWriter::NetscapeDbWriter(Kind kind)
    : kind_(kind)
{
}

NetscapeDbWriter& NetscapeDbWriter::setPageSize(uint32_t size)
{
    pageSize_ = size;
    return *this;
}

NetscapeDbWriter& NetscapeDbWriter::setKeyCount(uint32_t count)
{
    keyCount_ = count;
    return *this;
}

NetscapeDbWriter& NetscapeDbWriter::setPairsPerPage(size_t pairs)
{
    pairsPerPage_ = pairs;
    return *this;
}

std::string NetscapeDbWriter::Text(const std::string& text)
{
    std::string out;
    AppendLE32(out, uint32_t(text.size() + 1));
    out += text;
    out += '\0';
    return out;
}

std::string NetscapeDbWriter::CacheDbKey(const CacheDbEntry& entry)
{
    std::string key;
    AppendLE32(key, entry.check ? entry.check : Fnv(entry.url));
    key += entry.url;
    key += '\0';
    return key;
}

std::string NetscapeDbWriter::CacheDbData(const CacheDbEntry& entry)
{
    // The object description: big-endian, one unused byte, the named values
    // up to an empty name, 15 unused bytes, then the three times.
    std::string desc(1, '\x01');
    auto value = [&desc](const std::string& name, const std::string& text) {
        desc += name;
        desc += '\0';
        AppendBE32(desc, uint32_t(text.size() + 1));
        desc += text;
        desc += '\0';
    };
    for (const auto& [name, text] : entry.values)
        value(name, text);
    if (!entry.headers.empty())
        value("HTTP headers", entry.headers);
    desc += '\0';
    desc.append(15, '\0');
    AppendBE32(desc, uint32_t(entry.downloaded));
    AppendBE32(desc, uint32_t(entry.lastModified));
    AppendBE32(desc, uint32_t(entry.expires));

    std::string data;
    AppendLE32(data, 0); // record length, below
    AppendLE32(data, entry.dataCheck.value_or(entry.check ? entry.check : Fnv(entry.url)));
    data += Text(entry.url);
    AppendLE32(data, uint32_t(desc.size()));
    data += desc;
    data += Text(entry.bodyPath);
    PatchLE32(data, 0, entry.recordLength.value_or(uint32_t(data.size())));
    return data;
}

std::string NetscapeDbWriter::FatDbKey(const FatDbEntry& entry)
{
    std::string key;
    AppendLE32(key, 0);
    key += Text(entry.url);
    PatchLE32(key, 0, uint32_t(key.size()));
    return key;
}

std::string NetscapeDbWriter::FatDbData(const FatDbEntry& entry)
{
    std::string data;
    AppendLE32(data, 0); // record length, below
    AppendLE32(data, entry.version);
    AppendLE32(data, uint32_t(entry.lastModified));
    AppendLE32(data, uint32_t(entry.downloaded));
    AppendLE32(data, uint32_t(entry.expires));
    AppendLE32(data, entry.size);
    data += '\0';
    AppendLE32(data, 0);
    data += Text(entry.cacheName);
    if (entry.version == 5) {
        data.append(5, '\0');
        AppendLE32(data, 7);
        data += Text("iso-8859-1");
        AppendLE32(data, 9);
        data += Text("Mozilla/4.0");
    } else {
        AppendLE32(data, 0);
        data += char(entry.variant);
        switch (entry.variant) {
        case 0:
            data.append(24, '\x11');
            break;
        case 1:
            data.append(20, '\x22');
            AppendLE32(data, entry.variantWord);
            if (entry.variantWord > 0)
                data += Text("charset=iso-8859-1");
            else
                AppendLE32(data, 0);
            break;
        case 2:
            AppendLE32(data, 1);
            AppendLE32(data, 2);
            data += Text("first");
            data += Text("second");
            AppendLE32(data, 3);
            AppendLE32(data, 4);
            break;
        default:
            break;
        }
    }
    data += Text(entry.contentType);
    PatchLE32(data, 0, entry.recordLength.value_or(uint32_t(data.size())));
    return data;
}

size_t NetscapeDbWriter::addCacheEntry(CacheDbEntry entry)
{
    return addRawPair(CacheDbKey(entry), CacheDbData(entry));
}

size_t NetscapeDbWriter::addFatEntry(FatDbEntry entry)
{
    return addRawPair(FatDbKey(entry), FatDbData(entry));
}

size_t NetscapeDbWriter::addRawPair(std::string key, std::string data)
{
    items_.push_back({std::move(key), std::move(data), false, std::nullopt});
    pairItems_.push_back(items_.size() - 1);
    return pairItems_.size() - 1;
}

NetscapeDbWriter& NetscapeDbWriter::endPage()
{
    items_.push_back({{}, {}, true, std::nullopt});
    return *this;
}

NetscapeDbWriter& NetscapeDbWriter::addRawPage(std::string bytes)
{
    items_.push_back({{}, {}, false, std::move(bytes)});
    return *this;
}

std::string NetscapeDbWriter::build()
{
    std::string file(pageSize_, '\0');
    // Page 0: the hash file header (magic, version, byte order), page size
    // and key count, big-endian.
    PutBE32(file, 0, 0x00061561);
    PutBE32(file, 4, 2);
    PutBE32(file, 8, 4321);
    PutBE32(file, 12, pageSize_);
    PutBE32(file, 56, keyCount_.value_or(uint32_t(pairItems_.size())));

    placements_.assign(pairItems_.size(), {});
    std::vector<size_t> onPage; // items_ indexes of the current page's pairs
    size_t used = 0;
    uint32_t pageNumber = 1;
    std::vector<size_t> itemToPair(items_.size(), SIZE_MAX);
    for (size_t p = 0; p < pairItems_.size(); ++p)
        itemToPair[pairItems_[p]] = p;

    auto flush = [&] {
        if (onPage.empty())
            return;
        std::string page(pageSize_, '\0');
        PutLE16(page, 0, uint16_t(2 * onPage.size()));
        size_t top = pageSize_;
        for (size_t i = 0; i < onPage.size(); ++i) {
            const Item& item = items_[onPage[i]];
            const size_t keyOffset = top - item.key.size();
            const size_t dataOffset = keyOffset - item.data.size();
            page.replace(keyOffset, item.key.size(), item.key);
            page.replace(dataOffset, item.data.size(), item.data);
            PutLE16(page, 2 + 4 * i, uint16_t(keyOffset));
            PutLE16(page, 4 + 4 * i, uint16_t(dataOffset));
            placements_[itemToPair[onPage[i]]] = {pageNumber, uint16_t(keyOffset), uint16_t(dataOffset)};
            top = dataOffset;
        }
        file += page;
        ++pageNumber;
        onPage.clear();
        used = 0;
    };

    for (size_t i = 0; i < items_.size(); ++i) {
        const Item& item = items_[i];
        if (item.pageBreak) {
            flush();
            continue;
        }
        if (item.rawPage) {
            flush();
            std::string page = *item.rawPage;
            page.resize(pageSize_, '\0');
            file += page;
            ++pageNumber;
            continue;
        }
        const size_t need = item.key.size() + item.data.size();
        if (2 + 4 + need > pageSize_)
            throw std::runtime_error("a pair larger than a page");
        const bool full = pairsPerPage_ > 0 && onPage.size() >= pairsPerPage_;
        if (full || 2 + 4 * (onPage.size() + 1) + used + need > pageSize_)
            flush();
        onPage.push_back(i);
        used += need;
    }
    flush();
    return file;
}

std::string NetscapeDbWriter::write(const std::string& folder)
{
    std::string path = folder + "/" + fileName();
    WriteFile(path, build());
    return path;
}

std::string WriteSyntheticCacheDbCache(const std::string& folder, const SynthOptions& options,
                                       const std::string& storedFolder)
{
    std::filesystem::create_directories(folder);
    Random random{options.seed};
    NetscapeDbWriter w(NetscapeDbWriter::Kind::CacheDb);
    for (int i = 0; i < options.entries; ++i) {
        const size_t kind = random.next() % 5;
        char name[32];
        std::snprintf(name, sizeof name, "M%07X%s", unsigned(i), kExtensions[kind]);
        CacheDbEntry e;
        e.url = std::string("http://") + kHosts[random.next() % 4] + "/page" + std::to_string(i) + kExtensions[kind];
        e.bodyPath = storedFolder + "\\" + name;
        e.headers = std::string("HTTP/1.0 200 OK\r\nContent-Type: ") + kTypes[kind] + "\r\nServer: synth\r\n\r\n";
        e.downloaded = int32_t(1000000000 + i * 60);
        e.lastModified = int32_t(990000000 + i * 60);
        e.expires = int32_t(1010000000 + i * 60);
        w.addCacheEntry(e);
        if (options.bodies)
            WriteFile(folder + "/" + name, BodyFor(i, kind, random));
    }
    return w.write(folder);
}

std::string WriteSyntheticFatDbCache(const std::string& folder, const SynthOptions& options)
{
    std::filesystem::create_directories(folder);
    Random random{options.seed};
    NetscapeDbWriter w(NetscapeDbWriter::Kind::FatDb);
    for (int i = 0; i < options.entries; ++i) {
        const size_t kind = random.next() % 5;
        char name[32];
        std::snprintf(name, sizeof name, "M%07X%s", unsigned(i), kExtensions[kind]);
        FatDbEntry e;
        e.url = std::string("http://") + kHosts[random.next() % 4] + "/page" + std::to_string(i) + kExtensions[kind];
        e.cacheName = name;
        e.contentType = kTypes[kind];
        e.version = i % 4 == 3 ? 5 : 4;
        e.variant = uint8_t(i % 3);
        e.lastModified = int32_t(990000000 + i * 60);
        e.downloaded = int32_t(1000000000 + i * 60);
        e.expires = int32_t(1010000000 + i * 60);
        std::string body = BodyFor(i, kind, random);
        e.size = uint32_t(body.size());
        w.addFatEntry(e);
        if (options.bodies)
            WriteFile(folder + "/" + name, body);
    }
    return w.write(folder);
}

} // namespace oriel::test
