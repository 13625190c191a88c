// libFuzzer harness for the Chromium simple-cache decoder over a whole
// cache folder. The input is split into files:
//   u32 little-endian length, bytes: "index-dir/the-real-index" (length
//   0xFFFFFFFF: no index);
//   then, repeated: u8 kind (its value mod 3: "_0", "_s" or "_1"), u8
//   number, u32 length, bytes: the entry file "00000000000000NN" + kind, a
//   name that stays inside the folder.
// The folder is decoded as the application does it (messages off), every
// item's texts and properties are read, and the first items are prepared
// (extracted and decoded) and deleted again.
#include "FuzzSupport.h"

#include "formats/ChromiumSimpleCache.h"
#include "support/ChromiumCacheWriter.h"
#include "support/ChromiumSimpleCacheWriter.h"
#include "support/MozillaCacheWriter.h"
#include "support/TestContext.h"

#include <cstdio>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;
using oriel::test::ChromiumSimpleCacheWriter;

constexpr uint32_t kNoIndex = 0xFFFFFFFFu;

// The writer's folder as one input: its entry files renumbered in order.
std::string Frame(const ChromiumSimpleCacheWriter& w)
{
    std::string out;
    std::string entries;
    bool index = false;
    uint8_t number = 0;
    for (const auto& [name, bytes] : w.Build()) {
        if (name == "index-dir/the-real-index") {
            AppendU32LE(out, uint32_t(bytes.size()));
            out += bytes;
            index = true;
            continue;
        }
        if (name == "index")
            continue;
        const char kind = name.back();
        entries += char(kind == '0' ? 0 : kind == 's' ? 1 : 2);
        entries += char(number++);
        AppendU32LE(entries, uint32_t(bytes.size()));
        entries += bytes;
    }
    if (!index)
        AppendU32LE(out, kNoIndex);
    return out + entries;
}

ChromiumSimpleCacheWriter Mixed()
{
    ChromiumSimpleCacheWriter w;
    std::string page;
    for (int i = 0; i < 30; ++i)
        page += "<p>line " + std::to_string(i) + "</p>\n";
    w.Add("https://a.example/", page, "HTTP/1.1 200 OK\nContent-Type: text/html");
    w.Add("https://a.example/gz", oriel::test::GzipBytes(page), "HTTP/1.1 200 OK\nContent-Encoding: gzip");
    w.Add("https://a.example/br", oriel::test::BrotliBytes(page), "HTTP/1.1 200 OK\nContent-Encoding: br")
        .keySha256 = false;
    w.Add("1/0/_dk_https://s.example https://s.example https://b.example/x.png", "\x89PNG", "HTTP/1.1 200 OK")
        .packedRecords = true;
    w.Add("https://b.example/bare", "bare", "");
    auto& media = w.Add("https://c.example/clip.webm", "", "HTTP/1.1 206 Partial Content");
    media.sparse = {{0, std::string(64, 'v')}, {4096, std::string(16, 'w')}};
    return w;
}

} // namespace

void WriteFuzzSeeds(const std::string& dir)
{
    WriteSeed(dir, "mixed-index-v9", Frame(Mixed()));
    for (uint32_t version : {6u, 7u, 8u}) {
        ChromiumSimpleCacheWriter w = Mixed();
        w.indexVersion = version;
        WriteSeed(dir, "mixed-index-v" + std::to_string(version), Frame(w));
    }
    {
        ChromiumSimpleCacheWriter w = Mixed();
        w.writeIndex = false;
        WriteSeed(dir, "mixed-no-index", Frame(w));
    }
    {
        ChromiumSimpleCacheWriter w;
        w.announcedCount = uint64_t(1) << 40;
        w.Add("https://d.example/big-stream0", "x", "HTTP/1.1 200 OK").stream0SizeWord = 0xFFFFFFF0u;
        w.Add("https://d.example/long-key", "y", "HTTP/1.1 200 OK").keyLengthWord = 0x000FFFFFu;
        w.Add("https://d.example/sparse-alone", "", "").entryFile = false;
        w.Entries().back().sparse = {{0, "z"}};
        WriteSeed(dir, "hostile-words", Frame(w));
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string& folder = PrivateFolder("chromium-simple");
    std::error_code ec;
    fs::remove_all(folder, ec);
    fs::create_directories(folder, ec);

    FuzzInput in(data, size);
    const uint32_t indexLength = in.U32();
    if (indexLength != kNoIndex)
        WriteInputBytes(folder + "/index-dir/the-real-index", in.Bytes(indexLength));
    for (int files = 0; !in.AtEnd() && files < 32; ++files) {
        static constexpr char kKinds[] = {'0', 's', '1'};
        const char kind = kKinds[in.U8() % 3];
        const unsigned number = in.U8();
        std::string bytes = in.Bytes(in.U32());
        char name[32];
        std::snprintf(name, sizeof name, "%016x_%c", number, kind);
        WriteInputBytes(folder + "/" + name, bytes);
    }

    oriel::ChromiumSimpleCache cache(oriel::test::Context(), nullptr, folder);
    cache.Decode(nullptr, false);
    size_t sink = TouchCache(cache, PrepareFirstItems());
    return sink == size_t(-1) ? 1 : 0;
}
