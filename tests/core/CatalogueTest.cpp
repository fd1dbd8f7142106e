#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/ZUDErrorCatalogue.h"
#include "core/ZUDExcept.h"

TEST(Catalogue, HoldsEveryCodeOnceExceptTheDualCodes) {
  std::map<int32_t, int> rows;
  std::set<std::pair<int32_t, std::string>> pairs;
  int32_t previous = 0;
  for (const TABSCatalogueEntry& e : ErrorCatalogue()) {
    EXPECT_GE(e.code, previous) << "rows must ascend by code";
    previous = e.code;
    ++rows[e.code];
    EXPECT_TRUE(pairs.insert({e.code, e.format}).second) << "repeated pair for " << e.code;
  }
  EXPECT_EQ(rows.size(), 1020u);
  std::set<int32_t> dual;
  for (auto [code, n] : rows)
    if (n > 1) dual.insert(code);
  EXPECT_EQ(dual, (std::set<int32_t>{10115, 10118, 10332, 10414, 10462, 20034, 30297, 30316, 30317, 30319, 30320, 30321,
                                     30322, 30430}));
  int bands[3] = {0, 0, 0};
  for (auto [code, n] : rows) {
    if (code >= 10000 && code <= 10515)
      ++bands[0];
    else if (code >= 20001 && code <= 20303)
      ++bands[1];
    else if (code >= 30001 && code <= 30506)
      ++bands[2];
    else
      EXPECT_TRUE(code == 2011 || code == 2156) << code;
  }
  EXPECT_EQ(bands[0], 381);
  EXPECT_EQ(bands[1], 244);
  EXPECT_EQ(bands[2], 393);
}

TEST(Catalogue, LooksUpCodesAndExpandedRanges) {
  struct Case {
    int32_t code;
    std::vector<std::string> formats;
  };
  const Case cases[] = {
      {30016, {"Value is Null"}},
      {20192, {"Invalid field number - FieldNo = %d, FieldCount = %d"}},  // inside "20191 to 20193"
      {30319,
       {"Primary Key constraint '%s' violated. Duplicate found.",
        "Cannot write to stream. Position = %d, Stream size = %d, Block size = %d, Bytes Write = %d"}},
      {10512, {"Cannot repair page index for large table. Table name: \"%s\""}},
      {10403, {"Error importing table. Cannot copy data due to error: %s\r\n"}},
      {30388, {"Cannot Read % bytes from internal file. FileSize=%d. ReadSize=%d, Count=%d"}},
      {2011, {"'NULL' expected (for NOT NULL), but '%s' found at line %d, column %d"}},
      {30003, {}},
      {10516, {}},
  };
  for (const Case& c : cases) {
    std::multiset<std::string> got, want(c.formats.begin(), c.formats.end());
    for (const char* f : CatalogueFormats(c.code)) got.insert(f);
    EXPECT_EQ(got, want) << c.code;
  }
}

TEST(Catalogue, ConstraintNameLoopsOnlyProduceCataloguedStreamCodes) {
  const std::string write =
      "Cannot write to stream. Position = %d, Stream size = %d, Block size = %d, Bytes Write = %d";
  const std::string read = "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d";
  for (int slot = 0; slot < 3; ++slot) {
    for (bool text : {false, true}) {
      EXPECT_TRUE(IsCatalogued(ConstraintNameSlotCode(kNotNullNameWriteBase, slot, text), write));
      EXPECT_TRUE(IsCatalogued(ConstraintNameSlotCode(kCheckNameWriteBase, slot, text), write));
      EXPECT_TRUE(IsCatalogued(ConstraintNameSlotCode(kNotNullNameReadBase, slot, text), read));
      EXPECT_TRUE(IsCatalogued(ConstraintNameSlotCode(kCheckNameReadBase, slot, text), read));
    }
  }
}

