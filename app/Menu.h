// Menu: TFormMenuPral, the calculator's main window.
//
// The whole user interface is this one window: a top band (Panel1) with the
// case reference, the entry line of one period, the global results, the
// qualifying-period box and the buttons; a left grid (DBGrid1) with the
// entered periods; a right grid (DBGrid2) with the generated periods; a
// bottom band (Panel3) with the delete buttons. Every control carries its
// name as Qt objectName.
//
// Handlers follow the toolkit-neutral events of the original form:
//  - <Control>Enter / <Control>Exit run when a control gains / loses the
//    focus inside the window. Exit handlers run as posted requests after the
//    focus has moved, so one may put the focus back where it came from;
//    the control the focus passed through then gets no Exit of its own.
//  - <Control>KeyPress(key) sees each typed character (Enter as '\r') before
//    the control does; it may change it, or swallow it by setting it to 0.
//  - Every handler runs through the application-wide exception handler: a
//    user error is thrown with its Spanish message, shown in a modal box, and
//    the rest of the handler is skipped.
//
// Invariants
//  1. F1ini and F1fin read "  /  /    " when empty (MaskedDateEdit).
//  2. Cargando is true from construction until the window is set up;
//     CKAutomaticoClick does nothing meanwhile.
//  3. Nothing here touches the database. The entered and generated periods,
//     totals, qualifying period, case files, settings, reference list, about
//     box and printing are wired by their own handlers; until then their
//     buttons exist and do nothing.
//
// Thread use: GUI thread only.
#pragma once

#include <QChar>
#include <QWidget>
#include <cstdint>

class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QTableView;
class QToolButton;

namespace tiv::qtui {
class MaskedDateEdit;
}

class TFormMenuPral : public QWidget {
  Q_OBJECT

 public:
  explicit TFormMenuPral(QWidget* parent = nullptr);
  ~TFormMenuPral() override;

  // ---- Window state --------------------------------------------------
  bool Cargando = true;       // set up in progress (invariant 2)
  bool Modificado = false;    // the case has unsaved changes
  bool Editando = false;      // a row is loaded into the entry line
  bool LimiteActivo = false;  // part-time periods before FechaLimite refused
  int32_t FechaLimite = 0;    // day number (Funcion.h)
  int TipoRedondeo = 0;       // rounding mode passed to RedondeoCoef; always 0

  // ---- Day arithmetic with the window's rounding mode -------------------
  double CalcularDias(int32_t desde, int32_t hasta, double coef) const;
  double RedondeoCoef(int tipoRedondeo, double dias, double coef) const;
  double CalcularDiasEfectivos(double dias, double diasCoef) const;
  double CalcularDiasAAMM(double anys, double meses) const;

  // The caption FormShow gives the window.
  static QString Caption();

 public Q_SLOTS:
  void FormShow();
  void BotMenuClick();
  void Salir1Click();
  void CKAutomaticoClick();

  void F1iniExit();
  void F1finExit();
  void Coef1Change();
  void Coef1Enter();
  void Coef1Exit();
  void EdiasEnter();
  void EAnysEnter();
  void EMesesEnter();
  void EDiasTotEnter();

  void LimpiarEntrada();
  void LimpiarPantalla();
  void BorrarPeriodos();

 public:
  void F1iniKeyPress(QChar& key);
  void F1finKeyPress(QChar& key);
  void Coef1KeyPress(QChar& key);
  void EDiasTotKeyPress(QChar& key);
  void EdiasKeyPress(QChar& key);
  void EAnysKeyPress(QChar& key);
  void EMesesKeyPress(QChar& key);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void CreateTopBand(QWidget* panel);
  void CreateEntryLine(QWidget* panel);
  void CreateTotals(QWidget* panel);
  void CreateQualifyingBox(QWidget* panel);
  void CreateGrids(QWidget* left, QWidget* right);
  void CreateBottomBand(QWidget* panel);
  void CreatePopupMenu();
  void SetTabOrder();
  void Watch(QWidget* control);

  bool FilterKeyPress(QObject* watched, QKeyEvent* event);
  void OnEnter(QObject* watched);
  void OnExit(QObject* watched);
  void PostHandler(void (TFormMenuPral::*handler)());
  void SelectAllLater(QLineEdit* edit);
  // Reads F1ini or F1fin as a day number within 1900..2100 and rewrites it
  // as dd/mm/yyyy; on a bad date puts the focus on `focusOnError` and raises.
  int32_t CheckDateField(tiv::qtui::MaskedDateEdit* field, QWidget* focusOnBadText, const char* badTextMessage,
                         const char* badYearMessage);

  bool shown_ = false;
  bool runningExit_ = false;  // an exit handler is running

  // Top band.
  QFrame* Panel1 = nullptr;
  QToolButton* BotNuevo = nullptr;
  QLabel* Label15 = nullptr;
  QLineEdit* EditReferencia = nullptr;
  QToolButton* BotAbrir = nullptr;
  QToolButton* BotGuardar = nullptr;
  QLabel* LCGP = nullptr;
  QLabel* LCoeficiente = nullptr;
  QLabel* LPorcent = nullptr;
  QToolButton* BotMenu = nullptr;
  QToolButton* BoptImprimir = nullptr;
  QGroupBox* GroupBox1 = nullptr;
  tiv::qtui::MaskedDateEdit* F1ini = nullptr;
  tiv::qtui::MaskedDateEdit* F1fin = nullptr;
  QLineEdit* Coef1 = nullptr;
  QLabel* diasnat = nullptr;
  QLabel* diascoef = nullptr;
  QPushButton* BotSuma = nullptr;
  QPushButton* BotOK = nullptr;
  QPushButton* BotCancelar = nullptr;
  QLabel* LId = nullptr;
  QLineEdit* EDiasTot = nullptr;
  QGroupBox* CKDiasNat = nullptr;
  QCheckBox* CKTotDias = nullptr;
  QToolButton* BotCalcular = nullptr;
  QCheckBox* CKAutomatico = nullptr;
  QLabel* LTotDiasNat = nullptr;
  QLabel* LTotDiasCoef = nullptr;
  QLabel* LTotDiasCotizados = nullptr;
  QLabel* L100 = nullptr;
  QLabel* LFaltan = nullptr;
  QLabel* LNumLin = nullptr;
  QGroupBox* GroupBox2 = nullptr;
  QLineEdit* Edias = nullptr;
  QLineEdit* EAnys = nullptr;
  QLineEdit* EMeses = nullptr;
  QToolButton* SpeedButton1 = nullptr;
  QLabel* LFinal = nullptr;
  QLabel* LFinalAny = nullptr;
  QLabel* LFinalMes = nullptr;
  QLabel* LCarencia = nullptr;
  QLabel* Panel5 = nullptr;
  QCheckBox* CKBorVacios = nullptr;
  QToolButton* BotCalcularPeriodos = nullptr;
  QToolButton* BotCalcularTotales = nullptr;
  QPlainTextEdit* Memo1 = nullptr;

  // Grids and bottom band.
  QTableView* DBGrid1 = nullptr;
  QTableView* DBGrid2 = nullptr;
  QLabel* LEditar = nullptr;
  QToolButton* BotBorrar = nullptr;
  QToolButton* BotBorrarTodo = nullptr;

  QMenu* PopupMenu1 = nullptr;
};
