#include "qtui/DataGrid.h"

#include <QHeaderView>
#include <QMouseEvent>

#include "locale/CodePage.h"

namespace tiv::qtui {

namespace {

QString FromAnsi(const std::string& text) { return QString::fromStdU16String(tiv::locale::Win1252ToUtf16(text)); }

}  // namespace

class DataGridModel::Link : public tiv::dataset::DataLink {
 public:
  explicit Link(DataGridModel& model) : model_(&model) {}
  void ActiveChanged() override {
    if (model_) model_->Reload();
  }
  void DataSetChanged() override {
    if (model_) model_->Reload();
  }
  void DataSetScrolled() override {
    if (model_) model_->FollowCurrent();
  }
  // The model is going: the detach that follows must not reach it.
  void Mute() { model_ = nullptr; }

 private:
  DataGridModel* model_;
};

DataGridModel::DataGridModel(QObject* parent) : QAbstractTableModel(parent), link_(std::make_unique<Link>(*this)) {}

DataGridModel::~DataGridModel() {
  link_->Mute();
  link_->SetDataSource(nullptr);
}

tiv::dataset::DataSet* DataGridModel::Data() const { return link_->Data(); }

void DataGridModel::SetDataSource(tiv::dataset::DataSource* source) {
  link_->SetDataSource(source);
  Reload();
}

void DataGridModel::SetColumns(std::vector<DataGridColumn> columns) {
  wanted_ = std::move(columns);
  Reload();
}

void DataGridModel::Reload() {
  tiv::dataset::DataSet* d = Data();
  std::vector<tiv::dataset::Record> rows;
  // Contract 2: while a record is being changed the rows stay.
  if (d && d->Active() && !d->ReadAll(rows)) {
    FollowCurrent();
    return;
  }
  beginResetModel();
  rows_ = std::move(rows);
  shown_.clear();
  fieldIndexes_.clear();
  if (d && d->Active()) {
    if (wanted_.empty()) {
      for (int i = 0; i < d->FieldCount(); ++i)
        if (d->FieldAt(i).Visible) {
          shown_.push_back({d->FieldAt(i).FieldName(), {}, 0});
          fieldIndexes_.push_back(i);
        }
    } else {
      for (const DataGridColumn& c : wanted_)
        if (tiv::dataset::Field* f = d->FindField(c.fieldName)) {
          shown_.push_back(c);
          fieldIndexes_.push_back(f->Index());
        }
    }
    for (size_t i = 0; i < shown_.size(); ++i)
      if (shown_[i].title.isEmpty()) shown_[i].title = FromAnsi(d->FieldAt(fieldIndexes_[i]).Label());
  } else {
    // A closed dataset shows the set columns without rows.
    for (DataGridColumn c : wanted_) {
      if (c.title.isEmpty()) c.title = FromAnsi(c.fieldName);
      shown_.push_back(c);
    }
  }
  endResetModel();
  currentRow_ = -2;
  FollowCurrent();
}

void DataGridModel::FollowCurrent() {
  tiv::dataset::DataSet* d = Data();
  const int row = d && d->Active() ? static_cast<int>(d->CurrentIndexIn(rows_)) : -1;
  if (row == currentRow_) return;
  currentRow_ = row;
  Q_EMIT currentRowChanged(row);
}

void DataGridModel::MoveTo(int row) {
  tiv::dataset::DataSet* d = Data();
  if (!d || !d->Active() || row < 0 || row >= static_cast<int>(rows_.size()) || row == currentRow_) return;
  d->GotoBookmark(rows_[static_cast<size_t>(row)].bookmark);
}

int DataGridModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int DataGridModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(shown_.size());
}

QVariant DataGridModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid() || index.row() >= static_cast<int>(rows_.size()) ||
      index.column() >= static_cast<int>(shown_.size()))
    return {};
  tiv::dataset::DataSet* d = Data();
  if (!d || !d->Active()) return {};
  const int field = fieldIndexes_[static_cast<size_t>(index.column())];
  const tiv::dataset::FieldValue& v = rows_[static_cast<size_t>(index.row())].values[static_cast<size_t>(field)];
  return v.IsNull() ? QString() : FromAnsi(d->FormatValue(d->FieldAt(field), v, true));
}

QVariant DataGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Vertical) return {};
  if (section < 0 || section >= static_cast<int>(shown_.size())) return {};
  return shown_[static_cast<size_t>(section)].title;
}

// ---- the view ----------------------------------------------------------------

DataGrid::DataGrid(QWidget* parent) : QTableView(parent), model_(new DataGridModel(this)) {
  setModel(model_);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  verticalHeader()->setVisible(false);
  connect(model_, &DataGridModel::modelReset, this, [this] { ApplyWidths(); });
  connect(model_, &DataGridModel::currentRowChanged, this, [this](int row) { SelectCurrent(row); });
  connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current, const QModelIndex&) {
            if (!following_ && current.isValid()) model_->MoveTo(current.row());
          });
}

void DataGrid::SetColumns(std::vector<DataGridColumn> columns) { model_->SetColumns(std::move(columns)); }

// Not the view's own: that one emits only when the press and the double
// click hit the same item, which a press that moves the dataset (and so
// rereads the rows) defeats; and it is silent off the rows.
void DataGrid::mouseDoubleClickEvent(QMouseEvent* event) {
  const QModelIndex index = indexAt(event->position().toPoint());
  if (index.isValid()) model_->MoveTo(index.row());
  Q_EMIT doubleClicked(index);
}

void DataGrid::ApplyWidths() {
  const std::vector<DataGridColumn>& columns = model_->Columns();
  for (size_t i = 0; i < columns.size(); ++i)
    if (columns[i].width > 0) setColumnWidth(static_cast<int>(i), columns[i].width);
}

void DataGrid::SelectCurrent(int row) {
  following_ = true;
  if (row >= 0)
    selectionModel()->setCurrentIndex(model_->index(row, 0),
                                      QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  else
    selectionModel()->clear();
  following_ = false;
}

}  // namespace tiv::qtui
