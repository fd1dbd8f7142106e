// libFuzzer target: stored table structure. A table's field, index and
// constraint definitions are read back from the bytes of its metadata; any
// bytes there must load into definitions or raise an engine error, never
// crash, read out of range or allocate what the stream cannot hold.
//
// An input is used twice: as the stored bytes themselves, and as a list of
// (2-byte offset, byte) changes to the bytes of a real structure, which
// reaches the readers of the later fields, indexes and constraints that
// random bytes seldom get to.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/ZUDBaseEngine.h"
#include "core/ZUDExcept.h"

namespace {

void Load(const std::string& bytes) {
  TABSFieldDefs fields;
  TABSIndexDefs indexes;
  TABSConstraintDefs constraints;
  TABSMemoryStream stream(bytes);
  try {
    fields.LoadFromStream(stream);
    indexes.LoadFromStream(stream);
    constraints.LoadFromStream(stream);
  } catch (const EABSException&) {
  }
}

// A structure with one field of every data type (defaults, autoincrement
// and BLOB settings where they apply), three indexes and one constraint of
// each kind, as stored.
std::string ValidStructure() {
  TABSFieldDefs fields;
  for (int t = 1; t <= 36; ++t) {
    TABSFieldDef* f = fields.AddNew();
    f->SetName("f" + std::to_string(t));
    f->SetObjectID(100 + t);
    const auto type = static_cast<TABSDataType>(t);
    const bool sized = IsStringDataType(type) || IsByteStringDataType(type);
    f->SetDataType(type, sized && type != aftGuid ? t : 0);
    if (IsAutoincDataType(type)) f->SetAutoincSettings(2, 5, 1, 1000, t % 2 == 0);
    if (IsBlobDataType(type)) f->SetBlobSettings(t % 4, static_cast<uint8_t>(t % 9), 4096);
    if (type == aftString) {
      TABSVariant v(bftString);
      v.SetAsString("abc");
      f->SetDefaultValue(v);
    }
  }
  TABSIndexDefs indexes;
  TABSIndexDef* pk = indexes.AddNew();
  pk->SetName("pk");
  pk->SetObjectID(200);
  pk->primary = pk->unique = true;
  pk->FillColumns({"f7", "f2"}, {"ASC", "DESC"}, {"CASE", "NO_CASE"});
  TABSIndexDef* byF3 = indexes.AddNew();
  byF3->SetName("by_f3");
  byF3->SetObjectID(202);
  byF3->FillColumns({"f3"}, {"DESC"}, {"NO_CASE"});
  TABSConstraintDefs constraints;
  auto* notNull = constraints.AddNewNotNull();
  notNull->SetName("nn");
  notNull->SubjectSlot() = {"f7", 107};
  auto* check = constraints.AddNewCheck();
  check->SetName("ck");
  check->SubjectSlot() = {"f7", 107};
  TABSVariant one(bftInteger);
  one.SetAsInteger(1);
  check->minValue.Assign(one);
  auto* primary = constraints.AddNewPrimary();
  primary->SetName("C_PK$f7$f2");
  primary->SubjectSlot() = {"pk", 200};
  primary->columns = {{"f7", 107}, {"f2", 102}};
  TABSMemoryStream stream;
  fields.SaveToStream(stream);
  indexes.SaveToStream(stream);
  constraints.SaveToStream(stream);
  return stream.Bytes();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Load(std::string(reinterpret_cast<const char*>(data), size));
  static const std::string valid = ValidStructure();
  std::string changed = valid;
  for (size_t i = 0; i + 3 <= size; i += 3)
    changed[(data[i] | data[i + 1] << 8) % changed.size()] = static_cast<char>(data[i + 2]);
  Load(changed);
  return 0;
}
