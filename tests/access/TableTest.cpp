// The table component over a disk database and the in-memory database,
// the way the calculator uses `inicial` and `periodos`: open by index,
// insert, navigate, key search, edit, cancel, delete, ranges, filters, the
// table operations, and the errors of each.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "AccessTestDb.h"
#include "support/EngineError.h"

namespace {

using tiv::dataset::EDatabaseError;
using tiv::dataset::FieldValue;

constexpr int32_t kDay = 733773;  // 01/01/2010

std::vector<int64_t> Column(TABSTable& t, const char* field) {
  std::vector<int64_t> seen;
  for (t.First(); !t.Eof(); t.Next()) seen.push_back(t.FieldByName(field).AsInteger());
  return seen;
}

TEST(TableTest, PeriodsInDateOrderWithKeySearchEditsAndDeletes) {
  AccessTestDb db;
  TABSTable t("TInicial");
  t.SetDatabaseName("app");
  t.SetTableName("inicial");
  t.SetIndexName("desde");
  t.Open();
  EXPECT_EQ(t.RecordCount(), 0);
  EXPECT_TRUE(t.IsEmpty());
  // An empty dataset refuses edit and delete cleanly.
  EXPECT_EQ(MessageOf([&] { t.Edit(); }), "TInicial: " + std::string(tiv::dataset::text::kDataSetEmpty));
  EXPECT_EQ(MessageOf([&] { t.Delete(); }), "TInicial: " + std::string(tiv::dataset::text::kDataSetEmpty));

  AddPeriod(t, kDay + 300, 10, 50);
  AddPeriod(t, kDay, 365, 64.5);
  AddPeriod(t, kDay + 100, 5, 100);
  AddPeriod(t, kDay + 100, 7, 100);  // the same start date: both kept
  EXPECT_EQ(t.RecordCount(), 4);
  EXPECT_EQ(Column(t, "dias"), (std::vector<int64_t>{365, 5, 7, 10}));
  EXPECT_EQ(Column(t, "id"), (std::vector<int64_t>{2, 3, 4, 1}));
  // Values and their text.
  t.First();
  EXPECT_EQ(t.FieldByName("desde").AsString(), "01/01/2010");
  EXPECT_EQ(t.FieldByName("diascoef").AsString(), "235,425");
  EXPECT_DOUBLE_EQ(t.FieldByName("desde").AsDateTime(), 40179.0);
  EXPECT_EQ(MessageOf([&] { t.FieldByName("nada"); }), "TInicial: Campo 'nada' no encontrado");
  EXPECT_EQ(MessageOf([&] { t.FieldByName("dias").SetAsInteger(1); }),
            "TInicial: " + std::string(tiv::dataset::text::kNotEditing));

  // SeekKey: the first of two equal dates in index order; a missing key
  // leaves the current record.
  ASSERT_TRUE(t.SeekKey({FieldValue::Date(kDay + 100)}));
  EXPECT_EQ(t.FieldByName("id").AsInteger(), 3);
  EXPECT_FALSE(t.SeekKey({FieldValue::Date(kDay + 1)}));
  EXPECT_EQ(t.FieldByName("id").AsInteger(), 3);
  t.Next();
  EXPECT_EQ(t.FieldByName("id").AsInteger(), 4) << "the cursor walks on from the record found";
  EXPECT_EQ(MessageOf([&] {
              t.SeekKey({FieldValue::Date(1), FieldValue::Integer(1)});
            }),
            "TInicial: Field index out of range");

  // Edit and post through the fields; cancel; the text of a field parsed.
  t.Edit();
  t.FieldByName("coef").SetText("75,5");
  t.Post();
  EXPECT_DOUBLE_EQ(t.FieldByName("coef").AsFloat(), 75.5);
  t.Edit();
  t.FieldByName("coef").SetAsFloat(1);
  t.Cancel();
  EXPECT_DOUBLE_EQ(t.FieldByName("coef").AsFloat(), 75.5);
  t.Refresh();
  EXPECT_EQ(t.FieldByName("id").AsInteger(), 4);
  // A change that moves the record in the index: it stays current.
  t.Edit();
  t.FieldByName("desde").SetValue(FieldValue::Date(kDay + 400));
  t.Post();
  EXPECT_EQ(t.FieldByName("id").AsInteger(), 4);
  t.Next();
  EXPECT_TRUE(t.Eof());

  // Delete leaves the following record current; at the end the previous.
  t.First();
  t.Delete();
  EXPECT_EQ(t.FieldByName("id").AsInteger(), 3);
  t.Last();
  t.Delete();
  EXPECT_EQ(t.FieldByName("id").AsInteger(), 1);
  EXPECT_EQ(Column(t, "id"), (std::vector<int64_t>{3, 1}));

  // Closing while editing discards the edit.
  t.First();
  t.Edit();
  t.FieldByName("dias").SetAsInteger(99);
  t.Close();
  t.Open();
  EXPECT_EQ(Column(t, "dias"), (std::vector<int64_t>{5, 10}));
}

TEST(TableTest, FailedPostsKeepTheBufferAndTheStateThenGoThrough) {
  AccessTestDb db;
  TABSTable t("TInicial");
  t.SetDatabaseName("app");
  t.SetTableName("inicial");
  t.Open();
  AddPeriod(t, kDay, 10, 100);
  t.Close();
  // Recreated with a unique index on dias: CreateTable replaces the table.
  AccessTestDb::DefineInicial(t);
  t.IndexDefs.push_back({"por_dias", "dias", true});
  t.CreateTable();
  t.SetIndexName("por_dias");
  t.Open();
  EXPECT_EQ(t.RecordCount(), 0);
  AddPeriod(t, kDay, 10, 100);
  t.Insert();
  t.FieldByName("dias").SetAsInteger(10);
  try {
    t.Post();
    FAIL() << "a duplicate key was posted";
  } catch (const EABSEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), -8);
    EXPECT_EQ(std::string(e.what()).rfind("Zorvantek Engine Error # -8 ", 0), 0u) << e.what();
  }
  EXPECT_EQ(t.State(), tiv::dataset::DataSetState::Insert);
  EXPECT_EQ(t.FieldByName("dias").AsInteger(), 10) << "the buffer is intact";
  t.FieldByName("dias").SetAsInteger(11);
  t.Post();
  EXPECT_EQ(t.RecordCount(), 2);
  // Read-only: no edit at all.
  t.Close();
  t.ReadOnly = true;
  t.Open();
  EXPECT_NE(MessageOf([&] { t.Edit(); }).find(tiv::dataset::text::kDataSetReadOnly), std::string::npos);
}

