#include "platform/DesktopApps.h"

#include <QMimeDatabase>
#include <QMimeType>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string_view>
#include <system_error>

namespace oriel::platform {

namespace {

namespace fs = std::filesystem;

std::string Env(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string Home()
{
    return Env("HOME");
}

// A colon-separated list of absolute folders; relative entries are
// ignored, as the base-directory rules say.
std::vector<std::string> SplitDirs(const std::string& list)
{
    std::vector<std::string> dirs;
    size_t start = 0;
    while (start <= list.size()) {
        size_t colon = list.find(':', start);
        if (colon == std::string::npos)
            colon = list.size();
        std::string dir = list.substr(start, colon - start);
        if (!dir.empty() && dir.front() == '/')
            dirs.push_back(dir);
        start = colon + 1;
    }
    return dirs;
}

std::string Trim(std::string_view text)
{
    size_t begin = 0, end = text.size();
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t'))
        ++begin;
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t' || text[end - 1] == '\r'))
        --end;
    return std::string(text.substr(begin, end - begin));
}

// group -> key -> raw value, of a key file (desktop entry or mimeapps.list).
using KeyFile = std::map<std::string, std::map<std::string, std::string>>;

KeyFile ReadKeyFile(const std::string& path)
{
    KeyFile file;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return file;
    std::string line;
    std::string group;
    size_t lines = 0;
    // A desktop file is a few kilobytes; a runaway file is cut short.
    while (std::getline(in, line) && ++lines < 100000) {
        std::string text = Trim(line);
        if (text.empty() || text.front() == '#')
            continue;
        if (text.front() == '[') {
            size_t close = text.find(']');
            group = close == std::string::npos ? std::string() : text.substr(1, close - 1);
            continue;
        }
        size_t equals = text.find('=');
        if (group.empty() || equals == std::string::npos)
            continue;
        std::string key = Trim(std::string_view(text).substr(0, equals));
        // The first of a repeated key counts.
        file[group].emplace(key, Trim(std::string_view(text).substr(equals + 1)));
    }
    return file;
}

// The escapes of a string value: \s \n \t \r \\.
std::string Unescape(std::string_view value)
{
    std::string out;
    out.reserve(value.size());
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        const char next = value[++i];
        switch (next) {
        case 's': out += ' '; break;
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        case '\\': out += '\\'; break;
        default:
            // Kept for the Exec line's own quoting (\" \` \$).
            out += '\\';
            out += next;
            break;
        }
    }
    return out;
}

// A list value: "a.desktop;b.desktop;" (escaped semicolons are not used
// in the lists read here).
std::vector<std::string> SplitList(const std::string& value)
{
    std::vector<std::string> items;
    size_t start = 0;
    while (start < value.size()) {
        size_t semi = value.find(';', start);
        if (semi == std::string::npos)
            semi = value.size();
        std::string item = Trim(std::string_view(value).substr(start, semi - start));
        if (!item.empty())
            items.push_back(item);
        start = semi + 1;
    }
    return items;
}

const std::string* Find(const KeyFile& file, const std::string& group, const std::string& key)
{
    auto g = file.find(group);
    if (g == file.end())
        return nullptr;
    auto k = g->second.find(key);
    return k == g->second.end() ? nullptr : &k->second;
}

// A launchable application from a desktop entry's keys; empty id when not.
DesktopApp EntryFromKeys(const KeyFile& keys, const std::string& file, const std::string& id);

// The desktop entries of every data directory by id (first found wins),
// with the types each lists, in the order they were found.
struct EntryIndex {
    std::vector<std::string> order;
    std::map<std::string, DesktopApp> apps;            // launchable entries
    std::map<std::string, std::vector<std::string>> types; // id -> MimeType list
};

EntryIndex IndexEntries()
{
    EntryIndex index;
    std::set<std::string> seen; // ids taken, hidden ones included
    for (const std::string& dataDir : XdgDataDirs()) {
        const fs::path apps = fs::path(dataDir) / "applications";
        std::error_code ec;
        if (!fs::is_directory(apps, ec))
            continue;
        std::vector<fs::path> files;
        auto it = fs::recursive_directory_iterator(apps, fs::directory_options::skip_permission_denied, ec);
        for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            if (it.depth() > 8) {
                it.disable_recursion_pending();
                continue;
            }
            if (it->path().extension() == ".desktop" && it->is_regular_file(ec))
                files.push_back(it->path());
        }
        std::sort(files.begin(), files.end());
        for (const fs::path& file : files) {
            // The id: the path below "applications" with "/" as "-".
            std::string id = fs::relative(file, apps, ec).generic_string();
            if (ec)
                continue;
            std::replace(id.begin(), id.end(), '/', '-');
            if (!seen.insert(id).second)
                continue;
            const KeyFile keys = ReadKeyFile(file.string());
            DesktopApp app = EntryFromKeys(keys, file.string(), id);
            if (app.id.empty())
                continue;
            index.order.push_back(id);
            if (const std::string* types = Find(keys, "Desktop Entry", "MimeType"))
                index.types[id] = SplitList(*types);
            index.apps.emplace(id, std::move(app));
        }
    }
    return index;
}

std::vector<std::string> MimeAppsLists()
{
    std::vector<std::string> lists;
    for (const std::string& dir : XdgConfigDirs())
        lists.push_back(dir + "/mimeapps.list");
    for (const std::string& dir : XdgDataDirs())
        lists.push_back(dir + "/applications/mimeapps.list");
    return lists;
}

std::string BaseType(const std::string& mimeType)
{
    std::string type = Trim(std::string_view(mimeType).substr(0, mimeType.find(';')));
    std::transform(type.begin(), type.end(), type.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return type;
}

// `exact`: the type asked for, not one it is a kind of (whose default is
// no default of the type asked for).
void AppendAppsFor(const std::string& type, bool exact, const EntryIndex& index, const std::vector<KeyFile>& lists,
                   std::vector<DesktopApp>& out, std::set<std::string>& taken)
{
    auto add = [&](const std::string& id, bool isDefault) {
        auto app = index.apps.find(id);
        if (app == index.apps.end() || !taken.insert(id).second)
            return;
        out.push_back(app->second);
        out.back().isDefault = exact && isDefault;
    };
    // Removals in a list hold for the lists after it.
    std::set<std::string> removed;
    std::vector<std::string> defaults, added;
    for (const KeyFile& list : lists) {
        if (const std::string* ids = Find(list, "Default Applications", type)) {
            for (const std::string& id : SplitList(*ids)) {
                if (!removed.count(id))
                    defaults.push_back(id);
            }
        }
        if (const std::string* ids = Find(list, "Added Associations", type)) {
            for (const std::string& id : SplitList(*ids)) {
                if (!removed.count(id))
                    added.push_back(id);
            }
        }
        if (const std::string* ids = Find(list, "Removed Associations", type)) {
            for (const std::string& id : SplitList(*ids))
                removed.insert(id);
        }
    }
    // The first default that is installed is the default.
    for (const std::string& id : defaults) {
        if (index.apps.count(id)) {
            add(id, true);
            break;
        }
    }
    for (const std::string& id : added)
        add(id, false);
    for (const std::string& id : index.order) {
        if (removed.count(id))
            continue;
        auto types = index.types.find(id);
        if (types == index.types.end())
            continue;
        for (const std::string& listed : types->second) {
            if (BaseType(listed) == type) {
                add(id, false);
                break;
            }
        }
    }
}

} // namespace

std::vector<std::string> XdgDataDirs()
{
    std::vector<std::string> dirs;
    std::string home = Env("XDG_DATA_HOME");
    if (home.empty() || home.front() != '/')
        home = Home().empty() ? std::string() : Home() + "/.local/share";
    if (!home.empty())
        dirs.push_back(home);
    std::string system = Env("XDG_DATA_DIRS");
    if (system.empty())
        system = "/usr/local/share:/usr/share";
    for (std::string& dir : SplitDirs(system))
        dirs.push_back(std::move(dir));
    return dirs;
}

std::vector<std::string> XdgConfigDirs()
{
    std::vector<std::string> dirs;
    std::string home = Env("XDG_CONFIG_HOME");
    if (home.empty() || home.front() != '/')
        home = Home().empty() ? std::string() : Home() + "/.config";
    if (!home.empty())
        dirs.push_back(home);
    std::string system = Env("XDG_CONFIG_DIRS");
    if (system.empty())
        system = "/etc/xdg";
    for (std::string& dir : SplitDirs(system))
        dirs.push_back(std::move(dir));
    return dirs;
}

DesktopApp ReadDesktopEntry(const std::string& file, const std::string& id)
{
    return EntryFromKeys(ReadKeyFile(file), file, id);
}

namespace {

DesktopApp EntryFromKeys(const KeyFile& keys, const std::string& file, const std::string& id)
{
    DesktopApp app;
    auto value = [&](const char* key) {
        const std::string* found = Find(keys, "Desktop Entry", key);
        return found ? Unescape(*found) : std::string();
    };
    if (value("Type") != "Application" || value("Hidden") == "true" || value("Exec").empty())
        return app;
    app.id = id;
    app.name = value("Name");
    if (app.name.empty())
        app.name = id;
    app.exec = value("Exec");
    app.icon = value("Icon");
    app.desktopFile = file;
    return app;
}

} // namespace

std::vector<std::string> LaunchCommand(const DesktopApp& app, const std::string& path)
{
    // Split the Exec line: blanks separate arguments; a double-quoted
    // argument keeps its blanks and takes \" \` \$ \\ as escapes.
    std::vector<std::string> words;
    std::vector<bool> quoted;
    std::string word;
    bool inWord = false, inQuote = false, wordQuoted = false;
    const std::string& line = app.exec;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (inQuote) {
            if (c == '\\' && i + 1 < line.size() && std::string_view("\"`$\\").find(line[i + 1]) != std::string_view::npos) {
                word += line[++i];
            } else if (c == '"') {
                inQuote = false;
            } else {
                word += c;
            }
            continue;
        }
        if (c == ' ' || c == '\t' || c == '\n') {
            if (inWord) {
                words.push_back(word);
                quoted.push_back(wordQuoted);
                word.clear();
                inWord = wordQuoted = false;
            }
            continue;
        }
        inWord = true;
        if (c == '"') {
            inQuote = wordQuoted = true;
            continue;
        }
        word += c;
    }
    if (inQuote)
        return {};
    if (inWord) {
        words.push_back(word);
        quoted.push_back(wordQuoted);
    }
    if (words.empty())
        return {};

