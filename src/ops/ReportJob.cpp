#include "ops/ReportJob.h"

#include "app/AppContext.h"
#include "app/CacheApp.h"
#include "platform/WindowsSystem.h"
#include "model/Cache.h"
#include "model/CacheItem.h"
#include "model/DecodeJob.h"
#include "model/TextForms.h"
#include "ops/ExportJob.h"
#include "ops/ItemBody.h"
#include "ops/TextEscape.h"
#include "ops/Thumbnailer.h"
#include "ops/Timeline.h"

#include <QByteArray>
#include <QCryptographicHash>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace oriel {

namespace {

namespace fs = std::filesystem;

constexpr const char* kIndexName = "index.html";
constexpr const char* kIndexPartName = "index.html.part";
constexpr const char* kThumbFolder = "thumbs";

// The page's style and script: inline, and allowed by their hashes in the
// page's content security policy, so that nothing else runs or styles it.
// Neither holds '<' or '&', so the page also reads as XML.
constexpr const char* kStyle = R"(
body { font: 14px/1.4 sans-serif; margin: 1.5em; color: #222; }
h1 { font-size: 1.5em; margin: 0 0 .5em; }
h2 { font-size: 1.2em; margin: 1.5em 0 .5em; }
table { border-collapse: collapse; }
th, td { border: 1px solid #ccc; padding: 3px 6px; text-align: left; vertical-align: top; }
th { background: #eef; }
table.facts th { width: 12em; }
#items th { cursor: pointer; user-select: none; position: sticky; top: 0; }
#items th[aria-sort=ascending]::after { content: " \25B2"; }
#items th[aria-sort=descending]::after { content: " \25BC"; }
#items td.url, #items td.hash, td.path { font-family: monospace; word-break: break-all; }
#items td.url { min-width: 18em; max-width: 40em; }
#items td.path { min-width: 9em; }
#items td.hash { font-size: 10px; min-width: 33ch; max-width: 33ch; }
#items td.num { text-align: right; white-space: nowrap; }
#items td.time { min-width: 6em; }
#items tr.recovered { background: #fff4e0; }
#items img { display: block; max-width: 160px; max-height: 160px; }
#filter { width: 30em; padding: 3px; }
)";

constexpr const char* kScript = R"(
(function () {
  var table = document.getElementById('items');
  var body = table.tBodies[0];
  var rows = Array.prototype.slice.call(body.rows);
  var filter = document.getElementById('filter');
  var shown = document.getElementById('shown');
  function count() {
    var n = 0;
    rows.forEach(function (r) { if (!r.hidden) n++; });
    shown.textContent = n + ' of ' + rows.length + ' items shown';
  }
  filter.addEventListener('input', function () {
    var words = filter.value.toLowerCase().split(/\s+/).filter(Boolean);
    rows.forEach(function (r) {
      var text = r.textContent.toLowerCase();
      r.hidden = !words.every(function (w) { return text.indexOf(w) !== -1; });
    });
    count();
  });
  var heads = table.tHead.rows[0].cells;
  Array.prototype.forEach.call(heads, function (th, column) {
    th.addEventListener('click', function () {
      var ascending = th.getAttribute('aria-sort') !== 'ascending';
      Array.prototype.forEach.call(heads, function (h) { h.removeAttribute('aria-sort'); });
      th.setAttribute('aria-sort', ascending ? 'ascending' : 'descending');
      var numeric = th.getAttribute('data-type') === 'number';
      function key(r) {
        var c = r.cells[column];
        var v = c.getAttribute('data-sort');
        if (v === null) v = c.textContent;
        return numeric ? Number(v) : v;
      }
      rows.sort(function (a, b) {
        var x = key(a), y = key(b);
        var d = numeric ? x - y : String(x).localeCompare(String(y));
        return ascending ? d : -d;
      });
      var fragment = document.createDocumentFragment();
      rows.forEach(function (r) { fragment.appendChild(r); });
      body.appendChild(fragment);
    });
  });
  count();
})();
)";

std::string CspHash(const char* text)
{
    const QByteArray digest =
        QCryptographicHash::hash(QByteArrayView(text, qsizetype(std::strlen(text))), QCryptographicHash::Sha256);
    return "'sha256-" + digest.toBase64().toStdString() + "'";
}

std::string TimeText(int64_t t)
{
    if (t == 0 || t == -1)
        return {};
    if (t < Timeline::kEarliest || t > Timeline::kLatest)
        return std::to_string(t);
    std::string iso = IsoUtcTime(t); // 2009-06-01T12:00:00+00:00
    iso[10] = ' ';
    iso.resize(19);
    return iso;
}

std::string Why(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

// What the first bytes say an image body is; empty for none.
bool LooksLikeImage(std::string_view head)
{
    auto starts = [&head](std::string_view magic) { return head.substr(0, magic.size()) == magic; };
    return starts("\x89PNG\r\n\x1a\n") || starts("\xFF\xD8\xFF") || starts("GIF87a") || starts("GIF89a") ||
           starts("BM") || starts(std::string_view("\0\0\1\0", 4)) ||
           (starts("RIFF") && head.size() >= 12 && head.substr(8, 4) == "WEBP");
}

// Width and height of a PNG we made (its IHDR).
std::pair<uint32_t, uint32_t> PngSize(const std::string& png)
{
    auto be32 = [&png](size_t at) {
        uint32_t v = 0;
        for (size_t i = 0; i < 4 && at + i < png.size(); ++i)
            v = v << 8 | static_cast<unsigned char>(png[at + i]);
        return v;
    };
    return png.size() >= 24 ? std::make_pair(be32(16), be32(20)) : std::make_pair(0u, 0u);
}

bool WriteAll(int fd, const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

struct BodyDigest {
    bool read = false;
    bool decoded = false;
    std::string sha256;
    std::string problem;
    std::string imageBytes; // the whole body, when it looks like an image and is small enough
};

BodyDigest DigestBody(CCacheItem& item, uint64_t maxImageBytes)
{
    BodyDigest digest;
    auto body = ItemBody::Open(item, &digest.problem);
    if (!body)
        return digest;
    QCryptographicHash sha(QCryptographicHash::Sha256);
    char buffer[65536];
    bool first = true;
    bool keep = false;
    for (;;) {
        ssize_t n = ::read(body->Fd(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            digest.problem = Why("cannot read the body");
            digest.imageBytes.clear();
            return digest;
        }
        if (n == 0)
            break;
        sha.addData(QByteArrayView(buffer, n));
        if (first) {
            keep = LooksLikeImage(std::string_view(buffer, size_t(n)));
            first = false;
        }
        if (keep) {
            if (digest.imageBytes.size() + size_t(n) > maxImageBytes) {
                keep = false;
                digest.imageBytes.clear();
                digest.imageBytes.shrink_to_fit();
            } else {
                digest.imageBytes.append(buffer, size_t(n));
            }
        }
    }
    digest.read = true;
    digest.decoded = body->Decoded();
    digest.sha256 = sha.result().toHex().toStdString();
    return digest;
}

struct ProfileSummary {
    int items = 0;
    int bodies = 0;
    int thumbnails = 0;
    int recovered = 0;
    int64_t earliest = 0;
    int64_t latest = 0;

    void See(int64_t t)
    {
        if (t == 0 || t == -1 || t < Timeline::kEarliest || t > Timeline::kLatest)
            return;
        if (earliest == 0 || t < earliest)
            earliest = t;
        if (latest == 0 || t > latest)
            latest = t;
    }
};

void Cell(std::string& out, std::string_view text, const char* cls = nullptr)
{
    out += cls ? "<td class=\"" : "<td";
    if (cls) {
        out += cls;
        out += '"';
    }
    out += '>';
    AppendHtmlText(out, text);
    out += "</td>";
}

void NumberCell(std::string& out, int64_t sortKey, std::string_view text, const char* cls)
{
    out += "<td class=\"";
    out += cls;
    out += "\" data-sort=\"";
    out += std::to_string(sortKey);
    out += "\">";
    AppendHtmlText(out, text);
    out += "</td>";
}

void TimeCell(std::string& out, int64_t t)
{
    const bool shown = t != 0 && t != -1;
    NumberCell(out, shown ? t : 0, TimeText(t), "time");
}

std::string OrEmpty(const char* text)
{
    return text ? std::string(text) : std::string();
}

} // namespace

void AddExaminedSystem(ReportRequest& request, const AppContext& context)
{
    auto system = context.System();
    if (!system || !system->HasSystem())
        return;
    request.systemRoot = system->Root();
    request.examinedFolders.push_back(system->Root());
    for (const auto& [letter, folder] : system->Config().drives)
        request.examinedFolders.push_back(folder);
    if (const platform::UserProfile* user = system->User())
        request.systemUser = user->name;
}

ReportJob::ReportJob(ReportRequest request, Thumbnailer* thumbnailer, Progress* progress)
    : FileJob(progress)
    , request_(std::move(request))
    , thumbnailer_(thumbnailer)
{
}

ReportJob::~ReportJob()
{
    StopAndWait();
}

std::string ReportJob::IndexPath() const
{
    return request_.folder + "/" + kIndexName;
}

bool ReportJob::DoPrepare()
{
    // The items' display texts are made when first asked for; made here,
    // on the starting thread, the job's own thread only reads them while
    // the window may paint the same items.
    for (const ReportProfile& profile : request_.profiles) {
        if (!profile.cache || !profile.cache->IsDecoded())
            continue;
        const CCache& cache = *profile.cache;
        for (int32_t g = 0; g < cache.GetGroupCount(); ++g) {
            const CNamedCacheItemArray* group = cache.GetGroup(g);
            for (int32_t i = 0; i < group->GetCount(); ++i) {
                if (CCacheItem* item = group->ItemAt(i))
                    item->GetLastModifiedText();
            }
        }
        for (int32_t i = 0; i < cache.GetRecoveredItems().GetCount(); ++i) {
            if (CCacheItem* item = cache.GetRecoveredItems().ItemAt(i))
                item->GetLastModifiedText();
        }
    }
    return true;
}

void ReportJob::DoRequestStop()
{
    std::lock_guard lock(decodeMutex_);
    if (decode_)
        decode_->RequestStop();
}

int ReportJob::DoRun()
{
    const std::string index = IndexPath();
    std::vector<std::string> guarded = request_.examinedFolders;
    for (const ReportProfile& profile : request_.profiles) {
        guarded.push_back(profile.cacheFolder);
        if (profile.cache)
            guarded.push_back(profile.cache->GetFolder());
    }
    for (const std::string& folder : guarded) {
        if (PathLiesInFolder(request_.folder + "/" + kIndexName, folder)) {
            Record(index, FileOutcome::Refused, "will not write into the examined folder " + folder);
            return -1;
        }
    }

    if (request_.decodeFirst) {
        for (const ReportProfile& profile : request_.profiles) {
            if (!profile.cache || profile.cache->IsDecoded() || StopRequested())
                continue;
            DecodeJob decode(*profile.cache, GetProgress(), request_.showMessages);
            {
                std::lock_guard lock(decodeMutex_);
                decode_ = &decode;
            }
            if (StopRequested())
                decode.RequestStop();
            decode.Run();
            std::lock_guard lock(decodeMutex_);
            decode_ = nullptr;
        }
    }
    if (StopRequested()) {
        Record(index, FileOutcome::Skipped, "stopped");
        return -1;
    }

    // The folder and its thumbs/ folder, never entered through a link.
    std::error_code ec;
    fs::create_directories(request_.folder, ec);
    platform::UniqueFd dir(::open(request_.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir) {
        Record(index, FileOutcome::Failed, Why("cannot open the report folder " + request_.folder));
        return -1;
    }
    if (::mkdirat(dir.Get(), kThumbFolder, 0777) != 0 && errno != EEXIST) {
        Record(index, FileOutcome::Failed, Why("cannot create " + request_.folder + "/" + kThumbFolder));
        return -1;
    }
    platform::UniqueFd thumbs(::openat(dir.Get(), kThumbFolder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!thumbs) {
        Record(index, FileOutcome::Refused,
               Why(request_.folder + "/" + kThumbFolder + " is not a folder (a symbolic link or a file)"));
        return -1;
    }

    int total = 0;
    for (const ReportProfile& profile : request_.profiles) {
        if (profile.cache && profile.cache->IsDecoded())
            total += profile.cache->GetItemCount() + (request_.withRecovered ? profile.cache->GetRecoveredCount() : 0);
    }
    ProgressSetRange(total);

    std::vector<std::string> written; // thumbnails, removed again when stopped
    auto removeWritten = [&] {
        for (const std::string& name : written)
            ::unlinkat(thumbs.Get(), name.c_str(), 0);
    };

    std::string rows;
    std::vector<ProfileSummary> summaries(request_.profiles.size());
    int number = 0;
    for (size_t p = 0; p < request_.profiles.size(); ++p) {
        const ReportProfile& profile = request_.profiles[p];
        ProfileSummary& summary = summaries[p];
        if (!profile.cache || !profile.cache->IsDecoded())
            continue;
        std::vector<CCacheItem*> items;
        const CCache& cache = *profile.cache;
        for (int32_t g = 0; g < cache.GetGroupCount(); ++g) {
            const CNamedCacheItemArray* group = cache.GetGroup(g);
            for (int32_t i = 0; i < group->GetCount(); ++i) {
                if (CCacheItem* item = group->ItemAt(i))
                    items.push_back(item);
            }
        }
        if (request_.withRecovered) {
            for (int32_t i = 0; i < cache.GetRecoveredItems().GetCount(); ++i) {
                if (CCacheItem* item = cache.GetRecoveredItems().ItemAt(i))
                    items.push_back(item);
            }
        }
        for (CCacheItem* item : items) {
            if (StopRequested()) {
                removeWritten();
                Record(index, FileOutcome::Skipped, "stopped");
                return -1;
            }
            ++number;
            ++summary.items;
            const int64_t modified = item->GetLastModified() ? item->GetLastModified() : item->GetLastModifiedSortTime();
            for (int64_t t : {modified, item->GetDownloaded(), item->GetExpires(), item->GetLastAccessed()})
                summary.See(t);
            if (item->IsRecovered())
                ++summary.recovered;

            BodyDigest digest = DigestBody(*item, request_.maxImageBytes);
            std::string thumb;
            std::pair<uint32_t, uint32_t> thumbSize{0, 0};
            if (digest.read) {
                ++summary.bodies;
                if (thumbnailer_ && !digest.imageBytes.empty()) {
                    if (auto png = thumbnailer_->MakeThumbnailPng(digest.imageBytes, request_.thumbnailSide)) {
                        const std::string name = std::to_string(number) + ".png";
                        platform::UniqueFd out(::openat(thumbs.Get(), name.c_str(),
                                                        O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666));
                        if (out && WriteAll(out.Get(), *png)) {
                            written.push_back(name);
                            thumb = std::string(kThumbFolder) + "/" + name;
                            thumbSize = PngSize(*png);
                            ++summary.thumbnails;
                        }
                    }
                }
            }

            rows += item->IsRecovered() ? "<tr class=\"recovered\">" : "<tr>";
            NumberCell(rows, number, std::to_string(number), "num");
            if (thumb.empty()) {
                rows += "<td></td>";
            } else {
                rows += "<td><img src=\"" + thumb + "\" alt=\"\" width=\"" + std::to_string(thumbSize.first) +
                        "\" height=\"" + std::to_string(thumbSize.second) + "\"/></td>";
            }
            Cell(rows, OrEmpty(item->GetURL()), "url");
            Cell(rows, profile.displayName);
            Cell(rows, OrEmpty(item->GetContentType()));
            NumberCell(rows, item->GetSize(), FormatSize(item->GetSize()), "num");
            TimeCell(rows, modified);
            TimeCell(rows, item->GetDownloaded());
            TimeCell(rows, item->GetExpires());
            TimeCell(rows, item->GetLastAccessed());
            Cell(rows, OrEmpty(item->GetDisplayCacheName()), "path");
            Cell(rows, digest.read ? (digest.decoded ? "decoded" : "stored") : digest.problem);
            Cell(rows, digest.sha256, "hash");
            Cell(rows, item->IsRecovered() ? (item->IsPartial() ? "partial" : "yes") : "");
            rows += "</tr>\n";
            ProgressStep();
        }
    }

    // The page.
    const int64_t made = request_.madeAt ? request_.madeAt : int64_t(std::time(nullptr));
    std::string html;
    html.reserve(rows.size() + 16384);
    html += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\"/>\n";
    html += "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; img-src 'self'; style-src " +
            CspHash(kStyle) + "; script-src " + CspHash(kScript) + "; base-uri 'none'; form-action 'none'\"/>\n";
    html += "<meta name=\"referrer\" content=\"no-referrer\"/>\n";
    html += "<title>Oriel cache report</title>\n<style>";
    html += kStyle;
    html += "</style>\n</head>\n<body>\n<h1>Oriel cache report</h1>\n<table class=\"facts\">\n";
    auto fact = [&html](std::string_view label, std::string_view value) {
        html += "<tr><th>";
        AppendHtmlText(html, label);
        html += "</th><td>";
        AppendHtmlText(html, value);
        html += "</td></tr>\n";
    };
    fact("Examined system", request_.systemRoot.empty() ? std::string("(none: cache folders only)") : request_.systemRoot);
    fact("User", request_.systemUser.empty() ? std::string("(none)") : request_.systemUser);
    fact("Report made (UTC)", TimeText(made));
    fact("Made by", std::string("Oriel ") + CCacheApp::kVersionText);
    fact("Bodies", "SHA-256 of each body as it is copied out (extracted, and decoded when the cache stored it compressed)");
    html += "</table>\n<h2>Profiles</h2>\n<table id=\"profiles\">\n<thead><tr><th>Profile</th><th>Browser</th>"
            "<th>Cache folder</th><th>Items</th><th>Bodies read</th><th>Pictures</th><th>Recovered</th>"
            "<th>Earliest time (UTC)</th><th>Latest time (UTC)</th></tr></thead>\n<tbody>\n";
    for (size_t p = 0; p < request_.profiles.size(); ++p) {
        const ReportProfile& profile = request_.profiles[p];
        const ProfileSummary& s = summaries[p];
        html += "<tr>";
        Cell(html, profile.displayName);
        Cell(html, profile.browser);
        Cell(html, profile.cacheFolder, "path");
        const bool decoded = profile.cache && profile.cache->IsDecoded();
        Cell(html, decoded ? std::to_string(s.items) : std::string("not decoded"));
        Cell(html, std::to_string(s.bodies));
        Cell(html, std::to_string(s.thumbnails));
        Cell(html, std::to_string(s.recovered));
        Cell(html, TimeText(s.earliest));
        Cell(html, TimeText(s.latest));
        html += "</tr>\n";
        figures_.items += s.items;
        figures_.bodies += s.bodies;
        figures_.thumbnails += s.thumbnails;
        figures_.recovered += s.recovered;
    }
    html += "</tbody>\n</table>\n<h2>Items</h2>\n<p><input id=\"filter\" type=\"search\" "
            "placeholder=\"Filter: words that every row shown contains\" aria-label=\"Filter\"/> "
            "<span id=\"shown\"></span></p>\n<table id=\"items\">\n<thead><tr><th data-type=\"number\">#</th>"
            "<th>Picture</th><th>URL</th><th>Profile</th><th>Type</th><th data-type=\"number\">Size</th>"
            "<th data-type=\"number\">Last modified</th><th data-type=\"number\">Downloaded</th>"
            "<th data-type=\"number\">Expires</th><th data-type=\"number\">Last accessed</th><th>Cache name</th>"
            "<th>Body</th><th>SHA-256</th><th>Recovered</th></tr></thead>\n<tbody>\n";
    html += rows;
    html += "</tbody>\n</table>\n<script>";
    html += kScript;
    html += "</script>\n</body>\n</html>\n";

    if (StopRequested()) {
        removeWritten();
        Record(index, FileOutcome::Skipped, "stopped");
        return -1;
    }
    ::unlinkat(dir.Get(), kIndexPartName, 0);
    platform::UniqueFd out(
        ::openat(dir.Get(), kIndexPartName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (!out) {
        Record(index, FileOutcome::Failed, Why("cannot create " + request_.folder + "/" + kIndexPartName));
        return -1;
    }
    if (!WriteAll(out.Get(), html) || ::fsync(out.Get()) != 0) {
        Record(index, FileOutcome::Failed, Why("cannot write " + request_.folder + "/" + kIndexPartName));
        ::unlinkat(dir.Get(), kIndexPartName, 0);
        return -1;
    }
    out.Reset();
    if (::renameat(dir.Get(), kIndexPartName, dir.Get(), kIndexName) != 0) {
        Record(index, FileOutcome::Failed, Why("cannot rename the report to " + index));
        ::unlinkat(dir.Get(), kIndexPartName, 0);
        return -1;
    }
    Record(index, FileOutcome::Done);
    return 0;
}

} // namespace oriel
