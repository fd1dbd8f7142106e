// A cursor over a disk table of every field family driven against a sorted
// model: fetch both ways through each index and physically, key search,
// ranges, filters and record numbers, bookmarks after deletes, the
// data-access exchange of field values, projections, locate; and the
// session's sharing of database data objects.
#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <set>

#include <gtest/gtest.h>

#include "core/ZUDBytes.h"
#include "disk/DatabaseCheck.h"
#include "local/ZUDLocalEngine.h"
#include "support/EngineError.h"
#include "support/FieldList.h"
#include "support/ScratchDir.h"

namespace {

const std::vector<FieldShape> kColumns = {
    {"k", aftInteger, 0}, {"s", aftString, 20},    {"ws", aftWideString, 10}, {"i8", aftShortint, 0},
    {"u8", aftByte, 0},   {"u32", aftCardinal, 0}, {"f32", aftSingle, 0},     {"f80", aftExtended, 0},
    {"d", aftDate, 0},    {"b", aftLogical, 0},    {"memo", aftMemo, 0},      {"blob", aftBlob, 0},
};
enum Col { kK, kS, kWs, kI8, kU8, kU32, kF32, kF80, kD, kB, kMemo, kBlob };

struct Row {
  int32_t k = 0;
  std::optional<std::string> s;  // NULL when empty
  int8_t i8 = 0;
  uint8_t u8 = 0;
};

// The model's order of the s index: s without case (NULL first), then k.
std::string Folded(const std::optional<std::string>& s) {
  std::string f = s.value_or("");
  for (char& c : f) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return f;
}

struct CursorDb {
  ScratchDir dir;
  std::string path = dir.File("cursor.zud");
  TABSLocalSession session;
  std::map<int32_t, Row> model;

  explicit CursorDb(int rows = 120) {
    TABSLocalSession::CreateDatabase(path, TABSPassword{}, 8);
    TABSConnectOptions options;
    options.fileName = path;
    session.Connect(options);
    TABSLocalCursor create(session);
    create.tableName = "people";
    TABSFieldDefs fields;
    AddFields(fields, kColumns);
    TABSIndexDefs indexes;
    TABSIndexDef* byK = indexes.AddNew();
    byK->SetName("by_k");
    byK->unique = true;
    byK->FillColumns({"k"}, {"ASC"}, {"CASE"});
    TABSIndexDef* byS = indexes.AddNew();
    byS->SetName("by_s");
    byS->FillColumns({"s", "k"}, {"ASC", "ASC"}, {"NO_CASE", "CASE"});
    create.CreateTable(fields, indexes);

    TABSLocalCursor c(session);
    c.tableName = "people";
    c.OpenTable();
    // Keys in a scrambled order, so physical order is not key order.
    for (int n = 0; n < rows; ++n) {
      Row r;
      r.k = (n * 37) % rows + 1;
      if (r.k % 10 != 0) r.s = std::string(r.k % 3 == 0 ? "NAME" : "name") + std::to_string(100 + r.k % 40);
      r.i8 = static_cast<int8_t>(r.k % 50 - 25);
      r.u8 = static_cast<uint8_t>(200 + r.k % 50);
      Insert(c, r);
    }
  }

  void Insert(TABSLocalCursor& c, const Row& r) {
    c.InitRecordBuffer();
    // A typed value converts what it is given into its own type: a fresh
    // one per field.
    const auto set = [&](int field, const std::function<void(TABSVariant&)>& fill) {
      TABSVariant v;
      fill(v);
      c.SetFieldValue(field, v);
    };
    set(kK, [&](TABSVariant& v) { v.SetAsInteger(r.k); });
    if (r.s) set(kS, [&](TABSVariant& v) { v.SetAsString(*r.s); });
    set(kI8, [&](TABSVariant& v) { v.SetAsShortint(r.i8); });
    set(kU8, [&](TABSVariant& v) { v.SetAsByte(r.u8); });
    set(kMemo, [&](TABSVariant& v) { v.SetAsString("memo of " + std::to_string(r.k)); });
    ASSERT_EQ(c.Post(true), crOK) << c.LastErrorText();
    model[r.k] = r;
  }

  std::vector<int32_t> ModelOrder(const std::string& index) const {
    std::vector<Row> rows;
    for (const auto& [k, r] : model) rows.push_back(r);
    if (index == "by_s")
      std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
        if (a.s.has_value() != b.s.has_value()) return !a.s.has_value();
        const std::string fa = Folded(a.s), fb = Folded(b.s);
        return fa != fb ? fa < fb : a.k < b.k;
      });
    std::vector<int32_t> keys;
    for (const Row& r : rows) keys.push_back(r.k);
    return keys;
  }
};

// Closes the cursor and the session, then checks the whole file: nothing
// the test did may leave a page that nothing uses.
void ExpectCleanFileAfterClosing(CursorDb& db, TABSLocalCursor& c) {
  c.CloseTable();
  db.session.Disconnect();
  const TABSCheckReport report = CheckDatabase(db.path, TABSPassword{});
  EXPECT_TRUE(report.Ok()) << testing::PrintToString(report.Lines());
}

