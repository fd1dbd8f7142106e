// Expression evaluation: values, arithmetic and concatenation, the NULL
// rules of conditions, IN, BETWEEN, LIKE and the dialect's comparison rules.
#include <chrono>

#include "ExprTestUtil.h"
#include "sql/ExprLike.h"

namespace {

class ExprEval : public ::testing::Test {
 protected:
  ExprEval() {
    rows.Add("n", aftInteger);
    rows.Add("m", aftInteger);
    rows.Add("big", aftLargeint);
    rows.Add("x", aftDouble);
    rows.Add("name", aftString, 20);
    rows.Add("other", aftString, 20);
    rows.Add("d", aftDate);
    rows.Add("b", aftLogical);
    rows.Add("c", aftLogical);
    rows.Add("w", aftWideString, 20);
  }
  // The value shown as Render does, or "error <code>".
  std::string Value(const std::string& text) {
    std::string shown;
    const int32_t code = NativeCodeOf([&] { shown = Render(Parse(text, &rows, ParseAs::Value)->GetValue()); });
    return code == 0 ? shown : "error " + std::to_string(code);
  }
  std::string Cond(const std::string& text, bool caseInsensitive = false) {
    std::string shown;
    const int32_t code = NativeCodeOf(
        [&] { shown = Render(Parse(text, &rows, ParseAs::Condition, nullptr, caseInsensitive)->GetValue()); });
    return code == 0 ? shown : "error " + std::to_string(code);
  }
  tiv::locale::ScopedLocale spanish{tiv::locale::LocaleSettings::SpanishSpain()};
  TestRows rows{"t"};
};

TEST_F(ExprEval, ValueExpressions) {
  rows["n"].SetAsInteger(10);
  rows["m"].SetAsInteger(3);
  rows["name"].SetAsString("abc");
  rows["d"].SetAsDate(EncodeDayNumber(2024, 3, 15));
  rows.SetNull("other");
  const struct {
    const char* text;
    const char* expected;
  } cases[] = {
      {"1 + 2 * 3", "int:7"},
      {"(1 + 2) * 3", "int:9"},
      {"n - m - 2", "int:5"},  // n + (-m) + (-2)
      {"-n * 2", "int:-20"},
      {"+n", "int:10"},
      {"7 / 2", "int:3"},
      {"7.0 / 2", "dbl:3.5"},
      {"1.5", "dbl:1.5"},
      {"1e3", "dbl:1000"},
      {"2147483646", "int:2147483646"},
      {"2147483647", "large:2147483647"},
      {"99999999999999999999", "dbl:1e+20"},
      {"'x' || 1 + 2", "str:x12"},
      {"'a' + 'b'", "str:ab"},
      {"1 + 'a'", "str:1a"},
      {"name || '-' || n", "str:abc-10"},
      {"other || 'z'", "str:z"},  // a NULL part counts as empty
      {"''", "NULL"},
      {"NULL", "NULL"},
      {"n + NULL", "error 30160"},  // NULL is an operand, not a term of a sum
      {"TRUE", "true"},
      {"DATE '2024-03-15' + 1", "date:2024-03-16"},
      {"DATE '2024-03-01' - 1", "date:2024-02-29"},
      // A "-" after a date negates its own term only.
      {"DATE '2024-03-01' - 1 + 2", "date:2024-03-02"},
      {"DATE '2024-03-01' - 2 * 3 + 1", "date:2024-02-25"},
      {"DATE '2024-03-01' - (1 + 2)", "date:2024-02-27"},
      {"d + 17", "date:2024-04-01"},
      {"TIMESTAMP '2024-03-15 10:20:30' + 1", "ts:2024-03-16 10:20:30"},
      {"t.n + [m] + `n`", "int:23"},
      {"((((n))))", "int:10"},
  };
  for (const auto& c : cases) EXPECT_EQ(Value(c.text), c.expected) << c.text;
}

TEST_F(ExprEval, ArithmeticErrors) {
  rows["n"].SetAsInteger(10);
  rows["name"].SetAsString("abc");
  EXPECT_EQ(EngineErrorText([&] { Parse("n / 0", &rows, ParseAs::Value)->GetValue(); }),
            "30128 Division error: Division by zero");
  EXPECT_EQ(EngineErrorText([&] { Parse("1.0 / 0", &rows, ParseAs::Value)->GetValue(); }).substr(0, 6), "30128 ");
  auto e = Parse("10 / n", &rows, ParseAs::Value);
  rows["n"].SetAsInteger(0);
  EXPECT_EQ(EngineErrorText([&] { e->GetValue(); }).substr(0, 6), "30128 ");
  rows["n"].SetAsInteger(5);  // the expression stays usable
  EXPECT_EQ(Render(e->GetValue()), "int:2");
  EXPECT_EQ(Value("name * 2"), "error 30126");
}

TEST_F(ExprEval, TypesAndSizes) {
  const struct {
    const char* text;
    TABSDataType type;
    int32_t size;
  } cases[] = {
      {"1", aftInteger, 0},        {"2147483647", aftLargeint, 0}, {"1.5", aftDouble, 0},
      {"n + 1.5", aftDouble, 0},   {"'abc'", aftString, 3},        {"name || 'xy'", aftString, 22},
      {"n + big", aftLargeint, 0}, {"d + 1", aftDate, 0},          {"name", aftString, 20},
  };
  for (const auto& c : cases) {
    auto e = Parse(c.text, &rows, ParseAs::Value);
    EXPECT_EQ(e->GetDataType(), c.type) << c.text;
    EXPECT_EQ(e->GetSize(), c.size) << c.text;
  }
  EXPECT_EQ(EngineErrorText([&] { Parse("d + b", &rows, ParseAs::Value)->GetDataType(); }),
            "30283 Cannot determine expression type");
}

// Three-valued logic: t, f and NULL through logical columns b and c.
TEST_F(ExprEval, NullTruthTables) {
  enum V { T, F, N };
  auto set = [&](const char* col, V v) {
    if (v == N)
      rows.SetNull(col);
    else
      rows[col].SetAsLogical(v == T);
  };
  const char* names[] = {"true", "false", "NULL"};
  const V andTable[3][3] = {{T, F, N}, {F, F, F}, {N, F, N}};
  const V orTable[3][3] = {{T, T, T}, {T, F, N}, {T, N, N}};
  auto andExpr = Parse("b AND c", &rows);
  auto orExpr = Parse("b OR c", &rows);
  auto notExpr = Parse("NOT b", &rows);
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      set("b", V(i));
      set("c", V(j));
      EXPECT_EQ(Render(andExpr->GetValue()), names[andTable[i][j]]) << i << " AND " << j;
      EXPECT_EQ(Render(orExpr->GetValue()), names[orTable[i][j]]) << i << " OR " << j;
    }
    EXPECT_EQ(Render(notExpr->GetValue()), names[i == N ? N : (i == T ? F : T)]);
    EXPECT_EQ(notExpr->IsTrue(), i == F);
    // GetValue(false) turns unknown into false.
    EXPECT_EQ(Render(Parse("b", &rows)->GetValue(false)), i == N ? "false" : names[i]);
  }
  // AND stops at the first false, OR at the first true: the rest is not read.
  set("b", F);
  rows.reads = 0;
  andExpr->GetValue();
  EXPECT_EQ(rows.reads, 1);
  set("b", T);
  rows.reads = 0;
  orExpr->GetValue();
  EXPECT_EQ(rows.reads, 1);
}

