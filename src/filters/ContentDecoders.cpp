#include "filters/ContentDecoders.h"

#include "platform/ContainedPath.h"

#include "platform/FileSystem.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <vector>

namespace oriel {

namespace {

constexpr size_t kWindowSize = 65536;
// Input read from a source at a time.
constexpr size_t kInputChunk = size_t(256) << 10;

// gzip member header flags.
constexpr uint8_t kFlagHeaderCrc = 0x02;
constexpr uint8_t kFlagExtra = 0x04;
constexpr uint8_t kFlagName = 0x08;
constexpr uint8_t kFlagComment = 0x10;

// The decoded output: created without following a symbolic link, and cut
// at the cap.
class OutputFile {
public:
    OutputFile(std::string path, uint64_t cap, platform::LogSink* log)
        : path_(std::move(path))
        , cap_(cap)
        , log_(log)
    {
    }
    ~OutputFile() { Close(); }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    bool Create()
    {
        fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        return fd_ >= 0;
    }
    // False once the cap is reached or a write fails: the caller stops.
    bool Write(const void* data, size_t length)
    {
        if (failed_ || capped_)
            return false;
        if (uint64_t(length) > cap_ - written_) {
            length = size_t(cap_ - written_);
            capped_ = true;
            platform::WriteLog(log_, "     - decoded output cut at " + std::to_string(cap_) + " bytes: " + path_);
        }
        const char* p = static_cast<const char*>(data);
        while (length > 0) {
            ssize_t n = ::write(fd_, p, length);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                failed_ = true;
                return false;
            }
            p += n;
            length -= size_t(n);
            written_ += uint64_t(n);
        }
        return !capped_;
    }
    void Close()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    uint64_t Written() const { return written_; }
    bool Failed() const { return failed_; }
    bool Capped() const { return capped_; }
    void MarkCapped() { capped_ = true; }
    // Tells `outcome` (when given) what was written.
    void Report(DecodeOutcome* outcome) const
    {
        if (outcome) {
            outcome->cut = capped_;
            outcome->written = written_;
        }
    }

private:
    std::string path_;
    uint64_t cap_;
    platform::LogSink* log_;
    uint64_t written_ = 0;
    int fd_ = -1;
    bool capped_ = false;
    bool failed_ = false;
};

} // namespace

namespace {

// Inflates the bytes of `source` from `offset` on.
int InflateFrom(const platform::ByteSource& source, uint64_t offset, const std::string& destination, bool zlibWrapper,
                uint64_t maxOutput, platform::LogSink* log, DecodeOutcome* outcome)
{
    OutputFile out(destination, maxOutput, log);
    if (!out.Create())
        return -1;
    struct Reported {
        const OutputFile& out;
        DecodeOutcome* outcome;
        ~Reported() { out.Report(outcome); }
    } reported{out, outcome};
    std::vector<unsigned char> window(kWindowSize);

    z_stream strm{};
    int rc = zlibWrapper ? inflateInit(&strm) : inflateInit2(&strm, -MAX_WBITS);
    if (rc != Z_OK)
        return -1;
    // Frees the stream on every way out.
    std::unique_ptr<z_stream, int (*)(z_stream*)> guard(&strm, &inflateEnd);

    const uint64_t end = source.Size();
    uint64_t next = offset;
    // The chunk being inflated stays valid until the next Read, which comes
    // only once zlib has taken all of it.
    auto feed = [&] {
        if (strm.avail_in == 0 && next < end) {
            const ByteReader chunk = source.Read(next, size_t(std::min<uint64_t>(end - next, kInputChunk)));
            if (chunk.size() == 0) {
                next = end; // the file shrank under us: take it as ended
                return;
            }
            strm.next_in = const_cast<unsigned char*>(reinterpret_cast<const unsigned char*>(chunk.bytes(0, chunk.size())->data()));
            strm.avail_in = uInt(chunk.size());
            next += chunk.size();
        }
    };

    bool retried = false;
    for (;;) {
        feed();
        strm.next_out = window.data();
        strm.avail_out = uInt(window.size());
        rc = inflate(&strm, Z_NO_FLUSH);
        size_t produced = window.size() - strm.avail_out;
        if (produced > 0 && !out.Write(window.data(), produced))
            return out.Failed() ? -1 : 0; // cut at the cap: keep what was decoded
        if (rc == Z_STREAM_END)
            return 0;
        if (rc == Z_OK)
            continue;
        if (rc == Z_DATA_ERROR) {
            // A raw deflate stream sent under the name deflate: put a zlib
            // header in front and start again from the first byte. Only
            // before any output, so that nothing is decoded twice.
            if (retried || !zlibWrapper || out.Written() > 0)
                return -1;
            retried = true;
            inflateReset(&strm);
            unsigned char header[2] = {0x78, 0x01};
            strm.next_in = header;
            strm.avail_in = 2;
            strm.next_out = window.data();
            strm.avail_out = uInt(window.size());
            if (inflate(&strm, Z_NO_FLUSH) != Z_OK)
                return -1;
            strm.avail_in = 0;
            next = offset;
            continue;
        }
        // Z_BUF_ERROR (the input ended early), Z_NEED_DICT and the like:
        // keep what was written.
        return 0;
    }
}

std::unique_ptr<platform::ByteSource> OpenPrefix(const std::string& path, int64_t length)
{
    return platform::FileRange{path, 0, length > 0 ? uint64_t(length) : platform::FileRange::kToEnd}.Open();
}

} // namespace

