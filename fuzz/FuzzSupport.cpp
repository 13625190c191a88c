#include "FuzzSupport.h"

#include "app/Messages.h"
#include "app/OptionStore.h"
#include "app/TraceLog.h"
#include "model/Cache.h"
#include "platform/ByteSource.h"
#include "support/IndexDatWriter.h"
#include "support/TestContext.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <unistd.h>

namespace {

class SilentSink : public oriel::MessageSink {
public:
    void ShowMessage(const std::string&, oriel::MessageIcon) override {}
    bool AskYesNo(const std::string&, oriel::MessageIcon) override { return false; }
};

// The private folders by tag. Never destroyed, so that the exit handler can
// still name them.
std::map<std::string, std::string>& PrivateFolders()
{
    static auto* folders = new std::map<std::string, std::string>;
    return *folders;
}

} // namespace

void SetUpFuzzEnvironment()
{
    std::string config = PrivateFolder("options") + "/Oriel.ini";
    std::ofstream(config) << "[Options]\nMessageDumpFile=\"\"\n";
    setenv("ORIEL_CONFIG", config.c_str(), 1);
    oriel::OptionStore::SetInstanceFile(config);
    static SilentSink silent;
    oriel::test::Context().SetMessages(&silent);
}

void WriteSeed(const std::string& dir, const std::string& name, const std::string& bytes)
{
    std::filesystem::create_directories(dir);
    std::ofstream out(dir + "/" + name, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

const std::string& PrivateFolder(const std::string& tag)
{
    namespace fs = std::filesystem;
    auto& folders = PrivateFolders();
    auto found = folders.find(tag);
    if (found != folders.end())
        return found->second;
    if (folders.empty()) {
        std::atexit([] {
            std::error_code ec;
            for (const auto& [unused, folder] : PrivateFolders())
                fs::remove_all(folder, ec);
        });
    }
    std::string dir = (fs::temp_directory_path() / ("oriel-" + tag + "-fuzz-" + std::to_string(::getpid()))).string();
    fs::create_directories(dir);
    return folders.emplace(tag, dir).first->second;
}

void WriteInputFile(const std::string& path, const uint8_t* data, size_t size)
{
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
}

size_t TouchItem(oriel::CCacheItem& item)
{
    size_t sink = 0;
    for (const char* text : {item.GetURL(), item.GetURLPath(), item.GetCacheName(), item.GetHeaders(),
                             item.GetContentType(), item.GetDisplayCacheName(), item.GetFilePath()}) {
        if (text)
            sink += std::string(text).size();
    }
    sink += item.GetSizeText().size() + item.GetLastModifiedText().size() + item.GetDownloadedText().size() +
            item.GetExpiresText().size() + size_t(item.GetRecordKey()) + size_t(item.GetContentEncoding()) +
            size_t(item.Exists());
    return sink;
}

size_t TouchCache(oriel::CCache& cache, const std::function<size_t(oriel::CCacheItem&)>& eachItem)
{
    size_t sink = 0;
    for (int32_t g = 0; g < cache.GetGroupCount(); ++g) {
        oriel::CNamedCacheItemArray* group = cache.GetGroup(g);
        if (const char* name = group->GetName())
            sink += std::string(name).size();
        for (int32_t i = 0; i < group->GetCount(); ++i) {
            oriel::CCacheItem& item = *group->ItemAt(i);
            sink += TouchItem(item);
            if (eachItem)
                sink += eachItem(item);
        }
    }
    // The recovered items, as the list and `list --recovered` read them.
    const oriel::CNamedCacheItemArray& recovered = cache.GetRecoveredItems();
    for (int32_t i = 0; i < recovered.GetCount(); ++i) {
        oriel::CCacheItem& item = *recovered.ItemAt(i);
        sink += TouchItem(item) + (item.IsPartial() ? 1 : 0);
        for (const auto& [label, text] : item.GetProperties())
            sink += label.size() + text.size();
        if (eachItem)
            sink += eachItem(item);
    }
    std::ostringstream csv;
    cache.ExportCSV(csv);
    return sink + csv.str().size();
}

size_t DecodeIndexImage(const uint8_t* data, size_t size, const MakeFuzzCache& makeCache,
                        const std::function<size_t(oriel::CCacheItem&)>& eachItem,
                        const std::function<void(oriel::CCache&, const std::string&)>& afterDecode)
{
    namespace fs = std::filesystem;
    const std::string folder = PrivateFolder("image") + "/cache";
    std::error_code ec;
    fs::remove_all(folder, ec);
    fs::create_directories(folder, ec);
    size_t sink = 0;
    {
        std::shared_ptr<const oriel::platform::ByteSource> index =
            oriel::platform::MemoryByteSource::View(std::span<const uint8_t>(data, size));
        std::unique_ptr<oriel::CCache> cache = makeCache(folder, index);
        cache->Decode(nullptr, false);
        if (afterDecode)
            afterDecode(*cache, folder);
        sink = TouchCache(*cache, eachItem);
    }
    fs::remove_all(folder, ec);
    return sink;
}

oriel::test::IndexDatUrl SeedIndexDatUrl(int i, uint8_t directory, const std::string& headers)
{
    using oriel::test::FatExpiryFromUnix;
    using oriel::test::FileTimeFromUnix;
    std::string name = "file" + std::to_string(i);
    return {
        .url = "http://host" + std::to_string(i % 3) + ".example/" + name + ".htm",
        .fileName = name + "[1].htm",
        .headers = headers,
        .directory = directory,
        .size = uint32_t(i * 100),
        .lastModified = FileTimeFromUnix(1200000000 + i * 3600),
        .lastAccess = FileTimeFromUnix(1240000000 + i * 60),
        .expires = FatExpiryFromUnix(1250000000 + i * 86400),
    };
}

uint32_t FuzzInput::U32()
{
    uint32_t v = 0;
    for (int i = 0; i < 4 && pos_ < size_; ++i)
        v |= uint32_t(uint8_t(data_[pos_++])) << (8 * i);
    return v;
}

std::string FuzzInput::Bytes(size_t n)
{
    n = std::min(n, size_ - std::min(pos_, size_));
    std::string out(data_ + pos_, n);
    pos_ += n;
    return out;
}

void AppendU32LE(std::string& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out += char((v >> (8 * i)) & 0xFF);
}

void WriteInputBytes(const std::string& path, const std::string& bytes)
{
    WriteInputFile(path, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

std::string ReadBackFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::function<size_t(oriel::CCacheItem&)> PrepareFirstItems(int limit)
{
    auto prepared = std::make_shared<int>(0);
    return [prepared, limit](oriel::CCacheItem& item) -> size_t {
        size_t n = 0;
        for (const auto& [label, text] : item.GetFormatProperties())
            n += label.size() + text.size();
        if ((*prepared)++ >= limit || !item.PrepareFile())
            return n;
        const char* path = item.GetFilePath();
        n += path ? std::string(path).size() : 0;
        item.DeleteCacheFile();
        return n;
    };
}
