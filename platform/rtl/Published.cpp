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

void TMethodTable::Put(std::string Name, std::any Method) {
  for (auto& item : methods_) {
    if (SameText(item.first, Name)) {
      item.second = std::move(Method);
      return;
    }
  }
  methods_.emplace_back(std::move(Name), std::move(Method));
}

const std::any* TMethodTable::Find(const std::string& Name) const {
  for (const auto& item : methods_) {
    if (SameText(item.first, Name)) return &item.second;
  }
  return nullptr;
}

std::string TEventBindings::MethodName(const std::string& Event) const {
  for (const auto& item : names_) {
    if (SameText(item.first, Event)) return item.second;
  }
  return std::string();
}

void TEventBindings::SetMethodName(const std::string& Event, const std::string& Method) {
  for (auto it = names_.begin(); it != names_.end(); ++it) {
    if (SameText(it->first, Event)) {
      if (Method.empty()) {
        names_.erase(it);
      } else {
        it->second = Method;
      }
      return;
    }
  }
  if (!Method.empty()) names_.emplace_back(Event, Method);
}

}  // namespace plat
