// Table commands of zudadmin over TABSDiskDatabaseData.
//
//   create-table FILE TABLE "name TYPE[(size)] [NOT NULL], ..."
//                [--index NAME:FIELD[,FIELD...][:unique]]...
//   import FILE TABLE CSVFILE [--batch N]
//                               header row = field names; an empty value
//                               not quoted = NULL, "" = an empty value;
//                               dates dd/mm/yyyy or yyyy-mm-dd. The file is
//                               one transaction, or one per N records with
//                               --batch: a bad row stops with its line
//                               number, and only the records of the
//                               transactions committed before it stay
//   tables FILE                 name, table id, record count
//   schema FILE TABLE           the definitions: "field: ..." per field,
//                               "index: ..." per index
//   dump FILE TABLE             the definitions, then every record,
//                               tab-separated, NULL for a missing value
//   dump FILE TABLE --csv       only the header row and the records, as
//                               import reads them back: dump --csv of a
//                               table imported into an empty table of the
//                               same definitions gives the same text
//                               dump prints only values the file holds: a
//                               row with a value that cannot be read is
//                               left out and named on stderr, and a walk
//                               stopped by damage or a number of records
//                               read other than the table's count exits 1
//   check FILE                  the engine's check (disk/DatabaseCheck.h):
//                               its "problem: ..." and "note: ..." lines,
//                               "ok" when no problem, exit 1 on a problem
//   repair FILE                 the engine's repair (disk/DatabaseRepair.h):
//                               its report lines, exit 0 when the file was
//                               repaired (rows it could not copy are listed
//                               and the damaged bytes are kept in
//                               FILE.bak), 1 when it could not repair (the
//                               file is unchanged; the error on stderr)
#include "TableCommands.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>

#include "core/ZUDVariant.h"
#include "disk/DiskDatabaseData.h"
#include "disk/ZUDDiskEngine.h"

namespace {

bool IsByteStorage(TABSStorageType st) { return st == bftBytes || st == bftVarBytes; }

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(s);
  while (std::getline(in, part, sep)) parts.push_back(part);
  if (!s.empty() && s.back() == sep) parts.emplace_back();
  return parts;
}

bool gDurable = false;

// An open database with one connection for the command's life. It is a
// multi-user connection like any other, so the tool works beside a running
// program: it takes a slot, and the table locks keep its reads and writes
// apart from the program's.
struct Connection {
  TABSDiskDatabaseData data{"ZUDADMIN"};
  TABSSessionInfo session;
  Connection(const std::string& file, const TABSPassword& password) {
    session.multiUser = true;
    data.Open(file, password, true, false);
    data.Pages().SetDurableCommits(gDurable);
    data.Connect(session);
  }
  ~Connection() {
    try {
      data.Disconnect(session);
    } catch (const EABSException&) {
      // closing anyway
    }
  }
};

// RFC 4180 records: quoted fields may hold separators, quotes ("") and line
// breaks. Answers false at the end of the input; `line` is the line the
// record started on.
bool ReadCsvRecord(std::istream& in, std::vector<std::string>& fields, std::vector<bool>& quoted, int& line,
                   int& nextLine) {
  fields.clear();
  quoted.clear();
  line = nextLine;
  std::string field;
  bool inQuotes = false, wasQuoted = false, any = false;
  for (int ch; (ch = in.get()) != EOF;) {
    any = true;
    const char c = static_cast<char>(ch);
    if (inQuotes) {
      if (c == '"') {
        if (in.peek() == '"') {
          in.get();
          field += '"';
        } else {
          inQuotes = false;
        }
      } else {
        if (c == '\n') ++nextLine;
        field += c;
      }
      continue;
    }
    if (c == '"') {
      inQuotes = wasQuoted = true;
    } else if (c == ',') {
      fields.push_back(field);
      quoted.push_back(wasQuoted);
      field.clear();
      wasQuoted = false;
    } else if (c == '\n') {
      ++nextLine;
      break;
    } else if (c != '\r') {
      field += c;
    }
  }
  if (!any) return false;
  fields.push_back(field);
  quoted.push_back(wasQuoted);
  return true;
}

