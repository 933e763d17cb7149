#include "platform/win/Restart.h"

#include <cstdlib>

#include "platform/win/IniFiles.h"
#include "platform/win/Processes.h"
#include "platform/win/Registry.h"
#include "platform/win/RegistryStore.h"
#include "platform/win/WinFiles.h"
#include "platform/win/WinPaths.h"
#include "platform/win/WinSystem.h"

namespace plat::win {

namespace {

const std::string kNtPrefix = "\\?\?\\";

// Drops the zero byte of the closing empty item, so that the list can be
// split or appended to.
void DropListEnd(std::string& data) {
  if (data.size() >= 2 && data[data.size() - 1] == '\0' && data[data.size() - 2] == '\0') {
    data.pop_back();
  }
}

// The items of a pending-rename value. The empty item of a deletion is part
// of the list, so the value is split on every zero byte; only the closing
// empty item (two zero bytes at the end) ends it.
std::vector<std::string> SplitPendingData(const std::string& data) {
  std::vector<std::string> items;
  std::string d = data;
  DropListEnd(d);
  size_t pos = 0;
  while (pos < d.size()) {
    const size_t end = d.find('\0', pos);
    if (end == std::string::npos) {
      items.push_back(d.substr(pos));
      break;
    }
    items.push_back(d.substr(pos, end - pos));
    pos = end + 1;
  }
  return items;
}

std::string StripNtPrefix(const std::string& path) {
  return path.compare(0, kNtPrefix.size(), kNtPrefix) == 0 ? path.substr(kNtPrefix.size()) : path;
}

std::string PendingData(TRegKeyNode& root) {
  const TRegKeyNode* node = FindKey(root, kSessionManagerKey);
  const TRegValue* value = node != nullptr ? node->FindValue(kPendingRenameValue) : nullptr;
  return value != nullptr ? value->Data : std::string();
}

std::vector<TPendingRename> ParsePending(const std::string& data) {
  std::vector<TPendingRename> renames;
  const std::vector<std::string> items = SplitPendingData(data);
  for (size_t i = 0; i < items.size(); i += 2) {
    TPendingRename rename;
    rename.Source = StripNtPrefix(items[i]);
    std::string target = i + 1 < items.size() ? items[i + 1] : std::string();
    if (!target.empty() && target[0] == '!') {
      rename.ReplaceExisting = true;
      target.erase(0, 1);
    }
    rename.Target = StripNtPrefix(target);
    renames.push_back(rename);
  }
  return renames;
}

std::string Describe(const std::string& what) {
  return what + ": " + FormatMessage(GetLastError());
}

void RunOnceEntries(HKEY root, TRestartReport& report) {
  TRegistry registry;
  registry.SetRootKey(root);
  if (!registry.OpenKey(kRunOnceKey, false)) return;
  for (const std::string& name : registry.GetValueNames()) {
    std::string command;
    try {
      command = registry.ReadString(name);
    } catch (const Exception& e) {
      report.Failures.push_back("RunOnce " + name + ": " + e.Message());
      registry.DeleteValue(name);
      continue;
    }
    const bool deleteAfter = !name.empty() && name[0] == '!';
    if (!deleteAfter) registry.DeleteValue(name);
    TProcessInformation process;
    TStartupInfo startup;
    if (CreateProcess("", command, false, NORMAL_PRIORITY_CLASS, "", startup, process)) {
      ++report.Ran;
      WaitForSingleObject(process, INFINITE);
    } else {
      report.Failures.push_back(Describe("RunOnce " + name + " (" + command + ")"));
    }
    if (deleteAfter) registry.DeleteValue(name);
  }
}

}  // namespace

void AddPendingRename(const std::string& source, const std::string& target, bool replaceExisting) {
  EnsureWindowsRoot();
  TRegistry registry;
  registry.SetRootKey(HKEY_LOCAL_MACHINE);
  if (!registry.OpenKey(kSessionManagerKey, true)) {
    throw ERegistryException("Cannot open the key " + std::string(kSessionManagerKey));
  }
  // Read and write under one lock, so two processes adding at once keep both.
  ChangeHive(HKEY_LOCAL_MACHINE, [&](TRegKeyNode& hive) {
    TRegKeyNode* node = FindKey(hive, kSessionManagerKey);
    if (node == nullptr) return false;
    std::string data;
    TRegValue* value = node->FindValue(kPendingRenameValue);
    if (value != nullptr) {
      data = value->Data;
      DropListEnd(data);
    }
    data += kNtPrefix + source + '\0';
    data += (target.empty() ? std::string() : (replaceExisting ? "!" : "") + kNtPrefix + target);
    data += '\0';
    data += '\0';
    if (value != nullptr) {
      value->Type = REG_MULTI_SZ;
      value->Data = data;
    } else {
      node->Values.push_back(TRegValue{kPendingRenameValue, REG_MULTI_SZ, data});
    }
    return true;
  });
}

std::vector<TPendingRename> PendingRenames() {
  EnsureWindowsRoot();
  const auto hive = LoadHive(HKEY_LOCAL_MACHINE);
  return ParsePending(PendingData(*hive));
}

TRestartReport ApplyPendingRestart(const std::string& root) {
  ::setenv(kRootVariable, root.c_str(), 1);
  EnsureWindowsRoot();
  TRestartReport report;

  // Take the recorded operations out first, so a failing one is not retried
  // at every later restart.
  std::string data;
  ChangeHive(HKEY_LOCAL_MACHINE, [&](TRegKeyNode& hive) {
    data = PendingData(hive);
    if (data.empty()) return false;
    TRegKeyNode* node = FindKey(hive, kSessionManagerKey);
    for (auto it = node->Values.begin(); it != node->Values.end(); ++it) {
      if (SameName(it->Name, kPendingRenameValue)) {
        node->Values.erase(it);
        break;
      }
    }
    return true;
  });
  for (const TPendingRename& rename : ParsePending(data)) {
    bool ok;
    if (rename.Target.empty()) {
      ok = DeleteFile(rename.Source) ||
           (DirectoryExists(rename.Source) && RemoveDirectory(rename.Source));
    } else {
      uint32_t flags = MOVEFILE_COPY_ALLOWED;
      if (rename.ReplaceExisting) flags |= MOVEFILE_REPLACE_EXISTING;
      ok = MoveFileEx(rename.Source, rename.Target, flags);
    }
    if (ok) {
      ++report.Applied;
    } else {
      report.Failures.push_back(Describe(rename.Target.empty()
                                             ? "Delete " + rename.Source
                                             : "Move " + rename.Source + " to " + rename.Target));
    }
  }

  const std::string wininit = GetWindowsDirectory() + "\\WININIT.INI";
  if (FileExists(wininit)) {
    const TIniFile ini(wininit);
    for (const std::string& line : ini.ReadSectionValues("Rename")) {
      const size_t eq = line.find('=');
      const std::string target = line.substr(0, eq);
      const std::string source = eq == std::string::npos ? std::string() : line.substr(eq + 1);
      const bool ok =
          SameName(target, "NUL")
              ? DeleteFile(source)
              : MoveFileEx(source, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED);
      if (ok) {
        ++report.Applied;
      } else {
        report.Failures.push_back(Describe("WININIT.INI " + line));
      }
    }
    MoveFileEx(wininit, GetWindowsDirectory() + "\\WININIT.BAK", MOVEFILE_REPLACE_EXISTING);
  }

  ClearRestartRequest();
  RunOnceEntries(HKEY_LOCAL_MACHINE, report);
  RunOnceEntries(HKEY_CURRENT_USER, report);
  return report;
}

}  // namespace plat::win
