#include "core/ZUDBitsArray.h"

#include <algorithm>
#include <bit>

#include "core/ZUDBytes.h"
#include "core/ZUDExcept.h"
#include "core/ZUDStream.h"

namespace {
int PopCount(uint8_t b) { return std::popcount(static_cast<unsigned>(b)); }
}  // namespace

void TABSBitsArray::Resize(int64_t count) {
  if (count < 0) count = 0;
  const int64_t oldCount = count_;
  bytes_.resize(static_cast<size_t>((count + 7) / 8), 0);
  count_ = count;
  if (count < oldCount) {
    // Bits past the new end must read as clear if the array grows again.
    if (count % 8 != 0) bytes_.back() &= static_cast<uint8_t>((1u << (count % 8)) - 1);
    setCount_ = 0;
    for (uint8_t b : bytes_) setCount_ += PopCount(b);
  }
}

bool TABSBitsArray::Get(int64_t bit) const {
  if (bit < 0 || bit >= count_)
    throw EABSException(10394, "Invalid bit no = %d, number of bits = %d",
                        {static_cast<long long>(bit), static_cast<long long>(count_)});
  return (bytes_[static_cast<size_t>(bit / 8)] >> (bit % 8)) & 1;
}

void TABSBitsArray::Set(int64_t bit, bool value) {
  if (bit < 0 || bit >= count_)
    throw EABSException(10395, "Invalid bit no = %d, number of bits = %d",
                        {static_cast<long long>(bit), static_cast<long long>(count_)});
  uint8_t& byte = bytes_[static_cast<size_t>(bit / 8)];
  const uint8_t mask = static_cast<uint8_t>(1u << (bit % 8));
  if (((byte & mask) != 0) == value) return;
  byte ^= mask;
  setCount_ += value ? 1 : -1;
}

void TABSBitsArray::SetGrowing(int64_t bit, bool value) {
  if (bit >= count_ && bit >= 0) {
    if (!value) return;  // bits past the end read as clear already
    Resize(bit + 1);
  }
  Set(bit, value);
}

void TABSBitsArray::SetAll(bool value) {
  std::fill(bytes_.begin(), bytes_.end(), value ? 0xFF : 0x00);
  if (value && count_ % 8 != 0) bytes_.back() = static_cast<uint8_t>((1u << (count_ % 8)) - 1);
  setCount_ = value ? count_ : 0;
}

int64_t TABSBitsArray::SetBitsBefore(int64_t position) const {
  if (position <= 0) return 0;
  if (position >= count_) return setCount_;
  if (setCount_ == count_) return position;
  int64_t n = 0;
  const size_t whole = static_cast<size_t>(position / 8);
  for (size_t i = 0; i < whole; ++i) n += PopCount(bytes_[i]);
  if (position % 8 != 0) n += PopCount(static_cast<uint8_t>(bytes_[whole] & ((1u << (position % 8)) - 1)));
  return n;
}

int64_t TABSBitsArray::NthSetBit(int64_t n) const {
  if (n < 1 || n > setCount_)
    throw EABSException(10428, "Invalid bit no = %d, number of bits = %d",
                        {static_cast<long long>(n), static_cast<long long>(setCount_)});
  if (setCount_ == count_) return n - 1;
  int64_t seen = 0;
  for (size_t i = 0; i < bytes_.size(); ++i) {
    const int here = PopCount(bytes_[i]);
    if (seen + here < n) {
      seen += here;
      continue;
    }
    for (int b = 0; b < 8; ++b)
      if ((bytes_[i] >> b) & 1)
        if (++seen == n) return static_cast<int64_t>(i) * 8 + b;
  }
  return -1;  // unreachable while contract 1 holds
}

int64_t TABSBitsArray::FindFirst(bool value, int64_t from) const {
  for (int64_t i = from < 0 ? 0 : from; i < count_; ++i) {
    const uint8_t byte = bytes_[static_cast<size_t>(i / 8)];
    if (i % 8 == 0 && byte == (value ? 0x00 : 0xFF)) {
      i += 7;
      continue;
    }
    if ((((byte >> (i % 8)) & 1) != 0) == value) return i;
  }
  return -1;
}

int64_t TABSBitsArray::NextSetBit(int64_t position) const {
  return position + 1 >= count_ ? -1 : FindFirst(true, position + 1);
}

int64_t TABSBitsArray::PriorSetBit(int64_t position) const {
  for (int64_t i = (position > count_ ? count_ : position) - 1; i >= 0; --i) {
    const uint8_t byte = bytes_[static_cast<size_t>(i / 8)];
    if (i % 8 == 7 && byte == 0) {
      i -= 7;
      continue;
    }
    if ((byte >> (i % 8)) & 1) return i;
  }
  return -1;
}

// ---- stream form (contract 5) -----------------------------------------------

void TABSBitsArray::SaveToStream(TABSStream& stream) const {
  if (count_ > INT32_MAX)
    throw EABSException(10400,
                        "Cannot write to stream. Position = %d, Stream size = %d, Block size = %d, Bytes Write = %d",
                        {static_cast<long long>(stream.Position()), static_cast<long long>(stream.Size()),
                         static_cast<long long>(8 + bytes_.size()), 0LL});
  std::vector<uint8_t> out(8 + bytes_.size());
  zud::PutU32(out.data() + 0, static_cast<uint32_t>(count_));
  zud::PutU32(out.data() + 4, static_cast<uint32_t>(setCount_));
  std::copy(bytes_.begin(), bytes_.end(), out.begin() + 8);
  WriteStreamExact(stream, out.data(), static_cast<int64_t>(out.size()), 10427);
}

void TABSBitsArray::LoadFromStream(TABSStream& stream) {
  uint8_t header[8];
  ReadStreamExact(stream, header, sizeof header, 10426);
  const int32_t count = zud::GetI32(header + 0);
  const int32_t setCount = zud::GetI32(header + 4);
  const int64_t size = (static_cast<int64_t>(count) + 7) / 8;
  const int64_t left = stream.Size() - stream.Position();
  // A negative count or more bytes than the stream holds: nothing is
  // allocated for a count the input cannot back.
  if (count < 0 || size > left) RaiseShortRead(stream, count < 0 ? 0 : size, left < 0 ? 0 : left, 10510);
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  ReadStreamExact(stream, bytes.data(), size, 10510);
  if (count % 8 != 0) bytes.back() &= static_cast<uint8_t>((1u << (count % 8)) - 1);
  int64_t counted = 0;
  for (uint8_t b : bytes) counted += PopCount(b);
  if (counted != setCount)
    throw EABSException(10429, "Invalid bit no = %d, number of bits = %d",
                        {static_cast<long long>(setCount), static_cast<long long>(counted)});
  bytes_ = std::move(bytes);
  count_ = count;
  setCount_ = counted;
}
