// Supuesto: the case file, a small text file a person can also write by
// hand. This unit reads and writes its text; the window (Menu.cpp) moves
// it to and from the controls and the table `inicial`.
//
// Format. Windows-1252 text; every line written ends with CR LF (the last
// one too); reading takes CR, LF or both as a line end.
//   diastot=730            optional header: the report's total days
//   diasnat=0              (EDiasTot), the item of CKDiasNat (0 "dias
//   cktotdias=si           nat", 1 "dias coef") and CKTotDias ("si"/"no");
//                          written only when EDiasTot is not empty
//   01/01/2010 31/03/2010 50
//   01/04/2010 30/06/2010 64,5
// One line per entered period, in `desde` order: start date, end date
// (dd/mm/yyyy) and percentage (comma decimals, TextoNumero), separated by
// spaces. Reading: runs of spaces separate the fields, words after the
// third are ignored, a missing percentage is 0, a point in the percentage
// is its decimal separator.
//
// Invariants
//  1. The header is read by its keys ("diastot", "diasnat", "cktotdias",
//     each followed by "=", spaces allowed around both, any case) among the
//     file's first three lines; a line that is not one ends the header, so
//     a missing or reordered line is no harm. diasnat must be 0 or 1.
//  2. LeerSupuesto decides whether a text is a case file before anything
//     is changed: a file over kMaxCaseFileBytes, with bytes no text holds,
//     or whose first period line has no two dates, is refused whole.
//  3. A percentage is a number with at most two decimals; "1.000" or
//     "64,5x" is no percentage (never a silent 1 or 0).
//
// Thread use: reentrant.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

inline constexpr size_t kMaxCaseFileBytes = 1 << 20;

struct TCabeceraSupuesto {
  bool presente = false;
  std::string diasTot;  // text of EDiasTot
  int diasNat = 1;      // item of CKDiasNat
  bool ckTotDias = false;
};

struct TPeriodoSupuesto {
  int32_t desde = 0;  // day numbers (Funcion.h)
  int32_t hasta = 0;
  double coef = 0;
};

// The text of a case file (format above).
std::string EscribirSupuesto(const TCabeceraSupuesto& cabecera, const std::vector<TPeriodoSupuesto>& periodos);

// One period line of a read file, with its number in the file (from 1).
struct TLineaSupuesto {
  int numero = 0;
  std::string texto;
};

struct TSupuestoLeido {
  TCabeceraSupuesto cabecera;
  std::vector<TLineaSupuesto> lineas;  // the period lines, blank ones left out
};

// Reads a case file's text (invariants 1 and 2). ECalcError with the
// message to show for a text that is no case file or a bad header.
TSupuestoLeido LeerSupuesto(std::string_view texto);

// The fields of a period line. EConvertError when either date is no date
// (the loading stops there); `fechasEnRango` false for a year outside
// 1900-2100 and `coefLegible` false when the percentage is no number
// (invariant 3): such a line is refused, as the keyboard refuses it.
struct TPeriodoLeido {
  TPeriodoSupuesto periodo;
  bool fechasEnRango = true;
  bool coefLegible = true;
};
TPeriodoLeido LeerPeriodo(std::string_view linea);

// The case reference of a file name: its name without folder and
// extension, in upper case ("EJEMPLO" for /x/ejemplo.txt).
std::string ReferenciaDe(std::string_view fileName);
