// The SQL lexer: one pass over the whole text, character by character.
#include "sql/ZUDLexer.h"

#include <algorithm>
#include <array>
#include <climits>
#include <string>
#include <unordered_map>
#include <utility>

#include "core/ZUDExcept.h"

namespace {

const char* const kReservedWordTexts[] = {
#define RW(id, text) text,
#include "sql/ZUDReservedWords.inc"
#undef RW
};
static_assert(sizeof(kReservedWordTexts) / sizeof(kReservedWordTexts[0]) == kReservedWordCount);
static_assert(kReservedWordCount == 291);

// The longest reserved word; longer texts are never looked up.
constexpr size_t kLongestReservedWord = 24;

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
// True when `c` is one of `set`; never true for a NUL character.
bool IsOneOf(char c, std::string_view set) { return c != '\0' && set.find(c) != std::string_view::npos; }
bool IsBlank(char c) { return c == '\t' || c == '\r' || c == '\n' || c == ' '; }

bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  }
  return true;
}

const std::unordered_map<std::string, TReservedWord>& ReservedWordIndex() {
  static const std::unordered_map<std::string, TReservedWord> index = [] {
    std::unordered_map<std::string, TReservedWord> m;
    for (int i = 0; i < kReservedWordCount; ++i) m.emplace(kReservedWordTexts[i], static_cast<TReservedWord>(i));
    return m;
  }();
  return index;
}

}  // namespace

const char* ReservedWordText(TReservedWord word) {
  if (word < 0 || word >= kReservedWordCount) return "";
  return kReservedWordTexts[word];
}

TReservedWord FindReservedWord(std::string_view text) {
  if (text.empty() || text.size() > kLongestReservedWord) return rwNone;
  std::string upper(text);
  for (char& c : upper) c = UpperAscii(c);
  const auto& index = ReservedWordIndex();
  const auto it = index.find(upper);
  return it == index.end() ? rwNone : it->second;
}

// ---------------------------------------------------------------------------
// TABSSQLParams

TABSSQLParam* TABSSQLParams::Items(int32_t index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return items_[static_cast<size_t>(index)].get();
}

TABSSQLParam* TABSSQLParams::AddParam() {
  items_.push_back(std::make_unique<TABSSQLParam>());
  return items_.back().get();
}

void TABSSQLParams::Clear() { items_.clear(); }

TABSSQLParam* TABSSQLParams::FindParam(std::string_view name) const {
  for (const auto& p : items_) {
    if (EqualsIgnoreAsciiCase(p->Name, name)) return p.get();
  }
  return nullptr;
}

// ---------------------------------------------------------------------------
// Tokenizer: the state of one pass. Invariants:
//  T1. `pos_`, `line_`, `col_` always describe the same character.
//  T2. A token is appended to `statement_` only when it is closed, so
//      `statement_` holds closed tokens only.
//  T3. `quoteOpen_` is set only while a quoted text is being read, and stays
//      set only when the text ended inside it.

class TABSLexer::Tokenizer {
 public:
  Tokenizer(TABSLexer& lexer, const TABSSQLParams* params) : lexer_(lexer), text_(lexer.sqlText_), params_(params) {}

  void Run() {
    while (pos_ < text_.size()) {
      const char c = text_[pos_];
      if (c == ';') {
        EndStatement();
        Step();
        continue;
      }
      if (c == '-' && At(pos_ + 1) == '-') {
        SkipLineComment();
        continue;
      }
      if (c == '/' && At(pos_ + 1) == '*') {
        SkipBlockComment();
        continue;
      }
      const bool blank = IsBlank(c);
      if (tokenOpen_ && blank) CloseToken();
      if (StartsToken(c, blank)) {
        CloseToken();
        StartToken(c);
        continue;
      }
      if (tokenOpen_ && !blank) Append(c);
      Step();
    }
    EndStatement();
  }

