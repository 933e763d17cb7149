#include "support/IntegrityCheckTables.h"

#include <algorithm>
#include <sstream>

#include "support/IntegrityCheckBytes.h"
#include "support/IntegrityCheckIndex.h"

namespace testsupport {

namespace {

constexpr uint16_t kFreeBit = 0x8000;
constexpr uint16_t kIndexUse = 8;
constexpr uint16_t kRecordUse = 9;
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
      if (indexes > kMaxIndexes) {
        Stores.Problem("table " + std::to_string(id) + " has " + std::to_string(indexes) +
                       " indexes, more than a header holds");
        continue;
      }
      if (!Stores.InFile(addr, 0x30 + 6 * uint64_t{indexes})) {
        Stores.Problem("table " + std::to_string(id) + ": the index slots of header " + Hex(addr) +
                       " run past the end of the file");
        continue;
      }
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

namespace {

// The header address of TableID in either map; false when neither lists it.
bool HeaderOf(const StoreCheck& Stores, uint32_t TableID, uint32_t& Addr) {
  for (bool system : {false, true})
    for (const auto& [id, addr] : Stores.MapEntries(system))
      if (id == TableID) {
        Addr = addr;
        return true;
      }
  return false;
}

// The key the engine must have stored for Record: the entry header left
// zero, the null bitmap, then each field's value (a string as its u16 length
// and bytes), zero-filled to a fixed key size.
std::vector<uint8_t> KeyOfRecord(const IndexKeyLayout& Layout, const uint8_t* Record) {
  std::vector<uint8_t> key(10 + Layout.BitmapSize, 0);
  for (size_t i = 0; i < Layout.Fields.size(); ++i) {
    const KeyFieldLayout& f = Layout.Fields[i];
    if (f.NullFlag >= 0 && Record[f.NullFlag] != 1) continue;
    key[10 + i / 8] |= static_cast<uint8_t>(0x80u >> (i % 8));
    uint32_t size = f.Size;
    if (f.SizeMarker >= 0) {
      size = std::min<uint32_t>(LoadU16(Record + f.SizeMarker), f.Size);
      key.push_back(static_cast<uint8_t>(size));
      key.push_back(static_cast<uint8_t>(size >> 8));
    }
    key.insert(key.end(), Record + f.Offset, Record + f.Offset + size);
  }
  if (Layout.FixedKeySize > key.size()) key.resize(Layout.FixedKeySize, 0);
  return key;
}

}  // namespace

void CheckIndexKeys(StoreCheck& Stores, const IndexKeyLayout& Layout) {
  const std::string name =
      "table " + std::to_string(Layout.TableID) + " index slot " + std::to_string(Layout.Slot);
  uint32_t header = 0;
  if (!HeaderOf(Stores, Layout.TableID, header)) return;  // no such table (any more)
  if (!Stores.InFile(header, 0x30 + 6 * (uint64_t{Layout.Slot} + 1)) ||
      Stores.U32(header + 0x24) <= Layout.Slot) {
    Stores.Problem(name + " is not in the table's header");
    return;
  }
  for (const KeyFieldLayout& f : Layout.Fields) {
    if (uint64_t{f.Offset} + f.Size > Layout.RecordSize || f.NullFlag >= int64_t{Layout.RecordSize} ||
        f.SizeMarker + 2 > int64_t{Layout.RecordSize}) {
      Stores.Problem(name + ": key field layout lies outside the record");
      return;
    }
  }
  IndexTreeDesc desc;
  desc.Name = name;
  desc.Root = Stores.U32(header + 0x30 + 6 * Layout.Slot);
  desc.Depth = LoadU16(Stores.At(header + 0x34 + 6 * Layout.Slot));
  desc.PageSize = static_cast<int32_t>(kIndexPage);
  desc.FixedKeySize = static_cast<int32_t>(Layout.FixedKeySize);
  const uint16_t indexCode = static_cast<uint16_t>((Layout.TableID << 4) | kIndexUse);
  const IndexPageSource source = [&](uint32_t Addr, std::vector<uint8_t>& Page) {
    if (Addr % kIndexPage != 0 || !Stores.InFile(Addr, kIndexPage) ||
        Stores.PageCode(Addr) != indexCode)
      return false;
    Page.assign(Stores.At(Addr), Stores.At(Addr) + kIndexPage);
    return true;
  };
  const IndexTreeReport tree = CheckIndexTree(source, desc);
  for (const std::string& problem : tree.Problems) Stores.Problem(problem);

  const uint16_t recordCode = static_cast<uint16_t>((Layout.TableID << 4) | kRecordUse);
  int reported = 0;
  for (size_t i = 0; i < tree.LeafEntries.size() && reported < 10; ++i) {
    const std::vector<uint8_t>& entry = tree.LeafEntries[i];
    const uint32_t record = LoadU32(entry.data() + 6);
    const std::string where = name + " entry " + std::to_string(i) + " (record " + Hex(record) + ")";
    // A record may span two pages of its store: both ends must lie in it.
    if (!Stores.InFile(record, Layout.RecordSize) || Stores.PageCode(record) != recordCode ||
        Stores.PageCode(uint64_t{record} + Layout.RecordSize - 1) != recordCode) {
      Stores.Problem(where + " names no record of the table");
      ++reported;
      continue;
    }
    std::vector<uint8_t> expected = KeyOfRecord(Layout, Stores.At(record));
    if (entry.size() != expected.size() ||
        !std::equal(entry.begin() + 10, entry.end(), expected.begin() + 10)) {
      Stores.Problem(where + ": the key does not match the record");
      ++reported;
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
