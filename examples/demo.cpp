// A walk through what the engine can do so far. It grows with the engine:
// each capability that lands shows itself here.
#include <cstdio>
#include <string>

#include "engine/storage/zelCommon.h"
#include "engine/storage/zelCrypt.h"

namespace {

void Section(const char* title) { std::printf("\n== %s\n", title); }

// Every engine failure leaves through one routine: it looks the code up in
// the error table, logs a line and raises the engine's exception.
void ShowErrors() {
  Section("Errors");
  for (const int32_t code : {0x2809, 0x2B23, 0x1234}) {
    try {
      zel::ZelDatabaseError(code, "TDemo.ShowErrors", code == 0x2809 ? "Table CUSTOMERS" : "");
    } catch (const zel::EZelDatabaseError& e) {
      std::printf("code 0x%04X: %s\n", static_cast<unsigned>(e.ErrorCode()), e.Message().c_str());
    }
  }
}

void ShowLog() {
  Section("Engine log");
  zel::TDBLogger* logger = zel::GDBLogger();
  logger->LogItem("TDemo.ShowLog", "A line of our own");
  for (int32_t i = 0; i < logger->LogList()->Count(); ++i)
    std::printf("%s\n", logger->LogList()->Strings(i).c_str());
}

void ShowOrdersAndPatterns() {
  Section("String orders and LIKE");
  const std::string a = "Éclair", b = "eclairs";
  std::printf("ANSI order  %s vs %s: %d\n", a.c_str(), b.c_str(),
              zel::DBANSICompareStrings(a.data(), b.data(), int32_t(a.size()),
                                        int32_t(b.size()), true, false) < 0 ? -1 : 1);
  for (const char* pattern : {"%clair%", "_clair", "É%s"})
    std::printf("'%s' LIKE '%s': %s\n", a.c_str(), pattern,
                zel::MatchPatternedStrings(a, pattern) ? "yes" : "no");
}

void ShowDigests() {
  Section("Checksums and digests");
  const std::string text = "123456789";
  std::printf("CRC-32 of \"%s\": %08X\n", text.c_str(),
              zel::CalcCRC(text.data(), int32_t(text.size())));
  zel::TSha1Digest digest{};
  zel::GetSHA1FromString("abc", digest);
  std::printf("SHA-1 of \"abc\": %08X %08X %08X %08X %08X\n", digest[0], digest[1], digest[2],
              digest[3], digest[4]);
}

}  // namespace

int main() {
  std::puts("zel15rd5 demo");
  ShowErrors();
  ShowLog();
  ShowOrdersAndPatterns();
  ShowDigests();
  return 0;
}
