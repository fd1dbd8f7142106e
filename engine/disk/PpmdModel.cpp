// PPMd variant G: prediction by partial matching with information
// inheritance, secondary escape estimation and a range coder.
//
// The model. Every context (the last k bytes seen, k <= MaxOrder) holds the
// symbols that followed it, each with a frequency, sorted roughly by
// frequency, plus a summed frequency that also carries the escape count. A
// symbol is coded in the longest context that has been seen; when the
// context does not hold it, an escape is coded and the search continues in
// the suffix context (one byte shorter) with the symbols already refused
// masked out. Escaping out of the order-0 context (which always holds all
// 256 symbols) is the end mark. After a symbol, every context escaped from
// gets the symbol added, and the context one order longer is created lazily:
// a successor first points into the text area (the bytes seen) and becomes a
// real context only when that context is entered again. A new context
// inherits the probability of its symbol from the suffix context
// (information inheritance), so young high-order contexts start with
// sensible statistics.
//
// Binary contexts (one symbol) are coded with an adaptive bit probability
// chosen from a table indexed by the symbol's frequency, the previous
// success, the size of the suffix context, the high bits of the symbol and
// of the previous symbol and the run of successes. Escapes from masked
// contexts take their frequency from SEE: adaptive escape estimators chosen
// by the number of unmasked symbols, the context's balance and the previous
// symbol's high bit, rather than from the context's own escape count.
//
// The coder is a range coder with carry propagation over a 64-bit low and a
// 32-bit range kept at or above 2^24: each symbol narrows the range by
// (start, size, total) with total below 2^17, so the range never collapses.
// The encoder's first byte is always 0; the decoder reads exactly the bytes
// the encoder wrote and ends with a zero code.
//
// The memory. The model lives in one arena of the header's size: the first
// eighth is the text area (bytes seen, growing up), the rest is cut into
// 12-byte units handed out from both ends of a gap (contexts from the top,
// symbol tables from the bottom) and returned to 38 free lists by block size
// (1..4, 6..12, 15..24, 28..128 units). When a list is empty the allocator
// first glues adjacent free blocks together, then takes a bigger block and
// splits it, then borrows from the free end of the text area; when all of
// that fails, or the text area fills, the whole model restarts from its
// initial state. The decoder takes the same steps on the same symbols, so it
// restarts at the same point. References inside the arena are 32-bit
// offsets from its start; 0 is never a context or a block.
//
// Damaged input cannot steer memory accesses: the decoder only chooses
// among symbols the model already holds, so the arena's structure is always
// one the encoder could have built.
#include "disk/PpmdModel.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace {

constexpr TABSPpmdLevel kLevels[9] = {{2, 2},  {3, 3},   {4, 7},    {5, 16},  {7, 22},
                                      {8, 25}, {10, 40}, {13, 100}, {16, 100}};

constexpr uint32_t kHeaderSize = 4;
constexpr uint32_t kVariantBits = 0x6000;  // ('G' - 'A') << 12
constexpr int kMaxOrder = 16;
constexpr int kMaxMemoryMiB = 100;

constexpr uint32_t kUnitSize = 12;
constexpr unsigned kMaxFreq = 124;
constexpr unsigned kIntBits = 7;
constexpr unsigned kPeriodBits = 7;
constexpr unsigned kBinScale = 1u << (kIntBits + kPeriodBits);
constexpr unsigned kNumIndexes = 38;
constexpr uint32_t kTop = 1u << 24;

constexpr uint16_t kInitBinEsc[8] = {0x3CDD, 0x1F3F, 0x59BF, 0x48F3, 0x64A1, 0x5ABC, 0x6632, 0x6051};
constexpr uint8_t kExpEscape[16] = {25, 14, 9, 7, 5, 5, 4, 4, 4, 3, 3, 3, 2, 2, 2, 2};

uint16_t Get16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}
uint32_t Get32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
void Put16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }
void Put32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

// One symbol of a context: 6 bytes, byte-aligned (symbol tables sit at any
// even offset inside a unit).
struct State {
  uint8_t symbol;
  uint8_t freq;
  uint8_t successor[4];
  uint32_t Successor() const { return Get32(successor); }
  void SetSuccessor(uint32_t ref) { Put32(successor, ref); }
};
static_assert(sizeof(State) == 6);

// A context, one unit:
//   0 uint16 NumStats   symbols held (1 = binary context)
//   2 uint16 SummFreq   sum of frequencies plus the escape count
//   4 uint32 Stats      reference of its symbol table (NumStats > 1)
//   8 uint32 Suffix     reference of the context one order shorter, 0 at order 0
// A binary context keeps its one State in bytes 2..7 instead.
struct Context {
  uint8_t raw[kUnitSize];
  unsigned NumStats() const { return Get16(raw); }
  void SetNumStats(unsigned n) { Put16(raw, static_cast<uint16_t>(n)); }
  unsigned SummFreq() const { return Get16(raw + 2); }
  void SetSummFreq(unsigned n) { Put16(raw + 2, static_cast<uint16_t>(n)); }
  uint32_t Stats() const { return Get32(raw + 4); }
  void SetStats(uint32_t ref) { Put32(raw + 4, ref); }
  uint32_t Suffix() const { return Get32(raw + 8); }
  void SetSuffix(uint32_t ref) { Put32(raw + 8, ref); }
  State* OneState() { return reinterpret_cast<State*>(raw + 2); }
};
static_assert(sizeof(Context) == kUnitSize);

