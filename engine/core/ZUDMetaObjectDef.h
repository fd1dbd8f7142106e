// ZUDMetaObjectDef: the base of every table-structure definition (field,
// index, constraint), the ordered owning collection of them, and the
// stream primitives their stored forms are built from.
//
// Stored form of the base part (little-endian):
//   short name   1 byte length L, then L bytes of 8-bit text
//   identifier   int32
// A collection is an int32 count followed by the items in order.
//
// Contract
//  1. A name is at most 255 bytes: the stored form has one length byte. A
//     longer name is refused when it is set, so no stored form is ever
//     written with a cut length byte.
//  2. The identifier is -1 until the definition is added to a table; the
//     table takes it from the database-wide generator and it is never
//     reused within that database.
//  3. Name lookups are case-insensitive: both names upper-cased with the
//     locale's upper-casing, then compared exactly. -1 / null when absent.
//  4. A collection owns its items; delete, put and clear free them.
//  5. Every read of stored bytes is bounded by the stream: a count or a
//     length that the remaining bytes cannot hold raises the short-read
//     error of its site before anything is allocated.
//  6. Assign is all or nothing, for a collection and for one definition:
//     everything that can fail (copies, checks, rebuilt parts) is done
//     aside first and then swapped in, so a raise leaves the target
//     exactly as it was.
//
// Thread use: definitions belong to one table data object and are changed
// under its database's lock.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/ZUDStream.h"

constexpr int kMaxShortStringLength = 255;

class TABSMetaObjectDef {
 public:
  virtual ~TABSMetaObjectDef() = default;

  const std::string& Name() const { return name_; }
  // Refuses names longer than 255 bytes (contract 1).
  void SetName(const std::string& name);
  int32_t ObjectID() const { return objectId_; }
  void SetObjectID(int32_t id) { objectId_ = id; }

  // Copies from a definition of the same class.
  virtual void Assign(const TABSMetaObjectDef& source);
  virtual void LoadFromStream(TABSStream& stream);
  virtual void SaveToStream(TABSStream& stream) const;

 protected:
  // Raises the refusal of an over-long name for this kind of definition.
  [[noreturn]] virtual void RaiseNameTooLong(const std::string& name) const;

 private:
  std::string name_;
  int32_t objectId_ = -1;
};

class TABSMetaObjectDefs {
 public:
  TABSMetaObjectDefs() = default;
  virtual ~TABSMetaObjectDefs() = default;
  TABSMetaObjectDefs(const TABSMetaObjectDefs&) = delete;
  TABSMetaObjectDefs& operator=(const TABSMetaObjectDefs&) = delete;

  virtual int Count() const { return static_cast<int>(items_.size()); }
  virtual void Add(std::unique_ptr<TABSMetaObjectDef> item);
  // Creates an item of the collection's class and appends it.
  virtual TABSMetaObjectDef* AddCreated();
  virtual void LoadFromStream(TABSStream& stream);
  virtual void SaveToStream(TABSStream& stream) const;
  // Replaces the items with copies of the source's (contract 6); a name
  // that repeats in the source raises 10424.
  virtual void Assign(const TABSMetaObjectDefs& source);
  virtual void Delete(int index);
  virtual void Insert(int index, std::unique_ptr<TABSMetaObjectDef> item);
  virtual void Move(int from, int to);
  virtual void Clear();
  virtual TABSMetaObjectDef* Get(int index) const;
  virtual void Put(int index, std::unique_ptr<TABSMetaObjectDef> item);

  int IndexOfName(const std::string& name) const;
  TABSMetaObjectDef* FindByName(const std::string& name) const;
  int IndexOfObjectID(int32_t id) const;
  TABSMetaObjectDef* FindByObjectID(int32_t id) const;

 protected:
  // A new, empty item of the collection's class; the base has none (30339).
  virtual std::unique_ptr<TABSMetaObjectDef> CreateItem() const;
  // Smallest stored size of one item, bounding a count read from a stream.
  virtual int64_t MinStoredItemSize() const { return 5; }
  // Reads one item (after the count). Constraint collections read a kind
  // byte first.
  virtual std::unique_ptr<TABSMetaObjectDef> LoadItem(TABSStream& stream);
  virtual bool IsStored(const TABSMetaObjectDef&) const { return true; }
  virtual void SaveItem(TABSStream& stream, const TABSMetaObjectDef& item) const;
  void CheckPosition(int index, bool allowEnd) const;
  // Assign's work (contract 6): `create` makes the empty item that copies
  // each source item; empty names may repeat when `unnamedMayRepeat`.
  void AssignCopies(const TABSMetaObjectDefs& source, bool unnamedMayRepeat,
                    const std::function<std::unique_ptr<TABSMetaObjectDef>(const TABSMetaObjectDef&)>& create);
  // Called after every change of the list itself.
  virtual void ListChanged() {}

  std::vector<std::unique_ptr<TABSMetaObjectDef>> items_;
};

// Upper-cases with the locale's casing (names compare this way).
std::string UpperName(const std::string& s);
bool SameName(const std::string& a, const std::string& b);

// Stream primitives; each call site passes its own native error code.
namespace zud::defio {
void WriteU8(TABSStream& s, uint8_t v, int32_t code);
void WriteI32(TABSStream& s, int32_t v, int32_t code);
void WriteI64(TABSStream& s, int64_t v, int32_t code);
uint8_t ReadU8(TABSStream& s, int32_t code);
int32_t ReadI32(TABSStream& s, int32_t code);
int64_t ReadI64(TABSStream& s, int32_t code);
// Short string: length byte (lengthCode), then the text (textCode).
void WriteShortString(TABSStream& s, const std::string& v, int32_t lengthCode, int32_t textCode);
std::string ReadShortString(TABSStream& s, int32_t lengthCode, int32_t textCode);
// A count that must be >= 0 and whose items (at least `minItemSize` bytes
// each) fit in what is left of the stream (contract 5).
int32_t ReadCount(TABSStream& s, int32_t code, int64_t minItemSize);
// Raises the short read of `code` unless `need` bytes are left.
void RequireBytes(TABSStream& s, int64_t need, int32_t code);
}  // namespace zud::defio
