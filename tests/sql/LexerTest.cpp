// The SQL lexer: statement text -> tokens (kind, text, line, column), its
// errors, parameters and the cursor.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/ZUDExcept.h"
#include "sql/ZUDLexer.h"
#include "support/EngineError.h"

namespace {

char KindLetter(TTokenType t) {
  switch (t) {
    case tktNone: return '0';
    case tktString: return 'S';
    case tktQuotedString: return 'Q';
    case tktBracketedString: return 'B';
    case tktInt: return 'I';
    case tktFloat: return 'F';
    case tktReservedWord: return 'R';
    case tktParameter: return 'P';
    case tktLeftParenthesis: return '(';
    case tktRightParenthesis: return ')';
    case tktComma: return ',';
    case tktDot: return '.';
  }
  return '?';
}

// Every statement as "kind:text@line:col" words, statements split by " | ".
std::string Render(const TABSLexer& lexer) {
  std::string out;
  for (const TSQLCommand& command : lexer.Commands()) {
    if (!out.empty()) out += " | ";
    bool first = true;
    for (const TToken& t : command.Tokens) {
      if (!first) out += ' ';
      first = false;
      out += KindLetter(t.TokenType);
      out += ':' + t.Text + '@' + std::to_string(t.Line) + ':' + std::to_string(t.Column);
    }
  }
  return out;
}

std::string Lex(const std::string& text) {
  TABSLexer lexer(text, false, nullptr);
  return Render(lexer);
}

struct TokenCase {
  const char* text;
  const char* tokens;
};

TEST(LexerTokens, StatementTextGivesTokens) {
  const TokenCase cases[] = {
      {"", ""},
      {" ;; -- only a comment\n /* and a block */ ;", ""},
      {"select * from t;", "R:select@1:1 S:*@1:8 R:from@1:10 S:t@1:15"},
      {"a;b", "S:a@1:1 | S:b@1:3"},
      {"'It''s'", "Q:It's@1:1"},
      {"[a]]b]", "B:a]b@1:1"},
      {"\"x\"\"y\"", "Q:x\"y@1:1"},
      {"select 'a;b' x", "R:select@1:1 Q:a;b@1:8 S:x@1:14"},
      {"12.5e-3 1e5 .5 12 1e+5", "F:12.5e-3@1:1 F:1e5@1:9 F:.5@1:13 I:12@1:16 F:1e+5@1:19"},
      {"t.field", "S:t@1:1 .:.@1:2 S:field@1:3"},
      {"t . f", "S:t@1:1 .:.@1:3 S:f@1:5"},
      {"a<=b", "S:a@1:1 S:<=@1:2 S:b@1:4"},
      {"a<>b", "S:a@1:1 S:<>@1:2 S:b@1:4"},
      {"a>=b a>b a<b", "S:a@1:1 S:>=@1:2 S:b@1:4 S:a@1:6 S:>@1:7 S:b@1:8 S:a@1:10 S:<@1:11 S:b@1:12"},
      {"a||b a|b", "S:a@1:1 S:||@1:2 S:b@1:4 S:a@1:6 S:|@1:7 S:b@1:8"},
      {"a-b a+b", "S:a@1:1 S:-@1:2 S:b@1:3 S:a@1:5 S:+@1:6 S:b@1:7"},
      {"-5", "S:-@1:1 I:5@1:2"},
      {"1+2 1-2", "I:1@1:1 S:+@1:2 I:2@1:3 I:1@1:5 S:-@1:6 I:2@1:7"},
      {"f(a,b)*2=c/d",
       "S:f@1:1 (:(@1:2 S:a@1:3 ,:,@1:4 S:b@1:5 ):)@1:6 S:*@1:7 I:2@1:8 S:=@1:9 S:c@1:10 S:/@1:11 S:d@1:12"},
      // A comment ends the word before it.
      {"select t-- note\nWHERE x", "R:select@1:1 S:t@1:8 R:WHERE@2:1 S:x@2:7"},
      {"a/* c\n */b", "S:a@1:1 S:b@2:4"},
      {"a /* never closed", "S:a@1:1"},
      // Carriage returns advance nothing, tabs one column.
      {"select\r\n\ta", "R:select@1:1 S:a@2:2"},
      {"'a\nb' x", "Q:a\nb@1:1 S:x@2:4"},
      // Names in backticks and brackets.
      {"`select` [order] `a``b` `a\\b` `a\\\\b`", "R:select@1:1 B:order@1:10 S:a`b@1:18 S:ab@1:25 S:a\\b@1:31"},
      {"`:x`", "S::x@1:1"},
      {"x\xe9t\xe9 @v", "S:x\xe9t\xe9@1:1 S:@v@1:6"},
  };
  for (const TokenCase& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Lex(c.text), c.tokens);
  }
}

