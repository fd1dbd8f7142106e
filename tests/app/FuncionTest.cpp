// The calculator's day arithmetic and text helpers, as tables of worked
// values.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "Funcion.h"

namespace {

int32_t D(const char* ddmmyyyy) { return ReadDate(ddmmyyyy, 2018); }

TEST(Funcion, CalcularDias) {
  struct Case {
    const char* desde;
    const char* hasta;
    double coef;
    double dias;
  } cases[] = {
      {"01/01/2010", "31/12/2010", 100, 365},
      {"01/01/2010", "31/12/2010", 64.5, 235.43},
      {"05/03/2010", "05/03/2010", 50, 0.5},
      {"10/03/2010", "09/03/2010", 100, 0},
      {"10/03/2010", "09/03/2010", 50, 0},
      {"01/02/2012", "31/03/2012", 100, 60},
      {"01/01/2000", "31/12/2000", 100, 366},
      {"01/01/1900", "31/12/2100", 100, 73414},
      {"01/03/2010", "31/03/2010", 33.33, 10.33},
      {"01/01/2010", "10/01/2010", 0.05, 0.01},
      {"01/01/2010", "01/01/2010", 0.4, 0},
      {"01/01/2010", "31/12/2010", 0, 0},
      // Decimal halves whose binary form lies just below the half still round up.
      {"01/01/2010", "31/12/2010", 0.5, 1.83},
      {"01/01/2010", "31/12/2010", 1.5, 5.48},
  };
  for (const Case& c : cases)
    EXPECT_DOUBLE_EQ(CalcularDias(D(c.desde), D(c.hasta), c.coef), c.dias)
        << c.desde << ".." << c.hasta << " @" << c.coef;
}

TEST(Funcion, RedondeoCoefIsUnrounded) {
  EXPECT_DOUBLE_EQ(RedondeoCoef(0, 365, 64.5), 235.425);
  EXPECT_DOUBLE_EQ(RedondeoCoef(7, 3, 33.333), 0.99999);
}

TEST(Funcion, CalcularDiasEfectivos) {
  struct Case {
    double dias, diasCoef, efectivos;
  } cases[] = {{365, 235.43, 352.5}, {365, 300.9, 365}, {365, 243.99, 364.5},
               {365, 244, 365},      {10, 0.99, 0},     {0, 0, 0}};
  for (const Case& c : cases) EXPECT_DOUBLE_EQ(CalcularDiasEfectivos(c.dias, c.diasCoef), c.efectivos) << c.diasCoef;
}

TEST(Funcion, YearsAndMonthsToDaysAndBack) {
  struct Case {
    double anys, meses, dias;
  } toDays[] = {{0, 1, 31},  {0, 2, 61},  {0, 3, 92},   {0, 6, 183},   {0, 11, 335}, {1, 0, 365},
                {1, 1, 396}, {1, 6, 548}, {1, 11, 700}, {15, 0, 5475}, {0, 0, 0}};
  for (const Case& c : toDays) {
    EXPECT_DOUBLE_EQ(CalcularDiasAAMM(c.anys, c.meses), c.dias) << c.anys << "y " << c.meses << "m";
    // Every span converted to days reads back as the same span.
    const YearsMonths back = YearsMonthsOfDays(c.dias);
    EXPECT_EQ(back.years, c.anys) << c.dias;
    EXPECT_EQ(back.months, c.meses) << c.dias;
  }
  struct Back {
    double dias, anys, meses;
  } toSpan[] = {{30, 0, 0}, {31, 0, 1}, {60, 0, 1}, {364, 0, 11}, {365, 1, 0}, {366, 1, 0}, {5475, 15, 0}, {400, 1, 1}};
  for (const Back& c : toSpan) {
    const YearsMonths ym = YearsMonthsOfDays(c.dias);
    EXPECT_EQ(ym.years, c.anys) << c.dias;
    EXPECT_EQ(ym.months, c.meses) << c.dias;
  }
}

TEST(Funcion, FormatoNumero) {
  struct Case {
    const char* pattern;
    double value;
    const char* text;
  } cases[] = {
      {"####0.##", 235.425, "235,43"},
      {"####0.##", 12, "12"},
      {"####0.##", 0, "0"},
      {"####0.##", 0.004, "0"},
      {"####0.##", -0.004, "0"},
      {"####0.##", -2.5, "-2,5"},
      {"####0.##", 1.005, "1,01"},
      {"####0.00", 64.5, "64,50"},
      {"####0.00", 0, "0,00"},
      {"###.##", 64.5, "64,5"},
      {"###.##", 0.5, ",5"},
      {"###.##", 0, ""},
      {"###.##", 99.999, "100"},
      {"#####0", 365, "365"},
      {"#####0", 0, "0"},
      {"#####0", 2.5, "3"},
      {"#####0", -2.5, "-3"},
      {"####0", 1234567, "1234567"},
      {"####", 0, ""},
      {"####", 3531.4, "3531"},
      {"###", 0, ""},
      {"###", 9, "9"},
      {"#####0.##", 0.125, "0,13"},
      {"#####0.##", 1e20, "100000000000000000000"},
      // Rounding works on the 15 significant digits a double carries, so a
      // decimal half whose nearest double lies just below it still rounds up.
      {"####0.##", 0.0049999, "0"},
      {"####0.##", 9.995, "10"},
      {"####0.##", 9.9949, "9,99"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatoNumero(c.pattern, c.value), c.text) << c.pattern << " " << c.value;
}

TEST(Funcion, TextoNumero) {
  struct Case {
    double value;
    const char* text;
  } cases[] = {{12, "12"},
               {2.5, "2,5"},
               {-7, "-7"},
               {0, "0"},
               {64.5, "64,5"},
               {0.1, "0,1"},
               {1.0 / 3, "0,333333333333333"},
               {0.00001, "0,00001"},
               {123456789012345, "123456789012345"},
               {1e15, "1E15"},
               {1.5e20, "1,5E20"},
               {0.000001, "1E-6"},
               {100, "100"}};
  for (const Case& c : cases) EXPECT_EQ(TextoNumero(c.value), c.text) << c.value;
}

TEST(Funcion, ValorNumerico) {
  struct Case {
    const char* text;
    double value;
  } cases[] = {{"1.234,5", 1234.5}, {"  ", 0},     {"", 0},     {"abc", 0},   {"64,5", 64.5},
               {" 64,5 ", 64.5},    {"64.5", 645}, {"-3", -3},  {"1e2", 100}, {"12abc", 0},
               {",5", 0.5},         {"5,", 5},     {"1,2,3", 0}};
  for (const Case& c : cases) EXPECT_DOUBLE_EQ(ValorNumerico(c.text), c.value) << '"' << c.text << '"';
}

TEST(Funcion, StrictReaders) {
  EXPECT_DOUBLE_EQ(ReadNumber(" 64,5 "), 64.5);
  EXPECT_DOUBLE_EQ(ReadNumber("-1,5E2"), -150);
  EXPECT_DOUBLE_EQ(ReadNumber("+7"), 7);
  for (const char* bad : {"", " ", "64.5", "1.234,5", "abc", "1e", "-", ",", "1 2", "1e999"}) {
    try {
      ReadNumber(bad);
      ADD_FAILURE() << "accepted \"" << bad << '"';
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.what(), "'" + std::string(bad) + Ansi("' no es un valor decimal válido"));
    }
  }
  EXPECT_EQ(ReadInteger("-42"), -42);
  EXPECT_EQ(ReadInteger("2147483647"), 2147483647);
  for (const char* bad : {"", "1,5", " 1", "2147483648", "99999999999999999999", "+", "12a"}) {
    try {
      ReadInteger(bad);
      ADD_FAILURE() << "accepted \"" << bad << '"';
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.what(), "'" + std::string(bad) + Ansi("' no es un valor entero válido"));
    }
  }
}

