#include "filters/ContentDecoders.h"

#include "support/MozillaCacheWriter.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include <zlib.h>

namespace oriel {
namespace {

using test::DeflateBytes;
using test::GzipBytes;
using test::ReadWholeFile;
using test::TempDir;
using test::WriteFile;

std::string Page()
{
    std::string page = "<html><body>\n";
    for (int i = 0; i < 2000; ++i)
        page += "<p>line " + std::to_string(i) + " of a cached page</p>\n";
    return page + "</body></html>\n";
}

// A zlib header and `data` deflated and flushed to a byte boundary, with no
// final block.
std::string ZlibSyncFlushed(const std::string& data)
{
    z_stream strm{};
    deflateInit(&strm, Z_DEFAULT_COMPRESSION);
    std::string out(deflateBound(&strm, uLong(data.size())) + 64, '\0');
    strm.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    strm.avail_in = uInt(data.size());
    strm.next_out = reinterpret_cast<Bytef*>(out.data());
    strm.avail_out = uInt(out.size());
    deflate(&strm, Z_SYNC_FLUSH);
    out.resize(strm.total_out);
    deflateEnd(&strm);
    return out;
}

bool Exists(const std::string& path)
{
    return std::filesystem::exists(path);
}

TEST(GunzipBuffer, EveryOptionalHeaderFieldIsSkipped)
{
    const std::string page = Page();
    const struct {
        const char* name;
        uint8_t flags;
    } cases[] = {
        {"none", 0},
        {"FNAME", test::kGzipName},
        {"FCOMMENT", test::kGzipComment},
        {"FEXTRA", test::kGzipExtra},
        {"FHCRC", test::kGzipHeaderCrc},
        {"all", test::kGzipName | test::kGzipComment | test::kGzipExtra | test::kGzipHeaderCrc},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string gz = GzipBytes(page, c.flags);
        std::string out = dir.file(c.name);
        EXPECT_EQ(GunzipBuffer(gz.data(), gz.size(), out), 0);
        EXPECT_EQ(ReadWholeFile(out), page);
    }
}

TEST(GunzipBuffer, DataWithoutSignatureOrWithACutHeaderWritesNothing)
{
    std::string named = GzipBytes("abc", test::kGzipName);
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"empty", ""},
        {"one byte", "\x1f"},
        {"plain text", "<html>not gzip</html>"},
        {"zlib stream", DeflateBytes("abc", true)},
        {"fixed header cut", named.substr(0, 7)},
        {"name without its zero", named.substr(0, 14)},
        {"extra field longer than the data", std::string("\x1f\x8b\x08\x04\0\0\0\0\0\x03\xff\x7f", 12) + "xy"},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string out = dir.file("out");
        EXPECT_EQ(GunzipBuffer(c.bytes.data(), c.bytes.size(), out), -1);
        EXPECT_FALSE(Exists(out));
    }
}

TEST(GunzipBuffer, TruncatedMemberKeepsWhatWasDecoded)
{
    const std::string page = Page();
    std::string gz = GzipBytes(page);
    gz.resize(gz.size() / 2);
    TempDir dir;
    std::string out = dir.file("out");
    EXPECT_EQ(GunzipBuffer(gz.data(), gz.size(), out), 0);
    std::string decoded = ReadWholeFile(out);
    EXPECT_GT(decoded.size(), 0u);
    EXPECT_LT(decoded.size(), page.size());
    EXPECT_EQ(page.compare(0, decoded.size(), decoded), 0);
}

TEST(InflateToFile, ZlibAndRawDeflateBothDecode)
{
    const std::string page = Page();
    const struct {
        const char* name;
        std::string bytes;
        bool zlibWrapper;
    } cases[] = {
        {"zlib stream", DeflateBytes(page, true), true},
        {"raw deflate under the name deflate (zlib header retry)", DeflateBytes(page, false), true},
        {"raw deflate", DeflateBytes(page, false), false},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string out = dir.file(std::string("out ") + c.name);
        EXPECT_EQ(InflateToFile(c.bytes.data(), c.bytes.size(), out, c.zlibWrapper), 0);
        EXPECT_EQ(ReadWholeFile(out), page);
    }
}

TEST(InflateToFile, DataThatIsNotDeflateFailsAlsoAfterTheRetry)
{
    const std::string text = "this is plain text, not a deflate stream at all";
    TempDir dir;
    std::string out = dir.file("out");
    EXPECT_EQ(InflateToFile(text.data(), text.size(), out, true), -1);
}

