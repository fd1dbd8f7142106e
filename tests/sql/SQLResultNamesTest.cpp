// Names of a result's columns: repeats of a plain column, computed items
// and the unique-name rule.
#include <gtest/gtest.h>

#include "StatementSummary.h"
#include "sql/SQLResultNames.h"
#include "sql/SQLSelect.h"

namespace {

// "Expr" and a GUID's text: "{XXXXXXXX-XXXX-4XXX-YXXX-XXXXXXXXXXXX}".
bool IsExprGuidName(const std::string& name) {
  const std::string form = "Expr{hhhhhhhh-hhhh-4hhh-hhhh-hhhhhhhhhhhh}";
  if (name.size() != form.size()) return false;
  for (size_t i = 0; i < form.size(); ++i) {
    const bool hex = (name[i] >= '0' && name[i] <= '9') || (name[i] >= 'A' && name[i] <= 'F');
    if (form[i] == 'h' ? !hex : name[i] != form[i]) return false;
  }
  return true;
}

TEST(ResultNames, MakeNamesUniqueExtendsLaterCopies) {
  const struct {
    std::vector<std::string> in, out;
  } cases[] = {
      {{"id", "id", "id"}, {"id", "id_1", "id_12"}},
      {{"id", "ID", "Id", "iD"}, {"id", "ID_1", "Id_12", "iD_123"}},
      {{"a", "a_1", "a"}, {"a", "a_1", "a_12"}},
      {{"a", "a_12", "a", "a"}, {"a", "a_12", "a_1", "a_123"}},
      {{"x", "y", "x_1", "x"}, {"x", "y", "x_1", "x_12"}},
      {{"b", "a", "b"}, {"b", "a", "b_1"}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> names = c.in;
    MakeNamesUnique(names);
    EXPECT_EQ(names, c.out) << c.in.size();
  }
}

TEST(ResultNames, ComputedItemsAreNamedByFreshGuids) {
  TABSLexer lexer("select a + 1, a + 1, 2 from t", false, nullptr);
  ASSERT_TRUE(lexer.NextCommand());
  TABSSQLSelect select(lexer, TABSSQLQueryInfo{});
  const std::vector<std::string> names = SelectResultNames(select);
  ASSERT_EQ(names.size(), 3u);
  for (const auto& n : names) EXPECT_TRUE(IsExprGuidName(n)) << n;
  EXPECT_NE(names[0], names[1]);
  EXPECT_NE(names[1], names[2]);
  std::vector<std::string> empty = {"", ""};
  MakeNamesUnique(empty);
  EXPECT_TRUE(IsExprGuidName(empty[0]) && IsExprGuidName(empty[1]) && empty[0] != empty[1]);
}

TEST(ResultNames, ManyCopiesOfOneNameStayFast) {
  // Each copy resumes where the last one ended: linear in the copies, not
  // quadratic, however long the names grow.
  std::vector<std::string> names(2000, "id");
  MakeNamesUnique(names);
  EXPECT_EQ(names[3], "id_123");
  EXPECT_EQ(names[4], "id_1234");
  EXPECT_EQ(
      names.back().size(), std::string("id_1").size() + [] {
        size_t digits = 0;
        for (int n = 2; n < 2000; ++n) digits += std::to_string(n).size();
        return digits;
      }());
  std::string select = "select ";
  for (int i = 0; i < 20000; ++i) select += i ? ", a" : "a";
  select += " from t";
  const std::string summary = SummaryOf(select);
  EXPECT_NE(summary.find("a! AS a_19999 "), std::string::npos);
}

}  // namespace
