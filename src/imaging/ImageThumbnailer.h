// Thumbnails made with Qt's image readers (Qt Gui, no display needed), for
// the report: the one place outside the window that links Qt Gui, so that
// the core stays free of it.
//
// Bodies are hostile: only raster formats are read (PNG, JPEG, GIF, BMP,
// WebP, ICO; never SVG, whose documents can name other files), told by
// their content, not by the claimed type; the declared size is checked
// before any pixel is decoded, the reader is asked for a scaled image, and
// Qt's allocation limit bounds what one image may take.
#pragma once

#include "ops/Thumbnailer.h"

namespace oriel {

class ImageThumbnailer final : public Thumbnailer {
public:
    // Images larger than this on a side, or with more pixels than
    // kMaxPixels, are not decoded.
    static constexpr int kMaxSide = 16384;
    static constexpr long long kMaxPixels = 40LL * 1000 * 1000;
    // What one image's decoding may allocate, in MiB.
    static constexpr int kAllocationLimitMiB = 192;

    ImageThumbnailer();
    std::optional<std::string> MakeThumbnailPng(std::string_view bytes, int maxSide) override;
};

} // namespace oriel

// The module's entry: a new image thumbnailer, owned by the caller.
extern "C" __attribute__((visibility("default"))) oriel::Thumbnailer* OrielCreateImageThumbnailer();
