// Small pictures of image bodies for the report. The decoding needs Qt's
// image readers (Qt Gui), which the core does not link: the faces hand the
// report job an implementation (imaging/ImageThumbnailer.h).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace oriel {

class Thumbnailer {
public:
    virtual ~Thumbnailer() = default;
    // A PNG at most `maxSide` pixels wide and high of the image in `bytes`;
    // none when the bytes are no image of an allowed format, are damaged,
    // or are larger than the limits (a picture too big to decode safely).
    virtual std::optional<std::string> MakeThumbnailPng(std::string_view bytes, int maxSide) = 0;
};

} // namespace oriel
