#include "setup/library/cmp_TTrevCompress.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/os/Files.h"
#include "platform/win/WinFiles.h"
#include "platform/win/WinPaths.h"
#include "platform/win/WinSystem.h"
#include "platform/win/WinTestRoot.h"

namespace setup {
namespace {

namespace w = plat::win;
namespace fs = std::filesystem;

uint32_t U32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(s.at(at + static_cast<size_t>(i)));
  return v;
}
void PutU32(std::string& s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) s.at(at + static_cast<size_t>(i)) = static_cast<char>(v >> (8 * i));
}

// Bytes that deflate hardly shrinks, from a fixed seed.
std::string Noise(size_t size, uint32_t seed) {
  std::string s(size, '\0');
  for (char& c : s) {
    seed = seed * 1103515245u + 12345u;
    c = static_cast<char>(seed >> 24);
  }
  return s;
}

std::string Text(size_t size) {
  std::string s;
  while (s.size() < size) s += "the kit installs its engine, " + std::to_string(s.size()) + "\n";
  s.resize(size);
  return s;
}

class ArchiveTest : public wintest::WinRootTest {
 protected:
  void SetUp() override {
    wintest::WinRootTest::SetUp();
    ASSERT_TRUE(w::ForceDirectories("C:\\src\\sub"));
    ASSERT_TRUE(w::ForceDirectories("C:\\out"));
    archive_ = std::make_unique<TTrevCompress>(nullptr);
    archive_->SetCompressedFile("C:\\dist\\files.1");
  }

  // A tree of sources: binary, text, empty, one larger than an input block
  // and one of exactly one block.
  void MakeSources() {
    sources_ = {
        {"C:\\src\\noise.bin", Noise(100000, 1)},
        {"C:\\src\\readme.txt", Text(200000)},
        {"C:\\src\\empty.dat", ""},
        {"C:\\src\\sub\\large.bin", Noise(70000, 2) + Text(30000)},
        {"C:\\src\\block.bin", Noise(65536, 3)},
        {"C:\\src\\sub\\empty2.dat", ""},
    };
    for (const auto& [path, content] : sources_) WriteFile(path, content);
  }

  void CompressSources(TCompressionLevel level, bool append = false, int32_t id = 7) {
    archive_->SetCompressionLevel(level);
    for (const auto& [path, content] : sources_) archive_->FilesToProcess().Add(path);
    archive_->Compress(append, id);
  }

  void ExtractAll(const std::string& dir = "C:\\out") {
    archive_->SetExtractDirectory(dir);
    for (const auto& [path, content] : sources_) archive_->FilesToProcess().Add(path);
    archive_->Extract();
  }

  static std::string HostRead(const std::string& winPath) { return ReadFile(winPath); }
  static void HostWrite(const std::string& winPath, const std::string& content) {
    WriteFile(winPath, content);
  }
  // The file names of a folder, so a test sees that nothing was left behind.
  static std::vector<std::string> Folder(const std::string& dir) {
    std::vector<std::string> names;
    for (const w::TWinFindData& f : w::FindFiles(dir + "\\*.*")) {
      if ((f.Attributes & w::FILE_ATTRIBUTE_DIRECTORY) == 0) names.push_back(f.Name);
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  // The message an operation fails with.
  static std::string ErrorOf(const std::function<void()>& operation) {
    try {
      operation();
    } catch (const plat::Exception& e) {
      return e.ClassName() + ": " + e.Message();
    }
    return "no error";
  }

  std::vector<std::pair<std::string, std::string>> sources_;
  std::unique_ptr<TTrevCompress> archive_;
};

TEST_F(ArchiveTest, RoundTripsATreeAtEveryLevelWithTheFixedLayout) {
  MakeSources();
  struct Case {
    TCompressionLevel level;
    uint8_t second;  // the zlib header's flag byte
  };
  const Case cases[] = {{colNone, 0x01}, {colFastest, 0x01}, {colDefault, 0x9C}, {colMax, 0xDA}};
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.level));
    CompressSources(c.level);
    const std::string bytes = HostRead("C:\\dist\\files.1");
    ASSERT_EQ(U32(bytes, 0), sources_.size());
    EXPECT_EQ(bytes[4], 0);
    // Each record at its place, followed by its data; the next record after it.
    size_t at = 5;
    for (size_t i = 0; i < sources_.size(); ++i) {
      EXPECT_EQ(U32(bytes, at + 0), i + 1);
      const std::string& path = sources_[i].first;
      EXPECT_EQ(static_cast<uint8_t>(bytes[at + 24]), path.size());
      EXPECT_EQ(bytes.substr(at + 25, path.size()), path);
      EXPECT_EQ(U32(bytes, at + 136), at + 176);
      EXPECT_EQ(static_cast<uint8_t>(bytes[at + 176]), 0x78);
      EXPECT_EQ(static_cast<uint8_t>(bytes[at + 177]), c.second);
      EXPECT_EQ(U32(bytes, at + 132), sources_[i].second.size());
      EXPECT_EQ(U32(bytes, at + 148), 7u);
      EXPECT_EQ(U32(bytes, at + 16), 1u);
      EXPECT_EQ(U32(bytes, at + 144), 1u);
      const uint32_t next = U32(bytes, at + 128);
      EXPECT_EQ(U32(bytes, at + 20), next - 1);
      EXPECT_EQ(U32(bytes, at + 140), next - (at + 176));
      at = next;
    }
    EXPECT_EQ(at, bytes.size());

