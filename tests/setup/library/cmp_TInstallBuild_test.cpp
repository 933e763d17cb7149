#include "setup/library/cmp_TInstallBuild.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <map>

#include "TestInstall.h"
#include "TestInstallChecks.h"
#include "platform/win/LoopbackServers.h"
#include "setup/library/cmp_TNetInstallLocation.h"
#include "platform/win/WinFiles.h"
#include "platform/win/WinPaths.h"
#include "platform/win/WinSystem.h"
#include "setup/library/cmp_TInstall.h"
#include "setup/library/routines_Registry.h"
#include "setup/library/basedirs_Standard.h"
#include "support/TestDir.h"
#include "platform/win/WinTestRoot.h"

namespace setup {
namespace {

namespace fs = std::filesystem;
namespace w = plat::win;
using installtest::KitSources;
using installtest::TRecordingUI;
using installtest::TTestKit;

const std::string kProgram = "C:\\Kit Build\\OstraDemoInstall.exe";
const std::string kLoader = "the loading program\n";
const std::string kKit = "C:\\Program Files\\Ostra Kit";

std::string ErrorOf(const std::function<void()>& operation) {
  try {
    operation();
  } catch (const plat::Exception& e) {
    return e.Message();
  }
  return "no error";
}

// A build machine: the kit's sources in C:\src, the setup program with its
// BUILD.INF, and the installer library (marker and loading program) on the
// IDE's library search path.
class BuildTest : public wintest::WinRootTest {
 protected:
  void SetUp() override {
    wintest::WinRootTest::SetUp();
    MakeBuildMachine();
    NewKit();
  }
  void MakeBuildMachine() {
    w::ForceDirectories("C:\\src");
    for (const auto& [name, content] : KitSources()) WriteFile("C:\\src\\" + name, content);
    w::ForceDirectories("C:\\Kit Build");
    WriteFile(kProgram, "the setup program\n");
    WriteFile("C:\\Kit Build\\BUILD.INF", "C:\\out\\\r\nignored\r\n");
    w::ForceDirectories("C:\\IDE\\Quillane");
    WriteFile("C:\\IDE\\Quillane\\T32V52.TXT", "");
    WriteFile("C:\\IDE\\Quillane\\QuillaneLoadProgram.exe", kLoader);
    WriteRegString(hkLocalMachine, "\\Software\\Borland\\Delphi\\5.0", "RootDir", "C:\\IDE");
    WriteRegString(hkCurrentUser, "\\Software\\Borland\\Delphi\\5.0\\Library", "Search Path",
                   "$(DELPHI)\\Lib;$(DELPHI)\\Quillane");
  }
  void TearDown() override {
    kit_.reset();
    w::SetFloppyCapacity(0);
    wintest::WinRootTest::TearDown();
  }
  void NewKit() {
    kit_.reset();
    kit_ = std::make_unique<TTestKit>();
    kit_->Install->SetUI(&ui_);
  }
  void Load(std::vector<std::string> arguments) {
    kit_->Install->SetCommandLine(std::move(arguments));
    kit_->Install->Loaded();
  }
  void Install(std::vector<std::string> arguments) {
    Load(std::move(arguments));
    kit_->Install->FirstActivation();
  }
  // Engine: the content of engine.dll when the test changed it.
  void ExpectKitFiles(const std::string& engine = "") {
    for (const auto& [dest, source] : std::vector<std::pair<std::string, std::string>>{
             {kKit + "\\Bin\\engine.dll", "engine.dll"},
             {kKit + "\\Help\\kit.hlp", "kit.hlp"},
             {kKit + "\\readme.txt", "readme.txt"},
             {kKit + "\\uninstall.exe", "uninstall.exe"}}) {
      std::string expected;
      for (const auto& [name, content] : KitSources()) {
        if (name == source) expected = content;
      }
      if (source == "engine.dll" && !engine.empty()) expected = engine;
      EXPECT_TRUE(ReadFile(dest) == expected) << dest;
    }
  }
  // Moves the machine's folder Win into a host folder and starts a fresh
  // machine, into whose Win the folder is put back.
  void FreshMachineWith(const std::string& win) {
    const fs::path keep = fs::path(spare_.Path()) / "carried";
    fs::rename(w::HostPath(win), keep);
    kit_.reset();
    machine_ = std::make_unique<testsupport::TempDir>();
    ::setenv(w::kRootVariable, machine_->Path().c_str(), 1);
    w::EnsureWindowsRoot();
    w::ForceDirectories(w::ExtractWinFilePath(win));
    fs::rename(keep, w::HostPath(win));
    NewKit();
  }

