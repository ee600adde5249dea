#pragma once
// Turns the measurements of a bench run into the one table `make bench`
// prints: what was measured, its value, the goal, and whether it was met.

#include <iosfwd>
#include <string>
#include <vector>

#include "bench/program_benchmarks.h"
#include "bench/pty_ioctl_cost.h"
#include "bench/sweep_benchmarks.h"

namespace kelvara::bench {

// The pauses a sweep must make: 100 and 50 ms as the bus opens, then eight
// 50 ms pauses after the conversions start.
inline constexpr double SWEEP_FLOOR_MS = 100 + 50 + 8 * 50;

struct Measurements {
    std::string bus;
    std::string mixed_bus;
    int runs = 0;
    IoctlCost ioctl;
    BenchResults sweeps;
    ServerRun server_slept;
    ServerRun server_skipped;
    PageRuns pages_slept;
    PageRuns pages_skipped;
};

struct Row {
    std::string measure;
    std::string value;
    std::string goal;     // "-" when the row only informs
    std::string verdict;  // "yes", "NO", "-" (no goal) or "?" (not measured)
};

std::vector<Row> build_rows(const Measurements& m);

// The table, preceded by a title line and the machine it ran on.
void print_table(std::ostream& out, const std::string& title, const std::string& machine,
                 const std::vector<Row>& rows);

// CPU model, CPU count and kernel, in one line.
std::string machine_summary();

}  // namespace kelvara::bench