// An adaptive escape estimator: Summ >> Shift is the escape frequency.
struct See {
  uint16_t summ;
  uint8_t shift;
  uint8_t count;
  void Update() {
    if (shift < kPeriodBits && --count == 0) {
      summ = static_cast<uint16_t>(summ << 1);
      count = static_cast<uint8_t>(3 << shift++);
    }
  }
};

// Output bytes in an engine memory block that grows by half when full.
class ByteSink {
 public:
  explicit ByteSink(int64_t capacity) : capacity_(std::max<int64_t>(capacity, 16)) {
    block_ = AllocBlock(static_cast<uint64_t>(capacity_));
  }
  void Put(uint8_t b) {
    if (size_ == capacity_) Grow(capacity_ + std::max<int64_t>(capacity_ / 2, 256));
    reinterpret_cast<uint8_t*>(block_.get())[size_++] = b;
  }
  void Grow(int64_t newCapacity) {
    void* p = block_.release();
    try {
      MemoryManager().ReallocMem(p, static_cast<uint64_t>(newCapacity), false);
    } catch (...) {
      block_.reset(static_cast<char*>(p));
      throw;
    }
    block_.reset(static_cast<char*>(p));
    capacity_ = newCapacity;
  }
  int64_t Size() const { return size_; }
  int64_t Capacity() const { return capacity_; }
  TABSMemBlock Release() { return std::move(block_); }

 private:
  TABSMemBlock block_;
  int64_t size_ = 0;
  int64_t capacity_;
};

class RangeEncoder {
 public:
  explicit RangeEncoder(ByteSink& out) : out_(out) {}
  void Encode(uint32_t start, uint32_t size, uint32_t total) {
    range_ /= total;
    low_ += static_cast<uint64_t>(start) * range_;
    range_ *= size;
    Normalize();
  }
  // prob0: probability of bit 0 in units of 1/kBinScale.
  void EncodeBit(unsigned bit, uint32_t prob0) {
    const uint32_t bound = (range_ >> (kIntBits + kPeriodBits)) * prob0;
    if (bit == 0) {
      range_ = bound;
    } else {
      low_ += bound;
      range_ -= bound;
    }
    Normalize();
  }
  void Flush() {
    for (int i = 0; i < 5; ++i) ShiftLow();
  }

 private:
  void Normalize() {
    while (range_ < kTop) {
      range_ <<= 8;
      ShiftLow();
    }
  }
  // Emits the top byte of low once no carry can change it any more; a run of
  // 0xFF bytes waits in cacheSize_ for the carry.
  void ShiftLow() {
    if (static_cast<uint32_t>(low_) < 0xFF000000u || (low_ >> 32) != 0) {
      uint8_t temp = cache_;
      do {
        out_.Put(static_cast<uint8_t>(temp + static_cast<uint8_t>(low_ >> 32)));
        temp = 0xFF;
      } while (--cacheSize_ != 0);
      cache_ = static_cast<uint8_t>(static_cast<uint32_t>(low_) >> 24);
    }
    ++cacheSize_;
    low_ = static_cast<uint32_t>(static_cast<uint32_t>(low_) << 8);
  }

  ByteSink& out_;
  uint64_t low_ = 0;
  uint32_t range_ = 0xFFFFFFFFu;
  uint8_t cache_ = 0;
  uint64_t cacheSize_ = 1;
};

class RangeDecoder {
 public:
  RangeDecoder(const uint8_t* in, int64_t size) : in_(in), size_(size) {}
  bool Init() {
    if (Next() != 0) return false;
    for (int i = 0; i < 4; ++i) code_ = (code_ << 8) | Next();
    return code_ < 0xFFFFFFFFu && !overrun_;
  }
  uint32_t Threshold(uint32_t total) {
    range_ /= total;
    return code_ / range_;
  }
  void Decode(uint32_t start, uint32_t size) {
    code_ -= start * range_;
    range_ *= size;
    Normalize();
  }
  unsigned DecodeBit(uint32_t prob0) {
    const uint32_t bound = (range_ >> (kIntBits + kPeriodBits)) * prob0;
    unsigned bit;
    if (code_ < bound) {
      range_ = bound;
      bit = 0;
    } else {
      code_ -= bound;
      range_ -= bound;
      bit = 1;
    }
    Normalize();
    return bit;
  }
  bool Overrun() const { return overrun_; }
  bool FinishedOK() const { return !overrun_ && pos_ == size_ && code_ == 0; }

 private:
  void Normalize() {
    while (range_ < kTop) {
      code_ = (code_ << 8) | Next();
      range_ <<= 8;
    }
  }
  // Past the end: zeros, and the decode is marked failed.
  uint32_t Next() {
    if (pos_ < size_) return in_[pos_++];
    overrun_ = true;
    return 0;
  }

  const uint8_t* in_;
  int64_t size_;
  int64_t pos_ = 0;
  uint32_t code_ = 0;
  uint32_t range_ = 0xFFFFFFFFu;
  bool overrun_ = false;
};

// Invariants of the model, kept by every update and relied on by the search
// loops (the decoder's included):
//  1. Every symbol of a context is also in its suffix context; the order-0
//     context holds all 256 symbols and has no suffix.
//  2. A context's symbol table holds NumStats states in
//     ceil(NumStats / 2) units; frequencies are 1..128 at rest.
//  3. Text, UnitsStart <= LoUnit <= HiUnit lie in the arena in that order;
//     every successor below UnitsStart points into the text area.
//  4. Free blocks are linked by the uint32 at their offset 0; the first
//     uint16 of a block in use is never 0 (NumStats, or symbol|freq << 8).
class TABSPpmdModel {
 public:
  TABSPpmdModel(int maxOrder, uint32_t memorySize) : maxOrder_(maxOrder), size_(memorySize) {
    // The arena: the model memory, then one unit for the sentinel node of
    // the block gluing. Nothing is written to it until it is used.
    arena_ = AllocBlock(static_cast<uint64_t>(size_) + kUnitSize);
    base_ = reinterpret_cast<uint8_t*>(arena_.get());
    BuildTables();
    Restart();
  }

