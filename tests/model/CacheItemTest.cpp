#include "model/CacheItem.h"

#include "platform/FileSystem.h"

#include "platform/MemoryRegistry.h"
#include "platform/WindowsSystem.h"
#include "support/FakeCache.h"
#include "support/FolderSnapshot.h"
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

// A line ends at CR LF only (a bare CR or LF is inside it), the text at
// its first NUL, and only "Content-" itself opens a line the item reads.
TEST(CacheItemHeaders, LinesEndAtCrLfTheTextAtItsFirstNulAndNamesMatchLetterForLetter)
{
    using namespace std::string_literals;
    const struct {
        std::string headers;
        int32_t size;
        const char* type;
    } cases[] = {
        {"Content-Length: 5\0\r\nContent-Type: a/b\r\n"s, 0, nullptr},
        {"Content-Type: image/png\r\n\0Content-Length: 10\r\n"s, 0, "image/png"},
        {"X: 1\nContent-Length: 5\r\n", 0, nullptr},
        {"\nContent-Length: 6\r\n", 0, nullptr},
        {"X: 1\r\nContent-Length: 5\r\rContent-Type: a/b\r\n", 5, nullptr},
        {"HTTP/1.1 200 OK\r\nCONTENT-LENGTH: 8\r\ncOnTeNt-TyPe: c/d\r\n", 8, "c/d"},
        {"Content_Length: 9\r\nContent\x0dLength: 9\r\nContenu-Length: 9\r\n", 0, nullptr},
        {"\r\n\r\nContent-Length: 12\r\n", 12, nullptr},
    };
    for (const auto& c : cases) {
        auto item = ItemWithHeaders(nullptr, 0, c.headers);
        EXPECT_EQ(item->GetSize(), c.size) << c.headers;
        if (c.type)
            EXPECT_STREQ(item->GetContentType(), c.type) << c.headers;
        else
            EXPECT_EQ(item->GetContentType(), nullptr) << c.headers;
    }
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

// A date kept only as text is what every reader of the date gets: the
// list's text, the export's field, the time to sort by; a text of any
// length.
TEST(CacheItemTexts, ALastModifiedTextStandsInForTheTime)
{
    for (const std::string& text : {std::string("Mon, 01 Jun 2009 12:00:00 GMT"), std::string(200000, 'd')}) {
        FakeCache cache("/some/cache");
        auto item = std::make_unique<CFileCacheItem>(&cache, 1, "http://a/b", "/b", "N\\b", std::nullopt, 1, 0, 0, 0);
        CFileCacheItem& kept = *item;
        cache.AddItem("a", std::move(item));
        kept.SetLastModifiedText(text);
        EXPECT_EQ(kept.GetLastModified(), 0);
        std::string appended = "<";
        kept.AppendLastModifiedText(appended);
        EXPECT_EQ(appended, "<" + text);
        std::ostringstream row;
        kept.WriteCSV(row);
        EXPECT_EQ(row.str(), "\"http://a/b\",\"N\\b\",\"1\",,\"" + text + "\",\"\",\"\",\n");
        EXPECT_EQ(kept.GetLastModifiedSortTime(), text.size() < 100 ? 1243857600 : 0);
        EXPECT_EQ(kept.GetLastModifiedText(), text);
    }
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

// A cache decoded for a caller that never shows headers keeps none, own or
// shared, yet takes the type, length and encoding from them as before.
TEST_F(FileCacheItemTest, ACacheThatKeepsNoHeadersStillTakesTheirFields)
{
    const std::string headers = "HTTP/1.1 200 OK\r\nContent-Type: text/css\r\nContent-Length: 77\r\n"
                                "Content-Encoding: gzip\r\n";
    for (const bool keep : {true, false}) {
        cache.SetKeepsHeaders(keep);
        auto own = ItemWithHeaders(&cache, 0, headers);
        auto shared = Item("/s", "s");
        shared->SetSharedHeaders(std::make_shared<const std::string>(headers));
        for (CCacheItem* item : {static_cast<CCacheItem*>(own.get()), static_cast<CCacheItem*>(shared.get())}) {
            EXPECT_STREQ(item->GetContentType(), "text/css") << keep;
            EXPECT_EQ(item->GetSize(), 77) << keep;
            EXPECT_EQ(item->GetContentEncoding(), 1) << keep;
            if (keep)
                EXPECT_STREQ(item->GetHeaders(), headers.c_str());
            else
                EXPECT_EQ(item->GetHeaders(), nullptr);
        }
    }
}

// Working copies go to the private temp folder, never beside the body:
// the cache folder is left exactly as it was.
TEST_F(FileCacheItemTest, BodyWithoutExtensionIsCopiedWithTheUrlsExtensionAndTheCopyDeletedWithTheItem)
{
    test::WriteFile(dir.file("SUB/body"), "GIF89a");
    const test::FolderSnapshot before = test::SnapshotFolder(dir.path());
    std::string copy;
    {
        auto item = Item("/pics/a.gif", "SUB\\body");
        ASSERT_TRUE(item->PrepareFile());
        copy = item->GetFilePath();
        EXPECT_EQ(copy.rfind(platform::PrivateTempFolder(), 0), 0u) << copy;
        EXPECT_EQ(platform::FileNameOf(copy), "body.gif");
        EXPECT_EQ(test::ReadWholeFile(copy), "GIF89a");
        EXPECT_TRUE(item->PrepareFile()); // later calls change nothing
        EXPECT_EQ(item->GetFilePath(), copy);
        EXPECT_EQ(test::SnapshotFolder(dir.path()), before);
    }
    EXPECT_FALSE(std::filesystem::exists(copy));
    EXPECT_FALSE(std::filesystem::exists(platform::DirectoryOf(copy))) << "the copy's own folder stays";
    EXPECT_EQ(test::SnapshotFolder(dir.path()), before);
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
    EXPECT_EQ(platform::FileNameOf(item->GetFilePath()), "page.htm.htm");
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
    EXPECT_EQ(platform::FileNameOf(item->GetFilePath()), "blob.png");
}

TEST_F(FileCacheItemTest, AnExtensionThatNamesAnotherFolderIsNotUsed)
{
    // The examined registry's MIME table, and URLs, are examined data.
    auto registry = std::make_shared<platform::MemoryRegistry>();
    registry->SetString(platform::RootKey::ClassesRoot, "MIME\\Database\\Content Type\\x-evil/type", "Extension",
                        ".d/../../escaped");
    test::SystemScope scope(std::make_shared<const platform::WindowsSystem>(), registry);
    test::WriteFile(dir.file("blob"), "x");
    for (const auto& [urlPath, type] : {std::pair<std::string, const char*>{"/download", "x-evil/type"},
                                        {"/a.averyveryverylongextension", nullptr},
                                        {"/a.b c", nullptr}}) {
        SCOPED_TRACE(urlPath);
        auto item = Item(urlPath, "blob", type);
        EXPECT_EQ(item->FindExtension("blob"), "");
        ASSERT_TRUE(item->PrepareFile());
        EXPECT_EQ(item->GetFilePath(), dir.file("blob")) << "no copy: the body is opened as it is";
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("escaped")));
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "/../escaped"));
}

TEST_F(FileCacheItemTest, ADecodedCopyIsWrittenWholeUnderItsOwnName)
{
    test::WriteFile(dir.file("page"), test::GzipBytes("<p>decoded</p>"));
    auto item = std::make_unique<CFileCacheItem>(&cache, 0, "http://h/page", "/page", "page", 0, 0, 0, 0,
                                                 "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\n");
    ASSERT_TRUE(item->PrepareFile());
    const std::string copy = item->GetFilePath();
    EXPECT_EQ(platform::FileNameOf(copy), "uc_page");
    EXPECT_EQ(test::ReadWholeFile(copy), "<p>decoded</p>");
    // Only the finished copy is in its folder: no partial file beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(platform::DirectoryOf(copy)), {}), 1);
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
    ASSERT_TRUE(std::filesystem::exists(copy));
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
