#pragma once
// The runtime's exception tree. Every exception carries its message text;
// std::exception::what() returns the same text so foreign handlers see it.

#include <stdexcept>
#include <string>

#include "platform/rtl/Object.h"
#include "platform/rtl/Visibility.h"

namespace plat {

class PLAT_API Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  ~Exception() override = default;

  const std::string& Message() const { return message_; }
  void SetMessage(std::string message) { message_ = std::move(message); }
  const char* what() const noexcept override { return message_.c_str(); }
  virtual std::string ClassName() const { return "Exception"; }

 private:
  std::string message_;
};

#define PLAT_DECLARE_EXCEPTION(Name, Base)                         \
  class PLAT_API Name : public Base {                              \
   public:                                                         \
    using Base::Base;                                              \
    std::string ClassName() const override { return #Name; }       \
  }

// Silent exception: unwinds without being reported to the user.
PLAT_DECLARE_EXCEPTION(EAbort, Exception);
PLAT_DECLARE_EXCEPTION(EConvertError, Exception);
PLAT_DECLARE_EXCEPTION(EAssertionFailed, Exception);
PLAT_DECLARE_EXCEPTION(EOutOfMemory, Exception);
PLAT_DECLARE_EXCEPTION(EInvalidOperation, Exception);
PLAT_DECLARE_EXCEPTION(EInvalidPointer, Exception);
PLAT_DECLARE_EXCEPTION(EIntOverflow, Exception);
PLAT_DECLARE_EXCEPTION(EZeroDivide, Exception);
PLAT_DECLARE_EXCEPTION(EOverflow, Exception);
PLAT_DECLARE_EXCEPTION(EVariantError, Exception);
PLAT_DECLARE_EXCEPTION(EListError, Exception);
PLAT_DECLARE_EXCEPTION(EStringListError, Exception);
PLAT_DECLARE_EXCEPTION(EStreamError, Exception);
PLAT_DECLARE_EXCEPTION(EFCreateError, EStreamError);
PLAT_DECLARE_EXCEPTION(EFOpenError, EStreamError);
PLAT_DECLARE_EXCEPTION(EReadError, EStreamError);
PLAT_DECLARE_EXCEPTION(EWriteError, EStreamError);
PLAT_DECLARE_EXCEPTION(EInOutError, Exception);
PLAT_DECLARE_EXCEPTION(EOSError, Exception);
PLAT_DECLARE_EXCEPTION(EComponentError, Exception);
PLAT_DECLARE_EXCEPTION(EDatabaseError, Exception);

// Raised by PLAT_ASSERT: an internal invariant did not hold. The message names
// the source file and line, as "message (file.cpp, line 12)".
[[noreturn]] void RaiseAssertion(const char* message, const char* file, int line);

}  // namespace plat

#define PLAT_ASSERT(condition, message)                                       \
  do {                                                                        \
    if (!(condition)) ::plat::RaiseAssertion((message), __FILE__, __LINE__); \
  } while (0)
