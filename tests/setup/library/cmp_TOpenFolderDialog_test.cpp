#include "setup/library/cmp_TOpenFolderDialog.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/forms/FormsDriver.h"
#include "platform/win/WinFiles.h"
#include "platform/win/WinTestRoot.h"

namespace setup {
namespace {

namespace w = plat::win;

class OpenFolderDialogTest : public wintest::WinRootTest {
 protected:
  void SetUp() override {
    WinRootTest::SetUp();
    ASSERT_TRUE(w::ForceDirectories("C:\\Kit\\Old"));
    dialog.SetPath("C:\\Kit\\Missing\\Deeper");
  }
  void TearDown() override {
    plat::FreeApplication();
    WinRootTest::TearDown();
  }
  plat::TScriptedDriver& Script(const std::string& text) {
    auto driver = std::make_unique<plat::TScriptedDriver>(text);
    plat::TScriptedDriver& ref = *driver;
    plat::Application()->SetDriver(std::move(driver));
    return ref;
  }
  TOpenFolderDialog dialog{nullptr};
};

TEST_F(OpenFolderDialogTest, StartsAtTheNearestExistingFolderAndCreatesTheTypedOne) {
  plat::TScriptedDriver& driver = Script(
      "expect PathEdit 'C:\\Kit'\n"
      "choose FolderTree 'C:\\Kit\\Old'\n"
      "expect PathEdit 'C:\\Kit\\Old'\n"
      "folder 'C:\\Kit\\New Folder'\n");
  ASSERT_TRUE(dialog.Execute());
  EXPECT_EQ(dialog.Path(), "C:\\Kit\\New Folder");
  EXPECT_TRUE(w::DirectoryExists("C:\\Kit\\New Folder"));
  EXPECT_EQ(driver.Transcript().front(), "page FolderDialog 'Select a folder'");
  EXPECT_EQ(driver.Transcript().back(), "close FolderDialog mrOk");
}

TEST_F(OpenFolderDialogTest, CancelGivesNothing) {
  Script("folder cancel\n");
  EXPECT_FALSE(dialog.Execute());
  EXPECT_EQ(dialog.Path(), "C:\\Kit\\Missing\\Deeper");
  EXPECT_FALSE(w::DirectoryExists("C:\\Kit\\Missing"));
}

TEST_F(OpenFolderDialogTest, TheCreateButtonMakesAFolderAndStartsAgainThere) {
  int asked = 0;
  dialog.OnBeforeCreateFolder = [&](plat::TObject*, bool& allow) { allow = ++asked > 1; };
  plat::TScriptedDriver& driver = Script(
      "click CreateButton\n"  // refused by the event
      "click CreateButton\n"
      "input 'Sub'\n"
      "expect caption 'Select a folder'\n"
      "expect PathEdit 'C:\\Kit\\Sub'\n"
      "click OK\n");
  ASSERT_TRUE(dialog.Execute());
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(dialog.Path(), "C:\\Kit\\Sub");
  EXPECT_TRUE(w::DirectoryExists("C:\\Kit\\Sub"));
  const std::vector<std::string>& lines = driver.Transcript();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "input 'Name of the new folder:' -> 'Sub'"),
            lines.end());
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "page FolderDialog 'Select a folder'"), 2);
}

// Keeps what the folder tree lists when the dialog is shown.
class PeekDriver : public plat::TScriptedDriver {
 public:
  using plat::TScriptedDriver::TScriptedDriver;
  void FormShown(plat::TCustomForm& Form) override {
    plat::TScriptedDriver::FormShown(Form);
    auto* tree = dynamic_cast<plat::TFolderTree*>(Form.FindControl("FolderTree"));
    items = tree->Items().Text();
    selected = tree->SelectedPath();
  }
  std::string items;
  std::string selected;
};

TEST_F(OpenFolderDialogTest, TheTreeListsTheDrivesAndTheFoldersOnTheWay) {
  auto driver = std::make_unique<PeekDriver>("folder cancel\nfolder cancel\n");
  PeekDriver& peek = *driver;
  plat::Application()->SetDriver(std::move(driver));
  ASSERT_TRUE(w::ForceDirectories("C:\\Kit\\Old\\Inner"));
  dialog.SetPath("C:\\Kit\\Old\\");
  EXPECT_FALSE(dialog.Execute());
  EXPECT_EQ(peek.selected, "C:\\Kit\\Old");
  for (const char* item : {"A:\\\n", "C:\\\n", "C:\\Kit\n", "C:\\Kit\\Old\n",
                           "C:\\Kit\\Old\\Inner\n"}) {
    EXPECT_NE(peek.items.find(item), std::string::npos) << item << " in " << peek.items;
  }
  dialog.SetPath("C:");
  EXPECT_FALSE(dialog.Execute());
  EXPECT_EQ(peek.selected, "C:\\");  // a drive keeps its "\"
}

TEST_F(OpenFolderDialogTest, TheAutomaticDriverTakesTheStartFolder) {
  plat::Application()->SetDriver(std::make_unique<plat::TAutomaticDriver>());
  ASSERT_TRUE(dialog.Execute());
  EXPECT_EQ(dialog.Path(), "C:\\Kit");
}

}  // namespace
}  // namespace setup
