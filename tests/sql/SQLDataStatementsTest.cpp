// INSERT, UPDATE and DELETE beyond the statement file: the token stream
// UPDATE builds for its rows and the parameter values it copies.
#include <gtest/gtest.h>

#include <set>

#include "StatementSummary.h"
#include "sql/SQLDataStatements.h"
#include "support/EngineError.h"

namespace {

std::string Texts(const TSQLCommand& command) {
  std::string s;
  for (const auto& t : command.Tokens) s += (s.empty() ? "" : " ") + t.Text;
  return s;
}

TEST(SQLUpdate, RowsQueryOwnsItsParameterValuesAndOutlivesTheText) {
  TABSSQLParams params;
  TABSSQLParam* id = params.AddParam();
  id->Name = "id";
  id->SetAsInteger(7);
  TABSSQLParam* s = params.AddParam();
  s->Name = "s";
  s->SetAsString("text");
  auto lexer = std::make_unique<TABSLexer>("update db.t as x password :s\n  set a = :s where id = :id and b = :s",
                                           false, &params);
  ASSERT_TRUE(lexer->NextCommand());
  std::unique_ptr<TABSSQLCommand> parsed = ParseStatement(*lexer, TABSSQLQueryInfo{});
  auto& update = static_cast<TABSSQLUpdate&>(*parsed);
  std::set<const TABSVariant*> original;
  for (const auto& t : lexer->Commands()[0].Tokens)
    if (t.ParamValue) original.insert(t.ParamValue);
  ASSERT_EQ(original.size(), 4u);
  const TSQLCommand& rows = update.RowsLexer().Commands()[0];
  EXPECT_EQ(Texts(rows), "SELECT * FROM db . t x PASSWORD s where id = id and b = s");
  int copies = 0;
  for (const auto& t : rows.Tokens) {
    if (!t.ParamValue) continue;
    ++copies;
    EXPECT_EQ(original.count(t.ParamValue), 0u) << t.Text;
  }
  EXPECT_EQ(copies, 3);
  // The text's lexer goes first, as the processor frees it at the next
  // execution; the statement's tokens stay readable.
  lexer.reset();
  std::string values;
  for (const auto& t : rows.Tokens)
    if (t.ParamValue) values += t.ParamValue->AsString() + ";";
  EXPECT_EQ(values, "text;7;text;");
  // Copied tokens keep their place in the statement; made-up ones take UPDATE's.
  EXPECT_EQ(rows.Tokens[0].Line, 1);
  EXPECT_EQ(rows.Tokens[0].Column, 1);
  const TToken& where = rows.Tokens[9];
  EXPECT_EQ(where.Text, "where");
  EXPECT_EQ(where.Line, 2);
  EXPECT_EQ(where.Column, 14);
  EXPECT_EQ(Summary(update), "UPDATE db.t AS x PASSWORD text SET a=? ROWS SELECT * FROM db.t PASSWORD text AS x WHERE");
  parsed.reset();  // every value freed once (the sanitizer build checks)
}

TEST(SQLUpdate, ErrorsInTheCopiedWhereClauseNameTheStatementsOwnPlace) {
  const struct {
    const char* text;
    const char* error;
  } cases[] = {
      {"update t set a = 1\nwhere b = 1 c", "20260 End of SQL command expected, but 'c' found at line 2, column 13"},
      // A bare column is a condition: the "=" is what is left over.
      {"update t set a = 1\nwhere b = ", "20260 End of SQL command expected, but '=' found at line 2, column 9"},
      {"update t set a = 1\nwhere", "30118 Unexpected end of SQL command found at line 2, column 1"},
      {"update t set a = 1\nwhere b = 1 or ,", "30070 Boolean expression expected, but ',' found at line 2, column 16"},
  };
  for (const auto& c : cases) EXPECT_EQ(SummaryOf(c.text), c.error) << c.text;
}

}  // namespace