    fs::remove_all(w::HostPath("C:\\out"));
    TlzhFileStats last;
    archive_->OnStatus = [&](plat::TObject*, TlzhFileStats& s) { last = s; };
    ExtractAll();
    archive_->OnStatus = nullptr;
    EXPECT_TRUE(last.Finished);
    EXPECT_EQ(last.OverallPercentDone, 100);
    for (const auto& [path, content] : sources_) {
      const std::string out = "C:\\out\\" + w::ExtractWinFileName(path);
      EXPECT_EQ(HostRead(out), content) << path;
      EXPECT_EQ(w::FileAge(out), w::FileAge(path)) << path;
    }
    EXPECT_EQ(archive_->FilesToProcess().Count(), 0);
  }
}

TEST_F(ArchiveTest, AppendsLooksUpByIdAndPathAndRefusesLongPaths) {
  MakeSources();
  archive_->FilesToProcess().Add("C:\\src\\noise.bin");
  archive_->Compress(false, 7);
  archive_->FilesToProcess().Add("c:\\SRC\\noise.bin;ignored");  // already there
  archive_->FilesToProcess().Add("C:\\src\\readme.txt;field2;field3");
  archive_->Compress(true, 9);

  TTrevCompress reader(nullptr);
  reader.SetCompressedFile("C:\\dist\\files.1");
  EXPECT_EQ(reader.FileCount(), 2);
  EXPECT_EQ(reader.IndexOfID(7), 0);
  EXPECT_EQ(reader.IndexOfID(9), 1);
  EXPECT_EQ(reader.IndexOfID(8), -1);  // unknown: no answer, never member 0
  EXPECT_EQ(reader.IndexOfID(-1), -1);
  EXPECT_EQ(reader.IndexOfID(2000), -1);
  EXPECT_EQ(reader.IndexOfFile("C:\\SRC\\README.TXT;x"), 1);
  EXPECT_EQ(reader.IndexOfFile("C:\\src\\other.txt"), -1);
  EXPECT_EQ(reader.IndexOfFile(""), -1);
  EXPECT_EQ(reader.FileStats(1).FileHeader.FileNumber, 2);
  EXPECT_EQ(reader.FileStats(1).UncompressedSize, 200000);
  EXPECT_EQ(ErrorOf([&] { reader.FileStats(2); }),
            "ETrevCompress: Tried to access the 2th file. This file is not defined");
  EXPECT_EQ(ErrorOf([&] { reader.FileHeaders().FileHeaders(-1); }),
            "ETrevCompress: -1 is an invalid TFileHeader index in TFileHeaders.GetFileHeaders");
  std::vector<std::string> listed;
  reader.OnListing = [&](plat::TObject*, TlzhFileStats& s) { listed.push_back(s.FileName); };
  reader.List();
  EXPECT_EQ(listed, (std::vector<std::string>{"C:\\src\\noise.bin", "C:\\src\\readme.txt"}));

  // A path longer than a record holds is refused, and the archive stays.
  const std::string before = HostRead("C:\\dist\\files.1");
  const std::string longDir = "C:\\src\\" + std::string(90, 'd');
  ASSERT_TRUE(w::ForceDirectories(longDir));
  const std::string longPath = longDir + "\\long.bin";
  WriteFile(longPath, "x");
  archive_->FilesToProcess().Add(longPath);
  EXPECT_EQ(ErrorOf([&] { archive_->Compress(true, 1); }),
            "ETrevCompress: The path " + longPath +
                " is longer than the 100 characters an archive can hold");
  archive_->FilesToProcess().Add("C:\\src\\missing.bin");
  EXPECT_EQ(ErrorOf([&] { archive_->Compress(true, 1); }),
            "ETrevCompress: Cannot open the file C:\\src\\missing.bin");
  EXPECT_EQ(HostRead("C:\\dist\\files.1"), before);
  EXPECT_EQ(archive_->FilesToProcess().Count(), 0);

  // Another archive name drops the records read; the same one under another
  // volume number keeps them.
  archive_->SetCompressedFile("C:\\dist\\files.2");
  EXPECT_EQ(archive_->FileCount(), 2);
  archive_->SetCompressedFile("C:\\dist\\other.1");
  EXPECT_EQ(ErrorOf([&] { archive_->FileCount(); }),
            "ETrevCompress: Cannot open the compressed file C:\\dist\\other.1");
}

