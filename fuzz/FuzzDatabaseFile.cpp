// libFuzzer target: any bytes as a whole database file. The image is put in
// an in-memory file system (os/MemoryFile.h) and the engine works on it as
// the admin tool does: its check, a dump of every table (every record, every
// BLOB value, every index in its order) and one insert. Each must finish or
// raise an engine error (EABSException); a crash, a sanitizer report, an
// exception of another kind (a broken invariant of our own, std::bad_alloc),
// a hang or an allocation past libFuzzer's -malloc_limit_mb is a fault.
//
// Bounds: inputs past kMaxInput bytes are skipped, the file may not grow
// past kMaxFileSize (a write beyond is an EFBIG the engine reports), every
// lock wait is a single attempt (the process owns the file alone, so a wait
// could only be on itself) and the walks below stop after kMaxSteps.
//
// Every image runs twice: as given, and with the DataCRC of every page
// cleared, as a writer without plain-page CRCs leaves it, so that mutated
// data areas reach the readers behind the CRC and not only the CRC check.
//
// The seed: when the corpus folder given on the command line is empty, the
// target writes into it a small database made by the engine itself (page
// size 512; a table with a unique and a two-column index, memos, small and
// large BLOB values, deleted rows).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/ZUDVariant.h"
#include "disk/ZUDDiskEngine.h"
#include "os/MemoryFile.h"

