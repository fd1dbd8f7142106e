#include "Menu.h"

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QCursor>
#include <QFocusEvent>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScopedValueRollback>
#include <QScreen>
#include <QStandardItemModel>
#include <QStyle>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QSaveFile>
#include <cmath>

#include "Acerca.h"
#include "Configuracion.h"
#include "Controles.h"
#include "Funcion.h"
#include "Supuesto.h"
#include "Version.h"
#include "access/ZUDMain.h"
#include "diascarencia.h"
#include "qtui/Application.h"
#include "qtui/DataGrid.h"
#include "qtui/DialogService.h"
#include "qtui/ExceptionHandler.h"
#include "qtui/MaskedDateEdit.h"

using tiv::dataset::FieldValue;
using tiv::qtui::DataGrid;
using tiv::qtui::MaskedDateEdit;
using tiv::qtui::RunHandler;

namespace {

// Window geometry of the form: 982 x 637; top band 181 high, left grid 449
// wide, bottom band 41 high.
constexpr int kWidth = 982;
constexpr int kHeight = 637;
constexpr int kTopBand = 181;
constexpr int kLeftBand = 449;
constexpr int kBottomBand = 41;

const QColor kTeal(0, 128, 128);
const QColor kNavy(0, 0, 128);
const QColor kBlue(0, 0, 255);
const QColor kRed(255, 0, 0);

// "MS Sans Serif" is not on our platforms; these have close metrics.
const char* const kFormFont = "MS Sans Serif";

QFont FormFont(int pointSize, bool bold = false) {
  QFont f(QString::fromLatin1(kFormFont), pointSize);
  f.setBold(bold);
  return f;
}

void SetTextColor(QWidget* w, const QColor& c) {
  QPalette p = w->palette();
  p.setColor(QPalette::WindowText, c);
  p.setColor(QPalette::ButtonText, c);
  p.setColor(QPalette::Text, c);
  w->setPalette(p);
}

template <class W>
W* Named(W* w, const char* name, const QRect& geometry) {
  w->setObjectName(QString::fromLatin1(name));
  w->setGeometry(geometry);
  return w;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, const QRect& geometry) {
  return Named(new QLabel(text, parent), name, geometry);
}

QLabel* MakeValueLabel(QWidget* parent, const char* name, const QRect& geometry, const QFont& font) {
  QLabel* l = MakeLabel(parent, name, QString(), geometry);
  l->setFont(font);
  l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  return l;
}

// A flat button that never takes the keyboard focus.
QToolButton* MakeSpeedButton(QWidget* parent, const char* name, const QString& hint, const QRect& geometry) {
  QToolButton* b = Named(new QToolButton(parent), name, geometry);
  b->setAutoRaise(true);
  b->setFocusPolicy(Qt::NoFocus);
  if (!hint.isEmpty()) b->setToolTip(hint);
  return b;
}

QToolButton* MakeGlyphButton(QWidget* parent, const char* name, const QString& hint, QStyle::StandardPixmap glyph,
                             const QRect& geometry) {
  QToolButton* b = MakeSpeedButton(parent, name, hint, geometry);
  b->setIcon(parent->style()->standardIcon(glyph));
  return b;
}

QLineEdit* MakeEdit(QWidget* parent, const char* name, const QRect& geometry) {
  return Named(new QLineEdit(parent), name, geometry);
}

DataGrid* MakeGrid(QWidget* parent, const char* name, tiv::dataset::DataSource& source,
                   const std::vector<const char*>& fields) {
  auto* grid = new DataGrid(parent);
  grid->setObjectName(QString::fromLatin1(name));
  std::vector<tiv::qtui::DataGridColumn> columns;
  for (const char* f : fields) columns.push_back({f, QString::fromLatin1(f), 0});
  grid->SetColumns(std::move(columns));
  grid->SetDataSource(&source);
  grid->verticalHeader()->setDefaultSectionSize(18);
  grid->horizontalHeader()->setDefaultSectionSize(64);
  grid->horizontalHeader()->setMinimumSectionSize(56);
  grid->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  return grid;
}

QFrame* MakePanel(QWidget* parent, const char* name) {
  auto* panel = new QFrame(parent);
  panel->setObjectName(QString::fromLatin1(name));
  panel->setFrameShape(QFrame::Panel);
  panel->setFrameShadow(QFrame::Raised);
  return panel;
}

bool IsEnterKey(const QKeyEvent* e) { return e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter; }

// The database that the window's components name, and the engine's
// in-memory one.
constexpr const char* kDatabaseName = "Tivoran";
constexpr const char* kMemory = "MEMORY";
constexpr const char* kDatabaseFile = "Tivoran.ZUD";
// The engine's refusal of an exclusive access to a table another process
// has open: at start-up, another copy of the program.
constexpr int32_t kTableOpenByAnotherUser = 20208;

// Dates travel between the window and the fields as day numbers counted
// from 30/12/1899 (Funcion.h).
FieldValue DateValue(int32_t day) { return FieldValue::Date(day + tiv::dataset::kDateTimeOrigin); }
int32_t DayOf(const tiv::dataset::Field& field) { return static_cast<int32_t>(std::floor(field.AsDateTime())); }

std::unique_ptr<TABSTable> MakeTable(const char* name, const char* database, const char* table,
                                     const char* index = "") {
  auto t = std::make_unique<TABSTable>(name);
  t->SetDatabaseName(database);
  t->SetTableName(table);
  t->SetIndexName(index);
  return t;
}

// Runs its function when the scope ends, whichever way: what a handler
// suspended or opened comes back after a failure too.
template <class F>
class Finally {
 public:
  explicit Finally(F f) : f_(std::move(f)) {}
  ~Finally() { f_(); }
  Finally(const Finally&) = delete;
  Finally& operator=(const Finally&) = delete;

 private:
  F f_;
};

}  // namespace

// ---- Construction ----------------------------------------------------------

TFormMenuPral::TFormMenuPral(QWidget* parent, const QString& databaseFolder) : QWidget(parent) {
  Cargando = true;
  setObjectName(QStringLiteral("FormMenuPral"));
  static const bool substituted = [] {
    QFont::insertSubstitutions(QString::fromLatin1(kFormFont),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"), QStringLiteral("Arial"),
                                QStringLiteral("DejaVu Sans")});
    return true;
  }();
  Q_UNUSED(substituted);
  setFont(FormFont(8));
  setWindowTitle(QStringLiteral("Tivoran "));
  resize(kWidth, kHeight);
  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - QPoint(kWidth / 2, kHeight / 2));

  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->setSpacing(0);
  Panel1 = MakePanel(this, "Panel1");
  Panel1->setFixedHeight(kTopBand);
  outer->addWidget(Panel1);
  auto* middle = new QHBoxLayout;
  middle->setSpacing(0);
  outer->addLayout(middle, 1);
  QFrame* panel2 = MakePanel(this, "Panel2");
  panel2->setFixedWidth(kLeftBand);
  QFrame* panel4 = MakePanel(this, "Panel4");
  middle->addWidget(panel2);
  middle->addWidget(panel4, 1);
  QFrame* panel3 = MakePanel(this, "Panel3");
  panel3->setFixedHeight(kBottomBand);
  outer->addWidget(panel3);

  CreateDataComponents();
  CreateTopBand(Panel1);
  CreateEntryLine(Panel1);
  CreateTotals(Panel1);
  CreateQualifyingBox(Panel1);
  CreateGrids(panel2, panel4);
  CreateBottomBand(panel3);
  CreatePopupMenu();
  SetTabOrder();

  connect(Coef1, &QLineEdit::textChanged, this, [this] { RunHandler([this] { Coef1Change(); }); });
  connect(CKAutomatico, &QCheckBox::toggled, this, [this] { RunHandler([this] { CKAutomaticoClick(); }); });
  Connect(BotMenu, &TFormMenuPral::BotMenuClick);
  Connect(BotNuevo, &TFormMenuPral::BotNuevoClick);
  Connect(BotGuardar, &TFormMenuPral::BotGuardarClick);
  Connect(BotAbrir, &TFormMenuPral::BotAbrirClick);
  Connect(SpeedButton1, &TFormMenuPral::SpeedButton1Click);
  Connect(BotCalcularPeriodos, &TFormMenuPral::BotCalcularPeriodosClick);
  Connect(BotCalcularTotales, &TFormMenuPral::BotCalcularTotalesClick);
  connect(CKBorVacios, &QCheckBox::toggled, this, [this] { RunHandler([this] { CKBorVaciosClick(); }); });
  Connect(BotCalcular, &TFormMenuPral::BotCalcularClick);
  connect(EDiasTot, &QLineEdit::textChanged, this, [this] { RunHandler([this] { EDiasTotChange(); }); });
  connect(CKTotDias, &QCheckBox::toggled, this, [this] { RunHandler([this] { CKTotDiasClick(); }); });
  for (QRadioButton* r : CKDiasNat->findChildren<QRadioButton*>())
    connect(r, &QRadioButton::toggled, this, [this](bool checked) {
      if (checked) RunHandler([this] { CKDiasNatClick(); });
    });
  Connect(BoptImprimir, &TFormMenuPral::BoptImprimirClick);
  connect(Edias, &QLineEdit::textChanged, this, [this] { RunHandler([this] { EdiasChange(); }); });
  for (QLineEdit* e : {EAnys, EMeses})
    connect(e, &QLineEdit::textChanged, this, [this] { RunHandler([this] { EAnysChange(); }); });
  Connect(BotSuma, &TFormMenuPral::BotSumaClick);
  Connect(BotOK, &TFormMenuPral::BotOKClick);
  Connect(BotCancelar, &TFormMenuPral::BotCancelarClick);
  Connect(BotBorrar, &TFormMenuPral::BotBorrarClick);
  Connect(BotBorrarTodo, &TFormMenuPral::BotBorrarTodoClick);
  connect(DBGrid1, &QAbstractItemView::doubleClicked, this, [this] { RunHandler([this] { DBGrid1DblClick(); }); });
  DSInicial.OnDataChange = [this](tiv::dataset::Field*) { DSInicialDataChange(); };

  FormCreate(databaseFolder);
}

