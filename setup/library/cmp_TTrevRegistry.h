#pragma once
// The installer's registry class: the library's registry class with the key
// routines the installer uses.

#include <string>

#include "platform/win/Registry.h"

namespace setup {

class TtrevRegistry : public plat::win::TRegistry {
 public:
  TtrevRegistry() = default;
  explicit TtrevRegistry(uint32_t access) : plat::win::TRegistry(access) {}
  std::string ClassName() const override { return "TtrevRegistry"; }

  // Deletes Key with every key below it; the current key stays current.
  // True when Key itself was deleted.
  bool DeleteKeyTree(const std::string& Key);
  // True when Key opens with read access (the current key is not changed).
  bool KeyExistsReadOnly(const std::string& Key);
  // Opens Key; with CanCreate a missing key is created with full access. A
  // relative key is taken from the current key, which it then becomes.
  bool OpenKeyEx(const std::string& Key, bool CanCreate);
};

}  // namespace setup
