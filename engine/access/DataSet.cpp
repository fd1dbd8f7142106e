#include "access/DataSet.h"

#include "access/EngineError.h"
#include "core/ZUDExcept.h"
#include "core/ZUDMetaObjectDef.h"

using tiv::dataset::FetchMode;
using tiv::dataset::FetchResult;
using tiv::dataset::FieldType;
using tiv::dataset::FieldValue;
using tiv::dataset::Record;
using tiv::dataset::ValueKind;

// ---- values (contract 3) --------------------------------------------------------

FieldValue FieldValueOf(const TABSVariant& v) {
  if (v.IsNull()) return FieldValue::Null();
  if (IsIntegerStorage(v.StorageType())) return FieldValue::Integer(v.AsLargeint());
  if (IsFloatStorage(v.StorageType())) return FieldValue::Float(v.AsDouble());
  switch (v.StorageType()) {
    case bftLogical: return FieldValue::Boolean(v.AsLogical());
    case bftDate: return FieldValue::Date(v.AsDate());
    case bftTime: return FieldValue::Time(v.AsTime());
    case bftDateTime: {
      const TABSDateTimePair p = v.AsDateTime();
      return FieldValue::DateTime(p.date, p.time);
    }
    case bftBlob:
    case bftBytes:
    case bftVarBytes:
      return FieldValue::Bytes(
          std::string(v.Buffer() ? v.Buffer() : "", static_cast<size_t>(std::max(v.ValueSize(), 0))));
    default: return FieldValue::Text(v.AsString());
  }
}

TABSVariant VariantOf(const FieldValue& value) {
  TABSVariant v;
  switch (value.kind) {
    case ValueKind::Null: v.SetNull(); break;
    case ValueKind::Integer: v.SetAsLargeint(value.i); break;
    case ValueKind::Float: v.SetAsDouble(value.f); break;
    case ValueKind::Boolean: v.SetAsLogical(value.i != 0); break;
    case ValueKind::Text: v.SetAsString(value.s); break;
    // Raw bytes may hold zeros: never through a zero-terminated string.
    case ValueKind::Bytes: v.SetBuffer(value.s.data(), static_cast<int32_t>(value.s.size()), true, bftBlob); break;
    case ValueKind::Date: v.SetAsDate(static_cast<int32_t>(value.i)); break;
    case ValueKind::Time: v.SetAsTime(static_cast<int32_t>(value.i)); break;
    case ValueKind::DateTime: v.SetAsDateTime({static_cast<int32_t>(value.i), static_cast<int32_t>(value.ms)}); break;
  }
  return v;
}

FieldType FieldTypeOf(TABSDataType type) {
  switch (type) {
    case aftChar:
    case aftString: return FieldType::String;
    case aftWideChar:
    case aftWideString: return FieldType::WideString;
    case aftShortint:
    case aftSmallint:
    case aftByte: return FieldType::Smallint;
    case aftWord: return FieldType::Word;
    case aftInteger:
    case aftCardinal: return FieldType::Integer;
    case aftLargeint: return FieldType::Largeint;
    case aftAutoInc:
    case aftAutoIncShortint:
    case aftAutoIncSmallint:
    case aftAutoIncInteger:
    case aftAutoIncLargeint:
    case aftAutoIncByte:
    case aftAutoIncWord:
    case aftAutoIncCardinal: return FieldType::AutoInc;
    case aftSingle:
    case aftDouble:
    case aftExtended: return FieldType::Float;
    case aftCurrency: return FieldType::Currency;
    case aftLogical: return FieldType::Boolean;
    case aftDate: return FieldType::Date;
    case aftTime: return FieldType::Time;
    case aftDateTime:
    case aftTimeStamp: return FieldType::DateTime;
    case aftBytes:
    case aftVarBytes: return FieldType::Bytes;
    case aftMemo:
    case aftFormattedMemo:
    case aftWideMemo: return FieldType::Memo;
    case aftBlob:
    case aftGraphic: return FieldType::Blob;
    case aftGuid: return FieldType::Guid;
    default: return FieldType::Unknown;
  }
}