TFormMenuPral::~TFormMenuPral() {
  // FormDestroy. The other components close as they go, the database last.
  periodos->Close();
}

void TFormMenuPral::Connect(QAbstractButton* button, void (TFormMenuPral::*handler)()) {
  connect(button, &QAbstractButton::clicked, this,
          [this, handler] { RunHandler([this, handler] { (this->*handler)(); }); });
}

void TFormMenuPral::CreateDataComponents() {
  Tivoran = std::make_unique<TABSDatabase>("Tivoran");
  Tivoran->SetDatabaseName(kDatabaseName);
  Tivoran->Exclusive = false;
  Tivoran->MultiUser = true;
  Tivoran->MaxConnections = 500;
  Inicial = MakeTable("Inicial", kDatabaseName, "inicial", "desde");
  Configura = MakeTable("Configura", kDatabaseName, "configura");
  periodos = MakeTable("periodos", kMemory, "periodos", "desde");
  Periodos2 = MakeTable("Periodos2", kMemory, "periodos", "desde");
  Query1 = std::make_unique<TABSQuery>("Query1");
  Query1->SetDatabaseName(kDatabaseName);
  Query1->SetSQL({"select * from inicial"});
  DSInicial.SetDataSet(Inicial.get());
  DSPeriodos.SetDataSet(periodos.get());
}

void TFormMenuPral::CreateTopBand(QWidget* panel) {
  BotNuevo =
      MakeGlyphButton(panel, "BotNuevo", QStringLiteral("Nuevo cálculo"), QStyle::SP_FileIcon, QRect(4, 4, 26, 26));
  Label15 = MakeLabel(panel, "Label15", QStringLiteral("Referencia:"), QRect(36, 8, 60, 18));
  EditReferencia = MakeEdit(panel, "EditReferencia", QRect(98, 6, 240, 21));
  BotAbrir = MakeGlyphButton(panel, "BotAbrir", QStringLiteral("Cargar un supuesto desde un fichero"),
                             QStyle::SP_DialogOpenButton, QRect(342, 4, 26, 26));
  BotGuardar = MakeGlyphButton(panel, "BotGuardar", QStringLiteral("Guardar supuesto en un fichero"),
                               QStyle::SP_DialogSaveButton, QRect(370, 4, 26, 26));

  LCGP = MakeLabel(panel, "LCGP", QStringLiteral("C.G.P."), QRect(452, 2, 80, 30));
  LCGP->setFont(FormFont(18));
  LCoeficiente = MakeValueLabel(panel, "LCoeficiente", QRect(534, 2, 110, 30), FormFont(18, true));
  LPorcent = MakeLabel(panel, "LPorcent", QStringLiteral("%"), QRect(648, 2, 24, 30));
  LPorcent->setFont(FormFont(18));

  BotMenu =
      MakeGlyphButton(panel, "BotMenu", QStringLiteral("Menú"), QStyle::SP_FileDialogListView, QRect(918, 4, 26, 26));
  BoptImprimir = MakeSpeedButton(panel, "BoptImprimir", QStringLiteral("Imprimir pantalla"), QRect(946, 4, 26, 26));
  BoptImprimir->setIcon(
      QIcon::fromTheme(QStringLiteral("document-print"), style()->standardIcon(QStyle::SP_ComputerIcon)));

  // Hidden helpers: the generation status, the switches and the clicks other
  // handlers route through, the line buffer of case files.
  Panel5 = MakeLabel(panel, "Panel5", QStringLiteral("Generando periodos . . ."), QRect(452, 146, 300, 28));
  Panel5->setFrameShape(QFrame::Panel);
  Panel5->setAlignment(Qt::AlignCenter);
  SetTextColor(Panel5, kRed);
  Panel5->setVisible(false);
  CKBorVacios =
      Named(new QCheckBox(QStringLiteral("Borrar periodos vacios"), panel), "CKBorVacios", QRect(760, 146, 150, 18));
  CKBorVacios->setChecked(true);
  CKBorVacios->setVisible(false);
  BotCalcularPeriodos = MakeSpeedButton(panel, "BotCalcularPeriodos", QString(), QRect(0, 0, 1, 1));
  BotCalcularPeriodos->setVisible(false);
  BotCalcularTotales = MakeSpeedButton(panel, "BotCalcularTotales", QString(), QRect(0, 0, 1, 1));
  BotCalcularTotales->setVisible(false);
  Memo1 = Named(new QPlainTextEdit(panel), "Memo1", QRect(0, 0, 10, 10));
  Memo1->setVisible(false);
}

void TFormMenuPral::CreateEntryLine(QWidget* panel) {
  GroupBox1 = Named(new QGroupBox(QStringLiteral("Período cotizado"), panel), "GroupBox1", QRect(4, 34, 440, 78));
  QWidget* g = GroupBox1;
  MakeLabel(g, "Label2", QStringLiteral("Desde"), QRect(10, 20, 70, 14));
  MakeLabel(g, "Label3", QStringLiteral("Hasta"), QRect(90, 20, 70, 14));
  MakeLabel(g, "Label10", QStringLiteral("Coef."), QRect(170, 20, 44, 14));
  MakeLabel(g, "Label11", QStringLiteral("Dias / Días coef."), QRect(222, 20, 110, 14));

  F1ini = Named(new MaskedDateEdit(g), "F1ini", QRect(8, 36, 76, 21));
  F1fin = Named(new MaskedDateEdit(g), "F1fin", QRect(88, 36, 76, 21));
  Coef1 = MakeEdit(g, "Coef1", QRect(168, 36, 46, 21));
  Coef1->setMaxLength(5);
  Coef1->setText(QStringLiteral("100"));
  Coef1->setToolTip(QStringLiteral("P.ej. Puede introducir  64,5 ó  645 para 64,50%"));
  diasnat = MakeValueLabel(g, "diasnat", QRect(218, 39, 50, 16), FormFont(8, true));
  diascoef = MakeValueLabel(g, "diascoef", QRect(272, 39, 62, 16), FormFont(8, true));

  BotSuma = Named(new QPushButton(QStringLiteral("+"), g), "BotSuma", QRect(344, 14, 42, 58));
  BotSuma->setFont(FormFont(28, true));
  SetTextColor(BotSuma, kBlue);
  BotSuma->setToolTip(QStringLiteral("Añade periodo a la lista"));
  BotOK = Named(new QPushButton(g), "BotOK", QRect(344, 14, 42, 58));
  BotOK->setIcon(style()->standardIcon(QStyle::SP_DialogApplyButton));
  BotOK->setVisible(false);
  BotCancelar = Named(new QPushButton(g), "BotCancelar", QRect(390, 14, 42, 58));
  BotCancelar->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));
  BotCancelar->setVisible(false);
  LId = MakeLabel(g, "LId", QString(), QRect(390, 60, 40, 14));
  LId->setVisible(false);

  MakeLabel(panel, "Label1", QStringLiteral("Total días"), QRect(6, 120, 56, 18));
  EDiasTot = MakeEdit(panel, "EDiasTot", QRect(64, 118, 64, 21));
  EDiasTot->setToolTip(QStringLiteral("Días totales del informe"));

  CKDiasNat = Named(new QGroupBox(panel), "CKDiasNat", QRect(134, 112, 160, 30));
  CKDiasNat->setToolTip(QStringLiteral("Total dias son dias naturales o dias con coeficiente"));
  auto* radios = new QHBoxLayout(CKDiasNat);
  radios->setContentsMargins(4, 2, 4, 2);
  auto* natural = new QRadioButton(QStringLiteral("dias nat"), CKDiasNat);
  natural->setObjectName(QStringLiteral("CKDiasNat0"));
  auto* weighted = new QRadioButton(QStringLiteral("dias coef"), CKDiasNat);
  weighted->setObjectName(QStringLiteral("CKDiasNat1"));
  weighted->setChecked(true);
  radios->addWidget(natural);
  radios->addWidget(weighted);
  CKDiasNat->setVisible(false);

  CKTotDias = Named(new QCheckBox(QStringLiteral("Dif. días al 100%"), panel), "CKTotDias", QRect(300, 118, 140, 18));
  CKTotDias->setToolTip(
      QStringLiteral("La diferencia de días con total días se consideran cotizados a jornada completa"));
  CKTotDias->setVisible(false);

  QLabel* guide1 = MakeLabel(
      panel, "Label18",
      QStringLiteral("Puede introducir únicamente los períodos con tiempo parcial y calcular el resto por diferencia"),
      QRect(6, 144, 730, 14));
  QLabel* guide2 = MakeLabel(
      panel, "Label19",
      QStringLiteral(
          "con   'Total días'    (indicando si el total es de días naturales o con los días con coeficiente)"),
      QRect(6, 160, 730, 14));
  SetTextColor(guide1, kTeal);
  SetTextColor(guide2, kTeal);
}

