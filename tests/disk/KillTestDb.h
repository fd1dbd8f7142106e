// The database of the kill tests (KillTest.cpp) and of their processes
// (KillWriterHelper.cpp): table "libro" with an int32 `id` (unique index
// `por_id`), an int32 `version`, an int32 `valor` (index `por_valor`, not
// unique), a string `nombre` and a MEMO `texto`; and the sequence of commits
// the writer makes, which the test and the reader replay in memory.
//
// A row is written whole by the commit numbered `version`: every other field
// is derived from (id, version), so a row read back tells by itself whether
// it is one some commit wrote. Commit n is planned from (seed, n) and the
// rows before it alone (PlanCommit), so anyone holding the rows after commit
// n - 1 knows commit n without asking the writer. Every commit changes the
// set of (id, version) pairs: its inserts take ids no row ever had
// (n * 16 + op), its updates give version n, and it deletes only rows it did
// not insert itself; so two commit numbers never leave the same rows.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "core/ZUDVariant.h"
#include "disk/DiskDatabase.h"
#include "disk/DiskDatabaseData.h"
#include "support/FieldList.h"
#include "support/TableConnection.h"

constexpr const char* kKillTable = "libro";

// Field numbers of the table, in the order CreateKillTableDb declares them.
enum KillField : int { kKillId = 0, kKillVersion, kKillValue, kKillName, kKillMemo };

// SplitMix64's finaliser: every input bit reaches every output bit.
inline uint64_t KillMix(uint64_t x) {
  x += 0x9e3779b97f4a7c15ull;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
  return x ^ (x >> 31);
}

class KillRandom {
 public:
  explicit KillRandom(uint64_t seed) : state_(seed) {}
  uint64_t Next() { return KillMix(state_++); }
  // Uniform enough in 0 .. n - 1 for n far below 2^32.
  uint32_t Below(uint32_t n) { return static_cast<uint32_t>(Next() % n); }

 private:
  uint64_t state_;
};

inline int32_t KillValueOf(int32_t id, int32_t version) {
  return static_cast<int32_t>(KillMix((static_cast<uint64_t>(id) << 32) ^ static_cast<uint32_t>(version)) % 997u);
}
inline std::string KillNameOf(int32_t id, int32_t version) {
  return "r" + std::to_string(id) + "v" + std::to_string(version);
}
// One value in six is larger than a page (a large BLOB value with its own
// pages); the others share small BLOB pages.
inline std::string KillMemoOf(int32_t id, int32_t version) {
  KillRandom r((static_cast<uint64_t>(id) << 32) ^ static_cast<uint32_t>(version));
  const uint32_t size = r.Below(6) == 0 ? 4500 + r.Below(4500) : 16 + r.Below(1500);
  std::string memo = KillNameOf(id, version) + ":";
  while (memo.size() < size) memo += static_cast<char>('a' + r.Below(26));
  return memo;
}

// The rows after some commit: id -> version, with a hash of the pairs kept
// as they change, so that many states compare in O(1) before one compares
// whole.
class KillState {
 public:
  const std::map<int32_t, int32_t>& Rows() const { return rows_; }
  uint64_t Hash() const { return hash_; }
  void Set(int32_t id, int32_t version) {
    auto [at, inserted] = rows_.emplace(id, version);
    if (!inserted) {
      hash_ -= PairHash(id, at->second);
      at->second = version;
    }
    hash_ += PairHash(id, version);
  }
  void Erase(int32_t id) {
    auto at = rows_.find(id);
    if (at == rows_.end()) return;
    hash_ -= PairHash(id, at->second);
    rows_.erase(at);
  }
  bool operator==(const KillState& other) const { return hash_ == other.hash_ && rows_ == other.rows_; }

 private:
  static uint64_t PairHash(int32_t id, int32_t version) {
    return KillMix((static_cast<uint64_t>(static_cast<uint32_t>(id)) << 32) | static_cast<uint32_t>(version));
  }
  std::map<int32_t, int32_t> rows_;
  uint64_t hash_ = 0;
};

struct KillOp {
  enum Kind { kInsert, kUpdate, kDelete } kind;
  int32_t id;
};

// One commit of the sequence: a transaction of several changes, or one
// change committed on its own (outside a transaction).
struct KillCommit {
  int32_t number = 0;
  bool transaction = false;
  std::vector<KillOp> ops;
};

// Commit `number` after the rows `before`. Inserts lead while the table is
// small and deletes while it is large, so the table stays near 30 to 90
// rows however long the sequence runs.
inline KillCommit PlanCommit(uint64_t seed, int32_t number, const KillState& before) {
  KillRandom r(KillMix(seed) ^ KillMix(static_cast<uint64_t>(number) * 0x100000001b3ull));
  KillCommit c;
  c.number = number;
  c.transaction = r.Below(5) < 3;
  const uint32_t count = c.transaction ? 2 + r.Below(7) : 1;
  // The rows of before this commit that it has not deleted.
  std::vector<int32_t> older;
  older.reserve(before.Rows().size());
  for (const auto& [id, version] : before.Rows()) older.push_back(id);
  size_t live = older.size();
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t insertShare = live < 30 ? 70 : live > 90 ? 15 : 40;
    const uint32_t deleteShare = live < 30 ? 10 : live > 90 ? 55 : 25;
    const uint32_t roll = r.Below(100);
    if (older.empty() || roll < insertShare) {
      c.ops.push_back({KillOp::kInsert, number * 16 + static_cast<int32_t>(i)});
      ++live;
    } else {
      const size_t k = r.Below(static_cast<uint32_t>(older.size()));
      if (roll < insertShare + deleteShare) {
        c.ops.push_back({KillOp::kDelete, older[k]});
        older[k] = older.back();
        older.pop_back();
        --live;
      } else {
        c.ops.push_back({KillOp::kUpdate, older[k]});
      }
    }
  }
  return c;
}

