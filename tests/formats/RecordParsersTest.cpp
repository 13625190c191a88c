// The pure parsers of each on-disk structure, over bytes our writers build
// and then cut or damage.
#include "formats/IndexDatFile.h"
#include "formats/NetscapeCacheDBCache.h"
#include "formats/NetscapeCacheMapCache.h"
#include "formats/NetscapeFatDBCache.h"
#include "formats/OperaCache.h"
#include "support/Dcache4Writer.h"
#include "support/IndexDatWriter.h"
#include "support/MozillaCacheWriter.h"
#include "support/NetscapeDbWriter.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace oriel {
namespace {

using test::IndexDatUrl;
using test::IndexDatWriter;
using test::PutU32;

void PutU32BE(std::string& bytes, size_t offset, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[offset + size_t(i)] = char((value >> (24 - 8 * i)) & 0xFF);
}

// ---------------------------------------------------------------------------
// index.dat

TEST(ParseIndexDatHeader, ReadsTheDirectoriesAndCutsCountsToWhatFits)
{
    IndexDatWriter w;
    w.addDirectory("ABCD1234", 3);
    w.addDirectory("EFGH5678", 9);
    w.addUrl({.url = "http://a/b", .fileName = "b[1]"});
    const std::string bytes = w.build();

    auto header = ParseIndexDatHeader(ByteReader(bytes));
    ASSERT_TRUE(header);
    EXPECT_EQ(header->firstRecord, w.hashTableOffsets().front());
    ASSERT_EQ(header->directories.size(), 2u);
    EXPECT_EQ(header->directories[1].name, "EFGH5678");
    EXPECT_EQ(header->directories[1].fileCount, 9);
    EXPECT_TRUE(header->usesBitmap);

    struct Case {
        const char* what;
        size_t keep;     // bytes kept
        uint32_t count;  // directory count written at 72
        size_t expected; // directories parsed
    };
    const Case cases[] = {
        {"a huge count stops at the bitmap", bytes.size(), 0xFFFFFFFF, (0x250 - 76) / 12},
        {"a huge count in a short file stops at its end", 255, 0xFFFFFFFF, (255 - 76) / 12},
        {"zero directories", bytes.size(), 0, 0},
    };
    for (const Case& c : cases) {
        std::string damaged = bytes.substr(0, c.keep);
        PutU32(damaged, 72, c.count);
        auto parsed = ParseIndexDatHeader(ByteReader(damaged));
        ASSERT_TRUE(parsed) << c.what;
        EXPECT_EQ(parsed->directories.size(), c.expected) << c.what;
    }
}

TEST(ParseIndexDatHeader, RefusesShortFilesAndOtherSignatures)
{
    IndexDatWriter w;
    w.addDirectory("ABCD1234");
    const std::string bytes = w.build();
    EXPECT_FALSE(ParseIndexDatHeader(ByteReader(bytes.substr(0, 254))));
    EXPECT_FALSE(ParseIndexDatHeader(ByteReader()));
    std::string other = bytes;
    other[26] = '3'; // "Ver 5.3"
    EXPECT_FALSE(ParseIndexDatHeader(ByteReader(other)));

    std::string noBitmap = bytes;
    std::fill(noBitmap.begin() + 0x250, noBitmap.begin() + 0x4000, '\0');
    auto header = ParseIndexDatHeader(ByteReader(noBitmap));
    ASSERT_TRUE(header);
    EXPECT_FALSE(header->usesBitmap);
}

TEST(ParseIndexDatHashTable, ListsTheSlotsAndRefusesTablesPastTheEnd)
{
    IndexDatWriter w;
    w.setTrailingFreeBlocks(0);
    w.addDirectory("ABCD1234");
    size_t url = w.addUrl({.url = "http://a/b", .fileName = "b[1]"});
    const std::string bytes = w.build();
    const size_t at = w.hashTableOffsets().front();
    const ByteReader file(bytes);

    auto table = ParseIndexDatHashTable(file.sub(at, bytes.size() - at));
    ASSERT_TRUE(table);
    EXPECT_EQ(table->next, 0u);
    EXPECT_EQ(table->entries.size(), IndexDatWriter::kHashEntriesPerTable);
    EXPECT_EQ(table->entries.front().offset, 16u);
    EXPECT_TRUE(std::any_of(table->entries.begin(), table->entries.end(),
                            [&](const auto& slot) { return slot.record == w.recordOffset(url); }));

    // The table cut short, a block count past the end, no table at all.
    const size_t tableLength = IndexDatWriter::kHashTableBlocks * IndexDatWriter::kBlockSize;
    EXPECT_FALSE(ParseIndexDatHashTable(file.sub(at, tableLength - 1)));
    std::string huge = bytes;
    PutU32(huge, at + 4, 0xFFFFFFFF);
    EXPECT_FALSE(ParseIndexDatHashTable(ByteReader(huge).sub(at, huge.size() - at)));
    EXPECT_FALSE(ParseIndexDatHashTable(file.sub(w.recordOffset(url), 4096)));
    EXPECT_FALSE(ParseIndexDatHashTable(file.sub(at, 7)));
    // A table of no blocks has no slots.
    std::string empty = bytes;
    PutU32(empty, at + 4, 0);
    auto none = ParseIndexDatHashTable(ByteReader(empty).sub(at, 16));
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->entries.empty());
}

