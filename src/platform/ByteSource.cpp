#include "platform/ByteSource.h"

#include "platform/ContainedPath.h"
#include "platform/FileSystem.h"
#include "platform/LargeBuffer.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace oriel::platform {

ByteReader ByteSource::ReadAll() const
{
    return Read(0, size_t(std::min<uint64_t>(Size(), SIZE_MAX)));
}

MemoryByteSource::MemoryByteSource(std::string bytes)
    : owned_(std::move(bytes))
    , view_(owned_)
{
}

MemoryByteSource::MemoryByteSource(ViewTag, std::string_view bytes)
    : view_(bytes)
{
}

std::unique_ptr<MemoryByteSource> MemoryByteSource::View(std::string_view bytes)
{
    return std::unique_ptr<MemoryByteSource>(new MemoryByteSource(ViewTag{}, bytes));
}

std::unique_ptr<MemoryByteSource> MemoryByteSource::View(std::span<const uint8_t> bytes)
{
    return View(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

ByteReader MemoryByteSource::Read(uint64_t offset, size_t length) const
{
    if (offset >= view_.size())
        return {};
    return ByteReader(view_).sub(size_t(offset), length);
}

std::unique_ptr<ByteSource> OpenWholeFile(const std::string& path, uint64_t maxBytes, std::string* problem)
{
    auto bytes = ReadFile(path, maxBytes, problem);
    if (!bytes)
        return nullptr;
    return std::make_unique<MemoryByteSource>(std::move(*bytes));
}

namespace {

// A range of an open regular file, read with pread: no stream position to
// keep, and no more bytes read than asked for (or than the read-ahead).
class FileRangeSource final : public ByteSource {
public:
    FileRangeSource(int fd, uint64_t offset, uint64_t length, uint64_t size, size_t readAhead)
        : fd_(fd)
        , offset_(offset)
        , length_(length)
        , size_(size)
        , readAhead_(readAhead)
    {
    }
    ~FileRangeSource() override { ::close(fd_); }
    FileRangeSource(const FileRangeSource&) = delete;
    FileRangeSource& operator=(const FileRangeSource&) = delete;

    uint64_t Size() const override { return size_; }

    std::unique_ptr<ByteSource> Twin() const override
    {
        const int fd = ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
        if (fd < 0)
            return nullptr;
        return std::make_unique<FileRangeSource>(fd, offset_, length_, size_, readAhead_);
    }

    // A read that meets the end of the file keeps what was there.
    ByteReader Read(uint64_t offset, size_t length) const override
    {
        if (offset >= length_)
            return {};
        const size_t want = size_t(std::min<uint64_t>(length, length_ - offset));
        // Served from the buffer when it holds the bytes asked for.
        if (bufferValid_ && offset >= bufferOffset_ && offset - bufferOffset_ <= bufferSize_ &&
            want <= bufferSize_ - size_t(offset - bufferOffset_))
            return Buffer().sub(size_t(offset - bufferOffset_), want);
        const size_t chunk = size_t(std::min<uint64_t>(std::max(want, readAhead_), length_ - offset));
        Fill(offset, chunk);
        return Buffer().sub(0, want);
    }

private:
    void Fill(uint64_t offset, size_t length) const
    {
        bufferValid_ = false;
        bufferSize_ = 0;
        const uint64_t start = offset_ + offset;
        if (start < offset_ || start > uint64_t(INT64_MAX))
            return;
        // Not cleared first: only the bytes the file gave are ever shown.
        if (storage_.size() < length) {
            storage_ = LargeBuffer();
            storage_ = LargeBuffer(length);
        }
        size_t got = 0;
        while (got < length && start + got < uint64_t(INT64_MAX)) {
            ssize_t n = ::pread(fd_, storage_.data() + got, length - got, off_t(start + got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += size_t(n);
        }
        bufferSize_ = got;
        bufferOffset_ = offset;
        bufferValid_ = true;
    }

    int fd_;
    uint64_t offset_;
    uint64_t length_;
    uint64_t size_;
    size_t readAhead_;
    ByteReader Buffer() const { return ByteReader(storage_.data(), bufferSize_); }

    mutable LargeBuffer storage_;
    mutable size_t bufferSize_ = 0;
    mutable uint64_t bufferOffset_ = 0;
    mutable bool bufferValid_ = false;
};

} // namespace

std::unique_ptr<ByteSource> FileRange::Open(size_t readAhead, std::string* problem) const
{
    // Plain files only (a FIFO would block the reader), opened inside
    // their container.
    UniqueFd owned = OpenContained(path, OpenAs::Read, problem);
    if (!owned)
        return nullptr;
    struct stat st {};
    if (::fstat(owned.Get(), &st) != 0)
        return nullptr;
    const int fd = owned.Release();
    const uint64_t fileSize = uint64_t(st.st_size);
    const uint64_t there = offset < fileSize ? fileSize - offset : 0;
    return std::make_unique<FileRangeSource>(fd, offset, length, std::min(length, there), readAhead);
}

} // namespace oriel::platform
