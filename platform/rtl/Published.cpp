#include "platform/rtl/Published.h"

#include "platform/rtl/Strings.h"

namespace plat {

void TPropList::Add(TPropInfo Info) {
  for (TPropInfo& item : items_) {
    if (SameText(item.Name, Info.Name)) {
      item = std::move(Info);
      return;
    }
  }
  items_.push_back(std::move(Info));
}

const TPropInfo* TPropList::Find(const std::string& Name) const {
  for (const TPropInfo& item : items_) {
    if (SameText(item.Name, Name)) return &item;
  }
  return nullptr;
}

}  // namespace plat
