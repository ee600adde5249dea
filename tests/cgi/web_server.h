#pragma once
// A lighttpd started for one test on a free loopback port, serving kvpage from
// the build through the project's configuration, and a minimal HTTP client.

#include <memory>
#include <string>

#include "tests/support/child_process.h"

namespace kelvara::test {

// The source tree: KELVARA_SOURCE, else the tree these tests were built from.
std::string source_root();

// The path of an installed program, or empty: the first of the candidates
// that is executable, else the name found on PATH.
std::string find_program(const std::string& name, std::initializer_list<const char*> candidates);

struct HttpResponse {
    int status = 0;  // 0 when no response came
    std::string headers;
    std::string body;
};

// Sends one request to 127.0.0.1:port and reads the response to its end.
HttpResponse http_exchange(int port, const std::string& request);

class WebServer {
public:
    // Fills cgi/lighttpd.conf into folder, with kvpage and its template
    // linked into a document root there, and the given COM3 device.
    WebServer(const std::string& lighttpd, const std::string& folder, const std::string& com3);
    ~WebServer();

    bool ready() const { return port_ > 0; }
    int port() const { return port_; }
    // What went wrong while starting, for a failed assertion.
    const std::string& problem() const { return problem_; }

private:
    std::unique_ptr<BackgroundChild> server_;
    int port_ = 0;
    std::string problem_;
};

}  // namespace kelvara::test
