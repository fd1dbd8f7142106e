// A BLOB field's stream on a disk table: values written through it land in
// the record's cached value on close (with the null bit), are stored in
// BLOB pages and read back after a reopen with every algorithm and level;
// replacing and emptying values gives their pages back; deleting all BLOBs
// of a table walks its records.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>

#include "DiskTestUtil.h"
#include "core/ZUDRecordLayout.h"
#include "disk/BlobFieldStream.h"
#include "disk/BlobPageIndexSpace.h"
#include "disk/BlobPages.h"
#include "disk/DiskRecordManager.h"
#include "support/FieldList.h"

namespace {

constexpr int32_t kSession = 0;
constexpr int kBlobField = 1;

// Half text, half noise, so that compressed blocks differ in size.
std::string Content(int64_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s(static_cast<size_t>(n), '\0');
  for (int64_t i = 0; i < n; ++i)
    s[static_cast<size_t>(i)] = (i / 512) % 2 ? static_cast<char>(rng()) : "tivoran "[i % 8];
  return s;
}

struct Table {
  ScratchDir dir;
  std::string path = dir.File("fieldblob.zud");
  TABSFieldDefs fields;
  std::unique_ptr<TABSDiskPageManager> pm;
  std::unique_ptr<TABSBTreeBlobPageSpace> space;
  std::unique_ptr<TABSDiskBlobManager> blobs;

