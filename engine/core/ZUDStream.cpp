#include "core/ZUDStream.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <vector>

#include "core/ZUDExcept.h"

int64_t TABSMemoryStream::Read(void* dest, int64_t count) {
  if (count <= 0 || position_ >= Size()) return 0;
  const int64_t n = count < Size() - position_ ? count : Size() - position_;
  std::memcpy(dest, bytes_.data() + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

int64_t TABSMemoryStream::Write(const void* src, int64_t count) {
  if (count <= 0) return 0;
  if (position_ + count > Size()) {
    try {
      bytes_.resize(static_cast<size_t>(position_ + count));
    } catch (const std::exception&) {
      return 0;  // contract 2: the caller sees a short write
    }
  }
  std::memcpy(bytes_.data() + position_, src, static_cast<size_t>(count));
  position_ += count;
  return count;
}

void TABSMemoryStream::SetSize(int64_t newSize) {
  if (newSize < 0) newSize = 0;
  bytes_.resize(static_cast<size_t>(newSize));
  if (position_ > newSize) position_ = newSize;
}

std::string TABSMemoryStream::TakeBytes() {
  std::string out;
  out.swap(bytes_);
  position_ = 0;
  return out;
}

int64_t TABSMemoryStream::Seek(int64_t position) {
  position_ = position < 0 ? 0 : position > Size() ? Size() : position;
  return position_;
}

// The code is the caller's: these messages stand under the raise sites of
// whoever reads or writes.
void WriteStreamExact(TABSStream& stream, const void* src, int64_t count, int32_t errorCode) {
  const int64_t position = stream.Position();
  const int64_t written = stream.Write(src, count);
  if (written != count)
    throw EABSException(errorCode,
                        "Cannot write to stream. Position = %d, Stream size = %d, Block size = %d, Bytes Write = %d",
                        {position, stream.Size(), count, written});
}

void ReadStreamExact(TABSStream& stream, void* dest, int64_t count, int32_t errorCode) {
  const int64_t position = stream.Position();
  const int64_t read = count > 0 ? stream.Read(dest, count) : 0;
  if (read != count)
    throw EABSException(errorCode,
                        "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d",
                        {position, stream.Size(), count, read});
}

void RaiseShortRead(const TABSStream& stream, int64_t count, int64_t read, int32_t errorCode) {
  throw EABSException(errorCode,
                      "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d",
                      {stream.Position(), stream.Size(), count, read});
}

void SetStreamPosition(TABSStream& stream, int64_t position, int32_t errorCode) {
  const int64_t reached = stream.Seek(position);
  if (reached != position)
    throw EABSException(errorCode, "Cannot set stream position to %d. Position = %d, Size = %d",
                        {position, reached, stream.Size()});
}

void TABSStream::CopyFrom(TABSStream& source, int64_t count) {
  if (count <= 0) return;
  const int64_t step = source.BlockSize;
  if (step <= 0) throw EABSException(20149, "Stream block size = 0 is not allowed");
  std::vector<char> buffer(static_cast<size_t>(std::min<int64_t>(step, count)));
  int64_t done = 0;
  while (done < count) {
    const int64_t n = std::min<int64_t>(step, count - done);
    const int64_t from = source.Position();
    const int64_t read = source.Read(buffer.data(), n);
    if (read != n)
      throw EABSException(10086,
                          "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d",
                          {from, source.Size(), n, read});
    const int64_t to = Position();
    const int64_t written = Write(buffer.data(), n);
    if (written != n)
      throw EABSException(10101,
                          "Cannot write to stream. Position = %d, Stream size = %d, Block size = %d, Bytes Write = %d",
                          {to, Size(), n, written});
    done += n;
    if (OnProgress) OnProgress(static_cast<int>(done * 100 / count));
  }
}
