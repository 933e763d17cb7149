#include <string>
#include <vector>

#include "platform/forms/Forms.h"
#include "setup/app/OstraDemoInstall.h"

int main(int argc, char** argv) {
  const int code = setup::RunOstraDemoInstall(std::vector<std::string>(argv + 1, argv + argc));
  // The forms go while the registries their dialogs leave are still there.
  plat::FreeApplication();
  return code;
}
