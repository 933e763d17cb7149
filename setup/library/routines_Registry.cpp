#include "setup/library/routines_Registry.h"

#include "setup/library/cmp_TTrevRegistry.h"
#include "setup/library/routines_API.h"

namespace setup {

namespace w = plat::win;

plat::win::HKEY RootKeyHandle(TRootKeys Root) {
  switch (Root) {
    case hkClassesRoot:
      return w::HKEY_CLASSES_ROOT;
    case hkCurrentConfig:
      return w::HKEY_CURRENT_CONFIG;
    case hkCurrentUser:
      return w::HKEY_CURRENT_USER;
    case hkDynData:
      return w::HKEY_DYN_DATA;
    case hkLocalMachine:
      return w::HKEY_LOCAL_MACHINE;
    case hkUsers:
      return w::HKEY_USERS;
  }
  return w::HKEY_LOCAL_MACHINE;
}

TRootKeys RootKeyFromHandle(plat::win::HKEY Key, TRootKeys Default) {
  for (TRootKeys root :
       {hkClassesRoot, hkCurrentConfig, hkCurrentUser, hkDynData, hkLocalMachine, hkUsers}) {
    if (RootKeyHandle(root) == Key) return root;
  }
  return Default;
}

void WriteRegString(TRootKeys Root, const std::string& Key, const std::string& Name,
                    const std::string& Value) {
  const std::string message =
      "Cannot install into registry. Key: " + Key + " Ident: " + Name + " Value " + Value;
  try {
    TtrevRegistry registry;
    registry.SetRootKey(RootKeyHandle(Root));
    if (!registry.OpenKey(Key, true)) throw EIRCannotWriteValue(message);
    registry.WriteString(Name, Value);
  } catch (const EIRCannotWriteValue&) {
    throw;
  } catch (const plat::Exception&) {
    throw EIRCannotWriteValue(message);
  }
}

void WriteRegInteger(TRootKeys Root, const std::string& Key, const std::string& Name,
                     int32_t Value) {
  try {
    TtrevRegistry registry;
    registry.SetRootKey(RootKeyHandle(Root));
    if (!registry.OpenKey(Key, true)) throw EIRCannotWriteValue(Key);
    registry.WriteInteger(Name, Value);
  } catch (const EIRCannotWriteValue&) {
    throw;
  } catch (const plat::Exception&) {
    throw EIRCannotWriteValue(Key);
  }
}

std::string ReadRegString(TRootKeys Root, const std::string& Key, const std::string& Name,
                          const std::string& Default) {
  try {
    TtrevRegistry registry(w::KEY_READ);
    registry.SetRootKey(RootKeyHandle(Root));
    if (!registry.KeyExists(Key) || !registry.OpenKeyReadOnly(Key) || !registry.ValueExists(Name)) {
      return Default;
    }
    return registry.ReadString(Name);
  } catch (const plat::Exception&) {
    return Default;
  }
}

int32_t ReadRegInteger(TRootKeys Root, const std::string& Key, const std::string& Name,
                       int32_t Default) {
  try {
    TtrevRegistry registry(w::KEY_READ);
    registry.SetRootKey(RootKeyHandle(Root));
    if (!registry.KeyExists(Key) || !registry.OpenKeyReadOnly(Key) || !registry.ValueExists(Name)) {
      return Default;
    }
    return registry.ReadInteger(Name);
  } catch (const plat::Exception&) {
    return Default;
  }
}

void DeleteRegTree(TRootKeys Root, const std::string& Key) {
  try {
    TtrevRegistry registry;
    registry.SetRootKey(RootKeyHandle(Root));
    std::vector<std::string> names;
    if (registry.OpenKey(Key, false)) names = registry.GetKeyNames();
    registry.CloseKey();
    for (const std::string& name : names) DeleteRegTree(Root, Key + "\\" + name);
    registry.DeleteKeyTree(Key);
  } catch (const plat::Exception&) {
  }
}

bool AddRunOnce(const std::string& Name, const std::string& Command, bool Unique) {
  try {
    TtrevRegistry registry;
    registry.SetRootKey(kOSNTFamily.Contains(GetOSVersion()) ? w::HKEY_CURRENT_USER
                                                             : w::HKEY_LOCAL_MACHINE);
    if (!registry.OpenKey(kRunOnceKey, true)) return false;
    std::string name = Name;
    if (Unique) {
      for (int32_t n = 1; registry.ValueExists(name); ++n) name = Name + std::to_string(n);
    }
    registry.WriteString(name, Command);
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace setup
