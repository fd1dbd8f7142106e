// The data-aware grid, check box and edit over a dataset of rows, on the
// offscreen platform: what they show, how they follow the dataset, and
// what they write back.
#include <QApplication>
#include <QSignalSpy>
#include <QTest>
#include <memory>

#include "qtui/DataCheckBox.h"
#include "qtui/DataEdit.h"
#include "qtui/DataGrid.h"
#include "support/VectorDataSet.h"

using tiv::dataset::DataSetState;
using tiv::dataset::DataSource;
using tiv::dataset::FieldType;
using tiv::dataset::FieldValue;
using tiv::qtui::DataCheckBox;
using tiv::qtui::DataEdit;
using tiv::qtui::DataGrid;

namespace {

std::unique_ptr<VectorDataSet> Periods(int rows) {
  auto d = std::make_unique<VectorDataSet>(std::vector<tiv::dataset::FieldDef>{
      {"id", FieldType::Integer}, {"nota", FieldType::String, 20}, {"activo", FieldType::Boolean}});
  for (int i = 1; i <= rows; ++i)
    d->AddRow({FieldValue::Integer(i), FieldValue::Text("nota " + std::to_string(i)), FieldValue::Boolean(i == 1)});
  return d;
}

QString Cell(DataGrid& g, int row, int column) { return g.model()->index(row, column).data().toString(); }

}  // namespace

class QtDataControlsTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void gridShowsRowsAndFollowsTheDataset() {
    auto d = Periods(3);
    DataSource source;
    source.SetDataSet(d.get());
    DataGrid grid;
    grid.SetDataSource(&source);
    QCOMPARE(grid.model()->rowCount(), 0);
    d->Open();
    QCOMPARE(grid.model()->rowCount(), 3);
    QCOMPARE(grid.model()->columnCount(), 3);
    QCOMPARE(grid.model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("nota"));
    QCOMPARE(Cell(grid, 2, 1), QStringLiteral("nota 3"));
    QCOMPARE(grid.currentIndex().row(), 0);
    // Chosen columns with titles and widths.
    grid.SetColumns({{"nota", QStringLiteral("Nota"), 150}, {"id", {}, 0}, {"missing", {}, 0}});
    QCOMPARE(grid.model()->columnCount(), 2);
    QCOMPARE(grid.model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Nota"));
    QCOMPARE(grid.columnWidth(0), 150);
    // The current row follows the dataset...
    d->Last();
    QCOMPARE(grid.currentIndex().row(), 2);
    // ...and a row chosen in the grid moves the dataset.
    QSignalSpy doubles(&grid, &QAbstractItemView::doubleClicked);
    grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid));
    const QRect second = grid.visualRect(grid.model()->index(1, 0));
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, second.center());
    QTest::mouseDClick(grid.viewport(), Qt::LeftButton, {}, second.center());
    QCOMPARE(d->FieldByName("id").AsInteger(), 2);
    QCOMPARE(doubles.count(), 1);
    // A post shows at once; changes under disabled controls when enabled.
    d->Insert();
    d->FieldByName("id").SetAsInteger(4);
    QCOMPARE(grid.model()->rowCount(), 3);
    d->Post();
    QCOMPARE(grid.model()->rowCount(), 4);
    QCOMPARE(grid.currentIndex().row(), 3);
    d->DisableControls();
    d->First();
    d->Delete();
    QCOMPARE(grid.model()->rowCount(), 4);
    d->EnableControls();
    QCOMPARE(grid.model()->rowCount(), 3);
    QCOMPARE(Cell(grid, 0, 1), QStringLiteral("2"));
    d->Close();
    QCOMPARE(grid.model()->rowCount(), 0);
  }

  void checkBoxReadsAndWritesItsField() {
    auto d = Periods(2);
    DataSource source;
    source.SetDataSet(d.get());
    DataCheckBox box(QStringLiteral("Activo"));
    box.SetDataSource(&source);
    box.SetDataField("activo");
    QVERIFY(!box.isEnabled());
    d->Open();
    QVERIFY(box.isEnabled());
    QVERIFY(box.isChecked());
    d->Next();
    QVERIFY(!box.isChecked());
    box.click();
    QCOMPARE(d->State(), DataSetState::Edit);
    QVERIFY(d->FieldByName("activo").AsBoolean());
    d->Post();
    QVERIFY(d->rows[1].values[2].i != 0);
    // A dataset that cannot be edited: the box shows the value again.
    d->ReadOnly = true;
    box.click();
    QVERIFY(box.isChecked());
    QCOMPARE(d->State(), DataSetState::Browse);
  }

  void editShowsTypesAndStoresOnPost() {
    auto d = Periods(2);
    DataSource source;
    source.SetDataSet(d.get());
    DataEdit edit;
    edit.SetDataSource(&source);
    edit.SetDataField("nota");
    d->Open();
    QCOMPARE(edit.text(), QStringLiteral("nota 1"));
    edit.show();
    QVERIFY(QTest::qWaitForWindowExposed(&edit));
    edit.setFocus();
    edit.selectAll();
    QTest::keyClicks(&edit, QStringLiteral("cambiada"));
    QCOMPARE(d->State(), DataSetState::Edit);
    d->Post();  // asks the edit for its text first
    QCOMPARE(QString::fromStdString(d->rows[0].values[1].s), QStringLiteral("cambiada"));
    d->Next();
    QCOMPARE(edit.text(), QStringLiteral("nota 2"));
    // Emptied: NULL.
    edit.selectAll();
    QTest::keyClick(&edit, Qt::Key_Delete);
    edit.UpdateRecord();
    QVERIFY(d->FieldByName("nota").IsNull());
    d->Cancel();
    QCOMPARE(edit.text(), QStringLiteral("nota 2"));
  }
};

QTEST_MAIN(QtDataControlsTest)
#include "QtDataControlsTest.moc"