  Table(int algorithm, uint8_t mode, int32_t blockSize) {
    AddFields(fields, {{"n", aftInteger}, {"b", aftBlob}});
    fields[kBlobField]->SetBlobSettings(algorithm, mode, blockSize);
    CreateDatabase(path);
    Open();
  }
  ~Table() {
    blobs.reset();
    space.reset();
  }
  const TABSFieldDef& Field() const { return *fields[kBlobField]; }
  void Open() {
    const int32_t root = space ? space->Index().RootPageNo() : -1;
    blobs.reset();
    space.reset();
    if (pm) pm->CloseDatabaseFile();
    pm = std::make_unique<TABSDiskPageManager>();
    OpenDb(*pm, path, false);
    space = std::make_unique<TABSBTreeBlobPageSpace>(*pm);
    if (root == -1) {
      space->Index().Create(kSession);
      Commit();
    } else {
      space->Index().SetRootPageNo(root);
    }
    blobs = std::make_unique<TABSDiskBlobManager>(*pm, *space);
  }
  void Commit() { pm->CommitSession(kSession, true); }
  std::vector<char> NewRecord() {
    std::vector<char> r(static_cast<size_t>(fields.MemoryRecordSize()));
    InitNewRecord(fields, r.data());
    return r;
  }
  // Writes `bytes` at `at` in steps of `step` (no bytes: cuts there), then
  // closes.
  void Write(std::vector<char>& record, const std::string& bytes, int64_t at = 0, int64_t step = 300001) {
    auto stream = blobs->OpenFieldStream(kSession, Field(), kBlobField, record.data());
    stream->Seek(at);
    if (bytes.empty()) stream->SetSize(at);
    for (int64_t done = 0; done < static_cast<int64_t>(bytes.size()); done += step) {
      const int64_t n = std::min<int64_t>(step, static_cast<int64_t>(bytes.size()) - done);
      ASSERT_EQ(stream->Write(bytes.data() + done, n), n);
    }
    stream->Close();
  }
  void Empty(std::vector<char>& record) {
    auto stream = blobs->OpenFieldStream(kSession, Field(), kBlobField, record.data());
    stream->SetSize(0);
    stream->Close();
  }
  std::string Read(std::vector<char>& record) {
    auto stream = blobs->OpenFieldStream(kSession, Field(), kBlobField, record.data());
    std::string out(static_cast<size_t>(stream->Size()), '\0');
    EXPECT_EQ(stream->Read(out.data(), stream->Size()), stream->Size());
    stream->Close();
    return out;
  }
  TABSBlobReference Ref(const std::vector<char>& record) const {
    return TABSBlobReference::Read(record.data() + Field().MemoryOffset());
  }
  int32_t UsedPages() { return pm->FreeSpaceManager().CountUsage().used; }
  // Grows the file (and its free-space map) once, so that later counts
  // see only the pages values take.
  int32_t Baseline() {
    auto r = NewRecord();
    Write(r, std::string(600000, 'w'));
    blobs->WriteRecordBlobs(kSession, fields, r.data());
    Commit();
    blobs->DeleteRecordBlobs(kSession, fields, r.data());
    Commit();
    return UsedPages();
  }
  bool IndexEmpty() {
    TABSBTreePath p;
    return !space->Index().First(kSession, p);
  }
};

TEST(BlobFieldStream, ValuesRoundTripWithEveryAlgorithmAndLevel) {
  struct Setting {
    int algorithm;
    uint8_t level;
  };
  std::vector<Setting> settings{{0, 1}};
  for (int algorithm : {1, 2, 3})
    for (uint8_t level = 1; level <= 9; ++level) settings.push_back({algorithm, level});
  const int32_t kBlock = 65536;
  for (const Setting& set : settings) {
    SCOPED_TRACE("algorithm " + std::to_string(set.algorithm) + " level " + std::to_string(set.level));
    Table t(set.algorithm, set.level, kBlock);
    const int32_t D = t.pm->PageDataSize();
    // PPMd's big models stay on smaller values (its speed under the sanitizers).
    std::vector<int64_t> sizes{0, 1, 2, D, 3 * kBlock + 17, 2 * 1048576 + 3};
    if (set.algorithm == 3) sizes.back() = set.level <= 3 ? 300000 + 3 : 100000 + 3;
    std::vector<std::vector<char>> records;
    for (size_t i = 0; i < sizes.size(); ++i) {
      records.push_back(t.NewRecord());
      auto& r = records.back();
      t.Write(r, Content(sizes[i], static_cast<uint32_t>(i)));
      // Closing the written stream sets the value and the null bit.
      TABSBlobValue& v = t.blobs->RecordValue(kSession, t.Field(), r.data());
      EXPECT_TRUE(v.Modified);
      EXPECT_EQ(v.UncompressedSize, sizes[i]);
      if (set.algorithm != 0) {
        EXPECT_EQ(v.BlockCount, (sizes[i] + kBlock - 1) / kBlock) << sizes[i];
      }
      EXPECT_EQ(IsFieldNull(r.data(), kBlobField), sizes[i] == 0) << sizes[i];
      t.blobs->WriteRecordBlobs(kSession, t.fields, r.data());
      EXPECT_EQ(t.Ref(r).IsNone(), sizes[i] == 0) << sizes[i];
      EXPECT_EQ(t.blobs->CachedValueCount(), 0);
    }
    t.Commit();
    t.Open();
    for (size_t i = 0; i < sizes.size(); ++i) {
      EXPECT_EQ(t.Read(records[i]), Content(sizes[i], static_cast<uint32_t>(i))) << sizes[i];
      t.blobs->FreeRecordValues(t.fields, records[i].data());
    }
  }
}

TEST(BlobFieldStream, ReplacingAndEmptyingValuesGivesTheirPagesBack) {
  Table t(1, 6, 0);
  const int32_t before = t.Baseline();
  auto r = t.NewRecord();
  std::mt19937 rng(4);
  std::string noise(300000, '\0');
  for (char& c : noise) c = static_cast<char>(rng());
  t.Write(r, noise);
  t.blobs->WriteRecordBlobs(kSession, t.fields, r.data());
  t.Commit();
  EXPECT_GE(t.UsedPages() - before, 300000 / t.pm->PageDataSize());

  t.Empty(r);
  t.Write(r, "tiny");
  t.blobs->WriteRecordBlobs(kSession, t.fields, r.data());
  t.Commit();
  EXPECT_FALSE(t.Ref(r).IsLarge());
  EXPECT_EQ(t.UsedPages(), before + 1);  // one small BLOB page
  EXPECT_EQ(t.Read(r), "tiny");

  t.Empty(r);
  EXPECT_TRUE(IsFieldNull(r.data(), kBlobField));
  t.blobs->WriteRecordBlobs(kSession, t.fields, r.data());
  t.Commit();
  EXPECT_TRUE(t.Ref(r).IsNone());
  EXPECT_EQ(t.UsedPages(), before);
  EXPECT_TRUE(t.IndexEmpty());
  EXPECT_EQ(t.Read(r), "");
  t.blobs->FreeRecordValues(t.fields, r.data());
  t.blobs->Close();
}

TEST(BlobFieldStream, WritingInsideKeepsTheRestAndReadingChangesNothing) {
  Table t(2, 1, 65536);
  auto r = t.NewRecord();
  std::string expected = Content(200000, 7);
  t.Write(r, expected);
  t.blobs->WriteRecordBlobs(kSession, t.fields, r.data());
  t.Commit();
  t.Open();

  EXPECT_EQ(t.Read(r), expected);
  EXPECT_FALSE(t.blobs->RecordValue(kSession, t.Field(), r.data()).Modified);

  t.Write(r, "0123456789", 131070);  // across a block boundary
  expected.replace(131070, 10, "0123456789");
  EXPECT_TRUE(t.blobs->RecordValue(kSession, t.Field(), r.data()).Modified);
  t.blobs->WriteRecordBlobs(kSession, t.fields, r.data());
  t.Commit();
  t.Open();
  EXPECT_EQ(t.Read(r), expected);

  // A stream left open when the record's values are freed still lands.
  auto stream = t.blobs->OpenFieldStream(kSession, t.Field(), kBlobField, r.data());
  t.blobs->FreeRecordValues(t.fields, r.data());
  stream->SetSize(5);
  stream->Close();
  EXPECT_EQ(t.blobs->RecordValue(kSession, t.Field(), r.data()).UncompressedSize, 5);
  ExpectEngineError([&] { stream->Write("x", 1); }, 20161);
  t.blobs->FreeRecordValues(t.fields, r.data());
}

TEST(BlobFieldStream, RefusedAndDamagedValues) {
  Table t(1, 1, 4096);
  auto r = t.NewRecord();
  t.blobs->RecordValue(kSession, t.Field(), r.data()).UncompressedSize = -1;
  ExpectEngineError([&] { t.blobs->OpenFieldStream(kSession, t.Field(), kBlobField, r.data()); }, 20248,
                    "Invalid blob field size");
  t.blobs->FreeRecordValues(t.fields, r.data());

  // Two blocks stored in one small page; a byte of the second block's
  // compressed data damaged on the page.
  r = t.NewRecord();
  t.Write(r, std::string(8000, 'z'));
  t.blobs->WriteRecordBlobs(kSession, t.fields, r.data());
  t.Commit();
  const TABSBlobReference ref = t.Ref(r);
  ASSERT_FALSE(ref.IsLarge());
  TABSPage* page = t.pm->GetPage(kSession, ref.PageNo, true, tiv::disk::ptTableBlob);
  uint8_t* entry = page->DataBuffer() + 2 + 22;  // the only entry's stored bytes
  const int32_t firstComp = zud::GetI32(entry);
  entry[20 + firstComp + 20 + 2] ^= 0x5A;
  page->IsDirty = true;
  t.pm->PutPage(page);
  t.Commit();
  t.Open();
  auto stream = t.blobs->OpenFieldStream(kSession, t.Field(), kBlobField, r.data());
  char buf[4096];
  EXPECT_EQ(stream->Read(buf, 4096), 4096);
  EXPECT_EQ(std::string(buf, 4096), std::string(4096, 'z'));
  std::string message;
  EXPECT_THAT(NativeCodeOf([&] { stream->Read(buf, 10); }, &message), ::testing::AnyOf(10087, 10088, 10089))
      << "damaged block read: " << message;
  stream.reset();
  t.blobs->FreeRecordValues(t.fields, r.data());
}

TEST(BlobFieldStream, DeletingAllBlobsOfATableWalksItsRecords) {
  Table t(1, 1, 0);
  const int32_t before = t.Baseline();
  TABSDiskRecordManager rm(*t.pm, t.fields, 7);
  rm.PageIndex().Create(kSession);
  std::vector<TABSRecordID> ids(5);
  auto r = t.NewRecord();
  for (auto& id : ids) ASSERT_TRUE(rm.Insert(kSession, r.data(), id));
  t.Commit();
  const int32_t withRecords = t.UsedPages();
  EXPECT_GT(withRecords, before);

  const int64_t sizes[] = {10, 0, 500000, 3000, 70000};
  for (size_t i = 0; i < ids.size(); ++i) {
    TABSGetRecordRequest get;
    get.recordID = ids[i];
    get.destination = r.data();
    rm.GetRecord(kSession, get);
    ASSERT_EQ(get.result, grrFound);
    SetBlobHandle(t.Field(), r.data(), 0);
    t.Write(r, Content(sizes[i], 3));
    t.blobs->WriteRecordBlobs(kSession, t.fields, r.data());
    ASSERT_TRUE(rm.Update(kSession, r.data(), ids[i]));
  }
  t.Commit();
  EXPECT_GT(t.UsedPages(), withRecords + 500000 / t.pm->PageDataSize() / 2);

  t.blobs->DeleteAllBlobs(kSession, rm, t.fields);
  t.Commit();
  EXPECT_EQ(t.UsedPages(), withRecords);
  EXPECT_TRUE(t.IndexEmpty());
  // A table without records: nothing to walk.
  rm.Clear(kSession);
  t.blobs->DeleteAllBlobs(kSession, rm, t.fields);
  t.Commit();
}

}  // namespace
