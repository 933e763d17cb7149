#include "platform/win/VersionInfo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "platform/rtl/Strings.h"
#include "platform/win/WinFiles.h"
#include "platform/win/WinPaths.h"
#include "platform/win/WinSystem.h"

namespace plat::win {

namespace {

// Layout of the parts of a PE file that lead to its resources.
constexpr uint32_t kDosLfanew = 0x3C;        // offset of the PE header
constexpr uint32_t kCoffSections = 6;        // after "PE\0\0": section count
constexpr uint32_t kCoffOptionalSize = 20;   // optional header size
constexpr uint32_t kOptionalHeader = 24;     // optional header start
constexpr uint32_t kPe32DirCount = 92;       // NumberOfRvaAndSizes, PE32
constexpr uint32_t kPe32PlusDirCount = 108;  // NumberOfRvaAndSizes, PE32+
constexpr uint32_t kResourceDirIndex = 2;
constexpr uint32_t kSectionSize = 40;
constexpr uint32_t kSectionVirtualSize = 8;
constexpr uint32_t kSectionVirtualAddress = 12;
constexpr uint32_t kSectionRawSize = 16;
constexpr uint32_t kSectionRawPointer = 20;
constexpr uint32_t kResDirNamedCount = 12;
constexpr uint32_t kResDirIdCount = 14;
constexpr uint32_t kResDirEntries = 16;
constexpr uint32_t kMaxFileSize = 256u * 1024 * 1024;  // larger files are not read

// A view on a byte string with bounded little-endian loads.
class TBytes {
 public:
  explicit TBytes(const std::string& data) : data_(data) {}
  size_t Size() const { return data_.size(); }
  bool Has(uint64_t offset, uint64_t length) const {
    return offset <= data_.size() && length <= data_.size() - offset;
  }
  uint16_t U16(uint64_t offset) const {
    return static_cast<uint16_t>(Byte(offset) | (Byte(offset + 1) << 8));
  }
  uint32_t U32(uint64_t offset) const {
    return static_cast<uint32_t>(U16(offset)) | (static_cast<uint32_t>(U16(offset + 2)) << 16);
  }
  std::string Slice(uint64_t offset, uint64_t length) const {
    return Has(offset, length) ? data_.substr(offset, length) : std::string();
  }