 private:
  char At(size_t i) const { return i < text_.size() ? text_[i] : '\0'; }

  // Moves past the character under `pos_` (contract 3 of the header).
  void Step() {
    const char c = text_[pos_++];
    if (c == '\n') {
      ++line_;
      col_ = 1;
    } else if (c != '\r') {
      ++col_;
    }
    prev_ = c;
  }

  // A comment separates tokens like white space (header contract 4).
  void SkipLineComment() {
    CloseToken();
    while (pos_ < text_.size()) {
      const bool lineFeed = text_[pos_] == '\n';
      Step();
      if (lineFeed) break;
    }
  }

  void SkipBlockComment() {
    CloseToken();
    Step();  // "/"
    Step();  // "*"
    while (pos_ < text_.size()) {
      if (text_[pos_] == '*' && At(pos_ + 1) == '/') {
        Step();
        Step();
        return;
      }
      Step();
    }
  }

  bool StartsToken(char c, bool blank) const {
    if (!tokenOpen_) return !blank;
    const TTokenType kind = token_.TokenType;
    if (IsOneOf(c, "><=(),/*:?|")) return true;
    if (c == '.' && kind != tktInt) return true;
    if (kind == tktDot && !IsDigit(c) && c != ' ') return true;
    if (kind == tktString && (c == '+' || c == '-')) return true;
    if (kind == tktInt && (c == '+' || c == '-') && prev_ != 'E' && prev_ != 'e') return true;
    return false;
  }

  void StartToken(char c) {
    if (!statementOpen_) {
      statementOpen_ = true;
      statement_ = TSQLCommand{};
      depth_ = 0;
    }
    token_ = TToken{};
    token_.Line = line_;
    token_.Column = col_;
    token_.Text.assign(1, c);
    quotedName_ = false;
    tokenOpen_ = true;

    if (IsOneOf(c, "'\"`[")) {
      ReadQuoted(false);
      return;
    }
    if (c == ':' && IsOneOf(At(pos_ + 1), "\"'[")) {
      ReadQuoted(true);
      return;
    }
    switch (c) {
      case '(':
        token_.TokenType = tktLeftParenthesis;
        ++depth_;
        lastOpenLine_ = line_;
        lastOpenColumn_ = col_;
        Step();
        CloseToken();
        return;
      case ')':
        token_.TokenType = tktRightParenthesis;
        --depth_;
        lastCloseLine_ = line_;
        lastCloseColumn_ = col_;
        Step();
        CloseToken();
        return;
      case ',':
        token_.TokenType = tktComma;
        Step();
        CloseToken();
        return;
      case '.':
        token_.TokenType = tktDot;
        Step();
        return;
      default: break;
    }
    token_.TokenType = IsDigit(c) ? tktInt : tktString;
    Step();
    switch (c) {
      case '-':
      case '+':
      case '*':
      case '/':
      case '=': CloseToken(); break;
      case '|':
        TakeIfNext("|");
        CloseToken();
        break;
      case '<':
        TakeIfNext("=>");
        CloseToken();
        break;
      case '>':
        TakeIfNext("=");
        CloseToken();
        break;
      default: break;
    }
  }

  // Adds the next character to the token when it is one of `set`.
  void TakeIfNext(std::string_view set) {
    if (pos_ < text_.size() && IsOneOf(text_[pos_], set)) {
      token_.Text.push_back(text_[pos_]);
      Step();
    }
  }

  void Append(char c) {
    if (token_.TokenType == tktInt && !IsDigit(c) && !IsOneOf(c, ".Ee+-")) {
      throw EABSException(30062, "Invalid numeric symbol '%s' at line %d, column %d", {std::string(1, c), line_, col_});
    }
    if (token_.TokenType == tktDot && IsDigit(c)) token_.TokenType = tktInt;
    token_.Text.push_back(c);
  }

