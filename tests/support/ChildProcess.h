// ChildProcess: runs the disk test helper as a real second process, with a
// pipe to read what it prints. Every wait is bounded; a child that outlives
// its test is killed by the destructor.
#pragma once

#include <string>
#include <vector>

// Path of the helper binary (set by the build).
const char* HelperPath();

class ChildProcess {
 public:
  // Runs `program` (the helper by default) with args; its standard output
  // and standard error both come through ReadLine.
  explicit ChildProcess(const std::vector<std::string>& args, const std::string& program = HelperPath());
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // The next line the child prints (without the newline); "" on timeout/EOF.
  std::string ReadLine(int timeoutMs = 20000);
  // Writes a line to the child's standard input.
  void WriteLine(const std::string& line);
  // Exit code, or -1 when the child did not end in time (it is then killed).
  int Wait(int timeoutMs = 30000);

 private:
  int pid_ = -1;
  int out_ = -1;
  int in_ = -1;
  std::string buffered_;
};