// Opens the test table on `c`, in the order of `index` (physical order
// when empty).
void OpenPeople(TABSLocalCursor& c, const std::string& index = "") {
  c.tableName = "people";
  c.OpenTable();
  if (!index.empty()) c.SetIndexName(index);
}

int32_t Key(TABSLocalCursor& c) {
  TABSVariant v;
  c.GetFieldValue(kK, v);
  return v.AsInteger();
}

std::vector<int32_t> Walk(TABSLocalCursor& c, bool forward) {
  std::vector<int32_t> keys;
  if (forward)
    c.SetToBegin();
  else
    c.SetToEnd();
  while (c.GetRecord(forward ? grmNext : grmPrior) == grrFound) keys.push_back(Key(c));
  return keys;
}

std::vector<char> KeyOf(TABSLocalCursor& c, const std::string& field, const TABSVariant& value) {
  std::vector<char> key = c.NewKeyRecord();
  c.SetKeyField(key, field, value);
  return key;
}

TABSVariant Int(int32_t n) {
  TABSVariant v;
  v.SetAsInteger(n);
  return v;
}

TABSVariant Str(const std::string& s) {
  TABSVariant v;
  v.SetAsString(s);
  return v;
}

TEST(LocalCursorTest, FetchesBothWaysThroughEachIndexAndPhysically) {
  CursorDb db;
  TABSLocalCursor c(db.session);
  c.tableName = "PEOPLE";
  c.OpenTable();
  EXPECT_EQ(c.GetRecord(grmCurrent), grrBOF) << "a new cursor stands before the first record";
  for (const std::string index : {"by_k", "by_s"}) {
    SCOPED_TRACE(index);
    c.SetIndexName(index);
    const std::vector<int32_t> expected = db.ModelOrder(index);
    EXPECT_EQ(Walk(c, true), expected);
    std::vector<int32_t> backward = Walk(c, false);
    std::reverse(backward.begin(), backward.end());
    EXPECT_EQ(backward, expected);
  }
  c.SetIndexName("");
  std::vector<int32_t> physical = Walk(c, true), back = Walk(c, false);
  std::reverse(back.begin(), back.end());
  EXPECT_EQ(physical, back);
  std::sort(physical.begin(), physical.end());
  EXPECT_EQ(physical, db.ModelOrder("by_k"));
  EXPECT_EQ(c.GetRecordCount(), static_cast<int64_t>(db.model.size()));
}

TEST(LocalCursorTest, KeySearchAndRanges) {
  CursorDb db;
  TABSLocalCursor c(db.session);
  OpenPeople(c);
  ExpectEngineError([&] { c.GotoKey(c.NewKeyRecord(), 1, true); }, 20258);
  c.SetIndexName("by_k");
  struct Case {
    int32_t key;
    bool exact, forward;
    std::optional<int32_t> found;
  };
  const int32_t last = static_cast<int32_t>(db.model.size());
  for (const Case& t : std::vector<Case>{{5, true, true, 5},
                                         {0, true, true, std::nullopt},
                                         {0, false, true, 1},
                                         {last + 5, false, true, std::nullopt},
                                         {last + 5, false, false, last},
                                         {last, true, true, last}}) {
    SCOPED_TRACE(t.key);
    const bool ok = c.GotoKey(KeyOf(c, "k", Int(t.key)), 1, t.exact, t.forward);
    EXPECT_EQ(ok, t.found.has_value());
    if (ok && t.found) {
      EXPECT_EQ(Key(c), *t.found);
    }
  }

  // Ranges: [10, 20], (10, 20), open ends; the record count follows.
  struct RangeCase {
    std::optional<int32_t> from, to;
    bool fromExclusive, toExclusive;
    int32_t first, lastKey;
  };
  for (const RangeCase& t : std::vector<RangeCase>{{10, 20, false, false, 10, 20},
                                                   {10, 20, true, true, 11, 19},
                                                   {std::nullopt, 3, false, false, 1, 3},
                                                   {last - 2, std::nullopt, false, false, last - 2, last}}) {
    const std::vector<char> start = t.from ? KeyOf(c, "k", Int(*t.from)) : std::vector<char>{};
    const std::vector<char> end = t.to ? KeyOf(c, "k", Int(*t.to)) : std::vector<char>{};
    c.SetRange(start, t.from ? 1 : 0, t.fromExclusive, end, t.to ? 1 : 0, t.toExclusive);
    const std::vector<int32_t> keys = Walk(c, true);
    ASSERT_FALSE(keys.empty());
    EXPECT_EQ(keys.front(), t.first);
    EXPECT_EQ(keys.back(), t.lastKey);
    EXPECT_EQ(c.GetRecordCount(), t.lastKey - t.first + 1);
    EXPECT_EQ(static_cast<int32_t>(keys.size()), t.lastKey - t.first + 1);
  }
  c.ClearRange();
  EXPECT_EQ(c.GetRecordCount(), last);
}