TEST(ParseIndexDatUrlRecord, TextsOutsideTheRecordOrCutOffAreAbsent)
{
    const IndexDatUrl entry{.url = "http://a.example/b.gif",
                            .fileName = "b[1].gif",
                            .headers = "HTTP/1.1 200 OK\r\n\r\n",
                            .directory = 2,
                            .size = 777};
    const std::string record = IndexDatWriter::UrlRecordBytes(entry, IndexDatFile::kSigUrl);

    auto whole = ParseIndexDatUrlRecord(ByteReader(record));
    EXPECT_EQ(whole.url, "http://a.example/b.gif");
    EXPECT_EQ(whole.fileName, "b[1].gif");
    EXPECT_EQ(whole.headers, "HTTP/1.1 200 OK\r\n\r\n");
    EXPECT_EQ(whole.directoryIndex, 2);
    EXPECT_EQ(whole.size, 777u);
    EXPECT_FALSE(whole.freed);

    // Cut just after the fixed fields: the numbers stay, the texts go.
    auto cut = ParseIndexDatUrlRecord(ByteReader(record.substr(0, 72)));
    EXPECT_EQ(cut.size, 777u);
    EXPECT_FALSE(cut.url);
    EXPECT_FALSE(cut.fileName);
    EXPECT_FALSE(cut.headers);
    // Cut before the directory index and the size.
    auto stub = ParseIndexDatUrlRecord(ByteReader(record.substr(0, 20)));
    EXPECT_EQ(stub.size, 0u);
    EXPECT_EQ(stub.directoryIndex, 0xFF);

    std::string outside = record;
    PutU32(outside, 52, uint32_t(record.size()));
    PutU32(outside, 60, 0x80000000); // negative: absent
    auto moved = ParseIndexDatUrlRecord(ByteReader(outside));
    EXPECT_FALSE(moved.url);
    EXPECT_FALSE(moved.fileName);
    EXPECT_TRUE(moved.headers);

    const std::string freed = IndexDatWriter::UrlRecordBytes(entry, IndexDatFile::kSigUrl, true);
    auto gone = ParseIndexDatUrlRecord(ByteReader(freed));
    EXPECT_TRUE(gone.freed);
    EXPECT_FALSE(gone.url);
}

// ---------------------------------------------------------------------------
// _CACHE_MAP_

test::MozillaCacheWriter ThreeEntries(test::MozillaCacheWriter::MapFormat format)
{
    test::MozillaCacheWriter w;
    w.SetFormat(format);
    w.Add("http://a.example/1", "one");
    w.Add("http://a.example/2", std::string(3000, 'x'));
    w.Add("http://b.example/3", std::string(20000, 'y'));
    return w;
}

TEST(ParseCacheMapHeader, TellsTheMapKindsApartAndRefusesShortMaps)
{
    using Format = test::MozillaCacheWriter::MapFormat;
    auto records = ThreeEntries(Format::RecordArray).SetDirty(true).Build().map;
    auto header = ParseCacheMapHeader(ByteReader(records));
    ASSERT_TRUE(header);
    EXPECT_FALSE(header->buckets);
    EXPECT_TRUE(header->dirty);
    EXPECT_EQ(header->size, 276u);
    EXPECT_EQ(header->entryCount, 3u);

    auto buckets = ThreeEntries(Format::Buckets).Build().map;
    PutU32BE(buckets, 12, 1); // no dirty flag in a bucket map
    auto bucketHeader = ParseCacheMapHeader(ByteReader(buckets));
    ASSERT_TRUE(bucketHeader);
    EXPECT_TRUE(bucketHeader->buckets);
    EXPECT_FALSE(bucketHeader->dirty);
    EXPECT_EQ(bucketHeader->size, 4096u);
    EXPECT_EQ(bucketHeader->version, cachemap::kBucketMapVersion);

    EXPECT_FALSE(ParseCacheMapHeader(ByteReader(records.substr(0, 11))));
    auto twelve = ParseCacheMapHeader(ByteReader(records.substr(0, 12)));
    ASSERT_TRUE(twelve);
    EXPECT_FALSE(twelve->dirty); // the flag's word is not there
}

