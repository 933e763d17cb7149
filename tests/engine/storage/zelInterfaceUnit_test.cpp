#include "engine/storage/zelInterfaceUnit.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "engine/storage/StorageTestSupport.h"
#include "engine/storage/zelCommon.h"
#include "platform/rtl/Lists.h"

namespace zel {
namespace {

using storagetest::ExpectError;

std::vector<uint8_t> Sample(size_t Size, uint32_t Seed = 7) {
  std::vector<uint8_t> data(Size);
  uint32_t x = Seed;
  for (size_t i = 0; i < Size; ++i) {
    x = x * 1664525u + 1013904223u;
    data[i] = static_cast<uint8_t>(i % 3 == 0 ? 'a' + i % 26 : x >> 24);
  }
  return data;
}

using storagetest::Bytes;
using storagetest::Fill;

using storagetest::U32;

// ---------------------------------------------------------------- base and memory stores

TEST(BaseIOInterface, MissingOperationsAreRefused) {
  TBaseIOInterface store;
  uint8_t buf[4] = {};
  ExpectError(0x2751, "", [&] { store.Empty(true); });
  ExpectError(0x2751, "", [&] { store.AllocateNewAddress(4, buf); });
  ExpectError(0x2751, "", [&] { store.ReleaseBlock(1, 4); });
  ExpectError(0x2751, "", [&] { store.WriteBlock(1, 4, buf); });
  ExpectError(0x2751, "", [&] { store.WriteBlockHeader(1, 4, buf); });
  EXPECT_FALSE(store.CheckPageValid(1));
  EXPECT_EQ(store.GetNextMemoryBlockAddress(0), 0u);
  store.SetTableID(0x0ABC);
  store.SetUsage(iuRecords);
  store.Open();
  EXPECT_EQ(store.OwnerFlag(), 0xABC9);  // (TableID shl 4) or Usage, cut to 16 bits
}

TEST(MemoryIOInterface, AddressesAreSmallNonZeroAndInAllocationOrder) {
  TMemoryIOInterface store;
  store.SetBlockSize(32);
  store.Open();
  EXPECT_EQ(store.IOMode(), iomMemory);
  std::vector<uint32_t> addrs;
  for (uint8_t i = 0; i < 5; ++i) {
    const std::vector<uint8_t> block(32, i);
    addrs.push_back(store.AllocateNewAddress(32, block.data()));
  }
  for (size_t i = 0; i < addrs.size(); ++i) {
    EXPECT_NE(addrs[i], 0u);
    EXPECT_LT(addrs[i], 0x10000u) << "an address fits small 32-bit fields";
    if (i > 0) {
      EXPECT_GT(addrs[i], addrs[i - 1]);
    }
  }
  std::vector<uint32_t> listed;
  store.ListBlocks(listed);
  EXPECT_EQ(listed, addrs);

  // A scan by GetNextMemoryBlockAddress survives deleting the block it
  // stands on, and a released number is never handed out again.
  std::vector<uint32_t> seen;
  for (uint32_t a = store.GetNextMemoryBlockAddress(0); a != 0;
       a = store.GetNextMemoryBlockAddress(a)) {
    seen.push_back(a);
    if (a == addrs[2]) store.ReleaseBlock(a, 32);
  }
  EXPECT_EQ(seen, addrs);
  EXPECT_FALSE(store.CheckBlockAddressValid(addrs[2]));
  const std::vector<uint8_t> block(32, 9);
  EXPECT_GT(store.AllocateNewAddress(32, block.data()), addrs.back());
}

TEST(MemoryIOInterface, ManyBlocksReleasedInPatternsStayFoundListedAndScanned) {
  // Enough blocks for many slot pages; releases empty whole pages at the
  // front, at the back and in the middle, and thin others out.
  TMemoryIOInterface store;
  store.SetBlockSize(8);
  std::vector<uint32_t> live;
  const auto add = [&](uint32_t Tag) {
    uint8_t block[8] = {};
    std::memcpy(block, &Tag, sizeof Tag);
    live.push_back(store.AllocateNewAddress(8, block));
  };
  const auto release = [&](auto&& Pick) {
    std::vector<uint32_t> kept;
    for (size_t i = 0; i < live.size(); ++i) {
      if (Pick(i))
        store.ReleaseBlock(live[i], 8);
      else
        kept.push_back(live[i]);
    }
    live = kept;
  };
  const auto expectStore = [&](const char* Step) {
    SCOPED_TRACE(Step);
    EXPECT_EQ(store.BlockCount(), static_cast<int32_t>(live.size()));
    std::vector<uint32_t> listed;
    store.ListBlocks(listed);
    EXPECT_EQ(listed, live);
    std::vector<uint32_t> scanned;
    for (uint32_t a = store.GetNextMemoryBlockAddress(0); a != 0; a = store.GetNextMemoryBlockAddress(a))
      scanned.push_back(a);
    EXPECT_EQ(scanned, live);
    for (uint32_t a : live) {
      uint8_t out[8];
      store.ReadBlock(a, 8, out);
      uint32_t tag = 0;
      std::memcpy(&tag, out, sizeof tag);
      EXPECT_EQ(tag, a * 3u) << a;
    }
  };
  const uint32_t first = store.AllocateNewAddress(8, std::vector<uint8_t>(8).data());
  store.ReleaseBlock(first, 8);
  for (uint32_t i = 0; i < 1000; ++i) add((first + 1 + i) * 3u);
  expectStore("filled");
  release([](size_t i) { return i < 300; });
  expectStore("front released");
  release([&](size_t i) { return i + 200 >= live.size(); });
  expectStore("back released");
  release([](size_t i) { return i >= 100 && i < 300; });
  expectStore("middle released");
  release([](size_t i) { return i % 7 != 0; });
  expectStore("thinned");
  const uint32_t gone = live.front() + 1;
  EXPECT_FALSE(store.CheckBlockAddressValid(gone));
  std::vector<uint8_t> out(8);
  ExpectError(0x2185, "block address not found", [&] { store.ReadBlock(gone, 8, out.data()); });
  const uint32_t next = store.AllocateNewAddress(8, std::vector<uint8_t>(8).data());
  EXPECT_EQ(next, first + 1001) << "numbers go on where they were";
  release([](size_t) { return true; });
  store.ReleaseBlock(next, 8);
  expectStore("all released");
  add((next + 1) * 3u);
  expectStore("refilled");
  store.Empty(true);
  live.clear();
  expectStore("emptied");
  add((next + 2) * 3u);
  expectStore("after empty");
}

TEST(MemoryIOInterface, ReadsAndWritesAreChecked) {
  TMemoryIOInterface store;
  store.SetBlockSize(16);
  const std::vector<uint8_t> data = Sample(16);
  const uint32_t addr = store.AllocateNewAddress(16, data.data());
  std::vector<uint8_t> out(16);
  store.ReadBlock(addr, 16, out.data());
  EXPECT_EQ(out, data);

  uint8_t* p = nullptr;
  store.ReadBlockByRef(addr, 16, p);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(std::memcmp(p, data.data(), 16), 0);
  ExpectError(0x2185, "buffers equal", [&] { store.ReadBlock(addr, 16, p); });

  // Writing to an unlisted address does nothing; reading from one fails.
  const std::vector<uint8_t> other(16, 0xEE);
  store.WriteBlock(addr + 100, 16, other.data());
  store.WriteBlockHeader(addr + 100, 4, other.data());
  plat::TStringList debug;
  store.SetDebugStrings(&debug);
  ExpectError(0x2185, "block address not found",
              [&] { store.ReadBlock(addr + 100, 16, out.data()); });
  EXPECT_GE(debug.Count(), 2);
  ExpectError(0x2185, "nil pointer", [&] { store.WriteBlock(addr, 16, nullptr); });
  // Reaching past the block is refused instead of done.
  std::vector<uint8_t> big(64);
  ExpectError(0x2185, "", [&] { store.ReadBlock(addr, 64, big.data()); });
  ExpectError(0x2185, "", [&] { store.WriteBlock(addr, 64, big.data()); });

  store.WriteBlockHeader(addr, 4, other.data());
  store.ReadBlock(addr, 16, out.data());
  EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 4), std::vector<uint8_t>(4, 0xEE));
  EXPECT_EQ(std::vector<uint8_t>(out.begin() + 4, out.end()),
            std::vector<uint8_t>(data.begin() + 4, data.end()));

