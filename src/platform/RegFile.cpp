#include "platform/RegFile.h"

#include "platform/ContainedPath.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"


#include <QString>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>
#include <sys/stat.h>

namespace oriel::platform {

namespace {

constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kHeader4 = "REGEDIT4";

// Windows-1252 characters 0x80-0x9F; the five unassigned bytes keep their
// C1 control code, as Windows converts them.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

void AppendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

std::string Cp1252ToUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    for (char ch : bytes) {
        auto b = uint8_t(ch);
        if (b < 0x80)
            out += ch;
        else if (b < 0xA0)
            AppendUtf8(out, kCp1252High[b - 0x80]);
        else
            AppendUtf8(out, b);
    }
    return out;
}

// The registry data of a string value: text up to its first NUL character,
// UTF-16LE in version 5 files, Windows-1252 in REGEDIT4 files.
std::string DataToText(std::string_view data, bool unicode)
{
    if (unicode)
        return Utf16LeToUtf8(Utf16LeUpToNul(data));
    return Cp1252ToUtf8(data.substr(0, std::min(data.find('\0'), data.size())));
}

// REG_MULTI_SZ data: NUL-terminated strings ending at an empty one; the
// entries joined by '\0'.
std::string MultiDataToText(std::string_view data, bool unicode)
{
    const size_t unit = unicode ? 2 : 1;
    std::string out;
    bool first = true;
    size_t start = 0;
    while (start + unit <= data.size()) {
        size_t end = start;
        while (end + unit <= data.size() && (data[end] || (unicode && data[end + 1])))
            end += unit;
        if (end == start)
            break;
        if (!first)
            out += '\0';
        first = false;
        out += DataToText(data.substr(start, end - start), unicode);
        start = end + unit;
    }
    return out;
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view TrimLeft(std::string_view s)
{
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    return s;
}

std::string_view TrimRight(std::string_view s)
{
    while (!s.empty() && (IsBlank(s.back()) || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// 1 to 8 hex digits.
std::optional<uint32_t> ParseHex32(std::string_view s)
{
    if (s.empty() || s.size() > 8)
        return std::nullopt;
    uint32_t v = 0;
    for (char c : s) {
        int d = HexDigit(c);
        if (d < 0)
            return std::nullopt;
        v = (v << 4) | uint32_t(d);
    }
    return v;
}

struct Op {
    enum Kind { CreateKey, DeleteKey, SetValue, DeleteValue } kind;
    RootKey root;
    std::string key;
    std::string name;
    MemoryRegistry::Value value;
};

class Parser {
public:
    Parser(std::string_view text, std::vector<Op>& ops)
        : text_(text)
        , ops_(ops)
    {
    }

    bool Run(std::string& error);

private:
    // The next physical line without its line end; false at the end of the text.
    bool NextLine(std::string_view& line)
    {
        if (pos_ >= text_.size())
            return false;
        size_t end = text_.find('\n', pos_);
        if (end == std::string_view::npos)
            end = text_.size();
        line = text_.substr(pos_, end - pos_);
        crlf_ = !line.empty() && line.back() == '\r';
        if (crlf_)
            line.remove_suffix(1);
        pos_ = end + 1;
        ++lineNo_;
        return true;
    }

    bool Fail(std::string& error, const std::string& what) const
    {
        error = "line " + std::to_string(startLine_) + ": " + what;
        return false;
    }

    bool KeyLine(std::string_view line, std::string& error);
    bool ValueLine(std::string_view line, std::string& error);
    bool HexData(std::string_view typeTag, std::string_view list, MemoryRegistry::Value& value, std::string& error);

    std::string_view text_;
    std::vector<Op>& ops_;
    size_t pos_ = 0;
    size_t lineNo_ = 0;
    size_t startLine_ = 0;
    bool crlf_ = false; // the last line read ended in CR LF
    bool unicode_ = true;
    // The key that value lines apply to; none before the first key, after a
    // deleted key and under roots that are not read.
    bool haveKey_ = false;
    RootKey root_ = RootKey::LocalMachine;
    std::string key_;
};

// A quoted text starting at s[0] == '"'; `\\` and `\"` are escapes, any other
// backslash stands for itself. Sets `rest` to what follows the closing quote.
// Appends the text of `s` (which follows an opening quote or continues a
// quoted text) to `out`; true when the closing quote was found.
bool ParseQuotedPart(std::string_view s, std::string& out, std::string_view& rest)
{
    for (size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (c == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) {
            out += s[++i];
        } else if (c == '"') {
            rest = s.substr(i + 1);
            return true;
        } else {
            out += c;
        }
    }
    return false;
}

bool ParseQuoted(std::string_view s, std::string& out, std::string_view& rest)
{
    out.clear();
    return ParseQuotedPart(s.substr(1), out, rest);
}

bool Parser::Run(std::string& error)
{
    std::string_view line;
    if (!NextLine(line))
        return startLine_ = 1, Fail(error, "the file is empty");
    startLine_ = lineNo_;
    line = TrimRight(line);
    if (EqualsNoCase(line, kHeader5))
        unicode_ = true;
    else if (EqualsNoCase(line, kHeader4))
        unicode_ = false;
    else
        return Fail(error, "the file does not start with \"REGEDIT4\" or \"Windows Registry Editor Version 5.00\"");

    while (NextLine(line)) {
        startLine_ = lineNo_;
        std::string_view trimmed = TrimRight(TrimLeft(line));
        if (trimmed.empty() || trimmed.front() == ';')
            continue;
        bool ok = trimmed.front() == '[' ? KeyLine(trimmed, error)
                  : (trimmed.front() == '"' || trimmed.front() == '@') ? ValueLine(trimmed, error)
                                                                       : Fail(error, "not a key or value line");
        if (!ok)
            return false;
    }
    return true;
}

bool Parser::KeyLine(std::string_view line, std::string& error)
{
    // Key names may hold ']' themselves: the last one closes the line.
    size_t close = line.rfind(']');
    if (close == std::string_view::npos || close + 1 != line.size())
        return Fail(error, "a key line without its closing ']'");
    std::string_view path = line.substr(1, close - 1);
    bool remove = !path.empty() && path.front() == '-';
    if (remove)
        path.remove_prefix(1);
    size_t slash = path.find('\\');
    std::string_view rootName = path.substr(0, slash);
    std::string_view rest = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);

    haveKey_ = false;
    if (EqualsNoCase(rootName, "HKEY_LOCAL_MACHINE") || EqualsNoCase(rootName, "HKLM"))
        root_ = RootKey::LocalMachine;
    else if (EqualsNoCase(rootName, "HKEY_CURRENT_USER") || EqualsNoCase(rootName, "HKCU"))
        root_ = RootKey::CurrentUser;
    else if (EqualsNoCase(rootName, "HKEY_CLASSES_ROOT") || EqualsNoCase(rootName, "HKCR"))
        root_ = RootKey::ClassesRoot;
    else
        return true; // HKEY_USERS and the other roots are not read
    // Windows nests keys at most 512 deep; a deeper key (a hostile file's
    // 200,000 levels) is not read, nor are its values.
    size_t depth = 0;
    for (size_t pos = 0; pos < rest.size();) {
        size_t next = std::min(rest.find('\\', pos), rest.size());
        depth += next > pos ? 1 : 0;
        pos = next + 1;
    }
    if (depth > RegFile::kMaxKeyDepth)
        return true;
    key_ = std::string(rest);
    if (remove) {
        ops_.push_back({Op::DeleteKey, root_, key_, {}, {}});
    } else {
        ops_.push_back({Op::CreateKey, root_, key_, {}, {}});
        haveKey_ = true;
    }
    return true;
}

bool Parser::ValueLine(std::string_view line, std::string& error)
{
    std::string name;
    std::string_view rest;
    if (line.front() == '@') {
        rest = line.substr(1);
    } else if (!ParseQuoted(line, name, rest)) {
        return Fail(error, "a value name without its closing quote");
    }
    rest = TrimLeft(rest);
    if (rest.empty() || rest.front() != '=')
        return Fail(error, "a value name without '='");
    std::string_view data = TrimLeft(rest.substr(1));

    MemoryRegistry::Value value;
    bool remove = false;
    if (!data.empty() && data.front() == '"') {
        // regedit writes a line break inside a string as it stands, so a
        // string goes on over the following lines until its closing quote.
        std::string text;
        std::string_view after;
        std::string_view part = data.substr(1);
        while (!ParseQuotedPart(part, text, after)) {
            text += crlf_ ? "\r\n" : "\n";
            if (!NextLine(part))
                return Fail(error, "the file ends inside a string value");
        }
        if (!TrimLeft(TrimRight(after)).empty())
            return Fail(error, "text after a string value");
        value = {MemoryRegistry::ValueType::String, std::move(text)};
    } else if (data == "-") {
        remove = true;
    } else if (StartsWithNoCase(data, "dword:")) {
        auto number = ParseHex32(data.substr(6));
        if (!number)
            return Fail(error, "a dword value that is not 1 to 8 hex digits");
        std::string bytes;
        for (int i = 0; i < 4; ++i)
            bytes += char((*number >> (8 * i)) & 0xFF);
        value = {MemoryRegistry::ValueType::Other, std::move(bytes)};
    } else if (StartsWithNoCase(data, "hex")) {
        size_t colon = data.find(':');
        if (colon == std::string_view::npos)
            return Fail(error, "a hex value without ':'");
        // A hex list goes on over the following lines while a line ends in '\'.
        std::string list(data.substr(colon + 1));
        while (!list.empty() && list.back() == '\\') {
            list.pop_back();
            std::string_view next;
            if (!NextLine(next))
                return Fail(error, "the file ends inside a hex value");
            list += TrimRight(TrimLeft(next));
        }
        if (!HexData(data.substr(3, colon - 3), list, value, error))
            return false;
    } else {
        return Fail(error, "an unknown kind of value");
    }

    if (!haveKey_)
        return true; // values of a deleted key or of a root that is not read
    if (remove)
        ops_.push_back({Op::DeleteValue, root_, key_, std::move(name), {}});
    else
        ops_.push_back({Op::SetValue, root_, key_, std::move(name), std::move(value)});
    return true;
}

// `typeTag` is what stands between "hex" and ':' ("" or "(N)"), `list` the
// comma-separated bytes.
bool Parser::HexData(std::string_view typeTag, std::string_view list, MemoryRegistry::Value& value, std::string& error)
{
    uint32_t type = 3; // REG_BINARY
    if (!typeTag.empty()) {
        std::optional<uint32_t> n;
        if (typeTag.size() >= 3 && typeTag.front() == '(' && typeTag.back() == ')')
            n = ParseHex32(typeTag.substr(1, typeTag.size() - 2));
        if (!n)
            return Fail(error, "a hex value type that is not \"hex(N)\"");
        type = *n;
    }
    std::string bytes;
    std::string_view items = TrimRight(TrimLeft(list));
    if (!items.empty() && items.back() == ',')
        items.remove_suffix(1); // regedit never writes it, but one comma may end the list
    bytes.reserve(items.size() / 3 + 1);
    size_t pos = 0;
    while (!items.empty() && pos <= items.size()) {
        size_t comma = std::min(items.find(',', pos), items.size());
        std::string_view item = TrimRight(TrimLeft(items.substr(pos, comma - pos)));
        auto b = item.size() <= 2 ? ParseHex32(item) : std::nullopt;
        if (!b)
            return Fail(error, "a hex value with an item that is not one byte");
        bytes += char(*b);
        pos = comma + 1;
    }
    switch (type) {
    case 1:
        value = {MemoryRegistry::ValueType::String, DataToText(bytes, unicode_)};
        break;
    case 2:
        value = {MemoryRegistry::ValueType::ExpandString, DataToText(bytes, unicode_)};
        break;
    case 7:
        value = {MemoryRegistry::ValueType::MultiString, MultiDataToText(bytes, unicode_)};
        break;
    default:
        value = {MemoryRegistry::ValueType::Other, std::move(bytes)};
        break;
    }
    return true;
}

// The file's text as UTF-8: UTF-16LE after a byte-order mark, UTF-8 after
// one, Windows-1252 otherwise.
bool DecodeFile(std::string_view bytes, std::string& text, std::string& error)
{
    if (bytes.size() >= 2 && uint8_t(bytes[0]) == 0xFF && uint8_t(bytes[1]) == 0xFE) {
        bytes.remove_prefix(2);
        if (bytes.size() % 2) {
            error = "the file is truncated in the middle of a character";
            return false;
        }
        text = Utf16LeToUtf8(bytes);
        return true;
    }
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        text = QString::fromUtf8(bytes.data() + 3, qsizetype(bytes.size() - 3)).toStdString();
        return true;
    }
    text = Cp1252ToUtf8(bytes);
    return true;
}

bool Warn(std::string* problem, const std::string& fileName, const std::string& why)
{
    if (problem)
        *problem = "The registry file \"" + fileName + "\" cannot be used (" + why + "); none of its keys or values are read.";
    return false;
}

bool Parse(std::string_view bytes, std::vector<Op>& ops, std::string& error)
{
    if (bytes.size() > RegFile::kMaxFileSize) {
        error = "the file is too large";
        return false;
    }
    std::string text;
    if (!DecodeFile(bytes, text, error))
        return false;
    Parser parser(text, ops);
    return parser.Run(error);
}

} // namespace

bool RegFile::Check(std::string_view bytes, std::string* error)
{
    std::vector<Op> ops;
    std::string why;
    bool ok = Parse(bytes, ops, why);
    if (!ok && error)
        *error = why;
    return ok;
}

bool RegFile::ApplyBytes(std::string_view bytes, const std::string& fileName, MemoryRegistry& registry,
                         std::string* problem)
{
    std::vector<Op> ops;
    std::string error;
    if (!Parse(bytes, ops, error)) {
        Warn(problem, fileName, error);
        return false;
    }
    for (Op& op : ops) {
        switch (op.kind) {
        case Op::CreateKey:
            registry.CreateKey(op.root, op.key);
            break;
        case Op::DeleteKey:
            registry.DeleteKey(op.root, op.key);
            break;
        case Op::SetValue:
            registry.SetValue(op.root, op.key, op.name, std::move(op.value));
            break;
        case Op::DeleteValue:
            registry.DeleteValue(op.root, op.key, op.name);
            break;
        }
    }
    return true;
}

bool RegFile::Apply(const std::string& path, MemoryRegistry& registry, std::string* problem)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        Warn(problem, path, std::strerror(errno));
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        Warn(problem, path, "not a regular file");
        return false;
    }
    if (uint64_t(st.st_size) > kMaxFileSize) {
        Warn(problem, path, "the file is too large");
        return false;
    }
    // Read as every examined file is (a .reg file inside the examined tree
    // is never read through a link that leads out of it).
    std::string why;
    auto bytes = ReadFile(path, kMaxFileSize, &why);
    if (!bytes) {
        Warn(problem, path, IsContainmentProblem(why) ? why : "it cannot be opened");
        return false;
    }
    return ApplyBytes(*bytes, path, registry, problem);
}

} // namespace oriel::platform
