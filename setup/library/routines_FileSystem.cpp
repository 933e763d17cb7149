#include "setup/library/routines_FileSystem.h"

#include "platform/rtl/Strings.h"
#include "platform/win/VersionInfo.h"
#include "platform/win/WinFiles.h"
#include "platform/win/WinPaths.h"

namespace setup {

namespace w = plat::win;

namespace {

std::string IdentifierSafe(const std::string& text) {
  std::string out;
  for (const char c : text) {
    const bool ok =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
    out += ok ? c : '_';
  }
  return out;
}

}  // namespace

uint32_t AttributesFromSet(TTrevFileAttributesSet Attributes) {
  struct TMap {
    TTrevFileAttributes Item;
    uint32_t Bit;
  };
  static constexpr TMap kMap[] = {
      {tfaArchive, w::FILE_ATTRIBUTE_ARCHIVE}, {tfaDirectory, w::FILE_ATTRIBUTE_DIRECTORY},
      {tfaHidden, w::FILE_ATTRIBUTE_HIDDEN},   {tfaNormal, w::FILE_ATTRIBUTE_NORMAL},
      {tfaOffline, w::FILE_ATTRIBUTE_OFFLINE}, {tfaReadOnly, w::FILE_ATTRIBUTE_READONLY},
      {tfaSystem, w::FILE_ATTRIBUTE_SYSTEM},   {tfaTemporary, w::FILE_ATTRIBUTE_TEMPORARY},
  };
  uint32_t bits = 0;
  for (const TMap& m : kMap) {
    if (Attributes.Contains(m.Item)) bits |= m.Bit;
  }
  return bits;
}

void SetFileAttributesFromSet(const std::string& FileName, TTrevFileAttributesSet Attributes) {
  if (!w::SetFileAttributes(FileName, AttributesFromSet(Attributes))) {
    throw IEfcSetAttributes("Cannot set file attributes. Error : " +
                            w::FormatMessage(w::GetLastError()));
  }
}

void GetFileAttributesSet(const std::string& FileName, TTrevFileAttributesSet& Attributes) {
  Attributes = {};
  const uint32_t bits = w::GetFileAttributes(FileName);
  if (bits != w::INVALID_FILE_ATTRIBUTES && (bits & w::FILE_ATTRIBUTE_READONLY) != 0) {
    Attributes = {tfaReadOnly};
  }
}

std::string NearestExistingFolder(const std::string& Path) {
  std::string path = Path;
  while (!plat::Trim(path).empty()) {
    if (w::DirectoryExists(path)) return path;
    const size_t slash = path.find_last_of('\\');
    if (slash == std::string::npos) break;
    path.erase(slash);
  }
  return {};
}

std::string LoadLibraryString(const std::string& Library, uint32_t Id) {
  std::string text;
  try {
    if (w::LoadStringResource(Library, Id, text)) return text.substr(0, 4095);
  } catch (const plat::Exception&) {
  }
  return {};
}

std::string MakeUniqueComponentName(plat::TComponent& Component, const std::string& Base) {
  std::string stem = Base;
  if (dynamic_cast<const TInstallFileNaming*>(&Component) != nullptr) {
    const std::string name = w::ExtractWinFileName(Base);
    const std::string ext = w::ExtractWinFileExt(name);
    stem = "IF" + IdentifierSafe(name.substr(0, name.size() - ext.size())) + "_" +
           IdentifierSafe(ext.empty() ? ext : ext.substr(1));
  }
  for (int32_t counter = 0; counter < 1000000; ++counter) {
    const std::string candidate = counter == 0 ? stem : stem + std::to_string(counter);
    try {
      Component.SetName(candidate);
      return candidate;
    } catch (const plat::EComponentError&) {
    }
  }
  throw plat::EComponentError("No unique name for " + Base);
}

}  // namespace setup