TEST_F(ArchiveTest, ReadsAndWritesAnArchiveBehindAProgram) {
  // A self-extracting program carries its archive after its own bytes.
  WriteFile("C:\\src\\a.txt", Text(5000));
  const std::string program = "MZ" + Noise(998, 9);
  ASSERT_TRUE(w::ForceDirectories("C:\\dist"));
  WriteFile("C:\\dist\\setup.exe", program);
  archive_->SetCompressedFile("C:\\dist\\setup.exe");
  archive_->SetOffset(1000);
  archive_->FilesToProcess().Add("C:\\src\\a.txt");
  archive_->Compress(true, 4);
  const std::string bytes = HostRead("C:\\dist\\setup.exe");
  EXPECT_EQ(bytes.substr(0, 1000), program);
  EXPECT_EQ(U32(bytes, 1000), 1u);
  EXPECT_EQ(U32(bytes, 1005 + 136), 181u);  // positions count from the archive's start
  // Made anew, the archive still leaves the program alone.
  archive_->FilesToProcess().Add("C:\\src\\a.txt");
  archive_->Compress(false, 4);
  EXPECT_EQ(HostRead("C:\\dist\\setup.exe"), bytes);

  TTrevCompress reader(nullptr);
  reader.SetCompressedFile("C:\\dist\\setup.exe");
  reader.SetOffset(1000);
  EXPECT_EQ(reader.IndexOfID(4), 0);
  reader.SetExtractDirectory("C:\\out");
  reader.FilesToProcess().Add("C:\\src\\a.txt");
  reader.Extract();
  EXPECT_EQ(HostRead("C:\\out\\a.txt"), Text(5000));
}

