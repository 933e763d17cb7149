#include "setup/app/frmMain.h"

#include "setup/app/DemoDelphiVer.h"
#include "setup/app/DemoGoodInstall.h"
#include "setup/app/DemoInstallCheck.h"
#include "setup/app/DemoWelcomeDlg.h"
#include "setup/app/ordlg_SelectDestination.h"

#include "platform/rtl/Strings.h"
#include "platform/win/Registry.h"
#include "setup/library/cmp_TBackdrop.h"
#include "setup/library/cmp_TDialogManager.h"
#include "setup/library/cmp_TInstallFile.h"
#include "setup/library/cmp_TRotate3DLabel.h"
#include "setup/library/cmp_TStandardDlgs.h"
#include "setup/library/cmp_TTranslator.h"
#include "setup/library/cmp_TTrevRegistry.h"

namespace setup {

namespace {

// IDE directories by IDE index.
constexpr const char* kIDEDirs[kIDECount] = {"Delphi3", "Delphi4",  "Delphi5",
                                             "Delphi6", "Builder6", "Delphi7"};
// The order the setup goes through the IDEs: Delphi 3, 4, 5, 6, 7, Builder 6.
constexpr int kIDEOrder[kIDECount] = {0, 1, 2, 3, 5, 4};

std::string Numbered(const std::string& stem, int n, const std::string& ext) {
  return stem + (n < 10 ? "0" : "") + std::to_string(n) + ext;
}

std::string DirectoryText(const std::string& name, const std::string& container,
                          const std::string& destDir, const std::string& extra = "") {
  std::string text = "  object " + name + ": TInstallDirectory\n";
  if (!destDir.empty()) text += "    DestDir = '" + destDir + "'\n";
  text +=
      "    DestDirType = psContainerDestDir\n"
      "    Container = " +
      container +
      "\n"
      "    ArchiveFileType = psContainerArchiveFile\n" +
      extra + "  end\n";
  return text;
}

// The install description.
std::string MainFormText() {
  std::string text =
      "object MainForm: TMainForm\n"
      "  Caption = 'Ostra Database Engine Setup'\n"
      "  object Install1: TInstall\n"
      "    DestDir = '\\Zel'\n"
      "    DestDirType = psProgramFiles\n"
      "    ArchiveFileType = psMainArchiveFile\n"
      "    UseLoadingProgram = True\n"
      "    HideMainForm = False\n"
      "    Reboot = False\n"
      "    Information.CompanyName = 'Kestavo Software'\n"
      "    Information.ProductName = 'Zel'\n"
      "    Information.Version = '1.03'\n"
      "    OnAfterInitialized = Install1AfterInitialized\n"
      "    OnBeforeNotifyGoodInstall = Install1BeforeNotifyGoodInstall\n"
      "  end\n";
  text += DirectoryText("idMiscellaneous", "Install1", "\\Uninstall");
  text += DirectoryText("MainDir", "Install1", "");
  text += DirectoryText("UtilsDir", "MainDir", "\\Utils");
  text +=
      "  object SysDir: TInstallDirectory\n"
      "    DestDirType = psSystem\n"
      "    Container = MainDir\n"
      "    ArchiveFileType = psContainerArchiveFile\n"
      "  end\n";
  for (const char* dir : kIDEDirs) text += DirectoryText(dir, "MainDir", std::string("\\") + dir);
  text += DirectoryText("HelpDir", "MainDir", "\\Help");
  text += DirectoryText("DemoDir", "MainDir", "\\Demo");
  text += DirectoryText("SourceDir", "MainDir", "\\Source", "    Include = False\n");
  for (const TKitFile& f : KitFiles()) {
    const bool uninstaller = f.Id == 0;
    text += "  object file" + std::to_string(f.Id) + ": " +
            (uninstaller ? "TUninstallEXE" : "TInstallFile") +
            "\n"
            "    DestDirType = psContainerDestDir\n"
            "    Container = " +
            f.Directory +
            "\n"
            "    ArchiveFileType = psContainerArchiveFile\n"
            "    FileName = '" +
            f.Name +
            "'\n"
            "    IncludeFromDir = '" +
            kKitSourceDir +
            "'\n"
            "    DestName = '" +
            f.Name + "'\n" + (f.Directory == "HelpDir" ? "    RegisterAsHelp = True\n" : "") +
            "    UniqueID = " + std::to_string(f.Id) + "\n  end\n";
  }
  text +=
      "  object InstallRegistry: TInstallRegistry\n"
      "    Container = Install1\n"
      "    Key = '\\Software\\Kestavo Software\\Zel'\n"
      "    KeySpecifierType = ksAbsolute\n"
      "    Entries = <\n"
      "      item\n"
      "        Ident = 'Ver'\n"
      "        Text = '%p'\n"
      "      end\n"
      "      item\n"
      "        Ident = 'InstallPath'\n"
      "        Text = '%p'\n"
      "        PathSpecifier = psMainDir\n"
      "      end>\n"
      "  end\n"
      "  object psMainDir: TpsFileContainer\n"
      "    FileContainer = MainDir\n"
      "  end\n"
      "  object MainTranslator: TTranslator\n"
      "  end\n";
  static const char* const kManagers[][2] = {
      {"DialogManager", "dmBeforeInstall"},     {"DialogManager1", "dmAfterGoodInstall"},
      {"DialogManager2", "dmAfterBadInstall"},  {"DialogManager3", "dmDuringCopyFiles"},
      {"DialogManager4", "dmChangeDisk"},       {"DialogManager5", "dmReboot"}};
  for (const auto& [name, type] : kManagers) {
    text += std::string("  object ") + name + ": TDialogManager\n    Container = Install1\n" +
            "    ManagerType = " + type + "\n  end\n";
  }
  // Dialog components: class, name, manager and order ("" and 0: none).
  struct TDialog {
    const char* Class;
    const char* Name;
    const char* Manager;
    int Order;
    const char* Extra;
  };
  static const TDialog kDialogs[] = {
      {"TLicenseDlg", "LicenseDlg", "DialogManager", 10,
       "    LicenseAgreement.Strings = (\n"
       "      'Ostra Database Engine, evaluation version.'\n"
       "      'You may install and use this copy to evaluate the engine. You may not'\n"
       "      'distribute the engine or programs built with this evaluation copy.')\n"},
      {"TReadmeDlg", "ReadmeDlg1", "DialogManager1", 10,
       "    ReadmeText.Strings = (\n"
       "      'The engine''s design package is registered with the IDEs you chose.'\n"
       "      'Its components are on the \"Data Access\" page of the palette.')\n"},
      {"TBadInstallationDlg", "BadInstallationDlg", "DialogManager2", 10, ""},
      {"TCopyFileDlg", "CopyFileDlg", "DialogManager3", 0, ""},
      {"TChangeDiskDlg", "ChangeDiskDlg", "DialogManager4", 0, ""},
      {"TRebootDlg", "RebootDlg", "DialogManager5", 10, ""},
      {"TInstallStatusDlg", "InstallStatusDlg", "", 0, ""}};
  for (const TDialog& d : kDialogs) {
    text += std::string("  object ") + d.Name + ": " + d.Class + "\n";
    if (*d.Manager != 0) {
      text += std::string("    Container = Install1\n    DialogManager = ") + d.Manager + "\n";
    }
    if (d.Order != 0) text += "    Order = " + std::to_string(d.Order) + "\n";
    text += std::string(d.Extra) + "  end\n";
  }
  text +=
      "  object Backdrop: TBackdrop\n"
      "    object ProductLabel: TRotate3DLabel\n"
      "      Left = 16\n"
      "      Top = 8\n"
      "      Width = 600\n"
      "      Height = 40\n"
      "      Caption = 'Zel'\n"
      "    end\n"
      "  end\n"
      "end\n";
  return text;
}

}  // namespace

const std::vector<TKitFile>& KitFiles() {
  static const std::vector<TKitFile> files = [] {
    std::vector<TKitFile> list = {
        {"idMiscellaneous", "uninstall.exe", 0}, {"MainDir", "readme.txt", 10},
        {"MainDir", "licence.txt", 11},          {"UtilsDir", "zelutil.exe", 12},
        {"UtilsDir", "zelrepair.exe", 13},       {"UtilsDir", "zeldump.exe", 14},
        {"UtilsDir", "zelcopy.exe", 15},         {"SysDir", "zel15rd5.dll", 16},
        {"Delphi5", "dclzel15d5.bpl", 17},       {"Delphi5", "zel15d5.bpl", 18}};
    for (int id = 19; id <= 70; ++id)
      list.push_back({"Delphi5", Numbered("zelunit", id - 18, ".dcu"), id});
    list.push_back({"HelpDir", "ostra.hlp", 71});
    list.push_back({"HelpDir", "ostra.cnt", 72});
    for (int id = 73; id <= 118; ++id)
      list.push_back({"DemoDir", Numbered("demo", id - 72, ".pas"), id});
    return list;
  }();
  return files;
}

TMainForm* SetupMainForm() {
  TCustomInstall* install = CurrentInstall();
  return install != nullptr ? dynamic_cast<TMainForm*>(install->Owner()) : nullptr;
}

TMainForm::TMainForm(plat::TComponent* AOwner) : plat::TForm(AOwner) {
  Methods().Add<void(TCustomInstall*)>("Install1AfterInitialized",
                                       [this](TCustomInstall* s) { Install1AfterInitialized(s); });
  Methods().Add<void(TCustomInstall*)>(
      "Install1BeforeNotifyGoodInstall",
      [this](TCustomInstall* s) { Install1BeforeNotifyGoodInstall(s); });
  LoadFormText({MainFormText()});
  FormCreate();
}

TMainForm::~TMainForm() = default;

void TMainForm::FormCreate() {
  LogAndSave("Commencing Installation - Ostra Database Engine");
  packageInstaller_ = std::make_unique<TPackageInstaller>();
  install1_ = dynamic_cast<TCustomInstall*>(FindComponent("Install1"));
  // Names and version of this release over those the description was made with.
  if (auto* reg = dynamic_cast<TCustomInstallRegistry*>(FindComponent("InstallRegistry"))) {
    reg->SetKey("\\Software\\Kestavo Software\\Ostra");
  }
  install1_->Information().SetCompanyName("Kestavo Software");
  install1_->Information().SetProductName("Ostra Database Engine");
  install1_->Information().SetVersion("153");
  install1_->SetDestDir("\\Ostra");
  ProductLabel()->SetCaption("Ostra Database Engine");
  InstallLog().Save();
}

TRotate3DLabel* TMainForm::ProductLabel() const {
  // The label lies on the backdrop, which owns it.
  plat::TComponent* backdrop = FindComponent("Backdrop");
  auto* label = backdrop != nullptr
                    ? dynamic_cast<TRotate3DLabel*>(backdrop->FindComponent("ProductLabel"))
                    : nullptr;
  if (label == nullptr) throw plat::Exception("The main form has no ProductLabel");
  return label;
}

TInstallDirectory* TMainForm::IDEDirectory(int Index) const {
  return dynamic_cast<TInstallDirectory*>(FindComponent(kIDEDirs[Index]));
}

bool TMainForm::DirectoryHasFiles(const TFileContainer* Dir) const {
  if (Dir == nullptr) return false;
  for (int32_t i = 0; i < ComponentCount(); ++i) {
    auto* file = dynamic_cast<TCustomInstallFile*>(Components(i));
    if (file != nullptr && file->Container() == Dir) return true;
  }
  return false;
}

void TMainForm::SetIDEChoice(const std::array<bool, kIDECount>& Choice) {
  choice_ = Choice;
  for (int i = 0; i < kIDECount; ++i) {
    if (TInstallDirectory* dir = IDEDirectory(i))
      dir->SetInclude(DirectoryHasFiles(dir) && Choice[i]);
  }
}

bool TMainForm::AnyIDEAvailable() {
  for (int i : kIDEOrder) {
    if (packageInstaller_->Query(i).Found && DirectoryHasFiles(IDEDirectory(i))) return true;
  }
  return false;
}

int TMainForm::IDECount() const {
  int count = 0;
  for (int i = 0; i < kIDECount; ++i) count += DirectoryHasFiles(IDEDirectory(i)) ? 1 : 0;
  return count;
}

bool TMainForm::CheckComponentSupportVersion(int Index) {
  const bool supported = DirectoryHasFiles(IDEDirectory(Index));
  LogAndSave("CheckComponentSupportVersion " + TPackageInstaller::IDEName(Index) + ": " +
             (supported ? "True" : "False"));
  return supported;
}

std::vector<std::string> TMainForm::ConfirmationSummary() {
  static const char* const kEditions[] = {"Evaluation", "Standard", "Professional"};
  std::vector<std::string> lines = {
      "", install1_->Information().ProductName() + " V" + install1_->Information().Version(),
      std::string(kEditions[EditionIndex % 3]) + " version", "", "Product Versions to install:"};
  for (int i : kIDEOrder) {
    TInstallDirectory* dir = IDEDirectory(i);
    if (dir != nullptr && dir->Include()) lines.push_back("     " + TPackageInstaller::IDEName(i));
  }
  lines.push_back("");
  lines.push_back("Installation directory:");
  lines.push_back(install1_->GetFullDestDir());
  InstallLog().Add("Installation Settings");
  for (const auto& line : lines) InstallLog().Add(line);
  InstallLog().Add("  ");
  InstallLog().SetLogDir(install1_->GetFullDestDir());
  InstallLog().Save();
  return lines;
}

void TMainForm::Install1AfterInitialized(TCustomInstall* Sender) {
  TtrevRegistry reg(plat::win::KEY_READ);
  reg.SetRootKey(plat::win::HKEY_LOCAL_MACHINE);
  if (reg.OpenKeyReadOnly("\\Software\\Kestavo Software\\Ostra")) {
    const std::string former = reg.ReadString("InstallPath");
    if (!former.empty()) {
      Sender->SetDestDirType(nullptr);
      Sender->SetDestDir(former);
    }
  }
  LogAndSave("Install1AfterInitialized. Moving Dir to: " + Sender->GetFullDestDir());
  InstallLog().SetLogDir(Sender->GetFullDestDir());
  LogAndSave("Install1AfterInitialized");
}

void TMainForm::InstallProduct(int Index, const std::vector<std::string>& Components) {
  const std::string name = TPackageInstaller::IDEName(Index);
  LogAndSave("Installing product. Product - " + name + " Starting");
  static constexpr char kLetter[kIDECount] = {'d', 'd', 'd', 'd', 'b', 'd'};
  static constexpr int kDigit[kIDECount] = {3, 4, 5, 6, 6, 7};
  std::string dir = IDEDirectory(Index)->GetFullDestDir();
  if (dir.empty() || dir.back() != '\\') dir += '\\';
  const std::string package = dir + "dclzel15" + kLetter[Index] + std::to_string(kDigit[Index]) +
                              (Index == 0 ? ".dpl" : ".bpl");
  packageInstaller_->Palette(Index, "Data Access", Components);
  packageInstaller_->RegisterPackage(Index, package, TPackageInstaller::OldPackages(Index),
                                     "Ostra Database Engine");
  if (DirectoryHasFiles(dynamic_cast<TFileContainer*>(FindComponent("HelpDir")))) {
    packageInstaller_->RegisterHelp(Index, "ostra.hlp");
  }
  LogAndSave("Installing product. Product - " + name + " Done");
}

void TMainForm::Install1BeforeNotifyGoodInstall(TCustomInstall*) {
  std::vector<std::string> components;
  for (const auto& c : {"TZelDatabase", "TZelTable", " TZelQuery"})
    components.push_back(plat::Trim(c));
  for (int i : kIDEOrder) {
    TInstallDirectory* dir = IDEDirectory(i);
    if (dir == nullptr || !dir->Include()) continue;
    const bool bracket = i != 2 && i != 3;
    if (bracket) LogAndSave("Installing product. Pre: " + TPackageInstaller::IDEName(i));
    InstallProduct(i, components);
    if (bracket) LogAndSave("Installing product. Post: " + TPackageInstaller::IDEName(i));
  }
}

void RegisterSetupClasses() {
  RegisterInstallClasses();
  RegisterDialogClasses();
  RegisterTranslator();
  RegisterBackdrop();
  RegisterRotate3DLabel();
  RegisterSetupPages();
}

void RegisterSetupPages() {
  TBIFList& pages = PageRegistry();
  auto add = [&pages](const std::string& name, TInstallFormClass create) {
    pages.RemoveClass(name);  // once, however often the setup starts in a process
    pages.Add(name, std::move(create), nullptr);
  };
  add("TWelcomeForm", [](plat::TComponent* o) -> TBaseInstallForm* { return new TWelcomeForm(o); });
  add("TBeforeInstallDialog1",
      [](plat::TComponent* o) -> TBaseInstallForm* { return new TBeforeInstallDialog1(o); });
  add("TSelectDestinationForm",
      [](plat::TComponent* o) -> TBaseInstallForm* { return new TSelectDestinationForm(o); });
  add("TConfirmInstall",
      [](plat::TComponent* o) -> TBaseInstallForm* { return new TConfirmInstall(o); });
  add("TAfterGoodInstallDlg",
      [](plat::TComponent* o) -> TBaseInstallForm* { return new TAfterGoodInstallDlg(o); });
}

}  // namespace setup