  // A block smaller than the block size still holds a whole block.
  const uint32_t small = store.AllocateNewAddress(4, data.data());
  store.ReadBlock(small, 16, out.data());
  EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 4),
            std::vector<uint8_t>(data.begin(), data.begin() + 4));
  EXPECT_EQ(std::vector<uint8_t>(out.begin() + 4, out.end()), std::vector<uint8_t>(12, 0));

  store.Empty(true);
  EXPECT_EQ(store.BlockCount(), 0);
  EXPECT_EQ(store.GetNextMemoryBlockAddress(0), 0u);
}

TEST(MemoryIOInterface, BlocksOfMixedSizesInOnePageKeepTheirBytes) {
  // Blocks of the block size share their page's room; larger ones, and
  // blocks of a block size set later, are kept apart in the same pages.
  TMemoryIOInterface store;
  store.SetBlockSize(16);
  std::vector<std::pair<uint32_t, std::vector<uint8_t>>> blocks;
  const auto add = [&](size_t Size) {
    std::vector<uint8_t> data = Sample(Size, static_cast<uint32_t>(blocks.size() + 1));
    blocks.emplace_back(store.AllocateNewAddress(static_cast<int32_t>(Size), data.data()), data);
  };
  const auto expectBlocks = [&](const char* Step) {
    SCOPED_TRACE(Step);
    for (const auto& [addr, data] : blocks) {
      std::vector<uint8_t> out(data.size());
      store.ReadBlock(addr, static_cast<int32_t>(out.size()), out.data());
      EXPECT_EQ(out, data) << addr;
    }
  };
  for (int32_t i = 0; i < 150; ++i) add(i % 3 == 2 ? 40 : 16);
  store.SetBlockSize(24);
  for (int32_t i = 0; i < 100; ++i) add(i % 2 == 0 ? 24 : 16);
  expectBlocks("added");
  for (size_t i = 0; i < blocks.size(); i += 5) {
    blocks[i].second = Sample(blocks[i].second.size(), 99);
    store.WriteBlock(blocks[i].first, static_cast<int32_t>(blocks[i].second.size()),
                     blocks[i].second.data());
  }
  expectBlocks("written");
  std::vector<std::pair<uint32_t, std::vector<uint8_t>>> kept;
  for (size_t i = 0; i < blocks.size(); ++i) {
    if (i % 4 == 1)
      store.ReleaseBlock(blocks[i].first, static_cast<int32_t>(blocks[i].second.size()));
    else
      kept.push_back(blocks[i]);
  }
  blocks = kept;
  expectBlocks("thinned");
  EXPECT_EQ(store.BlockCount(), static_cast<int32_t>(blocks.size()));
}
// ---------------------------------------------------------------- blob chains

