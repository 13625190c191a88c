// The recovered entries of a Chromium blockfile cache, kept apart from the
// live decode in ChromiumBlockfileCache.cpp.
#include "formats/ChromiumBlockfileRecovery.h"

#include "app/StringTable.h"
#include "formats/ChromiumBlockfileCache.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>

namespace oriel {

uint32_t SuperFastHash(std::string_view data)
{
    if (data.empty())
        return 0;
    const auto* p = reinterpret_cast<const unsigned char*>(data.data());
    auto get16 = [](const unsigned char* d) { return uint32_t(d[0]) | uint32_t(d[1]) << 8; };
    // A byte taken as a signed char, its sign spread over the word.
    auto signedByte = [](unsigned char c) { return uint32_t(int32_t(int8_t(c))); };
    uint32_t hash = uint32_t(data.size());
    for (size_t groups = data.size() / 4; groups > 0; --groups, p += 4) {
        hash += get16(p);
        const uint32_t tmp = (get16(p + 2) << 11) ^ hash;
        hash = (hash << 16) ^ tmp;
        hash += hash >> 11;
    }
    switch (data.size() & 3) {
    case 3:
        hash += get16(p);
        hash ^= hash << 16;
        hash ^= signedByte(p[2]) << 18;
        hash += hash >> 11;
        break;
    case 2:
        hash += get16(p);
        hash ^= hash << 11;
        hash += hash >> 17;
        break;
    case 1:
        hash += signedByte(p[0]);
        hash ^= hash << 10;
        hash += hash >> 1;
        break;
    default:
        break;
    }
    // The final mixing.
    hash ^= hash << 3;
    hash += hash >> 5;
    hash ^= hash << 4;
    hash += hash >> 17;
    hash ^= hash << 25;
    hash += hash >> 6;
    return hash;
}

namespace blockfile {

uint32_t EntryBlocksForKey(int32_t keyLength)
{
    // The first block holds 160 bytes of key; each further one 256.
    constexpr int32_t kFirst = int32_t(kEntryStoreSize - kEntryKeyOffset);
    if (keyLength < kFirst || keyLength > kMaxInlineKeyLength)
        return 1;
    return uint32_t((keyLength - kFirst) / int32_t(kEntryStoreSize) + 2);
}

bool BitmapMarksUsed(const ByteReader& header, uint32_t block)
{
    if (block >= kMaxBlocksPerFile)
        return false;
    auto word = header.u32le(kAllocationMapOffset + size_t(block / 32) * 4);
    return word && (*word >> (block % 32) & 1) != 0;
}

} // namespace blockfile

BlockfileBlockUse::BlockfileBlockUse() = default;
BlockfileBlockUse::~BlockfileBlockUse() = default;
BlockfileBlockUse::BlockfileBlockUse(BlockfileBlockUse&&) noexcept = default;
BlockfileBlockUse& BlockfileBlockUse::operator=(BlockfileBlockUse&&) noexcept = default;

namespace {

// Block addresses name blocks 0 to 65535 of a file.
constexpr uint32_t kAddressableBlocks = 0x10000;

bool IsBlockAddress(uint32_t address)
{
    const int type = blockfile::AddressFileType(address);
    return blockfile::IsInitialized(address) && type >= blockfile::kRankings && type <= blockfile::kBlock4K;
}

} // namespace

void BlockfileBlockUse::Mark(uint32_t address)
{
    if (!blockfile::IsInitialized(address))
        return;
    if (blockfile::AddressFileType(address) == blockfile::kExternal) {
        separate_.insert(blockfile::ExternalFileNumber(address));
        return;
    }
    if (!IsBlockAddress(address))
        return;
    auto& bits = files_[blockfile::BlockFileNumber(address)];
    if (!bits)
        bits = std::make_unique<std::vector<bool>>(kAddressableBlocks, false);
    const uint32_t start = blockfile::StartBlock(address);
    const uint32_t end = std::min(start + blockfile::BlockCount(address), kAddressableBlocks);
    for (uint32_t b = start; b < end; ++b)
        (*bits)[b] = true;
}

void BlockfileBlockUse::MarkEntry(uint32_t address, const EntryStore& entry)
{
    Mark(address);
    Mark(entry.longKey);
    Mark(entry.rankingsNode);
    for (uint32_t stream : entry.dataAddress)
        Mark(stream);
}

bool BlockfileBlockUse::IsUsed(uint32_t file, uint32_t block) const
{
    const std::vector<bool>* bits = file < 256 ? files_[file].get() : nullptr;
    return bits && block < kAddressableBlocks && (*bits)[block];
}

bool BlockfileBlockUse::Overlaps(uint32_t address) const
{
    if (!blockfile::IsInitialized(address))
        return false;
    if (blockfile::AddressFileType(address) == blockfile::kExternal)
        return separate_.count(blockfile::ExternalFileNumber(address)) != 0;
    if (!IsBlockAddress(address))
        return false;
    const uint32_t start = blockfile::StartBlock(address);
    for (uint32_t b = start; b < start + blockfile::BlockCount(address); ++b) {
        if (IsUsed(blockfile::BlockFileNumber(address), b))
            return true;
    }
    return false;
}

bool BlockfileBlockUse::AllUsed(uint32_t file, uint32_t first, uint32_t end) const
{
    for (uint32_t b = first; b < end; ++b) {
        if (!IsUsed(file, b))
            return false;
    }
    return true;
}

namespace {

// Blocks of a block file read at once while looking for records: small,
// since the file's source keeps a buffer as large as its largest read.
constexpr uint32_t kChunkBlocks = 128;

} // namespace

std::vector<BlockfileStaleEntry> FindBlockfileStaleEntries(
    const platform::ByteSource& file, uint32_t number, const BlockfileBlockUse& live,
    const std::function<std::optional<std::string>(const EntryStore&)>& readKeyApart, size_t limit)
{
    using namespace blockfile;
    std::vector<BlockfileStaleEntry> found;
    std::string header;
    {
        ByteReader bytes = file.Read(0, kBlockHeaderSize);
        if (bytes.size() < kBlockHeaderSize)
            return found;
        header.assign(*bytes.bytes(0, bytes.size()));
    }
    const ByteReader headerBytes(header);
    const uint64_t size = file.Size();
    const uint32_t blocks =
        uint32_t(std::min<uint64_t>((size - std::min<uint64_t>(size, kBlockHeaderSize)) / kEntryStoreSize,
                                    kMaxBlocksPerFile));
    std::string chunk;
    uint32_t next = 0; // the first block not yet looked at
    for (uint32_t chunkStart = 0; chunkStart < blocks && found.size() < limit; chunkStart += kChunkBlocks) {
        const uint32_t chunkEnd = std::min(chunkStart + kChunkBlocks, blocks);
        if (next >= chunkEnd || live.AllUsed(number, std::max(next, chunkStart), chunkEnd))
            continue;
        // A record starting in the chunk may run three blocks past it.
        const uint32_t readEnd = std::min(chunkEnd + 3, blocks);
        {
            ByteReader bytes = file.Read(kBlockHeaderSize + uint64_t(chunkStart) * kEntryStoreSize,
                                         size_t(readEnd - chunkStart) * kEntryStoreSize);
            chunk.assign(bytes.size() ? *bytes.bytes(0, bytes.size()) : std::string_view());
        }
        const ByteReader bytes(chunk);
        const uint32_t inChunk = uint32_t(chunk.size() / kEntryStoreSize);
        for (uint32_t b = std::max(next, chunkStart); b < chunkEnd && found.size() < limit; b = std::max(b + 1, next)) {
            const uint32_t at = b - chunkStart;
            if (at >= inChunk || live.IsUsed(number, b))
                continue;
            const size_t offset = size_t(at) * kEntryStoreSize;
            const int32_t keyLength = int32_t(*bytes.u32le(offset + 32));
            const bool apart = IsInitialized(*bytes.u32le(offset + 36));
            if (keyLength <= 0 || (!apart && keyLength > kMaxInlineKeyLength))
                continue;
            const uint32_t count = apart ? 1 : EntryBlocksForKey(keyLength);
            // The run lies in the bytes read and in no live entry's blocks.
            if (at + count > inChunk)
                continue;
            bool taken = false;
            for (uint32_t i = 1; i < count && !taken; ++i)
                taken = live.IsUsed(number, b + i);
            if (taken)
                continue;
            const ByteReader run = bytes.sub(offset, size_t(count) * kEntryStoreSize);
            auto entry = ParseEntryStore(run);
            if (!entry)
                continue;
            std::string key;
            if (apart) {
                auto read = readKeyApart(*entry);
                if (!read || read->size() != size_t(keyLength))
                    continue;
                key = std::move(*read);
            } else {
                // The key and its NUL lie inside the run.
                if (*run.u8(kEntryKeyOffset + size_t(keyLength)) != 0)
                    continue;
                key.assign(*run.bytes(kEntryKeyOffset, size_t(keyLength)));
            }
            if (SuperFastHash(key) != entry->hash)
                continue;
            BlockfileStaleEntry stale;
            stale.address = 0x80000000u | uint32_t(kBlock256) << 28 | (count - 1) << 24 | (number & 0xFF) << 16 | b;
            stale.allocated = BitmapMarksUsed(headerBytes, b);
            stale.entry = *entry;
            stale.key = std::move(key);
            found.push_back(std::move(stale));
            next = b + count;
        }
        next = std::max(next, chunkEnd);
    }
    // The inline keys are views of the entries' own copies.
    for (BlockfileStaleEntry& stale : found) {
        if (!IsInitialized(stale.entry.longKey))
            stale.entry.inlineKey = stale.key;
    }
    return found;
}

// What DecodeEntry needs to file a recovered item.
struct ChromiumBlockfileCache::RecoveredEntry {
    bool partial = false;
    std::vector<std::pair<std::string, std::string>> properties;
};

namespace {

// No real cache holds more entries that are gone; the scan of a hostile
// one stops there. Keys stored apart are read at most this much and this
// often in all, and the 256-byte block files looked at at most this many.
constexpr size_t kMaxRecoveredEntries = size_t(1) << 16;
constexpr uint64_t kMaxKeyBytesApart = uint64_t(16) << 20;
constexpr size_t kMaxKeysApart = size_t(1) << 14;
constexpr int kMaxEntryFiles = 8;

std::string RunText(uint32_t address)
{
    char text[64];
    const uint32_t start = blockfile::StartBlock(address);
    const uint32_t count = blockfile::BlockCount(address);
    if (count == 1)
        std::snprintf(text, sizeof text, "data_%u block %u", blockfile::BlockFileNumber(address), start);
    else
        std::snprintf(text, sizeof text, "data_%u blocks %u-%u", blockfile::BlockFileNumber(address), start,
                      start + count - 1);
    return text;
}

std::string AddressText(uint32_t address)
{
    return blockfile::AddressFileType(address) == blockfile::kExternal ? blockfile::ExternalFileName(address)
                                                                       : RunText(address);
}

const char* StateText(int32_t state)
{
    switch (state) {
    case 0:
        return "normal";
    case 1:
        return "evicted";
    case 2:
        return "doomed";
    default:
        return "unknown";
    }
}

// The keys under which the blocks and separate files of an address are
// counted among the recovered entries.
template <class F>
void ForEachUnit(uint32_t address, F&& f)
{
    if (!blockfile::IsInitialized(address))
        return;
    const int type = blockfile::AddressFileType(address);
    if (type == blockfile::kExternal) {
        f(uint64_t(1) << 40 | blockfile::ExternalFileNumber(address));
        return;
    }
    if (type < blockfile::kRankings || type > blockfile::kBlock4K)
        return;
    const uint32_t start = blockfile::StartBlock(address);
    for (uint32_t b = start; b < start + blockfile::BlockCount(address); ++b)
        f(uint64_t(blockfile::BlockFileNumber(address)) << 16 | b);
}

} // namespace

void ChromiumBlockfileCache::RecoverEntries(int32_t firstKey, const BlockfileBlockUse& live)
{
    uint64_t keyBudget = kMaxKeyBytesApart;
    size_t keyReads = 0;
    auto readKeyApart = [this, &keyBudget, &keyReads](const EntryStore& entry) -> std::optional<std::string> {
        const uint64_t length = uint64_t(std::max<int32_t>(entry.keyLength, 0));
        if (length > keyBudget || keyReads >= kMaxKeysApart)
            return std::nullopt;
        keyBudget -= length;
        ++keyReads;
        // A separate file is looked up in the folder's listing first: a
        // name that is not there costs no walk of the path.
        if (blockfile::AddressFileType(entry.longKey) == blockfile::kExternal &&
            !separateFiles_->FindRelative(GetFolder(), blockfile::ExternalFileName(entry.longKey)))
            return std::nullopt;
        return ReadKey(entry);
    };

    // data_1 and the 256-byte block files it goes on in.
    std::vector<BlockfileStaleEntry> stale;
    bool visited[256] = {};
    uint32_t number = 1;
    for (int files = 0; files < kMaxEntryFiles && number < 256 && !visited[number] && !StopRequested(); ++files) {
        visited[number] = true;
        const platform::ByteSource* source = BlockFile(number);
        if (!source)
            break;
        auto header = ParseBlockFileHeader(source->Read(0, 16));
        if (!header || header->entrySize != int32_t(blockfile::kEntryStoreSize))
            break;
        auto more = FindBlockfileStaleEntries(*source, number, live, readKeyApart, kMaxRecoveredEntries - stale.size());
        for (BlockfileStaleEntry& entry : more)
            stale.push_back(std::move(entry));
        if (header->nextFile <= 0)
            break;
        number = uint32_t(header->nextFile);
    }
    Trace("Entries no chain reaches: " + std::to_string(stale.size()));
    if (stale.empty())
        return;
    // Their views point into the vector's own strings from here on.
    for (BlockfileStaleEntry& entry : stale) {
        if (!blockfile::IsInitialized(entry.entry.longKey))
            entry.entry.inlineKey = entry.key;
    }

    // How many recovered entries claim each block and separate file: a
    // body two of them name was overwritten by the later of the two, and
    // which one that was cannot be told.
    std::unordered_map<uint64_t, uint32_t> claims;
    for (const BlockfileStaleEntry& entry : stale) {
        auto claim = [&claims](uint64_t unit) { ++claims[unit]; };
        ForEachUnit(entry.address, claim);
        for (int s = 0; s < 2; ++s)
            ForEachUnit(entry.entry.dataAddress[s], claim);
    }
    auto shared = [&claims](uint32_t address) {
        bool many = false;
        ForEachUnit(address, [&](uint64_t unit) {
            auto found = claims.find(unit);
            many = many || (found != claims.end() && found->second > 1);
        });
        return many;
    };

    int32_t key = firstKey;
    for (BlockfileStaleEntry& found : stale) {
        if (StopRequested())
            return;
        EntryStore entry = found.entry;
        RecoveredEntry recovered;
        std::vector<std::string> missing;
        // Streams 0 (the headers) and 1 (the body): a stream whose bytes
        // later writes may have taken is left out.
        static constexpr const char* kStreams[2] = {"the headers", "the body"};
        for (int s = 0; s < 2; ++s) {
            const uint32_t address = entry.dataAddress[s];
            if (!blockfile::IsInitialized(address) || entry.dataSize[s] <= 0)
                continue;
            std::string why;
            const int type = blockfile::AddressFileType(address);
            if (live.Overlaps(address)) {
                const bool one = type == blockfile::kExternal || blockfile::BlockCount(address) == 1;
                why = AddressText(address) + (one ? " now holds" : " now hold") + " a live entry's data";
            } else if (shared(address)) {
                why = AddressText(address) + " also named by another recovered entry";
            } else if (type == blockfile::kExternal) {
                if (!separateFiles_->FindRelative(GetFolder(), blockfile::ExternalFileName(address)))
                    why = blockfile::ExternalFileName(address) + " is gone";
            } else {
                const platform::ByteSource* file = BlockFile(blockfile::BlockFileNumber(address));
                auto header = file ? ParseBlockFileHeader(file->Read(0, 16)) : std::nullopt;
                const uint64_t run = uint64_t(blockfile::BlockCount(address)) * blockfile::BlockSize(type);
                const uint64_t needed = blockfile::BlockOffset(address) +
                                        std::min<uint64_t>(uint64_t(entry.dataSize[s]), run);
                if (!header || header->entrySize != int32_t(blockfile::BlockSize(type)) || file->Size() < needed)
                    why = AddressText(address) + " cannot be read";
            }
            if (!why.empty()) {
                entry.dataAddress[s] = 0;
                missing.push_back(std::string(kStreams[s]) + " is missing: " + why);
            }
        }
        // The times of the rankings node only when it still names this
        // entry (a freed node may hold another's).
        if (live.Overlaps(entry.rankingsNode)) {
            entry.rankingsNode = 0;
        } else if (auto node = ParseRankingsNode(ReadBlocks(entry.rankingsNode, blockfile::kRankingsNodeSize));
                   !node || node->contents != found.address) {
            entry.rankingsNode = 0;
        }

        recovered.partial = !missing.empty();
        recovered.properties.emplace_back(LoadString(IDS_PROP_RECOVERED_FROM),
                                          RunText(found.address) + (found.allocated
                                                                        ? ", allocated but in no chain of the index"
                                                                        : ", a free block"));
        std::string state = LoadString(recovered.partial ? IDS_RECOVERED_PARTIAL : IDS_RECOVERED_WHOLE);
        for (const std::string& why : missing)
            state += "; " + why;
        recovered.properties.emplace_back(LoadString(IDS_PROP_RECOVERED_STATE), state);
        recovered.properties.emplace_back("Entry state", StateText(entry.state));
        DecodeEntry(key++, entry, ByteReader(), &recovered);
    }
}

void ChromiumBlockfileCache::AddRecoveredEntry(std::unique_ptr<CCacheItem> item, const RecoveredEntry& recovered)
{
    for (const auto& [label, text] : recovered.properties)
        item->AddFormatProperty(label, text);
    item->SetRecovered(recovered.partial);
    AddRecoveredItem(std::move(item));
}

} // namespace oriel
