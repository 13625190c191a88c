// Small text helpers shared by the registry readers, the option store and
// the header parser: ASCII case-insensitive comparison (for keywords such
// as "HKLM", "dword:" or "Content-Type", which are ASCII by definition) and
// UTF-16LE text as stored in hives and version 5 .reg files.
#pragma once

#include <string>
#include <string_view>

namespace oriel::platform {

// Equal, or `text` begins with `prefix`, with ASCII letters compared
// without regard to case; other bytes compare as they are.
// Inline: the header parser asks for every line of every item's headers.
inline bool StartsWithNoCase(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (lower(text[i]) != lower(prefix[i]))
            return false;
    }
    return true;
}
inline bool EqualsNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && StartsWithNoCase(a, b);
}

// Every whole UTF-16LE unit of `bytes` as UTF-8 (an odd last byte is
// dropped).
std::string Utf16LeToUtf8(std::string_view bytes);
// The bytes before the first NUL unit (two zero bytes at an even offset).
std::string_view Utf16LeUpToNul(std::string_view bytes);

} // namespace oriel::platform
