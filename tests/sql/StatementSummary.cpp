#include "StatementSummary.h"

#include <cstdio>

#include "sql/DDLIndex.h"
#include "sql/DDLTableManipulation.h"
#include "sql/SQLDataStatements.h"
#include "sql/SQLResultNames.h"
#include "sql/SQLSelect.h"
#include "sql/SQLTransaction.h"
#include "support/EngineError.h"

namespace {

std::string Join(const std::vector<std::string>& parts, const char* separator = ",") {
  std::string s;
  for (size_t i = 0; i < parts.size(); ++i) s += (i ? separator : "") + parts[i];
  return s;
}

std::string Qualified(const std::string& qualifier, const std::string& name) {
  return qualifier.empty() ? name : qualifier + "." + name;
}

std::string Value(const TABSVariant* v) {
  if (!v || v->IsNull()) return "NULL";
  if (IsIntegerStorage(v->StorageType())) return std::to_string(v->AsLargeint());
  if (IsFloatStorage(v->StorageType())) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%g", v->AsDouble());
    return buf;
  }
  return "'" + v->AsString() + "'";
}

std::string Union(const TABSSQLUnion& u);

std::string Reference(const TABSTableReference& r) {
  std::string s;
  if (r.Kind == trkTable) {
    s = (r.InMemory ? "MEMORY " : "") + Qualified(r.DatabaseName, r.TableName);
    if (!r.Password.empty()) s += " PASSWORD " + r.Password;
  } else if (r.Kind == trkDerived) {
    s = "(" + Union(*r.Subquery) + ")";
  } else {
    static const char* kTypes[] = {"CROSS", "INNER", "LEFT", "RIGHT", "FULL"};
    s = "(" + Reference(*r.Left) + (r.Natural ? " NATURAL " : " ") + kTypes[r.JoinType] + " " + Reference(*r.Right);
    if (r.OnCondition) s += " ON";
    if (r.HasUsing) s += " USING(" + Join(r.UsingFields) + ")";
    s += ")";
  }
  if (!r.Alias.empty()) s += " AS " + r.Alias;
  return s;
}

std::string Sort(const std::vector<TABSSortSpecification>& sorts) {
  std::vector<std::string> parts;
  for (const auto& s : sorts) parts.push_back(Qualified(s.TableName, s.FieldName) + (s.Descending ? " DESC" : ""));
  return Join(parts);
}

std::string Into(const TABSSQLCursorCommand& c) {
  if (c.IntoTable.empty()) return "";
  return std::string(" INTO ") + (c.IntoInMemory ? "MEMORY " : "") + (c.IntoImmediate ? "IMMEDIATE " : "") +
         Qualified(c.IntoDatabase, c.IntoTable);
}

std::string Select(const TABSSQLSelect& q) {
  std::string s = "SELECT";
  if (q.Distinct) s += " DISTINCT";
  if (q.TopCount >= 0) s += " TOP " + std::to_string(q.TopCount);
  if (q.TopFirst >= 0) s += "," + std::to_string(q.TopFirst);
  if (q.SelectAll) {
    s += " *";
  } else {
    std::vector<std::string> items;
    for (const auto& i : q.SelectList) {
      std::string item = i.IsExpression && !i.Repeated ? "<expr>" : Qualified(i.TableName, i.FieldName);
      if (i.Repeated) item += "!";
      if (!i.Pseudonym.empty()) item += " AS " + i.Pseudonym;
      items.push_back(item);
    }
    s += " " + Join(items);
    std::vector<std::string> names = SelectResultNames(q);
    for (auto& n : names)
      if (n.rfind("Expr{", 0) == 0) n = "Expr{GUID}";
    s += " [" + Join(names) + "]";
  }
  s += Into(q);
  std::vector<std::string> from;
  for (const auto& r : q.FromTables) from.push_back(Reference(*r));
  s += " FROM " + Join(from);
  if (q.Where) s += " WHERE";
  if (!q.GroupBy.empty()) {
    std::vector<std::string> group;
    for (const auto& g : q.GroupBy) group.push_back(Qualified(g.TableName, g.FieldName));
    s += " GROUP " + Join(group);
  }
  if (q.Having) s += " HAVING";
  if (!q.SortSpecifications.empty()) s += " ORDER " + Sort(q.SortSpecifications);
  return s;
}

