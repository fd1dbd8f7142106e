// zudsql: an SQL shell over one database file.
//
//   zudsql FILE [--password P] [-c "TEXT"] [--csv | --json] [--param NAME=VALUE]...
//
// The text comes from -c, else from the standard input: read line by line
// with editing and history when it is a terminal, else read whole as a
// script. Statements end with ";" outside quoted text; each runs on its own
// and a query prints its rows: an aligned table (default), CSV or JSON,
// then its row count, RowsAffected and the time taken (on stderr for CSV
// and JSON, so the rows stay machine-readable). Parameters are typed by
// their form: integer, decimal (point), 'quoted text', DATE 'yyyy-mm-dd',
// NULL. An error prints the engine's message with its native code; in a
// script or with -c it ends the run with exit status 1.
//
// Dot commands, alone on a line: .tables, .schema [TABLE], .check (the
// engine's database check), .quit.
//
// The database is opened as one more multi-user connection, beside the
// program and zudadmin.
#include <readline/history.h>
#include <readline/readline.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <iomanip>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "disk/DatabaseCheck.h"
#include "disk/ZUDSecurity.h"
#include "local/ZUDLocalEngine.h"
#include "sql/ABSSQLProcessor.h"

namespace {

enum class Format { Table, Csv, Json };

struct Options {
  std::string file;
  TABSPassword password;
  std::string command;
  bool hasCommand = false;
  Format format = Format::Table;
  std::vector<std::pair<std::string, std::string>> params;
};

struct UsageError {
  std::string text;
};

std::string Trim(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t\r\n"), e = s.find_last_not_of(" \t\r\n");
  return b == std::string::npos ? "" : s.substr(b, e - b + 1);
}

int32_t DayNumber(int y, unsigned m, unsigned d) {
  using namespace std::chrono;
  const year_month_day date{year{y} / month{m} / day{d}};
  if (!date.ok()) throw UsageError{"invalid date"};
  return static_cast<int32_t>((sys_days{date} - sys_days{year{1} / January / 1}).count() + 1);
}

// A parameter's value by its form.
void ParseParam(const std::string& text, TABSVariant& value) {
  const std::string t = Trim(text);
  if (t == "NULL" || t == "null") {
    value.Clear();
    return;
  }
  if (t.size() >= 2 && t.front() == '\'' && t.back() == '\'') {
    std::string s;
    for (size_t i = 1; i + 1 < t.size(); ++i) {
      s.push_back(t[i]);
      if (t[i] == '\'' && i + 2 < t.size() && t[i + 1] == '\'') ++i;
    }
    value.SetAsString(s);
    return;
  }
  if ((t.rfind("DATE '", 0) == 0 || t.rfind("date '", 0) == 0) && t.size() == 17 && t.back() == '\'') {
    int y = 0;
    unsigned m = 0, d = 0;
    if (std::sscanf(t.c_str() + 6, "%4d-%2u-%2u", &y, &m, &d) != 3) throw UsageError{"invalid date: " + t};
    value.SetAsDate(DayNumber(y, m, d));
    return;
  }
  size_t used = 0;
  try {
    if (t.find_first_of(".eE") == std::string::npos) {
      const long long n = std::stoll(t, &used);
      if (used == t.size()) {
        value.SetAsLargeint(n);
        return;
      }
    } else {
      const double x = std::stod(t, &used);
      if (used == t.size()) {
        value.SetAsDouble(x);
        return;
      }
    }
  } catch (const std::exception&) {
  }
  throw UsageError{"a parameter value is an integer, a decimal, 'text', DATE 'yyyy-mm-dd' or NULL: " + t};
}

Options ParseOptions(int argc, char** argv) {
  Options o;
  std::vector<std::string> args(argv + 1, argv + argc);
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size()) throw UsageError{"missing value for " + a};
      return args[++i];
    };
    if (a == "--password") {
      o.password = PasswordFromUtf8(value());
    } else if (a == "-c") {
      o.command = value();
      o.hasCommand = true;
    } else if (a == "--csv") {
      o.format = Format::Csv;
    } else if (a == "--json") {
      o.format = Format::Json;
    } else if (a == "--param") {
      const std::string& p = value();
      const size_t eq = p.find('=');
      if (eq == std::string::npos || eq == 0) throw UsageError{"--param needs NAME=VALUE"};
      o.params.emplace_back(p.substr(0, eq), p.substr(eq + 1));
    } else if (!a.empty() && a[0] == '-') {
      throw UsageError{"unknown option: " + a};
    } else if (o.file.empty()) {
      o.file = a;
    } else {
      throw UsageError{"one database file only"};
    }
  }
  if (o.file.empty()) throw UsageError{"missing FILE"};
  return o;
}

// Splits a text into statements at ";" outside quotes and brackets.
// Returns the complete statements; what follows the last ";" stays in
// `rest`.
std::vector<std::string> SplitStatements(const std::string& text, std::string& rest) {
  std::vector<std::string> statements;
  std::string current;
  char quote = 0;
  for (char c : text) {
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '\'' || c == '"' || c == '`') {
      quote = c;
    } else if (c == '[') {
      quote = ']';
    } else if (c == ';') {
      if (!Trim(current).empty()) statements.push_back(current);
      current.clear();
      continue;
    }
    current.push_back(c);
  }
  rest = current;
  return statements;
}

