// The kit's setup program.

#include "setup/app/OstraDemoInstall.h"

#include "platform/forms/Forms.h"
#include "setup/app/frmMain.h"
#include "setup/library/cmp_TInstall.h"

namespace setup {

int RunOstraDemoInstall(const std::vector<std::string>& Arguments) {
  RegisterSetupClasses();
  SetProgramArguments(Arguments);
  auto* form = new TMainForm(plat::Application());
  plat::Application()->SetMainForm(form);
  plat::Application()->Run();
  return 0;
}

}  // namespace setup
