#include "platform/win/WinLibraries.h"

#include <vector>

#include "platform/win/IniFiles.h"
#include "platform/win/WinFiles.h"
#include "platform/win/WinInet.h"
#include "platform/win/WinPaths.h"
#include "platform/win/WinSystem.h"

namespace plat::win {

struct TLibraryExport {
  const char* Name;
  FARPROC Proc;
};

struct TLibraryModule {
  const char* FileName;
  std::vector<TLibraryExport> Exports;
};

namespace {

constexpr const char* kLibrariesSection = "Libraries";

template <typename F>
FARPROC Proc(F function) {
  return reinterpret_cast<FARPROC>(function);
}

const std::vector<TLibraryModule>& BuiltIn() {
  static const std::vector<TLibraryModule> libraries = {
      {"WININET.DLL",
       {{"InternetGetLastResponseInfoA", Proc(&InternetGetLastResponseInfoA)},
        {"InternetOpenA", Proc(&InternetOpenA)},
        {"InternetConnectA", Proc(&InternetConnectA)},
        {"FtpSetCurrentDirectoryA", Proc(&FtpSetCurrentDirectoryA)},
        {"InternetCloseHandle", Proc(&InternetCloseHandle)},
        {"InternetQueryDataAvailable", Proc(&InternetQueryDataAvailable)},
        {"InternetReadFile", Proc(&InternetReadFile)},
        {"FtpOpenFileA", Proc(&FtpOpenFileA)},
        {"HttpOpenRequestA", Proc(&HttpOpenRequestA)},
        {"HttpSendRequestA", Proc(&HttpSendRequestA)},
        {"HttpQueryInfoA", Proc(&HttpQueryInfoA)}}},
  };
  return libraries;
}

// "wininet", "WinInet.dll" and "C:\WINDOWS\system32\wininet.dll" all name
// the same library.
std::string LibraryName(const std::string& fileName) {
  std::string name = UpperName(ExtractWinFileName(fileName));
  if (ExtractWinFileExt(name).empty()) name += ".DLL";
  return name;
}

TIniFile Config() {
  EnsureWindowsRoot();
  return TIniFile::OnHostFile(SystemConfigFile());
}

}  // namespace

HMODULE LoadLibrary(const std::string& fileName) {
  const std::string name = LibraryName(fileName);
  for (const TLibraryModule& module : BuiltIn()) {
    if (name != module.FileName) continue;
    if (!Config().ReadBool(kLibrariesSection, name, true)) break;
    SetLastError(ERROR_SUCCESS);
    return &module;
  }
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

FARPROC GetProcAddress(HMODULE module, const std::string& procName) {
  if (module == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  for (const TLibraryExport& entry : module->Exports) {
    if (procName != entry.Name) continue;
    if (!Config().ReadBool(kLibrariesSection, std::string(module->FileName) + ":" + procName,
                           true)) {
      break;
    }
    SetLastError(ERROR_SUCCESS);
    return entry.Proc;
  }
  SetLastError(ERROR_PROC_NOT_FOUND);
  return nullptr;
}

bool FreeLibrary(HMODULE module) {
  SetLastError(module == nullptr ? ERROR_INVALID_HANDLE : ERROR_SUCCESS);
  return module != nullptr;
}

void SetLibraryAvailable(const std::string& fileName, bool available) {
  Config().WriteBool(kLibrariesSection, LibraryName(fileName), available);
}

void SetLibraryProcAvailable(const std::string& fileName, const std::string& procName,
                             bool available) {
  Config().WriteBool(kLibrariesSection, LibraryName(fileName) + ":" + procName, available);
}

}  // namespace plat::win
