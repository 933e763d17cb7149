// Prepares a virtual Windows for a demonstration of the setup program: an
// installed Delphi 5 (its keys and help index) and the kit's archive in
// C:\dist, built from plain files made for the purpose.

#include <iostream>
#include <string>

#include "platform/win/Registry.h"
#include "platform/win/WinFileIO.h"
#include "platform/win/WinFiles.h"
#include "platform/win/WinPaths.h"
#include "setup/app/frmMain.h"
#include "setup/library/cmp_TTrevCompress.h"

namespace {

namespace w = plat::win;

void WriteWinFile(const std::string& winPath, const std::string& content) {
  int error = 0;
  if (!w::ReplaceWholeFile(w::HostPath(winPath), content, error)) {
    throw std::runtime_error("cannot write " + winPath);
  }
}

void WriteValue(w::HKEY root, const std::string& key, const std::string& name,
                const std::string& value) {
  w::TRegistry reg;
  reg.SetRootKey(root);
  if (!reg.OpenKey(key, true)) throw std::runtime_error("cannot create key " + key);
  reg.WriteString(name, value);
}

}  // namespace

int main() {
  try {
    w::EnsureWindowsRoot();
    WriteValue(w::HKEY_LOCAL_MACHINE, "\\software\\Borland\\Delphi\\5.0", "RootDir",
               "C:\\Borland\\Delphi5");
    const std::string user = "\\software\\Borland\\Delphi\\5.0";
    WriteValue(w::HKEY_CURRENT_USER, user + "\\Known Packages", "$(DELPHI)\\Bin\\dclstd50.bpl",
               "Standard Components");
    WriteValue(w::HKEY_CURRENT_USER, user + "\\Library", "Search Path",
               "$(DELPHI)\\Lib;$(DELPHI)\\Bin");
    WriteValue(w::HKEY_CURRENT_USER, user + "\\Palette", "Data Access", "TDataSource;TTable");
    w::ForceDirectories("C:\\Borland\\Delphi5\\Help");
    WriteWinFile("C:\\Borland\\Delphi5\\Help\\delphi5.ohl", ":Index Delphi=delphi5.hlp\r\n");
    WriteWinFile("C:\\Borland\\Delphi5\\Help\\delphi5.gid", "help cache");

    w::ForceDirectories(setup::kKitSourceDir);
    w::ForceDirectories("C:\\dist");
    setup::TTrevCompress archive(nullptr);
    archive.SetCompressedFile("C:\\dist\\files.1");
    bool append = false;
    for (const setup::TKitFile& f : setup::KitFiles()) {
      const std::string source = setup::kKitSourceDir + "\\" + f.Name;
      WriteWinFile(source, "Ostra kit file " + std::to_string(f.Id) + ": " + f.Name + "\r\n");
      archive.FilesToProcess().Clear();
      archive.FilesToProcess().Add(source);
      archive.Compress(append, f.Id);
      append = true;
    }
    std::cout << "Kit of " << setup::KitFiles().size() << " files in C:\\dist\\files.1\n";
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "demo_kit: " << e.what() << "\n";
    return 1;
  }
}
