#include "platform/forms/Forms.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/forms/Dialogs.h"
#include "platform/forms/FormsDriver.h"
#include "platform/rtl/ComponentText.h"
#include "support/TestDir.h"

namespace plat {
namespace {

// A non-visual component with a collection, as forms hold them.
class TStepItem : public TCollectionItem {
 public:
  using TCollectionItem::TCollectionItem;
  std::string ClassName() const override { return "TStepItem"; }
  const TPropList& PublishedProperties() const override {
    static const TPropList list =
        TPublished<TStepItem>().String("Title", &TStepItem::Title, &TStepItem::SetTitle);
    return list;
  }
  std::string Title() const { return title_; }
  void SetTitle(const std::string& v) { title_ = v; }

 private:
  std::string title_;
};

class TStepList : public TComponent {
 public:
  explicit TStepList(TComponent* owner) : TComponent(owner), steps_(CollectionItemClass<TStepItem>(), this) {}
  std::string ClassName() const override { return "TStepList"; }
  const TPropList& PublishedProperties() const override {
    static const TPropList list =
        TPublished<TStepList>(TComponent::PublishedProperties())
            .Collection("Steps", [](TStepList& s) -> TCollection& { return s.steps_; })
            .Component("Target", &TStepList::Target, &TStepList::SetTarget);
    return list;
  }
  TCollection& Steps() { return steps_; }
  TControl* Target() const { return target_; }
  void SetTarget(TControl* v) { target_ = v; }

 private:
  TCollection steps_;
  TControl* target_ = nullptr;
};

const char* const kAskText =
    "object AskForm: TAskForm\r\n"
    "  Caption = 'Are you sure?'\r\n"
    "  object YesButton: TButton\r\n"
    "    Caption = '&Yes'\r\n"
    "    ModalResult = mrYes\r\n"
    "    Default = True\r\n"
    "  end\r\n"
    "  object NoButton: TButton\r\n"
    "    Caption = '&No'\r\n"
    "    ModalResult = mrNo\r\n"
    "    Cancel = True\r\n"
    "  end\r\n"
    "end\r\n";

class TAskForm : public TForm {
 public:
  explicit TAskForm(TComponent* owner) : TForm(owner) { LoadFormText({kAskText}); }
  std::string ClassName() const override { return "TAskForm"; }
};

const char* const kWizardText =
    "object Wizard: TWizardForm\r\n"
    "  Caption = 'Setup'\r\n"
    "  Font.Name = 'Arial'\r\n"
    "  Font.Style = [fsBold]\r\n"
    "  Color = clWhite\r\n"
    "  ActiveControl = NameEdit\r\n"
    "  OnShow = FormShow\r\n"
    "  object Body: TPanel\r\n"
    "    Align = alClient\r\n"
    "    object NameEdit: TEdit\r\n"
    "      MaxLength = 8\r\n"
    "      TabOrder = 1\r\n"
    "    end\r\n"
    "    object Agree: TCheckBox\r\n"
    "      Caption = 'I &agree'\r\n"
    "      TabOrder = 0\r\n"
    "      OnClick = AgreeClick\r\n"
    "    end\r\n"
    "    object Notes: TMemo\r\n"
    "      Lines.Strings = (\r\n"
    "        'one'\r\n"
    "        'two')\r\n"
    "    end\r\n"
    "  end\r\n"
    "  object NextButton: TButton\r\n"
    "    Caption = '&Next >'\r\n"
    "    Default = True\r\n"
    "    Enabled = False\r\n"
    "    OnClick = NextClick\r\n"
    "  end\r\n"
    "  object CancelButton: TButton\r\n"
    "    Caption = 'Cancel'\r\n"
    "    Cancel = True\r\n"
    "    ModalResult = mrCancel\r\n"
    "  end\r\n"
    "  object Steps: TStepList\r\n"
    "    Target = NameEdit\r\n"
    "    Steps = <\r\n"
    "      item\r\n"
    "        Title = 'Welcome'\r\n"
    "      end\r\n"
    "      item\r\n"
    "        Title = 'Install'\r\n"
    "      end>\r\n"
    "  end\r\n"
    "end\r\n";

class TWizardForm : public TForm {
 public:
  explicit TWizardForm(TComponent* owner) : TForm(owner) {
    Methods().Add<void(TObject*)>("FormShow", [this](TObject*) { ++shown; });
    Methods().Add<void(TObject*)>("AgreeClick", [this](TObject*) {
      auto* agree = dynamic_cast<TCheckBox*>(FindControl("Agree"));
      FindControl("NextButton")->SetEnabled(agree->Checked());
    });
    Methods().Add<void(TObject*)>("NextClick", [this](TObject*) {
      TAskForm ask(nullptr);
      if (ask.ShowModal() != mrYes) return;
      if (MessageDlg("Install now?", mtConfirmation, mbYesNoCancel) == mrYes) SetModalResult(mrOk);
    });
    LoadFormText({kWizardText});
  }
  std::string ClassName() const override { return "TWizardForm"; }
  void Loaded() override {
    TForm::Loaded();
    ++loaded;
  }
  int loaded = 0;
  int shown = 0;
};

class FormsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterClass<TStepList>("TStepList");
  }
  void TearDown() override {
    FreeApplication();
    UnRegisterClass("TStepList");
  }
  TScriptedDriver& Script(const std::string& text) {
    auto driver = std::make_unique<TScriptedDriver>(text);
    TScriptedDriver& ref = *driver;
    Application()->SetDriver(std::move(driver));
    return ref;
  }
};

