#include "model/CsvExport.h"

#include "app/StringTable.h"
#include "model/Cache.h"
#include "model/CacheItem.h"
#include "model/TextForms.h"

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
    row.clear();
    auto quoted = [&row](const char* s) {
        row += '"';
        if (s)
            row += s;
        row += '"';
    };
    auto quotedDate = [&row](const std::optional<std::string>& text, int64_t time) {
        row += '"';
        if (text)
            row += *text;
        else
            AppendDate(row, time);
        row += '"';
    };
    quoted(GetURL());
    row += ',';
    quoted(GetCacheName());
    row += ",\"";
    if (texts_ && texts_->size)
        row += *texts_->size;
    else
        AppendSize(row, size_);
    row += "\",";
    if (GetContentType())
        quoted(GetContentType());
    row += ',';
    static const DisplayTexts kNone;
    const DisplayTexts& kept = texts_ ? *texts_ : kNone;
    quotedDate(kept.lastModified, lastModified_);
    row += ',';
    quotedDate(kept.downloaded, downloaded_);
    row += ',';
    quotedDate(kept.expires, expires_);
    row += ",\n";
    out.write(row.data(), std::streamsize(row.size()));
    return true;
}

bool WriteCsvExport(std::ostream& out, CCache& cache, const std::string& displayName,
                    const std::string& cacheFolder)
{
    WriteCsvHeader(out, displayName, cacheFolder);
    return cache.ExportCSV(out);
}

} // namespace oriel