std::string Node(const TABSQueryExprNode& n) {
  if (n.Operation == asoLeaf) return Select(*n.Select);
  static const char* kOps[] = {"", "UNION", "EXCEPT", "INTERSECT"};
  std::string op = kOps[n.Operation];
  if (n.All) op += " ALL";
  if (n.Corresponding) op += " CORRESPONDING";
  if (!n.CorrespondingFields.empty()) op += " BY(" + Join(n.CorrespondingFields) + ")";
  return "{" + Node(*n.Left) + " " + op + " " + Node(*n.Right) + "}";
}

std::string Union(const TABSSQLUnion& u) {
  std::string s = Node(*u.Root);
  if (!u.SortSpecifications.empty()) s += " ORDER(ALL) " + Sort(u.SortSpecifications);
  return s + Into(u);
}

std::string Target(const TABSSQLTarget& t) {
  std::string s = (t.InMemory ? "MEMORY " : "") + Qualified(t.DatabaseName, t.TableName);
  if (!t.Alias.empty()) s += " AS " + t.Alias;
  if (!t.Password.empty()) s += " PASSWORD " + t.Password;
  return s;
}

std::string Field(const TSQLFieldDef& f) {
  std::string s = f.Name + (f.IfNotExists ? " IF NOT EXISTS" : "") + " " + DataTypeName(f.DataType);
  if (f.SizeGiven) s += "(" + std::to_string(f.Size) + ")";
  if (f.IncrementGiven) s += " INC " + std::to_string(f.Increment);
  if (f.InitialValueGiven) s += " INIT " + std::to_string(f.InitialValue);
  if (f.AutoincMinGiven) s += " AMIN " + std::to_string(f.AutoincMin);
  if (f.AutoincMaxGiven) s += " AMAX " + std::to_string(f.AutoincMax);
  if (f.CycledGiven) s += f.Cycled ? " CYCLED" : " NOCYCLED";
  if (f.NullGiven) s += f.NotNull ? " NOT NULL" : " NULL";
  if (f.DefaultGiven) s += " DEFAULT " + Value(f.DefaultValue.get());
  if (f.MinValueGiven) s += " MIN " + (f.MinValue ? Value(f.MinValue.get()) : "none");
  if (f.MaxValueGiven) s += " MAX " + (f.MaxValue ? Value(f.MaxValue.get()) : "none");
  if (f.BlobBlockSizeGiven) s += " BLOCK " + std::to_string(f.BlobBlockSize);
  if (f.BlobCompressionModeGiven) s += " MODE " + std::to_string(f.BlobCompressionMode);
  if (f.BlobCompressionAlgorithmGiven) s += " ALG " + f.BlobCompressionAlgorithm;
  return s;
}

std::string Index(const TSQLIndexDef& i) {
  std::string s = i.Primary ? "PRIMARY" : i.Unique ? "UNIQUE" : "INDEX";
  if (!i.Name.empty()) s += " " + i.Name;
  std::vector<std::string> columns;
  for (const auto& c : i.Columns)
    columns.push_back(c.Name + (c.Descending ? " DESC" : "") + (c.CaseInsensitive ? " NOCASE" : ""));
  return s + "(" + Join(columns) + ")";
}

std::string Table(const TABSDDLTableManipulation& t) {
  std::string s = (t.InMemory ? "MEMORY " : "") + Qualified(t.DatabaseName, t.TableName);
  if (!t.Password.empty()) s += " PASSWORD " + t.Password;
  return s;
}

std::string Elements(const TABSDDLTableManipulation& t) {
  std::vector<std::string> parts;
  for (const auto& f : t.FieldDefs) parts.push_back(Field(f));
  for (const auto& i : t.IndexDefs) parts.push_back(Index(i));
  return "(" + Join(parts, "; ") + ")";
}

}  // namespace

