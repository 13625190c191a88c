#include "ui/WindowLog.h"

#include <atomic>

namespace oriel {

namespace {
std::atomic<platform::LogSink*> g_windowLog{nullptr};
} // namespace

void SetWindowLog(platform::LogSink* log)
{
    g_windowLog = log;
}

void Trace(std::string_view text)
{
    platform::WriteLog(g_windowLog.load(), text);
}

} // namespace oriel
