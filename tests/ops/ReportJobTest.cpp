#include "ops/ReportJob.h"

#include "formats/ClientUrlCache.h"
#include "imaging/ImageThumbnailer.h"
#include "ops/TextEscape.h"
#include "support/DemoImages.h"
#include "support/FolderSnapshot.h"
#include "support/IndexDatWriter.h"
#include "support/TestContext.h"
#include "support/TestEnvironment.h"

#include <QCryptographicHash>
#include <QFile>
#include <QImage>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

namespace oriel {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

constexpr const char* kHostileUrl = "http://evil.example/<script>alert(1)</script>\"><img src=http://evil.example/x>";

// A PNG header that claims a picture of 100,000 x 100,000 pixels.
std::string HugePng()
{
    std::string png = test::MakePatternPng(4, 4, 1);
    for (int i = 0; i < 2; ++i) {
        const uint32_t side = 100000;
        for (int b = 0; b < 4; ++b)
            png[size_t(16 + 4 * i + b)] = char(side >> (24 - 8 * b));
    }
    return png; // the CRC no longer matches either
}

struct Body {
    const char* url;
    std::string body;
    const char* type;
    bool picture; // a thumbnail is expected
};

// An Internet Explorer cache with images good and bad and a hostile URL.
struct ReportFixture {
    TempDir root;
    std::string folder = root.file("Content.IE5");
    std::string out = root.file("report");
    std::vector<Body> bodies{
        {"http://a.example/photo.png", test::MakePatternPng(400, 300, 7), "image/png", true},
        {"http://a.example/icon.gif", test::MakePatternGif(16, 16, 9), "image/gif", true},
        {"http://b.example/mosaic.jpg", test::MakeMosaicJpeg(6, 4, 3), "image/jpeg", true},
        {"http://b.example/cut.png", test::MakePatternPng(64, 64, 5).substr(0, 60), "image/png", false},
        {"http://b.example/huge.png", HugePng(), "image/png", false},
        {"http://b.example/vector.svg",
         "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"10\" height=\"10\"><image href=\"file:///etc/passwd\"/></svg>",
         "image/svg+xml", false},
        {kHostileUrl, "<html>x</html>", "text/html\"><script>alert(2)</script>", false},
    };

    ReportFixture()
    {
        test::IndexDatWriter w;
        w.addDirectory("ABCD1234");
        int n = 0;
        for (const Body& b : bodies) {
            test::IndexDatUrl e;
            e.url = b.url;
            e.fileName = "f" + std::to_string(++n) + "[1].bin";
            e.headers = std::string("HTTP/1.1 200 OK\r\nContent-Type: ") + b.type + "\r\n\r\n";
            e.body = b.body;
            e.lastModified = test::FileTimeFromUnix(1243857600 + n);
            e.lastAccess = test::FileTimeFromUnix(1243900000 + n);
            w.addUrl(e);
        }
        w.writeCache(folder, true);
    }
};

// The report's page as a tree of what the test looks at.
struct ParsedReport {
    std::vector<std::map<std::string, std::string>> rows; // item rows: column title -> cell text
    std::vector<std::string> rowImages;                   // each item row's img src ("" for none)
    std::vector<std::string> urlsNamed;                   // every src and href in the page
    int scripts = 0;
    std::string error;
};

ParsedReport Parse(const std::string& html)
{
    ParsedReport report;
    QXmlStreamReader xml(QByteArray::fromStdString(html));
    std::vector<std::string> headers;
    bool inItems = false, inHead = false, inBody = false;
    std::map<std::string, std::string> row;
    std::string image;
    int cell = -1;
    std::string text;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            const QString name = xml.name().toString();
            for (const QXmlStreamAttribute& a : xml.attributes()) {
                if (a.name() == u"src" || a.name() == u"href")
                    report.urlsNamed.push_back(a.value().toString().toStdString());
            }
            if (name == "script")
                ++report.scripts;
            if (name == "table" && xml.attributes().value("id") == u"items")
                inItems = true;
            if (inItems && name == "thead")
                inHead = true;
            if (inItems && name == "tbody")
                inBody = true;
            if (inBody && name == "tr") {
                row.clear();
                image.clear();
                cell = -1;
            }
            if ((inHead && name == "th") || (inBody && name == "td")) {
                ++cell;
                text.clear();
            }
            if (inBody && name == "img")
                image = xml.attributes().value("src").toString().toStdString();
        } else if (xml.isCharacters()) {
            text += xml.text().toString().toStdString();
        } else if (xml.isEndElement()) {
            const QString name = xml.name().toString();
            if (inHead && name == "th")
                headers.push_back(text);
            if (inBody && name == "td" && cell >= 0 && size_t(cell) < headers.size())
                row[headers[size_t(cell)]] = text;
            if (inBody && name == "tr") {
                report.rows.push_back(row);
                report.rowImages.push_back(image);
            }
            if (name == "thead")
                inHead = false;
            if (name == "tbody")
                inBody = false;
            if (name == "table")
                inItems = false;
        }
    }
    if (xml.hasError())
        report.error = xml.errorString().toStdString() + " at line " + std::to_string(xml.lineNumber());
    return report;
}