TEST_F(ArchiveTest, OverwriteModesReplaceHooksAndFilesInUse) {
  MakeSources();
  CompressSources(colDefault);
  archive_->SetExtractDirectory("C:\\out");
  WriteFile("C:\\out\\readme.txt", "existing");
  std::vector<std::string> statuses;
  archive_->OnStatus = [&](plat::TObject*, TlzhFileStats& s) {
    if (s.Finished) statuses.push_back(s.FileName);
  };

  archive_->SetOverwrite(owNever);
  archive_->FilesToProcess().Add("C:\\src\\readme.txt");
  archive_->Extract();
  EXPECT_EQ(HostRead("C:\\out\\readme.txt"), "existing");
  EXPECT_EQ(statuses, std::vector<std::string>{"C:\\src\\readme.txt"});

  // OnReplace may skip the file or give it another name.
  archive_->SetOverwrite(owAlways);
  archive_->OnReplace = [&](plat::TObject*, TlzhFileStats&) { archive_->SetSkipFile(true); };
  archive_->FilesToProcess().Add("C:\\src\\readme.txt");
  archive_->Extract();
  EXPECT_EQ(HostRead("C:\\out\\readme.txt"), "existing");
  archive_->OnReplace = [&](plat::TObject*, TlzhFileStats&) {
    archive_->SetExtractAsName("renamed.txt");
  };
  archive_->FilesToProcess().Add("C:\\src\\readme.txt");
  archive_->Extract();
  EXPECT_EQ(HostRead("C:\\out\\readme.txt"), "existing");
  EXPECT_EQ(HostRead("C:\\out\\renamed.txt"), Text(200000));
  archive_->OnReplace = nullptr;

  // A destination held open elsewhere cannot be compared by date or replaced;
  // it keeps its content and nothing is left beside it.
  {
    plat::TOSFile holder;
    ASSERT_TRUE(holder.Open(w::HostPath("C:\\out\\readme.txt"), plat::TFileAccess::faReadWrite,
                            plat::TFileShare::fsExclusive));
    archive_->SetOverwrite(owDate);
    archive_->FilesToProcess().Add("C:\\src\\readme.txt");
    EXPECT_EQ(ErrorOf([&] { archive_->Extract(); }),
              "ETrevCompress: Error comparing file versions in TTrevCompress");
    archive_->SetOverwrite(owAlways);
    archive_->FilesToProcess().Add("C:\\src\\readme.txt");
    EXPECT_EQ(ErrorOf([&] { archive_->Extract(); }),
              "ETrevCompress: Cannot create the file C:\\out\\readme.txt");
  }
  EXPECT_EQ(HostRead("C:\\out\\readme.txt"), "existing");
  EXPECT_EQ(Folder("C:\\out"), (std::vector<std::string>{"readme.txt", "renamed.txt"}));

  archive_->FilesToProcess().Add("C:\\src\\nothere.txt");
  EXPECT_EQ(ErrorOf([&] { archive_->Extract(); }),
            "ETrevCompress: The file <C:\\src\\nothere.txt> was not found in the archive "
            "<C:\\dist\\files.1>");
}

TEST_F(ArchiveTest, NamesNeverLeaveTheExtractDirectory) {
  MakeSources();
  CompressSources(colFastest);
  archive_->SetExtractDirectory("C:\\out\\");
  struct Case {
    std::string name;
    const char* result;  // the file written in C:\out, or the refusal
  };
  const Case cases[] = {
      {"..\\evil.bin", "evil.bin"},
      {"C:\\WINDOWS\\system32\\kernel.dll", "kernel.dll"},
      {"sub/../up.bin", "up.bin"},
      {"D:drive.bin", "drive.bin"},
      {"..", "refused"},
      {"a\\.", "refused"},
      {"dir\\", "refused"},
      {std::string("ok\0.bin", 7), "refused"},  // the file system would see "ok"
      {"", "block.bin"},  // no name: the stored path's name
  };
  for (const Case& c : cases) {
    fs::remove_all(w::HostPath("C:\\out"));
    archive_->OnBeforeExtracting = [&](plat::TObject*, TlzhFileStats&) {
      archive_->SetExtractAsName(c.name);
    };
    archive_->FilesToProcess().Add("C:\\src\\block.bin");
    const std::string error = ErrorOf([&] { archive_->Extract(); });
    if (std::string(c.result) == "refused") {
      EXPECT_EQ(error, std::string("ETrevCompress: The name <") + c.name +
                           "> cannot be used for a file extracted from the archive");
      EXPECT_FALSE(w::DirectoryExists("C:\\out"));
    } else {
      EXPECT_EQ(error, "no error") << c.name;
      EXPECT_EQ(Folder("C:\\out"), std::vector<std::string>{c.result}) << c.name;
    }
  }
  EXPECT_FALSE(w::FileExists("C:\\evil.bin"));
  EXPECT_FALSE(w::FileExists("C:\\up.bin"));
}