TABSDataType DataTypeOf(FieldType type) {
  switch (type) {
    case FieldType::String: return aftString;
    case FieldType::WideString: return aftWideString;
    case FieldType::Smallint: return aftSmallint;
    case FieldType::Word: return aftWord;
    case FieldType::Integer: return aftInteger;
    case FieldType::Largeint: return aftLargeint;
    case FieldType::AutoInc: return aftAutoInc;
    case FieldType::Boolean: return aftLogical;
    case FieldType::Float: return aftDouble;
    case FieldType::Currency: return aftCurrency;
    case FieldType::Date: return aftDate;
    case FieldType::Time: return aftTime;
    case FieldType::DateTime: return aftDateTime;
    case FieldType::Memo: return aftMemo;
    case FieldType::Blob: return aftBlob;
    case FieldType::Bytes: return aftBytes;
    case FieldType::Guid: return aftGuid;
    default: return aftUnknown;
  }
}

// ---- the dataset ---------------------------------------------------------------

TABSDataSet::TABSDataSet(std::string name) : DataSet(std::move(name)) {}

TABSDataSet::~TABSDataSet() {
  // Closing runs the overrides of this class: it must happen here, while
  // they still exist.
  try {
    Close();
  } catch (const std::exception& x) {
    std::fprintf(stderr, "tivoran: closing '%s': %s\n", Name().c_str(), x.what());
  }
  Unreference(static_cast<Reason>(kReasonOpen | kReasonTableOperation));
}

void TABSDataSet::SetDatabaseName(const std::string& name) {
  CheckInactive();
  databaseName_ = name;
}

void TABSDataSet::SetSessionName(const std::string& name) {
  CheckInactive();
  sessionName_ = name;
}

bool TABSDataSet::InMemory() const { return SameName(databaseName_, "MEMORY"); }

void TABSDataSet::SetInMemory(bool inMemory) {
  if (inMemory) SetDatabaseName("MEMORY");
}

TABSDatabase& TABSDataSet::Reference(Reason reason) {
  if (database_) {
    reasons_ |= reason;
    return *database_;
  }
  if (databaseName_.empty()) tiv::dataset::RaiseFor(Name(), "DatabaseName property is blank");
  TABSDatabase& database = TABSSession::Named(sessionName_).OpenDatabase(databaseName_);
  database.Register(*this);
  database_ = &database;
  reasons_ |= reason;
  return database;
}

void TABSDataSet::Unreference(Reason reason) noexcept {
  reasons_ &= ~static_cast<unsigned>(reason);
  if (reasons_ != 0 || !database_) return;
  TABSDatabase& database = *database_;
  database_ = nullptr;
  database.Unregister(*this);
  try {
    database.Session().CloseDatabase(database);
  } catch (const std::exception& x) {
    std::fprintf(stderr, "tivoran: releasing '%s': %s\n", databaseName_.c_str(), x.what());
  }
}

TABSLocalCursor& TABSDataSet::Cursor() {
  if (!cursor_) throw EABSException(10029, "Dataset is not opened");
  return *cursor_;
}

void TABSDataSet::CheckResult(int32_t code) const {
  if (code != 0) throw EABSEngineError(code, cursor_ ? cursor_->LastErrorText() : std::string());
}

void TABSDataSet::SetFilter(const std::string& text) {
  filter_ = text;
  if (cursor_) ApplyFilter();
}

void TABSDataSet::SetFiltered(bool filtered) {
  filtered_ = filtered;
  if (cursor_) ApplyFilter();
}

void TABSDataSet::ApplyFilter() {
  SetCursorFilter();
  if (Active()) Resync();
}