  void EncodeSymbol(RangeEncoder& rc, int symbol);
  // The symbol, -1 at the end mark, -2 on data no encoder writes.
  int DecodeSymbol(RangeDecoder& rc);

 private:
  uint8_t* Ptr(uint32_t ref) const { return base_ + ref; }
  uint32_t Ref(const void* p) const { return static_cast<uint32_t>(static_cast<const uint8_t*>(p) - base_); }
  Context* Ctx(uint32_t ref) const { return reinterpret_cast<Context*>(base_ + ref); }
  State* Stats(const Context* c) const { return reinterpret_cast<State*>(base_ + c->Stats()); }
  Context* Suffix(const Context* c) const { return Ctx(c->Suffix()); }
  uint32_t UnitsToBytes(unsigned units) const { return units * kUnitSize; }
  unsigned UnitsToIndex(unsigned units) const { return units2Indx_[units - 1]; }
  unsigned IndexToUnits(unsigned indx) const { return indx2Units_[indx]; }

  void BuildTables();
  void Restart();

  // Sub-allocator.
  void InsertNode(void* node, unsigned indx);
  void* RemoveNode(unsigned indx);
  void SplitBlock(void* ptr, unsigned oldIndx, unsigned newIndx);
  void GlueFreeBlocks();
  void* AllocUnitsRare(unsigned indx);
  void* AllocUnits(unsigned indx);
  void* ShrinkUnits(void* oldPtr, unsigned oldNU, unsigned newNU);

  // Model updates.
  Context* CreateSuccessors(bool skip);
  void UpdateModel();
  void Rescale();
  void NextContext();
  void Update1();
  void Update1_0();
  void Update2();
  void UpdateBin();
  uint16_t* BinSumm();
  See* MakeEscFreq(unsigned numMasked, uint32_t& escFreq);

  TABSMemBlock arena_;
  uint8_t* base_ = nullptr;
  int maxOrder_;
  uint32_t size_;

  Context* minContext_ = nullptr;
  Context* maxContext_ = nullptr;
  State* foundState_ = nullptr;
  unsigned orderFall_ = 0;
  unsigned initEsc_ = 0;
  unsigned prevSuccess_ = 0;
  unsigned hiBitsFlag_ = 0;
  int32_t runLength_ = 0;
  int32_t initRL_ = 0;

  uint8_t* text_ = nullptr;
  uint8_t* unitsStart_ = nullptr;
  uint8_t* loUnit_ = nullptr;
  uint8_t* hiUnit_ = nullptr;
  unsigned glueCount_ = 0;
  uint32_t freeList_[kNumIndexes] = {};

  uint8_t indx2Units_[kNumIndexes] = {};
  uint8_t units2Indx_[128] = {};
  uint8_t ns2Indx_[256] = {};
  uint8_t ns2BSIndx_[256] = {};
  uint8_t hb2Flag_[256] = {};
  See dummySee_ = {};
  See see_[25][16] = {};
  uint16_t binSumm_[128][64] = {};
};

void TABSPpmdModel::BuildTables() {
  // Block sizes of the free lists: steps of 1, 2, 3 units four times each,
  // then steps of 4 up to 128 units.
  for (unsigned i = 0, k = 0; i < kNumIndexes; ++i) {
    unsigned step = i >= 12 ? 4 : (i >> 2) + 1;
    do {
      units2Indx_[k++] = static_cast<uint8_t>(i);
    } while (--step != 0);
    indx2Units_[i] = static_cast<uint8_t>(k);
  }
  ns2BSIndx_[0] = 0 << 1;
  ns2BSIndx_[1] = 1 << 1;
  std::memset(ns2BSIndx_ + 2, 2 << 1, 9);
  std::memset(ns2BSIndx_ + 11, 3 << 1, 256 - 11);
  unsigned i = 0;
  for (; i < 3; ++i) ns2Indx_[i] = static_cast<uint8_t>(i);
  for (unsigned m = i, k = 1; i < 256; ++i) {
    ns2Indx_[i] = static_cast<uint8_t>(m);
    if (--k == 0) k = (++m) - 2;
  }
  std::memset(hb2Flag_, 0, 0x40);
  std::memset(hb2Flag_ + 0x40, 8, 0x100 - 0x40);
  dummySee_.shift = kPeriodBits;
  dummySee_.summ = 0;
  dummySee_.count = 64;
}

void TABSPpmdModel::Restart() {
  std::fill(std::begin(freeList_), std::end(freeList_), 0u);
  text_ = base_;
  hiUnit_ = text_ + size_;
  loUnit_ = unitsStart_ = hiUnit_ - size_ / 8 / kUnitSize * 7 * kUnitSize;
  glueCount_ = 0;

  orderFall_ = static_cast<unsigned>(maxOrder_);
  runLength_ = initRL_ = -(maxOrder_ < 12 ? maxOrder_ : 12) - 1;
  prevSuccess_ = 0;

  hiUnit_ -= kUnitSize;
  minContext_ = maxContext_ = reinterpret_cast<Context*>(hiUnit_);
  minContext_->SetSuffix(0);
  minContext_->SetNumStats(256);
  minContext_->SetSummFreq(256 + 1);
  foundState_ = reinterpret_cast<State*>(loUnit_);
  minContext_->SetStats(Ref(loUnit_));
  loUnit_ += UnitsToBytes(256 / 2);
  for (unsigned i = 0; i < 256; ++i) {
    State* s = foundState_ + i;
    s->symbol = static_cast<uint8_t>(i);
    s->freq = 1;
    s->SetSuccessor(0);
  }
  for (unsigned i = 0; i < 128; ++i)
    for (unsigned k = 0; k < 8; ++k) {
      const auto val = static_cast<uint16_t>(kBinScale - kInitBinEsc[k] / (i + 2));
      for (unsigned m = 0; m < 64; m += 8) binSumm_[i][k + m] = val;
    }
  for (unsigned i = 0; i < 25; ++i)
    for (unsigned k = 0; k < 16; ++k) {
      See& s = see_[i][k];
      s.shift = kPeriodBits - 4;
      s.summ = static_cast<uint16_t>((5 * i + 10) << s.shift);
      s.count = 4;
    }
}

