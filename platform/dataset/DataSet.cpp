#include "dataset/DataSet.h"

#include <algorithm>
#include <cctype>

namespace tiv::dataset {

DataSet::DataSet(std::string name) : name_(std::move(name)) {}

DataSet::~DataSet() {
  // A concrete dataset closes itself in its own destructor, while its
  // Internal* overrides still exist; here only the sources are let go.
  for (DataSource* source : std::vector<DataSource*>(sources_)) source->DataSetGone();
}

void DataSet::RemoveSource(DataSource& source) {
  sources_.erase(std::remove(sources_.begin(), sources_.end(), &source), sources_.end());
}

void DataSet::Notify(DataSource::Event event, Field* field) {
  if (disabled_ > 0 && event != DataSource::Event::UpdateData) {
    changedWhileDisabled_ = true;
    return;
  }
  for (DataSource* source : std::vector<DataSource*>(sources_))
    if (std::find(sources_.begin(), sources_.end(), source) != sources_.end()) source->Notify(event, field);
}

void DataSet::EnableControls() {
  if (disabled_ == 0) return;
  if (--disabled_ > 0 || !changedWhileDisabled_) return;
  changedWhileDisabled_ = false;
  DataChanged();
}

void DataSet::SetState(DataSetState state) {
  if (state_ == state) return;
  const bool editing = state_ == DataSetState::Edit || state_ == DataSetState::Insert;
  const bool willEdit = state == DataSetState::Edit || state == DataSetState::Insert;
  state_ = state;
  if (editing != willEdit) Notify(DataSource::Event::EditingChanged, nullptr);
}

void DataSet::CheckActive() const {
  if (!Active()) RaiseFor(name_, text::kDataSetClosed);
}

void DataSet::CheckInactive() const {
  if (Active()) RaiseFor(name_, text::kDataSetOpen);
}

void DataSet::SetFields(const std::vector<FieldDef>& defs) {
  fields_.clear();
  for (size_t i = 0; i < defs.size(); ++i)
    fields_.push_back(std::make_unique<Field>(*this, defs[i], static_cast<int>(i)));
  // Contract 10: the calculated fields follow the data fields.
  for (const FieldDef& def : calculated_) {
    fields_.push_back(std::make_unique<Field>(*this, def, static_cast<int>(fields_.size())));
    fields_.back()->Calculated = true;
    fields_.back()->ReadOnly = true;
  }
}

Field& DataSet::FieldAt(int index) const {
  if (index < 0 || index >= FieldCount()) RaiseFor(name_, Format(text::kFieldNotFound, {std::to_string(index)}));
  return *fields_[static_cast<size_t>(index)];
}

Field* DataSet::FindField(const std::string& name) const {
  const auto same = [&](const std::string& other) {
    return other.size() == name.size() && std::equal(other.begin(), other.end(), name.begin(), [](char a, char b) {
             return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
           });
  };
  for (const auto& f : fields_)
    if (same(f->FieldName())) return f.get();
  return nullptr;
}

Field& DataSet::FieldByName(const std::string& name) const {
  Field* f = FindField(name);
  if (!f) RaiseFor(name_, Format(text::kFieldNotFound, {name}));
  return *f;
}

FetchResult DataSet::Fetch(FetchMode mode, Record& into) {
  const FetchResult result = InternalFetch(mode, into);
  if (result == FetchResult::Ok) CalculateFields(into);
  return result;
}

namespace {

std::vector<std::string> SplitNames(const std::string& list) {
  std::vector<std::string> names;
  size_t start = 0;
  while (start <= list.size()) {
    const size_t end = std::min(list.find(';', start), list.size());
    if (end > start) names.push_back(list.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

}  // namespace

void DataSet::CalculateFields(Record& record) {
  record.values.resize(fields_.size());
  if (calculated_.empty()) return;
  for (size_t i = fields_.size() - calculated_.size(); i < fields_.size(); ++i) record.values[i] = {};
  Record* previous = calculating_;
  calculating_ = &record;
  try {
    for (const Lookup& l : lookups_) {
      std::vector<FieldValue> keys;
      for (const std::string& name : SplitNames(l.keyFields)) keys.push_back(FieldByName(name).Value());
      if (!l.dataSet->Active()) continue;
      const std::vector<FieldValue> found = l.dataSet->LookupValues(l.lookupKeyFields, keys, l.resultField);
      if (!found.empty()) record.values[static_cast<size_t>(FieldByName(l.fieldName).Index())] = found[0];
    }
    if (OnCalcFields) OnCalcFields(*this);
  } catch (...) {
    calculating_ = previous;
    throw;
  }
  calculating_ = previous;
}

void DataSet::AddLookupField(const FieldDef& def, DataSet& lookup, std::string keyFields, std::string lookupKeyFields,
                             std::string resultField) {
  if (&lookup == this) RaiseFor(name_, text::kCircularDataLink);
  AddCalculatedField(def);
  lookups_.push_back({def.name, &lookup, std::move(keyFields), std::move(lookupKeyFields), std::move(resultField)});
}

std::vector<FieldValue> DataSet::LookupValues(const std::string& keyFields, const std::vector<FieldValue>& values,
                                              const std::string& resultFields) {
  CheckBrowseMode();
  const std::vector<std::string> keys = SplitNames(keyFields);
  std::vector<FieldValue> result;
  Record r;
  // A walk of the records that leaves the position as it was.
  for (FetchResult f = (InternalFirst(), InternalFetch(FetchMode::Next, r)); f == FetchResult::Ok;
       f = InternalFetch(FetchMode::Next, r)) {
    bool same = keys.size() == values.size();
    for (size_t k = 0; k < keys.size() && same; ++k) {
      Field* field = FindField(keys[k]);
      same = field && r.values[static_cast<size_t>(field->Index())] == values[k];
    }
    if (!same) continue;
    for (const std::string& name : SplitNames(resultFields))
      result.push_back(r.values[static_cast<size_t>(FieldByName(name).Index())]);
    break;
  }
  if (hasCurrent_)
    InternalGotoBookmark(current_.bookmark);
  else
    InternalFirst();
  return result;
}

void DataSet::AddCalculatedField(const FieldDef& def) {
  CheckInactive();
  calculated_.push_back(def);
}

bool DataSet::FilterCandidate(const Record& candidate, const std::function<bool()>& ask) {
  const Record* previous = candidate_;
  candidate_ = &candidate;
  try {
    const bool accepted = ask();
    candidate_ = previous;
    return accepted;
  } catch (...) {
    candidate_ = previous;
    throw;
  }
}

FieldValue DataSet::ActiveValue(int fieldIndex) const {
  const Record* record = nullptr;
  if (calculating_)
    record = calculating_;
  else if (candidate_)
    record = candidate_;
  else if (state_ == DataSetState::Edit || state_ == DataSetState::Insert || state_ == DataSetState::SetKey)
    record = &edit_;
  else if (hasCurrent_)
    record = &current_;
  if (!record || fieldIndex < 0 || static_cast<size_t>(fieldIndex) >= record->values.size()) return {};
  return record->values[static_cast<size_t>(fieldIndex)];
}

void DataSet::SetActiveValue(Field& field, const FieldValue& value) {
  if (calculating_ && field.Calculated) {
    calculating_->values[static_cast<size_t>(field.Index())] = value;
    return;
  }
  if (state_ != DataSetState::Edit && state_ != DataSetState::Insert && state_ != DataSetState::SetKey)
    RaiseFor(name_, text::kNotEditing);
  if (field.ReadOnly) RaiseFor(name_, Format(text::kFieldReadOnly, {field.FieldName()}));
  const size_t i = static_cast<size_t>(field.Index());
  if (edit_.values.size() <= i) edit_.values.resize(fields_.size());
  edit_.values[i] = value;
  modified_ = true;
  Notify(DataSource::Event::RecordChanged, &field);
}

// ---- lifecycle -------------------------------------------------------------

void DataSet::Open() {
  if (Active()) return;
  Fire(BeforeOpen);
  try {
    InternalOpen();
    state_ = DataSetState::Browse;
    FetchFromEnd(false);
  } catch (...) {
    InternalClose();
    fields_.clear();
    state_ = DataSetState::Inactive;
    hasCurrent_ = false;
    throw;
  }
  Notify(DataSource::Event::ActiveChanged, nullptr);
  Fire(AfterOpen);
}

void DataSet::Close() {
  if (!Active()) return;
  Fire(BeforeClose);
  if (state_ == DataSetState::Edit || state_ == DataSetState::Insert) InternalCancel();
  InternalClose();
  state_ = DataSetState::Inactive;
  hasCurrent_ = false;
  current_ = {};
  edit_ = {};
  modified_ = false;
  bof_ = eof_ = true;
  Notify(DataSource::Event::ActiveChanged, nullptr);
  fields_.clear();
  Fire(AfterClose);
}

// ---- navigation ------------------------------------------------------------

bool DataSet::FetchCurrent() {
  Record r;
  if (Fetch(FetchMode::Current, r) != FetchResult::Ok) return false;
  current_ = std::move(r);
  return true;
}

void DataSet::FetchFromEnd(bool last) {
  Record r;
  if (last) {
    InternalLast();
    hasCurrent_ = Fetch(FetchMode::Prior, r) == FetchResult::Ok;
  } else {
    InternalFirst();
    hasCurrent_ = Fetch(FetchMode::Next, r) == FetchResult::Ok;
  }
  if (hasCurrent_) current_ = std::move(r);
  (last ? eof_ : bof_) = true;
  (last ? bof_ : eof_) = !hasCurrent_;
}

void DataSet::First() {
  CheckBrowseMode();
  Fire(BeforeScroll);
  FetchFromEnd(false);
  DataChanged();
  Fire(AfterScroll);
}

void DataSet::Last() {
  CheckBrowseMode();
  Fire(BeforeScroll);
  FetchFromEnd(true);
  DataChanged();
  Fire(AfterScroll);
}

void DataSet::Next() { MoveBy(1); }
void DataSet::Prior() { MoveBy(-1); }

int DataSet::MoveBy(int distance) {
  CheckBrowseMode();
  if (distance == 0 || !hasCurrent_) return 0;
  if ((distance > 0 && eof_) || (distance < 0 && bof_)) return 0;
  Fire(BeforeScroll);
  int moved = 0;
  const FetchMode mode = distance > 0 ? FetchMode::Next : FetchMode::Prior;
  for (int left = distance > 0 ? distance : -distance; left > 0; --left) {
    Record r;
    if (Fetch(mode, r) != FetchResult::Ok) {
      // Past an end the current record stays, and so does the position.
      (distance > 0 ? eof_ : bof_) = true;
      InternalGotoBookmark(current_.bookmark);
      break;
    }
    current_ = std::move(r);
    bof_ = eof_ = false;
    ++moved;
  }
  if (moved > 0) Notify(DataSource::Event::DataSetScrolled, nullptr);
  Fire(AfterScroll);
  return distance > 0 ? moved : -moved;
}

int64_t DataSet::RecordCount() { return Active() ? InternalRecordCount() : 0; }

void DataSet::Refresh() {
  CheckBrowseMode();
  Fire(BeforeRefresh);
  InternalRefresh();
  Resync();
  Fire(AfterRefresh);
}

void DataSet::Resync() {
  CheckActive();
  if (!hasCurrent_ || !InternalGotoBookmark(current_.bookmark) || !FetchCurrent()) FetchFromEnd(false);
  DataChanged();
}

void DataSet::GotoBookmark(const std::string& bookmark) {
  CheckBrowseMode();
  Fire(BeforeScroll);
  if (!InternalGotoBookmark(bookmark) || !FetchCurrent()) {
    if (hasCurrent_) InternalGotoBookmark(current_.bookmark);
    RaiseFor(name_, "Registro no encontrado");
  }
  hasCurrent_ = true;
  bof_ = eof_ = false;
  Notify(DataSource::Event::DataSetScrolled, nullptr);
  Fire(AfterScroll);
}

bool DataSet::ReadAll(std::vector<Record>& records) {
  records.clear();
  if (state_ != DataSetState::Browse) return false;
  InternalFirst();
  for (;;) {
    Record r;
    if (Fetch(FetchMode::Next, r) != FetchResult::Ok) break;
    records.push_back(std::move(r));
  }
  if (hasCurrent_)
    InternalGotoBookmark(current_.bookmark);
  else
    InternalFirst();
  return true;
}

void DataSet::PositionChanged() {
  Fire(BeforeScroll);
  if (FetchCurrent()) {
    hasCurrent_ = true;
    bof_ = eof_ = false;
    Notify(DataSource::Event::DataSetScrolled, nullptr);
  } else {
    Resync();
  }
  Fire(AfterScroll);
}

int64_t DataSet::CurrentIndexIn(const std::vector<Record>& records) const {
  if (!hasCurrent_) return -1;
  for (size_t i = 0; i < records.size(); ++i)
    if (records[i].bookmark == current_.bookmark) return static_cast<int64_t>(i);
  return -1;
}

// ---- editing -----------------------------------------------------------------

void DataSet::CheckBrowseMode() {
  CheckActive();
  if (state_ == DataSetState::Edit || state_ == DataSetState::Insert) {
    Notify(DataSource::Event::UpdateData, nullptr);
    if (modified_)
      Post();
    else
      Cancel();
  } else if (state_ == DataSetState::SetKey) {
    SetState(DataSetState::Browse);
  }
}

void DataSet::BeginInsert(bool append) {
  (void)append;
  CheckActive();
  if (ReadOnly) RaiseFor(name_, text::kDataSetReadOnly);
  CheckBrowseMode();
  Fire(BeforeInsert);
  Record r;
  r.values.resize(fields_.size());
  InternalInitRecord(r);
  r.values.resize(fields_.size());
  edit_ = std::move(r);
  modified_ = false;
  SetState(DataSetState::Insert);
  Fire(OnNewRecord);
  DataChanged();
  Fire(AfterInsert);
}

void DataSet::WithErrorEvent(const ErrorEvent& handler, const std::function<void()>& operation) {
  for (;;) {
    try {
      operation();
      return;
    } catch (const EAbort&) {
      throw;
    } catch (const std::exception& error) {
      DataAction action = DataAction::Fail;
      if (handler) handler(*this, error, action);
      if (action == DataAction::Fail) throw;
      if (action == DataAction::Abort) throw EAbort();
    }
  }
}

void DataSet::Insert() { BeginInsert(false); }
void DataSet::Append() { BeginInsert(true); }

void DataSet::Edit() {
  CheckActive();
  if (state_ == DataSetState::Edit || state_ == DataSetState::Insert) return;
  if (ReadOnly) RaiseFor(name_, text::kDataSetReadOnly);
  CheckBrowseMode();
  if (!hasCurrent_) RaiseFor(name_, text::kDataSetEmpty);
  Fire(BeforeEdit);
  // The engine acts on its position: bring it back to the current record
  // first, whatever read the dataset did meanwhile.
  WithErrorEvent(OnEditError, [this] {
    InternalGotoBookmark(current_.bookmark);
    InternalEdit();
  });
  edit_ = current_;
  modified_ = false;
  SetState(DataSetState::Edit);
  Notify(DataSource::Event::RecordChanged, nullptr);
  Fire(AfterEdit);
}

void DataSet::Post() {
  if (state_ != DataSetState::Edit && state_ != DataSetState::Insert) return;
  Notify(DataSource::Event::UpdateData, nullptr);
  Fire(BeforePost);
  for (const auto& f : fields_)
    if (f->Required() && ActiveValue(f->Index()).IsNull())
      RaiseFor(name_, Format(text::kFieldRequired, {f->FieldName()}));
  const bool insert = state_ == DataSetState::Insert;
  // The concrete dataset stores the data fields only (contract 10).
  Record stored = edit_;
  stored.values.resize(fields_.size() - calculated_.size());
  WithErrorEvent(OnPostError, [&] { InternalPost(stored, insert); });
  if (FetchCurrent()) hasCurrent_ = true;
  bof_ = eof_ = false;
  edit_ = {};
  modified_ = false;
  SetState(DataSetState::Browse);
  DataChanged();
  Fire(AfterPost);
}

void DataSet::Cancel() {
  if (state_ == DataSetState::SetKey) {
    SetState(DataSetState::Browse);
    return;
  }
  if (state_ != DataSetState::Edit && state_ != DataSetState::Insert) return;
  Fire(BeforeCancel);
  InternalCancel();
  edit_ = {};
  modified_ = false;
  SetState(DataSetState::Browse);
  if (hasCurrent_) InternalGotoBookmark(current_.bookmark);
  DataChanged();
  Fire(AfterCancel);
}

void DataSet::Delete() {
  CheckActive();
  if (state_ == DataSetState::Insert || state_ == DataSetState::SetKey) {
    Cancel();
    return;
  }
  if (ReadOnly) RaiseFor(name_, text::kDataSetReadOnly);
  if (!hasCurrent_) RaiseFor(name_, text::kDataSetEmpty);
  Fire(BeforeDelete);
  if (state_ == DataSetState::Edit) {
    InternalCancel();
    edit_ = {};
    modified_ = false;
    SetState(DataSetState::Browse);
  }
  WithErrorEvent(OnDeleteError, [this] {
    InternalGotoBookmark(current_.bookmark);
    InternalDelete();
  });
  SettleAfterDelete();
  DataChanged();
  Fire(AfterDelete);
}

void DataSet::SettleAfterDelete() {
  hasCurrent_ = FetchCurrent();
  if (!hasCurrent_) current_ = {};
  bof_ = eof_ = !hasCurrent_;
}

}  // namespace tiv::dataset
