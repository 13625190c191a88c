// oriel-cli list [--json] [--recovered] FOLDER
#include "cli/Cli.h"

#include "model/TextForms.h"

#include <charconv>
#include <cstdio>
#include <ctime>
#include <string>

namespace oriel::cli {

namespace {

// Tabs and line breaks inside a field would split the line: they become
// blanks. Other control characters (ESC would reach the terminal and drive
// it), DEL, the C1 controls and bytes that are not UTF-8 are written as
// \xHH escapes; valid UTF-8 passes through.
void AppendTsvField(std::string& out, std::string_view text)
{
    static const char* hex = "0123456789abcdef";
    auto escape = [&out](unsigned char c) {
        out += "\\x";
        out += hex[c >> 4];
        out += hex[c & 15];
    };
    size_t i = 0;
    while (i < text.size()) {
        // Plain printable ASCII, nearly all of a URL, goes out a run at a time.
        size_t plain = i;
        while (plain < text.size() && static_cast<unsigned char>(text[plain]) - 0x20u < 0x5Fu)
            ++plain;
        if (plain > i) {
            out.append(text.data() + i, plain - i);
            i = plain;
            continue;
        }
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\t' || c == '\n' || c == '\r') {
            out += ' ';
            ++i;
        } else if (c < 0x20 || c == 0x7F) {
            escape(c);
            ++i;
        } else if (c < 0x80) {
            out += char(c);
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
                out.append(text.substr(i, len));
                i += len;
            } else {
                escape(c);
                ++i;
            }
        }
    }
}

void AppendTsvField(std::string& out, const char* text)
{
    if (text)
        AppendTsvField(out, std::string_view(text));
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

} // namespace

int RunList(const Args& args, const AppContext& context)
{
    auto opened = OpenFromArgs(args, context);
    if (!opened)
        return kExitFailure;
    const bool json = args.has("json");
    // The lines go out in large writes; `line` is the buffer being filled.
    constexpr size_t kFlushAt = 256 * 1024;
    std::string out;
    out.reserve(kFlushAt + 4096);
    bool written = true;
    auto flush = [&out, &written] {
        if (!out.empty() && std::fwrite(out.data(), 1, out.size(), stdout) != out.size())
            written = false;
        out.clear();
    };
    std::string& line = out;
    std::string scratch;
    // `server` is the item's group, or for a recovered item (which has
    // none) the host of its URL.
    auto write = [&](const char* server, CCacheItem& item) {
        bool exists = item.Exists();
        if (json) {
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
        } else {
            AppendTsvField(line, item.GetURL());
            line += '\t';
            AppendTsvField(line, item.GetCacheName());
            line += '\t';
            char size[24];
            line.append(size, size_t(std::to_chars(size, size + sizeof size, item.GetSize()).ptr - size));
            line += '\t';
            AppendTsvField(line, item.GetContentType());
            line += '\t';
            scratch.clear();
            item.AppendLastModifiedText(scratch);
            AppendTsvField(line, scratch);
            line += '\t';
            // The texts GetDownloadedText and GetExpiresText give, made
            // without being kept.
            AppendDate(line, item.GetDownloaded());
            line += '\t';
            AppendDate(line, item.GetExpires());
            line += exists ? "\tyes\n" : "\tno\n";
        }
        if (out.size() >= kFlushAt)
            flush();
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
    } else {
        ForEachItem(cache, [&](const CNamedCacheItemArray& group, CCacheItem& item) { write(group.GetName(), item); });
    }
    flush();
    return std::fflush(stdout) == 0 && written ? kExitOk : kExitFailure;
}

} // namespace oriel::cli
