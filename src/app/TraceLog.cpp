#include "app/TraceLog.h"

#include "app/OptionStore.h"

#include <QDir>

#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace oriel {

namespace {

// Opens the log for writing only when it is (or becomes) a plain file: a
// FIFO of that name would block the start until something read it, and a
// device is no log. Null otherwise.
FILE* OpenLogFile(const std::string& path, bool truncate)
{
    // O_NONBLOCK: opening a FIFO without a reader fails at once instead of
    // waiting.
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0)
        return nullptr;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || (truncate && ::ftruncate(fd, 0) != 0)) {
        ::close(fd);
        return nullptr;
    }
    ::fcntl(fd, F_SETFL, O_APPEND);
    FILE* f = ::fdopen(fd, "ab");
    if (!f)
        ::close(fd);
    return f;
}

} // namespace

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
    FILE* f = OpenLogFile(fileName_, true);
    if (!f) {
        enabled_ = false;
        return;
    }
    if (writing == Writing::Buffered) {
        buffered_ = f;
        std::setvbuf(buffered_, nullptr, _IOFBF, size_t(64) << 10);
        return;
    }
    std::fclose(f);
}

CTraceLog::~CTraceLog()
{
    if (buffered_)
        std::fclose(buffered_);
}

void CTraceLog::Append(const char* data, size_t length)
{
    FILE* f = buffered_ ? buffered_ : OpenLogFile(fileName_, false);
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
        std::fclose(f);
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
