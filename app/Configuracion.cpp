#include "Configuracion.h"

#include <QPushButton>

#include "Controles.h"
#include "Funcion.h"
#include "access/ZUDMain.h"
#include "qtui/DataCheckBox.h"
#include "qtui/DataEdit.h"
#include "qtui/ExceptionHandler.h"

using tiv::qtui::RunHandler;

TFormConfiguracion::TFormConfiguracion(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("FormConfiguracion"));
  setWindowTitle(QStringLiteral("configuración"));
  setFixedSize(358, 166);
  setWindowFlags((windowFlags() | Qt::MSWindowsFixedSizeDialogHint) & ~Qt::WindowContextHelpButtonHint);

  Configura = std::make_unique<TABSTable>("Configura");
  Configura->SetDatabaseName("Tivoran");
  Configura->SetTableName("configura");
  DSConfigura.SetDataSet(Configura.get());

  DBCheckBox1 = new tiv::qtui::DataCheckBox(QStringLiteral("No permitir T.P. anterior a: "), this);
  DBCheckBox1->setObjectName(QStringLiteral("DBCheckBox1"));
  DBCheckBox1->setGeometry(16, 20, 180, 18);
  DBCheckBox1->SetDataSource(&DSConfigura);
  DBCheckBox1->SetDataField("nofechaant");
  DBFecha = new tiv::qtui::DataEdit(this);
  DBFecha->setObjectName(QStringLiteral("DBFecha"));
  DBFecha->setGeometry(200, 18, 90, 21);
  DBFecha->SetDataSource(&DSConfigura);
  DBFecha->SetDataField("fechaant");
  DBCheckBox2 =
      new tiv::qtui::DataCheckBox(QStringLiteral("Cálculo inmediato ( a medida que se introducen datos)"), this);
  DBCheckBox2->setObjectName(QStringLiteral("DBCheckBox2"));
  DBCheckBox2->setGeometry(16, 56, 330, 18);
  DBCheckBox2->SetDataSource(&DSConfigura);
  DBCheckBox2->SetDataField("autocalculo");

  BotOK = new QPushButton(QStringLiteral("&Confirmar"), this);
  BotOK->setObjectName(QStringLiteral("BotOK"));
  BotOK->setGeometry(90, 116, 85, 27);
  BotOK->setDefault(true);
  BotCancelar = new QPushButton(QStringLiteral("C&ancelar"), this);
  BotCancelar->setObjectName(QStringLiteral("BotCancelar"));
  BotCancelar->setGeometry(190, 116, 85, 27);
  connect(BotOK, &QPushButton::clicked, this, [this] { RunHandler([this] { BotOKClick(); }); });
  connect(BotCancelar, &QPushButton::clicked, this, [this] { RunHandler([this] { BotCancelarClick(); }); });

  FormShow();
}

TFormConfiguracion::~TFormConfiguracion() {
  if (Configura->Active()) Configura->Cancel();
}

void TFormConfiguracion::FormShow() {
  Configura->Open();
  Configura->Edit();
}

void TFormConfiguracion::BotOKClick() {
  tiv::dataset::Field& fecha = Configura->FieldByName("fechaant");
  if (DBCheckBox1->isChecked()) {
    try {
      ReadDate(ToAnsi(DBFecha->text()));
      DBFecha->UpdateRecord();
      if (fecha.IsNull()) throw EConvertError("");
    } catch (const std::exception&) {
      DBFecha->setFocus(Qt::OtherFocusReason);
      DBFecha->clear();
      throw ECalcError(Ansi("Fecha incorrecta"));
    }
  } else {
    // What was typed goes too, not only the stored date.
    DBFecha->clear();
    DBFecha->UpdateRecord();
    fecha.Clear();
  }
  Configura->Post();
  accept();
}

void TFormConfiguracion::BotCancelarClick() { reject(); }

void TFormConfiguracion::reject() {
  if (Configura->Active()) Configura->Cancel();
  QDialog::reject();
}
