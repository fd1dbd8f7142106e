// Database and session components: connection by name, missing files,
// duplicate names, a file name changed while connected, passwords, shared
// engine sessions, a table another process has open, and the engine
// error texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include "AccessTestDb.h"
#include "disk/DiskFormat.h"
#include "support/ChildProcess.h"
#include "support/EngineError.h"

namespace {

using tiv::dataset::FieldValue;

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
  // A session that goes before its databases: they move to "Default", and
  // one whose name "Default" already has is left without a session.
  {
    TABSDatabase inDefault, moved, clash;
    inDefault.SetDatabaseName("gemela");
    {
      TABSSession temporary("Temporal");
      moved.SetSessionName("Temporal");
      moved.SetDatabaseName("movida");
      clash.SetSessionName("Temporal");
      clash.SetDatabaseName("gemela");
    }
    EXPECT_EQ(&moved.Session(), &TABSSession::Default());
    EXPECT_EQ(MessageOf([&] { clash.Session(); }), "Invalid session name 'Temporal'");
  }
  // Sessions named after their owner.
  {
    TABSSession first({}, "FormMenuPral");
    first.SetAutoSessionName(true);
    EXPECT_EQ(first.SessionName(), "FormMenuPral_1");
    EXPECT_EQ(MessageOf([&] { first.SetSessionName("x"); }),
              "Cannot modify SessionName while AutoSessionName is enabled");
    EXPECT_EQ(MessageOf([] { TABSSession second({}, "FormMenuPral"); }),
              "Cannot add a session to the form or data-module while session 'FormMenuPral_1' has AutoSessionName "
              "enabled");
    first.SetAutoSessionName(false);
    TABSSession second("Segunda", "FormMenuPral");
    EXPECT_EQ(MessageOf([&] { first.SetAutoSessionName(true); }),
              "Cannot enable AutoSessionName property with more than one session on a form or data-module");
  }
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

namespace {

// Every row of `inicial` as text, in id order.
std::vector<std::string> Rows(const std::string& databaseName) {
  TABSTable t;
  t.SetDatabaseName(databaseName);
  t.SetTableName("inicial");
  t.Open();
  std::vector<std::string> rows;
  for (t.First(); !t.Eof(); t.Next()) {
    std::string row;
    for (int i = 0; i < t.FieldCount(); ++i) row += t.FieldAt(i).AsString() + "|";
    rows.push_back(row);
  }
  return rows;
}

void MarkCommitInterrupted(const std::string& path) {
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(tiv::disk::kHdrState);
  f.put(static_cast<char>(tiv::disk::kStateCommitting));
}

struct ScriptedAccess : TABSSilentDialogs {
  std::vector<std::string> asked, warned;
  bool answer = true;
  bool Confirm(const std::string& text) override {
    asked.push_back(text);
    return answer;
  }
  void ShowWarning(const std::string& text) override { warned.push_back(text); }
};

}  // namespace

// A file left by a commit that died half-way is repaired on connect: every
// record is kept, the backup goes only because the copy was complete; a
// repair beside another connection is refused and leaves the file alone.
TEST(DatabaseTest, RepairOnConnectLosesNothing) {
  AccessTestDb db;
  {
    TABSTable t;
    t.SetDatabaseName("app");
    t.SetTableName("inicial");
    t.Open();
    for (int i = 0; i < 300; ++i) AddPeriod(t, 733773 + i * 3, 1 + i % 40, 50 + i % 51);
  }
  const std::vector<std::string> before = Rows("app");
  ASSERT_EQ(before.size(), 300u);
  db.database.Close();
  MarkCommitInterrupted(db.path);
  ScriptedAccess dialogs;
  TABSScopedAccessDialogs scope(dialogs);

  // Beside another connection: refused, the file as it was.
  db.database.MultiUser = true;
  {
    ChildProcess other({"open", db.path, "inicial"}, ACCESS_HELPER_PATH);
    ASSERT_EQ(other.ReadLine(), "open 300");
    const std::string damaged = [&] {
      std::ifstream in(db.path, std::ios::binary);
      return std::string(std::istreambuf_iterator<char>(in), {});
    }();
    EXPECT_EQ(NativeCodeOf([&] { db.database.Open(); }), 20238);
    EXPECT_FALSE(db.database.Connected());
    ASSERT_EQ(dialogs.warned.size(), 1u);
    EXPECT_NE(dialogs.warned[0].find("in use"), std::string::npos) << dialogs.warned[0];
    std::ifstream in(db.path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), damaged);
    other.WriteLine("done");
    EXPECT_EQ(other.Wait(), 0);
  }
  // Declined: connected to the file as it is.
  dialogs.answer = false;
  db.database.Open();
  EXPECT_TRUE(db.database.Connected());
  db.database.Close();
  // Accepted: repaired, every record there, the backup gone.
  dialogs.answer = true;
  dialogs.asked.clear();
  std::vector<int> percents;
  db.database.OnRepairProgress = [&](TABSDatabase&, int p) { percents.push_back(p); };
  db.database.Open();
  EXPECT_EQ(dialogs.asked,
            std::vector<std::string>{"Database file was not correctly closed last time. Do you want to repair it?"});
  EXPECT_FALSE(db.database.EngineSession().NeedsRepair());
  ASSERT_FALSE(percents.empty());
  EXPECT_EQ(percents.back(), 100);
  EXPECT_EQ(Rows("app"), before);
  EXPECT_FALSE(std::filesystem::exists(db.path + ".bak")) << "a complete copy needs no backup";
  EXPECT_FALSE(std::filesystem::exists(db.path + ".tmp"));
  // A file of an older format: announced, converted without a choice.
  db.database.Close();
  {
    std::fstream f(db.path, std::ios::in | std::ios::out | std::ios::binary);
    const double old = 2.5;
    char bytes[sizeof old];
    std::memcpy(bytes, &old, sizeof old);
    f.seekp(tiv::disk::kHdrVersion);
    f.write(bytes, sizeof bytes);
  }
  dialogs.asked.clear();
  struct Informed : ScriptedAccess {
    std::vector<std::string> told;
    void ShowInformation(const std::string& text) override { told.push_back(text); }
  } informed;
  {
    TABSScopedAccessDialogs converting(informed);
    db.database.Open();
  }
  EXPECT_TRUE(informed.asked.empty());
  ASSERT_EQ(informed.told.size(), 1u);
  EXPECT_NE(informed.told[0].find("converted"), std::string::npos);
  EXPECT_FALSE(db.database.EngineSession().NeedsRepair());
  EXPECT_EQ(Rows("app"), before);
  // Silent: never asked, never repaired.
  db.database.Close();
  MarkCommitInterrupted(db.path);
  dialogs.asked.clear();
  db.database.SilentMode = true;
  db.database.Open();
  EXPECT_TRUE(dialogs.asked.empty());
  EXPECT_TRUE(db.database.EngineSession().NeedsRepair());
}

