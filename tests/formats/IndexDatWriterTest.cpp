// The index.dat fixture writer checked against two independent readers,
// libmsiecf's msiecfexport and pasco: every live record the writer writes
// must be listed by both, and nothing it wrote as deleted or free.
#include "support/IndexDatWriter.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace oriel::test {
namespace {

bool HavePeer(const char* name)
{
    return RunCommand(std::string("command -v ") + name, nullptr) == 0;
}

#define REQUIRE_PEERS()                                                                                        \
    if (!HavePeer("msiecfexport") || !HavePeer("pasco"))                                                       \
    GTEST_SKIP() << "msiecfexport or pasco not installed"

struct PeerRecord {
    std::string type;
    std::map<std::string, std::string> fields;
};

// msiecfexport prints one block of "Name\t\t: value" lines per record.
std::vector<PeerRecord> MsiecfExport(const std::string& file, const std::string& mode = "items")
{
    std::string out;
    EXPECT_EQ(RunCommand("msiecfexport -m " + mode + " '" + file + "'", &out), 0);
    std::vector<PeerRecord> records;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        size_t colon = line.find(": ");
        if (colon == std::string::npos)
            continue;
        std::string name = line.substr(0, line.find('\t'));
        std::string value = line.substr(colon + 2);
        if (name == "Record type")
            records.push_back({value, {}});
        else if (!records.empty())
            records.back().fields[name] = value;
    }
    return records;
}

// pasco prints a title line, a column line, then one tab-separated row per
// record: type, URL, modified, accessed, file name, directory, headers.
std::vector<std::vector<std::string>> Pasco(const std::string& file)
{
    std::string out;
    EXPECT_EQ(RunCommand("pasco '" + file + "'", &out), 0);
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> cells;
        std::istringstream cellsIn(line);
        std::string cell;
        while (std::getline(cellsIn, cell, '\t'))
            cells.push_back(cell);
        if (cells.size() >= 2 && (cells[0] == "URL" || cells[0] == "LEAK" || cells[0] == "REDR"))
            rows.push_back(cells);
    }
    return rows;
}

std::vector<std::string> Sorted(std::vector<std::string> v)
{
    std::sort(v.begin(), v.end());
    return v;
}

IndexDatUrl Entry(int i, uint8_t directory)
{
    std::string name = "file" + std::to_string(i);
    return {
        .url = "http://host" + std::to_string(i % 5) + ".example/" + name + ".html",
        .fileName = name + "[1].htm",
        .headers = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n",
        .directory = directory,
        .size = uint32_t(100 + i),
        .lastModified = FileTimeFromUnix(1200000000 + i),
        .lastAccess = FileTimeFromUnix(1240000000 + i),
        .expires = FatExpiryFromUnix(1250000000 + 2 * i),
    };
}

