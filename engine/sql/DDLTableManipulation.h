// DDLTableManipulation: the table statements CREATE TABLE, DROP TABLE,
// TRUNCATE, ALTER TABLE and RENAME TABLE, with the column and index
// definitions they carry (TSQLFieldDef, TSQLIndexDef).
//
// Contract
//  1. Every table statement names its table as [MEMORY] [db .] table
//     [PASSWORD pw]; the statement parser refuses any token left after it
//     (30246).
//  2. A column definition records each option with a "given" flag, so
//     execution can tell a default from an explicit value. Column options
//     end at "," or ")"; an option word the dialect does not know is passed
//     over together with any parenthesized text after it, so a "(" inside
//     it never ends the column list early.
//  3. DEFAULT keeps a quoted string as the text of a string literal: the
//     string in double quotes with every double quote in it doubled, so
//     that reading the default back yields the string unchanged. NOW,
//     CURRENT_TIMESTAMP, CURRENT_TIME, CURRENT_DATE and SYSDATE, bare or
//     quoted, are kept as that word; other expressions are evaluated at
//     parse time.
//  4. MINVALUE and MAXVALUE of a column take a signed literal of the
//     column's type: an integer for integer types, an integer or a decimal
//     number for floating types, a number or quoted text for the others;
//     the value is stored converted to the column's storage type.
//  5. ALTER TABLE t DROP takes its names in parentheses or after COLUMN.
//
// Thread use: as SQLCommand.h.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/ZUDTypes.h"
#include "core/ZUDVariant.h"
#include "sql/SQLCommand.h"

// One column of CREATE TABLE or ALTER TABLE ADD/MODIFY.
struct TSQLFieldDef {
  std::string Name;
  bool IfNotExists = false;
  TABSDataType DataType = aftUnknown;
  bool SizeGiven = false;
  int32_t Size = 0;
  bool NullGiven = false;
  bool NotNull = false;
  bool BlobBlockSizeGiven = false;
  int32_t BlobBlockSize = 0;
  bool BlobCompressionModeGiven = false;
  int32_t BlobCompressionMode = 0;
  bool BlobCompressionAlgorithmGiven = false;
  std::string BlobCompressionAlgorithm;  // upper-case name, looked up at execution
  // Autoincrement options.
  bool IncrementGiven = false;
  int64_t Increment = 0;
  bool InitialValueGiven = false;
  int64_t InitialValue = 0;
  bool AutoincMinGiven = false;
  int64_t AutoincMin = 0;
  bool AutoincMaxGiven = false;
  int64_t AutoincMax = 0;
  bool CycledGiven = false;
  bool Cycled = false;
  // DEFAULT (contract 3); a NULL default is a given default that is null.
  bool DefaultGiven = false;
  std::unique_ptr<TABSVariant> DefaultValue;
  // MINVALUE / MAXVALUE constraints (contract 4); NOMINVALUE / NOMAXVALUE
  // give the flag with no value.
  bool MinValueGiven = false;
  std::unique_ptr<TABSVariant> MinValue;
  bool MaxValueGiven = false;
  std::unique_ptr<TABSVariant> MaxValue;
};

struct TSQLIndexColumn {
  std::string Name;
  bool Descending = false;
  bool CaseInsensitive = false;
};

// A PRIMARY KEY or [UNIQUE] INDEX of CREATE TABLE and ALTER TABLE ADD, or
// one made by a PRIMARY or UNIQUE column option.
struct TSQLIndexDef {
  std::string Name;  // empty: named at execution
  bool Primary = false;
  bool Unique = false;
  std::vector<TSQLIndexColumn> Columns;
};

class TABSDDLTableManipulation : public TABSSQLCommand {
 public:
  std::string DatabaseName;
  std::string TableName;
  std::string Password;
  std::vector<TSQLFieldDef> FieldDefs;
  std::vector<TSQLIndexDef> IndexDefs;

 protected:
  using TABSSQLCommand::TABSSQLCommand;
  // Moves on; the end of the statement raises 30237.
  void Need();
  // [MEMORY] [db .] table [PASSWORD pw] at the cursor; leaves the cursor
  // after it (possibly at the end).
  void ParseTableTarget();
  // "(" element {, element} ")" with the cursor on "(": column
  // definitions, and table constraints when `constraints` is set.
  void ParseElements(bool constraints);

 private:
  void ParseIndexColumns(TSQLIndexDef& index);
  void ParseColumn();
  void ParseType(TSQLFieldDef& field);
  void ParseAutoincOptions(TSQLFieldDef& field);
  void ParseColumnOptions(TSQLFieldDef& field);
  void ParseDefault(TSQLFieldDef& field);
  std::unique_ptr<TABSVariant> ParseLimit(const TSQLFieldDef& field);
  bool ReadSignedInteger(int64_t& value);
  void SkipOption();
};

class TABSDDLCreateTable : public TABSDDLTableManipulation {
 public:
  TABSDDLCreateTable(TABSLexer& lexer, const TABSSQLQueryInfo& query);
  bool IfNotExists = false;
};

class TABSDDLDropTable : public TABSDDLTableManipulation {
 public:
  TABSDDLDropTable(TABSLexer& lexer, const TABSSQLQueryInfo& query);
  bool IfExists = false;
};

class TABSDDLTruncateTable : public TABSDDLTableManipulation {
 public:
  TABSDDLTruncateTable(TABSLexer& lexer, const TABSSQLQueryInfo& query);
};

enum TABSAlterAction : uint8_t { aaaAdd, aaaDrop, aaaModify, aaaRenameTable, aaaRenameColumn };

class TABSDDLAlterTable : public TABSDDLTableManipulation {
 public:
  TABSDDLAlterTable(TABSLexer& lexer, const TABSSQLQueryInfo& query);

  TABSAlterAction Action = aaaAdd;
  std::vector<std::string> DropColumns;
  std::string NewTableName;   // RENAME TO
  std::string OldColumnName;  // RENAME [COLUMN] old TO new
  std::string NewColumnName;

 protected:
  struct Rename {};
  TABSDDLAlterTable(TABSLexer& lexer, const TABSSQLQueryInfo& query, Rename);

 private:
  void ParseDrop();
  void ParseRename();
};

class TABSDDLRenameTable : public TABSDDLAlterTable {
 public:
  TABSDDLRenameTable(TABSLexer& lexer, const TABSSQLQueryInfo& query);
};