std::string CsvQuote(const std::string& s) {
  if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
  std::string out = "\"";
  for (char c : s) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

bool IsNumeric(TABSDataType t) { return (t >= aftShortint && t <= aftExtended) || t == aftCurrency; }

class Shell {
 public:
  explicit Shell(Options options) : options_(std::move(options)) {
    TABSConnectOptions connect;
    connect.fileName = options_.file;
    connect.databaseName = "zudsql";
    connect.password = options_.password;
    connect.multiUser = true;
    session_.Connect(connect);
    for (const auto& [name, text] : options_.params) {
      TABSSQLParam* p = params_.AddParam();
      p->Name = name;
      ParseParam(text, *p);
    }
  }
  ~Shell() { session_.Disconnect(); }

  // Runs one statement or dot command; false when it failed.
  bool Run(const std::string& text, bool& quit) {
    const std::string t = Trim(text);
    if (t.empty()) return true;
    try {
      if (t[0] == '.') return Dot(t, quit);
      Statement(t);
      return true;
    } catch (const EABSException& e) {
      std::cout.flush();
      std::cerr << "zudsql: " << e.what() << "\n";
    } catch (const std::exception& e) {
      std::cout.flush();
      std::cerr << "zudsql: " << e.what() << "\n";
    }
    return false;
  }

 private:
  bool Dot(const std::string& t, bool& quit) {
    std::istringstream words(t);
    std::string command, arg;
    words >> command >> arg;
    if (command == ".quit" || command == ".exit") {
      quit = true;
    } else if (command == ".tables") {
      for (const std::string& name : session_.TableNames()) std::cout << name << "\n";
    } else if (command == ".schema") {
      const std::vector<std::string> names = arg.empty() ? session_.TableNames() : std::vector<std::string>{arg};
      for (const std::string& name : names) Schema(name);
    } else if (command == ".check") {
      const TABSCheckReport report = CheckDatabase(options_.file, options_.password);
      for (const std::string& line : report.Lines()) std::cout << line << "\n";
      return report.Ok();
    } else {
      std::cerr << "zudsql: unknown command " << command << " (.tables, .schema [TABLE], .check, .quit)\n";
      return false;
    }
    return true;
  }

  void Schema(const std::string& name) {
    TABSLocalCursor c(session_);
    c.tableName = name;
    c.OpenTable();
    std::cout << "table " << name << "\n";
    for (int32_t i = 0; i < c.FieldCount(); ++i) {
      const TABSFieldDef& f = c.VisibleField(i);
      std::cout << "  field " << f.Name() << " " << DataTypeName(f.DataType());
      if (f.DataType() == aftString || f.DataType() == aftWideString || f.DataType() == aftBytes ||
          f.DataType() == aftVarBytes)
        std::cout << "(" << f.Size() << ")";
      std::cout << "\n";
    }
    const TABSIndexDefs& indexes = c.GetIndexDefs();
    for (int i = 0; i < indexes.Count(); ++i) {
      std::cout << "  index " << indexes[i]->Name() << " (";
      for (int k = 0; k < indexes[i]->ColumnCount(); ++k)
        std::cout << (k ? ", " : "") << indexes[i]->Column(k).fieldName
                  << (indexes[i]->Column(k).descending ? " DESC" : "");
      std::cout << ")" << (indexes[i]->unique || indexes[i]->primary ? " unique" : "") << "\n";
    }
  }

  void Statement(const std::string& sql) {
    const auto start = std::chrono::steady_clock::now();
    TABSSelectExecution executor(session_);
    TABSLocalSQLProcessor processor(TABSSQLQueryInfo{"zudsql", "zudsql", false, false});
    processor.SetExecutor(&executor);
    for (int32_t i = 0; i < params_.Count(); ++i) {
      TABSSQLParam* p = processor.Params().AddParam();
      p->Name = params_.Items(i)->Name;
      p->Assign(*params_.Items(i));
    }
    processor.SetSQL(sql);
    processor.Execute();
    std::unique_ptr<TABSQueryResultCursor> result = executor.TakeResult();
    int64_t rows = -1;
    if (result) rows = Print(*result);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::ostream& info = options_.format == Format::Table ? std::cout : std::cerr;
    std::ostringstream line;
    if (rows >= 0) line << rows << (rows == 1 ? " row, " : " rows, ");
    line << "RowsAffected " << processor.RowsAffected() << ", " << std::fixed << std::setprecision(3) << seconds
         << " s\n";
    info << line.str();
  }

  int64_t Print(TABSQueryResultCursor& c) {
    std::vector<std::string> names;
    std::vector<bool> numeric;
    for (int32_t i = 0; i < c.FieldCount(); ++i) {
      names.push_back(c.VisibleFieldName(i));
      numeric.push_back(IsNumeric(c.VisibleField(i).DataType()));
    }
    std::vector<std::vector<std::optional<std::string>>> rows;
    TABSVariant v;
    c.SetToBegin();
    while (c.GetRecord(grmNext) == grrFound) {
      std::vector<std::optional<std::string>> row;
      for (int32_t i = 0; i < c.FieldCount(); ++i) {
        c.GetFieldValue(i, v);
        if (v.IsNull())
          row.emplace_back();
        else
          row.emplace_back(v.AsString());
      }
      rows.push_back(std::move(row));
    }
    std::ostringstream out;
    if (options_.format == Format::Csv) {
      for (size_t i = 0; i < names.size(); ++i) out << (i ? "," : "") << CsvQuote(names[i]);
      out << "\n";
      for (const auto& row : rows) {
        for (size_t i = 0; i < row.size(); ++i) out << (i ? "," : "") << (row[i] ? CsvQuote(*row[i]) : "");
        out << "\n";
      }
    } else if (options_.format == Format::Json) {
      out << "[";
      for (size_t r = 0; r < rows.size(); ++r) {
        out << (r ? ",\n " : "\n ") << "{";
        for (size_t i = 0; i < names.size(); ++i) {
          out << (i ? ", " : "") << JsonString(names[i]) << ": ";
          if (!rows[r][i]) {
            out << "null";
          } else if (numeric[i]) {
            std::string n = *rows[r][i];
            for (char& ch : n)
              if (ch == ',') ch = '.';
            out << n;
          } else {
            out << JsonString(*rows[r][i]);
          }
        }
        out << "}";
      }
      out << (rows.empty() ? "]\n" : "\n]\n");
    } else {
      std::vector<size_t> widths;
      for (const std::string& n : names) widths.push_back(n.size());
      for (const auto& row : rows)
        for (size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i] ? row[i]->size() : 4);
      const auto cell = [&](const std::string& s, size_t i) {
        if (numeric[i])
          out << std::string(widths[i] - s.size(), ' ') << s;
        else
          out << s << std::string(widths[i] - s.size(), ' ');
      };
      for (size_t i = 0; i < names.size(); ++i) {
        out << (i ? " | " : "");
        cell(names[i], i);
      }
      out << "\n";
      for (size_t i = 0; i < names.size(); ++i) out << (i ? "-+-" : "") << std::string(widths[i], '-');
      out << "\n";
      for (const auto& row : rows) {
        for (size_t i = 0; i < row.size(); ++i) {
          out << (i ? " | " : "");
          cell(row[i] ? *row[i] : "NULL", i);
        }
        out << "\n";
      }
    }
    std::cout << out.str();
    return static_cast<int64_t>(rows.size());
  }

  Options options_;
  TABSLocalSession session_;
  TABSSQLParams params_;
};