// A CSV field as the reader above takes it back: quoted when it holds a
// separator, a quote or a line break, and when it is empty (an empty field
// not quoted is a NULL).
std::string CsvQuote(const std::string& s) {
  if (!s.empty() && s.find_first_of(",\"\r\n") == std::string::npos) return s;
  std::string out = "\"";
  for (char c : s) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

// The value of field `n` as text; nullopt for NULL.
std::optional<std::string> FieldText(TABSDiskTableData& t, TABSSessionInfo& s, const char* record, int n) {
  const TABSFieldDef& f = *t.FieldDefs()[n];
  if (IsFieldNull(record, n)) return std::nullopt;
  if (f.IsBlob()) return t.ReadBlobBuffer(s, record, n);
  TABSVariant v;
  ReadFieldValue(t.FieldDefs(), record, n, v);
  if (v.IsNull()) return std::nullopt;
  // Byte strings have no text form: their stored bytes stand as they are,
  // as a BLOB's do, and import takes them back the same way.
  if (IsByteStorage(f.StorageType())) return std::string(v.Buffer(), static_cast<size_t>(v.ValueSize()));
  return v.AsString();
}

std::string TypeText(const TABSFieldDef& f) {
  std::string text = DataTypeName(f.DataType());
  const TABSStorageType st = f.StorageType();
  if (IsStringStorage(st) || st == bftBytes || st == bftVarBytes) {
    if (f.DataType() != aftGuid) text += "(" + std::to_string(f.Size()) + ")";
  }
  return text;
}

// The definitions of the table: "field: NAME TYPE[(size)] [NOT NULL]" per
// field, then "index: NAME (FIELD[ DESC], ...) [unique]" per index.
std::string SchemaText(TABSDiskTableData& t) {
  const TABSFieldDefs& fields = t.FieldDefs();
  std::ostringstream out;
  TABSConstraintDefs& constraints = t.ConstraintManager().ConstraintDefs();
  for (int n = 0; n < fields.Count(); ++n) {
    bool notNull = false;
    for (int k = 0; k < constraints.Count(); ++k)
      if (constraints[k]->Kind() == actNotNull && SameName(constraints[k]->SubjectSlot().name, fields[n]->Name()))
        notNull = true;
    out << "field: " << fields[n]->Name() << " " << TypeText(*fields[n]) << (notNull ? " NOT NULL" : "") << "\n";
  }
  const TABSIndexDefs& indexes = t.IndexManager().IndexDefs();
  for (int i = 0; i < indexes.Count(); ++i) {
    out << "index: " << indexes[i]->Name() << " (";
    for (int k = 0; k < indexes[i]->ColumnCount(); ++k)
      out << (k ? ", " : "") << indexes[i]->Column(k).fieldName << (indexes[i]->Column(k).descending ? " DESC" : "");
    out << ")" << (indexes[i]->unique || indexes[i]->primary ? " unique" : "") << "\n";
  }
  return out.str();
}

// Walks the table's records in physical order, as one read operation: the
// table's read lock keeps other processes' commits out meanwhile. Answers
// the table's own record count, read under the same lock.
template <typename Visit>
int64_t ForEachRecord(TABSDiskTableData& t, TABSSessionInfo& s, Visit visit) {
  TABSTableData::ReadScope read(t, s);
  const int64_t count = t.DiskRecords().RecordCount();
  t.IndexManager().ForEachRecord(s.sessionID, visit);
  return count;
}

// A count of the records read so far on stderr, rewritten in place, when
// stderr is a terminal; nothing otherwise (a pipe or a log gets the final
// line on stdout only).
class ImportProgress {
 public:
  ImportProgress() : shown_(isatty(STDERR_FILENO) == 1) {}
  void Show(int64_t records) {
    if (shown_ && records % 1000 == 0) std::cerr << "\r" << records << " records read" << std::flush;
  }
  void Done() {
    if (shown_) std::cerr << "\r\033[K" << std::flush;
  }

 private:
  bool shown_;
};

}  // namespace

void SetDurableCommits(bool durable) { gDurable = durable; }

int CreateTableCommand(const std::string& file, const TABSPassword& password, const std::vector<std::string>& args) {
  if (args.size() < 2) throw UsageText{"create-table needs TABLE and the column list"};
  const std::string table = args[0];
  TABSFieldDefs fields;
  TABSConstraintDefs constraints;
  for (const std::string& item : Split(args[1], ',')) {
    std::istringstream in(Trim(item));
    std::string name, type, rest;
    in >> name >> type;
    std::getline(in, rest);
    if (name.empty() || type.empty()) throw UsageText{"bad column: '" + Trim(item) + "'"};
    int32_t size = 0;
    if (const size_t open = type.find('('); open != std::string::npos) {
      const size_t close = type.find(')', open);
      if (close == std::string::npos) throw UsageText{"bad size in '" + type + "'"};
      try {
        size = std::stoi(type.substr(open + 1, close - open - 1));
      } catch (const std::exception&) {
        throw UsageText{"bad size in '" + type + "'"};
      }
      type = type.substr(0, open);
    }
    const std::string flags = Upper(Trim(rest));
    if (!flags.empty() && flags != "NOT NULL") throw UsageText{"unknown column option: '" + Trim(rest) + "'"};
    TABSFieldDef* f = fields.AddNew();
    f->SetName(name);
    f->SetDataType(DataTypeFromName(Upper(type)), size);
    if (!flags.empty()) constraints.AddNewNotNull()->SubjectSlot().name = name;
  }
  TABSIndexDefs indexes;
  for (size_t i = 2; i < args.size(); ++i) {
    if (args[i] != "--index" || i + 1 >= args.size()) throw UsageText{"unknown option: " + args[i]};
    const std::vector<std::string> parts = Split(args[++i], ':');
    if (parts.size() < 2 || parts.size() > 3 || (parts.size() == 3 && parts[2] != "unique"))
      throw UsageText{"--index takes NAME:FIELD[,FIELD...][:unique]"};
    TABSIndexDef* def = indexes.AddNew();
    def->SetName(parts[0]);
    const std::vector<std::string> columns = Split(parts[1], ',');
    def->FillColumns(columns, std::vector<std::string>(columns.size(), "ASC"),
                     std::vector<std::string>(columns.size(), "CASE"));
    def->unique = parts.size() == 3;
  }
  Connection c(file, password);
  c.data.CreateTable(c.session, table, fields, indexes, &constraints);
  return 0;
}

