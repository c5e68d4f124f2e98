#include <benchmark/benchmark.h>

// One entry point for every benchmark source in this folder.
BENCHMARK_MAIN();
