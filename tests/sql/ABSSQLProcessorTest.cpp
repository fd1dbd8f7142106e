// The statement parser and the processor's statement loop: the statement
// cases of data/statements.sqltest (parse trees and errors with their line
// and column), the loop over a text of several statements, and hostile and
// large texts.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <vector>

#include "StatementSummary.h"
#include "core/ZUDExcept.h"
#include "sql/SQLSelect.h"
#include "support/EngineError.h"

namespace {

// The parameters every case of the statement file may use.
void FillCaseParams(TABSSQLParams& params) {
  TABSSQLParam* p = params.AddParam();
  p->Name = "par1";
  p->SetAsInteger(1);
  p = params.AddParam();
  p->Name = "par2";
  p->SetAsInteger(2);
  p = params.AddParam();
  p->Name = "p";
  p->SetAsInteger(5);
  p = params.AddParam();
  p->Name = "t";
  p->SetAsString("inicial");
}

struct StatementCase {
  int line = 0;  // of the text's first line in the file
  std::string text;
  std::string expected;
};

std::vector<StatementCase> ReadCases(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::vector<StatementCase> cases;
  std::string line;
  enum { kOutside, kText, kExpected } state = kOutside;
  for (int n = 1; std::getline(in, line); ++n) {
    if (state == kOutside) {
      if (line == "statement") {
        cases.push_back({n + 1, "", ""});
        state = kText;
      } else if (!line.empty() && line[0] != '#') {
        throw std::runtime_error(path + ":" + std::to_string(n) + ": 'statement' expected");
      }
    } else if (state == kText) {
      if (line == "----")
        state = kExpected;
      else
        cases.back().text += (cases.back().text.empty() ? "" : "\n") + line;
    } else if (line.empty()) {
      state = kOutside;
    } else {
      cases.back().expected += line;
    }
  }
  return cases;
}

TEST(StatementParse, CasesOfTheStatementFile) {
  TABSSQLParams params;
  FillCaseParams(params);
  const std::vector<StatementCase> cases = ReadCases(TIVORAN_SQL_TEST_DATA "/statements.sqltest");
  ASSERT_GT(cases.size(), 150u);
  for (const auto& c : cases)
    EXPECT_EQ(SummaryOf(c.text, &params), c.expected) << "statements.sqltest:" << c.line << ": " << c.text;
}

// ---- The statement loop ----------------------------------------------------------

// Statements of a test: parsed as the product parses them, executed by
// counting. A statement whose text names table "fails" raises on
// execution.
struct Journal {
  std::vector<std::string> executed;
  int alive = 0;
  int maxAlive = 0;
};

class RecordedStatement : public TABSSQLCommand {
 public:
  RecordedStatement(std::unique_ptr<TABSSQLCommand> parsed, TABSLexer& lexer, Journal& journal)
      : TABSSQLCommand(parsed->Kind(), lexer, TABSSQLQueryInfo{}), parsed_(std::move(parsed)), journal_(journal) {
    journal_.maxAlive = std::max(journal_.maxAlive, ++journal_.alive);
  }
  ~RecordedStatement() override { --journal_.alive; }
  void Execute(bool, bool& resultReadOnly) override {
    const std::string summary = Summary(*parsed_);
    if (summary.find("fails") != std::string::npos) throw EABSException(30350, "Not implemented yet");
    journal_.executed.push_back(summary);
    RowsAffected = static_cast<int32_t>(journal_.executed.size());
    resultReadOnly = false;
  }

 private:
  std::unique_ptr<TABSSQLCommand> parsed_;
  Journal& journal_;
};

class RecordingProcessor : public TABSSQLProcessor {
 public:
  explicit RecordingProcessor(Journal& journal) : TABSSQLProcessor(TABSSQLQueryInfo{}), journal_(journal) {}

 protected:
  std::unique_ptr<TABSSQLCommand> MakeStatement(TABSLexer& lexer) override {
    return std::make_unique<RecordedStatement>(ParseStatement(lexer, Query()), lexer, journal_);
  }