// Comparisons: raw results (NULL never matches) against the dialect's
// cleared raw flag (NULL is the lowest value, two NULLs are equal).
TEST_F(ExprEval, ComparisonsWithNull) {
  const struct {
    const char* text;
    const char* nNull;   // n NULL, name NULL
    const char* nValue;  // n = 7, name = 'abc'
  } cases[] = {
      {"n = NULL", "true", "false"},  // INTEGER NULL keyword: no rewrite, raw flag clear
      {"n <> NULL", "false", "true"},
      {"name = ''", "true", "false"},  // becomes name IS NULL
      {"name <> ''", "false", "true"},
      {"name <> 'abc'", "true", "false"},
      {"name < 'abc'", "true", "false"},
      {"name = 'ABC'", "false", "false"},
      {"n <> 5", "false", "true"},
      {"n < 5", "false", "false"},
      {"n > 5", "false", "true"},
      {"n >= 7", "false", "true"},
      {"n <= 7", "false", "true"},
      {"n = m", "false", "false"},  // m is NULL in both rows
      {"n <> m", "false", "false"},
      {"5 < n", "false", "true"},
      {"n IS NULL", "true", "false"},
      {"n IS NOT NULL", "false", "true"},
      {"n = 7 IS NOT FALSE", "false", "true"},
      {"b IS NOT FALSE", "NULL", "NULL"},  // b is NULL: x IS NOT FALSE is x itself, never true
      {"b IS UNKNOWN", "true", "true"},
      {"b IS NOT UNKNOWN", "false", "false"},
      {"n = 7 IS TRUE", "false", "true"},
      {"n = 7 IS NOT TRUE", "true", "false"},
      {"n = 7 IS FALSE", "true", "false"},
  };
  rows.SetNull("m");
  rows.SetNull("b");
  for (int pass = 0; pass < 2; ++pass) {
    if (pass == 0) {
      rows.SetNull("n");
      rows.SetNull("name");
    } else {
      rows["n"].SetAsInteger(7);
      rows["name"].SetAsString("abc");
    }
    for (const auto& c : cases) EXPECT_EQ(Cond(c.text), pass == 0 ? c.nNull : c.nValue) << c.text << " pass " << pass;
  }
  // The rewrite and the flags are visible in the tree.
  EXPECT_EQ(Parse("name = ''", nullptr)->Root()->Kind, opIsNull);
  EXPECT_EQ(Parse("name <> ''", nullptr)->Root()->Kind, opIsNotNull);
  auto rawFlag = [](const char* text) {
    auto e = Parse(text, nullptr);
    auto* c = dynamic_cast<TABSExprNodeComparison*>(e->Root());
    return c ? (c->RawResult ? "raw" : "clear") : "not a comparison";
  };
  EXPECT_STREQ(rawFlag("n = NULL"), "clear");
  EXPECT_STREQ(rawFlag("n = m"), "raw");
  EXPECT_STREQ(rawFlag("'a' = n"), "clear");
  EXPECT_STREQ(rawFlag("n = 1"), "raw");
  EXPECT_STREQ(rawFlag("d = DATE '2024-01-01'"), "clear");
  EXPECT_EQ(Cond("name = 1.5"), "false");
  rows["d"].SetAsDate(1);
  EXPECT_EQ(Cond("d = TRUE"), "error 30044");
}