// --- sub-allocator -------------------------------------------------------

void TABSPpmdModel::InsertNode(void* node, unsigned indx) {
  Put32(static_cast<uint8_t*>(node), freeList_[indx]);
  freeList_[indx] = Ref(node);
}

void* TABSPpmdModel::RemoveNode(unsigned indx) {
  uint8_t* node = Ptr(freeList_[indx]);
  freeList_[indx] = Get32(node);
  return node;
}

// Returns the tail of a block of oldIndx units beyond newIndx units to the
// free lists (one or two blocks).
void TABSPpmdModel::SplitBlock(void* ptr, unsigned oldIndx, unsigned newIndx) {
  unsigned nu = IndexToUnits(oldIndx) - IndexToUnits(newIndx);
  uint8_t* p = static_cast<uint8_t*>(ptr) + UnitsToBytes(IndexToUnits(newIndx));
  unsigned i = UnitsToIndex(nu);
  if (IndexToUnits(i) != nu) {
    const unsigned k = IndexToUnits(--i);
    InsertNode(p + UnitsToBytes(k), nu - k - 1);
  }
  InsertNode(p, i);
}

// Free block while gluing, one or more units:
//   0 uint16 Stamp  0 = free (a block in use never starts with 0)
//   2 uint16 NU     units in the block
//   4 uint32 Next, 8 uint32 Prev   a ring through the sentinel at the arena's end
void TABSPpmdModel::GlueFreeBlocks() {
  auto stamp = [&](uint32_t ref) { return Get16(Ptr(ref)); };
  auto units = [&](uint32_t ref) { return Get16(Ptr(ref) + 2); };
  auto next = [&](uint32_t ref) { return Get32(Ptr(ref) + 4); };
  auto prev = [&](uint32_t ref) { return Get32(Ptr(ref) + 8); };
  auto setNext = [&](uint32_t ref, uint32_t v) { Put32(Ptr(ref) + 4, v); };
  auto setPrev = [&](uint32_t ref, uint32_t v) { Put32(Ptr(ref) + 8, v); };

  const uint32_t head = size_;
  uint32_t n = head;
  glueCount_ = 255;

  // Every free block into one ring, stamped free with its size.
  for (unsigned i = 0; i < kNumIndexes; ++i) {
    const auto nu = static_cast<uint16_t>(IndexToUnits(i));
    uint32_t ref = freeList_[i];
    freeList_[i] = 0;
    while (ref != 0) {
      uint8_t* node = Ptr(ref);
      const uint32_t following = Get32(node);
      setNext(ref, n);
      setPrev(n, ref);
      n = ref;
      Put16(node, 0);
      Put16(node + 2, nu);
      ref = following;
    }
  }
  Put16(Ptr(head), 1);
  setNext(head, n);
  setPrev(n, head);
  // The gap between LoUnit and HiUnit is not free for gluing.
  if (loUnit_ != hiUnit_) Put16(loUnit_, 1);

  // Merge each free block with the free blocks that follow it in memory.
  while (n != head) {
    uint32_t nu = units(n);
    for (;;) {
      const uint32_t n2 = n + nu * kUnitSize;
      nu += units(n2);
      if (stamp(n2) != 0 || nu >= 0x10000) break;
      setNext(prev(n2), next(n2));
      setPrev(next(n2), prev(n2));
      Put16(Ptr(n) + 2, static_cast<uint16_t>(nu));
    }
    n = next(n);
  }

  // Back into the free lists, cut into list sizes.
  for (n = next(head); n != head;) {
    uint8_t* node = Ptr(n);
    const uint32_t following = next(n);
    unsigned nu = units(n);
    for (; nu > 128; nu -= 128, node += UnitsToBytes(128)) InsertNode(node, kNumIndexes - 1);
    unsigned i = UnitsToIndex(nu);
    if (IndexToUnits(i) != nu) {
      const unsigned k = IndexToUnits(--i);
      InsertNode(node + UnitsToBytes(k), nu - k - 1);
    }
    InsertNode(node, i);
    n = following;
  }
}

void* TABSPpmdModel::AllocUnitsRare(unsigned indx) {
  if (glueCount_ == 0) {
    GlueFreeBlocks();
    if (freeList_[indx] != 0) return RemoveNode(indx);
  }
  unsigned i = indx;
  do {
    if (++i == kNumIndexes) {
      const uint32_t numBytes = UnitsToBytes(IndexToUnits(indx));
      --glueCount_;
      if (static_cast<uint32_t>(unitsStart_ - text_) > numBytes) return unitsStart_ -= numBytes;
      return nullptr;
    }
  } while (freeList_[i] == 0);
  void* block = RemoveNode(i);
  SplitBlock(block, i, indx);
  return block;
}

