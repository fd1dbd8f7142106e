#include "SummaryReporter.h"

#include <cstdio>
#include <iomanip>
#include <optional>

namespace compare {

void SummaryReporter::ReportRuns(const std::vector<Run>& reports) {
  ConsoleReporter::ReportRuns(reports);
  for (const Run& run : reports) {
    const bool figure = run.run_type == Run::RT_Aggregate ? run.aggregate_name == "median" : run.repetitions <= 1;
    if (!figure && !run.error_occurred) continue;
    Figure& f = figures_[run.run_name.function_name];
    if (run.error_occurred) {
      f.error = run.error_message;
      continue;
    }
    f.seconds = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
    for (const auto& [name, counter] : run.counters) f.counters[name] = counter.value;
  }
}

namespace {

std::string TimeText(double seconds) {
  char text[32];
  if (seconds >= 1)
    std::snprintf(text, sizeof text, "%.3g s", seconds);
  else if (seconds >= 1e-3)
    std::snprintf(text, sizeof text, "%.3g ms", seconds * 1e3);
  else if (seconds >= 1e-6)
    std::snprintf(text, sizeof text, "%.3g us", seconds * 1e6);
  else
    std::snprintf(text, sizeof text, "%.3g ns", seconds * 1e9);
  return text;
}

}  // namespace

void SummaryReporter::PrintSummary(std::ostream& out, const std::vector<SummaryLine>& lines) const {
  // The value of one side as text, and as a number for the ratio.
  auto side = [&](const std::string& name, const SummaryLine& line, std::optional<double>& value) -> std::string {
    const auto at = figures_.find(name);
    if (at == figures_.end()) return "";
    if (!at->second.error.empty()) return "error";
    if (line.counter.empty()) {
      value = at->second.seconds;
      return TimeText(*value);
    }
    const auto c = at->second.counters.find(line.counter);
    if (c == at->second.counters.end()) return "no " + line.counter;
    value = c->second;
    return line.bytes ? std::to_string(static_cast<int64_t>(*value)) + " B" : TimeText(*value);
  };
  out << "\n"
      << std::left << std::setw(52) << "work" << std::right << std::setw(14) << "ours" << std::setw(14) << "SQLite"
      << std::setw(9) << "ratio"
      << "\n"
      << std::string(89, '-') << "\n";
  for (const SummaryLine& line : lines) {
    std::optional<double> ours, sqlite;
    const std::string oursText = side(line.ours, line, ours);
    const std::string sqliteText = side(line.sqlite, line, sqlite);
    if (oursText.empty() && sqliteText.empty()) continue;
    std::string ratio = "-";
    if (ours && sqlite && *sqlite > 0) {
      char text[16];
      std::snprintf(text, sizeof text, "%.2f", *ours / *sqlite);
      ratio = text;
    }
    out << std::left << std::setw(52) << line.work << std::right << std::setw(14) << (oursText.empty() ? "-" : oursText)
        << std::setw(14) << (sqliteText.empty() ? "-" : sqliteText) << std::setw(9) << ratio << "\n";
  }
  out << "ratio = ours / SQLite: below 1 we are faster (or smaller)\n";
}

}  // namespace compare
