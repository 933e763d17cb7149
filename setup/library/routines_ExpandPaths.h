#pragma once
// The shell folders the installer installs into, read from the "Shell
// Folders" and current-version registry values, with defaults below the
// Windows folder when a value is missing. None ends with "\".

#include <string>

namespace setup {

inline constexpr const char* kShellFoldersKey =
    "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
inline constexpr const char* kCurrentVersionKey = "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

std::string StartMenuPath();
std::string ProgramsMenuPath();
std::string DesktopPath();
std::string StartupMenuPath();
std::string ProgramFilesPath();
std::string CommonFilesPath();

}  // namespace setup
