#include "engine/storage/zelCommonError.h"

#include "engine/storage/zelCommonLog.h"
#include "platform/rtl/Components.h"

namespace zel {

namespace {

std::string ComposeMessage(int32_t Code, const std::string& TableMessage,
                           const std::string& CustomMsg) {
  if (CustomMsg.empty()) return plat::Format(SzelErrorAnonBaseMsg, {Code, TableMessage});
  return plat::Format(SzelErrorAnonCustomMsg, {TableMessage, Code, CustomMsg});
}

// A named component is logged by its name; anything else by its class.
std::string SenderName(const plat::TObject* Sender) {
  if (Sender == nullptr) return std::string();
  if (const auto* component = dynamic_cast<const plat::TComponent*>(Sender)) {
    if (!component->Name().empty()) return component->Name();
  }
  return Sender->ClassName();
}

}  // namespace

EZelDatabaseError::EZelDatabaseError(int32_t Code, const std::string& TableMessage,
                                     const std::string& CustomMsg, const plat::TObject* Sender)
    : plat::EDatabaseError(ComposeMessage(Code, TableMessage, CustomMsg)),
      ErrorCode_(Code),
      TableMessage_(TableMessage),
      Sender_(Sender) {}

const ZelErr& ZelFindErr(int32_t Code) {
  for (int32_t i = 1; i < ZelErrCount - 1; ++i) {
    if (static_cast<int32_t>(static_cast<uint16_t>(ZelErrTable[i].Code)) == Code) {
      return ZelErrTable[i];
    }
  }
  return ZelErrTable[0];
}

[[gnu::noinline]] void ZelNotOpenError(const char* Context, const plat::TObject* Sender) {
  ZelDatabaseError(0x2180, Context, "", Sender);
}

void ZelDatabaseError(int32_t Code, const std::string& Context, const std::string& CustomMsg,
                      const plat::TObject* Sender) {
  const ZelErr& entry = ZelFindErr(Code);
  const std::string message(entry.Msg);
  if (TDBLogger* logger = GDBLogger()) {
    // Logging must never replace the error being raised.
    try {
      logger->LogItem(
          Context, plat::Format("Exception:  Caller %20s ErrCode %5d [ErrContext %s]. CustomMsg %s",
                                {SenderName(Sender), entry.Code, message, CustomMsg}));
    } catch (...) {
    }
  }
  throw EZelDatabaseError(Code, message, CustomMsg, Sender);
}

void ZelDatabaseErrorFmt(int32_t Code, const std::string& Context, std::string_view Fmt,
                         std::initializer_list<plat::TVarRec> Args, const plat::TObject* Sender) {
  std::string customMsg;
  try {
    customMsg = plat::Format(Fmt, Args);
  } catch (const plat::EConvertError&) {
    // A detail text that does not match its arguments must not hide the
    // engine error itself: report the unformatted text instead.
    customMsg = std::string(Fmt);
  }
  ZelDatabaseError(Code, Context, customMsg, Sender);
}

}  // namespace zel
