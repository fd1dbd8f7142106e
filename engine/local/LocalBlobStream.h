// LocalBlobStream: TABSLocalBLOBStream, the stream a cursor hands out for
// one BLOB field of its current record.
//
// A stream for reading reads the stored value through the table's BLOB
// manager; a stream for writing (or reading and writing) works on a copy of
// the value in a temporary stream that the cursor stores into the record
// when the field's streams are closed. A write mode stream starts empty; a
// read-write one starts with the current value.
//
// Contract
//  1. In read mode Write and SetSize raise "Cannot write to read only
//     stream" (10115 and 10116).
//  2. The stream remembers its cursor's field and mode; it owns its
//     underlying stream and frees it when destroyed.
//
// Thread use: its cursor's.
#pragma once

#include <cstdint>
#include <memory>

#include "core/ZUDStream.h"

enum TABSBlobStreamMode : uint8_t { bsmRead = 1, bsmWrite = 2, bsmReadWrite = 3 };

class TABSLocalBLOBStream : public TABSStream {
 public:
  TABSLocalBLOBStream(int32_t fieldNo, TABSBlobStreamMode mode, std::unique_ptr<TABSStream> content);

  int32_t FieldNo() const { return fieldNo_; }
  TABSBlobStreamMode Mode() const { return mode_; }
  bool Writes() const { return mode_ != bsmRead; }
  TABSStream& Content() { return *content_; }

  int64_t Read(void* dest, int64_t count) override;
  int64_t Write(const void* src, int64_t count) override;
  int64_t Seek(int64_t position) override;
  int64_t Position() const override;
  int64_t Size() const override;
  void SetSize(int64_t newSize) override;

 private:
  int32_t fieldNo_;
  TABSBlobStreamMode mode_;
  std::unique_ptr<TABSStream> content_;
};
