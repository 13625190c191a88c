// The CSV export file: three header lines, an empty line, the column
// titles, and one row per item (CCacheItem::WriteCSV, defined in
// CsvExport.cpp beside the header).
// Lines end in a single line feed.
#pragma once

#include <ostream>
#include <string>

namespace oriel {

class CCache;

void WriteCsvHeader(std::ostream& out, const std::string& displayName, const std::string& cacheFolder);

// Writes the header and every row; false (header only) when the cache is
// not decoded.
bool WriteCsvExport(std::ostream& out, CCache& cache, const std::string& displayName,
                    const std::string& cacheFolder);

} // namespace oriel
