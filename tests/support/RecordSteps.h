// One GetRecord request of a record manager, for the tests that walk a
// storage kind's records directly.
#pragma once

#include "core/ZUDRecordManager.h"

inline TABSGetRecordRequest StepRecords(TABSBaseRecordManager& manager, char* destination, TABSGetRecordMode mode,
                                        TABSRecordID from, bool beforeFirst, bool afterLast) {
  TABSGetRecordRequest r;
  r.mode = mode;
  r.recordID = from;
  r.beforeFirst = beforeFirst;
  r.afterLast = afterLast;
  r.destination = destination;
  manager.GetRecord(0, r);
  return r;
}