TEST(LexerTokens, ReservedWordsAreMarkedUnlessQuoted) {
  TABSLexer lexer("SeLeCt `order` [from] Rndup selects", false, nullptr);
  const auto& tokens = lexer.Commands().at(0).Tokens;
  ASSERT_EQ(tokens.size(), 5u);
  EXPECT_TRUE(TABSLexer::IsReservedWord(tokens[0], rwSELECT));
  EXPECT_FALSE(TABSLexer::IsReservedWord(tokens[0], rwFROM));
  EXPECT_TRUE(TABSLexer::IsReservedWord(tokens[0], rwAny));
  // A backtick-quoted reserved word is a reserved-word token of no word.
  EXPECT_EQ(tokens[1].TokenType, tktReservedWord);
  EXPECT_EQ(tokens[1].ReservedWord, rwNone);
  EXPECT_FALSE(TABSLexer::IsReservedWord(tokens[1], rwORDER));
  EXPECT_FALSE(TABSLexer::IsReservedWord(tokens[1], rwNone));
  EXPECT_EQ(tokens[2].TokenType, tktBracketedString);
  EXPECT_FALSE(TABSLexer::IsReservedWord(tokens[2], rwAny));
  EXPECT_TRUE(TABSLexer::IsReservedWord(tokens[3], rwRNDUP));
  EXPECT_EQ(tokens[4].TokenType, tktString);
}

TEST(LexerTokens, ReservedWordTableIsConsistent) {
  EXPECT_EQ(kReservedWordCount, 291);
  for (int i = 0; i < kReservedWordCount; ++i) {
    const auto word = static_cast<TReservedWord>(i);
    EXPECT_EQ(FindReservedWord(ReservedWordText(word)), word) << ReservedWordText(word);
  }
  EXPECT_STREQ(ReservedWordText(rwACTION), "ACTION");
  EXPECT_STREQ(ReservedWordText(rwEND_EXEC), "END-EXEC");
  EXPECT_STREQ(ReservedWordText(rwRNDUP), "RNDUP");
  EXPECT_EQ(FindReservedWord("blobCompressionAlgorithm"), rwBLOBCOMPRESSIONALGORITHM);
  EXPECT_EQ(FindReservedWord("S\xc9LECT"), rwNone);  // only ASCII letters fold
  EXPECT_EQ(FindReservedWord(""), rwNone);
  EXPECT_STREQ(ReservedWordText(rwNone), "");
  EXPECT_STREQ(ReservedWordText(rwAny), "");
}

struct ErrorCase {
  const char* text;
  int32_t code;
  const char* message;
};

TEST(LexerErrors, BadTextRaisesWithPosition) {
  const ErrorCase cases[] = {
      {"select (a from t", 30059, "Missing symbol ')' at line 1, column 8"},
      {"select f((a)\n from t", 30059, "Missing symbol ')' at line 1, column 10"},
      {"select a) from t", 30060, "Unexpected symbol ')' found at line 1, column 9"},
      {"select a from t;\nselect b) x", 30060, "Unexpected symbol ')' found at line 2, column 9"},
      {"select 'abc", 30061, "Unterminated string at line 1, column 8"},
      {"select\n  [abc", 30061, "Unterminated string at line 2, column 3"},
      {"select `abc``", 30061, "Unterminated string at line 1, column 8"},
      {"select :\"abc", 30061, "Unterminated string at line 1, column 9"},
      {"select 12abc", 30062, "Invalid numeric symbol 'a' at line 1, column 10"},
      {"select\n 1.5e3x", 30062, "Invalid numeric symbol 'x' at line 2, column 7"},
      {"select 5'a'", 30062, "Invalid numeric symbol ''' at line 1, column 9"},
      {"select :nope", 30358, "Value for parameter 'nope' not found"},
      {"select ?", 30358, "Value for parameter 'Param1' not found"},
  };
  for (const ErrorCase& c : cases) {
    SCOPED_TRACE(c.text);
    std::string message;
    EXPECT_EQ(NativeCodeOf([&] { TABSLexer lexer(c.text, false, nullptr); }, &message), c.code);
    EXPECT_EQ(message, c.message);
  }
}