TEST(LocalCursorTest, FiltersCountsAndRecordNumbers) {
  CursorDb db;
  TABSLocalCursor c(db.session);
  OpenPeople(c, "by_s");
  c.SetFilter("k >= 30 AND k < 70 AND s IS NOT NULL", false, false);
  std::vector<int32_t> expected;
  for (int32_t k : db.ModelOrder("by_s"))
    if (k >= 30 && k < 70 && db.model[k].s) expected.push_back(k);
  EXPECT_EQ(Walk(c, true), expected);
  EXPECT_EQ(c.GetRecordCount(), static_cast<int64_t>(expected.size()));

  // Record numbers follow the index order of the passing records.
  c.SetRecNo(3);
  EXPECT_EQ(Key(c), expected[2]);
  EXPECT_EQ(c.GetRecNo(), 3);
  c.SetRecNo(-4);
  EXPECT_EQ(Key(c), expected.front()) << "a number below 1 goes to the first record";
  c.SetRecNo(100000);
  EXPECT_EQ(Key(c), expected.back());
  EXPECT_EQ(c.GetRecNo(), static_cast<int64_t>(expected.size()));

  // A record that stops passing is gone for a re-read of the current one.
  c.SetRecNo(1);
  c.ClearFilter();
  c.SetFilter("k <> " + std::to_string(expected.front()), false, false);
  EXPECT_EQ(c.GetRecord(grmCurrent), grrNotFound);

  // Case-insensitive filters and a filter with nothing to pass.
  c.SetFilter("s = 'name105'", true, false);
  for (int32_t k : Walk(c, true)) EXPECT_EQ(Folded(db.model[k].s), "name105");
  EXPECT_GT(c.GetRecordCount(), 1);
  c.SetFilter("k = 5 AND k = 6", false, false);
  EXPECT_EQ(c.GetRecordCount(), 0);
  c.SetRecNo(2);
  EXPECT_EQ(c.GetRecord(grmNext), grrEOF);
  // A filter that does not parse leaves the one before it.
  EXPECT_NE(NativeCodeOf([&] { c.SetFilter("k = ", false, false); }), 0);
  EXPECT_EQ(c.GetRecordCount(), 0);
}

// Counts the field values its expressions read: what a scan touched.
class CountingCursor : public TABSLocalCursor {
 public:
  using TABSLocalCursor::TABSLocalCursor;
  int reads = 0;
  void ReadValue(int32_t column, TABSVariant& value) override {
    ++reads;
    TABSLocalCursor::ReadValue(column, value);
  }
};

// Filters whose conditions an index answers: the results equal the model's
// whichever index drives, and the scan touches only the driving range; an
// empty search touches nothing.
TEST(LocalCursorTest, ScanConditionsDriveTheFilter) {
  CursorDb db;
  CountingCursor c(db.session);
  OpenPeople(c, "by_k");
  struct Case {
    std::string filter;
    bool caseInsensitive;
    std::function<bool(const Row&)> passes;
    int maxReads;  // reads of field values while counting
  };
  const std::vector<Case> cases = {
      {"k >= 10 AND k <= 12", false, [](const Row& r) { return r.k >= 10 && r.k <= 12; }, 20},
      {"k > 10 AND k < 13 AND k > 11", false, [](const Row& r) { return r.k == 12; }, 20},
      {"k = 40", false, [](const Row& r) { return r.k == 40; }, 10},
      {"k = 40 AND k >= 40", false, [](const Row& r) { return r.k == 40; }, 10},
      {"10 >= k", false, [](const Row& r) { return r.k <= 10; }, 40},
      {"k < 2.5", false, [](const Row& r) { return r.k < 2.5; }, 1000},
      {"s >= 'name130' AND s < 'name132' AND k > 60", true,
       [](const Row& r) { return r.s && Folded(r.s) >= "name130" && Folded(r.s) < "name132" && r.k > 60; }, 1000},
      {"s = 'NAME105'", true, [](const Row& r) { return Folded(r.s) == "name105"; }, 60},
      {"s IS NULL", false, [](const Row& r) { return !r.s; }, 1000},
      {"k > 5 AND k < 5", false, [](const Row&) { return false; }, 0},
      {"k = 5 AND k = 6", false, [](const Row&) { return false; }, 0},
      {"k >= 7 AND k < 7", false, [](const Row&) { return false; }, 0},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.filter);
    c.SetFilter(t.filter, t.caseInsensitive, false);
    c.reads = 0;
    int64_t expected = 0;
    for (const auto& [k, r] : db.model) expected += t.passes(r) ? 1 : 0;
    EXPECT_EQ(c.GetRecordCount(), expected);
    EXPECT_LE(c.reads, t.maxReads);
    std::vector<int32_t> keys = Walk(c, true), wanted;
    for (int32_t k : db.ModelOrder("by_k"))
      if (t.passes(db.model[k])) wanted.push_back(k);
    EXPECT_EQ(keys, wanted);
    if (t.maxReads == 0) {
      EXPECT_EQ(c.reads, 0) << "an empty search reads nothing";
    }
  }
  // The scan follows later changes of the table.
  c.SetFilter("k >= 10 AND k <= 12", false, false);
  ASSERT_EQ(c.GetRecordCount(), 3);
  c.ClearFilter();
  ASSERT_TRUE(c.GotoKey(KeyOf(c, "k", Int(11)), 1, true));
  ASSERT_EQ(c.Delete(), crOK);
  c.SetFilter("k >= 10 AND k <= 12", false, false);
  EXPECT_EQ(Walk(c, true), (std::vector<int32_t>{10, 12}));
}

