// The restart tool: plays a restart of the virtual Windows. It applies the
// recorded renames and deletions of files that were in use and then runs the
// RunOnce commands, as the next start of Windows would.
//
//   restart [root]     (without root: the machine of the root variable)

#include <cstdio>

#include "platform/rtl/Exceptions.h"
#include "platform/win/Restart.h"
#include "platform/win/WinPaths.h"

int main(int argc, char** argv) {
  try {
    const std::string root = argc > 1 ? argv[1] : plat::win::WinRoot();
    const plat::win::TRestartReport report = plat::win::ApplyPendingRestart(root);
    for (const std::string& failure : report.Failures) {
      std::fprintf(stderr, "restart: %s\n", failure.c_str());
    }
    std::printf("restart: %d file operations applied, %d programs run, %zu failed\n",
                report.Applied, report.Ran, report.Failures.size());
    return report.Failures.empty() ? 0 : 1;
  } catch (const plat::Exception& e) {
    std::fprintf(stderr, "restart: %s\n", e.Message().c_str());
    return 2;
  }
}
