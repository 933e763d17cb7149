#pragma once
// The kit's setup: the main form holding the install description, and the
// handlers the wizard pages and the install run call.

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "platform/forms/Forms.h"
#include "setup/app/VCLInstall.h"
#include "setup/library/cmp_TInstall.h"
#include "setup/library/cmp_TInstallContainer.h"
#include "setup/library/cmp_TInstallRegistry.h"

namespace setup {

class TRotate3DLabel;

// One kit file: where it goes and its archive id.
struct TKitFile {
  std::string Directory;  // the install directory's component name
  std::string Name;
  int32_t Id;
};
// Every file of the kit, in id order.
const std::vector<TKitFile>& KitFiles();
// The folder the kit's files are taken from when its archive is built.
inline const std::string kKitSourceDir = "C:\\OstraKit";

class TMainForm : public plat::TForm {
 public:
  explicit TMainForm(plat::TComponent* AOwner);
  ~TMainForm() override;
  std::string ClassName() const override { return "TMainForm"; }

  TCustomInstall* Install1() const { return install1_; }
  TPackageInstaller& PackageInstaller() { return *packageInstaller_; }
  TRotate3DLabel* ProductLabel() const;
  // The IDE directory of an IDE index (Delphi 3, 4, 5, 6, Builder 6, Delphi 7).
  TInstallDirectory* IDEDirectory(int Index) const;
  bool DirectoryHasFiles(const TFileContainer* Dir) const;

  void SetIDEChoice(const std::array<bool, kIDECount>& Choice);
  bool AnyIDEAvailable();
  int IDECount() const;
  bool CheckComponentSupportVersion(int Index);
  std::string ProductTitle() const { return "Ostra evaluation version for Delphi 5"; }
  std::vector<std::string> ConfirmationSummary();
  int EditionIndex = 0;

  void Install1AfterInitialized(TCustomInstall* Sender);
  void Install1BeforeNotifyGoodInstall(TCustomInstall* Sender);

 private:
  void FormCreate();
  void InstallProduct(int Index, const std::vector<std::string>& Components);

  TCustomInstall* install1_ = nullptr;
  std::unique_ptr<TPackageInstaller> packageInstaller_;
  std::array<bool, kIDECount> choice_{};
};

// The main form of the running setup (nullptr when none).
TMainForm* SetupMainForm();
// Registers the setup's own page classes.
void RegisterSetupPages();
// Registers every class the main form's description names, and the pages.
void RegisterSetupClasses();

}  // namespace setup