    std::vector<std::string> command;
    bool namedFile = false;
    for (size_t w = 0; w < words.size(); ++w) {
        const std::string& text = words[w];
        if (!quoted[w] && text == "%i") {
            if (!app.icon.empty()) {
                command.push_back("--icon");
                command.push_back(app.icon);
            }
            continue;
        }
        if (!quoted[w] && (text == "%F" || text == "%U" || text == "%f" || text == "%u")) {
            command.push_back(path);
            namedFile = true;
            continue;
        }
        std::string expanded;
        bool dropped = false;
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] != '%' || i + 1 == text.size()) {
                expanded += text[i];
                continue;
            }
            const char code = text[++i];
            switch (code) {
            case '%': expanded += '%'; break;
            case 'f': case 'F': case 'u': case 'U':
                expanded += path;
                namedFile = true;
                break;
            case 'c': expanded += app.name; break;
            case 'k': expanded += app.desktopFile; break;
            default:
                // %d %D %n %N %v %m and unknown codes expand to nothing.
                dropped = true;
                break;
            }
        }
        if (!expanded.empty() || !dropped || quoted[w])
            command.push_back(expanded);
    }
    if (command.empty() || command.front().empty())
        return {};
    if (!namedFile)
        command.push_back(path);
    return command;
}

std::vector<DesktopApp> AppsForMimeType(const std::string& mimeType)
{
    std::vector<DesktopApp> apps;
    const std::string type = BaseType(mimeType);
    if (type.empty())
        return apps;
    const EntryIndex index = IndexEntries();
    std::vector<KeyFile> lists;
    for (const std::string& list : MimeAppsLists())
        lists.push_back(ReadKeyFile(list));

    std::vector<std::string> types{type};
    const QMimeDatabase db;
    const QMimeType known = db.mimeTypeForName(QString::fromStdString(type));
    if (known.isValid()) {
        const std::string canonical = known.name().toStdString();
        if (canonical != type)
            types.push_back(canonical);
        for (const QString& parent : known.allAncestors())
            types.push_back(parent.toStdString());
    }
    std::set<std::string> taken;
    for (size_t i = 0; i < types.size(); ++i)
        AppendAppsFor(types[i], i == 0 || types[i] == known.name().toStdString(), index, lists, apps, taken);
    return apps;
}

} // namespace oriel::platform