void TFormMenuPral::CreateTotals(QWidget* panel) {
  MakeLabel(panel, "Label5", QStringLiteral("Dias nat."), QRect(454, 38, 90, 14))->setAlignment(Qt::AlignRight);
  MakeLabel(panel, "Label6", QStringLiteral("Dias coef."), QRect(548, 38, 90, 14))->setAlignment(Qt::AlignRight);
  MakeLabel(panel, "Label7", QStringLiteral("Días Cotiz."), QRect(642, 38, 90, 14))->setAlignment(Qt::AlignRight);
  const QFont totals = FormFont(14, true);
  LTotDiasNat = MakeValueLabel(panel, "LTotDiasNat", QRect(454, 54, 90, 24), totals);
  LTotDiasCoef = MakeValueLabel(panel, "LTotDiasCoef", QRect(548, 54, 90, 24), totals);
  LTotDiasCotizados = MakeValueLabel(panel, "LTotDiasCotizados", QRect(642, 54, 90, 24), totals);
  for (QLabel* l : {LTotDiasNat, LTotDiasCoef, LTotDiasCotizados}) SetTextColor(l, kNavy);

  L100 = MakeLabel(panel, "L100", QStringLiteral("Días 100%"), QRect(454, 84, 180, 16));
  LFaltan = MakeValueLabel(panel, "LFaltan", QRect(642, 84, 90, 16), FormFont(8, true));
  LNumLin = MakeLabel(panel, "LNumLin", QString(), QRect(454, 100, 60, 14));
  LNumLin->setVisible(false);

  BotCalcular = MakeSpeedButton(panel, "BotCalcular", QString(), QRect(454, 112, 90, 26));
  BotCalcular->setText(QStringLiteral("&Calcular"));
  BotCalcular->setAutoRaise(false);
  CKAutomatico =
      Named(new QCheckBox(QStringLiteral("Cálculo automático"), panel), "CKAutomatico", QRect(556, 116, 170, 18));
}

void TFormMenuPral::CreateQualifyingBox(QWidget* panel) {
  GroupBox2 =
      Named(new QGroupBox(QStringLiteral("Proporcionalidad carencia: "), panel), "GroupBox2", QRect(742, 34, 234, 142));
  QWidget* g = GroupBox2;
  MakeLabel(g, "Label9", QStringLiteral("dias"), QRect(8, 20, 64, 14));
  MakeLabel(g, "Label13", QStringLiteral("años"), QRect(80, 20, 44, 14));
  MakeLabel(g, "Label12", QStringLiteral("meses"), QRect(130, 20, 44, 14));
  const QFont inputs = FormFont(12);
  Edias = MakeEdit(g, "Edias", QRect(8, 35, 66, 24));
  EAnys = MakeEdit(g, "EAnys", QRect(80, 35, 44, 24));
  EMeses = MakeEdit(g, "EMeses", QRect(130, 35, 44, 24));
  for (QLineEdit* e : {Edias, EAnys, EMeses}) e->setFont(inputs);
  SpeedButton1 = MakeSpeedButton(g, "SpeedButton1", QStringLiteral("Carencias comunes"), QRect(184, 35, 26, 24));
  SpeedButton1->setText(QStringLiteral("?"));
  SpeedButton1->setFont(FormFont(12, true));
  SpeedButton1->setAutoRaise(false);
  SetTextColor(SpeedButton1, kRed);

  MakeLabel(g, "Label4", QStringLiteral("Carencia resultante:"), QRect(8, 63, 150, 14));
  MakeLabel(g, "Label8", QStringLiteral("días"), QRect(8, 78, 64, 14));
  MakeLabel(g, "Label16", QStringLiteral("años"), QRect(80, 78, 44, 14));
  MakeLabel(g, "Label17", QStringLiteral("meses"), QRect(130, 78, 44, 14));
  const QFont results = FormFont(15, true);
  LFinal = MakeValueLabel(g, "LFinal", QRect(8, 92, 66, 26), results);
  LFinalAny = MakeValueLabel(g, "LFinalAny", QRect(80, 92, 44, 26), results);
  LFinalMes = MakeValueLabel(g, "LFinalMes", QRect(130, 92, 44, 26), results);
  LCarencia = MakeLabel(g, "LCarencia", QString(), QRect(8, 120, 220, 16));
  SetTextColor(LCarencia, kTeal);
}

void TFormMenuPral::CreateGrids(QWidget* left, QWidget* right) {
  DBGrid1 = MakeGrid(left, "DBGrid1", DSInicial, {"id", "desde", "hasta", "coef", "dias", "diascoef"});
  DBGrid2 = MakeGrid(right, "DBGrid2", DSPeriodos,
                     {"id", "desde", "hasta", "porcentaje", "dias", "diascoef", "diascotizados"});
  for (auto [panel, grid] : {std::pair<QWidget*, QTableView*>{left, DBGrid1}, {right, DBGrid2}}) {
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->addWidget(grid);
  }
}

void TFormMenuPral::CreateBottomBand(QWidget* panel) {
  BotBorrar = MakeSpeedButton(panel, "BotBorrar", QString(), QRect(8, 8, 200, 25));
  BotBorrar->setText(QStringLiteral("&Borrar periodo seleccionado"));
  BotBorrar->setAutoRaise(false);
  BotBorrar->setEnabled(false);
  BotBorrarTodo = MakeSpeedButton(panel, "BotBorrarTodo", QString(), QRect(214, 8, 180, 25));
  BotBorrarTodo->setText(QStringLiteral("Borrar &todos los periodos"));
  BotBorrarTodo->setAutoRaise(false);
  LEditar = MakeLabel(panel, "LEditar", QStringLiteral("(Editar doble-click)"), QRect(410, 12, 160, 16));
  LEditar->setFont(FormFont(8, true));
  SetTextColor(LEditar, kTeal);
  LEditar->setVisible(false);
}

void TFormMenuPral::CreatePopupMenu() {
  PopupMenu1 = new QMenu(this);
  PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
  QAction* configuracion = PopupMenu1->addAction(QStringLiteral("&Configuración"));
  configuracion->setObjectName(QStringLiteral("Configuracin1"));
  connect(configuracion, &QAction::triggered, this, [this] { RunHandler([this] { Configuracin1Click(); }); });
  QAction* salir = PopupMenu1->addAction(QStringLiteral("&Salir"));
  salir->setObjectName(QStringLiteral("Salir1"));
  connect(salir, &QAction::triggered, this, [this] { RunHandler([this] { Salir1Click(); }); });
  PopupMenu1->addSeparator();
  QAction* acerca = PopupMenu1->addAction(QStringLiteral("Acerca de..."));
  acerca->setObjectName(QStringLiteral("Acercade1"));
  connect(acerca, &QAction::triggered, this, [this] { RunHandler([this] { Acercade1Click(); }); });
}

// The form's tab order is per container (Panel1: EditReferencia 0,
// GroupBox1 1, EDiasTot 2, CKDiasNat 3, CKTotDias 4, GroupBox2 6,
// CKAutomatico 8; GroupBox1: F1ini, F1fin, Coef1, BotSuma, BotOK,
// BotCancelar; GroupBox2: Edias, EAnys, EMeses); flattened here. Speed
// buttons never take the focus.
void TFormMenuPral::SetTabOrder() {
  QList<QWidget*> order = {EditReferencia, F1ini, F1fin, Coef1, BotSuma, BotOK, BotCancelar, EDiasTot};
  for (QRadioButton* r : CKDiasNat->findChildren<QRadioButton*>()) order.append(r);
  order += {CKTotDias, Edias, EAnys, EMeses, CKAutomatico, DBGrid1, DBGrid2};
  for (qsizetype i = 1; i < order.size(); ++i) QWidget::setTabOrder(order[i - 1], order[i]);
  for (QWidget* w : {static_cast<QWidget*>(F1ini), static_cast<QWidget*>(F1fin), static_cast<QWidget*>(Coef1),
                     static_cast<QWidget*>(EDiasTot), static_cast<QWidget*>(Edias), static_cast<QWidget*>(EAnys),
                     static_cast<QWidget*>(EMeses)})
    Watch(w);
}

