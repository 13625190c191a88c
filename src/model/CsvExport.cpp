#include "model/CsvExport.h"

#include "app/StringTable.h"
#include "model/Cache.h"
#include "model/CacheItem.h"
#include "model/TextForms.h"
#include "platform/CopyBytes.h"

#include <cstring>
#include <optional>
#include <string>

namespace oriel {

void WriteCsvHeader(std::ostream& out, const std::string& displayName, const std::string& cacheFolder)
{
    out << LoadString(IDS_CSV_TITLE) << '\n';
    out << LoadString(IDS_CSV_INFORMATION_FOR) << displayName << '\n';
    out << LoadString(IDS_CSV_CACHE_PATH) << cacheFolder << '\n';
    out << '\n';
    const int titles[] = {IDS_COL_URL,           IDS_COL_CACHE_NAME, IDS_COL_SIZE,   IDS_COL_TYPE,
                          IDS_COL_LAST_MODIFIED, IDS_COL_DOWNLOADED, IDS_COL_EXPIRES};
    for (size_t i = 0; i < std::size(titles); ++i) {
        if (i)
            out << ',';
        out << LoadString(titles[i]);
    }
    out << '\n';
}

// The row of one item, beside the header whose columns it fills: eight
// fields, the last empty.
bool CCacheItem::WriteCSV(std::ostream& out)
{
    // One row, built whole and written once. The texts are formatted into
    // the row rather than kept: an export touches every item once.
    // One buffer per thread, kept between rows: an export makes no
    // allocation per row.
    thread_local std::string buffer;
    std::string& row = buffer;
    const DisplayTexts* kept = KeptTexts();
    static const DisplayTexts kNone;
    const DisplayTexts& texts = kept ? *kept : kNone;
    // The texts the window made or a format gave; the others are formatted
    // in place.
    using Kept = std::optional<std::string_view>;
    auto asView = [](const std::optional<std::string>& text) { return text ? Kept(*text) : std::nullopt; };
    const Kept sizeText = asView(texts.size);
    const Kept lastModifiedText = HeldLastModifiedText();
    const Kept downloadedText = asView(texts.downloaded);
    const Kept expiresText = asView(texts.expires);
    auto length = [](const Kept& text) { return text ? text->size() : kMaxFormLength; };
    // Room for every field at its longest, then written in place.
    const size_t room = size_t(GetURLLength()) + size_t(GetCacheNameLength()) + size_t(Length(contentType_)) +
                        length(sizeText) + length(lastModifiedText) + length(downloadedText) +
                        length(expiresText) + 32;
    if (row.size() < room)
        row.resize(room);
    char* p = row.data();
    auto put = [&p](const char* s, size_t n) {
        platform::CopyBytes(p, s, n);
        p += n;
    };
    // A text ends at its first NUL, as the C string it is read as.
    auto quoted = [&](const char* s) {
        *p++ = '"';
        if (s)
            put(s, std::strlen(s));
        *p++ = '"';
    };
    auto quotedDate = [&](const Kept& text, int64_t time) {
        *p++ = '"';
        if (text)
            put(text->data(), text->size());
        else
            p = WriteDate(p, time);
        *p++ = '"';
    };
    quoted(GetURL());
    *p++ = ',';
    quoted(GetCacheName());
    put(",\"", 2);
    if (sizeText)
        put(sizeText->data(), sizeText->size());
    else
        p = WriteSize(p, size_);
    put("\",", 2);
    if (GetContentType())
        quoted(GetContentType());
    *p++ = ',';
    quotedDate(lastModifiedText, lastModified_);
    *p++ = ',';
    quotedDate(downloadedText, downloaded_);
    *p++ = ',';
    quotedDate(expiresText, expires_);
    put(",\n", 2);
    out.write(row.data(), std::streamsize(p - row.data()));
    return true;
}
bool WriteCsvExport(std::ostream& out, CCache& cache, const std::string& displayName,
                    const std::string& cacheFolder)
{
    WriteCsvHeader(out, displayName, cacheFolder);
    return cache.ExportCSV(out);
}

} // namespace oriel
