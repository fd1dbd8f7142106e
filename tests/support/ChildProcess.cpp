#include "support/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <thread>

const char* HelperPath() { return DISK_HELPER_PATH; }

ChildProcess::ChildProcess(const std::vector<std::string>& args, const std::string& program) {
  int outPipe[2], inPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(inPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork");
  if (pid_ == 0) {
    dup2(outPipe[1], 1);
    dup2(outPipe[1], 2);
    dup2(inPipe[0], 0);
    std::vector<char*> argv;
    std::string path = program;
    argv.push_back(path.data());
    std::vector<std::string> copy = args;
    for (auto& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(path.c_str(), argv.data());
    _exit(127);
  }
  close(outPipe[1]);
  close(inPipe[0]);
  out_ = outPipe[0];
  in_ = inPipe[1];
}

ChildProcess::~ChildProcess() {
  if (in_ >= 0) close(in_);
  if (pid_ > 0) {
    if (Wait(5000) < 0) {
      // Wait already killed it.
    }
  }
  if (out_ >= 0) close(out_);
}

std::string ChildProcess::ReadLine(int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    auto nl = buffered_.find('\n');
    if (nl != std::string::npos) {
      std::string line = buffered_.substr(0, nl);
      buffered_.erase(0, nl + 1);
      return line;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return "";
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) return "";
    char buf[512];
    ssize_t n = read(out_, buf, sizeof buf);
    if (n <= 0) return "";
    buffered_.append(buf, static_cast<size_t>(n));
  }
}

void ChildProcess::WriteLine(const std::string& line) {
  std::string s = line + "\n";
  if (write(in_, s.data(), s.size()) < 0) {
    // The child is gone; Wait reports it.
  }
}

int ChildProcess::Kill() {
  if (pid_ <= 0) return -1;
  kill(pid_, SIGKILL);
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int ChildProcess::Wait(int timeoutMs) {
  if (pid_ <= 0) return -1;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  int status = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      pid_ = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, &status, 0);
  pid_ = -1;
  return -1;
}
