#include "access/Query.h"

#include <cctype>

#include "core/ZUDExcept.h"
#include "core/ZUDMetaObjectDef.h"
#include "local/SelectExecution.h"
#include "sql/ABSSQLProcessor.h"

using tiv::dataset::Format;
using tiv::dataset::RaiseFor;

namespace {

bool IsNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// The parameter names of `text` in order of first appearance (contract 1):
// a colon starts one only outside quoted text, so ":" in quotes never does.
std::vector<std::string> ParameterNames(const std::string& text) {
  std::vector<std::string> names;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\'' || c == '"') {
      const size_t end = text.find(c, i + 1);
      if (end == std::string::npos) break;
      i = end;
      continue;
    }
    if (c != ':' || i + 1 >= text.size() || !IsNameChar(text[i + 1])) continue;
    size_t end = i + 1;
    while (end < text.size() && IsNameChar(text[end])) ++end;
    std::string name = text.substr(i + 1, end - i - 1);
    bool seen = false;
    for (const std::string& n : names) seen = seen || SameName(n, name);
    if (!seen) names.push_back(std::move(name));
    i = end - 1;
  }
  return names;
}

}  // namespace

class TABSQuery::MasterLink : public tiv::dataset::DataLink {
 public:
  explicit MasterLink(TABSQuery& query) : query_(query) {}
  void ActiveChanged() override { Follow(); }
  void DataSetChanged() override { Follow(); }
  void DataSetScrolled() override { Follow(); }

 private:
  void Follow() {
    tiv::dataset::DataSet* master = Data();
    if (!query_.Active() || following_ ||
        (master && master->State() != tiv::dataset::DataSetState::Browse &&
         master->State() != tiv::dataset::DataSetState::Inactive))
      return;
    following_ = true;
    try {
      query_.Close();
      query_.Open();
    } catch (...) {
      following_ = false;
      throw;
    }
    following_ = false;
  }

  TABSQuery& query_;
  bool following_ = false;
};

TABSQuery::TABSQuery(std::string name) : TABSDataSet(std::move(name)) {}

TABSQuery::~TABSQuery() {
  Close();
  Unprepare();
}

void TABSQuery::SetDataSource(tiv::dataset::DataSource* master) {
  for (tiv::dataset::DataSource* s = master; s && s->Data();) {
    if (s->Data() == this) RaiseFor(Name(), tiv::dataset::text::kCircularDataLink);
    auto* query = dynamic_cast<TABSQuery*>(s->Data());
    s = query ? query->DataSource() : nullptr;
  }
  if (!masterLink_) masterLink_ = std::make_unique<MasterLink>(*this);
  masterLink_->SetDataSource(master);
}

tiv::dataset::DataSource* TABSQuery::DataSource() const { return masterLink_ ? masterLink_->Source() : nullptr; }

void TABSQuery::SetSQL(std::vector<std::string> lines) {
  Close();
  Unprepare();
  sql_ = std::move(lines);
  if (ParamCheck) RebuildParams();
}

void TABSQuery::AddSQL(const std::string& line) {
  std::vector<std::string> lines = sql_;
  lines.push_back(line);
  SetSQL(std::move(lines));
}

std::string TABSQuery::SQLText() const {
  std::string text;
  for (const std::string& line : sql_) text += line + "\r\n";
  return text;
}

void TABSQuery::RebuildParams() {
  std::vector<TABSQueryParam> rebuilt;
  for (std::string& name : ParameterNames(SQLText())) {
    TABSQueryParam param;
    for (const TABSQueryParam& old : params_)
      if (SameName(old.name, name)) param = old;
    param.name = std::move(name);
    rebuilt.push_back(std::move(param));
  }
  params_ = std::move(rebuilt);
}

TABSQueryParam& TABSQuery::ParamNamed(const std::string& name) {
  for (TABSQueryParam& p : params_)
    if (SameName(p.name, name)) return p;
  RaiseFor(Name(), Format("Par\xE1metro '%s' no encontrado", {name}));
}

void TABSQuery::Prepare() {
  if (Active()) throw EABSException(30141, "Cannot perform this operation on an open dataset");
  if (processor_) return;
  const std::string text = SQLText();
  if (text.size() < 2) throw EABSException(30142, "No SQL statement available");
  TABSSQLQueryInfo info;
  info.SessionName = SessionName();
  info.DatabaseName = DatabaseName();
  info.InMemory = InMemory();
  info.RequestLive = RequestLive;
  processor_ = std::make_unique<TABSLocalSQLProcessor>(info);
  processor_->SetSQL(text);
}

void TABSQuery::Unprepare() noexcept {
  if (processor_) rowsAffected_ = processor_->RowsAffected();
  // The statement goes before the executor it ran through.
  processor_.reset();
  executor_.reset();
}

void TABSQuery::Run(TABSDatabase& database) {
  if (sql_.empty()) throw EABSException(20034, "No SQL statement available");
  Prepare();
  executor_ = std::make_unique<TABSSelectExecution>(database.EngineSession());
  processor_->SetExecutor(executor_.get());
  tiv::dataset::DataSet* master = masterLink_ ? masterLink_->Data() : nullptr;
  TABSSQLParams& params = processor_->Params();
  params.Clear();
  for (const TABSQueryParam& p : params_) {
    TABSSQLParam* param = params.AddParam();
    param->Name = p.name;
    tiv::dataset::Field* field = !p.bound && master && master->Active() ? master->FindField(p.name) : nullptr;
    param->Assign(VariantOf(field ? field->Value() : p.value));
  }
  processor_->Execute();
  rowsAffected_ = processor_->RowsAffected();
}

std::unique_ptr<TABSLocalCursor> TABSQuery::OpenCursor(TABSDatabase& database) {
  try {
    Run(database);
    std::unique_ptr<TABSQueryResultCursor> result = executor_->TakeResult();
    if (!result) RaiseFor(Name(), "Error creating table handle");
    userReadOnly_ = ReadOnly;
    readOnlyRaised_ = processor_->ResultReadOnly() || database.ReadOnly;
    if (readOnlyRaised_) ReadOnly = true;
    return result;
  } catch (...) {
    Unprepare();
    throw;
  }
}

void TABSQuery::InternalClose() noexcept {
  TABSDataSet::InternalClose();
  if (readOnlyRaised_) ReadOnly = userReadOnly_;
  readOnlyRaised_ = false;
  Unprepare();
}

void TABSQuery::ExecSQL() {
  CheckInactive();
  const OperationReference reference(*this);
  try {
    Run(reference.database);
    executor_->TakeResult();
  } catch (...) {
    Unprepare();
    throw;
  }
  Unprepare();
}
