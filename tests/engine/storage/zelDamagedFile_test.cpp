// Damaged database files: the inputs the database-file fuzz target keeps
// (its seeds and every input that once broke the engine) are replayed here,
// each must end in a clean read or the engine's error.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/storage/PartsDatabase.h"
#include "engine/storage/PartsDatabaseCheck.h"
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