TEST(LocalCursorTest, BookmarksCompareInIndexOrderAfterDeletes) {
  CursorDb db(40);
  TABSLocalCursor c(db.session);
  OpenPeople(c, "by_k");
  const auto bookmarkAt = [&](int32_t k) {
    EXPECT_TRUE(c.GotoKey(KeyOf(c, "k", Int(k)), 1, true));
    return std::vector<char>(c.Record() + c.RecordSize(), c.Record() + c.RecordSize() + kRecordIDSize);
  };
  const std::vector<char> b5 = bookmarkAt(5), b9 = bookmarkAt(9), b7 = bookmarkAt(7);
  EXPECT_EQ(c.CompareBookmarks(b5.data(), b9.data()), -1);
  EXPECT_EQ(c.CompareBookmarks(b9.data(), b5.data()), 1);
  EXPECT_EQ(c.CompareBookmarks(b7.data(), b7.data()), 0);
  // Delete 7: the cursor stands on 8, and the gone bookmark sorts low as
  // the first argument and high as the second.
  ASSERT_EQ(c.Delete(), crOK);
  EXPECT_EQ(Key(c), 8);
  EXPECT_EQ(c.CompareBookmarks(b7.data(), b5.data()), -1);
  EXPECT_EQ(c.CompareBookmarks(b5.data(), b7.data()), 1);
  db.model.erase(7);
  EXPECT_EQ(Walk(c, true), db.ModelOrder("by_k"));
  // A saved position comes back.
  EXPECT_TRUE(c.GotoKey(KeyOf(c, "k", Int(12)), 1, true));
  const TABSLocalCursor::Position saved = c.SavePosition();
  c.SetToEnd();
  c.RestorePosition(saved);
  EXPECT_EQ(Key(c), 12);
}

TEST(LocalCursorTest, FieldDataExchangeWidensCutsAndNulls) {
  CursorDb db(5);
  TABSLocalCursor c(db.session);
  OpenPeople(c, "by_k");
  ASSERT_TRUE(c.GotoKey(KeyOf(c, "k", Int(3)), 1, true));
  const Row& r = db.model[3];

  // Widened values: a buffer full of 0xFF must come back without a stale
  // high byte.
  char out[16];
  std::memset(out, 0xFF, sizeof out);
  ASSERT_TRUE(c.GetFieldData(kI8, out));
  EXPECT_EQ(zud::GetI16(out), r.i8);
  std::memset(out, 0xFF, sizeof out);
  ASSERT_TRUE(c.GetFieldData(kU8, out));
  EXPECT_EQ(zud::GetI16(out), r.u8);
  EXPECT_EQ(TABSLocalCursor::FieldDataSize(c.VisibleField(kU32)), 8);

  // Set and read back through the exchange.
  ASSERT_EQ(c.Edit(), crOK);
  char in[16] = {};
  zud::PutU64(in, 4000000000ULL);
  c.SetFieldData(kU32, in);
  zud::PutF64(in, 2.5);
  c.SetFieldData(kF32, in);
  c.SetFieldData(kF80, in);
  // An empty string is NULL; a string longer than the field is cut.
  c.SetFieldData(kWs, "\0\0");
  const std::string tooLong(60, 'x');
  c.SetFieldData(kS, tooLong.c_str());
  ASSERT_EQ(c.Post(false), crOK) << c.LastErrorText();
  ASSERT_EQ(c.GetRecord(grmCurrent), grrFound);
  std::memset(out, 0, sizeof out);
  ASSERT_TRUE(c.GetFieldData(kU32, out));
  EXPECT_EQ(zud::GetU64(out), 4000000000ULL);
  ASSERT_TRUE(c.GetFieldData(kF32, out));
  EXPECT_EQ(zud::GetF64(out), 2.5);
  ASSERT_TRUE(c.GetFieldData(kF80, out));
  EXPECT_EQ(zud::GetF64(out), 2.5);
  EXPECT_FALSE(c.GetFieldData(kWs, out));
  TABSVariant v;
  c.GetFieldValue(kS, v);
  EXPECT_EQ(v.AsString(), std::string(20, 'x'));
  c.SetFieldValue(kS, Str(std::string(300, 'y')));
  c.GetFieldValue(kS, v);
  EXPECT_EQ(v.AsString(), std::string(20, 'y'));
  EXPECT_FALSE(c.GetFieldData(kBlob, out)) << "BLOB fields go through streams";

  // Bad field numbers name the number and the count.
  std::string message;
  EXPECT_EQ(NativeCodeOf([&] { c.GetFieldData(-1, out); }, &message), 10000);
  EXPECT_EQ(NativeCodeOf([&] { c.GetFieldData(12, out); }, &message), 10005);
  EXPECT_NE(message.find("FieldCount = 12"), std::string::npos) << message;
  EXPECT_EQ(NativeCodeOf([&] { c.SetFieldData(12, in); }), 10006);
}

