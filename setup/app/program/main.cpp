#include <string>
#include <vector>

#include "setup/app/OstraDemoInstall.h"

int main(int argc, char** argv) {
  return setup::RunOstraDemoInstall(std::vector<std::string>(argv + 1, argv + argc));
}