TEST(InflateToFile, CorruptStreamFailsButKeepsTheBytesBeforeTheDamage)
{
    // A zlib stream flushed to a byte boundary after the page, then a block
    // of the reserved type 3: inflate meets it after decoding the page.
    const std::string page = Page();
    std::string z = ZlibSyncFlushed(page) + "\x07";
    TempDir dir;
    std::string out = dir.file("out");
    EXPECT_EQ(InflateToFile(z.data(), z.size(), out, true), -1);
    EXPECT_EQ(ReadWholeFile(out), page);
}

TEST(InflateToFile, OutputOfADecompressionBombIsCutAtTheCap)
{
    const std::string zeros(8 << 20, '\0');
    std::string z = DeflateBytes(zeros, true);
    ASSERT_LT(z.size(), 64u << 10);
    TempDir dir;
    std::string out = dir.file("out");
    EXPECT_EQ(InflateToFile(z.data(), z.size(), out, true, 1 << 20), 0);
    EXPECT_EQ(std::filesystem::file_size(out), uint64_t(1) << 20);

    std::string gz = GzipBytes(zeros);
    out = dir.file("out2");
    EXPECT_EQ(GunzipBuffer(gz.data(), gz.size(), out, 100000), 0);
    EXPECT_EQ(std::filesystem::file_size(out), 100000u);
}

