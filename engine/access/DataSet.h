// DataSet: TABSDataSet, the engine side of the generic dataset
// (dataset/DataSet.h) shared by the table and query components: the
// database it references, the engine cursor, the exchange of record values
// between the cursor and the framework, filters, and the result codes of
// record writes.
//
// Contract
//  1. The database is found through the dataset's session by DatabaseName
//     ("DatabaseName property is blank" when empty; Database.h contract 3)
//     and referenced while any reason holds: the dataset is open, or a
//     table operation runs. The reference is released on every path,
//     failures included.
//  2. "MEMORY" (any case) makes the dataset in-memory; InMemory sets it.
//  3. Values: each field's value is read through the cursor and handed to
//     the framework in its kind (FieldValue.h); text goes through the
//     engine's conversions with the current locale (dates dd/mm/yyyy,
//     the locale's decimal separator), so what a grid shows and what an
//     edit parses agree with the engine.
//  4. A record write the cursor reports with a code other than 0 raises
//     EABSEngineError with it; the dataset stays in its edit or insert
//     state with the buffer intact.
//  5. Post outside edit or insert, or on a read-only dataset, raises the
//     engine's "Dataset is not in insert or edit mode" (10030) and "Dataset
//     is in read only mode" (10032).
//  6. Filter, when Filtered, is the cursor's filter expression; and
//     OnFilterRecord, when Filtered, is asked about every record the
//     cursor reaches, the fields reading that record meanwhile.
//  7. CreateBlobStream gives the value of a BLOB field of the active record
//     as a stream: for reading, or, in edit or insert mode, for writing;
//     what was written becomes the field's value when the stream goes.
//
// Thread use: the GUI thread.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "access/Database.h"
#include "dataset/Dataset.h"

class TABSDataSet : public tiv::dataset::DataSet {
 public:
  static constexpr const char* kCurrentVersion = TABSDatabase::kCurrentVersion;

  explicit TABSDataSet(std::string name = {});
  ~TABSDataSet() override;

  const std::string& DatabaseName() const { return databaseName_; }
  void SetDatabaseName(const std::string& name);
  const std::string& SessionName() const { return sessionName_; }
  void SetSessionName(const std::string& name);
  bool InMemory() const;
  void SetInMemory(bool inMemory);

  // Contract 6.
  const std::string& Filter() const { return filter_; }
  void SetFilter(const std::string& text);
  bool Filtered() const { return filtered_; }
  void SetFiltered(bool filtered);
  bool FilterCaseInsensitive = false;
  bool FilterPartial = false;
  std::function<bool(TABSDataSet&)> OnFilterRecord;
  // Contract 7.
  std::unique_ptr<TABSStream> CreateBlobStream(tiv::dataset::Field& field, bool forWriting);

  // The database referenced while open, or null.
  TABSDatabase* Database() const { return database_; }
  // The cursor of an open dataset ("Dataset is not opened", 10029).
  TABSLocalCursor& Cursor();

  std::string FormatValue(const tiv::dataset::Field& field, const tiv::dataset::FieldValue& value,
                          bool display) const override;
  tiv::dataset::FieldValue ParseText(const tiv::dataset::Field& field, const std::string& text) const override;

 protected:
  enum Reason : unsigned { kReasonOpen = 1, kReasonTableOperation = 2 };
  // Contract 1.
  TABSDatabase& Reference(Reason reason);
  void Unreference(Reason reason) noexcept;
  // The database referenced for one table operation, released when the
  // object goes, whichever way the operation ends.
  struct OperationReference {
    explicit OperationReference(TABSDataSet& d) : dataSet(d), database(d.Reference(kReasonTableOperation)) {}
    ~OperationReference() { dataSet.Unreference(kReasonTableOperation); }
    OperationReference(const OperationReference&) = delete;
    OperationReference& operator=(const OperationReference&) = delete;
    TABSDataSet& dataSet;
    TABSDatabase& database;
  };
  // The concrete component makes and opens its cursor on the referenced
  // database's engine session.
  virtual std::unique_ptr<TABSLocalCursor> OpenCursor(TABSDatabase& database) = 0;
  void CheckResult(int32_t code) const;
  void ApplyFilter();
  // The cursor's filter as Filter, Filtered and OnFilterRecord say.
  void SetCursorFilter();

  void InternalOpen() override;
  void InternalClose() noexcept override;
  void InternalFirst() override;
  void InternalLast() override;
  tiv::dataset::FetchResult InternalFetch(tiv::dataset::FetchMode mode, tiv::dataset::Record& into) override;
  void InternalInitRecord(tiv::dataset::Record& record) override;
  void InternalEdit() override;
  void InternalPost(const tiv::dataset::Record& record, bool insert) override;
  void InternalCancel() noexcept override;
  void InternalDelete() override;
  bool InternalGotoBookmark(const std::string& bookmark) override;
  int64_t InternalRecordCount() override;

  std::unique_ptr<TABSLocalCursor> cursor_;

 private:
  void ReadRecord(tiv::dataset::Record& into);

  std::string databaseName_, sessionName_;
  std::string filter_;
  bool filtered_ = false;
  TABSDatabase* database_ = nullptr;
  unsigned reasons_ = 0;
};

// The conversions of contract 3, for the components and their tests.
tiv::dataset::FieldValue FieldValueOf(const TABSVariant& value);
// A fresh variant holding `value` (NULL for a NULL value).
TABSVariant VariantOf(const tiv::dataset::FieldValue& value);
tiv::dataset::FieldType FieldTypeOf(TABSDataType type);
// The engine type a framework field type is stored as (its inverse).
TABSDataType DataTypeOf(tiv::dataset::FieldType type);
