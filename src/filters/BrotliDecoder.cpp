#include "filters/BrotliDecoder.h"

#include <brotli/decode.h>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace oriel {

namespace {

bool WriteAll(int fd, const uint8_t* data, size_t length)
{
    while (length > 0) {
        ssize_t n = ::write(fd, data, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        length -= size_t(n);
    }
    return true;
}

} // namespace

int BrotliToFile(const void* buffer, size_t length, const std::string& destination, uint64_t maxOutput,
                 platform::LogSink* log)
{
    std::unique_ptr<BrotliDecoderState, decltype(&BrotliDecoderDestroyInstance)> state(
        BrotliDecoderCreateInstance(nullptr, nullptr, nullptr), &BrotliDecoderDestroyInstance);
    if (!state)
        return -1;
    int fd = ::open(destination.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return -1;
    const uint8_t* next = static_cast<const uint8_t*>(buffer);
    size_t available = length;
    uint8_t out[64 * 1024];
    uint64_t written = 0;
    int result = -1;
    while (true) {
        uint8_t* outNext = out;
        size_t outAvailable = sizeof out;
        BrotliDecoderResult r =
            BrotliDecoderDecompressStream(state.get(), &available, &next, &outAvailable, &outNext, nullptr);
        size_t produced = sizeof out - outAvailable;
        bool capped = false;
        if (written + produced > maxOutput) {
            produced = size_t(maxOutput - written);
            capped = true;
        }
        if (!WriteAll(fd, out, produced))
            break;
        written += produced;
        if (capped) {
            if (log)
                log->Write("     BrotliToFile - output capped at " + std::to_string(maxOutput) + " bytes\r\n");
            result = 0;
            break;
        }
        if (r == BROTLI_DECODER_RESULT_SUCCESS) {
            result = 0;
            break;
        }
        if (r == BROTLI_DECODER_RESULT_NEEDS_MORE_INPUT) {
            // The stream ends early: what was decoded is kept, as for gzip.
            result = written > 0 ? 0 : -1;
            break;
        }
        if (r == BROTLI_DECODER_RESULT_ERROR)
            break;
        // More output: go round again.
    }
    ::close(fd);
    return result;
}

} // namespace oriel
