#include "support/DemoImages.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace oriel::test {

namespace {

void PutBigEndian32(std::string& out, uint32_t v)
{
    for (int i = 3; i >= 0; --i)
        out += char((v >> (8 * i)) & 0xFF);
}

std::string PngChunk(const char* type, const std::string& data)
{
    std::string chunk;
    PutBigEndian32(chunk, uint32_t(data.size()));
    std::string body = std::string(type, 4) + data;
    chunk += body;
    PutBigEndian32(chunk, uint32_t(crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()))));
    return chunk;
}

struct Rgb {
    uint8_t r, g, b;
};

// Colour of a pixel: two hues from the seed, mixed along the diagonal,
// with light rings around the centre.
Rgb PatternColour(uint32_t x, uint32_t y, uint32_t width, uint32_t height, uint32_t seed)
{
    const double u = width > 1 ? double(x) / (width - 1) : 0.0;
    const double v = height > 1 ? double(y) / (height - 1) : 0.0;
    const double mix = (u + v) / 2;
    const uint8_t r0 = uint8_t(seed), g0 = uint8_t(seed >> 8), b0 = uint8_t(seed >> 16);
    const uint8_t r1 = uint8_t(255 - r0), g1 = uint8_t(255 - b0), b1 = uint8_t(255 - g0);
    const double dx = u - 0.5, dy = v - 0.5;
    const double ring = 0.5 + 0.5 * std::cos(std::sqrt(dx * dx + dy * dy) * 40.0);
    auto channel = [&](uint8_t a, uint8_t b) {
        return uint8_t(std::clamp((a + (b - a) * mix) * (0.75 + 0.25 * ring), 0.0, 255.0));
    };
    return {channel(r0, r1), channel(g0, g1), channel(b0, b1)};
}

} // namespace

std::string MakePatternPng(uint32_t width, uint32_t height, uint32_t seed)
{
    width = std::max(width, 1u);
    height = std::max(height, 1u);
    std::string ihdr;
    PutBigEndian32(ihdr, width);
    PutBigEndian32(ihdr, height);
    ihdr += std::string("\x08\x06\x00\x00\x00", 5); // 8 bits, RGBA
    std::string raw;
    raw.reserve(size_t(height) * (1 + 4 * size_t(width)));
    for (uint32_t y = 0; y < height; ++y) {
        raw += '\0'; // no filter
        for (uint32_t x = 0; x < width; ++x) {
            Rgb c = PatternColour(x, y, width, height, seed);
            const double dx = (x + 0.5) / width - 0.5, dy = (y + 0.5) / height - 0.5;
            const double edge = std::sqrt(dx * dx + dy * dy) / 0.7071;
            const uint8_t alpha = uint8_t(std::clamp(255.0 * (1.4 - edge * 1.5), 0.0, 255.0));
            raw += {char(c.r), char(c.g), char(c.b), char(alpha)};
        }
    }
    uLongf length = compressBound(uLong(raw.size()));
    std::string packed(length, '\0');
    compress(reinterpret_cast<Bytef*>(packed.data()), &length, reinterpret_cast<const Bytef*>(raw.data()),
             uLong(raw.size()));
    packed.resize(length);
    return std::string("\x89PNG\r\n\x1a\n", 8) + PngChunk("IHDR", ihdr) + PngChunk("IDAT", packed) +
           PngChunk("IEND", "");
}

std::string MakePatternGif(uint16_t width, uint16_t height, uint32_t seed)
{
    width = std::max<uint16_t>(width, 1);
    height = std::max<uint16_t>(height, 1);
    std::string gif = "GIF89a";
    auto put16 = [&gif](uint16_t v) { gif += {char(v & 0xFF), char(v >> 8)}; };
    put16(width);
    put16(height);
    gif += {char(0xF7), '\0', '\0'}; // global table of 256 colours
    // The palette runs along the pattern's colours from corner to corner.
    for (int i = 0; i < 256; ++i) {
        uint32_t along = uint32_t(i);
        Rgb c = PatternColour(along, along, 256, 256, seed);
        gif += {char(c.r), char(c.g), char(c.b)};
    }
    gif += ',';
    put16(0);
    put16(0);
    put16(width);
    put16(height);
    gif += '\0';

    // LZW with literals only: 9-bit codes, and a clear code before the
    // table would grow to 10 bits (every 254 literals).
    constexpr uint16_t kClear = 256, kEnd = 257;
    std::string codes;
    uint32_t bits = 0;
    int bitCount = 0;
    auto emit = [&](uint16_t code) {
        bits |= uint32_t(code) << bitCount;
        bitCount += 9;
        while (bitCount >= 8) {
            codes += char(bits & 0xFF);
            bits >>= 8;
            bitCount -= 8;
        }
    };
    int sinceClear = 0;
    emit(kClear);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            if (sinceClear == 254) {
                emit(kClear);
                sinceClear = 0;
            }
            // Index by the pattern's position, with rings as lighter steps.
            const double u = double(x) / width, v = double(y) / height;
            const double dx = u - 0.5, dy = v - 0.5;
            const int ring = int(std::sqrt(dx * dx + dy * dy) * 10) % 2;
            emit(uint16_t(std::clamp(int((u + v) * 127.5) + ring * 24, 0, 255)));
            ++sinceClear;
        }
    }
    emit(kEnd);
    if (bitCount > 0)
        codes += char(bits & 0xFF);

    gif += '\x08'; // minimum code size
    for (size_t pos = 0; pos < codes.size(); pos += 255) {
        size_t n = std::min<size_t>(255, codes.size() - pos);
        gif += char(n);
        gif.append(codes, pos, n);
    }
    gif += '\0';
    gif += ';';
    return gif;
}

