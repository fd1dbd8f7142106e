// Hostile and damaged files at open: where the database starts when the
// signature's bytes also occur elsewhere, an open for writing that must not
// write, and a direct internal file whose chain ends before its size.
#include <algorithm>
#include <cstring>

#include "DiskTestUtil.h"
#include "core/ZUDRecordLayout.h"
#include "core/ZUDVariant.h"
#include "disk/DiskDatabaseData.h"
#include "os/FaultFile.h"

using namespace tiv::disk;

namespace {

constexpr const char* kTable = "notas";
// The signature followed by 'L' (76, the HeaderSize): what a stored string
// holds when it imitates the start of a database.
const std::string kSignatureText = std::string(kSignature, kSignatureSize) + "L";

void PutLe32(Bytes& b, size_t at, int32_t v) {
  for (int i = 0; i < 4; ++i)
    b.at(at + static_cast<size_t>(i)) = static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i));
}

size_t PageAt(int32_t pageNo) { return static_cast<size_t>(kNewPageAreaOffset) + static_cast<size_t>(pageNo) * 4096; }

// Offsets of every occurrence of `text` in `b`.
std::vector<size_t> Find(const Bytes& b, const std::string& text) {
  std::vector<size_t> at;
  for (auto it = b.begin(); (it = std::search(it, b.end(), text.begin(), text.end())) != b.end(); ++it)
    at.push_back(static_cast<size_t>(it - b.begin()));
  return at;
}

// A database with one table whose first record's text is `text`.
void CreateWithRecord(const std::string& path, const std::string& text, int32_t maxConnections = 8) {
  TABSDiskDatabase().CreateDatabase(path, TABSPassword{}, maxConnections);
  TABSDiskDatabaseData data("MAKE");
  TABSSessionInfo session;
  data.Open(path, TABSPassword{}, false, false);
  data.Connect(session);
  TABSFieldDefs fields;
  TABSFieldDef* f = fields.AddNew();
  f->SetName("texto");
  f->SetDataType(aftString, 40);
  TABSDiskTableData& t = data.CreateTable(session, kTable, fields, TABSIndexDefs());
  std::vector<char> record(static_cast<size_t>(t.FieldDefs().MemoryRecordSize()));
  t.InitRecordForInsert(record.data());
  TABSVariant v;
  v.SetAsString(text);
  WriteFieldValue(t.FieldDefs(), record.data(), 0, v);
  t.InsertRecord(session, record.data());
  data.Disconnect(session);
}

// The text of the table's first record, read through a cursor.
std::string FirstText(const std::string& path, tiv::os::FileSystem& fs = tiv::os::FileSystem::Default(),
                      bool multiUser = false) {
  TABSDiskDatabaseData data("READ", fs);
  TABSSessionInfo session;
  session.multiUser = multiUser;
  data.Open(path, TABSPassword{}, multiUser, false);
  data.Connect(session);
  TABSDiskTableData& t = data.OpenTable(session, kTable);
  TABSTableCursor cursor;
  t.PrepareCursor(cursor);
  std::string text = "(none)";
  if (t.FetchRecord(session, cursor, grmNext) == grrFound) {
    TABSVariant v;
    ReadFieldValue(t.FieldDefs(), cursor.Record(), 0, v);
    text = v.AsString();
  }
  data.Disconnect(session);
  return text;
}

class HostileHeaderTest : public ::testing::Test {
 protected:
  ScratchDir dir;
  std::string path = dir.File("db.zud");
  std::string plain = dir.File("plain.zud");
};

