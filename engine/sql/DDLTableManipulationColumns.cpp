// TABSDDLTableManipulation: column definitions. Type, size, autoincrement
// options and column options.
#include <charconv>
#include <limits>
#include <string_view>

#include "core/ZUDExcept.h"
#include "core/ZUDFieldDefs.h"
#include "sql/DDLTableManipulation.h"
#include "sql/ExprParser.h"
#include "sql/ZUDExpressions.h"

namespace {

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return s;
}

bool IsDateWord(const std::string& upper) {
  return upper == "NOW" || upper == "CURRENT_TIMESTAMP" || upper == "CURRENT_TIME" || upper == "CURRENT_DATE" ||
         upper == "SYSDATE";
}

bool ReadInt64(std::string_view text, int64_t& out) {
  const auto r = std::from_chars(text.data(), text.data() + text.size(), out);
  return r.ec == std::errc() && r.ptr == text.data() + text.size();
}

bool ReadDouble(std::string_view text, double& out) {
  const auto r = std::from_chars(text.data(), text.data() + text.size(), out);
  return r.ec == std::errc() && r.ptr == text.data() + text.size();
}

bool IsOperatorSymbol(const TToken& t) {
  return t.TokenType == tktString && !t.Text.empty() &&
         std::string_view("+-*/|").find(t.Text[0]) != std::string_view::npos;
}

// The autoincrement type of the width an integer type names.
TABSDataType AutoincOfWidth(TABSDataType t) {
  switch (t) {
    case aftShortint: return aftAutoIncShortint;
    case aftSmallint: return aftAutoIncSmallint;
    case aftInteger: return aftAutoIncInteger;
    case aftLargeint: return aftAutoIncLargeint;
    case aftByte: return aftAutoIncByte;
    case aftWord: return aftAutoIncWord;
    case aftCardinal: return aftAutoIncCardinal;
    default: return aftUnknown;
  }
}

}  // namespace

void TABSDDLTableManipulation::ParseColumn() {
  TSQLFieldDef field;
  if (!IsColumnNameToken(Token))
    throw EABSException(30227, "Field name expected, but '%s' found at line %d, column %d",
                        {Token.Text, Token.Line, Token.Column});
  field.Name = Token.Text;
  Need();
  if (IsWord(rwIF)) {
    Need();
    if (!IsWord(rwNOT))
      throw EABSException(30488, "Token '%s' expected, but '%s' found at line %d, column %d",
                          {"NOT", Token.Text, Token.Line, Token.Column});
    Need();
    if (!IsWord(rwEXISTS))
      throw EABSException(30489, "Token '%s' expected, but '%s' found at line %d, column %d",
                          {"EXISTS", Token.Text, Token.Line, Token.Column});
    Need();
    field.IfNotExists = true;
  }
  ParseType(field);
  ParseColumnOptions(field);
  FieldDefs.push_back(std::move(field));
}

void TABSDDLTableManipulation::ParseType(TSQLFieldDef& field) {
  const bool word = Token.TokenType == tktString && !IsOperatorSymbol(Token);
  if (!word && Token.TokenType != tktBracketedString && Token.TokenType != tktReservedWord)
    throw EABSException(30228, "Field type expected, but '%s' found at line %d, column %d",
                        {Token.Text, Token.Line, Token.Column});
  field.DataType = DataTypeFromName(Upper(Token.Text));
  if (field.DataType == aftUnknown)
    throw EABSException(30232, "Unknown field type '%s' at line %d, column %d", {Token.Text, Token.Line, Token.Column});
  Need();
  const bool sized =
      (IsStringDataType(field.DataType) && field.DataType != aftGuid) || IsByteStringDataType(field.DataType);
  if (sized) {
    if (Token.TokenType != tktLeftParenthesis)
      throw EABSException(30233, "'(' symbol expected, but '%s' found at line %d, column %d",
                          {Token.Text, Token.Line, Token.Column});
    Need();
    int64_t size = 0;
    if (Token.TokenType != tktInt || !ReadInt64(Token.Text, size) || size > kMaxDeclaredSize)
      throw EABSException(30235, "Decimal constant expected, but '%s' found at line %d, column %d",
                          {Token.Text, Token.Line, Token.Column});
    field.SizeGiven = true;
    field.Size = static_cast<int32_t>(size);
    Need();
    if (Token.TokenType != tktRightParenthesis)
      throw EABSException(30236, "')' or ',' symbol expected, but '%s' found at line %d, column %d",
                          {Token.Text, Token.Line, Token.Column});
    Need();
  } else if (IsAutoincDataType(field.DataType) && Token.TokenType == tktLeftParenthesis) {
    ParseAutoincOptions(field);
  }
}

bool TABSDDLTableManipulation::ReadSignedInteger(int64_t& value) {
  std::string text;
  if (IsSymbol("-") || IsSymbol("+")) {
    if (IsSymbol("-")) text = "-";
    Need();
  }
  if (Token.TokenType != tktInt) return false;
  return ReadInt64(text + Token.Text, value);
}

