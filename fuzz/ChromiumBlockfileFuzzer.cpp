// libFuzzer harness for the Chromium blockfile decoder over a whole cache
// folder. The input is split into files:
//   five times: u32 little-endian length, bytes ("index", then "data_0" to
//   "data_3"); a section cut short takes what is left;
//   then, repeated: u8 number, u32 length, bytes (the separate file
//   "f_0000NN", a name that stays inside the folder).
// The folder is decoded as the application does it (messages off), every
// item's texts are read, the recovered ones with their properties, and the
// first items are prepared (extracted and decoded).
#include "FuzzSupport.h"

#include "formats/ChromiumBlockfileCache.h"
#include "support/ChromiumCacheWriter.h"
#include "support/MozillaCacheWriter.h"
#include "support/TestContext.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;
using oriel::test::ChromiumBlockfileWriter;

// The writer's folder as one input.
std::string Frame(const ChromiumBlockfileWriter& w)
{
    const fs::path dir = fs::path(PrivateFolder("chromium-seed")) / "seed";
    std::error_code ec;
    fs::remove_all(dir, ec);
    const std::vector<std::string> separate = w.Write(dir.string());
    std::string out;
    for (const char* name : {"index", "data_0", "data_1", "data_2", "data_3"}) {
        std::string bytes = ReadBackFile((dir / name).string());
        AppendU32LE(out, uint32_t(bytes.size()));
        out += bytes;
    }
    for (const std::string& name : separate) {
        std::string bytes = ReadBackFile((dir / name).string());
        out += char(std::stoul(name.substr(2), nullptr, 16) & 0xFF);
        AppendU32LE(out, uint32_t(bytes.size()));
        out += bytes;
    }
    fs::remove_all(dir, ec);
    return out;
}

ChromiumBlockfileWriter Mixed(uint32_t version)
{
    ChromiumBlockfileWriter w;
    w.version = version;
    w.tableLength = 8;
    std::string page;
    for (int i = 0; i < 40; ++i)
        page += "<p>line " + std::to_string(i) + "</p>\n";
    w.Add("https://a.example/", page, "HTTP/1.1 200 OK\nContent-Type: text/html");
    w.Add("https://a.example/gz", oriel::test::GzipBytes(page), "HTTP/1.1 200 OK\nContent-Encoding: gzip");
    w.Add("https://b.example/deflate", oriel::test::DeflateBytes(page, false),
          "HTTP/1.1 200 OK\nContent-Encoding: deflate");
    w.Add("https://c.example/big", std::string(20000, 'b'), "HTTP/1.1 200 OK\nContent-Type: image/png");
    w.Add("1/0/_dk_https://s.example https://s.example https://d.example/x", "x", "HTTP/1.1 200 OK");
    w.Add("https://e.example/" + std::string(1500, 'k'), "long key", "HTTP/1.1 200 OK");
    w.Add("https://f.example/apart", "k", "HTTP/1.1 200 OK").keyApart = true;
    return w;
}

} // namespace

void WriteFuzzSeeds(const std::string& dir)
{
    WriteSeed(dir, "v2.0", Frame(Mixed(0x20000)));
    WriteSeed(dir, "v2.1", Frame(Mixed(0x20001)));
    WriteSeed(dir, "v3.0", Frame(Mixed(0x30000)));
    ChromiumBlockfileWriter over = Mixed(0x20001);
    over.announcedCount = 1000000;
    WriteSeed(dir, "over-announcing", Frame(over));
    // Deleted entries: freed, unlinked only, one whose body a later entry
    // took, one with its key apart.
    ChromiumBlockfileWriter deleted = Mixed(0x30000);
    auto& freed = deleted.Add("https://g.example/freed", "freed body", "HTTP/1.1 200 OK");
    freed.deleted = true;
    freed.bodyTaken = true;
    deleted.Add("https://g.example/taker", "taker", "HTTP/1.1 200 OK");
    auto& unlinked = deleted.Add("https://g.example/unlinked", std::string(5000, 'u'), "HTTP/1.1 200 OK");
    unlinked.deleted = true;
    unlinked.stillAllocated = true;
    auto& apart = deleted.Add("https://g.example/" + std::string(1200, 'a'), "apart", "HTTP/1.1 200 OK");
    apart.deleted = true;
    WriteSeed(dir, "deleted", Frame(deleted));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string& folder = PrivateFolder("chromium");
    std::error_code ec;
    fs::remove_all(folder, ec);
    fs::create_directories(folder, ec);

    FuzzInput in(data, size);
    for (const char* name : {"index", "data_0", "data_1", "data_2", "data_3"}) {
        uint32_t length = in.U32();
        std::string bytes = in.Bytes(length);
        WriteInputFile(folder + "/" + name, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }
    for (int files = 0; !in.AtEnd() && files < 16; ++files) {
        char name[16];
        std::snprintf(name, sizeof name, "f_%06x", unsigned(in.U8()));
        std::string bytes = in.Bytes(in.U32());
        WriteInputFile(folder + "/" + name, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }

    oriel::ChromiumBlockfileCache cache(oriel::test::Context(), nullptr, folder);
    cache.Decode(nullptr, false);
    size_t sink = TouchCache(cache, PrepareFirstItems());
    return sink == size_t(-1) ? 1 : 0;
}
