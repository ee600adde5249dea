#include "bench/sweep_benchmarks.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <iostream>
#include <optional>

#include "bench/bench_ports.h"
#include "bench/counting_lines.h"
#include "bench/prescribed_sweep_cost.h"
#include "sensorbus/ds1621_sensor.h"
#include "sensorbus/line_access.h"

namespace kelvara::bench {

namespace {

long counted_pause_ms = 0;

void count_pause(int milliseconds) { counted_pause_ms += milliseconds; }

// While alive, the bus's millisecond pauses are added up instead of slept.
class PausesCounted {
public:
    PausesCounted() : previous_(set_sleep_hook(count_pause)) { counted_pause_ms = 0; }
    ~PausesCounted() { set_sleep_hook(previous_); }
    PausesCounted(const PausesCounted&) = delete;
    PausesCounted& operator=(const PausesCounted&) = delete;

private:
    SleepHook previous_;
};

// One sweep; an error text when a sensor in the range did not read cleanly,
// which on a bus with every chip present means the timing is not of a sweep
// that worked (the port held by someone else, say).
std::optional<std::string> sweep(int port, int first, int last, bool all_present)
{
    std::int8_t status[SENSOR_COUNT] = {};
    std::int16_t temperature[SENSOR_COUNT] = {};
    read_sensors(status, temperature, first, last, port);
    benchmark::DoNotOptimize(temperature);
    if (all_present) {
        for (int n = first; n <= last; ++n) {
            if (status[n - 1] != 0)
                return "sensor " + std::to_string(n) + " read status " + std::to_string(status[n - 1]);
        }
    }
    return std::nullopt;
}

// Sweeps with every pause slept, on the port given.
void timed_sweeps(benchmark::State& state, int port, int first, int last)
{
    for (auto _ : state) {
        if (auto error = sweep(port, first, last, true)) {
            state.SkipWithError(error->c_str());
            break;
        }
    }
}

void count_line_ops(benchmark::State& state, int port, const std::string& bus, int first, int last,
                    bool all_present)
{
    CountingLines lines;
    PausesCounted pauses;
    for (auto _ : state) {
        lines.clear();
        counted_pause_ms = 0;
        if (auto error = sweep(port, first, last, all_present)) {
            state.SkipWithError(error->c_str());
            return;
        }
    }
    state.counters[COUNTED_OPS] = static_cast<double>(lines.counts().line_ops());
    state.counters[PAUSE_MS] = static_cast<double>(counted_pause_ms);
    if (const auto cost = prescribed_sweep_cost(bus.c_str(), first, last)) {
        state.counters[PRESCRIBED_OPS] = static_cast<double>(cost->line_ops);
        state.counters[PRESCRIBED_BITS] = static_cast<double>(cost->bits);
    }
}

class Collector final : public benchmark::BenchmarkReporter {
public:
    bool ReportContext(const Context&) override { return true; }

    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration)
                continue;
            BenchResult& result = results[run.run_name.function_name];
            if (run.error_occurred) {
                result.error = run.error_message;
                std::cerr << "kvbench: " << run.run_name.function_name << ": " << run.error_message << '\n';
                continue;
            }
            if (run.iterations > 0)
                result.seconds.push_back(run.real_accumulated_time / static_cast<double>(run.iterations));
            if (result.counters.empty()) {
                for (const auto& [name, counter] : run.counters)
                    result.counters[name] = counter.value;
            }
        }
        // Aggregates of the same benchmark come in a call of their own.
        if (!runs.empty() && runs.front().run_type == Run::RT_Iteration)
            std::cerr << "kvbench: " << runs.front().run_name.function_name << " measured\n";
    }

    BenchResults results;
};

}  // namespace

std::string benchmark_name(const char* kind, int first, int last)
{
    return std::string(kind) + '/' + std::to_string(first) + '-' + std::to_string(last);
}

double BenchResult::median_seconds() const
{
    if (seconds.empty())
        return 0.0;
    std::vector<double> sorted = seconds;
    std::sort(sorted.begin(), sorted.end());
    const std::size_t mid = sorted.size() / 2;
    return sorted.size() % 2 == 1 ? sorted[mid] : (sorted[mid - 1] + sorted[mid]) / 2.0;
}

void register_sweep_benchmarks(const BenchSetup& setup)
{
    const int repetitions = std::max(1, setup.repetitions);
    const std::chrono::nanoseconds cost = setup.line_op_cost;
    for (const auto& [first, last] : {std::pair{1, 1}, std::pair{1, 8}}) {
        benchmark::RegisterBenchmark(benchmark_name(SWEEP, first, last).c_str(),
                                     [first = first, last = last](benchmark::State& state) {
                                         timed_sweeps(state, PLAIN_PORT, first, last);
                                     })
            ->Iterations(1)->Repetitions(repetitions)->UseRealTime()->Unit(benchmark::kMillisecond);

        benchmark::RegisterBenchmark(benchmark_name(COSTED_SWEEP, first, last).c_str(),
                                     [first = first, last = last, cost](benchmark::State& state) {
                                         CountingLines lines(cost);
                                         timed_sweeps(state, COUNTED_PORT, first, last);
                                     })
            ->Iterations(1)->Repetitions(repetitions)->UseRealTime()->Unit(benchmark::kMillisecond);

        benchmark::RegisterBenchmark(benchmark_name(LINE_OPS, first, last).c_str(),
                                     [bus = setup.bus, first = first, last = last](benchmark::State& state) {
                                         count_line_ops(state, COUNTED_PORT, bus, first, last, true);
                                     })
            ->Iterations(1)->UseRealTime();
    }

    benchmark::RegisterBenchmark(benchmark_name(MIXED_LINE_OPS, 1, 8).c_str(),
                                 [bus = setup.mixed_bus](benchmark::State& state) {
                                     count_line_ops(state, MIXED_PORT, bus, 1, 8, false);
                                 })
        ->Iterations(1)->UseRealTime();

    benchmark::RegisterBenchmark(benchmark_name(SWEEPS_IN_A_ROW, 1, 8).c_str(), [](benchmark::State& state) {
        timed_sweeps(state, PLAIN_PORT, 1, 8);
    })->Iterations(SWEEPS_BACK_TO_BACK)->UseRealTime()->Unit(benchmark::kMillisecond);

    // Auto iterations: with the pauses counted, a sweep is all bit loop.
    benchmark::RegisterBenchmark(benchmark_name(BIT_RATE, 1, 8).c_str(), [](benchmark::State& state) {
        PausesCounted pauses;
        timed_sweeps(state, PLAIN_PORT, 1, 8);
    })->MinTime(0.2)->Repetitions(repetitions)->UseRealTime()->Unit(benchmark::kMicrosecond);
}

BenchResults run_registered_benchmarks()
{
    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    return collector.results;
}

}  // namespace kelvara::bench
