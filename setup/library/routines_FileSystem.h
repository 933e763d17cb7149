#pragma once
// File-system routines of the installer: attributes, the nearest existing
// folder, string resources of libraries and unique component names.

#include <cstdint>
#include <string>

#include "platform/rtl/Components.h"
#include "setup/library/exceptions_Quillane.h"

namespace setup {

enum TTrevFileAttributes : uint8_t {
  tfaArchive,
  tfaCompressed,
  tfaDirectory,
  tfaHidden,
  tfaNormal,
  tfaOffline,
  tfaReadOnly,
  tfaSystem,
  tfaTemporary
};
using TTrevFileAttributesSet = plat::TSet<TTrevFileAttributes>;

PLAT_DECLARE_EXCEPTION(IEfcSetAttributes, IException);

// The Windows attribute bits of a set (tfaCompressed has none).
uint32_t AttributesFromSet(TTrevFileAttributesSet Attributes);
// Raises IEfcSetAttributes "Cannot set file attributes. Error : %s" with the
// system's text for the failure.
void SetFileAttributesFromSet(const std::string& FileName, TTrevFileAttributesSet Attributes);
// {tfaReadOnly} when the file exists and is read-only, else empty.
void GetFileAttributesSet(const std::string& FileName, TTrevFileAttributesSet& Attributes);
// Path when it is an existing folder, else the same for Path cut before its
// last "\"; empty for a blank path or when nothing exists.
std::string NearestExistingFolder(const std::string& Path);
// String Id of a library's string table; empty when the library or the
// string is missing.
std::string LoadLibraryString(const std::string& Library, uint32_t Id);

// Install files derive from this marker, so that their unique names take the
// "IF" + name + "_" + extension form.
class TInstallFileNaming {
 public:
  virtual ~TInstallFileNaming() = default;
};

// Gives Component the first name it accepts: for an install file "IF" + the
// base name + "_" + the extension (both made identifier-safe), for others
// Base; first without a number, then with 1, 2, ... Returns the name.
std::string MakeUniqueComponentName(plat::TComponent& Component, const std::string& Base);

}  // namespace setup
