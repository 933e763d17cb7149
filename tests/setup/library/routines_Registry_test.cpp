#include "setup/library/routines_Registry.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/win/WinSystem.h"
#include "platform/win/WinTestRoot.h"
#include "setup/library/cmp_TTrevRegistry.h"

namespace setup {
namespace {

namespace w = plat::win;

class RegistryRoutinesTest : public wintest::WinRootTest {};

TEST_F(RegistryRoutinesTest, TypedWritesAndReadsWithDefaults) {
  WriteRegString(hkLocalMachine, "\\SOFTWARE\\Kestavo Software\\Ostra", "InstallPath", "C:\\Zel");
  WriteRegInteger(hkCurrentUser, "\\Software\\Kit", "Count", 7);
  EXPECT_EQ(
      ReadRegString(hkLocalMachine, "\\software\\kestavo software\\ostra", "installpath", "none"),
      "C:\\Zel");
  EXPECT_EQ(ReadRegInteger(hkCurrentUser, "\\Software\\Kit", "Count", 0), 7);
  EXPECT_EQ(ReadRegString(hkLocalMachine, "\\Missing", "x", "default"), "default");
  EXPECT_EQ(ReadRegString(hkLocalMachine, "\\SOFTWARE\\Kestavo Software\\Ostra", "x", "d"), "d");
  // A value of the wrong type reads as the default.
  EXPECT_EQ(
      ReadRegInteger(hkLocalMachine, "\\SOFTWARE\\Kestavo Software\\Ostra", "InstallPath", -1), -1);
}

TEST_F(RegistryRoutinesTest, FailedWritesRaiseWithTheirTexts) {
  {
    std::ofstream damaged(w::HiveFileName(w::HKEY_USERS), std::ios::trunc);
    damaged << "garbage";
  }
  try {
    WriteRegString(hkUsers, "\\K", "Ident", "Value");
    FAIL();
  } catch (const EIRCannotWriteValue& e) {
    EXPECT_EQ(e.Message(), "Cannot install into registry. Key: \\K Ident: Ident Value Value");
  }
  try {
    WriteRegInteger(hkUsers, "\\K", "Ident", 1);
    FAIL();
  } catch (const EIRCannotWriteValue& e) {
    EXPECT_EQ(e.Message(), "\\K");
  }
  EXPECT_THROW(WriteRegString(hkLocalMachine, "\\a\\\\b", "x", "y"), IException);
}

TEST_F(RegistryRoutinesTest, RunOnceEntriesAreUniqueAndFollowTheWindowsLine) {
  EXPECT_TRUE(AddRunOnce("Setup", "a", true));
  EXPECT_TRUE(AddRunOnce("Setup", "b", true));
  EXPECT_TRUE(AddRunOnce("Setup", "c", true));
  EXPECT_TRUE(AddRunOnce("Setup", "d", false));  // replaces the first
  w::TRegistry user;
  ASSERT_TRUE(user.OpenKey(kRunOnceKey, false));
  EXPECT_EQ(user.GetValueNames(), (std::vector<std::string>{"Setup", "Setup1", "Setup2"}));
  EXPECT_EQ(user.ReadString("Setup"), "d");
  EXPECT_EQ(user.ReadString("Setup2"), "c");

  w::SetWindowsVersion(w::VER_PLATFORM_WIN32_WINDOWS, 4, 10, 2222, "");
  EXPECT_TRUE(AddRunOnce("Setup", "e", true));
  w::TRegistry machine;
  machine.SetRootKey(w::HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(machine.OpenKey(kRunOnceKey, false));
  EXPECT_EQ(machine.ReadString("Setup"), "e");

  std::ofstream damaged(w::HiveFileName(w::HKEY_LOCAL_MACHINE), std::ios::trunc);
  damaged << "garbage";
  damaged.close();
  EXPECT_FALSE(AddRunOnce("Setup", "f", true));
}

TEST_F(RegistryRoutinesTest, KeyTreesAreDeletedWhole) {
  TtrevRegistry reg;
  reg.SetRootKey(w::HKEY_LOCAL_MACHINE);
  for (const char* key : {"\\T\\a\\1", "\\T\\a\\2", "\\T\\b", "\\T\\c\\x\\y", "\\Keep\\Me"}) {
    ASSERT_TRUE(reg.CreateKey(key));
  }
  ASSERT_TRUE(reg.OpenKey("\\Keep", false));
  EXPECT_TRUE(reg.DeleteKeyTree("\\T"));
  EXPECT_EQ(reg.CurrentPath(), "Keep");  // the current key is restored
  EXPECT_FALSE(reg.KeyExists("\\T"));
  EXPECT_TRUE(reg.KeyExistsReadOnly("Me"));
  EXPECT_FALSE(reg.DeleteKeyTree("\\T"));

  for (const char* key : {"\\U\\a\\1", "\\U\\b"}) ASSERT_TRUE(reg.CreateKey(key));
  DeleteRegTree(hkLocalMachine, "\\U");
  EXPECT_FALSE(reg.KeyExists("\\U"));
  DeleteRegTree(hkLocalMachine, "\\Missing");  // failures are ignored
}

TEST_F(RegistryRoutinesTest, OpenKeyExCreatesAndAppendsRelativeKeys) {
  TtrevRegistry reg(w::KEY_READ);
  reg.SetRootKey(w::HKEY_CURRENT_USER);
  EXPECT_FALSE(reg.OpenKeyEx("\\Software\\New", false));
  ASSERT_TRUE(reg.OpenKeyEx("\\Software\\New", true));
  reg.WriteString("x", "y");  // created with full access
  ASSERT_TRUE(reg.OpenKeyEx("Sub", true));
  EXPECT_EQ(reg.CurrentPath(), "Software\\New\\Sub");
  ASSERT_TRUE(reg.OpenKeyEx("", true));
  EXPECT_EQ(reg.CurrentPath(), "Software\\New\\Sub");
  EXPECT_EQ(RootKeyFromHandle(w::HKEY_USERS, hkCurrentUser), hkUsers);
  EXPECT_EQ(RootKeyFromHandle(0x12345678u, hkCurrentUser), hkCurrentUser);
}

}  // namespace
}  // namespace setup
