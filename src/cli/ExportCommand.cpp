// oriel-cli export [--output FILE] FOLDER
#include "cli/Cli.h"

#include "model/CsvExport.h"
#include "ops/ExportJob.h"
#include "platform/CopyBytes.h"

#include <cerrno>
#include <iostream>
#include <streambuf>
#include <unistd.h>
#include <vector>

namespace oriel::cli {

namespace {

// Standard output in large writes: a CSV of megabytes goes out in a few
// system calls, not one per few kilobytes.
class LargeWriteBuffer : public std::streambuf {
public:
    explicit LargeWriteBuffer(int fd)
        : fd_(fd)
        , buffer_(kSize)
    {
        setp(buffer_.data(), buffer_.data() + buffer_.size());
    }
    ~LargeWriteBuffer() override { Flush(); }
    bool Flush()
    {
        const char* at = pbase();
        while (at < pptr() && ok_) {
            const ssize_t n = ::write(fd_, at, size_t(pptr() - at));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                ok_ = false;
            else
                at += n;
        }
        setp(buffer_.data(), buffer_.data() + buffer_.size());
        return ok_;
    }

protected:
    int_type overflow(int_type c) override
    {
        if (!Flush())
            return traits_type::eof();
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }
    int sync() override { return Flush() ? 0 : -1; }
    // A row goes into the buffer by plain copies (see CopyBytes).
    std::streamsize xsputn(const char* s, std::streamsize n) override
    {
        if (n > epptr() - pptr())
            return std::streambuf::xsputn(s, n);
        platform::CopyBytes(pptr(), s, size_t(n));
        pbump(int(n));
        return n;
    }

private:
    static constexpr size_t kSize = 256 << 10;
    int fd_;
    std::vector<char> buffer_;
    bool ok_ = true;
};

} // namespace

int RunExport(const Args& args, const AppContext& context)
{
    // The CSV shows no stored headers.
    auto opened = OpenFromArgs(args, context, ItemHeaders::NotKept);
    if (!opened)
        return kExitFailure;
    const BrowserProfile& profile = *opened->profile;
    if (auto output = args.value("output")) {
        ExportJob job(*profile.cache, {*output, profile.displayName, profile.cacheFolder});
        if (!job.Run().Succeeded()) {
            for (const FileResult& file : job.Files())
                PrintError(file.reason);
            return kExitFailure;
        }
        return kExitOk;
    }
    std::cout.flush();
    LargeWriteBuffer buffer(STDOUT_FILENO);
    std::ostream out(&buffer);
    WriteCsvExport(out, *profile.cache, profile.displayName, profile.cacheFolder);
    out.flush();
    return out && buffer.Flush() ? kExitOk : kExitFailure;
}

} // namespace oriel::cli
