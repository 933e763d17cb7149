#pragma once
// The install file that carries the uninstall program: instead of a file
// record it writes the entry Windows shows in its list of installed
// programs, under the product's uninstall key.

#include <string>

#include "setup/library/cmp_TInstallFile.h"

namespace setup {

class TUninstallEXE : public TCustomInstallFile {
 public:
  explicit TUninstallEXE(plat::TComponent* AOwner);
  ~TUninstallEXE() override;
  std::string ClassName() const override { return "TUninstallEXE"; }
  const plat::TPropList& PublishedProperties() const override;
  void WriteUninstallInfo(const std::string& Key) override;
};

}  // namespace setup
