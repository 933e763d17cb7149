#pragma once
// What the install run shows a person and the answers it needs from one.
//
// The run reaches its pages, message boxes and status line only through
// this interface, so it runs the same under the wizard's forms, under a
// terminal, unattended or under a test. The root install hands every
// manager message it broadcasts to the interface:
//   -974 Status(Text)               -973 ResetStatus()
//   -998 FileStatus(Status)         -993 NewDisk(Disk)
//   -988 DownloadStatus(Status)
//   -980 Pages(dmBeforeInstall)     -979 Pages(dmAfterGoodInstall)
//   -978 Pages(dmAfterBadInstall)   -987 Pages(dmReboot)
//   any other code: Notify(Code)    (pages that follow the run's phases)
// Pages may raise EAIUserAbort: the run then ends as a user abort.
//
// Rules an implementation keeps:
//  1. MessageBox returns the button pressed; a run without a person answers
//     with the first button (OK or Yes).
//  2. Terminate asks the program to end once the run returns; the run stops
//     its own work where it asks for it.

#include <cstdint>
#include <string>

#include "platform/rtl/Object.h"

namespace setup {

// The moments at which the dialog manager shows pages.
enum TDialogMoment : uint8_t { dmBeforeInstall, dmAfterGoodInstall, dmAfterBadInstall, dmReboot };

enum TInstallButtons : uint8_t { ibOK, ibOKCancel, ibYesNo };
enum TInstallAnswer : uint8_t { iaOK, iaCancel, iaYes, iaNo };

// Progress of the file being installed and of the run as a whole.
class TFileStatusParameter : public plat::TObject {
 public:
  std::string ClassName() const override { return "TFileStatusParameter"; }
  int64_t FileBytesDone = 0;
  int32_t FilePercentDone = 0;
  std::string FileName;
  int64_t OverallBytesDone = 0;
  int32_t OverallPercentDone = 0;
  bool Finished = false;
};

// A volume of the archive that is missing: Path is where it is looked for
// and may be changed; Handled tells that a page took care of the request.
class TDiskParameter : public plat::TObject {
 public:
  std::string ClassName() const override { return "TDiskParameter"; }
  int32_t Disk = 0;
  std::string Path;
  bool Handled = false;
};

// Progress of an archive being fetched from the network. Percentage is 0
// while the total is unknown.
class TDownloadStatusParameter : public plat::TObject {
 public:
  std::string ClassName() const override { return "TDownloadStatusParameter"; }
  std::string FileName;
  int32_t Total = 0;
  int32_t Received = 0;
  int32_t Percentage = 0;
  int32_t LastValue = 0;  // the bytes of the chunk just received
};

class TInstallUI {
 public:
  virtual ~TInstallUI() = default;

  virtual void Status(const std::string& Text) = 0;
  virtual void ResetStatus() = 0;
  virtual void FileStatus(const TFileStatusParameter& Status) = 0;
  virtual void NewDisk(TDiskParameter& Disk) = 0;
  virtual void DownloadStatus(const TDownloadStatusParameter& Status) = 0;
  virtual void Pages(TDialogMoment Moment) = 0;
  virtual void Notify(int32_t Code) = 0;
  virtual TInstallAnswer MessageBox(const std::string& Text, TInstallButtons Buttons) = 0;
  // An exception the run could not handle, shown as the application would.
  virtual void ShowException(const std::string& ClassName, const std::string& Message) = 0;
  virtual void Terminate() = 0;
};

}  // namespace setup