TEST(TableTest, RangesFiltersAndIndexByFieldNames) {
  AccessTestDb db;
  TABSTable t;
  t.SetDatabaseName("app");
  t.SetTableName("inicial");
  t.SetIndexFieldNames("desde");
  t.Open();
  for (int i = 0; i < 20; ++i) AddPeriod(t, kDay + i * 10, 1 + i, 100);
  t.SetRange({FieldValue::Date(kDay + 50)}, {FieldValue::Date(kDay + 90)});
  EXPECT_EQ(Column(t, "dias"), (std::vector<int64_t>{6, 7, 8, 9, 10}));
  t.CancelRange();
  EXPECT_EQ(t.RecordCount(), 20);
  t.SetFilter("dias > 17");
  t.SetFiltered(true);
  EXPECT_EQ(Column(t, "dias"), (std::vector<int64_t>{18, 19, 20}));
  t.SetFiltered(false);
  EXPECT_EQ(Column(t, "dias").size(), 20u);
  // Find first, next, prior, last under the Filter text, not filtered.
  t.SetFilter("dias > 17");
  ASSERT_TRUE(t.FindFirst());
  EXPECT_EQ(t.FieldByName("dias").AsInteger(), 18);
  ASSERT_TRUE(t.FindNext());
  EXPECT_EQ(t.FieldByName("dias").AsInteger(), 19);
  ASSERT_TRUE(t.FindPrior());
  EXPECT_EQ(t.FieldByName("dias").AsInteger(), 18);
  ASSERT_TRUE(t.FindLast());
  EXPECT_EQ(t.FieldByName("dias").AsInteger(), 20);
  EXPECT_FALSE(t.FindNext());
  EXPECT_EQ(t.FieldByName("dias").AsInteger(), 20);
  EXPECT_EQ(t.RecordCount(), 20) << "finding filters nothing";
  // A handler decides, reading the candidate through the fields.
  t.SetFilter("");
  t.OnFilterRecord = [](TABSDataSet& d) { return d.FieldByName("dias").AsInteger() % 5 == 0; };
  t.SetFiltered(true);
  EXPECT_EQ(Column(t, "dias"), (std::vector<int64_t>{5, 10, 15, 20}));
  t.SetFiltered(false);
  t.Close();
  t.SetIndexFieldNames("coef");
  EXPECT_EQ(MessageOf([&] { t.Open(); }), "Cannot find index coef");
  EXPECT_FALSE(t.Active());
  EXPECT_EQ(db.database.ReferenceCount(), 0) << "a failed open releases the database";
}