TEST_F(FormsTest, AFormLoadsFromItsTextAndRunsModallyUnderAScript) {
  TScriptedDriver& driver = Script(
      "expect caption 'Setup'\n"
      "# the check box enables Next\n"
      "expect disabled Next >\n"
      "type NameEdit 'Alexander the Great'\n"
      "check 'I agree'\n"
      "click Next >\n"
      "expect caption 'Are you sure?'\n"
      "click No\n"
      "click Next >\n"
      "click Yes\n"
      "answer Yes\n");
  TWizardForm wizard(nullptr);
  // References, collections, sub-objects, string lists and events.
  EXPECT_EQ(wizard.loaded, 1);
  EXPECT_EQ(wizard.Font().Name(), "Arial");
  EXPECT_TRUE(wizard.Font().Style().Contains(fsBold));
  EXPECT_EQ(wizard.FindControl("Agree")->Font().Name(), "Arial");  // from its parent
  EXPECT_EQ(wizard.Color(), clWhite);
  auto* edit = dynamic_cast<TEdit*>(wizard.FindControl("NameEdit"));
  EXPECT_EQ(wizard.ActiveControl(), edit);
  auto* steps = dynamic_cast<TStepList*>(wizard.FindComponent("Steps"));
  ASSERT_NE(steps, nullptr);
  EXPECT_EQ(steps->Target(), edit);
  ASSERT_EQ(steps->Steps().Count(), 2);
  EXPECT_EQ(dynamic_cast<TStepItem*>(steps->Steps().Items(1))->Title(), "Install");
  EXPECT_EQ(dynamic_cast<TMemo*>(wizard.FindControl("Notes"))->Text(), "one\ntwo\n");
  EXPECT_EQ(wizard.FindControl("Body")->Parent(), &wizard);
  EXPECT_EQ(edit->Parent(), wizard.FindControl("Body"));

  EXPECT_EQ(wizard.ShowModal(), mrOk);
  EXPECT_EQ(wizard.shown, 1);
  EXPECT_EQ(edit->Text(), "Alexande");  // MaxLength
  EXPECT_EQ(driver.Remaining(), 0);
  const std::vector<std::string> expected = {
      "page Wizard 'Setup'",
      "> expect caption 'Setup'",
      "> expect disabled Next >",
      "> type NameEdit 'Alexander the Great'",
      "> check 'I agree'",
      "> click Next >",
      "page AskForm 'Are you sure?'",
      "> expect caption 'Are you sure?'",
      "> click No",
      "close AskForm mrNo",
      "> click Next >",
      "page AskForm 'Are you sure?'",
      "> click Yes",
      "close AskForm mrYes",
      "message confirmation 'Install now?' -> Yes",
      "close Wizard mrOk",
  };
  EXPECT_EQ(driver.Transcript(), expected);
}

