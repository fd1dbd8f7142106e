// The other process of the component tests, on a database file through
// the components, multi-user:
//   open FILE TABLE  opens the table, prints "open <count>" and waits for a
//                    line on its standard input before closing
//   fill FILE        posts periods into `inicial` one by one without end,
//                    printing "posted <n>" after each post returns
// Errors print "error <message>" and exit 1.
#include <iostream>
#include <string>

#include "access/ZUDMain.h"

namespace {

int Fill(const std::string& path) {
  TABSDatabase database("HelperDb");
  database.SetDatabaseName("helper");
  database.SetDatabaseFileName(path);
  database.MultiUser = true;
  TABSTable table("HelperTable");
  table.SetDatabaseName("helper");
  table.SetTableName("inicial");
  table.Open();
  for (int64_t n = 1;; ++n) {
    table.Insert();
    table.FieldByName("desde").SetValue(tiv::dataset::FieldValue::Date(733773 + static_cast<int32_t>(n % 5000)));
    table.FieldByName("dias").SetAsInteger(n);
    table.Post();
    std::cout << "posted " << n << std::endl;
  }
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const std::string command = argc > 2 ? argv[1] : "";
    if (command == "fill" && argc == 3) return Fill(argv[2]);
    if (argc != 4 || command != "open") throw std::runtime_error("usage: open FILE TABLE | fill FILE");
    TABSDatabase database("HelperDb");
    database.SetDatabaseName("helper");
    database.SetDatabaseFileName(argv[2]);
    database.MultiUser = true;
    TABSTable table("HelperTable");
    table.SetDatabaseName("helper");
    table.SetTableName(argv[3]);
    table.Open();
    std::cout << "open " << table.RecordCount() << std::endl;
    std::string line;
    std::getline(std::cin, line);
    return 0;
  } catch (const std::exception& x) {
    std::cout << "error " << x.what() << std::endl;
    return 1;
  }
}
