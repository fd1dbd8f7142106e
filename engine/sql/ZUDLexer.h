// ZUDLexer: the SQL lexer. Cuts a whole SQL text into statements at
// semicolons and each statement into tokens, recognises reserved words and
// replaces every parameter reference by a copy of the parameter's value.
// Statement and expression parsers then walk the tokens of one statement
// with a movable cursor and may step back to an earlier position.
//
// Contract
//  1. Tokenizing happens once, in the constructor; every lexing error is
//     raised from there as EABSException (30059 missing ")", 30060
//     unexpected ")", 30061 unterminated string, 30062 invalid numeric
//     symbol, 30358 parameter without a value) and nothing of a failed
//     lexer survives.
//  2. Characters are 8-bit. Case-insensitive matching (reserved words,
//     parameter names) folds ASCII letters only.
//  3. Every token carries the 1-based line and column of its first
//     character. Lines advance at line feeds; a carriage return advances
//     nothing; every other character, tabs included, advances the column.
//  4. Comments ("-- ..." to the end of the line, "/* ... */") separate
//     tokens like white space: a word before a comment ends there.
//  5. Empty statements (between two semicolons, or only comments) produce
//     no TSQLCommand, so every command holds at least one token.
//  6. Parameter values are fixed when the text is tokenized. ":name" takes
//     the first parameter of that name; the k-th "?" of the whole text
//     (across statements) takes Params.Items(k) and is named "Param<k+1>".
//     A reference with no value, including a "?" past the end of the
//     list, raises 30358; the list is never read out of bounds.
//  7. The lexer owns the ParamValue of its tokens. A TToken copied out
//     keeps a pointer that is valid while the lexer lives; AddToken copies
//     the value of a token it receives, so tokens from another lexer may
//     be added safely.
//  8. Cursor moves never read out of bounds: past either end the token
//     read is tktNone and the call returns false.
//  9. A name in backticks or brackets is never a particular reserved word
//     and never a parameter, whatever its text. (A backtick-quoted reserved
//     word stays a tktReservedWord that is no particular word.)
//
// Thread use: a lexer and its parameter list belong to the thread that
// executes the statement.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/ZUDVariant.h"

enum TTokenType : uint8_t {
  tktNone = 0,             // no token (end of statement)
  tktString = 1,           // unquoted word or operator symbol; also a backtick-quoted name
  tktQuotedString = 2,     // text in single or double quotes
  tktBracketedString = 3,  // text in square brackets
  tktInt = 4,              // number without decimal point or exponent
  tktFloat = 5,            // number with a decimal point or an exponent
  tktReservedWord = 6,     // unquoted word of the reserved-word table
  tktParameter = 7,        // :name, :"name", :'name', :[name], ?
  tktLeftParenthesis = 8,
  tktRightParenthesis = 9,
  tktComma = 10,
  tktDot = 11,
};

// The reserved words in table order; rwNone is "no particular reserved
// word", rwAny matches every reserved word in IsReservedWord.
enum TReservedWord : int16_t {
  rwNone = -1,
#define RW(id, text) rw##id,
#include "sql/ZUDReservedWords.inc"
#undef RW
  rwAny,
};
constexpr int kReservedWordCount = static_cast<int>(rwAny);

// The text of a reserved word ("" for rwNone and rwAny).
const char* ReservedWordText(TReservedWord word);
// The reserved word whose text equals `text` with ASCII letters folded to
// upper case, or rwNone.
TReservedWord FindReservedWord(std::string_view text);

struct TToken {
  TTokenType TokenType = tktNone;
  TReservedWord ReservedWord = rwNone;
  std::string Text;                         // without quotes or brackets; a parameter's name
  const TABSVariant* ParamValue = nullptr;  // tktParameter only; owned by the lexer
  int32_t Line = 0;
  int32_t Column = 0;
};

// One statement: its tokens and the cursor over them.
struct TSQLCommand {
  std::vector<TToken> Tokens;
  int32_t CurrentToken = 0;
  int32_t TokenCount() const { return static_cast<int32_t>(Tokens.size()); }
};

// A typed value with a name, as a query hands it to the SQL processor.
class TABSSQLParam : public TABSVariant {
 public:
  std::string Name;
};

// An ordered list of parameters that it owns.
class TABSSQLParams {
 public:
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  // Null when `index` is outside 0..Count()-1.
  TABSSQLParam* Items(int32_t index) const;
  // Appends a new empty parameter and returns it.
  TABSSQLParam* AddParam();
  void Clear();
  // The first parameter whose Name equals `name` (ASCII case folded), or
  // null.
  TABSSQLParam* FindParam(std::string_view name) const;

 private:
  std::vector<std::unique_ptr<TABSSQLParam>> items_;
};

class TABSLexer {
 public:
  // Tokenizes the whole text (contract 1); CurrentCommand is -1 afterwards
  // and every statement's cursor is at 0. `Params` may be null and must
  // outlive only the constructor: values are copied.
  TABSLexer(std::string SQLText, bool SkipParams, const TABSSQLParams* Params);
  TABSLexer(const TABSLexer&) = delete;
  TABSLexer& operator=(const TABSLexer&) = delete;

  const std::string& SQLText() const { return sqlText_; }
  bool SkipParams() const { return skipParams_; }
  // The list handed to the constructor; only read while tokenizing.
  const TABSSQLParams* Params() const { return params_; }
  const std::vector<TSQLCommand>& Commands() const { return commands_; }
  int32_t CommandCount() const { return static_cast<int32_t>(commands_.size()); }
  int32_t CurrentCommand() const { return currentCommand_; }

  // Selects the next statement; false when there is none.
  bool NextCommand();
  // Copies the token under the cursor; tktNone and false past the end or
  // with no statement selected. A tktNone token carries the line and
  // column of the statement's last token, for messages about a statement
  // that ends too early.
  bool GetCurrentToken(TToken& token) const;
  // Advances the cursor (always) and copies the token now under it.
  bool GetNextToken(TToken& token);
  // Copies the token after the cursor without moving it.
  bool LookAhead(TToken& token) const;
  // The cursor's index in the current statement (0 with none selected).
  int32_t GetPosition() const;
  // Moves the cursor to `index` and copies the token there.
  bool SetPosition(int32_t index, TToken& token);

  // Appends an empty statement and selects it.
  void AddCommand();
  // Appends a token to the current statement (opening one when none is
  // selected); a parameter value is copied into this lexer (contract 7).
  void AddToken(const TToken& token);

  // The token is a tktReservedWord and is `word`, or is any reserved word
  // when `word` is rwAny. rwNone matches nothing.
  static bool IsReservedWord(const TToken& token, TReservedWord word);

 private:
  class Tokenizer;
  friend class Tokenizer;

  const TSQLCommand* Current() const;
  TSQLCommand* Current();
  const TABSVariant* KeepValue(const TABSVariant& value);

  std::string sqlText_;
  bool skipParams_ = false;
  const TABSSQLParams* params_ = nullptr;
  std::vector<TSQLCommand> commands_;
  int32_t currentCommand_ = -1;
  std::vector<std::unique_ptr<TABSVariant>> paramValues_;
};
