#include "sql/ExprDefaults.h"

#include "core/ZUDExcept.h"
#include "sql/ZUDExpressions.h"

namespace {

class TABSExprDefault : public TABSDefaultExpression {
 public:
  explicit TABSExprDefault(std::unique_ptr<TABSExpression> expression) : expression_(std::move(expression)) {}
  void Evaluate(TABSVariant& result) const override { result.Assign(*expression_->GetValue()); }

 private:
  std::unique_ptr<TABSExpression> expression_;
};

}  // namespace

std::unique_ptr<TABSDefaultExpression> ParseDefaultExpression(const TABSVariant& defaultValue) {
  if (defaultValue.IsNull()) return nullptr;
  try {
    const std::string text = defaultValue.AsString();
    if (!TABSExpression::IsValidValueExpression(text)) return nullptr;
    TABSLexer lexer(text, true, nullptr);
    if (!lexer.NextCommand()) return nullptr;
    auto expression = std::make_unique<TABSExpression>();
    expression->ParseValue(lexer);
    if (expression->HasFieldOperand()) return nullptr;
    const TABSVariant* value = expression->GetValue();
    if (!value || value->AsWideString() == defaultValue.AsWideString()) return nullptr;
    return std::make_unique<TABSExprDefault>(std::move(expression));
  } catch (const EABSException&) {
    return nullptr;
  }
}

void InstallExpressionDefaults() { SetDefaultExpressionParser(&ParseDefaultExpression); }
