#pragma once
// Wrappers over the system services the installer asks for: short paths, the
// Windows version, temporary files, the system and Windows folders.

#include <cstdint>
#include <string>

#include "platform/rtl/ClassesBase.h"

namespace setup {

enum TOSVerType : uint8_t {
  os31win32,
  oswin95,
  oswinNT,
  oswinNT351,
  osUnidentified,
  osLinux,
  oswin2K,
  oswin98,
  oswinME,
  oswinXP
};
using OSSet = plat::TSet<TOSVerType>;

// Windows 98 and later, and the NT family.
inline constexpr OSSet kOSWin98AndLater{oswin98, oswinME, oswin2K, oswinXP};
inline constexpr OSSet kOSNTFamily{oswinNT, oswin2K, oswinXP};

// The short form of Path (empty when the system has none or it does not fit
// the 400-character buffer).
std::string GetShortPath(const std::string& Path);

// The running Windows version. Raises EAPIRoutines "Could not get information
// about the current version of Windows" when the system cannot tell.
TOSVerType GetOSVersion();
// The version type of a version record: platform, major and minor numbers.
TOSVerType OSVersionFromNumbers(uint32_t PlatformId, uint32_t Major, uint32_t Minor);

// A new unique file "bat....TMP" in the temporary folder; the file is deleted
// again unless Keep. Raises EAPIRoutines "Cannot create a temporary file".
std::string GetTempFile(bool Keep);

// Raise EAPIRoutines when the system cannot tell.
std::string GetSystemDir();
std::string GetWindowsDir();

}  // namespace setup