TEST_F(FormsTest, ScriptStepsThatDoNotFitNameTheirLine) {
  struct Case {
    std::string script;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"click Next >\n", "Script line 1 (click Next >): control NextButton is disabled"},
      {"expect caption 'Other'\n", "Script line 1 (expect caption 'Other'): caption is 'Setup' on form Wizard"},
      {"click Finish\n", "Script line 1 (click Finish): no control Finish on form Wizard"},
      {"\n\nanswer Yes\n", "Script line 3 (answer Yes): no message box is shown; form Wizard is"},
      {"type Agree 'x'\n", "Script line 1 (type Agree 'x'): Agree takes no typing"},
      {"", "Script ended while form Wizard 'Setup' waits"},
      {"check Agree\nclick Next >\nclick Yes\nclick Cancel\n",
       "Script line 4 (click Cancel): a message box is shown: 'Install now?'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    Script(c.script);
    TWizardForm wizard(nullptr);
    try {
      wizard.ShowModal();
      ADD_FAILURE() << "no error";
    } catch (const EScriptError& e) {
      EXPECT_EQ(e.Message(), c.message);
    }
    EXPECT_FALSE(wizard.Modal());
    EXPECT_TRUE(Application()->ModalForms().empty());
    FreeApplication();
  }
  EXPECT_THROW(TScriptedDriver("jump Next\n"), EScriptError);
  EXPECT_THROW(TScriptedDriver("after status x: click Cancel\n"), EScriptError);
  EXPECT_THROW(TScriptedDriver("type Edit 'open\n"), EScriptError);
}

// A form whose Start button runs long work that reports status texts and
// progress and checks for a cancel between steps.
class TWorkForm : public TForm {
 public:
  explicit TWorkForm(TComponent* owner) : TForm(owner) {
    SetName("Work");
    SetCaption("Installing");
    bar = new TProgressBar(this);
    bar->SetName("Bar");
    bar->SetMax(4);
    start = new TButton(this);
    start->SetName("Start");
    start->SetCaption("Start");
    start->SetDefault(true);
    start->OnClick = [this](TObject*) {
      for (int i = 1; i <= 4 && !cancelled; ++i) {
        Application()->Driver().Status("Copying file " + std::to_string(i));
        bar->SetPosition(i);
        Application()->ProcessMessages();
      }
      SetModalResult(cancelled ? mrAbort : mrOk);
    };
    auto* cancel = new TButton(this);
    cancel->SetName("Cancel");
    cancel->SetCaption("Cancel");
    cancel->SetCancel(true);
    cancel->OnClick = [this](TObject*) { cancelled = true; };
  }
  TProgressBar* bar;
  TButton* start;
  bool cancelled = false;
};

TEST_F(FormsTest, AStepCanFireInsideProcessMessagesAfterStatusTexts) {
  TScriptedDriver& driver = Script("after status 2: click Cancel\nclick Start\n");
  TWorkForm work(nullptr);
  EXPECT_EQ(work.ShowModal(), mrAbort);
  const std::vector<std::string> expected = {
      "page Work 'Installing'",  "> click Start",         "status 'Copying file 1'",
      "progress Bar 25%",        "status 'Copying file 2'", "progress Bar 50%",
      "> after status 2: click Cancel", "close Work mrAbort",
  };
  EXPECT_EQ(driver.Transcript(), expected);
}

TEST_F(FormsTest, TheAutomaticDriverPressesForwardAndTakesDefaults) {
  auto driver = std::make_unique<TAutomaticDriver>();
  TAutomaticDriver& automatic = *driver;
  Application()->SetDriver(std::move(driver));
  TWorkForm work(nullptr);
  EXPECT_EQ(work.ShowModal(), mrOk);
  EXPECT_EQ(MessageDlg("Overwrite?", mtWarning, mbYesNoCancel), mrYes);
  EXPECT_EQ(MessageDlg("Failed", mtError, mbAbortRetryIgnore), mrAbort);
  std::string value = "C:\\Kit";
  EXPECT_TRUE(InputQuery("New folder", "Name", value));
  EXPECT_EQ(automatic.Transcript().back(), "input 'Name' -> 'C:\\Kit'");
  EXPECT_EQ(automatic.Transcript()[automatic.Transcript().size() - 3],
            "message warning 'Overwrite?' -> Yes");
  EXPECT_EQ(automatic.Transcript()[automatic.Transcript().size() - 4], "close Work mrOk");

  // Without a forward button it says so rather than loop.
  work.start->SetEnabled(false);
  EXPECT_THROW(work.ShowModal(), EDriverError);
  EXPECT_TRUE(Application()->ModalForms().empty());
}

