#pragma once
// A console reporter that also keeps the median time per call of each benchmark as the
// console shows it, so that a run can end with its ratios.

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

class MedianKeeper : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> median;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.aggregate_name == "median")
                median[run.run_name.function_name] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
};