TEST(LocalCursorTest, ProjectionLocateAndMemoInExpressions) {
  CursorDb db(30);
  TABSLocalCursor c(db.session);
  OpenPeople(c, "by_k");
  ASSERT_TRUE(c.GotoKey(KeyOf(c, "k", Int(4)), 1, true));
  ASSERT_EQ(c.Edit(), crOK);
  c.SetFieldValue(kS, Str("Smithson"));
  ASSERT_EQ(c.Post(false), crOK);

  std::vector<TABSVariant> values;
  values.push_back(Str("smith"));
  EXPECT_TRUE(c.Locate("s", values, true, true));
  EXPECT_EQ(Key(c), 4);
  EXPECT_FALSE(c.Locate("s", values, false, true)) << "case matters without the option";
  EXPECT_EQ(Key(c), 4) << "a failed locate keeps the position";
  EXPECT_EQ(NativeCodeOf([&] { c.Locate("s;k", values, false, false); }), 30112);
  EXPECT_TRUE(c.LocateByExpression("k * 2 + 1", Int(43), false, false));
  EXPECT_EQ(Key(c), 21);
  EXPECT_TRUE(c.LocateByExpression("s", Str("SMITHS"), true, true));
  EXPECT_EQ(Key(c), 4);
  EXPECT_FALSE(c.LocateByExpression("k * 2", Int(43), false, false));
  EXPECT_EQ(Key(c), 4);
  EXPECT_EQ(NativeCodeOf([&] { c.LocateByExpression("k k", Int(1), false, false); }), 20260);

  // The MEMO value reaches the filter expression.
  c.SetFilter("memo = 'memo of 17'", false, false);
  EXPECT_EQ(Walk(c, true), std::vector<int32_t>{17});
  c.ClearFilter();

  // Projection: aliases, a repeated alias numbered, errors.
  c.SetProjection({"k", "s", "i8"}, {"x", "x", ""});
  ASSERT_EQ(c.FieldCount(), 3);
  EXPECT_EQ(c.VisibleFieldName(0), "x");
  EXPECT_EQ(c.VisibleFieldName(1), "x_1");
  EXPECT_EQ(c.VisibleFieldName(2), "i8");
  EXPECT_EQ(c.FindField("k"), -1) << "the table name of an aliased field is not visible";
  ASSERT_TRUE(c.GotoKey(KeyOf(c, "x", Int(4)), 1, true));
  TABSVariant v;
  c.GetFieldValue(1, v);
  EXPECT_EQ(v.AsString(), "Smithson");
  c.SetFilter("x_1 = 'Smithson'", false, false);
  EXPECT_EQ(c.GetRecordCount(), 1);
  EXPECT_EQ(NativeCodeOf([&] { c.SetProjection({"k"}, {}); }), 10321);
  EXPECT_EQ(NativeCodeOf([&] { c.SetProjection({}, {}); }), 10322);
  EXPECT_EQ(NativeCodeOf([&] { c.SetProjection({"nope"}, {""}); }), 10323);
}

std::string ReadAll(TABSStream& stream) {
  std::string content(static_cast<size_t>(stream.Size()), '\0');
  stream.Seek(0);
  EXPECT_EQ(stream.Read(content.data(), stream.Size()), stream.Size());
  return content;
}