namespace {

// Writes JPEG entropy-coded bits, with a 0 byte after every 0xFF.
class BitWriter {
public:
    explicit BitWriter(std::string& out)
        : out_(out)
    {
    }
    void Put(uint32_t code, int length)
    {
        for (int i = length - 1; i >= 0; --i) {
            byte_ = uint8_t(byte_ << 1 | ((code >> i) & 1));
            if (++count_ == 8)
                Flush();
        }
    }
    // Pads the last byte with 1 bits.
    void Finish()
    {
        while (count_ != 0)
            Put(1, 1);
    }

private:
    void Flush()
    {
        out_ += char(byte_);
        if (byte_ == 0xFF)
            out_ += '\0';
        byte_ = 0;
        count_ = 0;
    }
    std::string& out_;
    uint8_t byte_ = 0;
    int count_ = 0;
};

void PutMarkerSegment(std::string& out, uint8_t marker, const std::string& body)
{
    out += {char(0xFF), char(marker), char((body.size() + 2) >> 8), char((body.size() + 2) & 0xFF)};
    out += body;
}

// The usual luminance DC table: code lengths of the categories 0 to 11.
constexpr std::array<uint8_t, 16> kDcBits{0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};

struct HuffmanCode {
    uint16_t code = 0;
    int length = 0;
};

// Canonical codes of the symbols 0, 1, 2, ... from the count of codes of
// each length.
std::vector<HuffmanCode> CanonicalCodes(const std::array<uint8_t, 16>& bits)
{
    std::vector<HuffmanCode> codes;
    uint16_t code = 0;
    for (int length = 1; length <= 16; ++length) {
        for (int i = 0; i < bits[size_t(length - 1)]; ++i)
            codes.push_back({code++, length});
        code = uint16_t(code << 1);
    }
    return codes;
}

} // namespace

uint32_t MosaicTileRgb(uint16_t bx, uint16_t by, uint16_t blocksWide, uint16_t blocksHigh, uint32_t seed)
{
    Rgb c = PatternColour(bx, by, blocksWide, blocksHigh, seed);
    return uint32_t(c.r) << 16 | uint32_t(c.g) << 8 | c.b;
}

std::string MakeMosaicJpeg(uint16_t blocksWide, uint16_t blocksHigh, uint32_t seed)
{
    blocksWide = std::clamp<uint16_t>(blocksWide, 1, 512);
    blocksHigh = std::clamp<uint16_t>(blocksHigh, 1, 512);
    const uint16_t width = uint16_t(blocksWide * 8), height = uint16_t(blocksHigh * 8);
    std::string jpeg("\xFF\xD8", 2);
    PutMarkerSegment(jpeg, 0xE0, std::string("JFIF\0\x01\x01\0\0\x01\0\x01\0\0", 14));
    // One quantisation table of ones: the coefficients are stored exactly.
    PutMarkerSegment(jpeg, 0xDB, std::string(1, '\0') + std::string(64, '\x01'));
    std::string frame{'\x08', char(height >> 8), char(height & 0xFF), char(width >> 8), char(width & 0xFF), '\x03'};
    for (char id : {'\x01', '\x02', '\x03'})
        frame += {id, '\x11', '\0'};
    PutMarkerSegment(jpeg, 0xC0, frame);
    // DC table 0: categories 0 to 11. AC table 0: end-of-block alone.
    std::string dcTable(1, '\0');
    for (uint8_t n : kDcBits)
        dcTable += char(n);
    for (int category = 0; category <= 11; ++category)
        dcTable += char(category);
    PutMarkerSegment(jpeg, 0xC4, dcTable);
    std::string acTable(1, '\x10');
    acTable += '\x01';
    acTable += std::string(15, '\0');
    acTable += '\0';
    PutMarkerSegment(jpeg, 0xC4, acTable);
    PutMarkerSegment(jpeg, 0xDA, std::string("\x03\x01\x00\x02\x00\x03\x00\x00\x3F\x00", 10));

    const std::vector<HuffmanCode> dcCodes = CanonicalCodes(kDcBits);
    BitWriter bits(jpeg);
    int previous[3] = {0, 0, 0};
    for (uint16_t by = 0; by < blocksHigh; ++by) {
        for (uint16_t bx = 0; bx < blocksWide; ++bx) {
            const uint32_t rgb = MosaicTileRgb(bx, by, blocksWide, blocksHigh, seed);
            const double r = rgb >> 16, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
            const double ycc[3] = {0.299 * r + 0.587 * g + 0.114 * b, -0.168736 * r - 0.331264 * g + 0.5 * b + 128,
                                   0.5 * r - 0.418688 * g - 0.081312 * b + 128};
            for (int c = 0; c < 3; ++c) {
                // A flat block's only coefficient: 8 times its level-shifted
                // sample value.
                const int dc = int(std::lround(std::clamp(ycc[c], 0.0, 255.0))) * 8 - 1024;
                const int diff = dc - previous[c];
                previous[c] = dc;
                int category = 0;
                for (int magnitude = std::abs(diff); magnitude; magnitude >>= 1)
                    ++category;
                bits.Put(dcCodes[size_t(category)].code, dcCodes[size_t(category)].length);
                if (category > 0)
                    bits.Put(uint32_t(diff >= 0 ? diff : diff + (1 << category) - 1), category);
                bits.Put(0, 1); // end of block: the AC table's only code
            }
        }
    }
    bits.Finish();
    jpeg += std::string("\xFF\xD9", 2);
    return jpeg;
}

} // namespace oriel::test