// Odd or huge input lexes or raises an engine error; it never crashes.
TEST(LexerErrors, OddAndHugeInputIsSafe) {
  const std::string bigNumber(5000, '9');
  EXPECT_EQ(Lex("select " + bigNumber), "R:select@1:1 I:" + bigNumber + "@1:8");
  EXPECT_EQ(Lex(std::string("a\0b", 3)), std::string("S:a\0b@1:1", 9));
  EXPECT_EQ(Lex("{x} ~ ! # $"), "S:{x}@1:1 S:~@1:5 S:!@1:7 S:#@1:9 S:$@1:11");
  const std::string deep = std::string(100000, '(') + std::string(100000, ')');
  TABSLexer balanced(deep, false, nullptr);
  EXPECT_EQ(balanced.Commands().at(0).TokenCount(), 200000);
  std::string message;
  EXPECT_EQ(NativeCodeOf([&] { TABSLexer lexer(std::string(100000, '('), false, nullptr); }, &message), 30059);
  EXPECT_EQ(message, "Missing symbol ')' at line 1, column 100000");
}

// ---------------------------------------------------------------------------
// Parameters

class LexerParams : public ::testing::Test {
 protected:
  TABSSQLParam* Add(const std::string& name) {
    TABSSQLParam* p = params_.AddParam();
    p->Name = name;
    return p;
  }
  TABSSQLParams params_;
};

TEST_F(LexerParams, NamedReferencesTakeCopiesOfTheirValues) {
  Add("par1")->SetAsInteger(5);
  Add("my param")->SetAsString("x");
  TABSSQLParam* empty = Add("nada");
  empty->Clear(bftDate);
  auto lexer =
      std::make_unique<TABSLexer>(":PAR1 = :par1 :\"my param\" :'MY PARAM' :[my param] :nada", false, &params_);
  EXPECT_EQ(Render(*lexer),
            "P:PAR1@1:1 S:=@1:7 P:par1@1:9 P:my param@1:15 P:MY PARAM@1:27 P:my param@1:39 P:nada@1:51");
  const auto& tokens = lexer->Commands().at(0).Tokens;
  EXPECT_EQ(tokens[0].ParamValue->AsInteger(), 5);
  EXPECT_EQ(tokens[2].ParamValue->AsInteger(), 5);
  EXPECT_NE(tokens[0].ParamValue, params_.Items(0));
  EXPECT_EQ(tokens[3].ParamValue->AsString(), "x");
  EXPECT_EQ(tokens[4].ParamValue->AsString(), "x");
  EXPECT_TRUE(tokens[6].ParamValue->IsNull());
  EXPECT_EQ(tokens[6].ParamValue->StorageType(), bftDate);
  for (const TToken& t : tokens) EXPECT_EQ(t.ParamValue != nullptr, t.TokenType == tktParameter);

  // Values are fixed at tokenizing and outlive the list.
  params_.Items(0)->SetAsInteger(6);
  params_.Clear();
  EXPECT_EQ(tokens[0].ParamValue->AsInteger(), 5);
  EXPECT_EQ(tokens[3].ParamValue->AsString(), "x");
}

TEST_F(LexerParams, QuestionMarksTakeTheListInOrderAcrossStatements) {
  for (int i = 1; i <= 3; ++i) Add("ignored")->SetAsInteger(i * 10);
  TABSLexer lexer("select ?, ? from t; select ?", false, &params_);
  EXPECT_EQ(Render(lexer),
            "R:select@1:1 P:Param1@1:8 ,:,@1:9 P:Param2@1:11 R:from@1:13 S:t@1:18 | "
            "R:select@1:21 P:Param3@1:28");
  EXPECT_EQ(lexer.Commands()[0].Tokens[1].ParamValue->AsInteger(), 10);
  EXPECT_EQ(lexer.Commands()[0].Tokens[3].ParamValue->AsInteger(), 20);
  EXPECT_EQ(lexer.Commands()[1].Tokens[1].ParamValue->AsInteger(), 30);
}

