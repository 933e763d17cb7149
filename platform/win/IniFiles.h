#pragma once
// INI files of the virtual Windows: sections of "ident=value" lines, names
// compared ignoring case, comments and blank lines kept when the file is
// rewritten. Every write goes to the file at once, under an exclusive flock
// on the file, so two processes writing one file lose no entry.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Object.h"

namespace plat::win {

PLAT_DECLARE_EXCEPTION(EIniFileException, Exception);

// The parsed text of one INI file.
class TIniText {
 public:
  void Parse(const std::string& text);
  // The file text, lines ended by CR LF.
  std::string Text() const;

  // False when the section or the ident is missing. The value is trimmed, and
  // one pair of enclosing double quotes is removed, as Windows reads it.
  bool ReadString(const std::string& section, const std::string& ident, std::string& value) const;
  // Replaces the value (keeping the ident's case as first written) or appends
  // the ident, and the section when it is missing.
  void WriteString(const std::string& section, const std::string& ident, const std::string& value);
  bool DeleteKey(const std::string& section, const std::string& ident);
  bool EraseSection(const std::string& section);
  bool SectionExists(const std::string& section) const;

  std::vector<std::string> Sections() const;
  // The idents of a section, in file order.
  std::vector<std::string> Idents(const std::string& section) const;
  // "ident=value" per entry of a section, in file order.
  std::vector<std::string> SectionValues(const std::string& section) const;

 private:
  struct TLine {
    bool IsEntry = false;
    std::string Ident;  // entries: trimmed ident
    std::string Value;  // entries: the raw text after "="
    std::string Raw;    // other lines: the text as read
  };
  struct TSection {
    std::string Name;
    bool Header = true;  // false for lines before the first section
    std::vector<TLine> Lines;
  };
  TSection* Find(const std::string& section);
  const TSection* Find(const std::string& section) const;

  std::vector<TSection> sections_;
};

// The component library's INI file class over a file of the virtual Windows.
// A name without a folder is in the Windows folder, as Windows places it.
class TIniFile : public TObject {
 public:
  explicit TIniFile(const std::string& fileName);
  std::string ClassName() const override { return "TIniFile"; }

  // The file as given and its host path.
  const std::string& FileName() const { return fileName_; }
  const std::string& HostFileName() const { return hostName_; }

  std::string ReadString(const std::string& section, const std::string& ident,
                         const std::string& defaultValue) const;
  // Raises EIniFileException when the file cannot be written.
  void WriteString(const std::string& section, const std::string& ident, const std::string& value);
  int32_t ReadInteger(const std::string& section, const std::string& ident,
                      int32_t defaultValue) const;
  void WriteInteger(const std::string& section, const std::string& ident, int32_t value);
  bool ReadBool(const std::string& section, const std::string& ident, bool defaultValue) const;
  void WriteBool(const std::string& section, const std::string& ident, bool value);

  std::vector<std::string> ReadSection(const std::string& section) const;
  std::vector<std::string> ReadSections() const;
  std::vector<std::string> ReadSectionValues(const std::string& section) const;
  void EraseSection(const std::string& section);
  void DeleteKey(const std::string& section, const std::string& ident);
  bool SectionExists(const std::string& section) const;
  bool ValueExists(const std::string& section, const std::string& ident) const;
  // Writes are immediate; kept for callers written against the library.
  void UpdateFile() {}

  // The same class on a host path (the system configuration in the root).
  static TIniFile OnHostFile(const std::string& hostPath);

 private:
  struct THostTag {};
  TIniFile(const std::string& hostPath, THostTag);
  TIniText Load() const;
  template <typename Change>
  void Modify(Change change);

  std::string fileName_;
  std::string hostName_;
};

}  // namespace plat::win
