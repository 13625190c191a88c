// oriel-cli cat FOLDER URL | cat --key N FOLDER
//
// Writes one item's body to stdout as the window would open it: extracted
// from its block file and decoded by its content encoding. A body without
// encoding (a plain file, or bytes inside a block file or an index) is
// written straight from the cache; the working copies that the others need
// go to the private temp folder and are removed when the cache is closed,
// or when a signal ends the run (a reader that stops early, Ctrl-C).
#include "cli/Cli.h"

#include "app/StringTable.h"
#include "formats/EmbeddedBodyItem.h"
#include "model/CacheItem.h"
#include "platform/ByteSource.h"
#include "platform/ContainedPath.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

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
    // A recovered item (its key follows the live ones) when no live item
    // matches.
    const CNamedCacheItemArray& recovered = cache.GetRecoveredItems();
    for (int32_t i = 0; !found && i < recovered.GetCount(); ++i) {
        CCacheItem* item = recovered.ItemAt(i);
        if (item && (key ? item->GetRecordKey() == *key : (item->GetURL() && url == item->GetURL())))
            found = item;
    }
    return found;
}

// The file at `path` (opened as every examined file is: never through a
// link that leads out of the examined tree) to stdout.
bool CopyToStdout(const char* path, std::string& problem)
{
    platform::UniqueFd in = platform::OpenContained(path, platform::OpenAs::Read, &problem);
    if (!in)
        return false;
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(in.Get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            problem = std::string(path) + ": " + std::strerror(errno);
            return false;
        }
        if (n == 0)
            break;
        if (std::fwrite(buffer, 1, size_t(n), stdout) != size_t(n)) {
            problem = std::string("stdout: ") + std::strerror(errno);
            return false;
        }
    }
    if (std::fflush(stdout) != 0) {
        problem = std::string("stdout: ") + std::strerror(errno);
        return false;
    }
    return true;
}

// The bytes of a source to stdout, a piece at a time.
bool SourceToStdout(const platform::ByteSource& source, std::string& problem)
{
    constexpr size_t kPiece = 1 << 16;
    for (uint64_t offset = 0; offset < source.Size(); offset += kPiece) {
        const ByteReader piece = source.Read(offset, kPiece);
        if (piece.size() == 0)
            break;
        const std::string_view bytes = *piece.bytes(0, piece.size());
        if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size()) {
            problem = std::string("stdout: ") + std::strerror(errno);
            return false;
        }
    }
    if (std::fflush(stdout) != 0) {
        problem = std::string("stdout: ") + std::strerror(errno);
        return false;
    }
    return true;
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
        const std::string& problem = item->GetBodyProblem();
        PrintError("the body of " + what + " is not in the cache any more" + (problem.empty() ? "" : ": " + problem));
        return kExitFailure;
    }
    // A body kept inside another file without encoding is written straight
    // from there: no working copy.
    if (auto* embedded = dynamic_cast<CEmbeddedBodyItem*>(item);
        embedded && item->GetContentEncoding() == CCacheItem::kEncodingNone) {
        std::string problem = "the file that holds it cannot be read";
        const std::optional<platform::FileRange> range = embedded->BodyRange();
        const std::unique_ptr<platform::ByteSource> source = range ? range->Open(0, &problem) : nullptr;
        if (!source || !SourceToStdout(*source, problem)) {
            PrintError("cannot write the body of " + what + ": " + problem);
            return kExitFailure;
        }
        return kExitOk;
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
    if (std::string problem; !CopyToStdout(path, problem)) {
        PrintError("cannot write the body of " + what + ": " + problem);
        return kExitFailure;
    }
    return kExitOk;
}

} // namespace oriel::cli
