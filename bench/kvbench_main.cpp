// kvbench: times the sensor sweep and the programs on simulated buses and
// prints one table. Google Benchmark's own options (--benchmark_filter, ...)
// are taken first; then --bin DIR, --runs N and --requests N.

#include <benchmark/benchmark.h>

#include <iostream>

#include "bench/bench_run.h"

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    std::string error;
    const auto options = kelvara::bench::parse_bench_options(argc, argv, error);
    if (!options) {
        std::cerr << "kvbench: " << error << '\n';
        return 2;
    }
    return kelvara::bench::run_bench(*options, std::cout);
}
