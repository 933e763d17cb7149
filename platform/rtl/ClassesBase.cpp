#include "platform/rtl/ClassesBase.h"

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Published.h"

namespace plat {

void TPersistent::Assign(const TPersistent* Source) {
  if (Source != nullptr) {
    Source->AssignTo(this);
  } else {
    AssignError(nullptr);
  }
}

void TPersistent::AssignTo(TPersistent* Dest) const {
  Dest->AssignError(this);
}

void TPersistent::AssignError(const TPersistent* Source) const {
  const std::string sourceName = Source != nullptr ? Source->ClassName() : "nil";
  throw EConvertError("Cannot assign a " + sourceName + " to a " + ClassName());
}

const TPropList& TPersistent::PublishedProperties() const {
  static const TPropList none;
  return none;
}

}  // namespace plat
