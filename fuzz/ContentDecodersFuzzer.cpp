// libFuzzer harness for the content decoders. The first input byte picks
// the decoder (zlib stream, raw deflate, gzip member in memory, gzip file,
// gz reader, and an item's Decompress by encoding); the rest is the body.
// Output goes to a temporary file, capped at 4 MiB so that a bomb is cut
// early.
#include "FuzzSupport.h"

#include "filters/ContentDecoders.h"
#include "model/CacheItem.h"
#include "support/MozillaCacheWriter.h"

#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;
using oriel::test::DeflateBytes;
using oriel::test::GzipBytes;

constexpr uint64_t kCap = uint64_t(4) << 20;

std::string Page()
{
    std::string page;
    for (int i = 0; i < 64; ++i)
        page += "<li>entry " + std::to_string(i) + "</li>\n";
    return page;
}

} // namespace

void WriteFuzzSeeds(const std::string& dir)
{
    const std::string page = Page();
    WriteSeed(dir, "zlib", '\0' + DeflateBytes(page, true));
    WriteSeed(dir, "raw-as-deflate", '\0' + DeflateBytes(page, false));
    WriteSeed(dir, "raw", '\1' + DeflateBytes(page, false));
    WriteSeed(dir, "gzip-all-flags", '\2' + GzipBytes(page, 0x1E));
    WriteSeed(dir, "gzip-file", '\3' + GzipBytes(page, 0x08));
    WriteSeed(dir, "gz-reader-two-members", '\4' + GzipBytes(page) + GzipBytes("tail"));
    WriteSeed(dir, "decompress-deflate", '\5' + DeflateBytes(page, true));
    WriteSeed(dir, "decompress-gzip", '\6' + GzipBytes(page));
    std::string truncated = GzipBytes(page);
    WriteSeed(dir, "gzip-truncated", '\2' + truncated.substr(0, truncated.size() / 2));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const std::string body(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::string source = PrivateFolder("decoders") + "/body";
    const std::string out = PrivateFolder("decoders") + "/out";
    std::error_code ec;
    fs::remove(out, ec);
    switch (data[0] % 7) {
    case 0:
        oriel::InflateToFile(body.data(), body.size(), out, true, kCap);
        break;
    case 1:
        oriel::InflateToFile(body.data(), body.size(), out, false, kCap);
        break;
    case 2:
        oriel::GunzipBuffer(body.data(), body.size(), out, kCap);
        break;
    default: {
        WriteInputFile(source, data + 1, size - 1);
        if (data[0] % 7 == 3) {
            oriel::GunzipFile(source, int64_t(body.size()), out, kCap);
        } else if (data[0] % 7 == 4) {
            oriel::GzReadFile(source, int64_t(body.size() / 2), out, kCap);
        } else {
            oriel::CFileCacheItem item(nullptr, 0);
            item.SetContentEncoding(data[0] % 7 == 5 ? oriel::CCacheItem::kEncodingDeflate
                                                     : oriel::CCacheItem::kEncodingGzip);
            item.SetSize(int32_t(body.size()));
            item.Decompress(source, out);
        }
        break;
    }
    }
    return 0;
}
