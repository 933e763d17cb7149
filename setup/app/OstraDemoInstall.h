#pragma once
// The setup program's main routine.

#include <string>
#include <vector>

namespace setup {

// Makes the main form and runs the application with the command line.
int RunOstraDemoInstall(const std::vector<std::string>& Arguments);

}  // namespace setup
