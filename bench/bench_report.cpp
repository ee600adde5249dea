#include "bench/bench_report.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <ostream>

namespace kelvara::bench {

namespace {

constexpr double RATIO_GOAL = 1.01;
constexpr double ROUND_TRIP_GOAL_MS = 1.0;
constexpr double BACK_TO_BACK_GOAL = 1.02;
constexpr double PAGE_GOAL_MS = 5.0;
constexpr long MEMORY_GOAL_KIB = 4 * 1024;
// Peak memory counts as flat when a thousand requests add at most two pages.
constexpr long FLAT_KIB = 8;
// 100 and 50 ms as the bus opens, then one after each of eight conversions.
constexpr double PAUSES_PER_SWEEP = 10;

template <typename... Args>
std::string format(const char* pattern, Args... args)
{
    char text[256];
    std::snprintf(text, sizeof text, pattern, args...);
    return text;
}

const char* verdict(bool met) { return met ? "yes" : "NO"; }

double median(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 == 1 ? values[mid] : (values[mid - 1] + values[mid]) / 2.0;
}

Row not_measured(const std::string& measure, const std::string& goal, const std::string& why)
{
    return Row{measure, "not measured" + (why.empty() ? std::string() : ": " + why), goal, "?"};
}

// The benchmark's result when it ran without an error.
const BenchResult* result(const BenchResults& results, const std::string& name, std::string& why)
{
    const auto found = results.find(name);
    if (found == results.end()) {
        why = "not run";
        return nullptr;
    }
    if (!found->second.error.empty() || found->second.seconds.empty()) {
        why = found->second.error;
        return nullptr;
    }
    return &found->second;
}

// A counter of a benchmark that ran; false when there is none.
bool read_counter(const BenchResult* r, const char* name, double& value)
{
    if (r == nullptr)
        return false;
    const auto found = r->counters.find(name);
    if (found == r->counters.end())
        return false;
    value = found->second;
    return true;
}

std::string range_text(int first, int last) { return format("%d-%d", first, last); }

std::string mib(long kib) { return format("%.2f MiB", static_cast<double>(kib) / 1024.0); }

void sweep_ratio_rows(const Measurements& m, std::vector<Row>& rows, const char* kind, const std::string& label,
                      bool has_goal)
{
    for (const auto& [first, last] : {std::pair{1, 1}, std::pair{1, 8}}) {
        const std::string measure = format(label.c_str(), range_text(first, last).c_str());
        const std::string goal = has_goal ? format("< %.2f", RATIO_GOAL) : "-";
        std::string why;
        const BenchResult* r = result(m.sweeps, benchmark_name(kind, first, last), why);
        if (r == nullptr) {
            rows.push_back(not_measured(measure, goal, why));
            continue;
        }
        const double ms = r->median_seconds() * 1000.0;
        const double ratio = ms / SWEEP_FLOOR_MS;
        rows.push_back(Row{measure, format("%.4f (%.1f ms)", ratio, ms), goal,
                           has_goal ? verdict(ratio < RATIO_GOAL) : "-"});
    }
}

void line_op_rows(const Measurements& m, std::vector<Row>& rows)
{
    struct Case {
        const char* kind;
        int first;
        int last;
        std::string label;
    };
    const Case cases[] = {
        {LINE_OPS, 1, 1, "line ops per sweep 1-1, counted / prescribed"},
        {LINE_OPS, 1, 8, "line ops per sweep 1-8, counted / prescribed"},
        {MIXED_LINE_OPS, 1, 8, "  the same on " + m.mixed_bus},
    };
    for (const Case& c : cases) {
        std::string why;
        const BenchResult* r = result(m.sweeps, benchmark_name(c.kind, c.first, c.last), why);
        double counted = 0;
        double prescribed = 0;
        if (!read_counter(r, COUNTED_OPS, counted) || !read_counter(r, PRESCRIBED_OPS, prescribed)) {
            rows.push_back(not_measured(c.label, "equal", why));
            continue;
        }
        rows.push_back(Row{c.label, format("%.0f / %.0f", counted, prescribed), "equal",
                           verdict(counted == prescribed)});
    }

    std::string why;
    const BenchResult* r = result(m.sweeps, benchmark_name(LINE_OPS, 1, 8), why);
    const std::string measure = "pauses per sweep, as the bus asks for them";
    const std::string goal = format("%.0f ms", SWEEP_FLOOR_MS);
    double pauses = 0;
    if (!read_counter(r, PAUSE_MS, pauses))
        rows.push_back(not_measured(measure, goal, why));
    else
        rows.push_back(Row{measure, format("%.0f ms", pauses), goal, verdict(pauses == SWEEP_FLOOR_MS)});
}

double fastest(const std::vector<double>& values)
{
    return values.empty() ? 0.0 : *std::min_element(values.begin(), values.end());
}

// Sweep 1-8 as the process timings of the same kind subtract it: with pauses
// slept, its median; with them skipped, its fastest and its median repetition.
struct SweepTime {
    double fastest = 0.0;
    double median = 0.0;
};

std::optional<SweepTime> sweep_time(const Measurements& m, const char* kind)
{
    std::string why;
    const BenchResult* r = result(m.sweeps, benchmark_name(kind, 1, 8), why);
    if (r == nullptr)
        return std::nullopt;
    return SweepTime{fastest(r->seconds), r->median_seconds()};
}

// Goals are judged on the runs with the pauses skipped, where a program's own
// time stands clear of the jitter of ten sleeps, and on the fastest of them: a
// machine shared with other work only ever adds to a time. The median, and
// the median with the pauses slept, are shown beside it. A goal of 0 means
// the row only informs.
void overhead_row(const Measurements& m, std::vector<Row>& rows, const std::string& measure,
                  const std::vector<double>& skipped, const std::vector<double>& slept, double goal_ms,
                  const std::string& error)
{
    const std::string goal = goal_ms > 0 ? format("< %.0f ms", goal_ms) : "-";
    const auto fast_sweep = sweep_time(m, BIT_RATE);
    const auto slow_sweep = sweep_time(m, SWEEP);
    if (skipped.empty() || !fast_sweep) {
        rows.push_back(not_measured(measure, goal, !error.empty() ? error : "no sweep time to subtract"));
        return;
    }
    const double best = (fastest(skipped) - fast_sweep->fastest) * 1000.0;
    const double typical = (median(skipped) - fast_sweep->median) * 1000.0;
    const std::string beside = !slept.empty() && slow_sweep
                                   ? format("%.2f", (median(slept) - slow_sweep->median) * 1000.0)
                                   : std::string("-");
    rows.push_back(Row{measure, format("%.3f ms (median %.3f; slept %s)", best, typical, beside.c_str()), goal,
                       goal_ms > 0 ? verdict(best < goal_ms) : "-"});
}

void server_rows(const Measurements& m, std::vector<Row>& rows)
{
    const std::string error = !m.server_skipped.error.empty() ? m.server_skipped.error : m.server_slept.error;
    overhead_row(m, rows, "kvquery round trip 1-8 minus sweep", m.server_skipped.round_trip_seconds,
                 m.server_slept.round_trip_seconds, ROUND_TRIP_GOAL_MS, error);
    overhead_row(m, rows, "  kvquery run, start to exit, minus sweep", m.server_skipped.kvquery_seconds,
                 m.server_slept.kvquery_seconds, 0, error);

    const std::string measure = format("%d requests back to back / %d sweeps", SWEEPS_BACK_TO_BACK,
                                       SWEEPS_BACK_TO_BACK);
    const std::string goal = format("< %.2f", BACK_TO_BACK_GOAL);
    std::string why;
    const BenchResult* in_a_row = result(m.sweeps, benchmark_name(SWEEPS_IN_A_ROW, 1, 8), why);
    if (!m.server_slept.back_to_back_seconds || in_a_row == nullptr) {
        rows.push_back(not_measured(measure, goal, m.server_slept.error.empty() ? why : m.server_slept.error));
    } else {
        const double sweeps = in_a_row->median_seconds() * SWEEPS_BACK_TO_BACK;
        const double ratio = *m.server_slept.back_to_back_seconds / sweeps;
        rows.push_back(Row{measure,
                           format("%.4f (%.2f s / %.2f s)", ratio, *m.server_slept.back_to_back_seconds, sweeps),
                           goal, verdict(ratio < BACK_TO_BACK_GOAL)});
    }
}

void page_rows(const Measurements& m, std::vector<Row>& rows)
{
    const std::string measure = "empty process, start to exit (/bin/true)";
    const auto& empty = m.pages_skipped.empty_process_seconds;
    if (empty.empty())
        rows.push_back(not_measured(measure, "-", "/bin/true did not run"));
    else
        rows.push_back(Row{measure, format("%.3f ms (median %.3f)", fastest(empty) * 1000.0, median(empty) * 1000.0),
                           "-", "-"});

    const std::string error = !m.pages_skipped.error.empty() ? m.pages_skipped.error : m.pages_slept.error;
    overhead_row(m, rows, "kvpage run 1-8 minus sweep, template", m.pages_skipped.template_seconds,
                 m.pages_slept.template_seconds, PAGE_GOAL_MS, error);
    overhead_row(m, rows, "kvpage run 1-8 minus sweep, built-in page", m.pages_skipped.builtin_seconds,
                 m.pages_slept.builtin_seconds, PAGE_GOAL_MS, error);
}

// Peak resident memory of one kvserver after its first requests and after all.
Row server_memory_row(const std::string& label, const ServerRun& server, const std::string& goal)
{
    const std::string measure = format("%s after %d / %d requests", label.c_str(), server.first_requests,
                                       server.requests);
    if (!server.peak_after_first_kib || !server.peak_rss_kib)
        return not_measured(measure, goal, server.error);
    const long first = *server.peak_after_first_kib;
    const long all = *server.peak_rss_kib;
    return Row{measure, format("%s / %s (%+ld KiB)", mib(first).c_str(), mib(all).c_str(), all - first), goal,
               verdict(all < MEMORY_GOAL_KIB && all - first <= FLAT_KIB)};
}

void memory_rows(const Measurements& m, std::vector<Row>& rows)
{
    const std::string goal = format("< %ld MiB, flat", MEMORY_GOAL_KIB / 1024);
    rows.push_back(server_memory_row("kvserver peak RSS", m.server_skipped, goal));
    rows.push_back(server_memory_row("  the same, pauses slept,", m.server_slept, goal));

    const std::string page_goal = format("< %ld MiB", MEMORY_GOAL_KIB / 1024);
    const long page = m.pages_slept.peak_rss_kib;
    if (page == 0)
        rows.push_back(not_measured("kvpage peak RSS, one run", page_goal, m.pages_slept.error));
    else
        rows.push_back(Row{"kvpage peak RSS, one run", mib(page), page_goal, verdict(page < MEMORY_GOAL_KIB)});
}

// What a sweep spends beyond the floor and its own line work, per pause: the
// time the system's sleep takes beyond what it was asked for.
void pause_overrun_row(const Measurements& m, std::vector<Row>& rows)
{
    const std::string measure = "  each pause's overrun, sweep 1-8";
    const auto slept = sweep_time(m, SWEEP);
    const auto skipped = sweep_time(m, BIT_RATE);
    if (!slept || !skipped) {
        rows.push_back(not_measured(measure, "-", ""));
        return;
    }
    const double overrun_us = (slept->median - SWEEP_FLOOR_MS / 1000.0 - skipped->median) / PAUSES_PER_SWEEP * 1e6;
    rows.push_back(Row{measure, format("%.0f us", overrun_us), "-", "-"});
}

void ioctl_rows(const Measurements& m, std::vector<Row>& rows)
{
    const std::string measure = "ioctl round trip on a pseudo-terminal";
    if (!m.ioctl.measured)
        rows.push_back(not_measured(measure, "-", m.ioctl.failure));
    else
        rows.push_back(Row{measure,
                           format("%.2f us (%s)", static_cast<double>(m.ioctl.per_call.count()) / 1000.0,
                                  m.ioctl.request.c_str()),
                           "-", "-"});
    sweep_ratio_rows(m, rows, COSTED_SWEEP, "sweep %s at one ioctl per line op / floor", false);
}

void bit_rate_row(const Measurements& m, std::vector<Row>& rows)
{
    const std::string measure = "bus bit rate 1-8, pauses counted not slept";
    std::string why;
    const BenchResult* rate = result(m.sweeps, benchmark_name(BIT_RATE, 1, 8), why);
    const BenchResult* ops = result(m.sweeps, benchmark_name(LINE_OPS, 1, 8), why);
    double bits = 0;
    double line_ops = 0;
    if (rate == nullptr || !read_counter(ops, PRESCRIBED_BITS, bits) || !read_counter(ops, COUNTED_OPS, line_ops) ||
        rate->median_seconds() <= 0.0) {
        rows.push_back(not_measured(measure, "-", why));
        return;
    }
    const double seconds = rate->median_seconds();
    rows.push_back(Row{measure,
                       format("%.0f kbit/s (%.0f us a sweep, %.0f ns a line op)", bits / seconds / 1000.0,
                              seconds * 1e6, seconds * 1e9 / line_ops),
                       "-", "-"});
}

}  // namespace

std::vector<Row> build_rows(const Measurements& m)
{
    std::vector<Row> rows;
    sweep_ratio_rows(m, rows, SWEEP, "sweep %s wall time / 550 ms floor", true);
    line_op_rows(m, rows);
    pause_overrun_row(m, rows);
    ioctl_rows(m, rows);
    server_rows(m, rows);
    page_rows(m, rows);
    memory_rows(m, rows);
    bit_rate_row(m, rows);
    return rows;
}

void print_table(std::ostream& out, const std::string& title, const std::string& machine,
                 const std::vector<Row>& rows)
{
    const Row header{"measure", "value", "goal", "met"};
    std::size_t widths[3] = {header.measure.size(), header.value.size(), header.goal.size()};
    for (const Row& row : rows) {
        widths[0] = std::max(widths[0], row.measure.size());
        widths[1] = std::max(widths[1], row.value.size());
        widths[2] = std::max(widths[2], row.goal.size());
    }
    auto line = [&](const Row& row) {
        out << row.measure << std::string(widths[0] - row.measure.size() + 2, ' ') << row.value
            << std::string(widths[1] - row.value.size() + 2, ' ') << row.goal
            << std::string(widths[2] - row.goal.size() + 2, ' ') << row.verdict << '\n';
    };
    out << title << '\n' << machine << "\n\n";
    line(header);
    out << std::string(widths[0] + widths[1] + widths[2] + 6 + header.verdict.size(), '-') << '\n';
    for (const Row& row : rows)
        line(row);
}

std::string machine_summary()
{
    std::string model = "unknown CPU";
    std::ifstream cpuinfo("/proc/cpuinfo");
    for (std::string text; std::getline(cpuinfo, text);) {
        if (text.rfind("model name", 0) == 0 && text.find(':') != std::string::npos) {
            model = text.substr(text.find(':') + 2);
            break;
        }
    }
    utsname system{};
    const std::string kernel = ::uname(&system) == 0 ? std::string(system.sysname) + ' ' + system.release : "unknown kernel";
    return format("machine: %s, %ld CPUs online, %s", model.c_str(), ::sysconf(_SC_NPROCESSORS_ONLN), kernel.c_str());
}

}  // namespace kelvara::bench
