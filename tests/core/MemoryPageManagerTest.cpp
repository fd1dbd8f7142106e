// The in-memory page manager: lowest free number first, and its stream
// form: what is saved loads back page for page; a stream cut short or
// with values that disagree is refused and leaves the manager as it was.
#include <gtest/gtest.h>

#include <cstring>

#include "core/MemoryPageManager.h"
#include "core/ZUDBytes.h"
#include "core/ZUDStream.h"
#include "support/EngineError.h"

namespace {

constexpr uint16_t kPage = 512;

// Adds `n` pages through a session and commits them; each page is filled
// with its number.
std::vector<int32_t> AddPages(TABSMemoryPageManager& m, int n) {
  std::vector<int32_t> numbers;
  for (int i = 0; i < n; ++i) {
    TABSPage* page = m.AddPage(1, tiv::page::ptAny);
    std::memset(page->Buffer(), page->PageNo & 0xFF, kPage);
    numbers.push_back(page->PageNo);
    m.PutPage(page);
  }
  m.CommitSession(1);
  return numbers;
}

std::string Saved(TABSMemoryPageManager& m) {
  TABSMemoryStream s;
  m.SaveToStream(s);
  std::string bytes(static_cast<size_t>(s.Size()), '\0');
  s.Seek(0);
  s.Read(bytes.data(), s.Size());
  return bytes;
}

TEST(MemoryPageManagerTest, StreamFormRoundTripsAndRefusesWhatDisagrees) {
  TABSMemoryPageManager m(kPage);
  AddPages(m, 60);  // grows past the first 50
  m.DeletePage(1, 3);
  m.DeletePage(1, 59);
  m.CommitSession(1);
  EXPECT_EQ(m.Capacity(), 100);
  EXPECT_EQ(m.AllocatedPageCount(), 58);
  EXPECT_EQ(m.GetPageCount(), 59) << "the highest number falls back to the highest allocated";
  const std::string saved = Saved(m);
  EXPECT_EQ(zud::GetI32(saved.data()), 100);
  EXPECT_EQ(zud::GetI32(saved.data() + 4), 58);
  EXPECT_EQ(zud::GetI32(saved.data() + 8), 50);
  EXPECT_EQ(zud::GetU16(saved.data() + 12), kPage);
  EXPECT_EQ(zud::GetI32(saved.data() + 16), 58);
  EXPECT_EQ(saved.size(), 20u + 8u + 13u + 100u * kPage);

  TABSMemoryPageManager loaded(kPage);
  TABSMemoryStream in(saved);
  loaded.LoadFromStream(in);
  EXPECT_EQ(Saved(loaded), saved);
  for (int32_t pageNo : {0, 4, 58}) {
    ASSERT_NE(loaded.StoredPage(pageNo), nullptr);
    EXPECT_EQ(loaded.StoredPage(pageNo)[kPage - 1], pageNo);
  }
  EXPECT_EQ(loaded.StoredPage(3), nullptr);
  // A freed number is handed out again first.
  EXPECT_EQ(AddPages(loaded, 2), (std::vector<int32_t>{3, 59}));

  // What disagrees: each change of a sound stream is refused with its code,
  // and the manager keeps what it had.
  struct Damage {
    const char* what;
    size_t offset;
    int32_t value;  // written as int32 (or as uint16 at offset 12)
    int code;
  };
  const Damage damages[] = {
      {"capacity past the pages", 0, 1000000, 10093},
      {"negative capacity", 0, -1, 10093},
      {"highest number not the highest allocated", 4, 57, 10093},
      {"allocated count", 16, 57, 10093},
      {"page size", 12, 1024, 10093},
      {"bitmap length", 20, 99, 10093},
      {"bitmap set count", 24, 12, 10429},
  };
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.what);
    std::string bad = saved;
    if (d.offset == 12)
      zud::PutU16(bad.data() + 12, static_cast<uint16_t>(d.value));
    else
      zud::PutI32(bad.data() + d.offset, d.value);
    TABSMemoryStream s(bad);
    EXPECT_EQ(NativeCodeOf([&] { m.LoadFromStream(s); }), d.code);
    EXPECT_EQ(Saved(m), saved);
  }
  for (size_t cut : {size_t{0}, size_t{19}, size_t{30}, saved.size() - 1}) {
    SCOPED_TRACE(cut);
    TABSMemoryStream s(saved.substr(0, cut));
    EXPECT_NE(NativeCodeOf([&] { m.LoadFromStream(s); }), 0);
    EXPECT_EQ(Saved(m), saved);
  }
  // Loading is refused while a session holds changes.
  TABSPage* pending = m.AddPage(2, tiv::page::ptAny);
  m.PutPage(pending);
  TABSMemoryStream again(saved);
  EXPECT_EQ(NativeCodeOf([&] { m.LoadFromStream(again); }), 20097);
  m.RollbackSession(2);
}

}  // namespace
