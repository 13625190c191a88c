// libFuzzer harness for the Opera dcache4.url decoder. The input is written
// as dcache4.url into a folder made once, then decoded the way the
// application does it (an OperaCache on the folder, messages off); every
// item's texts are read as the list and the CSV export read them, and the
// first items are prepared (bodies kept in the index are extracted and
// decoded) and their copies deleted again.
#include "FuzzSupport.h"

#include "formats/OperaCache.h"
#include "support/Dcache4Writer.h"
#include "support/MozillaCacheWriter.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using oriel::test::Dcache4Writer;
using oriel::test::OperaEntry;

const std::string& Folder()
{
    static const std::string* folder = [] {
        auto* dir = new std::string(
            (fs::temp_directory_path() / ("oriel-opera-fuzz-" + std::to_string(::getpid()))).string());
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
            item.GetExpiresText().size() + size_t(item.GetRecordKey()) + size_t(item.GetContentEncoding()) +
            size_t(item.Exists());
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
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string& folder = Folder();
    {
        std::ofstream out(folder + "/dcache4.url", std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    }
    oriel::OperaCache cache(nullptr, folder);
    cache.Decode(nullptr, false);
    size_t sink = 0;
    int prepared = 0;
    for (int32_t g = 0; g < cache.GetGroupCount(); ++g) {
        oriel::CNamedCacheItemArray* group = cache.GetGroup(g);
        if (const char* name = group->GetName())
            sink += std::string(name).size();
        for (int32_t i = 0; i < group->GetCount(); ++i) {
            oriel::CCacheItem& item = *group->ItemAt(i);
            TouchItem(item, sink);
            // Extraction writes files: only bodies kept in the index, and a few.
            if (prepared < 4 && !item.GetFilePath() && item.Exists()) {
                ++prepared;
                sink += size_t(item.PrepareFile());
                item.DeleteCacheFile();
            }
        }
    }
    std::ostringstream csv;
    cache.ExportCSV(csv);
    sink += csv.str().size();
    return sink == size_t(-1) ? 1 : 0;
}
