#include "core/ZUDConstraintDefs.h"

#include <random>
#include <stdexcept>

#include "core/ZUDErrorCatalogue.h"
#include "core/ZUDExcept.h"

using namespace zud::defio;

namespace {
// Native error codes of the stream sites of constraint definitions.
constexpr int32_t kWriteKind = 10347, kReadKind = 10353;
constexpr int32_t kNotNullWriteIDs = 10240, kNotNullReadIDs = 10249;  // + slot
constexpr int32_t kCheckWriteIDs = 10227, kCheckReadIDs = 10230;      // + slot
constexpr int32_t kCheckWriteMin = 10219, kCheckWriteMax = 10180, kCheckReadMin = 10220, kCheckReadMax = 10402;
constexpr int32_t kUniqueWriteIDs = 30313, kUniqueReadIDs = 30303;      // + slot
constexpr int32_t kUniqueWriteNames = 30316, kUniqueReadNames = 30306;  // + 2 * slot (+ 1 for the text)
constexpr int32_t kUniqueWriteColumnCount = 30322, kUniqueReadColumnCount = 30312;
constexpr int32_t kUniqueWriteColumnID = 30323, kUniqueReadColumnID = 30317;
constexpr int32_t kUniqueWriteColumnNameCount = 30324, kUniqueReadColumnNameCount = 30321;
constexpr int32_t kUniqueWriteColumnNameText = 10182, kUniqueReadColumnNameText = 30322;

// A short string carried with its own count in front: N = L + 1 (a byte or
// an int32), then the length byte L and the L bytes of text.
void WriteCountedName(TABSStream& s, const std::string& name, bool wideCount, int32_t countCode, int32_t textCode) {
  const size_t length = name.size() > 255 ? 255 : name.size();
  // A byte count holds length + 1 up to 255: Resolve refuses longer slot
  // names (contract 6), so one here is our own broken contract.
  if (!wideCount && name.size() > kMaxByteSlotNameLength)
    throw std::logic_error("constraint slot name of " + std::to_string(name.size()) +
                           " bytes reached a one-byte count; Resolve refuses it");
  if (wideCount)
    WriteI32(s, static_cast<int32_t>(length + 1), countCode);
  else
    WriteU8(s, static_cast<uint8_t>(length + 1), countCode);
  std::string bytes(1, static_cast<char>(length));
  bytes.append(name, 0, length);
  WriteStreamExact(s, bytes.data(), static_cast<int64_t>(bytes.size()), textCode);
}

std::string ReadCountedName(TABSStream& s, bool wideCount, int32_t countCode, int32_t textCode) {
  const int64_t count = wideCount ? ReadI32(s, countCode) : ReadU8(s, countCode);
  const int64_t left = s.Size() - s.Position();
  if (count < 1 || count > 256 || count > left)
    RaiseShortRead(s, count < 1 ? 1 : count, left < 0 ? 0 : left, countCode);
  std::string bytes(static_cast<size_t>(count), '\0');
  ReadStreamExact(s, bytes.data(), count, textCode);
  // Contract 4: the inner length byte must agree with the count.
  if (static_cast<unsigned char>(bytes[0]) != count - 1)
    RaiseShortRead(s, static_cast<unsigned char>(bytes[0]) + 1, count, textCode);
  return bytes.substr(1);
}

void WriteSlotIDs(TABSStream& s, const std::array<TABSConstraintSlot, 3>& slots, int32_t firstCode) {
  for (int i = 0; i < 3; ++i) WriteI32(s, slots[static_cast<size_t>(i)].id, firstCode + i);
}
void ReadSlotIDs(TABSStream& s, std::array<TABSConstraintSlot, 3>& slots, int32_t firstCode) {
  for (int i = 0; i < 3; ++i) slots[static_cast<size_t>(i)].id = ReadI32(s, firstCode + i);
}

// Slots of not-null and check constraints: byte counts, computed codes.
void WriteByteSlots(TABSStream& s, const std::array<TABSConstraintSlot, 3>& slots, int32_t base) {
  for (int i = 0; i < 3; ++i)
    WriteCountedName(s, slots[static_cast<size_t>(i)].name, false, ConstraintNameSlotCode(base, i, false),
                     ConstraintNameSlotCode(base, i, true));
}
void ReadByteSlots(TABSStream& s, std::array<TABSConstraintSlot, 3>& slots, int32_t base) {
  for (int i = 0; i < 3; ++i)
    slots[static_cast<size_t>(i)].name =
        ReadCountedName(s, false, ConstraintNameSlotCode(base, i, false), ConstraintNameSlotCode(base, i, true));
}

std::mt19937& Random() {
  static std::mt19937 generator{std::random_device{}()};
  return generator;
}
}  // namespace

