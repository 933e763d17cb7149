#pragma once
// Builds small PE files for tests: a 32-bit image with one ".rsrc" section
// holding the resources asked for, and the version and string-table blocks
// that go into them.

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace petest {

inline void Put16(std::string& s, size_t at, uint32_t v) {
  if (s.size() < at + 2) s.resize(at + 2, '\0');
  s[at] = static_cast<char>(v & 0xFF);
  s[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}
inline void Put32(std::string& s, size_t at, uint32_t v) {
  Put16(s, at, v & 0xFFFF);
  Put16(s, at + 2, v >> 16);
}
inline std::string U16(uint32_t v) {
  std::string s;
  Put16(s, 0, v);
  return s;
}
inline std::string U32(uint32_t v) {
  std::string s;
  Put32(s, 0, v);
  return s;
}
// ASCII text as UTF-16 code units.
inline std::string Wide(const std::string& ascii) {
  std::string s;
  for (char c : ascii) s += U16(static_cast<unsigned char>(c));
  return s;
}
inline void Pad4(std::string& s) {
  while (s.size() % 4 != 0) s += '\0';
}

// One node of a version block.
struct VersionNode {
  std::string Key;
  std::string Value;  // text (ASCII) or bytes
  bool Text = false;
  std::vector<VersionNode> Children;

  std::string Bytes() const {
    std::string s = U16(0) + U16(0) + U16(Text ? 1 : 0) + Wide(Key) + U16(0);
    Pad4(s);
    uint32_t valueLength;
    if (Text) {
      s += Wide(Value) + U16(0);
      valueLength = static_cast<uint32_t>(Value.size() + 1);
    } else {
      s += Value;
      valueLength = static_cast<uint32_t>(Value.size());
    }
    for (const VersionNode& child : Children) {
      Pad4(s);
      s += child.Bytes();
    }
    Put16(s, 0, static_cast<uint32_t>(s.size()));
    Put16(s, 2, valueLength);
    return s;
  }
};

struct FixedVersion {
  uint16_t File[4] = {0, 0, 0, 0};
  uint16_t Product[4] = {0, 0, 0, 0};
  uint32_t FileOS = 0x40004;  // VOS_NT_WINDOWS32
  uint32_t FileType = 1;      // VFT_APP
  uint32_t FileSubtype = 0;

  std::string Bytes() const {
    std::string s;
    s += U32(0xFEEF04BD) + U32(0x10000);
    s += U32((uint32_t{File[0]} << 16) | File[1]) + U32((uint32_t{File[2]} << 16) | File[3]);
    s += U32((uint32_t{Product[0]} << 16) | Product[1]) +
         U32((uint32_t{Product[2]} << 16) | Product[3]);
    s += U32(0x3F) + U32(0) + U32(FileOS) + U32(FileType) + U32(FileSubtype) + U32(0) + U32(0);
    return s;
  }
};

// A VS_VERSIONINFO block with the fixed part, one string table (tableKey such
// as "040904E4") and the translation table.
inline std::string VersionBlock(const FixedVersion& fixed, const std::string& tableKey,
                                const std::vector<std::pair<std::string, std::string>>& strings,
                                uint16_t language, uint16_t codePage) {
  VersionNode root{"VS_VERSION_INFO", fixed.Bytes(), false, {}};
  VersionNode table{tableKey, "", true, {}};
  for (const auto& [key, value] : strings) table.Children.push_back({key, value, true, {}});
  root.Children.push_back({"StringFileInfo", "", true, {table}});
  VersionNode translation{"Translation", U16(language) + U16(codePage), false, {}};
  root.Children.push_back({"VarFileInfo", "", true, {translation}});
  return root.Bytes();
}

// One block of sixteen strings of a string table.
inline std::string StringBlock(const std::map<int, std::string>& strings) {
  std::string s;
  for (int i = 0; i < 16; ++i) {
    const auto it = strings.find(i);
    const std::string text = it == strings.end() ? std::string() : it->second;
    s += U16(static_cast<uint32_t>(text.size())) + Wide(text);
  }
  return s;
}

struct Resource {
  uint32_t Type;
  uint32_t Id;
  std::string Data;
};

// A PE32 image whose only section holds the given resources (one language,
// 1033, each).
inline std::string BuildPe(const std::vector<Resource>& resources) {
  constexpr uint32_t kSectionRva = 0x1000;
  constexpr uint32_t kRawPointer = 0x200;
  // Group by type, keeping the order of first appearance.
  std::vector<uint32_t> types;
  for (const Resource& r : resources) {
    bool seen = false;
    for (uint32_t t : types) seen = seen || t == r.Type;
    if (!seen) types.push_back(r.Type);
  }
  std::string rsrc;
  auto dirHeader = [](uint32_t count) { return std::string(12, '\0') + U16(0) + U16(count); };
  // Root directory, then per type a directory, per resource a language
  // directory and a data entry, then the data.
  const uint32_t rootSize = 16 + 8 * static_cast<uint32_t>(types.size());
  std::vector<uint32_t> typeDirOffset;
  uint32_t offset = rootSize;
  for (uint32_t t : types) {
    typeDirOffset.push_back(offset);
    uint32_t n = 0;
    for (const Resource& r : resources) n += r.Type == t ? 1 : 0;
    offset += 16 + 8 * n;
  }
  std::vector<uint32_t> langDirOffset(resources.size()), dataEntryOffset(resources.size()),
      dataOffset(resources.size());
  for (size_t i = 0; i < resources.size(); ++i) {
    langDirOffset[i] = offset;
    offset += 24;
  }
  for (size_t i = 0; i < resources.size(); ++i) {
    dataEntryOffset[i] = offset;
    offset += 16;
  }
  for (size_t i = 0; i < resources.size(); ++i) {
    dataOffset[i] = offset;
    offset += static_cast<uint32_t>((resources[i].Data.size() + 3) & ~size_t{3});
  }
  rsrc.resize(offset, '\0');
  auto place = [&](uint32_t at, const std::string& bytes) {
    rsrc.replace(at, bytes.size(), bytes);
  };
  place(0, dirHeader(static_cast<uint32_t>(types.size())));
  for (size_t t = 0; t < types.size(); ++t) {
    place(16 + 8 * static_cast<uint32_t>(t), U32(types[t]) + U32(0x80000000u | typeDirOffset[t]));
    std::vector<size_t> members;
    for (size_t i = 0; i < resources.size(); ++i) {
      if (resources[i].Type == types[t]) members.push_back(i);
    }
    place(typeDirOffset[t], dirHeader(static_cast<uint32_t>(members.size())));
    for (size_t k = 0; k < members.size(); ++k) {
      const size_t i = members[k];
      place(typeDirOffset[t] + 16 + 8 * static_cast<uint32_t>(k),
            U32(resources[i].Id) + U32(0x80000000u | langDirOffset[i]));
    }
  }
  for (size_t i = 0; i < resources.size(); ++i) {
    place(langDirOffset[i], dirHeader(1) + U32(1033) + U32(dataEntryOffset[i]));
    place(dataEntryOffset[i], U32(kSectionRva + dataOffset[i]) +
                                  U32(static_cast<uint32_t>(resources[i].Data.size())) + U32(0) +
                                  U32(0));
    place(dataOffset[i], resources[i].Data);
  }
  while (rsrc.size() % 0x200 != 0) rsrc += '\0';

  std::string image(kRawPointer, '\0');
  image[0] = 'M';
  image[1] = 'Z';
  Put32(image, 0x3C, 0x40);
  image.replace(0x40, 4, std::string("PE\0\0", 4));
  Put16(image, 0x44, 0x14C);  // i386
  Put16(image, 0x46, 1);      // one section
  Put16(image, 0x54, 0xE0);   // optional header size
  Put16(image, 0x56, 0x2102);
  const size_t opt = 0x58;
  Put16(image, opt, 0x10B);
  Put32(image, opt + 92, 16);  // data directories
  Put32(image, opt + 96 + 16, kSectionRva);
  Put32(image, opt + 96 + 20, static_cast<uint32_t>(rsrc.size()));
  const size_t section = opt + 0xE0;
  image.replace(section, 6, ".rsrc\0", 6);
  Put32(image, section + 8, static_cast<uint32_t>(rsrc.size()));
  Put32(image, section + 12, kSectionRva);
  Put32(image, section + 16, static_cast<uint32_t>(rsrc.size()));
  Put32(image, section + 20, kRawPointer);
  image.resize(kRawPointer, '\0');
  return image + rsrc;
}

}  // namespace petest
