#include "setup/library/routines_API.h"

#include "platform/win/WinFiles.h"
#include "platform/win/WinSystem.h"
#include "setup/library/exceptions_Quillane.h"

namespace setup {

namespace {
constexpr size_t kShortPathBuffer = 400;
}

std::string GetShortPath(const std::string& Path) {
  std::string shortPath;
  if (!plat::win::GetShortPathName(Path, shortPath) || shortPath.size() >= kShortPathBuffer) {
    return {};
  }
  return shortPath;
}

TOSVerType OSVersionFromNumbers(uint32_t PlatformId, uint32_t Major, uint32_t Minor) {
  switch (PlatformId) {
    case plat::win::VER_PLATFORM_WIN32s:
      return os31win32;
    case plat::win::VER_PLATFORM_WIN32_WINDOWS:
      return Minor == 90 ? oswinME : oswin98;
    case plat::win::VER_PLATFORM_WIN32_NT:
      if (Major == 5) return Minor != 0 ? oswinXP : oswin2K;
      if (Major == 4) return oswinNT;
      if (Major >= 6) return osUnidentified;
      return oswinNT351;
    default:
      return osUnidentified;
  }
}

TOSVerType GetOSVersion() {
  plat::win::TOSVersionInfoA info;
  info.dwOSVersionInfoSize = 148;
  try {
    if (plat::win::GetVersionEx(info)) {
      return OSVersionFromNumbers(info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion);
    }
  } catch (const plat::Exception&) {
  }
  throw EAPIRoutines("Could not get information about the current version of Windows");
}

std::string GetTempFile(bool Keep) {
  std::string name;
  try {
    if (plat::win::GetTempFileName(plat::win::GetTempPath(), "bat", 0, name) == 0) name.clear();
  } catch (const plat::Exception&) {
    name.clear();
  }
  if (name.empty()) throw EAPIRoutines("Cannot create a temporary file");
  if (!Keep) plat::win::DeleteFile(name);
  return name;
}

std::string GetSystemDir() {
  try {
    return plat::win::GetSystemDirectory();
  } catch (const plat::Exception&) {
    throw EAPIRoutines("Could not retrieve the system directroy from windows");
  }
}

std::string GetWindowsDir() {
  try {
    return plat::win::GetWindowsDirectory();
  } catch (const plat::Exception&) {
    throw EAPIRoutines("Could not retrieve the windows directory from windows");
  }
}

}  // namespace setup
