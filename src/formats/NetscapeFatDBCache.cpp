#include "formats/NetscapeFatDBCache.h"

#include "app/StringTable.h"
#include "model/TextForms.h"

#include <algorithm>

namespace oriel {

namespace {

// "IgnoreUnsupported" is never taken from the stored options: a run starts
// with it off unless the application was told otherwise (oriel-cli's
// --ignore-unsupported).
bool IgnoreUnsupported(const AppContext& context)
{
    return context.Options().ignoreUnsupported != 0;
}

} // namespace

NetscapeFatDBCache::NetscapeFatDBCache(const AppContext& context, BrowserProfile* profile, std::string folder)
    : NetscapeHashDBCache(context, profile, std::move(folder), kDatabaseFileName)
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
        Context().Log().WriteBytes(record->data(), record->size());
    if (IgnoreUnsupported(Context()) || skipVersionErrors_)
        return;
    if (Context().Messages().AskYesNo(LoadString(IDS_UNSUPPORTED_VERSION), MessageIcon::Question))
        skipVersionErrors_ = true;
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
