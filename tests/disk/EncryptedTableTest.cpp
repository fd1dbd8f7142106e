// Encrypted databases with tables: every algorithm round-trips records,
// indexes and BLOBs across a reopen; a wrong password (even one differing
// only in case) is refused at open; stored texts never reach the file in
// clear; the sessions and table locks files stay plain.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>

#include "DiskTestUtil.h"
#include "core/ZUDRecordLayout.h"
#include "core/ZUDVariant.h"
#include "disk/DiskBytes.h"
#include "disk/DiskCrc.h"
#include "disk/DiskDatabase.h"
#include "disk/DiskDatabaseData.h"
#include "support/FieldList.h"

namespace {

const std::string kRecordMarker = "MARCA-SECRETA-7319";
const std::string kBlobMarker = "BLOB-SECRETO-4402";
const std::string kMemoMarker = "MEMO-OCULTO-5581";
constexpr int kRecords = 120;
constexpr int kKey = 0, kText = 1, kBlob = 2, kMemo = 3;

struct Row {
  std::string text, blob, memo;
  bool operator==(const Row&) const = default;
};

// Record k: the marker in one record's text, the BLOB marker inside every
// BLOB, and every seventh BLOB spanning several pages.
Row ExpectedRow(int k) {
  Row r;
  r.text = k == 42 ? kRecordMarker : "fila " + std::to_string(k);
  const size_t size = k % 7 == 0 ? 9000 : 40 + k;
  r.blob = kBlobMarker + std::string(size, static_cast<char>('a' + k % 26)) + kBlobMarker;
  r.memo = kMemoMarker + " " + std::to_string(k);
  return r;
}

void Define(TABSFieldDefs& fields, TABSIndexDefs& indexes) {
  AddFields(fields, {{"k", aftInteger}, {"s", aftString, 40}, {"b", aftBlob}, {"m", aftMemo}});
  TABSIndexDef* byK = indexes.AddNew();
  byK->SetName("by_k");
  byK->unique = true;
  byK->FillColumns({"k"}, {"ASC"}, {"CASE"});
  TABSIndexDef* byS = indexes.AddNew();
  byS->SetName("by_s");
  byS->FillColumns({"s"}, {"DESC"}, {"NO_CASE"});
}

struct Connection {
  TABSDiskDatabaseData data{"CRYPT"};
  TABSSessionInfo session;
  Connection(const std::string& path, const TABSPassword& password) {
    data.Open(path, password, false, false);
    data.Connect(session);
  }
  ~Connection() { data.Disconnect(session); }
};

void CreateAndFill(const std::string& path, const TABSPassword& password) {
  TABSDiskDatabase().CreateDatabase(path, password);
  Connection c(path, password);
  TABSFieldDefs fields;
  TABSIndexDefs indexes;
  Define(fields, indexes);
  TABSDiskTableData& t = c.data.CreateTable(c.session, "secretos", fields, indexes);
  std::vector<char> r(static_cast<size_t>(t.FieldDefs().MemoryRecordSize()));
  for (int k = 0; k < kRecords; ++k) {
    const Row row = ExpectedRow(k);
    t.InitRecordForInsert(r.data());
    TABSVariant key, text;
    key.SetAsInteger(k);
    WriteFieldValue(t.FieldDefs(), r.data(), kKey, key);
    text.SetAsString(row.text);
    WriteFieldValue(t.FieldDefs(), r.data(), kText, text);
    t.WriteBlobBuffer(c.session, r.data(), kBlob, row.blob.data(), static_cast<int64_t>(row.blob.size()));
    t.WriteBlobBuffer(c.session, r.data(), kMemo, row.memo.data(), static_cast<int64_t>(row.memo.size()));
    t.InsertRecord(c.session, r.data());
  }
}

// Every record through index `indexName`, in that index's order.
std::vector<std::pair<int, Row>> ReadThrough(Connection& c, const std::string& indexName) {
  TABSDiskTableData& t = c.data.OpenTable(c.session, "secretos");
  std::vector<char> r(static_cast<size_t>(t.FieldDefs().MemoryRecordSize()));
  std::vector<std::pair<int, Row>> rows;
  TABSGetRecordRequest q;
  q.mode = grmNext;
  q.indexID = t.IndexManager().IndexDefs().IndexByName(indexName)->ObjectID();
  q.beforeFirst = true;
  q.destination = r.data();
  for (;;) {
    t.IndexManager().GetRecord(c.session.sessionID, q, nullptr);
    if (q.result != grrFound) break;
    q.beforeFirst = false;
    TABSVariant key, text;
    ReadFieldValue(t.FieldDefs(), r.data(), kKey, key);
    ReadFieldValue(t.FieldDefs(), r.data(), kText, text);
    rows.emplace_back(key.AsInteger(), Row{text.AsString(), t.ReadBlobBuffer(c.session, r.data(), kBlob),
                                           t.ReadBlobBuffer(c.session, r.data(), kMemo)});
  }
  return rows;
}

std::string Upper(std::string s) {
  for (char& ch : s) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  return s;
}

bool Contains(const Bytes& file, const std::string& text) {
  return std::search(file.begin(), file.end(), text.begin(), text.end()) != file.end();
}

// The pages of the file by type: how many are plain (the raw data area
// matches DataCRC, or is mostly zero bytes) and how many are enciphered
// (neither, with the database's algorithm in the page header).
struct PageCensus {
  std::map<uint16_t, int> enciphered, plain;
};

PageCensus Census(const Bytes& file, uint8_t algorithm) {
  using namespace tiv::disk;
  PageCensus census;
  const size_t ps = kDefaultPageSize;
  for (size_t off = static_cast<size_t>(kNewPageAreaOffset); off + ps <= file.size(); off += ps) {
    const uint8_t* page = file.data() + off;
    if (std::memcmp(page + kPgSignature, "\0\0\0\0", 4) == 0) continue;  // never written
    const uint16_t type = zud::GetU16(page + kPgType);
    const uint8_t* data = page + kPageHeaderSize;
    const bool crcMatches = zud::GetU32(page + kPgDataCRC) == Crc32(data, ps - kPageHeaderSize);
    // The direct files and the PFS keep no DataCRC; their plain bytes are
    // mostly zero in a small database, which enciphered bytes never are.
    const bool mostlyZero = static_cast<size_t>(std::count(data, page + ps, 0)) > (ps - kPageHeaderSize) / 2;
    if (crcMatches || mostlyZero)
      ++census.plain[type];
    else if (page[kPgCryptoAlgorithm] == algorithm)
      ++census.enciphered[type];
  }
  return census;
}

class EncryptedTables : public ::testing::TestWithParam<int> {};

TEST_P(EncryptedTables, RoundTripRecordsIndexesAndBlobsAndKeepTheFileUnreadable) {
  ScratchDir dir;
  const std::string path = dir.File("cifrada.zud");
  const TABSPassword password{"Clave De Prueba", static_cast<uint8_t>(GetParam())};
  CreateAndFill(path, password);

  std::vector<std::pair<int, Row>> expected;
  for (int k = 0; k < kRecords; ++k) expected.emplace_back(k, ExpectedRow(k));
  {
    Connection c(path, password);
    EXPECT_EQ(ReadThrough(c, "by_k"), expected);
    const auto byText = ReadThrough(c, "by_s");
    ASSERT_EQ(byText.size(), expected.size());
    for (size_t i = 1; i < byText.size(); ++i)
      EXPECT_GE(Upper(byText[i - 1].second.text), Upper(byText[i].second.text));
    EXPECT_EQ(c.data.OpenTable(c.session, "secretos").GetRecordCount(c.session), kRecords);
  }

  const Bytes file = ReadAll(path);
  for (const std::string& marker :
       {kRecordMarker, kBlobMarker, kMemoMarker, std::string("secretos"), std::string("by_s")})
    EXPECT_FALSE(Contains(file, marker)) << marker;

  const PageCensus census = Census(file, password.CryptoAlgorithm);
  using namespace tiv::disk;
  for (uint16_t type : {ptTableList, ptTableMetaData, ptTableRecord, ptTableBlob, ptTableIndex}) {
    EXPECT_GT(census.enciphered.count(type), 0u) << PageTypeText(type);
    EXPECT_EQ(census.plain.count(type), 0u) << PageTypeText(type);
  }
  for (uint16_t type : {ptActiveSessionList, ptTableLocks, ptPFS}) {
    EXPECT_GT(census.plain.count(type), 0u) << PageTypeText(type);
    EXPECT_EQ(census.enciphered.count(type), 0u) << PageTypeText(type);
  }

  for (const std::string& wrong : {std::string("clave de prueba"), std::string("CLAVE DE PRUEBA"), std::string()}) {
    ExpectEngineError(
        [&] {
          TABSDiskDatabaseData("CRYPT").Open(path, TABSPassword{wrong, password.CryptoAlgorithm}, false, false);
        },
        30445, "Cannot open database - incorrect password");
  }
}

INSTANTIATE_TEST_SUITE_P(EveryAlgorithm, EncryptedTables, ::testing::Range(0, 8));

// The same contents in a plain database do show in the file: the texts the
// encrypted test looks for are really stored where it looks.
TEST(PlainTables, StoreTheMarkersInClear) {
  ScratchDir dir;
  const std::string path = dir.File("plana.zud");
  CreateAndFill(path, TABSPassword{});
  const Bytes file = ReadAll(path);
  for (const std::string& marker : {kRecordMarker, kBlobMarker, kMemoMarker})
    EXPECT_TRUE(Contains(file, marker)) << marker;
}

}  // namespace
