// libFuzzer harness for the Internet Explorer index.dat decoder. The input
// is the index, in memory, of an empty folder, decoded the way the
// application does it: a ClientUrlCache on the folder, Decode with messages
// off (which opens the input as the cache's database instead of the file),
// and every item's texts read as the list and the CSV export read them.
#include "FuzzSupport.h"

#include "formats/ClientUrlCache.h"
#include "formats/IndexDatRecovery.h"
#include "support/CacheContents.h"
#include "support/IndexDatWriter.h"
#include "support/TestContext.h"

#include <cstdlib>
#include <memory>
#include <string>

namespace {

using oriel::test::FileTimeFromUnix;
using oriel::test::IndexDatUrl;
using oriel::test::IndexDatWriter;
using oriel::test::PutU32;

IndexDatUrl Entry(int i, uint8_t directory)
{
    return SeedIndexDatUrl(i, directory,
                           "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Encoding: gzip\r\n"
                           "Content-Length: 512\r\n\r\n~U:user\r\n");
}

IndexDatWriter Mixed()
{
    using Stray = IndexDatWriter::Stray;
    IndexDatWriter w;
    w.setTrailingFreeBlocks(2);
    w.setHashEntriesPerTable(4);
    w.addDirectory("ABCD1234");
    w.addDirectory("EFGH5678", 99);
    w.addUrl(Entry(0, 0));
    w.addLeak(Entry(1, 1));
    w.addRedirect("http://host1.example/moved");
    w.addFreedUrl(Entry(2, 0));
    w.addStaleUrl(Entry(3, 1));
    w.addStrayBlock(Stray::Garbage);
    w.addStrayBlock(Stray::BadFood);
    w.addStrayBlock(Stray::FakeRecord);
    w.addUrl({.url = "no-slashes", .fileName = "x"});
    w.addUrl({.url = "https://host2.example", .headers = "HTTP/1.1 200 OK\r\nContent-Type: \r\n\r\n"});
    for (int i = 4; i < 9; ++i)
        w.addUrl(Entry(i, uint8_t(i % 3)));
    return w;
}

} // namespace

