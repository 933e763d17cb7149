#pragma once
// A label and a bitmap button translated by their number (GLID) rather than
// by their text; GLID 0 means no number, and they are translated by text.

#include <cstdint>
#include <string>

#include "platform/forms/StdCtrls.h"

namespace setup {

class TTranslateLabel : public plat::TLabel {
 public:
  using plat::TLabel::TLabel;
  std::string ClassName() const override { return "TTranslateLabel"; }
  const plat::TPropList& PublishedProperties() const override;
  int32_t GLID() const { return glid_; }
  void SetGLID(int32_t Value) { glid_ = Value; }

 private:
  int32_t glid_ = 0;
};

class TTranslateBitBtn : public plat::TBitBtn {
 public:
  using plat::TBitBtn::TBitBtn;
  std::string ClassName() const override { return "TTranslateBitBtn"; }
  const plat::TPropList& PublishedProperties() const override;
  int32_t GLID() const { return glid_; }
  void SetGLID(int32_t Value) { glid_ = Value; }

 private:
  int32_t glid_ = 0;
};

// Registers both classes (and the translator) for component text.
void RegisterTranslateControls();

}  // namespace setup