std::string Summary(const TABSSQLCommand& c) {
  switch (c.Kind()) {
    case sckSelect: return Union(static_cast<const TABSSQLUnion&>(c));
    case sckInsert: {
      const auto& i = static_cast<const TABSSQLInsert&>(c);
      std::string s = "INSERT " + Target(i.Target);
      if (!i.Columns.empty()) s += " (" + Join(i.Columns) + ")";
      if (i.Source) return s + " " + Select(*i.Source);
      std::vector<std::string> rows;
      for (const auto& r : i.Rows) rows.push_back(std::to_string(r.size()));
      return s + " VALUES " + Join(rows);
    }
    case sckUpdate: {
      const auto& u = static_cast<const TABSSQLUpdate&>(c);
      std::vector<std::string> sets;
      for (const auto& a : u.Assignments) {
        std::string set =
            a.Columns.size() == 1 && !a.RowQuery ? Qualified(a.Qualifier, a.Columns[0]) : "(" + Join(a.Columns) + ")";
        sets.push_back(set + "=" + (a.RowQuery ? "(" + Select(*a.RowQuery) + ")" : "?"));
      }
      return "UPDATE " + Target(u.Target) + " SET " + Join(sets) + " ROWS " + Select(u.Rows());
    }
    case sckDelete: return "DELETE ROWS " + Select(*static_cast<const TABSSQLDelete&>(c).Rows);
    case sckCreateTable: {
      const auto& t = static_cast<const TABSDDLCreateTable&>(c);
      return std::string("CREATE TABLE ") + (t.IfNotExists ? "IF NOT EXISTS " : "") + Table(t) + " " + Elements(t);
    }
    case sckDropTable: {
      const auto& t = static_cast<const TABSDDLDropTable&>(c);
      return std::string("DROP TABLE ") + (t.IfExists ? "IF EXISTS " : "") + Table(t);
    }
    case sckTruncateTable: return "TRUNCATE " + Table(static_cast<const TABSDDLTableManipulation&>(c));
    case sckAlterTable:
    case sckRenameTable: {
      const auto& t = static_cast<const TABSDDLAlterTable&>(c);
      std::string s = std::string(c.Kind() == sckAlterTable ? "ALTER TABLE " : "RENAME TABLE ") + Table(t);
      switch (t.Action) {
        case aaaAdd: return s + " ADD " + Elements(t);
        case aaaModify: return s + " MODIFY " + Elements(t);
        case aaaDrop: return s + " DROP (" + Join(t.DropColumns) + ")";
        case aaaRenameTable: return s + " TO " + t.NewTableName;
        case aaaRenameColumn: return s + " COLUMN " + t.OldColumnName + " TO " + t.NewColumnName;
      }
      return s;
    }
    case sckCreateIndex: {
      const auto& i = static_cast<const TABSDDLCreateIndex&>(c);
      std::string s =
          "CREATE " + Index(i.Index) + " ON " + (i.InMemory ? "MEMORY " : "") + Qualified(i.DatabaseName, i.TableName);
      if (!i.Alias.empty()) s += " AS " + i.Alias;
      if (!i.Password.empty()) s += " PASSWORD " + i.Password;
      return s;
    }
    case sckDropIndex: {
      const auto& i = static_cast<const TABSDDLDropIndex&>(c);
      std::string s = std::string("DROP INDEX ") + (i.InMemory ? "MEMORY " : "") +
                      Qualified(Qualified(i.DatabaseName, i.TableName), i.IndexName);
      if (!i.Password.empty()) s += " PASSWORD " + i.Password;
      return s;
    }
    case sckStartTransaction: return "START TRANSACTION";
    case sckCommit: return static_cast<const TABSSQLCommit&>(c).Flush ? "COMMIT FLUSH" : "COMMIT";
    case sckRollback: return "ROLLBACK";
  }
  return "?";
}

std::string SummaryOf(const std::string& text, const TABSSQLParams* params) {
  std::string summary;
  const std::string error = EngineErrorText([&] {
    TABSLexer lexer(text, false, params);
    if (!lexer.NextCommand()) throw std::runtime_error("no statement in the case's text");
    summary = Summary(*ParseStatement(lexer, TABSSQLQueryInfo{}));
  });
  return error == "no error" ? summary : error;
}
