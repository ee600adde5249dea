#pragma once
// Collects what the code under test writes on file descriptor 2 while the
// object lives, so messages can be compared byte for byte.

#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

namespace kelvara::test {

class CapturedStderr {
public:
    CapturedStderr()
    {
        std::fflush(stderr);
        file_ = std::tmpfile();
        saved_ = ::dup(2);
        if (file_ == nullptr || saved_ < 0 || ::dup2(::fileno(file_), 2) < 0)
            std::abort();
    }

    ~CapturedStderr()
    {
        restore();
        if (file_ != nullptr)
            std::fclose(file_);
    }

    CapturedStderr(const CapturedStderr&) = delete;
    CapturedStderr& operator=(const CapturedStderr&) = delete;

    // Ends the capture and returns everything written since it began.
    std::string text()
    {
        restore();
        std::string result;
        std::rewind(file_);
        char chunk[512];
        std::size_t n = 0;
        while ((n = std::fread(chunk, 1, sizeof chunk, file_)) > 0)
            result.append(chunk, n);
        return result;
    }

private:
    void restore()
    {
        if (saved_ < 0)
            return;
        std::fflush(stderr);
        ::dup2(saved_, 2);
        ::close(saved_);
        saved_ = -1;
    }

    std::FILE* file_ = nullptr;
    int saved_ = -1;
};

}  // namespace kelvara::test
