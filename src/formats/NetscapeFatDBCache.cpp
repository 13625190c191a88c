#include "formats/NetscapeFatDBCache.h"

#include "app/CacheApp.h"
#include "app/Messages.h"
#include "app/StringTable.h"
#include "app/TraceLog.h"
#include "model/TextForms.h"

#include <algorithm>

namespace oriel {

namespace {

// "IgnoreUnsupported" is never taken from the stored options: a run starts
// with it off unless the application was told otherwise (oriel-cli's
// --ignore-unsupported).
bool IgnoreUnsupported()
{
    CCacheApp* app = CCacheApp::Instance();
    return app && app->Options().ignoreUnsupported != 0;
}

// Moves past a text: its length word, and its bytes when they are there.
void SkipText(const ByteReader& page, size_t& pos)
{
    hashdb::ReadText(page, pos);
}

} // namespace

NetscapeFatDBCache::NetscapeFatDBCache(BrowserProfile* profile, std::string folder)
    : NetscapeHashDBCache(profile, std::move(folder), kDatabaseFileName)
{
}

NetscapeFatDBCache::~NetscapeFatDBCache()
{
    StopDecodeThread();
}

int NetscapeFatDBCache::DoDecode()
{
    Trace("Entry - NetscapeFatDBCache::DoDecode()");
    skipVersionErrors_ = false;
    if (GetFatDBHeaderInfo() != 0) {
        Trace("Exit - NetscapeFatDBCache::DoDecode() GetFatDBHeaderInfo fails");
        return -1;
    }
    DecodePages();
    CloseDBFile();
    Trace("Exit - NetscapeFatDBCache::DoDecode()");
    return 0;
}

NetscapeHashDBCache::PairOutcome NetscapeFatDBCache::DecodePagePair(const ByteReader& page, int32_t recordKey,
                                                                    hashdb::Pair pair)
{
    const int result = DecodePair(page, recordKey, pair.dataOffset, pair.keyOffset);
    if (result == -3) {
        ReportUnsupportedVersion(page, pair.dataOffset, pair.keyOffset);
        return PairOutcome::EndOfPage;
    }
    return result == 0 ? PairOutcome::Item : PairOutcome::Skipped;
}

void NetscapeFatDBCache::ReportUnsupportedVersion(const ByteReader& page, size_t dataOffset, size_t keyOffset)
{
    // The record's bytes up to its key (which follows the data in a page),
    // never past the page read; to the end of the page when the key lies
    // before the data.
    size_t end = keyOffset > dataOffset ? std::min(keyOffset, page.size()) : page.size();
    if (auto record = page.bytes(dataOffset, end > dataOffset ? end - dataOffset : 0))
        CTraceLog::Get().WriteBytes(record->data(), record->size());
    if (IgnoreUnsupported() || skipVersionErrors_)
        return;
    if (Messages().AskYesNo(LoadString(IDS_UNSUPPORTED_VERSION), MessageIcon::Question))
        skipVersionErrors_ = true;
}

FatDbRecord ParseFatDbRecord(const ByteReader& page, size_t dataOffset, size_t keyOffset, uint32_t pageSize)
{
    using Status = FatDbRecord::Status;
    FatDbRecord record;
    auto recordLength = page.u32le(dataOffset);
    if (!recordLength || *recordLength == 0 || *recordLength >= pageSize)
        return record;
    auto version = page.u32le(dataOffset + 4);
    if (!version || *version == NetscapeFatDBCache::kInternalVersion)
        return record;
    const bool layoutA = *version >= 2 && *version <= 4;
    const bool layoutB = *version == 5;
    if (!layoutA && !layoutB) {
        record.status = Status::UnsupportedVersion;
        return record;
    }

    // offset 8: last modified; 12: downloaded; 16: expires; 20: size
    auto lastModified = page.u32le(dataOffset + 8);
    auto downloaded = page.u32le(dataOffset + 12);
    auto expires = page.u32le(dataOffset + 16);
    auto size = page.u32le(dataOffset + 20);
    if (!lastModified || !downloaded || !expires || !size)
        return record;
    // offset 24: 1 unused byte; 25: 4 unused bytes
    size_t pos = dataOffset + 29;
    auto cacheName = hashdb::ReadText(page, pos);
    if (!cacheName) {
        record.status = Status::MissingText;
        return record;
    }

    if (layoutA) {
        pos += 4;
        auto variant = page.u8(pos);
        pos += 1;
        switch (variant.value_or(0xFF)) {
        case 0:
            pos += 24;
            break;
        case 1:
            pos += 20;
            if (page.u32le(pos).value_or(0) > 0) {
                pos += 4;
                SkipText(page, pos);
            } else {
                pos += 8;
            }
            break;
        case 2:
            pos += 8;
            SkipText(page, pos);
            SkipText(page, pos);
            pos += 8;
            break;
        default:
            break;
        }
    } else {
        pos += 4 + 1 + 4;
        SkipText(page, pos);
        pos += 4;
        SkipText(page, pos);
    }
    auto contentType = hashdb::ReadText(page, pos);

    // Key: length, then the URL as a text.
    auto keyLength = page.u32le(keyOffset);
    if (!keyLength || *keyLength == 0 || *keyLength >= pageSize)
        return record;
    size_t keyPos = keyOffset + 4;
    auto urlText = hashdb::ReadText(page, keyPos);
    if (!urlText) {
        record.status = Status::MissingText;
        return record;
    }

    record.status = Status::Parsed;
    record.url = hashdb::UpToNul(*urlText);
    record.cacheName = hashdb::UpToNul(*cacheName);
    if (contentType)
        record.contentType = hashdb::UpToNul(*contentType);
    record.size = *size;
    record.lastModified = int32_t(*lastModified);
    record.downloaded = int32_t(*downloaded);
    record.expires = int32_t(*expires);
    return record;
}

int NetscapeFatDBCache::DecodePair(const ByteReader& page, int32_t recordKey, size_t dataOffset, size_t keyOffset)
{
    const FatDbRecord record = ParseFatDbRecord(page, dataOffset, keyOffset, GetPageSize());
    switch (record.status) {
    case FatDbRecord::Status::UnsupportedVersion:
        return -3;
    case FatDbRecord::Status::Unreadable:
        return -1;
    case FatDbRecord::Status::MissingText:
        return 1;
    case FatDbRecord::Status::Parsed:
        break;
    }
    if (HasCacheName(record.cacheName))
        return 1;
    auto parts = SplitUrl(record.url);
    if (!parts)
        return 1;
    if (parts->scheme == "wysiwyg")
        return 0;

    const OptText type = record.contentType ? OptText(*record.contentType) : OptText();
    auto item = std::make_unique<CFileCacheItem>(this, recordKey, record.url, parts->path, record.cacheName, type,
                                                 int32_t(record.size), record.lastModified, record.downloaded,
                                                 record.expires);
    AddItem(parts->host, std::move(item));
    return 0;
}

} // namespace oriel
