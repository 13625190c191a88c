// libFuzzer harness for the Mozilla cache decoder over a whole cache folder.
// The input is split into the map, the three block files and any separate
// files:
//   four times: u32 little-endian length, bytes ("_CACHE_MAP_", then
//   "_CACHE_001_" to "_CACHE_003_"); a section cut short takes what is left;
//   then, repeated: u8 name length, name, u32 length, bytes (a separate file;
//   the name keeps only hex digits and '/', so it stays inside the folder).
// The folder is decoded as the application does it (messages off), every
// item's texts are read, and the first items are prepared (extracted and
// decoded) and deleted again.
#include "FuzzSupport.h"

#include "formats/NetscapeCacheMapCache.h"
#include "support/MozillaCacheWriter.h"
#include "support/TestContext.h"

#include <algorithm>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;
using oriel::test::DeflateBytes;
using oriel::test::GzipBytes;
using oriel::test::MozillaCacheWriter;

std::string Frame(const MozillaCacheWriter::Image& image)
{
    std::string out;
    for (const std::string* section : {&image.map, &image.blocks[0], &image.blocks[1], &image.blocks[2]}) {
        AppendU32LE(out, uint32_t(section->size()));
        out += *section;
    }
    for (const auto& [name, bytes] : image.files) {
        out += char(name.size());
        out += name;
        AppendU32LE(out, uint32_t(bytes.size()));
        out += bytes;
    }
    return out;
}

// Only hex digits and single separators: a name that cannot leave the folder.
std::string SafeName(const std::string& raw)
{
    std::string out;
    for (char c : raw) {
        bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (hex || (c == '/' && !out.empty() && out.back() != '/'))
            out += c;
    }
    while (!out.empty() && out.back() == '/')
        out.pop_back();
    return out;
}

MozillaCacheWriter Mixed(MozillaCacheWriter::MapFormat format, MozillaCacheWriter::Layout layout)
{
    MozillaCacheWriter w;
    w.SetFormat(format).SetLayout(layout);
    std::string page;
    for (int i = 0; i < 40; ++i)
        page += "<p>line " + std::to_string(i) + "</p>\n";
    w.Add("http://a.example/", page, "text/html");
    w.Add("http://a.example/gz", GzipBytes(page, 0x1E), "text/html", "gzip");
    w.Add("http://b.example/deflate", DeflateBytes(page, false), "text/css", "deflate");
    w.Add("http://b.example/zlib", DeflateBytes(page, true), "text/plain", "deflate");
    w.Add("http://c.example/sep", std::string(17000, 's'), "application/octet-stream");
    auto& meta = w.Add("http://c.example/meta", "m", "text/plain");
    meta.metaFile = 0;
    w.Add("wyciwyg://1/http://d.example/w", "w", "text/html");
    return w;
}

} // namespace

void WriteFuzzSeeds(const std::string& dir)
{
    using Format = MozillaCacheWriter::MapFormat;
    using Layout = MozillaCacheWriter::Layout;
    WriteSeed(dir, "record-array-flat", Frame(Mixed(Format::RecordArray, Layout::Flat).Build()));
    WriteSeed(dir, "record-array-nested", Frame(Mixed(Format::RecordArray, Layout::Nested).Build()));
    WriteSeed(dir, "buckets", Frame(Mixed(Format::Buckets, Layout::Flat).Build()));
    WriteSeed(dir, "buckets-little-endian",
              Frame(Mixed(Format::Buckets, Layout::Flat).SetLittleEndianRecords(true).Build()));
    WriteSeed(dir, "dirty-over-announcing",
              Frame(Mixed(Format::RecordArray, Layout::Flat).SetDirty(true).SetEntryCount(100000).Build()));
    {
        auto image = Mixed(Format::RecordArray, Layout::Flat).Build();
        image.blocks[0].resize(4096 + 300);
        image.blocks[1].resize(2000);
        WriteSeed(dir, "short-block-files", Frame(image));
    }
    {
        // Deleted entries whose records, metadata or separate files stand.
        using Record = MozillaCacheWriter::Entry::Record;
        for (Format format : {Format::RecordArray, Format::Buckets}) {
            MozillaCacheWriter w = Mixed(format, Layout::Flat);
            w.Add("http://f.example/stale", "s", "text/plain").record = Record::Stale;
            auto& orphan = w.Add("http://f.example/orphan", std::string(20000, 'o'), "text/plain");
            orphan.dataFile = 0;
            orphan.metaFile = 0;
            orphan.record = Record::None;
            w.AddOrphanBody(0x0FEDCBA9, 3, "body");
            w.SetEntryCount(3);
            WriteSeed(dir, format == Format::Buckets ? "stale-buckets" : "stale-record-array", Frame(w.Build()));
        }
    }
    {
        MozillaCacheWriter w;
        auto& e = w.Add("http://e.example/", "x", "text/plain");
        e.metadataVersion = 0x00030001;
        w.Add("no-colon-key", "y").key = "nocolon";
        WriteSeed(dir, "rejected-entries", Frame(w.Build()));
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string& folder = PrivateFolder("mozilla");
    std::error_code ec;
    fs::remove_all(folder, ec);
    fs::create_directories(folder, ec);

    FuzzInput in(data, size);
    const char* names[] = {"_CACHE_MAP_", "_CACHE_001_", "_CACHE_002_", "_CACHE_003_"};
    for (const char* name : names) {
        uint32_t length = in.U32();
        WriteInputBytes(folder + "/" + name, in.Bytes(length));
    }
    for (int files = 0; !in.AtEnd() && files < 16; ++files) {
        std::string name = SafeName(in.Bytes(in.U8()));
        std::string bytes = in.Bytes(in.U32());
        if (!name.empty() && !fs::is_directory(folder + "/" + name, ec))
            WriteInputBytes(folder + "/" + name, bytes);
    }

    oriel::NetscapeCacheMapCache cache(oriel::test::Context(), nullptr, folder);
    cache.Decode(nullptr, false);
    size_t sink = TouchCache(cache, PrepareFirstItems());
    return sink == size_t(-1) ? 1 : 0;
}
