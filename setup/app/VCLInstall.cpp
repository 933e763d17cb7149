#include "setup/app/VCLInstall.h"

#include <fstream>
#include <sstream>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Strings.h"
#include "platform/win/Registry.h"
#include "platform/win/WinFileIO.h"
#include "platform/win/WinFiles.h"
#include "platform/win/WinPaths.h"
#include "platform/win/WinSystem.h"

namespace setup {

namespace {

struct TIDEData {
  const char* Name;
  const char* Product;     // "Delphi" or "C++Builder"
  const char* VersionKey;  // "\5.0"
  const char* HelpIndex;   // under the IDE's root folder
  const char* OldPackages;
};

constexpr TIDEData kIDEs[kIDECount] = {
    {"Delphi 3", "Delphi", "\\3.0", "\\Help\\Delphi3.cfg",
     "dclzel12d3.dpl,dclzel13d3.dpl,dclzel14d3.dpl"},
    {"Delphi 4", "Delphi", "\\4.0", "\\Help\\delphi4.ohl",
     "dclzel12d4.bpl,dclzel13d4.bpl,dclzel14d4.bpl"},
    {"Delphi 5", "Delphi", "\\5.0", "\\Help\\delphi5.ohl",
     "dclzel12d5.bpl,dclzel13d5.bpl,dclzel14d5.bpl"},
    {"Delphi 6", "Delphi", "\\6.0", "\\Help\\delphi6.ohl",
     "dclzel12d6.bpl,dclzel13d6.bpl,dclzel14d6.bpl"},
    {"Builder 6", "C++Builder", "\\6.0", "\\Help\\bcb6.ohl", "dclzel12b6.bpi"},
    {"Delphi 7", "Delphi", "\\7.0", "\\Help\\delphi7.ohl",
     "dclzel12d7.bpl,dclzel13d7.bpl,dclzel14d7.bpl"},
};

const std::string kDelphiKey = "\\software\\Borland\\Delphi";
const std::string kBuilderKey = "\\software\\Borland\\C++Builder";

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> items;
  std::string item;
  std::istringstream in(text);
  while (std::getline(in, item, separator)) items.push_back(item);
  if (!text.empty() && text.back() == separator) items.emplace_back();
  return items;
}

std::string FileNamePart(const std::string& path) {
  return plat::win::ExtractWinFileName(path);
}

bool InList(const std::string& name, const std::vector<std::string>& list) {
  for (const auto& item : list) {
    if (plat::SameText(plat::Trim(item), name)) return true;
  }
  return false;
}

}  // namespace

TInstallLog::TInstallLog() {
  Clear();
}

void TInstallLog::Clear() {
  lines_.clear();
  logDir_ = plat::win::GetTempPath();
}

std::string TInstallLog::FileName() const {
  std::string dir = logDir_;
  if (dir.empty() || !plat::win::DirectoryExists(dir)) dir = plat::win::GetTempPath();
  if (dir.back() != '\\') dir += '\\';
  return dir + "instlog.txt";
}

void TInstallLog::Save() const {
  try {
    std::string text;
    for (const auto& line : lines_) text += line + "\r\n";
    int error = 0;
    plat::win::ReplaceWholeFile(plat::win::HostPath(FileName()), text, error);
  } catch (...) {
    // The log is a trace only: it never stops the setup.
  }
}

TInstallLog& InstallLog() {
  static TInstallLog log;
  return log;
}

void LogAndSave(const std::string& Line) {
  InstallLog().Add(Line);
  InstallLog().Save();
}

TPackageInstaller::TPackageInstaller()
    : registry_(std::make_unique<TtrevRegistry>(plat::win::KEY_ALL_ACCESS)) {
  FindProducts();
}

std::string TPackageInstaller::IDEName(int Index) {
  return kIDEs[Index].Name;
}
std::string TPackageInstaller::OldPackages(int Index) {
  return kIDEs[Index].OldPackages;
}