 private:
  uint32_t Byte(uint64_t offset) const {
    return offset < data_.size() ? static_cast<unsigned char>(data_[offset]) : 0u;
  }
  const std::string& data_;
};

bool ReadHostFile(const std::string& host, std::string& content) {
  const int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    SetLastError(ErrorFromErrno(errno));
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxFileSize) {
    ::close(fd);
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return false;
  }
  // Only a Windows image has resources; a host program is not read whole.
  char magic[2] = {0, 0};
  if (::pread(fd, magic, 2, 0) != 2 || magic[0] != 'M' || magic[1] != 'Z') {
    ::close(fd);
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return false;
  }
  content.resize(static_cast<size_t>(st.st_size));
  size_t done = 0;
  while (done < content.size()) {
    const ssize_t n =
        ::pread(fd, content.data() + done, content.size() - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  ::close(fd);
  content.resize(done);
  return true;
}

// The resources of one PE image.
class TPeResources {
 public:
  explicit TPeResources(const std::string& image) : image_(image), bytes_(image_) { Locate(); }

  bool Valid() const { return valid_; }

  // Data of the resource at type / id (id 0xFFFFFFFF: the first one) / first
  // language.
  bool Find(uint32_t type, uint32_t id, std::string& data) const {
    if (!valid_) return false;
    uint32_t dir = 0;
    if (!Entry(0, type, true, dir)) return false;
    uint32_t nameDir = 0;
    if (!Entry(dir, id, true, nameDir)) return false;
    uint32_t dataEntry = 0;
    if (!Entry(nameDir, kFirst, false, dataEntry)) return false;
    // Data entry: the data's RVA and size.
    if (!bytes_.Has(uint64_t{resOffset_} + dataEntry, 16)) return false;
    const uint32_t rva = bytes_.U32(uint64_t{resOffset_} + dataEntry);
    const uint32_t size = bytes_.U32(uint64_t{resOffset_} + dataEntry + 4);
    uint64_t offset = 0;
    if (!RvaToOffset(rva, size, offset)) return false;
    data = bytes_.Slice(offset, size);
    return true;
  }

  static constexpr uint32_t kFirst = 0xFFFFFFFFu;

 private:
  struct TSection {
    uint32_t VirtualAddress;
    uint32_t VirtualSize;
    uint32_t RawPointer;
    uint32_t RawSize;
  };

  void Locate() {
    if (!bytes_.Has(0, 64) || image_[0] != 'M' || image_[1] != 'Z') return;
    const uint32_t pe = bytes_.U32(kDosLfanew);
    if (!bytes_.Has(pe, kOptionalHeader) || image_.compare(pe, 4, std::string("PE\0\0", 4)) != 0) {
      return;
    }
    const uint32_t sectionCount = bytes_.U16(uint64_t{pe} + kCoffSections);
    const uint32_t optionalSize = bytes_.U16(uint64_t{pe} + kCoffOptionalSize);
    const uint64_t optional = uint64_t{pe} + kOptionalHeader;
    if (!bytes_.Has(optional, optionalSize) || optionalSize < 2) return;
    const uint16_t magic = bytes_.U16(optional);
    uint64_t countOffset;
    if (magic == 0x10B) {
      countOffset = kPe32DirCount;
    } else if (magic == 0x20B) {
      countOffset = kPe32PlusDirCount;
    } else {
      return;
    }
    if (countOffset + 4 > optionalSize) return;
    const uint32_t dirCount = bytes_.U32(optional + countOffset);
    const uint64_t dirEntry = optional + countOffset + 4 + kResourceDirIndex * 8;
    if (dirCount <= kResourceDirIndex || dirEntry + 8 > optional + optionalSize) return;
    const uint32_t resRva = bytes_.U32(dirEntry);
    const uint32_t resSize = bytes_.U32(dirEntry + 4);
    if (resRva == 0 || resSize == 0) return;
    const uint64_t table = optional + optionalSize;
    if (!bytes_.Has(table, uint64_t{sectionCount} * kSectionSize)) return;
    for (uint32_t i = 0; i < sectionCount; ++i) {
      const uint64_t s = table + uint64_t{i} * kSectionSize;
      sections_.push_back({bytes_.U32(s + kSectionVirtualAddress),
                           bytes_.U32(s + kSectionVirtualSize), bytes_.U32(s + kSectionRawPointer),
                           bytes_.U32(s + kSectionRawSize)});
    }
    uint64_t offset = 0;
    if (!RvaToOffset(resRva, kResDirEntries, offset)) return;
    resOffset_ = offset;
    valid_ = true;
  }

  // The file offset of [rva, rva + size), which must lie in one section's raw
  // data.
  bool RvaToOffset(uint32_t rva, uint32_t size, uint64_t& offset) const {
    for (const TSection& s : sections_) {
      const uint64_t span = std::max(s.VirtualSize, s.RawSize);
      if (rva < s.VirtualAddress || uint64_t{rva} - s.VirtualAddress >= span) continue;
      const uint64_t delta = uint64_t{rva} - s.VirtualAddress;
      if (delta + size > s.RawSize) return false;
      offset = uint64_t{s.RawPointer} + delta;
      return bytes_.Has(offset, size);
    }
    return false;
  }

  // Finds in the directory at dir (relative to the resources) the entry with
  // that id (kFirst: the first entry); subdir tells whether it must lead to a
  // directory. target is relative to the resources.
  bool Entry(uint32_t dir, uint32_t id, bool subdir, uint32_t& target) const {
    const uint64_t base = resOffset_ + uint64_t{dir};
    if (!bytes_.Has(base, kResDirEntries)) return false;
    const uint32_t named = bytes_.U16(base + kResDirNamedCount);
    const uint32_t ids = bytes_.U16(base + kResDirIdCount);
    const uint32_t count = named + ids;
    if (!bytes_.Has(base + kResDirEntries, uint64_t{count} * 8)) return false;
    for (uint32_t i = 0; i < count; ++i) {
      const uint64_t e = base + kResDirEntries + uint64_t{i} * 8;
      const uint32_t name = bytes_.U32(e);
      const uint32_t offset = bytes_.U32(e + 4);
      const bool isDir = (offset & 0x80000000u) != 0;
      if (id != kFirst && ((name & 0x80000000u) != 0 || name != id)) continue;
      if (isDir != subdir) return false;
      target = offset & 0x7FFFFFFFu;
      // A directory pointing back at itself or an earlier one would loop.
      if (subdir && target <= dir) return false;
      return true;
    }
    return false;
  }

  std::string image_;
  TBytes bytes_;
  std::vector<TSection> sections_;
  uint64_t resOffset_ = 0;
  bool valid_ = false;
};

std::string Utf16ToUtf8(const std::string& bytes) {
  std::u16string wide;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    wide += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                  (static_cast<unsigned char>(bytes[i + 1]) << 8));
  }
  return WideToUtf8(wide);
}

// One node of a version block: header (wLength, wValueLength, wType), the
// zero-terminated UTF-16 key, padding to 4 bytes, the value, padding, then
// the children up to wLength.
struct TVersionNode {
  uint64_t Start = 0;
  uint64_t End = 0;
  std::string Key;
  std::string Value;  // raw bytes
  bool Text = false;
  uint64_t ChildrenStart = 0;
};

uint64_t Align4(uint64_t v) {
  return (v + 3) & ~uint64_t{3};
}

bool ReadNode(const TBytes& bytes, uint64_t start, uint64_t limit, TVersionNode& node) {
  if (start + 6 > limit || !bytes.Has(start, 6)) return false;
  const uint16_t length = bytes.U16(start);
  const uint16_t valueLength = bytes.U16(start + 2);
  const uint16_t type = bytes.U16(start + 4);
  if (length < 6 || start + length > limit) return false;
  node.Start = start;
  node.End = start + length;
  node.Text = type == 1;
  uint64_t pos = start + 6;
  std::string key;
  for (;;) {
    if (pos + 2 > node.End) return false;
    const uint16_t c = bytes.U16(pos);
    pos += 2;
    if (c == 0) break;
    key += static_cast<char>(c & 0xFF);
    key += static_cast<char>(c >> 8);
  }
  node.Key = Utf16ToUtf8(key);
  pos = Align4(pos);
  // A text value's length counts UTF-16 characters, a binary one bytes.
  const uint64_t valueBytes = node.Text ? uint64_t{valueLength} * 2 : valueLength;
  if (pos > node.End || valueBytes > node.End - pos) {
    // Some writers count a text value in bytes; take what fits.
    if (pos > node.End) return false;
    node.Value = bytes.Slice(pos, node.End - pos);
    node.ChildrenStart = node.End;
    return true;
  }
  node.Value = bytes.Slice(pos, valueBytes);
  node.ChildrenStart = Align4(pos + valueBytes);
  return true;
}

}  // namespace

