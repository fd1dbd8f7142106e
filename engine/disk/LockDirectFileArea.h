// LockDirectFileArea: TABSDirectFileLockArea, the lock-byte view
// (LockByteArea.h) of a direct internal file, so the sessions file and a
// table's locks file serve the lock layer through the file object that
// reads their chain.
//
// Contract
//  1. The file must be open and outlive this object; every call goes to the
//     file's method of the same name, with the file's own errors (a closed
//     file: 30389/20156; positions outside it: 20159/20158).
//  2. Size() is the size read when the file was opened: fixed for a direct
//     file.
#pragma once

#include "disk/InternalFile.h"
#include "disk/LockByteArea.h"

class TABSDirectFileLockArea : public TABSLockByteArea {
 public:
  explicit TABSDirectFileLockArea(TABSInternalDBDirectAccessFile& file) : file_(file) {}

  int32_t StartPageNo() const override { return file_.StartPageNo(); }
  int32_t Size() const override { return file_.Size(); }
  bool LockFile() override { return file_.LockFile(); }
  bool UnlockFile() override { return file_.UnlockFile(); }
  bool LockByte(int32_t position) override { return InRange(position) && file_.LockByte(position); }
  bool UnlockByte(int32_t position) override { return InRange(position) && file_.UnlockByte(position); }
  bool IsByteLocked(int32_t position) override { return InRange(position) && file_.IsByteLocked(position); }
  bool IsRegionLocked(int32_t position, int32_t count) override;
  void DirectReadBuffer(void* buffer, int32_t count, int32_t position) override {
    file_.DirectReadBuffer(buffer, count, position);
  }
  void DirectWriteBuffer(const void* buffer, int32_t count, int32_t position) override {
    file_.DirectWriteBuffer(buffer, count, position);
  }

 private:
  bool InRange(int32_t position) const { return position >= 0 && position < file_.Size(); }

  TABSInternalDBDirectAccessFile& file_;
};
