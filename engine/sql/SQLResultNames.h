// SQLResultNames: the names of the columns of a query's result.
//
// Contract
//  1. A plain item is named by its pseudonym, else its field name; a
//     computed item by its pseudonym, else "Expr" followed by a new GUID's
//     text ("Expr{...}"). "*" and "t.*" items stand for the columns of
//     their tables, known only at execution; they are named "*" and "t.*".
//  2. MakeNamesUnique leaves the first of equal names (compared ignoring
//     ASCII case) as it is and extends each later one: first by "_1"; while
//     that collides with an earlier name, the digits of 2, then 3, ... are
//     appended to the previous attempt, so three columns named id come out
//     as id, id_1 and id_12. An empty name becomes "Expr" and a new GUID.
//
// Thread use: pure functions; GUIDs come from the process-wide generator.
#pragma once

#include <string>
#include <vector>

class TABSSQLSelect;

std::vector<std::string> SelectResultNames(const TABSSQLSelect& select);
void MakeNamesUnique(std::vector<std::string>& names);
