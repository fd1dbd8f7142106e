#include "ZUDStream.h"

#include <cstring>

#include "ZUDExcept.h"

int64_t TABSMemoryStream::Read(void* dest, int64_t count) {
  if (count <= 0 || position_ >= Size()) return 0;
  const int64_t n = count < Size() - position_ ? count : Size() - position_;
  std::memcpy(dest, bytes_.data() + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

int64_t TABSMemoryStream::Write(const void* src, int64_t count) {
  if (count <= 0) return 0;
  if (position_ + count > Size()) bytes_.resize(static_cast<size_t>(position_ + count));
  std::memcpy(bytes_.data() + position_, src, static_cast<size_t>(count));
  position_ += count;
  return count;
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