void TFormMenuPral::Watch(QWidget* control) { control->installEventFilter(this); }

// ---- Event routing ---------------------------------------------------------

bool TFormMenuPral::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::KeyPress: return FilterKeyPress(watched, static_cast<QKeyEvent*>(event));
    case QEvent::FocusIn: OnEnter(watched); break;
    case QEvent::FocusOut: {
      // Only a move of the focus inside the window is an exit; the window
      // losing activation (a message box, another program) is not.
      // Nor is the focus leaving a control because an exit handler puts it
      // back where the user came from: the user's move was refused, so the
      // control the focus passed through was never really entered.
      const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
      if (!runningExit_ && reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) OnExit(watched);
      break;
    }
    case QEvent::MouseButtonRelease:
      // A click selects the whole text of these edits, as entering them does.
      if (watched == Edias || watched == EAnys || watched == EMeses || watched == EDiasTot) OnEnter(watched);
      break;
    default: break;
  }
  return QWidget::eventFilter(watched, event);
}

bool TFormMenuPral::FilterKeyPress(QObject* watched, QKeyEvent* event) {
  QChar key;
  if (IsEnterKey(event))
    key = u'\r';
  else if (event->text().size() == 1)
    key = event->text()[0];
  else
    return false;
  const QChar typed = key;
  const bool ok = RunHandler([&] {
    if (watched == F1ini)
      F1iniKeyPress(key);
    else if (watched == F1fin)
      F1finKeyPress(key);
    else if (watched == Coef1)
      Coef1KeyPress(key);
    else if (watched == EDiasTot)
      EDiasTotKeyPress(key);
    else if (watched == Edias)
      EdiasKeyPress(key);
    else if (watched == EAnys)
      EAnysKeyPress(key);
    else if (watched == EMeses)
      EMesesKeyPress(key);
  });
  if (!ok || key.isNull()) return true;
  if (key == typed) return false;
  // The handler changed the character: the control receives the new one.
  const int code = key.unicode() < 128 ? static_cast<int>(key.toUpper().unicode()) : static_cast<int>(Qt::Key_unknown);
  QKeyEvent replaced(QEvent::KeyPress, code, event->modifiers(), QString(key));
  QCoreApplication::sendEvent(watched, &replaced);
  return true;
}

void TFormMenuPral::OnEnter(QObject* watched) {
  if (watched == Coef1)
    Coef1Enter();
  else if (watched == Edias)
    EdiasEnter();
  else if (watched == EAnys)
    EAnysEnter();
  else if (watched == EMeses)
    EMesesEnter();
  else if (watched == EDiasTot)
    EDiasTotEnter();
}

void TFormMenuPral::OnExit(QObject* watched) {
  if (watched == EDiasTot)
    PostHandler(&TFormMenuPral::EDiasTotExit);
  else if (watched == F1ini)
    PostHandler(&TFormMenuPral::F1iniExit);
  else if (watched == F1fin)
    PostHandler(&TFormMenuPral::F1finExit);
  else if (watched == Coef1)
    PostHandler(&TFormMenuPral::Coef1Exit);
}

// Runs the handler once the focus change that triggered it is complete, so
// the handler can move the focus again.
void TFormMenuPral::PostHandler(void (TFormMenuPral::*handler)()) {
  QMetaObject::invokeMethod(
      this,
      [this, handler] {
        QScopedValueRollback<bool> running(runningExit_, true);
        RunHandler([this, handler] { (this->*handler)(); });
      },
      Qt::QueuedConnection);
}

// Posted so that the edit's own handling of the focus or of the click (which
// places the cursor) does not undo the selection.
void TFormMenuPral::SelectAllLater(QLineEdit* edit) { QTimer::singleShot(0, edit, &QLineEdit::selectAll); }

void TFormMenuPral::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (shown_) return;
  shown_ = true;
  RunHandler([this] { FormShow(); });
}

// ---- Handlers of the window ----------------------------------------------

QString TFormMenuPral::Caption() {
  return QStringLiteral("Tivoran ") + QStringLiteral("                  v. ") + QString::fromLatin1(kVersionTivoran) +
         QStringLiteral("  ") + QString::fromLatin1(kFechaCompilacion);
}

void TFormMenuPral::FormShow() {
  setWindowTitle(Caption());
  Editando = false;
  Inicial->Open();
  DSInicialDataChange();
  LimpiarPantalla();
  if (!Inicial->IsEmpty()) {
    BotCalcularPeriodosClick();
    BotCalcularTotalesClick();
  }
  LimpiarEntrada();
  F1ini->setFocus(Qt::OtherFocusReason);
}

void TFormMenuPral::BotMenuClick() { PopupMenu1->popup(QCursor::pos()); }

void TFormMenuPral::Salir1Click() { close(); }

void TFormMenuPral::CKAutomaticoClick() {
  if (Cargando) return;
  try {
    Recalcular();
  } catch (...) {
    // Switching the automatic calculation never reports an error.
  }
}

// Empties the generated periods and the results.
void TFormMenuPral::BorrarPeriodos() {
  VaciarTabla(*periodos);
  LimpiarPantalla();
  LimpiarEntrada();
  F1ini->setFocus(Qt::OtherFocusReason);
}

// ---- Start-up and settings ---------------------------------------------------

void TFormMenuPral::FormCreate(const QString& databaseFolder) {
  Cargando = true;
  const Finally loaded([this] { Cargando = false; });
  Modificado = false;
  TipoRedondeo = 0;
  const QString folder = databaseFolder.isEmpty() ? QCoreApplication::applicationDirPath() : databaseFolder;
  databaseFile_ = QDir(folder).filePath(QString::fromLatin1(kDatabaseFile));
  Tivoran->SetDatabaseFileName(QFile::encodeName(databaseFile_).toStdString());
  if (!EmptyEnteredPeriods()) {
    // The window is never shown: the settings and the in-memory table
    // would serve nobody, and their errors would only repeat the first.
    tiv::qtui::TivoranApplication::Terminate();
    return;
  }
  // A failure here is shown and ends start-up; the program goes on.
  RunHandler([this] {
    CreateGeneratedPeriodsTable();
    LeerConfiguracion();
  });
}

// Empties `inicial` with exclusive access: every start begins with an empty
// case, and a second copy finds the table open by the first (invariant 3).
// Says what went wrong and answers false when that cannot be done.
bool TFormMenuPral::EmptyEnteredPeriods() {
  std::exception_ptr error;
  try {
    if (!QFileInfo(databaseFile_).isFile())
      throw ECalcError(Ansi("No se encuentra la base de datos ") + ToAnsi(QDir::toNativeSeparators(databaseFile_)));
    Inicial->Close();
    Inicial->Exclusive = true;
    try {
      Inicial->ClearTable();
    } catch (...) {
      Inicial->Exclusive = false;
      throw;
    }
    Inicial->Exclusive = false;
    return true;
  } catch (const EABSException& e) {
    if (e.NativeError() == kTableOpenByAnotherUser)
      error = std::make_exception_ptr(ECalcError(Ansi("Hay otra instancia del programa en uso")));
    else
      error = std::current_exception();
  } catch (...) {
    error = std::current_exception();
  }
  Tivoran->Close();
  tiv::qtui::ShowException(error);
  return false;
}

void TFormMenuPral::CreateGeneratedPeriodsTable() {
  for (TABSTable* t : {periodos.get(), Periodos2.get()}) {
    t->IndexDefs.clear();
    t->IndexDefs.push_back({"id", "id", true});
    t->IndexDefs.push_back({"desde", "desde"});
    t->FieldDefs = {{"id", aftAutoInc},          {"desde", aftDate},   {"hasta", aftDate},
                    {"porcentaje", aftDouble},   {"dias", aftInteger}, {"diascoef", aftDouble},
                    {"diascotizados", aftDouble}};
    t->CreateTable();
  }
  // Open from now on: shown in DBGrid2 and read by the totals.
  periodos->Open();
}

void TFormMenuPral::LeerConfiguracion() {
  Configura->Open();
  const Finally close([this] { Configura->Close(); });
  LimiteActivo = Configura->FieldByName("nofechaant").AsBoolean();
  FechaLimite = LimiteActivo ? DayOf(Configura->FieldByName("fechaant")) : Today();
  // Last: outside start-up a change of the setting runs CKAutomaticoClick.
  CKAutomatico->setChecked(Configura->FieldByName("autocalculo").AsBoolean());
}

void TFormMenuPral::Configuracin1Click() {
  {
    TFormConfiguracion dialog(this);
    dialog.exec();
  }
  LeerConfiguracion();
}

// ---- Entered periods -----------------------------------------------------------