  // Reads a quoted text; `pos_` is at its opening character, or at the
  // colon of the ":" forms, whose token text keeps the colon.
  void ReadQuoted(bool colonForm) {
    if (colonForm) {
      Step();
    } else {
      token_.Text.clear();
    }
    const char open = text_[pos_];
    const char close = open == '[' ? ']' : open;
    if (colonForm || open == '`') {
      token_.TokenType = tktString;
    } else if (open == '[') {
      token_.TokenType = tktBracketedString;
    } else {
      token_.TokenType = tktQuotedString;
    }
    quotedName_ = !colonForm && (open == '`' || open == '[');
    quoteOpen_ = true;
    quoteLine_ = line_;
    quoteColumn_ = col_;
    Step();
    while (pos_ < text_.size()) {
      char ch = text_[pos_];
      if (open == '`' && ch == '\\') {
        Step();
        if (pos_ >= text_.size()) break;
        ch = text_[pos_];
        if (ch != close) {
          token_.Text.push_back(ch);
          Step();
          continue;
        }
      }
      if (ch == close) {
        if (At(pos_ + 1) == close) {
          token_.Text.push_back(close);
          Step();
          Step();
          continue;
        }
        Step();
        quoteOpen_ = false;
        CloseToken();
        return;
      }
      token_.Text.push_back(ch);
      Step();
    }
    // The text ended inside the quotes: EndStatement reports it.
  }

  void CloseToken() {
    if (!tokenOpen_) return;
    tokenOpen_ = false;
    std::string& text = token_.Text;
    if (token_.TokenType == tktInt) {
      if (text.find_first_of(".Ee") != std::string::npos) token_.TokenType = tktFloat;
    } else if (token_.TokenType == tktString) {
      const bool parameterLike = !quotedName_ && !text.empty() && (text[0] == ':' || text[0] == '?');
      if (parameterLike) {
        if (!lexer_.skipParams_) MakeParameter();
      } else {
        const TReservedWord word = FindReservedWord(text);
        if (word != rwNone) {
          token_.TokenType = tktReservedWord;
          token_.ReservedWord = quotedName_ ? rwNone : word;
        }
      }
    }
    statement_.Tokens.push_back(std::move(token_));
    token_ = TToken{};
  }

  void MakeParameter() {
    const TABSVariant* value = nullptr;
    if (token_.Text[0] == ':') {
      token_.Text.erase(0, 1);
      if (params_) value = params_->FindParam(token_.Text);
    } else {
      const int32_t k = questionCount_;
      if (questionCount_ < INT32_MAX) ++questionCount_;
      token_.Text = "Param" + std::to_string(static_cast<int64_t>(k) + 1);
      if (params_) value = params_->Items(k);
    }
    if (value == nullptr) {
      throw EABSException(30358, "Value for parameter '%s' not found", {token_.Text});
    }
    token_.TokenType = tktParameter;
    token_.ParamValue = lexer_.KeepValue(*value);
  }

  void EndStatement() {
    if (quoteOpen_) {
      tokenOpen_ = false;  // the unfinished quoted token is never kept
    } else {
      CloseToken();
    }
    if (!statementOpen_) return;
    if (depth_ > 0) {
      throw EABSException(30059, "Missing symbol ')' at line %d, column %d", {lastOpenLine_, lastOpenColumn_});
    }
    if (depth_ < 0) {
      throw EABSException(30060, "Unexpected symbol ')' found at line %d, column %d",
                          {lastCloseLine_, lastCloseColumn_});
    }
    if (quoteOpen_) {
      throw EABSException(30061, "Unterminated string at line %d, column %d", {quoteLine_, quoteColumn_});
    }
    lexer_.commands_.push_back(std::move(statement_));
    statement_ = TSQLCommand{};
    statementOpen_ = false;
  }

  TABSLexer& lexer_;
  const std::string& text_;
  const TABSSQLParams* params_;

  size_t pos_ = 0;
  int32_t line_ = 1;
  int32_t col_ = 1;
  char prev_ = '\0';