void TPackageInstaller::FillRecord(int Index, const std::string& Key) {
  TIDERecord& ide = ides_[Index];
  ide.Found = true;
  if (registry_->OpenKeyReadOnly(Key)) ide.RootDir = registry_->ReadString("RootDir");
  registry_->CloseKey();
  ide.RegKey = Key;
  ide.HelpFile = ide.RootDir + kIDEs[Index].HelpIndex;
}

void TPackageInstaller::FindProducts() {
  InstallLog().Add("Starting find products");
  try {
    TtrevRegistry reg(plat::win::KEY_READ);
    reg.SetRootKey(plat::win::HKEY_LOCAL_MACHINE);
    registry_->SetRootKey(plat::win::HKEY_LOCAL_MACHINE);
    static constexpr int kDelphiOrder[] = {1, 2, 3, 5, 0};
    for (int index : kDelphiOrder) {
      const std::string key = kDelphiKey + kIDEs[index].VersionKey;
      if (reg.KeyExists(key)) {
        InstallLog().Add(std::string("Found ") + kIDEs[index].Name + " installation");
        FillRecord(index, key);
      }
    }
    const std::string builderKey = kBuilderKey + kIDEs[4].VersionKey;
    InstallLog().Add("Looking for: " + builderKey);
    if (reg.KeyExists(builderKey)) {
      InstallLog().Add("Found Builder 6 installation");
      FillRecord(4, builderKey);
    }
    InstallLog().Add("Finished finding products");
  } catch (const plat::Exception& e) {
    LogAndSave("Find products. Exception " + e.Message());
    throw;
  }
}

void TPackageInstaller::Palette(int Index, const std::string& Page,
                                const std::vector<std::string>& Components) {
  const std::string prefix = "Install into palette. Product - " + IDEName(Index);
  try {
    registry_->SetRootKey(plat::win::HKEY_CURRENT_USER);
    registry_->SetAccess(plat::win::KEY_ALL_ACCESS);
    const std::string key = std::string("\\SOFTWARE\\Borland\\") + kIDEs[Index].Product +
                            kIDEs[Index].VersionKey + "\\Palette";
    if (!registry_->OpenKey(key, false)) return;
    InstallLog().Add(prefix + ". Found Reg Key");
    if (!registry_->ValueExists(Page)) {
      std::string value;
      for (const auto& c : Components) value += (value.empty() ? "" : ";") + c;
      InstallLog().Add(prefix + ". Updating Registry");
      registry_->WriteString(Page, value);
    } else {
      std::string value = registry_->ReadString(Page);
      InstallLog().Add(prefix + ". Existing components: " + value);
      // A name is present when it is one of the ";" entries: a substring
      // test would take "TZelTable" as present in "TZelTableEx".
      std::vector<std::string> entries = Split(value, ';');
      bool appended = false;
      for (const auto& c : Components) {
        if (InList(c, entries)) continue;
        if (!value.empty() && value.back() != ';') value += ';';
        value += c;
        entries.push_back(c);
        appended = true;
      }
      if (appended) {
        InstallLog().Add(prefix + ". Updating Registry");
        registry_->WriteString(Page, value);
      }
    }
    registry_->CloseKey();
    InstallLog().Add(prefix + ". Completed");
  } catch (const plat::Exception& e) {
    registry_->CloseKey();
    LogAndSave(prefix + ". Exception " + e.Message());
    throw;
  }
}