inline void ApplyCommit(const KillCommit& c, KillState& state) {
  for (const KillOp& op : c.ops) {
    if (op.kind == KillOp::kDelete)
      state.Erase(op.id);
    else
      state.Set(op.id, c.number);
  }
}

inline void CreateKillTableDb(const std::string& path, int32_t maxConnections) {
  TABSDiskDatabase().CreateDatabase(path, TABSPassword{}, maxConnections);
  TABSDiskDatabaseData data("MAKE");
  TABSSessionInfo session;
  session.multiUser = true;
  data.Open(path, TABSPassword{}, true, false);
  data.Connect(session);
  TABSFieldDefs fields;
  AddFields(fields, {{"id", aftInteger},
                     {"version", aftInteger},
                     {"valor", aftInteger},
                     {"nombre", aftString, 24},
                     {"texto", aftMemo}});
  TABSIndexDefs indexes;
  TABSIndexDef* byId = indexes.AddNew();
  byId->SetName("por_id");
  byId->unique = true;
  byId->FillColumns({"id"}, {"ASC"}, {"CASE"});
  TABSIndexDef* byValue = indexes.AddNew();
  byValue->SetName("por_valor");
  byValue->FillColumns({"valor"}, {"ASC"}, {"CASE"});
  data.CreateTable(session, kKillTable, fields, indexes);
  data.Disconnect(session);
}

// A row as read back; Whole when every field is the one its (id, version)
// gives.
struct KillRow {
  TABSRecordID at;
  int32_t id = 0, version = 0, value = 0;
  std::string name, memo;
  bool Whole() const {
    return value == KillValueOf(id, version) && name == KillNameOf(id, version) && memo == KillMemoOf(id, version);
  }
};

struct KillTableConnection : TableConnection {
  explicit KillTableConnection(const std::string& path) : TableConnection(path, kKillTable, "KILL") {}

  // Every row in physical order, all read inside one read bracket: the read
  // lock is held throughout, so no commit lands between two rows and the
  // rows are those of one commit. Memos only when asked.
  std::vector<KillRow> ReadAll(bool withMemos) {
    TABSTableData::ReadScope scope(*table, session);
    TABSTableCursor cursor;
    table->PrepareCursor(cursor);
    std::vector<KillRow> rows;
    while (table->FetchRecord(session, cursor, grmNext) == grrFound) {
      KillRow row;
      row.at = cursor.recordID;
      row.id = Int(cursor.Record(), kKillId);
      row.version = Int(cursor.Record(), kKillVersion);
      row.value = Int(cursor.Record(), kKillValue);
      TABSVariant name;
      ReadFieldValue(table->FieldDefs(), cursor.Record(), kKillName, name);
      row.name = name.IsNull() ? std::string() : name.AsString();
      if (withMemos) row.memo = table->ReadBlobBuffer(session, cursor.Record(), kKillMemo);
      rows.push_back(std::move(row));
    }
    return rows;
  }

  // The fields of row `id` written by commit `version` into `buffer`
  // (a new record's or one read back), its memo stored first.
  void FillRow(char* buffer, int32_t id, int32_t version) {
    SetInt(buffer, kKillId, id);
    SetInt(buffer, kKillVersion, version);
    SetInt(buffer, kKillValue, KillValueOf(id, version));
    TABSVariant name;
    name.SetAsString(KillNameOf(id, version));
    WriteFieldValue(table->FieldDefs(), buffer, kKillName, name);
    const std::string memo = KillMemoOf(id, version);
    table->WriteBlobBuffer(session, buffer, kKillMemo, memo.data(), static_cast<int64_t>(memo.size()));
  }

  int32_t Int(const char* buffer, int field) const {
    TABSVariant v;
    ReadFieldValue(table->FieldDefs(), buffer, field, v);
    return v.IsNull() ? -1 : v.AsInteger();
  }
  void SetInt(char* buffer, int field, int32_t value) {
    TABSVariant v;
    v.SetAsInteger(value);
    WriteFieldValue(table->FieldDefs(), buffer, field, v);
  }
};

// The state the rows hold, or "" and a description of the first row that
// is not whole or of an id found twice.
inline std::string StateOfRows(const std::vector<KillRow>& rows, KillState& state, bool memosRead) {
  for (const KillRow& row : rows) {
    const bool whole =
        memosRead ? row.Whole()
                  : row.value == KillValueOf(row.id, row.version) && row.name == KillNameOf(row.id, row.version);
    if (!whole)
      return "row id " + std::to_string(row.id) + " version " + std::to_string(row.version) + " at page " +
             std::to_string(row.at.pageNo) + " is not the one its commit wrote (valor " + std::to_string(row.value) +
             ", nombre '" + row.name + "', memo of " + std::to_string(row.memo.size()) + " bytes)";
    if (state.Rows().count(row.id) != 0) return "id " + std::to_string(row.id) + " found twice";
    state.Set(row.id, row.version);
  }
  return "";
}