void TABSDDLTableManipulation::ParseAutoincOptions(TSQLFieldDef& field) {
  Need();
  if (Token.TokenType == tktRightParenthesis)
    throw EABSException(30293, "Unexpected token '%s' found at line %d, column %d",
                        {Token.Text, Token.Line, Token.Column});
  for (;;) {
    if (IsWord(rwINCREMENT) || IsWord(rwINITIALVALUE) || IsWord(rwSTARTVALUE) || IsWord(rwMINVALUE) ||
        IsWord(rwMAXVALUE)) {
      const TReservedWord option = Token.ReservedWord;
      Need();
      int64_t value = 0;
      if (!ReadSignedInteger(value))
        throw EABSException(30291, "Integer expected, but '%s' found at line %d, column %d",
                            {Token.Text, Token.Line, Token.Column});
      switch (option) {
        case rwINCREMENT:
          field.IncrementGiven = true;
          field.Increment = value;
          break;
        case rwMINVALUE:
          field.AutoincMinGiven = true;
          field.AutoincMin = value;
          break;
        case rwMAXVALUE:
          field.AutoincMaxGiven = true;
          field.AutoincMax = value;
          break;
        default: field.InitialValueGiven = true; field.InitialValue = value;
      }
    } else if (IsWord(rwNOMINVALUE)) {
      field.AutoincMinGiven = true;
      field.AutoincMin = 0;
    } else if (IsWord(rwNOMAXVALUE)) {
      field.AutoincMaxGiven = true;
      field.AutoincMax = std::numeric_limits<int64_t>::max();
    } else if (IsWord(rwCYCLED) || IsWord(rwNOCYCLED)) {
      field.CycledGiven = true;
      field.Cycled = IsWord(rwCYCLED);
    } else {
      // The width of a plain AUTOINC, by an integer type name.
      const TABSDataType named = (Token.TokenType == tktString || Token.TokenType == tktReservedWord)
                                     ? DataTypeFromName(Upper(Token.Text))
                                     : aftUnknown;
      if (named == aftUnknown || field.DataType != aftAutoInc)
        throw EABSException(30294, "Unexpected token '%s' found at line %d, column %d",
                            {Token.Text, Token.Line, Token.Column});
      if (AutoincOfWidth(named) == aftUnknown)
        throw EABSException(30295, "Unsupported Autoinc DataType (%s) found at line %d, column %d",
                            {Token.Text, Token.Line, Token.Column});
      field.DataType = AutoincOfWidth(named);
    }
    Need();
    if (Token.TokenType == tktComma) {
      Need();
      continue;
    }
    if (Token.TokenType == tktRightParenthesis) {
      Need();
      return;
    }
  }
}

void TABSDDLTableManipulation::ParseColumnOptions(TSQLFieldDef& field) {
  for (;;) {
    if (Token.TokenType == tktComma || Token.TokenType == tktRightParenthesis) return;
    if (AtEnd())
      throw EABSException(30237, "Unexpected end of SQL command found at line %d, column %d",
                          {Token.Line, Token.Column});
    if (IsWord(rwNOT)) {
      Need();
      if (!IsWord(rwNULL))
        throw EABSException(2011, "'NULL' expected (for NOT NULL), but '%s' found at line %d, column %d",
                            {Token.Text, Token.Line, Token.Column});
      field.NullGiven = field.NotNull = true;
      Need();
    } else if (IsWord(rwNULL)) {
      field.NullGiven = true;
      field.NotNull = false;
      Need();
    } else if (IsWord(rwDEFAULT)) {
      if (field.DefaultGiven) throw EABSException(30299, "default value for column '%s' declared twice", {field.Name});
      Need();
      ParseDefault(field);
    } else if (IsWord(rwBLOBBLOCKSIZE) || IsWord(rwBLOBCOMPRESSIONMODE)) {
      const bool blockSize = IsWord(rwBLOBBLOCKSIZE);
      Need();
      int64_t value = 0;
      if (Token.TokenType != tktInt || !ReadInt64(Token.Text, value) || value > (blockSize ? INT32_MAX : 9))
        throw EABSException(30291, "Integer expected, but '%s' found at line %d, column %d",
                            {Token.Text, Token.Line, Token.Column});
      if (blockSize) {
        field.BlobBlockSizeGiven = true;
        field.BlobBlockSize = static_cast<int32_t>(value);
      } else {
        field.BlobCompressionModeGiven = true;
        field.BlobCompressionMode = static_cast<int32_t>(value);
      }
      Need();
    } else if (IsWord(rwBLOBCOMPRESSIONALGORITHM)) {
      Need();
      if (!IsColumnNameToken(Token))
        throw EABSException(30292, "Integer expected, but '%s' found at line %d, column %d",
                            {Token.Text, Token.Line, Token.Column});
      field.BlobCompressionAlgorithmGiven = true;
      field.BlobCompressionAlgorithm = Upper(Token.Text);
      Need();
    } else if (IsWord(rwMINVALUE)) {
      Need();
      field.MinValueGiven = true;
      field.MinValue = ParseLimit(field);
    } else if (IsWord(rwMAXVALUE)) {
      Need();
      field.MaxValueGiven = true;
      field.MaxValue = ParseLimit(field);
    } else if (IsWord(rwNOMINVALUE)) {
      field.MinValueGiven = true;
      field.MinValue.reset();
      Need();
    } else if (IsWord(rwNOMAXVALUE)) {
      field.MaxValueGiven = true;
      field.MaxValue.reset();
      Need();
    } else if (IsWord(rwPRIMARY) || IsWord(rwUNIQUE)) {
      TSQLIndexDef index;
      index.Primary = IsWord(rwPRIMARY);
      index.Unique = true;
      index.Columns.push_back({field.Name, false, false});
      IndexDefs.push_back(std::move(index));
      Need();
      if (IsWord(rwKEY)) Need();
    } else {
      SkipOption();
    }
  }
}