TEST_F(ExprEval, InAndBetween) {
  const struct {
    const char* text;
    const char* name;  // nullptr: NULL
    int n;             // -1: NULL
    const char* expected;
  } cases[] = {
      {"name IN ('ABC')", "abc", 0, "true"},  // IN ignores case
      {"name = 'ABC'", "abc", 0, "false"},
      {"name NOT IN ('ABC', 'x')", "abc", 0, "false"},
      {"name BETWEEN 'a' AND 'c'", "B", 0, "true"},
      {"name BETWEEN 'a' AND 'c'", "d", 0, "false"},
      {"name NOT BETWEEN 'a' AND 'c'", "d", 0, "true"},
      {"n IN (1 2 3)", "", 2, "true"},
      {"n IN (1, 2, 3)", "", 4, "false"},
      {"n IN (1, NULL)", "", 2, "false"},
      {"n IN (1, NULL)", "", 1, "true"},
      {"n IN (1, 2)", "", -1, "NULL"},
      {"n NOT IN (1, 2)", "", -1, "NULL"},
      {"n NOT IN (1, 2)", "", 3, "true"},
      {"n IN (1 + 1, n * 0)", "", 2, "true"},
      {"n BETWEEN 1 AND 3", "", -1, "NULL"},
      {"n BETWEEN NULL AND 3", "", 2, "NULL"},
      {"n BETWEEN 1 AND 3 AND n = 2", "", 2, "true"},
      {"n BETWEEN 3 AND 1", "", 2, "false"},
  };
  for (const auto& c : cases) {
    if (c.name)
      rows["name"].SetAsString(c.name);
    else
      rows.SetNull("name");
    if (c.n < 0)
      rows.SetNull("n");
    else
      rows["n"].SetAsInteger(c.n);
    EXPECT_EQ(Cond(c.text), c.expected) << c.text;
  }
}

