#include "setup/library/basedirs_Office.h"

#include "platform/rtl/Strings.h"
#include "platform/win/WinFiles.h"
#include "setup/library/routines_API.h"
#include "setup/library/routines_ExpandPaths.h"
#include "setup/library/routines_Registry.h"
#include "setup/library/routines_Strings.h"

namespace setup {

namespace {

// The key of a setting of that version; empty for versions without one.
std::string SettingsKey(int Version, const std::string& Rest) {
  const std::string v = std::to_string(Version) + ".0";
  if (Version == 7 || Version == 8) return "\\Software\\Microsoft\\Office\\" + v + Rest;
  if (Version >= 9 && Version <= 19) return "\\Software\\Policies\\Microsoft\\Office\\" + v + Rest;
  return std::string();
}

std::string OrDefault(const std::string& Key, const std::string& Name, const std::string& Default) {
  if (Key.empty()) return Default;
  const std::string value = ReadRegString(hkCurrentUser, Key, Name, "");
  return plat::Trim(value).empty() ? Default : RemoveTrailingBackslash(value);
}

std::string FileNew(const std::string& Name, const std::string& Default) {
  return OrDefault(SettingsKey(OfficeVersion(), "\\Common\\FileNew\\" + Name), "", Default);
}

std::string WordOption(const std::string& Name, const std::string& Default) {
  return OrDefault(SettingsKey(OfficeVersion(), "\\Word\\Options"), Name, Default);
}

std::string UnderProgramFiles(const std::string& Rest) {
  return ProgramFilesPath() + "\\Microsoft Office\\" + Rest;
}

}  // namespace

int OfficeVersion() {
  const std::string current = ReadRegString(hkClassesRoot, "\\Word.Document\\CurVer", "", "");
  const size_t first = current.find('.');
  const size_t second = first == std::string::npos ? first : current.find('.', first + 1);
  if (second == std::string::npos) return -1;
  int32_t version = -1;
  if (!plat::TryStrToInt(current.substr(second + 1), version)) return -1;
  const std::string server = ReadRegString(
      hkClassesRoot, "\\" + current + "\\protocol\\StdFileEditing\\server", "", "");
  return !plat::Trim(server).empty() && plat::win::FileExists(server) ? version : -1;
}

std::string OfficeUserTemplates() {
  return FileNew("LocalTemplates", UnderProgramFiles("Templates"));
}

std::string OfficeWorkgroupTemplates() {
  return FileNew("SharedTemplates", OfficeUserTemplates());
}

std::string OfficeClipartDirectory() {
  return WordOption("PICTURE-PATH", UnderProgramFiles("Clipart"));
}

std::string OfficeStartupDirectory() {
  return WordOption("STARTUP-PATH", UnderProgramFiles("Office\\Startup"));
}

std::string OfficeToolsDirectory() {
  return WordOption("TOOLS-PATH", UnderProgramFiles("Office"));
}

std::string OfficeFavoritesDirectory() {
  return OrDefault("\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                   "Favorites", RemoveTrailingBackslash(GetWindowsDir()) + "\\Favorites");
}

}  // namespace setup
