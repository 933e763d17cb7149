#include "setup/library/cmp_TInstallInformation.h"

#include "platform/rtl/Published.h"

namespace setup {

void TInstallInformation::Assign(const plat::TPersistent* Source) {
  if (const auto* other = dynamic_cast<const TInstallInformation*>(Source)) {
    companyName_ = other->companyName_;
    productName_ = other->productName_;
    version_ = other->version_;
    return;
  }
  plat::TPersistent::Assign(Source);
}

const plat::TPropList& TInstallInformation::PublishedProperties() const {
  static const plat::TPropList list =
      plat::TPublished<TInstallInformation>()
          .String("CompanyName", &TInstallInformation::CompanyName,
                  &TInstallInformation::SetCompanyName, "My Company")
          .String("ProductName", &TInstallInformation::ProductName,
                  &TInstallInformation::SetProductName, "My product")
          .String("Version", &TInstallInformation::Version, &TInstallInformation::SetVersion,
                  "1.0");
  return list;
}

void TRegistrationInformation::Assign(const plat::TPersistent* Source) {
  if (const auto* other = dynamic_cast<const TRegistrationInformation*>(Source)) {
    regCompany_ = other->regCompany_;
    regOwner_ = other->regOwner_;
    return;
  }
  plat::TPersistent::Assign(Source);
}

const plat::TPropList& TRegistrationInformation::PublishedProperties() const {
  static const plat::TPropList list =
      plat::TPublished<TRegistrationInformation>()
          .String("RegCompany", &TRegistrationInformation::RegCompany,
                  &TRegistrationInformation::SetRegCompany)
          .String("RegOwner", &TRegistrationInformation::RegOwner,
                  &TRegistrationInformation::SetRegOwner);
  return list;
}

}  // namespace setup
