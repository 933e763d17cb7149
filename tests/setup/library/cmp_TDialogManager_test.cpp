#include "setup/library/cmp_TDialogManager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "TestInstall.h"
#include "platform/forms/FormsDriver.h"
#include "platform/win/WinFiles.h"
#include "platform/win/WinSystem.h"
#include "platform/win/WinTestRoot.h"
#include "setup/library/cmp_TNetInstallLocation.h"
#include "setup/library/cmp_TStandardDlgs.h"

namespace setup {
namespace {

namespace w = plat::win;
using installtest::TRecordingUI;
using installtest::TTestKit;

const std::string kKitDir = "C:\\Program Files\\Ostra Kit";

// A page of the program's own, registered without a component.
class TTestPage : public TWizardPageForm {
 public:
  TTestPage(plat::TComponent* owner, const std::string& caption, int32_t order, bool skip,
            bool finish)
      : TWizardPageForm(owner, TManagerType::dmBeforeInstall, caption, caption, "Next >", finish),
        skip_(skip) {
    SetName("Page" + std::to_string(order));
    SetOrder(order);
  }
  bool SkipPage() override { return skip_; }
  void LeavePage() override { Left.push_back(Caption()); }
  static inline std::vector<std::string> Left;

 private:
  bool skip_;
};

// Runs a script and notes, at each step taken on a wizard, the page shown
// and which of its buttons are visible: "<caption> [P][N][F]".
class TWizardDriver : public plat::TScriptedDriver {
 public:
  using plat::TScriptedDriver::TScriptedDriver;
  void Step(plat::TCustomForm& Form) override {
    if (OnStep) OnStep(Form);
    auto* page = dynamic_cast<TWizardPageForm*>(&Form);
    if (auto* frame = dynamic_cast<TBaseFormContainer*>(&Form)) {
      page = dynamic_cast<TWizardPageForm*>(frame->Pages(frame->CurrentPage()));
    }
    if (page != nullptr) {
      std::string state = Form.Caption() + " ";
      if (page->PreviousButton->Visible()) state += "P";
      if (page->NextButton->Visible()) state += "N";
      if (page->FinishButton != nullptr && page->FinishButton->Visible()) state += "F";
      if (auto* reboot = dynamic_cast<TRebootForm*>(page)) {
        state += " choice " + std::to_string(reboot->RebootGroup->ItemIndex());
      }
      if (auto* licence = dynamic_cast<TLicenseForm*>(page)) {
        state += " " + licence->AgreementMemo->Lines().Text();
      }
      Pages.push_back(state);
    }
    plat::TScriptedDriver::Step(Form);
  }
  // Presses the copy page's Cancel once its file bar has moved CancelAfter
  // times (0: never).
  void Progress(const plat::TProgressBar& Bar) override {
    plat::TScriptedDriver::Progress(Bar);
    if (CancelAfter == 0 || Bar.Name() != "FileProgress" || ++moves_ != CancelAfter) return;
    for (TBaseQuillaneForm* form : QuillaneForms()) {
      if (auto* copy = dynamic_cast<TCopyFileForm*>(form)) {
        Record("> cancel while copying at " + std::to_string(Bar.Percent()) + "%");
        copy->CancelButton->Click();
      }
    }
  }
  std::vector<std::string> Pages;
  int32_t CancelAfter = 0;
  std::function<void(plat::TCustomForm&)> OnStep;