// msiecfexport lists the records in blocks the bitmap marks allocated (and
// the rest as recovered); pasco follows the hash-table chain. Together they
// check the bitmap and the chain.
TEST(IndexDatWriter, PeersListEveryLiveRecordAndNothingDeletedOrFree)
{
    REQUIRE_PEERS();
    TempDir dir;
    IndexDatWriter w;
    w.addDirectory("ABCD1234");
    w.addDirectory("EFGH5678");
    // Short hash tables: the chain runs through several tables placed
    // between the records.
    w.setHashEntriesPerTable(7);
    struct Live {
        std::string type;
        size_t index;
        std::string url;
    };
    std::vector<Live> live;
    for (int i = 0; i < 40; ++i) {
        IndexDatUrl e = Entry(i, uint8_t(i % 2));
        if (i % 10 == 4)
            live.push_back({"LEAK", w.addLeak(e), e.url});
        else
            live.push_back({"URL", w.addUrl(e), e.url});
        switch (i % 8) {
        case 1: w.addStrayBlock(IndexDatWriter::Stray::Garbage, 2); break;
        case 3: w.addStrayBlock(IndexDatWriter::Stray::BadFood); break;
        case 5: w.addStrayBlock(IndexDatWriter::Stray::FakeRecord); break;
        case 7: w.addStrayBlock(IndexDatWriter::Stray::Zero); break;
        }
    }
    live.push_back({"REDR", w.addRedirect("http://redirected.example/old"), "http://redirected.example/old"});
    w.addStaleUrl(Entry(101, 1));
    live.push_back({"URL", w.addUrl(Entry(102, 1)), Entry(102, 1).url});
    std::string file = w.writeCache(dir.path(), false);
    ASSERT_GT(w.hashTableOffsets().size(), 5u);

    // msiecfexport: "Offset range : FIRST - END (LENGTH)"; LEAK records
    // show no location.
    std::vector<std::string> expected, exported;
    for (const Live& l : live)
        expected.push_back(l.type + " " + std::to_string(w.recordOffset(l.index)) + " " +
                           (l.type == "LEAK" ? "" : l.url));
    for (const PeerRecord& r : MsiecfExport(file)) {
        std::string range = r.fields.count("Offset range") ? r.fields.at("Offset range") : "";
        std::string location = r.fields.count("Location") ? r.fields.at("Location") : "";
        exported.push_back(r.type + " " + range.substr(0, range.find(' ')) + " " + location);
    }
    EXPECT_EQ(Sorted(exported), Sorted(expected));

    expected.clear();
    for (const Live& l : live)
        expected.push_back(l.type + " " + l.url);
    std::vector<std::string> pasco;
    for (const auto& row : Pasco(file))
        pasco.push_back(row[0] + " " + row[1]);
    EXPECT_EQ(Sorted(pasco), Sorted(expected));
}

TEST(IndexDatWriter, PeersListEveryRecordOfAFullHashTableChain)
{
    REQUIRE_PEERS();
    TempDir dir;
    IndexDatWriter w;
    w.addDirectory("ABCD1234");
    constexpr int kRecords = 2 * IndexDatWriter::kHashEntriesPerTable + 3;
    for (int i = 0; i < kRecords; ++i)
        w.addUrl(Entry(i, 0));
    std::string file = w.writeCache(dir.path(), false);
    EXPECT_EQ(w.hashTableOffsets().size(), 3u);
    EXPECT_EQ(MsiecfExport(file).size(), size_t(kRecords));
    EXPECT_EQ(Pasco(file).size(), size_t(kRecords));
}

TEST(IndexDatWriter, PeersReadTimesTextsAndSubFoldersAsWritten)
{
    REQUIRE_PEERS();
    TempDir dir;
    IndexDatWriter w;
    w.addDirectory("ABCD1234");
    w.addDirectory("WXYZ9876");
    // 2009-06-01 12:34:56, 2008-02-29 23:59:58 and 2030-12-31 00:00:00 UTC.
    w.addUrl({
        .url = "http://a.example/b.gif",
        .fileName = "b[1].gif",
        .headers = "HTTP/1.1 200 OK\r\nContent-Type: image/gif\r\n\r\n",
        .directory = 1,
        .size = 43,
        .lastModified = FileTimeFromUnix(1204329598),
        .lastAccess = FileTimeFromUnix(1243859696),
        .expires = FatExpiryFromUnix(1924905600),
    });
    std::string file = w.writeCache(dir.path(), false);

    auto records = MsiecfExport(file);
    ASSERT_EQ(records.size(), 1u);
    const auto& f = records[0].fields;
    EXPECT_EQ(records[0].type, "URL");
    EXPECT_EQ(f.at("Primary time"), "Jun 01, 2009 12:34:56.000000000");
    EXPECT_EQ(f.at("Secondary time"), "Feb 29, 2008 23:59:58.000000000");
    // The FAT date sits in the lower 16 bits of the expiry field, the time
    // in the upper 16.
    EXPECT_EQ(f.at("Expiration time"), "Dec 31, 2030 00:00:00");
    EXPECT_EQ(f.at("Filename"), "b[1].gif");
    EXPECT_EQ(f.at("Cache directory index"), "1 (0x01)(WXYZ9876)");

    auto rows = Pasco(file);
    ASSERT_EQ(rows.size(), 1u);
    ASSERT_GE(rows[0].size(), 7u);
    EXPECT_EQ(rows[0][2], "02/29/2008 23:59:58");
    EXPECT_EQ(rows[0][3], "06/01/2009 12:34:56");
    EXPECT_EQ(rows[0][4], "b[1].gif");
    EXPECT_EQ(rows[0][5], "WXYZ9876");
    EXPECT_EQ(rows[0][6].substr(0, 15), "HTTP/1.1 200 OK");
}

