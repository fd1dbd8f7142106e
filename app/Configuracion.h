// Configuracion: TFormConfiguracion, the settings dialog. It edits the one
// row of `configura` through its own table component and data-aware
// controls: the part-time limit (nofechaant, with its date fechaant in
// DBFecha) and the automatic calculation (autocalculo).
//
// Invariants
//  1. The row is in edit mode while the dialog is open; "&Confirmar"
//     (BotOKClick) posts it, every other way of closing cancels it.
//  2. A confirmed row never holds a limit without a date: with the limit
//     on, DBFecha must read as a date ("Fecha incorrecta", the dialog
//     stays open); with it off, the date is removed.
//
// Thread use: GUI thread only.
#pragma once

#include <QDialog>
#include <memory>

#include "dataset/Dataset.h"

class QPushButton;
class TABSTable;

namespace tiv::qtui {
class DataCheckBox;
class DataEdit;
}  // namespace tiv::qtui

class TFormConfiguracion : public QDialog {
  Q_OBJECT

 public:
  // FormShow runs here: the dialog is ready to be shown.
  explicit TFormConfiguracion(QWidget* parent = nullptr);
  ~TFormConfiguracion() override;

  void BotOKClick();
  void BotCancelarClick();
  // Closing the dialog any way but "&Confirmar" cancels the edit.
  void reject() override;

 private:
  void FormShow();

  std::unique_ptr<TABSTable> Configura;
  tiv::dataset::DataSource DSConfigura;
  tiv::qtui::DataCheckBox* DBCheckBox1 = nullptr;
  tiv::qtui::DataEdit* DBFecha = nullptr;
  tiv::qtui::DataCheckBox* DBCheckBox2 = nullptr;
  QPushButton* BotOK = nullptr;
  QPushButton* BotCancelar = nullptr;
};
