// libFuzzer harness for the Mozilla cache entry metadata parser: the input
// is one entry's metadata as read from its block run or separate file. The
// parsed texts are read whole, and an item is built from them as the
// decoder builds one (the URL split, the response head parsed).
#include "FuzzSupport.h"

#include "formats/NetscapeCacheMapCache.h"
#include "model/TextForms.h"
#include "support/MozillaCacheWriter.h"

#include <string>

namespace {

using oriel::test::MozillaCacheWriter;

std::string MetadataOf(MozillaCacheWriter::Entry entry)
{
    return MozillaCacheWriter::Metadata(entry, 0x81000010);
}

} // namespace

void WriteFuzzSeeds(const std::string& dir)
{
    MozillaCacheWriter::Entry e;
    e.key = "HTTP:http://www.example.com/index.html";
    e.body = "<html></html>";
    e.responseHead = "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Encoding: gzip\r\n"
                     "Content-Length: 13\r\n";
    e.elements = {{"request-method", "GET"}, {"charset", "UTF-8"}, {"security-info", std::string(40, 'S')}};
    WriteSeed(dir, "typical", MetadataOf(e));
    e.key = "HTTP:wyciwyg://0/http://www.example.com/written";
    WriteSeed(dir, "wyciwyg", MetadataOf(e));
    e.key = "no colon";
    WriteSeed(dir, "no-colon", MetadataOf(e));
    std::string cut = MetadataOf(e);
    WriteSeed(dir, "cut", cut.substr(0, cut.size() / 2));
    e.key = "HTTP:http://x/";
    e.metadataVersion = 0x00030001;
    WriteSeed(dir, "version-out-of-range", MetadataOf(e));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto meta = oriel::ParseCacheMapMetadata(oriel::ByteReader(data, size));
    if (!meta)
        return 0;
    size_t sink = std::string(meta->key).size() + std::string(meta->url).size();
    if (meta->headers)
        sink += std::string(*meta->headers).size();
    if (auto parts = oriel::SplitUrl(meta->url)) {
        oriel::CFileCacheItem item(nullptr, 0, meta->url, parts->path, "name", int32_t(meta->dataSize & 0x7FFFFFFF),
                                   meta->lastModified, meta->lastFetched, meta->expires,
                                   meta->headers ? oriel::OptText(*meta->headers) : std::nullopt);
        sink += item.GetSizeText().size() + item.GetLastModifiedText().size() + item.GetExpiresText().size();
        if (const char* type = item.GetContentType())
            sink += std::string(type).size();
    }
    return sink == size_t(-1) ? 1 : 0;
}
