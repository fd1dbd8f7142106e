// The case file's text: what is written, what is read back, headers as
// people write them, and texts that are no case file at all.
#include "Supuesto.h"

#include <gtest/gtest.h>

#include "Funcion.h"

namespace {

TEST(SupuestoTest, WritesTheHeaderOnlyWithTotalDaysAndEndsEveryLineWithCrLf) {
  const std::vector<TPeriodoSupuesto> periodos = {{DayNumber(2010, 1, 1), DayNumber(2010, 3, 31), 50},
                                                  {DayNumber(2010, 4, 1), DayNumber(2010, 6, 30), 64.5}};
  EXPECT_EQ(EscribirSupuesto({true, "730", 0, true}, periodos),
            "diastot=730\r\ndiasnat=0\r\ncktotdias=si\r\n01/01/2010 31/03/2010 50\r\n01/04/2010 30/06/2010 64,5\r\n");
  EXPECT_EQ(EscribirSupuesto({false, "", 1, false}, periodos),
            "01/01/2010 31/03/2010 50\r\n01/04/2010 30/06/2010 64,5\r\n");
}

TEST(SupuestoTest, ReadsWhatItWrote) {
  const std::vector<TPeriodoSupuesto> periodos = {{DayNumber(1999, 12, 15), DayNumber(2005, 12, 31), 33.33},
                                                  {DayNumber(2010, 1, 1), DayNumber(2010, 1, 1), 100}};
  for (const TCabeceraSupuesto& cabecera : {TCabeceraSupuesto{true, "9000", 1, false}, TCabeceraSupuesto{}}) {
    const TSupuestoLeido leido = LeerSupuesto(EscribirSupuesto(cabecera, periodos));
    EXPECT_EQ(leido.cabecera.presente, cabecera.presente);
    EXPECT_EQ(leido.cabecera.diasTot, cabecera.diasTot);
    EXPECT_EQ(leido.cabecera.diasNat, cabecera.diasNat);
    EXPECT_EQ(leido.cabecera.ckTotDias, cabecera.ckTotDias);
    ASSERT_EQ(leido.lineas.size(), 2u);
    EXPECT_EQ(leido.lineas[0].numero, cabecera.presente ? 4 : 1);
    for (size_t i = 0; i < 2; ++i) {
      const TPeriodoLeido p = LeerPeriodo(leido.lineas[i].texto);
      EXPECT_EQ(p.periodo.desde, periodos[i].desde);
      EXPECT_EQ(p.periodo.hasta, periodos[i].hasta);
      EXPECT_DOUBLE_EQ(p.periodo.coef, periodos[i].coef);
    }
  }
}

TEST(SupuestoTest, HeadersAsPeopleWriteThem) {
  struct Case {
    const char* text;
    const char* diasTot;
    int diasNat;
    bool ckTotDias;
    int firstLine;  // number of the first period line
  } cases[] = {
      {"diastot=730\r\ndiasnat=0\r\ncktotdias=si\r\n01/01/2010 31/12/2010 50\r\n", "730", 0, true, 4},
      {"diastot=730\ndiasnat=1\ncktotdias=no\n01/01/2010 31/12/2010 50", "730", 1, false, 4},
      {"diastot=730\rdiasnat=0\r01/01/2010 31/12/2010 50\r", "730", 0, false, 3},  // no cktotdias line
      {"  DiasTot = 730  \r\n cktotdias = SI\r\n01/01/2010 31/12/2010 50\r\n", "730", 1, true, 3},
      {"diastot=\r\n\r\n\r\n01/01/2010 31/12/2010 50\r\n", "", 1, false, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const TSupuestoLeido leido = LeerSupuesto(c.text);
    EXPECT_TRUE(leido.cabecera.presente);
    EXPECT_EQ(leido.cabecera.diasTot, c.diasTot);
    EXPECT_EQ(leido.cabecera.diasNat, c.diasNat);
    EXPECT_EQ(leido.cabecera.ckTotDias, c.ckTotDias);
    ASSERT_EQ(leido.lineas.size(), 1u);
    EXPECT_EQ(leido.lineas[0].numero, c.firstLine);
  }
}

TEST(SupuestoTest, PeriodLines) {
  struct Case {
    const char* line;
    double coef;
    bool coefLegible;
    bool fechasEnRango;
  } cases[] = {
      {"01/01/2010 31/12/2010 64,5", 64.5, true, true},
      {"   01/01/2010    31/12/2010   64.5  tiempo parcial", 64.5, true, true},
      {"01/01/2010 31/12/2010", 0, true, true},
      {"01/01/2010 31/12/2010 100", 100, true, true},
      {"01/01/2010 31/12/2010 1.000", 0, false, true},
      {"01/01/2010 31/12/2010 64,5x", 0, false, true},
      {"01/01/2010 31/12/2010 medio", 0, false, true},
      {"01/01/2010 31/12/2010 -5", 0, false, true},
      {"01/01/1899 31/12/2010 50", 50, true, false},
      {"01/01/2010 01/01/2101 50", 50, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const TPeriodoLeido p = LeerPeriodo(c.line);
    EXPECT_EQ(p.coefLegible, c.coefLegible);
    EXPECT_EQ(p.fechasEnRango, c.fechasEnRango);
    if (c.coefLegible) EXPECT_DOUBLE_EQ(p.periodo.coef, c.coef);
  }
  for (const char* bad : {"uno 31/12/2010 50", "01/01/2010", "31/02/2010 31/12/2010 50"})
    EXPECT_THROW(LeerPeriodo(bad), EConvertError) << bad;
}

TEST(SupuestoTest, TextsThatAreNoCaseFileAreRefusedWhole) {
  std::string huge(kMaxCaseFileBytes + 1, ' ');
  std::string binary = "01/01/2010 31/12/2010 50\r\n";
  binary.push_back('\0');
  const std::string noCase = "El fichero no contiene un supuesto C.G.P.";
  for (const std::string& text :
       {std::string(), std::string("\r\n   \r\n"), std::string("Querido cliente:\r\nle adjunto..."), huge, binary}) {
    try {
      LeerSupuesto(text);
      ADD_FAILURE() << "read: " << text.substr(0, 40);
    } catch (const ECalcError& e) {
      EXPECT_EQ(e.what(), noCase);
    }
  }
  try {
    LeerSupuesto("diastot=730\r\ndiasnat=2\r\ncktotdias=si\r\n");
    ADD_FAILURE() << "diasnat=2 read";
  } catch (const ECalcError& e) {
    EXPECT_EQ(e.what(), Ansi("Error en la cabecera del supuesto (diasnat debe ser 0 ó 1): diasnat=2"));
  }
  // A header with no periods is a case (an empty one).
  EXPECT_TRUE(LeerSupuesto("diastot=730\r\n").lineas.empty());
}

TEST(SupuestoTest, ReferenceOfAFileName) {
  EXPECT_EQ(ReferenciaDe("/home/ana/casos/ejemplo.txt"), "EJEMPLO");
  EXPECT_EQ(ReferenciaDe("C:\\casos\\Garc\xED"
                         "a.2010.txt"),
            "GARC\xCD"
            "A.2010");
  EXPECT_EQ(ReferenciaDe("sinextension"), "SINEXTENSION");
}

}  // namespace