// Runs a whole text: statements at ";", dot commands alone on a line.
// Stops at the first failure; false then.
bool RunScript(Shell& shell, const std::string& text) {
  std::string pending;
  std::istringstream lines(text);
  bool quit = false;
  for (std::string line; !quit && std::getline(lines, line);) {
    if (Trim(pending).empty() && !Trim(line).empty() && Trim(line)[0] == '.') {
      if (!shell.Run(line, quit)) return false;
      continue;
    }
    std::string rest;
    for (const std::string& s : SplitStatements(pending + line + "\n", rest))
      if (!shell.Run(s, quit)) return false;
    pending = rest;
  }
  return quit || shell.Run(pending, quit);
}

void Interactive(Shell& shell) {
  std::string pending;
  bool quit = false;
  while (!quit) {
    char* raw = readline(Trim(pending).empty() ? "zudsql> " : "   ...> ");
    if (!raw) break;
    std::string line(raw);
    std::free(raw);
    if (!Trim(line).empty()) add_history(line.c_str());
    if (Trim(pending).empty() && !Trim(line).empty() && Trim(line)[0] == '.') {
      shell.Run(line, quit);
      continue;
    }
    std::string rest;
    for (const std::string& s : SplitStatements(pending + line + "\n", rest)) shell.Run(s, quit);
    pending = rest;
  }
  if (!quit && !Trim(pending).empty()) shell.Run(pending, quit);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  try {
    options = ParseOptions(argc, argv);
  } catch (const UsageError& e) {
    std::cerr << "zudsql: " << e.text << "\n"
              << "usage: zudsql FILE [--password P] [-c \"TEXT\"] [--csv | --json] [--param NAME=VALUE]...\n";
    return 2;
  }
  try {
    TABSEngineScope engine;
    Shell shell(options);
    if (options.hasCommand) return RunScript(shell, options.command) ? 0 : 1;
    if (isatty(STDIN_FILENO)) {
      Interactive(shell);
      return 0;
    }
    std::ostringstream script;
    script << std::cin.rdbuf();
    return RunScript(shell, script.str()) ? 0 : 1;
  } catch (const UsageError& e) {
    std::cerr << "zudsql: " << e.text << "\n";
    return 2;
  } catch (const std::exception& e) {
    std::cerr << "zudsql: " << e.what() << "\n";
    return 1;
  }
}
