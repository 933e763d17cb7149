#include "platform/win/Registry.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <span>

#include "platform/win/RegistryStore.h"
#include "platform/win/WinFileIO.h"
#include "platform/win/WinPaths.h"

namespace plat::win {

namespace {

struct TRootName {
  HKEY Key;
  const char* Name;
};

constexpr TRootName kRoots[] = {
    {HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT"},     {HKEY_CURRENT_USER, "HKEY_CURRENT_USER"},
    {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE"},   {HKEY_USERS, "HKEY_USERS"},
    {HKEY_CURRENT_CONFIG, "HKEY_CURRENT_CONFIG"}, {HKEY_DYN_DATA, "HKEY_DYN_DATA"},
};

bool HasLineBreak(const std::string& s) {
  return s.find('\n') != std::string::npos || s.find('\r') != std::string::npos;
}

// Splits a key path at "\"; false when a component is empty or holds a line
// break (neither can be written as a REGEDIT4 key line). One trailing "\" is
// allowed.
bool SplitKeyPath(const std::string& path, std::vector<std::string>& parts) {
  parts.clear();
  if (path.empty()) return true;
  std::string p = path;
  if (p.back() == '\\') p.pop_back();
  size_t start = 0;
  for (;;) {
    const size_t slash = p.find('\\', start);
    const std::string part = p.substr(start, slash == std::string::npos ? slash : slash - start);
    if (part.empty() || HasLineBreak(part)) return false;
    parts.push_back(part);
    if (slash == std::string::npos) return true;
    start = slash + 1;
  }
}

TRegKeyNode* WalkPath(TRegKeyNode& root, std::span<const std::string> parts) {
  TRegKeyNode* node = &root;
  for (const std::string& part : parts) {
    node = node->FindSubKey(part);
    if (node == nullptr) return nullptr;
  }
  return node;
}

// As WalkPath, adding the keys that are missing; created tells whether any
// was added.
TRegKeyNode* ForcePath(TRegKeyNode& root, std::span<const std::string> parts, bool& created) {
  TRegKeyNode* node = &root;
  created = false;
  for (const std::string& part : parts) {
    TRegKeyNode* sub = node->FindSubKey(part);
    if (sub == nullptr) {
      sub = node->AddSubKey(part);
      created = true;
    }
    node = sub;
  }
  return node;
}

// --- REGEDIT4 writing -------------------------------------------------------

std::string EscapeQuoted(const std::string& s) {
  std::string out = "\"";
  for (const char c : s) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

std::string HexBytes(const std::string& data) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < data.size(); ++i) {
    if (i > 0) out += ',';
    const auto b = static_cast<unsigned char>(data[i]);
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

// A string value that REGEDIT4 can show as quoted text: one terminating zero
// byte, no other zero byte and no line break.
bool IsPlainString(const std::string& data) {
  if (data.empty() || data.back() != '\0') return false;
  const std::string text = data.substr(0, data.size() - 1);
  return text.find('\0') == std::string::npos && !HasLineBreak(text);
}

std::string ValueLine(const TRegValue& value) {
  std::string line = value.Name.empty() ? "@" : EscapeQuoted(value.Name);
  line += '=';
  if (value.Type == REG_SZ && IsPlainString(value.Data)) {
    line += EscapeQuoted(value.Data.substr(0, value.Data.size() - 1));
  } else if (value.Type == REG_DWORD && value.Data.size() == 4) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(value.Data[i]);
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "dword:%08x", v);
    line += buffer;
  } else if (value.Type == REG_BINARY) {
    line += "hex:" + HexBytes(value.Data);
  } else {
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "hex(%x):", value.Type);
    line += buffer + HexBytes(value.Data);
  }
  return line;
}

void WriteKey(const TRegKeyNode& node, const std::string& path, bool isRoot, std::string& out) {
  if (!isRoot || !node.Values.empty()) {
    out += "[" + path + "]\r\n";
    for (const TRegValue& value : node.Values) out += ValueLine(value) + "\r\n";
    out += "\r\n";
  }
  for (const auto& sub : node.SubKeys) WriteKey(*sub, path + "\\" + sub->Name, false, out);
}

// --- REGEDIT4 reading -------------------------------------------------------

class THiveParser {
 public:
  THiveParser(const std::string& text, const std::string& rootName, const std::string& fileName)
      : text_(text), rootName_(rootName), fileName_(fileName) {}

