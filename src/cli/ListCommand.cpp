// oriel-cli list [--json] [--recovered] FOLDER
#include "cli/Cli.h"
#include "cli/LargeWriteBuffer.h"

#include "model/RowsOnTwoThreads.h"
#include "model/TextForms.h"
#include "platform/CopyBytes.h"

#include <charconv>
#include <cstdint>
#include <cstring>
#include <cstdio>
#include <ctime>
#include <string>
#include <unistd.h>

namespace oriel::cli {

namespace {

// Tabs and line breaks inside a field would split the line: they become
// blanks. Other control characters (ESC would reach the terminal and drive
// it), DEL, the C1 controls and bytes that are not UTF-8 are written as
// \xHH escapes; valid UTF-8 passes through. Written at `p`, which has room
// for kTsvRoomPerByte bytes per byte of `text`; returns the end.
constexpr size_t kTsvRoomPerByte = 4;
char* WriteTsvField(char* p, std::string_view text)
{
    static const char* hex = "0123456789abcdef";
    auto escape = [&p](unsigned char c) {
        *p++ = '\\';
        *p++ = 'x';
        *p++ = hex[c >> 4];
        *p++ = hex[c & 15];
    };
    size_t i = 0;
    while (i < text.size()) {
        // Plain printable ASCII, nearly all of a URL, goes out a run at a
        // time, found eight bytes at a time: a word passes when none of its
        // bytes is below 0x20 and none is 0x7F or above.
        size_t plain = i;
        constexpr uint64_t kOnes = 0x0101010101010101ull, kHighs = 0x8080808080808080ull;
        while (plain + 8 <= text.size()) {
            uint64_t word;
            std::memcpy(&word, text.data() + plain, 8);
            const uint64_t below = (word - 0x20 * kOnes) & ~word & kHighs;
            const uint64_t aboveOrDel = ((word + kOnes) | word) & kHighs;
            if ((below | aboveOrDel) != 0)
                break;
            plain += 8;
        }
        while (plain < text.size() && static_cast<unsigned char>(text[plain]) - 0x20u < 0x5Fu)
            ++plain;
        if (plain > i) {
            platform::CopyBytes(p, text.data() + i, plain - i);
            p += plain - i;
            i = plain;
            continue;
        }
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\t' || c == '\n' || c == '\r') {
            *p++ = ' ';
            ++i;
        } else if (c < 0x20 || c == 0x7F) {
            escape(c);
            ++i;
        } else if (c < 0x80) {
            *p++ = char(c);
            ++i;
        } else {
            size_t len = (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
            bool valid = len != 0 && i + len <= text.size();
            for (size_t k = 1; valid && k < len; ++k)
                valid = (static_cast<unsigned char>(text[i + k]) >> 6) == 2;
            // U+0080 to U+009F, the C1 controls, drive terminals as ESC does.
            if (valid && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0)
                valid = false;
            if (valid) {
                platform::CopyBytes(p, text.data() + i, len);
                p += len;
                i += len;
            } else {
                escape(c);
                ++i;
            }
        }
    }
    return p;
}

void AppendJsonString(std::string& out, std::string_view s)
{
    static const char* hex = "0123456789abcdef";
    out += '"';
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
            ++i;
        } else if (c < 0x20 || c == 0x7F) {
            out += "\\u00";
            out += hex[c >> 4];
            out += hex[c & 15];
            ++i;
        } else if (c < 0x80) {
            out += char(c);
            ++i;
        } else {
            // Pass valid UTF-8 sequences through; bytes that are not UTF-8
            // are shown as the Latin-1 characters of the same value.
            size_t len = (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
            bool valid = len != 0 && i + len <= s.size();
            for (size_t k = 1; valid && k < len; ++k)
                valid = (static_cast<unsigned char>(s[i + k]) >> 6) == 2;
            if (valid) {
                out.append(s.substr(i, len));
                i += len;
            } else {
                out += "\\u00";
                out += hex[c >> 4];
                out += hex[c & 15];
                ++i;
            }
        }
    }
    out += '"';
}

void AppendJsonText(std::string& out, const char* key, const char* value)
{
    out += ",\"";
    out += key;
    out += "\":";
    if (value)
        AppendJsonString(out, value);
    else
        out += "null";
}

std::string IsoTime(int64_t t)
{
    std::time_t tt = std::time_t(t);
    std::tm tm{};
    if (!gmtime_r(&tt, &tm))
        return {};
    char buffer[40];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buffer;
}

void AppendJsonTime(std::string& out, const char* key, int64_t t)
{
    out += ",\"";
    out += key;
    out += "\":";
    if (t == 0 || t == -1) {
        out += "null";
    } else {
        out += "{\"iso\":";
        AppendJsonString(out, IsoTime(t));
        out += ",\"seconds\":" + std::to_string(t) + "}";
    }
}

// The tab-separated line of an item, written in place into `out` (the
// output, or a run of lines made on another thread).
template <class Out>
void WriteTsvLine(Out& out, CCacheItem& item, bool exists)
{
    auto text = [](const char* t) { return t ? std::string_view(t) : std::string_view(); };
    const std::string_view url = text(item.GetURL());
    const std::string_view cacheName = text(item.GetCacheName());
    const std::string_view type = text(item.GetContentType());
    const std::optional<std::string_view> lastModified = item.HeldLastModifiedText();
    // Every field at its longest: escaped texts, a size, three
    // dates, the tabs and the last column.
    const size_t room =
        kTsvRoomPerByte * (url.size() + cacheName.size() + type.size() + lastModified.value_or("").size()) +
        24 + 3 * kMaxFormLength + 16;
    char* const start = out.Room(room);
    char* p = WriteTsvField(start, url);
    *p++ = '\t';
    p = WriteTsvField(p, cacheName);
    *p++ = '\t';
    p = std::to_chars(p, p + 24, item.GetSize()).ptr;
    *p++ = '\t';
    p = WriteTsvField(p, type);
    *p++ = '\t';
    // A formatted date needs no escapes.
    p = lastModified ? WriteTsvField(p, *lastModified) : WriteDate(p, item.GetLastModified());
    *p++ = '\t';
    // The texts GetDownloadedText and GetExpiresText give, made
    // without being kept.
    p = WriteDate(p, item.GetDownloaded());
    *p++ = '\t';
    p = WriteDate(p, item.GetExpires());
    const std::string_view last = exists ? "\tyes\n" : "\tno\n";
    platform::CopyBytes(p, last.data(), last.size());
    out.Filled(p + last.size());
}

} // namespace