TEST(InflateToFile, ACutAtTheCapIsReportedAndAnOutputThatJustFitsIsNot)
{
    const std::string zeros(300000, '\0');
    TempDir dir;
    const std::string out = dir.file("out");
    const std::string z = DeflateBytes(zeros, true);
    const std::string gz = GzipBytes(zeros);
    WriteFile(dir.file("body.gz"), gz);
    WriteFile(dir.file("body.z"), z);
    struct Case {
        const char* what;
        std::function<int(uint64_t, DecodeOutcome*)> decode;
    } cases[] = {
        {"inflate", [&](uint64_t cap, DecodeOutcome* o) { return InflateToFile(z.data(), z.size(), out, true, cap, nullptr, o); }},
        {"gunzip", [&](uint64_t cap, DecodeOutcome* o) { return GunzipBuffer(gz.data(), gz.size(), out, cap, nullptr, o); }},
        {"gunzip file", [&](uint64_t cap, DecodeOutcome* o) { return GunzipFile(dir.file("body.gz"), 0, out, cap, nullptr, o); }},
        {"inflate file", [&](uint64_t cap, DecodeOutcome* o) { return InflateFile(dir.file("body.z"), 0, out, true, cap, nullptr, o); }},
        {"gz reader", [&](uint64_t cap, DecodeOutcome* o) { return GzReadFile(dir.file("body.gz"), 0, out, cap, nullptr, o); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DecodeOutcome cut;
        std::filesystem::remove(out);
        EXPECT_EQ(c.decode(100000, &cut), 0);
        EXPECT_TRUE(cut.cut);
        EXPECT_EQ(cut.written, 100000u);
        EXPECT_EQ(std::filesystem::file_size(out), 100000u);
        DecodeOutcome fits;
        std::filesystem::remove(out);
        EXPECT_EQ(c.decode(zeros.size(), &fits), 0);
        EXPECT_FALSE(fits.cut);
        EXPECT_EQ(fits.written, zeros.size());
    }
}

// A source that gives its bytes in reads of at most `chunk` bytes (as a
// file read a window at a time) and records the largest read asked for.
class ChunkedSource final : public platform::ByteSource {
public:
    explicit ChunkedSource(std::string bytes)
        : bytes_(std::move(bytes))
    {
    }
    uint64_t Size() const override { return bytes_.size(); }
    ByteReader Read(uint64_t offset, size_t length) const override
    {
        largest_ = std::max(largest_, length);
        if (offset >= bytes_.size())
            return ByteReader();
        buffer_ = bytes_.substr(size_t(offset), length);
        return ByteReader(buffer_);
    }
    size_t Largest() const { return largest_; }

private:
    std::string bytes_;
    mutable std::string buffer_;
    mutable size_t largest_ = 0;
};

TEST(InflateSourceToFile, BodiesAreDecodedFromTheirSourceAWindowAtATime)
{
    // Bytes that do not compress: the encoded body is as large as the
    // decoded one, several windows of input.
    const std::string body = test::NoiseBytes(3 << 20, 7);
    TempDir dir;
    struct Case {
        const char* what;
        std::string encoded;
        bool gzip;
        bool zlibWrapper;
    } cases[] = {
        {"zlib", DeflateBytes(body, true), false, true},
        {"raw deflate through the retry", DeflateBytes(body, false), false, true},
        {"gzip", GzipBytes(body, test::kGzipName), true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ChunkedSource source(c.encoded);
        const std::string out = dir.file(std::string("out-") + c.what);
        const int result = c.gzip ? GunzipSource(source, out) : InflateSourceToFile(source, out, c.zlibWrapper);
        EXPECT_EQ(result, 0);
        EXPECT_TRUE(ReadWholeFile(out) == body);
        EXPECT_LE(source.Largest(), kMaxGzipHeaderBytes);
    }
}

TEST(InflateToFile, NeverWritesThroughASymbolicLink)
{
    TempDir dir;
    std::string victim = dir.file("victim");
    WriteFile(victim, "keep me");
    std::filesystem::create_symlink(victim, dir.file("link"));
    std::string z = DeflateBytes("payload", true);
    EXPECT_EQ(InflateToFile(z.data(), z.size(), dir.file("link"), true), -1);
    EXPECT_EQ(ReadWholeFile(victim), "keep me");
}

TEST(InflateToFile, NeverReplacesAFileThatIsThere)
{
    // Every decoder creates its output new: a file already there, or a
    // dangling link planted where the output goes, is never written.
    TempDir dir;
    WriteFile(dir.file("there"), "keep me");
    std::filesystem::create_symlink(dir.file("nowhere"), dir.file("dangling"));
    const std::string z = DeflateBytes("payload", true);
    const std::string gz = GzipBytes("payload");
    WriteFile(dir.file("body.gz"), gz);
    for (const char* name : {"there", "dangling"}) {
        SCOPED_TRACE(name);
        const std::string out = dir.file(name);
        EXPECT_EQ(InflateToFile(z.data(), z.size(), out, true), -1);
        EXPECT_EQ(GunzipBuffer(gz.data(), gz.size(), out), -1);
        EXPECT_EQ(GunzipFile(dir.file("body.gz"), 0, out), -1);
        EXPECT_EQ(GzReadFile(dir.file("body.gz"), 0, out), -1);
    }
    EXPECT_EQ(ReadWholeFile(dir.file("there")), "keep me");
    EXPECT_FALSE(std::filesystem::exists(dir.file("nowhere")));
}

TEST(GunzipFile, ReadsTheGivenLengthOrTheWholeFileWhenNoneIsGiven)
{
    const std::string page = Page();
    std::string gz = GzipBytes(page);
    TempDir dir;
    WriteFile(dir.file("body"), gz + "trailing bytes of another kind");
    for (int64_t length : {int64_t(gz.size()), int64_t(0)}) {
        SCOPED_TRACE(length);
        std::string out = dir.file("out" + std::to_string(length));
        EXPECT_EQ(GunzipFile(dir.file("body"), length, out), 0);
        EXPECT_EQ(ReadWholeFile(out), page);
    }
    EXPECT_EQ(GunzipFile(dir.file("missing"), 10, dir.file("never")), -1);
    EXPECT_FALSE(Exists(dir.file("never")));
}

TEST(GzReadFile, GzipDataDecodesWholeEvenWhenTheLengthIsTheEncodedSize)
{
    const std::string page = Page();
    std::string gz = GzipBytes(page);
    TempDir dir;
    WriteFile(dir.file("body"), gz);
    EXPECT_EQ(GzReadFile(dir.file("body"), int64_t(gz.size()), dir.file("out")), 0);
    EXPECT_EQ(ReadWholeFile(dir.file("out")), page);
}

TEST(GzReadFile, TwoMembersDecodeOneAfterTheOther)
{
    TempDir dir;
    WriteFile(dir.file("body"), GzipBytes("first,") + GzipBytes("second"));
    EXPECT_EQ(GzReadFile(dir.file("body"), 0, dir.file("out")), 0);
    EXPECT_EQ(ReadWholeFile(dir.file("out")), "first,second");
}

TEST(GzReadFile, DataThatIsNotGzipPassesThroughUpToTheLength)
{
    TempDir dir;
    WriteFile(dir.file("body"), "plain body bytes");
    EXPECT_EQ(GzReadFile(dir.file("body"), 5, dir.file("cut")), 0);
    EXPECT_EQ(ReadWholeFile(dir.file("cut")), "plain");
    EXPECT_EQ(GzReadFile(dir.file("body"), 0, dir.file("whole")), 0);
    EXPECT_EQ(ReadWholeFile(dir.file("whole")), "plain body bytes");
    EXPECT_EQ(GzReadFile(dir.file("missing"), 0, dir.file("none")), -1);
}

TEST(GzReadFile, CorruptGzipFails)
{
    std::string gz = GzipBytes(Page());
    for (size_t i = 20; i < gz.size(); ++i)
        gz[i] = char(0xFF);
    TempDir dir;
    WriteFile(dir.file("body"), gz);
    EXPECT_EQ(GzReadFile(dir.file("body"), 0, dir.file("out")), -1);
}

} // namespace
} // namespace oriel