  std::unique_ptr<TRegKeyNode> Parse() {
    auto root = std::make_unique<TRegKeyNode>();
    root->Name = rootName_;
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos <= text_.size()) {
      size_t end = text_.find('\n', pos);
      if (end == std::string::npos) end = text_.size();
      std::string line = text_.substr(pos, end - pos);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line);
      pos = end + 1;
    }
    size_t i = 0;
    while (i < lines.size() && Trim(lines[i]).empty()) ++i;
    if (i >= lines.size() || Trim(lines[i]) != "REGEDIT4") Fail(i + 1, "no REGEDIT4 header");
    ++i;
    TRegKeyNode* current = nullptr;
    for (; i < lines.size(); ++i) {
      const std::string line = Trim(lines[i]);
      if (line.empty() || line[0] == ';') continue;
      if (line[0] == '[') {
        current = KeyLine(*root, line, i + 1);
        continue;
      }
      if (line[0] != '"' && line[0] != '@') Fail(i + 1, "unexpected text");
      if (current == nullptr) Fail(i + 1, "value outside a key");
      std::string full = line;
      const size_t number = i + 1;
      // Hexadecimal data may go on over lines that end with "\".
      while (!full.empty() && full.back() == '\\' && IsHexData(full) && i + 1 < lines.size()) {
        full.pop_back();
        full += Trim(lines[++i]);
      }
      ValueLine(*current, full, number);
    }
    return root;
  }

 private:
  static std::string Trim(const std::string& s) {
    size_t begin = 0;
    size_t end = s.size();
    while (begin < end && (s[begin] == ' ' || s[begin] == '\t')) ++begin;
    while (end > begin && (s[end - 1] == ' ' || s[end - 1] == '\t')) --end;
    return s.substr(begin, end - begin);
  }

  [[noreturn]] void Fail(size_t line, const std::string& what) const {
    throw ERegistryException("The registry file " + fileName_ + " is damaged (line " +
                             std::to_string(line) + ": " + what + ")");
  }

  // True when the line's data (after the name) is hexadecimal.
  bool IsHexData(const std::string& line) const {
    size_t pos = 0;
    std::string name;
    if (!ReadName(line, pos, name) || pos >= line.size() || line[pos] != '=') return false;
    return line.compare(pos + 1, 3, "hex") == 0;
  }

  // Reads "@" or a quoted name at pos; pos ends after it.
  static bool ReadName(const std::string& line, size_t& pos, std::string& name) {
    if (line[pos] == '@') {
      name.clear();
      ++pos;
      return true;
    }
    return ReadQuoted(line, pos, name);
  }

  static bool ReadQuoted(const std::string& line, size_t& pos, std::string& out) {
    if (pos >= line.size() || line[pos] != '"') return false;
    out.clear();
    for (++pos; pos < line.size(); ++pos) {
      const char c = line[pos];
      if (c == '"') {
        ++pos;
        return true;
      }
      if (c == '\\' && pos + 1 < line.size() && (line[pos + 1] == '\\' || line[pos + 1] == '"')) {
        out += line[++pos];
        continue;
      }
      out += c;
    }
    return false;
  }

  TRegKeyNode* KeyLine(TRegKeyNode& root, const std::string& line, size_t number) const {
    if (line.back() != ']' || line.size() < 3) Fail(number, "malformed key line");
    const std::string path = line.substr(1, line.size() - 2);
    std::vector<std::string> parts;
    if (!SplitKeyPath(path, parts) || parts.empty()) Fail(number, "malformed key path");
    if (!SameName(parts[0], rootName_)) Fail(number, "key outside " + rootName_);
    bool created = false;
    return ForcePath(root, std::span<const std::string>(parts).subspan(1), created);
  }

