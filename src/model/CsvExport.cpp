#include "model/CsvExport.h"

#include "app/StringTable.h"
#include "model/Cache.h"

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

bool WriteCsvExport(std::ostream& out, CCache& cache, const std::string& displayName,
                    const std::string& cacheFolder)
{
    WriteCsvHeader(out, displayName, cacheFolder);
    return cache.ExportCSV(out);
}

} // namespace oriel