void TFormMenuPral::VaciarTabla(TABSTable& table) {
  table.Close();
  table.Exclusive = true;
  // A failure leaves the table shared and, when it can be, open again.
  const Finally reopen([&table] {
    table.Exclusive = false;
    if (table.Active()) return;
    try {
      table.Open();
    } catch (...) {
      // The failure that brought us here is the one reported.
    }
  });
  table.ClearTable();
}

void TFormMenuPral::ComprobarEntrada() {
  int32_t desde = 0, hasta = 0;
  try {
    desde = ReadDate(ToAnsi(F1ini->text()));
  } catch (const EConvertError&) {
    F1ini->setFocus(Qt::OtherFocusReason);
    throw ECalcError(Ansi("Fecha errónea"));
  }
  try {
    hasta = ReadDate(ToAnsi(F1fin->text()));
  } catch (const EConvertError&) {
    F1fin->setFocus(Qt::OtherFocusReason);
    throw ECalcError(Ansi("Fecha errónea"));
  }
  double coef = 0;
  try {
    // The limit applies to the percentage as it will be stored: "645" is
    // 64,5, a part-time period.
    coef = ReadNumber(NormalizarCoef(ToAnsi(Coef1->text())));
  } catch (const EConvertError&) {
    Coef1->setFocus(Qt::OtherFocusReason);
    throw ECalcError(Ansi("Coeficiente erróneo"));
  }
  const bool despuesDelLimite = hasta >= FechaLimite && desde >= FechaLimite;
  if (LimiteActivo && !despuesDelLimite && coef < 100) {
    F1ini->setFocus(Qt::OtherFocusReason);
    throw ECalcError(Ansi("No puede haber cotizaciones parciales anteriores a ") + DateText(FechaLimite));
  }
  if (hasta < desde) {
    F1ini->setFocus(Qt::OtherFocusReason);
    throw ECalcError(Ansi("Fechas erróneas"));
  }
  F1finExit();
  Coef1Exit();
}

void TFormMenuPral::GuardarEntrada() {
  try {
    Inicial->FieldByName("desde").SetValue(DateValue(ReadDate(ToAnsi(F1ini->text()))));
    Inicial->FieldByName("hasta").SetValue(DateValue(ReadDate(ToAnsi(F1fin->text()))));
    Inicial->FieldByName("coef").SetAsFloat(ReadNumber(ToAnsi(Coef1->text())));
    Inicial->FieldByName("dias").SetAsInteger(static_cast<int64_t>(ValorNumerico(ToAnsi(diasnat->text()))));
    Inicial->FieldByName("diascoef").SetAsFloat(ValorNumerico(ToAnsi(diascoef->text())));
    Inicial->Post();
  } catch (...) {
    Inicial->Cancel();
    throw;
  }
}

void TFormMenuPral::Recalcular() {
  if (CKAutomatico->isChecked()) {
    BotCalcularPeriodosClick();
    BotCalcularTotalesClick();
  } else {
    BorrarPeriodos();
  }
}

void TFormMenuPral::BotSumaClick() {
  ComprobarEntrada();
  Inicial->Insert();
  GuardarEntrada();
  Recalcular();
  F1ini->setText(MaskedDateEdit::EmptyText());
  F1fin->setText(MaskedDateEdit::EmptyText());
  diasnat->clear();
  diascoef->clear();
  Coef1->setText(QStringLiteral("100"));
  F1ini->setFocus(Qt::OtherFocusReason);
  Modificado = true;
}

void TFormMenuPral::DBGrid1DblClick() {
  if (Inicial->IsEmpty()) return;
  const auto text = [this](const char* field) { return FromAnsi(Inicial->FieldByName(field).AsString()); };
  F1ini->setText(text("desde"));
  F1fin->setText(text("hasta"));
  Coef1->setText(text("coef"));
  diasnat->setText(text("dias"));
  diascoef->setText(text("diascoef"));
  LId->setText(text("id"));
  BotOK->setVisible(true);
  BotCancelar->setVisible(true);
  BotSuma->setVisible(false);
  F1ini->setFocus(Qt::OtherFocusReason);
  Editando = true;
}

void TFormMenuPral::BotOKClick() {
  ComprobarEntrada();
  // Invariant 4: the row loaded for editing, not whichever is selected now.
  const int64_t id = ReadInteger(ToAnsi(LId->text()));
  if (!Inicial->Locate("id", {FieldValue::Integer(id)})) {
    LimpiarEntrada();
    throw ECalcError(Ansi("El periodo que se estaba editando ya no existe"));
  }
  Inicial->Edit();
  GuardarEntrada();
  Inicial->Refresh();
  Recalcular();
  LimpiarEntrada();
  Modificado = true;
}

void TFormMenuPral::BotCancelarClick() {
  LimpiarEntrada();
  F1ini->setFocus(Qt::OtherFocusReason);
}

void TFormMenuPral::BotBorrarClick() {
  BotBorrar->setEnabled(false);
  // Enabled again at the end only while rows remain (invariant 5).
  const Finally restore([this] { DSInicialDataChange(); });
  if (Inicial->IsEmpty()) return;
  const auto text = [this](const char* field) { return Inicial->FieldByName(field).AsString(); };
  const std::string question = Ansi("¿Seguro que quieres borrar el período:? ") + "\n\r" + text("id") + "  " +
                               text("desde") + "  " + text("hasta") + "  coef.: " + text("coef");
  if (!tiv::qtui::Dialogs().Confirm(this, FromAnsi(question))) return;
  Inicial->Delete();
  Inicial->Refresh();
  if (!Inicial->IsEmpty()) {
    try {
      Recalcular();
    } catch (...) {
      // As with automatic calculation, a failed recalculation is not shown.
    }
  } else {
    BorrarTodo();
  }
  Modificado = true;
}

void TFormMenuPral::BotBorrarTodoClick() {
  if (!tiv::qtui::Dialogs().Confirm(this, QStringLiteral("¿Seguro que quiere borrar todos los periodos?"))) return;
  BorrarTodo();
  Modificado = false;
}

void TFormMenuPral::BorrarTodo() {
  VaciarTabla(*Inicial);
  VaciarTabla(*periodos);
  LimpiarPantalla();
  LimpiarEntrada();
  EditReferencia->clear();
  EDiasTot->clear();
  CKTotDias->setChecked(false);
  F1ini->setFocus(Qt::OtherFocusReason);
}

void TFormMenuPral::BotNuevoClick() {
  if (!tiv::qtui::Dialogs().Confirm(this, QStringLiteral("¿Quiere empezar un nuevo supuesto?"))) return;
  if (!OfrecerGuardar(QStringLiteral("¿Quiere guardar el supuesto en curso?"))) return;
  BorrarTodo();
  Modificado = false;
}

void TFormMenuPral::DSInicialDataChange() {
  const bool rows = Inicial->Active() && !Inicial->IsEmpty();
  BotBorrar->setEnabled(rows);
  BotBorrarTodo->setEnabled(rows);
  LEditar->setVisible(rows);
}

void TFormMenuPral::LimpiarEntrada() {
  LId->clear();
  F1ini->setText(MaskedDateEdit::EmptyText());
  F1fin->setText(MaskedDateEdit::EmptyText());
  Coef1->setText(QStringLiteral("100"));
  diasnat->clear();
  diascoef->clear();
  LFaltan->clear();
  BotOK->setVisible(false);
  BotSuma->setVisible(true);
  BotCancelar->setVisible(true);
  Editando = false;
}

void TFormMenuPral::LimpiarPantalla() {
  for (QLabel* l : {LNumLin, LTotDiasNat, LTotDiasCoef, LTotDiasCotizados, L100, LFaltan, LCoeficiente, LPorcent,
                    LFinal, LFinalMes, LFinalAny, LCarencia})
    l->clear();
  for (QLineEdit* e : {Edias, EAnys, EMeses}) e->setText(QStringLiteral("0"));
}

// ---- Case files ------------------------------------------------------------------

int TFormMenuPral::ItemDiasNat() const {
  return CKDiasNat->findChild<QRadioButton*>(QStringLiteral("CKDiasNat0"))->isChecked() ? 0 : 1;
}

void TFormMenuPral::SetItemDiasNat(int item) {
  CKDiasNat->findChild<QRadioButton*>(item == 0 ? QStringLiteral("CKDiasNat0") : QStringLiteral("CKDiasNat1"))
      ->setChecked(true);
}

bool TFormMenuPral::OfrecerGuardar(const QString& question) {
  if (!Modificado || Inicial->IsEmpty()) return true;
  if (!tiv::qtui::Dialogs().Confirm(this, question)) return true;
  return GuardarSupuesto();
}