std::unique_ptr<TABSConstraintDef> CreateConstraintDef(uint8_t kind) {
  switch (kind) {
    case actPrimaryKey: return std::make_unique<TABSConstraintDefPrimary>();
    case actUnique: return std::make_unique<TABSConstraintDefUnique>();
    case actNotNull: return std::make_unique<TABSConstraintDefNotNull>();
    case actCheck: return std::make_unique<TABSConstraintDefCheck>();
    default: return nullptr;
  }
}

// ---- definitions ------------------------------------------------------------

void TABSConstraintDef::RaiseNameTooLong(const std::string& name) const {
  throw EABSException(30499, "Missing field name. FieldNo=%d, table '%s'", {-1, name});
}

void TABSConstraintDef::Assign(const TABSMetaObjectDef& source) {
  const auto& c = dynamic_cast<const TABSConstraintDef&>(source);
  TABSMetaObjectDef::Assign(c);
  slots = c.slots;
}

void TABSConstraintDefNotNull::SaveToStream(TABSStream& stream) const {
  TABSMetaObjectDef::SaveToStream(stream);
  WriteSlotIDs(stream, slots, kNotNullWriteIDs);
  WriteByteSlots(stream, slots, kNotNullNameWriteBase);
}

void TABSConstraintDefNotNull::LoadFromStream(TABSStream& stream) {
  TABSMetaObjectDef::LoadFromStream(stream);
  ReadSlotIDs(stream, slots, kNotNullReadIDs);
  ReadByteSlots(stream, slots, kNotNullNameReadBase);
}

void TABSConstraintDefCheck::Assign(const TABSMetaObjectDef& source) {
  TABSConstraintDef::Assign(source);
  const auto& c = dynamic_cast<const TABSConstraintDefCheck&>(source);
  minValue.Assign(c.minValue, true);
  maxValue.Assign(c.maxValue, true);
}

void TABSConstraintDefCheck::SaveToStream(TABSStream& stream) const {
  TABSMetaObjectDef::SaveToStream(stream);
  WriteSlotIDs(stream, slots, kCheckWriteIDs);
  WriteByteSlots(stream, slots, kCheckNameWriteBase);
  minValue.SaveToStream(stream, kCheckWriteMin);
  maxValue.SaveToStream(stream, kCheckWriteMax);
}

void TABSConstraintDefCheck::LoadFromStream(TABSStream& stream) {
  TABSMetaObjectDef::LoadFromStream(stream);
  ReadSlotIDs(stream, slots, kCheckReadIDs);
  ReadByteSlots(stream, slots, kCheckNameReadBase);
  minValue.LoadFromStream(stream, kCheckReadMin);
  maxValue.LoadFromStream(stream, kCheckReadMax);
}

void TABSConstraintDefUnique::Assign(const TABSMetaObjectDef& source) {
  TABSConstraintDef::Assign(source);
  columns = dynamic_cast<const TABSConstraintDefUnique&>(source).columns;
}

void TABSConstraintDefUnique::SaveToStream(TABSStream& stream) const {
  TABSMetaObjectDef::SaveToStream(stream);
  WriteSlotIDs(stream, slots, kUniqueWriteIDs);
  for (int i = 0; i < 3; ++i)
    WriteCountedName(stream, slots[static_cast<size_t>(i)].name, true, kUniqueWriteNames + 2 * i,
                     kUniqueWriteNames + 2 * i + 1);
  WriteI32(stream, static_cast<int32_t>(columns.size()), kUniqueWriteColumnCount);
  for (const auto& c : columns) {
    WriteI32(stream, c.id, kUniqueWriteColumnID);
    WriteCountedName(stream, c.name, true, kUniqueWriteColumnNameCount, kUniqueWriteColumnNameText);
  }
}

