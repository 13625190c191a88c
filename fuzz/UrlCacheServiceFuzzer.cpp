// libFuzzer harness for the URL-cache service and IECache. The input is
// written as the index.dat of a "Content.IE5" folder made once; IECache
// lists it through the service as the application does (its items and its
// recovered items read whole), every entry of the service's own enumeration
// is read, and then the first entries are deleted by URL (which rewrites
// the index in place) and the rest listed again.
#include "FuzzSupport.h"

#include "formats/IECache.h"
#include "formats/UrlCacheService.h"
#include "support/IndexDatWriter.h"
#include "support/TestContext.h"
#include "support/WindowsTreeWriter.h"

#include <memory>
#include <string>
#include <vector>

namespace {

using oriel::test::IndexDatUrl;
using oriel::test::IndexDatWriter;
using oriel::test::PutU32;

IndexDatUrl Entry(int i, uint8_t directory)
{
    return SeedIndexDatUrl(i, directory, "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n");
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
    const std::string folder = PrivateFolder("urlcache") + "/Content.IE5";
    WriteInputFile(folder + "/index.dat", data, size);
    auto service = std::make_shared<oriel::UrlCacheService>(folder);
    oriel::IECache cache(oriel::test::Context(), nullptr, folder, service);
    cache.Decode(nullptr, false);
    size_t sink = TouchCache(cache);

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
