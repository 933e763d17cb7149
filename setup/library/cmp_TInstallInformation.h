#pragma once
// The two information holders of an install: what is installed and for whom
// it is registered.

#include <string>

#include "platform/rtl/ClassesBase.h"

namespace setup {

class TInstallInformation : public plat::TPersistent {
 public:
  std::string ClassName() const override { return "TInstallInformation"; }
  void Assign(const plat::TPersistent* Source) override;
  const plat::TPropList& PublishedProperties() const override;

  const std::string& CompanyName() const { return companyName_; }
  void SetCompanyName(const std::string& Value) { companyName_ = Value; }
  const std::string& ProductName() const { return productName_; }
  void SetProductName(const std::string& Value) { productName_ = Value; }
  const std::string& Version() const { return version_; }
  void SetVersion(const std::string& Value) { version_ = Value; }

 private:
  std::string companyName_ = "My Company";
  std::string productName_ = "My product";
  std::string version_ = "1.0";
};

class TRegistrationInformation : public plat::TPersistent {
 public:
  std::string ClassName() const override { return "TRegistrationInformation"; }
  void Assign(const plat::TPersistent* Source) override;
  const plat::TPropList& PublishedProperties() const override;

  const std::string& RegCompany() const { return regCompany_; }
  void SetRegCompany(const std::string& Value) { regCompany_ = Value; }
  const std::string& RegOwner() const { return regOwner_; }
  void SetRegOwner(const std::string& Value) { regOwner_ = Value; }

 private:
  std::string regCompany_;
  std::string regOwner_;
};

}  // namespace setup
