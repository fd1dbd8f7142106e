#include "local/SelectExecution.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <unordered_set>

#include "core/ZUDExcept.h"
#include "core/ZUDMetaObjectDef.h"
#include "os/OsRandom.h"
#include "sql/ExprAggregate.h"
#include "sql/ExprNodes.h"
#include "sql/SQLResultNames.h"
#include "sql/SQLSelect.h"

// ---- the result cursor -----------------------------------------------------------------------

TABSQueryResultCursor::TABSQueryResultCursor(TABSLocalSession& session) : TABSLocalCursor(session) {}

TABSQueryResultCursor::TABSQueryResultCursor(std::unique_ptr<TABSLocalSession> temp)
    : TABSLocalCursor(*temp), temp_(std::move(temp)) {}

TABSQueryResultCursor::~TABSQueryResultCursor() {
  CloseTable();
  if (!temp_ || tableName.empty()) return;
  try {
    if (temp_->Connected() && temp_->TableExists(tableName)) DeleteTable();
  } catch (const std::exception& x) {
    std::fprintf(stderr, "tivoran: dropping query result '%s': %s\n", tableName.c_str(), x.what());
  }
}

// ---- the executor ----------------------------------------------------------------------------

namespace {

[[noreturn]] void NotBuilt() { throw EABSException(30350, "Not implemented yet"); }

// A result column stores the plain type of an autoincrement source: the
// result's rows are copies, never numbered anew.
TABSDataType PlainType(TABSDataType type) {
  switch (type) {
    case aftAutoInc:
    case aftAutoIncInteger: return aftInteger;
    case aftAutoIncShortint: return aftShortint;
    case aftAutoIncSmallint: return aftSmallint;
    case aftAutoIncLargeint: return aftLargeint;
    case aftAutoIncByte: return aftByte;
    case aftAutoIncWord: return aftWord;
    case aftAutoIncCardinal: return aftCardinal;
    default: return type;
  }
}

struct OutputColumn {
  std::string name;
  int32_t tableField = -1;               // a plain column: its table field
  TABSExpression* expression = nullptr;  // a computed column, owned by the statement
  TABSDataType type = aftUnknown;
  int32_t size = 0;
};

int32_t FieldIndex(const TABSFieldDefs& fields, const std::string& name) {
  for (int i = 0; i < fields.Count(); ++i)
    if (SameName(fields[i]->Name(), name)) return i;
  return -1;
}

bool NamesTable(const TABSTableReference& ref, const std::string& qualifier) {
  return qualifier.empty() || SameName(qualifier, ref.TableName) ||
         (!ref.Alias.empty() && SameName(qualifier, ref.Alias));
}

// Every column a WHERE names must belong to the one table.
void CheckConditionFields(const TABSExprNode& node, const TABSFieldDefs& fields, const TABSTableReference& ref) {
  if (const auto* field = dynamic_cast<const TABSExprNodeField*>(&node)) {
    if (!NamesTable(ref, field->Qualifier) || FieldIndex(fields, field->FieldName) < 0)
      throw EABSException(30144, "Search condition is not applicable");
  }
  for (const auto& child : node.Children) CheckConditionFields(*child, fields, ref);
}

bool IsPosition(const TABSSortSpecification& sort) {
  if (!sort.TableName.empty() || sort.FieldName.empty() || sort.FieldName.size() > 9) return false;
  for (char c : sort.FieldName)
    if (c < '0' || c > '9') return false;
  return true;
}

struct OrderColumn {
  int32_t column = 0;
  bool descending = false;
};

std::vector<OrderColumn> ResolveOrder(const std::vector<TABSSortSpecification>& sorts,
                                      const std::vector<OutputColumn>& columns, const TABSFieldDefs& fields,
                                      const TABSTableReference& ref) {
  std::vector<OrderColumn> order;
  for (const TABSSortSpecification& sort : sorts) {
    int32_t found = -1;
    if (IsPosition(sort)) {
      const int64_t n = std::stoll(sort.FieldName);
      if (n < 1 || n > static_cast<int64_t>(columns.size()))
        throw EABSException(20243, "Invalid field number in ORDER BY clause: %d", {n});
      found = static_cast<int32_t>(n - 1);
    } else if (NamesTable(ref, sort.TableName)) {
      // A column matches by its result name, or a plain one by its field.
      for (size_t i = 0; i < columns.size() && found < 0; ++i)
        if (SameName(columns[i].name, sort.FieldName)) found = static_cast<int32_t>(i);
      for (size_t i = 0; i < columns.size() && found < 0; ++i)
        if (columns[i].tableField >= 0 && SameName(fields[columns[i].tableField]->Name(), sort.FieldName))
          found = static_cast<int32_t>(i);
    }
    if (found < 0) throw EABSException(30195, "Column '%s' from ORDER BY clause not found", {sort.FieldName});
    order.push_back({found, sort.Descending});
  }
  return order;
}

// Makes the base cursor walk in `order` (all plain columns).
void OrderBase(TABSLocalCursor& base, const std::vector<OrderColumn>& order, const std::vector<OutputColumn>& columns,
               const TABSFieldDefs& fields) {
  std::vector<std::string> names, directions, cases;
  for (const OrderColumn& o : order) {
    names.push_back(fields[columns[static_cast<size_t>(o.column)].tableField]->Name());
    directions.push_back(o.descending ? "DESC" : "ASC");
    cases.push_back("CASE");
  }
  const int32_t id = base.FindOrCreateIndex(names, directions, cases);
  const TABSIndexDef* def = base.Table().IndexManager().IndexDefs().IndexByID(id);
  if (!def) throw EABSException(10300, "Nil pointer occured");
  base.SetIndexName(def->Name());
}

// A condition with a driving index range (LocalCursor.h contract 11)
// still lets a step visit every record of the current order; the copy
// walks the range itself instead when the order is that index's or none.
void WalkOnlyTheScanRange(TABSLocalCursor& base) {
  const TABSCursorScan scan = base.scan;
  if (!scan.active || scan.empty || scan.lowerKey.empty() || scan.upperKey.empty()) return;
  if (base.indexID >= 0 && base.indexID != scan.indexID) return;
  const TABSIndexDef* def = base.Table().IndexManager().IndexDefs().IndexByID(scan.indexID);
  if (!def) return;
  if (base.indexID < 0) base.SetIndexName(def->Name());
  base.SetRange(scan.lowerKey, scan.lowerFieldCount, scan.lowerExclusive, scan.upperKey, scan.upperFieldCount,
                scan.upperExclusive);
}

// Whether an item of a grouped list names only group columns outside its
// aggregates.
bool UsesOnlyGroupFields(const TABSExprNode& node, const TABSFieldDefs& fields, const std::vector<int32_t>& groups) {
  if (dynamic_cast<const TABSExprNodeAggregate*>(&node)) return true;
  if (const auto* field = dynamic_cast<const TABSExprNodeField*>(&node)) {
    const int32_t n = FieldIndex(fields, field->FieldName);
    return std::find(groups.begin(), groups.end(), n) != groups.end();
  }
  for (const auto& child : node.Children)
    if (!UsesOnlyGroupFields(*child, fields, groups)) return false;
  return true;
}

// Holds a table's read lock for one copy (contract 2).
class ReadLock {
 public:
  ReadLock(TABSLocalCursor& cursor, int32_t attempts, int32_t delayMs) : cursor_(cursor) {
    if (!cursor_.LockTable(ltRead, delayMs, attempts)) throw EABSException(20225, "Table is locked");
  }
  ~ReadLock() { cursor_.UnlockTable(ltRead); }
  ReadLock(const ReadLock&) = delete;
  ReadLock& operator=(const ReadLock&) = delete;

