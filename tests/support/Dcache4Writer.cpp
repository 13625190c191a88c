#include "support/Dcache4Writer.h"

#include "support/DemoImages.h"
#include "support/MozillaCacheWriter.h"
#include "support/TestEnvironment.h"

#include <cstdio>
#include <filesystem>
#include <stdexcept>

namespace oriel::test {

namespace {

enum : uint8_t {
    kTagUrl = 3,
    kTagDownloaded = 5,
    kTagSize = 8,
    kTagContentType = 9,
    kTagCacheName = 13,
    kTagNested = 16,
    kTagExpires = 22,
    kTagLastModifiedText = 23,
    kTagContentEncoding = 32,
    kTagEmbeddedBody = 0x50,
    kTagContainerObject = 0x51,
};

std::string BE16(uint16_t v)
{
    return {char(v >> 8), char(v & 0xFF)};
}

struct Random {
    uint32_t state;
    uint32_t next()
    {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    }
};

} // namespace

std::string Dcache4Writer::U32(uint32_t v)
{
    return {char(v >> 24), char((v >> 16) & 0xFF), char((v >> 8) & 0xFF), char(v & 0xFF)};
}

std::string Dcache4Writer::U64(uint64_t v)
{
    return U32(uint32_t(v >> 32)) + U32(uint32_t(v));
}

std::string Dcache4Writer::Field(uint8_t tag, std::string_view payload)
{
    if (payload.size() > 0xFFFF)
        throw std::runtime_error("an Opera field longer than 65535 bytes");
    return char(tag) + BE16(uint16_t(payload.size())) + std::string(payload);
}

std::string Dcache4Writer::RecordBody(const OperaEntry& e)
{
    std::string outer = Field(kTagUrl, e.url);
    for (uint8_t flag : e.flags)
        outer += Flag(flag);
    if (e.cacheName)
        outer += Field(kTagCacheName, *e.cacheName);
    if (e.contentType)
        outer += Field(kTagContentType, *e.contentType);
    if (e.lastModifiedText)
        outer += Field(kTagLastModifiedText, *e.lastModifiedText);

    std::string inner;
    auto time = [&](uint8_t tag, std::optional<uint32_t> value) {
        if (value)
            inner += Field(tag, e.wideTimes ? U64(*value) : U32(*value));
    };
    time(kTagDownloaded, e.downloaded);
    time(kTagExpires, e.expires);
    if (e.size)
        inner += Field(kTagSize, e.wideSize ? U32(e.sizeHighWord) + U32(*e.size) : U32(*e.size));
    if (e.encoding)
        inner += Field(kTagContentEncoding, *e.encoding);
    outer += e.nested ? Field(kTagNested, inner) : inner;
    if (e.embeddedBody)
        outer += Field(kTagEmbeddedBody, *e.embeddedBody);
    if (e.containerObject)
        outer += Field(kTagContainerObject, std::string(1, char(*e.containerObject)));
    return outer;
}

size_t Dcache4Writer::addEntry(const OperaEntry& entry)
{
    return addRawRecord(1, RecordBody(entry));
}

size_t Dcache4Writer::addRawRecord(uint8_t tag, std::string body)
{
    if (body.size() > 0xFFFF)
        throw std::runtime_error("an Opera record longer than 65535 bytes");
    records_.emplace_back(tag, std::move(body));
    return records_.size();
}

std::string Dcache4Writer::build() const
{
    // Header: file version, application version, tag width 1, length width 2.
    std::string out = U32(fileVersion_) + U32(0x00020014) + BE16(1) + BE16(2);
    for (const auto& [tag, body] : records_)
        out += char(tag) + BE16(uint16_t(body.size())) + body;
    return out;
}

std::string Dcache4Writer::write(const std::string& folder) const
{
    std::string path = folder + "/dcache4.url";
    WriteFile(path, build());
    return path;
}

size_t Dcache4Writer::recordBodyOffset(size_t number) const
{
    size_t offset = 12;
    for (size_t i = 0; i + 1 < number && i < records_.size(); ++i)
        offset += 3 + records_[i].second.size();
    return offset + 3;
}

std::string OperaContainer(const std::vector<std::pair<uint8_t, std::string>>& objects)
{
    if (objects.size() > 255)
        throw std::runtime_error("an Opera container of more than 255 objects");
    std::string out{char(0x5A), char(objects.size())};
    std::string bodies;
    for (const auto& [id, bytes] : objects) {
        if (bytes.size() > 0xFFFF)
            throw std::runtime_error("an Opera container object longer than 65535 bytes");
        out += char(id) + BE16(uint16_t(bytes.size()));
        bodies += bytes;
    }
    return out + bodies;
}

std::string WriteSyntheticOperaCache(const std::string& folder, const SynthOptions& options)
{
    static const char* const kHosts[] = {"www.example.com", "images.example.net", "news.example.org"};
    static const char* const kExtensions[] = {".htm", ".gif", ".css", ".js"};
    static const char* const kTypes[] = {"text/html", "image/gif", "text/css", "application/x-javascript"};
    std::filesystem::create_directories(folder);
    Random random{options.seed};
    Dcache4Writer w;
    for (int i = 0; i < options.entries; ++i) {
        const size_t kind = random.next() % 4;
        OperaEntry e;
        e.url = std::string("http://") + kHosts[random.next() % 3] + "/item" + std::to_string(i) + kExtensions[kind];
        e.contentType = kTypes[kind];
        e.downloaded = uint32_t(1200000000 + i * 60);
        e.expires = uint32_t(1300000000 + i * 60);
        e.lastModifiedText = "Mon, 07 Dec 2009 10:00:00 GMT";
        e.nested = i % 2 == 1;
        e.wideTimes = i % 3 == 2;
        std::string body = "synthetic Opera body " + std::to_string(i) + "\n";
        body.append(random.next() % 300, char('a' + i % 26));
        if (kTypes[kind] == std::string_view("image/gif"))
            body = MakePatternGif(uint16_t(16 + body.size() % 48), uint16_t(16 + body.size() % 32), uint32_t(i) * 2654435761u);
        if (i % 5 == 4) {
            e.embeddedBody = GzipBytes(body);
            e.encoding = "gzip";
            e.size = uint32_t(body.size());
        } else {
            char name[32];
            std::snprintf(name, sizeof name, "opr%05X.tmp", unsigned(i));
            e.cacheName = name;
            e.size = uint32_t(body.size());
            if (options.bodies)
                WriteFile(folder + "/" + name, body);
        }
        w.addEntry(e);
    }
    return w.write(folder);
}

std::string OperaDef6Ini(std::optional<int> multiUser, std::optional<std::string> cacheDirectory4)
{
    std::string text = "Opera Preferences version 2.0\r\n; Do not edit this file while Opera is running\r\n\r\n";
    text += "[System]\r\n";
    if (multiUser)
        text += "Multi User=" + std::to_string(*multiUser) + "\r\n";
    text += "\r\n[User Prefs]\r\n";
    if (cacheDirectory4)
        text += "Cache Directory4=" + *cacheDirectory4 + "\r\n";
    text += "Show Splash Screen=0\r\n";
    return text;
}

} // namespace oriel::test
