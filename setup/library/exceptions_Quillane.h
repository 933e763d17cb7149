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
#include <initializer_list>
#include <string>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Format.h"

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

// The text through the global translator (defined in cmp_TTranslator).
std::string TranslateText(const std::string& Text);

// The installer's translatable exception: its message is the text it was made
// with, translated by the global translator when there is one. CreateFmt
// translates the format first, then fills it in.
class IException : public ECustomQuillaneAbnormal {
 public:
  explicit IException(const std::string& Msg) : ECustomQuillaneAbnormal(TranslateText(Msg)) {}
  std::string ClassName() const override { return "IException"; }

  template <class E = IException>
  static E CreateFmt(const std::string& Fmt, std::initializer_list<plat::TVarRec> Args) {
    E error(std::string{});
    error.SetMessage(plat::Format(TranslateText(Fmt), Args));
    return error;
  }
};

}  // namespace setup