// The in-memory database needs no database component: `periodos` created
// twice, two components on it seeing each other's records.
TEST(TableTest, InMemoryTablesSharedByTwoComponents) {
  TABSTable periodos("periodos"), periodos2("Periodos2");
  for (TABSTable* t : {&periodos, &periodos2}) {
    t->SetDatabaseName("memory");
    t->SetTableName("periodos");
  }
  EXPECT_TRUE(periodos.InMemory());
  periodos.FieldDefs = {{"id", aftAutoInc}, {"desde", aftDate}};
  periodos.CreateTable();
  periodos.FieldDefs = {{"id", aftAutoInc},          {"desde", aftDate},   {"hasta", aftDate},
                        {"porcentaje", aftDouble},   {"dias", aftInteger}, {"diascoef", aftDouble},
                        {"diascotizados", aftDouble}};
  periodos.IndexDefs = {{"id", "id", true}, {"desde", "desde"}};
  periodos.CreateTable();
  // A calculated text field reads as a number through the field's own type.
  periodos2.AddCalculatedField({"texto", tiv::dataset::FieldType::String, 10});
  periodos2.OnCalcFields = [](tiv::dataset::DataSet& d) {
    d.FieldByName("texto").SetAsString(std::to_string(d.FieldByName("dias").AsInteger() * 10));
  };
  periodos.SetIndexName("desde");
  periodos.Open();
  periodos2.Open();
  EXPECT_EQ(periodos.FieldCount(), 7) << "the second definitions";
  EXPECT_EQ(periodos.RecordCount(), 0);
  periodos.Insert();
  periodos.FieldByName("desde").SetValue(FieldValue::Date(kDay));
  periodos.FieldByName("dias").SetAsInteger(3);
  periodos.Post();
  periodos2.Refresh();
  EXPECT_EQ(periodos2.RecordCount(), 1);
  EXPECT_EQ(periodos2.FieldByName("dias").AsInteger(), 3);
  EXPECT_EQ(periodos2.FieldByName("texto").AsInteger(), 30);
  // ClearTable needs the table closed everywhere in the process.
  periodos.Close();
  EXPECT_EQ(NativeCodeOf([&] { periodos.ClearTable(); }), 0) << "an in-memory table is never locked";
  periodos2.Refresh();
  EXPECT_EQ(periodos2.RecordCount(), 0);
  periodos2.Close();
  EXPECT_TRUE(periodos.Exists());
  periodos.DeleteTable();
  EXPECT_FALSE(periodos.Exists());
}

