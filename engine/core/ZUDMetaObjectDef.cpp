#include "core/ZUDMetaObjectDef.h"

#include <algorithm>
#include <cstring>

#include "core/ZUDBytes.h"
#include "core/ZUDExcept.h"
#include "locale/Locale.h"

// Native error codes of the stream sites of this file.
namespace {
constexpr int32_t kWriteNameLength = 10343, kWriteNameText = 10344, kWriteObjectID = 10345;
constexpr int32_t kReadNameLength = 10349, kReadNameText = 10350, kReadObjectID = 10351;
constexpr int32_t kWriteCount = 10346, kReadCount = 10352;
}  // namespace

std::string UpperName(const std::string& s) { return tiv::locale::CurrentLocale()->UpperAnsi(s); }

bool SameName(const std::string& a, const std::string& b) { return UpperName(a) == UpperName(b); }

// ---- stream primitives ------------------------------------------------------

namespace zud::defio {

void WriteU8(TABSStream& s, uint8_t v, int32_t code) { WriteStreamExact(s, &v, 1, code); }
void WriteI32(TABSStream& s, int32_t v, int32_t code) {
  unsigned char b[4];
  PutU32(b, static_cast<uint32_t>(v));
  WriteStreamExact(s, b, 4, code);
}
void WriteI64(TABSStream& s, int64_t v, int32_t code) {
  unsigned char b[8];
  PutU64(b, static_cast<uint64_t>(v));
  WriteStreamExact(s, b, 8, code);
}
uint8_t ReadU8(TABSStream& s, int32_t code) {
  uint8_t v = 0;
  ReadStreamExact(s, &v, 1, code);
  return v;
}
int32_t ReadI32(TABSStream& s, int32_t code) {
  unsigned char b[4];
  ReadStreamExact(s, b, 4, code);
  return GetI32(b);
}
int64_t ReadI64(TABSStream& s, int32_t code) {
  unsigned char b[8];
  ReadStreamExact(s, b, 8, code);
  return GetI64(b);
}

void WriteShortString(TABSStream& s, const std::string& v, int32_t lengthCode, int32_t textCode) {
  // SetName refuses longer names; a longer string here would be our own bug.
  const uint8_t length = static_cast<uint8_t>(v.size() > 255 ? 255 : v.size());
  WriteU8(s, length, lengthCode);
  WriteStreamExact(s, v.data(), length, textCode);
}

std::string ReadShortString(TABSStream& s, int32_t lengthCode, int32_t textCode) {
  const uint8_t length = ReadU8(s, lengthCode);
  std::string v(length, '\0');
  ReadStreamExact(s, v.data(), length, textCode);
  return v;
}

void RequireBytes(TABSStream& s, int64_t need, int32_t code) {
  const int64_t left = s.Size() - s.Position();
  if (need < 0 || need > left) RaiseShortRead(s, need < 0 ? 0 : need, left < 0 ? 0 : left, code);
}

int32_t ReadCount(TABSStream& s, int32_t code, int64_t minItemSize) {
  const int32_t count = ReadI32(s, code);
  const int64_t left = s.Size() - s.Position();
  if (count < 0 || static_cast<int64_t>(count) * minItemSize > left)
    RaiseShortRead(s, count < 0 ? 0 : static_cast<int64_t>(count) * minItemSize, left, code);
  return count;
}

}  // namespace zud::defio

using namespace zud::defio;

// ---- TABSMetaObjectDef ------------------------------------------------------

void TABSMetaObjectDef::SetName(const std::string& name) {
  if (name.size() > static_cast<size_t>(kMaxShortStringLength)) RaiseNameTooLong(name);
  name_ = name;
}

void TABSMetaObjectDef::RaiseNameTooLong(const std::string& name) const {
  throw EABSException(30499, "Missing field name. FieldNo=%d, table '%s'", {-1, name});
}

void TABSMetaObjectDef::Assign(const TABSMetaObjectDef& source) {
  // Contract 6: the copy is made before anything changes.
  std::string name = source.name_;
  name_.swap(name);
  objectId_ = source.objectId_;
}

void TABSMetaObjectDef::LoadFromStream(TABSStream& stream) {
  name_ = ReadShortString(stream, kReadNameLength, kReadNameText);
  objectId_ = ReadI32(stream, kReadObjectID);
}

void TABSMetaObjectDef::SaveToStream(TABSStream& stream) const {
  WriteShortString(stream, name_, kWriteNameLength, kWriteNameText);
  WriteI32(stream, objectId_, kWriteObjectID);
}

// ---- TABSMetaObjectDefs -----------------------------------------------------

void TABSMetaObjectDefs::CheckPosition(int index, bool allowEnd) const {
  const int limit = Count() + (allowEnd ? 1 : 0);
  if (index < 0 || index >= limit)
    throw EABSException(10413, "Invalid item number - ItemNo = %d, ItemCount = %d", {index, Count()});
}

void TABSMetaObjectDefs::Add(std::unique_ptr<TABSMetaObjectDef> item) {
  if (!item) throw EABSException(10425, "Nil pointer occured");
  items_.push_back(std::move(item));
  ListChanged();
}

std::unique_ptr<TABSMetaObjectDef> TABSMetaObjectDefs::CreateItem() const {
  throw EABSException(30339, "The method '%s' not overrided in class '%s'",
                      {"InternalAddCreated", "TABSMetaObjectDefs"});
}