void TABSDataSet::SetCursorFilter() {
  if (filtered_ && !filter_.empty())
    cursor_->SetFilter(filter_, FilterCaseInsensitive, FilterPartial);
  else
    cursor_->ClearFilter();
  if (filtered_ && OnFilterRecord) {
    cursor_->SetFilterCallback([this](const char* record) {
      Record candidate;
      candidate.values.resize(static_cast<size_t>(cursor_->FieldCount()));
      for (int32_t i = 0; i < cursor_->FieldCount(); ++i) {
        TABSVariant v;
        cursor_->ReadFromRecord(i, record, v);
        candidate.values[static_cast<size_t>(i)] = FieldValueOf(v);
      }
      return FilterCandidate(candidate, [this] { return OnFilterRecord(*this); });
    });
  } else {
    cursor_->SetFilterCallback(nullptr);
  }
}

std::string TABSDataSet::FormatValue(const tiv::dataset::Field& field, const FieldValue& value, bool display) const {
  (void)field;
  (void)display;
  if (value.IsNull()) return {};
  return VariantOf(value).AsString();
}

FieldValue TABSDataSet::ParseText(const tiv::dataset::Field& field, const std::string& text) const {
  // A calculated field lies past the cursor's fields: its own type says.
  const bool stored = cursor_ && field.Index() < cursor_->FieldCount();
  TABSVariant typed(stored ? cursor_->VisibleField(field.Index()).StorageType()
                           : DataTypeToStorageType(DataTypeOf(field.DataType())));
  typed.SetAsString(text);
  return FieldValueOf(typed);
}

// ---- the framework's side ---------------------------------------------------------

void TABSDataSet::InternalOpen() {
  TABSDatabase& database = Reference(kReasonOpen);
  try {
    cursor_ = OpenCursor(database);
    if (!cursor_) tiv::dataset::RaiseFor(Name(), "Error creating table handle");
    std::vector<tiv::dataset::FieldDef> defs;
    for (int32_t i = 0; i < cursor_->FieldCount(); ++i) {
      const TABSFieldDef& f = cursor_->VisibleField(i);
      defs.push_back({cursor_->VisibleFieldName(i), FieldTypeOf(f.DataType()), f.DataAccessSize(), false});
    }
    SetFields(defs);
    ApplyFilter();
  } catch (...) {
    cursor_.reset();
    Unreference(kReasonOpen);
    throw;
  }
}

void TABSDataSet::InternalClose() noexcept {
  if (cursor_) {
    cursor_->FreeBlobStreams();
    cursor_->CloseTable();
  }
  cursor_.reset();
  Unreference(kReasonOpen);
}

void TABSDataSet::InternalFirst() { Cursor().SetToBegin(); }
void TABSDataSet::InternalLast() { Cursor().SetToEnd(); }

void TABSDataSet::ReadRecord(Record& into) {
  TABSLocalCursor& c = Cursor();
  into.values.resize(static_cast<size_t>(c.FieldCount()));
  for (int32_t i = 0; i < c.FieldCount(); ++i) {
    TABSVariant v;
    c.GetFieldValue(i, v);
    into.values[static_cast<size_t>(i)] = FieldValueOf(v);
  }
  std::string bookmark(kRecordIDSize, '\0');
  c.recordID.Write(bookmark.data());
  into.bookmark = std::move(bookmark);
}

FetchResult TABSDataSet::InternalFetch(FetchMode mode, Record& into) {
  const TABSGetRecordMode m = mode == FetchMode::Next ? grmNext : mode == FetchMode::Prior ? grmPrior : grmCurrent;
  switch (Cursor().GetRecord(m)) {
    case grrFound: ReadRecord(into); return FetchResult::Ok;
    case grrBOF: return FetchResult::Bof;
    case grrEOF: return FetchResult::Eof;
    default: return FetchResult::Error;
  }
}

