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
// Its data (all owned by the window, from creation to destruction):
//  - the database component Tivoran on "Tivoran.ZUD" in the executable's
//    folder (shared, multi-user), with the table components Inicial (the
//    entered periods, table `inicial`, in `desde` order) and Configura (the
//    one settings row of `configura`);
//  - periodos and Periodos2 on the table `periodos` of the in-memory
//    database (the generated periods), created at start;
//  - the data sources DSInicial and DSPeriodos under the grids.
//
// Invariants
//  1. F1ini and F1fin read "  /  /    " when empty (MaskedDateEdit).
//  2. Cargando is true only while the constructor (FormCreate) runs, even
//     when a step of it fails; CKAutomaticoClick does nothing meanwhile.
//  3. Single instance: a running window keeps `inicial` open, shared, from
//     FormShow on; FormCreate empties it with exclusive access, which the
//     engine refuses (20208) while another copy has it open. A copy that
//     meets that, or finds no usable database, says so and asks the program
//     to end (TivoranApplication::Terminate) before its window is shown.
//  4. LId holds the `id` of the row loaded for editing; BotOKClick stores
//     into that row, wherever the grid's selection has moved meanwhile.
//  5. BotBorrar and BotBorrarTodo are enabled, and LEditar shown, exactly
//     while `inicial` has rows.
//
// Calculation: BotCalcularPeriodosClick (period generation) and
// BotCalcularTotalesClick (totals) are the hidden buttons' handlers; the
// other handlers call them directly, inside their own catch where their
// errors are to be ignored (a click would show them).
//
// Totals are exact in hundredths: the weighted and contributed days of the
// generated periods are summed as whole hundredths, so 29,97 + 4,02 + 2,01
// is 36,00 and truncates to 36, never to 35 from a binary sum just below.
//
// Printing: the window's image, scaled to the page, on the default printer;
// without one it offers to save the same page as a PDF file.
//
// Saving before losing a case: every prompt to save ("¿Desea guardar el
// supuesto?" on closing, "¿Quiere guardar el supuesto en curso?" before a
// new case or a load) that is answered Yes goes on only once the case is
// saved: a cancelled save dialog or a failed write cancels the close, the
// new case or the load.
//
// Thread use: GUI thread only.
#pragma once

#include <QChar>
#include <QWidget>
#include <cstdint>
#include <memory>

#include "dataset/Dataset.h"

class QAbstractButton;
class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPrinter;
class QPushButton;
class QToolButton;

class TABSDatabase;
class TABSQuery;
class TABSTable;

namespace tiv::qtui {
class DataGrid;
class MaskedDateEdit;
}  // namespace tiv::qtui

class TFormMenuPral : public QWidget {
  Q_OBJECT

 public:
  // FormCreate runs here. The database file is "Tivoran.ZUD" in
  // `databaseFolder`, by default the folder of the running executable.
  explicit TFormMenuPral(QWidget* parent = nullptr, const QString& databaseFolder = QString());
  // FormDestroy.
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
  // The database file the window was bound to.
  QString DatabaseFile() const { return databaseFile_; }

 public Q_SLOTS:
  void FormShow();
  void BotMenuClick();
  void Configuracin1Click();
  void Salir1Click();
  void CKAutomaticoClick();

  void BotSumaClick();
  void DBGrid1DblClick();
  void BotOKClick();
  void BotCancelarClick();
  void BotBorrarClick();
  void BotBorrarTodoClick();
  void BorrarTodo();
  void BotNuevoClick();
  void DSInicialDataChange();

  // Case files.
  void BotGuardarClick();
  void BotAbrirClick();
  // Whether the window may close (it asks to save a modified case first).
  bool FormClose();

  // Period generation.
  void BotCalcularPeriodosClick();
  void CKBorVaciosClick();

  // Totals and the global coefficient.
  void BotCalcularTotalesClick();
  void BotCalcularClick();
  void EDiasTotChange();
  void EDiasTotExit();
  void CKTotDiasClick();
  void CKDiasNatClick();

  // Reference list, about box, printing.
  void SpeedButton1Click();
  void Acercade1Click();
  void BoptImprimirClick();

  // Qualifying period.
  void EdiasChange();
  void EAnysChange();
  void CalculoFin();
  // EAnys and EMeses from the days in Edias ("núm. días inválido"), as
  // typing into Edias converts them.
  void DiasAAnyosMeses();

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
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateTopBand(QWidget* panel);
  void CreateEntryLine(QWidget* panel);
  void CreateTotals(QWidget* panel);
  void CreateQualifyingBox(QWidget* panel);
  void CreateGrids(QWidget* left, QWidget* right);
  void CreateBottomBand(QWidget* panel);
  void CreatePopupMenu();
  void CreateDataComponents();
  void SetTabOrder();
  void Watch(QWidget* control);
  void Connect(QAbstractButton* button, void (TFormMenuPral::*handler)());

  // FormCreate and its steps.
  void FormCreate(const QString& databaseFolder);
  bool EmptyEnteredPeriods();
  void CreateGeneratedPeriodsTable();
  // Reads `configura` into LimiteActivo, FechaLimite and CKAutomatico, the
  // check box last.
  void LeerConfiguracion();

  // The entry line checked as adding and storing an edit check it: both
  // dates readable, the percentage a number, the part-time limit, the end
  // not before the start. Then F1finExit and Coef1Exit.
  void ComprobarEntrada();
  // Writes the entry line into the current record of Inicial (in insert or
  // edit mode) and posts it; a refused post leaves the table as it was.
  void GuardarEntrada();
  // The passes of period generation.
  void PasoLimites();
  void PasoCierre();
  void PasoPonderacion();
  void BorrarVacios();
  // Step 6 of adding: recalculate, or empty the generated periods.
  void Recalcular();
  // Closes the table, empties it with exclusive access and opens it again.
  static void VaciarTabla(TABSTable& table);

  // Saves the case through the save dialog: false when the user cancelled
  // it; a failed write raises, leaving any earlier file as it was.
  bool GuardarSupuesto();
  // Asks `question` when the case is modified and has periods; true when
  // the caller may go on (No, or Yes and saved).
  bool OfrecerGuardar(const QString& question);
  // Paints the window's image on the printer's page, scaled to fit.
  void ImprimirPantalla(QPrinter& printer);
  int ItemDiasNat() const;
  void SetItemDiasNat(int item);

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
  QString databaseFile_;

  // Data components; declared before the controls that show them.
  std::unique_ptr<TABSDatabase> Tivoran;
  std::unique_ptr<TABSTable> Inicial;
  std::unique_ptr<TABSTable> Configura;
  std::unique_ptr<TABSTable> periodos;
  std::unique_ptr<TABSTable> Periodos2;
  std::unique_ptr<TABSQuery> Query1;
  tiv::dataset::DataSource DSInicial;
  tiv::dataset::DataSource DSPeriodos;

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
  tiv::qtui::DataGrid* DBGrid1 = nullptr;
  tiv::qtui::DataGrid* DBGrid2 = nullptr;
  QLabel* LEditar = nullptr;
  QToolButton* BotBorrar = nullptr;
  QToolButton* BotBorrarTodo = nullptr;

  QMenu* PopupMenu1 = nullptr;
};
