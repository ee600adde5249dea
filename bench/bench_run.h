#pragma once
// kvbench's one job: measure everything on simulated buses and print the table.

#include <iosfwd>
#include <optional>
#include <string>

namespace kelvara::bench {

struct BenchOptions {
    std::string bin_dir;           // where the programs are; kvbench's own folder by default
    std::string no_pause_library;  // the preload that skips the programs' pauses
    std::string round_trip_probe;  // the preload that times kvquery's round trip
    int runs = 7;                  // repetitions of each timed sweep and program run
    int fast_runs = 49;            // program runs with the pauses skipped: 7 x runs
    int memory_requests = 1000;
};

// Reads "--bin DIR", "--runs N" and "--requests N" (what Google Benchmark
// left of the command line); nothing, with a message in error, when they do
// not make sense.
std::optional<BenchOptions> parse_bench_options(int argc, char** argv, std::string& error);

// Runs the whole bench in a private temporary folder and writes the table to
// out, progress to stderr. Returns 0, or 1 when the bench could not run.
int run_bench(const BenchOptions& options, std::ostream& out);

}  // namespace kelvara::bench
