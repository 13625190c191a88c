// libFuzzer harness for the Netscape 4.5 cache.db decoder. The input is
// written as cache.db into a folder made once, then decoded the way the
// application does it (a NetscapeCacheDBCache on the folder, messages off),
// and every item's texts are read as the list and the CSV export read them.
#include "FuzzSupport.h"

#include "formats/NetscapeCacheDBCache.h"
#include "support/NetscapeDbWriter.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using oriel::test::CacheDbEntry;
using oriel::test::NetscapeDbWriter;

const std::string& Folder()
{
    static const std::string* folder = [] {
        auto* dir = new std::string(
            (fs::temp_directory_path() / ("oriel-cachedb-fuzz-" + std::to_string(::getpid()))).string());
        fs::create_directories(*dir);
        std::atexit([] {
            std::error_code ec;
            fs::remove_all(Folder(), ec);
        });
        return dir;
    }();
    return *folder;
}

void TouchItem(oriel::CCacheItem& item, size_t& sink)
{
    for (const char* text : {item.GetURL(), item.GetURLPath(), item.GetCacheName(), item.GetHeaders(),
                             item.GetContentType(), item.GetDisplayCacheName(), item.GetFilePath()}) {
        if (text)
            sink += std::string(text).size();
    }
    sink += item.GetSizeText().size() + item.GetLastModifiedText().size() + item.GetDownloadedText().size() +
            item.GetExpiresText().size() + size_t(item.GetRecordKey()) + size_t(item.Exists());
}

CacheDbEntry Entry(int i)
{
    CacheDbEntry e;
    e.url = "http://host" + std::to_string(i % 3) + ".example/page" + std::to_string(i) + ".htm";
    e.bodyPath = "C:\\Program Files\\Netscape\\Users\\jane\\cache\\M000000" + std::to_string(i) + ".htm";
    e.headers = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(100 + i) + "\r\n\r\n";
    e.downloaded = 1000000000 + i;
    e.lastModified = -i;
    return e;
}

} // namespace

void WriteFuzzSeeds(const std::string& dir)
{
    {
        NetscapeDbWriter w(NetscapeDbWriter::Kind::CacheDb);
        w.setPageSize(512);
        w.addCacheEntry(Entry(0));
        WriteSeed(dir, "one-entry.db", w.build());
    }
    {
        NetscapeDbWriter w(NetscapeDbWriter::Kind::CacheDb);
        w.setPageSize(1024).setKeyCount(3);
        for (int i = 0; i < 8; ++i)
            w.addCacheEntry(Entry(i));
        CacheDbEntry wyciwyg = Entry(8);
        wyciwyg.url = "wyciwyg://4/http://host0.example/written";
        w.addCacheEntry(wyciwyg);
        CacheDbEntry internal = Entry(9);
        internal.check = 0x00004553;
        w.addCacheEntry(internal);
        w.addRawPage(std::string("\x00\x02\x10\x00", 4));
        WriteSeed(dir, "pages.db", w.build());
    }
    {
        NetscapeDbWriter w(NetscapeDbWriter::Kind::CacheDb);
        w.setPageSize(256);
        CacheDbEntry bare = Entry(1);
        bare.values.clear();
        bare.headers.clear();
        w.addCacheEntry(bare);
        std::string bytes = w.build();
        WriteSeed(dir, "small-pages.db", bytes);
        WriteSeed(dir, "cut.db", bytes.substr(0, bytes.size() - 40));
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string& folder = Folder();
    {
        std::ofstream out(folder + "/cache.db", std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    }
    oriel::NetscapeCacheDBCache cache(nullptr, folder);
    cache.Decode(nullptr, false);
    size_t sink = 0;
    for (int32_t g = 0; g < cache.GetGroupCount(); ++g) {
        oriel::CNamedCacheItemArray* group = cache.GetGroup(g);
        if (const char* name = group->GetName())
            sink += std::string(name).size();
        for (int32_t i = 0; i < group->GetCount(); ++i)
            TouchItem(*group->ItemAt(i), sink);
    }
    std::ostringstream csv;
    cache.ExportCSV(csv);
    sink += csv.str().size();
    return sink == size_t(-1) ? 1 : 0;
}
