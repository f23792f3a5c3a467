// The console output of a benchmark program, and each benchmark's median
// (its one measurement when it ran without repetitions) kept by cell, for
// the table of ratios to OpenCV a program prints after it. A benchmark
// named "<cell>/<what>" or "<cell>/<what>/threads:N" is kept under <cell>
// as <what>, on N threads (1 without the suffix).
#pragma once

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace lowpass::bench {

class MedianReporter : public benchmark::ConsoleReporter {
public:
    struct Median {
        std::string what;
        int threads;
        double real, cpu;  // in the benchmark's unit
    };

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (!median && !(run.run_type == Run::RT_Iteration && run.repetitions <= 1)) continue;
            std::string name = run.run_name.function_name;
            int threads = 1;
            const std::size_t last = name.rfind('/');
            if (last != std::string::npos && name.compare(last + 1, 8, "threads:") == 0) {
                threads = std::atoi(name.c_str() + last + 9);
                name.resize(last);
            }
            const std::size_t slash = name.rfind('/');
            if (slash == std::string::npos) continue;
            cells_[name.substr(0, slash)].push_back(
                Median{name.substr(slash + 1), threads, run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()});
        }
    }

protected:
    std::map<std::string, std::vector<Median>> cells_;
};

}  // namespace lowpass::bench
