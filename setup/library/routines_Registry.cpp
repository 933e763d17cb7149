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

namespace {

// Opens or creates Key and lets write store the value; any failure raises
// EIRCannotWriteValue(message).
template <class Write>
void WriteRegValue(TRootKeys Root, const std::string& Key, const std::string& message,
                   Write write) {
  try {
    TtrevRegistry registry;
    registry.SetRootKey(RootKeyHandle(Root));
    if (!registry.OpenKey(Key, true)) throw EIRCannotWriteValue(message);
    write(registry);
  } catch (const EIRCannotWriteValue&) {
    throw;
  } catch (const plat::Exception&) {
    throw EIRCannotWriteValue(message);
  }
}

// What read gives for the value Name of Key; Default when the key or the
// value is missing or cannot be read.
template <class T, class Read>
T ReadRegValue(TRootKeys Root, const std::string& Key, const std::string& Name, T Default,
               Read read) {
  try {
    TtrevRegistry registry(w::KEY_READ);
    registry.SetRootKey(RootKeyHandle(Root));
    if (!registry.KeyExists(Key) || !registry.OpenKeyReadOnly(Key) || !registry.ValueExists(Name)) {
      return Default;
    }
    return read(registry);
  } catch (const plat::Exception&) {
    return Default;
  }
}

}  // namespace

void WriteRegString(TRootKeys Root, const std::string& Key, const std::string& Name,
                    const std::string& Value) {
  WriteRegValue(Root, Key,
                "Cannot install into registry. Key: " + Key + " Ident: " + Name + " Value " + Value,
                [&](TtrevRegistry& registry) { registry.WriteString(Name, Value); });
}

void WriteRegInteger(TRootKeys Root, const std::string& Key, const std::string& Name,
                     int32_t Value) {
  WriteRegValue(Root, Key, Key,
                [&](TtrevRegistry& registry) { registry.WriteInteger(Name, Value); });
}

std::string ReadRegString(TRootKeys Root, const std::string& Key, const std::string& Name,
                          const std::string& Default) {
  return ReadRegValue(Root, Key, Name, Default,
                      [&](TtrevRegistry& registry) { return registry.ReadString(Name); });
}

int32_t ReadRegInteger(TRootKeys Root, const std::string& Key, const std::string& Name,
                       int32_t Default) {
  return ReadRegValue(Root, Key, Name, Default,
                      [&](TtrevRegistry& registry) { return registry.ReadInteger(Name); });
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
