#pragma once
// kvserver of the build, running in the background on a free loopback port
// with its output in files; stopped and reaped when the object goes away.

#include <memory>
#include <string>

#include <sys/types.h>

#include "tests/support/child_process.h"

namespace kelvara::test {

class KvserverProcess {
public:
    // Starts kvserver on COM3 (its default port) with KELVARA_COM3 set to
    // device, the rest of the environment being this process's. errors_path
    // names where its standard error goes (a file in the test's temporary
    // folder when empty). Waits, bounded, for its start-up line.
    explicit KvserverProcess(const std::string& device, std::string errors_path = "");
    ~KvserverProcess();
    KvserverProcess(const KvserverProcess&) = delete;
    KvserverProcess& operator=(const KvserverProcess&) = delete;

    // It printed its start-up line and its pid is known.
    bool started() const { return pid_ > 0; }
    int port() const { return port_; }
    pid_t pid() const { return pid_; }
    bool running() { return child_ && child_->running(); }
    std::string output() const;
    std::string errors() const;
    void stop();

private:
    std::unique_ptr<BackgroundChild> child_;
    std::string out_path_;
    std::string err_path_;
    int port_ = -1;
    pid_t pid_ = -1;
};

}  // namespace kelvara::test
