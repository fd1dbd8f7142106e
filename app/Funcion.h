// Funcion: the calculator's day arithmetic and its text helpers.
//
// Everything here is pure computation on values of the main window; nothing
// touches the database or a widget. Texts are std::string holding
// Windows-1252 bytes, the code page of the case files and of the engine; the
// window converts at the widget boundary (Controles.h).
//
// Invariants
//  1. Dates are whole day numbers counted from 30/12/1899 (day 0), the same
//     origin as the engine's DATE; only differences of two dates carry
//     meaning for the arithmetic, so any origin would do.
//  2. Years and months convert to days with DIAS_ANO = 365 and
//     DIAS_MES = 30.416666 (the six-decimal literal, not 365/12); leap years
//     are not considered.
//  3. Number texts use "," as decimal separator and no thousands separator;
//     date texts are dd/mm/yyyy.
//  4. The arithmetic functions and ValorNumerico never throw on finite
//     input. The strict readers (ReadNumber, ReadInteger, ReadDate) throw
//     EConvertError with the platform's conversion message.
//  5. Every exception message of the calculator is Windows-1252 text, like
//     the engine's; the application's handler converts it for display.
//
// Thread use: all functions are reentrant.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "core/ZUDTypes.h"

inline constexpr double DIAS_ANO = 365;
inline constexpr double DIAS_MES = 30.416666;
// Weighted days become contributed days at this rate (never above the
// calendar days of the period).
inline constexpr double kContributedDaysFactor = 1.5;

// A user error of the calculator: the message (Windows-1252) is shown as it
// stands in a modal box.
class ECalcError : public std::runtime_error {
 public:
  explicit ECalcError(const std::string& ansiMessage) : std::runtime_error(ansiMessage) {}
};

// A text that does not read as a number, a whole number or a date.
class EConvertError : public ECalcError {
 public:
  using ECalcError::ECalcError;
};

// A UTF-8 text of our sources (the Spanish messages) as Windows-1252 bytes.
std::string Ansi(std::string_view utf8);

// ---- Day arithmetic ----------------------------------------------------

struct CivilDate {
  int year = 0;
  int month = 0;
  int day = 0;
};

// IsValidDate(year, month, day) is the engine's (core/ZUDTypes.h): one
// calendar for the program and its database.
// Day number of a valid date of the proleptic Gregorian calendar.
int32_t DayNumber(int year, int month, int day);
CivilDate DateOfDayNumber(int32_t dayNumber);

// (Coef / 100) x Dias, unrounded, for every rounding mode.
double RedondeoCoef(int tipoRedondeo, double dias, double coef);
// Weighted days of the period Desde..Hasta (both included) at Coef percent,
// rounded half away from zero to two decimals; 0 when Hasta < Desde.
double CalcularDias(int32_t desde, int32_t hasta, double coef, int tipoRedondeo = 0);
// Contributed days: the whole weighted days x 1.5, at most the calendar days.
double CalcularDiasEfectivos(double dias, double diasCoef);
// Days of a span of years and months, rounded up by one day when the plain
// conversion would read back as a shorter span.
double CalcularDiasAAMM(double anys, double meses);

// trunc(coef x dias / 100), with the percentage taken in exact hundredths:
// 64,6 % of 500 days is 323, never 322 from a binary product just below.
double ProporcionTruncada(double coef, double dias);

struct YearsMonths {
  double years = 0;
  double months = 0;
};
// Whole years and whole months of a number of days (the inverse reading of
// CalcularDiasAAMM).
YearsMonths YearsMonthsOfDays(double dias);

// ---- Texts and file names ------------------------------------------------

std::string QuitarEspacios(std::string_view text);
std::string CompactarEspacios(std::string_view text);
std::string ExtraerCampos(std::string_view line, int n, int k);
std::string ReemplazarTexto(std::string_view text, std::string_view pattern, std::string_view replacement);
std::string MayusculasES(std::string_view text);
std::string NombreDe(std::string_view path, bool upper);
std::string CarpetaDe(std::string_view path, bool upper);
std::string SinExtension(std::string_view path, bool upper);

// ---- Numbers and dates as text -------------------------------------------

// Lenient reading: points are thousands separators and dropped, "," is the
// decimal separator; 0 when the text holds no number.
double ValorNumerico(std::string_view text);
// The value by a pattern of "#", "0" and one "." (see Funcion.cpp).
std::string FormatoNumero(std::string_view pattern, double value);
// General form: up to 15 significant digits, trailing zeros dropped.
std::string TextoNumero(double value);

// Strict readers. ReadDate completes a year of one or two digits into the
// hundred years from pivotYear - 50 to pivotYear + 49; the overload without
// it takes the current year as pivot.
double ReadNumber(std::string_view text);
int32_t ReadInteger(std::string_view text);
int32_t ReadDate(std::string_view text, int pivotYear);
int32_t ReadDate(std::string_view text);
// dd/mm/yyyy of a day number.
std::string DateText(int32_t dayNumber);
// The day number of today's date.
int32_t Today();

// The percentage typed into the entry line as the program reads it: "645"
// stands for 64,5 and "6450" for 64,50, so a text between 100 and 1000
// (exclusive) is divided by 10, and one above 1000 up to 9999 by 100, each
// written back with at most two decimals; any other number stays as typed.
// EConvertError when the text is no number.
std::string NormalizarCoef(std::string_view text);
