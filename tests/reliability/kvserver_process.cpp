#include "tests/reliability/kvserver_process.h"

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include <unistd.h>

#include "tests/reliability/proc_files.h"
#include "tests/reliability/udp_client.h"
#include "tests/support/test_env.h"

namespace kelvara::test {

namespace {

using namespace std::chrono_literals;

std::string read_whole_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

KvserverProcess::KvserverProcess(const std::string& device, std::string errors_path)
{
    static int serial = 0;
    const std::string base = temp_dir() + "/kvserver-" + std::to_string(::getpid()) + "-" + std::to_string(serial++);
    out_path_ = base + ".out";
    err_path_ = errors_path.empty() ? base + ".err" : std::move(errors_path);

    ChildCommand command;
    command.env = current_environment();
    set_env_entry(command.env, "KELVARA_COM3", device);

    // Another process may take the free port first: then try another.
    for (int attempt = 0; attempt < 5 && pid_ < 0; ++attempt) {
        port_ = free_udp_port();
        // As a service manager starts it: SIGPIPE at its default, whatever
        // this test process has done with it.
        command.argv = {"/usr/bin/env", "--default-signal=PIPE", bin_dir() + "/kvserver", "-port",
                        std::to_string(port_)};
        child_ = std::make_unique<BackgroundChild>(command, out_path_, err_path_);
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        bool up = false;
        while (child_->running() && std::chrono::steady_clock::now() < deadline) {
            if (output().find("Com Port: ") != std::string::npos) {
                up = true;
                break;
            }
            std::this_thread::sleep_for(10ms);
        }
        if (up) {
            if (std::optional<UdpSocketFigures> socket = udp_socket_on_port(port_))
                pid_ = child_with_socket(socket->inode);
        }
        if (pid_ < 0)
            child_->stop();
    }
}

KvserverProcess::~KvserverProcess() { stop(); }

std::string KvserverProcess::output() const { return read_whole_file(out_path_); }

std::string KvserverProcess::errors() const { return read_whole_file(err_path_); }

void KvserverProcess::stop()
{
    if (child_)
        child_->stop();
}

}  // namespace kelvara::test
