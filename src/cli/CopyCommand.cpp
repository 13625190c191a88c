// oriel-cli copy --to DIR [--move] [--server HOST] [--names url|cache]
//                [--paths] [--server-dirs] FOLDER | --profile N|NAME
//
// Writes every item's body (extracted, decoded) under DIR by its
// destination name, the names the window's Copy to... gives: --names picks
// URL or cache names, --paths keeps the URL's folders, --server-dirs puts
// each host first. A taken name is never overwritten; the copy gets a
// numbered name. DIR/manifest.csv says where each item went, with its
// hashes. --move removes each body from the cache once its copy reads back
// the same.
#include "cli/Cli.h"

#include "model/Cache.h"
#include "model/CacheItem.h"
#include "model/Progress.h"
#include "ops/CopyMoveJob.h"
#include "ops/DestName.h"

#include "app/AppContext.h"
#include "app/StringTable.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace oriel::cli {

namespace {

std::string IsoUtc(int64_t t)
{
    if (t == 0 || t == -1)
        return {};
    std::time_t tt = std::time_t(t);
    std::tm tm{};
    if (!gmtime_r(&tt, &tm))
        return {};
    char buffer[40];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buffer;
}

// A CSV field in double quotes, its quotes doubled.
std::string Field(const std::string& value)
{
    std::string out = "\"";
    for (char c : value) {
        if (c == '"')
            out += '"';
        out += c;
    }
    return out + "\"";
}

std::string Relative(const std::string& path, const std::string& folder)
{
    std::string prefix = folder;
    if (!prefix.empty() && prefix.back() != '/')
        prefix += '/';
    return path.compare(0, prefix.size(), prefix) == 0 ? path.substr(prefix.size()) : path;
}

// Writes the manifest without overwriting or following a link: a taken
// name gets a numbered one. Returns the name written, or empty.
std::string WriteManifest(const std::string& folder, const std::string& text)
{
    std::string name = "manifest.csv";
    for (int n = 2; n < 1000; ++n) {
        std::string path = folder + "/" + name;
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            bool ok = ::write(fd, text.data(), text.size()) == ssize_t(text.size());
            ok = ::close(fd) == 0 && ok;
            return ok ? name : std::string();
        }
        if (errno != EEXIST)
            return {};
        name = NumberedName("manifest.csv", n);
    }
    return {};
}

} // namespace

int RunCopy(const Args& args, const AppContext& context)
{
    static const Command self{"copy",
                              "copy --to DIR [--move] [--server HOST] [--names url|cache] [--paths] [--server-dirs] "
                              "FOLDER | --profile N|NAME",
                              "", {}, {}, nullptr};
    auto to = args.value("to");
    if (!to || to->empty())
        return UsageError(self, "missing --to DIR");
    DestNameOptions names = DestNameOptions::From(context.Options());
    names.extractNames = args.has("paths");
    names.useServerInPath = args.has("server-dirs");
    names.usePathNames = true;
    if (auto how = args.value("names")) {
        if (*how == "cache")
            names.usePathNames = false;
        else if (*how != "url")
            return UsageError(self, "--names takes url or cache, not '" + *how + "'");
    }
    std::error_code ec;
    std::filesystem::create_directories(*to, ec);
    if (!std::filesystem::is_directory(*to, ec)) {
        PrintError("cannot create the folder " + *to);
        return kExitFailure;
    }
    const std::string folder = std::filesystem::absolute(*to, ec).lexically_normal().string();

    auto opened = OpenFromArgs(args, context);
    if (!opened)
        return kExitFailure;
    const auto server = args.value("server");
    std::vector<CopyRequest> requests;
    ForEachItem(*opened->profile->cache, [&](const CNamedCacheItemArray& group, CCacheItem& item) {
        if (server && !(group.GetName() && *server == group.GetName()))
            return;
        requests.push_back({&item, DestNameFor(item, names)});
    });
    if (server && requests.empty()) {
        PrintError("no items of the server " + *server);
        return kExitFailure;
    }

    std::unique_ptr<Progress> progress = MakeTerminalProgress(args.has("move") ? "Moving..." : "Copying...");
    CopyMoveJob job(std::move(requests), folder, args.has("move"), progress.get());
    job.Run();
    progress.reset();

    std::string manifest = "\"URL\",\"Destination\",\"Cache Name\",\"Size\",\"SHA-256\",\"MD5\",\"Last Modified\","
                           "\"Downloaded\",\"Expires\",\"Decompressed\"\n";
    for (const CopiedFile& copy : job.Copies()) {
        const CCacheItem& item = *copy.item;
        manifest += Field(copy.url) + ',' + Field(Relative(copy.destination, folder)) + ',' + Field(copy.cacheName) +
                    ',' + std::to_string(copy.size) + ',' + copy.sha256 + ',' + copy.md5 + ',' +
                    IsoUtc(item.GetLastModified()) + ',' + IsoUtc(item.GetDownloaded()) + ',' +
                    IsoUtc(item.GetExpires()) + ',' + (copy.decoded ? "yes" : "no") + '\n';
    }
    // A body cut at the decoded-size cap is copied as far as it was kept;
    // the examiner is told which.
    for (const CopiedFile& copy : job.Copies()) {
        if (copy.cut)
            PrintError("warning: " + std::string(LoadString(IDS_BODY_CUT)) +
                       (copy.url.empty() ? copy.cacheName : copy.url));
    }
    int status = kExitOk;
    if (WriteManifest(folder, manifest).empty()) {
        PrintError("cannot write the manifest in " + folder + ": " + std::strerror(errno));
        status = kExitFailure;
    }
    for (const FileResult& file : job.Files()) {
        if (file.outcome != FileOutcome::Done) {
            PrintError(file.path + ": " + file.reason);
            status = kExitFailure;
        }
    }
    if (job.IsMove() && job.NotMoved() > 0)
        PrintError(std::to_string(job.NotMoved()) + " item(s) were copied but could not be moved");
    return status;
}

} // namespace oriel::cli
