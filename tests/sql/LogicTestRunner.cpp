// The SQL logic tests: every file under logic/*.test runs against a fresh
// disk database, one GoogleTest case per file.
//
// File format, one record after another, separated by blank lines; "#"
// starts a comment line:
//   statement ok             the SQL on the next lines runs without error
//   statement error CODE     it fails with that native error code
//   query [rowsort]          it returns the rows after the "----" line,
//                            each row's values joined by " | ", NULL as
//                            NULL, values in the engine's text form
//                            (dates dd/mm/yyyy, decimal comma); rowsort
//                            compares the rows sorted
// Runner directives, one line each, since CREATE TABLE and INSERT do not
// execute yet; the tables are built through the engine's cursors:
//   table NAME (FIELD TYPE[(SIZE)], ...)   TYPE: INTEGER, LARGEINT, DOUBLE,
//                                           DATE, STRING, LOGICAL, AUTOINC
//   index NAME ON TABLE (FIELD, ...) [UNIQUE]
//   row TABLE VALUE, VALUE, ...            VALUE: integer, decimal with a
//                                           point, 'text', DATE 'yyyy-mm-dd',
//                                           NULL; one per field in order
//   param NAME VALUE                        a parameter for what follows
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "local/ZUDLocalEngine.h"
#include "sql/ABSSQLProcessor.h"
#include "support/ScratchDir.h"

namespace {

std::string Trim(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t\r"), e = s.find_last_not_of(" \t\r");
  return b == std::string::npos ? "" : s.substr(b, e - b + 1);
}

std::vector<std::string> SplitTop(const std::string& s, char sep) {
  std::vector<std::string> parts;
  std::string cur;
  bool quoted = false;
  int depth = 0;
  for (char c : s) {
    if (c == '\'') quoted = !quoted;
    if (!quoted && c == '(') ++depth;
    if (!quoted && c == ')') --depth;
    if (!quoted && depth == 0 && c == sep) {
      parts.push_back(Trim(cur));
      cur.clear();
    } else {
      cur.push_back(c);
    }
  }
  if (!Trim(cur).empty()) parts.push_back(Trim(cur));
  return parts;
}

int32_t DayNumber(const std::string& iso) {
  using namespace std::chrono;
  const int y = std::stoi(iso.substr(0, 4)), m = std::stoi(iso.substr(5, 2)), d = std::stoi(iso.substr(8, 2));
  const sys_days day{year{y} / month{static_cast<unsigned>(m)} / static_cast<unsigned>(d)};
  const sys_days origin{year{1} / January / 1};
  return static_cast<int32_t>((day - origin).count() + 1);
}

void ParseValue(const std::string& text, TABSVariant& value) {
  const std::string t = Trim(text);
  if (t == "NULL") {
    value.Clear();
  } else if (t.rfind("DATE '", 0) == 0) {
    value.SetAsDate(DayNumber(t.substr(6, 10)));
  } else if (!t.empty() && t.front() == '\'') {
    std::string s;
    for (size_t i = 1; i + 1 < t.size(); ++i) {
      s.push_back(t[i]);
      if (t[i] == '\'') ++i;
    }
    value.SetAsString(s);
  } else if (t.find('.') != std::string::npos) {
    value.SetAsDouble(std::stod(t));
  } else {
    value.SetAsLargeint(std::stoll(t));
  }
}

class LogicFile {
 public:
  explicit LogicFile(const std::string& path) : path_(path) {
    TABSLocalSession::CreateDatabase(dbPath_, TABSPassword{});
    TABSConnectOptions options;
    options.fileName = dbPath_;
    options.databaseName = "logic";
    session_.Connect(options);
  }
  ~LogicFile() { session_.Disconnect(); }

  void Run() {
    std::ifstream in(path_);
    ASSERT_TRUE(in) << path_;
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    for (size_t i = 0; i < lines.size(); ++i) {
      const std::string line = Trim(lines[i]);
      if (line.empty() || line[0] == '#') continue;
      const int at = static_cast<int>(i) + 1;
      std::istringstream words(line);
      std::string word;
      words >> word;
      if (word == "table" || word == "index" || word == "row" || word == "param") {
        Directive(word, Trim(line.substr(word.size())), at);
        continue;
      }
      // A record: its SQL up to a blank line or "----".
      std::string sql, expectedText;
      size_t j = i + 1;
      for (; j < lines.size() && !Trim(lines[j]).empty() && Trim(lines[j]) != "----"; ++j) sql += lines[j] + "\n";
      std::vector<std::string> expected;
      if (j < lines.size() && Trim(lines[j]) == "----")
        for (++j; j < lines.size() && !Trim(lines[j]).empty(); ++j) expected.push_back(Trim(lines[j]));
      i = j;
      Record(line, sql, expected, at);
    }
  }