TEST(ParseCacheMapRecords, TakeNoMoreThanTheLimitAndTheWholeRecordsThere)
{
    using Format = test::MozillaCacheWriter::MapFormat;
    for (Format format : {Format::RecordArray, Format::Buckets}) {
        auto writer = ThreeEntries(format);
        const std::string map = writer.Build().map;
        const ByteReader bytes(map);
        const auto header = *ParseCacheMapHeader(bytes);
        const ByteReader records = bytes.sub(header.size, map.size());

        std::vector<CacheMapRecord> all;
        EXPECT_FALSE(ParseCacheMapRecords(records, header.buckets, 1000, all));
        ASSERT_EQ(all.size(), 3u);
        std::vector<uint32_t> metas;
        for (const auto& r : all)
            metas.push_back(r.metaLocation);
        for (const auto& e : writer.Entries())
            EXPECT_NE(std::find(metas.begin(), metas.end(), e.metaLocation), metas.end());

        std::vector<CacheMapRecord> some;
        ParseCacheMapRecords(records, header.buckets, 2, some);
        EXPECT_EQ(some.size(), 2u);
        std::vector<CacheMapRecord> none;
        ParseCacheMapRecords(records, header.buckets, 0, none);
        EXPECT_TRUE(none.empty());
        std::vector<CacheMapRecord> empty;
        ParseCacheMapRecords(ByteReader(), header.buckets, 1000, empty);
        EXPECT_TRUE(empty.empty());
    }
    // A record array cut in its last record keeps the whole ones.
    const std::string map = ThreeEntries(Format::RecordArray).Build().map;
    std::vector<CacheMapRecord> all;
    ParseCacheMapRecords(ByteReader(map).sub(276, map.size()), false, 1000, all);
    size_t lastEnd = 0;
    for (size_t off = 276; off + 16 <= map.size(); off += 16) {
        if (ParseCacheMapRecord(ByteReader(map), off)->hashNumber != 0)
            lastEnd = off + 16;
    }
    std::vector<CacheMapRecord> cut;
    const std::string cutMap = map.substr(0, lastEnd - 1);
    ParseCacheMapRecords(ByteReader(cutMap).sub(276, cutMap.size()), false, 1000, cut);
    EXPECT_EQ(cut.size(), all.size() - 1);
    EXPECT_FALSE(ParseCacheMapRecord(ByteReader(map), map.size() - 15));
}

TEST(ParseCacheMapRecords, BucketsWrittenLittleEndianAreSwapped)
{
    using Format = test::MozillaCacheWriter::MapFormat;
    auto big = ThreeEntries(Format::Buckets).Build().map;
    auto little = ThreeEntries(Format::Buckets).SetLittleEndianRecords(true).Build().map;
    std::vector<CacheMapRecord> fromBig, fromLittle;
    EXPECT_FALSE(ParseCacheMapRecords(ByteReader(big).sub(4096, big.size()), true, 100, fromBig));
    EXPECT_TRUE(ParseCacheMapRecords(ByteReader(little).sub(4096, little.size()), true, 100, fromLittle));
    ASSERT_EQ(fromLittle.size(), fromBig.size());
    for (size_t i = 0; i < fromBig.size(); ++i) {
        EXPECT_EQ(fromLittle[i].hashNumber, fromBig[i].hashNumber);
        EXPECT_EQ(fromLittle[i].dataLocation, fromBig[i].dataLocation);
        EXPECT_EQ(fromLittle[i].metaLocation, fromBig[i].metaLocation);
    }
}

