#include "model/CacheItem.h"

#include "platform/FileSystem.h"

#include "support/FakeCache.h"
#include "support/MozillaCacheWriter.h"
#include "support/TestContext.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

namespace oriel {
namespace {

using test::FakeCache;
using test::TempDir;

std::unique_ptr<CFileCacheItem> ItemWithHeaders(CCache* owner, int32_t size, const std::string& headers)
{
    return std::make_unique<CFileCacheItem>(owner, 0, "http://a/b", "/b", std::nullopt, size, 0, 0, 0, headers);
}

TEST(CacheItemHeaders, TypeAndLengthComeFromHeaders)
{
    auto item = ItemWithHeaders(nullptr, 0,
                                "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=iso-8859-1\r\n"
                                "Content-Length: 512\r\n");
    EXPECT_STREQ(item->GetContentType(), "text/html");
    EXPECT_EQ(item->GetSize(), 512);
    EXPECT_EQ(item->GetContentEncoding(), -1);
}

TEST(CacheItemHeaders, SizeFromIndexWinsOverContentLength)
{
    auto item = ItemWithHeaders(nullptr, 100, "HTTP/1.1 200 OK\r\nContent-Length: 512\r\n");
    EXPECT_EQ(item->GetSize(), 100);
}

TEST(CacheItemHeaders, EncodingNamesMapToCodes)
{
    const std::pair<const char*, int> cases[] = {
        {"gzip", 1}, {"x-gzip", 1}, {"GZIP", 1}, {"deflate", 3}, {"compress", 2}, {"x-compress", 2}, {"br", -1},
    };
    for (auto [name, code] : cases) {
        auto item = ItemWithHeaders(nullptr, 0, std::string("Content-Encoding: ") + name + "\r\n");
        EXPECT_EQ(item->GetContentEncoding(), code) << name;
    }
}

TEST(CacheItemHeaders, LastLineWithoutCrLfIsNotExamined)
{
    auto item = ItemWithHeaders(nullptr, 0, "HTTP/1.1 200 OK\r\nContent-Encoding: gzip");
    EXPECT_EQ(item->GetContentEncoding(), -1);
}

TEST(CacheItemHeaders, EmptyContentTypeIsSkippedAndALaterOneTaken)
{
    auto item = ItemWithHeaders(nullptr, 0, "Content-Type: \r\nContent-Type: image/png\r\n");
    EXPECT_STREQ(item->GetContentType(), "image/png");
}

TEST(CacheItemHeaders, FirstOfEachHeaderWinsAndNamesIgnoreCase)
{
    auto item = ItemWithHeaders(nullptr, 0,
                                "content-type: a/b\r\nCONTENT-TYPE: c/d\r\ncontent-length: 7\r\n"
                                "Content-Length: 9\r\n");
    EXPECT_STREQ(item->GetContentType(), "a/b");
    EXPECT_EQ(item->GetSize(), 7);
}

TEST(CacheItemHeaders, ShortAndOddLinesDoNotReadPastTheirEnd)
{
    auto item = ItemWithHeaders(nullptr, 0, "Content-Len\r\nContent-Typ\r\nContent-Enc\r\n\r\n");
    EXPECT_EQ(item->GetSize(), 0);
    EXPECT_EQ(item->GetContentType(), nullptr);
    EXPECT_EQ(item->GetContentEncoding(), -1);
}

TEST(CacheItemTexts, SizeAndDateTextsFollowSetters)
{
    CFileCacheItem item(nullptr, 1, "http://a/b", "/b", std::nullopt, std::nullopt, 1000, 0, -1, 0);
    EXPECT_EQ(item.GetSizeText(), "1,000");
    EXPECT_EQ(item.GetLastModifiedText(), "");
    EXPECT_EQ(item.GetDownloadedText(), "");
    item.SetSize(0);
    EXPECT_EQ(item.GetSizeText(), "0");
    item.SetDownloaded(1167609600);
    EXPECT_EQ(item.GetDownloadedText(), "1/01/2007 12:00:00 AM");
    item.SetLastModifiedText(std::string_view("Tue, 02 Jan 2007"));
    EXPECT_EQ(item.GetLastModified(), 0);
    EXPECT_EQ(item.GetLastModifiedText(), "Tue, 02 Jan 2007");
}

TEST(CacheItemTexts, NullStringsStayNull)
{
    CFileCacheItem item(nullptr, 3);
    EXPECT_EQ(item.GetURL(), nullptr);
    EXPECT_EQ(item.GetURLLength(), 0);
    EXPECT_EQ(item.GetCacheName(), nullptr);
    EXPECT_EQ(item.GetContentType(), nullptr);
    EXPECT_EQ(item.GetContentEncoding(), -1);
    EXPECT_EQ(item.GetRecordKey(), 3);
    EXPECT_EQ(item.GetFilePath(), nullptr);
    EXPECT_FALSE(item.Exists());
}

class FileCacheItemTest : public ::testing::Test {
protected:
    TempDir dir;
    FakeCache cache{dir.path()};

