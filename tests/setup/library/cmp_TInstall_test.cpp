#include "setup/library/cmp_TInstall.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "TestInstall.h"
#include "TestInstallChecks.h"
#include "platform/os/Os.h"
#include "platform/win/HeldFile.h"
#include "platform/win/IniFiles.h"
#include "platform/win/LoopbackServers.h"
#include "platform/win/Processes.h"
#include "platform/win/Registry.h"
#include "platform/win/Restart.h"
#include "platform/win/WinFiles.h"
#include "platform/win/WinSystem.h"
#include "platform/win/WinTestRoot.h"
#include "setup/library/cmp_TInstallBuild.h"
#include "setup/library/cmp_TNetInstallLocation.h"
#include "setup/library/routines_ExpandPaths.h"
#include "setup/library/routines_Registry.h"
#include "setup/library/routines_Strings.h"

namespace setup {
namespace {

namespace w = plat::win;
using installtest::ExpectKitInstalled;
using installtest::KeyExists;
using installtest::kKitDir;
using installtest::kProductKey;
using installtest::Reg;
using installtest::TRecordingUI;
using installtest::TTestKit;

std::string ErrorOf(const std::function<void()>& operation) {
  try {
    operation();
  } catch (const plat::Exception& e) {
    return e.ClassName() + ": " + e.Message();
  }
  return "no error";
}

// The lines of a transcript that are not file progress.
std::vector<std::string> Steps(const std::vector<std::string>& transcript) {
  std::vector<std::string> steps;
  for (const std::string& line : transcript) {
    if (line.rfind("file ", 0) != 0) steps.push_back(line);
  }
  return steps;
}

class InstallTest : public wintest::WinRootTest {
 protected:
  void SetUp() override {
    wintest::WinRootTest::SetUp();
    kit_ = std::make_unique<TTestKit>();
    kit_->BuildArchive("C:\\dist");
    kit_->Install->SetUI(&ui_);
  }
  void TearDown() override {
    kit_.reset();
    wintest::WinRootTest::TearDown();
  }

  void Load(std::vector<std::string> arguments) {
    kit_->Install->SetCommandLine(std::move(arguments));
    kit_->Install->Loaded();
  }

  std::unique_ptr<TTestKit> kit_;
  TRecordingUI ui_;
};

TEST_F(InstallTest, RunsEndToEndIntoAFreshWindows) {
  std::string recordDuringRun;
  kit_->Install->OnAfterInitialized = [&](TCustomInstall* install) {
    recordDuringRun = install->RecordKey();
    EXPECT_EQ(Reg(install->RecordKey(), "Path"), w::GetModuleFileName());
  };
  Load({"-sC:\\dist"});
  kit_->Install->FirstActivation();

  ExpectKitInstalled();
  EXPECT_EQ(recordDuringRun, "\\SOFTWARE\\Nubra\\Install\\Install0");

  // The typed pass, in order.
  const std::vector<std::string> expected = {"status Reading file information...",
                                             "reset status",
                                             "pages before install",
                                             "status Installing registry keys...",
                                             "reset status",
                                             "pages good install",
                                             "terminate"};
  EXPECT_EQ(Steps(ui_.Transcript), expected);
  // Each file reports itself finished; the last one completes the run.
  ASSERT_FALSE(ui_.Transcript.empty());
  const auto last = std::find_if(ui_.Transcript.rbegin(), ui_.Transcript.rend(),
                                 [](const std::string& l) { return l.rfind("file ", 0) == 0; });
  ASSERT_NE(last, ui_.Transcript.rend());
  EXPECT_EQ(*last, "file uninstall.exe 100% overall 100%");
  EXPECT_FALSE(kit_->Install->InRun());
  EXPECT_TRUE(kit_->Install->Terminated());
}

// A kit of empty files has nothing to count: its percentages never divide
// by zero and a finished file is whole.
TEST_F(InstallTest, PercentagesOfAnEmptyKit) {
  TTrevCompress archive(nullptr);
  archive.SetCompressedFile("C:\\dist\\files.1");
  bool append = false;
  for (TCustomInstallFile* f : kit_->Files()) {
    WriteFile("C:\\src\\" + f->FileName(), "");
    archive.FilesToProcess().Add("C:\\src\\" + f->FileName());
    archive.Compress(append, f->UniqueID());
    append = true;
  }
  Load({"-sC:\\dist"});
  kit_->Install->FirstActivation();
  std::vector<std::string> progress;
  for (const std::string& line : ui_.Transcript) {
    if (line.rfind("file ", 0) == 0) progress.push_back(line);
  }
  EXPECT_EQ(progress, (std::vector<std::string>{"file engine.dll 100% overall 100%",
                                                "file kit.hlp 100% overall 100%",
                                                "file readme.txt 100% overall 100%",
                                                "file uninstall.exe 100% overall 100%"}));
  EXPECT_EQ(ReadFile(kKitDir + "\\Bin\\engine.dll"), "");
}

// Components of the types the typed pass installs besides registry keys.
class TTypedComponent : public TInstallObject {
 public:
  TTypedComponent(plat::TComponent* owner, int32_t type, std::vector<std::string>& log)
      : TInstallObject(owner), type_(type), log_(log) {}
  int32_t RegisteredType() const override { return type_; }
  void ProcessHelpers() override { log_.push_back(Name()); }

