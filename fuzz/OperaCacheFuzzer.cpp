// libFuzzer harness for the Opera dcache4.url decoder. The input is the
// dcache4.url, in memory, of an empty folder, decoded the way the
// application does it (an OperaCache on the folder, messages off, the input
// opened as its database instead of the file); every item's texts are read
// as the list and the CSV export read them, and the first items are
// prepared (bodies kept in the index are extracted and decoded) and their
// copies deleted again. An item whose body is kept in the index reads it
// from the file "dcache4.url" when it is extracted, so when the decode made
// such items the input is written there as well, before they are read.
// The input is also read as an Opera 12 container file, for each of a few
// object ids.
#include "FuzzSupport.h"

#include "formats/Dcache4File.h"
#include "formats/OperaCache.h"
#include "formats/OperaInternalCacheItem.h"
#include "model/Cache.h"
#include "support/Dcache4Writer.h"
#include "support/TestContext.h"
#include "support/MozillaCacheWriter.h"

#include <memory>
#include <string>

namespace {

using oriel::test::Dcache4Writer;
using oriel::test::OperaEntry;

bool HasBodyInIndex(oriel::CCache& cache)
{
    for (int32_t g = 0; g < cache.GetGroupCount(); ++g) {
        oriel::CNamedCacheItemArray* group = cache.GetGroup(g);
        for (int32_t i = 0; i < group->GetCount(); ++i) {
            if (dynamic_cast<oriel::COperaInternalCacheItem*>(group->ItemAt(i)))
                return true;
        }
    }
    return false;
}

} // namespace

void WriteFuzzSeeds(const std::string& dir)
{
    {
        Dcache4Writer w;
        OperaEntry e;
        e.url = "http://www.example.com/logo.gif";
        e.cacheName = "opr00001.gif";
        e.contentType = "image/gif";
        e.size = 1234;
        w.addEntry(e);
        WriteSeed(dir, "one-record.url", w.build());
    }
    {
        Dcache4Writer w;
        for (int i = 0; i < 6; ++i) {
            OperaEntry e;
            e.url = "http://host" + std::to_string(i % 2) + ".example/" + std::to_string(i);
            e.cacheName = "opr0000" + std::to_string(i) + ".tmp";
            e.nested = i % 2 == 0;
            e.wideTimes = i % 3 == 0;
            e.wideSize = i % 3 == 1;
            e.size = uint32_t(i * 10);
            e.encoding = i % 2 ? "x-gzip" : "deflate";
            e.lastModifiedText = "Mon, 07 Dec 2009 10:00:00 GMT";
            e.flags = {0x85, 0x99};
            w.addEntry(e);
        }
        w.addRawRecord(2, "other record");
        WriteSeed(dir, "fields.url", w.build());
    }
    {
        Dcache4Writer w;
        OperaEntry e;
        e.url = "http://www.example.com/inline.html";
        e.cacheName.reset();
        e.embeddedBody = oriel::test::GzipBytes("<html>kept in the index</html>");
        e.encoding = "gzip";
        w.addEntry(e);
        e.url = "http://www.example.com/deflated.css";
        e.embeddedBody = oriel::test::DeflateBytes("body{}", false);
        e.encoding = "deflate";
        w.addEntry(e);
        std::string bytes = w.build();
        WriteSeed(dir, "embedded.url", bytes);
        WriteSeed(dir, "cut.url", bytes.substr(0, bytes.size() - 9));
    }
    WriteSeed(dir, "header-only.url", Dcache4Writer().build());
    {
        Dcache4Writer w;
        for (uint8_t id : {1, 7}) {
            OperaEntry e;
            e.url = "http://www.example.com/packed" + std::to_string(id);
            e.cacheName = "opr00002.tmp";
            e.containerObject = id;
            w.addEntry(e);
        }
        WriteSeed(dir, "container-records.url", w.build());
        WriteSeed(dir, "container.bin", oriel::test::OperaContainer({{1, "first"}, {7, "second object"}}));
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const oriel::ByteReader bytes(data, size);
    for (uint8_t id : {0, 1, 7, 255}) {
        for (uint64_t fileSize : {uint64_t(size), uint64_t(size) + 1}) {
            if (auto object = oriel::LocateOperaContainerObject(bytes, fileSize, id)) {
                if (object->offset + object->length > fileSize)
                    __builtin_trap(); // an object must lie inside its file
            }
        }
    }
    int prepared = 0;
    size_t sink = DecodeIndexImage(
        data, size,
        [](const std::string& folder, auto index) {
            auto cache = std::make_unique<oriel::OperaCache>(oriel::test::Context(), nullptr, folder);
            cache->SetDatabaseSource(std::move(index));
            return cache;
        },
        [&prepared](oriel::CCacheItem& item) -> size_t {
            // Extraction writes files: only bodies kept in the index, and a few.
            if (prepared >= 4 || item.GetFilePath() || !item.Exists())
                return 0;
            ++prepared;
            size_t made = size_t(item.PrepareFile());
            item.DeleteCacheFile();
            return made;
        },
        [data, size](oriel::CCache& cache, const std::string& folder) {
            if (HasBodyInIndex(cache))
                WriteInputFile(folder + "/" + oriel::OperaCache::kDatabaseFileName, data, size);
        });
    return sink == size_t(-1) ? 1 : 0;
}