TEST(TableTest, TableOperationsNeedAClosedDatasetAndReleaseTheDatabase) {
  AccessTestDb db;
  TABSTable t("TInicial");
  t.SetDatabaseName("app");
  t.SetTableName("inicial");
  t.Open();
  const std::string open = "TInicial: " + std::string(tiv::dataset::text::kDataSetOpen);
  EXPECT_EQ(MessageOf([&] { t.CreateTable(); }), open);
  EXPECT_EQ(MessageOf([&] { t.ClearTable(); }), open);
  EXPECT_EQ(MessageOf([&] { t.DeleteTable(); }), open);
  EXPECT_EQ(MessageOf([&] { t.SetTableName("otra"); }), open);
  // Another cursor of this process has the table open: ClearTable refuses.
  TABSTable other;
  other.SetDatabaseName("app");
  other.SetTableName("inicial");
  AddPeriod(t, kDay, 1, 100);
  t.Close();
  t.Open();
  EXPECT_EQ(NativeCodeOf([&] { other.ClearTable(); }), 20242);
  EXPECT_EQ(t.RecordCount(), 1);
  t.Close();
  other.ClearTable();
  t.Open();
  EXPECT_EQ(t.RecordCount(), 0);
  t.Close();
  // Transactions refuse the structure operations.
  db.database.StartTransaction();
  EXPECT_EQ(NativeCodeOf([&] { t.DeleteTable(); }), 20183);
  EXPECT_EQ(NativeCodeOf([&] { t.RenameTable("x"); }), 20181);
  EXPECT_EQ(NativeCodeOf([&] { t.CreateTable(); }), 20182);
  db.database.Rollback();
  t.RenameTable("inicial2");
  EXPECT_EQ(t.TableName(), "inicial2");
  EXPECT_TRUE(t.Exists());
  t.SetTableName("inicial");
  EXPECT_FALSE(t.Exists());
  EXPECT_EQ(NativeCodeOf([&] { t.ClearTable(); }), 20133);
  t.SetTableName("  ");
  EXPECT_EQ(MessageOf([&] { t.Open(); }), "TInicial: Missing TableName property");
  EXPECT_EQ(db.database.ReferenceCount(), 0) << "every operation released the database";
  TABSTable blank("Blank");
  EXPECT_EQ(MessageOf([&] { blank.Open(); }), "Blank: DatabaseName property is blank");
}

}  // namespace

namespace {

struct AbortingWait : TABSSilentDialogs {
  std::vector<std::string> messages;
  int abortAfter = -1;
  std::unique_ptr<TABSWait> BeginWait(const std::string& message) override {
    messages.push_back(message);
    struct Wait : TABSWait {
      AbortingWait& owner;
      int steps = 0;
      explicit Wait(AbortingWait& o) : owner(o) {}
      void Progress(int) override { ++steps; }
      bool AbortRequested() override { return owner.abortAfter >= 0 && steps >= owner.abortAfter; }
    };
    return std::make_unique<Wait>(*this);
  }
};

}  // namespace

// A copy into another database: every record, the refusals, and a copy
// stopped by the user (through the progress event or the wait dialog's
// Abort) that leaves no half table behind.
TEST(TableTest, CopyTableIntoAnotherDatabaseAndStopped) {
  AccessTestDb db;
  TABSTable t("TInicial");
  t.SetDatabaseName("app");
  t.SetTableName("inicial");
  t.Open();
  for (int i = 0; i < 500; ++i) AddPeriod(t, kDay + i, 1 + i % 30, 10 + i % 90);
  t.Close();
  AbortingWait dialogs;
  TABSScopedAccessDialogs scope(dialogs);

  EXPECT_EQ(MessageOf([&] { t.CopyTable("app", "inicial"); }),
            "TInicial: Cannot copy table 'app.inicial' into it self");
  EXPECT_TRUE(t.CopyTable("memory", "copia").empty());
  EXPECT_EQ(dialogs.messages, std::vector<std::string>{"Copy Table..."});
  EXPECT_EQ(MessageOf([&] { t.CopyTable("memory", "copia"); }), "TInicial: Table 'memory.copia' already exists");
  TABSTable copy;
  copy.SetDatabaseName("memory");
  copy.SetTableName("copia");
  copy.SetIndexName("desde");
  copy.Open();
  t.Open();
  ASSERT_EQ(copy.RecordCount(), 500);
  for (t.First(), copy.First(); !t.Eof(); t.Next(), copy.Next())
    for (int f = 0; f < t.FieldCount(); ++f) ASSERT_EQ(copy.FieldAt(f).AsString(), t.FieldAt(f).AsString());
  copy.Close();
  t.Close();

  // Stopped by the progress event, then by the wait dialog's Abort.
  int calls = 0;
  t.OnCopyProgress = [&](TABSTable&, int percent, bool& stop) {
    ++calls;
    stop = percent >= 30;
  };
  EXPECT_EQ(MessageOf([&] { t.CopyTable("memory", "parcial"); }), "TInicial: Terminated by User.");
  EXPECT_EQ(calls, 150);
  t.OnCopyProgress = nullptr;
  dialogs.abortAfter = 7;
  EXPECT_EQ(MessageOf([&] { t.CopyTable("memory", "parcial"); }), "TInicial: Terminated by User.");
  copy.SetTableName("parcial");
  EXPECT_FALSE(copy.Exists()) << "a stopped copy leaves no table";
  copy.SetTableName("copia");
  copy.DeleteTable();
  EXPECT_EQ(db.database.ReferenceCount(), 0);
}

