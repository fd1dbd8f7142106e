#include "diascarencia.h"

#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "access/ZUDMain.h"
#include "qtui/DataGrid.h"
#include "qtui/ExceptionHandler.h"

using tiv::qtui::RunHandler;

TFormDiasCarencia::TFormDiasCarencia(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("FormDiasCarencia"));
  setWindowTitle(QStringLiteral("Dias carencias específicas y otras"));
  setFixedSize(344, 433);

  Diascot = std::make_unique<TABSTable>("Diascot");
  Diascot->SetDatabaseName("Tivoran");
  Diascot->SetTableName("diascot");
  Diascot->SetIndexName("id");
  DSDiascot.SetDataSet(Diascot.get());

  auto* top = new QWidget(this);
  top->setObjectName(QStringLiteral("Panel1"));
  top->setFixedHeight(36);
  auto* hint = new QLabel(QStringLiteral("(seleccionar con doble click)"), top);
  hint->setObjectName(QStringLiteral("Label1"));
  hint->setGeometry(8, 10, 200, 16);
  BitBtn1 = new QPushButton(QStringLiteral("&Cerrar"), top);
  BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
  BitBtn1->setGeometry(256, 5, 80, 26);

  DBGrid1 = new tiv::qtui::DataGrid(this);
  DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
  DBGrid1->SetColumns({{"descripcion", QStringLiteral("Descripción"), 152},
                       {"dias", QStringLiteral("Días"), 59},
                       {"anys", QStringLiteral("Años"), 47},
                       {"mesos", QStringLiteral("Meses"), 45}});
  DBGrid1->horizontalHeader()->setDefaultAlignment(Qt::AlignCenter);
  DBGrid1->SetDataSource(&DSDiascot);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(top);
  layout->addWidget(DBGrid1, 1);

  connect(BitBtn1, &QPushButton::clicked, this, [this] { RunHandler([this] { BitBtn1Click(); }); });
  connect(DBGrid1, &QAbstractItemView::doubleClicked, this, [this] { RunHandler([this] { DBGrid1DblClick(); }); });

  FormShow();
}

TFormDiasCarencia::~TFormDiasCarencia() { Diascot->Close(); }

void TFormDiasCarencia::FormShow() {
  Diascot->Open();
  DiasElegidos = 0;
  DescripcionElegida.clear();
}

void TFormDiasCarencia::DBGrid1DblClick() {
  // A double click off the rows chooses nothing.
  if (Diascot->IsEmpty()) return;
  DiasElegidos = Diascot->FieldByName("dias").AsInteger();
  DescripcionElegida = Diascot->FieldByName("descripcion").AsString();
  accept();
}

void TFormDiasCarencia::BitBtn1Click() { reject(); }
