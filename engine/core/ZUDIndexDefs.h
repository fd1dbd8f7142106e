// ZUDIndexDefs: the index definitions of a table, the search for an index
// that serves a list of columns, and the exchange with the generic index
// definitions of the data-access layer.
//
// Stored form of one index definition (little-endian), after the base part
// of ZUDMetaObjectDef.h:
//   kind uint8 (always 0), unique uint8, primary uint8,
//   column count int32, root page number int32,
//   per column: field name (short string), descending uint8,
//               case-insensitive uint8, maximum indexed size int32
// A collection stores only its non-temporary indexes, and counts only them.
//
// Contract
//  1. Temporary indexes (temporary = 255) belong to the session that built
//     them and are never stored; reading clears the flag.
//  2. The root page number is -1 while the index has no pages; the index
//     manager keeps it current. The change stamp counts the key changes the
//     index has seen, so a temporary index knows when it is stale.
//  3. A column count read from a stream is bounded by the bytes left (each
//     column takes at least 7 bytes); a maximum indexed size must lie in
//     0..kMaxDeclaredSize.
//  4. FindIndexForColumns returns the object identifier of the first index
//     in collection order that serves the request (see the function), or -1.
//
// Thread use: as ZUDMetaObjectDef.h.
#pragma once

#include <vector>

#include "core/ZUDFieldDefs.h"
#include "core/ZUDGenericDefs.h"
#include "core/ZUDMetaObjectDef.h"

constexpr int32_t kDefaultMaxIndexedSize = 20;
constexpr uint8_t kTemporaryIndex = 255;

class TABSIndexColumn {
 public:
  std::string fieldName;
  bool descending = false;
  bool caseInsensitive = false;
  int32_t maxIndexedSize = kDefaultMaxIndexedSize;
};

class TABSIndexDef : public TABSMetaObjectDef {
 public:
  uint8_t kind = 0;
  bool unique = false;
  bool primary = false;
  int32_t rootPageNo = -1;
  uint8_t temporary = 0;
  int32_t ownerSessionID = -1;
  int32_t changeStamp = 0;
  int32_t reserved = 0;

  bool IsTemporary() const { return temporary != 0; }
  int ColumnCount() const { return static_cast<int>(columns_.size()); }
  // Creates or frees columns at the end.
  void SetColumnCount(int count);
  TABSIndexColumn& Column(int index);
  const TABSIndexColumn& Column(int index) const;
  // Fills the columns from three parallel lists: names, "ASC"/"DESC" and
  // "CASE"/"NO_CASE" markers; lengths must agree (10278, 10279).
  void FillColumns(const std::vector<std::string>& names, const std::vector<std::string>& directions,
                   const std::vector<std::string>& cases);

  void Assign(const TABSMetaObjectDef& source) override;
  void LoadFromStream(TABSStream& stream) override;
  void SaveToStream(TABSStream& stream) const override;

 protected:
  [[noreturn]] void RaiseNameTooLong(const std::string& name) const override;

 private:
  std::vector<TABSIndexColumn> columns_;
};

class TABSIndexDefs : public TABSMetaObjectDefs {
 public:
  TABSIndexDef* operator[](int index) const { return static_cast<TABSIndexDef*>(Get(index)); }
  TABSIndexDef* AddNew() { return static_cast<TABSIndexDef*>(AddCreated()); }
  TABSIndexDef* IndexByName(const std::string& name) const { return static_cast<TABSIndexDef*>(FindByName(name)); }
  TABSIndexDef* IndexByID(int32_t id) const { return static_cast<TABSIndexDef*>(FindByObjectID(id)); }

  // The first index that (1) has at least as many columns as asked, (2) if
  // temporary, belongs to `sessionID`, (3) per requested position names the
  // same field (upper-cased), descends exactly for "DESC", and is
  // case-sensitive for a "CASE" request on a string field and
  // case-insensitive for any "NO_CASE" request. Lists of different lengths
  // raise 10276, 10277.
  int32_t FindIndexForColumns(const std::vector<std::string>& names, const std::vector<std::string>& directions,
                              const std::vector<std::string>& cases, const TABSFieldDefs& fields,
                              int32_t sessionID) const;

 protected:
  std::unique_ptr<TABSMetaObjectDef> CreateItem() const override { return std::make_unique<TABSIndexDef>(); }
  int64_t MinStoredItemSize() const override { return 5 + 11; }
  bool IsStored(const TABSMetaObjectDef& item) const override {
    return !static_cast<const TABSIndexDef&>(item).IsTemporary();
  }
};

// Builds an engine index definition from a generic one (name, fields,
// descending and case-insensitive field lists, options, maximum sizes).
// Lists are split at ";" (a "," counts as ";"). An empty name raises 20048,
// an empty field list 20049, a field the table lacks 20050.
void IndexDefFromGeneric(const TIndexDef& generic, const TABSFieldDefs& fields, TABSIndexDef& result);
// The generic form of an engine index definition; ixDescending and
// ixCaseInsensitive are added when their list covers every field.
TIndexDef IndexDefToGeneric(const TABSIndexDef& def);
// Splits a ";"- or ","-separated list, trimming blanks, dropping empties.
std::vector<std::string> SplitFieldList(const std::string& text);
