// Runs the admin tool as a user would and collects what it prints.
// Needs ZUDADMIN_PATH, the tool's path, defined for the test target.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/ChildProcess.h"
#include "disk/ZUDDiskEngine.h"

struct ToolRun {
  int exitCode = -1;
  std::vector<std::string> lines;
  bool Has(const std::string& line) const { return std::find(lines.begin(), lines.end(), line) != lines.end(); }
  bool HasPart(const std::string& part) const {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& l) { return l.find(part) != std::string::npos; });
  }
};

inline ToolRun Zudadmin(const std::vector<std::string>& args) {
  ChildProcess p(args, ZUDADMIN_PATH);
  ToolRun r;
  for (std::string line = p.ReadLine(20000); !line.empty(); line = p.ReadLine(20000)) r.lines.push_back(line);
  r.exitCode = p.Wait();
  return r;
}

// Runs the tool's check of a database nobody changes meanwhile and expects
// it to be a thin caller of the engine's check: it prints the lines of the
// engine's report on the same file, exactly, and exits 0 when the report
// has no problem, 1 when it has. `typedPassword` is given to the tool as
// typed and to the engine as its Windows-1252 bytes, as the tool does.
inline ToolRun ExpectToolCheckAsEngine(const std::string& path, const std::string& typedPassword = "") {
  std::vector<std::string> args = {"check", path};
  if (!typedPassword.empty()) args.insert(args.end(), {"--password", typedPassword});
  const ToolRun r = Zudadmin(args);
  const TABSCheckReport report = CheckDatabase(path, TABSPassword{PasswordBytesFromUtf8(typedPassword), 0});
  EXPECT_EQ(r.lines, report.Lines());
  EXPECT_EQ(r.exitCode, report.Ok() ? 0 : 1);
  return r;
}
