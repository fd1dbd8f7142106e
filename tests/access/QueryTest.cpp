// The query component over the calculator's table: the period query of the
// program run many times with date parameters, read-only and live results,
// the parameter list, TOP and ORDER BY, and each error with the query
// usable afterwards.
#include <gtest/gtest.h>

#include "AccessTestDb.h"
#include "access/Query.h"
#include "support/EngineError.h"

namespace {

using tiv::dataset::FieldValue;

constexpr int32_t kDay = 733773;  // 01/01/2010

// Four periods: ids 1..4 with desde kDay+300, kDay, kDay+100, kDay+200.
struct PeriodsDb : AccessTestDb {
  PeriodsDb() {
    TABSTable t;
    t.SetDatabaseName("app");
    t.SetTableName("inicial");
    t.Open();
    AddPeriod(t, kDay + 300, 10, 50);
    AddPeriod(t, kDay, 365, 64.5);
    AddPeriod(t, kDay + 100, 5, 100);
    AddPeriod(t, kDay + 200, 20, 10);
    t.Close();
  }
};

std::vector<int64_t> Ids(TABSQuery& q, const char* field = "id") {
  std::vector<int64_t> ids;
  for (q.First(); !q.Eof(); q.Next()) ids.push_back(q.FieldByName(field).AsInteger());
  return ids;
}

// The program's pattern: close, clear, add lines, set the parameters,
// add the last line, open.
void PeriodQuery(TABSQuery& q, int32_t day1, int32_t day2) {
  q.Close();
  q.ClearSQL();
  q.AddSQL("Select * from inicial");
  q.AddSQL("Where ");
  q.AddSQL(" ((desde <= :par1) and (hasta >= :par1)) ");
  q.AddSQL(" or ((hasta >= :par2) and (desde <= :par2)) ");
  q.ParamNamed("par1").SetValue(FieldValue::Date(day1));
  q.ParamByName("par2").SetValue(FieldValue::Date(day2));
  q.AddSQL("order by desde");
  q.Open();
}

// The TEMP tables alive in the process: every result has gone with its query.
size_t TempTables() {
  TABSLocalSession temp;
  TABSConnectOptions options;
  options.databaseName = "TEMP";
  temp.Connect(options);
  const size_t n = temp.TableNames().size();
  temp.Disconnect();
  return n;
}

TEST(QueryTest, PeriodQueryFollowsItsDateParametersOverManyOpens) {
  PeriodsDb db;
  TABSQuery q("QSuma");
  q.SetDatabaseName("app");
  struct Case {
    int32_t day1, day2;
    std::vector<int64_t> ids;  // in desde order
  } cases[] = {
      {kDay + 10, kDay + 10, {2}},          // only the long first period
      {kDay + 102, kDay + 205, {2, 3, 4}},  // par1 in 3 (and 2), par2 in 4
      {kDay + 305, kDay + 5000, {2, 1}},    // par1 in the long one and in 1
      {kDay - 10, kDay - 1, {}},            // before all of them
      {kDay + 200, kDay + 100, {2, 3, 4}},  // the parameters swapped
  };
  for (int round = 0; round < 200; ++round) {
    const Case& c = cases[round % std::size(cases)];
    PeriodQuery(q, c.day1, c.day2);
    ASSERT_EQ(Ids(q), c.ids) << "round " << round;
    EXPECT_TRUE(q.ReadOnly);
  }
  q.Close();
  EXPECT_EQ(TempTables(), 0u) << "every result's TEMP table is dropped with its cursor";
  // The values survive the rebuild caused by the last line.
  EXPECT_TRUE(q.ParamNamed("PAR1").bound);
  EXPECT_EQ(q.Params().size(), 2u);
}

TEST(QueryTest, OpenAndCloseAThousandTimesKeepsOneOwnerPerResult) {
  PeriodsDb db;
  TABSQuery q;
  q.SetDatabaseName("app");
  q.SetSQL({"select id, desde from inicial where dias > :d order by 2 desc"});
  for (int i = 0; i < 1000; ++i) {
    q.ParamNamed("d").SetValue(FieldValue::Integer(i % 2 ? 5 : 15));
    q.RequestLive = i % 3 == 0;  // live and snapshot results alternate
    q.Open();
    ASSERT_EQ(Ids(q), (i % 2 ? std::vector<int64_t>{1, 4, 2} : std::vector<int64_t>{4, 2})) << i;
    q.Close();
  }
  EXPECT_EQ(TempTables(), 0u);
}

TEST(QueryTest, ReadOnlySnapshotAndLiveResult) {
  PeriodsDb db;
  TABSQuery q("Q");
  q.SetDatabaseName("app");
  q.SetSQL({"select * from inicial where dias > 6"});
  q.Open();
  EXPECT_EQ(q.RecordCount(), 3);
  q.First();
  EXPECT_EQ(MessageOf([&] { q.Edit(); }), "Q: " + std::string(tiv::dataset::text::kDataSetReadOnly));
  q.Close();
  EXPECT_FALSE(q.ReadOnly) << "the snapshot's read-only state ends with it";

  // Live: the table's own cursor under the condition; an edit reaches it.
  q.RequestLive = true;
  q.SetSQL({"select * from inicial where dias > 6 order by desde"});
  q.Open();
  EXPECT_FALSE(q.ReadOnly);
  EXPECT_EQ(Ids(q), (std::vector<int64_t>{2, 4, 1}));
  q.First();
  q.Edit();
  q.FieldByName("dias").SetAsInteger(1);
  q.Post();
  q.Close();
  q.Open();
  EXPECT_EQ(Ids(q), (std::vector<int64_t>{4, 1})) << "the edited record no longer passes";
  q.Close();

  // DISTINCT asked live: a read-only snapshot without the duplicates.
  q.SetSQL({"select distinct coef * 0 as cero, dias - dias as nada from inicial"});
  q.Open();
  EXPECT_TRUE(q.ReadOnly);
  EXPECT_EQ(Ids(q, "nada"), (std::vector<int64_t>{0}));
  q.Close();
}

TEST(QueryTest, ListTopAndOrder) {
  PeriodsDb db;
  TABSQuery q;
  q.SetDatabaseName("app");
  struct Case {
    const char* sql;
    const char* field;
    std::vector<int64_t> values;
  } cases[] = {
      {"select top 2 id, desde from inicial order by desde", "id", {2, 3}},
      {"select top 2, 2 id, desde from inicial order by desde desc", "id", {4, 3}},
      {"select id as n, dias * 2 as doble from inicial order by doble", "doble", {10, 20, 40, 730}},
      {"select id, id from inicial where id = 3", "id_1", {3}},
      {"select i.dias from inicial i where i.id >= 3 order by i.dias", "dias", {5, 20}},
      {"select * from inicial where desde = :p order by 1", "id", {3}},
      {"select count(*) as n, sum(dias) as total from inicial", "total", {400}},
  };
  for (const Case& c : cases) {
    q.SetSQL({c.sql});
    if (!q.Params().empty()) q.Params()[0].SetValue(FieldValue::Date(kDay + 100));
    q.Open();
    EXPECT_EQ(Ids(q, c.field), c.values) << c.sql;
    q.Close();
  }
}

TEST(QueryTest, ErrorsLeaveTheQueryClosedAndUsable) {
  PeriodsDb db;
  TABSQuery q("Q");
  q.SetDatabaseName("app");
  EXPECT_EQ(NativeCodeOf([&] { q.Open(); }), 20034);
  struct Case {
    const char* sql;
    int32_t code;
  } cases[] = {
      {"select * from nada", 10303},
      {"select nada from inicial", 10305},
      {"select x.id from inicial", 30327},
      {"select * from inicial where nada = 1", 30144},
      {"select * from inicial order by 7", 20243},
      {"select id from inicial order by dias", 30195},
      {"select * from inicial a, inicial b", 30350},
      {"select id from inicial union select id from inicial", 30350},
      {"select id from inicial where upper('a') = 'A'", 30350},
      {"select * from inicial where id = :nada", 0},  // no parameter named: set below
      {"x", 30154},
  };
  for (const Case& c : cases) {
    q.SetSQL({c.sql});
    if (c.code == 0) {
      q.Params().clear();
      EXPECT_NE(NativeCodeOf([&] { q.Open(); }), 0) << "a parameter without a value";
    } else {
      EXPECT_EQ(NativeCodeOf([&] { q.Open(); }), c.code) << c.sql;
    }
    EXPECT_FALSE(q.Active());
    EXPECT_FALSE(q.Prepared());
    // The next query runs, and the table was left unlocked.
    q.SetSQL({"select id from inicial order by id"});
    q.Open();
    EXPECT_EQ(Ids(q), (std::vector<int64_t>{1, 2, 3, 4})) << "after " << c.sql;
    q.Close();
  }
  EXPECT_EQ(MessageOf([&] { q.ParamNamed("zz"); }), "Q: Par\xE1metro 'zz' no encontrado");
  EXPECT_EQ(TempTables(), 0u);
}

TEST(QueryTest, PrepareOnAnOpenQueryAndCircularSources) {
  PeriodsDb db;
  TABSQuery a("A"), b("B");
  a.SetDatabaseName("app");
  a.SetSQL({"select id from inicial"});
  a.Open();
  EXPECT_EQ(NativeCodeOf([&] { a.Prepare(); }), 30141);
  EXPECT_EQ(Ids(a), (std::vector<int64_t>{1, 2, 3, 4})) << "the refused Prepare left the result alone";
  tiv::dataset::DataSource sourceA, sourceB;
  sourceA.SetDataSet(&a);
  sourceB.SetDataSet(&b);
  b.SetDataSource(&sourceA);
  EXPECT_EQ(MessageOf([&] { a.SetDataSource(&sourceB); }), "A: Circular datalinks are not allowed");
  EXPECT_EQ(MessageOf([&] { a.SetDataSource(&sourceA); }), "A: Circular datalinks are not allowed");
  a.Close();
}

TEST(QueryTest, ParametersFoundOutsideQuotesOnly) {
  TABSQuery q;
  q.SetSQL({"select ':a', \":\" from t where x = :b and y = :B and z = :c"});
  ASSERT_EQ(q.Params().size(), 2u);
  EXPECT_EQ(q.Params()[0].name, "b");
  EXPECT_EQ(q.Params()[1].name, "c");
}

}  // namespace