TEST(Funcion, ReadDate) {
  struct Case {
    const char* text;
    const char* date;  // dd/mm/yyyy, or nullptr when refused
  } cases[] = {
      {"01/01/2010", "01/01/2010"}, {"1/2/2010", "01/02/2010"},  {" 1 / 2 /2010 ", "01/02/2010"},
      {"29/02/2012", "29/02/2012"}, {"29/02/2010", nullptr},     {"31/02/2010", nullptr},
      {"31/04/2010", nullptr},      {"00/01/2010", nullptr},     {"01/13/2010", nullptr},
      {"  /  /    ", nullptr},      {"01/01", nullptr},          {"01/01/2010/1", nullptr},
      {"001/01/2010", nullptr},     {"01/01/20100", nullptr},    {"aa/01/2010", nullptr},
      {"01/01/10  ", "01/01/2010"}, {"01/01/67", "01/01/2067"},  {"01/01/68", "01/01/1968"},
      {"01/01/0", "01/01/2000"},    {"29/02/1900", nullptr},     {"29/02/2000", "29/02/2000"},
      {"31/12/9999", "31/12/9999"}, {"01/01/201", "01/01/0201"},
  };
  for (const Case& c : cases) {
    if (c.date) {
      EXPECT_EQ(DateText(ReadDate(c.text, 2018)), c.date) << c.text;
    } else {
      try {
        ReadDate(c.text, 2018);
        ADD_FAILURE() << "accepted \"" << c.text << '"';
      } catch (const EConvertError& e) {
        EXPECT_EQ(e.what(), "'" + std::string(c.text) + Ansi("' no es una fecha válida"));
      }
    }
  }
  // Day numbers share the engine's origin and count every day.
  EXPECT_EQ(ReadDate("30/12/1899", 2018), 0);
  EXPECT_EQ(ReadDate("01/01/1900", 2018), 2);
  EXPECT_EQ(ReadDate("01/03/2012", 2018) - ReadDate("28/02/2012", 2018), 2);
}