 private:
  TABSLocalCursor& cursor_;
};

}  // namespace

TABSSelectExecution::~TABSSelectExecution() = default;

void TABSSelectExecution::ExecuteSelect(TABSSQLUnion& statement, bool requestLive, bool& resultReadOnly) {
  result_.reset();
  resultReadOnly = true;
  if (statement.HasSetOperation() || !statement.Root || !statement.Root->Select) NotBuilt();
  TABSSQLSelect& select = *statement.Root->Select;
  if (select.FromTables.size() != 1 || select.FromTables[0]->Kind != trkTable) NotBuilt();
  const TABSTableReference& ref = *select.FromTables[0];
  if (!ref.DatabaseName.empty() || ref.InMemory) NotBuilt();
  // INTO makes a new table of the query's database: one that exists, the
  // table read included, is refused before anything runs.
  const std::string& intoTable = statement.IntoTable;
  const bool into = !intoTable.empty();
  if (into) {
    if (!statement.IntoDatabase.empty() || statement.IntoInMemory) NotBuilt();
    if (session_.TableExists(intoTable))
      throw EABSException(10515, "Table '%s.%s' already exists", {statement.Query().DatabaseName, intoTable});
  }
  // The statement groups with GROUP BY or HAVING, or when an item of a
  // list that is not a bare "*" holds an aggregate.
  bool grouping = !select.GroupBy.empty() || select.Having != nullptr;
  for (const TABSSelectListItem& item : select.SelectList)
    grouping = grouping || (!select.SelectAll && item.Expression && item.Expression->HasAggregate());
  const std::vector<TABSSortSpecification>& sorts =
      statement.SortSpecifications.empty() ? select.SortSpecifications : statement.SortSpecifications;

  auto base = std::make_unique<TABSQueryResultCursor>(session_);
  base->tableName = ref.TableName;
  try {
    base->OpenTable();
  } catch (const EABSException& x) {
    throw EABSException(10303, "Error on opening table \"%s\" (InMemory = %d) in SQL query: %s",
                        {ref.TableName, 0, std::string(x.what())});
  }
  const TABSFieldDefs& fields = base->Table().FieldDefs();

  // The columns (contract 4).
  std::vector<OutputColumn> columns;
  const auto addField = [&](int32_t n) {
    const TABSFieldDef& f = *fields[n];
    columns.push_back({f.Name(), n, nullptr, PlainType(f.DataType()), f.Size()});
  };
  const auto checkQualifier = [&](const std::string& qualifier) {
    if (!NamesTable(ref, qualifier))
      throw EABSException(30327, "Invalid table name in reference. Table name = %s, table alias = %s, tname = %s",
                          {ref.TableName, ref.Alias, qualifier});
  };
  TABSRecordRowSource source(fields, ref.TableName);
  if (select.SelectAll) {
    for (int i = 0; i < fields.Count(); ++i) addField(i);
  } else {
    const std::vector<std::string> names = SelectResultNames(select);
    for (size_t i = 0; i < select.SelectList.size(); ++i) {
      const TABSSelectListItem& item = select.SelectList[i];
      if (item.AllFields) {
        checkQualifier(item.TableName);
        for (int n = 0; n < fields.Count(); ++n) addField(n);
      } else if (!item.IsExpression) {
        checkQualifier(item.TableName);
        const int32_t n = FieldIndex(fields, item.FieldName);
        if (n < 0) throw EABSException(10305, "Cannot find field %s", {item.FieldName});
        addField(n);
        columns.back().name = names[i];
      } else {
        TABSExpression& e = *item.Expression;
        e.BindCursor(&source);
        TABSDataType type = e.GetDataType();
        int32_t size = e.GetSize();
        if ((type == aftString || type == aftWideString) && size <= 0) size = 255;
        columns.push_back({names[i], -1, &e, PlainType(type), size});
      }
    }
  }
  {
    std::vector<std::string> names;
    for (const OutputColumn& c : columns) names.push_back(c.name);
    MakeNamesUnique(names);
    for (size_t i = 0; i < columns.size(); ++i) columns[i].name = names[i];
  }
  // Grouping: the group columns, what the list may name, the aggregates.
  std::vector<int32_t> groupFields;
  std::vector<TABSExpression*> aggregates;
  if (grouping) {
    for (size_t i = 0; i < select.GroupBy.size(); ++i) {
      const TABSSelectListItem& g = select.GroupBy[i];
      int32_t n = NamesTable(ref, g.TableName) ? FieldIndex(fields, g.FieldName) : -1;
      for (const TABSSelectListItem& item : select.SelectList)
        if (n < 0 && g.TableName.empty() && !item.IsExpression && !item.AllFields &&
            SameName(item.Pseudonym, g.FieldName))
          n = FieldIndex(fields, item.FieldName);
      if (n < 0)
        throw EABSException(
            20245, "Invalid field for 'GROUP BY.' Table name = '%s', FieldName = '%s', i = %d, FieldExists = %d",
            {ref.TableName, g.FieldName, static_cast<int64_t>(i), 0});
      groupFields.push_back(n);
    }
    for (const OutputColumn& c : columns) {
      if (c.tableField >= 0) {
        if (std::find(groupFields.begin(), groupFields.end(), c.tableField) == groupFields.end())
          throw EABSException(10342,
                              "Field is not included in GROUP BY list. Table name = '%s', Field name = '%s', FieldNo = "
                              "%d, Found field name = '%s'",
                              {ref.TableName, fields[c.tableField]->Name(), c.tableField, c.name});
      } else if (c.expression->HasAggregate()) {
        aggregates.push_back(c.expression);
      } else if (!UsesOnlyGroupFields(*c.expression->Root(), fields, groupFields)) {
        throw EABSException(20269,
                            "Expression (Name=\"%s\", DisplayName=\"%s\") cannot be used with GROUP BY. Possibly "
                            "expression is not aggregate, but it uses fields not included into group fields",
                            {c.name, c.name});
      }
    }
    if (select.Having) {
      CheckConditionFields(*select.Having->Root(), fields, ref);
      select.Having->BindCursor(&source);
      aggregates.push_back(select.Having.get());
    }
  }
  const std::vector<OrderColumn> order = ResolveOrder(sorts, columns, fields, ref);
  if (select.Where && !select.Where->IsEmpty()) CheckConditionFields(*select.Where->Root(), fields, ref);

  bool allPlain = true;
  for (const OutputColumn& c : columns) allPlain = allPlain && c.tableField >= 0;

  // A live result: the base cursor itself (contract 1).
  if (requestLive && allPlain && select.TopCount < 0 && !select.Distinct && !into && !grouping) {
    if (!order.empty()) OrderBase(*base, order, columns, fields);
    base->SetQueryCondition(std::move(select.Where));
    if (!select.SelectAll) {
      std::vector<std::string> names, aliases;
      for (const OutputColumn& c : columns) {
        names.push_back(fields[c.tableField]->Name());
        aliases.push_back(c.name);
      }
      base->SetProjection(names, aliases);
    }
    base->SetToBegin();
    result_ = std::move(base);
    resultReadOnly = false;
    return;
  }

  // A snapshot in TEMP, or the INTO table. TOP takes the first rows in the
  // requested order, and an INTO table gets them in it, so the base table
  // is walked in it.
  const bool top = select.TopCount >= 0 || select.TopFirst > 0;
  if (grouping) {
    // Groups come from one pass over the rows in group order; a TOP in
    // another order would need the groups sorted first.
    if (top && !order.empty()) NotBuilt();
    if (!groupFields.empty()) {
      std::vector<std::string> names;
      for (int32_t n : groupFields) names.push_back(fields[n]->Name());
      const int32_t id = base->FindOrCreateIndex(names, std::vector<std::string>(names.size(), "ASC"),
                                                 std::vector<std::string>(names.size(), "CASE"));
      const TABSIndexDef* def = base->Table().IndexManager().IndexDefs().IndexByID(id);
      if (!def) throw EABSException(10300, "Nil pointer occured");
      base->SetIndexName(def->Name());
    }
  } else if ((top || into) && !order.empty()) {
    for (const OrderColumn& o : order)
      if (columns[static_cast<size_t>(o.column)].tableField < 0) NotBuilt();
    OrderBase(*base, order, columns, fields);
  }
  base->SetQueryCondition(std::move(select.Where));
  WalkOnlyTheScanRange(*base);

  std::unique_ptr<TABSQueryResultCursor> out;
  if (into) {
    out = std::make_unique<TABSQueryResultCursor>(session_);
    out->tableName = intoTable;
  } else {
    auto temp = std::make_unique<TABSLocalSession>();
    TABSConnectOptions options;
    options.databaseName = "TEMP";
    temp->Connect(options);
    out = std::make_unique<TABSQueryResultCursor>(std::move(temp));
    std::string tableName;
    do {
      tableName = "TEMPORARY_TABLE_" + tiv::os::NewGuidText();
    } while (out->Session().TableExists(tableName));
    out->tableName = tableName;
  }
  out->internal = true;
  TABSFieldDefs outFields;
  for (const OutputColumn& c : columns) {
    TABSFieldDef* f = outFields.AddNew();
    f->SetName(c.name);
    f->SetDataType(c.type, c.size);
  }
  TABSIndexDefs outIndexes;
  std::string orderIndex;
  if (!order.empty() && !into) {
    orderIndex = "TEMPORARY_INDEX_" + tiv::os::NewGuidText();
    std::vector<std::string> names, directions, cases;
    for (const OrderColumn& o : order) {
      names.push_back(columns[static_cast<size_t>(o.column)].name);
      directions.push_back(o.descending ? "DESC" : "ASC");
      cases.push_back("CASE");
    }
    TABSIndexDef* index = outIndexes.AddNew();
    index->SetName(orderIndex);
    index->FillColumns(names, directions, cases);
  }
  out->CreateTable(outFields, outIndexes);
  int64_t copied = 0;
  try {
    out->OpenTable();
    const ReadLock lock(*base, lockAttempts, lockDelayMs);
    const int64_t first = select.TopFirst > 0 ? select.TopFirst : 1;
    const int64_t limit = select.TopCount;
    int64_t rowNo = 0;
    // DISTINCT: the rows kept so far, each as its values' text with a NULL
    // marker, so that two NULLs are equal and NULL differs from every value.
    std::unordered_set<std::string> seen;
    std::string key;
    TABSVariant value;
    // One output row from the values `read` gives; false once TOP is met.
    const auto emit = [&](const std::function<void(const OutputColumn&, TABSVariant&)>& read) {
      out->InitRecordBuffer();
      key.clear();
      for (size_t i = 0; i < columns.size(); ++i) {
        read(columns[i], value);
        if (select.Distinct) {
          const std::string text = value.IsNull() ? std::string() : value.AsString();
          key += value.IsNull() ? 'N' : 'V';
          key += std::to_string(text.size()) + ':' + text;
        }
        out->SetFieldValue(static_cast<int32_t>(i), value);
      }
      if (select.Distinct && !seen.insert(key).second) return true;
      if (++rowNo < first) return true;
      if (out->Post(true) != crOK)
        throw EABSException(10403, "Error importing table. Cannot copy data due to error: %s\r\n",
                            {out->LastErrorText()});
      ++copied;
      return limit < 0 || copied < limit;
    };
    base->SetToBegin();
    if (!grouping) {
      const auto readRow = [&](const OutputColumn& c, TABSVariant& v) {
        if (c.tableField >= 0)
          base->GetFieldValue(c.tableField, v);
        else
          v.Assign(*c.expression->GetValue());
      };
      while (limit < 0 || copied < limit) {
        if (base->GetRecord(grmNext) != grrFound) break;
        source.SetRecord(base->Record());
        if (!emit(readRow)) break;
      }
    } else {
      // One pass in group order: a group's first record is kept for its
      // columns; the aggregates accumulate every record of the group.
      std::vector<char> groupRecord;
      std::vector<TABSVariant> groupValues(groupFields.size()), rowValues(groupFields.size());
      const auto readGroup = [&](const OutputColumn& c, TABSVariant& v) {
        if (c.tableField >= 0)
          source.ReadValue(c.tableField, v);
        else
          v.Assign(*c.expression->GetValue());
      };
      const auto emitGroup = [&] {
        source.SetRecord(groupRecord.data());
        if (select.Having && !select.Having->IsTrue()) return true;
        return emit(readGroup);
      };
      const auto reset = [&] {
        for (TABSExpression* e : aggregates) e->ResetAggregates();
      };
      reset();
      bool inGroup = false, more = true;
      while (more && base->GetRecord(grmNext) == grrFound) {
        for (size_t g = 0; g < groupFields.size(); ++g) base->GetFieldValue(groupFields[g], rowValues[g]);
        if (inGroup) {
          // Two NULLs are one group; a NULL and a value are two.
          bool same = true;
          for (size_t g = 0; g < groupFields.size() && same; ++g)
            same = rowValues[g].Compare(groupValues[g]) == kCmpEqual;
          if (!same) {
            more = emitGroup();
            reset();
            inGroup = false;
          }
        }
        if (!more) break;
        if (!inGroup) {
          for (size_t g = 0; g < groupFields.size(); ++g) groupValues[g].Assign(rowValues[g]);
          groupRecord.assign(base->Record(), base->Record() + base->RecordSize());
          inGroup = true;
        }
        source.SetRecord(base->Record());
        for (TABSExpression* e : aggregates) e->Accumulate();
      }
      if (more && inGroup) {
        emitGroup();
      } else if (more && groupFields.empty()) {
        // Without GROUP BY, no rows are still one group: COUNT 0, SUM NULL.
        groupRecord.assign(static_cast<size_t>(base->BufferSize()), 0);
        base->internal = true;  // every field NULL, no defaults
        base->InitRecordBuffer(groupRecord.data());
        emitGroup();
      }
    }
  } catch (...) {
    // A failed INTO leaves no half-filled table behind.
    if (into) {
      out->CloseTable();
      try {
        out->DeleteTable();
      } catch (const std::exception& x) {
        std::fprintf(stderr, "tivoran: dropping '%s' after a failed INTO: %s\n", intoTable.c_str(), x.what());
      }
    }
    throw;
  }
  base.reset();
  if (!orderIndex.empty()) out->SetIndexName(orderIndex);
  out->SetToBegin();
  if (into) {
    statement.RowsAffected = static_cast<int32_t>(copied);
    resultReadOnly = !requestLive;
  }
  result_ = std::move(out);
}