struct BlobFixture {
  explicit BlobFixture(TBaseIOInterface& Store, uint32_t BlockSize = 512) : store(Store) {
    blobs.SetIOInterface(&store);
    blobs.SetBlobBlockSize(BlockSize);
    blobs.Open();
  }

  uint32_t Insert(const std::vector<uint8_t>& Data) {
    Fill(stream, Data);
    return blobs.InsertBlob("Memo", stream, mode, value);
  }
  uint32_t Edit(uint32_t Addr, const std::vector<uint8_t>& Data) {
    Fill(stream, Data);
    return blobs.EditBlob("Memo", Addr, 0, stream, mode, value);
  }
  std::vector<uint8_t> Read(uint32_t Addr) {
    plat::TMemoryStream out;
    const int64_t n = blobs.ReadBlob("Memo", Addr, value, mode, out);
    EXPECT_EQ(n, out.Size());
    return Bytes(out);
  }
  // The chain's blocks: (address, bytes used).
  std::vector<std::pair<uint32_t, uint32_t>> Chain(uint32_t Addr) {
    std::vector<std::pair<uint32_t, uint32_t>> chain;
    std::vector<uint8_t> block(blobs.BlobBlockSize());
    while (Addr != 0 && chain.size() < 100000) {
      store.ReadBlock(Addr, static_cast<int32_t>(block.size()), block.data());
      chain.emplace_back(Addr, U32(block.data() + 4));
      Addr = U32(block.data());
    }
    return chain;
  }

  TBaseIOInterface& store;
  TBlobInterface blobs;
  plat::TMemoryStream stream;
  TDataCompressionMode mode = dcNone;
  int32_t value = 0;
};