 private:
  Journal& journal_;
};

TEST(SQLProcessor, RunsEveryStatementInTurnAndEndsQuietly) {
  Journal journal;
  RecordingProcessor processor(journal);
  processor.SetSQL("delete from a; ; -- nothing\n insert into b values (1);\nselect * from c;");
  TABSSQLCommand* result = nullptr;
  ASSERT_EQ(EngineErrorText([&] { result = processor.Execute(); }), "no error");
  EXPECT_EQ(journal.executed,
            (std::vector<std::string>{"DELETE ROWS SELECT * FROM a", "INSERT b VALUES 1", "SELECT * FROM c"}));
  EXPECT_EQ(processor.RowsAffected(), 1 + 2 + 3);
  EXPECT_FALSE(processor.ResultReadOnly());
  // One statement object at a time; the last one stays and is the result.
  EXPECT_EQ(journal.maxAlive, 1);
  EXPECT_EQ(journal.alive, 1);
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(result, processor.LastCommand());

  // A text whose last statement is no query has no result.
  processor.SetSQL("select * from c; delete from a");
  EXPECT_EQ(EngineErrorText([&] { result = processor.Execute(); }), "no error");
  EXPECT_EQ(result, nullptr);
  EXPECT_EQ(processor.RowsAffected(), 4 + 5);
}

TEST(SQLProcessor, BlankTextIsRefusedButOnlyThen) {
  Journal journal;
  RecordingProcessor processor(journal);
  for (const char* blank : {"", "   ", ";;", "-- only a comment", "/* a block */ ; \n ;"}) {
    processor.SetSQL(blank);
    EXPECT_EQ(EngineErrorText([&] { processor.Execute(); }), "30145 Blank SQL command") << blank;
  }
  processor.SetSQL("select * from t;;");
  EXPECT_EQ(EngineErrorText([&] { processor.Execute(); }), "no error");
}

TEST(SQLProcessor, FailureStopsTheTextAndTheNextExecutionStartsAfresh) {
  Journal journal;
  RecordingProcessor processor(journal);
  // A parse error in the third statement: the first two have run.
  processor.SetSQL("delete from a; delete from fails; delete from c where");
  EXPECT_EQ(EngineErrorText([&] { processor.Execute(); }), "30350 Not implemented yet");
  EXPECT_EQ(journal.executed.size(), 1u);
  processor.SetSQL("delete from a; delete from b; delete from c where");
  EXPECT_EQ(EngineErrorText([&] { processor.Execute(); }),
            "30118 Unexpected end of SQL command found at line 1, column 45");
  EXPECT_EQ(journal.executed.size(), 3u);
  EXPECT_EQ(journal.alive, 0);
  // A lexing error: nothing runs.
  processor.SetSQL("delete from a; select (b from c");
  EXPECT_EQ(NativeCodeOf([&] { processor.Execute(); }), 30059);
  EXPECT_EQ(journal.executed.size(), 3u);
  // And the processor goes on as new.
  processor.SetSQL("delete from z");
  EXPECT_EQ(EngineErrorText([&] { processor.Execute(); }), "no error");
  EXPECT_EQ(processor.RowsAffected(), 4);
}

TEST(SQLProcessor, ParametersAreBoundAtEveryExecution) {
  TABSLocalSQLProcessor processor(TABSSQLQueryInfo{});
  processor.SetSQL("select top ? * from t where a = :x; select top ? * from u");
  // Two "?" and a named parameter: the second "?" takes the second item.
  TABSSQLParam* first = processor.Params().AddParam();
  first->SetAsInteger(3);
  TABSSQLParam* x = processor.Params().AddParam();
  x->Name = "x";
  x->SetAsInteger(4);
  TABSLexer lexer(processor.SQLText(), false, &processor.Params());
  ASSERT_TRUE(lexer.NextCommand());
  auto select = ParseStatement(lexer, TABSSQLQueryInfo{});
  ASSERT_TRUE(lexer.NextCommand());
  auto second = ParseStatement(lexer, TABSSQLQueryInfo{});
  EXPECT_EQ(Summary(*select), "SELECT TOP 3 * FROM t WHERE");
  EXPECT_EQ(Summary(*second), "SELECT TOP 4 * FROM u");
  // Until SELECT runs, the processor parses and then says so.
  EXPECT_EQ(EngineErrorText([&] { processor.Execute(); }), "30350 Not implemented yet");
  processor.Params().Clear();
  EXPECT_EQ(EngineErrorText([&] { processor.Execute(); }), "30358 Value for parameter 'Param1' not found");
}

TEST(SQLProcessor, EveryStatementKindParsesBeforeItSaysItDoesNotRunYet) {
  TABSLocalSQLProcessor processor(TABSSQLQueryInfo{"s", "db", false, false});
  for (const char* text :
       {"select * from t", "insert into t values (1)", "update t set a = 1", "delete from t",
        "create table t (a integer)", "drop table t", "truncate t", "alter table t drop (a)", "rename t to u",
        "create index i on t (a)", "drop index t.i", "start transaction", "commit", "rollback"}) {
    processor.SetSQL(text);
    EXPECT_EQ(EngineErrorText([&] { processor.Execute(); }), "30350 Not implemented yet") << text;
    // Only COMMIT reads past its words: a FLUSH may come anywhere.
    if (std::string(text) == "commit") continue;
    processor.SetSQL(std::string(text) + " ,");
    EXPECT_NE(NativeCodeOf([&] { processor.Execute(); }), 30350) << text;
  }
}

// ---- Hostile and large texts -----------------------------------------------------

TEST(StatementParse, DeepNestingIsAnErrorNotACrash) {
  auto nested = [](const std::string& open, const std::string& inner, const std::string& close, int depth) {
    std::string text;
    for (int i = 0; i < depth; ++i) text += open;
    text += inner;
    for (int i = 0; i < depth; ++i) text += close;
    return text;
  };
  const std::string cases[] = {
      "select * from " + nested("(", "t", ")", 5000),                     // table references
      nested("(", "select * from t", ")", 5000),                          // query expressions
      "select * from " + nested("(select * from ", "t", ") x", 5000),     // derived tables
      "update t set (a) = " + nested("(select a from ", "t", ")", 5000),  // subqueries of a row
  };
  for (const auto& text : cases) EXPECT_EQ(SummaryOf(text).substr(0, 6), "30160 ") << text.substr(0, 40);
  // Within the bound, nesting parses; and after an error the bound is whole again.
  EXPECT_EQ(SummaryOf("select * from " + nested("(select * from ", "t", ")", 30)).substr(0, 30),
            "SELECT * FROM (SELECT * FROM (");
  EXPECT_EQ(SummaryOf(nested("(", "select * from t", ")", kMaxStatementNesting - 1)), "SELECT * FROM t");
}

TEST(StatementParse, LargeStatementsParseWhole) {
  std::string insert = "insert into t (a, b) values ";
  for (int i = 0; i < 20000; ++i) insert += (i ? ", (" : "(") + std::to_string(i) + ", 'x')";
  std::string summary = SummaryOf(insert);
  EXPECT_EQ(summary.substr(0, 30), "INSERT t (a,b) VALUES 2,2,2,2,");
  EXPECT_EQ(std::count(summary.begin(), summary.end(), ','), 20000);
  // One short row far down the list is still counted.
  insert += ", (1)";
  EXPECT_EQ(SummaryOf(insert).substr(0, 6), "20259 ");

  std::string select = "select ";
  for (int i = 0; i < 5000; ++i) select += (i ? ", c" : "c") + std::to_string(i % 100);
  select += " from t";
  summary = SummaryOf(select);
  EXPECT_NE(summary.find("c99! AS c99_49 "), std::string::npos) << summary.substr(0, 200);
}

TEST(StatementParse, DamagedTextNeverCrashes) {
  // Every prefix of statements of each kind: an engine error or a tree.
  const char* texts[] = {
      "select distinct top 1, 2 a, b x, t.* into memory immediate d.r from (select * from u) s left outer join v "
      "on s.a = v.a where a = 1 group by a having a > 0 order by 1 desc",
      "insert into memory d.t password 'p' (a, b) values (1, 'x'), (2, null)",
      "update d.t as x password 'p' set a = a + 1, (b, c) = (select b, c from u) where id = 1",
      "create table if not exists memory d.t password 'p' (id autoinc(integer, increment 1 minvalue -5 cycled), "
      "n varchar(20) not null default 'x' minvalue 'a' check (n > 'a'), primary key pk (id desc), unique index u "
      "(n nocase))",
      "alter table t add (c integer, index i (c))",
      "create unique index i on memory d.t x password 'p' (a desc)",
      "drop index memory d.t.i password 'p'",
      "commit work flush",
  };
  for (const char* full : texts) {
    const std::string text = full;
    for (size_t n = 0; n <= text.size(); ++n) {
      const std::string prefix = text.substr(0, n);
      try {
        TABSLexer lexer(prefix, false, nullptr);
        if (lexer.NextCommand()) (void)ParseStatement(lexer, TABSSQLQueryInfo{});
      } catch (const EABSException&) {
      }
    }
  }
}

}  // namespace
