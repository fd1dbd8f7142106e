// Acerca: TFormAcercade, the about box: the product's name, version and
// build date (Version.h). The contact address and web labels exist but
// stay hidden; their handlers open nothing while their captions are empty.
//
// Thread use: GUI thread only.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

class TFormAcercade : public QDialog {
  Q_OBJECT

 public:
  explicit TFormAcercade(QWidget* parent = nullptr);

  QLabel* VersionProg = nullptr;
  QLabel* Fecha = nullptr;

  void FormShow();
  void FormClick();
  void DirCorreoClick();
  void SitioClick();

 protected:
  void showEvent(QShowEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  QLabel* DirCorreo = nullptr;
  QLabel* Sitio = nullptr;
  QPushButton* OKButton = nullptr;
};
