#pragma once
// The in-process benchmarks of the sensor sweep, run through Google Benchmark:
// sweeps with their real pauses, sweeps on a line layer that charges every
// line operation a real ioctl's cost, line operations counted, and the bit
// rate of the bus master with its pauses counted but not slept.

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace kelvara::bench {

// Benchmark names; "<name>/1-8" and so on name the sensor range.
inline constexpr char SWEEP[] = "sweep";                  // real pauses, plain simulated bus
inline constexpr char COSTED_SWEEP[] = "costed_sweep";    // real pauses, every line op costs an ioctl
inline constexpr char SWEEPS_IN_A_ROW[] = "sweeps_in_a_row";  // 20 sweeps 1-8, one after the other
inline constexpr char LINE_OPS[] = "line_ops";            // counted, pauses counted not slept
inline constexpr char MIXED_LINE_OPS[] = "mixed_line_ops";    // the same on the bus with empty slots
inline constexpr char BIT_RATE[] = "bit_rate";            // pauses counted not slept; also the
                                                          // sweep that skipped-pause timings subtract

inline constexpr int SWEEPS_BACK_TO_BACK = 20;

// Counter names of the line_ops benchmarks.
inline constexpr char COUNTED_OPS[] = "counted_ops";
inline constexpr char PRESCRIBED_OPS[] = "prescribed_ops";
inline constexpr char PRESCRIBED_BITS[] = "prescribed_bits";
inline constexpr char PAUSE_MS[] = "pause_ms";

std::string benchmark_name(const char* kind, int first, int last);

struct BenchSetup {
    std::string bus;        // simulated device with a chip at every sensor
    std::string mixed_bus;  // simulated device with empty slots
    int repetitions = 7;
    std::chrono::nanoseconds line_op_cost{0};
};

// What one benchmark measured: the real time per iteration of every
// repetition, and the counters of its first repetition.
struct BenchResult {
    std::vector<double> seconds;
    std::map<std::string, double> counters;
    std::string error;

    double median_seconds() const;
};

using BenchResults = std::map<std::string, BenchResult>;

// Registers the benchmarks; the ports must already point at the buses.
void register_sweep_benchmarks(const BenchSetup& setup);

// Runs what is registered (and selected by --benchmark_filter), reporting
// progress on stderr, and returns the results by benchmark name.
BenchResults run_registered_benchmarks();

}  // namespace kelvara::bench
