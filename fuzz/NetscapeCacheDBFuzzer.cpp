// libFuzzer harness for the Netscape 4.5 cache.db decoder. The input is the
// cache.db, in memory, of an empty folder, decoded the way the application
// does it (a NetscapeCacheDBCache on the folder, messages off, the input
// opened as its database instead of the file), and every item's texts are
// read as the list and the CSV export read them.
#include "FuzzSupport.h"

#include "formats/NetscapeCacheDBCache.h"
#include "support/NetscapeDbWriter.h"
#include "support/TestContext.h"

#include <memory>
#include <string>

namespace {

using oriel::test::CacheDbEntry;
using oriel::test::NetscapeDbWriter;

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
    size_t sink = DecodeIndexImage(data, size, [](const std::string& folder, auto index) {
        auto cache = std::make_unique<oriel::NetscapeCacheDBCache>(oriel::test::Context(), nullptr, folder);
        cache->SetDatabaseSource(std::move(index));
        return cache;
    });
    return sink == size_t(-1) ? 1 : 0;
}
