#include "platform/rtl/Streams.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/RtlTestSupport.h"
#include "support/TestDir.h"

namespace plat {
namespace {

std::string Content(TMemoryStream& stream) {
  return std::string(static_cast<const char*>(stream.Memory()), static_cast<size_t>(stream.Size()));
}

using rtltest::MessageOf;

TEST(TMemoryStreamTest, ReadWriteSeekAndSize) {
  TMemoryStream stream;
  EXPECT_EQ(stream.Memory(), nullptr);
  stream.WriteBuffer("hello world", 11);
  EXPECT_EQ(stream.Position(), 11);
  EXPECT_EQ(stream.Seek(-5, TSeekOrigin::soEnd), 6);
  stream.WriteBuffer("WORLD!", 6);
  EXPECT_EQ(Content(stream), "hello WORLD!");

  char buffer[8] = {};
  stream.SetPosition(6);
  EXPECT_EQ(stream.Read(buffer, 8), 6);
  EXPECT_EQ(std::string(buffer, 6), "WORLD!");
  EXPECT_EQ(stream.Read(buffer, 8), 0);
  stream.SetPosition(10);
  EXPECT_EQ(MessageOf([&] { stream.ReadBuffer(buffer, 4); }), "EReadError: Stream read error");

  // Writing past the end fills the gap with zeros.
  stream.Seek(3, TSeekOrigin::soEnd);
  stream.WriteBuffer("!", 1);
  EXPECT_EQ(Content(stream), std::string("hello WORLD!\0\0\0!", 16));

  stream.SetSize(5);
  EXPECT_EQ(stream.Position(), 5);
  EXPECT_EQ(Content(stream), "hello");
  stream.SetSize(7);
  EXPECT_EQ(Content(stream), std::string("hello\0\0", 7));
  EXPECT_EQ(MessageOf([&] { stream.SetSize(-1); }), "EStreamError: Invalid stream size");

  // A position before the start reads and writes nothing.
  stream.Seek(-20, TSeekOrigin::soCurrent);
  EXPECT_EQ(stream.Read(buffer, 1), 0);
  EXPECT_EQ(stream.Write("x", 1), 0);

  stream.Clear();
  EXPECT_EQ(stream.Size(), 0);
  EXPECT_EQ(stream.Position(), 0);
}

TEST(TMemoryStreamTest, LoadAndSave) {
  testsupport::TempDir dir;
  TMemoryStream source;
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
  source.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  source.SaveToFile(dir.File("bytes.bin"));

  TMemoryStream loaded;
  loaded.LoadFromFile(dir.File("bytes.bin"));
  EXPECT_EQ(Content(loaded), bytes);

  TStringStream text("abc");
  text.SetPosition(2);
  loaded.LoadFromStream(text);  // from the start, whatever the position
  EXPECT_EQ(Content(loaded), "abc");
  TStringStream copy;
  loaded.SaveToStream(copy);
  EXPECT_EQ(copy.DataString(), "abc");

  // A failed load keeps the old content.
  EXPECT_EQ(MessageOf([&] { loaded.LoadFromFile(dir.File("none")); }).rfind("EFOpenError: ", 0),
            0u);
  EXPECT_EQ(Content(loaded), "abc");
}

TEST(TStringStreamTest, WritesInPlace) {
  TStringStream stream("abcdef");
  stream.SetPosition(2);
  stream.WriteBuffer("XY", 2);
  EXPECT_EQ(stream.DataString(), "abXYef");
  stream.Seek(0, TSeekOrigin::soEnd);
  stream.WriteBuffer("gh", 2);
  EXPECT_EQ(stream.DataString(), "abXYefgh");
  char buffer[3];
  stream.SetPosition(6);
  EXPECT_EQ(stream.Read(buffer, 3), 2);
  stream.SetSize(3);
  EXPECT_EQ(stream.DataString(), "abX");
  EXPECT_EQ(stream.Position(), 3);

  TMemoryStream memory;
  memory.WriteBuffer("12345", 5);
  TStringStream target;
  EXPECT_EQ(target.CopyFrom(memory, 0), 5);
  EXPECT_EQ(target.DataString(), "12345");
}

TEST(StreamHelpersTest, WriteAllAndReadFromThePositionToTheEnd) {
  TStringStream stream;
  const std::string text = "header|body";
  WriteStreamData(stream, text.data(), static_cast<int64_t>(text.size()));
  WriteStreamData(stream, nullptr, 0);
  EXPECT_EQ(stream.DataString(), text);
  stream.SetPosition(7);
  EXPECT_EQ(ReadStreamToEnd(stream), "body");
  EXPECT_EQ(stream.Position(), 11);
  EXPECT_EQ(ReadStreamToEnd(stream), "");
  // A position past the end reads nothing rather than a negative count.
  stream.SetPosition(20);
  EXPECT_EQ(ReadStreamToEnd(stream), "");
}

TEST(TFileStreamTest, CreateOpenAndResize) {
  testsupport::TempDir dir;
  const std::string name = dir.File("data.bin");
  {
    TFileStream stream(name, fmCreate);
    stream.WriteBuffer("0123456789", 10);
    EXPECT_EQ(stream.Size(), 10);
    EXPECT_EQ(stream.FileName(), name);
  }
  {
    TFileStream stream(name, fmOpenReadWrite | fmShareDenyNone);
    stream.Seek(4, TSeekOrigin::soBeginning);
    stream.WriteBuffer("ab", 2);
    stream.SetSize(8);
    EXPECT_EQ(stream.Position(), 6);
    stream.SetSize(3);
    EXPECT_EQ(stream.Position(), 3);
  }
  {
    TFileStream stream(name, fmOpenRead);
    char buffer[16] = {};
    EXPECT_EQ(stream.Read(buffer, 16), 3);
    EXPECT_EQ(std::string(buffer, 3), "012");
    EXPECT_EQ(stream.Write("x", 1), 0);
    EXPECT_EQ(MessageOf([&] { stream.WriteBuffer("x", 1); }), "EWriteError: Stream write error");
  }
  {
    TFileStream stream(name, fmOpenWrite);
    char c;
    EXPECT_EQ(stream.Read(&c, 1), 0);
  }
  {
    // fmCreate empties an existing file.
    TFileStream stream(name, fmCreate);
    EXPECT_EQ(stream.Size(), 0);
  }
}

TEST(TFileStreamTest, OpenFailuresNameTheFile) {
  testsupport::TempDir dir;
  struct Case {
    std::string name;
    uint16_t mode;
    std::string message;
  };
  const Case cases[] = {
      {dir.File("missing"), fmOpenRead,
       "EFOpenError: Cannot open file \"" + dir.File("missing") + "\". No such file or directory"},
      {dir.Path(), fmOpenRead,
       "EFOpenError: Cannot open file \"" + dir.Path() + "\". Is a directory"},
      {dir.File("no/such/dir"), fmCreate,
       "EFCreateError: Cannot create file \"" + dir.File("no/such/dir") +
           "\". No such file or directory"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MessageOf([&] { TFileStream stream(c.name, c.mode); }), c.message);
  }
  // Both are stream errors.
  EXPECT_THROW(TFileStream(dir.File("missing"), fmOpenReadWrite), EStreamError);
}

}  // namespace
}  // namespace plat
