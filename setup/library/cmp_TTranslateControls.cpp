#include "setup/library/cmp_TTranslateControls.h"

#include "platform/rtl/ComponentText.h"
#include "platform/rtl/Published.h"
#include "setup/library/cmp_TTranslator.h"

namespace setup {

const plat::TPropList& TTranslateLabel::PublishedProperties() const {
  static const plat::TPropList list =
      plat::TPublished<TTranslateLabel>(plat::TLabel::PublishedProperties())
          .Integer("GLID", &TTranslateLabel::GLID, &TTranslateLabel::SetGLID, 0);
  return list;
}

const plat::TPropList& TTranslateBitBtn::PublishedProperties() const {
  static const plat::TPropList list =
      plat::TPublished<TTranslateBitBtn>(plat::TBitBtn::PublishedProperties())
          .Integer("GLID", &TTranslateBitBtn::GLID, &TTranslateBitBtn::SetGLID, 0);
  return list;
}

void RegisterTranslateControls() {
  plat::RegisterClass<TTranslateLabel>("TTranslateLabel");
  plat::RegisterClass<TTranslateBitBtn>("TTranslateBitBtn");
  plat::RegisterClass<TTranslator>("TTranslator");
}

}  // namespace setup
