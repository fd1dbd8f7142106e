// The other process of the component tests: opens a table of a database
// file through the components, multi-user, prints "open" and waits for a
// line on its standard input before closing.
//   open FILE TABLE
// Errors print "error <message>" and exit 1.
#include <iostream>
#include <string>

#include "access/ZUDMain.h"

int main(int argc, char** argv) {
  try {
    if (argc != 4 || std::string(argv[1]) != "open") throw std::runtime_error("usage: open FILE TABLE");
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
