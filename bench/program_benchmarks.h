#pragma once
// Whole-process timings of the built programs on the loopback interface:
// kvquery and datagram round trips to a kvserver, requests back to back,
// kvpage runs with and without its template, and peak resident memory. Every
// process started here is stopped here, and every wait has a limit.

#include <optional>
#include <string>
#include <vector>

namespace kelvara::bench {

struct ProgramSetup {
    std::string bin_dir;            // kvserver, kvquery, kvpage and skeleton.html
    std::string no_pause_library;   // preloaded where pauses are skipped
    std::string round_trip_probe;   // preloaded into kvquery: times its own round trip
    std::string probe_file;         // where the probe writes
    std::string empty_dir;          // a working folder without a template
    std::string first_reading;      // the text sensor 1 reads as, e.g. "21.5"
    int runs = 7;          // with pauses slept
    int fast_runs = 51;    // with pauses skipped
    int memory_requests = 1000;
};

// Pauses skipped: a preloaded nanosleep returns at once, so the program's own
// cost is not buried in the jitter of ten sleeps, and a thousand requests take
// seconds, not minutes. What goes on the lines, and the memory, are the same.
enum class Pauses { slept, skipped };

// kvserver on a free loopback port. With pauses skipped, memory_requests
// requests of every kind come first. Then kvquery -what 1-8 runs, runs of
// them (slept) or fast_runs (skipped). Last, with pauses slept,
// SWEEPS_BACK_TO_BACK requests sent at once.
struct ServerRun {
    std::vector<double> round_trip_seconds;     // kvquery's request out, reply in, timed inside kvquery
    std::vector<double> kvquery_seconds;        // the same runs, start to exit
    std::optional<double> back_to_back_seconds; // all answered
    int first_requests = 0;                     // skipped: 10; slept: those before the back-to-back ones
    std::optional<long> peak_after_first_kib;
    int requests = 0;                           // answered in all
    std::optional<long> peak_rss_kib;           // after all of them
    std::string error;
};

// kvpage with what=1-8&format=html, start to exit, taken in turns: with its
// template, with the built-in page (no template in its folder) and, with
// pauses skipped, an empty process (/bin/true) for the least any process costs.
struct PageRuns {
    std::vector<double> template_seconds;
    std::vector<double> builtin_seconds;
    std::vector<double> empty_process_seconds;
    long peak_rss_kib = 0;  // kvpage's, the largest of the runs
    std::string error;
};

ServerRun measure_server(const ProgramSetup& setup, Pauses pauses);

PageRuns measure_kvpage(const ProgramSetup& setup, Pauses pauses);

}  // namespace kelvara::bench
