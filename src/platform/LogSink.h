// Where lower layers write their trace lines. The application's trace log
// is one; a layer that has none to write to is given NullLog.
#pragma once

#include <cstddef>
#include <string_view>

namespace oriel::platform {

class LogSink {
public:
    virtual ~LogSink() = default;
    virtual void Write(std::string_view text) = 0;
    virtual void WriteBytes(const void* data, size_t length) = 0;
};

class NullLog final : public LogSink {
public:
    void Write(std::string_view) override {}
    void WriteBytes(const void*, size_t) override {}
};

// Writes to `log` when there is one.
inline void WriteLog(LogSink* log, std::string_view text)
{
    if (log)
        log->Write(text);
}

} // namespace oriel::platform
