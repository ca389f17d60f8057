// The benchmark program: runs the suite with Google Benchmark's usual
// output, then prints each benchmark beside its baseline as a Markdown
// table of ratios (benchmark, time, baseline, its time, ratio, target,
// whether the target is met).
//
// Everything runs with tracing off (trcEvents 0, whatever TRC_EVENTS says)
// on an initialised transaction system without a transaction limit, in a
// process that has had a second thread.  A
// ratio is the benchmark's time over its baseline's, both measured in this
// run; with --benchmark_repetitions each time is the median of the
// repetitions.  Single-threaded benchmarks are timed by their thread's CPU
// time, which a busy machine disturbs less than the wall clock; the
// two-thread ones ("real_time" in the name) by the wall clock, since time
// spent waiting for the other thread is part of what they measure.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "host/trc.h"
#include "libtransys/tran_api.h"

namespace {

// One row of the table.  A benchmark without a baseline shows a counter
// instead of a time.
struct comparison {
    const char* measured;
    const char* baseline;  // null: none
    double target;         // the greatest acceptable ratio or figure; 0: none yet
    const char* counter;   // null: compare times
};

const comparison comparisons[] = {
    {"tran/create_delete", "bare/create_delete", 1.10, nullptr},
    {"tran/create_delete/real_time/threads:2", "bare/create_delete/real_time/threads:2", 1.10,
     nullptr},
    {"tran/system_maxnum", "bare/system_maxnum", 1.5, nullptr},
    {"tran/timeout_sweep/1", "bare/timeout_sweep/1", 1.10, nullptr},
    {"tran/timeout_sweep/100", "bare/timeout_sweep/100", 1.10, nullptr},
    {"bare/timeout_sweep_kept/1", "bare/timeout_sweep/1", 0, nullptr},
    {"bare/timeout_sweep_kept/100", "bare/timeout_sweep/100", 0, nullptr},
    {"csgl/string_copy", "bare/mutex_pair_x2", 1.20, nullptr},
    {"std/shared_ptr_copy", "bare/mutex_pair_x2", 0, nullptr},
    {"csgl/output_file_64MiB", "bare/putc_unlocked_64MiB", 2.0, nullptr},
    {"csgl/file_copy_64MiB", "bare/read_write_copy_64MiB", 1.05, nullptr},
    {"csgl/exc_invalid_parameter", "std/runtime_error", 0, nullptr},
    {"tran/heap_per_transaction", nullptr, 64, "bytes_per_transaction"},
};

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// What one benchmark measured over its repetitions: the values of every
// repetition, or only their medians when the repetitions themselves are
// not reported (--benchmark_report_aggregates_only).
struct measurement {
    std::vector<double> seconds;  // per iteration
    std::map<std::string, std::vector<double>> counters;
    bool medians_only = false;

    double time() const { return median(seconds); }
    bool has(const std::string& counter) const { return counters.count(counter) != 0; }
    double counter(const std::string& name) const { return median(counters.at(name)); }
};

// The console output as usual, with every iteration run kept aside.
class ratio_reporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            const bool is_median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.run_type != Run::RT_Iteration && !is_median) continue;
            const std::string name = run.run_name.str();
            measurement& m = results_[name];
            if (is_median != m.medians_only) {
                if (!m.seconds.empty()) continue;  // repetitions already kept
                m.medians_only = is_median;
            }
            const bool wall = name.find("/real_time") != std::string::npos;
            const double time = wall ? run.GetAdjustedRealTime() : run.GetAdjustedCPUTime();
            m.seconds.push_back(time / benchmark::GetTimeUnitMultiplier(run.time_unit));
            for (const auto& counter : run.counters) {
                m.counters[counter.first].push_back(counter.second.value);
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    const measurement* find(const char* name) const {
        const auto found = results_.find(name);
        return found == results_.end() ? nullptr : &found->second;
    }

private:
    std::map<std::string, measurement> results_;
};

std::string time_text(double seconds) {
    const char* unit = "s";
    double value = seconds;
    if (seconds < 1e-6) {
        value = seconds * 1e9;
        unit = "ns";
    } else if (seconds < 1e-3) {
        value = seconds * 1e6;
        unit = "us";
    } else if (seconds < 1) {
        value = seconds * 1e3;
        unit = "ms";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.4g %s", value, unit);
    return text;
}

void print_row(const comparison& row, const ratio_reporter& results) {
    const measurement* const measured = results.find(row.measured);
    if (measured == nullptr) return;  // filtered out, or failed
    std::string time, baseline = "-", baseline_time = "-", ratio = "-", target = "-", met = "-";
    double figure;
    if (row.counter != nullptr) {
        if (!measured->has(row.counter)) return;
        figure = measured->counter(row.counter);
        char text[32];
        std::snprintf(text, sizeof text, "%.1f B", figure);
        time = text;
    } else {
        const measurement* const base = results.find(row.baseline);
        if (base == nullptr) return;
        time = time_text(measured->time());
        baseline = row.baseline;
        baseline_time = time_text(base->time());
        figure = measured->time() / base->time();
        char text[32];
        std::snprintf(text, sizeof text, "%.2f", figure);
        ratio = text;
    }
    if (row.target > 0) {
        char text[32];
        if (row.counter != nullptr) {
            std::snprintf(text, sizeof text, "<= %g B", row.target);
        } else {
            std::snprintf(text, sizeof text, "<= %.2f", row.target);
        }
        target = text;
        met = figure <= row.target ? "yes" : "NO";
    } else if (row.counter == nullptr) {
        target = "reported";
    }
    std::printf("| %s | %s | %s | %s | %s | %s | %s |\n", row.measured, time.c_str(),
                baseline.c_str(), baseline_time.c_str(), ratio.c_str(), target.c_str(),
                met.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    // The server is multi-threaded.  The C library takes cheaper paths in
    // its mutexes and its allocator while a process has never had a second
    // thread, so one is started and joined first: every benchmark then
    // meets the library as the server does, whichever of them run and in
    // whatever order.
    std::thread([] {}).join();

    trcEvents = 0;
    if (tran_api_system_init() != 0) {
        std::fprintf(stderr, "tran_api_system_init failed\n");
        return 1;
    }
    tran_api_set_maxnum(0);

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    ratio_reporter results;
    benchmark::RunSpecifiedBenchmarks(&results);
    benchmark::Shutdown();

    std::printf("\n| benchmark | time | baseline | baseline time | ratio | target | met? |\n");
    std::printf("|---|---|---|---|---|---|---|\n");
    for (const comparison& row : comparisons) print_row(row, results);
    return 0;
}
