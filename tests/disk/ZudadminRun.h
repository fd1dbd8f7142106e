// Runs the admin tool as a user would and collects what it prints.
// Needs ZUDADMIN_PATH, the tool's path, defined for the test target.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ChildProcess.h"

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

// What the tool's check says of a database nobody changes meanwhile: "ok"
// alone, and exit 0.
inline void ExpectCheckOk(const std::string& path) {
  const ToolRun r = Zudadmin({"check", path});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.lines, std::vector<std::string>{"ok"});
}