TEST(LocalCursorTest, BlobStreamsThroughTheCursor) {
  CursorDb db(10);
  TABSLocalCursor c(db.session);
  OpenPeople(c, "by_k");

  // A new record with a BLOB written through a stream; a megabyte of it.
  std::string big(1 << 20, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 7919) % 251);
  c.InitRecordBuffer();
  c.SetFieldValue(kK, Int(500));
  TABSLocalBLOBStream& w = c.OpenBlobStream(kBlob, bsmWrite);
  w.Write(big.data(), static_cast<int64_t>(big.size()));
  EXPECT_EQ(NativeCodeOf([&] { c.OpenBlobStream(kBlob, bsmReadWrite); }), 10115) << "one writer per field";
  ASSERT_EQ(c.Post(true), crOK) << c.LastErrorText();
  ASSERT_TRUE(c.GotoKey(KeyOf(c, "k", Int(500)), 1, true));
  TABSLocalBLOBStream& r = c.OpenBlobStream(kBlob, bsmRead);
  EXPECT_EQ(ReadAll(r), big);
  const char byte = 'x';
  EXPECT_EQ(NativeCodeOf([&] { r.Write(&byte, 1); }), 10115);
  EXPECT_EQ(NativeCodeOf([&] { r.SetSize(0); }), 10116);
  c.FreeBlobStreams(true);

  // Read-write starts with the value; a cancelled edit stores nothing of
  // what its streams held.
  ASSERT_EQ(c.Edit(), crOK);
  TABSLocalBLOBStream& rw = c.OpenBlobStream(kBlob, bsmReadWrite);
  rw.Seek(rw.Size());
  rw.Write("tail", 4);
  c.Cancel();
  ASSERT_EQ(c.GetRecord(grmCurrent), grrFound);
  EXPECT_EQ(ReadAll(c.OpenBlobStream(kBlob, bsmRead)), big);
  c.FreeBlobStreams();
  ASSERT_EQ(c.Edit(), crOK);
  TABSLocalBLOBStream& again = c.OpenBlobStream(kBlob, bsmReadWrite);
  again.SetSize(3);
  again.Seek(3);
  again.Write("tail", 4);
  ASSERT_EQ(c.Post(false), crOK) << c.LastErrorText();
  ASSERT_EQ(c.GetRecord(grmCurrent), grrFound);
  TABSVariant v;
  c.GetFieldValue(kBlob, v);
  EXPECT_EQ(std::string(v.Buffer(), static_cast<size_t>(v.ValueSize())), big.substr(0, 3) + "tail");
  EXPECT_EQ(NativeCodeOf([&] { c.OpenBlobStream(kK, bsmRead); }), 20171);
}

// BLOB values changed during an edit or an insert that is cancelled, or
// whose post fails: the stored record keeps its values, whatever the
// session commits next, in and out of a transaction, and the file holds no
// orphaned BLOB pages.
TEST(LocalCursorTest, CancelledBlobChangesLeaveTheStoredValues) {
  CursorDb db(5);
  TABSLocalCursor c(db.session);
  OpenPeople(c, "by_k");
  for (const bool inTransaction : {false, true}) {
    SCOPED_TRACE(inTransaction ? "in a transaction" : "outside a transaction");
    if (inTransaction) db.session.StartTransaction();
    ASSERT_TRUE(c.GotoKey(KeyOf(c, "k", Int(2)), 1, true));
    ASSERT_EQ(c.Edit(), crOK);
    c.SetFieldValue(kMemo, Str("replaced"));
    TABSLocalBLOBStream& s = c.OpenBlobStream(kBlob, bsmWrite);
    s.Write("new", 3);
    c.CloseBlobStreams(kBlob);
    TABSVariant seen;
    c.GetFieldValue(kMemo, seen);
    EXPECT_EQ(seen.AsString(), "replaced") << "the edit sees its own value";
    c.Cancel();
    // A cancelled insert with BLOB values.
    c.InitRecordBuffer();
    c.SetFieldValue(kK, Int(77));
    c.SetFieldValue(kMemo, Str("never stored"));
    c.Cancel();
    // A post that fails (a duplicate key) with a new MEMO value: the
    // stored record keeps its value, and the new one is not left behind.
    ASSERT_TRUE(c.GotoKey(KeyOf(c, "k", Int(2)), 1, true));
    ASSERT_EQ(c.Edit(), crOK);
    c.SetFieldValue(kMemo, Str("refused"));
    c.SetFieldValue(kK, Int(4));
    EXPECT_EQ(c.Post(false), crPostError);
    c.Cancel();
    // Another change commits what the session holds.
    ASSERT_TRUE(c.GotoKey(KeyOf(c, "k", Int(3)), 1, true));
    ASSERT_EQ(c.Edit(), crOK);
    c.SetFieldValue(kS, Str(inTransaction ? "t" : "n"));
    ASSERT_EQ(c.Post(false), crOK) << c.LastErrorText();
    if (inTransaction) db.session.Commit();
    ASSERT_TRUE(c.GotoKey(KeyOf(c, "k", Int(2)), 1, true));
    TABSVariant memo, blob;
    c.GetFieldValue(kMemo, memo);
    EXPECT_EQ(memo.AsString(), "memo of 2");
    c.GetFieldValue(kBlob, blob);
    EXPECT_TRUE(blob.IsNull());
  }
  ExpectCleanFileAfterClosing(db, c);
}

