#pragma once
// File version resources and the decision whether a file about to be
// installed replaces an existing one.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/rtl/Classes.h"
#include "platform/rtl/DateTime.h"

namespace setup {

enum TOverwriteType : uint8_t { owAlways, owNever, owVersion, owDate, owVersionDate, owAsk };

// Languages of version resources, each with its Windows language id.
enum TVersionLanguage : uint8_t {
  lnArabic,
  lnBulgarian,
  lnCatalan,
  lnTraditionalChinese,
  lnCzech,
  lnDanish,
  lnGerman,
  lnGreek,
  lnUSEnglish,
  lnCastilianSpanish,
  lnFinnish,
  lnFrench,
  lnHebrew,
  lnHungarian,
  lnIcelandic,
  lnItalian,
  lnJapanese,
  lnKorean,
  lnDutch,
  lnNorwegianBokmal,
  lnPolish,
  lnBrazilianPortuguese,
  lnRhaetoRomanic,
  lnRomanian,
  lnRussian,
  lnCroatoSerbian,
  lnSlovak,
  lnAlbanian,
  lnSwedish,
  lnThai,
  lnTurkish,
  lnUrdu,
  lnBahasa,
  lnSimplifiedChinese,
  lnSwissGerman,
  lnUKEnglish,
  lnMexicanSpanish,
  lnBelgianFrench,
  lnSwissItalian,
  lnBelgianDutch,
  lnNorwegianNynorsk,
  lnPortuguese,
  lnSerboCroatian,
  lnCanadianFrench,
  lnSwissFrench
};

enum TCharacterSet : uint8_t {
  csASCII,
  csJapan,
  csKorea,
  csTaiwan,
  csUnicode,
  csLatin2,
  csCyrillic,
  csMultilingual,
  csGreek,
  csTurkish,
  csHebrew,
  csArabic
};

// The Windows language id and code page; a value outside the tables raises
// Exception.
uint16_t LanguageId(TVersionLanguage Language);
uint16_t CodePage(TCharacterSet CharacterSet);

// What a version resource says about its file.
class TVersionInfo : public plat::TPersistent {
 public:
  std::string ClassName() const override { return "TVersionInfo"; }
  void Assign(const plat::TPersistent* Source) override;
  void Clear();

  std::string Comment;
  std::string CompanyName;
  std::string FileDescription;
  std::string FileVersion;
  std::string InternalName;
  std::string LegalCopyright;
  std::string LegalTradeMarks;
  std::string OriginalFileName;
  std::string PrivateBuild;
  std::string ProductName;
  std::string ProductVersion;
  std::string SpecialBuild;
  std::string FileOS;
  std::string FileType;
  std::string FileSubType;
  // The language of the file's translation table (low 10 bits).
  uint16_t LanguageID = 0;
};

// Reads the version resource of FileName (a Windows path) whenever the file,
// the language or the character set changes.
class TVersionResource : public plat::TComponent {
 public:
  explicit TVersionResource(plat::TComponent* AOwner);
  std::string ClassName() const override { return "TVersionResource"; }

  const std::string& FileName() const { return fileName_; }
  void SetFileName(const std::string& Value);
  TVersionLanguage Language() const { return language_; }
  void SetLanguage(TVersionLanguage Value);
  TCharacterSet CharacterSet() const { return characterSet_; }
  void SetCharacterSet(TCharacterSet Value);
  TVersionInfo& VersionInfo() { return versionInfo_; }
  const TVersionInfo& VersionInfo() const { return versionInfo_; }
  // True when FileName is not the running program's own file.
  bool OtherFile() const { return otherFile_; }

  const plat::TPropList& PublishedProperties() const override;

 private:
  void ReadResource();

  std::string fileName_;
  TVersionLanguage language_ = lnUSEnglish;
  TCharacterSet characterSet_ = csMultilingual;
  TVersionInfo versionInfo_;
  bool otherFile_ = false;
};

// Compares dotted version texts field by field: 0 equal, 1 when A is newer,
// 2 when B is newer. Numeric fields compare as numbers, others as text; a
// text that still has fields when the other has none is the newer.
int32_t CompareVersions(const std::string& A, const std::string& B);

// Whether a new file should replace ExistingFile: 0 the decision failed (a
// file did not open), 1 equal, 2 the new file wins, 3 the existing file wins,
// 4 ask. Callers keep the existing file on 1 and 3.
int32_t IsFileNewerByName(const std::string& NewFile, const std::string& ExistingFile,
                          TOverwriteType Mode);
// The same with the new file's version text and date given.
int32_t IsFileNewer(const std::string& NewVersion, const std::string& ExistingFile,
                    TOverwriteType Mode, plat::TDateTime NewDate);

}  // namespace setup