void TABSConstraintDefUnique::LoadFromStream(TABSStream& stream) {
  TABSMetaObjectDef::LoadFromStream(stream);
  ReadSlotIDs(stream, slots, kUniqueReadIDs);
  for (int i = 0; i < 3; ++i)
    slots[static_cast<size_t>(i)].name =
        ReadCountedName(stream, true, kUniqueReadNames + 2 * i, kUniqueReadNames + 2 * i + 1);
  // Each column takes at least 9 bytes: identifier, count, length byte.
  const int32_t count = ReadCount(stream, kUniqueReadColumnCount, 9);
  std::vector<TABSConstraintColumn> read;
  read.reserve(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) {
    TABSConstraintColumn c;
    c.id = ReadI32(stream, kUniqueReadColumnID);
    c.name = ReadCountedName(stream, true, kUniqueReadColumnNameCount, kUniqueReadColumnNameText);
    read.push_back(std::move(c));
  }
  columns = std::move(read);
}

// ---- TABSConstraintDefs -----------------------------------------------------

std::unique_ptr<TABSMetaObjectDef> TABSConstraintDefs::CreateItem() const {
  throw EABSException(30339, "The method '%s' not overrided in class '%s'",
                      {"InternalAddCreated", "TABSConstraintDefs"});
}

TABSConstraintDefNotNull* TABSConstraintDefs::AddNewNotNull() {
  auto item = std::make_unique<TABSConstraintDefNotNull>();
  auto* raw = item.get();
  Add(std::move(item));
  return raw;
}
TABSConstraintDefCheck* TABSConstraintDefs::AddNewCheck() {
  auto item = std::make_unique<TABSConstraintDefCheck>();
  auto* raw = item.get();
  Add(std::move(item));
  return raw;
}
TABSConstraintDefPrimary* TABSConstraintDefs::AddNewPrimary() {
  auto item = std::make_unique<TABSConstraintDefPrimary>();
  auto* raw = item.get();
  Add(std::move(item));
  return raw;
}
TABSConstraintDefUnique* TABSConstraintDefs::AddNewUnique() {
  auto item = std::make_unique<TABSConstraintDefUnique>();
  auto* raw = item.get();
  Add(std::move(item));
  return raw;
}

void TABSConstraintDefs::Assign(const TABSMetaObjectDefs& source) {
  Clear();
  for (int i = 0; i < source.Count(); ++i) {
    const auto* from = static_cast<const TABSConstraintDef*>(source.Get(i));
    if (IndexOfName(from->Name()) >= 0 && !from->Name().empty())
      throw EABSException(10424, "Duplicate field name %s", {from->Name()});
    auto copy = CreateConstraintDef(from->Kind());
    if (!copy) throw EABSException(30035, "Not implemented yet");
    copy->Assign(*from);
    Add(std::move(copy));
  }
}

std::unique_ptr<TABSMetaObjectDef> TABSConstraintDefs::LoadItem(TABSStream& stream) {
  const uint8_t kind = ReadU8(stream, kReadKind);
  auto item = CreateConstraintDef(kind);
  if (!item) throw EABSException(30316, "Unknown Constraint Type: '%d'", {static_cast<int>(kind)});
  item->LoadFromStream(stream);
  return item;
}

void TABSConstraintDefs::SaveItem(TABSStream& stream, const TABSMetaObjectDef& item) const {
  WriteU8(stream, static_cast<const TABSConstraintDef&>(item).Kind(), kWriteKind);
  item.SaveToStream(stream);
}

void TABSConstraintDefs::NameConstraints() {
  for (int i = 0; i < Count(); ++i) {
    TABSConstraintDef& c = *(*this)[i];
    if (!c.Name().empty() || (c.Kind() != actNotNull && c.Kind() != actCheck)) continue;
    std::string name =
        std::string(c.Kind() == actNotNull ? "$C_NotNull$" : "$C_Check$") + c.slots[1].name + "$" + c.slots[2].name;
    // Room for a 5-digit suffix keeps every candidate within 255 bytes.
    if (name.size() > 250) name.resize(250);
    std::string candidate = name;
    std::uniform_int_distribution<int> suffix(0, 65534);
    while (IndexOfName(candidate) >= 0) candidate = name + std::to_string(suffix(Random()));
    c.SetName(candidate);
  }
}

