#include "setup/library/cmp_TInstallBuild.h"

#include <algorithm>
#include <climits>
#include <functional>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

#include "platform/rtl/Format.h"
#include "platform/rtl/Strings.h"
#include "platform/win/WinFileIO.h"
#include "platform/win/WinFiles.h"
#include "platform/win/WinPaths.h"
#include "platform/win/WinSystem.h"
#include "setup/library/cmp_TInstall.h"
#include "setup/library/cmp_TInstallFile.h"
#include "setup/library/cmp_TTrevCompress.h"
#include "setup/library/cmp_TTrevCompressRecord.h"
#include "setup/library/routines_Registry.h"
#include "setup/library/routines_Strings.h"

namespace setup {

namespace w = plat::win;
using archive::LoadI32;
using archive::StoreI32;

namespace {

constexpr const char* kSelfMarker = "SELFEXTRACTING";
constexpr const char* kPlainMarker = "NOTSELFEXTRACT";
constexpr const char* kNoLibrary =
    "Cannot find the the Quillane directory on the VCL library search path";
constexpr size_t kBlock = 8192;

bool ReadWhole(const std::string& WinPath, std::string& Data) {
  if (!w::FileExists(WinPath)) return false;
  std::ifstream in(w::HostPath(WinPath), std::ios::binary);
  if (!in) return false;
  Data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool Append(const std::string& WinPath, const std::string& Data) {
  std::ofstream out(w::HostPath(WinPath), std::ios::binary | std::ios::app);
  out.write(Data.data(), static_cast<std::streamsize>(Data.size()));
  out.flush();
  return static_cast<bool>(out);
}

// Writes Data as a new file on a drive that may be too small (A:), in
// blocks; Aborted is asked before each block.
bool WriteOnDrive(const std::string& WinPath, const std::string& Data,
                  const std::function<bool()>& Aborted = nullptr) {
  uint64_t total = 0;
  uint64_t free = 0;
  w::DeleteFile(WinPath);
  if (!w::GetDiskFreeSpace(WinPath, total, free) || free < Data.size()) return false;
  std::ofstream out(w::HostPath(WinPath), std::ios::binary | std::ios::trunc);
  for (size_t done = 0; done < Data.size() && out; done += kBlock) {
    if (Aborted && Aborted()) {
      out.close();
      w::DeleteFile(WinPath);
      throw IEInstall("Creating Install Aborted!");
    }
    out.write(Data.data() + done,
              static_cast<std::streamsize>(std::min(kBlock, Data.size() - done)));
  }
  out.flush();
  return static_cast<bool>(out);
}

std::string FirstLine(const std::string& Text, bool& Found) {
  std::istringstream in(Text);
  std::string line;
  Found = static_cast<bool>(std::getline(in, line));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace

std::string EncodeFileList(const std::vector<TFileListEntry>& Entries) {
  std::string list(4, '\0');
  StoreI32(reinterpret_cast<uint8_t*>(list.data()), static_cast<int32_t>(Entries.size()));
  for (const TFileListEntry& e : Entries) {
    uint8_t record[kFileListRecordSize] = {};
    StoreI32(record + 0, static_cast<int32_t>(e.Size));
    archive::StoreF64(record + 8, e.DateTime);
    const std::string name = e.Name.substr(0, 39);
    const std::string version = e.Version.substr(0, 23);
    std::copy(name.begin(), name.end(), record + 16);
    std::copy(version.begin(), version.end(), record + 56);
    list.append(reinterpret_cast<const char*>(record), sizeof record);
  }
  return list;
}

bool DecodeFileList(const std::string& Data, std::vector<TFileListEntry>& Entries) {
  Entries.clear();
  if (Data.size() < 4) return false;
  const auto* d = reinterpret_cast<const uint8_t*>(Data.data());
  const int32_t count = LoadI32(d);
  if (count < 0 || static_cast<uint64_t>(count) > (Data.size() - 4) / kFileListRecordSize) {
    return false;
  }
  auto text = [](const uint8_t* p, size_t size) {
    const auto* c = reinterpret_cast<const char*>(p);
    return std::string(c, std::find(c, c + size, '\0'));
  };
  for (int32_t i = 0; i < count; ++i) {
    const uint8_t* r = d + 4 + static_cast<size_t>(i) * kFileListRecordSize;
    Entries.push_back({text(r + 16, 40), static_cast<uint32_t>(LoadI32(r)), archive::LoadF64(r + 8),
                       text(r + 56, 24)});
  }
  return true;
}

std::string EncodeSelfExtractInfo(const TSelfExtractInfo& Info) {
  uint8_t block[kSelfExtractInfoSize] = {};
  const std::string marker = Info.SelfExtracting ? kSelfMarker : kPlainMarker;
  block[0] = static_cast<uint8_t>(marker.size());
  std::copy(marker.begin(), marker.end(), block + 1);
  StoreI32(block + 16, Info.SetupFirst);
  StoreI32(block + 20, Info.SetupLast);
  StoreI32(block + 24, Info.FilesFirst);
  StoreI32(block + 28, Info.FilesLast);
  return std::string(reinterpret_cast<const char*>(block), sizeof block);
}

bool DecodeSelfExtractInfo(const std::string& Block, TSelfExtractInfo& Info) {
  if (Block.size() != kSelfExtractInfoSize || Block[0] != 14) return false;
  const std::string marker = Block.substr(1, 14);
  if (marker != kSelfMarker && marker != kPlainMarker) return false;
  const auto* b = reinterpret_cast<const uint8_t*>(Block.data());
  Info.SelfExtracting = marker == kSelfMarker;
  Info.SetupFirst = LoadI32(b + 16);
  Info.SetupLast = LoadI32(b + 20);
  Info.FilesFirst = LoadI32(b + 24);
  Info.FilesLast = LoadI32(b + 28);
  return true;
}

std::string QuillaneInfo() {
  const std::string paths =
      ReadRegString(hkCurrentUser, "\\Software\\Borland\\Delphi\\5.0\\Library", "Search Path", "");
  if (plat::Trim(paths).empty()) throw IEInstall(kNoLibrary);
  const std::string root =
      ReadRegString(hkLocalMachine, "\\Software\\Borland\\Delphi\\5.0", "RootDir", "");
  std::istringstream in(paths);
  std::string entry;
  while (std::getline(in, entry, ';')) {
    for (const char* macro : {"$(DELPHI)", "$(BCB)"}) {
      for (size_t at = entry.find(macro); at != std::string::npos; at = entry.find(macro, at)) {
        entry.replace(at, std::string(macro).size(), RemoveTrailingBackslash(root));
        at += root.size();
      }
    }
    entry = RemoveTrailingBackslash(plat::Trim(entry));
    if (!entry.empty() && w::FileExists(entry + "\\T32V52.TXT")) return entry;
  }
  throw IEInstall(kNoLibrary);
}

namespace {

// "setup.1": the running program as its first member, then the files the
// loading program needs before the setup runs.
void BuildSetupArchive(TCustomInstall& Install, const std::string& BuildDir,
                       const std::string& program) {
  if (plat::Trim(program).empty()) throw IEInstall("Cannot create setup file. Executable is blank");
  if (!w::FileExists(program)) {
    throw IEInstall(plat::Format("TInstall: Cannot find the executable file %s", {program}));
  }
  const std::string name = BuildDir + "\\setup.1";
  w::DeleteFile(name);
  TTrevCompress archive(nullptr);
  archive.SetCompressedFile(name);
  try {
    archive.FilesToProcess().Add(program);
    archive.Compress(false, 0);
    for (int32_t i = 0; i < Install.PresetupFiles().Count(); ++i) {
      archive.FilesToProcess().Add(Install.PresetupFiles().Strings(i));
      archive.Compress(true, i + 1);
    }
  } catch (const ETrevCompress& e) {
    if (dynamic_cast<const EtcDiskFull*>(&e) == nullptr) throw;
    throw IEInstall(
        "The disk that you have specified has been determined to be either too full or is corrupt "
        "while trying to copy the SETUP.1 archive file. You should probably clear all files off "
        "of the drive. Minimally, you should leave enough space on the drive for the SETUP.1 "
        "archive file.");
  }
}

void CopyLoadingProgram(const std::string& BuildDir) {
  std::string library;
  try {
    library = QuillaneInfo();
  } catch (const IEInstall&) {
    throw IEInstall(plat::Format(
        "The HKEY_LOCAL_MACHINE | %s key in the registry is either missing or points to an "
        "invalid Nubra directory",
        {"\\Software\\Vantro\\T32V52"}));
  }
  const std::string loader = library + "\\QuillaneLoadProgram.exe";
  if (!w::FileExists(loader)) {
    throw IEInstall(plat::Format("The loader program %s was not found", {loader}));
  }
  const std::string target = BuildDir + "\\setup.exe";
  if (!w::CopyFile(loader, target, false)) {
    throw IEInstall(
        plat::Format("Cannot copy the loading program from %s to %s", {loader, target}));
  }
}

// The whole tree compressed with the install's archive in the build
// directory; the install's archive settings are put back afterwards.
void CompressInstallFiles(TCustomInstall& Install, const std::string& BuildDir) {
  TTrevCompress& archive = Install.Archive();
  struct TRestore {
    TCustomInstall& i;
    TTrevCompress& a;
    std::string file = a.CompressedFile();
    int32_t offset = a.Offset();
    std::string archiveFile = i.ArchiveFile();
    TCustomPathSpecifier* archiveType = i.ArchiveFileType();
    ~TRestore() {
      i.SetArchiveFileType(archiveType);
      i.SetArchiveFile(archiveFile);
      a.FilesToProcess().Clear();
      a.SetOffset(offset);
      a.SetCompressedFile(file);
    }
  } restore{Install, archive};
  Install.SetArchiveFileType(nullptr);
  Install.SetArchiveFile(BuildDir + "\\files.1");
  int32_t options = coIncludeAll;
  switch (Install.DistributeType()) {
    case dtTraditional: options |= coForceNetFilesLocal | coBuildDirArchives; break;
    case dtWeb: options |= coForceFilesNet; break;
    case dtTraditionalNet: options |= coBuildDirArchives; break;
  }
  Install.Compress(options);
  if (archive.Abort()) throw IEInstall("Creating Install Aborted!");
}

// "filelist.lst" of a network distribution: what the install needs to know
// of every file before anything is fetched.
void WriteFileList(TCustomInstall& Install, const std::string& BuildDir) {
  std::vector<TFileListEntry> entries;
  for (TCustomInstallFile* file : InstallFiles()) {
    if (file->CompressedInto().empty()) continue;
    TTrevCompress archive(nullptr);
    archive.SetCompressedFile(file->CompressedInto());
    const int32_t index = archive.IndexOfID(file->UniqueID());
    if (index < 0) continue;
    const TFileHeader& h = archive.FileHeaders().FileHeaders(index);
    entries.push_back({file->Name(), h.UncompressedSize, h.FileDate, h.FileVersion});
  }
  const std::string dir = NetArchiveDirectory(Install.NetLocation(), BuildDir);
  w::ForceDirectories(dir);
  int error = 0;
  if (!w::ReplaceWholeFile(w::HostPath(dir + "\\filelist.lst"), EncodeFileList(entries), error)) {
    throw IEInstall(plat::Format("Cannot create the file %s", {dir + "\\filelist.lst"}));
  }
}

}  // namespace

void BuildDistributables(TCustomInstall& Install, bool StandAlone, const std::string& Program) {
  const std::string info = w::ExtractWinFilePath(Program) + "BUILD.INF";
  std::string text;
  if (!ReadWhole(info, text)) {
    throw IEInstall(
        "Need to have a BUILD.INF file in this directory with the first line specifying the "
        "build directory");
  }
  bool found = false;
  const std::string buildDir = RemoveTrailingBackslash(plat::Trim(FirstLine(text, found)));
  if (!found) {
    throw IEInstall("Must be 1 line in BUILD.INF. This line should specify the build directory");
  }
  if (StandAlone && !Install.UseLoadingProgram()) {
    throw IEInstall(
        "Cannot build a stand alone executable if the UseLoadingProgram property of the TInstall "
        "is set to False");
  }
  w::ForceDirectories(buildDir);

  const std::string setupExe = buildDir + "\\setup.exe";
  if (Install.UseLoadingProgram()) {
    BuildSetupArchive(Install, buildDir, Program);
    CopyLoadingProgram(buildDir);
  } else {
    const std::string target = buildDir + "\\" + w::ExtractWinFileName(Program);
    if (!w::CopyFile(Program, target, false)) {
      throw IEInstall(plat::Format("Cannot copy the installation application from %s to %s",
                                   {Program, target}));
    }
  }

  CompressInstallFiles(Install, buildDir);
  if (Install.DistributeType() != dtTraditional) WriteFileList(Install, buildDir);

  if (!Install.UseLoadingProgram()) return;
  TSelfExtractInfo tail;
  if (StandAlone) {
    tail.SelfExtracting = true;
    int64_t at = w::FileSize(setupExe);
    for (const char* part : {"setup.1", "files.1"}) {
      const std::string name = buildDir + "\\" + part;
      std::string data;
      if (!w::FileExists(name)) continue;
      if (!ReadWhole(name, data) || !Append(setupExe, data) || at + data.size() > INT32_MAX) {
        throw IEInstall(plat::Format(
            "Cannot create the self-extracting exe because %s could not be loaded onto %s",
            {name, setupExe}));
      }
      int32_t& first = part[0] == 's' ? tail.SetupFirst : tail.FilesFirst;
      int32_t& last = part[0] == 's' ? tail.SetupLast : tail.FilesLast;
      first = static_cast<int32_t>(at);
      last = static_cast<int32_t>(at + static_cast<int64_t>(data.size()) - 1);
      at += static_cast<int64_t>(data.size());
    }
  }
  if (!Append(setupExe, EncodeSelfExtractInfo(tail))) {
    throw IEInstall(plat::Format(
        StandAlone ? "Cannot create the self-extracting exe because %s could not be loaded onto %s"
                   : "Cannot add the self-extract info header to %s",
        {"the information block", setupExe}));
  }
}

void TransferToFloppies(TCustomInstall& Install, const std::string& SelfExtractor) {
  constexpr const char* kOnlySelfExtracting =
      "Sorry... You can only transfer this installation to floppies through the self-extracting "
      "file. Usage example: setup.exe *TODISK";
  std::string whole;
  TSelfExtractInfo info;
  if (!ReadWhole(SelfExtractor, whole) || whole.size() < kSelfExtractInfoSize ||
      !DecodeSelfExtractInfo(whole.substr(whole.size() - kSelfExtractInfoSize), info) ||
      !info.SelfExtracting) {
    throw IEInstall(kOnlySelfExtracting);
  }
  const int64_t body = static_cast<int64_t>(whole.size()) - kSelfExtractInfoSize;
  if (info.SetupFirst <= 0 || info.SetupLast < info.SetupFirst || info.SetupLast >= body ||
      (info.FilesFirst != 0 &&
       (info.FilesFirst <= info.SetupLast || info.FilesLast < info.FilesFirst ||
        info.FilesLast >= body))) {
    throw IEInstall(kOnlySelfExtracting);
  }
  TInstallUI* ui = Install.UI();
  if (ui != nullptr) ui->Status("Transferring this installation to floppies. Please wait...");
  struct TReset {
    TInstallUI* ui;
    ~TReset() {
      if (ui != nullptr) ui->ResetStatus();
    }
  } reset{ui};

  TSelfExtractInfo plain;
  if (!WriteOnDrive("A:\\setup.exe",
                    whole.substr(0, static_cast<size_t>(info.SetupFirst)) +
                        EncodeSelfExtractInfo(plain))) {
    throw IEInstall("Cannot create setup.exe on the A drive. Probably not enough room");
  }
  if (!WriteOnDrive("A:\\setup.1",
                    whole.substr(static_cast<size_t>(info.SetupFirst),
                                 static_cast<size_t>(info.SetupLast - info.SetupFirst + 1)),
                    [&Install] { return Install.Archive().Abort(); })) {
    throw IEInstall("Cannot create setup.1 on the A drive. Probably not enough room");
  }
  if (info.FilesFirst == 0) return;

  TTrevCompress archive(nullptr);
  archive.SetCompressedFile(SelfExtractor);
  archive.SetOffset(info.FilesFirst);
  archive.OnNewDisk = [ui](plat::TObject*, int32_t Disk, std::string&) {
    const std::string text = plat::Format("Please insert disk %d", {Disk});
    if (ui != nullptr && ui->MessageBox(text, ibOKCancel) == iaCancel) {
      throw IEInstall("Aborted by user");
    }
  };
  archive.SpreadOntoDisks("A:\\files.1");
}

}  // namespace setup
