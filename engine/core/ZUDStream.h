// ZUDStream: the byte streams that stored definitions and typed values are
// written to and read from, and the exact-count routines over them.
//
// Contract
//  1. A stream reads and writes at its position and reports how many bytes
//     it moved; it never raises for a short transfer. The exact routines
//     turn a short transfer into an engine error under the code their
//     caller passes, so the message stands under the caller's raise site.
//  2. TABSMemoryStream grows on write; reading past its end moves fewer
//     bytes.
//
// Thread use: a stream belongs to one thread at a time.
#pragma once

#include <cstdint>
#include <string>

class TABSStream {
 public:
  virtual ~TABSStream() = default;
  virtual int64_t Read(void* dest, int64_t count) = 0;
  virtual int64_t Write(const void* src, int64_t count) = 0;
  // Moves to `position` (clamped to 0..Size()); returns the new position.
  virtual int64_t Seek(int64_t position) = 0;
  virtual int64_t Position() const = 0;
  virtual int64_t Size() const = 0;
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
  const std::string& Bytes() const { return bytes_; }

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
