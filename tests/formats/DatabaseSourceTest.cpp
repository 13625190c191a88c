// A cache given its index as bytes in memory (as the fuzz harnesses give
// it) decodes exactly what it decodes from the index file, and never opens
// the file.
#include "app/StringTable.h"
#include "formats/ClientUrlCache.h"
#include "formats/NetscapeCacheDBCache.h"
#include "formats/NetscapeFatDBCache.h"
#include "formats/OperaCache.h"
#include "platform/ByteSource.h"
#include "support/TestContext.h"
#include "support/Dcache4Writer.h"
#include "support/IndexDatWriter.h"
#include "support/MessageCapture.h"
#include "support/NetscapeDbWriter.h"
#include "support/SynthOptions.h"
#include "support/CacheContents.h"
#include "support/TestContext.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <sstream>

namespace oriel {
namespace {

using test::TempDir;

struct Format {
    const char* indexFile;
    std::string (*build)();
    std::function<std::unique_ptr<CCache>(const std::string&, std::shared_ptr<const platform::ByteSource>)> make;
};

template <typename Cache>
std::unique_ptr<CCache> Make(const std::string& folder, std::shared_ptr<const platform::ByteSource> source)
{
    auto cache = std::make_unique<Cache>(test::Context(), nullptr, folder);
    cache->SetDatabaseSource(std::move(source));
    return cache;
}

std::string IndexDat()
{
    test::IndexDatWriter w;
    w.addDirectory("ABCD1234");
    for (int i = 0; i < 5; ++i)
        w.addUrl({.url = "http://h" + std::to_string(i % 2) + "/p" + std::to_string(i), .fileName = "p[1]"});
    w.addStrayBlock();
    return w.build();
}

std::string CacheDb()
{
    test::NetscapeDbWriter w(test::NetscapeDbWriter::Kind::CacheDb);
    w.setPageSize(512);
    for (int i = 0; i < 5; ++i) {
        test::CacheDbEntry e;
        e.url = "http://h/p" + std::to_string(i);
        e.bodyPath = "C:\\NS\\cache\\M" + std::to_string(i);
        w.addCacheEntry(e);
    }
    return w.build();
}

std::string FatDb()
{
    test::NetscapeDbWriter w(test::NetscapeDbWriter::Kind::FatDb);
    w.setPageSize(512);
    for (int i = 0; i < 5; ++i) {
        test::FatDbEntry e;
        e.url = "http://h/p" + std::to_string(i);
        e.cacheName = "M" + std::to_string(i);
        w.addFatEntry(e);
    }
    return w.build();
}

std::string Dcache4()
{
    test::Dcache4Writer w;
    for (int i = 0; i < 5; ++i) {
        test::OperaEntry e;
        e.url = "http://h/p" + std::to_string(i);
        e.cacheName = "opr" + std::to_string(i);
        w.addEntry(e);
    }
    test::OperaEntry inIndex;
    inIndex.url = "http://h/inline";
    inIndex.embeddedBody = "kept in the index";
    w.addEntry(inIndex);
    return w.build();
}

const Format kFormats[] = {
    {"index.dat", IndexDat, Make<ClientUrlCache>},
    {"cache.db", CacheDb, Make<NetscapeCacheDBCache>},
    {"fat.db", FatDb, Make<NetscapeFatDBCache>},
    {"dcache4.url", Dcache4, Make<OperaCache>},
};

std::string Csv(CCache& cache)
{
    std::ostringstream out;
    cache.ExportCSV(out);
    return out.str();
}

TEST(DatabaseSource, BytesInMemoryDecodeAsTheIndexFileDoes)
{
    for (const Format& format : kFormats) {
        SCOPED_TRACE(format.indexFile);
        TempDir onDisk, inMemory;
        const std::string bytes = format.build();
        test::WriteFile(onDisk.file(format.indexFile), bytes);

        auto fromFile = format.make(onDisk.path(), nullptr);
        ASSERT_EQ(fromFile->Decode(nullptr, false), 0);
        auto fromMemory = format.make(inMemory.path(), platform::MemoryByteSource::View(bytes));
        ASSERT_EQ(fromMemory->Decode(nullptr, false), 0);

        EXPECT_GE(fromFile->GetItemCount(), 5);
        EXPECT_EQ(fromMemory->GetItemCount(), fromFile->GetItemCount());
        EXPECT_EQ(Csv(*fromMemory), Csv(*fromFile));
        // A second decode reads the same bytes again.
        ASSERT_EQ(fromMemory->Decode(nullptr, false), 0);
        EXPECT_EQ(fromMemory->GetItemCount(), fromFile->GetItemCount());
    }
}

TEST(DatabaseSource, DamagedBytesInMemoryFailAsTheFileDoes)
{
    for (const Format& format : kFormats) {
        SCOPED_TRACE(format.indexFile);
        TempDir dir;
        test::MessageCapture messages;
        const std::string bytes = format.build().substr(0, 8);
        auto cache = format.make(dir.path(), platform::MemoryByteSource::View(bytes));
        EXPECT_NE(cache->Decode(nullptr, true), 0);
        EXPECT_EQ(cache->GetItemCount(), 0);
        EXPECT_EQ(messages->messages, std::vector<std::string>{std::string(LoadString(IDS_INVALID_HEADER)) + "\n" +
                                                               dir.file(format.indexFile)});
    }
}

// index.dat is read through a window as its walks go: an index many
// windows long, records across the windows' edges, deleted records among
// them, lists exactly what the bytes held whole list, live and recovered.
TEST(DatabaseSource, AnIndexLargerThanTheReadWindowListsWhatItsWholeBytesList)
{
    TempDir onDisk, inMemory;
    test::SynthOptions options;
    options.entries = 4000;
    options.deleted = 300;
    options.bodies = false;
    test::WriteSyntheticIndexDatCache(onDisk.path(), options);
    const std::string bytes = test::ReadWholeFile(onDisk.file("index.dat"));
    ASSERT_GT(bytes.size(), size_t(768) << 10); // several windows

    auto fromFile = Make<ClientUrlCache>(onDisk.path(), nullptr);
    ASSERT_EQ(fromFile->Decode(nullptr, false), 0);
    auto fromMemory = Make<ClientUrlCache>(inMemory.path(), platform::MemoryByteSource::View(bytes));
    ASSERT_EQ(fromMemory->Decode(nullptr, false), 0);
    EXPECT_GT(fromFile->GetItemCount(), 3000);
    EXPECT_EQ(fromMemory->GetItemCount(), fromFile->GetItemCount());
    EXPECT_EQ(Csv(*fromMemory), Csv(*fromFile));
    const auto recovered = test::RecoveredItems(*fromFile);
    const auto recoveredInMemory = test::RecoveredItems(*fromMemory);
    ASSERT_GT(recovered.size(), 100u);
    ASSERT_EQ(recoveredInMemory.size(), recovered.size());
    for (size_t i = 0; i < recovered.size(); ++i) {
        EXPECT_STREQ(recovered[i]->GetURL(), recoveredInMemory[i]->GetURL());
        EXPECT_STREQ(recovered[i]->GetHeaders(), recoveredInMemory[i]->GetHeaders());
        EXPECT_EQ(recovered[i]->GetProperties(), recoveredInMemory[i]->GetProperties());
    }
}

// A source that gives fewer bytes than asked from some offset on, as a
// file that shrank while it was read or a read error does.
class ShortSource final : public platform::ByteSource {
public:
    ShortSource(std::string bytes, size_t readableUpTo)
        : bytes_(std::move(bytes))
        , readableUpTo_(readableUpTo)
    {
    }
    uint64_t Size() const override { return bytes_.size(); }
    ByteReader Read(uint64_t offset, size_t length) const override
    {
        if (offset >= readableUpTo_)
            return {};
        return ByteReader(bytes_).sub(size_t(offset), std::min(length, readableUpTo_ - size_t(offset)));
    }

private:
    std::string bytes_;
    size_t readableUpTo_;
};

TEST(DatabaseSource, AnIndexThatCannotBeReadToItsEndIsReportedNotTakenForWhole)
{
    test::IndexDatWriter w;
    w.addDirectory("ABCD1234");
    for (int i = 0; i < 200; ++i)
        w.addUrl({.url = "http://h/p" + std::to_string(i), .fileName = "p[1]"});
    const std::string bytes = w.build();
    TempDir dir;
    test::MessageCapture messages;
    auto cache = Make<ClientUrlCache>(dir.path(), std::make_shared<ShortSource>(bytes, bytes.size() / 2));
    EXPECT_NE(cache->Decode(nullptr, true), 0);
    EXPECT_EQ(messages->messages, std::vector<std::string>{std::string(LoadString(IDS_INVALID_HEADER)) + "\n" +
                                                           dir.file("index.dat") +
                                                           ": the file could not be read whole"});
}

} // namespace
} // namespace oriel
