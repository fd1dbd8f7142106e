// Recalculation of a case through the real window and components: period
// generation (one parametrised query per generated period over the disk
// table `inicial`) and the totals, on cases of 10, 100 and 1,000 entered
// periods. It must stay interactive: well under 100 ms for 1,000 periods.
//
// The window works on a scratch copy of the database that mkdb built
// beside the calculator (TIVORAN_DATABASE); it is never shown.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>

#include "Funcion.h"
#include "Menu.h"
#include "access/ZUDMain.h"

namespace {

// Overlapping part-time periods: period i starts 20 x i days after
// 01/01/1990, lasts 30 days, at 10 + i mod 90 percent.
void Fill(const QString& folder, int periods) {
  TABSDatabase db("fill");
  db.SetDatabaseName("recalc_fill");
  db.SetDatabaseFileName(QFile::encodeName(folder + QStringLiteral("/Tivoran.ZUD")).toStdString());
  db.MultiUser = true;
  TABSTable t;
  t.SetDatabaseName("recalc_fill");
  t.SetTableName("inicial");
  t.Open();
  const int32_t start = DayNumber(1990, 1, 1);
  for (int i = 0; i < periods; ++i) {
    const int32_t desde = start + 20 * i;
    const int32_t hasta = desde + 29;
    const double coef = 10 + i % 90;
    t.Append();
    t.FieldByName("desde").SetValue(tiv::dataset::FieldValue::Date(desde + tiv::dataset::kDateTimeOrigin));
    t.FieldByName("hasta").SetValue(tiv::dataset::FieldValue::Date(hasta + tiv::dataset::kDateTimeOrigin));
    t.FieldByName("coef").SetAsFloat(coef);
    t.FieldByName("dias").SetAsInteger(30);
    t.FieldByName("diascoef").SetAsFloat(CalcularDias(desde, hasta, coef));
    t.Post();
  }
}

void BM_Recalculate(benchmark::State& state) {
  QTemporaryDir dir;
  QFile::copy(QStringLiteral(TIVORAN_DATABASE), dir.filePath(QStringLiteral("Tivoran.ZUD")));
  TFormMenuPral form(nullptr, dir.path());
  // Start-up emptied the table; the case goes in behind the window.
  Fill(dir.path(), static_cast<int>(state.range(0)));
  form.FormShow();
  for (auto _ : state) {
    form.BotCalcularPeriodosClick();
    form.BotCalcularTotalesClick();
  }
  state.counters["generated"] = form.findChild<QLabel*>(QStringLiteral("LNumLin"))->text().toDouble();
}
BENCHMARK(BM_Recalculate)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