void TABSDataSet::InternalInitRecord(Record& record) {
  TABSLocalCursor& c = Cursor();
  c.InitRecordBuffer();
  record.values.resize(static_cast<size_t>(c.FieldCount()));
  for (int32_t i = 0; i < c.FieldCount(); ++i) {
    TABSVariant v;
    c.GetFieldValue(i, v);
    record.values[static_cast<size_t>(i)] = FieldValueOf(v);
  }
  record.bookmark.clear();
}

void TABSDataSet::InternalEdit() { CheckResult(Cursor().Edit()); }

void TABSDataSet::InternalPost(const Record& record, bool insert) {
  TABSLocalCursor& c = Cursor();
  if (State() != tiv::dataset::DataSetState::Edit && State() != tiv::dataset::DataSetState::Insert)
    throw EABSException(10030, "Dataset is not in insert or edit mode");
  if (ReadOnly) throw EABSException(10032, "Dataset is in read only mode");
  // The cursor's buffer: a new record, or the record being edited; only
  // the values that differ from it are written (an unchanged BLOB is not
  // stored again).
  if (insert) c.InitRecordBuffer();
  for (int32_t i = 0; i < c.FieldCount() && static_cast<size_t>(i) < record.values.size(); ++i) {
    TABSVariant now;
    c.GetFieldValue(i, now);
    const FieldValue& wanted = record.values[static_cast<size_t>(i)];
    if (FieldValueOf(now) == wanted) continue;
    c.SetFieldValue(i, VariantOf(wanted));
  }
  CheckResult(c.Post(insert));
}

void TABSDataSet::InternalCancel() noexcept {
  if (cursor_) cursor_->Cancel();
}

void TABSDataSet::InternalDelete() { CheckResult(Cursor().Delete()); }

bool TABSDataSet::InternalGotoBookmark(const std::string& bookmark) {
  TABSLocalCursor& c = Cursor();
  if (bookmark.size() != static_cast<size_t>(kRecordIDSize)) return false;
  const TABSLocalCursor::Position saved = c.SavePosition();
  c.RestorePosition({false, false, TABSRecordID::Read(bookmark.data())});
  if (c.GetRecord(grmCurrent) == grrFound) return true;
  c.RestorePosition(saved);
  return false;
}

int64_t TABSDataSet::InternalRecordCount() { return Cursor().GetRecordCount(); }

// ---- BLOB streams (contract 7) ------------------------------------------------------

namespace {

// The value of a BLOB field as a memory stream; a writing one stores its
// bytes into the field when it goes.
class FieldBlobStream : public TABSMemoryStream {
 public:
  FieldBlobStream(tiv::dataset::Field& field, std::string bytes, bool forWriting)
      : TABSMemoryStream(std::move(bytes)), field_(field), forWriting_(forWriting) {}
  ~FieldBlobStream() override {
    if (!forWriting_) return;
    std::string bytes = Bytes();
    try {
      field_.SetValue(bytes.empty() ? FieldValue::Null() : FieldValue::Bytes(std::move(bytes)));
    } catch (const std::exception& x) {
      std::fprintf(stderr, "tivoran: storing the value of '%s': %s\n", field_.FieldName().c_str(), x.what());
    }
  }

 private:
  tiv::dataset::Field& field_;
  bool forWriting_;
};

}  // namespace

std::unique_ptr<TABSStream> TABSDataSet::CreateBlobStream(tiv::dataset::Field& field, bool forWriting) {
  if (!field.IsBlob()) tiv::dataset::RaiseFor(Name(), "Field '" + field.FieldName() + "' is not a BLOB field");
  if (forWriting && State() != tiv::dataset::DataSetState::Edit && State() != tiv::dataset::DataSetState::Insert)
    tiv::dataset::RaiseFor(Name(), tiv::dataset::text::kNotEditing);
  const FieldValue v = field.Value();
  return std::make_unique<FieldBlobStream>(field, forWriting ? std::string() : v.s, forWriting);
}
