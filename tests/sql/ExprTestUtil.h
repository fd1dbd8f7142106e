// Helpers of the expression tests: parse a text against TestRows and show
// a value as "type:value". Errors are compared as EngineErrorText gives
// them: "<code> <message>".
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "ExprTestRows.h"
#include "core/ZUDExcept.h"
#include "locale/Locale.h"
#include "sql/ZUDExpressions.h"
#include "support/EngineError.h"

inline std::string Render(const TABSVariant* v) {
  if (!v) return "none";
  if (v->IsNull()) return "NULL";
  const TABSStorageType t = v->StorageType();
  if (t == bftLogical) return v->AsLogical() ? "true" : "false";
  if (t == bftInteger) return "int:" + std::to_string(v->AsInteger());
  if (t == bftLargeint) return "large:" + std::to_string(v->AsLargeint());
  if (IsIntegerStorage(t)) return "intN:" + std::to_string(v->AsLargeint());
  if (IsFloatStorage(t)) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.10g", v->AsDouble());
    return std::string(t == bftDouble ? "dbl:" : "flt:") + buf;
  }
  if (t == bftDate || t == bftDateTime) {
    int y, m, d;
    DecodeDayNumber(t == bftDate ? v->AsDate() : v->AsDateTime().date, y, m, d);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d);
    if (t == bftDateTime) {
      const int32_t ms = v->AsDateTime().time;
      char tbuf[32];
      std::snprintf(tbuf, sizeof tbuf, " %02d:%02d:%02d", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60);
      return std::string("ts:") + buf + tbuf;
    }
    return std::string("date:") + buf;
  }
  if (t == bftTime) return "time:" + std::to_string(v->AsTime());
  if (IsWideStringStorage(t)) return "wstr:" + v->AsString();
  if (IsStringStorage(t)) return "str:" + v->AsString();
  return "other";
}

enum class ParseAs { Condition, Value };

// Parses `text` (which must be taken whole) and binds it to `rows`.
inline std::unique_ptr<TABSExpression> Parse(const std::string& text, TABSExprOperator* rows,
                                             ParseAs as = ParseAs::Condition, const TABSSQLParams* params = nullptr,
                                             bool caseInsensitive = false) {
  TABSLexer lexer(text, false, params);
  if (!lexer.NextCommand()) throw std::runtime_error("no statement");
  auto e = std::make_unique<TABSExpression>();
  e->CaseInsensitive = caseInsensitive;
  if (as == ParseAs::Condition)
    e->ParseCondition(lexer);
  else
    e->ParseValue(lexer);
  TToken rest;
  if (lexer.GetCurrentToken(rest)) throw std::runtime_error("not taken whole, left at '" + rest.Text + "'");
  if (rows) e->Bind(rows, nullptr, 0);
  return e;
}
