#include "Funcion.h"

#include <unicode/unistr.h>

#include <charconv>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "locale/CodePage.h"

std::string Ansi(std::string_view utf8) {
  icu::UnicodeString u = icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
  return tiv::locale::Utf16ToWin1252(
      std::u16string_view(reinterpret_cast<const char16_t*>(u.getBuffer()), static_cast<size_t>(u.length())));
}

namespace {

// Day 0 is 30/12/1899, which lies 25569 days before 01/01/1970.
constexpr int64_t kEpochOffset = 25569;

// Days from 01/01/1970 of a proleptic Gregorian date (eras of 400 years).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

CivilDate CivilFromDays(int64_t z) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  return CivilDate{static_cast<int>(y + (m <= 2)), static_cast<int>(m), static_cast<int>(d)};
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

// Reads [sign] digits [, digits] [(e|E) [sign] digits] with blanks around;
// at least one mantissa digit. Returns false on anything else or on a value
// out of the double range.
bool ParseDecimal(std::string_view text, double& out) {
  std::string_view s = TrimBlanks(text);
  std::string ascii;
  size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    if (s[i] == '-') ascii.push_back('-');
    ++i;
  }
  size_t mantissaDigits = 0;
  while (i < s.size() && IsDigit(s[i])) ascii.push_back(s[i++]), ++mantissaDigits;
  if (i < s.size() && s[i] == ',') {
    ascii.push_back('.');
    ++i;
    while (i < s.size() && IsDigit(s[i])) ascii.push_back(s[i++]), ++mantissaDigits;
  }
  if (mantissaDigits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ascii.push_back('e');
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ascii.push_back(s[i++]);
    size_t expDigits = 0;
    while (i < s.size() && IsDigit(s[i])) ascii.push_back(s[i++]), ++expDigits;
    if (expDigits == 0) return false;
  }
  if (i != s.size()) return false;
  double v = 0;
  auto [ptr, ec] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), v);
  if (ec != std::errc() || ptr != ascii.data() + ascii.size() || !std::isfinite(v)) return false;
  out = v;
  return true;
}

std::string Quoted(const char* utf8Format, std::string_view text) {
  std::string msg = Ansi(utf8Format);
  const size_t at = msg.find("%s");
  if (at != std::string::npos) msg.replace(at, 2, text);
  return msg;
}

// The decimal digits of |v| rounded to `decimals` places after the point,
// half away from zero, working on its 15 significant digits: the digits a
// double really carries. With more, a decimal half such as 1.825 (0,5 % of
// 365 days) shows the binary error below it (1.82499999999999996) and would
// round down, against the rule. `digits` has no
// leading zeros; `pointPos` is the count of digits before the point (may be
// zero or negative for values below 0.1).
struct Decimal {
  std::string digits;
  int pointPos = 0;
};

Decimal RoundedDecimal(double v, int decimals) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.14e", std::fabs(v));
  Decimal d;
  for (const char* p = buf; *p && *p != 'e'; ++p)
    if (IsDigit(*p)) d.digits.push_back(*p);
  const char* e = std::strchr(buf, 'e');
  d.pointPos = (e ? std::atoi(e + 1) : 0) + 1;
  if (d.digits.find_first_not_of('0') == std::string::npos) return Decimal{};
  const int keep = d.pointPos + decimals;
  if (keep < 0) return Decimal{};
  if (keep < static_cast<int>(d.digits.size())) {
    const bool up = d.digits[static_cast<size_t>(keep)] >= '5';
    d.digits.resize(static_cast<size_t>(keep));
    if (up) {
      int i = keep - 1;
      while (i >= 0 && d.digits[static_cast<size_t>(i)] == '9') d.digits[static_cast<size_t>(i--)] = '0';
      if (i >= 0) {
        ++d.digits[static_cast<size_t>(i)];
      } else {
        d.digits.insert(d.digits.begin(), '1');
        ++d.pointPos;
      }
    }
  }
  if (d.digits.find_first_not_of('0') == std::string::npos) return Decimal{};
  return d;
}

}  // namespace