  void ValueLine(TRegKeyNode& key, const std::string& line, size_t number) const {
    size_t pos = 0;
    TRegValue value;
    if (!ReadName(line, pos, value.Name)) Fail(number, "malformed value name");
    if (pos >= line.size() || line[pos] != '=') Fail(number, "missing \"=\"");
    ++pos;
    const std::string data = line.substr(pos);
    if (!data.empty() && data[0] == '"') {
      std::string text;
      size_t p = 0;
      if (!ReadQuoted(data, p, text) || p != data.size()) Fail(number, "malformed string");
      value.Type = REG_SZ;
      value.Data = text + '\0';
    } else if (data.compare(0, 6, "dword:") == 0) {
      const std::string digits = data.substr(6);
      if (digits.empty() || digits.size() > 8) Fail(number, "malformed dword");
      uint32_t v = 0;
      for (const char c : digits) {
        const int d = HexDigit(c);
        if (d < 0) Fail(number, "malformed dword");
        v = (v << 4) | static_cast<uint32_t>(d);
      }
      value.Type = REG_DWORD;
      for (int b = 0; b < 4; ++b) value.Data += static_cast<char>((v >> (8 * b)) & 0xFF);
    } else if (data.compare(0, 3, "hex") == 0) {
      size_t p = 3;
      value.Type = REG_BINARY;
      if (p < data.size() && data[p] == '(') {
        const size_t close = data.find(')', p);
        if (close == std::string::npos || close == p + 1 || close - p > 9) {
          Fail(number, "malformed value type");
        }
        uint32_t type = 0;
        for (size_t k = p + 1; k < close; ++k) {
          const int d = HexDigit(data[k]);
          if (d < 0) Fail(number, "malformed value type");
          type = (type << 4) | static_cast<uint32_t>(d);
        }
        value.Type = type;
        p = close + 1;
      }
      if (p >= data.size() || data[p] != ':') Fail(number, "malformed hexadecimal data");
      value.Data = HexData(data.substr(p + 1), number);
    } else {
      Fail(number, "unknown value data");
    }
    if (TRegValue* old = key.FindValue(value.Name)) {
      *old = value;
    } else {
      key.Values.push_back(value);
    }
  }

  static int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  std::string HexData(const std::string& text, size_t number) const {
    std::string out;
    size_t pos = 0;
    while (pos < text.size()) {
      while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
      if (pos >= text.size()) break;
      if (pos + 1 >= text.size()) Fail(number, "malformed hexadecimal data");
      const int hi = HexDigit(text[pos]);
      const int lo = HexDigit(text[pos + 1]);
      if (hi < 0 || lo < 0) Fail(number, "malformed hexadecimal data");
      out += static_cast<char>(hi * 16 + lo);
      pos += 2;
      while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
      if (pos < text.size()) {
        if (text[pos] != ',') Fail(number, "malformed hexadecimal data");
        ++pos;
      }
    }
    return out;
  }

  const std::string& text_;
  std::string rootName_;
  std::string fileName_;
};

std::string FailedGet(const std::string& name) {
  return "Failed to get data for '" + name + "'";
}
std::string FailedSet(const std::string& name) {
  return "Failed to set data for '" + name + "'";
}
std::string BadType(const std::string& name) {
  return "Invalid data type for '" + name + "'";
}

std::string LittleEndian(uint64_t value, size_t size) {
  std::string out;
  for (size_t i = 0; i < size; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
  return out;
}

// An empty hive of root, as a hive whose file does not exist yet reads.
std::unique_ptr<TRegKeyNode> EmptyHive(HKEY root) {
  auto empty = std::make_unique<TRegKeyNode>();
  empty->Name = RootKeyName(root);
  return empty;
}

// The text of a hive file; false when the file does not exist. Raises
// ERegistryException when it exists and cannot be read.
bool ReadHiveFile(const std::string& file, std::string& content) {
  int error = 0;
  if (ReadWholeFile(file, content, error)) return true;
  if (error == ENOENT) return false;
  throw ERegistryException("The registry file " + file + " cannot be read (" +
                           std::strerror(error) + ")");
}

uint64_t FromLittleEndian(const std::string& data) {
  uint64_t value = 0;
  for (size_t i = data.size(); i > 0; --i) {
    value = (value << 8) | static_cast<unsigned char>(data[i - 1]);
  }
  return value;
}

}  // namespace

