#include "formats/ChromiumBlockFile.h"

#include <cstdio>

namespace oriel {

namespace blockfile {

uint32_t BlockSize(int fileType)
{
    static constexpr uint32_t kSizes[8] = {0, 36, 256, 1024, 4096, 8, 104, 48};
    return fileType >= 0 && fileType < 8 ? kSizes[fileType] : 0;
}

std::string ExternalFileName(uint32_t address)
{
    char name[16];
    std::snprintf(name, sizeof name, "f_%06x", ExternalFileNumber(address));
    return name;
}

std::string BlockFileName(uint32_t address)
{
    return "data_" + std::to_string(BlockFileNumber(address));
}

int64_t ChromeTimeToUnix(uint64_t value)
{
    // 11644473600 seconds lie between 1601-01-01 and 1970-01-01.
    if (value == 0)
        return 0;
    return int64_t(value / 1000000) - int64_t(11644473600);
}

} // namespace blockfile

std::optional<BlockfileIndexHeader> ParseBlockfileIndexHeader(const ByteReader& index)
{
    // 0 magic, 4 version, 8 entry count, 12 bytes, 16 last file, 20 this id,
    // 24 stats address, 28 table length, 32 crash, 36 experiment, 40 create
    // time, then padding and the eviction lists to 368.
    if (!index.has(0, blockfile::kIndexHeaderSize) || *index.u32le(0) != blockfile::kIndexMagic)
        return std::nullopt;
    BlockfileIndexHeader header;
    header.version = *index.u32le(4);
    if (header.version != blockfile::kVersion2_0 && header.version != blockfile::kVersion2_1 &&
        header.version != blockfile::kVersion3_0)
        return std::nullopt;
    header.entryCount = int32_t(*index.u32le(8));
    header.tableLength = *index.u32le(28);
    if (header.tableLength == 0)
        header.tableLength = blockfile::kDefaultTableSize;
    return header;
}

std::optional<uint32_t> ParseBlockfileBucket(const ByteReader& index, uint32_t bucket)
{
    return index.u32le(blockfile::kIndexHeaderSize + size_t(bucket) * 4);
}

std::optional<BlockFileHeader> ParseBlockFileHeader(const ByteReader& file)
{
    // 0 magic, 4 version, 8 this file (16 bits), 10 next file (16 bits),
    // 12 entry size, 16 entry count, 20 maximum entries, then the hints and
    // the allocation bitmap to 8192.
    if (!file.has(0, 16) || *file.u32le(0) != blockfile::kBlockMagic)
        return std::nullopt;
    BlockFileHeader header;
    header.version = *file.u32le(4);
    header.thisFile = int16_t(*file.u16le(8));
    header.nextFile = int16_t(*file.u16le(10));
    header.entrySize = int32_t(*file.u32le(12));
    return header;
}

std::optional<EntryStore> ParseEntryStore(const ByteReader& bytes)
{
    // 0 hash, 4 next, 8 rankings node, 12 reuse count, 16 refetch count,
    // 20 state, 24 creation time (64 bits), 32 key length, 36 long key
    // address, 40 four data sizes, 56 four data addresses, 72 flags, 76
    // padding, 92 self hash, 96 the key.
    if (!bytes.has(0, blockfile::kEntryKeyOffset))
        return std::nullopt;
    EntryStore entry;
    entry.hash = *bytes.u32le(0);
    entry.next = *bytes.u32le(4);
    entry.rankingsNode = *bytes.u32le(8);
    entry.state = int32_t(*bytes.u32le(20));
    entry.creationTime = *bytes.u64le(24);
    entry.keyLength = int32_t(*bytes.u32le(32));
    entry.longKey = *bytes.u32le(36);
    for (size_t i = 0; i < 4; ++i) {
        entry.dataSize[i] = int32_t(*bytes.u32le(40 + 4 * i));
        entry.dataAddress[i] = *bytes.u32le(56 + 4 * i);
    }
    entry.flags = *bytes.u32le(72);
    if (!blockfile::IsInitialized(entry.longKey) && entry.keyLength > 0) {
        const size_t available = bytes.size() - blockfile::kEntryKeyOffset;
        const size_t length = std::min<size_t>(size_t(entry.keyLength), available);
        entry.inlineKey = *bytes.bytes(blockfile::kEntryKeyOffset, length);
    }
    return entry;
}

std::optional<RankingsNode> ParseRankingsNode(const ByteReader& bytes)
{
    // 0 last used, 8 last modified (64 bits each), 16 next, 20 previous,
    // 24 contents, 28 dirty, 32 self hash.
    if (!bytes.has(0, blockfile::kRankingsNodeSize))
        return std::nullopt;
    RankingsNode node;
    node.lastUsed = *bytes.u64le(0);
    node.lastModified = *bytes.u64le(8);
    node.contents = *bytes.u32le(24);
    return node;
}

namespace {

// A pickled string at `offset`: a 32-bit length and the bytes. Only taken
// when it reads as raw headers (a status line starting "HTTP").
std::optional<std::string_view> HeaderStringAt(const ByteReader& bytes, size_t offset)
{
    auto length = bytes.u32le(offset);
    if (!length)
        return std::nullopt;
    auto text = bytes.bytes(offset + 4, *length);
    if (!text || text->substr(0, 4) != "HTTP")
        return std::nullopt;
    return text;
}

} // namespace

std::optional<ResponseInfo> ParseResponseInfo(const ByteReader& bytes)
{
    ResponseInfo info;
    if (!ParseResponseInfoInto(bytes, info))
        return std::nullopt;
    return info;
}

bool ParseResponseInfoInto(const ByteReader& bytes, ResponseInfo& info)
{
    // 0 payload size, 4 flags (the low byte the version), 8 request time,
    // 16 response time, 24 the headers' length and then the headers. Newer
    // writers put more words before the headers; they are looked for in
    // the next few aligned places.
    info.requestTime = 0;
    info.responseTime = 0;
    info.rawHeaders = {};
    info.headers.clear();
    auto payload = bytes.u32le(0);
    if (!payload || !bytes.has(0, 24))
        return false;
    std::optional<std::string_view> raw;
    for (size_t offset = 24; offset <= 64 && !raw; offset += 4)
        raw = HeaderStringAt(bytes, offset);
    if (!raw)
        return false;
    info.requestTime = *bytes.u64le(8);
    info.responseTime = *bytes.u64le(16);
    info.rawHeaders = *raw;
    // NUL after the status line and after each header; two at the end.
    std::string_view rest = *raw;
    while (!rest.empty()) {
        size_t nul = rest.find('\0');
        std::string_view line = rest.substr(0, nul);
        if (line.empty() && nul != std::string_view::npos && nul + 1 >= rest.size())
            break;
        info.headers.append(line);
        info.headers.append("\r\n");
        if (nul == std::string_view::npos)
            break;
        rest.remove_prefix(nul + 1);
    }
    return true;
}

bool NamesBrotliEncoding(std::string_view headers)
{
    constexpr std::string_view kName = "content-encoding:";
    size_t pos = 0;
    while (pos < headers.size()) {
        size_t end = headers.find("\r\n", pos);
        if (end == std::string_view::npos)
            end = headers.size();
        std::string_view line = headers.substr(pos, end - pos);
        pos = end + 2;
        if (line.size() < kName.size())
            continue;
        bool match = true;
        for (size_t i = 0; i < kName.size() && match; ++i) {
            char c = line[i];
            match = (c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c) == kName[i];
        }
        if (!match)
            continue;
        std::string_view value = line.substr(kName.size());
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
            value.remove_prefix(1);
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
            value.remove_suffix(1);
        return value.size() == 2 && (value[0] == 'b' || value[0] == 'B') && (value[1] == 'r' || value[1] == 'R');
    }
    return false;
}

ChromiumKey SplitChromiumKey(std::string_view key)
{
    // A double key: "1/0/_dk_" (or "_dk_" alone, with more prefixes such as
    // "_cn_" possible), the top-frame site, a blank, the frame site, a blank
    // and the URL; the URL is the last part.
    ChromiumKey parts{key, {}};
    const size_t dk = key.find("_dk_");
    if (dk == std::string_view::npos)
        return parts;
    const size_t blank = key.rfind(' ');
    if (blank == std::string_view::npos || blank < dk)
        return parts;
    parts.url = key.substr(blank + 1);
    parts.siteKey = key.substr(dk + 4, blank - dk - 4);
    return parts;
}

} // namespace oriel