std::string Sha256(const std::string& bytes)
{
    return QCryptographicHash::hash(QByteArray::fromStdString(bytes), QCryptographicHash::Sha256).toHex().toStdString();
}

TEST(ReportJob, EveryItemIsARowWithItsHashAndEveryPictureIsAThumbnailFileThatDecodes)
{
    ReportFixture f;
    ClientUrlCache cache(test::Context(), nullptr, f.folder);
    ASSERT_EQ(cache.Decode(nullptr, false), 0);
    ASSERT_EQ(cache.GetItemCount(), int(f.bodies.size()));
    const test::FolderSnapshot before = test::SnapshotFolder(f.folder);

    ReportRequest request;
    request.folder = f.out;
    request.profiles.push_back({"Jane's <IE>", "Internet Explorer", f.folder, &cache});
    request.systemRoot = "/mnt/win";
    request.systemUser = "Jane";
    request.madeAt = 1700000000;
    ImageThumbnailer thumbnailer;
    ReportJob job(request, &thumbnailer);
    ASSERT_TRUE(job.Run().Succeeded()) << (job.Files().empty() ? "" : job.Files()[0].reason);
    EXPECT_EQ(test::SnapshotFolder(f.folder), before) << "the examined cache changed";

    const std::string html = test::ReadWholeFile(job.IndexPath());
    const ParsedReport report = Parse(html);
    ASSERT_TRUE(report.error.empty()) << report.error;
    EXPECT_EQ(report.scripts, 1);
    ASSERT_EQ(report.rows.size(), f.bodies.size());
    EXPECT_EQ(job.Figures().items, int(f.bodies.size()));
    EXPECT_EQ(job.Figures().thumbnails, 3);

    std::map<std::string, size_t> byUrl;
    for (size_t i = 0; i < report.rows.size(); ++i)
        byUrl[report.rows[i].at("URL")] = i;
    for (const Body& b : f.bodies) {
        SCOPED_TRACE(b.url);
        ASSERT_EQ(byUrl.count(b.url), 1u) << "the URL is shown as its own text";
        const size_t i = byUrl[b.url];
        EXPECT_EQ(report.rows[i].at("SHA-256"), Sha256(b.body));
        EXPECT_EQ(report.rows[i].at("Profile"), "Jane's <IE>");
        const std::string& src = report.rowImages[i];
        EXPECT_EQ(!src.empty(), b.picture);
        if (!src.empty()) {
            QImage thumb;
            ASSERT_TRUE(thumb.load(QString::fromStdString(f.out + "/" + src))) << src;
            EXPECT_LE(std::max(thumb.width(), thumb.height()), 160);
            EXPECT_GT(thumb.width(), 0);
        }
    }
    EXPECT_EQ(report.rows[byUrl[kHostileUrl]].at("Type"), "text/html\"><script>alert(2)</script>");
    // Nothing in the page names a place on the network, or anything but
    // the thumbnails beside it.
    for (const std::string& url : report.urlsNamed)
        EXPECT_EQ(url.rfind("thumbs/", 0), 0u) << url;
    EXPECT_NE(html.find("Content-Security-Policy"), std::string::npos);
    EXPECT_NE(html.find("<td>/mnt/win</td>"), std::string::npos);
    EXPECT_NE(html.find("<td>2023-11-14 22:13:20</td>"), std::string::npos) << "the time the report was made";
}