TABSMetaObjectDef* TABSMetaObjectDefs::AddCreated() {
  items_.push_back(CreateItem());
  ListChanged();
  return items_.back().get();
}

std::unique_ptr<TABSMetaObjectDef> TABSMetaObjectDefs::LoadItem(TABSStream& stream) {
  auto item = CreateItem();
  item->LoadFromStream(stream);
  return item;
}

void TABSMetaObjectDefs::SaveItem(TABSStream& stream, const TABSMetaObjectDef& item) const {
  item.SaveToStream(stream);
}

void TABSMetaObjectDefs::LoadFromStream(TABSStream& stream) {
  // Read everything first, so a damaged stream leaves the collection alone.
  const int32_t count = ReadCount(stream, kReadCount, MinStoredItemSize());
  std::vector<std::unique_ptr<TABSMetaObjectDef>> loaded;
  loaded.reserve(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) loaded.push_back(LoadItem(stream));
  items_ = std::move(loaded);
  ListChanged();
}

void TABSMetaObjectDefs::SaveToStream(TABSStream& stream) const {
  int32_t stored = 0;
  for (const auto& item : items_)
    if (IsStored(*item)) ++stored;
  WriteI32(stream, stored, kWriteCount);
  for (const auto& item : items_)
    if (IsStored(*item)) SaveItem(stream, *item);
}

void TABSMetaObjectDefs::Assign(const TABSMetaObjectDefs& source) {
  AssignCopies(source, false, [this](const TABSMetaObjectDef&) { return CreateItem(); });
}

void TABSMetaObjectDefs::AssignCopies(
    const TABSMetaObjectDefs& source, bool unnamedMayRepeat,
    const std::function<std::unique_ptr<TABSMetaObjectDef>(const TABSMetaObjectDef&)>& create) {
  // Contract 6: the copies are made aside and swapped in whole, so a source
  // that fails half-way (a repeated name, an item that cannot be copied)
  // leaves this collection as it was.
  std::vector<std::unique_ptr<TABSMetaObjectDef>> copies;
  copies.reserve(static_cast<size_t>(source.Count()));
  std::vector<std::string> upper;
  for (int i = 0; i < source.Count(); ++i) {
    const TABSMetaObjectDef* from = source.Get(i);
    const std::string name = UpperName(from->Name());
    const bool repeated = std::find(upper.begin(), upper.end(), name) != upper.end();
    if (repeated && !(unnamedMayRepeat && from->Name().empty()))
      throw EABSException(10424, "Duplicate field name %s", {from->Name()});
    upper.push_back(name);
    auto copy = create(*from);
    copy->Assign(*from);
    copies.push_back(std::move(copy));
  }
  items_.swap(copies);
  try {
    ListChanged();
  } catch (...) {
    // The items held before were consistent: put them back as they were.
    items_.swap(copies);
    ListChanged();
    throw;
  }
}

void TABSMetaObjectDefs::Delete(int index) {
  CheckPosition(index, false);
  items_.erase(items_.begin() + index);
  ListChanged();
}

void TABSMetaObjectDefs::Insert(int index, std::unique_ptr<TABSMetaObjectDef> item) {
  CheckPosition(index, true);
  if (!item) throw EABSException(10425, "Nil pointer occured");
  items_.insert(items_.begin() + index, std::move(item));
  ListChanged();
}

void TABSMetaObjectDefs::Move(int from, int to) {
  CheckPosition(from, false);
  CheckPosition(to, false);
  auto item = std::move(items_[static_cast<size_t>(from)]);
  items_.erase(items_.begin() + from);
  items_.insert(items_.begin() + to, std::move(item));
  ListChanged();
}

void TABSMetaObjectDefs::Clear() {
  while (!items_.empty()) items_.erase(items_.begin());
  ListChanged();
}

TABSMetaObjectDef* TABSMetaObjectDefs::Get(int index) const {
  CheckPosition(index, false);
  return items_[static_cast<size_t>(index)].get();
}

void TABSMetaObjectDefs::Put(int index, std::unique_ptr<TABSMetaObjectDef> item) {
  CheckPosition(index, false);
  if (!item) throw EABSException(10425, "Nil pointer occured");
  items_[static_cast<size_t>(index)] = std::move(item);
  ListChanged();
}

int TABSMetaObjectDefs::IndexOfName(const std::string& name) const {
  const std::string upper = UpperName(name);
  for (size_t i = 0; i < items_.size(); ++i)
    if (UpperName(items_[i]->Name()) == upper) return static_cast<int>(i);
  return -1;
}

TABSMetaObjectDef* TABSMetaObjectDefs::FindByName(const std::string& name) const {
  const int i = IndexOfName(name);
  return i < 0 ? nullptr : items_[static_cast<size_t>(i)].get();
}

int TABSMetaObjectDefs::IndexOfObjectID(int32_t id) const {
  for (size_t i = 0; i < items_.size(); ++i)
    if (items_[i]->ObjectID() == id) return static_cast<int>(i);
  return -1;
}

TABSMetaObjectDef* TABSMetaObjectDefs::FindByObjectID(int32_t id) const {
  const int i = IndexOfObjectID(id);
  return i < 0 ? nullptr : items_[static_cast<size_t>(i)].get();
}