int ImportCommand(const std::string& file, const TABSPassword& password, const std::vector<std::string>& args) {
  // --batch N: a commit every N records; without it the whole file is one
  // transaction, so a file that fails half-way leaves the table as it was.
  int64_t batch = 0;
  std::vector<std::string> rest;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] != "--batch") {
      rest.push_back(args[i]);
      continue;
    }
    if (i + 1 >= args.size()) throw UsageText{"--batch needs a number of records"};
    try {
      size_t used = 0;
      batch = std::stoll(args[++i], &used);
      if (used != args[i].size() || batch < 1) throw std::invalid_argument("batch");
    } catch (const std::exception&) {
      throw UsageText{"--batch takes a number of records, 1 or more: '" + args[i] + "'"};
    }
  }
  if (rest.size() != 2) throw UsageText{"import needs TABLE and CSVFILE"};
  const std::vector<std::string>& names = rest;
  std::ifstream in(names[1], std::ios::binary);
  if (!in) {
    std::cerr << "zudadmin: cannot open " << names[1] << "\n";
    return 1;
  }
  Connection c(file, password);
  TABSDiskTableData& t = c.data.OpenTable(c.session, names[0]);
  std::vector<std::string> header, values;
  std::vector<bool> quoted;
  int line = 0, nextLine = 1;
  if (!ReadCsvRecord(in, header, quoted, line, nextLine)) return 0;
  std::vector<int> columns;
  for (const std::string& name : header) {
    const int n = t.FieldDefs().IndexOfName(Trim(name));
    if (n < 0) {
      std::cerr << "zudadmin: line 1: no field '" << Trim(name) << "' in table " << names[0] << "\n";
      return 1;
    }
    columns.push_back(n);
  }
  std::vector<char> record(static_cast<size_t>(t.FieldDefs().MemoryRecordSize()));
  // imported: committed; pending: inserted in the running transaction.
  int64_t imported = 0, pending = 0;
  ImportProgress progress;
  auto fail = [&](const std::string& message) {
    if (c.session.inTransaction) c.data.Rollback(c.session);
    progress.Done();
    std::cerr << "zudadmin: line " << line << ": " << message << "\n";
    std::cout << imported << " records imported\n";
    return 1;
  };
  while (ReadCsvRecord(in, values, quoted, line, nextLine)) {
    // A blank line; with one field it is a record whose value is NULL, as
    // dump --csv writes it.
    if (columns.size() > 1 && values.size() == 1 && values[0].empty() && !quoted[0]) continue;
    if (values.size() != columns.size())
      return fail(std::to_string(values.size()) + " values, the header names " + std::to_string(columns.size()) +
                  " fields");
    try {
      if (!c.session.inTransaction) c.data.StartTransaction(c.session);
      t.InitRecordForInsert(record.data());
      for (size_t i = 0; i < columns.size(); ++i) {
        const int n = columns[i];
        const TABSFieldDef& f = *t.FieldDefs()[n];
        std::string text = values[i];
        if (text.empty() && !quoted[i]) {
          if (f.IsBlob()) t.FreeFieldBlob(c.session, record.data(), n);
          SetFieldNull(record.data(), n, true);
          continue;
        }
        if (f.IsBlob()) {
          t.WriteBlobBuffer(c.session, record.data(), n, text.data(), static_cast<int64_t>(text.size()));
          continue;
        }
        if (IsByteStorage(f.StorageType())) {
          TABSVariant bytes;
          bytes.SetBuffer(text.data(), static_cast<int32_t>(text.size()), true, f.StorageType());
          WriteFieldValue(t.FieldDefs(), record.data(), n, bytes);
          continue;
        }
        // yyyy-mm-dd[ time] becomes dd/mm/yyyy[ time], the short date form.
        if (IsDateTimeStorage(f.StorageType()) && text.size() >= 10 && text[4] == '-' && text[7] == '-')
          text = text.substr(8, 2) + "/" + text.substr(5, 2) + "/" + text.substr(0, 4) + text.substr(10);
        TABSVariant v;
        v.SetAsString(text);
        WriteFieldValue(t.FieldDefs(), record.data(), n, v);
      }
      t.InsertRecord(c.session, record.data());
      if (++pending == batch) {
        c.data.Commit(c.session, false);
        imported += pending;
        pending = 0;
      }
    } catch (const EABSException& e) {
      return fail(e.what());
    }
    progress.Show(imported + pending);
  }
  try {
    if (c.session.inTransaction) c.data.Commit(c.session, false);
  } catch (const EABSException& e) {
    return fail(e.what());
  }
  imported += pending;
  progress.Done();
  std::cout << imported << " records imported\n";
  return 0;
}