std::string RootKeyName(HKEY root) {
  for (const TRootName& r : kRoots) {
    if (r.Key == root) return r.Name;
  }
  return {};
}

TRegKeyNode* TRegKeyNode::FindSubKey(const std::string& name) const {
  const std::string upper = UpperName(name);
  for (const auto& sub : SubKeys) {
    if (UpperName(sub->Name) == upper) return sub.get();
  }
  return nullptr;
}

TRegKeyNode* TRegKeyNode::AddSubKey(const std::string& name) {
  const std::string upper = UpperName(name);
  auto at = SubKeys.begin();
  while (at != SubKeys.end() && UpperName((*at)->Name) < upper) ++at;
  auto node = std::make_unique<TRegKeyNode>();
  node->Name = name;
  return SubKeys.insert(at, std::move(node))->get();
}

bool TRegKeyNode::RemoveSubKey(const std::string& name) {
  const std::string upper = UpperName(name);
  for (auto it = SubKeys.begin(); it != SubKeys.end(); ++it) {
    if (UpperName((*it)->Name) == upper) {
      SubKeys.erase(it);
      return true;
    }
  }
  return false;
}

TRegValue* TRegKeyNode::FindValue(const std::string& name) {
  const std::string upper = UpperName(name);
  for (TRegValue& value : Values) {
    if (UpperName(value.Name) == upper) return &value;
  }
  return nullptr;
}

const TRegValue* TRegKeyNode::FindValue(const std::string& name) const {
  return const_cast<TRegKeyNode*>(this)->FindValue(name);
}

std::string HiveText(const TRegKeyNode& root) {
  std::string out = "REGEDIT4\r\n\r\n";
  WriteKey(root, root.Name, true, out);
  return out;
}

std::unique_ptr<TRegKeyNode> ParseHive(const std::string& text, const std::string& rootName,
                                       const std::string& fileName) {
  return THiveParser(text, rootName, fileName).Parse();
}

std::string HiveFileName(HKEY root) {
  const std::string name = RootKeyName(root);
  if (name.empty()) return {};
  return WinRoot() + "/Registry/" + name + ".reg";
}

std::unique_ptr<TRegKeyNode> LoadHive(HKEY root) {
  const std::string file = HiveFileName(root);
  if (file.empty()) return nullptr;
  std::string content;
  {
    TFileLockGuard lock(file + ".lock", false);
    if (!ReadHiveFile(file, content)) return EmptyHive(root);
  }
  return ParseHive(content, RootKeyName(root), file);
}

bool ChangeHive(HKEY root, const std::function<bool(TRegKeyNode&)>& change) {
  const std::string file = HiveFileName(root);
  if (file.empty()) return false;
  MakeHostDirectories(file.substr(0, file.find_last_of('/')));
  TFileLockGuard lock(file + ".lock", true);
  if (!lock.Ok()) {
    throw ERegistryException("The registry file " + file + " cannot be locked (" +
                             std::strerror(lock.Error()) + ")");
  }
  std::string content;
  const std::unique_ptr<TRegKeyNode> node =
      ReadHiveFile(file, content) ? ParseHive(content, RootKeyName(root), file) : EmptyHive(root);
  if (!change(*node)) return false;
  int error = 0;
  if (!ReplaceWholeFile(file, HiveText(*node), error)) {
    throw ERegistryException("The registry file " + file + " cannot be written (" +
                             std::strerror(error) + ")");
  }
  return true;
}

TRegKeyNode* FindKey(TRegKeyNode& root, const std::string& path) {
  std::vector<std::string> parts;
  return SplitKeyPath(path, parts) ? WalkPath(root, parts) : nullptr;
}

TRegKeyNode* ForceKey(TRegKeyNode& root, const std::string& path) {
  std::vector<std::string> parts;
  bool created = false;
  return SplitKeyPath(path, parts) ? ForcePath(root, parts, created) : nullptr;
}

std::string MultiStringData(const std::vector<std::string>& items) {
  std::string data;
  for (const std::string& item : items) data += item + '\0';
  data += '\0';
  return data;
}

