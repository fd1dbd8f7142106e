// ZUDBitsArray: the bit array that holds filter bitmaps (and the allocation
// bitmaps of the storage layer), and the filter bitmap of a cursor.
//
// Bits: bit i is bit (i mod 8) of byte (i div 8), least significant first.
//
// Contract
//  1. SetCount() equals the number of set bits after every change; bits
//     past Count() do not exist.
//  2. Resizing keeps the bits below the new count; new bits are clear.
//  3. Reading or writing a bit outside 0..Count()-1 raises 10394 / 10395;
//     asking for the n-th set bit past SetCount() raises 10428.
//  4. A record bitmap is current only while its stamp equals the record
//     manager's change counter; -1 means never built.
//  5. Stream form, little-endian:
//       0  int32  number of bits
//       4  int32  number of set bits
//       8  ceil(bits / 8) bytes, in the bit order above
//     Loading checks what it reads: a header cut short raises 10426, a
//     negative bit count or bytes cut short 10510, a set count that
//     disagrees with the bytes 10429 (bits past the count are ignored). A
//     failed load leaves the array as it was.
//
// Thread use: a bitmap belongs to one cursor; the table data's lock
// covers every change made on the cursor's behalf.
#pragma once

#include <cstdint>
#include <vector>

class TABSStream;

class TABSBitsArray {
 public:
  int64_t Count() const { return count_; }
  int64_t SetCount() const { return setCount_; }
  void Resize(int64_t count);
  bool Get(int64_t bit) const;
  void Set(int64_t bit, bool value);
  // Grows the array when `bit` lies past its end, then writes it.
  void SetGrowing(int64_t bit, bool value);
  void SetAll(bool value);
  // Set bits in 0..position-1 (position is clamped to the count).
  int64_t SetBitsBefore(int64_t position) const;
  // Position of the n-th set bit, n from 1 (contract 3).
  int64_t NthSetBit(int64_t n) const;
  // First bit with `value` at or after `from`; -1 when none.
  int64_t FindFirst(bool value, int64_t from = 0) const;
  // Nearest set bit after (before) `position`; -1 when none. `position` may
  // lie outside the array (-1 finds the first set bit, Count() the last).
  int64_t NextSetBit(int64_t position) const;
  int64_t PriorSetBit(int64_t position) const;
  // Contract 5. An array of more than 2^31 - 1 bits has no stream form
  // (10400).
  void SaveToStream(TABSStream& stream) const;
  void LoadFromStream(TABSStream& stream);

 private:
  std::vector<uint8_t> bytes_;
  int64_t count_ = 0;
  int64_t setCount_ = 0;
};

class TABSRecordBitmap {
 public:
  TABSBitsArray bits;
  bool active = false;
  bool wholeTable = false;
  int32_t stamp = -1;  // contract 4

  bool IsStale(int32_t changeCounter) const { return stamp != changeCounter; }
  void Reset() {
    bits.Resize(0);
    wholeTable = false;
    stamp = -1;
  }
};
