#pragma once
// Pending work of a restart and the tool that plays the restart.
//
// A move or deletion delayed until the next restart (MoveFileEx with
// MOVEFILE_DELAY_UNTIL_REBOOT) is recorded where Windows records it: the
// multi-string value "PendingFileRenameOperations" of HKEY_LOCAL_MACHINE
// "SYSTEM\CurrentControlSet\Control\Session Manager", as pairs of
// "\??\<source>" and "\??\<target>" ("!" before the target: replace an
// existing file; an empty target: delete the source). The older Windows line
// records its own in the [Rename] section of "WININIT.INI" in the Windows
// folder ("<target>=<source>", target "NUL" deletes).

#include <string>
#include <vector>

namespace plat::win {

inline constexpr const char* kSessionManagerKey =
    "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
inline constexpr const char* kPendingRenameValue = "PendingFileRenameOperations";
inline constexpr const char* kRunOnceKey = "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

struct TPendingRename {
  std::string Source;
  std::string Target;  // empty: delete Source
  bool ReplaceExisting = false;
};

// Appends one pending operation (Windows paths).
void AddPendingRename(const std::string& source, const std::string& target, bool replaceExisting);
// The operations recorded so far, in order.
std::vector<TPendingRename> PendingRenames();

struct TRestartReport {
  int Applied = 0;  // renames and deletions done
  int Ran = 0;      // RunOnce commands started
  std::vector<std::string> Failures;
};

// Plays a restart of the machine under root (which becomes the process's
// root, and so the root of every program it starts): applies the pending
// renames and deletions, then the [Rename] section of WININIT.INI (which is
// then renamed WININIT.BAK), clears the restart request, and runs the RunOnce
// commands of HKEY_LOCAL_MACHINE and then of HKEY_CURRENT_USER in value
// order, each removed before it runs (after, when its name begins with "!")
// and waited for. An operation that fails is reported and the rest go on.
TRestartReport ApplyPendingRestart(const std::string& root);

}  // namespace plat::win