bool TFormMenuPral::GuardarSupuesto() {
  if (Inicial->IsEmpty()) {
    F1ini->setFocus(Qt::OtherFocusReason);
    throw ECalcError(Ansi("No hay ningún periodo introducido"));
  }
  const QString proposed =
      EditReferencia->text().isEmpty() ? QString() : EditReferencia->text() + QStringLiteral(".txt");
  QString name = tiv::qtui::Dialogs().SaveFileName(this, QStringLiteral("Guardar supuesto C.G.P."), proposed,
                                                   QStringLiteral("Texto (*.txt);;Todo (*)"));
  if (name.isEmpty()) return false;
  if (QFileInfo(name).suffix().isEmpty()) name += QStringLiteral(".txt");

  TCabeceraSupuesto cabecera;
  cabecera.presente = !EDiasTot->text().isEmpty();
  cabecera.diasTot = ToAnsi(EDiasTot->text());
  cabecera.diasNat = ItemDiasNat();
  cabecera.ckTotDias = CKTotDias->isChecked();
  std::vector<TPeriodoSupuesto> periodos;
  {
    const std::string at = Inicial->GetBookmark();
    Inicial->DisableControls();
    const Finally restore([this, &at] {
      try {
        if (!at.empty()) Inicial->GotoBookmark(at);
      } catch (...) {
        // The row is still there: only the grid's position is lost.
      }
      Inicial->EnableControls();
    });
    for (Inicial->First(); !Inicial->Eof(); Inicial->Next())
      periodos.push_back({DayOf(Inicial->FieldByName("desde")), DayOf(Inicial->FieldByName("hasta")),
                          Inicial->FieldByName("coef").AsFloat()});
  }
  const std::string text = EscribirSupuesto(cabecera, periodos);
  Memo1->setPlainText(FromAnsi(text));
  // Written beside the file and renamed over it: a failure leaves the old
  // file whole.
  QSaveFile file(name);
  if (!file.open(QIODevice::WriteOnly) ||
      file.write(text.data(), static_cast<qint64>(text.size())) != static_cast<qint64>(text.size()) || !file.commit())
    throw ECalcError(Ansi("No se ha podido guardar el supuesto en ") + ToAnsi(QDir::toNativeSeparators(name)) + ": " +
                     ToAnsi(file.errorString()));
  EditReferencia->setText(FromAnsi(ReferenciaDe(ToAnsi(name))));
  Modificado = false;
  return true;
}

void TFormMenuPral::BotGuardarClick() { GuardarSupuesto(); }

