// Column definitions beyond the statement file: what a DEFAULT and the
// MINVALUE / MAXVALUE limits store, read back as their consumers read them.
#include <gtest/gtest.h>

#include "core/ZUDFieldDefs.h"
#include "sql/ABSSQLProcessor.h"
#include "sql/DDLTableManipulation.h"
#include "sql/ExprDefaults.h"
#include "support/EngineError.h"

namespace {

std::unique_ptr<TABSSQLCommand> Parse(const std::string& text) {
  TABSLexer lexer(text, false, nullptr);
  if (!lexer.NextCommand()) throw std::runtime_error("no statement");
  return ParseStatement(lexer, TABSSQLQueryInfo{});
}

const TSQLFieldDef& FirstColumn(const std::unique_ptr<TABSSQLCommand>& c) {
  return static_cast<const TABSDDLTableManipulation&>(*c).FieldDefs.at(0);
}

TEST(DDLColumns, QuotedDefaultReadsBackAsTheSameString) {
  for (const std::string value : {"x", "say \"hi\"", "\"", "\"\"", "it's", "a \"b\" c\"", "now!"}) {
    std::string quoted;
    for (char c : value) quoted += c == '\'' ? std::string("''") : std::string(1, c);
    const auto command = Parse("create table t (a varchar(20) default '" + quoted + "')");
    const TSQLFieldDef& field = FirstColumn(command);
    ASSERT_TRUE(field.DefaultGiven && field.DefaultValue) << value;
    // The stored text is one string literal...
    TABSLexer back(field.DefaultValue->AsString(), true, nullptr);
    ASSERT_TRUE(back.NextCommand()) << value;
    ASSERT_EQ(back.Commands()[0].TokenCount(), 1) << field.DefaultValue->AsString();
    EXPECT_EQ(back.Commands()[0].Tokens[0].TokenType, tktQuotedString);
    EXPECT_EQ(back.Commands()[0].Tokens[0].Text, value);
    // ...which the field's default evaluates to the string itself.
    std::unique_ptr<TABSDefaultExpression> expression = ParseDefaultExpression(*field.DefaultValue);
    ASSERT_TRUE(expression) << value;
    TABSVariant result;
    expression->Evaluate(result);
    EXPECT_EQ(result.AsString(), value);
  }
}

TEST(DDLColumns, LimitsTakeASignedLiteralOfTheColumnsType) {
  const struct {
    const char* column;
    TABSStorageType storage;
    const char* value;
  } cases[] = {
      {"a smallint minvalue -5", bftSmallint, "-5"},
      {"a integer maxvalue +7", bftInteger, "7"},
      {"a largeint minvalue -9223372036854775808", bftLargeint, "-9223372036854775808"},
      {"a autoinc minvalue -3", bftInteger, "-3"},
      {"a double minvalue 0.5", bftDouble, "0.5"},
      {"a double minvalue -2", bftDouble, "-2"},
      {"a single maxvalue -1.5e3", bftSingle, "-1500"},
      {"a varchar(5) minvalue 'b'", bftString, "b"},
  };
  for (const auto& c : cases) {
    std::unique_ptr<TABSSQLCommand> command;
    ASSERT_EQ(EngineErrorText([&] { command = Parse(std::string("create table t (") + c.column + ")"); }), "no error")
        << c.column;
    const TSQLFieldDef& field = FirstColumn(command);
    const TABSVariant* limit = field.MinValueGiven ? field.MinValue.get() : field.MaxValue.get();
    ASSERT_NE(limit, nullptr) << c.column;
    EXPECT_EQ(limit->StorageType(), c.storage) << c.column;
    if (IsFloatStorage(c.storage))
      EXPECT_EQ(limit->AsDouble(), std::stod(c.value)) << c.column;
    else
      EXPECT_EQ(limit->AsString(), c.value) << c.column;
  }
  // A literal of another type is refused, never truncated.
  EXPECT_EQ(NativeCodeOf([] { Parse("create table t (a integer minvalue 0.5)"); }), 30291);
  EXPECT_EQ(NativeCodeOf([] { Parse("create table t (a integer maxvalue 'x')"); }), 30291);
  EXPECT_EQ(NativeCodeOf([] { Parse("create table t (a integer minvalue 99999999999999999999)"); }), 30291);
  EXPECT_EQ(NativeCodeOf([] { Parse("create table t (a double minvalue - 'x')"); }), 30235);
}

}  // namespace