TEST(BlobInterface, OpenNeedsStoreAndBlockSize) {
  TBlobInterface blobs;
  ExpectError(0x2185, "IOInterface is null", [&] { blobs.Open(); });
  TMemoryIOInterface store;
  blobs.SetIOInterface(&store);
  ExpectError(0x2185, "Block size is 0", [&] { blobs.Open(); });
  blobs.SetBlobBlockSize(8);  // no room for data
  ExpectError(0x2185, "", [&] { blobs.Open(); });
}

TEST(BlobInterface, ChainsHoldTheDataInFullBlocksAndALastOne) {
  struct Case {
    size_t Size;
    std::vector<uint32_t> Used;
  };
  const std::vector<Case> cases = {
      {0, {}}, {1, {1}}, {504, {504}}, {505, {504, 1}}, {1000, {504, 496}}, {1008, {504, 504}},
  };
  TMemoryIOInterface store;
  store.SetBlockSize(512);
  BlobFixture f(store);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Size);
    const std::vector<uint8_t> data = Sample(c.Size);
    const uint32_t addr = f.Insert(data);
    EXPECT_EQ(f.mode, dcNone);
    EXPECT_EQ(f.value, 0);
    EXPECT_EQ(addr == 0, c.Size == 0);
    std::vector<uint32_t> used;
    for (auto& [a, u] : f.Chain(addr)) used.push_back(u);
    EXPECT_EQ(used, c.Used);
    EXPECT_EQ(f.Read(addr), data);
    f.blobs.DeleteBlob(addr, static_cast<int32_t>(c.Size));
    EXPECT_EQ(store.BlockCount(), 0);
  }
}

TEST(BlobInterface, EditGrowsAndShrinksInPlace) {
  TMemoryIOInterface store;
  store.SetBlockSize(512);
  BlobFixture f(store);
  const std::vector<uint8_t> small = Sample(600, 1);
  const uint32_t addr = f.Insert(small);
  ASSERT_EQ(f.Chain(addr).size(), 2u);

  // Growing keeps the first block and hangs a new chain behind the old one.
  const std::vector<uint8_t> big = Sample(3000, 2);
  EXPECT_EQ(f.Edit(addr, big), addr);
  EXPECT_EQ(f.Read(addr), big);
  EXPECT_EQ(f.Chain(addr).size(), 6u);
  EXPECT_EQ(store.BlockCount(), 6);

  // Shrinking releases the surplus blocks.
  const std::vector<uint8_t> tiny = Sample(10, 3);
  EXPECT_EQ(f.Edit(addr, tiny), addr);
  EXPECT_EQ(f.Read(addr), tiny);
  EXPECT_EQ(store.BlockCount(), 1);

  // Same size again, then to nothing: the whole chain goes and no address
  // is left to point at freed blocks.
  EXPECT_EQ(f.Edit(addr, Sample(10, 4)), addr);
  EXPECT_EQ(f.Read(addr), Sample(10, 4));
  EXPECT_EQ(f.Edit(addr, {}), 0u);
  EXPECT_EQ(store.BlockCount(), 0);
  // Editing "no blob" with data makes a new chain.
  const uint32_t fresh = f.Edit(0, small);
  EXPECT_NE(fresh, 0u);
  EXPECT_EQ(f.Read(fresh), small);
}