 private:
  int32_t moves_ = 0;
};

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class DialogTest : public wintest::WinRootTest {
 protected:
  void SetUp() override {
    WinRootTest::SetUp();
    kit_ = std::make_unique<TTestKit>();
    kit_->BuildArchive("C:\\dist");
    kit_->Install->SetUI(&ui_);
    kit_->Install->OnUserAbort = [](TCustomInstall*, bool& value) {
      value = plat::MessageDlg("Do you want to abort the installation?", plat::mtConfirmation,
                               plat::TMsgDlgButtons{plat::mbYes, plat::mbNo}) == plat::mrYes;
    };
    w::ClearRestartRequest();
    SetDownloadAbort(false);
  }
  void TearDown() override {
    PageRegistry().RemoveClass("TTestPage");
    kit_.reset();
    plat::FreeApplication();
    SetDownloadAbort(false);
    WinRootTest::TearDown();
  }

  TWizardDriver& Script(const std::string& text) {
    auto driver = std::make_unique<TWizardDriver>(text);
    TWizardDriver& ref = *driver;
    plat::Application()->SetDriver(std::move(driver));
    return ref;
  }
  TDialogManager* Manager(TManagerType type) {
    auto* manager = new TDialogManager(kit_->Form.get());
    manager->SetName("dm" + std::to_string(static_cast<int>(type)));
    manager->SetManagerType(type);
    manager->SetContainer(kit_->Install);
    return manager;
  }
  template <class D>
  D* Dialog(const char* name) {
    auto* dialog = new D(kit_->Form.get());
    dialog->SetName(name);
    dialog->SetContainer(kit_->Install);
    return dialog;
  }
  void AddTestPage(const std::string& caption, int32_t order, bool skip = false,
                   bool finish = false) {
    PageRegistry().Add(
        "TTestPage",
        [=](plat::TComponent* owner) -> TBaseInstallForm* {
          return new TTestPage(owner, caption, order, skip, finish);
        },
        nullptr);
  }
  void Run() {
    kit_->Install->SetCommandLine({"-sC:\\dist"});
    kit_->Install->Loaded();
    kit_->Install->FirstActivation();
  }
  bool NoException() const {
    return std::none_of(ui_.Transcript.begin(), ui_.Transcript.end(),
                        [](const std::string& l) { return l.rfind("exception", 0) == 0; });
  }

  std::unique_ptr<TTestKit> kit_;
  TRecordingUI ui_;
};

TEST_F(DialogTest, PagesComeInOrderSkippedOnesArePassedOverAndTheLastNextFinishes) {
  TDialogManager* before = Manager(TManagerType::dmBeforeInstall);
  Dialog<TLicenseDlg>("dlgLicense")->LicenseAgreement().Add("You may use it.");
  AddTestPage("Options", 30, false, true);
  AddTestPage("Skipped", 10, true);
  AddTestPage("Welcome", 5);
  TWizardDriver& driver = Script(
      "click Next >\n"
      "click Accept >\n"
      "click < Previous\n"
      "expect caption 'Software license agreement'\n"
      "click Accept >\n"
      "click Finish\n");
  before->RunDialogs();
  const std::vector<std::string> expected = {
      "Welcome N", "Software license agreement PN You may use it.\n", "Options PF",
      "Software license agreement PN You may use it.\n",
      "Software license agreement PN You may use it.\n", "Options PF"};
  EXPECT_EQ(driver.Pages, expected);
  EXPECT_EQ(driver.Transcript().front(), "page DialogContainer 'Welcome'");
  EXPECT_EQ(driver.Transcript().back(), "close DialogContainer mrOk");
  EXPECT_EQ(driver.Remaining(), 0);
  EXPECT_EQ(before->FormContainer(), nullptr);
}

TEST_F(DialogTest, ChoosingATabLeavesThePageAndShowsTheChosenOne) {
  TDialogManager* before = Manager(TManagerType::dmBeforeInstall);
  AddTestPage("One", 1);
  AddTestPage("Two", 2);
  AddTestPage("Three", 3, false, true);
  TTestPage::Left.clear();
  TWizardDriver& driver = Script(
      "expect caption 'Three'\n"
      "click < Previous\n"
      "click Next >\n"
      "click Finish\n");
  bool chosen = false;
  driver.OnStep = [&](plat::TCustomForm& form) {
    if (chosen) return;
    chosen = true;
    static_cast<TBaseFormContainer&>(form).Tabs()->SetTabIndex(2);
  };
  before->RunDialogs();
  EXPECT_EQ(TTestPage::Left, std::vector<std::string>{"One"});
  EXPECT_EQ(driver.Pages, (std::vector<std::string>{"Three PF", "Three PF", "Two PN", "Three PF"}));
  EXPECT_EQ(driver.Remaining(), 0);
}

TEST_F(DialogTest, TheAutomaticDriverGoesForwardToTheEnd) {
  TDialogManager* before = Manager(TManagerType::dmBeforeInstall);
  Dialog<TLicenseDlg>("dlgLicense");
  AddTestPage("Options", 30, false, true);
  plat::Application()->SetDriver(std::make_unique<plat::TAutomaticDriver>());
  before->RunDialogs();
  EXPECT_EQ(plat::Application()->Driver().Transcript().back(), "close DialogContainer mrOk");
}

TEST_F(DialogTest, AStageWithoutPagesShowsNothingAndTheFrameIsPlacedAsAsked) {
  TDialogManager* good = Manager(TManagerType::dmAfterGoodInstall);
  TWizardDriver& driver = Script("");
  good->RunDialogs();
  EXPECT_TRUE(driver.Transcript().empty());

  // Frame of 400 x 300 on a 1024 x 768 screen with a caption of 19.
  struct TCase {
    TQuillaneDialogPosition p;
    int32_t left, top;
  };
  const TCase cases[] = {{qdpCenterLeft, 5, 244},   {qdpCenter, 317, 244},
                         {qdpCenterRight, 619, 244}, {qdpBottomLeft, 5, 439},
                         {qdpBottomCenter, 317, 439}, {qdpBottomRight, 619, 439},
                         {qdpTopLeft, 5, 10},        {qdpTopCenter, 317, 10},
                         {qdpTopRight, 619, 10}};
  TBaseFormContainer frame(nullptr);
  frame.SetBounds(0, 0, 400, 300);
  for (const TCase& c : cases) {
    frame.SetDialogPosition(c.p, 5, 10);
    EXPECT_EQ(frame.Left(), c.left) << static_cast<int>(c.p);
    EXPECT_EQ(frame.Top(), c.top) << static_cast<int>(c.p);
  }
}

TEST_F(DialogTest, CancelAsksRefusingStaysConfirmingEndsOnTheBadInstallPage) {
  Manager(TManagerType::dmBeforeInstall);
  Manager(TManagerType::dmAfterBadInstall);
  Dialog<TLicenseDlg>("dlgLicense");
  Dialog<TBadInstallationDlg>("dlgBad");
  TWizardDriver& driver = Script(
      "click Cancel\n"
      "answer No\n"
      "expect caption 'Software license agreement'\n"
      "click Cancel\n"
      "answer Yes\n"
      "expect caption 'Setup incomplete'\n"
      "click Finish\n");
  Run();
  EXPECT_EQ(driver.Remaining(), 0);
  EXPECT_EQ(driver.Pages,
            (std::vector<std::string>{"Software license agreement N ", "Software license agreement N ",
                                      "Software license agreement N ", "Setup incomplete F",
                                      "Setup incomplete F"}));
  const std::vector<std::string>& t = driver.Transcript();
  EXPECT_TRUE(Contains(t, "close DialogContainer mrAbort"));
  EXPECT_TRUE(Contains(t, "page DialogContainer 'Setup incomplete'"));
  EXPECT_TRUE(kit_->Install->Aborted());
  EXPECT_TRUE(NoException());
  EXPECT_FALSE(w::DirectoryExists(kKitDir));
}

TEST_F(DialogTest, WithoutAManagerTheBadInstallPageShowsAloneOnItsMessage) {
  Manager(TManagerType::dmBeforeInstall);
  Dialog<TLicenseDlg>("dlgLicense");
  auto* bad = Dialog<TBadInstallationDlg>("dlgBad");
  ASSERT_EQ(bad->DialogManager(), nullptr);
  TWizardDriver& driver = Script(
      "click Cancel\n"
      "answer Yes\n"
      "click Finish\n");
  Run();
  EXPECT_EQ(driver.Remaining(), 0);
  EXPECT_EQ(driver.Pages.back(), "Setup incomplete F");
  EXPECT_TRUE(Contains(driver.Transcript(), "page BadInstallForm 'Setup incomplete'"));
  EXPECT_EQ(driver.Transcript().back(), "close BadInstallForm mrOk");
  EXPECT_TRUE(NoException());
}

// Writes engine.dll large enough to extract in several pieces and builds
// the archive again.
void MakeEngineLarge(TTestKit& kit) {
  std::mt19937 random(7);
  std::string data(600 * 1024, '\0');
  for (char& c : data) c = static_cast<char>(random());
  {
    std::ofstream out(w::HostPath("C:\\src\\engine.dll"), std::ios::binary);
    out << data;
  }
  TTrevCompress archive(nullptr);
  archive.SetCompressedFile("C:\\dist\\files.1");
  bool append = false;
  for (TCustomInstallFile* f : kit.Files()) {
    archive.FilesToProcess().Add("C:\\src\\" + f->FileName());
    archive.Compress(append, f->UniqueID());
    append = true;
  }
}

TEST_F(DialogTest, TheCopyPageShowsProgressAndClosesAfterTheFiles) {
  Manager(TManagerType::dmDuringCopyFiles);
  Dialog<TCopyFileDlg>("dlgCopy");
  TWizardDriver& driver = Script("");
  Run();
  EXPECT_FALSE(kit_->Install->Aborted());
  const std::vector<std::string>& t = driver.Transcript();
  EXPECT_TRUE(Contains(t, "page CopyFileForm 'Copying installation files'"));
  EXPECT_TRUE(Contains(t, "progress FileProgress 100%"));
  EXPECT_TRUE(Contains(t, "progress TotalProgress 100%"));
  EXPECT_TRUE(Contains(t, "close CopyFileForm mrNone"));
  EXPECT_TRUE(std::none_of(QuillaneForms().begin(), QuillaneForms().end(), [](auto* f) {
    return dynamic_cast<TCopyFileForm*>(f) != nullptr;
  }));
  EXPECT_TRUE(w::FileExists(kKitDir + "\\Bin\\engine.dll"));
}

TEST_F(DialogTest, WithoutACopyComponentNoCopyPageAppears) {
  Manager(TManagerType::dmDuringCopyFiles);
  TWizardDriver& driver = Script("");
  Run();
  EXPECT_FALSE(kit_->Install->Aborted());
  for (const std::string& line : driver.Transcript()) {
    EXPECT_EQ(line.find("CopyFileForm"), std::string::npos) << line;
  }
}

TEST_F(DialogTest, ACancelWhileExtractingAbortsWithNothingHalfWritten) {
  MakeEngineLarge(*kit_);
  Manager(TManagerType::dmDuringCopyFiles);
  Manager(TManagerType::dmAfterBadInstall);
  Dialog<TCopyFileDlg>("dlgCopy");
  Dialog<TBadInstallationDlg>("dlgBad");
  TWizardDriver& driver = Script(
      "answer Yes\n"
      "expect caption 'Setup incomplete'\n"
      "click Finish\n");
  driver.CancelAfter = 2;
  Run();
  EXPECT_EQ(driver.Remaining(), 0);
  EXPECT_TRUE(kit_->Install->Aborted());
  EXPECT_TRUE(NoException());
  const std::vector<std::string>& t = driver.Transcript();
  const auto cancel = std::find_if(t.begin(), t.end(), [](const std::string& l) {
    return l.rfind("> cancel while copying at ", 0) == 0;
  });
  ASSERT_NE(cancel, t.end());
  EXPECT_NE(*cancel, "> cancel while copying at 100%");
  // Nothing of the engine (nor a temporary piece of it) is left in Bin.
  EXPECT_FALSE(w::FileExists(kKitDir + "\\Bin\\engine.dll"));
  if (w::DirectoryExists(kKitDir + "\\Bin")) {
    EXPECT_TRUE(std::filesystem::is_empty(w::HostPath(kKitDir + "\\Bin")));
  }
  EXPECT_TRUE(Contains(t, "close CopyFileForm mrAbort"));
}

TEST_F(DialogTest, TheChangeDiskPageSuppliesAPath) {
  Manager(TManagerType::dmChangeDisk);
  Dialog<TChangeDiskDlg>("dlgDisk");
  w::ForceDirectories("C:\\Disk3");
  Script(
      "expect caption 'Setup needs the next disk'\n"
      "expect PromptLabel 'Please insert disk number 2'\n"
      "expect PathEdit 'A:\\'\n"
      "type PathEdit 'C:\\Disk2'\n"
      "click Proceed\n"
      // The second request: the folder dialog chooses the path.
      "click Browse...\n"
      "folder 'C:\\Disk3'\n"
      "expect PathEdit 'C:\\Disk3'\n"
      "click Proceed\n"
      // The third: cancelled.
      "click Cancel\n"
      "answer Yes\n");
  TDiskParameter disk;
  disk.Disk = 2;
  disk.Path = "A:\\";
  kit_->Install->Broadcast(msg::kNewDisk, &disk);
  EXPECT_TRUE(disk.Handled);
  EXPECT_EQ(disk.Path, "C:\\Disk2");
  disk.Disk = 3;
  kit_->Install->Broadcast(msg::kNewDisk, &disk);
  EXPECT_EQ(disk.Path, "C:\\Disk3");
  EXPECT_THROW(kit_->Install->Broadcast(msg::kNewDisk, &disk), EAIUserAbort);

  TMessageParameter wrong("x");
  EXPECT_THROW(
      {
        try {
          kit_->Install->Broadcast(msg::kNewDisk, &wrong);
        } catch (const IException& e) {
          EXPECT_EQ(e.Message(), "TChangeDiskDlg says bad second parameter");
          throw;
        }
      },
      IException);
}

TEST_F(DialogTest, TheRebootPageChoiceDrivesTheRestart) {
  struct TCase {
    const char* choice;
    bool restart;
  };
  for (const TCase& c : {TCase{nullptr, true}, TCase{"No, I would not like to reboot windows", false}}) {
    SCOPED_TRACE(c.choice == nullptr ? "Yes kept" : c.choice);
    kit_.reset();
    kit_ = std::make_unique<TTestKit>();
    kit_->Install->SetUI(&ui_);
    w::ClearRestartRequest();
    Manager(TManagerType::dmReboot);
    Dialog<TRebootDlg>("dlgReboot");
    kit_->Install->OnAfterInitialized = [](TCustomInstall* install) { install->SetReboot(true); };
    // The event sees the page's choice and leaves it as it is.
    bool chosen = !c.restart;
    kit_->Install->OnBeforeReboot = [&](TCustomInstall*, bool& reboot) { chosen = reboot; };
    std::string script = "expect caption 'Reboot windows'\n";
    if (c.choice != nullptr) script += std::string("choose RebootGroup '") + c.choice + "'\n";
    script += "click Finish\n";
    TWizardDriver& driver = Script(script);
    Run();
    EXPECT_EQ(driver.Remaining(), 0);
    // Reboot was set: the page opens on Yes.
    EXPECT_EQ(driver.Pages.front(), "Reboot windows F choice 0");
    EXPECT_EQ(chosen, c.restart);
    EXPECT_EQ(w::RestartRequested(), c.restart);
    EXPECT_TRUE(kit_->Install->Terminated());
    plat::FreeApplication();
  }
}

TEST_F(DialogTest, TheStatusStackPushesAndPops) {
  auto* status = Dialog<TInstallStatusDlg>("dlgStatus");
  TWizardDriver& driver = Script("");
  TMessageParameter reading("Reading file information...");
  TMessageParameter copying("Copying");
  kit_->Install->Broadcast(msg::kStatus, &reading);
  kit_->Install->Broadcast(msg::kStatus, &copying);
  ASSERT_NE(status->StatusForm(), nullptr);
  EXPECT_EQ(status->StatusForm()->StatusLabel->Caption(), "Copying");
  EXPECT_EQ(status->StatusForm()->Width(),
            status->StatusForm()->StatusLabel->Width() + status->StatusForm()->Picture->Width() + 25);
  kit_->Install->Broadcast(msg::kResetStatus, nullptr);
  EXPECT_EQ(status->Texts(), std::vector<std::string>{"Reading file information..."});
  EXPECT_EQ(status->StatusForm()->StatusLabel->Caption(), "Reading file information...");
  EXPECT_TRUE(status->StatusForm()->Visible());
  kit_->Install->Broadcast(msg::kResetStatus, nullptr);
  EXPECT_TRUE(status->Texts().empty());
  EXPECT_FALSE(status->StatusForm()->Visible());
  EXPECT_EQ(driver.Transcript(),
            (std::vector<std::string>{"status 'Reading file information...'", "status 'Copying'",
                                      "status 'Reading file information...'"}));

  auto error = [&](plat::TObject* param) {
    try {
      kit_->Install->Broadcast(msg::kStatus, param);
    } catch (const IException& e) {
      return e.Message();
    }
    return std::string("no error");
  };
  TDiskParameter wrong;
  EXPECT_EQ(error(nullptr), "dlgStatus got a nil PO parameter");
  EXPECT_EQ(error(&wrong), "The PO object passed to dlgStatus is not a TMessageParameter object");
}

TEST_F(DialogTest, AStandAloneLicencePageRunsByItself) {
  auto* licence = Dialog<TLicenseDlg>("dlgLicense");
  ASSERT_EQ(licence->DialogManager(), nullptr);
  licence->LicenseAgreement().Add("Terms.");
  std::vector<std::string> events;
  licence->OnBeforeExecute = [&](plat::TObject*) { events.push_back("before"); };
  licence->OnAfterExecute = [&](plat::TObject*) { events.push_back("after"); };
  TWizardDriver& driver = Script(
      "expect caption 'Software license agreement'\n"
      "click Accept >\n"
      // Shown again by its trigger message, then cancelled.
      "click Cancel\n"
      "answer Yes\n");
  EXPECT_TRUE(licence->Execute());
  EXPECT_EQ(events, (std::vector<std::string>{"before", "after"}));
  // Alone: no Previous, the agreement filled in.
  EXPECT_EQ(driver.Pages.front(), "Software license agreement N Terms.\n");
  EXPECT_EQ(driver.Transcript().front(), "page LicenseForm 'Software license agreement'");
  EXPECT_EQ(driver.Transcript()[driver.Transcript().size() - 1], "close LicenseForm mrOk");
  EXPECT_THROW(kit_->Install->Broadcast(-981, nullptr), EAIUserAbort);
  EXPECT_EQ(licence->Form(), nullptr);
  EXPECT_EQ(driver.Remaining(), 0);
}

TEST_F(DialogTest, RegistriesAndManagersRefuseBadInput) {
  TDialogManager* copy = Manager(TManagerType::dmDuringCopyFiles);
  auto error = [](const std::function<void()>& f) {
    try {
      f();
    } catch (const IException& e) {
      return e.Message();
    }
    return std::string("no error");
  };
  EXPECT_EQ(error([] { PageRegistry().Items(PageRegistry().Count()); }),
            std::to_string(PageRegistry().Count()) + " is an invalid index in the BIFList");
  EXPECT_EQ(error([&] { copy->AddDialog(nullptr); }),
            "Cannot add a NIL Dialog to the Dialog Manager dm3");
  TMessageParameter text("x");
  EXPECT_EQ(error([&] { kit_->Install->Broadcast(msg::kFileStatus, &text); }),
            "The PO object passed to dm3 is not a TFileStatusParameter object");
  EXPECT_EQ(error([&] { kit_->Install->Broadcast(msg::kDataReceived, nullptr); }),
            "dm3 got a nil PO parameter");
  // A component leaves its manager's list and the registry when freed.
  auto* dialog = Dialog<TCopyFileDlg>("dlgCopy");
  EXPECT_EQ(copy->Dialogs(), std::vector<TCustomBaseInstallDlg*>{dialog});
  const int32_t entries = CopyPageRegistry().Count();
  delete dialog;
  EXPECT_TRUE(copy->Dialogs().empty());
  EXPECT_EQ(CopyPageRegistry().Count(), entries - 1);
}

}  // namespace
}  // namespace setup
