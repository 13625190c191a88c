#include "ops/TextEscape.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace oriel {

namespace {

constexpr char kHex[] = "0123456789abcdef";

// The length of the valid UTF-8 sequence at `i` (1 to 4), or 0 when the
// byte there does not begin one: no overlong forms, no surrogates, nothing
// above U+10FFFF.
size_t ValidSequence(std::string_view s, size_t i, uint32_t& codePoint)
{
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[i + k]); };
    const unsigned char c = byte(0);
    if (c < 0x80) {
        codePoint = c;
        return 1;
    }
    size_t len;
    uint32_t cp;
    uint32_t min;
    if ((c & 0xE0) == 0xC0) {
        len = 2, cp = c & 0x1F, min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        len = 3, cp = c & 0x0F, min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        len = 4, cp = c & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (i + len > s.size())
        return 0;
    for (size_t k = 1; k < len; ++k) {
        if ((byte(k) & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (byte(k) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    codePoint = cp;
    return len;
}

void AppendUtf8(std::string& out, uint32_t cp)
{
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

void AppendByteEscape(std::string& out, const char* prefix, unsigned char c)
{
    out += prefix;
    out += kHex[c >> 4];
    out += kHex[c & 15];
}

constexpr uint64_t kOnes = 0x0101010101010101ULL;
constexpr uint64_t kHighs = 0x8080808080808080ULL;

// High bit set in each byte of `v` that is zero (exact as to whether any is).
constexpr uint64_t ZeroBytes(uint64_t v)
{
    return (v - kOnes) & ~v & kHighs;
}

// True when one of the 8 bytes of `w` is below 0x20, at or above 0x7F, or
// one of `specials`.
template <size_t N>
bool WordNeedsCare(uint64_t w, const std::array<unsigned char, N>& specials)
{
    uint64_t hit = w & kHighs;                // 0x80 and above
    hit |= (w - kOnes * 0x20) & ~w & kHighs; // below 0x20
    hit |= ZeroBytes(w ^ (kOnes * 0x7F));
    for (unsigned char c : specials)
        hit |= ZeroBytes(w ^ (kOnes * c));
    return hit != 0;
}

template <size_t N>
bool ByteNeedsCare(unsigned char c, const std::array<unsigned char, N>& specials)
{
    if (c < 0x20 || c >= 0x7F)
        return true;
    for (unsigned char special : specials) {
        if (c == special)
            return true;
    }
    return false;
}

// Appends `s` with `specials` (and every byte outside printable ASCII)
// handed to `slow` one character at a time, and the runs between them
// copied as they stand, found eight bytes at a time: most texts of a cache
// are plain ASCII.
template <size_t N, typename Slow>
void AppendEscaped(std::string& out, std::string_view s, const std::array<unsigned char, N>& specials, Slow slow)
{
    size_t i = 0;
    while (i < s.size()) {
        size_t run = i;
        while (run + 8 <= s.size()) {
            uint64_t word;
            std::memcpy(&word, s.data() + run, 8);
            if (WordNeedsCare(word, specials))
                break;
            run += 8;
        }
        while (run < s.size() && !ByteNeedsCare(static_cast<unsigned char>(s[run]), specials))
            ++run;
        out.append(s.data() + i, run - i);
        i = run;
        if (i >= s.size())
            break;
        uint32_t cp = 0;
        if (size_t len = ValidSequence(s, i, cp)) {
            slow(cp, s.substr(i, len));
            i += len;
        } else {
            slow(uint32_t(static_cast<unsigned char>(s[i])), std::string_view());
            ++i;
        }
    }
}

void AppendCharacter(std::string& out, uint32_t cp, std::string_view bytes)
{
    if (bytes.empty())
        AppendUtf8(out, cp);
    else
        out.append(bytes);
}

} // namespace

void AppendJsonString(std::string& out, std::string_view text)
{
    out += '"';
    AppendJsonText(out, text);
    out += '"';
}

void AppendJsonText(std::string& out, std::string_view text)
{
    static constexpr std::array<unsigned char, 2> kSpecials{'"', '\\'};
    AppendEscaped(out, text, kSpecials, [&out](uint32_t cp, std::string_view bytes) {
        if (cp == '"' || cp == '\\') {
            out += '\\';
            out += char(cp);
        } else if (cp < 0x20 || cp == 0x7F || !bytes.size()) {
            // Controls, and bytes that are not UTF-8 as their Latin-1
            // characters, in the escape JSON has for them.
            AppendByteEscape(out, "\\u00", static_cast<unsigned char>(cp));
        } else {
            out.append(bytes);
        }
    });
}

bool LooksLikeFormula(std::string_view text)
{
    return !text.empty() && (text[0] == '=' || text[0] == '+' || text[0] == '-' || text[0] == '@');
}

void AppendCsvField(std::string& out, std::string_view text)
{
    out += '"';
    if (LooksLikeFormula(text))
        out += '\'';
    AppendCsvText(out, text);
    out += '"';
}

void AppendCsvText(std::string& out, std::string_view text)
{
    static constexpr std::array<unsigned char, 1> kSpecials{'"'};
    AppendEscaped(out, text, kSpecials, [&out](uint32_t cp, std::string_view bytes) {
        if (cp == '"')
            out += "\"\"";
        else if (cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp < 0xA0))
            AppendByteEscape(out, "\\x", static_cast<unsigned char>(cp));
        else
            AppendCharacter(out, cp, bytes);
    });
}

void AppendHtmlText(std::string& out, std::string_view text)
{
    static constexpr std::array<unsigned char, 5> kSpecials{'&', '<', '>', '"', '\''};
    AppendEscaped(out, text, kSpecials, [&out](uint32_t cp, std::string_view bytes) {
        switch (cp) {
        case '&': out += "&amp;"; return;
        case '<': out += "&lt;"; return;
        case '>': out += "&gt;"; return;
        case '"': out += "&quot;"; return;
        case '\'': out += "&#39;"; return;
        default: break;
        }
        if ((cp < 0x20 && cp != '\t' && cp != '\n') || cp == 0x7F || (cp >= 0x80 && cp < 0xA0)) {
            AppendByteEscape(out, "\\x", static_cast<unsigned char>(cp));
        } else if (cp == 0xFFFE || cp == 0xFFFF) {
            for (char c : bytes)
                AppendByteEscape(out, "\\x", static_cast<unsigned char>(c));
        } else {
            AppendCharacter(out, cp, bytes);
        }
    });
}

std::string HtmlText(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    AppendHtmlText(out, text);
    return out;
}

} // namespace oriel
