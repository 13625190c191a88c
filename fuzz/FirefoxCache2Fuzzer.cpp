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

std::string Frame(const FirefoxCache2Writer& w, bool withIndex)
{
    std::string out;
    if (withIndex) {
        std::string index = w.IndexFile();
        AppendU32LE(out, uint32_t(index.size()));
        out += index;
    } else {
        AppendU32LE(out, kNoIndex);
    }
    for (const auto& [name, bytes] : w.Build()) {
        if (name == "index")
            continue;
        out += char(name.rfind("doomed/", 0) == 0 ? 1 : 0);
        AppendU32LE(out, uint32_t(bytes.size()));
        out += bytes;
    }
    return out;
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

    FuzzInput in(data, size);
    const uint32_t indexLength = in.U32();
    if (indexLength != kNoIndex)
        WriteInputBytes(folder + "/index", in.Bytes(indexLength));
    for (int files = 0; !in.AtEnd() && files < 32; ++files) {
        const bool doomed = (in.U8() & 1) != 0;
        std::string bytes = in.Bytes(in.U32());
        char name[64];
        std::snprintf(name, sizeof name, "%s/%040X", doomed ? "doomed" : "entries", unsigned(files));
        WriteInputBytes(folder + "/" + name, bytes);
    }

    oriel::FirefoxCache2Cache cache(oriel::test::Context(), nullptr, folder);
    cache.Decode(nullptr, false);
    size_t sink = TouchCache(cache, PrepareFirstItems());
    return sink == size_t(-1) ? 1 : 0;
}