void* TABSPpmdModel::AllocUnits(unsigned indx) {
  if (freeList_[indx] != 0) return RemoveNode(indx);
  const uint32_t numBytes = UnitsToBytes(IndexToUnits(indx));
  if (numBytes <= static_cast<uint32_t>(hiUnit_ - loUnit_)) {
    void* block = loUnit_;
    loUnit_ += numBytes;
    return block;
  }
  return AllocUnitsRare(indx);
}

void* TABSPpmdModel::ShrinkUnits(void* oldPtr, unsigned oldNU, unsigned newNU) {
  const unsigned i0 = UnitsToIndex(oldNU);
  const unsigned i1 = UnitsToIndex(newNU);
  if (i0 == i1) return oldPtr;
  if (freeList_[i1] != 0) {
    void* block = RemoveNode(i1);
    std::memcpy(block, oldPtr, UnitsToBytes(newNU));
    InsertNode(oldPtr, i0);
    return block;
  }
  SplitBlock(oldPtr, i0, i1);
  return oldPtr;
}

// --- model updates -------------------------------------------------------

// Turns the raw successor of foundState_ (a position in the text) into real
// contexts: one binary context per order from the first suffix whose
// successor is already a context, up to minContext_'s order + 1.
Context* TABSPpmdModel::CreateSuccessors(bool skip) {
  Context* c = minContext_;
  const uint32_t upBranch = foundState_->Successor();
  // One state per order walked: at most MaxOrder + 1 of them.
  constexpr unsigned kMaxPs = 64;
  State* ps[kMaxPs];
  unsigned numPs = 0;
  if (!skip) ps[numPs++] = foundState_;

  while (c->Suffix() != 0) {
    c = Suffix(c);
    State* s;
    if (c->NumStats() != 1) {
      for (s = Stats(c); s->symbol != foundState_->symbol; ++s) {
      }
    } else {
      s = c->OneState();
    }
    const uint32_t successor = s->Successor();
    if (successor != upBranch) {
      c = Ctx(successor);
      if (numPs == 0) return c;
      break;
    }
    if (numPs == kMaxPs) throw std::logic_error("PPMd model: a suffix chain longer than the order");
    ps[numPs++] = s;
  }

  State upState;
  upState.symbol = *Ptr(upBranch);
  upState.SetSuccessor(upBranch + 1);
  if (c->NumStats() == 1) {
    upState.freq = c->OneState()->freq;
  } else {
    State* s;
    for (s = Stats(c); s->symbol != upState.symbol; ++s) {
    }
    const uint32_t cf = s->freq - 1u;
    const uint32_t s0 = c->SummFreq() - c->NumStats() - cf;
    upState.freq = static_cast<uint8_t>(1 + ((2 * cf <= s0) ? (5 * cf > s0) : ((2 * cf + 3 * s0 - 1) / (2 * s0))));
  }

  do {
    Context* c1;
    if (hiUnit_ != loUnit_) {
      c1 = reinterpret_cast<Context*>(hiUnit_ -= kUnitSize);
    } else if (freeList_[0] != 0) {
      c1 = static_cast<Context*>(RemoveNode(0));
    } else {
      c1 = static_cast<Context*>(AllocUnitsRare(0));
      if (c1 == nullptr) return nullptr;
    }
    c1->SetNumStats(1);
    *c1->OneState() = upState;
    c1->SetSuffix(Ref(c));
    ps[--numPs]->SetSuccessor(Ref(c1));
    c = c1;
  } while (numPs != 0);
  return c;
}

void TABSPpmdModel::UpdateModel() {
  uint32_t fSuccessor = foundState_->Successor();
  const uint8_t fSymbol = foundState_->symbol;
  const unsigned fFreq = foundState_->freq;

  // The suffix context learns the symbol too.
  if (fFreq < kMaxFreq / 4 && minContext_->Suffix() != 0) {
    Context* c = Suffix(minContext_);
    if (c->NumStats() == 1) {
      State* s = c->OneState();
      if (s->freq < 32) ++s->freq;
    } else {
      State* s = Stats(c);
      if (s->symbol != fSymbol) {
        do {
          ++s;
        } while (s->symbol != fSymbol);
        if (s[0].freq >= s[-1].freq) {
          std::swap(s[0], s[-1]);
          --s;
        }
      }
      if (s->freq < kMaxFreq - 9) {
        s->freq = static_cast<uint8_t>(s->freq + 2);
        c->SetSummFreq(c->SummFreq() + 2);
      }
    }
  }

  if (orderFall_ == 0) {
    minContext_ = maxContext_ = CreateSuccessors(true);
    if (minContext_ == nullptr) return Restart();
    foundState_->SetSuccessor(Ref(minContext_));
    return;
  }

  *text_++ = fSymbol;
  uint32_t successor = Ref(text_);
  if (text_ >= unitsStart_) return Restart();

  if (fSuccessor != 0) {
    if (fSuccessor <= successor) {  // still a text position: make it a context
      Context* cs = CreateSuccessors(false);
      if (cs == nullptr) return Restart();
      fSuccessor = Ref(cs);
    }
    if (--orderFall_ == 0) {
      successor = fSuccessor;
      text_ -= (maxContext_ != minContext_);
    }
  } else {
    foundState_->SetSuccessor(successor);
    fSuccessor = Ref(minContext_);
  }

  const unsigned ns = minContext_->NumStats();
  const unsigned s0 = minContext_->SummFreq() - ns - (fFreq - 1);

  for (Context* c = maxContext_; c != minContext_; c = Suffix(c)) {
    const unsigned ns1 = c->NumStats();
    if (ns1 != 1) {
      if ((ns1 & 1) == 0) {  // the table fills its last unit: one unit more
        const unsigned oldNU = ns1 >> 1;
        const unsigned i = UnitsToIndex(oldNU);
        if (i != UnitsToIndex(oldNU + 1)) {
          void* block = AllocUnits(i + 1);
          if (block == nullptr) return Restart();
          void* oldPtr = Stats(c);
          std::memcpy(block, oldPtr, UnitsToBytes(oldNU));
          InsertNode(oldPtr, i);
          c->SetStats(Ref(block));
        }
      }
      c->SetSummFreq(c->SummFreq() + (2 * ns1 < ns) + 2 * ((4 * ns1 <= ns) & (c->SummFreq() <= 8 * ns1)));
    } else {
      auto* s = static_cast<State*>(AllocUnits(0));
      if (s == nullptr) return Restart();
      *s = *c->OneState();
      c->SetStats(Ref(s));
      if (s->freq < kMaxFreq / 4 - 1)
        s->freq = static_cast<uint8_t>(s->freq << 1);
      else
        s->freq = kMaxFreq - 4;
      c->SetSummFreq(s->freq + initEsc_ + (ns > 3));
    }
    uint32_t cf = 2 * fFreq * (c->SummFreq() + 6);
    const uint32_t sf = s0 + c->SummFreq();
    if (cf < 6 * sf) {
      cf = 1 + (cf > sf) + (cf >= 4 * sf);
      c->SetSummFreq(c->SummFreq() + 3);
    } else {
      cf = 4 + (cf >= 9 * sf) + (cf >= 12 * sf) + (cf >= 15 * sf);
      c->SetSummFreq(c->SummFreq() + cf);
    }
    State* s = Stats(c) + ns1;
    s->SetSuccessor(successor);
    s->symbol = fSymbol;
    s->freq = static_cast<uint8_t>(cf);
    c->SetNumStats(ns1 + 1);
  }
  maxContext_ = minContext_ = Ctx(fSuccessor);
}