 private:
  void Directive(const std::string& kind, const std::string& rest, int at) {
    SCOPED_TRACE(path_ + ":" + std::to_string(at));
    if (kind == "param") {
      const size_t space = rest.find(' ');
      TABSSQLParam* p = params_.FindParam(rest.substr(0, space));
      if (!p) p = params_.AddParam();
      p->Name = rest.substr(0, space);
      ParseValue(rest.substr(space + 1), *p);
      return;
    }
    const size_t open = rest.find('(');
    const std::string head = Trim(rest.substr(0, open));
    if (kind == "table") {
      TABSFieldDefs fields;
      for (const std::string& def : SplitTop(rest.substr(open + 1, rest.rfind(')') - open - 1), ',')) {
        std::istringstream parts(def);
        std::string name, type;
        parts >> name >> type;
        int32_t size = 0;
        if (const size_t p = type.find('('); p != std::string::npos) {
          size = std::stoi(type.substr(p + 1));
          type = type.substr(0, p);
        }
        const std::pair<const char*, TABSDataType> types[] = {
            {"INTEGER", aftInteger}, {"LARGEINT", aftLargeint}, {"DOUBLE", aftDouble},  {"DATE", aftDate},
            {"STRING", aftString},   {"LOGICAL", aftLogical},   {"AUTOINC", aftAutoInc}};
        TABSDataType t = aftUnknown;
        for (const auto& [n, dt] : types)
          if (type == n) t = dt;
        ASSERT_NE(t, aftUnknown) << type;
        TABSFieldDef* f = fields.AddNew();
        f->SetName(name);
        f->SetDataType(t, size);
      }
      TABSLocalCursor cursor(session_);
      cursor.tableName = head;
      cursor.CreateTable(fields, TABSIndexDefs{});
    } else if (kind == "index") {
      const std::string name = head.substr(0, head.find(' '));
      const std::string table = Trim(head.substr(head.find(" ON ") + 4));
      std::vector<std::string> names = SplitTop(rest.substr(open + 1, rest.rfind(')') - open - 1), ',');
      TABSIndexDef def;
      def.SetName(name);
      def.unique = rest.find("UNIQUE", rest.rfind(')')) != std::string::npos;
      def.FillColumns(names, std::vector<std::string>(names.size(), "ASC"),
                      std::vector<std::string>(names.size(), "CASE"));
      TABSLocalCursor cursor(session_);
      cursor.tableName = table;
      cursor.exclusive = true;
      cursor.OpenTable();
      cursor.AddIndex(def);
    } else {
      const size_t space = rest.find(' ');
      TABSLocalCursor cursor(session_);
      cursor.tableName = rest.substr(0, space);
      cursor.OpenTable();
      cursor.InitRecordBuffer();
      const std::vector<std::string> values = SplitTop(rest.substr(space + 1), ',');
      ASSERT_EQ(static_cast<int32_t>(values.size()), cursor.FieldCount());
      for (size_t i = 0; i < values.size(); ++i) {
        TABSVariant v;
        ParseValue(values[i], v);
        if (!v.IsNull()) cursor.SetFieldValue(static_cast<int32_t>(i), v);
      }
      ASSERT_EQ(cursor.Post(true), crOK) << cursor.LastErrorText();
    }
  }

  void Record(const std::string& head, const std::string& sql, std::vector<std::string> expected, int at) {
    SCOPED_TRACE(path_ + ":" + std::to_string(at) + ": " + sql);
    std::istringstream words(head);
    std::string kind, mode;
    words >> kind >> mode;
    TABSSelectExecution executor(session_);
    TABSLocalSQLProcessor processor(TABSSQLQueryInfo{"s", "logic", false, false});
    processor.SetExecutor(&executor);
    for (int32_t i = 0; i < params_.Count(); ++i) {
      TABSSQLParam* p = processor.Params().AddParam();
      p->Name = params_.Items(i)->Name;
      p->Assign(*params_.Items(i));
    }
    processor.SetSQL(sql);
    int32_t code = 0;
    std::string message;
    try {
      processor.Execute();
    } catch (const EABSException& x) {
      code = x.NativeError();
      message = x.what();
    }
    if (kind == "statement") {
      if (mode == "ok") {
        EXPECT_EQ(code, 0) << message;
      } else {
        std::string expectedCode;
        words >> expectedCode;
        ASSERT_EQ(mode, "error");
        EXPECT_EQ(code, std::stoi(expectedCode)) << message;
      }
      return;
    }
    ASSERT_EQ(kind, "query") << "unknown record";
    ASSERT_EQ(code, 0) << message;
    std::unique_ptr<TABSQueryResultCursor> result = executor.TakeResult();
    ASSERT_TRUE(result);
    std::vector<std::string> rows;
    result->SetToBegin();
    TABSVariant v;
    while (result->GetRecord(grmNext) == grrFound) {
      std::string row;
      for (int32_t f = 0; f < result->FieldCount(); ++f) {
        result->GetFieldValue(f, v);
        row += (f ? " | " : "") + (v.IsNull() ? std::string("NULL") : v.AsString());
      }
      rows.push_back(row);
    }
    if (mode == "rowsort") {
      std::sort(rows.begin(), rows.end());
      std::sort(expected.begin(), expected.end());
    }
    EXPECT_EQ(rows, expected);
  }

  std::string path_;
  ScratchDir dir_{"tivoran-logic"};
  std::string dbPath_ = dir_.File("logic.ZUD");
  TABSLocalSession session_;
  TABSSQLParams params_;
};

class LogicTest : public testing::TestWithParam<std::string> {};

TEST_P(LogicTest, File) {
  TABSEngineScope engine;
  LogicFile(GetParam()).Run();
}

std::vector<std::string> LogicFiles() {
  std::vector<std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(TIVORAN_SQL_LOGIC_DIR))
    if (e.path().extension() == ".test") files.push_back(e.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

INSTANTIATE_TEST_SUITE_P(Logic, LogicTest, testing::ValuesIn(LogicFiles()), [](const auto& info) {
  std::string name = std::filesystem::path(info.param).stem().string();
  std::replace_if(
      name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
  return name;
});

}  // namespace
