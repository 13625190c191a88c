#include "platform/IniFile.h"

#include "platform/FileSystem.h"

#include <cctype>
#include <climits>

namespace oriel::platform {

namespace {

// profiles.ini and OperaDef6.ini are a few kilobytes; anything beyond this
// is not an INI file of theirs.
constexpr uint64_t kMaxIniBytes = 16u << 20;

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

bool EqualNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

} // namespace

IniFile::IniFile(std::string_view text)
{
    Parse(text);
}

bool IniFile::Load(const std::string& path)
{
    sections_.clear();
    auto attributes = GetFileAttributes(path);
    if (!attributes || !attributes->isRegular)
        return false;
    auto text = ReadFile(path, kMaxIniBytes);
    if (!text)
        return false;
    Parse(*text);
    return true;
}

void IniFile::Parse(std::string_view text)
{
    sections_.clear();
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    Section* current = nullptr;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = Trim(text.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty() || line.front() == ';')
            continue;
        if (line.front() == '[') {
            size_t close = line.find(']');
            std::string_view name = Trim(line.substr(1, close == std::string_view::npos ? line.size() - 1 : close - 1));
            sections_.push_back({std::string(name), {}});
            current = &sections_.back();
            continue;
        }
        size_t eq = line.find('=');
        if (!current || eq == std::string_view::npos)
            continue;
        current->values.emplace_back(std::string(Trim(line.substr(0, eq))), std::string(Trim(line.substr(eq + 1))));
    }
}

std::optional<std::string> IniFile::Find(std::string_view section, std::string_view key) const
{
    for (const Section& s : sections_) {
        if (!EqualNoCase(s.name, section))
            continue;
        for (const auto& [name, value] : s.values) {
            if (EqualNoCase(name, key))
                return value;
        }
        return std::nullopt; // only the first section of a name counts
    }
    return std::nullopt;
}

std::string IniFile::GetString(std::string_view section, std::string_view key, std::string_view defaultValue,
                               size_t maxLength) const
{
    auto found = Find(section, key);
    std::string value = found ? *found : std::string(defaultValue);
    if (found && value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    if (value.size() > maxLength)
        value.resize(maxLength);
    return value;
}

int IniFile::GetInt(std::string_view section, std::string_view key, int defaultValue) const
{
    auto found = Find(section, key);
    if (!found)
        return defaultValue;
    std::string_view text = *found;
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    long long value = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            break;
        value = value * 10 + (c - '0');
        if (value > INT_MAX)
            value = INT_MAX; // saturates instead of overflowing
    }
    return int(negative ? -value : value);
}

} // namespace oriel::platform