bool ReadResourceById(const std::string& fileName, uint32_t type, uint32_t id, std::string& data) {
  EnsureWindowsRoot();
  std::string image;
  if (!ReadHostFile(HostPath(fileName), image)) return false;
  const TPeResources resources(image);
  if (!resources.Valid()) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return false;
  }
  if (!resources.Find(type, id, data)) {
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return false;
  }
  return true;
}

bool ReadResource(const std::string& fileName, uint32_t type, std::string& data) {
  return ReadResourceById(fileName, type, TPeResources::kFirst, data);
}

uint32_t GetFileVersionInfoSize(const std::string& fileName) {
  std::string block;
  return GetFileVersionInfo(fileName, block) ? static_cast<uint32_t>(block.size()) : 0;
}

bool GetFileVersionInfo(const std::string& fileName, std::string& block) {
  if (!ReadResource(fileName, RT_VERSION, block)) return false;
  // The block must at least hold its root node.
  TVersionNode root;
  const TBytes bytes(block);
  if (!ReadNode(bytes, 0, block.size(), root) || !SameName(root.Key, "VS_VERSION_INFO")) {
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    block.clear();
    return false;
  }
  return true;
}

bool VerQueryValue(const std::string& block, const std::string& subBlock, std::string& value) {
  const TBytes bytes(block);
  TVersionNode node;
  if (!ReadNode(bytes, 0, block.size(), node)) return false;
  size_t pos = 0;
  while (pos <= subBlock.size()) {
    size_t slash = subBlock.find('\\', pos);
    if (slash == std::string::npos) slash = subBlock.size();
    const std::string name = subBlock.substr(pos, slash - pos);
    pos = slash + 1;
    if (name.empty()) continue;
    bool found = false;
    uint64_t child = node.ChildrenStart;
    // Each child is at least 6 bytes long, so this walk ends.
    while (child < node.End) {
      TVersionNode next;
      if (!ReadNode(bytes, child, node.End, next)) break;
      if (SameName(next.Key, name)) {
        node = next;
        found = true;
        break;
      }
      child = Align4(next.End);
    }
    if (!found) return false;
  }
  if (node.Text) {
    std::string text = Utf16ToUtf8(node.Value);
    const size_t zero = text.find('\0');
    value = zero == std::string::npos ? text : text.substr(0, zero);
  } else {
    value = node.Value;
  }
  return true;
}

