// Where a decoder's input bytes come from: a whole file read once, bytes
// already in memory, or a byte range of a file read when needed (a body
// kept inside a block file or an index). Decoders take their bytes from a
// source and parse them with ByteReader; none of them reads a stream.
#pragma once

#include "platform/ByteReader.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace oriel::platform {

class ByteSource {
public:
    virtual ~ByteSource() = default;

    // The bytes the source holds (for a file: as many as it held when opened).
    virtual uint64_t Size() const = 0;

    // The bytes [offset, offset + length), cut at the end of the source. A
    // source that holds its bytes in memory gives a view of them that lives
    // as long as the source; one that reads them gives a view of its own
    // buffer that lives until its next Read. A source is read by one thread
    // at a time.
    virtual ByteReader Read(uint64_t offset, size_t length) const = 0;

    // Every byte of the source (see Read).
    ByteReader ReadAll() const;

    // A second source over the same bytes, which another thread may read
    // while this one is read, and which lives no longer than this one. For
    // a file: the same open file with a buffer of its own, so that its
    // bytes are this source's (a path opened again might name another
    // file by then). Null where no such source can be made.
    virtual std::unique_ptr<ByteSource> Twin() const { return nullptr; }
};

// Bytes in memory: either a view of bytes that the caller keeps alive (a
// span), or a buffer the source owns.
class MemoryByteSource final : public ByteSource {
public:
    explicit MemoryByteSource(std::string bytes);
    // A view; the bytes must outlive the source.
    static std::unique_ptr<MemoryByteSource> View(std::span<const uint8_t> bytes);
    static std::unique_ptr<MemoryByteSource> View(std::string_view bytes);

    uint64_t Size() const override { return view_.size(); }
    ByteReader Read(uint64_t offset, size_t length) const override;
    std::unique_ptr<ByteSource> Twin() const override { return View(view_); }
    // All bytes, without a copy.
    std::string_view Bytes() const { return view_; }

private:
    struct ViewTag {};
    MemoryByteSource(ViewTag, std::string_view bytes);

    std::string owned_;
    std::string_view view_;
};

// A whole regular file read in one go (large pages under a big buffer, as
// ReadFile does), at most `maxBytes` of it. Null when the path (found
// without regard to case) names no regular file or it cannot be read: a
// FIFO, a device or a folder is never read, nor a link that leads out of
// its container (platform/ContainedPath.h); `problem` then says why.
std::unique_ptr<ByteSource> OpenWholeFile(const std::string& path, uint64_t maxBytes = UINT64_MAX,
                                          std::string* problem = nullptr);

// A byte range of a file. A value: nothing is opened until Open, so that an
// item can keep where its body lies without holding the file open.
struct FileRange {
    static constexpr uint64_t kToEnd = UINT64_MAX;

    std::string path;
    uint64_t offset = 0;
    uint64_t length = kToEnd;

    // A source over the range, its offset 0 at the range's first byte, read
    // at offsets when asked. The range holds only the bytes the file has:
    // none past its end. Null when the path (found without regard to case)
    // names no regular file or it cannot be opened.
    //
    // Without `readAhead` each Read reads just the bytes asked for (bodies
    // and records picked out of a block file). With it, each read from the
    // file takes at least that many bytes and later Reads inside them come
    // from memory: for a walk from the start of an index to its end, which
    // then keeps a small buffer hot instead of the whole file.
    // Opened inside its container, as ReadFile opens; `problem` says why
    // there is nothing.
    std::unique_ptr<ByteSource> Open(size_t readAhead = 0, std::string* problem = nullptr) const;
};

} // namespace oriel::platform
