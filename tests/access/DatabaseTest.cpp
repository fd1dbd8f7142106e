// Database and session components: connection by name, missing files,
// duplicate names, a file name changed while connected, passwords, shared
// engine sessions, a table another process has open, and the engine
// error texts.
#include <gtest/gtest.h>

#include "AccessTestDb.h"
#include "support/ChildProcess.h"
#include "support/EngineError.h"

namespace {

using tiv::dataset::FieldValue;

std::string MessageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(nothing raised)";
}

TEST(DatabaseTest, MissingFilesDuplicateNamesAndChangedFiles) {
  ScratchDir dir("tivoran-access");
  TABSDatabase database("DBApp");
  database.SetDatabaseName("app");
  const std::string missing = dir.File("nada.ZUD");
  database.SetDatabaseFileName(missing);
  TABSTable t("TInicial");
  t.SetDatabaseName("APP");  // names compare without case
  t.SetTableName("inicial");
  EXPECT_EQ(MessageOf([&] { t.Open(); }), "DBApp: Database file '" + missing + "' does not exist");
  EXPECT_FALSE(database.Connected());
  EXPECT_FALSE(std::filesystem::exists(missing)) << "connecting never creates a file";
  EXPECT_EQ(database.ReferenceCount(), 0);

  TABSDatabase twin("DBTwin");
  EXPECT_EQ(MessageOf([&] { twin.SetDatabaseName("App"); }), "DBTwin: Duplicate database name 'App'");
  TABSDatabase unnamed;
  EXPECT_EQ(MessageOf([&] { unnamed.Open(); }), "Database name missing");

  // Two files; the file name changed on a connected database disconnects
  // it, and the next open connects to the new file.
  const std::string first = dir.File("uno.ZUD"), second = dir.File("dos.ZUD");
  for (const std::string& path : {first, second}) {
    database.SetDatabaseFileName(path);
    database.CreateDatabase();
    TABSTable make;
    make.SetDatabaseName("app");
    make.SetTableName(path == first ? "de_uno" : "de_dos");
    make.FieldDefs = {{"k", aftInteger}};
    make.CreateTable();
  }
  database.SetDatabaseFileName(first);
  database.Open();
  EXPECT_TRUE(database.TableExists("de_uno"));
  EXPECT_EQ(MessageOf([&] { database.SetDatabaseName("otro"); }),
            "DBApp: Cannot perform this operation on an open database");
  t.SetTableName("de_uno");
  t.Open();
  database.SetDatabaseFileName(second);
  EXPECT_FALSE(database.Connected());
  EXPECT_FALSE(t.Active()) << "disconnecting closed the table";
  EXPECT_TRUE(database.TableExists("de_dos"));
  EXPECT_FALSE(database.TableExists("de_uno"));
}

TEST(DatabaseTest, PasswordsAskedOrRefusedSilently) {
  ScratchDir dir("tivoran-access");
  const std::string path = dir.File("secreto.ZUD");
  TABSLocalSession::CreateDatabase(path, TABSPassword{"clave"});
  TABSDatabase database("DBSecreto");
  database.SetDatabaseName("secreto");
  database.SetDatabaseFileName(path);
  database.Password = "mala";
  database.SilentMode = true;
  int asked = 0;
  database.OnPassword = [&](TABSDatabase& d, bool& retry) {
    ++asked;
    d.Password = "clave";
    retry = true;
  };
  EXPECT_EQ(NativeCodeOf([&] { database.Open(); }), 30445) << "silent: the engine's error at once";
  EXPECT_EQ(asked, 0);
  EXPECT_FALSE(database.Connected());
  database.SilentMode = false;
  database.Open();
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(database.Connected());
  database.Close();
  // Without a handler the dialog is asked; the silent default declines.
  database.OnPassword = nullptr;
  database.Password = "mala";
  EXPECT_EQ(NativeCodeOf([&] { database.Open(); }), 30445);
  struct Typing : TABSSilentDialogs {
    bool AskPassword(TABSDatabase& d) override {
      d.Password = "clave";
      return true;
    }
  } typing;
  TABSScopedAccessDialogs scope(typing);
  database.Open();
  EXPECT_TRUE(database.Connected());
}

// A lent engine session outlives the lender's disconnect.
TEST(DatabaseTest, SharedEngineSessionsOutliveTheLender) {
  AccessTestDb db("shared");
  db.database.HandleShared = true;
  TABSSession other("Otra");
  TABSDatabase borrower("DBBorrower");
  borrower.SetSessionName("Otra");
  borrower.SetDatabaseName("shared");
  borrower.HandleShared = true;
  db.database.Open();
  borrower.Open();
  EXPECT_EQ(&borrower.EngineSession(), &db.database.EngineSession());
  TABSTable t;
  t.SetSessionName("Otra");
  t.SetDatabaseName("shared");
  t.SetTableName("inicial");
  t.Open();
  db.database.Close();
  AddPeriod(t, 733773, 1, 100);
  EXPECT_EQ(t.RecordCount(), 1);
  t.Close();
  borrower.Close();
  EXPECT_EQ(MessageOf([] { TABSSession dup("otra"); }), "Duplicate session name 'otra'");
  TABSTable lost;
  lost.SetSessionName("ninguna");
  lost.SetDatabaseName("shared");
  lost.SetTableName("inicial");
  EXPECT_EQ(MessageOf([&] { lost.Open(); }), "Invalid session name 'ninguna'");
}

// The single-instance check of the calculator: ClearTable refused while
// another process has the table open, and nothing removed.
TEST(DatabaseTest, ClearTableRefusedWhileAnotherProcessHasTheTableOpen) {
  AccessTestDb db;
  db.database.MultiUser = true;
  TABSTable t("TInicial");
  t.SetDatabaseName("app");
  t.SetTableName("inicial");
  t.Open();
  AddPeriod(t, 733773, 10, 100);
  t.Close();
  db.database.Close();
  {
    ChildProcess other({"open", db.path, "inicial"}, ACCESS_HELPER_PATH);
    ASSERT_EQ(other.ReadLine(), "open 1");
    t.Exclusive = true;
    EXPECT_EQ(NativeCodeOf([&] { t.ClearTable(); }), 20208);
    other.WriteLine("done");
    EXPECT_EQ(other.Wait(), 0);
  }
  t.Exclusive = false;
  t.Open();
  EXPECT_EQ(t.RecordCount(), 1) << "nothing was removed";
  t.Close();
  t.ClearTable();
  t.Open();
  EXPECT_EQ(t.RecordCount(), 0);
}

TEST(DatabaseTest, EngineErrorTexts) {
  struct Case {
    int32_t code;
    const char* text;
  };
  const Case cases[] = {
      {-1, "Error adding record"},
      {-4, "Error updating record - record was modified by other process"},
      {-7, "Error deleting record - record was deleted by other process"},
      {-8, "the engine's own text"},
      {-9, "Cannot update record in temporary mode"},
      {-11, "Cannot cancel operation in temporary mode"},
      {-13, "Table is locked"},
  };
  for (const Case& c : cases) {
    const EABSEngineError e(c.code, "the engine's own text");
    EXPECT_EQ(std::string(e.what()), "Zorvantek Engine Error # " + std::to_string(c.code) + " " + c.text);
    EXPECT_EQ(e.ErrorCode(), c.code);
  }
}

}  // namespace
