// BlobFieldStream: the stream through which a BLOB field of a disk table's
// record is read and written, TABSBlobFieldStream.
//
// The cached value's stored bytes (the blocks of its compressed stream) are
// copied into a TABSTemporaryStream; a TABSCompressedBLOBStream is opened
// over it with the descriptor (field's BlobBlockSize, the value's
// BlockCount and UncompressedSize, StartPosition 0, the field's algorithm
// and mode). Reads and writes go through the compressed stream.
//
// Contract
//  1. Nothing of the record or the cached value changes until a stream that
//     was written (Write or SetSize) is closed. Close then makes the
//     temporary stream's contents the value's stored bytes, takes BlockCount
//     and UncompressedSize from the compressed stream, marks the value
//     Modified, and sets the field's null bit when UncompressedSize is 0 and
//     clears it otherwise. A stream that was only read changes nothing.
//  2. Close raises the engine's error when the value cannot be written back
//     (the memory limit among others); the value then stays as it was.
//     The destructor closes a stream left open and swallows such an error:
//     callers that must know call Close.
//  3. The record buffer and the BLOB manager must outlive the stream. The
//     cached value is looked up again on close, so freeing the record's
//     cached values while the stream is open loses nothing that Close
//     writes.
//
// Thread use: under the table data's lock, like the BLOB manager.
#pragma once

#include <cstdint>
#include <memory>

#include "core/ZUDFieldDefs.h"
#include "disk/BlobCompressedStream.h"
#include "disk/StreamFile.h"

class TABSDiskBlobManager;
struct TABSBlobValue;

class TABSBlobFieldStream : public TABSStream {
 public:
  TABSBlobFieldStream(TABSDiskBlobManager& manager, int32_t sessionID, const TABSFieldDef& field, int fieldNo,
                      char* record, const TABSBlobValue& value, bool temporaryFilesDisabled);
  ~TABSBlobFieldStream() override;
  TABSBlobFieldStream(const TABSBlobFieldStream&) = delete;
  TABSBlobFieldStream& operator=(const TABSBlobFieldStream&) = delete;

  int64_t Read(void* dest, int64_t count) override;
  int64_t Write(const void* src, int64_t count) override;
  int64_t Seek(int64_t position) override;
  int64_t Position() const override;
  int64_t Size() const override;
  void SetSize(int64_t newSize) override;

  // Contract 1; later calls do nothing.
  void Close();
  bool Written() const { return written_; }
  double CompressionRate() const { return compressed_->CompressionRate(); }

 private:
  void CheckOpen() const;

  TABSDiskBlobManager& manager_;
  int32_t sessionID_;
  const TABSFieldDef& field_;
  int fieldNo_;
  char* record_;
  std::unique_ptr<TABSTemporaryStream> temporary_;
  std::unique_ptr<TABSCompressedBLOBStream> compressed_;
  bool written_ = false;
  bool closed_ = false;
};
