#include "bench/program_benchmarks.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "bench/bench_ports.h"
#include "bench/child_process.h"
#include "bench/sweep_benchmarks.h"
#include "net/temp_records.h"

namespace kelvara::bench {

namespace {

using clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto SERVER_START_LIMIT = 5000ms;
constexpr auto REPLY_LIMIT = 5000ms;  // one sweep is well under a second
constexpr auto RUN_LIMIT = 10000ms;
constexpr int PORT_ATTEMPTS = 10;

double in_seconds(clock::duration elapsed) { return std::chrono::duration<double>(elapsed).count(); }

double seconds_since(clock::time_point begin) { return in_seconds(clock::now() - begin); }

// A UDP port on the loopback interface that nobody held a moment ago.
int free_udp_port()
{
    const int sock = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (sock < 0)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = -1;
    if (::bind(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(sock, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    ::close(sock);
    return port;
}

// Starts kvserver on a free port; the port, or nothing after PORT_ATTEMPTS
// (another program may take a port between our look and the server's bind).
std::optional<int> start_server(RunningChild& server, const ProgramSetup& setup,
                                const std::vector<std::string>& environment)
{
    for (int attempt = 0; attempt < PORT_ATTEMPTS; ++attempt) {
        const int port = free_udp_port();
        if (port < 1024)
            continue;
        const ChildCommand command{
            {setup.bin_dir + "/kvserver", "-port", std::to_string(port), "-com", std::to_string(PROGRAM_PORT)},
            environment,
            {}};
        if (server.start(command) && server.wait_for_line("Com Port:", SERVER_START_LIMIT))
            return port;
        server.stop();
    }
    return std::nullopt;
}

// A datagram socket on the loopback interface, connected to the server so
// that only its replies come in.
class DatagramClient {
public:
    explicit DatagramClient(int server_port) : sock_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in server{};
        server.sin_family = AF_INET;
        server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        server.sin_port = htons(static_cast<std::uint16_t>(server_port));
        if (sock_ >= 0 && ::connect(sock_, reinterpret_cast<const sockaddr*>(&server), sizeof server) != 0) {
            ::close(sock_);
            sock_ = -1;
        }
    }
    ~DatagramClient()
    {
        if (sock_ >= 0)
            ::close(sock_);
    }
    DatagramClient(const DatagramClient&) = delete;
    DatagramClient& operator=(const DatagramClient&) = delete;

    bool ok() const { return sock_ >= 0; }

    bool send(const std::uint8_t (&request)[REQUEST_SIZE])
    {
        return ::send(sock_, request, REQUEST_SIZE, 0) == static_cast<ssize_t>(REQUEST_SIZE);
    }

    // One reply of the full size, within limit.
    bool receive(std::uint8_t (&reply)[REPLY_SIZE], std::chrono::milliseconds limit)
    {
        const auto deadline = clock::now() + limit;
        while (clock::now() < deadline) {
            pollfd watch{sock_, POLLIN, 0};
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - clock::now()).count();
            if (::poll(&watch, 1, static_cast<int>(left > 0 ? left : 0)) <= 0)
                continue;
            if (::recv(sock_, reply, REPLY_SIZE, MSG_DONTWAIT) == static_cast<ssize_t>(REPLY_SIZE))
                return true;
        }
        return false;
    }

private:
    int sock_;
};

void readings_request(std::uint8_t (&request)[REQUEST_SIZE], int first, int last, bool mean = false)
{
    encode_request(make_request(mean, first, last), request);
}

// True when the reply carries a clean reading of every sensor first to last.
bool clean_reply(const std::uint8_t (&bytes)[REPLY_SIZE], int first, int last)
{
    const TempReply reply = decode_reply(bytes);
    if (reply.result != RESULT_OK)
        return false;
    for (int n = first; n <= last; ++n) {
        if (reply.status[static_cast<std::size_t>(n - 1)] != 0)
            return false;
    }
    return true;
}

// The request of a given number in the memory run: every kind the server
// answers, the sweeps among them.
void mixed_request(int number, std::uint8_t (&request)[REQUEST_SIZE])
{
    switch (number % 5) {
    case 0:
        readings_request(request, 1, 8);
        break;
    case 1:
        readings_request(request, 1, 8, true);
        break;
    case 2:
        readings_request(request, 3, 3);
        break;
    case 3:
        readings_request(request, 1, 8);
        request[0] = 'X';  // bad magic
        break;
    default:
        readings_request(request, 5, 2);  // bad range
        break;
    }
}

// An entry "Er%3d" of a failed reading; the bus codes run from -11 to -20.
bool has_error_entry(const std::string& page)
{
    return page.find("Er-1") != std::string::npos || page.find("Er-2") != std::string::npos;
}

// The one round trip the probe noted, in seconds.
std::optional<double> read_round_trip(const std::string& path)
{
    std::ifstream file(path);
    long long nanoseconds = 0;
    if (!(file >> nanoseconds) || nanoseconds <= 0)
        return std::nullopt;
    return static_cast<double>(nanoseconds) * 1e-9;
}

std::vector<std::string> no_pause_environment(const ProgramSetup& setup)
{
    return {"LD_PRELOAD=" + setup.no_pause_library};
}

}  // namespace

ServerRun measure_server(const ProgramSetup& setup, Pauses pauses)
{
    ServerRun run;
    const bool skipped = pauses == Pauses::skipped;
    RunningChild server;
    const auto port = start_server(server, setup, skipped ? no_pause_environment(setup) : std::vector<std::string>{});
    if (!port) {
        run.error = "kvserver did not start";
        return run;
    }
    DatagramClient client(*port);
    if (!client.ok()) {
        run.error = "no client socket";
        return run;
    }
    std::uint8_t request[REQUEST_SIZE];
    std::uint8_t reply[REPLY_SIZE];

    if (skipped) {
        run.first_requests = 10;
        for (int i = 0; i < setup.memory_requests; ++i) {
            mixed_request(i, request);
            const auto begin = clock::now();
            if (!client.send(request) || !client.receive(reply, REPLY_LIMIT)) {
                run.error = "request " + std::to_string(i + 1) + " went unanswered";
                return run;
            }
            // A sweep with its pauses slept takes half a second: the preload
            // did not take, and a thousand of them would take minutes.
            if (i == 0 && seconds_since(begin) > 0.2) {
                run.error = "kvserver's pauses were not skipped";
                return run;
            }
            ++run.requests;
            if (run.requests == run.first_requests)
                run.peak_after_first_kib = server.peak_rss_kib();
        }
    }

    const ChildCommand query{{setup.bin_dir + "/kvquery", "-port", std::to_string(*port), "-what", "1-8"},
                          {"LD_PRELOAD=" + setup.round_trip_probe, "KVBENCH_ROUND_TRIP_FILE=" + setup.probe_file},
                          {}};
    const int timed_runs = skipped ? setup.fast_runs : setup.runs;
    for (int i = 0; i < timed_runs; ++i) {
        std::remove(setup.probe_file.c_str());
        const ChildExit exit = run_child(query, RUN_LIMIT);
        const auto round_trip = read_round_trip(setup.probe_file);
        if (!exit.exited || exit.status != 0 || exit.output.find("Result: 0 ") == std::string::npos ||
            exit.output.find("Error") != std::string::npos) {
            run.error = "a kvquery run failed";
            return run;
        }
        if (!round_trip) {
            run.error = "kvquery's round trip was not timed";
            return run;
        }
        run.kvquery_seconds.push_back(in_seconds(exit.elapsed));
        run.round_trip_seconds.push_back(*round_trip);
        ++run.requests;
    }

    if (!skipped) {
        run.first_requests = run.requests;
        run.peak_after_first_kib = server.peak_rss_kib();
        readings_request(request, 1, 8);
        // All requests leave before the first reply can come back; they wait
        // in the server's receive queue.
        const auto begin = clock::now();
        for (int i = 0; i < SWEEPS_BACK_TO_BACK; ++i) {
            if (!client.send(request)) {
                run.error = "a back-to-back request could not be sent";
                return run;
            }
        }
        for (int i = 0; i < SWEEPS_BACK_TO_BACK; ++i) {
            if (!client.receive(reply, REPLY_LIMIT) || !clean_reply(reply, 1, 8)) {
                run.error = "a back-to-back request went unanswered";
                return run;
            }
            ++run.requests;
        }
        run.back_to_back_seconds = seconds_since(begin);
    }
    run.peak_rss_kib = server.peak_rss_kib();
    return run;
}

PageRuns measure_kvpage(const ProgramSetup& setup, Pauses pauses)
{
    PageRuns runs;
    const bool skipped = pauses == Pauses::skipped;
    std::vector<std::string> environment{"REQUEST_METHOD=GET", "QUERY_STRING=what=1-8&format=html",
                                         "THERM_PORT=" + std::to_string(PROGRAM_PORT)};
    if (skipped)
        environment.push_back(no_pause_environment(setup).front());
    const ChildCommand with_template{{setup.bin_dir + "/kvpage"}, environment, setup.bin_dir};
    const ChildCommand builtin{{setup.bin_dir + "/kvpage"}, environment, setup.empty_dir};
    const ChildCommand empty{{"/bin/true"}, {}, {}};

    // One kvpage run; false (with the reason in runs.error) when it failed.
    auto page = [&](const ChildCommand& command, std::vector<double>& seconds) {
        const ChildExit run = run_child(command, RUN_LIMIT);
        if (!run.exited || run.status != 0 || run.output.rfind("Content-type: text/html\n\n", 0) != 0 ||
            run.output.find(setup.first_reading) == std::string::npos || has_error_entry(run.output)) {
            runs.error = "a kvpage run failed";
            return false;
        }
        if (skipped && run.elapsed > std::chrono::milliseconds(200)) {
            runs.error = "kvpage's pauses were not skipped";
            return false;
        }
        seconds.push_back(in_seconds(run.elapsed));
        if (!skipped && run.peak_rss_kib > runs.peak_rss_kib)
            runs.peak_rss_kib = run.peak_rss_kib;
        return true;
    };

    const int count = skipped ? setup.fast_runs : setup.runs;
    for (int i = 0; i < count; ++i) {
        if (!page(with_template, runs.template_seconds) || !page(builtin, runs.builtin_seconds))
            return runs;
        if (skipped) {
            const ChildExit run = run_child(empty, RUN_LIMIT);
            if (run.exited && run.status == 0)
                runs.empty_process_seconds.push_back(in_seconds(run.elapsed));
        }
    }
    return runs;
}

}  // namespace kelvara::bench
