// ZUDStream: the byte streams of the engine (stored definitions, typed
// values, BLOB data, temporary data) and the exact-count routines over them.
// The file-backed kinds (TABSFileStream, TABSTemporaryStream) live in the
// storage layer (StreamFile.h); the block-compressed BLOB stream in
// BlobCompressedStream.h.
//
// Contract
//  1. A stream reads and writes at its position and reports how many bytes
//     it moved; it never raises for a short transfer. The exact routines
//     turn a short transfer into an engine error under the code their
//     caller passes, so the message stands under the caller's raise site.
//  2. TABSMemoryStream grows on write; reading past its end moves fewer
//     bytes. A write it cannot make room for (out of memory) moves nothing.
//  3. SetSize cuts or extends (with zero bytes) the stream; the position is
//     kept unless it lies past the new end, where it moves to the end.
//  4. CopyFrom moves `count` bytes from the source's position to this
//     stream's position in steps of the source's BlockSize (0 is refused,
//     20149), calling OnProgress with the percentage done after each step;
//     a short read or write is an engine error (10086, 10101).
//
// Thread use: a stream belongs to one thread at a time; callers that share
// one stream hold its CriticalSection around each sequence of calls.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

class TABSStream {
 public:
  static constexpr int32_t kDefaultBlockSize = 102400;

  virtual ~TABSStream() = default;
  virtual int64_t Read(void* dest, int64_t count) = 0;
  virtual int64_t Write(const void* src, int64_t count) = 0;
  // Moves to `position` (clamped to 0..Size()); returns the new position.
  virtual int64_t Seek(int64_t position) = 0;
  virtual int64_t Position() const = 0;
  virtual int64_t Size() const = 0;
  // Contract 3.
  virtual void SetSize(int64_t newSize) = 0;

  // Contract 4.
  void CopyFrom(TABSStream& source, int64_t count);

  // Bytes per step of a block-wise copy from this stream.
  int32_t BlockSize = kDefaultBlockSize;
  // Receives the percentage done (0..100) of a block-wise copy.
  std::function<void(int)> OnProgress;
  std::recursive_mutex CriticalSection;
};

class TABSMemoryStream : public TABSStream {
 public:
  TABSMemoryStream() = default;
  explicit TABSMemoryStream(std::string bytes) : bytes_(std::move(bytes)) {}

  int64_t Read(void* dest, int64_t count) override;
  int64_t Write(const void* src, int64_t count) override;
  int64_t Seek(int64_t position) override;
  int64_t Position() const override { return position_; }
  int64_t Size() const override { return static_cast<int64_t>(bytes_.size()); }
  void SetSize(int64_t newSize) override;
  const std::string& Bytes() const { return bytes_; }
  // Hands the bytes over and leaves the stream empty.
  std::string TakeBytes();

 private:
  std::string bytes_;
  int64_t position_ = 0;
};

// Exact transfers; the error code is the caller's (contract 1).
void WriteStreamExact(TABSStream& stream, const void* src, int64_t count, int32_t errorCode);
void ReadStreamExact(TABSStream& stream, void* dest, int64_t count, int32_t errorCode);
// Raises the short-read error for a block of `count` of which `read` bytes
// were (or could be) read.
[[noreturn]] void RaiseShortRead(const TABSStream& stream, int64_t count, int64_t read, int32_t errorCode);
void SetStreamPosition(TABSStream& stream, int64_t position, int32_t errorCode);
