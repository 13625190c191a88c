#include "formats/ChromiumBlockfileCache.h"

#include "app/StringTable.h"
#include "formats/ChromiumBlockfileRecovery.h"
#include "formats/ChromiumCacheItems.h"
#include "model/TextForms.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <cstdio>
#include <thread>
#include <vector>

namespace oriel {

namespace {

// No real index holds more entries; more addresses in the chains are
// hostile (or a loop through fresh addresses).
constexpr size_t kMaxEntries = size_t(1) << 22;
constexpr size_t kEntriesPerYield = 4096;
// A stream is at most this long in a real cache's block file run.
constexpr uint64_t kMaxBlockRun = 4 * 4096;
// Stream 0 (the response info) is read at most this long.
constexpr uint64_t kMaxResponseInfo = 1 << 20;
// A block file is read whole up to this size (a full rankings file is
// 2.3 MiB), and all of them together up to the budget.
constexpr uint64_t kMaxWholeBlockFile = uint64_t(4) << 20;
constexpr uint64_t kWholeReadBudget = uint64_t(64) << 20;

// The entry addresses met on the chains: an open-addressed table of
// 32-bit addresses (0, never an initialised address, marks a free slot),
// so that 100,000 entries cost no allocation each.
class AddressSet {
public:
    size_t size() const { return count_; }

    // False when `address` was there already.
    bool insert(uint32_t address)
    {
        if ((count_ + 1) * 2 > slots_.size())
            Grow();
        const size_t mask = slots_.size() - 1;
        for (size_t i = Hash(address) & mask;; i = (i + 1) & mask) {
            if (slots_[i] == address)
                return false;
            if (slots_[i] == 0) {
                slots_[i] = address;
                ++count_;
                return true;
            }
        }
    }

private:
    static size_t Hash(uint32_t address) { return size_t((uint64_t(address) * 0x9E3779B97F4A7C15ull) >> 32); }

    void Grow()
    {
        std::vector<uint32_t> old(std::max<size_t>(1024, slots_.size() * 2), 0);
        old.swap(slots_);
        const size_t mask = slots_.size() - 1;
        for (uint32_t address : old) {
            if (address == 0)
                continue;
            size_t i = Hash(address) & mask;
            while (slots_[i] != 0)
                i = (i + 1) & mask;
            slots_[i] = address;
        }
    }

