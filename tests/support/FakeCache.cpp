#include "support/FakeCache.h"

#include "model/TextForms.h"

namespace oriel::test {

void FakeCache::AddUrl(const std::string& url, const std::string& cacheName, int32_t size)
{
    auto parts = SplitUrl(url);
    std::string host = parts ? std::string(parts->host) : url;
    std::string path = parts ? std::string(parts->path) : std::string();
    auto item = std::make_unique<CFileCacheItem>(this, nextKey++, url, path,
                                                 cacheName.empty() ? OptText() : OptText(cacheName),
                                                 OptText(), size, 0, 0, 0);
    AddItem(host, std::move(item));
}

} // namespace oriel::test
