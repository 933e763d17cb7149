#include "setup/library/cmp_TVersion.h"

#include "platform/os/Files.h"
#include "platform/rtl/Published.h"
#include "platform/rtl/Strings.h"
#include "platform/win/VersionInfo.h"
#include "platform/win/WinFiles.h"
#include "platform/win/WinPaths.h"
#include "platform/win/WinSystem.h"
#include "setup/library/routines_Strings.h"

namespace setup {

namespace {

const char* const kStringKeys[] = {"Comment",          "CompanyName",    "FileDescription",
                                   "InternalName",     "LegalCopyright", "LegalTradeMarks",
                                   "OriginalFileName", "PrivateBuild",   "ProductName",
                                   "ProductVersion",   "SpecialBuild"};

std::string VersionText(uint32_t ms, uint32_t ls) {
  return std::to_string(ms >> 16) + "." + std::to_string(ms & 0xFFFF) + "." +
         std::to_string(ls >> 16) + "." + std::to_string(ls & 0xFFFF);
}

std::string FileOSText(uint32_t os) {
  namespace w = plat::win;
  switch (os) {
    case w::VOS__WINDOWS16:
      return "Windows 3.0 or later";
    case w::VOS__PM16:
      return "16 bit OS/2 Presentation Manager";
    case w::VOS__PM32:
      return "32 bit OS/2 Presentation Manager";
    case w::VOS__WINDOWS32:
      return "32 bit Windows";
    case w::VOS_DOS:
      return "MS-Dos";
    case w::VOS_DOS_WINDOWS16:
      return "Windows 3.0 or later with MS-Dos";
    case w::VOS_DOS_WINDOWS32:
      return "32 bit Windows with MS-Dos";
    case w::VOS_OS216:
      return "16 bit OS/2";
    case w::VOS_OS216_PM16:
      return "16 bit OS/2 with Presentation Manager";
    case w::VOS_OS232:
      return "32 bit OS/2";
    case w::VOS_OS232_PM32:
      return "32 bit OS/2 with Presentation Manager";
    case w::VOS_NT:
      return "Windows NT";
    case w::VOS_NT_WINDOWS32:
      return "Windows NT with 32 bit Windows";
    default:
      return "Unknown";
  }
}

std::string FileTypeText(uint32_t type) {
  switch (type) {
    case 1:
      return "Application";
    case 2:
      return "Dynamic-Link Library";
    case 3:
      return "Device Driver";
    case 4:
      return "Font";
    case 5:
      return "Virtual Device Driver";
    case 7:
      return "Static-Link Library";
    default:
      return "Unknown";
  }
}

std::string FileSubTypeText(uint32_t type, uint32_t subtype) {
  if (type == 3) {
    static const char* const drivers[] = {"Printer", "Keyboard",      "Language", "Display",
                                          "Mouse",   "Network",       "System",   "Installable",
                                          "Sound",   "Communications"};
    return subtype >= 1 && subtype <= 10 ? drivers[subtype - 1] : "Unknown";
  }
  if (type == 4) {
    static const char* const fonts[] = {"Raster", "Vector", "TrueType"};
    return subtype >= 1 && subtype <= 3 ? fonts[subtype - 1] : "Unknown";
  }
  return {};
}

bool IsInteger(const std::string& s, int64_t& value) {
  if (s.empty() || s.size() > 18) return false;
  value = 0;
  for (const char c : s) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

// The shared component of the comparison routines: made on first use, freed
// when the program ends.
TVersionResource& Shared() {
  static const std::unique_ptr<TVersionResource> shared =
      std::make_unique<TVersionResource>(nullptr);
  return *shared;
}

std::string FileVersionOf(const std::string& fileName) {
  TVersionResource& shared = Shared();
  shared.SetFileName(fileName);
  return shared.VersionInfo().FileVersion;
}

// The file's date read through a handle opened for shared reading; false
// when it does not open.
bool OpenedFileDate(const std::string& fileName, int32_t& date) {
  plat::TOSFile file;
  if (plat::win::SplitWinPath(fileName).Components.empty() ||
      !file.Open(plat::win::HostPath(fileName), plat::TFileAccess::faRead,
                 plat::TFileShare::fsDenyNone)) {
    return false;
  }
  date = plat::win::FileAge(fileName);
  return date != -1;
}

int32_t ByVersion(const std::string& newVersion, const std::string& existingFile) {
  switch (CompareVersions(newVersion, FileVersionOf(existingFile))) {
    case 0:
      return 1;
    case 1:
      return 2;
    default:
      return 3;
  }
}

int32_t ByDate(int32_t newDate, const std::string& existingFile) {
  int32_t existingDate = 0;
  if (!OpenedFileDate(existingFile, existingDate)) return 0;
  // DOS dates order as numbers.
  if (static_cast<uint32_t>(newDate) > static_cast<uint32_t>(existingDate)) return 2;
  if (newDate == existingDate) return 1;
  return 3;
}

int32_t Decide(const std::string& newVersion, bool dateKnown, int32_t newDate,
               const std::string& existingFile, TOverwriteType mode) {
  switch (mode) {
    case owAlways:
      return 2;
    case owNever:
      return !plat::Trim(existingFile).empty() && plat::win::FileExists(existingFile) ? 3 : 2;
    case owVersion:
      return ByVersion(newVersion, existingFile);
    case owDate:
      return dateKnown ? ByDate(newDate, existingFile) : 0;
    case owVersionDate: {
      const int32_t byVersion = ByVersion(newVersion, existingFile);
      if (byVersion != 1) return byVersion;
      return dateKnown ? ByDate(newDate, existingFile) : 0;
    }
    case owAsk:
      return 4;
  }
  return 0;
}

}  // namespace

uint16_t LanguageId(TVersionLanguage Language) {
  static constexpr uint16_t kTail[] = {2052, 2055, 2057, 2058, 2060, 2064,
                                       2067, 2068, 2070, 2074, 3084, 4108};
  const auto ordinal = static_cast<uint32_t>(Language);
  if (ordinal <= lnBahasa) return static_cast<uint16_t>(1025 + ordinal);
  if (ordinal <= lnSwissFrench) return kTail[ordinal - lnSimplifiedChinese];
  throw plat::Exception("Unknown language " + std::to_string(ordinal));
}

uint16_t CodePage(TCharacterSet CharacterSet) {
  static constexpr uint16_t kPages[] = {0,    932,  949,  950,  1200, 1250,
                                        1251, 1252, 1253, 1254, 1255, 1256};
  const auto ordinal = static_cast<uint32_t>(CharacterSet);
  if (ordinal <= csArabic) return kPages[ordinal];
  throw plat::Exception("Unknown character set " + std::to_string(ordinal));
}

void TVersionInfo::Assign(const plat::TPersistent* Source) {
  if (const auto* other = dynamic_cast<const TVersionInfo*>(Source)) {
    *this = *other;
    return;
  }
  plat::TPersistent::Assign(Source);
}

void TVersionInfo::Clear() {
  for (std::string* field :
       {&Comment, &CompanyName, &FileDescription, &FileVersion, &InternalName, &LegalCopyright,
        &LegalTradeMarks, &OriginalFileName, &PrivateBuild, &ProductName, &ProductVersion,
        &SpecialBuild, &FileOS, &FileType, &FileSubType}) {
    field->clear();
  }
  LanguageID = 0;
}

TVersionResource::TVersionResource(plat::TComponent* AOwner) : plat::TComponent(AOwner) {
  fileName_ = plat::win::GetModuleFileName();
  ReadResource();
}

void TVersionResource::SetFileName(const std::string& Value) {
  fileName_ = Value;
  otherFile_ = !plat::win::SameName(Value, plat::win::GetModuleFileName());
  ReadResource();
}

void TVersionResource::SetLanguage(TVersionLanguage Value) {
  LanguageId(Value);
  language_ = Value;
  ReadResource();
}

void TVersionResource::SetCharacterSet(TCharacterSet Value) {
  CodePage(Value);
  characterSet_ = Value;
  ReadResource();
}

void TVersionResource::ReadResource() {
  namespace w = plat::win;
  versionInfo_.Clear();
  if (w::GetFileVersionInfoSize(fileName_) == 0) return;
  std::string block;
  if (!w::GetFileVersionInfo(fileName_, block)) return;
  std::string value;
  if (!w::VerQueryValue(block, "\\", value)) return;
  std::string translation;
  if (w::VerQueryValue(block, "\\VarFileInfo\\Translation", translation) &&
      translation.size() == 4) {
    versionInfo_.LanguageID =
        static_cast<uint16_t>((static_cast<unsigned char>(translation[0]) |
                               (static_cast<unsigned char>(translation[1]) << 8)) &
                              0x3FF);
  }
  w::TVSFixedFileInfo fixed;
  if (w::LoadFixedFileInfo(value, fixed)) {
    versionInfo_.FileVersion = VersionText(fixed.dwFileVersionMS, fixed.dwFileVersionLS);
    versionInfo_.ProductVersion = VersionText(fixed.dwProductVersionMS, fixed.dwProductVersionLS);
    versionInfo_.FileOS = FileOSText(fixed.dwFileOS);
    versionInfo_.FileType = FileTypeText(fixed.dwFileType);
    versionInfo_.FileSubType = FileSubTypeText(fixed.dwFileType, fixed.dwFileSubtype);
  }
  const std::string prefix = "\\StringFileInfo\\" + plat::IntToHex(LanguageId(language_), 4) +
                             plat::IntToHex(CodePage(characterSet_), 4) + "\\";
  std::string* const fields[] = {
      &versionInfo_.Comment,          &versionInfo_.CompanyName,    &versionInfo_.FileDescription,
      &versionInfo_.InternalName,     &versionInfo_.LegalCopyright, &versionInfo_.LegalTradeMarks,
      &versionInfo_.OriginalFileName, &versionInfo_.PrivateBuild,   &versionInfo_.ProductName,
      &versionInfo_.ProductVersion,   &versionInfo_.SpecialBuild};
  for (size_t i = 0; i < std::size(kStringKeys); ++i) {
    if (w::VerQueryValue(block, prefix + kStringKeys[i], value)) *fields[i] = value;
  }
}

const plat::TPropList& TVersionResource::PublishedProperties() const {
  static const plat::TPropList list =
      plat::TPublished<TVersionResource>(plat::TComponent::PublishedProperties())
          .String("FileName", &TVersionResource::FileName, &TVersionResource::SetFileName)
          .Enumeration("Language", &TVersionResource::Language, &TVersionResource::SetLanguage,
                       {"lnArabic",
                        "lnBulgarian",
                        "lnCatalan",
                        "lnTraditionalChinese",
                        "lnCzech",
                        "lnDanish",
                        "lnGerman",
                        "lnGreek",
                        "lnUSEnglish",
                        "lnCastilianSpanish",
                        "lnFinnish",
                        "lnFrench",
                        "lnHebrew",
                        "lnHungarian",
                        "lnIcelandic",
                        "lnItalian",
                        "lnJapanese",
                        "lnKorean",
                        "lnDutch",
                        "lnNorwegianBokmal",
                        "lnPolish",
                        "lnBrazilianPortuguese",
                        "lnRhaetoRomanic",
                        "lnRomanian",
                        "lnRussian",
                        "lnCroatoSerbian",
                        "lnSlovak",
                        "lnAlbanian",
                        "lnSwedish",
                        "lnThai",
                        "lnTurkish",
                        "lnUrdu",
                        "lnBahasa",
                        "lnSimplifiedChinese",
                        "lnSwissGerman",
                        "lnUKEnglish",
                        "lnMexicanSpanish",
                        "lnBelgianFrench",
                        "lnSwissItalian",
                        "lnBelgianDutch",
                        "lnNorwegianNynorsk",
                        "lnPortuguese",
                        "lnSerboCroatian",
                        "lnCanadianFrench",
                        "lnSwissFrench"},
                       lnUSEnglish)
          .Enumeration(
              "CharacterSet", &TVersionResource::CharacterSet, &TVersionResource::SetCharacterSet,
              {"csASCII", "csJapan", "csKorea", "csTaiwan", "csUnicode", "csLatin2", "csCyrillic",
               "csMultilingual", "csGreek", "csTurkish", "csHebrew", "csArabic"},
              csMultilingual);
  return list;
}

int32_t CompareVersions(const std::string& A, const std::string& B) {
  const int32_t fields = std::max(FieldCount(A, '.'), FieldCount(B, '.'));
  for (int32_t n = 1; n <= fields + 1; ++n) {
    const std::string a = GetField(A, n, '.');
    const std::string b = GetField(B, n, '.');
    if (a.empty() && b.empty()) {
      // An empty field inside both texts ("1..2") is equal there; only the
      // end of both texts ends the comparison.
      if (n > fields) return 0;
      continue;
    }
    if (b.empty()) return 1;
    if (a.empty()) return 2;
    int64_t na = 0, nb = 0;
    if (IsInteger(a, na) && IsInteger(b, nb)) {
      if (na > nb) return 1;
      if (na < nb) return 2;
      continue;
    }
    const int32_t c = plat::CompareStr(a, b);
    if (c < 0) return 2;
    if (c > 0) return 1;
  }
  return 0;
}

int32_t IsFileNewerByName(const std::string& NewFile, const std::string& ExistingFile,
                          TOverwriteType Mode) {
  // The new file's date, read through a handle as the existing one's is.
  int32_t newDate = 0;
  const bool needsDate = Mode == owDate || Mode == owVersionDate;
  const bool dateKnown = needsDate && OpenedFileDate(NewFile, newDate);
  const std::string newVersion =
      Mode == owVersion || Mode == owVersionDate ? FileVersionOf(NewFile) : std::string();
  return Decide(newVersion, dateKnown, newDate, ExistingFile, Mode);
}

int32_t IsFileNewer(const std::string& NewVersion, const std::string& ExistingFile,
                    TOverwriteType Mode, plat::TDateTime NewDate) {
  return Decide(NewVersion, true, plat::win::DateTimeToFileDate(NewDate), ExistingFile, Mode);
}

}  // namespace setup