// Each message formats with arguments of the kinds its placeholders ask
// for: every placeholder is filled (no "%s" or "%d" is left, each argument
// shows), none is refused, and the code stays the one raised.
TEST(Catalogue, EveryMessageFormatsWithItsArguments) {
  for (const TABSCatalogueEntry& e : ErrorCatalogue()) {
    std::vector<TABSErrorArg> args;
    int texts = 0, numbers = 0;
    for (const char* p = e.format; p[0] && p[1]; ++p) {
      if (p[0] == '%' && p[1] == 's') args.emplace_back("\x01" + std::to_string(texts++));
      if (p[0] == '%' && p[1] == 'd') args.emplace_back(900000 + numbers++);
    }
    const EABSException ex(e.code, e.format, args);
    const std::string& shown = ex.Message();
    EXPECT_EQ(ex.NativeError(), e.code);
    EXPECT_EQ(shown.find("Arguments are invalid!"), std::string::npos) << e.code << ": " << shown;
    EXPECT_EQ(shown.find("%s"), std::string::npos) << e.code << ": " << shown;
    EXPECT_EQ(shown.find("%d"), std::string::npos) << e.code << ": " << shown;
    for (int n = 0; n < texts; ++n)
      EXPECT_NE(shown.find("\x01" + std::to_string(n)), std::string::npos) << e.code << ": " << shown;
    for (int n = 0; n < numbers; ++n)
      EXPECT_NE(shown.find(std::to_string(900000 + n)), std::string::npos) << e.code << ": " << shown;
  }
}

// Worked messages of catalogued formats, written out by hand: arguments in
// order, "%%" for one "%", and a "%" that opens no placeholder kept as is.
TEST(Catalogue, WorkedMessages) {
  const struct {
    int32_t code;
    std::vector<TABSErrorArg> args;
    const char* shown;
  } cases[] = {
      {10349, {5, 10, 4, 2}, "Cannot read from stream. Position = 5, Stream size = 10, Block size = 4, Bytes Read = 2"},
      {30129, {"XM"}, "AM/PM word expected, but 'XM' found"},
      {30059, {2, 17}, "Missing symbol ')' at line 2, column 17"},
      {2011, {"X", 1, 2}, "'NULL' expected (for NOT NULL), but 'X' found at line 1, column 2"},
      {30388, {100, 50, 200}, "Cannot Read % bytes from internal file. FileSize=100. ReadSize=50, Count=200"},
      {10000, {-1, 0}, "Invalid field number - FieldNo = -1, FieldCount = 0"},
  };
  for (const auto& c : cases) {
    const TABSCatalogueEntry* entry = nullptr;
    for (const TABSCatalogueEntry& e : ErrorCatalogue())
      if (e.code == c.code) entry = &e;
    ASSERT_NE(entry, nullptr) << c.code;
    EXPECT_EQ(EABSException(c.code, entry->format, c.args).Message(), c.shown);
  }
  std::string out;
  ASSERT_TRUE(FormatEngineMessage("100%% of %d", {7}, out));
  EXPECT_EQ(out, "100% of 7");
}

TEST(Exception, ShownTextEndsInFiveDigitCodeInBothForms) {
  EXPECT_STREQ(
      EABSException(2011, "'NULL' expected (for NOT NULL), but '%s' found at line %d, column %d", {"X", 1, 2}).what(),
      "'NULL' expected (for NOT NULL), but 'X' found at line 1, column 2 - Native error: 02011");
  EXPECT_STREQ(EABSException(2156, std::string("plain")).what(), "plain - Native error: 02156");
  EXPECT_STREQ(EABSException(30016, "Value is Null").what(), "Value is Null - Native error: 30016");
  // Same message, different codes: the shown texts stay apart.
  EXPECT_STRNE(EABSException(10001, "Nil pointer occured").what(), EABSException(10003, "Nil pointer occured").what());
}

TEST(Exception, ArgumentsThatDoNotFitTheFormatAreReportedNotThrown) {
  struct Case {
    const char* format;
    std::vector<TABSErrorArg> args;
  };
  const Case cases[] = {
      {"Field #%d not found", {}},       // too few
      {"Field #%d not found", {1, 2}},   // too many
      {"Field #%d not found", {"one"}},  // text for an integer
      {"Table '%s' not found", {3}},     // integer for a text
  };
  for (const Case& c : cases) {
    EABSException ex(30024, c.format, c.args);
    EXPECT_EQ(ex.Message(), std::string(c.format) + " Arguments are invalid!");
    EXPECT_EQ(std::string(ex.what()), ex.Message() + " - Native error: 30024");
  }
}
