// Table commands of zudadmin over TABSDiskDatabaseData.
//
//   create-table FILE TABLE "name TYPE[(size)] [NOT NULL], ..."
//                [--index NAME:FIELD[,FIELD...][:unique]]...
//   import FILE TABLE CSVFILE   header row = field names; empty value = NULL;
//                               dates dd/mm/yyyy or yyyy-mm-dd; a bad row
//                               stops with its line number, earlier rows stay
//   tables FILE                 name, table id, record count
//   dump FILE TABLE [--csv]     definitions, then every record
//   check FILE                  one "problem: ..." line per fault, else "ok";
//                               the free-space map is held against the
//                               pages in use both ways (CheckPages.h);
//                               "note: ..." lines say what could not be
//                               judged beside other connections
#include "TableCommands.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <deque>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>

#include "CheckPages.h"
#include "core/ABSBTreeTableIndex.h"
#include "core/ZUDVariant.h"
#include "disk/DiskDatabaseData.h"
#include "disk/DiskFormat.h"
#include "disk/ZUDDiskEngine.h"

namespace {

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

std::string CsvQuote(const std::string& s) {
  if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
  std::string out = "\"";
  for (char c : s) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

std::string FieldText(TABSDiskTableData& t, TABSSessionInfo& s, const char* record, int n) {
  const TABSFieldDef& f = *t.FieldDefs()[n];
  if (IsFieldNull(record, n)) return "NULL";
  if (f.IsBlob()) return t.ReadBlobBuffer(s, record, n);
  TABSVariant v;
  ReadFieldValue(t.FieldDefs(), record, n, v);
  if (v.IsNull()) return "NULL";
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

// Walks the table's records in physical order, as one read operation: the
// table's read lock keeps other processes' commits out meanwhile.
template <typename Visit>
void ForEachRecord(TABSDiskTableData& t, TABSSessionInfo& s, Visit visit) {
  TABSTableData::ReadScope read(t, s);
  t.IndexManager().ForEachRecord(s.sessionID, visit);
}

}  // namespace

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
  if (args.size() != 2) throw UsageText{"import needs TABLE and CSVFILE"};
  std::ifstream in(args[1], std::ios::binary);
  if (!in) {
    std::cerr << "zudadmin: cannot open " << args[1] << "\n";
    return 1;
  }
  Connection c(file, password);
  TABSDiskTableData& t = c.data.OpenTable(c.session, args[0]);
  std::vector<std::string> header, values;
  std::vector<bool> quoted;
  int line = 0, nextLine = 1;
  if (!ReadCsvRecord(in, header, quoted, line, nextLine)) return 0;
  std::vector<int> columns;
  for (const std::string& name : header) {
    const int n = t.FieldDefs().IndexOfName(Trim(name));
    if (n < 0) {
      std::cerr << "zudadmin: line 1: no field '" << Trim(name) << "' in table " << args[0] << "\n";
      return 1;
    }
    columns.push_back(n);
  }
  std::vector<char> record(static_cast<size_t>(t.FieldDefs().MemoryRecordSize()));
  int64_t imported = 0;
  while (ReadCsvRecord(in, values, quoted, line, nextLine)) {
    if (values.size() == 1 && values[0].empty() && !quoted[0]) continue;  // blank line
    if (values.size() != columns.size()) {
      std::cerr << "zudadmin: line " << line << ": " << values.size() << " values, the header names " << columns.size()
                << " fields\n";
      std::cout << imported << " records imported\n";
      return 1;
    }
    try {
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
        // yyyy-mm-dd[ time] becomes dd/mm/yyyy[ time], the short date form.
        if (IsDateTimeStorage(f.StorageType()) && text.size() >= 10 && text[4] == '-' && text[7] == '-')
          text = text.substr(8, 2) + "/" + text.substr(5, 2) + "/" + text.substr(0, 4) + text.substr(10);
        TABSVariant v;
        v.SetAsString(text);
        WriteFieldValue(t.FieldDefs(), record.data(), n, v);
      }
      t.InsertRecord(c.session, record.data());
      ++imported;
    } catch (const EABSException& e) {
      std::cerr << "zudadmin: line " << line << ": " << e.what() << "\n";
      std::cout << imported << " records imported\n";
      return 1;
    }
  }
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

int DumpCommand(const std::string& file, const TABSPassword& password, const std::vector<std::string>& args) {
  if (args.empty() || args.size() > 2 || (args.size() == 2 && args[1] != "--csv"))
    throw UsageText{"dump needs TABLE [--csv]"};
  const bool csv = args.size() == 2;
  Connection c(file, password);
  TABSDiskTableData& t = c.data.OpenTable(c.session, args[0]);
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
  const char sep = csv ? ',' : '\t';
  for (int n = 0; n < fields.Count(); ++n) out << (n ? std::string(1, sep) : "") << fields[n]->Name();
  out << "\n";
  ForEachRecord(t, c.session, [&](const char* record, const TABSRecordID&) {
    for (int n = 0; n < fields.Count(); ++n) {
      const std::string text = FieldText(t, c.session, record, n);
      out << (n ? std::string(1, sep) : "") << (csv ? CsvQuote(text) : text);
    }
    out << "\n";
  });
  std::cout << out.str();
  return 0;
}

namespace {

// A table of the check, opened and held still for its whole run by its
// read lock, or the reason it could not be.
struct HeldTable {
  std::string name;
  TABSDiskTableData* table = nullptr;
  std::optional<TABSTableData::ReadScope> read;
  std::string problem;
};

// The checks of one table; every fault becomes a line of `problems`. The
// walks claim the pages they reach in `use` (CheckPages.h).
void CheckTable(TABSDiskDatabaseData& data, HeldTable& held, TABSSessionInfo& s, std::vector<std::string>& problems,
                TABSPageUse& use) {
  const std::string table = "table '" + held.name + "'";
  const std::string where = table + ": ";
  if (!held.read) {
    problems.push_back(where + held.problem);
    use.WalkFailed(table);
    return;
  }
  TABSDiskTableData& t = *held.table;
  CollectTablePages(t, s, table, use);
  TABSDiskRecordManager& records = t.DiskRecords();
  // Record pages: every indexed page is a valid record page of the table
  // whose count matches the index.
  int64_t counted = 0;
  try {
    for (const auto& [pageNo, count] : records.IndexedPages(s.sessionID)) {
      counted += count;
      use.Claim(pageNo, RecordPagesOwner(table), tiv::disk::ptTableRecord);
      // The records of a page that is not the table's are not read, nor
      // are the BLOB values they refer to.
      TABSPage* page = nullptr;
      try {
        page = data.Pages().GetPage(s.sessionID, pageNo, true, tiv::disk::ptTableRecord);
      } catch (const EABSException& x) {
        problems.push_back(where + "record page " + std::to_string(pageNo) + ": " + x.what());
        use.WalkFailed(table + " record page " + std::to_string(pageNo));
        continue;
      }
      const bool own = page->OwnerTableID() == t.TableID();
      data.Pages().PutPage(page);
      if (!own) {
        problems.push_back(where + "record page " + std::to_string(pageNo) + " belongs to another table");
        use.WalkFailed(table + " record page " + std::to_string(pageNo));
      }
    }
  } catch (const EABSException& x) {
    problems.push_back(where + "record page index: " + x.what());
    use.WalkFailed(table + " record page index");
  }
  if (counted != records.RecordCount())
    problems.push_back(where + "record page index counts " + std::to_string(counted) + " records, the table " +
                       std::to_string(records.RecordCount()));
  try {
    records.PageIndex().Tree().CheckIntegrity(s.sessionID);
    if (t.BlobSpace()) t.BlobSpace()->Index().Tree().CheckIntegrity(s.sessionID);
  } catch (const EABSException& x) {
    problems.push_back(where + "page index: " + x.what());
  }
  // Every record readable, with its BLOBs.
  int64_t seen = 0;
  std::vector<std::pair<std::vector<char>, TABSRecordID>> all;
  try {
    ForEachRecord(t, s, [&](const char* record, const TABSRecordID& id) {
      ++seen;
      ClaimRecordBlobs(t, s, record, id, table, use);
      for (int n = 0; n < t.FieldDefs().Count(); ++n) {
        if (!t.FieldDefs()[n]->IsBlob() || IsFieldNull(record, n)) continue;
        try {
          t.ReadBlobBuffer(s, record, n);
        } catch (const EABSException& x) {
          problems.push_back(where + "record " + std::to_string(id.pageNo) + ":" + std::to_string(id.rowNo) +
                             " field " + t.FieldDefs()[n]->Name() + ": " + x.what());
        }
      }
      all.emplace_back(std::vector<char>(record, record + t.FieldDefs().MemoryRecordSize()), id);
    });
  } catch (const EABSException& x) {
    problems.push_back(where + "records: " + x.what());
    use.WalkFailed(table + " records");
  }
  if (seen != records.RecordCount()) {
    problems.push_back(where + std::to_string(seen) + " records read, the table counts " +
                       std::to_string(records.RecordCount()));
    use.WalkFailed(table + " records");
  }
  // Indexes: order, entry count, every record found by its key.
  const TABSIndexDefs& defs = t.IndexManager().IndexDefs();
  for (int i = 0; i < defs.Count(); ++i) {
    const std::string iw = where + "index '" + defs[i]->Name() + "': ";
    try {
      TABSIndex& index = t.IndexManager().IndexByID(defs[i]->ObjectID());
      std::vector<uint8_t> raw(data.Pages().PageSize());
      const int32_t root = defs[i]->rootPageNo;
      if (!data.Pages().ReadPage(root, raw.data()) ||
          tiv::disk::GetU16(raw.data() + tiv::disk::kPgType) != tiv::disk::ptTableIndex)
        problems.push_back(iw + "root page " + std::to_string(root) + " is not an index page");
      static_cast<TABSBTreeTableIndex&>(index).Tree().CheckIntegrity(s.sessionID);
      std::vector<char> record(static_cast<size_t>(t.FieldDefs().MemoryRecordSize())), prior(record.size());
      TABSGetRecordRequest q;
      q.mode = grmNext;
      q.indexID = defs[i]->ObjectID();
      q.beforeFirst = true;
      q.destination = record.data();
      int64_t entries = 0;
      bool ordered = true;
      for (;;) {
        index.GetRecord(s.sessionID, q, nullptr);
        if (q.result != grrFound) break;
        if (entries > 0 && index.CompareRecordKeys(prior.data(), record.data(), 0) > 0) ordered = false;
        prior = record;
        q.beforeFirst = false;
        if (++entries > records.RecordCount() + 1) break;
      }
      if (!ordered) problems.push_back(iw + "entries out of order");
      if (entries != records.RecordCount())
        problems.push_back(iw + std::to_string(entries) + " entries, the table counts " +
                           std::to_string(records.RecordCount()));
      int64_t missing = 0;
      for (const auto& [bytes, id] : all) {
        TABSKeyPath path;
        if (!index.FindKeyPath(s.sessionID, bytes.data(), id, path)) ++missing;
      }
      if (missing) problems.push_back(iw + std::to_string(missing) + " records not found by their key");
    } catch (const EABSException& x) {
      problems.push_back(iw + x.what());
    }
  }
}

}  // namespace

int CheckCommand(const std::string& file, const TABSPassword& password, const std::vector<std::string>& args) {
  if (!args.empty()) throw UsageText{"unknown option: " + args[0]};
  std::vector<std::string> problems, notes;
  try {
    Connection c(file, password);
    TABSDiskPageManager& pm = c.data.Pages();
    std::vector<TABSTableListEntry> tables;
    bool listRead = true;
    try {
      tables = c.data.Tables(c.session);
    } catch (const EABSException& x) {
      problems.push_back(std::string("table list: ") + x.what());
      listRead = false;
    }
    // Every table held still for the whole check: its read lock keeps out
    // other connections' record changes, empty, drop, rename and index
    // changes, and the database tables lock the creation of tables, so
    // what the pages say does not move under the walks. Every table is
    // opened first: opening takes the tables lock itself, and a byte lock
    // does not nest. A table that cannot be held is reported by its check.
    std::deque<HeldTable> held;
    for (const TABSTableListEntry& e : tables) {
      HeldTable& h = held.emplace_back();
      h.name = e.TableName;
      try {
        h.table = &c.data.OpenTable(c.session, e.TableName);
      } catch (const EABSException& x) {
        h.problem = std::string("metadata: ") + x.what();
        continue;
      }
      try {
        h.read.emplace(*h.table, c.session);
      } catch (const EABSException& x) {
        h.problem = x.what();
      }
    }
    std::optional<TABSDatabaseTablesLock> noNewTables;
    try {
      noNewTables.emplace(pm);
    } catch (const EABSException& x) {
      problems.push_back(std::string("database: ") + x.what());
    }
    // Every page in use: its signature, CRC and header as the page reader
    // checks them. Judged after the walks (CheckPages.h contract 5).
    std::vector<std::pair<int32_t, std::string>> pageFaults;
    const int32_t total = pm.GetPageCount();
    std::vector<uint8_t> raw(pm.PageSize());
    for (int32_t n = 0; n < total; ++n) {
      if (!pm.FreeSpaceManager().IsPageUsed(n)) continue;
      if (!pm.ReadPage(n, raw.data())) {
        pageFaults.emplace_back(n, "unreadable");
        continue;
      }
      if (std::memcmp(raw.data() + tiv::disk::kPgSignature, tiv::disk::kPageSignature, 4) != 0) {
        pageFaults.emplace_back(n, "no page signature");
        continue;
      }
      // The free-space map's own pages are read by the map itself.
      const uint16_t type = tiv::disk::GetU16(raw.data() + tiv::disk::kPgType);
      if (type == tiv::disk::ptPFS || type == tiv::disk::ptEAM) continue;
      try {
        TABSPage* page = pm.GetPage(c.session.sessionID, n, true, tiv::disk::ptAny);
        pm.PutPage(page);
      } catch (const EABSException& x) {
        pageFaults.emplace_back(n, x.what());
      }
    }
    // The free-space map against the pages the structures reach.
    TABSPageUse use(total);
    CollectSystemPages(c.data, c.session, use);
    if (!listRead) use.WalkFailed("table list");
    for (HeldTable& h : held) CheckTable(c.data, h, c.session, problems, use);
    const int32_t others = c.data.OtherConnections(c.session);
    use.Compare(pm, others, problems, notes);
    std::vector<std::string> pageProblems;
    for (const auto& [n, what] : pageFaults)
      if (others == 0 || use.Claimed(n)) pageProblems.push_back("page " + std::to_string(n) + ": " + what);
    problems.insert(problems.begin(), pageProblems.begin(), pageProblems.end());
    noNewTables.reset();
    held.clear();
    // A check never writes: what its reads left in the session goes.
    c.data.Pages().RollbackSession(c.session.sessionID);
  } catch (const EABSException& x) {
    problems.push_back(std::string("database: ") + x.what());
  }
  for (const std::string& p : problems) std::cout << "problem: " << p << "\n";
  for (const std::string& n : notes) std::cout << "note: " << n << "\n";
  if (problems.empty()) std::cout << "ok\n";
  return problems.empty() ? 0 : 1;
}