// A compact rebuilds the file of a disconnected database: every record
// kept, the file smaller after many deletes.
TEST(DatabaseTest, CompactKeepsEveryRecord) {
  AccessTestDb db;
  {
    TABSTable t;
    t.SetDatabaseName("app");
    t.SetTableName("inicial");
    t.Open();
    for (int i = 0; i < 3000; ++i) AddPeriod(t, 733773 + i, 1 + i % 40, 100);
    t.First();
    while (t.RecordCount() > 100) t.Delete();
  }
  const std::vector<std::string> before = Rows("app");
  ASSERT_EQ(before.size(), 100u);
  EXPECT_EQ(MessageOf([&] { db.database.CompactDatabase(); }), "Db: Cannot perform this operation on an open database");
  db.database.Close();
  const auto size = std::filesystem::file_size(db.path);
  int lastPercent = -1;
  db.database.OnCompactProgress = [&](TABSDatabase&, int percent) { lastPercent = percent; };
  EXPECT_TRUE(db.database.CompactDatabase().empty());
  EXPECT_EQ(lastPercent, 100);
  EXPECT_LT(std::filesystem::file_size(db.path), size);
  EXPECT_FALSE(std::filesystem::exists(db.path + ".bak"));
  EXPECT_EQ(Rows("app"), before);
}

// A new password and new settings are rebuilds too: every record kept,
// the old password refused afterwards.
TEST(DatabaseTest, ChangePasswordAndSettingsKeepEveryRecord) {
  AccessTestDb db;
  {
    TABSTable t;
    t.SetDatabaseName("app");
    t.SetTableName("inicial");
    t.Open();
    for (int i = 0; i < 200; ++i) AddPeriod(t, 733773 + i, 1 + i % 40, 100);
  }
  const std::vector<std::string> before = Rows("app");
  db.database.Close();
  EXPECT_TRUE(db.database.ChangePassword("nueva").empty());
  EXPECT_EQ(db.database.Password, "nueva");
  EXPECT_EQ(Rows("app"), before);
  db.database.Close();
  db.database.Password = "vieja";
  db.database.SilentMode = true;
  EXPECT_EQ(NativeCodeOf([&] { db.database.Open(); }), 30445) << "the file is encrypted under the new password";
  db.database.Password = "nueva";
  EXPECT_TRUE(db.database.ChangeDatabaseSettings(16, 4, 8192).empty());
  EXPECT_EQ(Rows("app"), before);
  std::ifstream in(db.path, std::ios::binary);
  std::string header(64, '\0');
  in.read(header.data(), 64);
  uint16_t pageSize = 0;
  std::memcpy(&pageSize, header.data() + tiv::disk::kHdrPageSize, 2);
  EXPECT_EQ(pageSize, 8192);
}

// A process killed while it posts through the components: the next
// connection finds the file sound (the journal undoes the commit that was
// cut), asks for no repair, and every post that returned is there.
TEST(DatabaseTest, AKilledWriterLeavesEveryAcknowledgedPost) {
  AccessTestDb db;
  db.database.Close();
  int64_t acknowledged = 0;
  {
    ChildProcess writer({"fill", db.path}, ACCESS_HELPER_PATH);
    for (int i = 0; i < 60; ++i) {
      const std::string line = writer.ReadLine();
      ASSERT_EQ(line.rfind("posted ", 0), 0u) << line;
      acknowledged = std::stoll(line.substr(7));
    }
    writer.Kill();
  }
  ScriptedAccess dialogs;
  TABSScopedAccessDialogs scope(dialogs);
  db.database.Open();
  EXPECT_TRUE(dialogs.asked.empty()) << "no repair asked";
  EXPECT_FALSE(db.database.EngineSession().NeedsRepair());
  TABSTable t;
  t.SetDatabaseName("app");
  t.SetTableName("inicial");
  t.Open();
  EXPECT_GE(t.RecordCount(), acknowledged);
  std::vector<int64_t> dias;
  for (t.First(); !t.Eof(); t.Next()) dias.push_back(t.FieldByName("dias").AsInteger());
  std::sort(dias.begin(), dias.end());
  for (int64_t n = 1; n <= acknowledged; ++n)
    ASSERT_TRUE(std::binary_search(dias.begin(), dias.end(), n)) << "post " << n << " was acknowledged";
  // The table takes the next post.
  AddPeriod(t, 733773, 1, 100);
}
