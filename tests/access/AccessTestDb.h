// AccessTestDb: a database file in a scratch folder with the calculator's
// table `inicial` (id AUTOINC, desde DATE, hasta DATE, coef DOUBLE, dias
// INTEGER, diascoef DOUBLE; index `desde`), reached through a database
// component named after the test.
#pragma once

#include <functional>
#include <string>

#include "access/ZUDMain.h"
#include "support/ScratchDir.h"

struct AccessTestDb {
  ScratchDir dir{"tivoran-access"};
  std::string path = dir.File("Tivoran.ZUD");
  TABSDatabase database{"Db"};

  explicit AccessTestDb(const std::string& databaseName = "app") {
    database.SetDatabaseName(databaseName);
    database.SetDatabaseFileName(path);
    database.CreateDatabase();
    TABSTable t;
    t.SetDatabaseName(databaseName);
    t.SetTableName("inicial");
    DefineInicial(t);
    t.CreateTable();
  }

  static void DefineInicial(TABSTable& t) {
    t.FieldDefs = {{"id", aftAutoInc},  {"desde", aftDate},   {"hasta", aftDate},
                   {"coef", aftDouble}, {"dias", aftInteger}, {"diascoef", aftDouble}};
    t.IndexDefs = {{"desde", "desde"}};
  }
};

// The message of what `f` raises, or "(nothing raised)".
inline std::string MessageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(nothing raised)";
}

// Inserts a period through the table component.
inline void AddPeriod(TABSTable& t, int32_t desde, int32_t dias, double coef) {
  t.Insert();
  t.FieldByName("desde").SetValue(tiv::dataset::FieldValue::Date(desde));
  t.FieldByName("hasta").SetValue(tiv::dataset::FieldValue::Date(desde + dias - 1));
  t.FieldByName("coef").SetAsFloat(coef);
  t.FieldByName("dias").SetAsInteger(dias);
  t.FieldByName("diascoef").SetAsFloat(dias * coef / 100);
  t.Post();
}
