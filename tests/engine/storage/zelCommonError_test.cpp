#include "engine/storage/zelCommonError.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/storage/zelCommonLog.h"
#include "platform/rtl/Components.h"

namespace zel {
namespace {

// Raises through the routine and hands back the exception and the log line
// it wrote, without its time-stamp column.
struct Raised {
  EZelDatabaseError error{0, "", ""};
  std::string logLine;
};

template <typename Raise>
Raised Capture(Raise raise) {
  TDBLogger* logger = GDBLogger();
  EXPECT_NE(logger, nullptr);
  const int32_t before = logger->LogList()->Count();
  Raised result;
  try {
    raise();
    ADD_FAILURE() << "nothing was raised";
  } catch (const EZelDatabaseError& e) {
    result.error = e;
  }
  const plat::TStringList& lines = *logger->LogList();
  // The list may have been trimmed by its bound; the new line is the last.
  EXPECT_TRUE(lines.Count() > before || lines.Count() > logger->MaxLogItemCount());
  std::string line = lines.Strings(lines.Count() - 1);
  const auto sep = line.find("; ");
  EXPECT_NE(sep, std::string::npos) << line;
  result.logLine = line.substr(sep + 2);
  return result;
}

std::string Caller30(const std::string& context) {
  return std::string(context.size() < 30 ? 30 - context.size() : 0, ' ') + context;
}

TEST(ZelDatabaseError, ComposedMessageAndLogLine) {
  struct Case {
    int32_t code;
    std::string customMsg;
    std::string tableMessage;
    int32_t loggedCode;
    std::string message;
  };
  const std::string head = "The Ostra database engine raised an error\r\n";
  const Case cases[] = {
      // Without a detail the base template: code, then the table's text.
      {0x2809, "", "The requested lock could not be obtained. The request timed out", 0x2809,
       head + " (error code #10249). The requested lock could not be obtained. The request "
              "timed out"},
      // With a detail the table's text comes before the code.
      {0x2728, "Table not found", "No such table", 0x2728,
       head + " No such table (error code #10024) - Table not found"},
      // A detail holding format directives is shown as it stands.
      {0x2702, "100%d %s", "Generic invalid parameter", 0x2702,
       head + " Generic invalid parameter (error code #9986) - 100%d %s"},
      // Trailing blanks of the table's text are kept.
      {0x2601, "", "Key violation ", 0x2601, head + " (error code #9729). Key violation "},
      // Unknown codes: the caller's code is kept, the log shows 65535.
      {0x1234, "", "Error code unknown", 0xFFFF, head + " (error code #4660). Error code unknown"},
      {0xFFFF, "x", "Error code unknown", 0xFFFF,
       head + " Error code unknown (error code #65535) - x"},
      {0x2782, "", "Error code unknown", 0xFFFF, head + " (error code #10114). Error code unknown"},
      {0, "", "Error code unknown", 0xFFFF, head + " (error code #0). Error code unknown"},
      {-1, "", "Error code unknown", 0xFFFF, head + " (error code #-1). Error code unknown"},
      // Only the exact value matches: no truncation of the caller's code.
      {0x10082, "", "Error code unknown", 0xFFFF,
       head + " (error code #65666). Error code unknown"},
      // The one entry outside its group.
      {0x0082, "", "Alter table operation failed (exact cause unknown)", 0x0082,
       head + " (error code #130). Alter table operation failed (exact cause unknown)"},
      {0x25B8, "", "Subquery result set returned multiple columns", 0x25B8,
       head + " (error code #9656). Subquery result set returned multiple columns"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    Raised r = Capture([&] { ZelDatabaseError(c.code, "TDiskMgr.Open", c.customMsg); });
    EXPECT_EQ(r.error.ErrorCode(), c.code);
    EXPECT_EQ(r.error.TableMessage(), c.tableMessage);
    EXPECT_EQ(r.error.Message(), c.message);
    EXPECT_STREQ(r.error.what(), c.message.c_str());
    EXPECT_EQ(r.error.Sender(), nullptr);
    char code[8];
    snprintf(code, sizeof code, "%5d", c.loggedCode);
    EXPECT_EQ(r.logLine, Caller30("TDiskMgr.Open") + " : Exception:  Caller " +
                             std::string(20, ' ') + " ErrCode " + code + " [ErrContext " +
                             c.tableMessage + "]. CustomMsg " + c.customMsg);
  }
}

class TPlainSender : public plat::TObject {
 public:
  std::string ClassName() const override { return "TPlainSender"; }
};

TEST(ZelDatabaseError, SenderNamedInLog) {
  plat::TComponent named(nullptr);
  named.SetName("ZelTable1");
  plat::TComponent unnamed(nullptr);
  TPlainSender plain;
  plat::TComponent longName(nullptr);
  longName.SetName("AComponentNameLongerThanTwenty");
  struct Case {
    const plat::TObject* sender;
    std::string field;
  };
  const Case cases[] = {
      {&named, "           ZelTable1"},
      {&unnamed, "          TComponent"},
      {&plain, "        TPlainSender"},
      {&longName, "AComponentNameLongerThanTwenty"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.field);
    Raised r = Capture([&] {
      ZelDatabaseError(0x2A0B, "TRestructureIndexDefs.ValidateNewIndexDefs", "", c.sender);
    });
    EXPECT_EQ(r.error.Sender(), c.sender);
    EXPECT_EQ(r.logLine, "TRestructureIndexDefs.ValidateNewIndexDefs : Exception:  Caller " +
                             c.field +
                             " ErrCode 10763 [ErrContext Table is read only]. CustomMsg ");
  }
}

TEST(ZelDatabaseError, CaughtAsTheRuntimesDatabaseError) {
  try {
    ZelDatabaseError(0x2205, "TZelDataSet.GetRecord");
  } catch (const plat::EDatabaseError& e) {
    EXPECT_EQ(e.ClassName(), "EZelDatabaseError");
    EXPECT_NE(dynamic_cast<const EZelDatabaseError*>(&e), nullptr);
    return;
  }
  FAIL() << "not caught as EDatabaseError";
}

TEST(ZelDatabaseError, FmtFormatsTheDetail) {
  TPlainSender sender;
  Raised r = Capture([&] {
    ZelDatabaseErrorFmt(0x2585, "TZelDataBase.CreateGenerator", SzelValueOutOfRangeFmt, {45, 1, 40},
                        &sender);
  });
  EXPECT_EQ(r.error.ErrorCode(), 0x2585);
  EXPECT_EQ(r.error.Sender(), &sender);
  EXPECT_EQ(r.error.Message(),
            "The Ostra database engine raised an error\r\n The object name is out of range "
            "(error code #9605) - 45 is not a valid value (min. 1, max. 40)");
  EXPECT_NE(r.logLine.find("CustomMsg 45 is not a valid value (min. 1, max. 40)"),
            std::string::npos)
      << r.logLine;

  std::string name = "$Gen";
  r = Capture([&] {
    ZelDatabaseErrorFmt(0x278D, "TZelDataBase.CreateGenerator", SzelGeneratorNameFmt, {name});
  });
  EXPECT_EQ(r.error.Message(),
            "The Ostra database engine raised an error\r\n The generator name is invalid (error "
            "code #10125) - '$Gen' is not a valid generator name (min. length 1, '$' is a "
            "reserved first character");
}

// A detail text that does not fit its arguments still raises the engine's
// error, with the unformatted text as detail.
TEST(ZelDatabaseError, FmtWithBadArgumentsStillRaisesEngineError) {
  Raised r = Capture([] { ZelDatabaseErrorFmt(0x2702, "TTest.Run", "value %d", {"text"}); });
  EXPECT_EQ(r.error.ErrorCode(), 0x2702);
  EXPECT_EQ(r.error.Message(),
            "The Ostra database engine raised an error\r\n Generic invalid parameter (error code "
            "#9986) - value %d");
  r = Capture([] { ZelDatabaseErrorFmt(0x2702, "TTest.Run", "%s and %s", {"one"}); });
  EXPECT_EQ(r.error.ErrorCode(), 0x2702);
}

TEST(ZelFindErr, EveryCodeFindsItsOwnEntry) {
  for (int32_t i = 1; i <= 316; ++i) {
    EXPECT_EQ(&ZelFindErr(ZelErrTable[i].Code), &ZelErrTable[i]) << i;
  }
  EXPECT_EQ(&ZelFindErr(0xFFFF), &ZelErrTable[0]);
  EXPECT_EQ(&ZelFindErr(0x2782), &ZelErrTable[0]);
  EXPECT_EQ(&ZelFindErr(0x0082), &ZelErrTable[186]);
}

TEST(ZelDatabaseErrorDirect, ConstructorComposesMessage) {
  EZelDatabaseError plain(0x2206, "Record was not found", "");
  EXPECT_EQ(
      plain.Message(),
      "The Ostra database engine raised an error\r\n (error code #8710). Record was not found");
  EZelDatabaseError custom(0x2206, "Record was not found", "Key 5");
  EXPECT_EQ(custom.Message(),
            "The Ostra database engine raised an error\r\n Record was not found (error code #8710) "
            "- Key 5");
}

}  // namespace
}  // namespace zel
