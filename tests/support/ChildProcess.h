// ChildProcess: runs the disk test helper as a real second process, with a
// pipe to read what it prints. Every wait is bounded; a child that outlives
// its test is killed by the destructor, and a test may kill it sooner
// (Kill) to stop it at an arbitrary point of its work.
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
  // SIGKILL now, then reaped: the child stops wherever it is, as a process
  // the system kills does. What it printed before stays readable through
  // ReadLine, which then reports the end of its output. Returns what Wait
  // would (128 + SIGKILL, or the exit code of a child that had ended), -1
  // when it was already reaped.
  int Kill();
  // The child's process id while it is not reaped, else -1.
  int Pid() const { return pid_; }

 private:
  int pid_ = -1;
  int out_ = -1;
  int in_ = -1;
  std::string buffered_;
};
