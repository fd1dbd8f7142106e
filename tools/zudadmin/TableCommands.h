// The table commands of zudadmin: create-table, import, tables, schema,
// dump, check and repair (thin callers of the engine's CheckDatabase and
// RepairDatabase). Each answers the process exit code (0 done, 1 an engine
// error or a fault found); a wrong command line raises UsageText. `password` opens an encrypted database (empty for a
// plain one).
#pragma once

#include <string>
#include <vector>

#include "disk/DiskCrypto.h"

struct UsageText {
  std::string text;
};

// --durable: every commit of the table commands flushes its journal, its
// pages and the header to the disk (TABSDiskPageManager::SetDurableCommits),
// so a power cut leaves the state before or after it.
void SetDurableCommits(bool durable);

int CreateTableCommand(const std::string& file, const TABSPassword& password, const std::vector<std::string>& args);
int ImportCommand(const std::string& file, const TABSPassword& password, const std::vector<std::string>& args);
int TablesCommand(const std::string& file, const TABSPassword& password, const std::vector<std::string>& args);
int SchemaCommand(const std::string& file, const TABSPassword& password, const std::vector<std::string>& args);
int DumpCommand(const std::string& file, const TABSPassword& password, const std::vector<std::string>& args);
int CheckCommand(const std::string& file, const TABSPassword& password, const std::vector<std::string>& args);
int RepairCommand(const std::string& file, const TABSPassword& password, const std::vector<std::string>& args);
