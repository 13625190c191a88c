// Extraction of bodies kept inside block files, decoding of encoded bodies,
// and where the working copies go.
#include "formats/InternalCacheItem.h"

#include "formats/NetscapeCacheMapCache.h"
#include "model/MimeTypes.h"
#include "platform/FileSystem.h"
#include "support/MozillaCacheWriter.h"
#include "support/TestContext.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

namespace oriel {
namespace {

namespace fs = std::filesystem;
using test::DeflateBytes;
using test::GzipBytes;
using test::MozillaCacheWriter;
using test::ReadWholeFile;
using test::TempDir;
using test::WriteFile;

std::string Page(int lines = 300)
{
    std::string page;
    for (int i = 0; i < lines; ++i)
        page += "<p>cached line " + std::to_string(i) + "</p>\n";
    return page;
}

// Every file in a folder tree with its bytes.
std::map<std::string, std::string> Snapshot(const std::string& folder)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file())
            files[fs::relative(entry.path(), folder).string()] = ReadWholeFile(entry.path().string());
    }
    return files;
}

class Decoded {
public:
    explicit Decoded(const std::string& folder)
        : cache(test::Context(), nullptr, folder)
    {
        result = cache.Decode(nullptr, false);
    }
    CCacheItem* Find(const std::string& url)
    {
        for (int32_t g = 0; g < cache.GetGroupCount(); ++g) {
            for (int32_t i = 0; i < cache.GetGroup(g)->GetCount(); ++i) {
                CCacheItem* item = cache.GetGroup(g)->ItemAt(i);
                if (url == item->GetURL())
                    return item;
            }
        }
        return nullptr;
    }
    CInternalCacheItem* Internal(const std::string& url) { return dynamic_cast<CInternalCacheItem*>(Find(url)); }

    NetscapeCacheMapCache cache;
    int result = 0;
};

std::string Extension(const std::string& type)
{
    std::string ext;
    ExtensionForType(*test::Context().Registry(), type, ext);
    return ext;
}

// A cache folder that the decoder and items must take as read-only.
class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(std::string folder)
    {
        platform::SetWritableCheckForTesting([folder](const std::string& dir) {
            std::string d = dir;
            while (d.size() > 1 && d.back() == '/')
                d.pop_back();
            return d.compare(0, folder.size(), folder) != 0;
        });
    }
    ~ReadOnlyFolder() { platform::SetWritableCheckForTesting(nullptr); }
};

TEST(CInternalCacheItem, ExtractsItsBodyToThePrivateFolderUnderItsHashAndTypeExtension)
{
    TempDir dir;
    MozillaCacheWriter w;
    const std::string page = Page(20);
    auto& e = w.Add("http://x.example/index", page, "text/html");
    e.hash = 0x001A2B3C;
    w.Write(dir.path());
    const std::string block = ReadWholeFile(dir.file("_CACHE_002_"));
    std::string extracted;
    {
        Decoded d(dir.path());
        CInternalCacheItem* item = d.Internal("http://x.example/index");
        ASSERT_NE(item, nullptr);
        EXPECT_STREQ(item->GetCacheName(), "1a2b3c");
        EXPECT_EQ(item->GetFilePath(), nullptr);
        EXPECT_TRUE(item->Exists());
        ASSERT_TRUE(item->PrepareFile());
        extracted = item->GetFilePath();
        EXPECT_EQ(extracted.rfind(platform::PrivateTempFolder(), 0), 0u) << extracted;
        EXPECT_EQ(platform::FileNameOf(extracted), "1a2b3c" + Extension("text/html"));
        EXPECT_EQ(ReadWholeFile(extracted), page);
        // Once made, the copy is used again.
        ASSERT_TRUE(item->PrepareFile());
        EXPECT_EQ(item->GetFilePath(), extracted);
    }
    EXPECT_FALSE(fs::exists(extracted)) << "the copy goes with its item";
    EXPECT_EQ(ReadWholeFile(dir.file("_CACHE_002_")), block);
}

