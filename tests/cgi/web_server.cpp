#include "tests/cgi/web_server.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <regex>
#include <sstream>
#include <sys/socket.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#include "tests/support/test_env.h"

namespace kelvara::test {

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

int loopback_socket(int port, int timeout_seconds)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    timeval tv{timeout_seconds, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (port > 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A port nobody listens on right now; the kernel picks it.
int free_port()
{
    int fd = loopback_socket(0, 1);
    if (fd < 0)
        return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void replace_all(std::string& text, const std::string& from, const std::string& to)
{
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

void link_into(const fs::path& folder, const std::string& target)
{
    fs::path link = folder / fs::path(target).filename();
    std::error_code ignored;
    fs::remove(link, ignored);
    fs::create_symlink(target, link);
}

}  // namespace

std::string source_root()
{
    const char* from_env = std::getenv("KELVARA_SOURCE");
    return from_env != nullptr && *from_env != '\0' ? from_env : KVPAGE_TEST_SOURCE_DIR;
}

std::string find_program(const std::string& name, std::initializer_list<const char*> candidates)
{
    for (const char* candidate : candidates) {
        if (::access(candidate, X_OK) == 0)
            return candidate;
    }
    const char* path = std::getenv("PATH");
    std::stringstream dirs(std::string(path != nullptr ? path : "") + ":/usr/sbin:/sbin");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        if (dir.empty())
            continue;
        std::string full = dir + "/" + name;
        if (::access(full.c_str(), X_OK) == 0)
            return full;
    }
    return "";
}

HttpResponse http_exchange(int port, const std::string& request)
{
    HttpResponse response;
    int fd = loopback_socket(port, 20);
    if (fd < 0)
        return response;
    std::size_t sent = 0;
    while (sent < request.size()) {
        ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            break;
        sent += static_cast<std::size_t>(n);
    }
    std::string raw;
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    char buffer[4096];
    while (Clock::now() < deadline) {
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        raw.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);

    std::size_t end_of_headers = raw.find("\r\n\r\n");
    if (raw.rfind("HTTP/", 0) != 0 || end_of_headers == std::string::npos)
        return response;
    std::size_t space = raw.find(' ');
    response.status = std::atoi(raw.c_str() + space + 1);
    response.headers = raw.substr(0, end_of_headers + 2);
    response.body = raw.substr(end_of_headers + 4);
    return response;
}

WebServer::WebServer(const std::string& lighttpd, const std::string& folder, const std::string& com3)
{
    const fs::path base(folder);
    const fs::path root = base / "www";
    const fs::path state = base / "state";
    fs::create_directories(root);
    fs::create_directories(state);
    link_into(root, bin_dir() + "/kvpage");
    link_into(root, bin_dir() + "/skeleton.html");

    const std::string config_template = read_file(source_root() + "/cgi/lighttpd.conf");
    if (config_template.empty()) {
        problem_ = "cgi/lighttpd.conf not found under " + source_root();
        return;
    }
    // A port can be taken between choosing and binding it: try a few.
    for (int attempt = 0; attempt < 3; ++attempt) {
        int port = free_port();
        std::string config = config_template;
        const std::pair<const char*, std::string> fields[] = {
            {"@PORT@", std::to_string(port)},
            {"@BIND_ADDRESS@", "127.0.0.1"},
            {"@DOCUMENT_ROOT@", root.string()},
            {"@STATE_DIR@", state.string()},
            {"@THERM_PORT@", ""},
            {"@KELVARA_COM1@", "sim:"},
            {"@KELVARA_COM2@", "sim:"},
            {"@KELVARA_COM3@", com3},
            {"@KELVARA_COM4@", "sim:"},
            {"@TMPDIR@", temp_dir()},
        };
        for (const auto& [field, value] : fields)
            replace_all(config, field, value);
        // Comments may name the fields; a setting must not keep one.
        std::smatch left;
        if (std::regex_search(config, left, std::regex("(^|\n)[^#\n]*(@[A-Z0-9_]+@)"))) {
            problem_ = "lighttpd.conf has a field the test does not know: " + left.str(2);
            return;
        }
        const std::string config_path = (base / "lighttpd.conf").string();
        std::ofstream(config_path, std::ios::binary) << config;

        ChildCommand command;
        command.argv = {lighttpd, "-D", "-f", config_path};
        command.env = {"PATH=/usr/sbin:/usr/bin:/sbin:/bin"};
        server_ = std::make_unique<BackgroundChild>(command, (state / "stdout.log").string(),
                                                    (state / "stderr.log").string());
        if (!server_->started()) {
            problem_ = "could not start " + lighttpd;
            return;
        }
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (Clock::now() < deadline && server_->running()) {
            int fd = loopback_socket(port, 1);
            if (fd >= 0) {
                ::close(fd);
                port_ = port;
                problem_.clear();
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        server_->stop();
        problem_ = "lighttpd did not listen on port " + std::to_string(port) + ": " +
                   read_file((state / "stderr.log").string()) +
                   read_file((state / "lighttpd-error.log").string());
    }
}

WebServer::~WebServer()
{
    if (server_)
        server_->stop();
}

}  // namespace kelvara::test
