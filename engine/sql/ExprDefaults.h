// ExprDefaults: field defaults that are expressions. The core declares the
// hook (SetDefaultExpressionParser, ZUDFieldDefs.h) and never includes sql
// headers; this layer installs the parser behind it.
//
// Contract
//  1. A default text is an expression when it is a valid value expression,
//     neither the expression nor one of its direct operands is a column
//     reference, and its value read as a wide string differs from the text
//     itself ("1+1" is an expression, "5" and "abc" are literals). A text
//     whose evaluation fails is taken as a literal.
//  2. The installed parser stays until another one is installed.
#pragma once

#include <memory>

#include "core/ZUDFieldDefs.h"

// The parser of the hook: null when `defaultValue` is a literal.
std::unique_ptr<TABSDefaultExpression> ParseDefaultExpression(const TABSVariant& defaultValue);
// Installs ParseDefaultExpression as the core's default-expression parser.
void InstallExpressionDefaults();
