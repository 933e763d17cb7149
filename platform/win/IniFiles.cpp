#include "platform/win/IniFiles.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/win/WinPaths.h"
#include "platform/win/WinSystem.h"

namespace plat::win {

namespace {

std::string Trim(const std::string& s) {
  size_t begin = 0;
  size_t end = s.size();
  while (begin < end && static_cast<unsigned char>(s[begin]) <= ' ') ++begin;
  while (end > begin && static_cast<unsigned char>(s[end - 1]) <= ' ') --end;
  return s.substr(begin, end - begin);
}

// Integers as the library's conversion reads them: decimal, "$" or "0x" hex.
bool ParseInteger(const std::string& text, int32_t& value) {
  const std::string s = Trim(text);
  if (s.empty()) return false;
  size_t pos = 0;
  bool negative = false;
  if (s[pos] == '-' || s[pos] == '+') {
    negative = s[pos] == '-';
    ++pos;
  }
  int base = 10;
  if (pos < s.size() && s[pos] == '$') {
    base = 16;
    ++pos;
  } else if (pos + 1 < s.size() && s[pos] == '0' && (s[pos + 1] == 'x' || s[pos + 1] == 'X')) {
    base = 16;
    pos += 2;
  }
  if (pos >= s.size()) return false;
  int64_t result = 0;
  for (; pos < s.size(); ++pos) {
    const char c = s[pos];
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return false;
    }
    result = result * base + digit;
    if (result > (base == 16 ? 0xFFFFFFFFLL : 0x80000000LL)) return false;
  }
  if (base == 10 && !negative && result > 0x7FFFFFFF) return false;
  value = static_cast<int32_t>(static_cast<uint32_t>(negative ? -result : result));
  return true;
}

}  // namespace

void TIniText::Parse(const std::string& text) {
  sections_.clear();
  TSection preamble;
  preamble.Header = false;
  sections_.push_back(preamble);
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string trimmed = Trim(line);
    if (!trimmed.empty() && trimmed[0] == '[') {
      const size_t close = trimmed.find(']');
      TSection section;
      section.Name =
          Trim(trimmed.substr(1, close == std::string::npos ? std::string::npos : close - 1));
      sections_.push_back(section);
      continue;
    }
    TLine entry;
    const size_t eq = line.find('=');
    if (!trimmed.empty() && trimmed[0] != ';' && eq != std::string::npos) {
      entry.IsEntry = true;
      entry.Ident = Trim(line.substr(0, eq));
      entry.Value = line.substr(eq + 1);
    } else {
      entry.Raw = line;
    }
    sections_.back().Lines.push_back(entry);
  }
  // A final blank line comes from the last line break, not from the file.
  if (!sections_.empty() && !sections_.back().Lines.empty()) {
    const TLine& last = sections_.back().Lines.back();
    if (!last.IsEntry && last.Raw.empty() && !text.empty() && text.back() == '\n') {
      sections_.back().Lines.pop_back();
    }
  }
}

std::string TIniText::Text() const {
  std::string text;
  for (const TSection& section : sections_) {
    if (section.Header) text += "[" + section.Name + "]\r\n";
    for (const TLine& line : section.Lines) {
      text += line.IsEntry ? line.Ident + "=" + line.Value : line.Raw;
      text += "\r\n";
    }
  }
  return text;
}

TIniText::TSection* TIniText::Find(const std::string& section) {
  for (TSection& s : sections_) {
    if (s.Header && SameName(s.Name, Trim(section))) return &s;
  }
  return nullptr;
}

const TIniText::TSection* TIniText::Find(const std::string& section) const {
  return const_cast<TIniText*>(this)->Find(section);
}

bool TIniText::ReadString(const std::string& section, const std::string& ident,
                          std::string& value) const {
  const TSection* s = Find(section);
  if (s == nullptr) return false;
  for (const TLine& line : s->Lines) {
    if (line.IsEntry && SameName(line.Ident, Trim(ident))) {
      value = Trim(line.Value);
      if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        value = value.substr(1, value.size() - 2);
      }
      return true;
    }
  }
  return false;
}

void TIniText::WriteString(const std::string& section, const std::string& ident,
                           const std::string& value) {
  TSection* s = Find(section);
  if (s == nullptr) {
    if (sections_.empty()) {
      TSection preamble;
      preamble.Header = false;
      sections_.push_back(preamble);
    }
    TSection added;
    added.Name = Trim(section);
    sections_.push_back(added);
    s = &sections_.back();
  }
  for (TLine& line : s->Lines) {
    if (line.IsEntry && SameName(line.Ident, Trim(ident))) {
      line.Value = value;
      return;
    }
  }
  TLine line;
  line.IsEntry = true;
  line.Ident = Trim(ident);
  line.Value = value;
  // New entries go after the section's last entry, before trailing blanks.
  size_t at = s->Lines.size();
  while (at > 0 && !s->Lines[at - 1].IsEntry && Trim(s->Lines[at - 1].Raw).empty()) --at;
  s->Lines.insert(s->Lines.begin() + static_cast<std::ptrdiff_t>(at), line);
}

bool TIniText::DeleteKey(const std::string& section, const std::string& ident) {
  TSection* s = Find(section);
  if (s == nullptr) return false;
  for (size_t i = 0; i < s->Lines.size(); ++i) {
    if (s->Lines[i].IsEntry && SameName(s->Lines[i].Ident, Trim(ident))) {
      s->Lines.erase(s->Lines.begin() + static_cast<std::ptrdiff_t>(i));
      return true;
    }
  }
  return false;
}

