// mkdb builds the calculator's database from the repository's data: the
// tables the program expects, the settings row, every qualifying period
// with its years and months; a bad data file leaves no database behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "access/ZUDMain.h"
#include "support/ChildProcess.h"
#include "support/ScratchDir.h"

namespace {

int RunMkdb(const std::string& output, const std::string& csv, std::string& said) {
  ChildProcess mkdb({output, csv}, MKDB_PATH);
  said = mkdb.ReadLine();
  return mkdb.Wait();
}

TEST(MkdbTest, BuildsTheShippedTablesFromTheData) {
  ScratchDir dir("tivoran-mkdb");
  const std::string path = dir.File("Tivoran.ZUD");
  std::string said;
  ASSERT_EQ(RunMkdb(path, DIASCOT_CSV, said), 0) << said;

  TABSDatabase database("Tivoran");
  database.SetDatabaseName("mkdb_test");
  database.SetDatabaseFileName(path);
  TABSTable t;
  t.SetDatabaseName("mkdb_test");
  t.SetTableName("inicial");
  t.SetIndexName("desde");
  t.Open();
  EXPECT_EQ(t.RecordCount(), 0);
  EXPECT_NE(t.FindField("diascoef"), nullptr);
  t.Close();
  t.SetTableName("configura");
  t.SetIndexName("");
  t.Open();
  ASSERT_EQ(t.RecordCount(), 1);
  EXPECT_FALSE(t.FieldByName("nofechaant").AsBoolean());
  EXPECT_TRUE(t.FieldByName("fechaant").IsNull());
  EXPECT_TRUE(t.FieldByName("autocalculo").AsBoolean());
  t.Close();
  t.SetTableName("diascot");
  t.SetIndexName("id");
  t.Open();
  EXPECT_EQ(t.RecordCount(), 12);
  EXPECT_EQ(t.FieldByName("descripcion").AsString(), "Jubilaci\xF3n: periodo m\xEDnimo (15 a\xF1os)");
  EXPECT_EQ(t.FieldByName("dias").AsInteger(), 5475);
  EXPECT_EQ(t.FieldByName("anys").AsInteger(), 15);
  EXPECT_EQ(t.FieldByName("mesos").AsInteger(), 0);
  t.Last();
  EXPECT_EQ(t.FieldByName("dias").AsInteger(), 360);
  EXPECT_EQ(t.FieldByName("anys").AsInteger(), 0);
  EXPECT_EQ(t.FieldByName("mesos").AsInteger(), 11);
}

TEST(MkdbTest, ABadDataFileLeavesNoDatabase) {
  ScratchDir dir("tivoran-mkdb");
  const std::string path = dir.File("Tivoran.ZUD");
  const char* cases[] = {
      "descripcion;dias\nsin dias\n",                  // no separator
      "descripcion;dias\nJubilaci\xC3\xB3n;muchos\n",  // days not a number
      "descripcion;dias\n",                            // no rows
  };
  for (const char* content : cases) {
    SCOPED_TRACE(content);
    const std::string csv = dir.File("malo.csv");
    std::ofstream(csv) << content;
    std::string said;
    EXPECT_EQ(RunMkdb(path, csv, said), 1);
    EXPECT_EQ(said.rfind("mkdb: ", 0), 0u) << said;
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_FALSE(std::filesystem::exists(path + ".building"));
  }
}

}  // namespace