// A detail follows its master; index changes with their refusals; locate
// and lookup.
TEST(TableTest, MasterDetailIndexChangesAndLocate) {
  TABSTable master("Master"), detail("Detail");
  master.SetDatabaseName("memory");
  master.SetTableName("md_master");
  master.FieldDefs = {{"id", aftInteger}, {"nombre", aftString, 20}};
  master.CreateTable();
  detail.SetDatabaseName("memory");
  detail.SetTableName("md_detail");
  detail.FieldDefs = {{"master", aftInteger}, {"n", aftInteger}};
  detail.IndexDefs = {{"por_master", "master"}};
  detail.CreateTable();
  master.Open();
  for (int id = 1; id <= 3; ++id) {
    master.Insert();
    master.FieldByName("id").SetAsInteger(id);
    master.FieldByName("nombre").SetAsString("m" + std::to_string(id));
    master.Post();
  }
  detail.Open();
  for (int i = 0; i < 9; ++i) {
    detail.Insert();
    detail.FieldByName("master").SetAsInteger(1 + i % 3);
    detail.FieldByName("n").SetAsInteger(i);
    detail.Post();
  }
  detail.Close();
  tiv::dataset::DataSource masterSource, detailSource;
  masterSource.SetDataSet(&master);
  detailSource.SetDataSet(&detail);
  detail.SetMasterSource(&masterSource);
  detail.SetMasterFields("id");
  detail.AddLookupField({"nombre", tiv::dataset::FieldType::String, 20}, master, "master", "id", "nombre");
  detail.SetIndexName("por_master");
  detail.Open();
  master.First();
  EXPECT_EQ(Column(detail, "n"), (std::vector<int64_t>{0, 3, 6}));
  master.Next();
  EXPECT_EQ(Column(detail, "n"), (std::vector<int64_t>{1, 4, 7}));
  EXPECT_EQ(detail.FieldByName("nombre").AsString(), "m2") << "the lookup field reads the master's table";
  EXPECT_EQ(master.FieldByName("id").AsInteger(), 2);
  EXPECT_EQ(detail.RecordCount(), 3);
  EXPECT_EQ(MessageOf([&] { master.SetMasterSource(&detailSource); }),
            "Master: " + std::string(tiv::dataset::text::kCircularDataLink));

  // Locate and lookup in the master.
  ASSERT_TRUE(master.Locate("nombre", {FieldValue::Text("M3")}, true));
  EXPECT_EQ(master.FieldByName("id").AsInteger(), 3);
  EXPECT_EQ(Column(detail, "n"), (std::vector<int64_t>{2, 5, 8})) << "the detail followed the locate";
  EXPECT_FALSE(master.Locate("nombre", {FieldValue::Text("nadie")}));
  EXPECT_EQ(master.FieldByName("id").AsInteger(), 3);
  const std::vector<FieldValue> found = master.Lookup("id", {FieldValue::Integer(1)}, "nombre");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].s, "m1");
  EXPECT_EQ(master.FieldByName("id").AsInteger(), 3) << "lookup moves nothing";
  detail.Close();
  master.Close();
  EXPECT_EQ(MessageOf([&] { master.Locate("id", {FieldValue::Integer(1)}); }),
            "Master: Cannot perform LOCATE on a closed dataset");

  // Indexes: added and removed on the closed table, with their refusals.
  EXPECT_EQ(MessageOf([&] { master.AddIndex({" ", "id"}); }), "Master: Invalid index name ' '");
  EXPECT_EQ(MessageOf([&] { master.AddIndex({"por_x", "x"}); }), "Master: Cannot find index field 'x'");
  master.AddIndex({"por_nombre", "nombre", false, false, /*descending=*/true});
  master.SetIndexName("por_nombre");
  master.Open();
  EXPECT_EQ(Column(master, "id"), (std::vector<int64_t>{3, 2, 1}));
  EXPECT_EQ(NativeCodeOf([&] { master.DeleteIndex("por_nombre"); }), 20208) << "open, not exclusive";
  master.Close();
  master.DeleteIndex("por_nombre");
  EXPECT_EQ(MessageOf([&] { master.Open(); }), "Master: Cannot find index por_nombre");
  master.SetIndexName("");
  master.RenameField("nombre", "apodo");
  master.Open();
  EXPECT_NE(master.FindField("apodo"), nullptr);
  master.Close();
  master.DeleteTable();
  detail.DeleteTable();
}

