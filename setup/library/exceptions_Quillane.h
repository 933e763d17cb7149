#pragma once
// The installer library's exception tree.
//
//   Exception
//     EAI > EAIUserAbort ("Installation aborted by the user")
//     EUserAbortInstall
//     ECustomQuillaneAbnormal
//       EQuillaneAbnormal
//         ETrevCompress > EtcDiskFull, EtcAborted   (the archive)
//         EAPIRoutines                               (system routines)
//         EProgramLauncher > EProgramLauncherFailed  (the launcher)
//       IException: the translatable family; its descendants (IE...,
//       EIR...) are declared by the units that raise them.

#include <cstdint>
#include <string>

#include "platform/rtl/Exceptions.h"

namespace setup {

// The runtime's root exception, under the name the installer units use.
using Exception = plat::Exception;

PLAT_DECLARE_EXCEPTION(EAI, Exception);

class EAIUserAbort : public EAI {
 public:
  EAIUserAbort() : EAI("Installation aborted by the user") {}
  std::string ClassName() const override { return "EAIUserAbort"; }
};

PLAT_DECLARE_EXCEPTION(EUserAbortInstall, Exception);
PLAT_DECLARE_EXCEPTION(ECustomQuillaneAbnormal, Exception);
PLAT_DECLARE_EXCEPTION(EQuillaneAbnormal, ECustomQuillaneAbnormal);
PLAT_DECLARE_EXCEPTION(ETrevCompress, EQuillaneAbnormal);
PLAT_DECLARE_EXCEPTION(EtcDiskFull, ETrevCompress);
PLAT_DECLARE_EXCEPTION(EtcAborted, ETrevCompress);
PLAT_DECLARE_EXCEPTION(EAPIRoutines, EQuillaneAbnormal);
PLAT_DECLARE_EXCEPTION(EProgramLauncher, EQuillaneAbnormal);

// A program that could not be started; Code is the failure code.
class EProgramLauncherFailed : public EProgramLauncher {
 public:
  EProgramLauncherFailed(int32_t code, std::string message)
      : EProgramLauncher(std::move(message)), code_(code) {}
  std::string ClassName() const override { return "EProgramLauncherFailed"; }
  int32_t Code() const { return code_; }

 private:
  int32_t code_;
};

// The installer's translatable exception. Its message is the text it was
// made with; the user-interface translator, when there is one, translates
// the texts of this family.
PLAT_DECLARE_EXCEPTION(IException, ECustomQuillaneAbnormal);

}  // namespace setup
