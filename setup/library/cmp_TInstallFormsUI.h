#pragma once
// The install run's user interface over the application's forms: status
// texts go to the application's driver, questions and errors to message
// boxes, long work lets the driver act between steps, and the end of the
// run ends the application. Pages belong to the dialog manager; Pages is
// the hook it fills in (nothing is shown here).

#include "setup/library/cmp_InstallUI.h"

namespace setup {

class TFormsInstallUI : public TInstallUI {
 public:
  void Status(const std::string& Text) override;
  void ResetStatus() override;
  void FileStatus(const TFileStatusParameter& Status) override;
  void NewDisk(TDiskParameter& Disk) override;
  void DownloadStatus(const TDownloadStatusParameter& Status) override;
  void Pages(TDialogMoment Moment) override;
  void Notify(int32_t Code) override;
  TInstallAnswer MessageBox(const std::string& Text, TInstallButtons Buttons) override;
  void ShowException(const std::string& ClassName, const std::string& Message) override;
  void Terminate() override;
};

}  // namespace setup
