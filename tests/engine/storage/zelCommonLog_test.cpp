#include "engine/storage/zelCommonLog.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/TestDir.h"

namespace zel {
namespace {

std::string Line(const TDBLogger& logger, int32_t index) {
  return logger.LogList()->Strings(index);
}

// The text after the time-stamp column.
std::string Tail(const std::string& line) {
  const auto sep = line.find("; ");
  return sep == std::string::npos ? line : line.substr(sep + 2);
}

TEST(TDBLogger, LineFormat) {
  TDBLogger logger;
  logger.LogItem("TDiskMgr.Open", "Opening");
  logger.LogItem("TRestructureIndexDefs.ValidateNewIndexDefs", "long caller");
  logger.LogItem("", "");
  ASSERT_EQ(logger.LogList()->Count(), 3);
  // "yyyy-mm-dd hh:nn:ss" (19 characters, wider than its column), then "; ".
  const std::string first = Line(logger, 0);
  ASSERT_GT(first.size(), 21u) << first;
  const std::string shape = "dddd-dd-dd dd:dd:dd; ";
  for (size_t i = 0; i < shape.size(); ++i) {
    if (shape[i] == 'd') {
      EXPECT_TRUE(first[i] >= '0' && first[i] <= '9') << first;
    } else {
      EXPECT_EQ(first[i], shape[i]) << first;
    }
  }
  EXPECT_EQ(first.substr(shape.size()), "                 TDiskMgr.Open : Opening");
  // A caller longer than its column is not cut.
  EXPECT_EQ(Tail(Line(logger, 1)), "TRestructureIndexDefs.ValidateNewIndexDefs : long caller");
  EXPECT_EQ(Tail(Line(logger, 2)), std::string(30, ' ') + " : ");
}

TEST(TDBLogger, DefaultBoundKeepsNewest) {
  TDBLogger logger;
  EXPECT_EQ(logger.MaxLogItemCount(), 500);
  for (int i = 1; i <= 600; ++i) logger.LogItem("T.M", std::to_string(i));
  ASSERT_EQ(logger.LogList()->Count(), 501);
  EXPECT_EQ(Tail(Line(logger, 0)), std::string(27, ' ') + "T.M : 100");
  EXPECT_EQ(Tail(Line(logger, 500)), std::string(27, ' ') + "T.M : 600");
}

TEST(TDBLogger, NoBoundAtZeroOrBelow) {
  for (int32_t limit : {0, -1}) {
    TDBLogger logger;
    logger.SetMaxLogItemCount(limit);
    for (int i = 0; i < 600; ++i) logger.LogItem("T.M", "x");
    EXPECT_EQ(logger.LogList()->Count(), 600) << limit;
  }
}

TEST(TDBLogger, SetMaxLogItemCountTrims) {
  struct Case {
    int32_t lines;
    int32_t limit;
    int32_t remaining;
    std::string firstText;
  };
  const Case cases[] = {
      {501, 100, 99, "403"},  // keeps the newest, one below the limit
      {50, 100, 50, "1"},     // a shorter list is left alone
      {100, 100, 100, "1"},   // so is one at the limit
      {20, 1, 0, ""},        {20, 0, 20, "1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.limit);
    TDBLogger logger;
    logger.SetMaxLogItemCount(-1);
    for (int i = 1; i <= c.lines; ++i) logger.LogItem("T.M", std::to_string(i));
    logger.SetMaxLogItemCount(c.limit);
    EXPECT_EQ(logger.MaxLogItemCount(), c.limit);
    ASSERT_EQ(logger.LogList()->Count(), c.remaining);
    if (c.remaining > 0) {
      EXPECT_NE(Line(logger, 0).find(" : " + c.firstText), std::string::npos) << Line(logger, 0);
      EXPECT_NE(Line(logger, c.remaining - 1).find(" : " + std::to_string(c.lines)),
                std::string::npos);
    }
  }
}

TEST(TDBLogger, NamedMonitors) {
  TDBLogger logger;
  logger.NamedMonitorDelta("ROOTADDRNOTVALID", 1);
  logger.NamedMonitorDelta("ROOTADDRNOTVALID", 1);
  logger.NamedMonitorDelta("Reads", -5);
  logger.NamedMonitorReset("Writes", 42);
  logger.NamedMonitorDelta("Writes", 8);
  // A counter whose text is not a number starts again from 0.
  logger.MonitorList()->Add("Broken=abc");
  logger.NamedMonitorDelta("Broken", 7);
  // Counters wrap as 32-bit integers.
  logger.NamedMonitorReset("Big", 2147483647);
  logger.NamedMonitorDelta("Big", 1);
  const plat::TStringList& list = *logger.MonitorList();
  EXPECT_EQ(list.Values("ROOTADDRNOTVALID"), "2");
  EXPECT_EQ(list.Values("Reads"), "-5");
  EXPECT_EQ(list.Values("Writes"), "50");
  EXPECT_EQ(list.Values("Broken"), "7");
  EXPECT_EQ(list.Values("Big"), "-2147483648");
  EXPECT_EQ(list.Strings(0), "ROOTADDRNOTVALID=2");
  EXPECT_EQ(list.Count(), 5);
  logger.NamedMonitorReset("Writes", 0);
  EXPECT_EQ(list.Values("Writes"), "0");
}

TEST(TDBLogger, ClearEmptiesLinesAndCounters) {
  TDBLogger logger;
  logger.LogItem("T.M", "x");
  logger.NamedMonitorDelta("A", 1);
  logger.AddLogTraceItem(1, 2);
  logger.Clear();
  EXPECT_EQ(logger.LogList()->Count(), 0);
  EXPECT_EQ(logger.MonitorList()->Count(), 0);
  EXPECT_EQ(logger.TraceIndex(), 1);  // the trace ring has its own clear
}

// Trace dumps: "TraceLog" then 100 pairs, oldest first.
std::vector<std::string> DumpedPairs(int pairs) {
  TDBLogger logger;
  for (int i = 1; i <= pairs; ++i) logger.AddLogTraceItem(i, 1000 + i);
  logger.DumpTraceToLog();
  std::vector<std::string> lines;
  for (int32_t i = 0; i < logger.LogList()->Count(); ++i) lines.push_back(Line(logger, i));
  return lines;
}

TEST(TDBLogger, TraceRing) {
  std::vector<std::string> lines = DumpedPairs(150);
  ASSERT_EQ(lines.size(), 101u);
  EXPECT_EQ(lines[0], "TraceLog");
  for (int n = 0; n < 100; ++n) {
    EXPECT_EQ(lines[1 + n],
              "Caller " + std::to_string(51 + n) + "  Event " + std::to_string(1051 + n));
  }

  lines = DumpedPairs(100);  // full ring, not yet wrapped
  ASSERT_EQ(lines.size(), 101u);
  EXPECT_EQ(lines[1], "Caller 1  Event 1001");
  EXPECT_EQ(lines[100], "Caller 100  Event 1100");

  lines = DumpedPairs(3);  // unused slots come first, as zeros
  ASSERT_EQ(lines.size(), 101u);
  EXPECT_EQ(lines[1], "Caller 0  Event 0");
  EXPECT_EQ(lines[98], "Caller 1  Event 1001");
  EXPECT_EQ(lines[100], "Caller 3  Event 1003");
}

TEST(TDBLogger, TraceDumpIgnoresBoundAndClearResets) {
  TDBLogger logger;
  logger.SetMaxLogItemCount(10);
  for (int i = 1; i <= 5; ++i) logger.AddLogTraceItem(i, i);
  EXPECT_EQ(logger.TraceIndex(), 5);
  logger.ClearLogTrace();
  EXPECT_EQ(logger.TraceIndex(), 0);
  logger.DumpTraceToLog();
  ASSERT_EQ(logger.LogList()->Count(), 101);
  for (int32_t i = 1; i <= 100; ++i) EXPECT_EQ(Line(logger, i), "Caller 0  Event 0");
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(TDBLogger, SaveLogToFile) {
  testsupport::TempDir dir;
  TDBLogger logger;
  logger.LogItem("T.A", "first");
  logger.LogItem("T.B", "second");
  const std::string path = dir.File("dblog.txt");
  logger.SaveLogToFile(path);
  const std::vector<std::string> saved = ReadLines(path);
  ASSERT_EQ(saved.size(), 2u);
  EXPECT_EQ(saved[0], Line(logger, 0));
  EXPECT_EQ(saved[1], Line(logger, 1));
  EXPECT_EQ(logger.LogList()->Count(), 2);

  logger.SaveLogToFile("");  // nothing happens
  EXPECT_EQ(logger.LogList()->Count(), 2);
}

TEST(TDBLogger, SaveToMissingDirectoryIsLogged) {
  testsupport::TempDir dir;
  TDBLogger logger;
  logger.LogItem("T.A", "first");
  const std::string path = dir.File("missing/dblog.txt");
  EXPECT_NO_THROW(logger.SaveLogToFile(path));
  ASSERT_EQ(logger.LogList()->Count(), 2);
  const std::string prefix =
      std::string(24, ' ') + "Logger : Unable to save log file to: " + path + ". Exception: ";
  EXPECT_EQ(Tail(Line(logger, 1)).substr(0, prefix.size()), prefix) << Line(logger, 1);
  EXPECT_GT(Tail(Line(logger, 1)).size(), prefix.size());  // the failure's message follows
}

TEST(TDBLogger, FreeingSavesToOutputFile) {
  testsupport::TempDir dir;
  const std::string path = dir.File("out.txt");
  {
    TDBLogger logger;
    EXPECT_EQ(logger.OutputFileName(), "");
    logger.SetOutputFileName(path);
    logger.LogItem("T.M", "kept");
  }
  const std::vector<std::string> saved = ReadLines(path);
  ASSERT_EQ(saved.size(), 1u);
  EXPECT_EQ(Tail(saved[0]), "                           T.M : kept");
  {
    TDBLogger logger;  // no output file: nothing written anywhere
    logger.LogItem("T.M", "dropped");
  }
}

TEST(TDBLogger, StoredSettings) {
  TDBLogger logger;
  EXPECT_FALSE(logger.Active());
  EXPECT_EQ(logger.DumpMod(), 0);
  logger.SetActive(true);
  logger.SetDumpMod(7);
  EXPECT_TRUE(logger.Active());
  EXPECT_EQ(logger.DumpMod(), 7);
}

// Several threads logging and counting at once lose nothing and keep the
// bound.
TEST(TDBLogger, ConcurrentWritersAreSerialised) {
  TDBLogger logger;
  logger.SetMaxLogItemCount(200);
  constexpr int kThreads = 4;
  constexpr int kEach = 500;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&logger, t] {
      for (int i = 0; i < kEach; ++i) {
        logger.LogItem("Thread" + std::to_string(t), std::to_string(i));
        logger.NamedMonitorDelta("Calls", 1);
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(logger.MonitorList()->Values("Calls"), std::to_string(kThreads * kEach));
  EXPECT_EQ(logger.LogList()->Count(), 201);
}

TEST(GDBLogger, OneLoggerAndSection) {
  TDBLogger* logger = GDBLogger();
  ASSERT_NE(logger, nullptr);
  EXPECT_EQ(GDBLogger(), logger);
  EXPECT_EQ(&GDBCriticalSection(), &GDBCriticalSection());
  // The section is recursive: a holder may log.
  plat::TCriticalSectionGuard guard(GDBCriticalSection());
  const int32_t before = logger->LogList()->Count();
  logger->LogItem("T.M", "under the section");
  EXPECT_TRUE(logger->LogList()->Count() == before + 1 ||
              logger->LogList()->Count() > logger->MaxLogItemCount());
}

}  // namespace
}  // namespace zel
