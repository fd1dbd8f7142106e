// libFuzzer target: any bytes as a condition or a value expression must
// parse and evaluate, or raise an engine error; never crash, overflow the
// stack, leak or hang (the parser bounds depth and never re-parses).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/ZUDExcept.h"
#include "sql/ZUDDateFormat.h"
#include "sql/ZUDExpressions.h"

namespace {

// Three columns a, b (INTEGER, STRING) and c (DATE) with one row.
class Row : public TABSExprOperator {
 public:
  Row() {
    values_[0].SetAsInteger(7);
    values_[1].SetAsString("abc");
    values_[2].SetAsDate(EncodeDayNumber(2024, 3, 15));
  }
  std::vector<int32_t> FindFields(const std::string& name, const std::string&) const override {
    if (name == "a" || name == "A") return {0};
    if (name == "b" || name == "B") return {1};
    if (name == "c" || name == "C") return {2};
    return {};
  }
  TABSExprColumn Column(int32_t column) const override {
    static const TABSDataType types[] = {aftInteger, aftString, aftDate};
    TABSExprColumn c;
    c.Name = c.DisplayName = std::string(1, static_cast<char>('a' + column));
    c.DataType = types[column];
    c.StorageType = DataTypeToStorageType(c.DataType);
    c.Size = column == 1 ? 10 : 0;
    return c;
  }
  void ReadValue(int32_t column, TABSVariant& value) override { value.Assign(values_[column]); }
  void AddFilter(std::unique_ptr<TABSExpression>) override {}

 private:
  TABSVariant values_[3];
};

void Try(const std::string& text, bool condition) {
  Row row;
  try {
    TABSSQLParams params;
    TABSSQLParam* p = params.AddParam();
    p->Name = "p";
    p->SetAsDate(EncodeDayNumber(2010, 1, 1));
    TABSLexer lexer(text, false, &params);
    if (!lexer.NextCommand()) return;
    TABSExpression e;
    if (condition)
      e.ParseCondition(lexer);
    else
      e.ParseValue(lexer);
    e.Bind(&row, nullptr, 0);
    (void)e.GetValue(false);
    (void)e.GetDataType();
    (void)e.GetSize();
    TABSIndexDefs indexes;
    TABSIndexDef* ix = indexes.AddNew();
    ix->SetColumnCount(1);
    ix->Column(0).fieldName = "a";
    std::vector<TABSScanSearchCondition> conditions;
    e.GetSearchConditions(indexes, conditions, 1);
    if (!conditions.empty()) {
      e.ExtendSearchCondition(conditions[0], *ix);
      e.RemoveConditionNodes(conditions, 0, 0);
      if (!e.IsEmpty()) (void)e.GetValue(false);
    }
  } catch (const EABSException&) {
  } catch (const EDateConvertError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  Try(text, true);
  Try(text, false);
  (void)TABSExpression::IsValidValueExpression(text);
  return 0;
}
