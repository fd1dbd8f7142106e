#include "access/AccessDialogs.h"

namespace {

TABSAccessDialogs*& Installed() {
  static TABSSilentDialogs silent;
  static TABSAccessDialogs* installed = &silent;
  return installed;
}

}  // namespace

std::unique_ptr<TABSWait> TABSSilentDialogs::BeginWait(const std::string&) {
  struct Silent : TABSWait {
    void Progress(int) override {}
    bool AbortRequested() override { return false; }
  };
  return std::make_unique<Silent>();
}

TABSAccessDialogs& AccessDialogs() { return *Installed(); }

TABSScopedAccessDialogs::TABSScopedAccessDialogs(TABSAccessDialogs& dialogs) : previous_(Installed()) {
  Installed() = &dialogs;
}

TABSScopedAccessDialogs::~TABSScopedAccessDialogs() { Installed() = previous_; }