TEST_F(LexerParams, MoreReferencesThanValuesIsAnError) {
  Add("a")->SetAsInteger(1);
  const ErrorCase cases[] = {
      {"select ?, ?", 30358, "Value for parameter 'Param2' not found"},
      {"select ?; select ??", 30358, "Value for parameter 'Param2' not found"},
      {"select :a, :b", 30358, "Value for parameter 'b' not found"},
  };
  for (const ErrorCase& c : cases) {
    SCOPED_TRACE(c.text);
    std::string message;
    EXPECT_EQ(NativeCodeOf([&] { TABSLexer lexer(c.text, false, &params_); }, &message), c.code);
    EXPECT_EQ(message, c.message);
  }
}

TEST_F(LexerParams, SkipParamsLeavesReferencesAsWords) {
  TABSLexer lexer("a = :x or b = ? or c = :\"y z\"", true, nullptr);
  EXPECT_EQ(Render(lexer),
            "S:a@1:1 S:=@1:3 S::x@1:5 R:or@1:8 S:b@1:11 S:=@1:13 S:?@1:15 R:or@1:17 S:c@1:20 "
            "S:=@1:22 S::y z@1:24");
}

// ---------------------------------------------------------------------------
// Cursor

TEST(LexerCursor, WalksStepsBackAndStopsAtTheEnds) {
  TABSLexer lexer("select a\nfrom t; x", false, nullptr);
  TToken tok;
  EXPECT_EQ(lexer.CurrentCommand(), -1);
  EXPECT_FALSE(lexer.GetCurrentToken(tok));
  EXPECT_EQ(tok.TokenType, tktNone);

  ASSERT_TRUE(lexer.NextCommand());
  ASSERT_TRUE(lexer.GetCurrentToken(tok));
  EXPECT_EQ(tok.Text, "select");
  ASSERT_TRUE(lexer.LookAhead(tok));
  EXPECT_EQ(tok.Text, "a");
  EXPECT_EQ(lexer.GetPosition(), 0);
  ASSERT_TRUE(lexer.GetNextToken(tok));
  EXPECT_EQ(tok.Text, "a");
  const int32_t saved = lexer.GetPosition();
  ASSERT_TRUE(lexer.GetNextToken(tok));
  ASSERT_TRUE(lexer.GetNextToken(tok));
  EXPECT_EQ(tok.Text, "t");
  EXPECT_FALSE(lexer.LookAhead(tok));
  EXPECT_FALSE(lexer.GetNextToken(tok));  // past the end: none, cursor moved anyway
  EXPECT_EQ(tok.TokenType, tktNone);
  EXPECT_EQ(tok.Line, 2);  // where the statement ended
  EXPECT_EQ(tok.Column, 6);
  EXPECT_EQ(lexer.GetPosition(), 4);
  EXPECT_FALSE(lexer.GetCurrentToken(tok));
  ASSERT_TRUE(lexer.SetPosition(saved, tok));
  EXPECT_EQ(tok.Text, "a");
  EXPECT_FALSE(lexer.SetPosition(-3, tok));
  EXPECT_FALSE(lexer.SetPosition(99, tok));

  ASSERT_TRUE(lexer.NextCommand());
  ASSERT_TRUE(lexer.GetCurrentToken(tok));
  EXPECT_EQ(tok.Text, "x");
  EXPECT_FALSE(lexer.NextCommand());
  EXPECT_EQ(lexer.CurrentCommand(), 1);
}

TEST(LexerCursor, AddedTokensOwnTheirParameterValues) {
  TABSSQLParams params;
  TABSSQLParam* p = params.AddParam();
  p->Name = "v";
  p->SetAsString("kept");
  TABSLexer target("", false, nullptr);
  EXPECT_EQ(target.CommandCount(), 0);
  {
    TABSLexer source("insert :v", false, &params);
    target.AddToken(source.Commands()[0].Tokens[0]);  // opens a statement
    target.AddToken(source.Commands()[0].Tokens[1]);
    target.AddCommand();
  }
  EXPECT_EQ(target.CommandCount(), 2);
  EXPECT_EQ(target.CurrentCommand(), 1);
  const TToken& added = target.Commands()[0].Tokens[1];
  ASSERT_EQ(added.TokenType, tktParameter);
  EXPECT_EQ(added.ParamValue->AsString(), "kept");
}

}  // namespace
