// The SQL shell run as a user runs it, on a database built by zudadmin:
// the three output forms, typed parameters, dot commands, and errors that
// stop a script with the engine's message and code.
#include <gtest/gtest.h>

#include "DiskTestUtil.h"
#include "ZudadminRun.h"
#include "support/ScratchDir.h"

namespace {

ToolRun Zudsql(const std::vector<std::string>& args) {
  ChildProcess p(args, ZUDSQL_PATH);
  ToolRun r;
  for (std::string line = p.ReadLine(20000); !line.empty(); line = p.ReadLine(20000)) r.lines.push_back(line);
  r.exitCode = p.Wait();
  return r;
}

struct ZudsqlFixture : ::testing::Test {
  ScratchDir dir{"tivoran-zudsql"};
  std::string db = dir.File("t.zud");
  void SetUp() override {
    ASSERT_EQ(Zudadmin({"create", db}).exitCode, 0);
    ASSERT_EQ(Zudadmin({"create-table", db, "inicial", "id INTEGER, desde DATE, coef DOUBLE, nombre VARCHAR(20)",
                        "--index", "desde:desde"})
                  .exitCode,
              0);
    const std::string csv = dir.File("a.csv");
    FILE* f = std::fopen(csv.c_str(), "w");
    std::fputs("id,desde,coef,nombre\n1,01/01/2010,64.5,uno\n2,01/03/2010,100,\"dos, tres\"\n3,,,\n", f);
    std::fclose(f);
    ASSERT_EQ(Zudadmin({"import", db, "inicial", csv}).exitCode, 0);
  }
};

TEST_F(ZudsqlFixture, OutputFormsAndParameters) {
  const ToolRun table = Zudsql(
      {db, "-c", "select id, nombre from inicial where desde >= :d order by id", "--param", "d=DATE '2010-02-01'"});
  EXPECT_EQ(table.exitCode, 0);
  ASSERT_GE(table.lines.size(), 4u);
  EXPECT_EQ(table.lines[0], "id | nombre   ");
  EXPECT_EQ(table.lines[1], "---+----------");
  EXPECT_EQ(table.lines[2], " 2 | dos, tres");
  EXPECT_TRUE(table.HasPart("1 row, RowsAffected 0, "));

  const ToolRun csv =
      Zudsql({db, "--csv", "-c", "select nombre, id from inicial where id > :n order by id", "--param", "n=1"});
  EXPECT_EQ(csv.exitCode, 0);
  EXPECT_TRUE(csv.Has("nombre,id"));
  EXPECT_TRUE(csv.Has("\"dos, tres\",2"));
  EXPECT_TRUE(csv.Has(",3"));

  const ToolRun json =
      Zudsql({db, "--json", "-c", "select id, coef, nombre from inicial where nombre = :s", "--param", "s='uno'"});
  EXPECT_EQ(json.exitCode, 0);
  EXPECT_TRUE(json.Has(" {\"id\": 1, \"coef\": 64.5, \"nombre\": \"uno\"}"));

  // A parameter value of no known form is a usage error.
  EXPECT_EQ(Zudsql({db, "-c", "select id from inicial", "--param", "x=abc"}).exitCode, 2);
}

TEST_F(ZudsqlFixture, DotCommandsAndErrorsThatStopTheScript) {
  const ToolRun dots = Zudsql({db, "-c", ".tables\n.schema inicial\n.check"});
  EXPECT_EQ(dots.exitCode, 0);
  EXPECT_TRUE(dots.Has("inicial"));
  EXPECT_TRUE(dots.Has("  index desde (desde)"));
  EXPECT_TRUE(dots.Has("ok"));

  struct Case {
    const char* text;
    const char* message;
  } cases[] = {
      {"select nada from inicial; select id from inicial", "Native error: 10305"},
      {"insert into inicial (id) values (9)", "Not implemented yet - Native error: 30350"},
      {"select * from inicial a, inicial b", "Native error: 30350"},
      {"selec id from inicial", "Native error: 30154"},
  };
  for (const Case& c : cases) {
    const ToolRun r = Zudsql({db, "-c", c.text});
    EXPECT_EQ(r.exitCode, 1) << c.text;
    EXPECT_TRUE(r.HasPart(c.message)) << c.text;
    EXPECT_FALSE(r.HasPart("row")) << "nothing after the failure ran: " << c.text;
  }
  // The table is untouched and the shell opens it again.
  const ToolRun after = Zudsql({db, "-c", "select id from inicial order by id"});
  EXPECT_EQ(after.exitCode, 0);
  EXPECT_TRUE(after.HasPart("3 rows"));
}

}  // namespace
