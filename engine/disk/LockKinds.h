// LockKinds: the kinds of table lock and which of them get along.
//
// Contract
//  1. Kinds 0..6 are frozen: kind k of slot s is content byte k * N + s of a
//     table's locks file (kinds 0..5); kind 6 has no byte, it is the locks
//     file's file lock held for as long as the exclusive access lasts.
//  2. kLockCompatible[held][requested] is 1 when a lock of kind `held` of
//     another connection allows a request of kind `requested`. The table is
//     symmetric.
//  3. LockCovers(x, y): a lock of kind x that a connection holds stands for
//     a lock of kind y of the same connection on the same table, because
//     every request x lets through, y lets through too. A record lock
//     (kind 5) covers nothing and is covered by nothing: its byte means "a
//     record of mine is locked", never "the table is open", so standing in
//     for a table lock would leave the table unprotected the moment the
//     record is unlocked.
#pragma once

#include <cstdint>

enum TABSLockKind : uint8_t {
  ltOpen = 0,              // a cursor of the connection has the table open
  ltRead = 1,              // around each read operation
  ltEdit = 2,              // a record is edited outside a transaction
  ltTransactionWrite = 3,  // from the first change in a transaction to its end; from a
                           // BLOB change outside one to the commit of its record
  ltWrite = 4,             // around each change outside a transaction; commit
  ltRecord = 5,            // one locked record per connection and table
  ltExclusive = 6,         // the table is open exclusively
};
inline constexpr int kLockKindCount = 7;
inline constexpr int kLockByteKindCount = 6;  // kinds with a byte per slot

inline constexpr uint8_t kLockCompatible[kLockKindCount][kLockKindCount] = {
    // requested: 0  1  2  3  4  5  6
    {1, 1, 1, 1, 1, 1, 0},  // held 0 open
    {1, 1, 1, 1, 0, 1, 0},  // held 1 read
    {1, 1, 1, 0, 1, 1, 0},  // held 2 edit
    {1, 1, 0, 0, 0, 1, 0},  // held 3 transaction-write
    {1, 0, 1, 0, 0, 1, 0},  // held 4 write
    {1, 1, 1, 1, 1, 1, 0},  // held 5 record
    {0, 0, 0, 0, 0, 0, 0},  // held 6 exclusive
};

inline constexpr bool IsLockKind(int kind) { return kind >= 0 && kind < kLockKindCount; }

inline constexpr bool LockCovers(int x, int y) {
  if (!IsLockKind(x) || !IsLockKind(y) || x == ltRecord || y == ltRecord) return false;
  for (int k = 0; k < kLockKindCount; ++k)
    if (kLockCompatible[x][k] && !kLockCompatible[y][k]) return false;
  return true;
}
