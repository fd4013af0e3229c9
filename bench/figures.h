#pragma once

// How a benchmark program hands its figures to tools/bench, which prints them as one table next
// to their references and targets (tools/bench_table.py).
//
// A timing program prints one line per figure on stdout:
//     @figure<TAB><name><TAB><value> <value> ...
// with one value per repetition. A Google Benchmark program instead labels each benchmark with
// the figure's name (state.SetLabel) and puts the figure's value in the counter "value"; the
// table reads its JSON output (--benchmark_out), one value per repetition.

#include <cstdio>
#include <string>
#include <vector>

namespace bench {

inline void printFigure(const std::string& name, const std::vector<double>& values)
{
    std::printf("@figure\t%s\t", name.c_str());
    for (size_t i = 0; i < values.size(); ++i)
        std::printf(i ? " %.6g" : "%.6g", values[i]);
    std::printf("\n");
    std::fflush(stdout);
}

} // namespace bench
