#include "local/BaseSession.h"

#include "core/ZUDMetaObjectDef.h"

void TABSBaseSession::PutNamedValue(int32_t objectID, const std::string& name, int64_t value) {
  const std::string stored = name.substr(0, 255);
  // The values live in TABSSessionInfo keyed by object identifier, where
  // the table data finds them; an entry of the same name under another
  // identifier is the one replaced.
  for (const auto& [id, entry] : SequenceValues())
    if (SameName(entry.name, stored) && id != objectID) {
      RemoveSequenceValue(id);
      break;
    }
  PutSequenceValue(objectID, stored, value);
}

std::optional<TABSBaseSession::NamedValue> TABSBaseSession::FindNamedValue(const std::string& name) const {
  for (const auto& [id, entry] : SequenceValues())
    if (SameName(entry.name, name)) return NamedValue{id, entry.name, entry.value};
  return std::nullopt;
}

std::optional<TABSBaseSession::NamedValue> TABSBaseSession::FindNamedValue(int32_t objectID) const {
  const SequenceValue* entry = FindSequenceValue(objectID);
  if (!entry) return std::nullopt;
  return NamedValue{objectID, entry->name, entry->value};
}

void TABSBaseSession::RemoveNamedValue(int32_t objectID) { RemoveSequenceValue(objectID); }
