// The trace log: a plain text file into which the application writes one
// line at each entry to and exit from its significant operations.
//
// Lines end in CR LF: every line feed written (including those inside the
// text) becomes CR LF, as a text-mode file would write it. Lines from
// several threads never interleave. The window's log keeps the file open and
// hands each line to the system before Write returns, so that it survives a
// crash (an open and a close per line added about a sixth to the time of a
// large delete, which traces every removed file); a command-line run's log
// keeps the file open and buffered, and writes it out when the log is
// destroyed.
#pragma once

#include "platform/LogSink.h"

#include <cstddef>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

namespace oriel {

class OptionStore;

class CTraceLog final : public platform::LogSink {
public:
    // Reads "Options"/"MessageDumpFile" from `store` and truncates the file;
    // an empty value turns the log off.
    enum class Writing { EachLine, Buffered };
    explicit CTraceLog(const OptionStore& store, Writing writing = Writing::EachLine);
    ~CTraceLog() override;
    CTraceLog(const CTraceLog&) = delete;
    CTraceLog& operator=(const CTraceLog&) = delete;

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
    std::FILE* file_ = nullptr; // open for the whole run
    bool buffered_ = false;
    std::string fileName_;
    std::mutex lock_;
};

} // namespace oriel
