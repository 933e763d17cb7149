#include "support/DatabaseCheck.h"

#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "support/IntegrityCheck.h"
#include "support/IntegrityCheckStores.h"
#include "support/IntegrityCheckTables.h"

namespace testsupport {

namespace {

// The definition record's layout, known here on its own.
constexpr size_t kDefSize = 254;
constexpr size_t kVersion = 204;
constexpr size_t kVersionUnits = 21;
constexpr size_t kSecurityLevel = 246;
constexpr size_t kCRC = 250;
constexpr uint32_t kCatalogueUser = 1024;
constexpr uint32_t kCatalogueSystem = 1025;

uint32_t Crc32(const uint8_t* Data, size_t Size) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < Size; ++i) {
    crc ^= Data[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

uint32_t Le32(const std::vector<uint8_t>& B, size_t Offset) {
  return static_cast<uint32_t>(B[Offset]) | (static_cast<uint32_t>(B[Offset + 1]) << 8) |
         (static_cast<uint32_t>(B[Offset + 2]) << 16) | (static_cast<uint32_t>(B[Offset + 3]) << 24);
}

// Problems of the definition record; its security level through Level.
void CheckDefinitionRecord(IntegrityCheck& Check, uint32_t& Level) {
  const std::vector<uint8_t>& b = Check.Bytes();
  if (b.size() < kDefSize) return;
  if (b[0] != 1 || b[1] != 0) Check.Problem("definition record: format is not 1");
  bool ended = false;
  for (size_t i = 0; i < kVersionUnits && !ended; ++i)
    ended = b[kVersion + 2 * i] == 0 && b[kVersion + 2 * i + 1] == 0;
  if (!ended) Check.Problem("definition record: the version text has no end");
  Level = Le32(b, kSecurityLevel);
  if (Level > 2) Check.Problem("definition record: security level " + std::to_string(Level));
  std::vector<uint8_t> input(256 + kDefSize);
  for (size_t i = 0; i < 256; ++i) input[i] = static_cast<uint8_t>(i);
  std::copy(b.begin(), b.begin() + kDefSize, input.begin() + 256);
  std::fill(input.begin() + 256 + kCRC, input.begin() + 256 + kCRC + 4, 0);
  if (Crc32(input.data(), input.size()) != Le32(b, kCRC))
    Check.Problem("definition record: the CRC does not match");
}

void CheckCatalogue(StoreCheck& Stores, const std::vector<uint8_t>& Bytes) {
  std::set<uint32_t> system;
  for (const auto& entry : Stores.MapEntries(true)) system.insert(entry.first);
  for (uint32_t id : {kCatalogueUser, kCatalogueSystem})
    if (system.count(id) == 0)
      Stores.Problem("catalogue table " + std::to_string(id) + " is not in the system map");
  for (bool inSystem : {false, true}) {
    for (const auto& entry : Stores.MapEntries(inSystem)) {
      if (entry.first == kCatalogueUser || entry.first == kCatalogueSystem) continue;
      const std::string needle = "TableID = " + std::to_string(entry.first) + "\r\n";
      if (std::search(Bytes.begin(), Bytes.end(), needle.begin(), needle.end()) == Bytes.end())
        Stores.Problem("table " + std::to_string(entry.first) + " has no catalogue row");
    }
  }
}

}  // namespace

::testing::AssertionResult DatabaseIsIntact(const std::string& FileName) {
  IntegrityCheck check(FileName);
  uint32_t level = 0;
  check.AddCheck([&](IntegrityCheck& c) {
    CheckDefinitionRecord(c, level);
    if (level != 0) return;
    StoreCheck stores(c);
    stores.CheckTableMaps();
    CheckTables(c, stores);
    CheckCatalogue(stores, c.Bytes());
  });
  if (check.Run()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << FileName << " is damaged:\n" << check.Report();
}

}  // namespace testsupport