  std::unique_ptr<TTestKit> kit_;
  TRecordingUI ui_;
  testsupport::TempDir spare_;
  std::unique_ptr<testsupport::TempDir> machine_;
};

TEST_F(BuildTest, ABuiltSetInstallsIntoAFreshWindows) {
  BuildDistributables(*kit_->Install, false, kProgram);

  // The loading program with a plain tail, and the setup program in setup.1.
  const std::string exe = ReadFile("C:\\out\\setup.exe");
  TSelfExtractInfo tail;
  ASSERT_EQ(exe.size(), kLoader.size() + kSelfExtractInfoSize);
  EXPECT_EQ(exe.substr(0, kLoader.size()), kLoader);
  ASSERT_TRUE(DecodeSelfExtractInfo(exe.substr(kLoader.size()), tail));
  EXPECT_FALSE(tail.SelfExtracting);
  EXPECT_EQ(tail.SetupFirst + tail.SetupLast + tail.FilesFirst + tail.FilesLast, 0);
  EXPECT_EQ(exe.substr(kLoader.size(), 15), std::string("\x0eNOTSELFEXTRACT", 15));
  TTrevCompress setup1(nullptr);
  setup1.SetCompressedFile("C:\\out\\setup.1");
  ASSERT_EQ(setup1.FileCount(), 1);
  EXPECT_EQ(setup1.FileStats(0).FileHeader.FilePath, kProgram);
  EXPECT_FALSE(w::FileExists("C:\\out\\filelist.lst"));

  FreshMachineWith("C:\\out");
  EXPECT_FALSE(w::FileExists("C:\\src\\engine.dll"));
  Install({"-sC:\\out"});
  ExpectKitFiles();
  EXPECT_TRUE(kit_->Install->Terminated());
}

TEST_F(BuildTest, RefusalsOfTheBuild) {
  // Without BUILD.INF beside the running program -b only reports it.
  kit_->Install->SetCommandLine({"-b"});
  kit_->Install->Loaded();
  ASSERT_EQ(ui_.Transcript.size(), 2u);
  EXPECT_EQ(ui_.Transcript[0],
            "message Need to have a BUILD.INF file in this directory with the first line "
            "specifying the build directory");
  EXPECT_EQ(ui_.Transcript[1], "terminate");

  auto build = [&](bool standAlone) {
    return ErrorOf([&] { BuildDistributables(*kit_->Install, standAlone, kProgram); });
  };
  WriteFile("C:\\Kit Build\\BUILD.INF", "");
  EXPECT_EQ(build(false),
            "Must be 1 line in BUILD.INF. This line should specify the build directory");
  WriteFile("C:\\Kit Build\\BUILD.INF", "C:\\out");
  kit_->Install->SetUseLoadingProgram(false);
  EXPECT_EQ(build(true),
            "Cannot build a stand alone executable if the UseLoadingProgram property of the "
            "TInstall is set to False");
  // Without the loading program the setup program itself is copied.
  EXPECT_EQ(build(false), "no error");
  EXPECT_EQ(ReadFile("C:\\out\\OstraDemoInstall.exe"), "the setup program\n");
  EXPECT_FALSE(w::FileExists("C:\\out\\setup.exe"));

  kit_->Install->SetUseLoadingProgram(true);
  w::DeleteFile("C:\\IDE\\Quillane\\QuillaneLoadProgram.exe");
  EXPECT_EQ(build(false),
            "The loader program C:\\IDE\\Quillane\\QuillaneLoadProgram.exe was not found");
  w::DeleteFile("C:\\IDE\\Quillane\\T32V52.TXT");
  EXPECT_EQ(build(false),
            "The HKEY_LOCAL_MACHINE | \\Software\\Vantro\\T32V52 key in the registry is either "
            "missing or points to an invalid Nubra directory");
  EXPECT_EQ(ErrorOf([] { QuillaneInfo(); }),
            "Cannot find the the Quillane directory on the VCL library search path");
}

// A self-extracting build spread onto floppies of a drive too small for
// one disk; the install from them asks for every further disk.
TEST_F(BuildTest, AStandAloneBuildGoesOntoFloppiesAndInstallsFromThem) {
  // Members large enough to need several disks.
  std::string big;
  for (uint32_t i = 0, x = 7; i < 40000; ++i) big += static_cast<char>((x = x * 1103515245 + 12345) >> 24);
  WriteFile("C:\\src\\engine.dll", big);
  // The loading program also gets the readme before the setup runs.
  kit_->Install->PresetupFiles().Add("C:\\src\\readme.txt");
  BuildDistributables(*kit_->Install, true, kProgram);
  const std::string exe = ReadFile("C:\\out\\setup.exe");
  TSelfExtractInfo tail;
  ASSERT_TRUE(DecodeSelfExtractInfo(exe.substr(exe.size() - kSelfExtractInfoSize), tail));
  EXPECT_TRUE(tail.SelfExtracting);
  EXPECT_EQ(tail.SetupFirst, static_cast<int32_t>(kLoader.size()));
  EXPECT_EQ(exe.substr(tail.SetupFirst, tail.SetupLast - tail.SetupFirst + 1),
            ReadFile("C:\\out\\setup.1"));
  EXPECT_EQ(tail.FilesFirst, tail.SetupLast + 1);
  EXPECT_EQ(exe.substr(tail.FilesFirst, tail.FilesLast - tail.FilesFirst + 1),
            ReadFile("C:\\out\\files.1"));
  {
    TTrevCompress setup1(nullptr);
    setup1.SetCompressedFile("C:\\out\\setup.1");
    ASSERT_EQ(setup1.FileCount(), 2);
    EXPECT_EQ(setup1.FileStats(0).FileHeader.FilePath, kProgram);
    EXPECT_EQ(setup1.FileStats(1).FileHeader.FilePath, "C:\\src\\readme.txt");
  }

  // Disks are host folders moved into A: when the drive asks for them.
  const fs::path drive = w::HostPath("A:\\");
  auto box = [&](int disk) { return fs::path(spare_.Path()) / ("disk" + std::to_string(disk)); };
  int current = 1;
  auto swap = [&](int in) {
    fs::create_directories(box(current));
    for (const auto& e : fs::directory_iterator(drive)) fs::rename(e.path(), box(current) / e.path().filename());
    if (fs::exists(box(in))) {
      for (const auto& e : fs::directory_iterator(box(in))) fs::rename(e.path(), drive / e.path().filename());
    }
    current = in;
  };
  std::vector<int> asked;
  struct TSwapUI : TRecordingUI {
    std::function<void(int)> Swap;
    TInstallAnswer MessageBox(const std::string& Text, TInstallButtons B) override {
      const TInstallAnswer a = TRecordingUI::MessageBox(Text, B);
      if (Text.rfind("Please insert disk ", 0) == 0) Swap(std::stoi(Text.substr(19)));
      return a;
    }
    void NewDisk(TDiskParameter& Disk) override {
      TRecordingUI::NewDisk(Disk);
      Swap(Disk.Disk);
      Disk.Handled = true;
    }
  } ui;
  ui.Swap = [&](int disk) { asked.push_back(disk); swap(disk); };
  kit_->Install->SetUI(&ui);
  w::SetFloppyCapacity(static_cast<uint64_t>(tail.SetupFirst + kSelfExtractInfoSize) +
                       (tail.SetupLast - tail.SetupFirst + 1) + 5 + 4 * 176 + 9000);
  // The self-extractor's copy of the setup program is started with -f.
  Load({"-f", "-esetup.exe", "-sC:\\out"});
  EXPECT_EQ(ui.Transcript.back(), "terminate");
  ASSERT_GE(asked.size(), 3u);  // at least three disks, then the first once more
  EXPECT_EQ(asked.back(), 1);
  const int disks = *std::max_element(asked.begin(), asked.end());

  // Disk 1 carries the loading program with a plain tail and setup.1.
  const std::string floppyExe = ReadFile("A:\\setup.exe");
  ASSERT_TRUE(DecodeSelfExtractInfo(floppyExe.substr(floppyExe.size() - kSelfExtractInfoSize), tail));
  EXPECT_FALSE(tail.SelfExtracting);
  EXPECT_EQ(floppyExe.substr(0, kLoader.size()), kLoader);
  EXPECT_EQ(ReadFile("A:\\setup.1"), ReadFile("C:\\out\\setup.1"));

  // The install from the floppies, disk 1 in the drive.
  NewKit();
  kit_->Install->SetUI(&ui);
  asked.clear();
  Install({"-sA:\\"});
  ExpectKitFiles(big);
  // Every further disk was asked for through the install's disk request.
  for (int d = 2; d <= disks; ++d) {
    EXPECT_NE(std::find(asked.begin(), asked.end(), d), asked.end()) << d;
    EXPECT_NE(std::find(ui.Transcript.begin(), ui.Transcript.end(),
                        "new disk " + std::to_string(d)),
              ui.Transcript.end())
        << d;
  }

  // A later install in the same process reads its own distributables,
  // not the drive the disk requests pointed at.
  swap(disks + 1);  // an empty disk in the drive
  fs::remove_all(w::HostPath(kKit));
  NewKit();
  Install({"-sC:\\out"});
  ExpectKitFiles(big);

  // Only a self-extracting program goes onto floppies.
  NewKit();
  ui_.Transcript.clear();
  Load({"-f", "-ereadme.txt", "-sC:\\src"});
  EXPECT_EQ(ui_.Transcript,
            (std::vector<std::string>{
                "message Sorry... You can only transfer this installation to floppies through the "
                "self-extracting file. Usage example: setup.exe *TODISK",
                "terminate"}));
}

// A network distribution: the archives the install fetches lie below the
// build directory in the location's directory, with the file list; an
// install from a server holding them takes each file's size from the list
// before anything else is fetched.
TEST_F(BuildTest, ANetworkBuildInstallsFromAServer) {
  struct Case {
    TDistributeType Kind;
    std::vector<std::string> NetArchives;  // in C:\out\kit
    bool MainArchive;                      // files.1 in C:\out
  };
  const Case cases[] = {
      {dtTraditionalNet, {"dirBin.1", "filelist.lst"}, true},
      {dtWeb, {"Install.1", "dirBin.1", "dirHelp.1", "filelist.lst"}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.Kind));
    auto distribute = [&](const std::string& host) {
      auto* location = new TCustomNetInstallLocation(kit_->Form.get());
      location->LoginInformation().SetHostname(host);
      location->LoginInformation().SetDirectory("kit");
      kit_->Install->SetNetLocation(location);
      kit_->Install->SetDesigning(true);
      kit_->Install->SetDistributeType(c.Kind);
      kit_->Install->SetDesigning(false);
      kit_->Engine->SetNet(true);
      kit_->Uninstaller->SetNet(false);
    };
    distribute("build.invalid");
    fs::remove_all(w::HostPath("C:\\out"));
    BuildDistributables(*kit_->Install, false, kProgram);
    std::vector<std::string> made;
    std::map<std::string, loopback::THttpFile> served;
    for (const w::TWinFindData& f : w::FindFiles("C:\\out\\kit\\*.*")) {
      made.push_back(f.Name);
      served["/kit/" + f.Name] = {200, "OK", ReadFile("C:\\out\\kit\\" + f.Name)};
    }
    std::sort(made.begin(), made.end());
    std::vector<std::string> expected = c.NetArchives;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(made, expected);
    EXPECT_EQ(w::FileExists("C:\\out\\files.1"), c.MainArchive);
    std::vector<TFileListEntry> list;
    ASSERT_TRUE(DecodeFileList(ReadFile("C:\\out\\kit\\filelist.lst"), list));
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[0].Name, "fileEngine");
    EXPECT_EQ(list[0].Size, std::string("the engine, new\n").size());

