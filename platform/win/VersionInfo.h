#pragma once
// Resources of Windows programs (PE files), read by our own parser: the
// version resource and string tables. A native program of the host has no
// resources, so it has no version. Everything read from a file is input:
// every offset and length is checked against the file, and a damaged file
// reads as one without resources.

#include <cstdint>
#include <string>

namespace plat::win {

inline constexpr uint32_t RT_STRING = 6;
inline constexpr uint32_t RT_VERSION = 16;

// The first resource of a type (the first name, then the first language),
// from a PE file given by its Windows path. False when there is none.
bool ReadResource(const std::string& fileName, uint32_t type, std::string& data);
// The resource of a type and numeric id, first language.
bool ReadResourceById(const std::string& fileName, uint32_t type, uint32_t id, std::string& data);

// The size of the file's version block; 0 when it has none (GetLastError
// then tells why).
uint32_t GetFileVersionInfoSize(const std::string& fileName);
// The version block (the VS_VERSIONINFO structure as stored in the file).
bool GetFileVersionInfo(const std::string& fileName, std::string& block);
// Looks up a path in a version block: "\" gives the fixed file information
// (52 bytes), "\VarFileInfo\Translation" the translation table,
// "\StringFileInfo\040904E4\CompanyName" a string, returned as UTF-8 without
// its terminating zero. Names compare ignoring case. False when missing.
bool VerQueryValue(const std::string& block, const std::string& subBlock, std::string& value);

// VS_FIXEDFILEINFO.
struct TVSFixedFileInfo {
  uint32_t dwSignature = 0;  // 0xFEEF04BD
  uint32_t dwStrucVersion = 0;
  uint32_t dwFileVersionMS = 0;
  uint32_t dwFileVersionLS = 0;
  uint32_t dwProductVersionMS = 0;
  uint32_t dwProductVersionLS = 0;
  uint32_t dwFileFlagsMask = 0;
  uint32_t dwFileFlags = 0;
  uint32_t dwFileOS = 0;
  uint32_t dwFileType = 0;
  uint32_t dwFileSubtype = 0;
  uint32_t dwFileDateMS = 0;
  uint32_t dwFileDateLS = 0;
};
inline constexpr uint32_t kFixedFileInfoSize = 52;
inline constexpr uint32_t kFixedFileInfoSignature = 0xFEEF04BDu;
// False when bytes is shorter than the structure or the signature is wrong.
bool LoadFixedFileInfo(const std::string& bytes, TVSFixedFileInfo& info);

// File OS values (VOS_) and file types (VFT_).
inline constexpr uint32_t VOS_UNKNOWN = 0x00000000;
inline constexpr uint32_t VOS_DOS = 0x00010000;
inline constexpr uint32_t VOS_OS216 = 0x00020000;
inline constexpr uint32_t VOS_OS232 = 0x00030000;
inline constexpr uint32_t VOS_NT = 0x00040000;
inline constexpr uint32_t VOS__WINDOWS16 = 0x00000001;
inline constexpr uint32_t VOS__PM16 = 0x00000002;
inline constexpr uint32_t VOS__PM32 = 0x00000003;
inline constexpr uint32_t VOS__WINDOWS32 = 0x00000004;
inline constexpr uint32_t VOS_DOS_WINDOWS16 = 0x00010001;
inline constexpr uint32_t VOS_DOS_WINDOWS32 = 0x00010004;
inline constexpr uint32_t VOS_OS216_PM16 = 0x00020002;
inline constexpr uint32_t VOS_OS232_PM32 = 0x00030003;
inline constexpr uint32_t VOS_NT_WINDOWS32 = 0x00040004;
inline constexpr uint32_t VFT_APP = 1;
inline constexpr uint32_t VFT_DLL = 2;
inline constexpr uint32_t VFT_DRV = 3;
inline constexpr uint32_t VFT_FONT = 4;
inline constexpr uint32_t VFT_VXD = 5;
inline constexpr uint32_t VFT_STATIC_LIB = 7;

// A string resource of a library, found as Windows loads a library: a name
// without folder is looked for in the system and Windows folders. False when
// the library or the string is missing.
bool LoadStringResource(const std::string& library, uint32_t id, std::string& text);

}  // namespace plat::win
