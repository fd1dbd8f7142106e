// BaseSession: TABSBaseSession, what every session carries whatever its
// database: its identifier, its transaction flag (both in TABSSessionInfo,
// as the table data reads them) and the session-named values, one per
// object identifier: the last autoincrement value a field handed to this
// session.
//
// Contract
//  1. PutNamedValue replaces the entry with the same name (compared
//     case-insensitively), or with the same identifier when the identifier
//     is not -1; otherwise it adds one. Names are at most 255 characters
//     ("Invalid name length" is the caller's concern: longer names are cut).
//  2. FindNamedValue by name compares case-insensitively (ASCII folding,
//     as every engine name).
//
// Thread use: one thread at a time, the session's.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/ZUDTableManagers.h"

class TABSBaseSession : public TABSSessionInfo {
 public:
  struct NamedValue {
    int32_t objectID = -1;
    std::string name;
    int64_t value = 0;
  };

  virtual ~TABSBaseSession() = default;

  void PutNamedValue(int32_t objectID, const std::string& name, int64_t value);
  std::optional<NamedValue> FindNamedValue(const std::string& name) const;
  std::optional<NamedValue> FindNamedValue(int32_t objectID) const;
  void RemoveNamedValue(int32_t objectID);
};
