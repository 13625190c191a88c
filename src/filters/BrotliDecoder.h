// The decoder of bodies sent with "Content-Encoding: br", over libbrotlidec,
// with the contract of the other content decoders (ContentDecoders.h): the
// output is a file it creates new (never an existing file, never through a
// link); a stream that ends early keeps what was decoded and counts as
// success; a corrupt stream keeps what was decoded before the damage and
// fails; the output is capped and a capped output is noted in `log`.
#pragma once

#include "filters/ContentDecoders.h"
#include "platform/LogSink.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace oriel {

// 0 on success, -1 on failure (nothing decodable, or no file made).
int BrotliToFile(const void* buffer, size_t length, const std::string& destination,
                 uint64_t maxOutput = kMaxDecodedBytes, platform::LogSink* log = nullptr);

} // namespace oriel
