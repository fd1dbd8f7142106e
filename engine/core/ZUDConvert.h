// ZUDConvert: conversion of one value buffer from one storage type into a
// fresh buffer of another; the engine of TABSVariant's SetData, GetData,
// CastTo and of the operands of comparisons.
//
// Contract
//  1. The result is a fresh manager block (empty for an empty BLOB-family
//     value) and its size; the source is never touched.
//  2. Text into numbers: integers are read as whole 64-bit numbers and must
//     fit the target (CARDINAL takes 0..4294967295); SINGLE, DOUBLE and
//     EXTENDED accept "." as the decimal separator whatever the locale, and
//     the locale's separator as well; CURRENCY takes the locale's
//     separator only. NaN and infinity are never accepted.
//  3. Text into DATE: the fixed date-time form (yyyy mm dd hh nn ss), the
//     fixed date form (yyyy mm dd), then the locale's short date; DATETIME
//     the same but the locale's date-time last; TIME the fixed time form
//     (hh nn ss), then the locale's time. A fixed form matches only when
//     each field has exactly its digits, each field but the last is
//     followed by exactly one non-digit separator, and at most one
//     character follows the last field. Fixed forms give 0 milliseconds.
//  4. Numbers into text: decimal integers, shortest float text, currency
//     rounded to 1/10000; dates, times and date-times by the locale;
//     LOGICAL as "True" or "False".
//  5. A failure raises 30051, a pair without a conversion 30052, both with
//     the two storage type names.
//
// Thread use: any thread; reads the current locale.
#pragma once

#include <cstdint>

#include "core/ZUDMemory.h"
#include "core/ZUDTypes.h"

struct TABSConverted {
  TABSMemBlock block;
  int32_t size = 0;
};

// `size` -1: a string's size is found from its terminator.
TABSConverted ConvertValue(const char* source, TABSStorageType from, int32_t size, TABSStorageType to);
bool HasConversion(TABSStorageType from, TABSStorageType to);

// Copies raw bytes into a fresh block (size 0 gives an empty block).
TABSConverted CopyValue(const char* source, int32_t size);
