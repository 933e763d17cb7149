#pragma once
// The registry of the virtual Windows and the component library's registry
// class over it.
//
// Each root key is one text file in the REGEDIT4 format under the root's
// "Registry" folder ("HKEY_LOCAL_MACHINE.reg" and so on). Rules the store
// keeps:
//  1. Key and value names compare ignoring case and keep the case they were
//     created with. Subkeys are kept sorted by name, values in creation order.
//  2. Every change re-reads the file under an exclusive flock of the hive's
//     lock file, applies itself and replaces the file at once (write beside,
//     rename over), so two processes writing one hive lose no value and a
//     reader never sees half a file.
//  3. A hive file that cannot be read or parsed raises ERegistryException
//     naming the file; nothing is ever written over it.
//  4. Value data is kept as Windows keeps it: strings as their bytes with a
//     terminating zero byte, integers as 4 little-endian bytes.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Object.h"

namespace plat::win {

PLAT_DECLARE_EXCEPTION(ERegistryException, Exception);

// Root keys carry the Windows values of the predefined handles.
using HKEY = uint32_t;
inline constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000u;
inline constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;
inline constexpr HKEY HKEY_USERS = 0x80000003u;
inline constexpr HKEY HKEY_CURRENT_CONFIG = 0x80000005u;
inline constexpr HKEY HKEY_DYN_DATA = 0x80000006u;

// Value types (the Windows REG_ numbers).
inline constexpr uint32_t REG_NONE = 0;
inline constexpr uint32_t REG_SZ = 1;
inline constexpr uint32_t REG_EXPAND_SZ = 2;
inline constexpr uint32_t REG_BINARY = 3;
inline constexpr uint32_t REG_DWORD = 4;
inline constexpr uint32_t REG_DWORD_BIG_ENDIAN = 5;
inline constexpr uint32_t REG_LINK = 6;
inline constexpr uint32_t REG_MULTI_SZ = 7;
inline constexpr uint32_t REG_QWORD = 11;

// Access rights the registry class asks for.
inline constexpr uint32_t KEY_QUERY_VALUE = 0x0001;
inline constexpr uint32_t KEY_SET_VALUE = 0x0002;
inline constexpr uint32_t KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr uint32_t KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr uint32_t KEY_READ = 0x20019;
inline constexpr uint32_t KEY_WRITE = 0x20006;
inline constexpr uint32_t KEY_ALL_ACCESS = 0xF003F;

// The name of a root key ("HKEY_LOCAL_MACHINE"); empty for an unknown one.
std::string RootKeyName(HKEY root);

// One key of a hive as held in memory.
struct TRegValue {
  std::string Name;
  uint32_t Type = REG_NONE;
  std::string Data;
};

struct TRegKeyNode {
  std::string Name;
  std::vector<TRegValue> Values;
  std::vector<std::unique_ptr<TRegKeyNode>> SubKeys;

  TRegKeyNode* FindSubKey(const std::string& name) const;
  TRegKeyNode* AddSubKey(const std::string& name);  // keeps the sorted order
  bool RemoveSubKey(const std::string& name);
  TRegValue* FindValue(const std::string& name);
  const TRegValue* FindValue(const std::string& name) const;
};

// The REGEDIT4 text of a hive and back. ParseHive raises ERegistryException
// (naming fileName and the line) on text that is not a hive of rootName.
std::string HiveText(const TRegKeyNode& root);
std::unique_ptr<TRegKeyNode> ParseHive(const std::string& text, const std::string& rootName,
                                       const std::string& fileName);

// The host path of a hive's file.
std::string HiveFileName(HKEY root);

enum class TRegDataType : uint8_t { rdUnknown, rdString, rdExpandString, rdInteger, rdBinary };

struct TRegKeyInfo {
  int32_t NumSubKeys = 0;
  int32_t MaxSubKeyLen = 0;
  int32_t NumValues = 0;
  int32_t MaxValueLen = 0;
  int32_t MaxDataLen = 0;
};

struct TRegDataInfo {
  TRegDataType RegData = TRegDataType::rdUnknown;
  int32_t DataSize = 0;
};

// The component library's registry class. Key paths that begin with "\" are
// taken from the root key; others from the current key. Failed reads and
// writes of values raise ERegistryException ("Failed to get data for '%s'",
// "Failed to set data for '%s'", "Invalid data type for '%s'"); key
// operations report failure through their result.
class TRegistry : public TObject {
 public:
  TRegistry();
  explicit TRegistry(uint32_t access);
  ~TRegistry() override = default;
  std::string ClassName() const override { return "TRegistry"; }