// The place is kept in one word: the largest a map can name comes back as
// given (the last block of a 4096-byte block file, a four-block run), and
// a place past what the word holds is none, never a wrapped offset.
TEST(CInternalCacheItem, ThePlaceOfItsBytesComesBackWholeOrAsNone)
{
    const int64_t lastBlock = 4096 + ((int64_t(1) << 24) - 1) * 4096;
    CInternalCacheItem far(nullptr, 1, "http://h/a", "/a", "A", 10, 0, 0, 0, std::nullopt, 3, lastBlock, 16384);
    EXPECT_EQ(far.GetBlockFile(), 3);
    EXPECT_EQ(far.GetDataOffset(), lastBlock);
    EXPECT_EQ(far.GetDataLength(), 16384);
    const std::pair<int64_t, int32_t> outside[] = {{int64_t(1) << 40, 1024}, {-5, 1024}, {4096, 1 << 20}, {4096, -1}};
    for (const auto& [offset, length] : outside) {
        CInternalCacheItem none(nullptr, 1, "http://h/b", "/b", "B", 10, 0, 0, 0, std::nullopt, 1, offset, length);
        EXPECT_EQ(none.GetDataOffset(), -1) << offset << " " << length;
        EXPECT_EQ(none.GetDataLength(), 0) << offset << " " << length;
    }
}

TEST(CInternalCacheItem, DataOffsetAndLengthComeFromTheLocationAndTheSizeFromTheMetadata)
{
    TempDir dir;
    MozillaCacheWriter w;
    // Ten 1024-byte blocks taken first, so the entry starts at block 10.
    for (int i = 0; i < 10; ++i)
        w.Add("http://fill.example/" + std::to_string(i), std::string(1000, char('a' + i)), "text/plain").dataFile = 2;
    const std::string body = std::string(1500, 'B') + std::string(300, 'T');
    auto& e = w.Add("http://x.example/two-blocks", body, "text/plain");
    e.dataSize = 1500; // the stored size ends before the run of blocks does
    w.Write(dir.path());
    ASSERT_EQ(e.dataLocation, MozillaCacheWriter::BlockLocation(2, 10, 2));

    Decoded d(dir.path());
    CInternalCacheItem* item = d.Internal("http://x.example/two-blocks");
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->GetBlockFile(), 2);
    EXPECT_EQ(item->GetDataOffset(), 4096 + 10 * 1024);
    EXPECT_EQ(item->GetDataLength(), 2048);
    EXPECT_EQ(item->GetSize(), 1500);
    ASSERT_TRUE(item->PrepareFile());
    EXPECT_EQ(ReadWholeFile(item->GetFilePath()), std::string(1500, 'B'));
}

TEST(CInternalCacheItem, ASizeLargerThanItsRunOfBlocksExtractsOnlyTheRun)
{
    TempDir dir;
    MozillaCacheWriter w;
    auto& e = w.Add("http://x.example/liar", std::string(200, 'L'), "text/plain");
    e.dataSize = 0x7FFFFFF0;
    w.Add("http://x.example/next", std::string(200, 'N'), "text/plain");
    w.Write(dir.path());
    Decoded d(dir.path());
    CInternalCacheItem* item = d.Internal("http://x.example/liar");
    ASSERT_NE(item, nullptr);
    ASSERT_TRUE(item->PrepareFile());
    std::string bytes = ReadWholeFile(item->GetFilePath());
    EXPECT_EQ(bytes.size(), 256u);
    EXPECT_EQ(bytes.find('N'), std::string::npos);
}