TEST_F(ArchiveTest, CorruptArchivesFailWithTheirMessageAndLeaveNoFile) {
  // One member, 20000 bytes of text; its record at 5, its data at 181.
  WriteFile("C:\\src\\one.txt", Text(20000));
  archive_->FilesToProcess().Add("C:\\src\\one.txt");
  archive_->Compress(false, 3);
  const std::string good = HostRead("C:\\dist\\files.1");
  const uint32_t compressed = U32(good, 5 + 140);
  const std::string corrupt =
      "ETrevCompress: Could not read the file headers for the compressed file. The Archive file "
      "could possible be corrupt";
  const std::string mismatch =
      "ETrevCompress: The decompressed file's size does not match with the actual size of the "
      "file.  The file is C:\\src\\one.txt";
  struct Case {
    const char* what;
    std::function<void(std::string&)> change;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"too short for a head", [](std::string& s) { s.resize(3); },
       "ETrevCompress: Could not read the file header count for the compressed file"},
      {"negative count", [](std::string& s) { PutU32(s, 0, 0xFFFFFFFF); }, corrupt},
      {"more records than the file holds", [](std::string& s) { PutU32(s, 0, 1000000); }, corrupt},
      {"unknown layout flag", [](std::string& s) { s[4] = 2; }, corrupt},
      {"record cut short", [](std::string& s) { s.resize(100); }, corrupt},
      {"path longer than its field", [](std::string& s) { s[5 + 24] = static_cast<char>(101); },
       corrupt},
      {"version longer than its field", [](std::string& s) { s[5 + 152] = static_cast<char>(21); },
       corrupt},
      {"blank path", [](std::string& s) { s[5 + 24] = 0; }, corrupt},
      {"data before its record", [](std::string& s) { PutU32(s, 5 + 136, 5); }, corrupt},
      {"data beyond the end",
       [](std::string& s) {
         PutU32(s, 5 + 136, 181 + 1000000);
         PutU32(s, 5 + 20, 181 + 1000000 + U32(s, 5 + 140) - 1);
       },
       corrupt},
      {"sizes that disagree", [](std::string& s) { PutU32(s, 5 + 140, U32(s, 5 + 140) + 1); },
       corrupt},
      {"next record not after the data", [](std::string& s) { PutU32(s, 5 + 128, 5); }, corrupt},
      {"a second volume in a one-file archive",
       [](std::string& s) {
         PutU32(s, 5 + 16, 2);
         PutU32(s, 5 + 20, 10);
       },
       corrupt},
      {"damaged data",
       [](std::string& s) {
         for (size_t i = 190; i < 230; ++i) s[i] ^= 0x5A;
       },
       mismatch},
      {"recorded size too large", [](std::string& s) { PutU32(s, 5 + 132, 20001); }, mismatch},
      {"recorded size too small", [](std::string& s) { PutU32(s, 5 + 132, 19999); }, mismatch},
      {"stream cut short",
       [compressed](std::string& s) {
         const uint32_t shorter = compressed - 10;
         PutU32(s, 5 + 140, shorter);
         PutU32(s, 5 + 20, 181 + shorter - 1);
         PutU32(s, 5 + 128, 181 + shorter);
         s.resize(181 + shorter);
       },
       mismatch},
  };
  WriteFile("C:\\out\\one.txt", "the old one");
  for (const Case& c : cases) {
    std::string bytes = good;
    c.change(bytes);
    WriteFile("C:\\dist\\bad.1", bytes);
    TTrevCompress reader(nullptr);
    reader.SetCompressedFile("C:\\dist\\bad.1");
    reader.SetExtractDirectory("C:\\out");
    reader.FilesToProcess().Add("C:\\src\\one.txt");
    EXPECT_EQ(ErrorOf([&] { reader.Extract(); }), c.error) << c.what;
    EXPECT_EQ(HostRead("C:\\out\\one.txt"), "the old one") << c.what;
    EXPECT_EQ(Folder("C:\\out"), std::vector<std::string>{"one.txt"}) << c.what;
  }
  TTrevCompress missing(nullptr);
  missing.SetCompressedFile("C:\\dist\\nothing.1");
  EXPECT_EQ(ErrorOf([&] { missing.FileCount(); }),
            "ETrevCompress: Cannot open the compressed file C:\\dist\\nothing.1");
}