std::vector<std::string> MultiStringItems(const std::string& data) {
  std::vector<std::string> items;
  size_t pos = 0;
  while (pos < data.size()) {
    const size_t end = data.find('\0', pos);
    const std::string item = data.substr(pos, end == std::string::npos ? end : end - pos);
    if (item.empty()) break;  // the empty string ends the list
    items.push_back(item);
    if (end == std::string::npos) break;
    pos = end + 1;
  }
  return items;
}

// --- TRegistry ----------------------------------------------------------------

TRegistry::TRegistry() = default;

TRegistry::TRegistry(uint32_t access) : access_(access) {}

void TRegistry::SetRootKey(HKEY root) {
  CloseKey();
  rootKey_ = root;
}

void TRegistry::CloseKey() {
  open_ = false;
  openAccess_ = 0;
  currentPath_.clear();
}

std::string TRegistry::Resolve(const std::string& key) const {
  if (!key.empty() && key[0] == '\\') return key.substr(1);
  if (key.empty()) return currentPath_;
  if (currentPath_.empty()) return key;
  return currentPath_ + "\\" + key;
}

std::unique_ptr<TRegKeyNode> TRegistry::LoadRoot() const {
  EnsureWindowsRoot();
  return LoadHive(rootKey_);
}

bool TRegistry::Open(const std::string& key, bool canCreate, uint32_t access) {
  const std::string path = Resolve(key);
  std::vector<std::string> parts;
  if (!SplitKeyPath(path, parts)) return false;
  bool found = false;
  if (canCreate) {
    EnsureWindowsRoot();
    ChangeHive(rootKey_, [&](TRegKeyNode& root) {
      bool created = false;
      ForcePath(root, parts, created);
      return created;
    });
    found = true;
  } else {
    const auto root = LoadRoot();
    found = root != nullptr && WalkPath(*root, parts) != nullptr;
  }
  if (!found) return false;
  open_ = true;
  openAccess_ = access;
  currentPath_ = path;
  if (!currentPath_.empty() && currentPath_.back() == '\\') currentPath_.pop_back();
  return true;
}

bool TRegistry::OpenKey(const std::string& key, bool canCreate) {
  if (RootKeyName(rootKey_).empty()) return false;
  return Open(key, canCreate, access_);
}

bool TRegistry::OpenKeyReadOnly(const std::string& key) {
  if (RootKeyName(rootKey_).empty()) return false;
  return Open(key, false, KEY_READ);
}

bool TRegistry::CreateKey(const std::string& key) {
  if (RootKeyName(rootKey_).empty()) return false;
  std::vector<std::string> parts;
  if (!SplitKeyPath(Resolve(key), parts) || parts.empty()) return false;
  EnsureWindowsRoot();
  ChangeHive(rootKey_, [&](TRegKeyNode& root) {
    bool created = false;
    ForcePath(root, parts, created);
    return created;
  });
  return true;
}

bool TRegistry::DeleteKey(const std::string& key) {
  if (RootKeyName(rootKey_).empty()) return false;
  std::vector<std::string> parts;
  if (!SplitKeyPath(Resolve(key), parts) || parts.empty()) return false;
  EnsureWindowsRoot();
  return ChangeHive(rootKey_, [&](TRegKeyNode& root) {
    const std::vector<std::string> parent(parts.begin(), parts.end() - 1);
    TRegKeyNode* node = WalkPath(root, parent);
    return node != nullptr && node->RemoveSubKey(parts.back());
  });
}

bool TRegistry::KeyExists(const std::string& key) {
  std::vector<std::string> parts;
  if (RootKeyName(rootKey_).empty() || !SplitKeyPath(Resolve(key), parts)) return false;
  const auto root = LoadRoot();
  return WalkPath(*root, parts) != nullptr;
}

bool TRegistry::HasSubKeys() {
  TRegKeyInfo info;
  return GetKeyInfo(info) && info.NumSubKeys > 0;
}

