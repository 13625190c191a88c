// An item of an Opera cache whose body lies inside the index "dcache4.url"
// itself (Opera 10 and later keep small bodies there, in a field of the
// object record, often gzip-encoded). Its bytes are extracted, and decoded
// by the item's content encoding, to a file of their own on demand; the
// index is never changed.
#pragma once

#include "formats/EmbeddedBodyItem.h"

#include <cstdint>
#include <string>

namespace oriel {

class COperaInternalCacheItem : public CEmbeddedBodyItem {
public:
    // The body: `bodyLength` bytes at byte offset `bodyOffset` of the
    // owner's "dcache4.url".
    COperaInternalCacheItem(CCache* owner, int32_t recordKey, int64_t bodyOffset, int32_t bodyLength);

    // "<Internal to dcache4.url>".
    const char* GetDisplayCacheName() override;

    int64_t GetBodyOffset() const { return bodyOffset_; }
    int32_t GetBodyLength() const { return bodyLength_; }
    // Host path of the index that holds the body.
    const std::string& GetIndexFilePath() { return ContainerFilePath(); }

protected:
    std::string ContainerFileName() const override;
    std::optional<StoredRange> StoredBytes() const override;
    const char* TraceName() const override { return "COperaInternalCacheItem"; }

private:
    int64_t bodyOffset_;
    int32_t bodyLength_;
};

} // namespace oriel