// Record sizes are input: a ratio far outside 32 bits is clamped, not
// converted out of range.
TEST_F(ArchiveTest, StatisticsOfExtremeRecordedSizes) {
  WriteFile("C:\\src\\one.txt", Text(2000));
  archive_->FilesToProcess().Add("C:\\src\\one.txt");
  archive_->Compress(false, 3);
  std::string bytes = HostRead("C:\\dist\\files.1");
  // 30 MB of recorded data (a sparse tail) that unpacks to one byte.
  const uint32_t compressed = 30u << 20;
  PutU32(bytes, 5 + 140, compressed);
  PutU32(bytes, 5 + 20, 181 + compressed - 1);
  PutU32(bytes, 5 + 128, 181 + compressed);
  PutU32(bytes, 5 + 132, 1);
  WriteFile("C:\\dist\\big.1", bytes);
  fs::resize_file(w::HostPath("C:\\dist\\big.1"), 181 + uint64_t{compressed});
  TTrevCompress reader(nullptr);
  reader.SetCompressedFile("C:\\dist\\big.1");
  const TlzhFileStats stats = reader.FileStats(0);
  EXPECT_EQ(stats.CompressionRatio, INT32_MAX);
  EXPECT_EQ(stats.CompressedSize, int64_t{compressed});
  // An empty member has no ratio.
  PutU32(bytes, 5 + 132, 0);
  WriteFile("C:\\dist\\big.1", bytes);
  fs::resize_file(w::HostPath("C:\\dist\\big.1"), 181 + uint64_t{compressed});
  reader.SetCompressedFile("C:\\dist\\other.1");
  reader.SetCompressedFile("C:\\dist\\big.1");
  EXPECT_EQ(reader.FileStats(0).CompressionRatio, 0);
}

TEST_F(ArchiveTest, AbortsLeaveTheOldFileAndAWholeArchive) {
  WriteFile("C:\\src\\first.bin", Noise(30000, 5));
  WriteFile("C:\\src\\second.bin", Noise(300000, 6));
  int aborted = 0;
  archive_->OnAborted = [&](plat::TObject*) { ++aborted; };
  archive_->OnStatus = [&](plat::TObject*, TlzhFileStats& s) {
    if (s.FileName == "C:\\src\\second.bin" && !s.Finished) archive_->SetAbort(true);
  };
  archive_->FilesToProcess().Add("C:\\src\\first.bin");
  archive_->FilesToProcess().Add("C:\\src\\second.bin");
  archive_->Compress(false, 1);
  EXPECT_EQ(aborted, 1);
  EXPECT_TRUE(archive_->Abort());
  EXPECT_EQ(archive_->FilesToProcess().Count(), 0);

  // The archive holds the first member, whole.
  TTrevCompress reader(nullptr);
  reader.SetCompressedFile("C:\\dist\\files.1");
  ASSERT_EQ(reader.FileCount(), 1);
  reader.SetExtractDirectory("C:\\out");
  reader.FilesToProcess().Add("C:\\src\\first.bin");
  reader.Extract();
  EXPECT_EQ(HostRead("C:\\out\\first.bin"), Noise(30000, 5));

  // An extraction stopped in its first blocks keeps the old file.
  archive_->OnStatus = nullptr;
  archive_->FilesToProcess().Add("C:\\src\\second.bin");
  archive_->Compress(true, 2);
  WriteFile("C:\\out\\second.bin", "old");
  reader.SetCompressedFile("C:\\dist\\other.1");
  reader.SetCompressedFile("C:\\dist\\files.1");
  reader.OnAborted = [&](plat::TObject*) { ++aborted; };
  reader.OnStatus = [&](plat::TObject*, TlzhFileStats&) { reader.SetAbort(true); };
  reader.FilesToProcess().Add("C:\\src\\second.bin");
  reader.Extract();
  EXPECT_EQ(aborted, 2);
  EXPECT_EQ(HostRead("C:\\out\\second.bin"), "old");
  EXPECT_EQ(Folder("C:\\out"), (std::vector<std::string>{"first.bin", "second.bin"}));
}