TEST_F(ExprEval, LikePatterns) {
  const struct {
    const char* text;
    const char* name;  // nullptr: NULL
    const char* expected;
  } cases[] = {
      {"name LIKE 'ab%'", "abc", "true"},  // prefix comparison
      {"name LIKE 'ab%'", "ABc", "false"},
      {"name LIKE 'ab%'", nullptr, "false"},
      {"name NOT LIKE 'ab%'", nullptr, "true"},
      {"name LIKE 'a_c%'", "abcd", "true"},
      {"name LIKE 'a_c%'", "ac", "false"},
      {"name LIKE '%'", nullptr, "true"},
      {"name LIKE '%'", "x", "true"},
      {"name LIKE ''", "x", "NULL"},
      {"name NOT LIKE ''", "x", "NULL"},
      {"'a' LIKE 'a%%'", "x", "false"},
      {"name LIKE '%c'", "abc", "true"},
      {"name LIKE '%b%'", "abc", "true"},
      {"name LIKE '%b%'", "b", "true"},
      {"name LIKE '%b_'", "b", "false"},  // "%" before more pattern needs a non-empty rest
      {"name LIKE 'a%c'", "ac", "true"},
      {"name LIKE '_'", "", "false"},
      {"name LIKE 'a!%' ESCAPE '!'", "a%", "true"},
      {"name LIKE 'a!%' ESCAPE '!'", "ab", "false"},
      {"name LIKE 'a!%' ESCAPE '!'", "a%b", "false"},
      {"name LIKE '!_%' ESCAPE '!'", "_x", "true"},
      {"name LIKE '!_%' ESCAPE '!'", "xx", "false"},
      {"name LIKE 'a!!b' ESCAPE '!'", "a!b", "true"},
      {"name LIKE name", "a%", "true"},
      {"n LIKE '1%'", "x", "true"},  // a prefix comparison in the common type
      {"n LIKE '1_'", "x", "true"},
      {"n LIKE 12", "x", "error 30120"},
  };
  rows["n"].SetAsInteger(12);
  for (const auto& c : cases) {
    if (c.name)
      rows["name"].SetAsString(c.name);
    else
      rows.SetNull("name");
    EXPECT_EQ(Cond(c.text), c.expected) << c.text << " with " << (c.name ? c.name : "NULL");
  }
  // The case-insensitive option (cursor filters) reaches the matcher and the prefix form.
  rows["name"].SetAsString("ABC");
  EXPECT_EQ(Cond("name LIKE 'a_c'", true), "true");
  EXPECT_EQ(Cond("name LIKE 'ab%'", true), "true");
  EXPECT_EQ(Cond("name LIKE 'a_c'", false), "false");
  // Wide strings match as wide strings.
  rows["w"].SetAsWideString(u"\u00e1rbol");
  EXPECT_EQ(Cond("w LIKE '_rb%l'"), "true");
}