// Halves the frequencies of minContext_ (foundState_ moved to the front and
// kept ahead), drops symbols that fall to 0 and shrinks the table.
void TABSPpmdModel::Rescale() {
  State* stats = Stats(minContext_);
  State* s = foundState_;
  {
    const State tmp = *s;
    for (; s != stats; --s) s[0] = s[-1];
    *s = tmp;
  }
  unsigned escFreq = minContext_->SummFreq() - s->freq;
  s->freq = static_cast<uint8_t>(s->freq + 4);
  const unsigned adder = orderFall_ != 0;
  s->freq = static_cast<uint8_t>((s->freq + adder) >> 1);
  unsigned sumFreq = s->freq;

  unsigned i = minContext_->NumStats() - 1;
  do {
    escFreq -= (++s)->freq;
    s->freq = static_cast<uint8_t>((s->freq + adder) >> 1);
    sumFreq += s->freq;
    if (s[0].freq > s[-1].freq) {
      State* s1 = s;
      const State tmp = *s1;
      do {
        s1[0] = s1[-1];
      } while (--s1 != stats && tmp.freq > s1[-1].freq);
      *s1 = tmp;
    }
  } while (--i != 0);

  if (s->freq == 0) {
    const unsigned numStats = minContext_->NumStats();
    do {
      ++i;
    } while ((--s)->freq == 0);
    escFreq += i;
    minContext_->SetNumStats(numStats - i);
    if (minContext_->NumStats() == 1) {
      State tmp = *stats;
      do {
        tmp.freq = static_cast<uint8_t>(tmp.freq - (tmp.freq >> 1));
        escFreq >>= 1;
      } while (escFreq > 1);
      InsertNode(stats, UnitsToIndex((numStats + 1) >> 1));
      *(foundState_ = minContext_->OneState()) = tmp;
      return;
    }
    const unsigned n0 = (numStats + 1) >> 1;
    const unsigned n1 = (minContext_->NumStats() + 1) >> 1;
    if (n0 != n1) minContext_->SetStats(Ref(ShrinkUnits(stats, n0, n1)));
  }
  minContext_->SetSummFreq(sumFreq + escFreq - (escFreq >> 1));
  foundState_ = Stats(minContext_);
}

void TABSPpmdModel::NextContext() {
  Context* c = Ctx(foundState_->Successor());
  if (orderFall_ == 0 && reinterpret_cast<uint8_t*>(c) > text_)
    minContext_ = maxContext_ = c;
  else
    UpdateModel();
}

// Found at a position after the first in a multi-symbol context.
void TABSPpmdModel::Update1() {
  State* s = foundState_;
  s->freq = static_cast<uint8_t>(s->freq + 4);
  minContext_->SetSummFreq(minContext_->SummFreq() + 4);
  if (s[0].freq > s[-1].freq) {
    std::swap(s[0], s[-1]);
    foundState_ = --s;
    if (s->freq > kMaxFreq) Rescale();
  }
  NextContext();
}

// Found first in a multi-symbol context.
void TABSPpmdModel::Update1_0() {
  prevSuccess_ = 2u * foundState_->freq > minContext_->SummFreq();
  runLength_ += static_cast<int32_t>(prevSuccess_);
  minContext_->SetSummFreq(minContext_->SummFreq() + 4);
  foundState_->freq = static_cast<uint8_t>(foundState_->freq + 4);
  if (foundState_->freq > kMaxFreq) Rescale();
  NextContext();
}

// Found after escapes.
void TABSPpmdModel::Update2() {
  State* s = foundState_;
  s->freq = static_cast<uint8_t>(s->freq + 4);
  minContext_->SetSummFreq(minContext_->SummFreq() + 4);
  if (s->freq > kMaxFreq) Rescale();
  runLength_ = initRL_;
  UpdateModel();
}

