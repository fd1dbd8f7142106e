#include "access/AccessDialogs.h"

namespace {

TABSAccessDialogs*& Installed() {
  static TABSSilentDialogs silent;
  static TABSAccessDialogs* installed = &silent;
  return installed;
}

}  // namespace

TABSAccessDialogs& AccessDialogs() { return *Installed(); }

TABSScopedAccessDialogs::TABSScopedAccessDialogs(TABSAccessDialogs& dialogs) : previous_(Installed()) {
  Installed() = &dialogs;
}

TABSScopedAccessDialogs::~TABSScopedAccessDialogs() { Installed() = previous_; }
