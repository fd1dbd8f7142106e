// A parse tree as one line of text, for tables of statement cases: the
// statement kind, its tables, its columns and the names of its result.
// Conditions and values show only where they are ("WHERE", "?"); their
// trees are the expression tests' business.
#pragma once

#include <memory>
#include <string>

#include "sql/ABSSQLProcessor.h"

std::string Summary(const TABSSQLCommand& command);

// Parses the first statement of `text` and summarises it; a failure gives
// "<code> <message>".
std::string SummaryOf(const std::string& text, const TABSSQLParams* params = nullptr);