// Found in a binary context.
void TABSPpmdModel::UpdateBin() {
  foundState_->freq = static_cast<uint8_t>(foundState_->freq + (foundState_->freq < 128 ? 1 : 0));
  prevSuccess_ = 1;
  ++runLength_;
  NextContext();
}

uint16_t* TABSPpmdModel::BinSumm() {
  State* s = minContext_->OneState();
  hiBitsFlag_ = hb2Flag_[foundState_->symbol];
  const unsigned freq = std::clamp<unsigned>(s->freq, 1, 128);
  return &binSumm_[freq - 1][prevSuccess_ + ns2BSIndx_[Suffix(minContext_)->NumStats() - 1] + hiBitsFlag_ +
                             2 * hb2Flag_[s->symbol] + ((runLength_ >> 26) & 0x20)];
}

See* TABSPpmdModel::MakeEscFreq(unsigned numMasked, uint32_t& escFreq) {
  const unsigned numStats = minContext_->NumStats();
  if (numStats == 256) {
    escFreq = 1;
    return &dummySee_;
  }
  const unsigned nonMasked = numStats - numMasked;
  if (nonMasked == 0 || nonMasked > 256) throw std::logic_error("PPMd model: a suffix context lost symbols");
  See* see = see_[ns2Indx_[nonMasked - 1]] + (nonMasked < Suffix(minContext_)->NumStats() - numStats) +
             2 * (minContext_->SummFreq() < 11 * numStats) + 4 * (numMasked > nonMasked) + hiBitsFlag_;
  const unsigned r = see->summ >> see->shift;
  see->summ = static_cast<uint16_t>(see->summ - r);
  escFreq = r + (r == 0);
  return see;
}

void UpdateProb0(uint16_t& prob) {
  prob = static_cast<uint16_t>(prob + (1u << kIntBits) - ((prob + (1u << (kPeriodBits - 2))) >> kPeriodBits));
}
void UpdateProb1(uint16_t& prob) {
  prob = static_cast<uint16_t>(prob - ((prob + (1u << (kPeriodBits - 2))) >> kPeriodBits));
}

// --- coding --------------------------------------------------------------

void TABSPpmdModel::EncodeSymbol(RangeEncoder& rc, int symbol) {
  uint8_t masked[256];
  if (minContext_->NumStats() != 1) {
    State* s = Stats(minContext_);
    const unsigned summFreq = minContext_->SummFreq();
    if (s->symbol == symbol) {
      rc.Encode(0, s->freq, summFreq);
      foundState_ = s;
      return Update1_0();
    }
    prevSuccess_ = 0;
    uint32_t sum = s->freq;
    for (unsigned i = minContext_->NumStats() - 1; i != 0; --i) {
      if ((++s)->symbol == symbol) {
        rc.Encode(sum, s->freq, summFreq);
        foundState_ = s;
        return Update1();
      }
      sum += s->freq;
    }
    hiBitsFlag_ = hb2Flag_[foundState_->symbol];
    std::memset(masked, 0, sizeof masked);
    for (State* t = Stats(minContext_); t <= s; ++t) masked[t->symbol] = 1;
    rc.Encode(sum, summFreq - sum, summFreq);
  } else {
    uint16_t* prob = BinSumm();
    State* s = minContext_->OneState();
    if (s->symbol == symbol) {
      rc.EncodeBit(0, *prob);
      UpdateProb0(*prob);
      foundState_ = s;
      return UpdateBin();
    }
    rc.EncodeBit(1, *prob);
    UpdateProb1(*prob);
    initEsc_ = kExpEscape[*prob >> 10];
    std::memset(masked, 0, sizeof masked);
    masked[s->symbol] = 1;
    prevSuccess_ = 0;
  }
  for (;;) {
    const unsigned numMasked = minContext_->NumStats();
    do {
      ++orderFall_;
      if (minContext_->Suffix() == 0) return;  // the end mark
      minContext_ = Suffix(minContext_);
    } while (minContext_->NumStats() == numMasked);

    uint32_t escFreq;
    See* see = MakeEscFreq(numMasked, escFreq);
    State* s = Stats(minContext_);
    State* found = nullptr;
    uint32_t sum = 0, low = 0;
    for (unsigned i = minContext_->NumStats(); i != 0; --i, ++s) {
      if (masked[s->symbol]) continue;
      if (s->symbol == symbol) {
        low = sum;
        found = s;
      }
      sum += s->freq;
      masked[s->symbol] = 1;
    }
    if (found != nullptr) {
      rc.Encode(low, found->freq, sum + escFreq);
      see->Update();
      foundState_ = found;
      return Update2();
    }
    rc.Encode(sum, escFreq, sum + escFreq);
    see->summ = static_cast<uint16_t>(see->summ + sum + escFreq);
  }
}

