#include "engine/storage/zelComp.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/storage/StorageTestSupport.h"
#include "platform/os/Files.h"
#include "platform/rtl/Exceptions.h"
#include "support/TestDir.h"

namespace zel {
namespace {

// Data that compresses a little but not to nothing.
std::vector<uint8_t> Sample(size_t Size, uint32_t Seed = 1) {
  std::vector<uint8_t> data(Size);
  uint32_t x = Seed;
  for (size_t i = 0; i < Size; ++i) {
    x = x * 1103515245u + 12345u;
    data[i] = static_cast<uint8_t>((i % 64 < 32) ? (x >> 24) & 0x0F : 'a' + i % 26);
  }
  return data;
}

using storagetest::Bytes;
using storagetest::Fill;

using storagetest::FileBytes;

void WriteFile(const std::string& Name, const std::vector<uint8_t>& Data) {
  std::ofstream out(Name, std::ios::binary);
  out.write(reinterpret_cast<const char*>(Data.data()), static_cast<std::streamsize>(Data.size()));
}

// Decodes a gzip file with stock zlib's own reader.
std::vector<uint8_t> StockGunzip(const std::string& Name) {
  gzFile gz = gzopen(Name.c_str(), "rb");
  EXPECT_NE(gz, nullptr);
  std::vector<uint8_t> out;
  uint8_t buf[4096];
  int n = 0;
  while ((n = gzread(gz, buf, sizeof buf)) > 0) out.insert(out.end(), buf, buf + n);
  EXPECT_EQ(n, 0);
  gzclose(gz);
  return out;
}

template <class F>
std::string ErrorText(F&& Action) {
  try {
    Action();
  } catch (const plat::Exception& e) {
    return e.Message();
  }
  return "<no error>";
}

TEST(GZip, RoundTripIsStandardGzipInBothDirections) {
  testsupport::TempDir dir;
  for (size_t size : {size_t{0}, size_t{1}, size_t{504}, size_t{1000}, size_t{1} << 20}) {
    SCOPED_TRACE(size);
    const std::vector<uint8_t> data = Sample(size);
    plat::TMemoryStream source, packed, unpacked;
    Fill(source, data);
    TGZip gzip(4096);
    gzip.Compress(source, packed);
    const std::vector<uint8_t> gz = Bytes(packed);
    ASSERT_GE(gz.size(), 20u);
    EXPECT_EQ(gz[0], 0x1F);
    EXPECT_EQ(gz[1], 0x8B);

    // Stock zlib reads what we wrote.
    WriteFile(dir.File("ours.gz"), gz);
    EXPECT_EQ(StockGunzip(dir.File("ours.gz")), data);

    packed.SetPosition(0);
    gzip.UnCompress(packed, unpacked);
    EXPECT_EQ(Bytes(unpacked), data);

    // And we read what stock zlib wrote.
    gzFile w = gzopen(dir.File("stock.gz").c_str(), "wb6");
    ASSERT_NE(w, nullptr);
    if (!data.empty()) {
      ASSERT_EQ(gzwrite(w, data.data(), static_cast<unsigned>(data.size())), int(data.size()));
    }
    gzclose(w);
    plat::TMemoryStream stock, fromStock;
    Fill(stock, FileBytes(dir.File("stock.gz")));
    gzip.UnCompress(stock, fromStock);
    EXPECT_EQ(Bytes(fromStock), data);
  }
}

TEST(GZip, EmptySourceGivesEmptyGzipMember) {
  plat::TMemoryStream source, packed, block, restored;
  TGZip gzip;
  gzip.Compress(source, packed);
  EXPECT_EQ(packed.Size(), 20);  // header, empty deflate block, trailer

  gzip.CompressAsBlock(source, block);
  const std::vector<uint8_t> raw = Bytes(block);
  ASSERT_EQ(raw.size(), 28u);
  EXPECT_EQ(std::memcmp(raw.data(), "SsB\0", 4), 0);
  EXPECT_EQ(raw[4], 20);
  EXPECT_EQ(raw[5] | raw[6] | raw[7], 0);

  block.SetPosition(0);
  gzip.UnCompressFromBlock(block, restored);
  EXPECT_EQ(restored.Size(), 0);
}

TEST(GZip, BlockRoundTripLeavesFollowingDataAlone) {
  const std::vector<uint8_t> data = Sample(5000);
  plat::TMemoryStream source, outer, restored;
  Fill(source, data);
  TGZip gzip;
  gzip.CompressAsBlock(source, outer);
  const int64_t blockEnd = outer.Size();
  outer.Write("tail", 4);
  outer.SetPosition(0);
  gzip.UnCompressFromBlock(outer, restored);
  EXPECT_EQ(Bytes(restored), data);
  EXPECT_EQ(outer.Position(), blockEnd);
}

TEST(GZip, DamagedInputIsRefused) {
  const std::vector<uint8_t> data = Sample(3000);
  plat::TMemoryStream source, packed;
  Fill(source, data);
  TGZip gzip;
  gzip.Compress(source, packed);
  const std::vector<uint8_t> good = Bytes(packed);

  struct Case {
    const char* Name;
    std::vector<uint8_t> Input;
    std::string Expected;
  };
  std::vector<uint8_t> truncated(good.begin(), good.begin() + good.size() / 2);
  std::vector<uint8_t> badCrc = good;
  badCrc[badCrc.size() - 6] ^= 0xFF;
  std::vector<uint8_t> badMethod = good;
  badMethod[2] = 7;
  const std::vector<Case> cases = {
      {"truncated", truncated, "unexpected end of file"},
      {"crc", badCrc, "incorrect data check"},
      {"method", badMethod, "unknown compression method"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    plat::TMemoryStream in, out;
    Fill(in, c.Input);
    EXPECT_EQ(ErrorText([&] { gzip.UnCompress(in, out); }), c.Expected);
  }
}

TEST(GZip, PlainDataAndTrailingBytesAreReadAsZlibDoes) {
  TGZip gzip;
  // Data without the gzip magic passes through unchanged.
  plat::TMemoryStream plain, out;
  Fill(plain, {'a', 'b', 'c'});
  gzip.UnCompress(plain, out);
  EXPECT_EQ(Bytes(out), (std::vector<uint8_t>{'a', 'b', 'c'}));

  // Two members read as one; bytes after the last member are ignored.
  plat::TMemoryStream src1, src2, packed, joined;
  Fill(src1, {'x', 'y'});
  Fill(src2, {'z'});
  gzip.Compress(src1, packed);
  gzip.Compress(src2, packed);
  packed.Write("junk", 4);
  packed.SetPosition(0);
  gzip.UnCompress(packed, joined);
  EXPECT_EQ(Bytes(joined), (std::vector<uint8_t>{'x', 'y', 'z'}));
}

TEST(GZip, ProgressReportsRunningTotals) {
  plat::TMemoryStream source, packed;
  Fill(source, Sample(10000));
  TGZip gzip(4096);
  std::vector<int64_t> seen;
  gzip.OnProgress = [&](plat::TObject* Sender, int64_t Done) {
    EXPECT_EQ(Sender, &gzip);
    seen.push_back(Done);
  };
  gzip.Compress(source, packed);
  EXPECT_EQ(seen, (std::vector<int64_t>{4096, 8192, 10000}));
}

TEST(StreamBlock, HeaderIsChecked) {
  struct Case {
    const char* Name;
    std::vector<uint8_t> Input;
    std::string Expected;
  };
  const std::vector<Case> cases = {
      {"wrong signature", {'S', 's', 'C', 0, 0, 0, 0, 0}, "Bad StreamBlock signature."},
      {"no zero byte", {'S', 's', 'B', 'x', 0, 0, 0, 0}, "Bad StreamBlock signature."},
      {"short header", {'S', 's', 'B', 0, 1}, "Bad StreamBlock signature."},
      {"payload shorter than its size", {'S', 's', 'B', 0, 9, 0, 0, 0, 1, 2}, "Stream write error"},
      {"huge size field", {'S', 's', 'B', 0, 0xFF, 0xFF, 0xFF, 0xFF, 1}, "Stream write error"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    plat::TMemoryStream in;
    Fill(in, c.Input);
    TStreamBlock block;
    EXPECT_EQ(ErrorText([&] { block.LoadFromStream(in); }), c.Expected);
    EXPECT_EQ(block.Size(), 0);
  }
  plat::TMemoryStream in;
  Fill(in, {'S', 's', 'B', 0, 2, 0, 0, 0, 7, 8, 9});
  TStreamBlock block;
  block.LoadFromStream(in);
  EXPECT_EQ(Bytes(block), (std::vector<uint8_t>{7, 8}));
  EXPECT_EQ(block.Position(), 0);
}

TEST(GZipStreams, AdaptorsCompressAndDecompress) {
  const std::vector<uint8_t> data = Sample(70000);
  plat::TMemoryStream packed;
  {
    TGZipStream zip(packed, 5);
    EXPECT_EQ(zip.Write(data.data(), 30000), 30000);
    EXPECT_EQ(zip.Write(data.data() + 30000, 40000), 40000);
    uint8_t b = 0;
    EXPECT_EQ(zip.Read(&b, 1), 0);
    EXPECT_EQ(zip.Seek(0, plat::TSeekOrigin::soBeginning), 70000);
    EXPECT_EQ(zip.Count(), 70000);
    zip.Close();
  }
  packed.SetPosition(0);
  TGUnzipStream unzip(packed);
  std::vector<uint8_t> back(data.size() + 10);
  int32_t got = 0;
  for (int32_t n; (n = unzip.Read(back.data() + got, 1000)) > 0;) got += n;
  back.resize(static_cast<size_t>(got));
  EXPECT_EQ(back, data);
  EXPECT_EQ(unzip.Count(), 70000);
  EXPECT_EQ(unzip.Write(data.data(), 1), 0);

  // A damaged stream raises zlib's text from Read.
  std::vector<uint8_t> bad = Bytes(packed);
  bad[bad.size() - 8] ^= 1;
  plat::TMemoryStream badStream;
  Fill(badStream, bad);
  TGUnzipStream badUnzip(badStream);
  std::vector<uint8_t> sink(100000);
  EXPECT_EQ(ErrorText([&] {
              while (badUnzip.Read(sink.data(), static_cast<int32_t>(sink.size())) > 0) {
              }
            }),
            "incorrect data check");
}

TEST(GZip, FilesWithSuffixAndSourceDeletion) {
  testsupport::TempDir dir;
  const std::vector<uint8_t> data = Sample(12345);
  const std::string name = dir.File("data.bin");
  WriteFile(name, data);
  TGZip gzip;
  gzip.SetDeleteSource(true);
  gzip.Compress(name);
  EXPECT_FALSE(plat::FileExists(name));
  EXPECT_EQ(StockGunzip(name + ".gz"), data);

  gzip.UnCompress(name + ".gz");
  EXPECT_FALSE(plat::FileExists(name + ".gz"));
  EXPECT_EQ(FileBytes(name), data);

  EXPECT_EQ(ErrorText([&] { gzip.UnCompress(name); }),
            "UnCompress(gzip mode): file " + name + " doesn't have .gz suffix.");

  gzip.SetDeleteSource(false);
  gzip.Compress(name, dir.File("other.z"));
  EXPECT_TRUE(plat::FileExists(name));
  gzip.UnCompress(dir.File("other.z"), dir.File("other.out"));
  EXPECT_EQ(FileBytes(dir.File("other.out")), data);
}

}  // namespace
}  // namespace zel