void TFormMenuPral::BotAbrirClick() {
  if (!OfrecerGuardar(QStringLiteral("¿Quiere guardar el supuesto en curso?"))) return;
  const QString name = tiv::qtui::Dialogs().OpenFileName(this, QStringLiteral("Cargar supuesto C.G.P."), QString(),
                                                         QStringLiteral("Texto (*.txt);;todos (*)"));
  if (name.isEmpty()) return;
  QFile file(name);
  if (!file.open(QIODevice::ReadOnly))
    throw ECalcError(Ansi("No se puede leer el fichero ") + ToAnsi(QDir::toNativeSeparators(name)) + ": " +
                     ToAnsi(file.errorString()));
  const QByteArray bytes = file.read(static_cast<qint64>(kMaxCaseFileBytes) + 1);
  // Read whole and checked before anything on screen changes.
  const TSupuestoLeido leido = LeerSupuesto(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
  BorrarTodo();
  EditReferencia->setText(FromAnsi(ReferenciaDe(ToAnsi(name))));
  if (leido.cabecera.presente) {
    EDiasTot->setText(FromAnsi(leido.cabecera.diasTot));
    SetItemDiasNat(leido.cabecera.diasNat);
    CKTotDias->setChecked(leido.cabecera.ckTotDias);
  }
  for (const TLineaSupuesto& linea : leido.lineas) {
    const std::string numero = std::to_string(linea.numero);
    const auto stop = [&] {
      return ECalcError(Ansi("error en fichero de entrada: línea") + numero + "   " + linea.texto);
    };
    TPeriodoLeido p;
    try {
      p = LeerPeriodo(linea.texto);
    } catch (const EConvertError&) {
      throw stop();
    }
    const TPeriodoSupuesto& v = p.periodo;
    bool valid = true;
    const auto refuse = [&](const std::string& what) {
      tiv::qtui::Dialogs().ShowMessage(this, FromAnsi("Error en linea " + numero + what + linea.texto));
      valid = false;
    };
    if (v.desde > v.hasta || !p.fechasEnRango) refuse(" (fechas): ");
    if (!p.coefLegible || v.coef < 0 || v.coef > 100) refuse(" (porcentaje):  ");
    if (p.coefLegible && LimiteActivo && v.coef < 100 && (v.desde < FechaLimite || v.hasta < FechaLimite))
      refuse("  (fecha con porcentaje anterior a " + DateText(FechaLimite) + "): ");
    if (!valid) continue;
    try {
      Inicial->Insert();
      Inicial->FieldByName("desde").SetValue(DateValue(v.desde));
      Inicial->FieldByName("hasta").SetValue(DateValue(v.hasta));
      Inicial->FieldByName("coef").SetAsFloat(v.coef);
      Inicial->FieldByName("dias").SetAsInteger(static_cast<int64_t>(CalcularDias(v.desde, v.hasta, 100)));
      Inicial->FieldByName("diascoef").SetAsFloat(CalcularDias(v.desde, v.hasta, v.coef));
      Inicial->Post();
    } catch (...) {
      Inicial->Cancel();
      throw stop();
    }
  }
  try {
    BotCalcular->click();
    CKAutomatico->setChecked(true);
  } catch (...) {
    // As with automatic calculation, a failed recalculation is not shown.
  }
  Modificado = false;
}

bool TFormMenuPral::FormClose() { return OfrecerGuardar(QStringLiteral("¿Desea guardar el supuesto?")); }

void TFormMenuPral::closeEvent(QCloseEvent* event) {
  bool mayClose = false;
  if (!RunHandler([&] { mayClose = FormClose(); }) || !mayClose) {
    event->ignore();
    return;
  }
  QWidget::closeEvent(event);
}

// ---- Period generation ---------------------------------------------------------------

void TFormMenuPral::BotCalcularPeriodosClick() {
  Panel5->setVisible(true);
  Panel5->repaint();
  Inicial->DisableControls();
  periodos->DisableControls();
  // Whatever happens below, the screen comes back: the panel hidden, the
  // grids showing again, the second cursor closed.
  const Finally restore([this] {
    Periodos2->Close();
    Query1->Close();
    periodos->EnableControls();
    Inicial->EnableControls();
    Panel5->setVisible(false);
  });
  VaciarTabla(*periodos);
  Periodos2->Open();
  PasoLimites();
  PasoCierre();
  PasoPonderacion();
  if (CKBorVacios->isChecked()) BorrarVacios();
  periodos->First();
}

void TFormMenuPral::CKBorVaciosClick() { BotCalcularPeriodosClick(); }

// Every start of an entered period and every day after an end becomes the
// `desde` of a row (some twice).
void TFormMenuPral::PasoLimites() {
  const auto append = [this](int32_t desde) {
    periodos->Append();
    periodos->FieldByName("desde").SetValue(DateValue(desde));
    periodos->Post();
  };
  const auto exists = [this](int32_t desde) { return periodos->SeekKey({DateValue(desde)}); };
  for (Inicial->First(); !Inicial->Eof(); Inicial->Next()) {
    const int32_t d = DayOf(Inicial->FieldByName("desde"));
    const int32_t h = DayOf(Inicial->FieldByName("hasta"));
    if (!exists(d)) {
      append(d);
      if (d == h && !exists(d + 1)) append(d + 1);
    }
    append(h + 1);
  }
}

// Each row runs to the day before the next row's `desde`. A boundary that
// occurs twice gives its first row the range twice (the second time right)
// and leaves the second row without `hasta`.
void TFormMenuPral::PasoCierre() {
  const int64_t n = periodos->RecordCount();
  periodos->First();
  if (periodos->Eof()) return;
  int32_t c = DayOf(periodos->FieldByName("desde"));
  for (int64_t i = 1; i < n; ++i) {
    periodos->Next();
    const int32_t e = DayOf(periodos->FieldByName("desde")) - 1;
    if (Periodos2->SeekKey({DateValue(c)})) {
      Periodos2->Edit();
      Periodos2->FieldByName("hasta").SetValue(DateValue(e));
      Periodos2->FieldByName("dias").SetAsInteger(static_cast<int64_t>(e) - c + 1);
      Periodos2->Post();
    }
    c = DayOf(periodos->FieldByName("desde"));
  }
  // The day after the latest end opens no period.
  periodos->Last();
  if (!periodos->IsEmpty()) periodos->Delete();
  periodos->First();
  while (!periodos->Eof()) {
    if (periodos->FieldByName("hasta").IsNull())
      periodos->Delete();
    else
      periodos->Next();
  }
}

// The percentage of each row: the entered periods that contain its first
// or its last day (the same ones: every cut is a boundary), summed and
// capped at 100.
void TFormMenuPral::PasoPonderacion() {
  for (periodos->First(); !periodos->Eof(); periodos->Next()) {
    const int32_t p = DayOf(periodos->FieldByName("desde"));
    const int32_t q = DayOf(periodos->FieldByName("hasta"));
    Query1->Close();
    Query1->ClearSQL();
    Query1->AddSQL("Select * from inicial");
    Query1->AddSQL("Where ");
    Query1->AddSQL(" ((desde <= :par1) and (hasta >= :par1)) ");
    Query1->AddSQL(" or ((hasta >= :par2) and (desde <= :par2)) ");
    Query1->ParamNamed("par1").SetValue(DateValue(p));
    Query1->ParamNamed("par2").SetValue(DateValue(q));
    Query1->AddSQL("order by desde");
    Query1->Open();
    // Summed in hundredths, exactly.
    int64_t centesimas = 0;
    for (Query1->First(); !Query1->Eof(); Query1->Next())
      centesimas += std::llround(Query1->FieldByName("coef").AsFloat() * 100);
    Query1->Close();
    const double r = std::min<double>(static_cast<double>(centesimas) / 100, 100);
    const double diascoef = CalcularDias(p, q, r);
    periodos->Edit();
    periodos->FieldByName("porcentaje").SetAsFloat(r);
    periodos->FieldByName("diascoef").SetAsFloat(diascoef);
    periodos->FieldByName("diascotizados")
        .SetAsFloat(CalcularDiasEfectivos(static_cast<double>(periodos->FieldByName("dias").AsInteger()), diascoef));
    periodos->Post();
  }
}

// The gaps between entered periods and the rows left by repeated
// boundaries.
void TFormMenuPral::BorrarVacios() {
  periodos->First();
  while (!periodos->Eof()) {
    if (periodos->FieldByName("porcentaje").AsFloat() == 0 || periodos->FieldByName("dias").AsInteger() == 0)
      periodos->Delete();
    else
      periodos->Next();
  }
}

// ---- Totals and the global coefficient ------------------------------------------------

void TFormMenuPral::BotCalcularTotalesClick() {
  int64_t filas = 0;
  int64_t dias = 0, centesimasCoef = 0, centesimasCotizados = 0;
  double porcentajeUnico = 0;
  {
    periodos->DisableControls();
    const Finally enable([this] { periodos->EnableControls(); });
    for (periodos->First(); !periodos->Eof(); periodos->Next()) {
      ++filas;
      dias += periodos->FieldByName("dias").AsInteger();
      centesimasCoef += std::llround(periodos->FieldByName("diascoef").AsFloat() * 100);
      centesimasCotizados += std::llround(periodos->FieldByName("diascotizados").AsFloat() * 100);
      porcentajeUnico = periodos->FieldByName("porcentaje").AsFloat();
    }
    periodos->First();
  }
  LNumLin->setText(QString::number(filas));
  double sd = static_cast<double>(dias);
  double sc = static_cast<double>(centesimasCoef / 100);
  const double st = static_cast<double>(centesimasCotizados / 100);
  LTotDiasNat->setText(FromAnsi(FormatoNumero("####0", sd)));
  LTotDiasCoef->setText(FromAnsi(FormatoNumero("####0.##", sc)));
  LTotDiasCotizados->setText(FromAnsi(FormatoNumero("####0.##", st)));

  // The report's total days against the computed ones.
  const auto diferencia = [this] {
    const double total = ReadNumber(ToAnsi(EDiasTot->text()));
    const QLabel* base = ItemDiasNat() == 0 ? LTotDiasNat : LTotDiasCoef;
    return total - ReadNumber(ToAnsi(base->text()));
  };
  bool anadidos = false;
  if (CKTotDias->isChecked()) {
    const double d = diferencia();
    LFaltan->setText(FromAnsi(TextoNumero(d)));
    if (d >= 0) {
      // Equal totals are no error: nothing to add.
      L100->setText(QStringLiteral("Días al 100% "));
      sd += d;
      sc += d;
      anadidos = d > 0;
    } else {
      L100->setText(FromAnsi(Ansi("Error: Días totales inf. ") + TextoNumero(-d) + " suma cotizaciones"));
      LFaltan->clear();
    }
  } else {
    try {
      const double d = diferencia();
      L100->setText(QStringLiteral("Faltan: "));
      LFaltan->setText(FromAnsi(TextoNumero(d)));
    } catch (const EConvertError&) {
      // No report total: nothing to compare.
    }
  }

  // One period shows its own percentage, unless report days were added to
  // it: then it is one of two parts like any other sum.
  if (filas == 0 || sd == 0) {
    LCoeficiente->clear();
    LPorcent->clear();
  } else {
    const double coeficiente = filas == 1 && !anadidos ? porcentajeUnico : sc * 100 / sd;
    LCoeficiente->setText(FromAnsi(FormatoNumero("####0.00", coeficiente)));
    LPorcent->setText(QStringLiteral("%"));
  }
  try {
    EdiasChange();
  } catch (...) {
    // The qualifying period is recomputed when it can be.
  }
}

void TFormMenuPral::BotCalcularClick() {
  if (Inicial->IsEmpty()) return;
  try {
    BotCalcularPeriodosClick();
    BotCalcularTotalesClick();
  } catch (...) {
    // As with automatic calculation.
  }
}

void TFormMenuPral::EDiasTotChange() {
  const auto sinOpciones = [this] {
    CKDiasNat->setVisible(false);
    CKTotDias->setVisible(false);
    L100->clear();
    LFaltan->clear();
  };
  if (EDiasTot->text().isEmpty()) {
    sinOpciones();
    // Without a total nothing can be added at 100 %.
    CKTotDias->setChecked(false);
    return;
  }
  int32_t total = 0;
  try {
    total = ReadInteger(ToAnsi(EDiasTot->text()));
  } catch (const EConvertError&) {
    EDiasTot->setFocus(Qt::OtherFocusReason);
    EDiasTot->setText(QStringLiteral("0"));
    EDiasTot->selectAll();
    sinOpciones();
    throw ECalcError(Ansi("Núm de días erróneo"));
  }
  CKDiasNat->setVisible(total > 0);
  CKTotDias->setVisible(total > 0);
  try {
    BotCalcularTotalesClick();
  } catch (...) {
    // Ignored: the totals are recomputed at the next change.
  }
}

void TFormMenuPral::EDiasTotExit() {
  try {
    BotCalcularTotalesClick();
  } catch (...) {
    // Ignored: the totals are recomputed at the next change.
  }
}

void TFormMenuPral::CKTotDiasClick() {
  if (CKTotDias->isChecked()) {
    CKDiasNat->setEnabled(true);
    try {
      ReadNumber(ToAnsi(EDiasTot->text()));
    } catch (const EConvertError&) {
      EDiasTot->setFocus(Qt::OtherFocusReason);
      throw ECalcError(Ansi("Introduzca el total de dias cotizados"));
    }
  }
  BotCalcularTotalesClick();
}

void TFormMenuPral::CKDiasNatClick() { BotCalcularTotalesClick(); }

// ---- Reference list, about box, printing -------------------------------------------

void TFormMenuPral::SpeedButton1Click() {
  int64_t dias = 0;
  std::string descripcion;
  {
    TFormDiasCarencia dialog(this);
    dialog.exec();
    dias = dialog.DiasElegidos;
    descripcion = dialog.DescripcionElegida;
  }
  Edias->setFocus(Qt::OtherFocusReason);
  try {
    Edias->setText(QString::number(dias));
    // As typing would; the window may not have its focus back yet from the
    // dialog, so the change handler cannot tell.
    DiasAAnyosMeses();
    LCarencia->setText(FromAnsi(descripcion));
  } catch (...) {
    for (QLineEdit* e : {Edias, EAnys, EMeses}) e->setText(QStringLiteral("0"));
    LCarencia->clear();
  }
}

void TFormMenuPral::Acercade1Click() {
  TFormAcercade dialog(this);
  dialog.VersionProg->setText(QString::fromLatin1(kVersionTivoran));
  dialog.Fecha->setText(QString::fromLatin1(kFechaCompilacion));
  dialog.exec();
}

void TFormMenuPral::ImprimirPantalla(QPrinter& printer) {
  const QPixmap image = grab();
  QPainter painter;
  if (!painter.begin(&printer)) throw ECalcError(Ansi("No se ha podido imprimir la pantalla"));
  const QRect page = painter.viewport();
  QSize size = image.size();
  size.scale(page.size(), Qt::KeepAspectRatio);
  painter.setViewport(page.x(), page.y(), size.width(), size.height());
  painter.setWindow(image.rect());
  painter.drawPixmap(0, 0, image);
  if (!painter.end()) throw ECalcError(Ansi("No se ha podido imprimir la pantalla"));
}

void TFormMenuPral::BoptImprimirClick() {
  const QPrinterInfo defaultPrinter = QPrinterInfo::defaultPrinter();
  if (!defaultPrinter.isNull()) {
    QPrinter printer(defaultPrinter, QPrinter::HighResolution);
    ImprimirPantalla(printer);
    return;
  }
  if (!tiv::qtui::Dialogs().Confirm(
          this, QStringLiteral("No hay ninguna impresora instalada. ¿Quiere guardar la pantalla en un fichero PDF?")))
    return;
  const QString proposed =
      (EditReferencia->text().isEmpty() ? QStringLiteral("Tivoran") : EditReferencia->text()) + QStringLiteral(".pdf");
  QString name = tiv::qtui::Dialogs().SaveFileName(this, QStringLiteral("Guardar la pantalla en PDF"), proposed,
                                                   QStringLiteral("PDF (*.pdf)"));
  if (name.isEmpty()) return;
  if (QFileInfo(name).suffix().isEmpty()) name += QStringLiteral(".pdf");
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(name);
  ImprimirPantalla(printer);
  if (!QFileInfo(name).isFile())
    throw ECalcError(Ansi("No se ha podido guardar la pantalla en ") + ToAnsi(QDir::toNativeSeparators(name)));
}

// ---- Qualifying period -------------------------------------------------------------

void TFormMenuPral::EdiasChange() {
  LCarencia->clear();
  if (Edias->hasFocus()) {
    if (Edias->text().isEmpty()) {
      // The change this makes runs this handler again, whole.
      Edias->setText(QStringLiteral("0"));
      Edias->selectAll();
      return;
    }
    DiasAAnyosMeses();
  }
  CalculoFin();
}

void TFormMenuPral::DiasAAnyosMeses() {
  double v = 0;
  try {
    v = ReadNumber(ToAnsi(Edias->text()));
  } catch (const EConvertError&) {
    Edias->setFocus(Qt::OtherFocusReason);
    throw ECalcError(Ansi("núm. días inválido"));
  }
  const YearsMonths ym = YearsMonthsOfDays(v);
  EAnys->setText(FromAnsi(TextoNumero(ym.years)));
  EMeses->setText(FromAnsi(TextoNumero(ym.months)));
}

void TFormMenuPral::EAnysChange() {
  if (EAnys->text().isEmpty()) EAnys->setText(QStringLiteral("0"));
  if (EMeses->text().isEmpty()) EMeses->setText(QStringLiteral("0"));
  if (EMeses->hasFocus() && ValorNumerico(ToAnsi(EMeses->text())) > 11) {
    EMeses->setText(QStringLiteral("0"));
    EMeses->selectAll();
    EMeses->setFocus(Qt::OtherFocusReason);
    throw ECalcError(Ansi("Núm. meses erróneo"));
  }
  if (!EAnys->hasFocus() && !EMeses->hasFocus()) return;
  try {
    const double dias = CalcularDiasAAMM(ValorNumerico(ToAnsi(EAnys->text())), ValorNumerico(ToAnsi(EMeses->text())));
    Edias->setText(FromAnsi(FormatoNumero("####", dias)));
  } catch (...) {
    // The day count stays as it was.
  }
}

void TFormMenuPral::CalculoFin() {
  try {
    const double dias = ValorNumerico(ToAnsi(Edias->text()));
    const double coef = ValorNumerico(ToAnsi(LCoeficiente->text()));
    const double final = ProporcionTruncada(coef, dias);
    LFinal->setText(FromAnsi(FormatoNumero("####", final)));
    const YearsMonths ym = YearsMonthsOfDays(final);
    LFinalAny->setText(FromAnsi(FormatoNumero("###", ym.years)));
    LFinalMes->setText(FromAnsi(FormatoNumero("###", ym.months)));
    SetTextColor(LFinal, Qt::black);
    const bool covered = ValorNumerico(ToAnsi(LTotDiasCoef->text())) >= ValorNumerico(ToAnsi(LFinal->text()));
    SetTextColor(LFinal, covered ? QColor(0, 128, 0) : QColor(255, 0, 0));
  } catch (...) {
    // The result stays as it was.
  }
}

// ---- Date fields -----------------------------------------------------------

int32_t TFormMenuPral::CheckDateField(MaskedDateEdit* field, QWidget* focusOnBadText, const char* badTextMessage,
                                      const char* badYearMessage) {
  int32_t day = 0;
  try {
    day = ReadDate(ToAnsi(field->text()));
  } catch (const EConvertError&) {
    focusOnBadText->setFocus(Qt::OtherFocusReason);
    throw ECalcError(Ansi(badTextMessage));
  }
  const int year = DateOfDayNumber(day).year;
  if (year < 1900 || year > 2100) {
    field->setFocus(Qt::OtherFocusReason);
    throw ECalcError(Ansi(badYearMessage));
  }
  field->setText(FromAnsi(DateText(day)));
  return day;
}

void TFormMenuPral::F1iniExit() {
  if (F1ini->IsEmpty()) return;
  CheckDateField(F1ini, F1ini, "Fecha inicial incorrecta", "Fecha inicial incorrecta");
}

void TFormMenuPral::F1finExit() {
  if (F1fin->IsEmpty()) return;
  const int32_t hasta = CheckDateField(F1fin, F1fin, "Fecha hasta incorrecta", "Fecha final incorrecta");
  const int32_t desde = ReadDate(ToAnsi(F1ini->text()));
  if (desde > hasta) {
    F1ini->setFocus(Qt::OtherFocusReason);
    throw ECalcError(Ansi("Fecha inicial mayor que la final"));
  }
  diasnat->setText(FromAnsi(FormatoNumero("#####0", CalcularDias(desde, hasta, 100))));
}

void TFormMenuPral::F1iniKeyPress(QChar& key) {
  if (key == u'\r' && !F1ini->IsEmpty()) SiguienteControl(F1ini);
}

void TFormMenuPral::F1finKeyPress(QChar& key) {
  if (key == u'\r' && !F1fin->IsEmpty()) SiguienteControl(F1fin);
}

// ---- Coefficient entry -----------------------------------------------------

void TFormMenuPral::Coef1Change() {
  try {
    const double days = ReadNumber(ToAnsi(diasnat->text()));
    const double percent = ValorNumerico(ToAnsi(Coef1->text()));
    diascoef->setText(FromAnsi(FormatoNumero("####0.##", RedondeoCoef(TipoRedondeo, days, percent))));
  } catch (...) {
    // An empty or unreadable day count leaves the weighted days as they are.
  }
}

void TFormMenuPral::Coef1Enter() { SelectAllLater(Coef1); }

void TFormMenuPral::Coef1Exit() {
  const auto refuse = [this](const char* message) {
    Coef1->setText(QStringLiteral("100"));
    Coef1->setFocus(Qt::OtherFocusReason);
    throw ECalcError(Ansi(message));
  };
  double v = 0;
  try {
    const std::string typed = ToAnsi(Coef1->text());
    const std::string normal = NormalizarCoef(typed);
    if (normal != typed) Coef1->setText(FromAnsi(normal));
    v = ReadNumber(normal);
  } catch (const EConvertError&) {
    refuse("Coeficiente inválido");
  }
  if (v > 0 && v <= 999) {
    if (diasnat->text().isEmpty()) return;
    Coef1Change();
    return;
  }
  refuse("Sólo admite de 1 a 100");
}

void TFormMenuPral::Coef1KeyPress(QChar& key) {
  if (key == u'\r')
    SiguienteControl(Coef1);
  else if (key == u'.')
    key = u',';
}

// ---- Other edits of the top band ---------------------------------------------

void TFormMenuPral::EdiasEnter() { SelectAllLater(Edias); }
void TFormMenuPral::EAnysEnter() { SelectAllLater(EAnys); }
void TFormMenuPral::EMesesEnter() { SelectAllLater(EMeses); }
void TFormMenuPral::EDiasTotEnter() { SelectAllLater(EDiasTot); }

void TFormMenuPral::EDiasTotKeyPress(QChar& key) {
  if (key == u'\r')
    SiguienteControl(EDiasTot);
  else if (key == u'.' || key == u',')
    key = QChar();
}

void TFormMenuPral::EdiasKeyPress(QChar& key) {
  if (key == u'\r') SiguienteControl(Edias);
}

void TFormMenuPral::EAnysKeyPress(QChar& key) {
  if (key == u'\r' || key == u'.') {
    key = QChar();
    SiguienteControl(EAnys);
  }
}

void TFormMenuPral::EMesesKeyPress(QChar& key) {
  if (key == u'\r') SiguienteControl(EMeses);
}

// ---- Day arithmetic with the window's rounding mode --------------------------

double TFormMenuPral::CalcularDias(int32_t desde, int32_t hasta, double coef) const {
  return ::CalcularDias(desde, hasta, coef, TipoRedondeo);
}

double TFormMenuPral::RedondeoCoef(int tipoRedondeo, double dias, double coef) const {
  return ::RedondeoCoef(tipoRedondeo, dias, coef);
}

double TFormMenuPral::CalcularDiasEfectivos(double dias, double diasCoef) const {
  return ::CalcularDiasEfectivos(dias, diasCoef);
}

double TFormMenuPral::CalcularDiasAAMM(double anys, double meses) const { return ::CalcularDiasAAMM(anys, meses); }
