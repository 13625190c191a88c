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

namespace {

std::string Field(const char* text)
{
    return text ? std::string(text) : std::string("(none)");
}

std::string Describe(const CCacheItem& item)
{
    return std::to_string(item.GetRecordKey()) + " " + Field(item.GetURL()) + " | " + Field(item.GetURLPath()) +
           " | " + Field(item.GetCacheName()) + " | " + Field(item.GetContentType()) + " | " +
           std::to_string(item.GetSize()) + " " + std::to_string(item.GetLastModified()) + " " +
           std::to_string(item.GetDownloaded()) + " " + std::to_string(item.GetExpires()) + " " +
           std::to_string(item.GetLastAccessed()) + " " + std::to_string(item.GetContentEncoding()) + " " +
           (item.IsPartial() ? "partial " : "") + Field(item.GetHeaders()) + "\n";
}

} // namespace

std::string Contents(const CCache& cache)
{
    std::string out;
    for (int32_t g = 0; g < cache.GetGroupCount(); ++g) {
        const CNamedCacheItemArray& group = *cache.GetGroup(g);
        out += "[" + std::string(group.GetNameView()) + "]\n";
        for (int32_t i = 0; i < group.GetCount(); ++i)
            out += Describe(*group.ItemAt(i));
    }
    out += "[recovered]\n";
    for (const CCacheItem* item : RecoveredItems(cache))
        out += Describe(*item);
    return out;
}

} // namespace oriel::test