TEST(Funcion, SpaceAndFieldHelpers) {
  EXPECT_EQ(QuitarEspacios("  a b  "), "a b");
  EXPECT_EQ(QuitarEspacios("\ta\t "), "\ta\t");
  EXPECT_EQ(QuitarEspacios("    "), "");
  EXPECT_EQ(CompactarEspacios("  a   b  c "), "a b c");
  EXPECT_EQ(CompactarEspacios("a\t\tb"), "a\t\tb");

  struct Case {
    const char* line;
    int n, k;
    const char* fields;
  } cases[] = {{"01/01/2010 31/12/2010 64,5", 1, 1, "01/01/2010"},
               {"  01/01/2010    31/12/2010   64,5  ", 2, 1, "31/12/2010"},
               {"a b c d", 2, 2, "b c"},
               {"a b c", 2, 5, "b c"},
               {"a b", 3, 1, ""},
               {"", 1, 1, ""},
               {"a b", 0, 1, ""}};
  for (const Case& c : cases) EXPECT_EQ(ExtraerCampos(c.line, c.n, c.k), c.fields) << c.line << " " << c.n;

  EXPECT_EQ(ReemplazarTexto("64.5", ".", ","), "64,5");
  EXPECT_EQ(ReemplazarTexto("aaaa", "aa", "b"), "bb");
  EXPECT_EQ(ReemplazarTexto("aaa", "aa", "a"), "aa");
  EXPECT_EQ(ReemplazarTexto("abc", "", "x"), "abc");
  EXPECT_EQ(ReemplazarTexto("a.b.c", ".", ""), "abc");
}

TEST(Funcion, MayusculasESOnWindows1252) {
  EXPECT_EQ(MayusculasES(Ansi("camión ñandú pingüino façade àèìòù")), Ansi("CAMIÓN ÑANDÚ PINGüINO FAÇADE ÀÈÌÒÙ"));
  EXPECT_EQ(MayusculasES(Ansi("Ejemplo-1_á.txt")), Ansi("EJEMPLO-1_Á.TXT"));
  // Bytes that are not letters stay as they are.
  EXPECT_EQ(MayusculasES(std::string("\x80\xff{}", 4)), std::string("\x80\xff{}", 4));
}

TEST(Funcion, FileNameHelpers) {
  struct Case {
    const char* path;
    const char* nombre;
    const char* carpeta;
    const char* sinExtension;
  } cases[] = {
      {"C:\\casos\\ejemplo.txt", "EJEMPLO.TXT", "C:\\CASOS", "C:\\CASOS\\EJEMPLO"},
      {"/home/ana/ejemplo.txt", "EJEMPLO.TXT", "", "EJEMPLO"},
      {"ejemplo", "EJEMPLO", "", "EJEMPLO"},
      {"a.b.c", "A.B.C", "", "A.B"},
      {"C:\\dir.x\\sin", "SIN", "C:\\DIR.X", "C:\\DIR.X\\SIN"},
      {"", "", "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NombreDe(c.path, true), c.nombre) << c.path;
    EXPECT_EQ(CarpetaDe(c.path, true), c.carpeta) << c.path;
    EXPECT_EQ(SinExtension(c.path, true), c.sinExtension) << c.path;
  }
  EXPECT_EQ(NombreDe("C:\\casos\\Ejemplo.txt", false), "Ejemplo.txt");
  // The reference of a case file: its name without folder and extension.
  EXPECT_EQ(NombreDe(SinExtension("/tmp/x.y/ejemplo.txt", true), true), "EJEMPLO");
}

}  // namespace
