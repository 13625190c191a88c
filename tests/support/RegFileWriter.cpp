#include "support/RegFileWriter.h"

#include "support/TestEnvironment.h"

#include <QString>

#include <cstdio>

namespace oriel::test {

namespace {

// Unicode code points of Windows-1252's bytes 0x80-0x9F.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// Characters that Windows-1252 lacks become '?', as Windows converts them.
std::string ToCp1252(const std::string& utf8)
{
    std::string out;
    for (char16_t c : QString::fromStdString(utf8).toStdU16String()) {
        if (c < 0x80 || (c >= 0xA0 && c < 0x100)) {
            out += char(c);
            continue;
        }
        char mapped = '?';
        for (int i = 0; i < 32; ++i) {
            if (kCp1252High[i] == c)
                mapped = char(0x80 + i);
        }
        out += mapped;
    }
    return out;
}

std::string ToUtf16Le(const std::string& utf8)
{
    std::string out;
    for (char16_t c : QString::fromStdString(utf8).toStdU16String()) {
        out += char(c & 0xFF);
        out += char(c >> 8);
    }
    return out;
}

} // namespace

RegFileWriter::RegFileWriter(Format format)
    : format_(format)
{
}

std::string RegFileWriter::Escape(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out;
}

void RegFileWriter::section(const std::string& keyPath)
{
    if (inSection_ && keyPath == current_)
        return;
    text_ += "\r\n[" + keyPath + "]\r\n";
    current_ = keyPath;
    inSection_ = true;
}

void RegFileWriter::valueLine(const std::string& name, const std::string& data)
{
    text_ += (name.empty() ? std::string("@") : "\"" + Escape(name) + "\"") + "=" + data + "\r\n";
}

// Hex lists wrap as regedit wraps them: lines of at most 80 characters, each
// but the last ending in ",\", continuations indented by two blanks.
void RegFileWriter::hexLine(const std::string& name, const std::string& prefix, const std::string& data)
{
    std::string line = (name.empty() ? std::string("@") : "\"" + Escape(name) + "\"") + "=" + prefix;
    for (size_t i = 0; i < data.size(); ++i) {
        char item[4];
        std::snprintf(item, sizeof item, "%02x", unsigned(uint8_t(data[i])));
        bool last = i + 1 == data.size();
        if (line.size() + 2 + (last ? 0 : 1) > 78) {
            text_ += line + "\\\r\n";
            line = "  ";
        }
        line += item;
        if (!last)
            line += ',';
    }
    text_ += line + "\r\n";
}

RegFileWriter& RegFileWriter::addKey(const std::string& keyPath)
{
    section(keyPath);
    return *this;
}

RegFileWriter& RegFileWriter::deleteKey(const std::string& keyPath)
{
    text_ += "\r\n[-" + keyPath + "]\r\n";
    inSection_ = false;
    return *this;
}

RegFileWriter& RegFileWriter::setString(const std::string& keyPath, const std::string& name, const std::string& text)
{
    section(keyPath);
    valueLine(name, "\"" + Escape(text) + "\"");
    return *this;
}

RegFileWriter& RegFileWriter::setDword(const std::string& keyPath, const std::string& name, uint32_t value)
{
    char digits[16];
    std::snprintf(digits, sizeof digits, "%08x", unsigned(value));
    section(keyPath);
    valueLine(name, std::string("dword:") + digits);
    return *this;
}

std::string RegFileWriter::StringData(const std::string& text) const
{
    if (format_ == Format::Version5)
        return ToUtf16Le(text) + std::string(2, '\0');
    return ToCp1252(text) + std::string(1, '\0');
}

RegFileWriter& RegFileWriter::setExpandString(const std::string& keyPath, const std::string& name,
                                              const std::string& text)
{
    return setHex(keyPath, name, 2, StringData(text));
}

RegFileWriter& RegFileWriter::setMultiString(const std::string& keyPath, const std::string& name,
                                             const std::vector<std::string>& texts)
{
    std::string data;
    for (const auto& t : texts)
        data += StringData(t);
    data += StringData("");
    return setHex(keyPath, name, 7, data);
}

RegFileWriter& RegFileWriter::setHex(const std::string& keyPath, const std::string& name, uint32_t type,
                                     const std::string& data)
{
    char prefix[32];
    if (type == 3)
        std::snprintf(prefix, sizeof prefix, "hex:");
    else
        std::snprintf(prefix, sizeof prefix, "hex(%x):", unsigned(type));
    section(keyPath);
    hexLine(name, prefix, data);
    return *this;
}

RegFileWriter& RegFileWriter::deleteValue(const std::string& keyPath, const std::string& name)
{
    section(keyPath);
    valueLine(name, "-");
    return *this;
}

RegFileWriter& RegFileWriter::comment(const std::string& text)
{
    text_ += "; " + text + "\r\n";
    return *this;
}

RegFileWriter& RegFileWriter::rawLine(const std::string& line)
{
    text_ += line + "\r\n";
    inSection_ = false;
    return *this;
}

std::string RegFileWriter::bytes() const
{
    if (format_ == Format::Version5)
        return "\xFF\xFE" + ToUtf16Le("Windows Registry Editor Version 5.00\r\n" + text_ + "\r\n");
    return ToCp1252("REGEDIT4\r\n" + text_ + "\r\n");
}

void RegFileWriter::writeTo(const std::string& path) const
{
    WriteFile(path, bytes());
}

} // namespace oriel::test