namespace {

constexpr size_t kMaxInput = 64 * 1024;
constexpr int64_t kMaxFileSize = 8 << 20;
constexpr int kMaxSteps = 4096;
constexpr int kMaxTables = 8;
constexpr char kPath[] = "fuzz.zud";
constexpr TABSLockRetry kOneAttempt{1, 0};

// A connection of the engine to the in-memory file, as the tool opens one.
struct Connection {
  TABSDiskDatabaseData data;
  TABSSessionInfo session;
  explicit Connection(tiv::os::FileSystem& fs) : data("FUZZ", fs) {
    session.multiUser = true;
    data.Open(kPath, TABSPassword{}, true, false);
    data.SetLockWaits(kOneAttempt);
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

// Every record with every value, then every index in its order.
void Dump(Connection& c, const std::string& name) {
  TABSDiskTableData& t = c.data.OpenTable(c.session, name);
  const TABSFieldDefs& fields = t.FieldDefs();
  {
    TABSTableData::ReadScope read(t, c.session);
    int steps = 0;
    t.IndexManager().ForEachRecord(c.session.sessionID, [&](const char* record, const TABSRecordID&) {
      if (++steps > kMaxSteps) return;
      for (int n = 0; n < fields.Count(); ++n) {
        try {
          if (fields[n]->IsBlob()) {
            (void)t.ReadBlobBuffer(c.session, record, n);
          } else {
            TABSVariant v;
            ReadFieldValue(fields, record, n, v);
            if (!v.IsNull()) (void)v.AsString();
          }
        } catch (const EABSException&) {
          // the next value
        }
      }
    });
  }
  const TABSIndexDefs& indexes = t.IndexManager().IndexDefs();
  std::vector<char> record(static_cast<size_t>(fields.MemoryRecordSize()));
  for (int i = 0; i < indexes.Count(); ++i) {
    try {
      TABSTableData::ReadScope read(t, c.session);
      TABSIndex& index = t.IndexManager().IndexByID(indexes[i]->ObjectID());
      TABSGetRecordRequest q;
      q.mode = grmNext;
      q.indexID = indexes[i]->ObjectID();
      q.beforeFirst = true;
      q.destination = record.data();
      for (int steps = 0; steps < kMaxSteps; ++steps) {
        index.GetRecord(c.session.sessionID, q, nullptr);
        if (q.result != grrFound) break;
        q.beforeFirst = false;
      }
    } catch (const EABSException&) {
      // the next index
    }
  }
}

// One record with a value in every field it takes: small text and numbers,
// a BLOB value longer than a 512-byte page.
void InsertOne(Connection& c, const std::string& name) {
  TABSDiskTableData& t = c.data.OpenTable(c.session, name);
  const TABSFieldDefs& fields = t.FieldDefs();
  std::vector<char> record(static_cast<size_t>(fields.MemoryRecordSize()));
  t.InitRecordForInsert(record.data());
  const std::string blob(700, 'b');
  for (int n = 0; n < fields.Count(); ++n) {
    try {
      if (fields[n]->IsBlob()) {
        t.WriteBlobBuffer(c.session, record.data(), n, blob.data(), static_cast<int64_t>(blob.size()));
      } else {
        TABSVariant v;
        v.SetAsString("12");
        WriteFieldValue(fields, record.data(), n, v);
      }
    } catch (const EABSException&) {
      // the field stays as it is
    }
  }
  t.InsertRecord(c.session, record.data());
}

void Exercise(const std::string& image) {
  tiv::os::MemoryFileSystem fs(kMaxFileSize);
  if (!fs.SetContents(kPath, image)) return;
  TABSCheckOptions options;
  options.fileSystem = &fs;
  options.boundLockWaits = true;
  options.lockWaits = kOneAttempt;
  (void)CheckDatabase(kPath, TABSPassword{}, options);
  try {
    Connection c(fs);
    std::vector<TABSTableListEntry> tables = c.data.Tables(c.session);
    if (tables.size() > kMaxTables) tables.resize(kMaxTables);
    for (const TABSTableListEntry& e : tables) {
      try {
        Dump(c, e.TableName);
      } catch (const EABSException&) {
        // the next table
      }
    }
    if (!tables.empty()) InsertOne(c, tables.front().TableName);
  } catch (const EABSException&) {
    // an engine error is the right answer to a damaged file
  }
}

// The image with DataCRC 0 on every page: "no CRC" (file-format.md, Page
// CRC). Pages are found from the header's PageSize at the usual page area.
std::string WithoutPageCrcs(std::string image) {
  namespace td = tiv::disk;
  if (image.size() < static_cast<size_t>(td::kNewPageAreaOffset)) return image;
  auto* bytes = reinterpret_cast<uint8_t*>(image.data());
  const uint16_t pageSize = td::GetU16(bytes + td::kHdrPageSize);
  if (pageSize < td::kMinPageSize) return image;
  for (size_t at = static_cast<size_t>(td::kNewPageAreaOffset); at + td::kPageHeaderSize <= image.size();
       at += pageSize)
    td::PutU32(bytes + at + td::kPgDataCRC, 0);
  return image;
}

void AddField(TABSFieldDefs& fields, const char* name, TABSDataType type, int32_t size) {
  TABSFieldDef* f = fields.AddNew();
  f->SetName(name);
  f->SetDataType(type, size);
}

void AddIndex(TABSIndexDefs& indexes, const char* name, const std::vector<std::string>& columns, bool unique) {
  TABSIndexDef* def = indexes.AddNew();
  def->SetName(name);
  def->unique = unique;
  def->FillColumns(columns, std::vector<std::string>(columns.size(), "ASC"),
                   std::vector<std::string>(columns.size(), "CASE"));
}

// The seed database (see the top of this file), as a file image.
std::string SeedImage() {
  tiv::os::MemoryFileSystem fs;
  {
    TABSDiskDatabase db(fs);
    db.CreateDatabase(kPath, TABSPassword{}, 4, 4, 512);
  }
  Connection c(fs);
  TABSFieldDefs fields;
  AddField(fields, "id", aftInteger, 0);
  AddField(fields, "nombre", aftString, 20);
  AddField(fields, "alta", aftDate, 0);
  AddField(fields, "nota", aftMemo, 0);
  AddField(fields, "datos", aftBlob, 0);
  TABSIndexDefs indexes;
  AddIndex(indexes, "pk", {"id"}, true);
  AddIndex(indexes, "by_nombre", {"nombre", "id"}, false);
  TABSDiskTableData& t = c.data.CreateTable(c.session, "personas", fields, indexes);
  std::vector<char> record(static_cast<size_t>(t.FieldDefs().MemoryRecordSize()));
  std::vector<TABSRecordID> ids;
  for (int32_t i = 0; i < 12; ++i) {
    t.InitRecordForInsert(record.data());
    TABSVariant id, nombre, alta;
    id.SetAsInteger(i);
    WriteFieldValue(t.FieldDefs(), record.data(), 0, id);
    nombre.SetAsString("nombre " + std::to_string(i * 7 % 5));
    WriteFieldValue(t.FieldDefs(), record.data(), 1, nombre);
    alta.SetAsDate(738000 + i);
    WriteFieldValue(t.FieldDefs(), record.data(), 2, alta);
    if (i % 3 != 0) {
      const std::string memo = "nota " + std::to_string(i);
      t.WriteBlobBuffer(c.session, record.data(), 3, memo.data(), static_cast<int64_t>(memo.size()));
    }
    const std::string blob(i % 4 == 0 ? 1200 : 40 + i, static_cast<char>('a' + i));
    t.WriteBlobBuffer(c.session, record.data(), 4, blob.data(), static_cast<int64_t>(blob.size()));
    ids.push_back(t.InsertRecord(c.session, record.data()));
  }
  t.DeleteRecord(c.session, ids[3]);
  t.DeleteRecord(c.session, ids[8]);
  return fs.Contents(kPath);
}

}  // namespace

// Writes the seed into every corpus folder named on the command line that
// is empty.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  for (int i = 1; i < *argc; ++i) {
    const std::filesystem::path folder((*argv)[i]);
    std::error_code ec;
    if ((*argv)[i][0] == '-' || !std::filesystem::is_directory(folder, ec) || !std::filesystem::is_empty(folder, ec))
      continue;
    const std::string seed = SeedImage();
    std::ofstream(folder / "seed.zud", std::ios::binary).write(seed.data(), static_cast<std::streamsize>(seed.size()));
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInput) return 0;
  const std::string image(reinterpret_cast<const char*>(data), size);
  Exercise(image);
  Exercise(WithoutPageCrcs(image));
  return 0;
}