bool TRegistry::GetKeyInfo(TRegKeyInfo& info) {
  info = TRegKeyInfo{};
  if (!open_) return false;
  const auto root = LoadRoot();
  const TRegKeyNode* node = FindKey(*root, currentPath_);
  if (node == nullptr) return false;
  info.NumSubKeys = static_cast<int32_t>(node->SubKeys.size());
  info.NumValues = static_cast<int32_t>(node->Values.size());
  for (const auto& sub : node->SubKeys) {
    info.MaxSubKeyLen = std::max(info.MaxSubKeyLen, static_cast<int32_t>(sub->Name.size()));
  }
  for (const TRegValue& value : node->Values) {
    info.MaxValueLen = std::max(info.MaxValueLen, static_cast<int32_t>(value.Name.size()));
    info.MaxDataLen = std::max(info.MaxDataLen, static_cast<int32_t>(value.Data.size()));
  }
  return true;
}

std::vector<std::string> TRegistry::GetKeyNames() {
  std::vector<std::string> names;
  if (!open_) return names;
  const auto root = LoadRoot();
  if (const TRegKeyNode* node = FindKey(*root, currentPath_)) {
    for (const auto& sub : node->SubKeys) names.push_back(sub->Name);
  }
  return names;
}

std::vector<std::string> TRegistry::GetValueNames() {
  std::vector<std::string> names;
  if (!open_) return names;
  const auto root = LoadRoot();
  if (const TRegKeyNode* node = FindKey(*root, currentPath_)) {
    for (const TRegValue& value : node->Values) names.push_back(value.Name);
  }
  return names;
}

const TRegValue* TRegistry::FindCurrentValue(const TRegKeyNode& root,
                                             const std::string& name) const {
  if (!open_) return nullptr;
  const TRegKeyNode* node = FindKey(const_cast<TRegKeyNode&>(root), currentPath_);
  return node != nullptr ? node->FindValue(name) : nullptr;
}

bool TRegistry::GetData(const std::string& name, uint32_t& type, std::string& data) {
  if (!open_) return false;
  const auto root = LoadRoot();
  const TRegValue* value = FindCurrentValue(*root, name);
  if (value == nullptr) return false;
  type = value->Type;
  data = value->Data;
  return true;
}

void TRegistry::PutData(const std::string& name, uint32_t type, const std::string& data) {
  if (!open_ || (openAccess_ & KEY_SET_VALUE) == 0 || HasLineBreak(name)) {
    throw ERegistryException(FailedSet(name));
  }
  EnsureWindowsRoot();
  bool keyFound = false;
  ChangeHive(rootKey_, [&](TRegKeyNode& root) {
    TRegKeyNode* node = FindKey(root, currentPath_);
    if (node == nullptr) return false;  // the key was deleted meanwhile
    keyFound = true;
    if (TRegValue* value = node->FindValue(name)) {
      value->Type = type;
      value->Data = data;
    } else {
      node->Values.push_back(TRegValue{name, type, data});
    }
    return true;
  });
  if (!keyFound) throw ERegistryException(FailedSet(name));
}

bool TRegistry::ValueExists(const std::string& name) {
  uint32_t type = 0;
  std::string data;
  return GetData(name, type, data);
}

bool TRegistry::DeleteValue(const std::string& name) {
  if (!open_ || (openAccess_ & KEY_SET_VALUE) == 0) return false;
  EnsureWindowsRoot();
  return ChangeHive(rootKey_, [&](TRegKeyNode& root) {
    TRegKeyNode* node = FindKey(root, currentPath_);
    if (node == nullptr) return false;
    const std::string upper = UpperName(name);
    for (auto it = node->Values.begin(); it != node->Values.end(); ++it) {
      if (UpperName(it->Name) == upper) {
        node->Values.erase(it);
        return true;
      }
    }
    return false;
  });
}

bool TRegistry::GetDataInfo(const std::string& name, TRegDataInfo& info) {
  info = TRegDataInfo{};
  uint32_t type = 0;
  std::string data;
  if (!GetData(name, type, data)) return false;
  switch (type) {
    case REG_SZ:
      info.RegData = TRegDataType::rdString;
      break;
    case REG_EXPAND_SZ:
      info.RegData = TRegDataType::rdExpandString;
      break;
    case REG_DWORD:
      info.RegData = TRegDataType::rdInteger;
      break;
    case REG_BINARY:
      info.RegData = TRegDataType::rdBinary;
      break;
    default:
      info.RegData = TRegDataType::rdUnknown;
      break;
  }
  info.DataSize = static_cast<int32_t>(data.size());
  return true;
}