    loopback::THttpServer server(served);
    FreshMachineWith("C:\\out");
    distribute(server.HostName());
    uint32_t listedSize = 0;
    kit_->Install->OnAfterReadArchiveInfo = [&](TCustomInstall*) {
      listedSize = kit_->Engine->UncompressedSize();
    };
    ui_.Transcript.clear();
    Install({"-sC:\\out"});
    ExpectKitFiles();
    for (const std::string& line : ui_.Transcript) {
      EXPECT_EQ(line.rfind("exception", 0), std::string::npos) << line;
    }
    EXPECT_EQ(listedSize, list[0].Size);
    EXPECT_EQ(server.Requests().front().rfind("GET /kit/filelist.lst ", 0), 0u);
    MakeBuildMachine();
    NewKit();
  }
}

// Compressing the tree: its events, the components built though excluded,
// contradicting options, and a build aborted between two files.
TEST_F(BuildTest, CompressingTheTree) {
  EXPECT_EQ(ErrorOf([&] { kit_->Install->Compress(coForceNetFilesLocal | coForceFilesNet); }),
            "Cannot pass both coForceNetFilesLocal and coForceFilesNet to Compress");

  std::vector<std::string> seen;
  for (TCustomInstallFile* f : kit_->Files()) {
    f->OnBeforeCompress = [&seen](TCustomInstallFile* s) { seen.push_back("before " + s->Name()); };
    f->OnAfterCompress = [&seen](TCustomInstallFile* s) { seen.push_back("after " + s->Name()); };
  }
  kit_->Bin->OnStatus = [&seen](TCustomInstallFile* s, TFileStatusParameter& status) {
    if (status.Finished) seen.push_back("status " + s->Name());
  };
  kit_->Help->SetInclude(false);
  BuildDistributables(*kit_->Install, false, kProgram);
  EXPECT_EQ(seen, (std::vector<std::string>{"before fileEngine", "status fileEngine",
                                            "after fileEngine", "before fileHelp",
                                            "after fileHelp", "before fileReadme",
                                            "after fileReadme", "before fileUninstall",
                                            "after fileUninstall"}));
  // The excluded directory went into the build and stays excluded.
  EXPECT_FALSE(kit_->Help->Include());
  TTrevCompress files(nullptr);
  files.SetCompressedFile("C:\\out\\files.1");
  EXPECT_EQ(files.FileCount(), 4);
  EXPECT_GE(files.IndexOfID(kit_->HelpFile->UniqueID()), 0);
  EXPECT_EQ(kit_->HelpFile->ArchiveFileType(), FindStandardSpecifier("TpsContainerArchiveFile"));
  EXPECT_EQ(kit_->HelpFile->ArchiveFile(), "");

  // A Cancel while the engine is compressed stops the build there.
  kit_->Engine->OnAfterCompress = [this](TCustomInstallFile*) {
    kit_->Install->Archive().SetAbort(true);
  };
  EXPECT_EQ(ErrorOf([&] { BuildDistributables(*kit_->Install, false, kProgram); }),
            "Creating Install Aborted!");
  files.SetCompressedFile("C:\\out\\other.1");
  files.SetCompressedFile("C:\\out\\files.1");
  EXPECT_EQ(files.FileCount(), 1);
  // No tail: the loading program is as copied.
  EXPECT_EQ(ReadFile("C:\\out\\setup.exe"), kLoader);
}

