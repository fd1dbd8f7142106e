// The calculator's batch mode run as a user runs it: the real executable
// with --calc, its output read back (JSON and the summary), a bad file
// among good ones, and a calculator holding the database meanwhile.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <fstream>
#include <string>
#include <vector>

#include "access/ZUDMain.h"
#include "support/ChildProcess.h"
#include "support/ScratchDir.h"

namespace {

struct Output {
  std::vector<std::string> lines;  // what it printed, the toolkit's warnings left out
  int code = -1;
};

Output Tivoran(const std::vector<std::string>& args) {
  ChildProcess p(args, TIVORAN_PATH);
  Output r;
  for (std::string line = p.ReadLine(); !line.empty(); line = p.ReadLine())
    if (line.rfind("QStandardPaths", 0) != 0 && line.find("propagateSizeHints") == std::string::npos)
      r.lines.push_back(line);
  r.code = p.Wait();
  return r;
}

std::string Write(const ScratchDir& dir, const std::string& name, const std::string& text) {
  const std::string path = dir.File(name);
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

QJsonObject Json(const std::string& line) { return QJsonDocument::fromJson(QByteArray::fromStdString(line)).object(); }

std::string Field(const QJsonArray& rows, int row, const char* field) {
  return rows.at(row).toObject().value(QString::fromLatin1(field)).toString().toStdString();
}

TEST(LoteTest, ACaseIsLoadedRecalculatedAndPrinted) {
  ScratchDir dir("tivoran-lote");
  const std::string file = Write(dir, "ejemplo.txt",
                                 "diastot=800\r\ndiasnat=0\r\ncktotdias=no\r\n"
                                 "01/01/2012 31/01/2012 100\r\n01/04/2010 31/12/2010 30\r\n"
                                 "01/01/2010 30/06/2010 50\r\n31/12/2010 01/01/2010 50\r\n");
  const Output r = Tivoran({"--calc", file, "--edias", "5475", "--json"});
  ASSERT_EQ(r.code, 0);
  ASSERT_EQ(r.lines.size(), 1u);
  const QJsonObject o = Json(r.lines[0]);
  EXPECT_EQ(o.value("file").toString().toStdString(), file);
  EXPECT_EQ(o.value("messages").toArray(), QJsonArray({"Error en linea 7 (fechas): 31/12/2010 01/01/2010 50"}));
  const QJsonArray entered = o.value("entered").toArray();
  ASSERT_EQ(entered.size(), 3);
  EXPECT_EQ(Field(entered, 0, "desde"), "01/01/2010");
  EXPECT_EQ(Field(entered, 0, "diascoef"), "90,5");
  const QJsonArray generated = o.value("generated").toArray();
  ASSERT_EQ(generated.size(), 4);
  EXPECT_EQ(Field(generated, 1, "desde"), "01/04/2010");
  EXPECT_EQ(Field(generated, 1, "porcentaje"), "80");
  EXPECT_EQ(Field(generated, 1, "diascoef"), "72,8");
  EXPECT_EQ(Field(generated, 2, "diascotizados"), "82,5");
  const QJsonObject labels = o.value("labels").toObject();
  const auto label = [&](const char* n) { return labels.value(QString::fromLatin1(n)).toString().toStdString(); };
  EXPECT_EQ(label("LNumLin"), "4");
  EXPECT_EQ(label("LTotDiasNat"), "396");
  EXPECT_EQ(label("LTotDiasCoef"), "204");
  EXPECT_EQ(label("LCoeficiente"), "51,52");
  EXPECT_EQ(label("L100"), "Faltan: ");
  EXPECT_EQ(label("LFaltan"), "404");
  EXPECT_EQ(label("LFinal"), "2820");
  EXPECT_EQ(label("LFinalAny"), "7");
  EXPECT_EQ(label("LFinalMes"), "8");
  EXPECT_EQ(label("LFinalColour"), "red");

  // The readable summary says the same.
  const Output s = Tivoran({"--calc", file});
  ASSERT_EQ(s.code, 0);
  std::string all;
  for (const std::string& l : s.lines) all += l + "\n";
  EXPECT_NE(all.find("C.G.P.: 51,52 %"), std::string::npos) << all;
  EXPECT_NE(all.find("01/04/2010\t30/06/2010\t80\t91\t72,8\t91"), std::string::npos) << all;
}

TEST(LoteTest, EveryFileHasItsResultAndABadOneFailsTheRun) {
  ScratchDir dir("tivoran-lote");
  const std::string good = Write(dir, "bueno.txt", "01/01/2010 31/12/2010 50\r\n");
  const std::string bad = Write(dir, "carta.txt", "Estimado cliente:\r\nle adjunto\r\n");
  // The database beside the program is held by a running calculator.
  TABSDatabase db("calculator");
  db.SetDatabaseName("lote_calculator");
  db.SetDatabaseFileName(TIVORAN_DATABASE);
  db.MultiUser = true;
  TABSTable inicial;
  inicial.SetDatabaseName("lote_calculator");
  inicial.SetTableName("inicial");
  inicial.Open();

  const Output r = Tivoran({"--json", "--calc", good, bad, good});
  EXPECT_EQ(r.code, 1);
  ASSERT_EQ(r.lines.size(), 3u);
  EXPECT_EQ(Json(r.lines[0]).value("labels").toObject().value("LCoeficiente").toString().toStdString(), "50,00");
  EXPECT_EQ(Json(r.lines[1]).value("messages").toArray(), QJsonArray({"El fichero no contiene un supuesto C.G.P."}));
  EXPECT_TRUE(Json(r.lines[1]).value("entered").toArray().isEmpty());
  // Each file starts from an empty case.
  EXPECT_EQ(Json(r.lines[2]).value("entered").toArray().size(), 1);

  EXPECT_EQ(Tivoran({"--calc"}).code, 2);
  EXPECT_EQ(Tivoran({"--calc", good, "--edias", "x"}).code, 2);
}

}  // namespace
