#include "imaging/ImageThumbnailer.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>

#include <algorithm>

namespace oriel {

namespace {

bool AllowedFormat(const QByteArray& format)
{
    static const char* const kAllowed[] = {"png", "jpeg", "jpg", "gif", "bmp", "webp", "ico"};
    for (const char* allowed : kAllowed) {
        if (format == allowed)
            return true;
    }
    return false;
}

} // namespace

ImageThumbnailer::ImageThumbnailer()
{
    QImageReader::setAllocationLimit(kAllocationLimitMiB);
}

std::optional<std::string> ImageThumbnailer::MakeThumbnailPng(std::string_view bytes, int maxSide)
{
    if (bytes.empty() || maxSide <= 0)
        return std::nullopt;
    const QByteArray data = QByteArray::fromRawData(bytes.data(), qsizetype(bytes.size()));
    QBuffer buffer;
    buffer.setData(data);
    if (!buffer.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray format = QImageReader::imageFormat(&buffer);
    if (!AllowedFormat(format))
        return std::nullopt;
    buffer.seek(0);
    QImageReader reader(&buffer, format);
    reader.setDecideFormatFromContent(false);
    const QSize size = reader.size();
    if (!size.isValid() || size.width() <= 0 || size.height() <= 0 || size.width() > kMaxSide ||
        size.height() > kMaxSide || (long long)size.width() * size.height() > kMaxPixels)
        return std::nullopt;
    if (size.width() > maxSide || size.height() > maxSide)
        reader.setScaledSize(size.scaled(maxSide, maxSide, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
    QImage image = reader.read();
    if (image.isNull())
        return std::nullopt;
    // A reader that ignores the scaled size (some do) is scaled here.
    if (image.width() > maxSide || image.height() > maxSide)
        image = image.scaled(maxSide, maxSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QByteArray png;
    QBuffer out(&png);
    if (!out.open(QIODevice::WriteOnly) || !image.save(&out, "PNG"))
        return std::nullopt;
    return std::string(png.constData(), size_t(png.size()));
}

} // namespace oriel

extern "C" __attribute__((visibility("default"))) oriel::Thumbnailer* OrielCreateImageThumbnailer()
{
    return new oriel::ImageThumbnailer;
}