int TPackageInstaller::RegisterPackage(int Index, const std::string& PackagePath,
                                       const std::string& OldPackageList,
                                       const std::string& Description) {
  const std::string prefix = "Install into VCL. Product - " + IDEName(Index);
  const TIDERecord& ide = ides_[Index];
  try {
    InstallLog().Add(prefix + ".Installing component: " + PackagePath);
    registry_->SetRootKey(plat::win::HKEY_CURRENT_USER);
    registry_->SetAccess(plat::win::KEY_ALL_ACCESS);
    const std::string packageName = FileNamePart(PackagePath);
    std::vector<std::string> packages = Split(OldPackageList, ',');
    packages.push_back(packageName);

    if (registry_->OpenKey(ide.RegKey + "\\Disabled Packages", false)) {
      for (const auto& name : registry_->GetValueNames()) {
        if (InList(FileNamePart(name), packages)) registry_->DeleteValue(name);
      }
      registry_->CloseKey();
    }

    const std::string known = ide.RegKey + "\\Known Packages";
    if (!registry_->OpenKey(known, false)) {
      LogAndSave("Error: Unable to open key:" + known);
      return -1;
    }
    for (const auto& name : registry_->GetValueNames()) {
      if (InList(FileNamePart(name), packages)) {
        registry_->DeleteValue(name);
        InstallLog().Add("Deleting old package: " + name);
      }
    }
    if (!registry_->ValueExists(PackagePath)) {
      try {
        registry_->WriteString(PackagePath, Description);
        InstallLog().Add("Adding package: " + PackagePath);
      } catch (const plat::Exception&) {
        InstallLog().Add("Exception: Unable to insert package:" + PackagePath);
      }
    }
    registry_->CloseKey();

    InstallLog().Add("Install into VCL. Updating library path");
    if (registry_->OpenKey(ide.RegKey + "\\Library", false)) {
      const std::string valueName = Index == 0 ? "SearchPath" : "Search Path";
      bool readOk = true;
      std::string value;
      try {
        value = registry_->ReadString(valueName);
      } catch (const plat::Exception&) {
        readOk = false;
      }
      if (readOk) {
        InstallLog().Add("Install into VCL. Existing search path: " + value);
        std::vector<std::string> entries;
        for (const auto& e : Split(value, ';')) entries.push_back(plat::Trim(e));
        for (int i = static_cast<int>(entries.size()) - 1; i >= 0; --i) {
          bool former = false;
          for (const auto& p : packages) {
            const std::string name = plat::Trim(p);
            if (!name.empty() && plat::win::FileExists(entries[i] + name)) former = true;
          }
          if (former) entries.erase(entries.begin() + i);
        }
        const std::string dir = plat::win::ExtractWinFileDir(PackagePath);
        InstallLog().Add("Install into VCL. Installing component path: " + dir);
        if (!InList(dir, entries)) entries.push_back(dir);
        std::string joined;
        for (size_t i = 0; i < entries.size(); ++i) joined += (i ? ";" : "") + entries[i];
        if (joined != value) {
          InstallLog().Add("Install into VCL. Updating search path to: " + joined);
          try {
            registry_->WriteString(valueName, joined);
          } catch (const plat::Exception&) {
          }
        } else {
          InstallLog().Add("Install into VCL. Search path not required to update");
        }
      }
      registry_->CloseKey();
    }
    InstallLog().Add(prefix + ". Completed");
  } catch (const plat::Exception& e) {
    registry_->CloseKey();
    LogAndSave(prefix + ". Exception " + e.Message());
    throw;
  }
  return -1;
}

int TPackageInstaller::RegisterHelp(int Index, const std::string& HelpFileName) {
  const std::string index = ides_[Index].HelpFile;
  if (ides_[Index].RootDir.empty() || !plat::win::FileExists(index)) return -1;
  std::string text;
  int error = 0;
  const std::string host = plat::win::HostPath(index);
  if (!plat::win::ReadWholeFile(host, text, error)) return -1;
  std::vector<std::string> lines;
  {
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line);
    }
  }
  bool found = false;
  for (int i = static_cast<int>(lines.size()) - 1; i >= 0; --i) {
    if (plat::Pos(HelpFileName, lines[i]) > 0) {
      found = true;
      break;
    }
    if (plat::Pos("THIRD-PARTY HELP", plat::UpperCase(lines[i])) > 0) break;
  }
  if (!found) {
    lines.push_back(":Link " + HelpFileName);
    std::string out;
    for (const auto& line : lines) out += line + "\r\n";
    // Written beside and renamed over, so the IDE never finds half an index.
    plat::win::ReplaceWholeFile(host, out, error);
  }
  const std::string ext = plat::win::ExtractWinFileExt(index);
  plat::win::DeleteFile(index.substr(0, index.size() - ext.size()) + ".gid");
  return 1;
}

}  // namespace setup
