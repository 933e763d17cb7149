#include "platform/win/Registry.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/win/RegistryStore.h"
#include "platform/win/WinTestRoot.h"

namespace plat::win {
namespace {

using wintest::WinRootTest;

class RegistryTest : public WinRootTest {
 protected:
  static std::string HiveFile(HKEY root) {
    std::ifstream in(HiveFileName(root), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
};

TEST_F(RegistryTest, EveryKindOfValueRoundTripsThroughTheFile) {
  struct Case {
    const char* name;
    uint32_t type;
    std::string data;
  };
  const Case cases[] = {
      {"Plain", REG_SZ, std::string("C:\\Program Files\\\"Kit\"") + '\0'},
      {"", REG_SZ, std::string("default value") + '\0'},
      {"Lines", REG_SZ, std::string("one\r\ntwo") + '\0'},
      {"Inner zero", REG_SZ, std::string("a\0b\0", 4)},
      {"Unterminated", REG_SZ, "abc"},
      {"Utf8 \xC3\xA9", REG_SZ, std::string("\xC3\xA9t\xC3\xA9") + '\0'},
      {"Expand", REG_EXPAND_SZ, std::string("%SystemRoot%\\x") + '\0'},
      {"Dword", REG_DWORD, std::string("\x78\x56\x34\x12", 4)},
      {"Short dword", REG_DWORD, std::string("\x01\x02", 2)},
      {"Binary", REG_BINARY, std::string("\x00\xFF\x10\n", 4)},
      {"Empty binary", REG_BINARY, ""},
      {"Multi", REG_MULTI_SZ, MultiStringData({"first", "second"})},
      {"Qword", REG_QWORD, std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8)},
      {"None", REG_NONE, "\x01"},
      {"Big endian", REG_DWORD_BIG_ENDIAN, std::string("\x00\x00\x00\x2A", 4)},
  };
  {
    TRegistry reg;
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKey("\\SOFTWARE\\Kestavo\\Kinds", true));
    for (const Case& c : cases) reg.PutData(c.name, c.type, c.data);
  }
  // Parse the written file anew and compare its text after a second write.
  const std::string text = HiveFile(HKEY_LOCAL_MACHINE);
  EXPECT_EQ(text.rfind("REGEDIT4\r\n", 0), 0u);
  EXPECT_NE(text.find("\"Plain\"=\"C:\\\\Program Files\\\\\\\"Kit\\\"\""), std::string::npos);
  EXPECT_NE(text.find("\"Dword\"=dword:12345678"), std::string::npos);
  EXPECT_EQ(HiveText(*ParseHive(text, "HKEY_LOCAL_MACHINE", "x")), text);

