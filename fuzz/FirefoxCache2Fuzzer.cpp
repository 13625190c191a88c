// libFuzzer harness for the Firefox cache2 decoder over a whole cache2
// folder. The input is split into the index and the entry files:
//   u32 little-endian length, bytes: "index" (length 0xFFFFFFFF: no index);
//   then, repeated: u8 where (odd: "doomed/", even: "entries/"), u32
//   length, bytes: one entry file, named by its place in the input.
// The folder is decoded as the application does it (messages off), every
// item's texts are read, and the first items are prepared (extracted and
// decoded) and deleted again.
#include "FuzzSupport.h"

#include "formats/FirefoxCache2Cache.h"
#include "support/FirefoxCache2Writer.h"
#include "support/MozillaCacheWriter.h"
#include "support/TestContext.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;
using oriel::test::FirefoxCache2Writer;
using oriel::test::GzipBytes;

constexpr uint32_t kNoIndex = 0xFFFFFFFFu;

void PutLE(std::string& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out += char((v >> (8 * i)) & 0xFF);
}

std::string Frame(const FirefoxCache2Writer& w, bool withIndex)
{
    std::string out;
    if (withIndex) {
        std::string index = w.IndexFile();
        PutLE(out, uint32_t(index.size()));
        out += index;
    } else {
        PutLE(out, kNoIndex);
    }
    for (const auto& [name, bytes] : w.Build()) {
        if (name == "index")
            continue;
        out += char(name.rfind("doomed/", 0) == 0 ? 1 : 0);
        PutLE(out, uint32_t(bytes.size()));
        out += bytes;
    }
    return out;
}

class Input {
public:
    Input(const uint8_t* data, size_t size)
        : data_(reinterpret_cast<const char*>(data))
        , size_(size)
    {
    }
    bool AtEnd() const { return pos_ >= size_; }
    uint32_t U32()
    {
        uint32_t v = 0;
        for (int i = 0; i < 4 && pos_ < size_; ++i)
            v |= uint32_t(uint8_t(data_[pos_++])) << (8 * i);
        return v;
    }
    uint8_t U8() { return pos_ < size_ ? uint8_t(data_[pos_++]) : 0; }
    std::string Bytes(size_t n)
    {
        n = std::min(n, size_ - pos_);
        std::string out(data_ + pos_, n);
        pos_ += n;
        return out;
    }

private:
    const char* data_;
    size_t size_;
    size_t pos_ = 0;
};

void WriteBytes(const std::string& path, const std::string& bytes)
{
    WriteInputFile(path, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

FirefoxCache2Writer Mixed()
{
    FirefoxCache2Writer w;
    std::string page;
    for (int i = 0; i < 30; ++i)
        page += "<p>line " + std::to_string(i) + "</p>\n";
    w.Add("https://a.example/", page, "text/html").metadataVersion = 1;
    w.Add("https://a.example/gz", GzipBytes(page), "text/html", "gzip").metadataVersion = 2;
    w.Add("https://b.example/x.png?a:b", "\x89PNG....", "image/png").tags = "O^partitionKey=%28https%2Cc.example%29,a,";
    w.Add("about:blank", "", "text/html").tags = "~1677526967,";
    w.Add("https://b.example/gone", "gone", "text/plain").doomed = true;
    w.Add("https://b.example/unlisted", "u", "text/plain").indexed = false;
    return w;
}

} // namespace

void WriteFuzzSeeds(const std::string& dir)
{
    WriteSeed(dir, "mixed-index-v10", Frame(Mixed(), true));
    WriteSeed(dir, "mixed-no-index", Frame(Mixed(), false));
    for (uint32_t version : {1u, 5u, 8u}) {
        FirefoxCache2Writer w = Mixed();
        w.SetIndex(true, version);
        WriteSeed(dir, "mixed-index-v" + std::to_string(version), Frame(w, true));
    }
    {
        FirefoxCache2Writer w;
        w.Add("https://c.example/big", std::string(270000, 'q'), "application/octet-stream");
        w.Add("https://c.example/bad-offset", "x").offsetWord = 0x7FFFFFF0u;
        w.Add("https://c.example/bad-key", "x").keySizeWord = 0xFFFFFFF0u;
        WriteSeed(dir, "hostile-words", Frame(w, true));
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string& folder = PrivateFolder("cache2");
    std::error_code ec;
    fs::remove_all(folder, ec);
    fs::create_directories(folder + "/entries", ec);
    fs::create_directories(folder + "/doomed", ec);

    Input in(data, size);
    const uint32_t indexLength = in.U32();
    if (indexLength != kNoIndex)
        WriteBytes(folder + "/index", in.Bytes(indexLength));
    for (int files = 0; !in.AtEnd() && files < 32; ++files) {
        const bool doomed = (in.U8() & 1) != 0;
        std::string bytes = in.Bytes(in.U32());
        char name[64];
        std::snprintf(name, sizeof name, "%s/%040X", doomed ? "doomed" : "entries", unsigned(files));
        WriteBytes(folder + "/" + name, bytes);
    }

    oriel::FirefoxCache2Cache cache(oriel::test::Context(), nullptr, folder);
    cache.Decode(nullptr, false);
    int prepared = 0;
    size_t sink = TouchCache(cache, [&prepared](oriel::CCacheItem& item) -> size_t {
        size_t n = 0;
        for (const auto& [label, text] : item.GetFormatProperties())
            n += label.size() + text.size();
        if (prepared++ >= 8 || !item.PrepareFile())
            return n;
        const char* path = item.GetFilePath();
        n += path ? std::string(path).size() : 0;
        item.DeleteCacheFile();
        return n;
    });
    return sink == size_t(-1) ? 1 : 0;
}
