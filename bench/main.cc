// The benchmarks on a simulated board: each case and its floor, then a table
// of the ratios. --benchmark_out=FILE --benchmark_out_format=json keeps the
// figures.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>

#include "bench/cases.h"
#include "board/control/process_board.h"

namespace {

using nolva::bench::Case;

constexpr char kFloorPrefix[] = "floor: ";

// The console's report, keeping each run's time per call (in ns).
class Reporter : public benchmark::ConsoleReporter {
 public:
  Reporter() : ConsoleReporter(isatty(1) ? OO_ColorTabular : OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (run.run_type != Run::RT_Iteration && !median) continue;
      const std::string& name = run.run_name.function_name;
      // With repetitions the median stands for the case.
      if (!median && medians.count(name) != 0) continue;
      if (median) medians.insert(name);
      const double seconds = (run.run_name.time_type == "real_time" ? run.real_accumulated_time
                                                                    : run.cpu_accumulated_time) /
                             static_cast<double>(run.iterations);
      times[name] = seconds * 1e9;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;
  std::set<std::string> medians;
};

std::string Duration(double ns) {
  char text[32];
  if (ns >= 1e6)
    std::snprintf(text, sizeof text, "%.2f ms", ns / 1e6);
  else
    std::snprintf(text, sizeof text, "%.1f us", ns / 1e3);
  return text;
}

// The board's usleep returns at once and logs the pause asked for: the
// pause a call would take on the device, recorded rather than slept.
double RecordedPauseSeconds() {
  double seconds = 0;
  for (const std::string& line : nolva::board::LogLines(nolva::board::BoardDirectory())) {
    if (line.rfind("usleep ", 0) == 0) seconds += std::stod(line.substr(7)) / 1e6;
  }
  return seconds;
}

void Register(const Case& c) {
  auto run = [c](benchmark::State& state, const std::function<void(nolva::DeviceManager&)>& body) {
    nolva::board::WipeBoard();
    c.arrange();
    nolva::DeviceManager manager;
    for (auto _ : state)
      body(manager);
    const double paused = RecordedPauseSeconds();
    if (paused > 0)
      state.counters["pause_s"] = benchmark::Counter(paused, benchmark::Counter::kAvgIterations);
  };
  benchmark::internal::Benchmark* b = benchmark::RegisterBenchmark(c.name.c_str(), run, c.measure);
  // A program of its own is timed by the clock; a call by the CPU it took,
  // which a loaded machine does not inflate.
  if (c.ownProcess) b->UseRealTime();
  if (!c.floor) return;
  auto floor = [c](nolva::DeviceManager&) { c.floor(); };
  benchmark::RegisterBenchmark((kFloorPrefix + c.name).c_str(), run, floor);
}

// Exit status 0 even when a goal is missed: the figures are reported, not
// enforced (benchmarks are not part of CI).
void PrintTable(const std::vector<Case>& cases, const std::map<std::string, double>& times) {
  std::printf("\n%-36s %12s %12s %7s  %s\n", "operation", "time", "floor", "ratio", "goal");
  for (const Case& c : cases) {
    const auto op = times.find(c.name);
    if (op == times.end()) continue;
    const auto floor = times.find(kFloorPrefix + c.name);
    if (floor == times.end()) {
      std::printf("%-36s %12s %12s %7s  %s\n", c.name.c_str(), Duration(op->second).c_str(), "-",
                  "-", "-");
      continue;
    }
    const double ratio = op->second / floor->second;
    std::printf("%-36s %12s %12s %7.2f  %s %.1fx\n", c.name.c_str(), Duration(op->second).c_str(),
                Duration(floor->second).c_str(), ratio, ratio <= c.goal ? "met, <=" : "MISSED, >",
                c.goal);
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  nolva::board::BoardOptions options;
  options.mtdSize = 16u << 20;  // room for the 8 MiB image and its extra erase block
  nolva::board::StartBoard(options);
  const std::vector<Case> cases = nolva::bench::Cases();
  for (const Case& c : cases)
    Register(c);
  Reporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  PrintTable(cases, reporter.times);
  benchmark::Shutdown();
  return 0;
}