TEST(ParseCacheMapMetadata, KeyLengthsPastTheBytesReadEndTheKeyThere)
{
    test::MozillaCacheWriter::Entry e;
    e.key = "HTTP:http://a.example/page";
    std::string meta = test::MozillaCacheWriter::Metadata(e, 0x81000010);
    PutU32BE(meta, 28, 0xFFFFFFF0); // key size far past the end
    const std::string cut = meta.substr(0, 36 + 10);
    auto parsed = ParseCacheMapMetadata(ByteReader(cut));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->key, "HTTP:http:");
    EXPECT_EQ(parsed->url, "http:");
    EXPECT_FALSE(parsed->headers);
}

// ---------------------------------------------------------------------------
// cache.db and fat.db

TEST(HashDbParseHeader, RefusesShortHeadersAndPageSizesOutOfRange)
{
    struct Case {
        uint32_t pageSize;
        size_t keep;
        bool ok;
    };
    const Case cases[] = {
        {512, 60, true}, {512, 59, false}, {64, 60, true}, {63, 60, false}, {32768, 60, true}, {32769, 60, false},
        {0, 60, false},
    };
    test::NetscapeDbWriter w(test::NetscapeDbWriter::Kind::CacheDb);
    w.setPageSize(512).setKeyCount(7);
    const std::string bytes = w.build();
    for (const Case& c : cases) {
        std::string header = bytes.substr(0, c.keep);
        if (header.size() >= 16)
            PutU32BE(header, 12, c.pageSize);
        auto parsed = hashdb::ParseHeader(ByteReader(header));
        EXPECT_EQ(parsed.has_value(), c.ok) << c.pageSize << " " << c.keep;
        if (parsed) {
            EXPECT_EQ(parsed->pageSize, c.pageSize);
            EXPECT_EQ(parsed->keyCount, 7u);
        }
    }
}

TEST(HashDbPageOffset, PagesThatCannotBeAddressedHaveNoOffset)
{
    EXPECT_EQ(hashdb::PageOffset(3, 512), 1536u);
    EXPECT_FALSE(hashdb::PageOffset(1, 0));
    EXPECT_FALSE(hashdb::PageOffset(UINT64_MAX / 2, 32768));
    EXPECT_FALSE(hashdb::PageOffset(uint64_t(1) << 48, 32768)); // past INT64_MAX
}

// The page that holds pair `index` of a built file.
std::string PageOf(const std::string& file, const test::NetscapeDbWriter& w, size_t index)
{
    return file.substr(size_t(w.placement(index).page) * w.pageSize(), w.pageSize());
}

TEST(ParseCacheDbRecord, ReadsTheTextsAndTimesAndRefusesDamagedPairs)
{
    test::NetscapeDbWriter w(test::NetscapeDbWriter::Kind::CacheDb);
    w.setPageSize(1024);
    test::CacheDbEntry entry;
    entry.url = "http://a.example/page.htm";
    entry.bodyPath = "C:\\NS\\cache\\M0001.htm";
    entry.downloaded = 1000;
    entry.lastModified = -5;
    entry.expires = 3000;
    w.addCacheEntry(entry);
    const std::string file = w.build();
    const std::string page = PageOf(file, w, 0);
    const auto at = w.placement(0);

    auto record = ParseCacheDbRecord(ByteReader(page), at.keyOffset, at.dataOffset, 1024);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->url, "http://a.example/page.htm");
    EXPECT_EQ(hashdb::UpToNul(record->bodyPath), "C:\\NS\\cache\\M0001.htm");
    EXPECT_EQ(record->headers, "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n");
    EXPECT_EQ(record->downloaded, 1000);
    EXPECT_EQ(record->lastModified, -5);
    EXPECT_EQ(record->expires, 3000);

    struct Case {
        const char* what;
        size_t offset; // within the page, from the data record
        uint32_t value;
    };
    const Case cases[] = {
        {"record length 0", 0, 0},
        {"record length of a page", 0, 1024},
        {"check words differ", 4, 0x12345678},
        {"URL length past the page", 8, 5000},
        {"URL length above the text limit", 8, hashdb::kMaxTextLength + 1},
    };
    for (const Case& c : cases) {
        std::string damaged = page;
        PutU32(damaged, at.dataOffset + c.offset, c.value);
        EXPECT_FALSE(ParseCacheDbRecord(ByteReader(damaged), at.keyOffset, at.dataOffset, 1024)) << c.what;
    }
    std::string own = page;
    own[at.keyOffset] = 'S';
    own[at.keyOffset + 1] = 'E';
    EXPECT_FALSE(ParseCacheDbRecord(ByteReader(own), at.keyOffset, at.dataOffset, 1024));
    // Offsets at and past the end of the bytes.
    EXPECT_FALSE(ParseCacheDbRecord(ByteReader(page), page.size(), at.dataOffset, 1024));
    EXPECT_FALSE(ParseCacheDbRecord(ByteReader(page), at.keyOffset, page.size() - 2, 1024));
    EXPECT_FALSE(ParseCacheDbRecord(ByteReader(page.substr(0, at.dataOffset + 20)), at.keyOffset, at.dataOffset, 1024));
}

