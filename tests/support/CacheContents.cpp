#include "support/CacheContents.h"

namespace oriel::test {

std::vector<CCacheItem*> Items(const CCache& cache)
{
    std::vector<CCacheItem*> out;
    for (int32_t g = 0; g < cache.GetGroupCount(); ++g) {
        for (int32_t i = 0; i < cache.GetGroup(g)->GetCount(); ++i)
            out.push_back(cache.GetGroup(g)->ItemAt(i));
    }
    return out;
}

std::vector<std::string> Urls(const CCache& cache)
{
    std::vector<std::string> out;
    for (CCacheItem* item : Items(cache))
        out.push_back(item->GetURL() ? item->GetURL() : "(null)");
    return out;
}

std::vector<CCacheItem*> RecoveredItems(const CCache& cache)
{
    std::vector<CCacheItem*> out;
    const CNamedCacheItemArray& recovered = cache.GetRecoveredItems();
    for (int32_t i = 0; i < recovered.GetCount(); ++i)
        out.push_back(recovered.ItemAt(i));
    return out;
}

std::vector<std::string> RecoveredUrls(const CCache& cache)
{
    std::vector<std::string> out;
    for (CCacheItem* item : RecoveredItems(cache))
        out.push_back(item->GetURL() ? item->GetURL() : "(null)");
    return out;
}

int PresentCount(const CCache& cache)
{
    int present = 0;
    for (CCacheItem* item : Items(cache))
        present += item->Exists() ? 1 : 0;
    return present;
}

} // namespace oriel::test