// The start is a whole header with sane fields, found before anything else
// that merely repeats the signature: a program that carries the signature
// as a constant before the database, or a record that stores it.
TEST_F(HostileHeaderTest, OnlyASaneWholeHeaderIsTheDatabaseStart) {
  CreateWithRecord(plain, kSignatureText);
  const Bytes db = ReadAll(plain);
  const std::vector<size_t> hits = Find(db, kSignatureText);
  ASSERT_EQ(hits.size(), 2u);  // the header and the record
  ASSERT_EQ(hits[0], 0u);
  ASSERT_GT(hits[1], static_cast<size_t>(kNewPageAreaOffset));

  Bytes header76(db.begin(), db.begin() + kHeaderSize);
  struct Case {
    const char* name;
    Bytes prefix;       // the other data before the database
    bool damageHeader;  // the real header's signature broken
    int64_t start;      // expected start, -1: no database found
  } cases[] = {
      {"plain other data", Bytes(100, 0xAB), false, 100},
      {"other data holding the signature and 76",
       [&] {
         Bytes p(100, 0);
         std::copy(kSignatureText.begin(), kSignatureText.end(), p.begin() + 10);
         return p;
       }(),
       false, 100},
      {"other data holding a header with page size 0",
       [&] {
         Bytes p(100, 0);
         std::copy(header76.begin(), header76.end(), p.begin() + 4);
         p[4 + kHdrPageSize] = p[4 + kHdrPageSize + 1] = 0;
         return p;
       }(),
       false, 100},
      {"other data holding a header but no check block",
       [&] {
         Bytes p(100, 0x11);
         std::copy(header76.begin(), header76.end(), p.begin() + 2);
         return p;
       }(),
       false, 100},
      {"the real header damaged: the record is no start", Bytes(100, 0xAB), true, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes file = c.prefix;
    file.insert(file.end(), db.begin(), db.end());
    if (c.damageHeader) file[c.prefix.size()] = 'X';
    WriteAll(path, file);
    TABSDiskPageManager pm;
    if (c.start < 0) {
      ExpectEngineError([&] { OpenDb(pm, path); }, 10470, "Invalid file format");
      EXPECT_FALSE(pm.IsOpened());
      EXPECT_EQ(ReadAll(path), file);
      continue;
    }
    OpenDb(pm, path);
    EXPECT_EQ(pm.DatabaseStart(), c.start);
    pm.CloseDatabaseFile();
    EXPECT_EQ(FirstText(path), kSignatureText);
  }
}

// Opening for writing decides writability from the open itself: no byte of
// the file is written (byte 0 of a prefixed file belongs to the other
// data), so a database opened and closed without a change is unchanged,
// and an open does not turn read-only because a write would fail.
TEST_F(HostileHeaderTest, OpeningForWritingAndClosingWritesNothing) {
  CreateWithRecord(plain, "hola");
  const Bytes db = ReadAll(plain);
  for (size_t prefix : {size_t{0}, size_t{100}}) {
    for (bool multiUser : {false, true}) {
      SCOPED_TRACE(testing::Message() << "prefix " << prefix << (multiUser ? " multi-user" : " single-user"));
      Bytes file(prefix, 0x5A);
      file.insert(file.end(), db.begin(), db.end());
      WriteAll(path, file);
      tiv::os::FaultFileSystem fs;
      {
        TABSDiskPageManager pm(fs);
        OpenResult r = OpenDb(pm, path, multiUser);
        EXPECT_FALSE(r.readOnly);
        EXPECT_EQ(pm.DatabaseStart(), static_cast<int64_t>(prefix));
      }
      EXPECT_EQ(FirstText(path, fs, multiUser), "hola");
      EXPECT_EQ(fs.WriteCount(), 0);
      EXPECT_EQ(ReadAll(path), file);
    }
  }
}

// A direct file (sessions, table locks) has a size fixed at creation; a
// chain that ends before that size is damage and is named as such, never
// taken for a smaller file (fewer connection slots, fewer lock bytes).
TEST_F(HostileHeaderTest, ADirectFileWhoseChainEndsEarlyIsDamage) {
  // 3000 slots: a sessions file of 3000 bytes (1 page) and table locks files
  // of 36000 bytes (9 pages); 12000 slots: a sessions file of 3 pages.
  struct Case {
    const char* name;
    int32_t maxConnections;
    bool locksFile;
    std::string part;
  } cases[] = {
      {"active sessions file", 12000, false, "type 5"},
      {"table locks file", 3000, true, "type 7"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CreateWithRecord(path, "x", c.maxConnections);
    std::vector<int32_t> chain;
    {
      TABSDiskDatabaseData data("LOOK");
      TABSSessionInfo session;
      data.Open(path, TABSPassword{}, false, false);
      data.Connect(session);
      chain =
          c.locksFile ? data.OpenTable(session, kTable).LocksFile().PageList() : data.Disk().SessionsFile().PageList();
      data.Disconnect(session);
    }
    ASSERT_GE(chain.size(), 3u);
    Bytes file = ReadAll(path);
    PutLe32(file, PageAt(chain[1]) + kPgNextPageNo, -1);  // the chain ends after its second page
    WriteAll(path, file);
    TABSDiskDatabaseData data("OPEN");
    TABSSessionInfo session;
    if (!c.locksFile) {
      ExpectEngineError([&] { data.Open(path, TABSPassword{}, false, false); }, 20299,
                        "Page No: " + std::to_string(chain[0]) + ", " + c.part);
    } else {
      data.Open(path, TABSPassword{}, false, false);
      data.Connect(session);
      ExpectEngineError([&] { data.OpenTable(session, kTable); }, 20299,
                        "Page No: " + std::to_string(chain[0]) + ", " + c.part);
      // The failure leaves the connection usable: the next call works.
      EXPECT_EQ(data.Tables(session).size(), 1u);
      data.Disconnect(session);
    }
    EXPECT_EQ(ReadAll(path), file);
  }
}

}  // namespace
