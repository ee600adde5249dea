#pragma once
// Small helpers shared by the tests: environment variables set for one scope,
// and the folders the build tells the tests about.

#include <optional>
#include <string>

namespace kelvara::test {

// Sets (or, with nullopt, unsets) an environment variable and restores it on exit.
class ScopedEnv {
public:
    ScopedEnv(std::string name, std::optional<std::string> value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

// build/bin, where the programs are, from KELVARA_BIN.
std::string bin_dir();
// The program name of the build: bin_dir()/name.
std::string program(const std::string& name);
// The source tree, from KELVARA_SOURCE.
std::string source_dir();
// The build tree, from KELVARA_BUILD.
std::string build_dir();
// This process's private temporary folder (also $TMPDIR).
std::string temp_dir();

}  // namespace kelvara::test
