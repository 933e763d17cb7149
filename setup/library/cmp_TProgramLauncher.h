#pragma once
// The program launcher: starts a program (after the installation) as a new
// process and waits until it is ready for input.

#include <cstdint>
#include <string>

#include "platform/rtl/Components.h"
#include "setup/library/exceptions_Quillane.h"

namespace setup {

enum TplShowMode : uint8_t { smNormal, smMaximized, smMinimized, smHide };

// The text of a launcher failure code ("File not found" for 2, ...).
std::string LauncherErrorText(int32_t Code);
// Raises EProgramLauncherFailed with Code and its text.
[[noreturn]] void LauncherError(int32_t Code);

class TProgramLauncher : public plat::TComponent {
 public:
  explicit TProgramLauncher(plat::TComponent* AOwner) : plat::TComponent(AOwner) {}
  std::string ClassName() const override { return "TProgramLauncher"; }

  // Starts FileName with Parameters; a failed start raises the launcher
  // error for code 0. StartDir, Action, Timeout and Wait are kept for the
  // form but the launch does not use them.
  void Execute();

  const std::string& Action() const { return action_; }
  void SetAction(const std::string& Value) { action_ = Value; }
  const std::string& FileName() const { return fileName_; }
  void SetFileName(const std::string& Value) { fileName_ = Value; }
  const std::string& Parameters() const { return parameters_; }
  void SetParameters(const std::string& Value) { parameters_ = Value; }
  const std::string& StartDir() const { return startDir_; }
  void SetStartDir(const std::string& Value) { startDir_ = Value; }
  TplShowMode ShowMode() const { return showMode_; }
  void SetShowMode(TplShowMode Value) { showMode_ = Value; }
  int32_t Timeout() const { return timeout_; }
  void SetTimeout(int32_t Value) { timeout_ = Value; }
  bool Wait() const { return wait_; }
  void SetWait(bool Value) { wait_ = Value; }

  const plat::TPropList& PublishedProperties() const override;

 private:
  std::string action_ = "Open";
  std::string fileName_;
  std::string parameters_;
  std::string startDir_;
  TplShowMode showMode_ = smNormal;
  int32_t timeout_ = -1;
  bool wait_ = true;
};

}  // namespace setup
