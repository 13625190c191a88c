// libFuzzer harness for the URL-cache service and IECache. The input is
// written as the index.dat of a "Content.IE5" folder made once; IECache
// lists it through the service as the application does, every entry of the
// service's own enumeration is read, and then the first entries are deleted
// by URL (which rewrites the index in place) and the rest listed again.
#include "FuzzSupport.h"

#include "formats/IECache.h"
#include "formats/UrlCacheService.h"
#include "support/IndexDatWriter.h"
#include "support/WindowsTreeWriter.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

using oriel::test::FatExpiryFromUnix;
using oriel::test::FileTimeFromUnix;
using oriel::test::IndexDatUrl;
using oriel::test::IndexDatWriter;
using oriel::test::PutU32;

// Made once per process and removed at exit; never destroyed before then,
// so the exit handler can still name it.
const std::string& Folder()
{
    static const std::string* folder = [] {
        namespace fs = std::filesystem;
        auto* dir = new std::string(
            (fs::temp_directory_path() / ("oriel-urlcache-fuzz-" + std::to_string(::getpid())) / "Content.IE5")
                .string());
        fs::create_directories(*dir);
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(std::filesystem::path(Folder()).parent_path(), ec);
        });
        return dir;
    }();
    return *folder;
}

IndexDatUrl Entry(int i, uint8_t directory)
{
    std::string name = "file" + std::to_string(i);
    return {
        .url = "http://host" + std::to_string(i % 3) + ".example/" + name + ".htm",
        .fileName = name + "[1].htm",
        .headers = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n",
        .directory = directory,
        .size = uint32_t(i * 100),
        .lastModified = FileTimeFromUnix(1200000000 + i * 3600),
        .lastAccess = FileTimeFromUnix(1240000000 + i * 60),
        .expires = FatExpiryFromUnix(1250000000 + i * 86400),
    };
}

// Entry types at record offset 64 and last-sync times at 80.
std::string Stamped(const IndexDatWriter& w, const std::vector<std::pair<size_t, uint32_t>>& types)
{
    std::string bytes = w.build();
    for (const auto& [record, type] : types) {
        PutU32(bytes, w.recordOffset(record) + 64, type);
        PutU32(bytes, w.recordOffset(record) + 80, oriel::test::WindowsTreeWriter::FatDateTime(1245000000));
    }
    return bytes;
}

} // namespace

void WriteFuzzSeeds(const std::string& dir)
{
    {
        IndexDatWriter w;
        w.setTrailingFreeBlocks(0);
        w.addDirectory("ABCD1234");
        size_t a = w.addUrl(Entry(0, 0));
        WriteSeed(dir, "one-url.dat", Stamped(w, {{a, oriel::NORMAL_CACHE_ENTRY}}));
    }
    {
        IndexDatWriter w;
        w.setHashEntriesPerTable(3);
        w.addDirectory("ABCD1234");
        w.addDirectory("EFGH5678", 40);
        std::vector<std::pair<size_t, uint32_t>> types;
        types.push_back({w.addUrl(Entry(0, 0)), oriel::COOKIE_CACHE_ENTRY});
        w.addLeak(Entry(1, 1));
        w.addRedirect("http://host1.example/moved");
        w.addFreedUrl(Entry(2, 0));
        w.addStaleUrl(Entry(3, 1));
        w.addStrayBlock(IndexDatWriter::Stray::FakeRecord);
        types.push_back({w.addUrl({.url = "http://host.example/../../x", .fileName = "..\\..\\x"}), 1});
        for (int i = 4; i < 12; ++i)
            types.push_back({w.addUrl(Entry(i, uint8_t(i % 3))), i % 4 == 0 ? oriel::URLHISTORY_CACHE_ENTRY : 1});
        std::string bytes = Stamped(w, types);
        WriteSeed(dir, "mixed.dat", bytes);
        // The same with the hash chain looping back on itself.
        std::string loop = bytes;
        auto tables = w.hashTableOffsets();
        PutU32(loop, tables.back() + 8, tables.front());
        WriteSeed(dir, "hash-loop.dat", loop);
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string& folder = Folder();
    {
        std::ofstream out(folder + "/index.dat", std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    }
    auto service = std::make_shared<oriel::UrlCacheService>(folder);
    oriel::IECache cache(nullptr, folder, service);
    cache.Decode(nullptr, false);
    size_t sink = size_t(cache.GetItemCount());

    std::vector<std::string> urls;
    oriel::UrlCacheEntryInfo entry;
    if (auto handle = service->FindFirstUrlCacheEntry("*.*", entry)) {
        do {
            sink += entry.sourceUrlName.size() + entry.localFileName.value_or("").size() +
                    entry.headerInfo.value_or("").size() + entry.sizeLow + entry.cacheEntryType +
                    size_t(entry.lastModifiedTime + entry.lastSyncTime + entry.expireTime);
            if (urls.size() < 4)
                urls.push_back(entry.sourceUrlName);
        } while (service->FindNextUrlCacheEntry(*handle, entry));
        service->FindCloseUrlCache(std::move(handle));
    }
    for (const std::string& url : urls)
        sink += service->DeleteUrlCacheEntry(url);
    cache.Decode(nullptr, false);
    sink += size_t(cache.GetItemCount());
    return sink == size_t(-1) ? 1 : 0;
}
