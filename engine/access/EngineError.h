// EngineError: EABSEngineError, the error the datasets raise when an
// engine cursor reports a record write that did not succeed.
//
// Message: "Zorvantek Engine Error # " + code + " " + text, where the text
// is fixed for the cursor's codes -1 .. -13 (except -8, whose text the
// engine supplies: the reason the post failed).
#pragma once

#include <cstdint>
#include <string>

#include "dataset/DatabaseError.h"

class EABSEngineError : public tiv::dataset::EDatabaseError {
 public:
  EABSEngineError(int32_t errorCode, const std::string& engineText);
  int32_t ErrorCode() const { return errorCode_; }
  // The fixed text of a code, or `engineText` for -8 and codes without one.
  static std::string TextOf(int32_t errorCode, const std::string& engineText);

 private:
  int32_t errorCode_;
};
