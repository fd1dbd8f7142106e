// libFuzzer target: any bytes as a statement text must parse into
// statement trees, or raise an engine error (or the date-literal error of
// the expression layer); never crash, overflow the stack, leak or hang.
// The processor runs the same text too, so its loop, its blank-text rule
// and its not-built statements are exercised as well.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/ZUDExcept.h"
#include "sql/ABSSQLProcessor.h"
#include "sql/SQLResultNames.h"
#include "sql/SQLSelect.h"
#include "sql/ZUDDateFormat.h"

namespace {

void FillParams(TABSSQLParams& params) {
  TABSSQLParam* p = params.AddParam();
  p->Name = "p";
  p->SetAsInteger(3);
  p = params.AddParam();
  p->Name = "s";
  p->SetAsString("t");
  p = params.AddParam();
  p->Name = "d";
  p->SetAsDate(EncodeDayNumber(2010, 1, 1));
}

// Names every SELECT block of a tree, as execution will.
void NameResults(const TABSQueryExprNode& node) {
  if (node.Operation == asoLeaf) {
    (void)SelectResultNames(*node.Select);
    return;
  }
  NameResults(*node.Left);
  NameResults(*node.Right);
}

void ParseAll(const std::string& text) {
  try {
    TABSSQLParams params;
    FillParams(params);
    TABSLexer lexer(text, false, &params);
    while (lexer.NextCommand()) {
      try {
        std::unique_ptr<TABSSQLCommand> command = ParseStatement(lexer, TABSSQLQueryInfo{});
        if (command->Kind() == sckSelect) NameResults(*static_cast<const TABSSQLUnion&>(*command).Root);
      } catch (const EABSException&) {
      } catch (const EDateConvertError&) {
      }
    }
  } catch (const EABSException&) {
  }
}

void Run(const std::string& text) {
  TABSLocalSQLProcessor processor(TABSSQLQueryInfo{"session", "db", false, true});
  FillParams(processor.Params());
  processor.SetSQL(text);
  for (int i = 0; i < 2; ++i) {
    try {
      (void)processor.Execute();
    } catch (const EABSException&) {
    } catch (const EDateConvertError&) {
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  ParseAll(text);
  Run(text);
  return 0;
}