 private:
  int32_t type_;
  std::vector<std::string>& log_;
};

TEST_F(InstallTest, TheTypedPassGoesTypeByTypeWithItsStatusTexts) {
  std::vector<std::string> installed;
  const std::pair<const char*, int32_t> made[] = {
      {"links8000", 8000}, {"ini", 4000}, {"links7000", 7000}, {"late", 9054},
      {"odbc", 2750},      {"bde", 3000}, {"silent", 8700}};
  for (const auto& [name, type] : made) {
    auto* c = new TTypedComponent(kit_->Form.get(), type, installed);
    c->SetName(name);
    c->SetContainer(kit_->Install);
  }
  Load({"-sC:\\dist"});
  kit_->Install->FirstActivation();
  EXPECT_EQ(installed, (std::vector<std::string>{"odbc", "bde", "links7000", "links8000", "ini",
                                                 "silent", "late"}));
  std::vector<std::string> statuses;
  for (const std::string& line : Steps(ui_.Transcript)) {
    if (line.rfind("status Installing", 0) == 0) statuses.push_back(line.substr(7));
  }
  // Shell links have two types with one text: it is shown for each.
  EXPECT_EQ(statuses, (std::vector<std::string>{"Installing ODBC drivers...",
                                                "Installing Borland Database Engine aliases...",
                                                "Installing shell links...",
                                                "Installing shell links...",
                                                "Installing INI files...",
                                                "Installing registry keys..."}));
}

TEST_F(InstallTest, TheSetupRecordIsFoundByTheProgramsSizeAndDate) {
  const std::string program = w::GetModuleFileName();
  const double date = w::FileDateToDateTime(w::FileAge(program));
  const int32_t size = static_cast<int32_t>(w::FileSize(program));
  auto record = [&](const std::string& name, double created, int32_t bytes, bool complete) {
    w::TRegistry reg;
    reg.SetRootKey(w::HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKey(std::string(kInstallRecordKey) + "\\" + name, true));
    reg.WriteString("Path", "D:\\elsewhere\\setup.exe");
    reg.WriteFloat("CreationDate", created);
    if (complete) reg.WriteInteger("Size", bytes);
  };
  record("Install0", date, size, false);     // unreadable: passed over
  record("Install1", date, size + 1, true);  // another program
  EXPECT_EQ(kit_->Install->FindSetupRecord(false), "");
  EXPECT_EQ(kit_->Install->FindSetupRecord(true), std::string(kInstallRecordKey) + "\\Install2");
  // The same program copied elsewhere finds its record and notes where it
  // runs from now.
  record("Install2", date, size, true);
  EXPECT_EQ(kit_->Install->FindSetupRecord(false), std::string(kInstallRecordKey) + "\\Install2");
  EXPECT_EQ(Reg(std::string(kInstallRecordKey) + "\\Install2", "Path"), program);
}

TEST_F(InstallTest, CommandLineOptions) {
  const std::string invalid =
      "IException: Invalid parameter <%s>. Valid command line parameters are: -b (Build), -d "
      "(Debug), -f (Transfer to floppies), -e (Called by self-extractor), -r (After reboot)";
  auto refused = [&](const std::string& arg) {
    std::string m = invalid;
    return m.replace(m.find("%s"), 2, arg);
  };
  struct Case {
    std::vector<std::string> args;
    std::string error;
  };
  const std::vector<Case> cases = {
      {{"-x"}, refused("-x")},
      {{"setup"}, refused("setup")},
      {{"-"}, refused("-")},
      {{"*x", "-sC:\\dist"}, "no error"},
      {{"-d"},
       "IEInstall: You forgot to pass in the build directory. In Run | Parameters, follow this "
       "format: -d \"-sC:\\My Build\""},
      {{"-d", "-s "},
       "IEInstall: You forgot to pass in the build directory. In Run | Parameters, follow this "
       "format: -d \"-sC:\\My Build\""},
      {{"-d", "-SC:\\dist", "*n"}, "no error"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ErrorOf([&] { Load(c.args); }), c.error) << c.args[0];
  }
  Load({"-s C:\\dist", "-n", "-nAgain"});
  EXPECT_EQ(kit_->Install->OptionValue(coSource), " C:\\dist");
  EXPECT_EQ(kit_->Install->SourceDir(), " C:\\dist\\");
  EXPECT_TRUE(kit_->Install->HasOption(coNew));
  EXPECT_EQ(kit_->Install->OptionValue(coNew), "Again");
  EXPECT_FALSE(kit_->Install->HasOption(coDebug));

  // Without -s a loading program's install refuses to run.
  Load({});
  kit_->Install->FirstActivation();
  ASSERT_FALSE(ui_.Transcript.empty());
  EXPECT_EQ(ui_.Transcript[0].rfind("pages bad install", 0), 0u);
  EXPECT_EQ(ui_.Transcript[1].rfind("exception IEInstall: The path of the loading program was not "
                                    "passed correctly.",
                                    0),
            0u);
}

TEST_F(InstallTest, AUserAbortOnTheFirstPageEndsAsAnAbort) {
  ui_.AbortAt = dmBeforeInstall;
  Load({"-sC:\\dist"});
  kit_->Install->FirstActivation();
  const std::vector<std::string> expected = {"status Reading file information...", "reset status",
                                             "pages before install", "pages bad install",
                                             "terminate"};
  EXPECT_EQ(Steps(ui_.Transcript), expected);
  EXPECT_TRUE(kit_->Install->Aborted());
  EXPECT_FALSE(w::DirectoryExists(kKitDir));
  EXPECT_FALSE(KeyExists("\\SOFTWARE\\Nubra"));
}

TEST_F(InstallTest, InstallTypesAndWindowsVersionsFilterContainers) {
  // The help directory is for the compact install only, the readme for the
  // NT line only (the machine says Windows 98).
  kit_->Help->SetInstallTypes(TInstallTypeSet{itCompact});
  kit_->Readme->SetOS(OSSet{oswinNT, oswin2K, oswinXP});
  w::SetWindowsVersion(w::VER_PLATFORM_WIN32_WINDOWS, 4, 10, 1998, "");
  kit_->Install->SetInstallTypes(TInstallTypeSet{itFull, itDefault});
  Load({"-sC:\\dist"});
  EXPECT_EQ(kit_->Install->InstallTypeIndex(), 1);
  EXPECT_EQ(kit_->Help->InstallTypeIndex(), 1);
  kit_->Install->FirstActivation();
  EXPECT_TRUE(w::FileExists(kKitDir + "\\Bin\\engine.dll"));
  EXPECT_FALSE(w::DirectoryExists(kKitDir + "\\Help"));
  EXPECT_FALSE(w::FileExists(kKitDir + "\\readme.txt"));
  EXPECT_FALSE(kit_->Readme->Include());
  EXPECT_EQ(Reg(kProductKey + "\\Files", "Entries"), "1");
}

TEST_F(InstallTest, HelpersAreOrderedByTheirRegisteredType) {
  TInstallContainer& root = *kit_->Install;
  std::vector<std::string> names;
  for (int32_t i = 0; i < root.HelperCount(); ++i) names.push_back(root.Helpers(i)->Name());
  EXPECT_EQ(names, (std::vector<std::string>{"dirBin", "dirHelp", "fileReadme", "fileUninstall",
                                             "regKit"}));
  EXPECT_EQ(ErrorOf([&] { kit_->Bin->AddHelper(kit_->Install); }),
            "IEInstallContainer: Circular reference");
  EXPECT_EQ(ErrorOf([&] { root.AddHelper(nullptr); }),
            "IEInstallContainer: Cannot add a blank base helper component to Install");
  EXPECT_EQ(ErrorOf([&] { kit_->Engine->SetContainer(kit_->Registry); }),
            "IECustomInstallFile: The following TInstallFile component fileEngine requires the "
            "Container property to be a component descended from the TFileContainer component");
  auto* group = new TCustomInstallGroup(kit_->Form.get());
  EXPECT_EQ(ErrorOf([&] { group->SetContainer(kit_->Bin); }),
            "IEInstallGroup: A TInstallGroup component can only be contained by a TInstall, or "
            "another TInstallGroup component");
  group->SetContainer(kit_->Install);
  EXPECT_EQ(root.Helpers(0), group);
  // A second file goes after the first.
  auto* second = kit_->File("fileSecond", "second.txt", kit_->Install);
  EXPECT_EQ(root.Helpers(5), second);
  EXPECT_EQ(root.Helpers(6), kit_->Registry);
}

TEST_F(InstallTest, AFileIsClassifiedByItsNameAndDestination) {
  struct Case {
    const char* name;
    bool help;
    bool activeX;
  };
  const Case cases[] = {{"a.hlp", true, false}, {"b.CNT", true, false}, {"c.tlb", false, true},
                        {"d.ocx", false, true}, {"e.dll", false, false}, {"f.exe", false, false}};
  for (const Case& c : cases) {
    TCustomInstallFile* f = kit_->File((std::string("file_") + c.name[0]).c_str(), c.name, kit_->Bin);
    EXPECT_EQ(f->DestName(), c.name);
    EXPECT_EQ(f->RegisterAsHelp(), c.help) << c.name;
    EXPECT_EQ(f->ActiveX(), c.activeX) << c.name;
  }
  EXPECT_EQ(ErrorOf([&] { kit_->File("fileTwice", "engine.dll", kit_->Bin); }),
            "IEfcDuplicateFile: There is already a file with the name :C:\\src\\engine.dll");
  // Destinations and kinds of DLL.
  TCustomInstallFile* dll = kit_->File("fileShared", "shared.dll", kit_->Bin);
  dll->SetDestDirType(FindStandardSpecifier("TpsWindow"));
  EXPECT_EQ(dll->OverwriteMode(), owVersionDate);
  dll->SetFileType(iftVendorSharedDLL);
  EXPECT_TRUE(dll->UpdateDLLCounter());
  EXPECT_EQ(dll->GetFullDestDir(), CommonFilesPath() + "\\System");
  dll->SetFileType(iftApplicationSpecificDLL);
  EXPECT_EQ(dll->GetFullDestDir(), kKitDir + "\\System");
}

TEST_F(InstallTest, RegistryEntryMacros) {
  TRegistryEntry* e = kit_->Registry->Entries().Add();
  e->SetIdent("Macro");
  e->SetPathSpecifier(kit_->Bin->PathSpecifier());
  struct Case {
    const char* text;
    std::string value;
  };
  const Case cases[] = {
      {"%p", kKitDir + "\\Bin"},
      {"%P\\lib", kKitDir + "\\Bin\\lib"},
      {"100%%", "100%"},
      {"a%bc", "abc"},
      {"end%", "end"},
      {"plain", "plain"},
  };
  for (const Case& c : cases) {
    e->SetText(c.text);
    EXPECT_EQ(e->ValueText(), c.value) << c.text;
  }
  struct KeyCase {
    TKeySpecifier kind;
    const char* key;
  };
  const KeyCase keys[] = {{ksAbsolute, "\\SOFTWARE\\MyStuff"},
                          {ksCompanyName, "\\SOFTWARE\\Ostra"},
                          {ksProductName, "\\SOFTWARE\\Ostra\\Ostra Kit"},
                          {ksVersion, "\\SOFTWARE\\Ostra\\Ostra Kit\\1.5"}};
  TCustomInstallRegistry reg(nullptr);
  reg.SetKey("\\SOFTWARE\\MyStuff\\");
  for (const KeyCase& k : keys) {
    reg.SetKeySpecifierType(k.kind);
    EXPECT_EQ(reg.FullKey(), k.key);
  }
}

TEST_F(InstallTest, AnUnfinishedPathHoldingASemicolonSurvivesTheRestart) {
  Load({"-sC:\\dist"});
  kit_->Install->OnAfterInitialized = [](TCustomInstall* install) {
    w::ForceDirectories("C:\\odd;dir");
    std::ofstream(w::HostPath("C:\\odd;dir\\left;over.tmp")) << "x";
    install->AddUnfinished("C:\\odd;dir\\left;over.tmp", 1);
    install->AddUnfinished("fileReadme", 0);
    install->SetReboot(true);
  };
  // A restart was asked for and then declined: the run still ends there.
  kit_->Install->OnBeforeReboot = [](TCustomInstall*, bool& reboot) { reboot = false; };
  kit_->Install->FirstActivation();
  // The restart was registered; the application ends without the
  // good-install pages.
  EXPECT_EQ(Steps(ui_.Transcript).back(), "terminate");
  EXPECT_EQ(std::count(ui_.Transcript.begin(), ui_.Transcript.end(), "pages good install"), 0);
  const std::string command =
      Reg(std::string("\\") + w::kRunOnceKey, kUnfinishedRunOnce, w::HKEY_CURRENT_USER);
  EXPECT_EQ(command, "\"" + w::GetModuleFileName() + "\" -r \"-s" +
                         w::ExtractWinFileDir(w::GetModuleFileName()) + "\"");
  const std::string record = kit_->Install->RecordKey();
  EXPECT_EQ(Reg(record + "\\Unfinished", "C:\\odd;dir\\left;over.tmp"), "1");
  EXPECT_EQ(Reg(record, "Language"), "20");

  // The continuation, in a new description.
  kit_.reset();
  kit_ = std::make_unique<TTestKit>();
  kit_->Install->SetUI(&ui_);
  ui_.Transcript.clear();
  kit_->Readme->SetInstallAttributes(TTrevFileAttributesSet{tfaReadOnly});
  Load({"-r", "-sC:\\dist"});
  EXPECT_FALSE(w::FileExists("C:\\odd;dir\\left;over.tmp"));
  EXPECT_NE(w::GetFileAttributes(kKitDir + "\\readme.txt") & w::FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_EQ(Steps(ui_.Transcript), (std::vector<std::string>{"pages good install", "terminate"}));
  EXPECT_FALSE(KeyExists("\\SOFTWARE\\Nubra"));
}

TEST_F(InstallTest, ProgramsRunAfterTheInstallUnlessVetoed) {
  // Two batch files of the kit: one removes a marker, the other is vetoed.
  WriteFile("C:\\marker", "x");
  WriteFile("C:\\keep", "x");
  for (const auto& [name, target] : {std::pair<std::string, std::string>{"after.bat", "C:\\marker"},
                                     {"vetoed.bat", "C:\\keep"}}) {
    TCustomInstallFile* f = kit_->File(("file_" + name.substr(0, name.size() - 4)).c_str(),
                                       name.c_str(), kit_->Install);
    f->SetRunAfterInstall(true);
    WriteFile("C:\\src\\" + name, "ERASE \"" + target + "\"\r\n");
    TTrevCompress archive(nullptr);
    archive.SetCompressedFile("C:\\dist\\files.1");
    archive.FilesToProcess().Add("C:\\src\\" + name);
    archive.Compress(true, f->UniqueID());
  }
  std::vector<std::string> asked;
  kit_->Install->OnBeforeRunFile = [&](TCustomInstall*, TCustomInstallFile* f, bool& run) {
    asked.push_back(f->Name());
    run = f->DestName() == "after.bat";
  };
  Load({"-sC:\\dist"});
  kit_->Install->FirstActivation();
  EXPECT_EQ(asked, (std::vector<std::string>{"file_after", "file_vetoed"}));
  for (int i = 0; i < 500 && w::FileExists("C:\\marker"); ++i) plat::Sleep(10);
  EXPECT_FALSE(w::FileExists("C:\\marker"));
  EXPECT_TRUE(w::FileExists("C:\\keep"));
}

TEST_F(InstallTest, AComServerThatCannotRegisterIsRetriedAndFailsTheRun) {
  kit_->Engine->SetActiveX(true);
  // A COM server is a system-wide DLL: it goes to the system folder ...
  EXPECT_EQ(kit_->Engine->FileType(), iftSystemWideDLL);
  EXPECT_EQ(kit_->Engine->GetFullDestDir(), RemoveTrailingBackslash(w::GetSystemDirectory()));
  EXPECT_TRUE(kit_->Engine->UpdateDLLCounter());
  // ... unless it is put back.
  kit_->Engine->SetDestDirType(FindStandardSpecifier("TpsContainerDestDir"));
  Load({"-sC:\\dist"});
  kit_->Install->FirstActivation();
  const std::vector<std::string> steps = Steps(ui_.Transcript);
  ASSERT_GE(steps.size(), 3u);
  EXPECT_EQ(steps[steps.size() - 3], "pages bad install");
  EXPECT_EQ(steps[steps.size() - 2].rfind("exception IECustomInstallFile: Could not register the "
                                          "ActiveX component, " +
                                              kKitDir + "\\Bin\\engine.dll, because the LoadLibrary",
                                          0),
            0u)
      << steps[steps.size() - 2];
  // Its uninstall record is the ActiveX one; the other files keep theirs.
  EXPECT_EQ(Reg(kProductKey + "\\ActiveX", "File1"), kKitDir + "\\Bin\\engine.dll;1");
  EXPECT_EQ(Reg(kProductKey + "\\Files", "File1"), kKitDir + "\\Help\\kit.hlp");
}

TEST_F(InstallTest, TheCleanUpNeverTouchesAFolderAPersonRanTheProgramFrom) {
  // The test program runs from the build folder: -c leaves it alone.
  Load({"-sC:\\dist", "-c"});
  kit_->Install->FirstActivation();
  EXPECT_TRUE(kit_->Install->PendingBatch().empty());
  EXPECT_TRUE(w::FileExists(w::GetModuleFileName()));
}

TEST_F(InstallTest, ASelfExtractorCarriesTheArchiveAtTheOffsetItsTailNames) {
  std::string block(56, '\0');
  const uint32_t offset = 100;
  for (int i = 0; i < 4; ++i) block[24 + i] = static_cast<char>(offset >> (8 * i));
  WriteFile("C:\\dist\\setup.exe", std::string(offset, 'M') + ReadFile("C:\\dist\\files.1") + block);
  w::DeleteFile("C:\\dist\\files.1");
  std::string selfExtract;
  kit_->Install->OnAfterInitialized = [&](TCustomInstall* install) {
    selfExtract = Reg(install->RecordKey(), "SelfExtract");
  };
  Load({"-sC:\\dist", "-esetup.exe", "-c"});
  EXPECT_EQ(kit_->Install->RestartCommand(), "\"" + w::GetModuleFileName() +
                                                 "\" -r \"-esetup.exe\" \"-sC:\\dist\" -c");
  kit_->Install->FirstActivation();
  EXPECT_EQ(selfExtract, "C:\\dist\\setup.exe");
  EXPECT_EQ(kit_->Install->Archive().Offset(), 100);
  EXPECT_EQ(ReadFile(kKitDir + "\\Bin\\engine.dll"), "the engine, new\n");

  // A self-extractor too short for its tail.
  kit_.reset();
  kit_ = std::make_unique<TTestKit>();
  kit_->Install->SetUI(&ui_);
  ui_.Transcript.clear();
  WriteFile("C:\\dist\\short.exe", "MZ");
  Load({"-sC:\\dist", "-eshort.exe"});
  kit_->Install->FirstActivation();
  EXPECT_EQ(Steps(ui_.Transcript)[1],
            "exception IEInstall: Could not read the extraction info from the archive file "
            "C:\\dist\\short.exe when trying to find the correct offset into the self extracting "
            "file");
}

TEST_F(InstallTest, PathSpecifiersExpandAndValidate) {
  Load({"-sC:\\dist"});
  auto expand = [&](const char* cls, TInstallContainer* object) {
    return FindStandardSpecifier(cls)->Expand(object);
  };
  auto shell = [](int32_t csidl) {
    std::string path;
    w::SHGetSpecialFolderPath(csidl, path);
    return path;
  };
  EXPECT_EQ(expand("TpsSystem", nullptr), RemoveTrailingBackslash(w::GetSystemDirectory()));
  EXPECT_EQ(expand("TpsWindow", nullptr), RemoveTrailingBackslash(w::GetWindowsDirectory()));
  EXPECT_EQ(expand("TpsInstallSource", nullptr), "C:\\dist");
  EXPECT_EQ(expand("TpsMainInstall", kit_->Engine), kKitDir);
  EXPECT_EQ(expand("TpsMainArchiveFile", kit_->Engine), "C:\\dist\\files.1");
  EXPECT_EQ(expand("TpsContainerDestDir", kit_->Engine), kKitDir + "\\Bin");
  EXPECT_EQ(expand("TpsContainerArchiveFile", kit_->Engine), "C:\\dist\\files.1");
  EXPECT_EQ(expand("TpsRecent", nullptr), RemoveTrailingBackslash(shell(w::CSIDL_RECENT)));
  EXPECT_EQ(expand("TpsCommonPrograms", nullptr),
            RemoveTrailingBackslash(shell(w::CSIDL_COMMON_PROGRAMS)));
  EXPECT_EQ(kit_->Bin->PathSpecifier()->GetDescription(), "Path into which dirBin will be installed");
  // The install is a file container too: it made the first one.
  EXPECT_EQ(kit_->Install->PathSpecifier()->Name(), "psFileContainer");
  EXPECT_EQ(kit_->Bin->PathSpecifier()->Name(), "psFileContainer1");
  EXPECT_EQ(kit_->Help->PathSpecifier()->Name(), "psFileContainer2");
  w::SetWindowsVersion(w::VER_PLATFORM_WIN32_WINDOWS, 4, 10, 1998, "");
  EXPECT_EQ(expand("TpsRecent", nullptr), "undefined");
  EXPECT_EQ(expand("TpsCookies", nullptr), "");
  EXPECT_EQ(expand("TpsCommonPrograms", nullptr), RemoveTrailingBackslash(shell(w::CSIDL_PROGRAMS)));

  TPathSpecifier own(nullptr);
  EXPECT_EQ(own.Expand(kit_->Engine), "");
  own.OnGetPath = [](TInstallContainer* o, std::string& path) { path = "D:\\" + o->Name(); };
  EXPECT_EQ(own.Expand(kit_->Engine), "D:\\fileEngine");

  TCustomInstallFile loose(nullptr);
  loose.SetName("loose");
  EXPECT_EQ(ErrorOf([&] { loose.SetDestDirType(FindStandardSpecifier("TpsContainerDestDir")); }),
            "IEPathSpecifier: Cannot use ddContainerDestDir for loose unless you assign a Container");
  EXPECT_EQ(ErrorOf([&] { kit_->Install->SetDestDirType(FindStandardSpecifier("TpsMainInstall")); }),
            "IEPathSpecifier: Cannot use the ddMainInstallDir path specifier for a TInstall "
            "component");
  EXPECT_EQ(ErrorOf([&] { kit_->Bin->SetDestDirType(kit_->Help->PathSpecifier()); }),
            "IEPathSpecifier: A file container cannot reference another file container or group");
}

TEST_F(InstallTest, ANetworkDistributionFetchesAContainersArchiveOnce) {
  // dirBin's archive lies on a web server as "dirBin.1".
  {
    TTrevCompress archive(nullptr);
    archive.SetCompressedFile("C:\\dist\\dirBin.1");
    archive.FilesToProcess().Add("C:\\src\\engine.dll");
    archive.Compress(false, kit_->Engine->UniqueID());
  }
  const std::string body = ReadFile("C:\\dist\\dirBin.1");
  // No file list entry: the sizes come from the archives once fetched.
  loopback::THttpServer server({{"/kit/filelist.lst", {200, "OK", EncodeFileList({})}},
                                {"/kit/dirBin.1", {200, "OK", body}},
                                {"/kit/dirHelp.1", {200, "OK", std::string(30000, 'x')}}});
  auto* location = new TCustomNetInstallLocation(kit_->Form.get());
  location->LoginInformation().SetHostname(server.HostName());
  location->LoginInformation().SetDirectory("kit");
  kit_->Install->SetNetLocation(location);
  EXPECT_EQ(ErrorOf([&] { kit_->Install->SetDistributeType(dtTraditionalNet); }),
            "IEInstall: DistributeType can only be set at design-time");
  kit_->Install->SetDesigning(true);
  kit_->Install->SetDistributeType(dtTraditionalNet);
  kit_->Install->SetDesigning(false);
  kit_->Engine->SetNet(true);
  kit_->Uninstaller->SetNet(false);  // the uninstaller is a network file unless told otherwise
  std::string recorded;
  kit_->Engine->OnAfterInstall = [&](TCustomInstallFile*) {
    recorded = Reg(kit_->Install->RecordKey() + "\\dirBin", "LocalFile");
  };
  Load({"-sC:\\dist"});
  kit_->Install->FirstActivation();
  EXPECT_EQ(ReadFile(kKitDir + "\\Bin\\engine.dll"), "the engine, new\n");
  EXPECT_EQ(ReadFile(kKitDir + "\\readme.txt"), "read me first\n");  // from the main archive
  EXPECT_EQ(server.Requests().size(), 2u);  // the file list, then dirBin.1 once
  EXPECT_NE(std::find(ui_.Transcript.begin(), ui_.Transcript.end(), "download dirBin.1 100%"),
            ui_.Transcript.end());
  // The copy was noted while the run lasted and went with the record.
  EXPECT_EQ(w::ExtractWinFileExt(recorded), ".1");
  EXPECT_FALSE(w::FileExists(recorded));

  // A download aborted halfway is an abort: nothing noted, nothing left.
  kit_.reset();
  kit_ = std::make_unique<TTestKit>();
  kit_->Install->SetUI(&ui_);
  ui_.Transcript.clear();
  location = new TCustomNetInstallLocation(kit_->Form.get());
  location->LoginInformation().SetHostname(server.HostName());
  location->LoginInformation().SetDirectory("kit");
  // The file list comes through; the archive's download is aborted.
  bool listRead = false;
  kit_->Install->OnAfterReadArchiveInfo = [&listRead](TCustomInstall*) { listRead = true; };
  location->OnProgress = [&listRead](plat::TObject*, TCustomNetInstallLocation*, const char*,
                                     int32_t, int32_t, int32_t) {
    if (listRead) SetDownloadAbort(true);
  };
  kit_->Install->SetNetLocation(location);
  kit_->Install->SetDesigning(true);
  kit_->Install->SetDistributeType(dtTraditionalNet);
  kit_->Install->SetDesigning(false);
  kit_->HelpFile->SetNet(true);
  kit_->Uninstaller->SetNet(false);
  std::vector<std::string> localFiles;
  kit_->Install->OnAfterNotifyBadInstall = [&](TCustomInstall* install) {
    localFiles.push_back(Reg(install->RecordKey() + "\\dirHelp", "LocalFile"));
  };
  Load({"-sC:\\dist"});
  kit_->Install->FirstActivation();
  SetDownloadAbort(false);
  EXPECT_EQ(localFiles, std::vector<std::string>{"<no key>"});
  EXPECT_EQ(Steps(ui_.Transcript).back(), "terminate");
  EXPECT_EQ(std::count(ui_.Transcript.begin(), ui_.Transcript.end(), "pages bad install"), 1);
  for (const w::TWinFindData& f : w::FindFiles("C:\\WINDOWS\\TEMP\\*.*")) ADD_FAILURE() << f.Name;
  EXPECT_FALSE(w::FileExists(kKitDir + "\\Help\\kit.hlp"));
}

TEST_F(InstallTest, OfficeFoldersFollowTheSuitesVersion) {
  auto expand = [](const char* cls) { return FindStandardSpecifier(cls)->Expand(nullptr); };
  const std::string office = ProgramFilesPath() + "\\Microsoft Office\\";
  // No suite: the usual folders.
  EXPECT_EQ(expand("TpsOfficeUserTemplates"), office + "Templates");
  EXPECT_EQ(expand("TpsOfficeWorkgroupTemplates"), office + "Templates");
  EXPECT_EQ(expand("TpsOfficeClipartDirectory"), office + "Clipart");
  EXPECT_EQ(expand("TpsOfficeStartupDirectory"), office + "Office\\Startup");
  EXPECT_EQ(expand("TpsOfficeToolsDirectory"), office + "Office");
  EXPECT_EQ(expand("TpsOfficeFavoritesDirectory"),
            Reg("\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                "Favorites", w::HKEY_CURRENT_USER) == "<no value>"
                ? RemoveTrailingBackslash(w::GetWindowsDirectory()) + "\\Favorites"
                : RemoveTrailingBackslash(Reg("\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\"
                                              "Explorer\\Shell Folders",
                                              "Favorites", w::HKEY_CURRENT_USER)));
  struct Case {
    int version;
    bool server;
    const char* settings;  // where that version keeps its settings
    const char* templates;
  };
  const Case cases[] = {
      {8, true, "\\Software\\Microsoft\\Office\\8.0", "D:\\Templates8"},
      {9, true, "\\Software\\Policies\\Microsoft\\Office\\9.0", "D:\\Templates9"},
      {9, false, "\\Software\\Policies\\Microsoft\\Office\\9.0", nullptr},
      {20, true, "\\Software\\Policies\\Microsoft\\Office\\20.0", nullptr},
  };
  for (const Case& c : cases) {
    const std::string doc = "Word.Document." + std::to_string(c.version);
    WriteRegString(hkClassesRoot, "\\Word.Document\\CurVer", "", doc);
    WriteFile("C:\\winword.exe", "x");
    WriteRegString(hkClassesRoot, "\\" + doc + "\\protocol\\StdFileEditing\\server", "",
                   c.server ? "C:\\winword.exe" : "C:\\missing.exe");
    WriteRegString(hkCurrentUser, std::string(c.settings) + "\\Common\\FileNew\\LocalTemplates",
                   "", std::string("D:\\Templates") + std::to_string(c.version) + "\\");
    WriteRegString(hkCurrentUser, std::string(c.settings) + "\\Word\\Options", "TOOLS-PATH",
                   "D:\\Tools");
    const std::string templates = c.templates != nullptr ? c.templates : office + "Templates";
    EXPECT_EQ(expand("TpsOfficeUserTemplates"), templates) << c.version << c.server;
    EXPECT_EQ(expand("TpsOfficeWorkgroupTemplates"), templates) << c.version;
    EXPECT_EQ(expand("TpsOfficeToolsDirectory"), c.templates != nullptr ? "D:\\Tools" : office + "Office")
        << c.version;
  }
}

TEST_F(InstallTest, AContinuationRefusesAnEntryWhoseKindIsNoNumber) {
  const std::string record = kit_->Install->FindSetupRecord(true);
  WriteRegString(hkLocalMachine, record + "\\Unfinished", "fileReadme", "soon");
  Load({"-r", "-sC:\\dist"});
  EXPECT_EQ(Steps(ui_.Transcript),
            (std::vector<std::string>{"pages bad install",
                                      "exception IEInstall: There is an invalid entry for the "
                                      "unfinished install list fileReadme;soon",
                                      "terminate"}));
  // Without a record there is no business to finish.
  kit_->Install->RemoveSetupRecord();
  ui_.Transcript.clear();
  Load({"-r", "-sC:\\dist"});
  EXPECT_EQ(Steps(ui_.Transcript)[1],
            "exception IEInstall: The TInstall could not either write or read unfinished "
            "business from the registry");
}

// The kit as a separate setup program, a file of it held in use, and the
// restart played by the restart tool.
class InUseTest : public InstallTest {
 protected:
  static int Start(const std::string& program, const std::string& arguments) {
    return installtest::StartProgram(program, arguments);
  }

  void RunWithTheEngineInUse(const std::function<void()>& checkBeforeRestart) {
    w::ForceDirectories(kKitDir + "\\Bin");
    WriteFile(kKitDir + "\\Bin\\engine.dll", "old engine");
    {
      wintest::THeldFile held;
      ASSERT_NO_FATAL_FAILURE(held.Hold(kKitDir + "\\Bin\\engine.dll", plat::TFileShare::fsDenyNone));
      ASSERT_EQ(Start(ZEL_INSTALL_PROGRAM, "\"-sC:\\dist\""), 0) << ReadFile("C:\\transcript.txt");
      EXPECT_EQ(ReadFile(kKitDir + "\\Bin\\engine.dll"), "old engine");
      EXPECT_EQ(ReadFile(kKitDir + "\\Bin\\engine.dll.1"), "the engine, new\n");
      EXPECT_TRUE(w::RestartRequested());
      const std::string record = "\\SOFTWARE\\Nubra\\Install\\Install0";
      EXPECT_EQ(Reg(record + "\\Unfinished", "fileEngine"), "0");
      checkBeforeRestart();
      EXPECT_EQ(held.Release(), 0);
    }
    // The first run asked for the restart and ended without the good-install
    // pages.
    EXPECT_EQ(ReadFile("C:\\transcript.txt").find("pages good install"), std::string::npos);
    EXPECT_NE(ReadFile("C:\\transcript.txt").find("pages reboot\nterminate\n"), std::string::npos);

    ASSERT_EQ(Start(ZEL_WINRESTART, Root()), 0);
    EXPECT_EQ(ReadFile(kKitDir + "\\Bin\\engine.dll"), "the engine, new\n");
    EXPECT_FALSE(w::FileExists(kKitDir + "\\Bin\\engine.dll.1"));
    // The continuation finished the file and removed the record.
    EXPECT_NE(w::GetFileAttributes(kKitDir + "\\Bin\\engine.dll") & w::FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_FALSE(KeyExists("\\SOFTWARE\\Nubra"));
    EXPECT_NE(ReadFile("C:\\transcript.txt").find("pages reboot\nterminate\npages good install\n"),
              std::string::npos)
        << ReadFile("C:\\transcript.txt");
    EXPECT_FALSE(w::RestartRequested());
    // The uninstall list names the file itself, not its stand-in.
    EXPECT_EQ(Reg(kProductKey + "\\Files", "File1"), kKitDir + "\\Bin\\engine.dll");
  }
};

// A loading program copied the setup program into a temporary folder and
// asked for the clean-up: the copy and its folder go once the program ends.
TEST_F(InUseTest, TheCleanUpRemovesTheLoadingProgramsTemporaryCopy) {
  const std::string copy = "C:\\WINDOWS\\TEMP\\ld0001";
  w::ForceDirectories(copy);
  ASSERT_TRUE(w::CopyFile(w::WinPathFromHost(ZEL_INSTALL_PROGRAM), copy + "\\setup.exe", false));
  std::filesystem::permissions(w::HostPath(copy + "\\setup.exe"),
                               std::filesystem::perms::owner_all);
  WriteFile(copy + "\\setup.dat", "x");
  ASSERT_EQ(Start(w::HostPath(copy + "\\setup.exe"), "\"-sC:\\dist\" -c"), 0)
      << ReadFile("C:\\transcript.txt");
  EXPECT_EQ(ReadFile(kKitDir + "\\readme.txt"), "read me first\n");
  // The batch runs on after the program; give it a moment.
  for (int i = 0; i < 500 && w::DirectoryExists(copy); ++i) plat::Sleep(10);
  EXPECT_FALSE(w::DirectoryExists(copy));
  std::vector<std::string> left;
  for (const w::TWinFindData& f : w::FindFiles("C:\\WINDOWS\\TEMP\\*.*")) left.push_back(f.Name);
  for (int i = 0; i < 500 && !left.empty(); ++i) {
    plat::Sleep(10);
    left.clear();
    for (const w::TWinFindData& f : w::FindFiles("C:\\WINDOWS\\TEMP\\*.*")) left.push_back(f.Name);
  }
  EXPECT_TRUE(left.empty()) << left.front();
}

TEST_F(InUseTest, OnTheNTLineThroughAPendingRename) {
  RunWithTheEngineInUse([] {
    const std::vector<w::TPendingRename> pending = w::PendingRenames();
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(pending[0].Source, kKitDir + "\\Bin\\engine.dll.1");
    EXPECT_EQ(pending[0].Target, kKitDir + "\\Bin\\engine.dll");
    EXPECT_TRUE(pending[0].ReplaceExisting);
    const std::string command =
        Reg(std::string("\\") + w::kRunOnceKey, kUnfinishedRunOnce, w::HKEY_CURRENT_USER);
    EXPECT_EQ(command, "\"" + w::WinPathFromHost(ZEL_INSTALL_PROGRAM) + "\" -r \"-s" +
                           w::ExtractWinFileDir(w::WinPathFromHost(ZEL_INSTALL_PROGRAM)) + "\"");
  });
  EXPECT_TRUE(w::PendingRenames().empty());
}

TEST_F(InUseTest, OnWindows98ThroughWininit) {
  w::SetWindowsVersion(w::VER_PLATFORM_WIN32_WINDOWS, 4, 10, 1998, "");
  RunWithTheEngineInUse([] {
    EXPECT_TRUE(w::PendingRenames().empty());
    w::TIniFile ini(w::GetWindowsDirectory() + "\\WININIT.INI");
    EXPECT_EQ(ini.ReadString("Rename", kKitDir + "\\Bin\\engine.dll", ""),
              kKitDir + "\\Bin\\engine.dll.1");
    // The older line keeps RunOnce for the machine.
    EXPECT_NE(Reg(std::string("\\") + w::kRunOnceKey, kUnfinishedRunOnce), "<no key>");
  });
  EXPECT_FALSE(w::FileExists(w::GetWindowsDirectory() + "\\WININIT.INI"));
}

}  // namespace
}  // namespace setup
