#include "Acerca.h"

#include <QDesktopServices>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QUrl>

#include "qtui/ExceptionHandler.h"

using tiv::qtui::RunHandler;

namespace {

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, const QRect& geometry) {
  auto* l = new QLabel(text, parent);
  l->setObjectName(QString::fromLatin1(name));
  l->setGeometry(geometry);
  return l;
}

// The contact details the hidden labels would show; empty, so nothing is
// ever opened from them.
const QString kContactMail;
const QString kWebSite;

}  // namespace

TFormAcercade::TFormAcercade(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("FormAcercade"));
  setWindowTitle(QStringLiteral("Acerca de ..."));
  setFixedSize(337, 176);
  QFont f(QStringLiteral("Arial"), 10);
  f.setItalic(true);
  setFont(f);

  auto* panel = new QFrame(this);
  panel->setObjectName(QStringLiteral("Panel1"));
  panel->setFrameShape(QFrame::Panel);
  panel->setFrameShadow(QFrame::Raised);
  panel->setGeometry(8, 8, 321, 124);
  QLabel* product = MakeLabel(panel, "ProductName", QStringLiteral("Tivoran"), QRect(12, 8, 200, 20));
  QFont bold = product->font();
  bold.setBold(true);
  product->setFont(bold);
  MakeLabel(panel, "Label5", QStringLiteral("Versión: "), QRect(12, 34, 70, 18));
  VersionProg = MakeLabel(panel, "VersionProg", QString(), QRect(84, 34, 100, 18));
  MakeLabel(panel, "Label1", QStringLiteral("Fecha:"), QRect(12, 56, 70, 18));
  Fecha = MakeLabel(panel, "Fecha", QString(), QRect(84, 56, 100, 18));
  MakeLabel(panel, "Label3", QStringLiteral("Cálculo del coeficiente global de parcialidad"), QRect(12, 80, 300, 18));
  MakeLabel(panel, "Label2", QStringLiteral("E-mail : "), QRect(12, 100, 60, 18))->setVisible(false);
  DirCorreo = MakeLabel(panel, "DirCorreo", QString(), QRect(74, 100, 200, 18));
  DirCorreo->setVisible(false);
  Sitio = MakeLabel(panel, "Sitio", QString(), QRect(200, 8, 110, 18));
  QFont underlined = Sitio->font();
  underlined.setUnderline(true);
  Sitio->setFont(underlined);
  Sitio->setStyleSheet(QStringLiteral("color: blue"));
  Sitio->setVisible(false);

  OKButton = new QPushButton(QStringLiteral("OK"), this);
  OKButton->setObjectName(QStringLiteral("OKButton"));
  OKButton->setGeometry(131, 140, 75, 27);
  OKButton->setDefault(true);
  connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
}

void TFormAcercade::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  RunHandler([this] { FormShow(); });
}

void TFormAcercade::mousePressEvent(QMouseEvent* event) {
  QDialog::mousePressEvent(event);
  RunHandler([this] { FormClick(); });
}

void TFormAcercade::FormShow() {
  DirCorreo->setText(kContactMail);
  Sitio->setText(kWebSite);
}

void TFormAcercade::FormClick() { accept(); }

void TFormAcercade::DirCorreoClick() {
  if (!DirCorreo->text().isEmpty()) QDesktopServices::openUrl(QUrl(QStringLiteral("mailto:") + DirCorreo->text()));
}

void TFormAcercade::SitioClick() {
  if (!Sitio->text().isEmpty()) QDesktopServices::openUrl(QUrl(Sitio->text()));
}