TEST_F(ExprEval, LikeEscapeErrors) {
  rows["name"].SetAsString("ab");
  EXPECT_EQ(EngineErrorText([&] { Parse("name LIKE 'a%' ESCAPE '!!'", &rows); }),
            "20294 Invalid escape character length (should be a single character) at line 1, column 23");
  EXPECT_EQ(EngineErrorText([&] { Parse("name LIKE 'a%'\n  ESCAPE ''", &rows); }),
            "20294 Invalid escape character length (should be a single character) at line 2, column 10");
  // An escape character that ends the pattern escapes nothing: an error,
  // never a read past the pattern.
  auto e = Parse("name LIKE 'ab!' ESCAPE '!'", &rows);
  EXPECT_EQ(EngineErrorText([&] { e->GetValue(); }),
            "20294 Invalid escape character length (should be a single character) at line 1, column 24");
  TABSLikeEscape esc{true, u'!', 1, 1};
  EXPECT_THROW(LikeMatch(std::u16string_view(u"a"), std::u16string_view(u"a!"), esc, false), EABSException);
  EXPECT_TRUE(LikeMatch(std::string_view("a%"), std::string_view("a!%"), esc, false));
}

// Patterns that would take exponential time with a naive backtracking
// matcher finish at once.
TEST_F(ExprEval, LikeIsPolynomial) {
  const std::string text(20000, 'a');
  TABSLikeEscape none;
  EXPECT_FALSE(LikeMatch(std::string_view(text), std::string_view("%a%a%a%a%a%a%a%a%a%a%b"), none, false));
  EXPECT_TRUE(LikeMatch(std::string_view(text), std::string_view("%a%a%a%a%a%a%a%a%a%a"), none, false));
  EXPECT_TRUE(LikeMatch(std::string_view(text + "b"), std::string_view("%a%a%a%a%a%a%a%a%a%a%b"), none, false));
  rows["name"].SetAsString(std::string(2000, 'a'));
  EXPECT_EQ(Cond("name LIKE '%a%a%a%a%a%b'"), "false");
}

// The calculator's period query: dates from parameters, NULL bounds.
TEST_F(ExprEval, PeriodQueryCondition) {
  TestRows inicial("inicial");
  inicial.Add("desde", aftDate);
  inicial.Add("hasta", aftDate);
  TABSSQLParams params;
  auto* p1 = params.AddParam();
  p1->Name = "par1";
  p1->SetAsDate(EncodeDayNumber(2010, 6, 1));
  auto* p2 = params.AddParam();
  p2->Name = "par2";
  p2->SetAsDate(EncodeDayNumber(2010, 6, 30));
  auto e = Parse("((desde <= :par1) and (hasta >= :par1)) or ((hasta >= :par2) and (desde <= :par2))", &inicial,
                 ParseAs::Condition, &params);
  ASSERT_EQ(e->Root()->Kind, opOr);
  ASSERT_EQ(e->Root()->Children[0]->Kind, opAnd);
  for (auto& conj : e->Root()->Children)
    for (auto& cmp : conj->Children) EXPECT_FALSE(static_cast<TABSExprNodeComparison&>(*cmp).RawResult);
  const struct {
    int from, to;  // day of June 2010; 0: NULL
    bool selected;
  } cases[] = {{1, 30, true}, {15, 20, false}, {0, 5, true},  {0, 0, false},
               {2, 0, false}, {28, 30, true},  {2, 29, false}};
  for (const auto& c : cases) {
    if (c.from)
      inicial["desde"].SetAsDate(EncodeDayNumber(2010, 6, c.from));
    else
      inicial.SetNull("desde");
    if (c.to)
      inicial["hasta"].SetAsDate(EncodeDayNumber(2010, 6, c.to));
    else
      inicial.SetNull("hasta");
    EXPECT_EQ(e->IsTrue(), c.selected) << c.from << ".." << c.to;
  }
  std::vector<TABSScanSearchCondition> conditions;
  TABSIndexDefs indexes;
  TABSIndexDef* ix = indexes.AddNew();
  ix->SetName("desde");
  ix->SetColumnCount(1);
  ix->Column(0).fieldName = "desde";
  e->GetSearchConditions(indexes, conditions, 1);
  EXPECT_TRUE(conditions.empty());  // under an OR no comparison drives an index
}

}  // namespace