int TABSPpmdModel::DecodeSymbol(RangeDecoder& rc) {
  uint8_t masked[256];
  if (minContext_->NumStats() != 1) {
    State* s = Stats(minContext_);
    const unsigned summFreq = minContext_->SummFreq();
    if (summFreq == 0) return -2;
    const uint32_t count = rc.Threshold(summFreq);
    uint32_t hiCnt = s->freq;
    if (count < hiCnt) {
      rc.Decode(0, s->freq);
      foundState_ = s;
      const int symbol = s->symbol;
      Update1_0();
      return symbol;
    }
    prevSuccess_ = 0;
    for (unsigned i = minContext_->NumStats() - 1; i != 0; --i) {
      if ((hiCnt += (++s)->freq) > count) {
        rc.Decode(hiCnt - s->freq, s->freq);
        foundState_ = s;
        const int symbol = s->symbol;
        Update1();
        return symbol;
      }
    }
    if (count >= summFreq) return -2;
    hiBitsFlag_ = hb2Flag_[foundState_->symbol];
    rc.Decode(hiCnt, summFreq - hiCnt);
    std::memset(masked, 0, sizeof masked);
    for (State* t = Stats(minContext_); t <= s; ++t) masked[t->symbol] = 1;
  } else {
    uint16_t* prob = BinSumm();
    if (rc.DecodeBit(*prob) == 0) {
      UpdateProb0(*prob);
      foundState_ = minContext_->OneState();
      const int symbol = foundState_->symbol;
      UpdateBin();
      return symbol;
    }
    UpdateProb1(*prob);
    initEsc_ = kExpEscape[*prob >> 10];
    std::memset(masked, 0, sizeof masked);
    masked[minContext_->OneState()->symbol] = 1;
    prevSuccess_ = 0;
  }
  for (;;) {
    const unsigned numMasked = minContext_->NumStats();
    do {
      ++orderFall_;
      if (minContext_->Suffix() == 0) return -1;
      minContext_ = Suffix(minContext_);
    } while (minContext_->NumStats() == numMasked);

    State* ps[256];
    unsigned num = 0;
    uint32_t hiCnt = 0;
    State* s = Stats(minContext_);
    for (unsigned i = minContext_->NumStats(); i != 0 && num < 256; --i, ++s) {
      if (masked[s->symbol]) continue;
      hiCnt += s->freq;
      ps[num++] = s;
    }
    uint32_t freqSum;
    See* see = MakeEscFreq(numMasked, freqSum);
    freqSum += hiCnt;
    const uint32_t count = rc.Threshold(freqSum);
    if (count < hiCnt) {
      State** pps = ps;
      for (hiCnt = 0; (hiCnt += (*pps)->freq) <= count; ++pps) {
      }
      s = *pps;
      rc.Decode(hiCnt - s->freq, s->freq);
      see->Update();
      foundState_ = s;
      const int symbol = s->symbol;
      Update2();
      return symbol;
    }
    if (count >= freqSum) return -2;
    rc.Decode(hiCnt, freqSum - hiCnt);
    see->summ = static_cast<uint16_t>(see->summ + freqSum);
    for (unsigned i = 0; i < num; ++i) masked[ps[i]->symbol] = 1;
  }
}

}  // namespace

TABSPpmdLevel PpmdLevelParameters(uint8_t level) {
  if (level < 1 || level > 9) throw std::invalid_argument("PpmdLevelParameters: level outside 1..9");
  return kLevels[level - 1];
}

bool PpmdCompress(uint8_t level, const uint8_t* in, int64_t inSize, TABSMemBlock& out, int64_t& outSize) {
  outSize = 0;
  out.reset();
  if (level < 1 || level > 9 || inSize < 0 || (inSize > 0 && in == nullptr)) return false;
  const TABSPpmdLevel p = kLevels[level - 1];
  ByteSink sink(inSize + inSize / 20 + 50);
  const uint32_t word =
      static_cast<uint32_t>(p.order - 1) | (static_cast<uint32_t>(p.memoryMiB - 1) << 4) | kVariantBits;
  for (uint32_t i = 0; i < kHeaderSize; ++i) sink.Put(static_cast<uint8_t>(word >> (8 * i)));
  TABSPpmdModel model(p.order, static_cast<uint32_t>(p.memoryMiB) << 20);
  RangeEncoder rc(sink);
  for (int64_t i = 0; i < inSize; ++i) model.EncodeSymbol(rc, in[i]);
  model.EncodeSymbol(rc, -1);
  rc.Flush();
  outSize = sink.Size();
  out = sink.Release();
  return true;
}

bool PpmdDecompress(const uint8_t* in, int64_t inSize, int64_t& outSize, TABSMemBlock& out, int64_t maxOut) {
  const int64_t expected = outSize;
  outSize = 0;
  out.reset();
  if (in == nullptr || inSize < static_cast<int64_t>(kHeaderSize) + 5 || maxOut < 0) return false;
  const uint32_t word = in[0] | (in[1] << 8) | (in[2] << 16) | (static_cast<uint32_t>(in[3]) << 24);
  if ((word >> 12) + 'A' != 'G') return false;
  const int order = static_cast<int>(word & 0xF) + 1;
  const int memoryMiB = static_cast<int>((word >> 4) & 0xFF) + 1;
  if (order < 2 || order > kMaxOrder || memoryMiB > kMaxMemoryMiB) return false;

  RangeDecoder rc(in + kHeaderSize, inSize - kHeaderSize);
  if (!rc.Init()) return false;
  ByteSink sink(std::clamp<int64_t>(expected, 1, std::max<int64_t>(maxOut, 1)));
  TABSPpmdModel model(order, static_cast<uint32_t>(memoryMiB) << 20);
  for (;;) {
    const int symbol = model.DecodeSymbol(rc);
    if (symbol == -1) break;
    if (symbol < 0 || rc.Overrun() || sink.Size() >= maxOut) return false;
    if (sink.Size() == sink.Capacity())
      sink.Grow(std::min<int64_t>(sink.Capacity() + std::max<int64_t>(sink.Capacity() / 2, 256), maxOut));
    sink.Put(static_cast<uint8_t>(symbol));
  }
  if (!rc.FinishedOK()) return false;
  outSize = sink.Size();
  out = sink.Release();
  return true;
}