void TABSConstraintDefs::Resolve(const TABSFieldDefs& fields, const TABSIndexDefs& indexes) {
  for (int i = 0; i < Count(); ++i) {
    TABSConstraintDef& c = *(*this)[i];
    switch (c.Kind()) {
      case actPrimaryKey:
      case actUnique: {
        auto& u = static_cast<TABSConstraintDefUnique&>(c);
        const TABSIndexDef* index = indexes.IndexByName(u.SubjectSlot().name);
        if (!index) {
          if (c.Kind() == actPrimaryKey) throw EABSException(30325, "Index '%s' not found", {u.SubjectSlot().name});
          throw EABSException(30326, "Index '%s' not found", {u.SubjectSlot().name});
        }
        u.SubjectSlot().id = index->ObjectID();
        for (auto& column : u.columns) {
          const TABSFieldDef* field = fields.FieldByName(column.name);
          if (!field) {
            if (c.Kind() == actPrimaryKey) throw EABSException(30331, "Field '%s' not found", {column.name});
            throw EABSException(30332, "Field '%s' not found", {column.name});
          }
          column.id = field->ObjectID();
        }
        break;
      }
      case actNotNull:
      case actCheck: {
        const TABSFieldDef* field = fields.FieldByName(c.SubjectSlot().name);
        if (!field) throw EABSException(30027, "Field '%s' not found", {c.SubjectSlot().name});
        // Contract 6: a slot name the one-byte count cannot hold would make
        // the table's metadata unreadable once written.
        for (const TABSConstraintSlot& slot : c.slots)
          if (slot.name.size() > kMaxByteSlotNameLength)
            throw EABSException(30453, "Cannot create table '%s' with field: %s %s(%d)",
                                {c.TableSlot().name, field->Name(), DataTypeName(field->DataType()), field->Size()});
        c.SubjectSlot().id = field->ObjectID();
        break;
      }
      default: throw EABSException(30037, "Not implemented yet");
    }
  }
}

// ---- derived constraints ----------------------------------------------------

std::unique_ptr<TABSConstraintDef> DerivedIndexConstraint(const TABSIndexDef& index, const TABSFieldDefs& fields) {
  if (!index.primary && !index.unique) return nullptr;
  std::unique_ptr<TABSConstraintDefUnique> c;
  std::string name;
  if (index.primary) {
    c = std::make_unique<TABSConstraintDefPrimary>();
    name = "C_PK";
  } else {
    c = std::make_unique<TABSConstraintDefUnique>();
    name = "C_Unique";
  }
  for (int i = 0; i < index.ColumnCount(); ++i) {
    const std::string& fieldName = index.Column(i).fieldName;
    name += "$" + fieldName;
    const TABSFieldDef* field = fields.FieldByName(fieldName);
    c->columns.push_back({fieldName, field ? field->ObjectID() : -1});
  }
  c->SetName(name);
  c->SubjectSlot().name = index.Name();
  c->SubjectSlot().id = index.ObjectID();
  return c;
}

void AddDerivedConstraints(const std::vector<TABSFieldRule>& rules, const TABSFieldDefs& fields,
                           const TABSIndexDefs& indexes, TABSConstraintDefs& constraints,
                           const std::function<int32_t()>& nextID) {
  for (const auto& rule : rules) {
    const TABSFieldDef* field = fields.FieldByName(rule.fieldName);
    const int32_t fieldID = field ? field->ObjectID() : -1;
    if (rule.required) {
      auto* c = constraints.AddNewNotNull();
      c->SubjectSlot() = {rule.fieldName, fieldID};
      c->SetObjectID(nextID());
    }
    const bool hasMin = rule.minValue && !rule.minValue->IsNull();
    const bool hasMax = rule.maxValue && !rule.maxValue->IsNull();
    if (hasMin || hasMax) {
      auto* c = constraints.AddNewCheck();
      c->SubjectSlot() = {rule.fieldName, fieldID};
      if (hasMin) c->minValue.Assign(*rule.minValue, true);
      if (hasMax) c->maxValue.Assign(*rule.maxValue, true);
      c->SetObjectID(nextID());
    }
  }
  for (int i = 0; i < indexes.Count(); ++i) {
    auto c = DerivedIndexConstraint(*indexes[i], fields);
    if (!c) continue;
    c->SetObjectID(nextID());
    constraints.Add(std::move(c));
  }
}
