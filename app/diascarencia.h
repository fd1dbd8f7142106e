// diascarencia: TFormDiasCarencia, the list of common qualifying periods
// (table `diascot` of the application database, in `id` order). A double
// click on an entry chooses it: the dialog keeps its days and description
// in DiasElegidos and DescripcionElegida and closes; "&Cerrar" closes it
// with 0 and an empty description.
//
// Thread use: GUI thread only.
#pragma once

#include <QDialog>
#include <cstdint>
#include <memory>
#include <string>

#include "dataset/Dataset.h"

class QPushButton;
class TABSTable;

namespace tiv::qtui {
class DataGrid;
}

class TFormDiasCarencia : public QDialog {
  Q_OBJECT

 public:
  // FormShow runs here: `diascot` is open.
  explicit TFormDiasCarencia(QWidget* parent = nullptr);
  // FormDestroy: closes `diascot`.
  ~TFormDiasCarencia() override;

  int64_t DiasElegidos = 0;
  std::string DescripcionElegida;  // Windows-1252

  void DBGrid1DblClick();
  void BitBtn1Click();

 private:
  void FormShow();

  std::unique_ptr<TABSTable> Diascot;
  tiv::dataset::DataSource DSDiascot;
  tiv::qtui::DataGrid* DBGrid1 = nullptr;
  QPushButton* BitBtn1 = nullptr;
};