// ---- Day arithmetic ----------------------------------------------------

int32_t DayNumber(int year, int month, int day) {
  return static_cast<int32_t>(DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) +
                              kEpochOffset);
}

CivilDate DateOfDayNumber(int32_t dayNumber) { return CivilFromDays(static_cast<int64_t>(dayNumber) - kEpochOffset); }

double RedondeoCoef(int /*tipoRedondeo*/, double dias, double coef) { return (coef / 100) * dias; }

double CalcularDias(int32_t desde, int32_t hasta, double coef, int tipoRedondeo) {
  if (static_cast<int64_t>(hasta) + 1 <= desde) return 0;
  const double n = static_cast<double>(static_cast<int64_t>(hasta) + 1 - desde);
  const double v = RedondeoCoef(tipoRedondeo, n, coef);
  double r = 0;
  return ParseDecimal(FormatoNumero("#####0.##", v), r) ? r : 0;
}

double CalcularDiasEfectivos(double dias, double diasCoef) {
  const double e = std::trunc(diasCoef) * kContributedDaysFactor;
  return e <= dias ? e : dias;
}

double CalcularDiasAAMM(double anys, double meses) {
  const double d = std::trunc(meses * DIAS_MES) + anys * DIAS_ANO;
  const double y = std::trunc(d / DIAS_ANO);
  const double m = std::trunc((d - y * DIAS_ANO) / DIAS_MES);
  return (anys > y || meses > m) ? d + 1 : d;
}

double ProporcionTruncada(double coef, double dias) {
  // coef x 100 is a whole number of hundredths; with whole days the product
  // is an exact integer and the division by 10000 truncates right.
  const double hundredths = std::round(coef * 100);
  return std::trunc(hundredths * dias / 10000);
}

YearsMonths YearsMonthsOfDays(double dias) {
  YearsMonths r;
  r.years = std::trunc(dias / DIAS_ANO);
  r.months = std::trunc((dias - r.years * 365) / DIAS_MES);
  return r;
}

// ---- Texts and file names ------------------------------------------------

std::string QuitarEspacios(std::string_view text) { return std::string(TrimBlanks(text)); }

std::string CompactarEspacios(std::string_view text) {
  const std::string trimmed = QuitarEspacios(text);
  std::string out;
  out.reserve(trimmed.size());
  for (char c : trimmed)
    if (c != ' ' || out.empty() || out.back() != ' ') out.push_back(c);
  return out;
}

std::string ExtraerCampos(std::string_view line, int n, int k) {
  if (n < 1 || k < 1) return {};
  std::vector<std::string_view> fields;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && line[i] == ' ') ++i;
    const size_t start = i;
    while (i < line.size() && line[i] != ' ') ++i;
    if (i > start) fields.push_back(line.substr(start, i - start));
  }
  std::string out;
  for (size_t f = static_cast<size_t>(n - 1);
       f < fields.size() && f < static_cast<size_t>(n - 1) + static_cast<size_t>(k); ++f) {
    if (!out.empty()) out.push_back(' ');
    out.append(fields[f]);
  }
  return out;
}

std::string ReemplazarTexto(std::string_view text, std::string_view pattern, std::string_view replacement) {
  // An empty pattern matches nowhere: there is nothing to replace.
  if (pattern.empty()) return std::string(text);
  std::string out;
  size_t pos = 0;
  for (size_t at = text.find(pattern); at != std::string_view::npos; at = text.find(pattern, pos)) {
    out.append(text.substr(pos, at - pos));
    out.append(replacement);
    pos = at + pattern.size();
  }
  out.append(text.substr(pos));
  return out;
}

