#include "tests/reliability/measured_run.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kelvara::test {

namespace {

using Clock = std::chrono::steady_clock;

// The forked copy's report: three numbers, then the output.
void append_number(std::string& report, std::int64_t value)
{
    report.append(reinterpret_cast<const char*>(&value), sizeof value);
}

bool take_number(const std::string& report, std::size_t& at, std::int64_t& value)
{
    if (report.size() - at < sizeof value)
        return false;
    std::memcpy(&value, report.data() + at, sizeof value);
    at += sizeof value;
    return true;
}

void write_all(int fd, const std::string& data)
{
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

// VmRSS of this process in KiB, 0 when unknown.
long resident_kib()
{
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr)
        return 0;
    long kib = 0;
    char line[256];
    while (std::fgets(line, sizeof line, status) != nullptr) {
        if (std::sscanf(line, "VmRSS: %ld", &kib) == 1)
            break;
    }
    std::fclose(status);
    return kib;
}

// In the forked copy: run the job, measure, report, and leave without
// running the test's exit handlers.
[[noreturn]] void run_and_report(const std::function<std::string()>& job, int channel)
{
    const long start_kib = resident_kib();
    const auto start = Clock::now();
    const std::string out = job();
    const std::chrono::duration<double, std::micro> took = Clock::now() - start;
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    std::string report;
    append_number(report, static_cast<std::int64_t>(took.count()));
    append_number(report, usage.ru_maxrss);
    append_number(report, start_kib);
    report += out;
    write_all(channel, report);
    ::_exit(0);
}

}  // namespace

MeasuredRun run_measured(const ChildCommand& command, std::chrono::milliseconds timeout)
{
    ChildCommand launched = command;
    launched.argv.insert(launched.argv.begin(), KELVARA_PEAK_LAUNCHER);
    const auto start = Clock::now();
    const ChildResult result = run_child(launched, timeout);
    MeasuredRun run;
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.out = result.out;
    run.err = result.err;
    // The launcher's report is the last line of standard error.
    const std::string mark = "peak-kib ";
    const std::size_t at = run.err.rfind(mark);
    if (!result.started || result.timed_out || at == std::string::npos || (at > 0 && run.err[at - 1] != '\n'))
        return run;
    run.peak_kib = std::strtol(run.err.c_str() + at + mark.size(), nullptr, 10);
    run.err.erase(at);
    run.exit_status = result.exit_status;
    run.finished = true;
    return run;
}

MeasuredRun run_measured(const std::function<std::string()>& job, std::chrono::milliseconds timeout)
{
    MeasuredRun run;
    int channel[2];
    if (::pipe2(channel, O_CLOEXEC) != 0)
        return run;
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(channel[0]);
        ::close(channel[1]);
        return run;
    }
    if (pid == 0) {
        ::close(channel[0]);
        run_and_report(job, channel[1]);
    }
    ::close(channel[1]);

    std::string report;
    const auto deadline = Clock::now() + timeout;
    bool ended = false;
    while (!ended) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            break;
        pollfd ready{channel[0], POLLIN, 0};
        const int n = ::poll(&ready, 1, static_cast<int>(left.count()));
        if (n < 0 && errno != EINTR)
            break;
        if (n <= 0)
            continue;
        char buffer[65536];
        const ssize_t got = ::read(channel[0], buffer, sizeof buffer);
        if (got > 0)
            report.append(buffer, static_cast<std::size_t>(got));
        else if (got == 0 || errno != EINTR)
            ended = true;
    }
    ::close(channel[0]);
    if (!ended)
        ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);

    std::size_t at = 0;
    std::int64_t micros = 0;
    std::int64_t peak = 0;
    std::int64_t start = 0;
    if (ended && WIFEXITED(status) && take_number(report, at, micros) && take_number(report, at, peak) &&
        take_number(report, at, start)) {
        run.finished = true;
        run.exit_status = 0;
        run.seconds = static_cast<double>(micros) / 1e6;
        run.peak_kib = static_cast<long>(peak);
        run.start_kib = static_cast<long>(start);
        run.out = report.substr(at);
    }
    return run;
}

}  // namespace kelvara::test
