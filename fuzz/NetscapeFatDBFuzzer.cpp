// libFuzzer harness for the Netscape 4.0 fat.db decoder. The input is the
// fat.db, in memory, of an empty folder, decoded the way the application
// does it (a NetscapeFatDBCache on the folder, messages off, the input
// opened as its database instead of the file, the unsupported-version
// question answered no), and every item's texts are read as the list and
// the CSV export read them.
#include "FuzzSupport.h"

#include "formats/NetscapeFatDBCache.h"
#include "support/NetscapeDbWriter.h"
#include "support/TestContext.h"

#include <memory>
#include <string>

namespace {

using oriel::test::FatDbEntry;
using oriel::test::NetscapeDbWriter;

FatDbEntry Entry(int i, uint32_t version, uint8_t variant)
{
    FatDbEntry e;
    e.url = "http://host" + std::to_string(i % 3) + ".example/page" + std::to_string(i) + ".gif";
    e.cacheName = "M00000" + std::to_string(i) + ".gif";
    e.contentType = "image/gif";
    e.version = version;
    e.variant = variant;
    e.variantWord = uint32_t(i % 2);
    e.size = uint32_t(i * 100);
    e.expires = -i;
    return e;
}

} // namespace

void WriteFuzzSeeds(const std::string& dir)
{
    {
        NetscapeDbWriter w(NetscapeDbWriter::Kind::FatDb);
        w.setPageSize(512);
        w.addFatEntry(Entry(0, 4, 0));
        WriteSeed(dir, "one-entry.db", w.build());
    }
    {
        NetscapeDbWriter w(NetscapeDbWriter::Kind::FatDb);
        w.setPageSize(1024).setKeyCount(2);
        for (int i = 0; i < 6; ++i)
            w.addFatEntry(Entry(i, uint32_t(2 + i % 4), uint8_t(i % 3)));
        w.addFatEntry(Entry(6, 4, 7));
        w.addFatEntry(Entry(0, 4, 0)); // the same cache name again
        FatDbEntry wysiwyg = Entry(7, 5, 0);
        wysiwyg.url = "wysiwyg://1/http://host1.example/x";
        w.addFatEntry(wysiwyg);
        w.addFatEntry(Entry(8, NetscapeDbWriter::kInternalVersion, 0));
        WriteSeed(dir, "layouts.db", w.build());
    }
    {
        NetscapeDbWriter w(NetscapeDbWriter::Kind::FatDb);
        w.setPageSize(512);
        w.addFatEntry(Entry(1, 4, 1));
        w.addFatEntry(Entry(2, 6, 0)); // unsupported
        w.addFatEntry(Entry(3, 5, 0));
        w.endPage();
        w.addFatEntry(Entry(4, 9, 0));
        std::string bytes = w.build();
        WriteSeed(dir, "unsupported.db", bytes);
        WriteSeed(dir, "cut.db", bytes.substr(0, bytes.size() - 30));
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    size_t sink = DecodeIndexImage(data, size, [](const std::string& folder, auto index) {
        auto cache = std::make_unique<oriel::NetscapeFatDBCache>(oriel::test::Context(), nullptr, folder);
        cache->SetDatabaseSource(std::move(index));
        return cache;
    });
    return sink == size_t(-1) ? 1 : 0;
}