  HKEY RootKey() const { return rootKey_; }
  // Closes the current key.
  void SetRootKey(HKEY root);
  uint32_t Access() const { return access_; }
  void SetAccess(uint32_t access) { access_ = access; }
  // Nonzero while a key is open (the root key itself when the path is empty).
  HKEY CurrentKey() const { return open_ ? rootKey_ : 0; }
  const std::string& CurrentPath() const { return currentPath_; }

  void CloseKey();
  bool OpenKey(const std::string& key, bool canCreate);
  bool OpenKeyReadOnly(const std::string& key);
  bool CreateKey(const std::string& key);
  // Deletes the key with every key below it.
  bool DeleteKey(const std::string& key);
  bool KeyExists(const std::string& key);
  bool HasSubKeys();
  bool GetKeyInfo(TRegKeyInfo& info);
  std::vector<std::string> GetKeyNames();
  std::vector<std::string> GetValueNames();

  bool ValueExists(const std::string& name);
  bool DeleteValue(const std::string& name);
  bool GetDataInfo(const std::string& name, TRegDataInfo& info);
  TRegDataType GetDataType(const std::string& name);
  // -1 when the value does not exist.
  int32_t GetDataSize(const std::string& name);

  // A missing value reads as an empty string.
  std::string ReadString(const std::string& name);
  int32_t ReadInteger(const std::string& name);
  bool ReadBool(const std::string& name);
  double ReadFloat(const std::string& name);
  double ReadDateTime(const std::string& name);
  double ReadDate(const std::string& name) { return ReadDateTime(name); }
  double ReadTime(const std::string& name) { return ReadDateTime(name); }
  // Currency: a fixed-point number with four decimals, stored as 8 bytes.
  double ReadCurrency(const std::string& name);
  // Copies at most bufSize bytes; raises when the value is larger.
  int32_t ReadBinaryData(const std::string& name, void* buffer, int32_t bufSize);

  void WriteString(const std::string& name, const std::string& value);
  void WriteExpandString(const std::string& name, const std::string& value);
  void WriteInteger(const std::string& name, int32_t value);
  void WriteBool(const std::string& name, bool value);
  void WriteFloat(const std::string& name, double value);
  void WriteDateTime(const std::string& name, double value);
  void WriteDate(const std::string& name, double value) { WriteDateTime(name, value); }
  void WriteTime(const std::string& name, double value) { WriteDateTime(name, value); }
  void WriteCurrency(const std::string& name, double value);
  void WriteBinaryData(const std::string& name, const void* buffer, int32_t size);

  // Raw access for the value kinds the typed methods do not cover
  // (REG_MULTI_SZ, REG_QWORD, ...). GetData is false when the value is
  // missing; PutData raises as the typed writes do.
  bool GetData(const std::string& name, uint32_t& type, std::string& data);
  void PutData(const std::string& name, uint32_t type, const std::string& data);

 protected:
  // The full path (from the root) of key as seen from the current key.
  std::string Resolve(const std::string& key) const;

 private:
  bool Open(const std::string& key, bool canCreate, uint32_t access);
  std::unique_ptr<TRegKeyNode> LoadRoot() const;
  const TRegValue* FindCurrentValue(const TRegKeyNode& root, const std::string& name) const;
  std::string ReadRaw(const std::string& name, uint32_t& type);
  std::string ReadFixed(const std::string& name, size_t size);

  HKEY rootKey_ = HKEY_CURRENT_USER;
  uint32_t access_ = KEY_ALL_ACCESS;
  bool open_ = false;
  uint32_t openAccess_ = 0;
  std::string currentPath_;
};

// Multi-string data (REG_MULTI_SZ) from and to a list of strings.
std::string MultiStringData(const std::vector<std::string>& items);
std::vector<std::string> MultiStringItems(const std::string& data);

}  // namespace plat::win