// New definitions for a table with records: fields kept by name, a value
// the new type cannot take stored NULL and reported, the old table gone;
// a stopped restructure gives the table back as it was. Then a table made
// from another dataset.
TEST(TableTest, RestructureAndImport) {
  AccessTestDb db;
  TABSTable t("TInicial");
  t.SetDatabaseName("app");
  t.SetTableName("inicial");
  std::vector<TABSTableFieldDef> withNote = {
      {"id", aftAutoInc}, {"desde", aftDate}, {"dias", aftInteger}, {"nota", aftString, 10}};
  t.RestructureTable(withNote, {{"desde", "desde"}});
  t.Open();
  for (int i = 0; i < 40; ++i) {
    t.Insert();
    t.FieldByName("desde").SetValue(FieldValue::Date(kDay + i));
    t.FieldByName("dias").SetAsInteger(i);
    t.FieldByName("nota").SetAsString(i == 7 ? "siete" : std::to_string(i * 2));
    t.Post();
  }
  t.Close();
  // Stopped half-way: everything as it was.
  t.OnRestructureProgress = [](TABSTable&, int percent, bool& stop) { stop = percent >= 50; };
  EXPECT_EQ(MessageOf([&] { t.RestructureTable({{"id", aftAutoInc}}, {}); }), "TInicial: Terminated by User.");
  t.OnRestructureProgress = nullptr;
  t.Open();
  EXPECT_EQ(t.RecordCount(), 40);
  EXPECT_NE(t.FindField("nota"), nullptr);
  t.Close();
  // nota becomes an integer; dias a string; desde goes.
  const std::vector<std::string> problems =
      t.RestructureTable({{"id", aftAutoInc}, {"dias", aftString, 5}, {"nota", aftInteger}}, {});
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].rfind("Error copying table \"inicial\". Record #8, field 'nota' was copied with Null value due "
                              "to error: ",
                              0),
            0u)
      << problems[0];
  TABSTable old;
  old.SetDatabaseName("app");
  old.SetTableName("OLD_inicial");
  EXPECT_FALSE(old.Exists());
  t.Open();
  EXPECT_EQ(t.FieldCount(), 3);
  EXPECT_EQ(t.RecordCount(), 40);
  ASSERT_TRUE(t.Locate("id", {FieldValue::Integer(8)}));
  EXPECT_TRUE(t.FieldByName("nota").IsNull());
  ASSERT_TRUE(t.Locate("id", {FieldValue::Integer(9)}));
  EXPECT_EQ(t.FieldByName("nota").AsInteger(), 16);
  EXPECT_EQ(t.FieldByName("dias").AsString(), "8");

  // Imported into the in-memory database from the open table.
  TABSTable copy("Copia");
  copy.SetDatabaseName("memory");
  copy.SetTableName("importada");
  EXPECT_TRUE(copy.ImportTable(t).empty());
  EXPECT_EQ(t.FieldByName("id").AsInteger(), 9) << "the source keeps its current record";
  copy.Open();
  EXPECT_EQ(copy.RecordCount(), 40);
  EXPECT_EQ(copy.FieldCount(), 3);
  copy.Close();
  // A batch move appends to the existing table.
  int lastPercent = 0;
  copy.OnBatchMoveProgress = [&](TABSTable&, int percent, bool&) { lastPercent = percent; };
  EXPECT_TRUE(copy.BatchMove(t).empty());
  EXPECT_EQ(lastPercent, 100);
  copy.Open();
  EXPECT_EQ(copy.RecordCount(), 80);
  copy.Close();
  copy.DeleteTable();
  EXPECT_EQ(db.database.ReferenceCount(), 1) << "only the open table holds the database";
}