int InflateSourceToFile(const platform::ByteSource& source, const std::string& destination, bool zlibWrapper,
                        uint64_t maxOutput, platform::LogSink* log, DecodeOutcome* outcome)
{
    return InflateFrom(source, 0, destination, zlibWrapper, maxOutput, log, outcome);
}

int InflateToFile(const void* buffer, size_t length, const std::string& destination, bool zlibWrapper,
                  uint64_t maxOutput, platform::LogSink* log, DecodeOutcome* outcome)
{
    const std::string_view bytes = buffer ? std::string_view(static_cast<const char*>(buffer), length) : std::string_view();
    return InflateSourceToFile(*platform::MemoryByteSource::View(bytes), destination, zlibWrapper, maxOutput, log,
                               outcome);
}

int InflateFile(const std::string& source, int64_t length, const std::string& destination, bool zlibWrapper,
                uint64_t maxOutput, platform::LogSink* log, DecodeOutcome* outcome)
{
    auto input = OpenPrefix(source, length);
    return input ? InflateSourceToFile(*input, destination, zlibWrapper, maxOutput, log, outcome) : -1;
}

std::optional<size_t> GzipHeaderLength(const ByteReader& bytes)
{
    if (bytes.u8(0) != 0x1F || bytes.u8(1) != 0x8B)
        return std::nullopt;
    auto flags = bytes.u8(3);
    if (!flags || !bytes.has(0, 10))
        return std::nullopt;
    size_t pos = 10;
    if (*flags & kFlagExtra) {
        auto extraLength = bytes.u16le(pos);
        if (!extraLength || !bytes.has(pos + 2, *extraLength))
            return std::nullopt;
        pos += 2 + *extraLength;
    }
    for (uint8_t textFlag : {kFlagName, kFlagComment}) {
        if (*flags & textFlag) {
            auto text = bytes.cstring(pos, bytes.size());
            // A text without its terminating zero runs past the header.
            if (!text || pos + text->size() >= bytes.size())
                return std::nullopt;
            pos += text->size() + 1;
        }
    }
    if (*flags & kFlagHeaderCrc) {
        if (!bytes.has(pos, 2))
            return std::nullopt;
        pos += 2;
    }
    return pos;
}

int GunzipSource(const platform::ByteSource& source, const std::string& destination, uint64_t maxOutput,
                 platform::LogSink* log, DecodeOutcome* outcome)
{
    auto headerLength = GzipHeaderLength(source.Read(0, kMaxGzipHeaderBytes));
    if (!headerLength)
        return -1;
    return InflateFrom(source, *headerLength, destination, false, maxOutput, log, outcome);
}

int GunzipBuffer(const void* buffer, size_t length, const std::string& destination, uint64_t maxOutput,
                 platform::LogSink* log, DecodeOutcome* outcome)
{
    const std::string_view bytes = buffer ? std::string_view(static_cast<const char*>(buffer), length) : std::string_view();
    return GunzipSource(*platform::MemoryByteSource::View(bytes), destination, maxOutput, log, outcome);
}

int GunzipFile(const std::string& source, int64_t length, const std::string& destination, uint64_t maxOutput,
               platform::LogSink* log, DecodeOutcome* outcome)
{
    auto input = OpenPrefix(source, length);
    return input ? GunzipSource(*input, destination, maxOutput, log, outcome) : -1;
}

int GzReadFile(const std::string& source, int64_t length, const std::string& destination, uint64_t maxOutput,
               platform::LogSink* log, DecodeOutcome* outcome)
{
    // Opened as every examined file is (never through a link that leads
    // out of the examined tree); the gz reader takes the descriptor.
    platform::UniqueFd fd = platform::OpenContained(source, platform::OpenAs::Read);
    if (!fd)
        return -1;
    gzFile gz = gzdopen(fd.Get(), "rb");
    if (!gz)
        return -1;
    fd.Release();
    std::unique_ptr<gzFile_s, int (*)(gzFile)> guard(gz, &gzclose);
    OutputFile out(destination, maxOutput, log);
    if (!out.Create())
        return -1;
    struct Reported {
        const OutputFile& out;
        DecodeOutcome* outcome;
        ~Reported() { out.Report(outcome); }
    } reported{out, outcome};
    gzbuffer(gz, unsigned(kWindowSize));
    // Data that is not gzip is copied as it is, up to the given length;
    // gzip data is decoded whole (its length is that of the encoded body).
    uint64_t limit = maxOutput;
    if (gzdirect(gz) && length > 0)
        limit = std::min<uint64_t>(limit, uint64_t(length));
    std::vector<char> chunk(kWindowSize);
    uint64_t total = 0;
    while (total < limit) {
        unsigned want = unsigned(std::min<uint64_t>(chunk.size(), limit - total));
        int n = gzread(gz, chunk.data(), want);
        if (n < 0)
            return -1; // corrupt: what was decoded before stays
        if (n == 0)
            break;
        total += uint64_t(n);
        if (!out.Write(chunk.data(), size_t(n)))
            return out.Failed() ? -1 : 0;
    }
    // Output that stops at the cap is cut only when there is more.
    char more = 0;
    if (total >= maxOutput && gzread(gz, &more, 1) > 0) {
        out.MarkCapped();
        platform::WriteLog(log, "     - decoded output cut at " + std::to_string(maxOutput) + " bytes: " + destination);
    }
    return 0;
}

} // namespace oriel
