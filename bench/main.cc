// The benchmarks on a simulated board: each case and its floor, then a table
// of the ratios. --benchmark_out=FILE --benchmark_out_format=json keeps the
// figures.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>

#include "bench/cases.h"
#include "board/process_board.h"

namespace {

using nolva::bench::Case;

constexpr char kFloorPrefix[] = "floor: ";

// The console's report, keeping each run's time per call (in ns).
class Reporter : public benchmark::ConsoleReporter {
 public:
  Reporter() : ConsoleReporter(isatty(1) ? OO_ColorTabular : OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred || run.run_type != Run::RT_Iteration) continue;
      const double seconds = (run.run_name.time_type == "real_time" ? run.real_accumulated_time
                                                                    : run.cpu_accumulated_time) /
                             static_cast<double>(run.iterations);
      times[run.run_name.function_name] = seconds * 1e9;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;
};

std::string Duration(double ns) {
  char text[32];
  if (ns >= 1e6)
    std::snprintf(text, sizeof text, "%.2f ms", ns / 1e6);
  else
    std::snprintf(text, sizeof text, "%.1f us", ns / 1e3);
  return text;
}

void Register(const Case& c) {
  auto run = [c](benchmark::State& state, const std::function<void(nolva::DeviceManager&)>& body) {
    nolva::board::WipeBoard();
    c.arrange();
    nolva::DeviceManager manager;
    for (auto _ : state)
      body(manager);
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
  nolva::board::StartBoard();
  const std::vector<Case> cases = nolva::bench::Cases();
  for (const Case& c : cases)
    Register(c);
  Reporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  PrintTable(cases, reporter.times);
  benchmark::Shutdown();
  return 0;
}