std::string MayusculasES(std::string_view text) {
  // Windows-1252 lower-case accented letters and their capitals; "ü" (0xFC)
  // is deliberately absent.
  static constexpr unsigned char kLower[] = {0xE1, 0xE9, 0xED, 0xF3, 0xFA, 0xE0, 0xE8, 0xEC, 0xF2, 0xF9, 0xF1, 0xE7};
  static constexpr unsigned char kUpper[] = {0xC1, 0xC9, 0xCD, 0xD3, 0xDA, 0xC0, 0xC8, 0xCC, 0xD2, 0xD9, 0xD1, 0xC7};
  std::string out(text);
  for (char& c : out) {
    const unsigned char b = static_cast<unsigned char>(c);
    for (size_t i = 0; i < sizeof kLower; ++i)
      if (b == kLower[i]) c = static_cast<char>(kUpper[i]);
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

std::string NombreDe(std::string_view path, bool upper) {
  const size_t at = path.find_last_of("\\/");
  std::string name(at == std::string_view::npos ? path : path.substr(at + 1));
  return upper ? MayusculasES(name) : name;
}

std::string CarpetaDe(std::string_view path, bool upper) {
  const size_t at = path.rfind('\\');
  std::string folder(at == std::string_view::npos ? std::string_view() : path.substr(0, at));
  return upper ? MayusculasES(folder) : folder;
}

std::string SinExtension(std::string_view path, bool upper) {
  std::string name = NombreDe(path, upper);
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.resize(dot);
  if (path.find('\\') == std::string_view::npos) return name;
  return CarpetaDe(path, upper) + "\\" + name;
}

// ---- Numbers and dates as text -------------------------------------------

double ValorNumerico(std::string_view text) {
  std::string s = QuitarEspacios(text).empty() ? std::string("0") : std::string(text);
  std::string noPoints;
  noPoints.reserve(s.size());
  for (char c : s)
    if (c != '.') noPoints.push_back(c);
  double v = 0;
  return ParseDecimal(noPoints, v) ? v : 0;
}

// Patterns: an integer part of "#" and "0" placeholders, then optionally "."
// and decimal placeholders. A "0" anywhere before the point makes a zero
// integer part show as "0"; decimal "0" placeholders always show their
// digit, "#" ones only up to the last non-zero digit.
std::string FormatoNumero(std::string_view pattern, double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  const size_t point = pattern.find('.');
  const std::string_view intPattern = pattern.substr(0, point);
  const std::string_view decPattern = point == std::string_view::npos ? std::string_view() : pattern.substr(point + 1);
  int decimals = 0;
  int required = 0;
  for (char c : decPattern) {
    if (c == '0' || c == '#') ++decimals;
    if (c == '0') required = decimals;
  }
  const Decimal d = RoundedDecimal(value, decimals);
  std::string intDigits;
  std::string decDigits;
  for (int i = 0; i < d.pointPos; ++i)
    intDigits.push_back(i < static_cast<int>(d.digits.size()) ? d.digits[static_cast<size_t>(i)] : '0');
  for (int i = d.pointPos; i < d.pointPos + decimals; ++i)
    decDigits.push_back(i >= 0 && i < static_cast<int>(d.digits.size()) ? d.digits[static_cast<size_t>(i)] : '0');
  while (static_cast<int>(decDigits.size()) > required && !decDigits.empty() && decDigits.back() == '0')
    decDigits.pop_back();
  const size_t firstNonZero = intDigits.find_first_not_of('0');
  intDigits = firstNonZero == std::string::npos ? std::string() : intDigits.substr(firstNonZero);
  if (intDigits.empty() && intPattern.find('0') != std::string_view::npos) intDigits.assign(1, '0');
  std::string out;
  if (value < 0 && !d.digits.empty()) out.push_back('-');
  out += intDigits;
  if (!decDigits.empty()) out.append(",").append(decDigits);
  return out;
}

std::string TextoNumero(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  if (value == 0) return "0";
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.14e", std::fabs(value));
  std::string digits;
  for (const char* p = buf; *p && *p != 'e'; ++p)
    if (IsDigit(*p)) digits.push_back(*p);
  const char* e = std::strchr(buf, 'e');
  const int exponent = e ? std::atoi(e + 1) : 0;
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  std::string out = value < 0 ? "-" : "";
  const int intCount = exponent + 1;
  if (intCount <= 15 && std::fabs(value) >= 0.00001) {
    if (intCount <= 0) {
      out.append("0,").append(static_cast<size_t>(-intCount), '0').append(digits);
    } else if (static_cast<int>(digits.size()) <= intCount) {
      out.append(digits).append(static_cast<size_t>(intCount) - digits.size(), '0');
    } else {
      out.append(digits, 0, static_cast<size_t>(intCount)).append(",").append(digits, static_cast<size_t>(intCount));
    }
    return out;
  }
  out += digits.substr(0, 1);
  if (digits.size() > 1) out.append(",").append(digits, 1);
  out.append("E").append(std::to_string(exponent));
  return out;
}

double ReadNumber(std::string_view text) {
  double v = 0;
  if (!ParseDecimal(text, v)) throw EConvertError(Quoted("'%s' no es un valor decimal válido", text));
  return v;
}

int32_t ReadInteger(std::string_view text) {
  std::string_view s = text;
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  int64_t v = 0;
  bool ok = !s.empty();
  for (char c : s) {
    if (!IsDigit(c) || v > INT64_C(10000000000)) {
      ok = false;
      break;
    }
    v = v * 10 + (c - '0');
  }
  if (negative) v = -v;
  if (!ok || v < INT32_MIN || v > INT32_MAX) throw EConvertError(Quoted("'%s' no es un valor entero válido", text));
  return static_cast<int32_t>(v);
}

int32_t ReadDate(std::string_view text, int pivotYear) {
  // Three parts separated by "/", each a run of digits with blanks around;
  // day and month of one or two digits, the year of one to four.
  int parts[3] = {0, 0, 0};
  int lengths[3] = {0, 0, 0};
  std::string_view rest = text;
  bool ok = true;
  for (int p = 0; p < 3 && ok; ++p) {
    const size_t slash = rest.find('/');
    if ((p < 2) == (slash == std::string_view::npos)) {
      ok = false;
      break;
    }
    std::string_view part = TrimBlanks(p < 2 ? rest.substr(0, slash) : rest);
    if (p < 2) rest.remove_prefix(slash + 1);
    const int maxLen = p < 2 ? 2 : 4;
    if (part.empty() || static_cast<int>(part.size()) > maxLen) ok = false;
    for (char c : part)
      if (!IsDigit(c)) ok = false;
    if (!ok) break;
    for (char c : part) parts[p] = parts[p] * 10 + (c - '0');
    lengths[p] = static_cast<int>(part.size());
  }
  if (ok && lengths[2] <= 2) {
    const int centuryBase = pivotYear - 50;
    parts[2] += centuryBase / 100 * 100;
    if (parts[2] < centuryBase) parts[2] += 100;
  }
  if (!ok || !IsValidDate(parts[2], parts[1], parts[0]))
    throw EConvertError(Quoted("'%s' no es una fecha válida", text));
  return DayNumber(parts[2], parts[1], parts[0]);
}

int32_t ReadDate(std::string_view text) {
  const auto today =
      std::chrono::year_month_day(std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now()));
  return ReadDate(text, static_cast<int>(today.year()));
}

std::string DateText(int32_t dayNumber) {
  const CivilDate c = DateOfDayNumber(dayNumber);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", c.day, c.month, c.year);
  return buf;
}

int32_t Today() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t t = std::chrono::system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&t, &local);
  return DayNumber(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
}

std::string NormalizarCoef(std::string_view text) {
  std::string t(text);
  double v = ReadNumber(t);
  if (v > 100 && v < 1000) {
    t = FormatoNumero("###.##", v / 10);
    v = ReadNumber(t);
  }
  if (v > 1000 && v <= 9999) t = FormatoNumero("###.##", v / 100);
  return t;
}