void WriteFuzzSeeds(const std::string& dir)
{
    {
        IndexDatWriter w;
        w.setTrailingFreeBlocks(0);
        w.addDirectory("ABCD1234");
        w.addUrl(Entry(0, 0));
        WriteSeed(dir, "one-url.dat", w.build());
    }
    std::string mixed = Mixed().build();
    WriteSeed(dir, "mixed.dat", mixed);
    {
        std::string noBitmap = mixed;
        for (size_t i = IndexDatWriter::kBitmapOffset; i < IndexDatWriter::kFirstBlockOffset; ++i)
            noBitmap[i] = 0;
        WriteSeed(dir, "mixed-no-bitmap.dat", noBitmap);
    }
    WriteSeed(dir, "mixed-truncated.dat", mixed.substr(0, mixed.size() - 700));
    {
        IndexDatWriter w;
        w.setTrailingFreeBlocks(0);
        for (int d = 0; d < 32; ++d)
            w.addDirectory("DIR" + std::to_string(10000 + d), uint32_t(d));
        for (int i = 0; i < 6; ++i)
            w.addUrl(Entry(i, uint8_t(i * 7)));
        WriteSeed(dir, "thirty-two-directories.dat", w.build());
    }
    {
        // Damaged records: block count 0, unknown signature, texts outside
        // their record, a record running past the end.
        IndexDatWriter w;
        w.setTrailingFreeBlocks(0);
        w.addDirectory("ABCD1234");
        std::string zero = IndexDatWriter::UrlRecordBytes(Entry(0, 0), 0x204C5255);
        PutU32(zero, 4, 0);
        w.addRawRecord(zero);
        std::string junk = IndexDatWriter::UrlRecordBytes(Entry(1, 0), 0x4B4E554A);
        w.addRawRecord(junk);
        size_t outside = w.addUrl(Entry(2, 0));
        size_t last = w.addUrl(Entry(3, 0));
        std::string bytes = w.build();
        PutU32(bytes, w.recordOffset(outside) + 52, 0x1000);
        PutU32(bytes, w.recordOffset(outside) + 60, 0x80000000);
        PutU32(bytes, w.recordOffset(outside) + 68, 255);
        PutU32(bytes, w.recordOffset(last) + 4, 0x7FFFFFFF);
        PutU32(bytes, 72, 0xFFFFFFFF);
        WriteSeed(dir, "damaged.dat", bytes);
    }
    {
        IndexDatWriter w;
        w.addDirectory("ABCD1234", 7);
        WriteSeed(dir, "header-only.dat", w.build().substr(0, 255));
    }
    {
        // Deleted records in free blocks: whole, cut by later writes, and
        // ones whose block counts and text offsets lie.
        IndexDatWriter w;
        w.setTrailingFreeBlocks(0);
        w.addDirectory("ABCD1234");
        w.addStaleUrl(Entry(0, 0));
        w.addStaleLeak(Entry(1, 0));
        w.addStaleRedirect("http://host1.example/gone");
        IndexDatUrl longOne = Entry(2, 0);
        longOne.headers += std::string(400, 'h');
        w.addCutStaleUrl(longOne, 2);
        w.addUrl(Entry(3, 0));
        std::string lying = IndexDatWriter::UrlRecordBytes(Entry(4, 0), 0x204C5255);
        PutU32(lying, 4, 0xFFFFFFFF);
        PutU32(lying, 60, 0x7FFFFFFF);
        w.addRawRecord(lying, false);
        w.addCutStaleUrl(longOne, 1);
        WriteSeed(dir, "stale-records.dat", w.build());
    }
    {
        IndexDatWriter w;
        w.setTrailingFreeBlocks(1);
        w.addDirectory("ABCD1234");
        IndexDatUrl e = Entry(0, 0);
        for (uint64_t expires : {uint64_t(0), uint64_t(0x3A01), FileTimeFromUnix(1924905600), ~uint64_t(0)}) {
            e.expires = expires;
            e.lastModified = ~expires;
            w.addUrl(e);
        }
        WriteSeed(dir, "times.dat", w.build());
    }
}

namespace {

// Decodes the input with the walk split between two threads wherever it can
// be, or never; returns every group and item, the recovered ones too.
std::string Decoded(const uint8_t* data, size_t size, bool split, size_t& sink)
{
    std::string contents;
    sink += DecodeIndexImage(
        data, size,
        [split](const std::string& folder, auto index) {
            auto cache = std::make_unique<oriel::ClientUrlCache>(oriel::test::Context(), nullptr, folder);
            cache->SetDatabaseSource(std::move(index));
            cache->SetSplitWalkFrom(split ? 0 : UINT64_MAX);
            return cache;
        },
        {},
        [&contents](oriel::CCache& cache, const std::string&) { contents = oriel::test::Contents(cache); });
    return contents;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The walk split in two gives what one walk gives.
    size_t sink = 0;
    if (Decoded(data, size, true, sink) != Decoded(data, size, false, sink))
        std::abort();
    // The freed records the live walk notes on its way are the ones a look
    // at every free block finds.
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    oriel::IndexDatFile walked(bytes), looked(bytes);
    if (walked.ParseHeader() && looked.ParseHeader()) {
        size_t cursor = walked.FirstRecordOffset();
        while (walked.NextRecord(cursor)) {
        }
        const auto noted = oriel::FindIndexDatStaleRecords(walked, 4096);
        const auto all = oriel::FindIndexDatStaleRecords(looked, 4096);
        bool same = noted.size() == all.size();
        for (size_t i = 0; same && i < noted.size(); ++i)
            same = noted[i].offset == all[i].offset && noted[i].keptLength == all[i].keptLength &&
                   noted[i].partial == all[i].partial;
        if (!same)
            std::abort();
    }
    return sink == size_t(-1) ? 1 : 0;
}