TEST(IndexDatWriter, RecordsInFreeBlocksAreOnlyRecoverable)
{
    REQUIRE_PEERS();
    TempDir dir;
    IndexDatWriter w;
    w.addDirectory("ABCD1234");
    w.addUrl(Entry(1, 0));
    w.addStaleUrl(Entry(2, 0));
    w.addUrl(Entry(3, 0));
    std::string file = w.writeCache(dir.path(), false);

    auto items = MsiecfExport(file, "items");
    ASSERT_EQ(items.size(), 2u);
    auto recovered = MsiecfExport(file, "recovered");
    ASSERT_EQ(recovered.size(), 1u);
    EXPECT_EQ(recovered[0].fields.at("Location"), Entry(2, 0).url);
}

TEST(IndexDatWriter, HeaderAndBitmapDescribeTheFile)
{
    IndexDatWriter w;
    w.addDirectory("ABCD1234");
    w.addDirectory("EFGH5678", 77);
    size_t first = w.addUrl(Entry(1, 0));
    size_t stray = w.addStrayBlock(IndexDatWriter::Stray::Garbage, 3);
    size_t second = w.addUrl(Entry(2, 0));
    std::string bytes = w.build();
    auto u32 = [&bytes](size_t off) {
        return uint32_t(uint8_t(bytes[off])) | uint32_t(uint8_t(bytes[off + 1])) << 8 |
               uint32_t(uint8_t(bytes[off + 2])) << 16 | uint32_t(uint8_t(bytes[off + 3])) << 24;
    };
    auto allocated = [&bytes](uint32_t offset) {
        uint32_t bit = (offset - 0x4000) / 128;
        return (uint8_t(bytes[0x250 + bit / 8]) >> (bit % 8)) & 1;
    };
    EXPECT_EQ(bytes.substr(0, 28), std::string("Client UrlCache MMF Ver 5.2\0", 28));
    EXPECT_EQ(u32(28), bytes.size());
    EXPECT_EQ(bytes.size() % 0x8000, 0u);
    EXPECT_EQ(u32(32), 0x4000u);
    EXPECT_EQ(u32(36), (bytes.size() - 0x4000) / 128);
    EXPECT_EQ(u32(72), 2u);
    EXPECT_EQ(u32(76), 2u);  // counted: both URLs name the first folder
    EXPECT_EQ(u32(88), 77u); // as given
    EXPECT_EQ(bytes.substr(92, 8), "EFGH5678");
    EXPECT_EQ(bytes.substr(0x4000, 4), "HASH");

    uint32_t set = 0;
    for (size_t i = 0x250; i < 0x4000; ++i)
        set += uint32_t(__builtin_popcount(uint8_t(bytes[i])));
    EXPECT_EQ(u32(40), set);
    EXPECT_EQ(set, 32u + 2u + 2u); // hash table and two 2-block records
    EXPECT_TRUE(allocated(w.recordOffset(first)));
    EXPECT_TRUE(allocated(w.recordOffset(first) + 128));
    for (uint32_t b = 0; b < 3; ++b)
        EXPECT_FALSE(allocated(w.recordOffset(stray) + b * 128));
    EXPECT_TRUE(allocated(w.recordOffset(second)));
    EXPECT_EQ(w.recordOffset(second), w.recordOffset(stray) + 3 * 128);
}

} // namespace
} // namespace oriel::test