TEST(LocalCursorTest, DistinctAndBatches) {
  CursorDb db;
  TABSLocalCursor c(db.session);
  OpenPeople(c);
  std::set<std::optional<std::string>> values;
  for (const auto& [k, r] : db.model) values.insert(r.s);
  c.SetDistinct({"s"});
  EXPECT_EQ(c.GetRecordCount(), static_cast<int64_t>(values.size()));
  c.ClearDistinct();
  // A change committed while the distinct's temporary index exists: the
  // index follows it, in memory only (the check at the end finds no page
  // of it in the file).
  c.InitRecordBuffer();
  c.SetFieldValue(kK, Int(999));
  ASSERT_EQ(c.Post(true), crOK);
  db.model[999] = Row{999, std::nullopt, 0, 0};
  EXPECT_EQ(c.GetRecordCount(), static_cast<int64_t>(db.model.size()));

  // A cancelled batch leaves nothing; an ended one keeps every post.
  const auto insertBatch = [&](int32_t from) {
    c.BeginBatch();
    for (int32_t k = from; k < from + 3; ++k) {
      c.InitRecordBuffer();
      c.SetFieldValue(kK, Int(k));
      ASSERT_EQ(c.Post(true), crOK) << c.LastErrorText();
    }
  };
  insertBatch(1000);
  EXPECT_EQ(c.GetRecordCount(), static_cast<int64_t>(db.model.size()) + 3);
  c.CancelBatch();
  EXPECT_EQ(c.GetRecordCount(), static_cast<int64_t>(db.model.size()));
  insertBatch(2000);
  c.EndBatch();
  c.CloseTable();
  c.OpenTable();
  EXPECT_EQ(c.GetRecordCount(), static_cast<int64_t>(db.model.size()) + 3);
  EXPECT_EQ(c.CheckConstraints(), "");
  // The distinct's temporary index left nothing in the file.
  ExpectCleanFileAfterClosing(db, c);
}

TEST(LocalCursorTest, SessionsShareOneDatabaseAndCloseItWithTheLast) {
  ScratchDir dir;
  const std::string path = dir.File("shared.zud");
  TABSPassword secret;
  secret.Password = "secreto";
  TABSLocalSession::CreateDatabase(path, secret, 4);
  const int before = TABSLocalSession::OpenDatabaseCount();
  {
    TABSLocalSession a, b, wrong;
    TABSConnectOptions options;
    options.fileName = path;
    options.password = secret;
    a.Connect(options);
    options.fileName = dir.File("./shared.zud");  // the same file, named otherwise
    options.databaseName = "default";
    b.Connect(options);
    EXPECT_EQ(&a.DatabaseData(), &b.DatabaseData());
    EXPECT_EQ(TABSLocalSession::OpenDatabaseCount(), before + 1);
    options.password.Password = "otra";
    EXPECT_EQ(NativeCodeOf([&] { wrong.Connect(options); }), 20298);
    EXPECT_EQ(NativeCodeOf([&] { TABSLocalSession::CreateDatabase(path, secret, 4); }), 20092);
    EXPECT_EQ(NativeCodeOf([&] { a.Commit(); }), 20229);
    a.Disconnect();
    EXPECT_EQ(TABSLocalSession::OpenDatabaseCount(), before + 1);
  }
  EXPECT_EQ(TABSLocalSession::OpenDatabaseCount(), before);
  // The process's own databases, by name in any case, once the engine runs.
  TABSLocalSession temp;
  TABSConnectOptions options;
  options.databaseName = "Temp";
  EXPECT_EQ(NativeCodeOf([&] { temp.Connect(options); }), 20007);
  TABSEngineScope engine;
  temp.Connect(options);
  EXPECT_NE(dynamic_cast<TABSTemporaryDatabaseData*>(&temp.DatabaseData()), nullptr);
  temp.Disconnect();
}

// Each session sees the last autoincrement value it drew itself; dropping
// the table forgets them.
TEST(LocalCursorTest, AutoincValuesPerSession) {
  CursorDb db(1);
  TABSLocalSession other;
  TABSConnectOptions options;
  options.fileName = db.path;
  other.Connect(options);
  TABSLocalCursor a(db.session), b(other);
  a.tableName = b.tableName = "counted";
  TABSFieldDefs fields;
  AddFields(fields, {{"id", aftAutoIncInteger, 0}, {"v", aftInteger, 0}});
  a.CreateTable(fields, TABSIndexDefs{});
  a.OpenTable();
  b.OpenTable();
  const auto insert = [](TABSLocalCursor& c) {
    c.InitRecordBuffer();
    c.SetFieldValue(1, Int(7));
    ASSERT_EQ(c.Post(true), crOK) << c.LastErrorText();
  };
  insert(a);
  insert(a);
  insert(b);
  EXPECT_EQ(a.GetLastAutoincValue("id"), 2);
  EXPECT_EQ(b.GetLastAutoincValue("ID"), 3);
  const int32_t fieldID = a.Table().FieldDefs()[0]->ObjectID();
  ASSERT_TRUE(db.session.FindNamedValue(fieldID).has_value());
  EXPECT_EQ(db.session.FindNamedValue("id")->value, 2);
  a.CloseTable();
  b.CloseTable();
  a.DeleteTable();
  EXPECT_FALSE(db.session.FindNamedValue(fieldID).has_value());
}

