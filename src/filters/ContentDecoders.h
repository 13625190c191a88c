// Decoders of bodies that a server sent with a content encoding (gzip,
// deflate, compress), over zlib. Each writes its output to a destination
// file that it creates new (an existing file or a symbolic link there is
// never opened: -1) and returns 0 on success, -1 on failure.
//
// Input is untrusted: a stream that ends early keeps what was decoded and
// counts as success; a corrupt stream keeps what was decoded before the
// damage and fails. Output is capped (kMaxDecodedBytes by default) so that
// a small body that inflates without end cannot fill the disk; a capped
// output is cut at the cap, counts as success and is noted in `log`.
#pragma once

#include "platform/ByteReader.h"
#include "platform/ByteSource.h"
#include "platform/LogSink.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace oriel {

// 256 MiB: far above any web body a browser keeps compressed, far below a
// decompression bomb's output.
constexpr uint64_t kMaxDecodedBytes = uint64_t(256) << 20;

// What a decode did beside its result: whether the output was cut at the
// cap (the body is longer than what was written), and how much it wrote.
struct DecodeOutcome {
    bool cut = false;
    uint64_t written = 0;
};

// Inflates a deflate stream held in memory. With `zlibWrapper` the stream
// is taken to start with a zlib header; when it does not (raw deflate sent
// under the name deflate), a zlib header is put in front and the whole
// buffer is inflated once more.
int InflateToFile(const void* buffer, size_t length, const std::string& destination, bool zlibWrapper,
                  uint64_t maxOutput = kMaxDecodedBytes, platform::LogSink* log = nullptr,
                  DecodeOutcome* outcome = nullptr);
// The same over the bytes of `source`, read a window at a time: the input
// is never held whole (a body of gigabytes costs a few hundred KiB).
int InflateSourceToFile(const platform::ByteSource& source, const std::string& destination, bool zlibWrapper,
                        uint64_t maxOutput = kMaxDecodedBytes, platform::LogSink* log = nullptr,
                        DecodeOutcome* outcome = nullptr);

// Decodes one gzip member held in memory (header flags FEXTRA, FNAME,
// FCOMMENT and FHCRC are skipped; the trailing CRC and size are not
// checked). Without the 0x1F 0x8B signature, or with a header cut short,
// nothing is written and the result is -1.
int GunzipBuffer(const void* buffer, size_t length, const std::string& destination,
                 uint64_t maxOutput = kMaxDecodedBytes, platform::LogSink* log = nullptr,
                 DecodeOutcome* outcome = nullptr);
// The same over the bytes of `source`, read a window at a time. The member
// header is looked for in the first kMaxGzipHeaderBytes.
constexpr size_t kMaxGzipHeaderBytes = size_t(1) << 20;
int GunzipSource(const platform::ByteSource& source, const std::string& destination,
                 uint64_t maxOutput = kMaxDecodedBytes, platform::LogSink* log = nullptr,
                 DecodeOutcome* outcome = nullptr);

// Decodes the first `length` bytes of `source` (the whole file when length
// is 0 or less, that is, not given) as GunzipBuffer does, reading the file
// a window at a time.
int GunzipFile(const std::string& source, int64_t length, const std::string& destination,
               uint64_t maxOutput = kMaxDecodedBytes, platform::LogSink* log = nullptr,
               DecodeOutcome* outcome = nullptr);

// Inflates the first `length` bytes of `source` (the whole file when
// length is 0 or less) as InflateSourceToFile does.
int InflateFile(const std::string& source, int64_t length, const std::string& destination, bool zlibWrapper,
                uint64_t maxOutput = kMaxDecodedBytes, platform::LogSink* log = nullptr,
                DecodeOutcome* outcome = nullptr);

// Decodes `source` through zlib's gz file reader: gzip data (also several
// members) is decoded whole; data that is not gzip passes through
// unchanged, cut at `length` bytes when a length is given.
int GzReadFile(const std::string& source, int64_t length, const std::string& destination,
               uint64_t maxOutput = kMaxDecodedBytes, platform::LogSink* log = nullptr,
               DecodeOutcome* outcome = nullptr);

// The length of the gzip member header at the start of `bytes` (signature,
// the 10 fixed bytes and the optional fields its flags announce), or empty
// when the signature is missing or the header runs past the bytes given.
std::optional<size_t> GzipHeaderLength(const ByteReader& bytes);

} // namespace oriel
