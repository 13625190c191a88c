// oriel-cli cat FOLDER URL | cat --key N FOLDER
//
// Writes one item's body to stdout as the window would open it: extracted
// from its block file and decoded by its content encoding. Working copies
// that this needs go where the items put them (beside the body, or the
// private temp folder when the cache folder is read-only) and are removed
// when the cache is closed.
#include "cli/Cli.h"

#include "app/StringTable.h"
#include "model/CacheItem.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace oriel::cli {

namespace {

CCacheItem* FindItem(CCache& cache, const std::optional<int32_t>& key, const std::string& url)
{
    CCacheItem* found = nullptr;
    ForEachItem(cache, [&](const CNamedCacheItemArray&, CCacheItem& item) {
        if (found)
            return;
        if (key ? item.GetRecordKey() == *key : (item.GetURL() && url == item.GetURL()))
            found = &item;
    });
    return found;
}

bool CopyToStdout(const char* path)
{
    FILE* in = std::fopen(path, "rb");
    if (!in)
        return false;
    char buffer[65536];
    bool ok = true;
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) {
        if (std::fwrite(buffer, 1, n, stdout) != n) {
            ok = false;
            break;
        }
    }
    ok = ok && !std::ferror(in);
    std::fclose(in);
    return std::fflush(stdout) == 0 && ok;
}

} // namespace

int RunCat(const Args& args, const AppContext& context)
{
    std::optional<int32_t> key;
    if (auto text = args.value("key")) {
        char* end = nullptr;
        errno = 0;
        long value = std::strtol(text->c_str(), &end, 10);
        if (text->empty() || *end != '\0' || errno != 0 || value < INT32_MIN || value > INT32_MAX) {
            PrintError("--key needs a record key (a number), not '" + *text + "'");
            return kExitUsage;
        }
        key = int32_t(value);
    }
    const std::string url = key ? std::string() : args.positional().back();
    const std::string what = key ? "key " + std::to_string(*key) : url;

    auto opened = OpenFromArgs(args, context);
    if (!opened)
        return kExitFailure;
    CCacheItem* item = FindItem(*opened->profile->cache, key, url);
    if (!item) {
        PrintError("no cached item with " + std::string(key ? "" : "URL ") + what);
        return kExitFailure;
    }
    if (!item->Exists()) {
        PrintError("the body of " + what + " is not in the cache any more");
        return kExitFailure;
    }
    // A plain body without encoding is written as it is; anything else is
    // prepared first (extracted, decoded).
    auto* file = dynamic_cast<CFileCacheItem*>(item);
    const bool prepare = !file || item->GetContentEncoding() != CCacheItem::kEncodingNone;
    if (prepare && !item->PrepareFile()) {
        PrintError("the body of " + what + " cannot be extracted");
        return kExitFailure;
    }
    const char* path = item->GetFilePath();
    if (!path) {
        PrintError("the body of " + what + " cannot be had");
        return kExitFailure;
    }
    if (file && prepare && !file->DeletesOnDestroy())
        PrintError("warning: the body of " + what + " does not decode; writing it as stored");
    if (item->IsBodyCut())
        PrintError("warning: " + std::string(LoadString(IDS_BODY_CUT)) + what);
    if (!CopyToStdout(path)) {
        PrintError("cannot read " + std::string(path) + ": " + std::strerror(errno));
        return kExitFailure;
    }
    return kExitOk;
}

} // namespace oriel::cli
