// The trace log: a plain text file into which the application writes one
// line at each entry to and exit from its significant operations.
//
// Lines end in CR LF: every line feed written (including those inside the
// text) becomes CR LF, as a text-mode file would write it. The file is
// opened, appended to and closed for each line under a lock, so each line is
// on disk when Write returns and lines from several threads never interleave.
#pragma once

#include "platform/LogSink.h"

#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>

namespace oriel {

class OptionStore;

class CTraceLog final : public platform::LogSink {
public:
    // Reads "Options"/"MessageDumpFile" from `store` and truncates the file;
    // an empty value turns the log off.
    explicit CTraceLog(const OptionStore& store);

    void Write(std::string_view text) override;
    void WriteBytes(const void* data, size_t length) override;

    bool IsEnabled() const { return enabled_; }
    const std::string& FileName() const { return fileName_; }

    // Where a relative "MessageDumpFile" is placed: the per-user state
    // folder ($XDG_STATE_HOME/Oriel), not the current folder, so that the
    // tools never write into the folder they are started in (it may be
    // the evidence being examined).
    static std::string ResolveLogFileName(const std::string& optionValue);

private:
    void Append(const char* data, size_t length);

    bool enabled_ = false;
    std::string fileName_;
    std::mutex lock_;
};

} // namespace oriel
