#pragma once
// What the install tests check after the test kit (TestInstall.h, or the
// same description read from form text) was installed into a fresh virtual
// Windows: the registry values and files it leaves.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "platform/win/Processes.h"
#include "platform/win/Registry.h"
#include "platform/win/Restart.h"
#include "platform/win/WinSystem.h"
#include "platform/win/WinPaths.h"

namespace installtest {

inline const std::string kKitDir = "C:\\Program Files\\Ostra Kit";
inline const std::string kProductKey =
    "\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Ostra Kit";

// A value as text: "<no key>" and "<no value>" when missing.
inline std::string Reg(const std::string& key, const std::string& name,
                       plat::win::HKEY root = plat::win::HKEY_LOCAL_MACHINE) {
  plat::win::TRegistry reg;
  reg.SetRootKey(root);
  if (!reg.OpenKey(key, false)) return "<no key>";
  if (!reg.ValueExists(name)) return "<no value>";
  if (reg.GetDataType(name) == plat::win::TRegDataType::rdInteger) {
    return std::to_string(reg.ReadInteger(name));
  }
  return reg.ReadString(name);
}

// Runs a host program (by its host path) in the virtual Windows and waits
// for it: its exit code, or -1 when it could not start.
inline int StartProgram(const std::string& program, const std::string& arguments) {
  plat::win::TProcessInformation process;
  plat::win::TStartupInfo startup;
  const std::string winProgram = "Z:" + program;
  if (!plat::win::CreateProcess(winProgram, "\"" + winProgram + "\" " + arguments, false,
                                plat::win::NORMAL_PRIORITY_CLASS, "", startup, process)) {
    return -1;
  }
  plat::win::WaitForSingleObject(process, plat::win::INFINITE);
  return static_cast<int>(process.ExitCode);
}

inline bool KeyExists(const std::string& key,
                      plat::win::HKEY root = plat::win::HKEY_LOCAL_MACHINE) {
  plat::win::TRegistry reg;
  reg.SetRootKey(root);
  return reg.KeyExists(key);
}

inline std::string ReadWinFile(const std::string& path) {
  std::ifstream in(plat::win::HostPath(path), std::ios::binary);
  if (!in) return "<missing>";
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The kit's files in place (each the same as its source in C:\src), its
// registry values, the uninstall layout, no per-setup record left and no
// restart asked for.
inline void ExpectKitInstalled() {
  for (const auto& [dest, source] : std::vector<std::pair<std::string, std::string>>{
           {kKitDir + "\\Bin\\engine.dll", "engine.dll"},
           {kKitDir + "\\Help\\kit.hlp", "kit.hlp"},
           {kKitDir + "\\readme.txt", "readme.txt"},
           {kKitDir + "\\uninstall.exe", "uninstall.exe"}}) {
    EXPECT_EQ(ReadWinFile(dest), ReadWinFile("C:\\src\\" + source)) << dest;
  }
  // Registry values, with the path specifier expanded and "%p" left alone
  // where there is none.
  const std::string key = "\\SOFTWARE\\Ostra\\Ostra Kit";
  EXPECT_EQ(Reg(key, "InstallPath"), kKitDir + "\\Bin");
  EXPECT_EQ(Reg(key, "Version"), "%p");
  EXPECT_EQ(Reg(key, "Build"), "42");
  EXPECT_EQ(Reg("\\SOFTWARE\\Microsoft\\Windows\\Help", "KIT.HLP"), kKitDir + "\\Help");

  // The uninstall layout under the product key.
  EXPECT_EQ(Reg(kProductKey, "DisplayName"), "Ostra Kit");
  EXPECT_EQ(Reg(kProductKey, "UninstallString"), kKitDir + "\\uninstall.exe Ostra Kit");
  EXPECT_EQ(Reg(kProductKey, "DisplayVersion"), "1.5");
  EXPECT_EQ(Reg(kProductKey, "Publisher"), "Ostra");
  EXPECT_EQ(Reg(kProductKey, "Comments"), "<no value>");
  const std::string files = kProductKey + "\\Files";
  EXPECT_EQ(Reg(files, "Entries"), "3");
  EXPECT_EQ(Reg(files, "File1"), kKitDir + "\\Bin\\engine.dll");
  EXPECT_EQ(Reg(files, "File2"), kKitDir + "\\Help\\kit.hlp");
  EXPECT_EQ(Reg(files, "File3"), kKitDir + "\\readme.txt");
  const std::string regKeys = kProductKey + "\\RegistryKeys";
  EXPECT_EQ(Reg(regKeys, "Entries"), "1");
  EXPECT_EQ(Reg(regKeys + "\\RegistryKey1", "Key"), key);
  EXPECT_EQ(Reg(regKeys + "\\RegistryKey1", "Root"), "4");
  EXPECT_EQ(Reg(regKeys + "\\RegistryKey1\\Entries", "InstallPath"), kKitDir + "\\Bin");
  EXPECT_EQ(Reg(regKeys + "\\RegistryKey1\\Entries", "Build"), "");

  // The per-setup record lived for the run only, and nothing asks for a
  // restart.
  EXPECT_FALSE(KeyExists("\\SOFTWARE\\Nubra"));
  EXPECT_FALSE(plat::win::RestartRequested());
  EXPECT_EQ(Reg(std::string("\\") + plat::win::kRunOnceKey, "QuillaneUnfinished",
                plat::win::HKEY_CURRENT_USER),
            "<no key>");
}

}  // namespace installtest
