#pragma once
// The virtual Windows of the setup program: one folder of the host (the root)
// holds the whole emulated machine. Each drive letter is a folder under the
// root ("C" for C:, "A" for the floppy drive), except Z:, which is the host's
// "/". The registry, the system configuration and the restart state live in
// the root beside the drives.
//
// Windows-form paths ("C:\Program Files\Kit\a.txt") are mapped to host paths
// component by component: an existing file or folder is found ignoring case,
// as on Windows; the first missing component and everything after it keep the
// case they were given in, so a file created under a new name keeps its name.

#include <cstdint>
#include <string>
#include <vector>

namespace plat::win {

// Environment variable naming the root; without it the root is
// "$XDG_DATA_HOME/zel/windows" (or "~/.local/share/zel/windows").
inline constexpr const char* kRootVariable = "ZEL_WINDOWS_ROOT";

// The root folder (host path, no trailing "/").
std::string WinRoot();

// Makes sure the root holds a machine: drives C: and A:, the Windows, system,
// temporary and program folders, the user's shell folders, the system
// configuration and the seeded registry values. Runs once per root (later
// calls find the configuration and return); safe against other processes
// doing the same at the same moment.
void EnsureWindowsRoot();

// Windows case rules for names: two names are the same name when their upper
// forms agree.
std::string UpperName(const std::string& name);
bool SameName(const std::string& a, const std::string& b);

// The host path for a Windows path. "/" is taken as "\" too. A path without
// drive that starts with "\" is on C:; a relative path is relative to the
// process's current folder. "." and ".." are resolved; ".." never climbs
// above a drive's root.
std::string HostPath(const std::string& winPath);

// The Windows path of a host path: under a drive folder of the root it is that
// drive's path, anything else is on Z:.
std::string WinPathFromHost(const std::string& hostPath);

// Parts of a Windows path, by Windows rules ("C:\a\b.txt" has the directory
// "C:\a\", the name "b.txt" and the extension ".txt").
std::string ExtractWinFileDir(const std::string& winPath);   // no trailing "\" (but "C:\")
std::string ExtractWinFilePath(const std::string& winPath);  // with trailing "\"
std::string ExtractWinFileName(const std::string& winPath);
std::string ExtractWinFileExt(const std::string& winPath);
std::string ExtractWinFileDrive(const std::string& winPath);  // "C:" or ""

// Splits a Windows path into its drive ("C:" or "") and its components.
struct TWinPathParts {
  std::string Drive;
  bool Absolute = false;  // begins at a drive's root
  std::vector<std::string> Components;
};
TWinPathParts SplitWinPath(const std::string& winPath);

}  // namespace plat::win
