// AccessDialogs: how the data-access components ask the user something
// without knowing any widget toolkit. The components call the process-wide
// TABSAccessDialogs; the Qt layer installs one that shows the password
// dialog and message boxes, tests install scripted ones, and the default
// answers as a silent program would (no password, no repair, nothing
// shown).
//
// Thread use: the GUI thread.
#pragma once

#include <memory>
#include <string>

class TABSDatabase;

// The wait dialog of a long operation while it runs: the operation reports
// its progress and asks, between steps, whether the user chose Abort.
class TABSWait {
 public:
  virtual ~TABSWait() = default;
  virtual void Progress(int percent) = 0;
  virtual bool AbortRequested() = 0;
};

class TABSAccessDialogs {
 public:
  virtual ~TABSAccessDialogs() = default;
  // The wait dialog with `message`, for as long as the object lives.
  virtual std::unique_ptr<TABSWait> BeginWait(const std::string& message) = 0;
  // The password dialog: true to retry with the database's Password, which
  // the dialog has set.
  virtual bool AskPassword(TABSDatabase& database) = 0;
  // A Yes/No confirmation; true for Yes.
  virtual bool Confirm(const std::string& text) = 0;
  virtual void ShowWarning(const std::string& text) = 0;
  virtual void ShowInformation(const std::string& text) = 0;
};

// Answers as a program that shows nothing: no password, No, nothing shown,
// a wait nobody can abort.
class TABSSilentDialogs : public TABSAccessDialogs {
 public:
  std::unique_ptr<TABSWait> BeginWait(const std::string&) override;
  bool AskPassword(TABSDatabase&) override { return false; }
  bool Confirm(const std::string&) override { return false; }
  void ShowWarning(const std::string&) override {}
  void ShowInformation(const std::string&) override {}
};

TABSAccessDialogs& AccessDialogs();

// Installs `dialogs` for its lifetime; scopes nest.
class TABSScopedAccessDialogs {
 public:
  explicit TABSScopedAccessDialogs(TABSAccessDialogs& dialogs);
  ~TABSScopedAccessDialogs();
  TABSScopedAccessDialogs(const TABSScopedAccessDialogs&) = delete;
  TABSScopedAccessDialogs& operator=(const TABSScopedAccessDialogs&) = delete;

 private:
  TABSAccessDialogs* previous_;
};