TEST(ReportJob, IsRefusedInsideTheExaminedTreeAndAStoppedReportLeavesNoPage)
{
    ReportFixture f;
    ClientUrlCache cache(test::Context(), nullptr, f.folder);
    ASSERT_EQ(cache.Decode(nullptr, false), 0);
    ImageThumbnailer thumbnailer;
    for (const std::string& inside : {f.folder + "/report", f.root.file("sys/x")}) {
        SCOPED_TRACE(inside);
        const test::FolderSnapshot before = test::SnapshotFolder(f.root.path());
        ReportRequest request;
        request.folder = inside;
        request.profiles.push_back({"IE", "Internet Explorer", f.folder, &cache});
        request.examinedFolders.push_back(f.root.file("sys"));
        ReportJob job(request, &thumbnailer);
        EXPECT_FALSE(job.Run().Succeeded());
        ASSERT_EQ(job.Files().size(), 1u);
        EXPECT_EQ(job.Files()[0].outcome, FileOutcome::Refused);
        EXPECT_EQ(test::SnapshotFolder(f.root.path()), before);
    }

    // A stop asked for while the items are read: no page, and the pictures
    // written so far are gone again.
    struct StoppingThumbnailer : Thumbnailer {
        ImageThumbnailer real;
        Job* job = nullptr;
        int calls = 0;
        std::optional<std::string> MakeThumbnailPng(std::string_view bytes, int side) override
        {
            if (++calls == 2)
                job->RequestStop();
            return real.MakeThumbnailPng(bytes, side);
        }
    } stopping;
    ReportRequest request;
    request.folder = f.out;
    request.profiles.push_back({"IE", "Internet Explorer", f.folder, &cache});
    ReportJob job(request, &stopping);
    stopping.job = &job;
    EXPECT_FALSE(job.Run().Succeeded());
    EXPECT_EQ(job.Files().at(0).outcome, FileOutcome::Skipped);
    EXPECT_FALSE(fs::exists(job.IndexPath()));
    EXPECT_TRUE(fs::is_empty(f.out + "/thumbs"));
}

TEST(ImageThumbnailer, DecodesOnlyRasterImagesWithinTheLimits)
{
    ImageThumbnailer thumbnailer;
    const struct {
        const char* what;
        std::string bytes;
        bool made;
    } rows[] = {
        {"a PNG", test::MakePatternPng(300, 200, 1), true},
        {"a JPEG", test::MakeMosaicJpeg(4, 4, 2), true},
        {"a GIF", test::MakePatternGif(20, 10, 3), true},
        {"a cut PNG", test::MakePatternPng(64, 64, 5).substr(0, 70), false},
        {"a PNG that claims 100,000 pixels a side", HugePng(), false},
        {"an SVG", "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"10\" height=\"10\"/>", false},
        {"text", "<html></html>", false},
        {"nothing", "", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        auto png = thumbnailer.MakeThumbnailPng(row.bytes, 64);
        EXPECT_EQ(png.has_value(), row.made);
        if (png) {
            QImage image;
            ASSERT_TRUE(image.loadFromData(QByteArray::fromStdString(*png), "PNG"));
            EXPECT_LE(std::max(image.width(), image.height()), 64);
        }
    }
}

TEST(TextEscape, HostileTextStaysTextInHtml)
{
    const std::pair<std::string, std::string> rows[] = {
        {"<script>alert('x')</script>", "&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;"},
        {"a\" onerror=\"b & c", "a&quot; onerror=&quot;b &amp; c"},
        {"tab\tand\x1b[31m", "tab\tand\\x1b[31m"},
        // Bytes that are not UTF-8 (a lone 0xFF, an encoded surrogate) as
        // their Latin-1 characters; 0x80 is then a C1 control.
        {"caf\xC3\xA9 \xFF \xED\xA0\x80", "caf\xC3\xA9 \xC3\xBF \xC3\xAD\xC2\xA0\\x80"},
        {"\xEF\xBF\xBE", "\\xef\\xbf\\xbe"},
    };
    for (const auto& [in, out] : rows)
        EXPECT_EQ(HtmlText(in), out) << in;
}

TEST(TextEscape, ASpecialByteIsFoundAtEveryPlaceOfALongText)
{
    // Plain runs are copied eight bytes at a time: a byte to escape must be
    // seen wherever it falls in a word.
    for (size_t at = 0; at < 24; ++at) {
        for (const char special : {'"', '\\', '<', '\x01', '\x7f', '\xff'}) {
            const std::string before(at, 'a'), after(13, 'b');
            const std::string text = before + special + after;
            std::string csv, json;
            AppendCsvField(csv, text);
            AppendJsonString(json, text);
            const std::string c(1, special);
            const std::string csvMiddle = special == '"' ? "\"\"" : special == '\x01' ? "\\x01"
                                        : special == '\x7f' ? "\\x7f" : special == '\xff' ? "\xc3\xbf" : c;
            const std::string jsonMiddle = special == '"' ? "\\\"" : special == '\\' ? "\\\\"
                                         : special == '\x01' ? "\\u0001" : special == '\x7f' ? "\\u007f"
                                         : special == '\xff' ? "\\u00ff" : c;
            const std::string htmlMiddle = special == '<' ? "&lt;" : special == '"' ? "&quot;" : special == '\x01' ? "\\x01"
                                         : special == '\x7f' ? "\\x7f" : special == '\xff' ? "\xc3\xbf" : c;
            EXPECT_EQ(csv, "\"" + before + csvMiddle + after + "\"") << at;
            EXPECT_EQ(json, "\"" + before + jsonMiddle + after + "\"") << at;
            EXPECT_EQ(HtmlText(text), before + htmlMiddle + after) << at;
        }
    }
}

} // namespace
} // namespace oriel
