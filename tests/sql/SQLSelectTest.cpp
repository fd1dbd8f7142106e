// SELECT blocks beyond the statement file: what their conditions
// are given at parse time.
#include <gtest/gtest.h>

#include "sql/SQLSelect.h"

namespace {

void CollectFields(const TABSExprNode& node, std::string& out) {
  if (const auto* f = dynamic_cast<const TABSExprNodeField*>(&node))
    out += (out.empty() ? "" : ",") + (f->Qualifier.empty() ? f->FieldName : f->Qualifier + "." + f->FieldName);
  for (const auto& c : node.Children) CollectFields(*c, out);
}

std::string Fields(const std::unique_ptr<TABSExpression>& e) {
  std::string out;
  if (e && e->Root()) CollectFields(*e->Root(), out);
  return out;
}

TEST(SQLSelect, ConditionsSeePseudonymsOfPlainItems) {
  const struct {
    const char* text;
    const char* where;
    const char* having;
  } cases[] = {
      {"select a as x, b + 1 as y from t where x = 1 and y = 2", "a,y", ""},
      {"select t.a x from t where x = 1 or t.x = 2", "t.a,t.a", ""},
      {"select a x from t where t.x = 1", "t.x", ""},  // the item has no table: the qualifier does not match
      {"select * from t where x = 1", "x", ""},        // a bare "*" resolves nothing
      {"select a x, b from t where b = 1 group by a having x > 1", "b", "a"},
  };
  for (const auto& c : cases) {
    TABSLexer lexer(c.text, false, nullptr);
    ASSERT_TRUE(lexer.NextCommand());
    TABSSQLSelect select(lexer, TABSSQLQueryInfo{});
    EXPECT_EQ(Fields(select.Where), c.where) << c.text;
    EXPECT_EQ(Fields(select.Having), c.having) << c.text;
  }
}

TEST(SQLSelect, ExpressionsTakeTheOwnersSettings) {
  TABSLexer lexer("select a + 1, b as k from t join u on t.k = k where a = 1", false, nullptr);
  ASSERT_TRUE(lexer.NextCommand());
  TABSSQLSelect select(lexer, TABSSQLQueryInfo{"session", "db", true, false});
  EXPECT_TRUE(select.InMemory);
  for (const TABSExpression* e :
       {select.SelectList[0].Expression.get(), select.Where.get(), select.FromTables[0]->OnCondition.get()}) {
    ASSERT_NE(e, nullptr);
    EXPECT_TRUE(e->InMemory);
    EXPECT_EQ(e->DatabaseName, "db");
    EXPECT_EQ(e->SessionName, "session");
  }
  // ON compares the joined tables' own columns: pseudonyms stay unresolved.
  EXPECT_EQ(Fields(select.FromTables[0]->OnCondition), "t.k,k");
}

}  // namespace
