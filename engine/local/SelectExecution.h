// SelectExecution: TABSSelectExecution, the executor of query statements
// over one session (sql/ABSSQLProcessor.h contract 5), and
// TABSQueryResultCursor, the cursor a query hands to its owner.
//
// The operators read base tables through cursors of this layer, so the
// executor lives here rather than beside the parse trees; the processor
// reaches it through TABSSQLExecutor and never includes this header.
//
// What runs: a SELECT block over one base table of the session's
// database: the select list (every field, plain columns with pseudonyms,
// computed items), WHERE (the base cursor's query condition, which may
// drive an index range), GROUP BY and HAVING with the aggregates,
// DISTINCT, ORDER BY by name or position, TOP count[, first], INTO a new
// table of the same database. Joins, set operations, derived tables, other
// databases, MEMORY tables and a TOP with ORDER BY over groups raise 30350
// "Not implemented yet" before any table is opened.
//
// Contract
//  1. A live request answers the base table's own cursor (editable) when
//     the list holds only plain columns and there is no TOP, DISTINCT or
//     INTO: the WHERE is
//     its query condition, ORDER BY its current index (found or made), the
//     list its projection. Any other query is a snapshot: the rows are
//     copied into a new TEMP table, ordered by an index defined on it, and
//     the answer is a read-only cursor on it; the TEMP table is dropped
//     when that cursor is destroyed.
//  2. A snapshot holds the base table's read lock while it copies (900
//     attempts 100 ms apart, then 20225 "Table is locked") and releases it
//     on every path, exceptions included.
//  3. The result has one owner: the executor until TakeResult hands it
//     over; a new execution or the executor's end frees one not taken.
//  4. Names: a plain column keeps its pseudonym, else its field name; a
//     computed one its pseudonym, else "Expr" and a GUID; equal names are
//     made unique (SQLResultNames.h contract 2).
//  5. DISTINCT keeps the first of equal rows (two NULLs are equal); TOP
//     counts the rows kept. INTO creates the table with the result's
//     columns and fills it in ORDER BY order; the result is a cursor on
//     it, editable for a live request, and RowsAffected its row count. A
//     target that exists, the table read included, is refused with 10515
//     before anything runs; a copy that fails drops the new table.
//  6. Grouping: one pass over the rows in the order of the group columns;
//     two NULLs fall in one group. Without GROUP BY the rows are one group,
//     so an aggregate over no rows still gives one row. A plain item must
//     be a group column (10342), a computed one name group columns only
//     outside its aggregates (20269); a GROUP BY name is a column or the
//     pseudonym of a plain item (20245).
//  7. Errors: a table that cannot be opened 10303; an unknown column of
//     the list 10305; a qualifier that is neither the table's name nor its
//     alias 30327; a WHERE naming a column no table has 30144; ORDER BY
//     beyond the columns 20243, or naming none of them 30195.
//
// Thread use: the thread of the processor that calls it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "local/LocalCursor.h"
#include "sql/ABSSQLProcessor.h"

class TABSQueryResultCursor : public TABSLocalCursor {
 public:
  // A live result: a cursor on a table of `session`.
  explicit TABSQueryResultCursor(TABSLocalSession& session);
  // A snapshot: a cursor on a TEMP table of `temp`, which it owns, and
  // drops the table when destroyed (contract 1).
  explicit TABSQueryResultCursor(std::unique_ptr<TABSLocalSession> temp);
  ~TABSQueryResultCursor() override;

  bool Snapshot() const { return temp_ != nullptr; }

 private:
  // Declared before the base's use of it is possible: the base only keeps
  // the reference while constructing.
  std::unique_ptr<TABSLocalSession> temp_;
};

class TABSSelectExecution : public TABSSQLExecutor {
 public:
  explicit TABSSelectExecution(TABSLocalSession& session) : session_(session) {}
  ~TABSSelectExecution() override;

  void ExecuteSelect(TABSSQLUnion& statement, bool requestLive, bool& resultReadOnly) override;

  // Contract 3: the result of the last execution, or null.
  std::unique_ptr<TABSQueryResultCursor> TakeResult() { return std::move(result_); }
  bool HasResult() const { return result_ != nullptr; }

  // The bound of the read lock's wait (contract 2); tests shorten it.
  int32_t lockAttempts = 900;
  int32_t lockDelayMs = 100;

 private:
  TABSLocalSession& session_;
  std::unique_ptr<TABSQueryResultCursor> result_;
};
