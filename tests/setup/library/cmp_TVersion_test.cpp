#include "setup/library/cmp_TVersion.h"

#include <gtest/gtest.h>

#include "platform/rtl/Exceptions.h"
#include "platform/win/PeImageBuilder.h"
#include "platform/win/WinFiles.h"
#include "platform/win/WinSystem.h"
#include "platform/win/WinTestRoot.h"

namespace setup {
namespace {

namespace w = plat::win;

class VersionTest : public wintest::WinRootTest {
 protected:
  // A PE file with a fixed version and a conflicting string version.
  static std::string Pe(uint16_t a, uint16_t b, uint16_t c, uint16_t d, uint32_t type = 1,
                        uint32_t subtype = 0) {
    petest::FixedVersion fixed;
    fixed.File[0] = a;
    fixed.File[1] = b;
    fixed.File[2] = c;
    fixed.File[3] = d;
    fixed.Product[0] = a;
    fixed.FileType = type;
    fixed.FileSubtype = subtype;
    return petest::BuildPe({{16, 1,
                             petest::VersionBlock(fixed, "040904E4",
                                                  {{"FileVersion", "7.7.7.7"},
                                                   {"ProductVersion", "Product 5"},
                                                   {"CompanyName", "Kestavo Software"},
                                                   {"Comment", "a comment"}},
                                                  0x0407, 1252)}});
  }
};

TEST(CompareVersions, FieldByField) {
  struct Case {
    const char* a;
    const char* b;
    int32_t result;
  };
  const Case cases[] = {
      {"1.2.10", "1.2.9", 1},
      {"1.2", "1.2.0", 2},
      {"1.2a", "1.2b", 2},
      {"", "", 0},
      {"1.0", "1.0", 0},
      {"2", "10", 2},
      {"1.0", "", 1},
      {"", "0", 2},
      {"1..3", "1..2", 1},
      {"1.b", "1.a", 1},
      {"5.0.2195.1", "5.0.2195.1", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(CompareVersions(c.a, c.b), c.result) << c.a << " " << c.b;
}

TEST(LanguageTables, IdsAndCodePages) {
  EXPECT_EQ(LanguageId(lnArabic), 1025);
  EXPECT_EQ(LanguageId(lnUSEnglish), 1033);
  EXPECT_EQ(LanguageId(lnBahasa), 1057);
  EXPECT_EQ(LanguageId(lnSimplifiedChinese), 2052);
  EXPECT_EQ(LanguageId(lnSwissFrench), 4108);
  EXPECT_EQ(CodePage(csMultilingual), 1252);
  EXPECT_EQ(CodePage(csArabic), 1256);
  EXPECT_THROW(LanguageId(static_cast<TVersionLanguage>(60)), plat::Exception);
  EXPECT_THROW(CodePage(static_cast<TCharacterSet>(12)), plat::Exception);
}

TEST_F(VersionTest, FixedFileVersionWinsOverTheStringVersion) {
  WriteFile("C:\\kit.dll", Pe(5, 0, 2195, 1));
  TVersionResource resource(nullptr);
  resource.SetFileName("C:\\kit.dll");
  const TVersionInfo& info = resource.VersionInfo();
  EXPECT_EQ(info.FileVersion, "5.0.2195.1");
  EXPECT_EQ(info.ProductVersion, "Product 5");  // the string overrides
  EXPECT_EQ(info.CompanyName, "Kestavo Software");
  EXPECT_EQ(info.Comment, "a comment");
  EXPECT_EQ(info.FileOS, "Windows NT with 32 bit Windows");
  EXPECT_EQ(info.FileType, "Application");
  EXPECT_EQ(info.LanguageID, 0x0407 & 0x3FF);  // the primary language
  EXPECT_TRUE(resource.OtherFile());
  // Strings are looked up in the component's language only.
  resource.SetLanguage(lnGerman);
  EXPECT_EQ(resource.VersionInfo().CompanyName, "");
  EXPECT_EQ(resource.VersionInfo().FileVersion, "5.0.2195.1");

  WriteFile("C:\\font.fon", Pe(1, 0, 0, 0, 4, 3));
  resource.SetFileName("C:\\font.fon");
  EXPECT_EQ(resource.VersionInfo().FileType, "Font");
  EXPECT_EQ(resource.VersionInfo().FileSubType, "TrueType");
  // A native program has no version: every field is empty.
  resource.SetFileName(w::GetModuleFileName());
  EXPECT_EQ(resource.VersionInfo().FileVersion, "");
  EXPECT_EQ(resource.VersionInfo().FileType, "");
  EXPECT_FALSE(resource.OtherFile());
}

TEST_F(VersionTest, ReplaceDecisionsByMode) {
  WriteFile("C:\\new.dll", Pe(1, 2, 10, 0));
  WriteFile("C:\\old.dll", Pe(1, 2, 9, 0));
  WriteFile("C:\\same.dll", Pe(1, 2, 10, 0));
  WriteFile("C:\\plain1.txt", "x");
  WriteFile("C:\\plain2.txt", "y");
  const int32_t older = static_cast<int32_t>((20u << 25) | (1u << 21) | (1u << 16));
  const int32_t newer = static_cast<int32_t>((21u << 25) | (1u << 21) | (1u << 16));
  ASSERT_TRUE(w::FileSetDate("C:\\old.dll", older));
  ASSERT_TRUE(w::FileSetDate("C:\\new.dll", newer));
  ASSERT_TRUE(w::FileSetDate("C:\\same.dll", older));
  struct Case {
    const char* newFile;
    const char* existing;
    TOverwriteType mode;
    int32_t result;
  };
  const Case cases[] = {
      {"C:\\new.dll", "C:\\old.dll", owAlways, 2},
      {"C:\\new.dll", "C:\\old.dll", owNever, 3},
      {"C:\\new.dll", "  ", owNever, 2},
      {"C:\\new.dll", "C:\\missing.dll", owNever, 2},
      {"C:\\new.dll", "C:\\old.dll", owVersion, 2},
      {"C:\\old.dll", "C:\\new.dll", owVersion, 3},
      {"C:\\plain1.txt", "C:\\plain2.txt", owVersion, 1},
      {"C:\\new.dll", "C:\\old.dll", owDate, 2},
      {"C:\\old.dll", "C:\\new.dll", owDate, 3},
      {"C:\\old.dll", "C:\\old.dll", owDate, 1},
      {"C:\\new.dll", "C:\\missing.dll", owDate, 0},
      {"C:\\missing.dll", "C:\\old.dll", owDate, 0},
      {"C:\\new.dll", "C:\\same.dll", owVersionDate, 2},  // equal versions: by date
      {"C:\\same.dll", "C:\\new.dll", owVersionDate, 3},
      {"C:\\old.dll", "C:\\new.dll", owVersionDate, 3},
      {"C:\\new.dll", "C:\\old.dll", owAsk, 4},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsFileNewerByName(c.newFile, c.existing, c.mode), c.result)
        << c.newFile << " " << c.existing << " mode " << int(c.mode);
  }
  const double newerDate = w::FileDateToDateTime(newer);
  EXPECT_EQ(IsFileNewer("1.2.9.1", "C:\\old.dll", owVersion, 0), 2);
  EXPECT_EQ(IsFileNewer("1.2.9.0", "C:\\old.dll", owVersionDate, newerDate), 2);
  EXPECT_EQ(IsFileNewer("1.2.9.0", "C:\\old.dll", owVersionDate, w::FileDateToDateTime(older)), 1);
  EXPECT_EQ(IsFileNewer("", "C:\\missing.dll", owDate, newerDate), 0);
}

}  // namespace
}  // namespace setup