// BLOB values through streams of the table: written in an insert, read
// back; an empty one stores NULL.
TEST(TableTest, BlobStreamsOfTheActiveRecord) {
  TABSTable t("Notas");
  t.SetDatabaseName("memory");
  t.SetTableName("notas_blob");
  t.FieldDefs = {{"k", aftInteger}, {"nota", aftMemo}, {"datos", aftBlob}};
  t.CreateTable();
  t.Open();
  std::string big(200000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 % 251);
  t.Insert();
  t.FieldByName("k").SetAsInteger(1);
  {
    std::unique_ptr<TABSStream> s = t.CreateBlobStream(t.FieldByName("datos"), true);
    s->Write(big.data(), 100000);
    s->Write(big.data() + 100000, 100000);
  }
  t.FieldByName("nota").SetAsString("hola");
  t.Post();
  t.Close();
  t.Open();
  std::unique_ptr<TABSStream> r = t.CreateBlobStream(t.FieldByName("datos"), false);
  std::string back(static_cast<size_t>(r->Size()), '\0');
  r->Read(back.data(), r->Size());
  EXPECT_EQ(back.size(), big.size());
  EXPECT_TRUE(back == big) << "the bytes read back differ";
  EXPECT_EQ(t.FieldByName("nota").AsString(), "hola");
  EXPECT_EQ(MessageOf([&] { t.CreateBlobStream(t.FieldByName("datos"), true); }),
            "Notas: " + std::string(tiv::dataset::text::kNotEditing));
  EXPECT_EQ(MessageOf([&] { t.CreateBlobStream(t.FieldByName("k"), false); }), "Notas: Field 'k' is not a BLOB field");
  t.Edit();
  t.CreateBlobStream(t.FieldByName("datos"), true).reset();  // written empty
  t.Post();
  EXPECT_TRUE(t.FieldByName("datos").IsNull());
  t.Close();
  t.DeleteTable();
}

// The table as statements of our SQL.
TEST(TableTest, ExportToSql) {
  TABSTable t("Export");
  t.SetDatabaseName("memory");
  t.SetTableName("exportada");
  t.FieldDefs = {{"id", aftInteger},
                 {"nombre", aftString, 20},
                 {"desde", aftDate},
                 {"coef", aftDouble},
                 {"fecha hora", aftDateTime}};
  t.IndexDefs = {{"por_id", "id", true}, {"por_desde", "desde", false, false, true}};
  t.CreateTable();
  t.Open();
  t.Insert();
  t.FieldByName("id").SetAsInteger(1);
  t.FieldByName("nombre").SetAsString("O'Neill");
  t.FieldByName("desde").SetValue(FieldValue::Date(kDay));
  t.FieldByName("coef").SetAsFloat(64.5);
  t.FieldByName("fecha hora").SetValue(FieldValue::DateTime(kDay, 3723000));
  t.Post();
  t.Insert();
  t.FieldByName("id").SetAsInteger(2);
  t.Post();
  t.Close();
  t.ExportToSqlOptions.addDropTable = true;
  std::ostringstream out;
  t.ExportToSql(out);
  EXPECT_EQ(out.str(),
            "DROP TABLE exportada;\n"
            "CREATE TABLE exportada (id INTEGER, nombre STRING(20), desde DATE, coef FLOAT, [fecha hora] "
            "DATETIME);\n"
            "CREATE UNIQUE INDEX por_id ON exportada (id);\n"
            "CREATE INDEX por_desde ON exportada (desde DESC);\n"
            "INSERT INTO exportada (id, nombre, desde, coef, [fecha hora]) VALUES (1, 'O''Neill', DATE "
            "'2010-01-01', 64.5, TIMESTAMP '2010-01-01 01:02:03');\n"
            "INSERT INTO exportada (id, nombre, desde, coef, [fecha hora]) VALUES (2, NULL, NULL, NULL, NULL);\n");
  t.DeleteTable();
}