    std::unique_ptr<CFileCacheItem> Item(const std::string& urlPath, const std::string& cacheName,
                                         const char* contentType = nullptr, int32_t size = 0)
    {
        return std::make_unique<CFileCacheItem>(&cache, 0, "http://h" + urlPath, urlPath, cacheName,
                                                contentType ? OptText(contentType) : OptText(), size, 0, 0, 0);
    }
};

TEST_F(FileCacheItemTest, BodyWithoutExtensionIsCopiedWithTheUrlsExtensionAndTheCopyDeletedWithTheItem)
{
    test::WriteFile(dir.file("SUB/body"), "GIF89a");
    std::string copy;
    {
        auto item = Item("/pics/a.gif", "SUB\\body");
        ASSERT_TRUE(item->PrepareFile());
        copy = item->GetFilePath();
        EXPECT_EQ(copy, dir.file("SUB/body.gif"));
        EXPECT_EQ(test::ReadWholeFile(copy), "GIF89a");
        EXPECT_TRUE(item->PrepareFile()); // later calls change nothing
        EXPECT_EQ(item->GetFilePath(), copy);
    }
    EXPECT_FALSE(std::filesystem::exists(copy));
    EXPECT_TRUE(std::filesystem::exists(dir.file("SUB/body")));
}

TEST_F(FileCacheItemTest, ABodyDecodedPastTheCapIsFlaggedAndTheCutTraced)
{
    test::OptionsScope options;
    test::Options().maxDecodedBytes = 4096;
    test::TraceCapture trace(dir.file("trace.log"));
    const std::string text(10000, 'z');
    struct Case {
        const char* name;
        std::string stored;
        int32_t encoding;
        size_t decoded;
        bool cut;
    } cases[] = {
        {"long.gz", test::GzipBytes(text), CCacheItem::kEncodingGzip, 4096, true},
        {"long.z", test::DeflateBytes(text, true), CCacheItem::kEncodingDeflate, 4096, true},
        {"short.gz", test::GzipBytes(text.substr(0, 4096)), CCacheItem::kEncodingGzip, 4096, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::WriteFile(dir.file(c.name), c.stored);
        auto item = Item("/x", c.name, "text/plain", int32_t(c.stored.size()));
        item->SetContentEncoding(c.encoding);
        ASSERT_TRUE(item->PrepareFile());
        EXPECT_EQ(std::filesystem::file_size(item->GetFilePath()), c.decoded);
        EXPECT_EQ(item->IsBodyCut(), c.cut);
    }
    const std::string lines = trace.Text();
    EXPECT_NE(lines.find("CCacheItem::Decompress - The decoded body is longer than 256 MiB; only its first 256 MiB "
                         "are kept: http://h/x"),
              std::string::npos)
        << lines;
}

TEST_F(FileCacheItemTest, ExtensionIsAppendedEvenWhenTheBodyHasIt)
{
    test::WriteFile(dir.file("page.htm"), "<p>");
    auto item = Item("/page.htm", "page.htm");
    ASSERT_TRUE(item->PrepareFile());
    EXPECT_EQ(item->GetFilePath(), dir.file("page.htm.htm"));
}

TEST_F(FileCacheItemTest, AWorkingCopyNeverOverwritesAFileOfItsName)
{
    test::WriteFile(dir.file("page.htm"), "<p>");
    test::WriteFile(dir.file("PAGE.HTM.htm"), "another body");
    std::string copy;
    {
        auto item = Item("/page.htm", "page.htm");
        ASSERT_TRUE(item->PrepareFile());
        copy = item->GetFilePath();
        EXPECT_NE(platform::DirectoryOf(copy), dir.path());
        EXPECT_EQ(test::ReadWholeFile(copy), "<p>");
    }
    EXPECT_EQ(test::ReadWholeFile(dir.file("PAGE.HTM.htm")), "another body");
    EXPECT_FALSE(std::filesystem::exists(copy));
}

TEST_F(FileCacheItemTest, ContentTypeGivesTheExtensionWhenNameAndUrlHaveNone)
{
    test::WriteFile(dir.file("blob"), "x");
    auto item = Item("/download", "blob", "image/png");
    ASSERT_TRUE(item->PrepareFile());
    EXPECT_EQ(item->GetFilePath(), dir.file("blob.png"));
}

TEST_F(FileCacheItemTest, WorkingCopiesOfAReadOnlyFolderGoToAPrivateTempFolder)
{
    test::WriteFile(dir.file("RO/body"), "GIF89a");
    // As on a read-only evidence mount (root, too, cannot write there).
    std::string ro = dir.file("RO");
    platform::SetWritableCheckForTesting([ro](const std::string& d) { return d != ro; });
    std::string copy;
    {
        auto item = Item("/a.gif", "RO\\body");
        ASSERT_TRUE(item->PrepareFile());
        copy = item->GetFilePath();
        EXPECT_NE(copy.rfind(dir.path(), 0), 0u) << copy;
        EXPECT_EQ(test::ReadWholeFile(copy), "GIF89a");
    }
    platform::SetWritableCheckForTesting(nullptr);
    EXPECT_FALSE(std::filesystem::exists(copy));
    EXPECT_EQ(test::ReadWholeFile(dir.file("RO/body")), "GIF89a");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(ro), {}), 1);
}

TEST_F(FileCacheItemTest, MissingBodyStaysMissingForGood)
{
    auto item = Item("/a.gif", "gone.gif");
    EXPECT_FALSE(item->Exists());
    test::WriteFile(dir.file("gone.gif"), "x");
    EXPECT_FALSE(item->Exists()); // no further disk access once missing
    EXPECT_FALSE(item->PrepareFile());
}

TEST_F(FileCacheItemTest, SizeComesFromTheFileWhenTheIndexGivesNone)
{
    test::WriteFile(dir.file("f.bin"), std::string(1500, 'x'));
    auto item = Item("/f.bin", "f.bin");
    EXPECT_TRUE(item->Exists());
    EXPECT_EQ(item->GetSize(), 1500);
    EXPECT_EQ(item->GetSizeText(), "1,500");
}

TEST_F(FileCacheItemTest, BodiesAreFoundWhateverTheCaseOfTheirNames)
{
    test::WriteFile(dir.file("ABCD1234/067383ACd01"), "x");
    auto item = Item("/x", "abcd1234\\067383acd01");
    EXPECT_TRUE(item->Exists());
    EXPECT_EQ(item->GetFilePath(), dir.file("ABCD1234/067383ACd01"));
}

TEST_F(FileCacheItemTest, CacheNamesThatLeaveTheFolderNameNoFile)
{
    test::WriteFile(dir.file("secret"), "x");
    std::filesystem::create_directories(dir.file("cache"));
    FakeCache inner(dir.file("cache"));
    for (const char* name : {"..\\secret", "../secret", "/etc/passwd", "C:\\secret", "a\\..\\..\\secret"}) {
        CFileCacheItem item(&inner, 0, "http://h/a", "/a", name, std::nullopt, 0, 0, 0, 0);
        EXPECT_EQ(item.GetFilePath(), nullptr) << name;
        EXPECT_FALSE(item.Exists()) << name;
        EXPECT_FALSE(item.DeleteCacheFile()) << name;
    }
    EXPECT_TRUE(std::filesystem::exists(dir.file("secret")));
}

TEST_F(FileCacheItemTest, DeletingAPreparedItemRemovesTheBodyAndItsWorkingCopy)
{
    test::WriteFile(dir.file("body"), "x");
    auto item = Item("/a.gif", "body");
    ASSERT_TRUE(item->PrepareFile());
    std::string copy = item->GetFilePath();
    ASSERT_NE(copy, dir.file("body"));
    EXPECT_TRUE(item->DeleteCacheFile());
    EXPECT_FALSE(std::filesystem::exists(dir.file("body")));
    EXPECT_FALSE(std::filesystem::exists(copy));
}

TEST(CacheItemCsv, RowQuotesEveryFieldButAMissingTypeAndEndsWithAnEmptyEighthField)
{
    CFileCacheItem item(nullptr, 0, "http://a/\"q\"", "/", "X\\f", "text/html", 1234, 0, 1167609600, 0);
    std::ostringstream out;
    EXPECT_TRUE(item.WriteCSV(out));
    EXPECT_EQ(out.str(), "\"http://a/\"q\"\",\"X\\f\",\"1,234\",\"text/html\",\"\",\"1/01/2007 12:00:00 AM\",\"\",\n");

    CFileCacheItem bare(nullptr, 0);
    std::ostringstream out2;
    bare.WriteCSV(out2);
    EXPECT_EQ(out2.str(), "\"\",\"\",\"0\",,\"\",\"\",\"\",\n");
}

} // namespace
} // namespace oriel
