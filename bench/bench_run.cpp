#include "bench/bench_run.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <system_error>

#include "bench/bench_ports.h"
#include "bench/bench_report.h"
#include "common/decimal.h"

namespace kelvara::bench {

namespace {

namespace fs = std::filesystem;

// A chip at every sensor, and the demo's bus with empty slots.
constexpr char BUS[] = "sim:21.5,22,22.5,23,23.5,24,24.5,25";
constexpr char FIRST_READING[] = "21.5";
constexpr char MIXED_BUS[] = "sim:21.5,19,-,23.5";

std::string own_folder()
{
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    return error ? std::string(".") : self.parent_path().string();
}

// A private TMPDIR, so the simulated ports' locks are ours alone; removed
// when the run ends.
class PrivateTemp {
public:
    PrivateTemp()
    {
        std::string pattern = (fs::temp_directory_path() / "kvbench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr)
            path_ = pattern;
    }
    ~PrivateTemp()
    {
        std::error_code ignored;
        if (!path_.empty())
            fs::remove_all(path_, ignored);
    }
    PrivateTemp(const PrivateTemp&) = delete;
    PrivateTemp& operator=(const PrivateTemp&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

bool is_file(const std::string& path)
{
    std::error_code error;
    return fs::is_regular_file(path, error);
}

}  // namespace

std::optional<BenchOptions> parse_bench_options(int argc, char** argv, std::string& error)
{
    BenchOptions options;
    options.bin_dir = own_folder();
#ifdef KVBENCH_NO_PAUSE_LIBRARY
    options.no_pause_library = KVBENCH_NO_PAUSE_LIBRARY;
#endif
#ifdef KVBENCH_ROUND_TRIP_PROBE
    options.round_trip_probe = KVBENCH_ROUND_TRIP_PROBE;
#endif
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (value == nullptr || (arg != "--bin" && arg != "--runs" && arg != "--requests")) {
            error = "unknown or incomplete option: " + arg;
            return std::nullopt;
        }
        ++i;
        if (arg == "--bin")
            options.bin_dir = value;
        else if (arg == "--runs")
            options.runs = read_decimal(value);
        else
            options.memory_requests = read_decimal(value);
    }
    if (options.runs < 1 || options.runs > 100 || options.memory_requests < 10 || options.memory_requests > 100000) {
        error = "--runs takes 1 to 100, --requests 10 to 100000";
        return std::nullopt;
    }
    options.fast_runs = 7 * options.runs;
    return options;
}

int run_bench(const BenchOptions& options, std::ostream& out)
{
    for (const char* program : {"kvserver", "kvquery", "kvpage", "skeleton.html"}) {
        if (!is_file(options.bin_dir + "/" + program)) {
            std::cerr << "kvbench: " << options.bin_dir << "/" << program << " is missing; build it first\n";
            return 1;
        }
    }
    PrivateTemp temp;
    if (temp.path().empty()) {
        std::cerr << "kvbench: no temporary folder\n";
        return 1;
    }
    ::setenv("TMPDIR", temp.path().c_str(), 1);
    use_simulated_ports(BUS, MIXED_BUS);
    const std::string empty_dir = temp.path() + "/no-template";
    fs::create_directory(empty_dir);

    Measurements m;
    m.bus = BUS;
    m.mixed_bus = MIXED_BUS;
    m.runs = options.runs;

    std::cerr << "kvbench: timing an ioctl on a pseudo-terminal\n";
    m.ioctl = measure_pty_ioctl_cost();

    register_sweep_benchmarks(BenchSetup{BUS, MIXED_BUS, options.runs, m.ioctl.per_call});
    m.sweeps = run_registered_benchmarks();

    ProgramSetup programs;
    programs.bin_dir = options.bin_dir;
    programs.no_pause_library = options.no_pause_library;
    programs.round_trip_probe = options.round_trip_probe;
    programs.probe_file = temp.path() + "/round-trip";
    programs.empty_dir = empty_dir;
    programs.first_reading = FIRST_READING;
    programs.runs = options.runs;
    programs.fast_runs = options.fast_runs;
    programs.memory_requests = options.memory_requests;

    std::cerr << "kvbench: kvserver and kvquery, pauses slept\n";
    m.server_slept = measure_server(programs, Pauses::slept);
    std::cerr << "kvbench: kvserver over " << options.memory_requests << " requests and kvquery, pauses skipped\n";
    m.server_skipped = measure_server(programs, Pauses::skipped);
    std::cerr << "kvbench: kvpage\n";
    m.pages_slept = measure_kvpage(programs, Pauses::slept);
    m.pages_skipped = measure_kvpage(programs, Pauses::skipped);

    const std::string title = "Kelvara bench: bus " + m.bus + ", medians of " + std::to_string(options.runs) +
                              " runs with pauses slept, " + std::to_string(options.fast_runs) +
                              " with them skipped; floor 550 ms";
    print_table(out, title, machine_summary(), build_rows(m));
    return 0;
}

}  // namespace kelvara::bench