// The calculator's in-memory table: two cursors on one `periodos`, the
// table created again at start-up, posts seen through the other cursor,
// MEMO values kept through a cancelled edit and a refused post, emptied.
TEST(LocalCursorTest, TwoCursorsOnAnInMemoryTable) {
  TABSEngineScope engine;
  TABSLocalSession session;
  TABSConnectOptions options;
  options.databaseName = "MEMORY";
  session.Connect(options);
  TABSFieldDefs fields;
  AddFields(fields, {{"id", aftAutoIncInteger, 0}, {"desde", aftDate, 0}, {"nota", aftMemo, 0}});
  TABSIndexDefs indexes;
  AddIndexes(indexes, {{"id", {"id"}, true}});
  TABSLocalCursor periodos(session), periodos2(session);
  periodos.tableName = periodos2.tableName = "periodos";
  periodos.CreateTable(fields, indexes);
  periodos.CreateTable(fields, indexes);  // the start-up creates it again
  periodos.OpenTable();
  periodos2.OpenTable();
  EXPECT_EQ(&periodos.Table(), &periodos2.Table());
  for (int i = 0; i < 50; ++i) {
    periodos.InitRecordBuffer();
    TABSVariant d;
    d.SetAsDate(730000 + i);
    periodos.SetFieldValue(1, d);
    periodos.SetFieldValue(2, Str("nota " + std::to_string(i)));
    ASSERT_EQ(periodos.Post(true), crOK) << periodos.LastErrorText();
  }
  periodos2.SetIndexName("id");
  EXPECT_EQ(periodos2.GetRecordCount(), 50);
  ASSERT_TRUE(periodos2.GotoKey(KeyOf(periodos2, "id", Int(7)), 1, true));
  TABSVariant nota;
  periodos2.GetFieldValue(2, nota);
  EXPECT_EQ(nota.AsString(), "nota 6");

  // An edit of the MEMO through the first cursor, cancelled; then refused
  // (a duplicate id): the second cursor's record keeps its value.
  periodos.SetIndexName("id");
  ASSERT_TRUE(periodos.GotoKey(KeyOf(periodos, "id", Int(7)), 1, true));
  for (const bool cancel : {true, false}) {
    ASSERT_EQ(periodos.Edit(), crOK);
    periodos.SetFieldValue(2, Str("cambiada"));
    if (cancel) {
      periodos.Cancel();
      continue;
    }
    periodos.SetFieldValue(0, Int(8));
    EXPECT_EQ(periodos.Post(false), crPostError);
    periodos.Cancel();
  }
  ASSERT_EQ(periodos2.GetRecord(grmCurrent), grrFound);
  periodos2.GetFieldValue(2, nota);
  EXPECT_EQ(nota.AsString(), "nota 6");
  // A posted change is seen through the other cursor; the old block is
  // gone only after the record refers to the new one.
  ASSERT_EQ(periodos.GetRecord(grmCurrent), grrFound);
  ASSERT_EQ(periodos.Edit(), crOK);
  periodos.SetFieldValue(2, Str("cambiada"));
  ASSERT_EQ(periodos.Post(false), crOK) << periodos.LastErrorText();
  ASSERT_EQ(periodos2.GetRecord(grmCurrent), grrFound);
  periodos2.GetFieldValue(2, nota);
  EXPECT_EQ(nota.AsString(), "cambiada");
  ASSERT_EQ(periodos2.Delete(), crOK);
  EXPECT_EQ(periodos.GetRecordCount(), 49);
  periodos.EmptyTable();
  EXPECT_EQ(periodos2.GetRecordCount(), 0);
  EXPECT_EQ(NativeCodeOf([&] { session.StartTransaction(); }), 30350);
  periodos.CloseTable();
  periodos2.CloseTable();
  periodos.DeleteTable();
  EXPECT_FALSE(session.TableExists("periodos"));
}

TEST(LocalCursorTest, TablesThroughTheCursor) {
  CursorDb db(10);
  TABSLocalCursor c(db.session);
  c.tableName = "people";
  EXPECT_EQ(NativeCodeOf([&] { c.RenameTable("people"); }), 30452);
  TABSLocalCursor other(db.session);
  other.tableName = "others";
  TABSFieldDefs fields;
  AddFields(fields, {{"a", aftInteger, 0}});
  other.CreateTable(fields, TABSIndexDefs{});
  EXPECT_EQ(NativeCodeOf([&] { c.RenameTable("OTHERS"); }), 30451);
  c.RenameTable("gente");
  EXPECT_TRUE(db.session.TableExists("GENTE"));
  c.OpenTable();
  EXPECT_EQ(c.GetRecordCount(), 10);
  EXPECT_EQ(NativeCodeOf([&] { c.RenameField("nope", "x"); }), 30345);
  EXPECT_EQ(NativeCodeOf([&] { c.RenameField("s", "k"); }), 30346);
  c.RenameField("s", "nombre");
  EXPECT_EQ(c.FindField("NOMBRE"), kS);
  EXPECT_EQ(NativeCodeOf([&] { c.DeleteIndex("nope"); }), 20021);
  c.CloseTable();
  c.EmptyTable();
  c.OpenTable();
  EXPECT_EQ(c.GetRecordCount(), 0);
  EXPECT_EQ(c.GetRecord(grmNext), grrEOF);
  c.CloseTable();
  c.DeleteTable();
  EXPECT_FALSE(db.session.TableExists("gente"));
  EXPECT_EQ(NativeCodeOf([&] { c.DeleteTable(); }), 20132);
  EXPECT_EQ(NativeCodeOf([&] { c.EmptyTable(); }), 20133);
}

}  // namespace
