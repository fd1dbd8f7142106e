// TABSTable's export as SQL statements and its find-first/next family
// (Table.h contracts 12 and 13).
#include <cctype>
#include <charconv>
#include <cstdio>

#include "access/Table.h"
#include "core/ZUDMetaObjectDef.h"

using tiv::dataset::RaiseFor;

namespace {

// A name as the SQL reads it: a plain word as it is, anything else in
// brackets.
std::string SqlName(const std::string& name) {
  bool plain = !name.empty() && !std::isdigit(static_cast<unsigned char>(name[0]));
  for (char c : name) plain = plain && (std::isalnum(static_cast<unsigned char>(c)) || c == '_');
  return plain ? name : "[" + name + "]";
}

std::string Quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("''") : std::string(1, c);
  return out + "'";
}

std::string TwoDigits(int v) { return (v < 10 ? "0" : "") + std::to_string(v); }

std::string DateText(int32_t dayNumber) {
  int y = 0, m = 0, d = 0;
  DecodeDayNumber(dayNumber, y, m, d);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d);
  return buf;
}

std::string TimeText(int32_t ms) {
  const int s = ms / 1000;
  return TwoDigits(s / 3600) + ":" + TwoDigits(s / 60 % 60) + ":" + TwoDigits(s % 60);
}

// A value as an SQL literal.
std::string Literal(const TABSVariant& v) {
  if (v.IsNull()) return "NULL";
  if (IsIntegerStorage(v.StorageType())) return std::to_string(v.AsLargeint());
  if (IsFloatStorage(v.StorageType())) {
    char buf[40];
    const auto r = std::to_chars(buf, buf + sizeof buf, v.AsDouble());
    return std::string(buf, r.ptr);
  }
  switch (v.StorageType()) {
    case bftLogical: return v.AsLogical() ? "TRUE" : "FALSE";
    case bftDate: return "DATE '" + DateText(v.AsDate()) + "'";
    case bftTime: return "TIME '" + TimeText(v.AsTime()) + "'";
    case bftDateTime: {
      const TABSDateTimePair p = v.AsDateTime();
      return "TIMESTAMP '" + DateText(p.date) + " " + TimeText(p.time) + "'";
    }
    case bftBlob:
    case bftBytes:
    case bftVarBytes:
      return Quoted(std::string(v.Buffer() ? v.Buffer() : "", static_cast<size_t>(std::max(v.ValueSize(), 0))));
    default: return Quoted(v.AsString());
  }
}

}  // namespace

void TABSTable::ExportToSql(std::ostream& out) {
  const OperationReference reference(*this);
  TABSDatabase& database = reference.database;
  TABSLocalCursor c(database.EngineSession());
  c.tableName = TableName();
  c.OpenTable();
  const std::string table = SqlName(TableName());
  if (BeforeExport) BeforeExport(*this);
  if (ExportToSqlOptions.addDropTable) out << "DROP TABLE " << table << ";\n";
  if (ExportToSqlOptions.addCreateTable) {
    out << "CREATE TABLE " << table << " (";
    for (int32_t f = 0; f < c.FieldCount(); ++f) {
      const TABSFieldDef& def = c.VisibleField(f);
      out << (f ? ", " : "") << SqlName(c.VisibleFieldName(f)) << " " << DataTypeName(def.DataType());
      if (IsStringDataType(def.DataType()) || IsByteStringDataType(def.DataType())) out << "(" << def.Size() << ")";
    }
    out << ");\n";
    const TABSIndexDefs& indexes = c.GetIndexDefs();
    for (int i = 0; i < indexes.Count(); ++i) {
      const TABSIndexDef& d = *indexes[i];
      if (d.IsTemporary()) continue;
      out << "CREATE " << (d.unique || d.primary ? "UNIQUE " : "") << "INDEX " << SqlName(d.Name()) << " ON " << table
          << " (";
      for (int k = 0; k < d.ColumnCount(); ++k)
        out << (k ? ", " : "") << SqlName(d.Column(k).fieldName) << (d.Column(k).descending ? " DESC" : "");
      out << ");\n";
    }
  }
  if (ExportToSqlOptions.addData) {
    std::unique_ptr<TABSWait> wait;
    if (!OnExportProgress) wait = AccessDialogs().BeginWait("Export Table...");
    std::string columns;
    for (int32_t f = 0; f < c.FieldCount(); ++f) columns += (f ? ", " : "") + SqlName(c.VisibleFieldName(f));
    const int64_t total = std::max<int64_t>(c.GetRecordCount(), 1);
    int64_t recordNo = 0;
    c.SetToBegin();
    while (c.GetRecord(grmNext) == grrFound) {
      ++recordNo;
      out << "INSERT INTO " << table << " (" << columns << ") VALUES (";
      for (int32_t f = 0; f < c.FieldCount(); ++f) {
        TABSVariant v;
        c.GetFieldValue(f, v);
        out << (f ? ", " : "") << Literal(v);
      }
      out << ");\n";
      if (Report(OnExportProgress, wait.get(), static_cast<int>(std::min<int64_t>(recordNo * 100 / total, 100))))
        RaiseFor(Name(), "Terminated by User.");
    }
  }
  if (AfterExport) AfterExport(*this);
}

// ---- find first, next, prior, last (contract 13) ----------------------------------

bool TABSTable::Find(bool fromEnd, bool step, TABSGetRecordMode mode) {
  CheckBrowseMode();
  TABSLocalCursor& c = Cursor();
  const TABSLocalCursor::Position saved = c.SavePosition();
  if (step && !GetBookmark().empty()) c.RestorePosition({false, false, TABSRecordID::Read(GetBookmark().data())});
  // The Filter text is the cursor's filter for this search only.
  if (Filter().empty())
    c.ClearFilter();
  else
    c.SetFilter(Filter(), FilterCaseInsensitive, FilterPartial);
  bool found = false;
  TABSRecordID id;
  try {
    if (fromEnd) mode == grmNext ? c.SetToBegin() : c.SetToEnd();
    found = c.GetRecord(mode) == grrFound;
    id = c.recordID;
  } catch (...) {
    SetCursorFilter();
    c.RestorePosition(saved);
    throw;
  }
  SetCursorFilter();
  if (!found) {
    c.RestorePosition(saved);
    return false;
  }
  std::string bookmark(kRecordIDSize, '\0');
  id.Write(bookmark.data());
  GotoBookmark(bookmark);
  return true;
}

bool TABSTable::FindFirst() { return Find(true, false, grmNext); }
bool TABSTable::FindLast() { return Find(true, false, grmPrior); }
bool TABSTable::FindNext() { return Find(false, true, grmNext); }
bool TABSTable::FindPrior() { return Find(false, true, grmPrior); }
