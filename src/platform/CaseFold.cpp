#include "platform/CaseFold.h"

#include <QByteArray>
#include <QString>

#include <algorithm>

namespace oriel::platform {

namespace {

std::string LowerAscii(std::string_view text)
{
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    }
    return out;
}

} // namespace

std::string FoldCase(std::string_view text)
{
    const bool ascii =
        std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii)
        return LowerAscii(text);
    const QString decoded = QString::fromUtf8(text.data(), qsizetype(text.size()));
    // Invalid bytes decode to U+FFFD and would make different names fold
    // alike: such text is taken as bytes. A round trip tells valid text.
    const QByteArray again = decoded.toUtf8();
    if (std::string_view(again.constData(), size_t(again.size())) != text)
        return LowerAscii(text);
    return decoded.toCaseFolded().toStdString();
}

} // namespace oriel::platform
