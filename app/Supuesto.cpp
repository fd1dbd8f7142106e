#include "Supuesto.h"

#include <algorithm>
#include <cctype>

#include "Funcion.h"

namespace {

std::vector<std::string> Lineas(std::string_view texto) {
  std::vector<std::string> lineas;
  size_t i = 0;
  while (i < texto.size()) {
    const size_t fin = texto.find_first_of("\r\n", i);
    if (fin == std::string_view::npos) {
      lineas.emplace_back(texto.substr(i));
      break;
    }
    lineas.emplace_back(texto.substr(i, fin - i));
    i = fin + 1;
    if (texto[fin] == '\r' && i < texto.size() && texto[i] == '\n') ++i;
  }
  return lineas;
}

bool EsBlanca(std::string_view linea) { return QuitarEspacios(linea).empty(); }

// Bytes a hand-written text never holds: control characters other than tab.
bool EsTexto(std::string_view texto) {
  return std::none_of(texto.begin(), texto.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 0x20 && c != '\t' && c != '\r' && c != '\n';
  });
}

std::string Minusculas(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// "key = value" with a known key: the key and the value, trimmed.
bool ClaveDeCabecera(std::string_view linea, std::string& clave, std::string& valor) {
  const size_t igual = linea.find('=');
  if (igual == std::string_view::npos) return false;
  clave = Minusculas(QuitarEspacios(linea.substr(0, igual)));
  if (clave != "diastot" && clave != "diasnat" && clave != "cktotdias") return false;
  valor = QuitarEspacios(linea.substr(igual + 1));
  return true;
}

// The percentage of a period line: digits with at most one decimal
// separator ("." or ",") followed by one or two digits.
bool LeerCoef(std::string texto, double& coef) {
  std::replace(texto.begin(), texto.end(), '.', ',');
  const size_t coma = texto.find(',');
  const std::string entera = texto.substr(0, coma);
  const std::string decimales = coma == std::string::npos ? std::string() : texto.substr(coma + 1);
  const auto digitos = [](const std::string& s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  if (entera.empty() || entera.size() > 6 || !digitos(entera) || !digitos(decimales)) return false;
  if (coma != std::string::npos && (decimales.empty() || decimales.size() > 2)) return false;
  coef = ValorNumerico(texto);
  return true;
}

}  // namespace

std::string EscribirSupuesto(const TCabeceraSupuesto& cabecera, const std::vector<TPeriodoSupuesto>& periodos) {
  std::string out;
  if (cabecera.presente) {
    out += "diastot=" + cabecera.diasTot + "\r\n";
    out += "diasnat=" + std::to_string(cabecera.diasNat) + "\r\n";
    out += std::string("cktotdias=") + (cabecera.ckTotDias ? "si" : "no") + "\r\n";
  }
  for (const TPeriodoSupuesto& p : periodos)
    out += DateText(p.desde) + " " + DateText(p.hasta) + " " + TextoNumero(p.coef) + "\r\n";
  return out;
}

TSupuestoLeido LeerSupuesto(std::string_view texto) {
  const std::string noEs = Ansi("El fichero no contiene un supuesto C.G.P.");
  if (texto.size() > kMaxCaseFileBytes || !EsTexto(texto)) throw ECalcError(noEs);
  const std::vector<std::string> lineas = Lineas(texto);
  TSupuestoLeido leido;
  size_t i = 0;
  for (; i < lineas.size() && i < 3; ++i) {
    std::string clave, valor;
    if (!ClaveDeCabecera(lineas[i], clave, valor)) break;
    leido.cabecera.presente = true;
    if (clave == "diastot") {
      leido.cabecera.diasTot = valor.substr(0, 100);
    } else if (clave == "diasnat") {
      if (valor != "0" && valor != "1")
        throw ECalcError(Ansi("Error en la cabecera del supuesto (diasnat debe ser 0 ó 1): ") + lineas[i]);
      leido.cabecera.diasNat = valor[0] - '0';
    } else {
      leido.cabecera.ckTotDias = Minusculas(valor) == "si";
    }
  }
  for (; i < lineas.size(); ++i)
    if (!EsBlanca(lineas[i])) leido.lineas.push_back({static_cast<int>(i + 1), lineas[i]});
  if (!leido.cabecera.presente) {
    if (leido.lineas.empty()) throw ECalcError(noEs);
    try {
      LeerPeriodo(leido.lineas.front().texto);
    } catch (const EConvertError&) {
      throw ECalcError(noEs);
    }
  }
  return leido;
}

TPeriodoLeido LeerPeriodo(std::string_view linea) {
  TPeriodoLeido leido;
  leido.periodo.desde = ReadDate(ExtraerCampos(linea, 1, 1));
  leido.periodo.hasta = ReadDate(ExtraerCampos(linea, 2, 1));
  for (const int32_t dia : {leido.periodo.desde, leido.periodo.hasta}) {
    const int anyo = DateOfDayNumber(dia).year;
    if (anyo < 1900 || anyo > 2100) leido.fechasEnRango = false;
  }
  const std::string coef = ExtraerCampos(linea, 3, 1);
  if (coef.empty())
    leido.periodo.coef = 0;
  else
    leido.coefLegible = LeerCoef(coef, leido.periodo.coef);
  return leido;
}

std::string ReferenciaDe(std::string_view fileName) {
  // Either separator: a file named on another system keeps its name.
  const size_t barra = fileName.find_last_of("/\\");
  const std::string_view nombre = barra == std::string_view::npos ? fileName : fileName.substr(barra + 1);
  return NombreDe(SinExtension(nombre, true), true);
}