    std::vector<uint32_t> slots_;
    size_t count_ = 0;
};

std::string Hex(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

int32_t ClampSize(int32_t size)
{
    return std::max<int32_t>(size, 0);
}

} // namespace

ChromiumBlockfileCache::ChromiumBlockfileCache(const AppContext& context, BrowserProfile* profile, std::string folder)
    : NetscapeCache(context, profile, std::move(folder), kIndexFileName)
{
}

ChromiumBlockfileCache::~ChromiumBlockfileCache()
{
    StopDecodeThread();
    CloseDBFile();
}

bool ChromiumBlockfileCache::Recognize(const std::string& folder)
{
    auto source = platform::FileRange{platform::ResolvePath(platform::MakePath(folder, kIndexFileName))}.Open();
    if (!source)
        return false;
    auto magic = source->Read(0, 4).u32le(0);
    return magic && *magic == blockfile::kIndexMagic;
}

const platform::ByteSource* ChromiumBlockfileCache::BlockFile(uint32_t number)
{
    if (number >= 256)
        return nullptr;
    BlockFileState& state = blockFiles_[number];
    if (!state.opened) {
        state.opened = true;
        const std::string path = BlockFilePath(number);
        state.source = platform::FileRange{path}.Open();
        // A missing block file leaves its entries or streams out.
        if (state.source && !ParseBlockFileHeader(state.source->Read(0, 16)))
            state.source.reset();
        // A small block file is read whole: the rankings file, read node
        // by node for every entry, and the few files of a small cache. A
        // large one is read by range (the chains visit its blocks in no
        // order, and most of its bytes are bodies the listing does not
        // read). A file that cannot be read whole is read by range.
        const uint64_t size = state.source ? state.source->Size() : 0;
        if (size > 0 && size <= kMaxWholeBlockFile && size <= kWholeReadBudget - wholeReadBytes_) {
            auto whole = platform::OpenWholeFile(path, kMaxWholeBlockFile);
            if (whole && ParseBlockFileHeader(whole->Read(0, 16))) {
                wholeReadBytes_ += std::min<uint64_t>(whole->Size(), kWholeReadBudget - wholeReadBytes_);
                state.source = std::move(whole);
            }
        }
    }
    return state.source.get();
}

std::string ChromiumBlockfileCache::BlockFilePath(uint32_t number) const
{
    return platform::ResolvePath(platform::MakePath(GetFolder(), "data_" + std::to_string(number)));
}

ByteReader ChromiumBlockfileCache::ReadBlocks(uint32_t address, uint64_t length)
{
    if (!blockfile::IsInitialized(address))
        return {};
    const int type = blockfile::AddressFileType(address);
    const uint32_t file = blockfile::BlockFileNumber(address);
    const platform::ByteSource* source = BlockFile(file);
    if (type < blockfile::kRankings || type > blockfile::kBlock4K || !source)
        return {};
    const uint64_t run = uint64_t(blockfile::BlockCount(address)) * blockfile::BlockSize(type);
    return source->Read(blockfile::BlockOffset(address), size_t(std::min(length, run)));
}

std::string ChromiumBlockfileCache::ReadKey(const EntryStore& entry)
{
    return std::string(KeyOf(entry));
}

std::string_view ChromiumBlockfileCache::KeyOf(const EntryStore& entry)
{
    if (!blockfile::IsInitialized(entry.longKey)) {
        key_.assign(entry.inlineKey);
        return key_;
    }
    key_.clear();
    const uint64_t length = uint64_t(std::clamp<int32_t>(entry.keyLength, 0, 1 << 20));
    if (blockfile::AddressFileType(entry.longKey) == blockfile::kExternal) {
        auto path = platform::ResolvePath(platform::MakePath(GetFolder(), blockfile::ExternalFileName(entry.longKey)));
        auto source = platform::FileRange{path, 0, length}.Open();
        if (!source)
            return key_;
        ByteReader bytes = source->Read(0, size_t(length));
        if (auto text = bytes.cstring(0, bytes.size()))
            key_.assign(*text);
        return key_;
    }
    ByteReader bytes = ReadBlocks(entry.longKey, length);
    if (auto text = bytes.cstring(0, bytes.size()))
        key_.assign(*text);
    return key_;
}

int ChromiumBlockfileCache::DoDecode()
{
    Trace("Entry - ChromiumBlockfileCache::DoDecode()");
    const platform::ByteSource* source = Database();
    const ByteReader index = source ? source->ReadAll() : ByteReader();
    auto header = ParseBlockfileIndexHeader(index);
    if (!header) {
        ShowInvalidHeader(DatabaseFilePath());
        RequestStop();
        Trace("Exit  - ChromiumBlockfileCache::DoDecode() bad header");
        return -1;
    }
    version_ = header->version;
    entryCount_ = header->entryCount;
    char line[64];
    std::snprintf(line, sizeof line, "Cache version=%x", version_);
    Trace(line);
    std::snprintf(line, sizeof line, "Cache enties=%d", entryCount_);
    Trace(line);
    SetProgressTotal(std::max<int32_t>(entryCount_, 0));

    separateFiles_ = std::make_unique<platform::FolderIndex>();
    // The table holds at most the buckets the file holds.
    const size_t inFile = (index.size() - blockfile::kIndexHeaderSize) / 4;
    const size_t buckets = std::min<size_t>(header->tableLength, inFile);
    AddressSet seen;
    BlockfileBlockUse live;
    int32_t recordKey = 0;
    for (size_t bucket = 0; bucket < buckets && !StopRequested(); ++bucket) {
        uint32_t address = *ParseBlockfileBucket(index, uint32_t(bucket));
        while (blockfile::IsInitialized(address) && seen.size() < kMaxEntries && !StopRequested()) {
            if (!seen.insert(address))
                break; // a cycle, or two chains joined: each entry once
            if (blockfile::AddressFileType(address) != blockfile::kBlock256)
                break;
            ByteReader run = ReadBlocks(address, kMaxBlockRun);
            auto entry = ParseEntryStore(run);
            if (!entry)
                break;
            DecodeEntry(recordKey++, *entry, run);
            live.MarkEntry(address, *entry);
            if (size_t(recordKey) % kEntriesPerYield == 0)
                std::this_thread::yield();
            address = entry->next;
        }
    }
    if (!StopRequested())
        RecoverEntries(recordKey, live);
    for (BlockFileState& state : blockFiles_)
        state = BlockFileState();
    wholeReadBytes_ = 0;
    separateFiles_.reset();
    std::snprintf(line, sizeof line, "Read %d entries", recordKey);
    Trace(line);
    Trace("Exit  - ChromiumBlockfileCache::DoDecode()");
    return 0;
}

void ChromiumBlockfileCache::DecodeEntry(int32_t recordKey, const EntryStore& entry, const ByteReader&,
                                         const RecoveredEntry* recovered)
{
    // Views of the key, which stays in key_ until the next entry's.
    const ChromiumKey parts = SplitChromiumKey(KeyOf(entry));
    const std::string_view url = parts.url;
    auto split = SplitUrl(url);
    const std::string_view host = split ? split->host : std::string_view();
    const std::string_view path = split ? split->path : url;

    int64_t lastModified = 0;
    int64_t lastUsed = 0;
    int64_t downloaded = blockfile::ChromeTimeToUnix(entry.creationTime);
    if (auto node = ParseRankingsNode(ReadBlocks(entry.rankingsNode, blockfile::kRankingsNodeSize))) {
        lastModified = blockfile::ChromeTimeToUnix(node->lastModified);
        lastUsed = blockfile::ChromeTimeToUnix(node->lastUsed);
    }

    // Stream 0: the response info, in a block run or a separate file.
    bool hasInfo = false;
    const uint32_t infoAddress = entry.dataAddress[0];
    const uint64_t infoLength = uint64_t(std::min<int64_t>(ClampSize(entry.dataSize[0]), kMaxResponseInfo));
    if (blockfile::IsInitialized(infoAddress) && infoLength > 0) {
        if (blockfile::AddressFileType(infoAddress) == blockfile::kExternal) {
            auto file = platform::ResolvePath(platform::MakePath(GetFolder(), blockfile::ExternalFileName(infoAddress)));
            if (auto source = platform::FileRange{file, 0, infoLength}.Open()) {
                ByteReader bytes = source->Read(0, size_t(infoLength));
                scratch_.assign(bytes.size() ? *bytes.bytes(0, bytes.size()) : std::string_view());
                hasInfo = ParseResponseInfoInto(ByteReader(scratch_), info_);
            }
        } else {
            hasInfo = ParseResponseInfoInto(ReadBlocks(infoAddress, infoLength), info_);
        }
    }
    if (hasInfo && info_.responseTime)
        downloaded = blockfile::ChromeTimeToUnix(info_.responseTime);
    const OptText headers = hasInfo ? OptText(info_.headers) : std::nullopt;

    // Stream 1: the body.
    const uint32_t body = entry.dataAddress[1];
    const int32_t size = ClampSize(entry.dataSize[1]);
    const std::string name = Hex(entry.hash);
    std::unique_ptr<CCacheItem> item;
    if (blockfile::IsInitialized(body) && blockfile::AddressFileType(body) != blockfile::kExternal) {
        const int type = blockfile::AddressFileType(body);
        const int64_t run = int64_t(blockfile::BlockCount(body)) * blockfile::BlockSize(type);
        auto embedded = std::make_unique<CChromiumEmbeddedItem>(
            this, recordKey, url, path, name, size, lastModified, downloaded, 0, headers,
            blockfile::BlockFileName(body), int64_t(blockfile::BlockOffset(body)), int32_t(std::min<int64_t>(size, run)));
        embedded->SetSiteKey(parts.siteKey);
        item = std::move(embedded);
    } else {
        // A separate file, or no body at all (the item then names none).
        OptText fileName;
        std::string external;
        if (blockfile::IsInitialized(body)) {
            external = blockfile::ExternalFileName(body);
            if (auto found = separateFiles_->FindRelative(GetFolder(), external))
                external = *found;
            fileName = external;
        }
        auto file = std::make_unique<CChromiumFileItem>(this, recordKey, url, path, fileName, size, lastModified,
                                                        downloaded, 0, headers);
        file->SetSiteKey(parts.siteKey);
        item = std::move(file);
    }
    if (hasInfo && NamesBrotliEncoding(info_.headers))
        item->SetContentEncoding(CCacheItem::kEncodingBrotli);
    item->SetLastAccessed(lastUsed);
    if (recovered) {
        AddRecoveredEntry(std::move(item), *recovered);
        return;
    }
    AddItem(host, std::move(item));
}

} // namespace oriel
