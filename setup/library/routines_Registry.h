#pragma once
// Typed registry reads and writes under a chosen root, deletion of key trees
// and the RunOnce entry. Each routine works with a registry object of its
// own.

#include <cstdint>
#include <string>

#include "platform/win/Registry.h"
#include "setup/library/exceptions_Quillane.h"

namespace setup {

enum TRootKeys : uint8_t {
  hkClassesRoot,
  hkCurrentConfig,
  hkCurrentUser,
  hkDynData,
  hkLocalMachine,
  hkUsers
};

plat::win::HKEY RootKeyHandle(TRootKeys Root);
// The TRootKeys value of a root key; Default for any other key.
TRootKeys RootKeyFromHandle(plat::win::HKEY Key, TRootKeys Default);

PLAT_DECLARE_EXCEPTION(EIRCannotWriteValue, IException);

// Open or create Key and write the value; raise EIRCannotWriteValue when
// either fails.
void WriteRegString(TRootKeys Root, const std::string& Key, const std::string& Name,
                    const std::string& Value);
void WriteRegInteger(TRootKeys Root, const std::string& Key, const std::string& Name,
                     int32_t Value);
// Default unless the key opens and holds a readable value.
std::string ReadRegString(TRootKeys Root, const std::string& Key, const std::string& Name,
                          const std::string& Default);
int32_t ReadRegInteger(TRootKeys Root, const std::string& Key, const std::string& Name,
                       int32_t Default);
// Deletes Key with everything below it; failures are ignored.
void DeleteRegTree(TRootKeys Root, const std::string& Key);

inline constexpr const char* kRunOnceKey =
    "\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
// Registers Command to run once at the next start of Windows: under
// HKEY_CURRENT_USER on the NT family, else under HKEY_LOCAL_MACHINE. With
// Unique the value name is the first free one of Name, Name1, Name2, ...
// False on any failure.
bool AddRunOnce(const std::string& Name, const std::string& Command, bool Unique);

}  // namespace setup