  bool tokenOpen_ = false;
  TToken token_;
  bool quotedName_ = false;  // the open token is a name in backticks or brackets

  bool quoteOpen_ = false;
  int32_t quoteLine_ = 0;
  int32_t quoteColumn_ = 0;

  bool statementOpen_ = false;
  TSQLCommand statement_;
  int depth_ = 0;
  int32_t lastOpenLine_ = 0;
  int32_t lastOpenColumn_ = 0;
  int32_t lastCloseLine_ = 0;
  int32_t lastCloseColumn_ = 0;

  int32_t questionCount_ = 0;
};

// ---------------------------------------------------------------------------
// TABSLexer

TABSLexer::TABSLexer(std::string SQLText, bool SkipParams, const TABSSQLParams* Params)
    : sqlText_(std::move(SQLText)), skipParams_(SkipParams), params_(Params) {
  Tokenizer(*this, Params).Run();
  currentCommand_ = -1;
  for (TSQLCommand& command : commands_) command.CurrentToken = 0;
}

const TSQLCommand* TABSLexer::Current() const {
  if (currentCommand_ < 0 || currentCommand_ >= CommandCount()) return nullptr;
  return &commands_[static_cast<size_t>(currentCommand_)];
}

TSQLCommand* TABSLexer::Current() { return const_cast<TSQLCommand*>(static_cast<const TABSLexer*>(this)->Current()); }

const TABSVariant* TABSLexer::KeepValue(const TABSVariant& value) {
  auto copy = std::make_unique<TABSVariant>();
  copy->Assign(value, true);
  paramValues_.push_back(std::move(copy));
  return paramValues_.back().get();
}

namespace {
bool TokenAt(const TSQLCommand* command, int64_t index, TToken& token) {
  token = TToken{};
  if (command == nullptr) return false;
  if (index >= 0 && index < command->TokenCount()) {
    token = command->Tokens[static_cast<size_t>(index)];
    return true;
  }
  if (!command->Tokens.empty()) {
    token.Line = command->Tokens.back().Line;
    token.Column = command->Tokens.back().Column;
  }
  return false;
}
}  // namespace

bool TABSLexer::NextCommand() {
  if (currentCommand_ + 1 >= CommandCount()) return false;
  ++currentCommand_;
  return true;
}

bool TABSLexer::GetCurrentToken(TToken& token) const {
  const TSQLCommand* command = Current();
  return TokenAt(command, command ? command->CurrentToken : 0, token);
}

bool TABSLexer::GetNextToken(TToken& token) {
  TSQLCommand* command = Current();
  if (command && command->CurrentToken < INT32_MAX) ++command->CurrentToken;
  return GetCurrentToken(token);
}

bool TABSLexer::LookAhead(TToken& token) const {
  const TSQLCommand* command = Current();
  return TokenAt(command, command ? static_cast<int64_t>(command->CurrentToken) + 1 : 0, token);
}

int32_t TABSLexer::GetPosition() const {
  const TSQLCommand* command = Current();
  return command ? command->CurrentToken : 0;
}

bool TABSLexer::SetPosition(int32_t index, TToken& token) {
  if (TSQLCommand* command = Current()) command->CurrentToken = index;
  return GetCurrentToken(token);
}

void TABSLexer::AddCommand() {
  commands_.emplace_back();
  currentCommand_ = CommandCount() - 1;
}

void TABSLexer::AddToken(const TToken& token) {
  if (Current() == nullptr) AddCommand();
  TToken copy = token;
  if (token.ParamValue) copy.ParamValue = KeepValue(*token.ParamValue);
  Current()->Tokens.push_back(std::move(copy));
}

bool TABSLexer::IsReservedWord(const TToken& token, TReservedWord word) {
  if (token.TokenType != tktReservedWord || word == rwNone) return false;
  return word == rwAny || token.ReservedWord == word;
}
