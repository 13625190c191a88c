#include "platform/Text.h"

#include <QString>

#include <cstdint>

namespace oriel::platform {

std::string Utf16LeToUtf8(std::string_view bytes)
{
    std::u16string units(bytes.size() / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i)
        units[i] = char16_t(uint8_t(bytes[2 * i]) | (uint8_t(bytes[2 * i + 1]) << 8));
    return QString::fromUtf16(units.data(), qsizetype(units.size())).toStdString();
}

std::string_view Utf16LeUpToNul(std::string_view bytes)
{
    size_t end = 0;
    while (end + 1 < bytes.size() && (bytes[end] || bytes[end + 1]))
        end += 2;
    return bytes.substr(0, end);
}

} // namespace oriel::platform
