// Bounds-checked access to bytes read from an untrusted file. Every read
// names its offset and fails cleanly (an empty optional) instead of reading
// past the end; decoders never do raw pointer arithmetic on input.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

namespace oriel {

class ByteReader {
public:
    ByteReader() = default;
    ByteReader(const void* data, size_t size)
        : data_(static_cast<const uint8_t*>(data))
        , size_(data ? size : 0)
    {
    }
    explicit ByteReader(std::string_view bytes)
        : ByteReader(bytes.data(), bytes.size())
    {
    }

    size_t size() const { return size_; }
    bool has(size_t offset, size_t length) const { return offset <= size_ && length <= size_ - offset; }

    std::optional<uint8_t> u8(size_t off) const
    {
        if (!has(off, 1))
            return std::nullopt;
        return data_[off];
    }
    std::optional<uint16_t> u16le(size_t off) const
    {
        if (!has(off, 2))
            return std::nullopt;
        return uint16_t(data_[off] | (data_[off + 1] << 8));
    }
    std::optional<uint16_t> u16be(size_t off) const
    {
        if (!has(off, 2))
            return std::nullopt;
        return uint16_t((data_[off] << 8) | data_[off + 1]);
    }
    std::optional<uint32_t> u32le(size_t off) const
    {
        if (!has(off, 4))
            return std::nullopt;
        return uint32_t(data_[off]) | uint32_t(data_[off + 1]) << 8 | uint32_t(data_[off + 2]) << 16 |
               uint32_t(data_[off + 3]) << 24;
    }
    std::optional<uint32_t> u32be(size_t off) const
    {
        if (!has(off, 4))
            return std::nullopt;
        return uint32_t(data_[off]) << 24 | uint32_t(data_[off + 1]) << 16 | uint32_t(data_[off + 2]) << 8 |
               uint32_t(data_[off + 3]);
    }
    std::optional<uint64_t> u64le(size_t off) const
    {
        auto lo = u32le(off), hi = u32le(off + 4);
        if (!lo || !hi || off + 4 < off)
            return std::nullopt;
        return uint64_t(*hi) << 32 | *lo;
    }
    std::optional<uint64_t> u64be(size_t off) const
    {
        auto hi = u32be(off), lo = u32be(off + 4);
        if (!lo || !hi || off + 4 < off)
            return std::nullopt;
        return uint64_t(*hi) << 32 | *lo;
    }

    // The bytes [off, off + length); empty optional when they are not all there.
    std::optional<std::string_view> bytes(size_t off, size_t length) const
    {
        if (!has(off, length))
            return std::nullopt;
        return std::string_view(reinterpret_cast<const char*>(data_ + off), length);
    }

    // The NUL-terminated text at `off`, searched no further than `limit`
    // (an absolute offset, clamped to the buffer). Without a NUL before the
    // limit the text runs to the limit.
    std::optional<std::string_view> cstring(size_t off, size_t limit) const
    {
        if (limit > size_)
            limit = size_;
        if (off >= limit)
            return std::nullopt;
        const void* nul = std::memchr(data_ + off, 0, limit - off);
        size_t end = nul ? size_t(static_cast<const uint8_t*>(nul) - data_) : limit;
        return std::string_view(reinterpret_cast<const char*>(data_ + off), end - off);
    }

    // A sub-reader over [off, off + length), clamped to the buffer.
    ByteReader sub(size_t off, size_t length) const
    {
        if (off > size_)
            return {};
        if (length > size_ - off)
            length = size_ - off;
        return ByteReader(data_ + off, length);
    }

private:
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

} // namespace oriel
