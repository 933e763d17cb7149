#pragma once
// The engine's exception and the one routine every engine failure leaves
// through: look the code up in the error table, write the log line, raise.
// Internal invariants are checked with PLAT_ASSERT (platform/rtl/Exceptions.h),
// whose message names the source file and line.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "engine/storage/zelApi.h"
#include "engine/storage/zelConsts.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/Object.h"

namespace zel {

// The exception of every engine error; a host that catches EDatabaseError
// catches it too. ErrorCode is the code the raiser passed (possibly one the
// table lacks); TableMessage is the text of the table entry the lookup found.
//
// Sender is the raising object, for the handler's information only. It is a
// TObject so that the log can name it (component name or class name), const
// because raisers are often const methods, and not owned: it may already be
// gone when a handler far up the stack looks at it, so handlers must not
// dereference it after the raiser's lifetime.
class ZEL_API EZelDatabaseError : public plat::EDatabaseError {
 public:
  EZelDatabaseError(int32_t Code, const std::string& TableMessage, const std::string& CustomMsg,
                    const plat::TObject* Sender = nullptr);

  std::string ClassName() const override { return "EZelDatabaseError"; }

  int32_t ErrorCode() const { return ErrorCode_; }
  const std::string& TableMessage() const { return TableMessage_; }
  const plat::TObject* Sender() const { return Sender_; }

 private:
  int32_t ErrorCode_;
  std::string TableMessage_;
  const plat::TObject* Sender_;
};

// The table entry an error is reported with: the first of entries 1 to 316
// whose 16-bit code equals Code, else entry 0 ("Error code unknown").
ZEL_API const ZelErr& ZelFindErr(int32_t Code);

// Looks Code up, logs the error under Context ("TClass.Method") and raises
// EZelDatabaseError. CustomMsg, when not empty, is the detail shown after the
// table's text.
[[noreturn]] ZEL_API void ZelDatabaseError(int32_t Code, const std::string& Context,
                                           const std::string& CustomMsg = "",
                                           const plat::TObject* Sender = nullptr);

// Error 0x2180 (not open) under Context; out of line, so that the open checks
// made before every page or record access inline.
[[noreturn]] ZEL_API void ZelNotOpenError(const char* Context, const plat::TObject* Sender);

// As ZelDatabaseError, with the detail text made by Format(Fmt, Args).
[[noreturn]] ZEL_API void ZelDatabaseErrorFmt(int32_t Code, const std::string& Context,
                                              std::string_view Fmt,
                                              std::initializer_list<plat::TVarRec> Args,
                                              const plat::TObject* Sender = nullptr);

}  // namespace zel
