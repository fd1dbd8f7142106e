#include "access/EngineError.h"

std::string EABSEngineError::TextOf(int32_t errorCode, const std::string& engineText) {
  switch (errorCode) {
    case -1: return "Error adding record";
    case -2: return "Error updating record";
    case -3: return "Error deleting record";
    case -4: return "Error updating record - record was modified by other process";
    case -5: return "Error deleting record - record was modified by other process";
    case -6: return "Error updating record - record was deleted by other process";
    case -7: return "Error deleting record - record was deleted by other process";
    case -9: return "Cannot update record in temporary mode";
    case -10: return "Cannot delete record in temporary mode";
    case -11: return "Cannot cancel operation in temporary mode";
    case -12: return "Record is locked";
    case -13: return "Table is locked";
    default: return engineText;
  }
}

EABSEngineError::EABSEngineError(int32_t errorCode, const std::string& engineText)
    : EDatabaseError("Zorvantek Engine Error # " + std::to_string(errorCode) + " " + TextOf(errorCode, engineText)),
      errorCode_(errorCode) {}
