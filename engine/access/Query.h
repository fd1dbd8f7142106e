// Query: TABSQuery, the component that runs SQL text against a database
// and, when the text returns rows, presents the result as a dataset like a
// table: navigation, field access and, for a live result, editing.
//
// Contract
//  1. SQL is a list of lines; the text is the lines each followed by CR LF.
//     Changing it closes the query (which unprepares it) and, with
//     ParamCheck, rebuilds Params: one entry per ":name" outside quoted
//     text, in order of first appearance, keeping the value of an old entry
//     of the same name, so values set before a change survive it.
//  2. ParamNamed (and ParamByName) finds an entry ignoring case, else
//     raises the framework's "Parámetro '%s' no encontrado". Setting a
//     value marks the entry bound.
//  3. Open: no line raises 20034 "No SQL statement available"; a text
//     shorter than 2 characters 30142; every open lexes, parses and runs
//     the text anew with the parameters' current values. The result is the
//     processor's cursor, owned by the dataset until it closes; a result
//     the processor calls read-only makes the dataset read-only while
//     open. A failure leaves the query closed and unprepared, with no
//     table open and no lock held.
//  4. Close closes the dataset and unprepares: the processor and the
//     statement go; RowsAffected keeps the last count (-1 before any
//     execution).
//  5. ExecSQL runs the text on a closed query for its effect; a result it
//     makes is freed at once.
//  6. Prepare on an open query raises 30141.
//  7. DataSource: a master dataset. Before each run every parameter the
//     caller did not bind takes the value of the master's field of the
//     same name, when the master is open and has one; when the master
//     opens, scrolls or changes (not while it edits) an open query is
//     closed and opened again with those values. A chain of sources that
//     comes back to the query is refused ("Circular datalinks are not
//     allowed").
//
// Thread use: the GUI thread.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "access/DataSet.h"

class TABSSQLProcessor;
class TABSSelectExecution;

struct TABSQueryParam {
  std::string name;
  tiv::dataset::FieldValue value;
  bool bound = false;

  void SetValue(tiv::dataset::FieldValue v) {
    value = std::move(v);
    bound = true;
  }
  void Clear() {
    value = tiv::dataset::FieldValue::Null();
    bound = true;
  }
};

class TABSQuery : public TABSDataSet {
 public:
  explicit TABSQuery(std::string name = {});
  ~TABSQuery() override;

  // Contract 1.
  const std::vector<std::string>& SQL() const { return sql_; }
  void SetSQL(std::vector<std::string> lines);
  void ClearSQL() { SetSQL({}); }
  void AddSQL(const std::string& line);
  std::string SQLText() const;
  bool ParamCheck = true;
  bool RequestLive = false;

  // Contract 2.
  std::vector<TABSQueryParam>& Params() { return params_; }
  TABSQueryParam& ParamNamed(const std::string& name);
  TABSQueryParam& ParamByName(const std::string& name) { return ParamNamed(name); }

  // Contract 7.
  void SetDataSource(tiv::dataset::DataSource* master);
  tiv::dataset::DataSource* DataSource() const;

  // Contracts 4 to 6.
  void Prepare();
  void Unprepare() noexcept;
  bool Prepared() const { return processor_ != nullptr; }
  void ExecSQL();
  void ExecuteStatement() { ExecSQL(); }
  int64_t RowsAffected() const { return rowsAffected_; }
  int64_t AffectedRowCount() const { return rowsAffected_; }

 protected:
  std::unique_ptr<TABSLocalCursor> OpenCursor(TABSDatabase& database) override;
  void InternalClose() noexcept override;

 private:
  class MasterLink;
  void RebuildParams();
  // Runs the text with the current parameters on the database's session.
  void Run(TABSDatabase& database);

  std::vector<std::string> sql_;
  std::vector<TABSQueryParam> params_;
  std::unique_ptr<MasterLink> masterLink_;
  std::unique_ptr<TABSSelectExecution> executor_;
  std::unique_ptr<TABSSQLProcessor> processor_;
  int64_t rowsAffected_ = -1;
  bool userReadOnly_ = false;
  bool readOnlyRaised_ = false;
};
