#include "disk/BlobFieldStream.h"

#include "core/ZUDExcept.h"
#include "core/ZUDMemory.h"
#include "core/ZUDRecordLayout.h"
#include "disk/BlobPages.h"

TABSBlobFieldStream::TABSBlobFieldStream(TABSDiskBlobManager& manager, int32_t sessionID, const TABSFieldDef& field,
                                         int fieldNo, char* record, const TABSBlobValue& value,
                                         bool temporaryFilesDisabled)
    : manager_(manager), sessionID_(sessionID), field_(field), fieldNo_(fieldNo), record_(record) {
  temporary_ = std::make_unique<TABSTemporaryStream>(temporaryFilesDisabled);
  if (value.StoredSize > 0) {
    WriteStreamExact(*temporary_, value.Data(), value.StoredSize, 10097);
    temporary_->Seek(0);
  }
  TABSCompressedStreamDescriptor d;
  d.BlockSize = field.BlobBlockSize();
  d.BlockCount = value.BlockCount;
  d.UncompressedSize = value.UncompressedSize;
  d.StartPosition = 0;
  d.CompressionAlgorithm = field.BlobCompressionAlgorithm();
  d.CompressionMode = field.BlobCompressionMode();
  const bool isNew = value.StoredSize == 0 && value.UncompressedSize == 0;
  compressed_ = std::make_unique<TABSCompressedBLOBStream>(*temporary_, false, isNew, d);
  BlockSize = field.BlobBlockSize();
}

TABSBlobFieldStream::~TABSBlobFieldStream() {
  try {
    Close();
  } catch (const std::exception&) {
    // Contract 2: only an explicit Close reports the failure.
  }
}

void TABSBlobFieldStream::CheckOpen() const {
  if (!compressed_) throw EABSException(20161, "Pointer is nil");
}

int64_t TABSBlobFieldStream::Read(void* dest, int64_t count) {
  CheckOpen();
  return compressed_->Read(dest, count);
}

int64_t TABSBlobFieldStream::Write(const void* src, int64_t count) {
  CheckOpen();
  written_ = true;
  return compressed_->Write(src, count);
}

int64_t TABSBlobFieldStream::Seek(int64_t position) {
  CheckOpen();
  return compressed_->Seek(position);
}

int64_t TABSBlobFieldStream::Position() const {
  CheckOpen();
  return compressed_->Position();
}

int64_t TABSBlobFieldStream::Size() const {
  CheckOpen();
  return compressed_->Size();
}

void TABSBlobFieldStream::SetSize(int64_t newSize) {
  CheckOpen();
  written_ = true;
  compressed_->SetSize(newSize);
}

void TABSBlobFieldStream::Close() {
  if (closed_) return;
  if (written_) {
    const TABSCompressedStreamDescriptor d = compressed_->Descriptor();
    const int64_t stored = temporary_->Size();
    TABSMemBlock bytes;
    if (stored > 0) {
      bytes = AllocBlock(static_cast<uint64_t>(stored));
      temporary_->Seek(0);
      ReadStreamExact(*temporary_, bytes.get(), stored, 10086);
    }
    // Contract 3: the value as it is cached now, loaded again if it was freed.
    TABSBlobValue& value = manager_.RecordValue(sessionID_, field_, record_);
    value.StoredData = std::move(bytes);
    value.StoredSize = stored;
    value.BlockCount = static_cast<int32_t>(d.BlockCount);
    value.UncompressedSize = d.UncompressedSize;
    value.Modified = true;
    SetFieldNull(record_, fieldNo_, d.UncompressedSize == 0);
  }
  closed_ = true;
  compressed_.reset();
  temporary_.reset();
}
