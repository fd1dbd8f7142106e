// DDLIndex: CREATE [UNIQUE] INDEX and DROP INDEX.
//
// Contract
//  1. CREATE [UNIQUE] INDEX name ON [MEMORY] [db .] table [alias]
//     [PASSWORD pw] (entry {, entry}); an entry is a column followed by
//     any of ASC, DESC, CASE, NOCASE, or PASSWORD pw. Other words after a
//     column are passed over up to the next "," or ")", as the dialect
//     does (with any parenthesized text after them).
//  2. DROP INDEX [MEMORY] [db .] table . index [PASSWORD pw]; a name with
//     no table raises 30498.
//
// Thread use: as SQLCommand.h.
#pragma once

#include <string>
#include <vector>

#include "sql/DDLTableManipulation.h"

class TABSDDLCreateIndex : public TABSSQLCommand {
 public:
  TABSDDLCreateIndex(TABSLexer& lexer, const TABSSQLQueryInfo& query);

  std::string DatabaseName;
  std::string TableName;
  std::string Alias;
  std::string Password;
  TSQLIndexDef Index;

 private:
  void Need();
  void ParseEntries();
};

class TABSDDLDropIndex : public TABSSQLCommand {
 public:
  TABSDDLDropIndex(TABSLexer& lexer, const TABSSQLQueryInfo& query);

  std::string DatabaseName;
  std::string TableName;
  std::string IndexName;
  std::string Password;

 private:
  void Need();
};
