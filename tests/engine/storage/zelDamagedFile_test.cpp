// Damaged database files: the inputs the database-file fuzz target keeps
// (its seeds and every input that once broke the engine) are replayed here,
// each must end in a clean read or the engine's error.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/storage/PartsDatabase.h"
#include "engine/storage/PartsDatabaseCheck.h"
#include "engine/storage/StorageTestSupport.h"
#include "platform/os/Files.h"
#include "support/TestDir.h"

namespace zel {
namespace {

namespace fs = std::filesystem;

// The sample the fuzz target's seed was made from reads back whole. With
// ZEL_FUZZ_SEED_DIR set it is also copied there, to refresh the seed.
TEST(DamagedFile, SampleReadsBackWhole) {
  testsupport::TempDir dir;
  const std::string name = dir.File("parts.zel");
  partsdb::BuildSample(name);
  {
    partsdb::TDatabase db(name);
    for (const partsdb::TTableSpec& spec : partsdb::PartsTables()) {
      partsdb::TTable table(db.Tables, *partsdb::MakePartsDef(spec.Name, spec.Level, spec.TableID));
      const std::vector<partsdb::TPart> sample = partsdb::SampleParts();
      EXPECT_EQ(table.InOrder("pkID"), sample) << spec.Name;
      EXPECT_EQ(table.InOrder("ixName").size(), sample.size()) << spec.Name;
    }
  }
  EXPECT_NO_THROW(partsdb::ReadEverything(name));
  EXPECT_TRUE(partsdb::PartsAreIntact(name));
  if (const char* seeds = std::getenv("ZEL_FUZZ_SEED_DIR"))
    fs::copy_file(name, fs::path(seeds) / "parts.zel", fs::copy_options::overwrite_existing);
}

void WriteBytes(const std::string& Name, const std::vector<uint8_t>& Bytes) {
  std::ofstream out(Name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(Bytes.data()), static_cast<std::streamsize>(Bytes.size()));
}

void PutU32(std::vector<uint8_t>& Bytes, size_t At, uint32_t Value) {
  for (int i = 0; i < 4; ++i) Bytes[At + i] = static_cast<uint8_t>(Value >> (8 * i));
}

// Opening and reading a damaged file raises the engine's corruption error
// (0x2103) or its index's (0x2305), whose message holds Text.
void ExpectCorruption(const std::string& Name, const std::string& Text) {
  try {
    partsdb::ReadEverything(Name);
    ADD_FAILURE() << "damage not noticed";
  } catch (const EZelDatabaseError& e) {
    EXPECT_TRUE(e.ErrorCode() == 0x2103 || e.ErrorCode() == 0x2305) << e.Message();
    EXPECT_NE(e.Message().find(Text), std::string::npos) << e.Message();
  }
}

TEST(DamagedFile, TableHeaderSlotsAndIndexCount) {
  testsupport::TempDir dir;
  const std::string name = dir.File("parts.zel");
  partsdb::BuildSample(name);
  const std::vector<uint8_t> sample = storagetest::FileBytes(name);
  // The user table map's first entry: the plain table's ID and header.
  const size_t map = 3 * partsdb::kPageSize;
  ASSERT_EQ(storagetest::U32(sample.data() + map), 1u);
  const size_t header = storagetest::U32(sample.data() + map + 4);
  const size_t count = header + 0x24, slot0 = header + 0x30, slot1 = header + 0x36;
  ASSERT_EQ(storagetest::U32(sample.data() + count), 2u);
  const struct {
    const char* What;
    size_t At;
    uint32_t Value;
    int Width;
    const char* Text;
  } cases[] = {
      {"slot 0 with a root but depth 0", slot0 + 4, 0, 2, "index slot 0 is damaged"},
      {"slot 1 with a depth but no root", slot1, 0, 4, "index slot 1 is damaged"},
      {"both of slot 1 zero", slot1, 0, 6, "no tree for index ixName"},
      {"more indexes than the header holds", count, 1000, 4, "index count 1000"},
      {"a negative index count", count, 0xFFFFFFFF, 4, "index count"},
      {"fewer indexes than the table has", count, 1, 4, "no slot for index ixName"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    std::vector<uint8_t> bytes = sample;
    if (c.Width == 4) {
      PutU32(bytes, c.At, c.Value);
    } else {
      std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(c.At), c.Width, uint8_t{0});
    }
    WriteBytes(name, bytes);
    ExpectCorruption(name, c.Text);
    plat::DeleteFile(TDiskMgr::GetLockFileName(name));
  }
}

// A byte changed inside the zlib stream of a memo.
TEST(DamagedFile, CompressedBlobThatDoesNotInflate) {
  testsupport::TempDir dir;
  const std::string name = dir.File("parts.zel");
  partsdb::BuildSample(name);
  std::vector<uint8_t> bytes = storagetest::FileBytes(name);
  const uint8_t magic[] = {0x1F, 0x8B, 0x08};
  const auto stream = std::search(bytes.begin(), bytes.end(), std::begin(magic), std::end(magic));
  ASSERT_NE(stream, bytes.end()) << "no compressed memo in the plain table";
  for (int i = 20; i < 40; ++i) stream[i] ^= 0x5A;
  WriteBytes(name, bytes);
  ExpectCorruption(name, "Blob Notes");
}

// The integrity checker builds every index entry's key from its record.
TEST(DamagedFile, CheckerFindsARecordThatNoLongerMatchesItsKey) {
  testsupport::TempDir dir;
  const std::string name = dir.File("parts.zel");
  partsdb::BuildSample(name);
  uint32_t record = 0;
  {
    partsdb::TDatabase db(name);
    partsdb::TTable parts(db.Tables, *partsdb::MakePartsDef("Parts", encNone, 1));
    record = parts.Addresses("pkID").at(2);  // ID 3, "Sprocket"
  }
  std::vector<uint8_t> bytes = storagetest::FileBytes(name);
  const std::string sprocket = "Sprocket";
  const auto at = std::search(bytes.begin() + record, bytes.begin() + record + 64, sprocket.begin(),
                              sprocket.end());
  ASSERT_NE(at, bytes.begin() + record + 64);
  *at = 'T';
  WriteBytes(name, bytes);
  const ::testing::AssertionResult intact = partsdb::PartsAreIntact(name);
  EXPECT_FALSE(intact);
  EXPECT_NE(std::string(intact.message()).find("index slot 1 entry"), std::string::npos)
      << intact.message();
  EXPECT_NE(std::string(intact.message()).find("the key does not match the record"),
            std::string::npos);
}

// A table map naming a header in the file's last bytes: the checker reports
// it and reads nothing past the end.
TEST(DamagedFile, CheckerReportsAHeaderAtTheEndOfTheFile) {
  testsupport::TempDir dir;
  const std::string name = dir.File("parts.zel");
  partsdb::BuildSample(name);
  {
    // A last page of the plain table, whose bytes the checker reads as
    // they are (the encrypted table's would be deciphered first).
    partsdb::TDatabase db(name);
    const std::vector<uint8_t> zeros(partsdb::kPageSize, 0);
    db.Disk.WriteNewPages(1, afCached, 1, zeros.data(), iuBlobBlocks);
    db.Close();
  }
  std::vector<uint8_t> bytes = storagetest::FileBytes(name);
  for (const uint32_t fromEnd : {0x40u, 0x31u, 0x100u - 6}) {
    SCOPED_TRACE(fromEnd);
    std::vector<uint8_t> damaged = bytes;
    PutU32(damaged, 3 * partsdb::kPageSize + 4, static_cast<uint32_t>(bytes.size() - fromEnd));
    // A plausible header there: the table's ID, size and the most indexes.
    const size_t header = bytes.size() - fromEnd;
    PutU32(damaged, header, 1);
    PutU32(damaged, header + 8, 0x100);
    PutU32(damaged, header + 0x24, 34);
    WriteBytes(name, damaged);
    const ::testing::AssertionResult intact = partsdb::PartsAreIntact(name);
    EXPECT_FALSE(intact);
    EXPECT_NE(std::string(intact.message()).find("run past the end of the file"), std::string::npos)
        << intact.message();
  }
}

TEST(DamagedFile, KeptFuzzInputsGiveOnlyEngineErrors) {
  const char* source = std::getenv("ZEL_TEST_SOURCE_DIR");
  if (source == nullptr) GTEST_SKIP() << "ZEL_TEST_SOURCE_DIR not set (ctest sets it)";
  const fs::path root = fs::path(source) / "tests/engine/storage/fuzz";
  std::vector<fs::path> inputs;
  for (const char* folder : {"corpus", "crashes"})
    if (fs::is_directory(root / folder))
      for (const auto& entry : fs::directory_iterator(root / folder))
        if (entry.is_regular_file() && entry.path().filename() != "README") inputs.push_back(entry.path());
  ASSERT_FALSE(inputs.empty()) << "no inputs under " << root;
  testsupport::TempDir dir;
  const std::string name = dir.File("input.zel");
  for (const fs::path& input : inputs) {
    SCOPED_TRACE(input.filename().string());
    fs::copy_file(input, name, fs::copy_options::overwrite_existing);
    try {
      partsdb::ReadEverything(name);
    } catch (const EZelDatabaseError&) {
      // A damaged file: the engine's error is the sound outcome.
    }
    plat::DeleteFile(TDiskMgr::GetLockFileName(name));
  }
}

}  // namespace
}  // namespace zel
