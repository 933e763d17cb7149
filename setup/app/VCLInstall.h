#pragma once
// Registration of the kit's design package with the IDEs found on the
// machine (palette page, package list, search path, help index), and the
// install log every step of the setup writes to.

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "setup/library/cmp_TTrevRegistry.h"

namespace setup {

// The setup's trace: saved after every step so that a failed setup leaves
// one behind.
class TInstallLog {
 public:
  TInstallLog();
  void Add(const std::string& Line) { lines_.push_back(Line); }
  // Writes every line to FileName(); a failure is ignored.
  void Save() const;
  // "instlog.txt" in the log directory when that exists, else in the
  // temporary directory.
  std::string FileName() const;
  void SetLogDir(const std::string& Dir) { logDir_ = Dir; }
  const std::string& LogDir() const { return logDir_; }
  const std::vector<std::string>& Lines() const { return lines_; }
  // Back to a fresh log in the temporary directory.
  void Clear();

 private:
  std::vector<std::string> lines_;
  std::string logDir_;
};

// The setup's one log.
TInstallLog& InstallLog();
// Adds a line and saves.
void LogAndSave(const std::string& Line);

struct TIDERecord {
  bool Found = false;
  std::string RootDir;
  std::string RegKey;
  std::string HelpFile;
};

inline constexpr int kIDECount = 6;

class TPackageInstaller {
 public:
  // Detects the IDEs.
  TPackageInstaller();

  const TIDERecord& Query(int Index) const { return ides_.at(Index); }
  static std::string IDEName(int Index);
  // The design packages of former releases for the IDE (a comma list).
  static std::string OldPackages(int Index);

  void Palette(int Index, const std::string& Page, const std::vector<std::string>& Components);
  int RegisterPackage(int Index, const std::string& PackagePath, const std::string& OldPackageList,
                      const std::string& Description);
  int RegisterHelp(int Index, const std::string& HelpFileName);

 private:
  void FindProducts();
  void FillRecord(int Index, const std::string& Key);

  std::unique_ptr<TtrevRegistry> registry_;
  std::array<TIDERecord, kIDECount> ides_;
};

}  // namespace setup