void TABSDDLTableManipulation::SkipOption() {
  // The dialect passes over option words it does not know; a parenthesized
  // argument goes with the word, or its ")" would end the column list.
  Need();
  if (Token.TokenType != tktLeftParenthesis) return;
  for (int depth = 0;;) {
    if (Token.TokenType == tktLeftParenthesis) ++depth;
    if (Token.TokenType == tktRightParenthesis && --depth == 0) break;
    Need();
  }
  Need();
}

void TABSDDLTableManipulation::ParseDefault(TSQLFieldDef& field) {
  auto value = std::make_unique<TABSVariant>();
  TToken after;
  const bool operatorFollows = Lexer().LookAhead(after) && IsOperatorSymbol(after);
  int64_t integer = 0;
  double real = 0;
  if (Token.TokenType == tktReservedWord && IsDateWord(Upper(Token.Text))) {
    value->SetAsString(Upper(Token.Text));
    Need();
  } else if (Token.TokenType == tktQuotedString && !operatorFollows) {
    const std::string upper = Upper(Token.Text);
    if (IsDateWord(upper)) {
      value->SetAsString(upper);
    } else {
      std::string literal = "\"";
      for (char c : Token.Text) {
        if (c == '"') literal.push_back('"');
        literal.push_back(c);
      }
      value->SetAsString(literal + "\"");
    }
    Need();
  } else if (IsWord(rwNULL)) {
    Need();
  } else if (Token.TokenType == tktInt && !operatorFollows && ReadInt64(Token.Text, integer)) {
    value->SetAsLargeint(integer);
    Need();
  } else if (Token.TokenType == tktFloat && !operatorFollows && ReadDouble(Token.Text, real)) {
    value->SetAsDouble(real);
    Need();
  } else {
    TABSExpression expression;
    TABSExprParser parser(expression, Lexer());
    std::unique_ptr<TABSExprNode> root = parser.Value();
    if (!root)
      throw EABSException(30297, "Error parsing parameter '%s' at line %d, column %d",
                          {Token.Text, Token.Line, Token.Column});
    expression.SetRoot(std::move(root));
    Reload();
    value->Assign(*expression.GetValue());
    if (AtEnd())
      throw EABSException(30297, "Unexpected end of SQL command found at line %d, column %d",
                          {Token.Line, Token.Column});
  }
  field.DefaultGiven = true;
  field.DefaultValue = std::move(value);
}

std::unique_ptr<TABSVariant> TABSDDLTableManipulation::ParseLimit(const TSQLFieldDef& field) {
  const TABSStorageType storage = DataTypeToStorageType(field.DataType);
  auto value = std::make_unique<TABSVariant>();
  bool negative = false;
  const bool signedLiteral = IsSymbol("-") || IsSymbol("+");
  if (signedLiteral) {
    negative = IsSymbol("-");
    Need();
  }
  const std::string digits = (negative ? "-" : "") + Token.Text;
  int64_t integer = 0;
  double real = 0;
  if (IsIntegerStorage(storage)) {
    if (Token.TokenType != tktInt || !ReadInt64(digits, integer))
      throw EABSException(30291, "Integer expected, but '%s' found at line %d, column %d",
                          {Token.Text, Token.Line, Token.Column});
    value->SetAsLargeint(integer);
  } else if (Token.TokenType == tktInt && ReadInt64(digits, integer)) {
    value->SetAsLargeint(integer);
  } else if ((Token.TokenType == tktInt || Token.TokenType == tktFloat) && ReadDouble(digits, real)) {
    value->SetAsDouble(real);
  } else if (Token.TokenType == tktQuotedString && !signedLiteral && !IsFloatStorage(storage) &&
             !IsNumericStorage(storage)) {
    value->SetAsString(Token.Text);
  } else {
    throw EABSException(30235, "Decimal constant expected, but '%s' found at line %d, column %d",
                        {Token.Text, Token.Line, Token.Column});
  }
  value->CastTo(storage);
  Need();
  return value;
}