bool LoadFixedFileInfo(const std::string& bytes, TVSFixedFileInfo& info) {
  const TBytes b(bytes);
  if (!b.Has(0, kFixedFileInfoSize) || b.U32(0) != kFixedFileInfoSignature) return false;
  uint32_t* fields[] = {&info.dwSignature,     &info.dwStrucVersion,     &info.dwFileVersionMS,
                        &info.dwFileVersionLS, &info.dwProductVersionMS, &info.dwProductVersionLS,
                        &info.dwFileFlagsMask, &info.dwFileFlags,        &info.dwFileOS,
                        &info.dwFileType,      &info.dwFileSubtype,      &info.dwFileDateMS,
                        &info.dwFileDateLS};
  for (size_t i = 0; i < 13; ++i) *fields[i] = b.U32(i * 4);
  return true;
}

bool LoadStringResource(const std::string& library, uint32_t id, std::string& text) {
  std::string file = library;
  const bool bare = library.find('\\') == std::string::npos &&
                    library.find('/') == std::string::npos && ExtractWinFileDrive(library).empty();
  if (bare) {
    std::string name = library;
    if (ExtractWinFileExt(name).empty()) name += ".dll";
    file = GetSystemDirectory() + "\\" + name;
    if (!FileExists(file)) file = GetWindowsDirectory() + "\\" + name;
  }
  if (!FileExists(file)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
  }
  // Strings are stored sixteen to a block: block id / 16 + 1, each string a
  // UTF-16 character count followed by the characters.
  std::string block;
  if (!ReadResourceById(file, RT_STRING, (id >> 4) + 1, block)) return false;
  const TBytes bytes(block);
  uint64_t pos = 0;
  for (uint32_t i = 0; i < 16; ++i) {
    if (!bytes.Has(pos, 2)) return false;
    const uint64_t count = bytes.U16(pos);
    pos += 2;
    if (!bytes.Has(pos, count * 2)) return false;
    if (i == (id & 15)) {
      if (count == 0) return false;
      text = Utf16ToUtf8(bytes.Slice(pos, count * 2));
      return true;
    }
    pos += count * 2;
  }
  return false;
}

}  // namespace plat::win
