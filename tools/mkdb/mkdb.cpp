// mkdb: builds the calculator's database file "Tivoran.ZUD" from the data
// files kept in the repository, so that the shipped file is made, never
// copied by hand.
//
//   mkdb OUTPUT DIASCOT_CSV
//
// The file holds the tables the program expects and never creates itself:
//   inicial    the entered periods (id AUTOINC, desde DATE, hasta DATE,
//              coef FLOAT, dias INTEGER, diascoef FLOAT; indexes `id`
//              unique and `desde`), empty
//   configura  the settings, one row: no part-time limit, automatic
//              calculation on
//   diascot    the common qualifying periods (id, descripcion, dias, anys,
//              mesos; index `id` unique), one row per line of the CSV file
//              ("descripcion;dias", a header line first, UTF-8); years and
//              months come from the program's own conversion of the days
// The file is built beside OUTPUT and takes its name only when complete: a
// failed build leaves OUTPUT as it was. Errors print one line and exit 1.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "Funcion.h"
#include "access/ZUDMain.h"

namespace {

using tiv::dataset::FieldValue;

struct Period {
  std::string descripcion;  // Windows-1252
  int32_t dias = 0;
};

std::vector<Period> ReadDiascot(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::vector<Period> rows;
  std::string line;
  std::getline(in, line);  // the header
  for (int lineNo = 2; std::getline(in, line); ++lineNo) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    const auto semicolon = line.rfind(';');
    if (semicolon == std::string::npos || semicolon == 0)
      throw std::runtime_error(path + ":" + std::to_string(lineNo) + ": expected \"descripcion;dias\"");
    Period p;
    p.descripcion = Ansi(line.substr(0, semicolon));
    try {
      size_t used = 0;
      p.dias = std::stoi(line.substr(semicolon + 1), &used);
      if (used != line.size() - semicolon - 1 || p.dias <= 0) throw std::invalid_argument("days");
    } catch (const std::exception&) {
      throw std::runtime_error(path + ":" + std::to_string(lineNo) + ": the days are not a whole number above 0");
    }
    rows.push_back(p);
  }
  if (rows.empty()) throw std::runtime_error(path + ": no rows");
  return rows;
}

void Build(const std::string& path, const std::vector<Period>& diascot) {
  TABSDatabase database("mkdb");
  database.SetDatabaseName("mkdb");
  database.SetDatabaseFileName(path);
  database.SilentMode = true;
  database.CreateDatabase();

  TABSTable inicial("inicial");
  inicial.SetDatabaseName("mkdb");
  inicial.SetTableName("inicial");
  inicial.FieldDefs = {{"id", aftAutoInc},  {"desde", aftDate},   {"hasta", aftDate},
                       {"coef", aftDouble}, {"dias", aftInteger}, {"diascoef", aftDouble}};
  inicial.IndexDefs = {{"id", "id", true}, {"desde", "desde"}};
  inicial.CreateTable();

  TABSTable configura("configura");
  configura.SetDatabaseName("mkdb");
  configura.SetTableName("configura");
  configura.FieldDefs = {{"nofechaant", aftLogical}, {"fechaant", aftDate}, {"autocalculo", aftLogical}};
  configura.CreateTable();
  configura.Open();
  configura.Insert();
  configura.FieldByName("nofechaant").SetAsBoolean(false);
  configura.FieldByName("autocalculo").SetAsBoolean(true);
  configura.Post();
  configura.Close();

  TABSTable table("diascot");
  table.SetDatabaseName("mkdb");
  table.SetTableName("diascot");
  table.FieldDefs = {{"id", aftInteger},
                     {"descripcion", aftString, 100},
                     {"dias", aftInteger},
                     {"anys", aftInteger},
                     {"mesos", aftInteger}};
  table.IndexDefs = {{"id", "id", true}};
  table.CreateTable();
  table.Open();
  int32_t id = 0;
  for (const Period& p : diascot) {
    const YearsMonths ym = YearsMonthsOfDays(p.dias);
    table.Insert();
    table.FieldByName("id").SetAsInteger(++id);
    table.FieldByName("descripcion").SetAsString(p.descripcion);
    table.FieldByName("dias").SetAsInteger(p.dias);
    table.FieldByName("anys").SetAsInteger(static_cast<int64_t>(ym.years));
    table.FieldByName("mesos").SetAsInteger(static_cast<int64_t>(ym.months));
    table.Post();
  }
  table.Close();
  database.Close();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: mkdb OUTPUT DIASCOT_CSV\n";
    return 1;
  }
  const std::string output = argv[1];
  const std::string building = output + ".building";
  try {
    const std::vector<Period> diascot = ReadDiascot(argv[2]);
    std::error_code ec;
    std::filesystem::remove(building, ec);
    Build(building, diascot);
    std::filesystem::rename(building, output);
    return 0;
  } catch (const std::exception& x) {
    std::error_code ec;
    std::filesystem::remove(building, ec);
    std::cerr << "mkdb: " << x.what() << "\n";
    return 1;
  }
}