// Disks for the floppy drive A:: each is a folder of the test, moved into
// A: when the drive asks for it.
class FloppyTest : public ArchiveTest {
 protected:
  std::string Box(int disk) const { return Root() + "/box" + std::to_string(disk); }

  // Takes the disk out of the drive (into its box) and puts another in.
  void Swap(int in) {
    const fs::path drive = w::HostPath("A:\\");
    if (current_ != 0) {
      fs::create_directories(Box(current_));
      for (const auto& entry : fs::directory_iterator(drive)) {
        fs::rename(entry.path(), fs::path(Box(current_)) / entry.path().filename());
      }
    }
    if (fs::exists(Box(in))) {
      for (const auto& entry : fs::directory_iterator(Box(in))) {
        fs::rename(entry.path(), drive / entry.path().filename());
      }
    }
    current_ = in;
  }

  int current_ = 1;
};

TEST_F(FloppyTest, SpreadsOverCapacityLimitedDisksAndExtractsAcrossThem) {
  sources_ = {{"C:\\src\\one.bin", Noise(20000, 11)},
              {"C:\\src\\two.bin", Noise(50000, 12)},
              {"C:\\src\\empty.dat", ""},
              {"C:\\src\\three.bin", Noise(9000, 13)}};
  for (const auto& [path, content] : sources_) WriteFile(path, content);
  CompressSources(colMax);
  const uint32_t first = archive_->FileHeaders().FileHeaders(0).CompressedSize;
  // Disk 1 takes the records and exactly the first member.
  const uint32_t capacity = 5 + 4 * 176 + first;
  w::SetFloppyCapacity(capacity);

  std::vector<int> asked;
  archive_->OnNewDisk = [&](plat::TObject*, int32_t disk, std::string& path) {
    asked.push_back(disk);
    EXPECT_EQ(path, "A:");
    Swap(disk);
  };
  archive_->SpreadOntoDisks("A:\\files.1");
  // Disk 1 again at the end, for the records.
  ASSERT_GE(asked.size(), 3u);
  EXPECT_EQ(asked.front(), 2);
  EXPECT_EQ(asked.back(), 1);
  const int disks = asked[asked.size() - 2];

  const std::string volume1 = HostRead("A:\\files.1");
  EXPECT_EQ(volume1.size(), capacity);
  EXPECT_EQ(U32(volume1, 0), 4u);
  EXPECT_EQ(volume1[4], 1);
  for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ(U32(volume1, 5 + i * 176 + 128), 5 + (i + 1) * 176);
  // The first member ends exactly at the end of disk 1; the second begins disk 2.
  EXPECT_EQ(U32(volume1, 5 + 16), 1u);
  EXPECT_EQ(U32(volume1, 5 + 20), capacity - 1);
  EXPECT_EQ(U32(volume1, 5 + 176 + 144), 2u);
  EXPECT_EQ(U32(volume1, 5 + 176 + 136), 0u);
  EXPECT_GT(U32(volume1, 5 + 176 + 16), 2u);  // the second member spans disks

  // Extraction asks for each disk in turn.
  TTrevCompress floppy(nullptr);
  floppy.SetCompressedFile("A:\\files.1");
  std::vector<int> wanted;
  floppy.OnNewDisk = [&](plat::TObject*, int32_t disk, std::string& path) {
    wanted.push_back(disk);
    EXPECT_EQ(path, "A:");
    Swap(disk);
  };
  floppy.SetExtractDirectory("C:\\out");
  for (const auto& [path, content] : sources_) floppy.FilesToProcess().Add(path);
  floppy.Extract();
  for (const auto& [path, content] : sources_) {
    EXPECT_EQ(HostRead("C:\\out\\" + w::ExtractWinFileName(path)), content) << path;
  }
  std::vector<int> expected;
  for (int d = 2; d <= disks; ++d) expected.push_back(d);
  EXPECT_EQ(wanted, expected);
}

