#include "setup/library/cmp_TProgramLauncher.h"

#include "platform/rtl/Published.h"
#include "platform/win/Processes.h"

namespace setup {

std::string LauncherErrorText(int32_t Code) {
  switch (Code) {
    case 0:
    case 8:
      return "Out of memory";
    case 2:
      return "File not found";
    case 3:
      return "Path not found";
    case 5:
      return "Sharing violation";
    case 6:
      return "Library/Segment error";
    case 10:
      return "Incorrect version of windows";
    case 11:
      return "Invalid file";
    case 12:
    case 13:
      return "Invalid DOS version";
    case 14:
    case 31:
      return "File type has no association";
    case 15:
      return "Cannot load a Real-mode application";
    case 16:
      return "Invalid attempt to launch second instance";
    case 19:
      return "Cannot load a compressed executable file";
    case 20:
      return "Invalid dynamic link library";
    case 21:
      return "Application requires Win32";
    default:
      return "Unknown error";
  }
}

void LauncherError(int32_t Code) {
  throw EProgramLauncherFailed(Code, LauncherErrorText(Code));
}

void TProgramLauncher::Execute() {
  namespace w = plat::win;
  static constexpr uint16_t kShowCommands[] = {w::SW_SHOWNORMAL, w::SW_SHOWMAXIMIZED,
                                               w::SW_SHOWMINIMIZED, w::SW_HIDE};
  w::TStartupInfo startup;
  startup.dwFlags = w::STARTF_USESHOWWINDOW | w::STARTF_FORCEONFEEDBACK;
  startup.wShowWindow = kShowCommands[showMode_];
  // The program's own name leads its command line, so the program sees
  // Parameters as its arguments.
  std::string commandLine = "\"" + fileName_ + "\"";
  if (!parameters_.empty()) commandLine += " " + parameters_;
  w::TProcessInformation process;
  if (!w::CreateProcess(fileName_, commandLine, false, w::NORMAL_PRIORITY_CLASS, "", startup,
                        process)) {
    LauncherError(0);
  }
  w::WaitForInputIdle(process, w::INFINITE);
  w::CloseProcessHandle(process);
}

const plat::TPropList& TProgramLauncher::PublishedProperties() const {
  static const plat::TPropList list =
      plat::TPublished<TProgramLauncher>(plat::TComponent::PublishedProperties())
          .String("Action", &TProgramLauncher::Action, &TProgramLauncher::SetAction, "Open")
          .String("FileName", &TProgramLauncher::FileName, &TProgramLauncher::SetFileName)
          .String("Parameters", &TProgramLauncher::Parameters, &TProgramLauncher::SetParameters)
          .Enumeration("ShowMode", &TProgramLauncher::ShowMode, &TProgramLauncher::SetShowMode,
                       {"smNormal", "smMaximized", "smMinimized", "smHide"}, smNormal)
          .String("StartDir", &TProgramLauncher::StartDir, &TProgramLauncher::SetStartDir)
          .Integer("Timeout", &TProgramLauncher::Timeout, &TProgramLauncher::SetTimeout, -1)
          .Boolean("Wait", &TProgramLauncher::Wait, &TProgramLauncher::SetWait, true);
  return list;
}

}  // namespace setup