TEST_F(FormsTest, FocusTabOrderAndControlRules) {
  Script("");
  TWizardForm wizard(nullptr);
  auto* edit = dynamic_cast<TEdit*>(wizard.FindControl("NameEdit"));
  auto* agree = dynamic_cast<TWinControl*>(wizard.FindControl("Agree"));
  auto* next = dynamic_cast<TWinControl*>(wizard.FindControl("NextButton"));
  // TabOrder 0 and 1 swapped the two; the memo follows; Next is disabled.
  std::vector<TWinControl*> tabs = wizard.TabList();
  ASSERT_EQ(tabs.size(), 4u);
  EXPECT_EQ(tabs[0], agree);
  EXPECT_EQ(tabs[1], edit);
  EXPECT_EQ(tabs[2]->Name(), "Notes");
  EXPECT_EQ(tabs[3]->Name(), "CancelButton");
  wizard.SetVisible(true);
  EXPECT_THROW(wizard.SetActiveControl(next), EInvalidOperation);
  wizard.SetActiveControl(edit);
  wizard.SelectNext(true);
  EXPECT_EQ(wizard.ActiveControl()->Name(), "Notes");
  wizard.SelectNext(true);
  wizard.SelectNext(true);
  EXPECT_EQ(wizard.ActiveControl(), agree);
  wizard.SelectNext(false);
  EXPECT_EQ(wizard.ActiveControl()->Name(), "CancelButton");

  edit->SetPasswordChar('*');
  edit->SetText("h\xC3\xA9llo");
  EXPECT_EQ(edit->DisplayText(), "*****");
  edit->SetMaxLength(2);
  edit->SetText("h\xC3\xA9llo");
  EXPECT_EQ(edit->Text(), "h");  // never half a character

  // Auto-sized labels follow their caption and font.
  auto* label = new TLabel(&wizard);
  label->SetCaption("abc");
  EXPECT_EQ(label->Width(), 3 * MeasureTextWidth("a", label->Font().Size()));
  label->Font().SetSize(12);
  EXPECT_EQ(label->Height(), MeasureTextHeight(12));

  // Radio buttons beside each other exclude each other.
  auto* one = new TRadioButton(&wizard);
  auto* two = new TRadioButton(&wizard);
  one->Click();
  two->Click();
  EXPECT_FALSE(one->Checked());
  EXPECT_TRUE(two->Checked());

  auto* combo = new TComboBox(&wizard);
  combo->Items().Add("Delphi 5");
  combo->Items().Add("C++Builder 5");
  combo->SetItemIndex(1);
  EXPECT_EQ(combo->Text(), "C++Builder 5");
  combo->SetItemIndex(7);
  EXPECT_EQ(combo->ItemIndex(), -1);
}

