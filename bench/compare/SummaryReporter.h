// SummaryReporter: the console reporter of Google Benchmark, which also
// keeps one figure per benchmark (the median when the runs are repeated,
// else the single run) so that the end of the run can print the two engines
// side by side: work | ours | SQLite | ratio, ratio = ours / SQLite (below 1
// we are faster, or smaller).
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace compare {

// What a line of the summary compares: a time per iteration (counter
// empty), or a counter, shown as a time (seconds) or as bytes.
struct SummaryLine {
  std::string work;
  std::string ours;  // benchmark names
  std::string sqlite;
  std::string counter;
  bool bytes = false;
};

class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  // A reporter given to RunSpecifiedBenchmarks does not follow
  // --benchmark_color, so color goes only to a terminal.
  explicit SummaryReporter(bool color) : ConsoleReporter(color ? OO_Defaults : OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& reports) override;
  // Lines whose benchmarks did not run (filtered out) are left out; a
  // benchmark that failed shows its error.
  void PrintSummary(std::ostream& out, const std::vector<SummaryLine>& lines) const;

 private:
  struct Figure {
    double seconds = 0;  // wall clock per iteration
    std::map<std::string, double> counters;
    std::string error;
  };
  std::map<std::string, Figure> figures_;
};

}  // namespace compare