bool TIniText::EraseSection(const std::string& section) {
  for (size_t i = 0; i < sections_.size(); ++i) {
    if (sections_[i].Header && SameName(sections_[i].Name, Trim(section))) {
      sections_.erase(sections_.begin() + static_cast<std::ptrdiff_t>(i));
      return true;
    }
  }
  return false;
}

bool TIniText::SectionExists(const std::string& section) const {
  return Find(section) != nullptr;
}

std::vector<std::string> TIniText::Sections() const {
  std::vector<std::string> names;
  for (const TSection& s : sections_) {
    if (s.Header) names.push_back(s.Name);
  }
  return names;
}

std::vector<std::string> TIniText::Idents(const std::string& section) const {
  std::vector<std::string> names;
  if (const TSection* s = Find(section)) {
    for (const TLine& line : s->Lines) {
      if (line.IsEntry) names.push_back(line.Ident);
    }
  }
  return names;
}

std::vector<std::string> TIniText::SectionValues(const std::string& section) const {
  std::vector<std::string> lines;
  if (const TSection* s = Find(section)) {
    for (const TLine& line : s->Lines) {
      if (line.IsEntry) lines.push_back(line.Ident + "=" + Trim(line.Value));
    }
  }
  return lines;
}

TIniFile::TIniFile(const std::string& fileName) : fileName_(fileName) {
  std::string winName = fileName;
  if (winName.find('\\') == std::string::npos && winName.find('/') == std::string::npos &&
      ExtractWinFileDrive(winName).empty()) {
    winName = GetWindowsDirectory() + "\\" + winName;
  }
  hostName_ = HostPath(winName);
}

TIniFile::TIniFile(const std::string& hostPath, THostTag)
    : fileName_(hostPath), hostName_(hostPath) {}

TIniFile TIniFile::OnHostFile(const std::string& hostPath) {
  return TIniFile(hostPath, THostTag{});
}

namespace {

// Reads the rest of an open file.
bool ReadDescriptor(int fd, std::string& content) {
  content.clear();
  char buffer[16384];
  for (;;) {
    const ssize_t n = ::pread(fd, buffer, sizeof buffer, static_cast<off_t>(content.size()));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return true;
    content.append(buffer, static_cast<size_t>(n));
  }
}

int LockDescriptor(int fd, int mode) {
  int rc;
  do {
    rc = ::flock(fd, mode);
  } while (rc != 0 && errno == EINTR);
  return rc;
}

}  // namespace

TIniText TIniFile::Load() const {
  TIniText text;
  // The file is locked itself (it is rewritten in place), so a reader never
  // sees a half-written file. A missing file reads as an empty one.
  const int fd = ::open(hostName_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return text;
  std::string content;
  if (LockDescriptor(fd, LOCK_SH) == 0 && ReadDescriptor(fd, content)) text.Parse(content);
  ::close(fd);
  return text;
}

template <typename Change>
void TIniFile::Modify(Change change) {
  const int fd = ::open(hostName_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) throw EIniFileException("Unable to write to " + fileName_);
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  std::string content;
  if (LockDescriptor(fd, LOCK_EX) != 0 || !ReadDescriptor(fd, content)) {
    throw EIniFileException("Unable to write to " + fileName_);
  }
  TIniText text;
  text.Parse(content);
  if (!change(text)) return;
  const std::string updated = text.Text();
  size_t done = 0;
  while (done < updated.size()) {
    const ssize_t n =
        ::pwrite(fd, updated.data() + done, updated.size() - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw EIniFileException("Unable to write to " + fileName_);
    done += static_cast<size_t>(n);
  }
  if (::ftruncate(fd, static_cast<off_t>(updated.size())) != 0) {
    throw EIniFileException("Unable to write to " + fileName_);
  }
}

std::string TIniFile::ReadString(const std::string& section, const std::string& ident,
                                 const std::string& defaultValue) const {
  std::string value;
  return Load().ReadString(section, ident, value) ? value : defaultValue;
}

void TIniFile::WriteString(const std::string& section, const std::string& ident,
                           const std::string& value) {
  Modify([&](TIniText& text) {
    text.WriteString(section, ident, value);
    return true;
  });
}

int32_t TIniFile::ReadInteger(const std::string& section, const std::string& ident,
                              int32_t defaultValue) const {
  int32_t value = 0;
  return ParseInteger(ReadString(section, ident, ""), value) ? value : defaultValue;
}

void TIniFile::WriteInteger(const std::string& section, const std::string& ident, int32_t value) {
  WriteString(section, ident, std::to_string(value));
}

bool TIniFile::ReadBool(const std::string& section, const std::string& ident,
                        bool defaultValue) const {
  return ReadInteger(section, ident, defaultValue ? 1 : 0) != 0;
}

void TIniFile::WriteBool(const std::string& section, const std::string& ident, bool value) {
  WriteString(section, ident, value ? "1" : "0");
}

std::vector<std::string> TIniFile::ReadSection(const std::string& section) const {
  return Load().Idents(section);
}

std::vector<std::string> TIniFile::ReadSections() const {
  return Load().Sections();
}

std::vector<std::string> TIniFile::ReadSectionValues(const std::string& section) const {
  return Load().SectionValues(section);
}

void TIniFile::EraseSection(const std::string& section) {
  Modify([&](TIniText& text) { return text.EraseSection(section); });
}

void TIniFile::DeleteKey(const std::string& section, const std::string& ident) {
  Modify([&](TIniText& text) { return text.DeleteKey(section, ident); });
}

bool TIniFile::SectionExists(const std::string& section) const {
  return Load().SectionExists(section);
}

bool TIniFile::ValueExists(const std::string& section, const std::string& ident) const {
  std::string value;
  return Load().ReadString(section, ident, value);
}

}  // namespace plat::win
