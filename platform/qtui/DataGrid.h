// DataGrid: the data-aware grid, a read-only QTableView over a dataset
// through a DataGridModel (a QAbstractTableModel kept by a data link).
//
// Contract
//  1. Columns: the ones set with SetColumns (field name, title, width in
//     pixels; 0 keeps the view's width), else every visible field of the
//     dataset with its label. Set columns show, without rows, also while
//     the dataset is closed; on an open one a column whose field the
//     dataset lacks is left out. Titles and cells are the fields' display
//     texts, converted from Windows-1252 at this boundary.
//  2. Rows are the dataset's records in its order, reread whenever the
//     dataset opens, closes or changes (a post, a delete, a refresh); a
//     change made while the dataset's controls are disabled shows when
//     they are enabled again. While a record is being edited the rows stay
//     as they were.
//  3. The current row follows the dataset's current record; a row the
//     user selects becomes the dataset's current record (posting a pending
//     change first, as any move does). A double click anywhere in the grid
//     makes the row under it current, then emits doubleClicked (with an
//     invalid index off the rows, on an empty grid too).
//  4. The grid never edits in place.
//
// Thread use: GUI thread only.
#pragma once

#include <QAbstractTableModel>
#include <QTableView>
#include <string>
#include <vector>

#include "dataset/Dataset.h"

namespace tiv::qtui {

struct DataGridColumn {
  std::string fieldName;
  QString title;  // empty: the field's label
  int width = 0;
};

class DataGridModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit DataGridModel(QObject* parent = nullptr);
  ~DataGridModel() override;

  void SetDataSource(tiv::dataset::DataSource* source);
  void SetColumns(std::vector<DataGridColumn> columns);
  const std::vector<DataGridColumn>& Columns() const { return shown_; }
  // The row of the dataset's current record, or -1.
  int CurrentRow() const { return currentRow_; }
  // Makes the record of `row` the dataset's current one.
  void MoveTo(int row);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 Q_SIGNALS:
  void currentRowChanged(int row);

 private:
  class Link;
  void Reload();
  void FollowCurrent();
  tiv::dataset::DataSet* Data() const;

  std::unique_ptr<Link> link_;
  std::vector<DataGridColumn> wanted_;  // as set
  std::vector<DataGridColumn> shown_;   // resolved against the fields
  std::vector<int> fieldIndexes_;
  std::vector<tiv::dataset::Record> rows_;
  int currentRow_ = -1;
};

class DataGrid : public QTableView {
  Q_OBJECT

 public:
  explicit DataGrid(QWidget* parent = nullptr);

  void SetDataSource(tiv::dataset::DataSource* source) { model_->SetDataSource(source); }
  void SetColumns(std::vector<DataGridColumn> columns);
  DataGridModel& Model() { return *model_; }

 protected:
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  void ApplyWidths();
  void SelectCurrent(int row);

  DataGridModel* model_;
  bool following_ = false;
};

}  // namespace tiv::qtui
