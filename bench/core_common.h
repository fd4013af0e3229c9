#pragma once

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>

namespace bench {

// A rate counter turned upside down: microseconds per iteration when fed iterations * 1e-6.
inline const benchmark::Counter::Flags kMicrosecondsEach =
    benchmark::Counter::kIsRate | benchmark::Counter::kInvert;

// KIVVO_BENCH_SMOKE=1: a quick check that the benchmarks still run, on tiny inputs.
inline bool smokeRun()
{
    const char* smoke = std::getenv("KIVVO_BENCH_SMOKE");
    return smoke && *smoke && std::strcmp(smoke, "0") != 0;
}

} // namespace bench
