#include "app/TraceLog.h"

#include "app/OptionStore.h"

#include <QDir>

#include <cstdio>
#include <memory>
#include <string>

namespace oriel {

std::string CTraceLog::ResolveLogFileName(const std::string& optionValue)
{
    if (optionValue.empty() || optionValue.front() == '/')
        return optionValue;
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + "/.local/state";
    QString dir = base + "/Oriel";
    QDir().mkpath(dir);
    return (dir + "/").toStdString() + optionValue;
}

CTraceLog::CTraceLog(const OptionStore& store, Writing writing)
{
    std::string option = store.ReadString("Options", "MessageDumpFile", "Oriel.log");
    if (option.empty())
        return;
    fileName_ = ResolveLogFileName(option);
    enabled_ = true;
    FILE* f = std::fopen(fileName_.c_str(), "wb");
    if (!f) {
        enabled_ = false;
        return;
    }
    file_ = f;
    buffered_ = writing == Writing::Buffered;
    if (buffered_)
        std::setvbuf(file_, nullptr, _IOFBF, size_t(64) << 10);
}

CTraceLog::~CTraceLog()
{
    if (file_)
        std::fclose(file_);
}

void CTraceLog::Append(const char* data, size_t length)
{
    FILE* f = file_;
    if (!f)
        return;
    std::string out;
    out.reserve(length + 8);
    for (size_t i = 0; i < length; ++i) {
        if (data[i] == '\n')
            out += '\r';
        out += data[i];
    }
    out += "\r\n";
    std::fwrite(out.data(), 1, out.size(), f);
    if (!buffered_)
        std::fflush(f);
}

void CTraceLog::Write(std::string_view text)
{
    if (!enabled_)
        return;
    std::lock_guard guard(lock_);
    Append(text.data(), text.size());
}

void CTraceLog::WriteBytes(const void* data, size_t length)
{
    if (!enabled_)
        return;
    std::lock_guard guard(lock_);
    Append(static_cast<const char*>(data), length);
}

} // namespace oriel
