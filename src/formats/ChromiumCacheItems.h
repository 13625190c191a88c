// Items of the Chromium disk caches. A Chromium key may be a double key
// ("_dk_" and the sites before the URL): the item's URL is the URL, and
// the site key is kept beside it.
#pragma once

#include "formats/EmbeddedBodyItem.h"
#include "model/CacheItem.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace oriel {

// The body is a separate file of the cache folder ("f_00002a"); an entry
// whose file is missing is listed all the same, its body not there.
class CChromiumFileItem : public CFileCacheItem {
public:
    using CFileCacheItem::CFileCacheItem;
    const std::string& GetSiteKey() const { return siteKey_; }
    void SetSiteKey(std::string_view key) { siteKey_ = std::string(key); }

private:
    std::string siteKey_;
};

// The body is a byte range of a file of the cache folder: a run of blocks
// of "data_1" to "data_3", or a stream inside a simple-cache entry file.
class CChromiumEmbeddedItem : public CEmbeddedBodyItem {
public:
    CChromiumEmbeddedItem(CCache* owner, int32_t recordKey, OptText url, OptText urlPath, OptText cacheName,
                          int32_t size, int64_t lastModified, int64_t downloaded, int64_t expires, OptText headers,
                          std::string_view container, int64_t offset, int32_t length);

    // "<Internal to data_1>".
    const char* GetDisplayCacheName() override { return displayName_.c_str(); }
    const std::string& GetSiteKey() const { return siteKey_; }
    void SetSiteKey(std::string_view key) { siteKey_ = std::string(key); }
    // "data_1", or the simple-cache entry file: inside the display name.
    std::string_view GetContainer() const
    {
        return std::string_view(displayName_).substr(kDisplayPrefix.size(), containerLength_);
    }
    int64_t GetDataOffset() const { return offset_; }
    int32_t GetDataLength() const { return length_; }

protected:
    std::string ContainerFileName() const override { return std::string(GetContainer()); }
    std::optional<StoredRange> StoredBytes() const override;
    const char* TraceName() const override { return "CChromiumEmbeddedItem"; }

private:
    static constexpr std::string_view kDisplayPrefix = "<Internal to ";
    // "<Internal to " container ">": one text holds both.
    std::string displayName_;
    std::string siteKey_;
    int64_t offset_;
    int32_t length_;
    size_t containerLength_;
};

} // namespace oriel