  TRegistry reg;
  reg.SetRootKey(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(reg.OpenKeyReadOnly("SOFTWARE\\Kestavo\\Kinds"));
  for (const Case& c : cases) {
    uint32_t type = 99;
    std::string data;
    ASSERT_TRUE(reg.GetData(c.name, type, data)) << c.name;
    EXPECT_EQ(type, c.type) << c.name;
    EXPECT_EQ(data, c.data) << c.name;
  }
}

TEST_F(RegistryTest, TypedValuesReadBackAndWrongTypesRaise) {
  TRegistry reg;
  reg.SetRootKey(HKEY_CURRENT_USER);
  ASSERT_TRUE(reg.OpenKey("Software\\Test", true));
  reg.WriteString("S", "text");
  reg.WriteExpandString("E", "%PATH%");
  reg.WriteInteger("I", -5);
  reg.WriteBool("B", true);
  reg.WriteFloat("F", 2.5);
  reg.WriteDateTime("D", 36526.75);
  reg.WriteCurrency("C", 12.3456);
  const char bytes[] = {1, 2, 3};
  reg.WriteBinaryData("Bin", bytes, 3);

  TRegistry again;
  again.SetRootKey(HKEY_CURRENT_USER);
  ASSERT_TRUE(again.OpenKey("software\\TEST", false));
  EXPECT_EQ(again.ReadString("s"), "text");
  EXPECT_EQ(again.ReadString("E"), "%PATH%");
  EXPECT_EQ(again.GetDataType("E"), TRegDataType::rdExpandString);
  EXPECT_EQ(again.ReadInteger("I"), -5);
  EXPECT_TRUE(again.ReadBool("B"));
  EXPECT_DOUBLE_EQ(again.ReadFloat("F"), 2.5);
  EXPECT_DOUBLE_EQ(again.ReadDateTime("D"), 36526.75);
  EXPECT_DOUBLE_EQ(again.ReadCurrency("C"), 12.3456);
  char buffer[8] = {};
  EXPECT_EQ(again.ReadBinaryData("Bin", buffer, sizeof buffer), 3);
  EXPECT_EQ(buffer[2], 3);
  EXPECT_EQ(again.GetDataSize("S"), 5);  // with the terminating zero
  EXPECT_EQ(again.GetDataSize("missing"), -1);
  EXPECT_EQ(again.ReadString("missing"), "");

  struct Bad {
    std::function<void()> read;
    const char* message;
  };
  const Bad bad[] = {
      {[&] { again.ReadInteger("S"); }, "Invalid data type for 'S'"},
      {[&] { again.ReadInteger("missing"); }, "Failed to get data for 'missing'"},
      {[&] { again.ReadString("I"); }, "Invalid data type for 'I'"},
      {[&] { again.ReadFloat("Bin"); }, "Failed to get data for 'Bin'"},
      {[&] { again.ReadBinaryData("Bin", buffer, 2); }, "Failed to get data for 'Bin'"},
  };
  for (const Bad& b : bad) {
    try {
      b.read();
      ADD_FAILURE() << b.message;
    } catch (const ERegistryException& e) {
      EXPECT_EQ(e.Message(), b.message);
    }
  }
}

TEST_F(RegistryTest, NamesIgnoreCaseAndKeepTheirFirstCase) {
  TRegistry reg;
  reg.SetRootKey(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(reg.OpenKey("\\Software\\MixedCase", true));
  reg.WriteString("ValueName", "1");
  reg.WriteString("VALUENAME", "2");
  ASSERT_TRUE(reg.OpenKey("\\SOFTWARE\\MIXEDCASE\\Sub", true));
  ASSERT_TRUE(reg.OpenKey("\\software\\mixedcase", false));
  EXPECT_EQ(reg.GetValueNames(), std::vector<std::string>{"ValueName"});
  EXPECT_EQ(reg.ReadString("valuename"), "2");
  EXPECT_EQ(reg.GetKeyNames(), std::vector<std::string>{"Sub"});
  EXPECT_NE(HiveFile(HKEY_LOCAL_MACHINE).find("[HKEY_LOCAL_MACHINE\\Software\\MixedCase\\Sub]"),
            std::string::npos);
}

TEST_F(RegistryTest, RelativeKeysFollowTheCurrentPath) {
  TRegistry reg;
  reg.SetRootKey(HKEY_CURRENT_USER);
  ASSERT_TRUE(reg.OpenKey("\\Software", false));
  ASSERT_TRUE(reg.OpenKey("Kit\\Sub", true));
  EXPECT_EQ(reg.CurrentPath(), "Software\\Kit\\Sub");
  EXPECT_TRUE(reg.KeyExists("\\Software\\Kit"));
  EXPECT_FALSE(reg.KeyExists("Kit"));  // relative to Software\Kit\Sub
  EXPECT_FALSE(reg.OpenKey("\\Software\\Missing", false));
  EXPECT_EQ(reg.CurrentPath(), "Software\\Kit\\Sub");  // unchanged by a failed open
  EXPECT_FALSE(reg.OpenKey("\\a\\\\b", true));         // empty component
}

TEST_F(RegistryTest, DeleteKeyRemovesTheWholeTree) {
  TRegistry reg;
  reg.SetRootKey(HKEY_LOCAL_MACHINE);
  for (const char* key : {"\\T\\A\\B\\C", "\\T\\A\\D", "\\T\\E"}) ASSERT_TRUE(reg.CreateKey(key));
  ASSERT_TRUE(reg.DeleteKey("\\T\\A"));
  EXPECT_FALSE(reg.KeyExists("\\T\\A\\B\\C"));
  EXPECT_FALSE(reg.KeyExists("\\T\\A"));
  EXPECT_TRUE(reg.KeyExists("\\T\\E"));
  EXPECT_FALSE(reg.DeleteKey("\\T\\A"));
}

TEST_F(RegistryTest, ReadOnlyKeysRefuseWritesAndDeletedKeysAreNotRecreated) {
  TRegistry writer;
  writer.SetRootKey(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(writer.OpenKey("\\Software\\RO", true));
  TRegistry reader;
  reader.SetRootKey(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(reader.OpenKeyReadOnly("\\Software\\RO"));
  EXPECT_THROW(reader.WriteString("x", "y"), ERegistryException);
  EXPECT_FALSE(reader.DeleteValue("x"));

  TRegistry other;
  other.SetRootKey(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(other.DeleteKey("\\Software\\RO"));
  EXPECT_THROW(writer.WriteString("x", "y"), ERegistryException);
  EXPECT_FALSE(writer.KeyExists("\\Software\\RO"));
}

TEST_F(RegistryTest, DamagedHiveRaisesAndIsNotOverwritten) {
  const std::string damaged[] = {
      "",
      "not a registry\r\n",
      "REGEDIT4\r\n\r\n\"Value\"=\"outside a key\"\r\n",
      "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\A]\r\n\"V\"=dword:xyz\r\n",
      "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\A]\r\n\"V\"=hex:0,\r\n",
      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\n",
      "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\A]\r\n\"V\"=\"unterminated\r\n",
  };
  for (const std::string& text : damaged) {
    {
      std::ofstream out(HiveFileName(HKEY_CURRENT_USER), std::ios::binary | std::ios::trunc);
      out << text;
    }
    TRegistry reg;
    reg.SetRootKey(HKEY_CURRENT_USER);
    try {
      reg.OpenKey("\\A", true);
      ADD_FAILURE() << "no error for: " << text;
    } catch (const ERegistryException& e) {
      EXPECT_NE(e.Message().find("HKEY_CURRENT_USER.reg is damaged"), std::string::npos)
          << e.Message();
    }
    EXPECT_EQ(HiveFile(HKEY_CURRENT_USER), text);
  }
}

TEST_F(RegistryTest, ContinuedHexLinesAreRead) {
  const std::string text =
      "REGEDIT4\r\n\r\n[HKEY_USERS\\K]\r\n\"Bin\"=hex:01,02,\\\r\n  03,04\r\n"
      "@=hex(7):61,00,00\r\n";
  const auto root = ParseHive(text, "HKEY_USERS", "f");
  const TRegKeyNode* key = root->FindSubKey("k");
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->FindValue("BIN")->Data, std::string("\x01\x02\x03\x04"));
  EXPECT_EQ(key->FindValue("")->Type, REG_MULTI_SZ);
}

TEST_F(RegistryTest, TwoProcessesWritingOneHiveLoseNoValue) {
  constexpr int kValues = 15;
  auto writer = [](const std::string& prefix) {
    return [prefix] {
      for (int i = 0; i < kValues; ++i) {
        TRegistry reg;  // each child opens its own
        reg.SetRootKey(HKEY_LOCAL_MACHINE);
        if (!reg.OpenKey("\\Software\\Shared", true)) return 1;
        reg.WriteInteger(prefix + std::to_string(i), i);
      }
      return 0;
    };
  };
  const int a = testsupport::StartChild(writer("a"));
  const int b = testsupport::StartChild(writer("b"));
  EXPECT_EQ(testsupport::WaitChild(a), 0);
  EXPECT_EQ(testsupport::WaitChild(b), 0);
  TRegistry reg;
  reg.SetRootKey(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(reg.OpenKey("\\Software\\Shared", false));
  EXPECT_EQ(reg.GetValueNames().size(), 2u * kValues);
  for (int i = 0; i < kValues; ++i) {
    EXPECT_EQ(reg.ReadInteger("a" + std::to_string(i)), i);
    EXPECT_EQ(reg.ReadInteger("b" + std::to_string(i)), i);
  }
}

TEST_F(RegistryTest, KeyInfoCountsSubkeysAndValues) {
  TRegistry reg;
  reg.SetRootKey(HKEY_CURRENT_CONFIG);
  ASSERT_TRUE(reg.OpenKey("\\Info\\Longer name", true));
  ASSERT_TRUE(reg.OpenKey("\\Info\\b", true));
  ASSERT_TRUE(reg.OpenKey("\\Info", false));
  reg.WriteString("val", "12345");
  TRegKeyInfo info;
  ASSERT_TRUE(reg.GetKeyInfo(info));
  EXPECT_EQ(info.NumSubKeys, 2);
  EXPECT_EQ(info.MaxSubKeyLen, 11);
  EXPECT_EQ(info.NumValues, 1);
  EXPECT_EQ(info.MaxDataLen, 6);
  EXPECT_TRUE(reg.HasSubKeys());
  EXPECT_EQ(reg.GetKeyNames(), (std::vector<std::string>{"b", "Longer name"}));
}

TEST_F(RegistryTest, HiveKeysByPath) {
  TRegKeyNode hive;
  TRegKeyNode* made = ForceKey(hive, "Software\\Kit\\Sub");
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->Name, "Sub");
  EXPECT_EQ(ForceKey(hive, "SOFTWARE\\kit\\sub"), made);  // no second key
  EXPECT_EQ(hive.SubKeys.size(), 1u);
  EXPECT_EQ(FindKey(hive, "software\\KIT\\Sub"), made);
  EXPECT_EQ(FindKey(hive, "Software\\Kit\\Sub\\"), made);
  EXPECT_EQ(FindKey(hive, ""), &hive);
  EXPECT_EQ(FindKey(hive, "Software\\Other"), nullptr);
  for (const char* bad : {"Software\\\\Kit", "\\Software", "Soft\nware"}) {
    EXPECT_EQ(FindKey(hive, bad), nullptr) << bad;
    EXPECT_EQ(ForceKey(hive, bad), nullptr) << bad;
  }
  EXPECT_EQ(hive.SubKeys.size(), 1u);
}

}  // namespace
}  // namespace plat::win