int TablesCommand(const std::string& file, const TABSPassword& password, const std::vector<std::string>& args) {
  if (!args.empty()) throw UsageText{"unknown option: " + args[0]};
  Connection c(file, password);
  std::ostringstream out;
  out << "Name\tTableID\tRecords\n";
  for (const TABSTableListEntry& e : c.data.Tables(c.session)) {
    TABSDiskTableData& t = c.data.OpenTable(c.session, e.TableName);
    out << e.TableName << "\t" << e.TableID << "\t" << t.GetRecordCount(c.session) << "\n";
  }
  std::cout << out.str();
  return 0;
}

int SchemaCommand(const std::string& file, const TABSPassword& password, const std::vector<std::string>& args) {
  if (args.size() != 1) throw UsageText{"schema needs TABLE"};
  Connection c(file, password);
  std::cout << SchemaText(c.data.OpenTable(c.session, args[0]));
  return 0;
}

int DumpCommand(const std::string& file, const TABSPassword& password, const std::vector<std::string>& args) {
  if (args.empty() || args.size() > 2 || (args.size() == 2 && args[1] != "--csv"))
    throw UsageText{"dump needs TABLE [--csv]"};
  const bool csv = args.size() == 2;
  Connection c(file, password);
  TABSDiskTableData& t = c.data.OpenTable(c.session, args[0]);
  const TABSFieldDefs& fields = t.FieldDefs();
  std::ostringstream out;
  if (!csv) out << SchemaText(t);
  const std::string sep = csv ? "," : "\t";
  for (int n = 0; n < fields.Count(); ++n)
    out << (n ? sep : "") << (csv ? CsvQuote(fields[n]->Name()) : fields[n]->Name());
  out << "\n";
  // A value that cannot be read leaves its row out and is named on the
  // standard error stream; the rows that can be read are still printed. A
  // walk that stops at damage, or that reads another number of records
  // than the table counts (a record page that is no longer one), fails the
  // dump: its output is not the table.
  const std::string table = "table '" + args[0] + "': ";
  std::vector<std::string> faults;
  int64_t read = 0, counted = -1;
  try {
    counted = ForEachRecord(t, c.session, [&](const char* record, const TABSRecordID& id) {
      ++read;
      std::string line;
      for (int n = 0; n < fields.Count(); ++n) {
        std::optional<std::string> text;
        try {
          text = FieldText(t, c.session, record, n);
        } catch (const EABSException& e) {
          faults.push_back("record " + std::to_string(id.pageNo) + ":" + std::to_string(id.rowNo) + " field " +
                           fields[n]->Name() + ": " + e.what());
          return;
        }
        line += n ? sep : "";
        if (csv)
          line += text ? CsvQuote(*text) : "";
        else
          line += text ? *text : "NULL";
      }
      out << line << "\n";
    });
  } catch (const EABSException& e) {
    faults.push_back(table + e.what());
  }
  if (counted >= 0 && read != counted)
    faults.push_back(table + std::to_string(read) + " records read, the table counts " + std::to_string(counted));
  std::cout << out.str();
  if (faults.empty()) return 0;
  std::cout.flush();
  for (const std::string& fault : faults) std::cerr << "zudadmin: " << fault << "\n";
  return 1;
}

int CheckCommand(const std::string& file, const TABSPassword& password, const std::vector<std::string>& args) {
  if (!args.empty()) throw UsageText{"unknown option: " + args[0]};
  const TABSCheckReport report = CheckDatabase(file, password);
  std::ostringstream out;
  for (const std::string& line : report.Lines()) out << line << "\n";
  std::cout << out.str();
  return report.Ok() ? 0 : 1;
}

int RepairCommand(const std::string& file, const TABSPassword& password, const std::vector<std::string>& args) {
  if (!args.empty()) throw UsageText{"unknown option: " + args[0]};
  const TABSRepairReport report = RepairDatabase(file, password);
  std::ostringstream out;
  for (const std::string& line : report.Lines()) out << line << "\n";
  std::cout << out.str();
  return 0;
}