// A copy distribution: a file copied from its source to its place, under
// its overwrite mode, never leaving a half-written destination.
TEST_F(BuildTest, ACopyDistributionCopiesAFileUnderItsOverwriteMode) {
  TCustomInstallFile& engine = *kit_->Engine;
  const std::string dest = kKit + "\\Bin\\engine.dll";
  std::vector<std::string> seen;
  engine.OnBeforeCopy = [&seen](TCustomInstallFile*) { seen.push_back("before"); };
  engine.OnAfterCopy = [&seen](TCustomInstallFile*) { seen.push_back("after"); };
  engine.OnStatus = [&seen](TCustomInstallFile*, TFileStatusParameter& status) {
    if (status.Finished) seen.push_back("finished " + std::to_string(status.FilePercentDone));
  };
  engine.Copy();
  EXPECT_EQ(ReadFile(dest), "the engine, new\n");
  EXPECT_EQ(w::FileAge(dest), w::FileAge("C:\\src\\engine.dll"));
  EXPECT_EQ(seen, (std::vector<std::string>{"before", "finished 100", "after"}));

  struct Case {
    TOverwriteType Mode;
    const char* Expected;
  };
  for (const Case& c : {Case{owNever, "old"}, Case{owAlways, "the engine, new\n"}}) {
    WriteFile(dest, "old");
    engine.SetOverwriteMode(c.Mode);
    engine.Copy();
    EXPECT_EQ(ReadFile(dest), c.Expected) << static_cast<int>(c.Mode);
  }

  // An abort keeps the former file and leaves nothing beside it.
  WriteFile(dest, "old");
  kit_->Install->Archive().SetAbort(true);
  EXPECT_EQ(ErrorOf([&] { engine.Copy(); }), "Creating Install Aborted!");
  kit_->Install->Archive().SetAbort(false);
  EXPECT_EQ(ReadFile(dest), "old");
  EXPECT_EQ(w::FindFiles(kKit + "\\Bin\\*.*").size(), 1u);

  // A file not included is not copied; a missing source is named.
  kit_->Readme->SetInclude(false);
  kit_->Readme->Copy();
  EXPECT_FALSE(w::FileExists(kKit + "\\readme.txt"));
  w::DeleteFile("C:\\src\\kit.hlp");
  EXPECT_EQ(ErrorOf([&] { kit_->HelpFile->Copy(); }), "Cannot open the file C:\\src\\kit.hlp");
}

}  // namespace
}  // namespace setup