TEST(CInternalCacheItem, EncodedBodiesAreDecodedOnTheWayOut)
{
    const std::string page = Page(200);
    const struct {
        const char* name;
        std::string stored;
        const char* encoding;
        std::string expected;
    } cases[] = {
        {"gzip", GzipBytes(page, test::kGzipName), "gzip", page},
        {"x-gzip", GzipBytes(page), "x-gzip", page},
        {"deflate, zlib stream", DeflateBytes(page, true), "deflate", page},
        {"deflate, raw stream", DeflateBytes(page, false), "deflate", page},
        {"gzip label on plain bytes", "not gzip at all", "gzip", "not gzip at all"},
        {"unknown encoding", "br-bytes", "br", "br-bytes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_LE(c.stored.size(), 16384u);
        TempDir dir;
        MozillaCacheWriter w;
        w.Add("http://z.example/page.html", c.stored, "text/html", c.encoding);
        w.Write(dir.path());
        Decoded d(dir.path());
        CInternalCacheItem* item = d.Internal("http://z.example/page.html");
        ASSERT_NE(item, nullptr);
        ASSERT_TRUE(item->PrepareFile());
        EXPECT_EQ(ReadWholeFile(item->GetFilePath()), c.expected);
    }
}

TEST(CInternalCacheItem, TheUrlPathGivesTheExtensionWhenTheTypeHasNone)
{
    TempDir dir;
    MozillaCacheWriter w;
    auto& e = w.Add("http://x.example/docs/report.pdf?session=1", "%PDF", "");
    e.hash = 0xABC;
    w.Write(dir.path());
    Decoded d(dir.path());
    CInternalCacheItem* item = d.Internal("http://x.example/docs/report.pdf?session=1");
    ASSERT_NE(item, nullptr);
    ASSERT_TRUE(item->PrepareFile());
    EXPECT_EQ(platform::FileNameOf(item->GetFilePath()), "abc.pdf");
}

TEST(CInternalCacheItem, AFileAlreadyAtTheTargetIsNeitherUsedNorOverwrittenNorDeleted)
{
    TempDir dir;
    MozillaCacheWriter w;
    auto& e = w.Add("http://x.example/a.txt", "the cached body", "");
    e.hash = 0xBEEF;
    w.Write(dir.path());
    WriteFile(dir.file("beef.txt"), "an examined file");
    std::string copy;
    {
        Decoded d(dir.path());
        CInternalCacheItem* item = d.Internal("http://x.example/a.txt");
        ASSERT_NE(item, nullptr);
        ASSERT_TRUE(item->PrepareFile());
        copy = item->GetFilePath();
        EXPECT_NE(copy, dir.file("beef.txt"));
        EXPECT_EQ(platform::FileNameOf(copy), "beef.txt");
        EXPECT_EQ(ReadWholeFile(copy), "the cached body");
    }
    EXPECT_EQ(ReadWholeFile(dir.file("beef.txt")), "an examined file");
    EXPECT_FALSE(fs::exists(copy));
}

TEST(CInternalCacheItem, DeletingTheItemRemovesOnlyItsCopyNeverTheBlockFile)
{
    TempDir dir;
    MozillaCacheWriter w;
    w.Add("http://x.example/k", "kept in the block file", "text/plain");
    w.Write(dir.path());
    const std::string block = ReadWholeFile(dir.file("_CACHE_001_"));
    Decoded d(dir.path());
    CInternalCacheItem* item = d.Internal("http://x.example/k");
    ASSERT_NE(item, nullptr);
    ASSERT_TRUE(item->PrepareFile());
    std::string copy = item->GetFilePath();
    EXPECT_TRUE(item->DeleteCacheFile());
    EXPECT_FALSE(fs::exists(copy));
    EXPECT_EQ(item->GetFilePath(), nullptr);
    EXPECT_EQ(ReadWholeFile(dir.file("_CACHE_001_")), block);
    EXPECT_TRUE(item->Exists());
    ASSERT_TRUE(item->PrepareFile());
    EXPECT_EQ(ReadWholeFile(item->GetFilePath()), "kept in the block file");
}

TEST(CInternalCacheItem, WithoutItsBlockFileTheItemIsMissingAndCannotBePrepared)
{
    TempDir dir;
    MozillaCacheWriter w;
    w.Add("http://x.example/k", "body", "text/plain");
    w.Write(dir.path());
    Decoded d(dir.path());
    CInternalCacheItem* item = d.Internal("http://x.example/k");
    ASSERT_NE(item, nullptr);
    fs::remove(dir.file("_CACHE_001_"));
    EXPECT_FALSE(item->PrepareFile());
    EXPECT_FALSE(item->Exists());
    EXPECT_EQ(Snapshot(dir.path()).count("_CACHE_001_"), 0u);
}

// ---------------------------------------------------------------------------
// Plain file items of the same cache: decoding into the "uc_" copy.

TEST(CFileCacheItemInMozillaCache, EncodedSeparateBodiesAreDecodedIntoAWorkingCopy)
{
    const std::string page = Page(3000); // too large for the block files
    ASSERT_GT(page.size(), 16384u);
    const struct {
        const char* name;
        std::string stored;
        const char* encoding;
        std::string expected;
    } cases[] = {
        {"gzip", GzipBytes(page, test::kGzipComment) + test::NoiseBytes(20000), "gzip", page},
        {"deflate, zlib stream", DeflateBytes(page, true) + test::NoiseBytes(20000), "deflate", page},
        {"deflate, raw stream", DeflateBytes(page, false) + test::NoiseBytes(20000), "deflate", page},
        {"deflate label on gzip bytes", GzipBytes(page) + std::string(20000, '\0'), "deflate", page},
        {"deflate label on plain bytes", page, "deflate", page},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        MozillaCacheWriter w;
        w.Add("http://f.example/big.html", c.stored, "text/html", c.encoding).dataFile = 0;
        w.Write(dir.path());
        std::string body = dir.file(w.Entries()[0].dataFileName);
        std::string copy;
        {
            Decoded d(dir.path());
            CCacheItem* item = d.Find("http://f.example/big.html");
            ASSERT_NE(item, nullptr);
            ASSERT_TRUE(item->PrepareFile());
            copy = item->GetFilePath();
            EXPECT_EQ(copy.rfind(platform::PrivateTempFolder(), 0), 0u) << copy;
            EXPECT_EQ(platform::FileNameOf(copy), "uc_" + platform::FileNameOf(w.Entries()[0].dataFileName));
            std::string decoded = ReadWholeFile(copy);
            // The zlib stream is decoded whole; trailing noise after the
            // end of the stream is not part of the body.
            EXPECT_EQ(decoded, c.expected);
        }
        EXPECT_FALSE(fs::exists(copy));
        EXPECT_EQ(ReadWholeFile(body), c.stored);
    }
}

TEST(CFileCacheItemInMozillaCache, AnExistingFileNamedLikeTheWorkingCopyIsNotOverwritten)
{
    TempDir dir;
    MozillaCacheWriter w;
    const std::string stored = GzipBytes(Page(3000)) + test::NoiseBytes(20000);
    w.Add("http://f.example/big.html", stored, "text/html", "gzip").dataFile = 0;
    w.Write(dir.path());
    const std::string name = w.Entries()[0].dataFileName;
    WriteFile(dir.file("uc_" + name), "someone else's file");
    std::string copy;
    {
        Decoded d(dir.path());
        CCacheItem* item = d.Find("http://f.example/big.html");
        ASSERT_NE(item, nullptr);
        ASSERT_TRUE(item->PrepareFile());
        copy = item->GetFilePath();
        EXPECT_NE(copy, dir.file("uc_" + name)) << "the copy goes elsewhere";
        EXPECT_EQ(platform::FileNameOf(copy), "uc_" + name);
        EXPECT_EQ(ReadWholeFile(copy), Page(3000)) << "the body is still decoded";
    }
    EXPECT_FALSE(fs::exists(copy)) << "the copy leaves with its item";
    EXPECT_EQ(ReadWholeFile(dir.file("uc_" + name)), "someone else's file");
    EXPECT_EQ(ReadWholeFile(dir.file(name)), stored);
}

TEST(CFileCacheItemInMozillaCache, ABodyThatDoesNotDecodeLeavesNoWorkingCopy)
{
    TempDir dir;
    MozillaCacheWriter w;
    w.Add("http://f.example/big.bin", test::NoiseBytes(30000), "application/octet-stream", "gzip").dataFile = 0;
    w.Write(dir.path());
    auto before = Snapshot(dir.path());
    Decoded d(dir.path());
    CCacheItem* item = d.Find("http://f.example/big.bin");
    ASSERT_NE(item, nullptr);
    ASSERT_TRUE(item->PrepareFile());
    EXPECT_EQ(item->GetFilePath(), dir.file(w.Entries()[0].dataFileName));
    EXPECT_EQ(Snapshot(dir.path()), before);
}

// ---------------------------------------------------------------------------

TEST(WorkingCopies, OnAReadOnlyCacheFolderGoToThePrivateTempFolderAndLeaveWithTheirItems)
{
    TempDir dir;
    MozillaCacheWriter w;
    const std::string page = Page(3000);
    w.Add("http://ro.example/inside.html", Page(10), "text/html");
    w.Add("http://ro.example/gz.html", GzipBytes(page) + test::NoiseBytes(20000), "text/html", "gzip").dataFile = 0;
    w.Add("http://ro.example/plain.gif", test::NoiseBytes(20000), "image/gif").dataFile = 0;
    w.Write(dir.path());
    const auto before = Snapshot(dir.path());
    const std::string privateFolder = platform::PrivateTempFolder();

    std::vector<std::string> copies;
    {
        ReadOnlyFolder readOnly(dir.path());
        Decoded d(dir.path());
        for (const char* url : {"http://ro.example/inside.html", "http://ro.example/gz.html",
                                "http://ro.example/plain.gif"}) {
            SCOPED_TRACE(url);
            CCacheItem* item = d.Find(url);
            ASSERT_NE(item, nullptr);
            ASSERT_TRUE(item->PrepareFile());
            std::string copy = item->GetFilePath();
            EXPECT_EQ(copy.compare(0, privateFolder.size(), privateFolder), 0) << copy;
            EXPECT_TRUE(fs::exists(copy));
            copies.push_back(copy);
        }
        EXPECT_EQ(ReadWholeFile(copies[0]), Page(10));
        EXPECT_EQ(ReadWholeFile(copies[1]), page);
        EXPECT_EQ(Snapshot(dir.path()), before);
    }
    for (const std::string& copy : copies)
        EXPECT_FALSE(fs::exists(copy)) << copy;
    EXPECT_EQ(Snapshot(dir.path()), before);
}

} // namespace
} // namespace oriel
