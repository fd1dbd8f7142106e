#include "local/LocalBlobStream.h"

#include "core/ZUDExcept.h"

TABSLocalBLOBStream::TABSLocalBLOBStream(int32_t fieldNo, TABSBlobStreamMode mode, std::unique_ptr<TABSStream> content)
    : fieldNo_(fieldNo), mode_(mode), content_(std::move(content)) {
  if (!content_) throw EABSException(10119, "Nil pointer occured");
}

int64_t TABSLocalBLOBStream::Read(void* dest, int64_t count) { return content_->Read(dest, count); }

int64_t TABSLocalBLOBStream::Write(const void* src, int64_t count) {
  if (!Writes()) throw EABSException(10115, "Cannot write to read only stream");
  return content_->Write(src, count);
}

int64_t TABSLocalBLOBStream::Seek(int64_t position) { return content_->Seek(position); }
int64_t TABSLocalBLOBStream::Position() const { return content_->Position(); }
int64_t TABSLocalBLOBStream::Size() const { return content_->Size(); }

void TABSLocalBLOBStream::SetSize(int64_t newSize) {
  if (!Writes()) throw EABSException(10116, "Cannot write to read only stream");
  content_->SetSize(newSize);
}