TRegDataType TRegistry::GetDataType(const std::string& name) {
  TRegDataInfo info;
  return GetDataInfo(name, info) ? info.RegData : TRegDataType::rdUnknown;
}

int32_t TRegistry::GetDataSize(const std::string& name) {
  TRegDataInfo info;
  return GetDataInfo(name, info) ? info.DataSize : -1;
}

std::string TRegistry::ReadRaw(const std::string& name, uint32_t& type) {
  std::string data;
  if (!GetData(name, type, data)) throw ERegistryException(FailedGet(name));
  return data;
}

std::string TRegistry::ReadFixed(const std::string& name, size_t size) {
  uint32_t type = 0;
  const std::string data = ReadRaw(name, type);
  if (type != REG_BINARY) throw ERegistryException(BadType(name));
  if (data.size() != size) throw ERegistryException(FailedGet(name));
  return data;
}

std::string TRegistry::ReadString(const std::string& name) {
  uint32_t type = 0;
  std::string data;
  if (!GetData(name, type, data)) return {};
  if (type != REG_SZ && type != REG_EXPAND_SZ) throw ERegistryException(BadType(name));
  const size_t zero = data.find('\0');
  return zero == std::string::npos ? data : data.substr(0, zero);
}

int32_t TRegistry::ReadInteger(const std::string& name) {
  uint32_t type = 0;
  const std::string data = ReadRaw(name, type);
  if (type != REG_DWORD) throw ERegistryException(BadType(name));
  if (data.size() != 4) throw ERegistryException(FailedGet(name));
  return static_cast<int32_t>(static_cast<uint32_t>(FromLittleEndian(data)));
}

bool TRegistry::ReadBool(const std::string& name) {
  return ReadInteger(name) != 0;
}

double TRegistry::ReadFloat(const std::string& name) {
  const uint64_t bits = FromLittleEndian(ReadFixed(name, 8));
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

double TRegistry::ReadDateTime(const std::string& name) {
  return ReadFloat(name);
}

double TRegistry::ReadCurrency(const std::string& name) {
  const auto scaled = static_cast<int64_t>(FromLittleEndian(ReadFixed(name, 8)));
  return static_cast<double>(scaled) / 10000.0;
}

int32_t TRegistry::ReadBinaryData(const std::string& name, void* buffer, int32_t bufSize) {
  uint32_t type = 0;
  const std::string data = ReadRaw(name, type);
  if (type != REG_BINARY && type != REG_NONE) throw ERegistryException(BadType(name));
  if (bufSize < 0 || data.size() > static_cast<size_t>(bufSize)) {
    throw ERegistryException(FailedGet(name));
  }
  if (!data.empty()) std::memcpy(buffer, data.data(), data.size());
  return static_cast<int32_t>(data.size());
}

void TRegistry::WriteString(const std::string& name, const std::string& value) {
  PutData(name, REG_SZ, value + '\0');
}

void TRegistry::WriteExpandString(const std::string& name, const std::string& value) {
  PutData(name, REG_EXPAND_SZ, value + '\0');
}

void TRegistry::WriteInteger(const std::string& name, int32_t value) {
  PutData(name, REG_DWORD, LittleEndian(static_cast<uint32_t>(value), 4));
}

void TRegistry::WriteBool(const std::string& name, bool value) {
  WriteInteger(name, value ? 1 : 0);
}

void TRegistry::WriteFloat(const std::string& name, double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  PutData(name, REG_BINARY, LittleEndian(bits, 8));
}

void TRegistry::WriteDateTime(const std::string& name, double value) {
  WriteFloat(name, value);
}

void TRegistry::WriteCurrency(const std::string& name, double value) {
  const auto scaled = static_cast<int64_t>(std::llround(value * 10000.0));
  PutData(name, REG_BINARY, LittleEndian(static_cast<uint64_t>(scaled), 8));
}

void TRegistry::WriteBinaryData(const std::string& name, const void* buffer, int32_t size) {
  if (size < 0) throw ERegistryException(FailedSet(name));
  PutData(name, REG_BINARY,
          std::string(static_cast<const char*>(buffer), static_cast<size_t>(size)));
}

}  // namespace plat::win