TEST(ParseFatDbRecord, TellsUnreadableRecordsFromUnsupportedVersions)
{
    using Status = FatDbRecord::Status;
    struct Case {
        uint32_t version;
        Status expected;
    };
    const Case cases[] = {
        {2, Status::Parsed},
        {4, Status::Parsed},
        {5, Status::Parsed},
        {1, Status::UnsupportedVersion},
        {6, Status::UnsupportedVersion},
        {test::NetscapeDbWriter::kInternalVersion, Status::Unreadable},
    };
    for (const Case& c : cases) {
        test::NetscapeDbWriter w(test::NetscapeDbWriter::Kind::FatDb);
        w.setPageSize(1024);
        test::FatDbEntry entry;
        entry.url = "http://a.example/x.gif";
        entry.cacheName = "M0001.gif";
        entry.contentType = "image/gif";
        entry.version = c.version;
        entry.size = 4321;
        entry.expires = -7;
        w.addFatEntry(entry);
        const std::string file = w.build();
        const std::string page = PageOf(file, w, 0);
        const auto at = w.placement(0);
        FatDbRecord record = ParseFatDbRecord(ByteReader(page), at.dataOffset, at.keyOffset, 1024);
        EXPECT_EQ(record.status, c.expected) << c.version;
        if (record.status != Status::Parsed)
            continue;
        EXPECT_EQ(record.url, "http://a.example/x.gif");
        EXPECT_EQ(record.cacheName, "M0001.gif");
        EXPECT_EQ(record.contentType, "image/gif");
        EXPECT_EQ(record.size, 4321u);
        EXPECT_EQ(record.expires, -7);

        // The cache name's length past the page; the key's length 0.
        std::string longName = page;
        PutU32(longName, at.dataOffset + 29, 0xFFFF);
        EXPECT_EQ(ParseFatDbRecord(ByteReader(longName), at.dataOffset, at.keyOffset, 1024).status,
                  Status::MissingText);
        std::string noKey = page;
        PutU32(noKey, at.keyOffset, 0);
        EXPECT_EQ(ParseFatDbRecord(ByteReader(noKey), at.dataOffset, at.keyOffset, 1024).status, Status::Unreadable);
        EXPECT_EQ(ParseFatDbRecord(ByteReader(page.substr(0, at.dataOffset + 10)), at.dataOffset, at.keyOffset, 1024)
                      .status,
                  Status::Unreadable);
    }
}

// ---------------------------------------------------------------------------
// dcache4.url

TEST(ParseOperaHeader, TakesVersionsFrom4096To8191InAWholeHeader)
{
    struct Case {
        uint32_t version;
        size_t keep;
        bool ok;
    };
    const Case cases[] = {
        {4096, 12, true}, {8191, 12, true}, {4095, 12, false}, {8192, 12, false}, {4096, 11, false},
    };
    for (const Case& c : cases) {
        std::string bytes = test::Dcache4Writer().setFileVersion(c.version).build().substr(0, c.keep);
        EXPECT_EQ(ParseOperaHeader(ByteReader(bytes)).has_value(), c.ok) << c.version << " " << c.keep;
    }
}

TEST(ParseOperaRecordHead, ReadsTagAndLengthAndNothingPastTheEnd)
{
    test::Dcache4Writer w;
    w.addRawRecord(7, "abc");
    const std::string bytes = w.build();
    auto head = ParseOperaRecordHead(ByteReader(bytes), 12);
    ASSERT_TRUE(head);
    EXPECT_EQ(head->tag, 7);
    EXPECT_EQ(head->length, 3);
    EXPECT_FALSE(ParseOperaRecordHead(ByteReader(bytes.substr(0, 14)), 12));
    EXPECT_FALSE(ParseOperaRecordHead(ByteReader(bytes), bytes.size()));
    EXPECT_FALSE(ParseOperaRecordHead(ByteReader(bytes), SIZE_MAX));
}

} // namespace
} // namespace oriel
