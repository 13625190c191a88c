// Small pictures of image bodies for the report. The decoding needs Qt's
// image readers (Qt Gui), which the core does not link: the faces hand the
// report job an implementation (imaging/ImageThumbnailer.h). The window
// links it; oriel-cli loads it as a module only when it makes a report, so
// that its other commands start without Qt Gui and the libraries it pulls
// in (half of the start-up time and memory of a listing).
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

// The module that holds the image thumbnailer, and the C function in it
// that makes one (`Thumbnailer* OrielCreateImageThumbnailer()`, the caller
// owns the result).
inline constexpr const char* kThumbnailerModuleName = "oriel-thumbnailer.so";
inline constexpr const char* kThumbnailerFactoryName = "OrielCreateImageThumbnailer";

} // namespace oriel
