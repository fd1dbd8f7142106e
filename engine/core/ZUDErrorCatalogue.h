// ZUDErrorCatalogue: every message the engine raises, with the codes it
// stands under, as data in one place.
//
// Contract
//  1. A native error code belongs to one raise site. The catalogue lists
//     each (code, format) pair once; 1020 distinct codes in the bands
//     10000-10515, 20001-20303 and 30001-30506, plus 2011 and 2156.
//  2. Fourteen codes are raised at two places with different messages and
//     so have two rows: 10115, 10118, 10332, 10414, 10462, 20034, 30297,
//     30316, 30317, 30319, 30320, 30321, 30322 and 30430.
//  3. Formats hold only "%s" and "%d" placeholders (filled in order), apart
//     from the stray "% bytes" of 30388, which the formatter keeps as text.
//  4. The only codes computed at run time are those of the name-slot loops
//     of not-null and check constraint definitions: slot i (0..2) uses
//     base + 2i for its length byte and base + 2i + 1 for its text, with
//     the bases below. Every code such a loop can produce is catalogued.
//  5. Every raise site writes `EABSException(<code>, "<format>"` with both
//     literals in one call expression; a test scans engine/ and tools/ and
//     refuses a pair that is not in the catalogue.
//
// Thread use: read-only data, callable from any thread.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

struct TABSCatalogueEntry {
  int32_t code;
  const char* format;
};

// Bases of the constraint-name slot loops (contract 4).
constexpr int32_t kNotNullNameWriteBase = 10243;
constexpr int32_t kNotNullNameReadBase = 10252;
constexpr int32_t kCheckNameWriteBase = 10221;
constexpr int32_t kCheckNameReadBase = 10233;

// The code of slot `slot` (0..2) of a name loop: its length byte when
// `text` is false, its text when true.
constexpr int32_t ConstraintNameSlotCode(int32_t base, int slot, bool text) { return base + 2 * slot + (text ? 1 : 0); }

// All rows, ascending by code (rows of one code in catalogue order).
std::span<const TABSCatalogueEntry> ErrorCatalogue();

// The formats that stand under `code`: none, one, or two for a dual code.
std::vector<const char*> CatalogueFormats(int32_t code);

// True when `format` stands under `code`.
bool IsCatalogued(int32_t code, std::string_view format);
