#include "Lote.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>
#include <QTemporaryDir>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "AccessDialogsQt.h"
#include "Menu.h"
#include "qtui/Application.h"
#include "qtui/ExceptionHandler.h"
#include "qtui/ScriptedDialogs.h"

namespace {

struct Options {
  std::vector<QString> files;
  QString edias;
  bool json = false;
};

bool ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const QString a = QString::fromLocal8Bit(argv[i]);
    if (a == QStringLiteral("--calc")) continue;
    if (a == QStringLiteral("--json")) {
      o.json = true;
    } else if (a == QStringLiteral("--edias")) {
      if (++i >= argc) return false;
      o.edias = QString::fromLocal8Bit(argv[i]);
      bool ok = false;
      if (o.edias.toLongLong(&ok) < 0 || !ok) return false;
    } else if (a.startsWith(QStringLiteral("--"))) {
      return false;
    } else {
      o.files.push_back(a);
    }
  }
  return !o.files.empty();
}

// The shown text of a grid: one object per row, its columns by title.
QJsonArray GridRows(QTableView* grid) {
  QJsonArray rows;
  QAbstractItemModel* m = grid->model();
  for (int r = 0; r < m->rowCount(); ++r) {
    QJsonObject row;
    for (int c = 0; c < m->columnCount(); ++c)
      row.insert(m->headerData(c, Qt::Horizontal).toString(), m->data(m->index(r, c)).toString());
    rows.append(row);
  }
  return rows;
}

const char* const kLabels[] = {"LNumLin", "LTotDiasNat", "LTotDiasCoef", "LTotDiasCotizados",
                               "L100",    "LFaltan",     "LCoeficiente", "LPorcent",
                               "LFinal",  "LFinalAny",   "LFinalMes",    "LCarencia"};

QString Colour(const QLabel* label) {
  const QColor c = label->palette().color(QPalette::WindowText);
  if (label->text().isEmpty()) return {};
  if (c == QColor(0, 128, 0)) return QStringLiteral("green");
  if (c == QColor(255, 0, 0)) return QStringLiteral("red");
  return {};
}

QJsonObject Result(TFormMenuPral& form, const QString& file, const QStringList& messages) {
  QJsonObject labels;
  for (const char* name : kLabels)
    labels.insert(QString::fromLatin1(name), form.findChild<QLabel*>(QString::fromLatin1(name))->text());
  labels.insert(QStringLiteral("LFinalColour"), Colour(form.findChild<QLabel*>(QStringLiteral("LFinal"))));
  QJsonObject o;
  o.insert(QStringLiteral("file"), file);
  o.insert(QStringLiteral("messages"), QJsonArray::fromStringList(messages));
  o.insert(QStringLiteral("entered"), GridRows(form.findChild<QTableView*>(QStringLiteral("DBGrid1"))));
  o.insert(QStringLiteral("generated"), GridRows(form.findChild<QTableView*>(QStringLiteral("DBGrid2"))));
  o.insert(QStringLiteral("labels"), labels);
  return o;
}

void PrintTable(QString& out, const QJsonArray& rows, const QStringList& columns) {
  out += QStringLiteral("  ") + columns.join(u'\t') + u'\n';
  for (const QJsonValue& v : rows) {
    QStringList cells;
    for (const QString& c : columns) cells << v.toObject().value(c).toString();
    out += QStringLiteral("  ") + cells.join(u'\t') + u'\n';
  }
}

QString Summary(const QJsonObject& r) {
  const QJsonObject l = r.value(QStringLiteral("labels")).toObject();
  const auto label = [&](const char* n) { return l.value(QString::fromLatin1(n)).toString(); };
  QString out = QStringLiteral("== ") + r.value(QStringLiteral("file")).toString() + u'\n';
  for (const QJsonValue& m : r.value(QStringLiteral("messages")).toArray())
    out += QStringLiteral("Mensaje: ") + m.toString() + u'\n';
  out += QStringLiteral("Periodos introducidos:\n");
  PrintTable(out, r.value(QStringLiteral("entered")).toArray(), {"id", "desde", "hasta", "coef", "dias", "diascoef"});
  out += QStringLiteral("Periodos generados:\n");
  PrintTable(out, r.value(QStringLiteral("generated")).toArray(),
             {"desde", "hasta", "porcentaje", "dias", "diascoef", "diascotizados"});
  out += QStringLiteral("Días nat.: %1  Días coef.: %2  Días cotiz.: %3\n")
             .arg(label("LTotDiasNat"), label("LTotDiasCoef"), label("LTotDiasCotizados"));
  if (!label("L100").isEmpty()) out += label("L100") + label("LFaltan") + u'\n';
  out += QStringLiteral("C.G.P.: %1 %2\n").arg(label("LCoeficiente"), label("LPorcent"));
  if (!label("LFinal").isEmpty())
    out += QStringLiteral("Carencia resultante: %1 días (%2 años, %3 meses) %4\n")
               .arg(label("LFinal"), label("LFinalAny"), label("LFinalMes"), l.value("LFinalColour").toString());
  return out;
}

}  // namespace

bool EsModoLote(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--calc") == 0) return true;
  return false;
}

int EjecutarLote(int argc, char** argv) {
  // No window is shown: no display is needed.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  tiv::qtui::TivoranApplication app(argc, argv);
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr, "uso: tivoran --calc FICHERO... [--edias N] [--json]\n");
    return 2;
  }
  QTemporaryDir scratch;
  const QString database = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("Tivoran.ZUD"));
  if (!scratch.isValid() || !QFile::copy(database, scratch.filePath(QStringLiteral("Tivoran.ZUD")))) {
    std::fprintf(stderr, "tivoran: no se puede copiar la base de datos %s\n", qPrintable(database));
    return 1;
  }
  tiv::qtui::ScriptedDialogs dialogs;
  tiv::qtui::ScopedDialogService dialogScope(dialogs);
  QtAccessDialogs accessDialogs;
  TABSScopedAccessDialogs accessDialogsScope(accessDialogs);
  TFormMenuPral form(nullptr, scratch.path());
  if (tiv::qtui::TivoranApplication::Terminated()) {
    for (const QString& m : dialogs.messages) std::fprintf(stderr, "tivoran: %s\n", qPrintable(m));
    return 1;
  }
  form.FormShow();

  int code = 0;
  QJsonArray results;
  QString text;
  for (const QString& file : options.files) {
    dialogs.Reset();
    dialogs.openNames.push_back(QFileInfo(file).absoluteFilePath());
    const bool loaded = tiv::qtui::RunHandler([&] { form.BotAbrirClick(); });
    if (!loaded || !dialogs.openNames.empty()) code = 1;
    if (loaded && !options.edias.isEmpty()) {
      tiv::qtui::RunHandler([&] {
        form.findChild<QLineEdit*>(QStringLiteral("Edias"))->setText(options.edias);
        form.DiasAAnyosMeses();
      });
    }
    const QJsonObject r = Result(form, file, dialogs.messages);
    results.append(r);
    text += Summary(r);
    // Each file starts from an empty case.
    tiv::qtui::RunHandler([&] { form.BorrarTodo(); });
    form.Modificado = false;
  }
  // JSON: one compact object per file, one per line.
  QByteArray out;
  if (options.json)
    for (const QJsonValue& r : results) out += QJsonDocument(r.toObject()).toJson(QJsonDocument::Compact) + '\n';
  else
    out = text.toUtf8();
  std::fwrite(out.constData(), 1, static_cast<size_t>(out.size()), stdout);
  return code;
}
