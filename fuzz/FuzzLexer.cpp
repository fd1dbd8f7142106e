// libFuzzer target: any bytes as an SQL text must lex to tokens or raise an
// engine error, never crash; the same bytes as a date format must compile,
// and reading or writing with it may only raise the documented errors.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/ZUDExcept.h"
#include "sql/ZUDDateFormat.h"
#include "sql/ZUDLexer.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void LexAndWalk(const std::string& text, bool skipParams) {
  TABSSQLParams params;
  TABSSQLParam* a = params.AddParam();
  a->Name = "a";
  a->SetAsInteger(7);
  TABSSQLParam* b = params.AddParam();
  b->Name = "my param";
  b->SetAsString("x");
  try {
    TABSLexer lexer(text, skipParams, &params);
    TToken token;
    while (lexer.NextCommand()) {
      Check(lexer.GetCurrentToken(token));
      do {
        Check(token.TokenType != tktNone && token.Line >= 1 && token.Column >= 1);
        Check((token.TokenType == tktParameter) == (token.ParamValue != nullptr));
      } while (lexer.GetNextToken(token));
      Check(!lexer.LookAhead(token) && token.TokenType == tktNone);
      const int32_t back = lexer.GetPosition() - 2;
      lexer.SetPosition(back, token);
    }
  } catch (const EABSException&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  LexAndWalk(text, false);
  LexAndWalk(text, true);

  const TDateFormater format(text);
  (void)format.GetMaxLength();
  (void)format.GetResultType();
  try {
    const std::string written = format.DateTimeToStr(38418.5);  // 2005-03-07 12:00
    Check(static_cast<int32_t>(written.size()) <= format.GetMaxLength());
    (void)format.StrToDateTime(text);
  } catch (const EABSException&) {
  } catch (const EDateConvertError&) {
  }
  int32_t date = 0, time = 0;
  TABSDateTimePair stamp{};
  try {
    (void)ReadDateLiteral(text, date);
    (void)ReadTimeLiteral(text, time);
    (void)ReadTimestampLiteral(text, stamp);
  } catch (const EDateConvertError&) {
  }
  return 0;
}
