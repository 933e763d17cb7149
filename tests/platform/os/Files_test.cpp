#include "platform/os/Files.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

#include "support/TestDir.h"

namespace plat {
namespace {

using testsupport::RunInChild;
using testsupport::TempDir;

TEST(Files, PositionedReadsAndWritesGrowTheFile) {
  TempDir dir;
  TOSFile file;
  ASSERT_TRUE(file.Create(dir.File("a.bin")));
  ASSERT_EQ(file.WriteAt(10, "hello", 5), 5);
  EXPECT_EQ(file.Size(), 15);
  char buffer[8] = {};
  EXPECT_EQ(file.ReadAt(10, buffer, 8), 5);  // short read at the end
  EXPECT_EQ(std::string(buffer, 5), "hello");
  EXPECT_EQ(file.ReadAt(0, buffer, 1), 1);
  EXPECT_EQ(buffer[0], 0);
  EXPECT_TRUE(file.Flush());
}

TEST(Files, ShareModesRefuseConflictingOpens) {
  TempDir dir;
  const std::string name = dir.File("db");
  TOSFile creator;
  ASSERT_TRUE(creator.Create(name));
  TOSFile other;
  EXPECT_FALSE(other.Open(name, TFileAccess::faRead, TFileShare::fsDenyNone));
  EXPECT_EQ(other.LastError(), kSharingViolation);
  creator.Close();

  TOSFile first, second, third;
  ASSERT_TRUE(first.Open(name, TFileAccess::faReadWrite, TFileShare::fsDenyNone));
  EXPECT_TRUE(second.Open(name, TFileAccess::faRead, TFileShare::fsDenyWrite));
  EXPECT_FALSE(third.Open(name, TFileAccess::faReadWrite, TFileShare::fsExclusive));
  EXPECT_EQ(third.LastError(), kSharingViolation);
  // Create must not truncate a file someone has open.
  ASSERT_EQ(first.WriteAt(0, "x", 1), 1);
  EXPECT_FALSE(third.Create(name));
  EXPECT_EQ(first.Size(), 1);
}

TEST(Files, RangeLocksBehaveAsOnWindows) {
  TempDir dir;
  const std::string name = dir.File("lck");
  TOSFile a, b;
  ASSERT_TRUE(a.Create(name));
  a.Close();
  ASSERT_TRUE(a.Open(name, TFileAccess::faReadWrite, TFileShare::fsDenyNone));
  ASSERT_TRUE(b.Open(name, TFileAccess::faReadWrite, TFileShare::fsDenyNone));

  EXPECT_TRUE(a.LockRange(1000000, 10));      // far past the end of the file
  EXPECT_FALSE(a.LockRange(1000005, 1));      // the same handle, overlapping
  EXPECT_EQ(a.LastError(), kLockViolation);
  EXPECT_FALSE(b.LockRange(1000009, 4));      // another handle, overlapping
  EXPECT_TRUE(b.LockRange(1000010, 4));       // adjacent is free
  EXPECT_FALSE(a.UnlockRange(1000000, 5));    // not the range that was locked
  EXPECT_TRUE(a.UnlockRange(1000000, 10));
  EXPECT_FALSE(a.UnlockRange(1000000, 10));   // no longer held
  EXPECT_TRUE(b.LockRange(1000000, 10));

  // Closing another descriptor of the file keeps b's locks.
  a.Close();
  EXPECT_EQ(RunInChild([&] {
              TOSFile c;
              if (!c.Open(name, TFileAccess::faReadWrite, TFileShare::fsDenyNone)) return 1;
              return c.LockRange(1000000, 1) ? 2 : 0;
            }),
            0);
  b.Close();  // and closing releases them
  EXPECT_EQ(RunInChild([&] {
              TOSFile c;
              if (!c.Open(name, TFileAccess::faReadWrite, TFileShare::fsDenyNone)) return 1;
              return c.LockRange(1000000, 1) ? 0 : 2;
            }),
            0);
}

TEST(Files, ReadOnlyHandleLocksThroughACompanionDescriptor) {
  TempDir dir;
  const std::string name = dir.File("ro");
  TOSFile writer;
  ASSERT_TRUE(writer.Create(name));
  writer.Close();
  TOSFile reader, other;
  ASSERT_TRUE(reader.Open(name, TFileAccess::faRead, TFileShare::fsDenyNone));
  ASSERT_TRUE(other.Open(name, TFileAccess::faReadWrite, TFileShare::fsDenyNone));
  EXPECT_TRUE(reader.LockRange(0, 4));
  EXPECT_FALSE(other.LockRange(2, 1));
  EXPECT_TRUE(reader.UnlockRange(0, 4));
  EXPECT_TRUE(other.LockRange(2, 1));
}

TEST(Files, NameOperations) {
  TempDir dir;
  const std::string a = dir.File("a"), b = dir.File("b");
  TOSFile file;
  ASSERT_TRUE(file.Create(a));
  ASSERT_EQ(file.WriteAt(0, "abc", 3), 3);
  file.Close();
  EXPECT_TRUE(FileExists(a));
  EXPECT_FALSE(FileExists(dir.Path()));
  EXPECT_TRUE(DirectoryExists(dir.Path()));
  EXPECT_TRUE(CopyFile(a, b, true));
  EXPECT_EQ(FileSizeByName(b), 3);
  EXPECT_FALSE(CopyFile(a, b, true));
  EXPECT_FALSE(FileIsReadOnly(a));
  ASSERT_EQ(::chmod(a.c_str(), 0444), 0);
  EXPECT_TRUE(FileIsReadOnly(a));
  EXPECT_TRUE(DeleteFile(b));
  EXPECT_FALSE(DeleteFile(b));
  EXPECT_TRUE(ForceDirectories(dir.File("x/y/z")));
  EXPECT_TRUE(DirectoryExists(dir.File("x/y/z")));
}

}  // namespace
}  // namespace plat
