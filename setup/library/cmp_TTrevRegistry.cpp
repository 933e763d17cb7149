#include "setup/library/cmp_TTrevRegistry.h"

#include <vector>

#include "platform/rtl/ScopeGuard.h"

namespace setup {

bool TtrevRegistry::DeleteKeyTree(const std::string& Key) {
  const std::string full = Resolve(Key);
  const bool wasOpen = CurrentKey() != 0;
  const std::string oldPath = CurrentPath();
  const uint32_t oldAccess = Access();
  bool deleted = false;
  {
    SetAccess(plat::win::KEY_ALL_ACCESS);
    const auto restoreAccess = plat::OnScopeExit([&] { SetAccess(oldAccess); });
    if (OpenKey("\\" + full, false)) {
      // The names are taken before anything is deleted: deleting while
      // walking the subkeys by index would skip every other one.
      const std::vector<std::string> names = GetKeyNames();
      for (const std::string& name : names) DeleteKeyTree("\\" + full + "\\" + name);
    }
    CloseKey();
    deleted = DeleteKey("\\" + full);
  }
  if (wasOpen) OpenKey("\\" + oldPath, false);
  return deleted;
}

bool TtrevRegistry::KeyExistsReadOnly(const std::string& Key) {
  plat::win::TRegistry probe(plat::win::KEY_READ);
  probe.SetRootKey(RootKey());
  return probe.OpenKeyReadOnly("\\" + Resolve(Key));
}

bool TtrevRegistry::OpenKeyEx(const std::string& Key, bool CanCreate) {
  if (!CanCreate || Key.empty()) return OpenKey(Key, false);
  if (KeyExists(Key)) return OpenKey(Key, false);
  const uint32_t oldAccess = Access();
  SetAccess(plat::win::KEY_ALL_ACCESS);
  const bool opened = OpenKey(Key, true);
  SetAccess(oldAccess);
  return opened;
}

}  // namespace setup
