#include "support/IntegrityCheckTables.h"

#include <sstream>

#include "support/IntegrityCheckBytes.h"

namespace testsupport {

namespace {

constexpr uint16_t kFreeBit = 0x8000;
constexpr uint16_t kIndexUse = 8;
constexpr uint32_t kIndexPage = 4096;
constexpr uint32_t kPageHeader = 16;
constexpr uint32_t kMaxIndexes = 34;
constexpr uint32_t kMaxDepth = 32;

}  // namespace

std::set<uint32_t> ListedTables(const StoreCheck& Stores) {
  std::set<uint32_t> ids;
  for (bool system : {false, true}) {
    for (const auto& entry : Stores.MapEntries(system)) ids.insert(entry.first);
  }
  return ids;
}

void CheckTables(IntegrityCheck& Check, StoreCheck& Stores) {
  const std::set<uint32_t> listed = ListedTables(Stores);
  std::set<uint32_t> reported;
  for (uint32_t page = 0; page < Check.PageCount(); ++page) {
    const uint16_t code = Check.Entry(page);
    if ((code & kFreeBit) != 0 || code < 16) continue;
    const uint32_t id = code >> 4u;
    if (listed.count(id) == 0 && reported.insert(id).second)
      Stores.Problem("page " + std::to_string(page) + " belongs to table " + std::to_string(id) +
                     ", which no table map lists");
  }

  for (bool system : {false, true}) {
    for (const auto& [id, addr] : Stores.MapEntries(system)) {
      if (!Stores.InFile(addr, 0x30)) continue;  // reported by the map check
      const uint32_t indexes = Stores.U32(addr + 0x24);
      if (indexes > kMaxIndexes) continue;
      for (uint32_t slot = 0; slot < indexes; ++slot) {
        const std::string where =
            "table " + std::to_string(id) + " index slot " + std::to_string(slot);
        const uint32_t root = Stores.U32(addr + 0x30 + 6 * slot);
        const uint16_t depth = LoadU16(Stores.At(addr + 0x34 + 6 * slot));
        if (root == 0 || depth == 0) {
          Stores.Problem(where + " has no root (root " + Hex(root) + ", depth " +
                         std::to_string(depth) + ")");
          continue;
        }
        if (depth > kMaxDepth) Stores.Problem(where + " has depth " + std::to_string(depth));
        if (!Stores.InFile(root, kIndexPage) ||
            Stores.PageCode(root) != static_cast<uint16_t>((id << 4) | kIndexUse)) {
          Stores.Problem(where + ": root " + Hex(root) + " is no index page of the table");
          continue;
        }
        const uint32_t leaf = Stores.U32(root);
        if (leaf != (depth == 1 ? 1u : 0u))
          Stores.Problem(where + ": root " + Hex(root) + " has leaf flag " + std::to_string(leaf) +
                         " at depth " + std::to_string(depth));
        if (Stores.U32(root + 4) > kIndexPage - kPageHeader)
          Stores.Problem(where + ": root " + Hex(root) + " claims " +
                         std::to_string(Stores.U32(root + 4)) + " bytes of entries");
      }
    }
  }
}

::testing::AssertionResult TablesAreIntact(const std::string& FileName,
                                           const std::function<void(StoreCheck&)>& Checks,
                                           StoreCheck::PageDecoder Decoder,
                                           std::set<uint32_t> Encrypted) {
  IntegrityCheck check(FileName);
  check.AddCheck([&](IntegrityCheck& c) {
    StoreCheck stores(c, Decoder, Encrypted);
    stores.CheckTableMaps();
    CheckTables(c, stores);
    if (Checks) Checks(stores);
  });
  if (check.Run()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << FileName << " is damaged:\n" << check.Report();
}

}  // namespace testsupport
