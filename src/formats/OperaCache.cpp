#include "formats/OperaCache.h"

#include "app/StringTable.h"
#include "formats/OperaContainerItem.h"
#include "formats/OperaInternalCacheItem.h"
#include "model/Progress.h"
#include "model/TextForms.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <thread>
#include <vector>

namespace oriel {

OperaCache::OperaCache(const AppContext& context, BrowserProfile* profile, std::string folder)
    : NetscapeCache(context, profile, std::move(folder), kDatabaseFileName)
{
}

OperaCache::~OperaCache()
{
    StopDecodeThread();
}

int OperaCache::DoDecode()
{
    Trace("Entry - OperaCache::iDecodeFatDB()");
    int result = iDecodeFatDB();
    if (result == 0)
        Trace("Exit - OperaCache::iDecodeFatDB()");
    return result;
}

int OperaCache::GetFatDBHeaderInfo()
{
    const platform::ByteSource* db = Database();
    auto version = db ? ParseOperaHeader(db->Read(0, kHeaderSize)) : std::nullopt;
    if (!version) {
        ShowInvalidHeader(DatabaseFilePath());
        RequestStop();
        Trace("Exit - OperaCache::iDecodeFatDB() GetFatDBHeaderInfo fails");
        return -1;
    }
    fileVersion_ = *version;
    SetProgressTotal(1);
    return 0;
}

int OperaCache::iDecodeFatDB()
{
    if (GetFatDBHeaderInfo() != 0)
        return -1;
    ProgressSetRange(GetProgressTotal());
    const platform::ByteSource& db = *Database();
    uint64_t offset = kHeaderSize;
    for (int64_t k = 1;; ++k) {
        uint64_t skipped = 0;
        const bool more =
            ReadRecord(db, int32_t(std::min<int64_t>(k, std::numeric_limits<int32_t>::max())), offset, skipped);
        k += int64_t(std::min<uint64_t>(skipped, uint64_t(std::numeric_limits<int32_t>::max())));
        if (progress_)
            progress_->StepIt();
        if (!more || StopRequested())
            break;
        // Let other threads run now and then; yielding on every record
        // gives the core away tens of thousands of times on a busy machine.
        if (k % 1024 == 0)
            std::this_thread::yield();
    }
    CloseDBFile();
    return 0;
}

uint64_t OperaCache::NextNonZeroByte(const platform::ByteSource& db, uint64_t offset)
{
    constexpr size_t kChunk = 64 * 1024;
    while (offset < db.Size()) {
        const ByteReader chunk = db.Read(offset, kChunk);
        if (chunk.size() == 0)
            break;
        const std::string_view bytes = *chunk.bytes(0, chunk.size());
        if (size_t at = bytes.find_first_not_of('\0'); at != std::string_view::npos)
            return offset + at;
        offset += bytes.size();
    }
    return db.Size();
}

bool OperaCache::ReadRecord(const platform::ByteSource& db, int32_t recordKey, uint64_t& offset, uint64_t& skipped)
{
    auto head = ParseOperaRecordHead(db.Read(offset, dcache4::kRecordHeadSize), 0);
    if (!head)
        return false;
    if (head->tag == 0 && head->length == 0) {
        // Zero bytes read as empty records of three bytes each, passed over
        // one by one; a run of them (a zero-filled tail of gigabytes) is
        // stepped over at once, each still counted as a record.
        const uint64_t next = NextNonZeroByte(db, offset);
        const uint64_t records = next > offset ? (next - offset) / dcache4::kRecordHeadSize : 0;
        if (records == 0)
            return false; // the file changed under the walk
        skipped = records - 1;
        offset += records * dcache4::kRecordHeadSize;
        return offset < db.Size();
    }
    offset += dcache4::kRecordHeadSize;
    if (head->tag != dcache4::kRecordObject) {
        // Any other record is stepped over; past the end the next head
        // cannot be read.
        offset += head->length;
        return true;
    }
    const ByteReader body = db.Read(offset, head->length);
    if (body.size() != head->length)
        return false; // cut short: the items made so far stay
    const uint64_t bodyOffset = offset;
    offset += head->length;
    MakeItem(recordKey, bodyOffset, body);
    return true;
}

void OperaCache::MakeItem(int32_t recordKey, uint64_t bodyOffset, const ByteReader& body)
{
    const OperaRecordFields fields = ParseOperaRecord(body);
    if (!fields.url)
        return;
    auto parts = SplitUrl(*fields.url);
    if (!parts)
        return;

    std::unique_ptr<CCacheItem> item;
    if (fields.body && !fields.cacheName) {
        // The body is in the index itself: an item over that byte range,
        // named after where it lies.
        const uint64_t at = bodyOffset + fields.body->first;
        const int32_t length = int32_t(fields.body->second);
        item = std::make_unique<COperaInternalCacheItem>(this, recordKey, int64_t(at), length);
        char name[32];
        std::snprintf(name, sizeof name, "dcache4_%08llX", static_cast<unsigned long long>(at));
        item->SetCacheName(name);
        item->SetSize(fields.size.value_or(length));
    } else if (fields.cacheName && fields.containerObject) {
        // One object of a container file that holds several.
        item = std::make_unique<COperaContainerItem>(this, recordKey, *fields.containerObject);
        item->SetCacheName(*fields.cacheName);
        if (fields.size)
            item->SetSize(*fields.size);
    } else {
        item = std::make_unique<CFileCacheItem>(this, recordKey);
        if (fields.cacheName)
            item->SetCacheName(*fields.cacheName);
        if (fields.size)
            item->SetSize(*fields.size);
    }
    item->SetURL(*fields.url);
    item->SetURLPath(parts->path);
    if (fields.contentType)
        item->SetContentType(*fields.contentType);
    if (fields.downloaded)
        item->SetDownloaded(*fields.downloaded);
    if (fields.expires)
        item->SetExpires(*fields.expires);
    if (fields.lastModifiedText)
        item->SetLastModifiedText(*fields.lastModifiedText);
    if (fields.contentEncoding)
        item->SetContentEncoding(*fields.contentEncoding);
    AddItem(parts->host, std::move(item));
}

} // namespace oriel
