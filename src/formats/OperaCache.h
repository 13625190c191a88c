// The disk cache of Opera (versions 7 and later): the index "dcache4.url"
// (its records as Dcache4File.h describes), one record per cached object;
// bodies are cache files in the folder or, from Opera 10 on, small ones
// kept in the index itself.
#pragma once

#include "formats/Dcache4File.h"
#include "formats/NetscapeCache.h"
#include "platform/ByteReader.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace oriel {

class OperaCache : public NetscapeCache {
public:
    static constexpr const char* kDatabaseFileName = "dcache4.url";
    static constexpr uint32_t kMinFileVersion = dcache4::kMinFileVersion;
    static constexpr uint32_t kMaxFileVersion = dcache4::kMaxFileVersion;
    static constexpr size_t kHeaderSize = dcache4::kHeaderSize;

    OperaCache(const AppContext& context, BrowserProfile* profile, std::string folder);
    ~OperaCache() override;

    int DoDecode() override;

    uint32_t GetFileVersion() const { return fileVersion_; }

private:
    int iDecodeFatDB();
    int GetFatDBHeaderInfo();
    // Reads record `recordKey` at `offset` of the file, moving the offset
    // past it; false at the end of the file (also in the middle of a record).
    // `skipped` counts the further records it stepped over with it.
    bool ReadRecord(const platform::ByteSource& db, int32_t recordKey, uint64_t& offset, uint64_t& skipped);
    // The offset of the first byte after `offset` that is not zero; the
    // end of the file when there is none.
    static uint64_t NextNonZeroByte(const platform::ByteSource& db, uint64_t offset);
    void MakeItem(int32_t recordKey, uint64_t bodyOffset, const ByteReader& body);

    uint32_t fileVersion_ = 0;
};

} // namespace oriel