TEST_F(FormsTest, TheApplicationRunsItsMainFormAndReportsExceptions) {
  TScriptedDriver& driver = Script("click Boom\nclick Quit\n");
  TApplication& application = *Application();
  TForm* main = application.CreateForm<TForm>();
  main->SetName("Main");
  auto* boom = new TButton(main);
  boom->SetName("Boom");
  boom->OnClick = [](TObject*) { throw EConvertError("Bad value"); };
  auto* quit = new TButton(main);
  quit->SetName("Quit");
  quit->OnClick = [main](TObject*) { main->Close(); };
  EXPECT_EQ(application.MainForm(), main);
  testing::internal::CaptureStderr();
  application.Run();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Bad value\n");
  EXPECT_TRUE(application.Terminated());
  EXPECT_EQ(driver.Transcript().back(), "close Main mrNone");

  testing::internal::CaptureStderr();
  application.HandleException(EAbort("quiet"));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(FormsTest, ADriverThatCannotGoOnEndsTheMainLoop) {
  Application()->SetDriver(std::make_unique<TAutomaticDriver>());
  TForm* main = Application()->CreateForm<TForm>();
  main->SetName("Main");
  new TLabel(main);  // nothing to press
  EXPECT_THROW(Application()->Run(), EDriverError);
}

TEST_F(FormsTest, OnCloseQueryCanKeepAFormOpen) {
  TScriptedDriver& driver = Script("click Cancel\nclick Cancel\n");
  TAskForm ask(nullptr);
  int asked = 0;
  ask.OnCloseQuery = [&](TObject*, bool& canClose) { canClose = ++asked > 1; };
  auto* cancel = dynamic_cast<TButton*>(ask.FindControl("NoButton"));
  cancel->SetCaption("Cancel");
  EXPECT_EQ(ask.ShowModal(), mrNo);
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(driver.Remaining(), 0);
}

TEST_F(FormsTest, PagesPicturesAndListsFromFormText) {
  TScriptedDriver& driver = Script(
      "expect caption 'Options'\n"
      "choose Pages 'Second'\n"
      "choose Versions 'C++Builder 5'\n"
      "click OK\n");
  TForm form(nullptr);
  RegisterStandardControls();
  ReadComponentText(
      "object Options: TForm\r\n"
      "  Caption = 'Options'\r\n"
      "  object Pages: TPageControl\r\n"
      "    ActivePage = First\r\n"
      "    object First: TTabSheet\r\n"
      "      Caption = 'First'\r\n"
      "      object Logo: TImage\r\n"
      "        Picture.Data = {0102}\r\n"
      "      end\r\n"
      "    end\r\n"
      "    object Second: TTabSheet\r\n"
      "      Caption = 'Second'\r\n"
      "      object Versions: TRadioGroup\r\n"
      "        Items.Strings = (\r\n"
      "          'Delphi 5'\r\n"
      "          'C++Builder 5')\r\n"
      "        ItemIndex = 0\r\n"
      "      end\r\n"
      "    end\r\n"
      "  end\r\n"
      "  object OK: TButton\r\n"
      "    ModalResult = mrOk\r\n"
      "  end\r\n"
      "end\r\n",
      form);
  auto* pages = dynamic_cast<TPageControl*>(form.FindControl("Pages"));
  ASSERT_EQ(pages->PageCount(), 2);
  EXPECT_EQ(pages->ActivePage()->Name(), "First");
  EXPECT_FALSE(pages->Pages(1)->Visible());
  EXPECT_EQ(dynamic_cast<TImage*>(form.FindControl("Logo"))->Picture().Data(), "\x01\x02");
  auto* versions = dynamic_cast<TRadioGroup*>(form.FindControl("Versions"));
  EXPECT_EQ(versions->ItemIndex(), 0);
  EXPECT_EQ(form.ShowModal(), mrOk);
  EXPECT_EQ(pages->ActivePageIndex(), 1);
  EXPECT_TRUE(pages->Pages(1)->Visible());
  EXPECT_FALSE(pages->Pages(0)->Visible());
  EXPECT_EQ(versions->ItemIndex(), 1);
  EXPECT_EQ(driver.Remaining(), 0);
  // A choice on a hidden page is refused as a person could not make it.
  Script("choose Pages 'First'\nchoose Versions 'Delphi 5'\n");
  EXPECT_THROW(form.ShowModal(), EScriptError);
}

TEST(FormsDriverTest, TheEnvironmentChoosesTheDriver) {
  struct Case {
    const char* value;
    std::string name;
  };
  for (const Case& c : std::vector<Case>{{"auto", "auto"}, {"terminal", "terminal"}}) {
    setenv("ZEL_UI", c.value, 1);
    EXPECT_EQ(CreateDriverFromEnvironment()->Name(), c.name);
  }
  setenv("ZEL_UI", "script:/nonexistent/script.txt", 1);
  EXPECT_THROW(CreateDriverFromEnvironment(), EFOpenError);
  setenv("ZEL_UI", "mouse", 1);
  EXPECT_THROW(CreateDriverFromEnvironment(), EInvalidOperation);
  unsetenv("ZEL_UI");
  EXPECT_EQ(QuoteText("it's\r\n"), "'it''s'#13#10");
}

TEST(FormsDriverTest, AScriptFileRunsAndItsTranscriptIsWritten) {
  testsupport::TempDir dir;
  {
    std::ofstream script(dir.File("steps.txt"));
    script << "# answer the question\nanswer No\n";
  }
  setenv("ZEL_UI", ("script:" + dir.File("steps.txt")).c_str(), 1);
  setenv("ZEL_UI_TRANSCRIPT", dir.File("transcript.txt").c_str(), 1);
  EXPECT_EQ(MessageDlg("Restart now?", mtConfirmation, TMsgDlgButtons{mbYes, mbNo}), mrNo);
  FreeApplication();
  unsetenv("ZEL_UI");
  unsetenv("ZEL_UI_TRANSCRIPT");
  std::ifstream in(dir.File("transcript.txt"));
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), "message confirmation 'Restart now?' -> No\n");
}

}  // namespace
}  // namespace plat