TEST_F(FloppyTest, MissingDisksAndDisksTooSmall) {
  sources_ = {{"C:\\src\\one.bin", Noise(5000, 21)}, {"C:\\src\\two.bin", Noise(5000, 22)}};
  for (const auto& [path, content] : sources_) WriteFile(path, content);
  CompressSources(colMax);

  w::SetFloppyCapacity(5 + 2 * 176 - 1);
  EXPECT_EQ(ErrorOf([&] { archive_->SpreadOntoDisks("A:\\files.1"); }),
            "ETrevCompress: There is too little space on this disk to operate");
  w::SetFloppyCapacity(6000);
  EXPECT_EQ(ErrorOf([&] { archive_->SpreadOntoDisks("A:\\files.1"); }),
            "ETrevCompress: There was no event handler for the OnNewDisk event, therefore no new "
            "disk could be inserted");
  // A new disk must take at least the rest of the block being written.
  archive_->OnNewDisk = [&](plat::TObject*, int32_t disk, std::string&) {
    Swap(disk);
    w::SetFloppyCapacity(100);
  };
  EXPECT_EQ(ErrorOf([&] { archive_->SpreadOntoDisks("A:\\files.1"); }),
            "ETrevCompress: There is too little space on this disk to operate");

  w::SetFloppyCapacity(6000);
  fs::remove_all(Box(2));
  current_ = 1;
  for (const auto& entry : fs::directory_iterator(w::HostPath("A:\\"))) fs::remove(entry.path());
  archive_->OnNewDisk = [&](plat::TObject*, int32_t disk, std::string&) { Swap(disk); };
  archive_->SpreadOntoDisks("A:\\files.1");
  ASSERT_EQ(current_, 1);

  // Reading without a handler, and with one that never finds the disk.
  TTrevCompress floppy(nullptr);
  floppy.SetCompressedFile("A:\\files.1");
  floppy.SetExtractDirectory("C:\\out");
  floppy.FilesToProcess().Add("C:\\src\\two.bin");
  EXPECT_EQ(ErrorOf([&] { floppy.Extract(); }),
            "ETrevCompress: Could not open the correct disk file 2");
  int calls = 0;
  floppy.OnNewDisk = [&](plat::TObject*, int32_t, std::string& path) {
    ++calls;
    path = "C:\\nowhere";
  };
  floppy.FilesToProcess().Add("C:\\src\\two.bin");
  EXPECT_EQ(ErrorOf([&] { floppy.Extract(); }),
            "ETrevCompress: Cannot open the compressed file C:\\nowhere\\files.2");
  EXPECT_EQ(calls, 4);
  EXPECT_TRUE(Folder("C:\\out").empty());

  // A spanning member's recorded size is bounded by the volumes it spans:
  // the rest of its first volume, whole volumes between, and its last
  // volume up to its last byte.
  {
    const std::string good = HostRead("A:\\files.1");
    ASSERT_EQ(U32(good, 5 + 176 + 144) & 0xFF, 1u);
    ASSERT_EQ(U32(good, 5 + 176 + 16), 2u);  // the second member spans disks 1 and 2
    const uint32_t exact = static_cast<uint32_t>(good.size()) - U32(good, 5 + 176 + 136) +
                           U32(good, 5 + 176 + 20) + 1;
    ASSERT_EQ(U32(good, 5 + 176 + 140), exact);
    for (const uint32_t size : {exact + 1, 0xFFFFFF00u, 0x80000000u}) {
      std::string bytes = good;
      PutU32(bytes, 5 + 176 + 140, size);
      WriteFile("A:\\files.1", bytes);
      TTrevCompress reader(nullptr);
      reader.SetCompressedFile("A:\\files.1");
      EXPECT_EQ(ErrorOf([&] { reader.FileCount(); }),
                "ETrevCompress: Could not read the file headers for the compressed file. The "
                "Archive file could possible be corrupt")
          << size;
    }
    WriteFile("A:\\files.1", good);
  }

  // A first-volume field of 0 reads as volume 1.
  std::string bytes = HostRead("A:\\files.1");
  PutU32(bytes, 5 + 144, 0);
  WriteFile("A:\\files.1", bytes);
  floppy.SetCompressedFile("C:\\dist\\other.1");
  floppy.SetCompressedFile("A:\\files.1");
  floppy.FilesToProcess().Add("C:\\src\\one.bin");
  floppy.Extract();
  EXPECT_EQ(HostRead("C:\\out\\one.bin"), Noise(5000, 21));
}

}  // namespace
}  // namespace setup
