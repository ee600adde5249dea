#include "tests/support/test_env.h"

#include <cstdlib>

namespace kelvara::test {

ScopedEnv::ScopedEnv(std::string name, std::optional<std::string> value) : name_(std::move(name))
{
    if (const char* old = std::getenv(name_.c_str()))
        old_ = old;
    if (value)
        ::setenv(name_.c_str(), value->c_str(), 1);
    else
        ::unsetenv(name_.c_str());
}

ScopedEnv::~ScopedEnv()
{
    if (old_)
        ::setenv(name_.c_str(), old_->c_str(), 1);
    else
        ::unsetenv(name_.c_str());
}

static std::string env_or(const char* name, const char* fallback)
{
    const char* v = std::getenv(name);
    return v && *v ? v : fallback;
}

std::string bin_dir() { return env_or("KELVARA_BIN", "build/bin"); }
std::string program(const std::string& name) { return bin_dir() + "/" + name; }
std::string source_dir() { return env_or("KELVARA_SOURCE", "."); }
std::string build_dir() { return env_or("KELVARA_BUILD", "build"); }
std::string temp_dir() { return env_or("TMPDIR", "/tmp"); }

}  // namespace kelvara::test
