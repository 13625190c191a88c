// Standard output in large writes: a CSV or a listing of megabytes goes out
// in a few system calls, not one per few kilobytes. As a stream buffer (the
// CSV export writes through an ostream), or filled in place (the listing).
#pragma once

#include "platform/CopyBytes.h"

#include <cerrno>
#include <streambuf>
#include <unistd.h>
#include <vector>

namespace oriel::cli {

class LargeWriteBuffer : public std::streambuf {
public:
    explicit LargeWriteBuffer(int fd)
        : fd_(fd)
        , buffer_(kSize)
    {
        setp(buffer_.data(), buffer_.data() + buffer_.size());
    }
    ~LargeWriteBuffer() override { Flush(); }
    // Writes what is buffered; false once a write has failed.
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
    // Room for `size` more bytes at the end of what is buffered, to be
    // written in place and then kept with Filled.
    char* Room(size_t size)
    {
        if (size_t(epptr() - pptr()) < size) {
            Flush();
            if (buffer_.size() < size) {
                buffer_.resize(size);
                setp(buffer_.data(), buffer_.data() + buffer_.size());
            }
        }
        return pptr();
    }
    // What was written from Room up to `end` is kept.
    void Filled(const char* end) { pbump(int(end - pptr())); }

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
    static constexpr size_t kSize = 128 << 10;
    int fd_;
    std::vector<char> buffer_;
    bool ok_ = true;
};

} // namespace oriel::cli
