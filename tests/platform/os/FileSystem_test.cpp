#include "platform/os/FileSystem.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/rtl/Exceptions.h"
#include "support/FaultingFileSystem.h"
#include "support/TestDir.h"

namespace plat {
namespace {

using testsupport::FaultingFileSystem;
using testsupport::TempDir;

TEST(FileSystem, NativeUntilAnotherIsInstalled) {
  EXPECT_EQ(&FileSystem(), &NativeFileSystem());
  FaultingFileSystem faulting;
  {
    testsupport::InstalledFileSystem installed(faulting);
    EXPECT_EQ(&FileSystem(), &faulting);
  }
  EXPECT_EQ(&FileSystem(), &NativeFileSystem());
}

TEST(FileSystem, StreamOverTheInstalledFiles) {
  TempDir dir;
  const std::string name = dir.File("s.bin");
  {
    TFileSystemStream out(name, fmCreate);
    out.WriteBuffer("hello world", 11);
    out.SetPosition(6);
    out.WriteBuffer("there", 5);
    EXPECT_EQ(out.Size(), 11);
    out.SetSize(8);
    EXPECT_EQ(out.Position(), 8);
  }
  TFileSystemStream in(name, fmOpenRead | fmShareDenyWrite);
  char text[16] = {};
  EXPECT_EQ(in.Read(text, sizeof text), 8);
  EXPECT_EQ(std::string(text), "hello th");
  EXPECT_EQ(in.Seek(-2, TSeekOrigin::soEnd), 6);
  EXPECT_THROW(in.Seek(-7, TSeekOrigin::soCurrent), EStreamError);
  EXPECT_THROW(TFileSystemStream(dir.File("missing"), fmOpenRead), EFOpenError);

  // A write the file system fails moves nothing, and WriteBuffer says so.
  FaultingFileSystem faulting;
  faulting.FailAt(FaultingFileSystem::opWrite, 2);
  testsupport::InstalledFileSystem installed(faulting);
  TFileSystemStream out(dir.File("f.bin"), fmCreate);
  out.WriteBuffer("a", 1);
  EXPECT_THROW(out.WriteBuffer("b", 1), EWriteError);
  EXPECT_TRUE(faulting.Struck());
}

}  // namespace
}  // namespace plat