int RunList(const Args& args, const AppContext& context)
{
    const bool json = args.has("json");
    // Only the JSON lines show the stored headers.
    auto opened = OpenFromArgs(args, context, json ? ItemHeaders::Kept : ItemHeaders::NotKept);
    if (!opened)
        return kExitFailure;
    // The lines go out in large writes. A JSON line is built in `line`
    // first; a tab-separated one straight into the output.
    std::fflush(stdout);
    LargeWriteBuffer out(STDOUT_FILENO);
    std::string line;
    std::string scratch;
    // `server` is the item's group, or for a recovered item (which has
    // none) the host of its URL.
    auto write = [&](const char* server, CCacheItem& item) {
        bool exists = item.Exists();
        if (json) {
            line.clear();
            line += "{\"key\":" + std::to_string(item.GetRecordKey());
            AppendJsonText(line, "url", item.GetURL());
            AppendJsonText(line, "server", server);
            AppendJsonText(line, "path", item.GetURLPath());
            AppendJsonText(line, "cacheName", item.GetCacheName());
            line += ",\"size\":" + std::to_string(item.GetSize());
            AppendJsonText(line, "type", item.GetContentType());
            line += ",\"encoding\":" + std::to_string(item.GetContentEncoding());
            AppendJsonTime(line, "lastModified", item.GetLastModified());
            if (item.GetLastModified() == 0) {
                scratch.clear();
                item.AppendLastModifiedText(scratch);
                if (!scratch.empty())
                    AppendJsonText(line, "lastModifiedText", scratch.c_str());
            }
            AppendJsonTime(line, "downloaded", item.GetDownloaded());
            AppendJsonTime(line, "expires", item.GetExpires());
            line += exists ? ",\"exists\":true" : ",\"exists\":false";
            AppendJsonText(line, "headers", item.GetHeaders());
            // Only the formats that have them add these, so that the lines
            // of the others stay as they were.
            if (item.IsDeleted())
                line += ",\"deleted\":true";
            if (item.IsRecovered())
                line += item.IsPartial() ? ",\"recovered\":true,\"partial\":true" : ",\"recovered\":true";
            if (auto properties = item.GetProperties(); !properties.empty()) {
                line += ",\"properties\":{";
                for (size_t i = 0; i < properties.size(); ++i) {
                    if (i)
                        line += ',';
                    AppendJsonString(line, properties[i].first);
                    line += ':';
                    AppendJsonString(line, properties[i].second);
                }
                line += '}';
            }
            line += "}\n";
            out.sputn(line.data(), std::streamsize(line.size()));
        } else {
            WriteTsvLine(out, item, exists);
        }
    };
    CCache& cache = *opened->profile->cache;
    // Which bodies are there is asked of every item: each folder is looked
    // at once for the whole listing.
    const CCache::FolderPass pass(cache);
    if (args.has("recovered")) {
        // Only the entries the cache no longer lists; the live listing
        // never shows them.
        const CNamedCacheItemArray& recovered = cache.GetRecoveredItems();
        for (int32_t i = 0; i < recovered.GetCount(); ++i) {
            CCacheItem* item = recovered.ItemAt(i);
            if (!item)
                continue;
            auto parts = item->GetURL() ? SplitUrl(item->GetURL()) : std::nullopt;
            const std::string host = parts ? std::string(parts->host) : std::string();
            write(parts ? host.c_str() : nullptr, *item);
        }
    } else if (json) {
        ForEachItem(cache, [&](const CNamedCacheItemArray& group, CCacheItem& item) { write(group.GetName(), item); });
    } else {
        // The lines are made in runs on two threads, and written in order.
        const ItemRows rows(cache);
        MakeRowsOnTwoThreads(
            rows.Runs(),
            [&rows](size_t run, RowRun& into) {
                rows.ForRowsOf(run, [&into](const CNamedCacheItemArray& group, int32_t i, int32_t) {
                    if (CCacheItem* item = group.ItemAt(i))
                        WriteTsvLine(into, *item, item->Exists());
                });
            },
            [&out](std::string_view text) {
                out.sputn(text.data(), std::streamsize(text.size()));
                return true;
            });
    }
    return out.Flush() ? kExitOk : kExitFailure;
}

} // namespace oriel::cli
