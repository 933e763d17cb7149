#pragma once
// The root of the platform's class tree. Only classes that are named at run
// time (streamed components, error senders, log callers) override ClassName.

#include <string>

#include "platform/rtl/Visibility.h"

namespace plat {

class PLAT_API TObject {
 public:
  TObject() = default;
  TObject(const TObject&) = default;
  TObject& operator=(const TObject&) = default;
  virtual ~TObject() = default;

  virtual std::string ClassName() const { return "TObject"; }
};

}  // namespace plat