TEST(BlobInterface, CompressionWithoutHandlerStoresGzip) {
  TMemoryIOInterface store;
  store.SetBlockSize(512);
  BlobFixture f(store);
  f.blobs.SetUseCompression(true);
  const std::vector<uint8_t> data(20000, 'z');
  const uint32_t addr = f.Insert(data);
  EXPECT_EQ(f.mode, dcZelZLib);
  EXPECT_EQ(f.value, 1);
  // The stored bytes are a gzip stream that stock zlib decodes.
  plat::TMemoryStream raw;
  f.blobs.ReadBlob("Memo", addr, 0, dcNone, raw);
  std::vector<uint8_t> stored = Bytes(raw);
  ASSERT_LT(stored.size(), data.size());
  std::vector<uint8_t> out(data.size() + 10);
  z_stream z{};
  ASSERT_EQ(inflateInit2(&z, 15 + 16), Z_OK);
  z.next_in = stored.data();
  z.avail_in = static_cast<uInt>(stored.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  inflateEnd(&z);
  EXPECT_EQ(out, data);
  EXPECT_EQ(f.Read(addr), data);

  // An edit recompresses in place.
  const std::vector<uint8_t> other = Sample(5000);
  EXPECT_EQ(f.Edit(addr, other), addr);
  EXPECT_EQ(f.Read(addr), other);
}

TEST(BlobInterface, HostCompressionEvents) {
  TMemoryIOInterface store;
  store.SetBlockSize(64);
  BlobFixture f(store, 64);
  f.blobs.SetUseCompression(true);
  // The host "compresses" by reversing the bytes.
  f.blobs.SetOnCompressBlob([](const std::string& Field, plat::TStream& Source, plat::TStream& Dest,
                               TDataCompressionMode& Mode, int32_t& Value) {
    EXPECT_EQ(Field, "Memo");
    EXPECT_EQ(Mode, dcZelZLib);
    std::vector<uint8_t> data(static_cast<size_t>(Source.Size()));
    Source.ReadBuffer(data.data(), static_cast<int32_t>(data.size()));
    std::reverse(data.begin(), data.end());
    Dest.WriteBuffer(data.data(), static_cast<int32_t>(data.size()));
    Mode = dcUsrCustom;
    Value = 42;
  });
  const std::vector<uint8_t> data = Sample(300);
  const uint32_t addr = f.Insert(data);
  EXPECT_EQ(f.mode, dcUsrCustom);
  EXPECT_EQ(f.value, 42);

  // Without a decompress handler the stored bytes come back raw.
  std::vector<uint8_t> reversed(data.rbegin(), data.rend());
  EXPECT_EQ(f.Read(addr), reversed);

  f.blobs.SetOnDecompressBlob([](const std::string&, plat::TStream& Source, plat::TStream& Dest,
                                 TDataCompressionMode Mode, int32_t Value) {
    EXPECT_EQ(Mode, dcUsrCustom);
    EXPECT_EQ(Value, 42);
    std::vector<uint8_t> bytes(static_cast<size_t>(Source.Size()));
    Source.ReadBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
    std::reverse(bytes.begin(), bytes.end());
    Dest.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  });
  EXPECT_EQ(f.Read(addr), data);

  // A handler that leaves dcNone stores the data as it is.
  f.blobs.SetOnCompressBlob([](const std::string&, plat::TStream&, plat::TStream&,
                               TDataCompressionMode& Mode, int32_t&) { Mode = dcNone; });
  const uint32_t plain = f.Insert(data);
  EXPECT_EQ(f.mode, dcNone);
  EXPECT_EQ(f.Read(plain), data);

  // dcZelCustom is not a mode the engine can store or read.
  f.blobs.SetOnCompressBlob([](const std::string&, plat::TStream&, plat::TStream&,
                               TDataCompressionMode& Mode, int32_t&) { Mode = dcZelCustom; });
  ExpectError(0x2A04, "The blob compression mode is not recognized", [&] { f.Insert(data); });
  plat::TMemoryStream out;
  ExpectError(0x2A04, "", [&] { f.blobs.ReadBlob("Memo", plain, 0, dcZelCustom, out); });
}

TEST(BlobInterface, DamagedChainsAreRefused) {
  TMemoryIOInterface store;
  store.SetBlockSize(64);
  BlobFixture f(store, 64);
  const uint32_t addr = f.Insert(Sample(200));
  auto chain = f.Chain(addr);
  ASSERT_EQ(chain.size(), 4u);
  std::vector<uint8_t> block(64);

  // The last block points back at the first: reading, editing and deleting
  // end with an error instead of running forever.
  store.ReadBlock(chain[3].first, 64, block.data());
  std::memcpy(block.data(), &addr, 4);
  store.WriteBlock(chain[3].first, 64, block.data());
  plat::TMemoryStream out;
  ExpectError(0x2103, "loops", [&] { f.blobs.ReadBlob("Memo", addr, 0, dcNone, out); });
  ExpectError(0x2103, "loops", [&] { f.Edit(addr, Sample(2000)); });
  ExpectError(0x2103, "loops", [&] { f.blobs.DeleteBlob(addr, 200); });
  EXPECT_EQ(store.BlockCount(), 4) << "nothing is released from a damaged chain";

  // A used count larger than the block's data area.
  store.ReadBlock(chain[1].first, 64, block.data());
  const uint32_t tooMany = 57;
  std::memcpy(block.data() + 4, &tooMany, 4);
  store.WriteBlock(chain[1].first, 64, block.data());
  ExpectError(0x2103, "more bytes", [&] { f.blobs.ReadBlob("Memo", addr, 0, dcNone, out); });
}

}  // namespace
}  // namespace zel
