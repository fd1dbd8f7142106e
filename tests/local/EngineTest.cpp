// The engine's start and shutdown: MEMORY and TEMP exist from one to the
// other and are fresh after a restart; starts are counted; a shutdown is
// refused while a session uses them; the expression defaults are installed
// by the start. A table of TEMP through a cursor: appended, read back,
// never edited or deleted.
#include <gtest/gtest.h>

#include <stdexcept>

#include "local/ZUDLocalEngine.h"
#include "support/EngineError.h"
#include "support/FieldList.h"

namespace {

void Connect(TABSLocalSession& session, const char* name) {
  TABSConnectOptions options;
  options.databaseName = name;
  session.Connect(options);
}

// A table with a default that is an expression: its value tells whether
// the parser behind defaults is installed.
int32_t DefaultOfNewRecord(TABSLocalSession& session) {
  TABSFieldDefs fields;
  AddFields(fields, {{"k", aftInteger, 0}});
  TABSVariant expression;
  expression.SetAsString("40+2");
  fields[0]->SetDefaultValue(expression);
  TABSLocalCursor c(session);
  c.tableName = "defaults";
  c.CreateTable(fields, TABSIndexDefs{});
  c.OpenTable();
  c.InitRecordBuffer();
  TABSVariant v;
  c.GetFieldValue(0, v);
  c.CloseTable();
  c.DeleteTable();
  return v.IsNull() ? -1 : v.AsInteger();
}

TEST(EngineTest, StartAndShutdownTwiceLeaveNothingBehind) {
  ASSERT_FALSE(TABSEngine::Started());
  TABSLocalSession early;
  TABSConnectOptions memory;
  memory.databaseName = "memory";
  EXPECT_EQ(NativeCodeOf([&] { early.Connect(memory); }), 20007);
  EXPECT_FALSE(early.Connected());
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    TABSEngine::Start();
    TABSEngine::Start();  // a second user of the engine
    {
      TABSLocalSession a, b;
      Connect(a, "MEMORY");
      Connect(b, "TEMP");
      EXPECT_TRUE(a.TableNames().empty()) << "a restart begins with no tables";
      EXPECT_EQ(DefaultOfNewRecord(a), 42);
      TABSFieldDefs fields;
      AddFields(fields, {{"k", aftInteger, 0}, {"nota", aftMemo, 0}});
      for (TABSLocalSession* s : {&a, &b}) {
        TABSLocalCursor c(*s);
        c.tableName = "t";
        c.CreateTable(fields, TABSIndexDefs{});
        c.OpenTable();
        for (int i = 0; i < 2000; ++i) {
          c.InitRecordBuffer();
          TABSVariant k, nota;
          k.SetAsInteger(i);
          nota.SetAsString(std::string(100, 'x'));
          c.SetFieldValue(0, k);
          c.SetFieldValue(1, nota);
          ASSERT_EQ(c.Post(true), crOK) << c.LastErrorText();
        }
      }
      TABSEngine::Shutdown();  // the second user leaves: nothing freed
      EXPECT_EQ(a.TableNames(), std::vector<std::string>{"t"});
      EXPECT_THROW(TABSEngine::Shutdown(), std::logic_error) << "sessions are still connected";
      EXPECT_TRUE(TABSEngine::Started());
    }
    TABSEngine::Shutdown();
    EXPECT_FALSE(TABSEngine::Started());
    TABSLocalSession late;
    EXPECT_EQ(NativeCodeOf([&] { Connect(late, "TEMP"); }), 20007);
  }
  TABSEngine::Shutdown();  // without a start: nothing
  TABSEngineScope scope;
  TABSLocalSession s;
  Connect(s, "MEMORY");
  EXPECT_TRUE(s.TableNames().empty());
}

TEST(EngineTest, TemporaryTablesThroughACursorAreAppendOnly) {
  TABSEngineScope engine;
  TABSLocalSession session;
  Connect(session, "TEMP");
  TABSEngine::TemporaryDatabase().SetMemoryShare(4096);
  TABSFieldDefs fields;
  AddFields(fields, {{"k", aftInteger, 0}, {"s", aftString, 30}});
  TABSIndexDefs indexes;
  AddIndexes(indexes, {{"k", {"k"}, false, /*descending=*/true}});
  TABSLocalCursor c(session);
  c.tableName = "resultado";
  c.CreateTable(fields, indexes);
  c.OpenTable();
  EXPECT_TRUE(c.temporary);
  for (int i = 0; i < 500; ++i) {
    c.InitRecordBuffer();
    TABSVariant k, s;
    k.SetAsInteger(i);
    s.SetAsString("fila " + std::to_string(i));
    c.SetFieldValue(0, k);
    c.SetFieldValue(1, s);
    ASSERT_EQ(c.Post(true), crOK) << c.LastErrorText();
  }
  EXPECT_EQ(c.GetRecordCount(), 500);
  c.SetIndexName("k");
  c.SetToBegin();
  ASSERT_EQ(c.GetRecord(grmNext), grrFound);
  TABSVariant k;
  c.GetFieldValue(0, k);
  EXPECT_EQ(k.AsInteger(), 499);
  EXPECT_EQ(c.Edit(), crEditTemporary);
  EXPECT_EQ(c.Delete(), crDeleteTemporary);
  ASSERT_EQ(c.GetRecord(grmCurrent), grrFound);
  c.GetFieldValue(0, k);
  EXPECT_EQ(k.AsInteger(), 499);
  EXPECT_EQ(c.GetRecordCount(), 500);
  EXPECT_EQ(NativeCodeOf([&] { session.StartTransaction(); }), 30350);
  c.CloseTable();
  c.DeleteTable();
  EXPECT_FALSE(session.TableExists("resultado"));
}

}  // namespace
