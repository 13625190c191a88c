#include "platform/ByteSource.h"

#include "platform/FileSystem.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace oriel::platform {

ByteReader ByteSource::ReadAll(std::string& scratch) const
{
    return Read(0, size_t(std::min<uint64_t>(Size(), SIZE_MAX)), scratch);
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

ByteReader MemoryByteSource::Read(uint64_t offset, size_t length, std::string&) const
{
    if (offset >= view_.size())
        return {};
    return ByteReader(view_).sub(size_t(offset), length);
}

std::unique_ptr<ByteSource> OpenWholeFile(const std::string& path, uint64_t maxBytes)
{
    auto bytes = ReadFile(path, maxBytes);
    if (!bytes)
        return nullptr;
    return std::make_unique<MemoryByteSource>(std::move(*bytes));
}

namespace {

// A range of an open regular file, read with pread: no stream position to
// keep, and only the bytes asked for are read.
class FileRangeSource final : public ByteSource {
public:
    FileRangeSource(int fd, uint64_t offset, uint64_t length, uint64_t size)
        : fd_(fd)
        , offset_(offset)
        , length_(length)
        , size_(size)
    {
    }
    ~FileRangeSource() override { ::close(fd_); }
    FileRangeSource(const FileRangeSource&) = delete;
    FileRangeSource& operator=(const FileRangeSource&) = delete;

    uint64_t Size() const override { return size_; }

    // A read that meets the end of the file keeps what was there.
    ByteReader Read(uint64_t offset, size_t length, std::string& scratch) const override
    {
        scratch.clear();
        if (offset >= length_)
            return {};
        const uint64_t want = std::min<uint64_t>(length, length_ - offset);
        const uint64_t start = offset_ + offset;
        if (start < offset_ || start > uint64_t(INT64_MAX))
            return {};
        scratch.resize(size_t(want));
        size_t got = 0;
        while (got < want && start + got < uint64_t(INT64_MAX)) {
            ssize_t n = ::pread(fd_, scratch.data() + got, size_t(want) - got, off_t(start + got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += size_t(n);
        }
        scratch.resize(got);
        return ByteReader(scratch);
    }

private:
    int fd_;
    uint64_t offset_;
    uint64_t length_;
    uint64_t size_;
};

} // namespace

std::unique_ptr<ByteSource> FileRange::Open() const
{
    // A FIFO must not block the open; it is refused below.
    int fd = ::open(ResolvePath(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    const uint64_t fileSize = uint64_t(st.st_size);
    const uint64_t there = offset < fileSize ? fileSize - offset : 0;
    return std::make_unique<FileRangeSource>(fd, offset, length, std::min(length, there));
}

} // namespace oriel::platform
