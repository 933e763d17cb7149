#include "platform/win/VersionInfo.h"

#include <gtest/gtest.h>

#include "platform/win/PeImageBuilder.h"
#include "platform/win/WinTestRoot.h"

namespace plat::win {
namespace {

using wintest::WinRootTest;

class VersionInfoTest : public WinRootTest {
 protected:
  static std::string VersionedPe() {
    petest::FixedVersion fixed;
    const uint16_t file[4] = {5, 0, 2195, 1};
    const uint16_t product[4] = {5, 0, 0, 0};
    std::copy(file, file + 4, fixed.File);
    std::copy(product, product + 4, fixed.Product);
    const std::string block = petest::VersionBlock(
        fixed, "040904E4",
        {{"CompanyName", "Kestavo Software"}, {"FileVersion", "9.9 (other text)"}}, 0x0409, 1252);
    return petest::BuildPe({{RT_VERSION, 1, block},
                            {RT_STRING, 1, petest::StringBlock({{3, "Third"}})},
                            {RT_STRING, 2, petest::StringBlock({{0, "Sixteen"}})}});
  }
};

TEST_F(VersionInfoTest, ReadsTheFixedVersionAndStringsOfAPeFile) {
  WriteFile("C:\\kit.dll", VersionedPe());
  std::string block;
  ASSERT_TRUE(GetFileVersionInfo("C:\\KIT.DLL", block));
  EXPECT_EQ(GetFileVersionInfoSize("C:\\kit.dll"), block.size());
  std::string value;
  ASSERT_TRUE(VerQueryValue(block, "\\", value));
  TVSFixedFileInfo fixed;
  ASSERT_TRUE(LoadFixedFileInfo(value, fixed));
  EXPECT_EQ(fixed.dwFileVersionMS, (5u << 16) | 0u);
  EXPECT_EQ(fixed.dwFileVersionLS, (2195u << 16) | 1u);
  EXPECT_EQ(fixed.dwFileOS, VOS_NT_WINDOWS32);
  ASSERT_TRUE(VerQueryValue(block, "\\StringFileInfo\\040904e4\\companyname", value));
  EXPECT_EQ(value, "Kestavo Software");
  ASSERT_TRUE(VerQueryValue(block, "\\StringFileInfo\\040904E4\\FileVersion", value));
  EXPECT_EQ(value, "9.9 (other text)");
  ASSERT_TRUE(VerQueryValue(block, "\\VarFileInfo\\Translation", value));
  EXPECT_EQ(value, std::string("\x09\x04\xE4\x04", 4));
  EXPECT_FALSE(VerQueryValue(block, "\\StringFileInfo\\040704E4\\CompanyName", value));

  std::string text;
  EXPECT_TRUE(LoadStringResource("C:\\kit.dll", 3, text));
  EXPECT_EQ(text, "Third");
  EXPECT_TRUE(LoadStringResource("C:\\kit.dll", 16, text));
  EXPECT_EQ(text, "Sixteen");
  EXPECT_FALSE(LoadStringResource("C:\\kit.dll", 4, text));
  EXPECT_FALSE(LoadStringResource("missing32", 4, text));
}

TEST_F(VersionInfoTest, FilesWithoutResourcesOrDamagedOnesHaveNoVersion) {
  const std::string good = VersionedPe();
  std::string loop = good;  // the type directory points back at the root
  petest::Put32(loop, 0x200 + 16 + 4, 0x80000000u);
  const std::pair<const char*, std::string> files[] = {
      {"native",
       "\x7F"
       "ELF\x02\x01\x01 a host program"},
      {"empty", ""},
      {"truncated", good.substr(0, 0x210)},
      {"no version", petest::BuildPe({{RT_STRING, 1, petest::StringBlock({})}})},
      {"loop", loop},
      {"bad header", std::string("MZ") + std::string(0x3A, '\0') + "\xFF\xFF\xFF\x7F"},
  };
  for (const auto& [name, content] : files) {
    WriteFile(std::string("C:\\") + name, content);
    EXPECT_EQ(GetFileVersionInfoSize(std::string("C:\\") + name), 0u) << name;
  }
  EXPECT_EQ(GetFileVersionInfoSize("C:\\missing.dll"), 0u);
  std::string value;
  EXPECT_FALSE(VerQueryValue("", "\\", value));
  EXPECT_FALSE(VerQueryValue(std::string("\x06\x00\x00\x00", 4), "\\a", value));
}

}  // namespace
}  // namespace plat::win
