#include "engine/storage/zelCommonLog.h"

#include <atomic>
#include <exception>

#include "platform/rtl/DateTime.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/Strings.h"

namespace zel {

TDBLogger::TDBLogger()
    : LogList_(std::make_unique<plat::TStringList>()),
      MonitorList_(std::make_unique<plat::TStringList>()) {}

TDBLogger::~TDBLogger() {
  if (!OutputFileName_.empty()) SaveLogToFile(OutputFileName_);
}

void TDBLogger::LogItem(const std::string& Caller, const std::string& Text) {
  // A failure to log must never become a failure of what is being logged.
  try {
    plat::TCriticalSectionGuard guard(GDBCriticalSection());
    // Checked before the append, so the list holds up to the limit + 1 lines.
    if (MaxLogItemCount_ > 0 && LogList_->Count() > MaxLogItemCount_) LogList_->Delete(0);
    LogList_->Add(plat::Format("%10s; %30s : %s",
                               {plat::FormatDateTime("ddddd tt", plat::Now()), Caller, Text}));
  } catch (...) {
  }
}

void TDBLogger::SetMaxLogItemCount(int32_t Value) {
  plat::TCriticalSectionGuard guard(GDBCriticalSection());
  MaxLogItemCount_ = Value;
  if (Value > 0 && LogList_->Count() > Value) {
    // Leaves room for one line before the next trim.
    const int32_t excess = LogList_->Count() - Value + 1;
    LogList_->BeginUpdate();
    for (int32_t i = 0; i < excess; ++i) LogList_->Delete(0);
    LogList_->EndUpdate();
  }
}

void TDBLogger::NamedMonitorDelta(const std::string& Name, int32_t Delta) {
  plat::TCriticalSectionGuard guard(GDBCriticalSection());
  // Counters wrap like the 32-bit integers they are.
  const int64_t value = int64_t{plat::StrToIntDef(MonitorList_->Values(Name), 0)} + Delta;
  MonitorList_->SetValues(Name, plat::IntToStr(static_cast<int32_t>(value)));
}

void TDBLogger::NamedMonitorReset(const std::string& Name, int32_t Value) {
  plat::TCriticalSectionGuard guard(GDBCriticalSection());
  MonitorList_->SetValues(Name, plat::IntToStr(Value));
}

void TDBLogger::SaveLogToFile(const std::string& FileName) {
  if (FileName.empty()) return;
  std::string failure;
  try {
    plat::TCriticalSectionGuard guard(GDBCriticalSection());
    LogList_->SaveToFile(FileName);
    return;
  } catch (const std::exception& e) {
    failure = e.what();
  } catch (...) {
  }
  LogItem("Logger", "Unable to save log file to: " + FileName + ". Exception: " + failure);
}

void TDBLogger::Clear() {
  plat::TCriticalSectionGuard guard(GDBCriticalSection());
  LogList_->Clear();
  MonitorList_->Clear();
}

void TDBLogger::AddLogTraceItem(int32_t Caller, int32_t Event) {
  plat::TCriticalSectionGuard guard(GDBCriticalSection());
  if (TraceIndex_ >= TraceSlotsUsed) TraceIndex_ = 0;
  Trace_[TraceIndex_] = TTraceItem{Caller, Event};
  ++TraceIndex_;
}

void TDBLogger::ClearLogTrace() {
  plat::TCriticalSectionGuard guard(GDBCriticalSection());
  Trace_.fill(TTraceItem{});
  TraceIndex_ = 0;
}

void TDBLogger::DumpTraceToLog() {
  plat::TCriticalSectionGuard guard(GDBCriticalSection());
  LogList_->Add("TraceLog");
  // Oldest first: from the next slot to be written round to the last one.
  for (int32_t n = 0; n < TraceSlotsUsed; ++n) {
    const TTraceItem& item = Trace_[(TraceIndex_ + n) % TraceSlotsUsed];
    LogList_->Add(plat::Format("Caller %d  Event %d", {item.Caller, item.Event}));
  }
}

namespace {

// Set when the engine's logger is freed at unload, so late callers get
// nullptr instead of a dead object.
std::atomic<bool> gLoggerFreed{false};

struct TUnitLogger {
  TUnitLogger() {
    // The section is created first so that it is destroyed after the
    // logger, whose last save may still log.
    GDBCriticalSection();
    Logger = std::make_unique<TDBLogger>();
  }
  ~TUnitLogger() {
    gLoggerFreed = true;
    Logger.reset();
  }
  std::unique_ptr<TDBLogger> Logger;
};

}  // namespace

TDBLogger* GDBLogger() {
  if (gLoggerFreed) return nullptr;
  static TUnitLogger unit;
  return unit.Logger.get();
}

plat::TCriticalSection& GDBCriticalSection() {
  static plat::TCriticalSection section;
  return section;
}

}  // namespace zel
