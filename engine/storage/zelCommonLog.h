#pragma once
// The engine log: one process-wide TDBLogger with a bounded list of
// time-stamped lines, named counters and a small ring of numeric trace pairs.
// It lives in memory and goes to a file on request or when it is freed.

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/storage/zelApi.h"
#include "platform/rtl/Lists.h"
#include "platform/rtl/Object.h"
#include "platform/rtl/SyncObjs.h"

namespace zel {

// Invariants: LogList and MonitorList always exist; 0 <= TraceIndex <= 100
// (100 only until the next pair wraps it to 0). Each MonitorList
// line is "name=value" with the value in decimal.
//
// LogItem, NamedMonitorDelta and NamedMonitorReset hold the global critical
// section, so any thread may call them. The other members also take it where
// they change the lists, but are meant for one thread at a time.
class ZEL_API TDBLogger : public plat::TObject {
 public:
  static constexpr int32_t DefaultMaxLogItemCount = 500;
  static constexpr int32_t TraceSlotsUsed = 100;

  TDBLogger();
  // Saves the lines to OutputFileName when it is set.
  ~TDBLogger() override;
  TDBLogger(const TDBLogger&) = delete;
  TDBLogger& operator=(const TDBLogger&) = delete;

  std::string ClassName() const override { return "TDBLogger"; }

  // Appends "<date time>; <caller> : <text>", the time right-aligned to 10
  // and the caller to 30 characters. When the list already holds more than
  // MaxLogItemCount lines (and the limit is above 0) the oldest goes first.
  // Never raises.
  void LogItem(const std::string& Caller, const std::string& Text);

  // Counter Name += Delta; a missing counter or one that is not a number
  // counts as 0.
  void NamedMonitorDelta(const std::string& Name, int32_t Delta);
  void NamedMonitorReset(const std::string& Name, int32_t Value);

  // Writes the lines as a text file. An empty name does nothing; a failure is
  // logged (caller "Logger") instead of raised.
  void SaveLogToFile(const std::string& FileName);
  // Empties the lines and the counters.
  void Clear();

  // The trace ring keeps the last 100 (caller, event) pairs.
  void AddLogTraceItem(int32_t Caller, int32_t Event);
  void ClearLogTrace();
  // Appends "TraceLog" and one "Caller %d  Event %d" line per slot, oldest
  // first, as plain lines (no time stamp, no limit).
  void DumpTraceToLog();

  // The line list; callers that keep their own plain lines in the log (plans,
  // change logs) add to it directly.
  plat::TStringList* LogList() const { return LogList_.get(); }
  plat::TStringList* MonitorList() const { return MonitorList_.get(); }

  int32_t TraceIndex() const { return TraceIndex_; }
  bool Active() const { return Active_; }
  void SetActive(bool Value) { Active_ = Value; }
  int32_t DumpMod() const { return DumpMod_; }
  void SetDumpMod(int32_t Value) { DumpMod_ = Value; }
  const std::string& OutputFileName() const { return OutputFileName_; }
  void SetOutputFileName(const std::string& Value) { OutputFileName_ = Value; }
  // 0 or less: no limit.
  int32_t MaxLogItemCount() const { return MaxLogItemCount_; }
  // Trims a longer list so that Value - 1 lines remain.
  void SetMaxLogItemCount(int32_t Value);

 private:
  struct TTraceItem {
    int32_t Caller = 0;
    int32_t Event = 0;
  };

  std::unique_ptr<plat::TStringList> LogList_;
  std::unique_ptr<plat::TStringList> MonitorList_;
  std::array<TTraceItem, TraceSlotsUsed> Trace_{};
  int32_t TraceIndex_ = 0;
  bool Active_ = false;
  int32_t DumpMod_ = 0;
  std::string OutputFileName_;
  int32_t MaxLogItemCount_ = DefaultMaxLogItemCount;
};

// The engine's one logger, created on first use and freed when the engine is
// unloaded; nullptr once it has been freed.
ZEL_API TDBLogger* GDBLogger();

// The one critical section that serialises the logger's writes. It outlives
// the logger.
plat::TCriticalSection& GDBCriticalSection();

}  // namespace zel
