// Blob fields through blob streams: what a stream writes, what it refuses,
// compression through the table's handlers and the blob cache; on the
// memory database and on a file.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "../storage/StorageTestSupport.h"
#include "DatabaseSuite.h"
#include "engine/dataset/zelDatabase.h"
#include "platform/db/DBConsts.h"
#include "platform/db/Fields.h"

namespace zel {
namespace {

using datasettest::MemoryOrDiskDatabase;
using storagetest::ExpectError;

std::string ReadAll(plat::TStream& Stream) {
  std::string bytes(static_cast<size_t>(Stream.Size()), '\0');
  Stream.SetPosition(0);
  if (!bytes.empty()) Stream.ReadBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  return bytes;
}

// Bytes that compress well but are not all alike.
std::string Sample(size_t Size, uint32_t Seed) {
  std::string bytes(Size, '\0');
  for (size_t i = 0; i < Size; ++i) {
    Seed = Seed * 1103515245u + 12345u;
    bytes[i] = static_cast<char>('a' + (Seed >> 16) % 8);
  }
  return bytes;
}

class BlobSuite : public MemoryOrDiskDatabase {
 protected:
  // Closes every table and, on a file, the connection, then connects again.
  void Reconnect() {
    Tables.clear();
    if (!Disk()) return;
    Db->SetConnected(false);
    Db = std::make_unique<TZelDataBase>();
    Db->SetDirectory(Dir.Path());
    Db->SetDataBaseName("test.zel");
    Db->SetConnected(true);
  }

  // Docs: ID, Name, Data (a blob); one row with the Data "old".
  TZelTable& MakeDocs(bool Compressed = false, const std::string& Name = "Docs") {
    TZelTable& t = NewTable(Name);
    t.FieldDefs().Add("ID", plat::ftAutoInc);
    t.FieldDefs().Add("Name", plat::ftString, 10);
    t.FieldDefs().Add("Data", plat::ftBlob);
    t.IndexDefs().Add("pk", "ID", {plat::ixPrimary, plat::ixUnique});
    t.SetBlobCompression(Compressed);
    t.CreateTable();
    t.Open();
    t.Append();
    t.FieldByName("Name")->SetAsString("first");
    t.FieldByName("Data")->SetAsString("old");
    t.Post();
    return t;
  }

  TZelTable& OpenDocs(const std::string& Name = "Docs") {
    TZelTable& t = NewTable(Name);
    t.Open();
    return t;
  }

  static std::string Data(TZelTable& T) {
    auto stream = T.CreateBlobStream(T.FieldByName("Data"), plat::bmRead);
    return ReadAll(*stream);
  }
};

TEST_P(BlobSuite, AMegabyteWrittenThroughAStreamIsIdenticalAfterReconnect) {
  TZelTable& t = MakeDocs();
  const std::string big = Sample(1 << 20, 7);
  t.Append();
  {
    auto stream = t.CreateBlobStream(t.FieldByName("Data"), plat::bmWrite);
    for (size_t at = 0; at < big.size(); at += 65536) stream->WriteBuffer(big.data() + at, 65536);
  }
  t.Post();
  Reconnect();
  TZelTable& again = OpenDocs();
  again.Last();
  EXPECT_TRUE(Data(again) == big);
  // A smaller value replaces it; the first record keeps its own.
  again.Edit();
  again.FieldByName("Data")->SetAsString("small");
  again.Post();
  EXPECT_EQ(Data(again), "small");
  again.First();
  EXPECT_EQ(Data(again), "old");
  again.Close();
}

TEST_P(BlobSuite, WhatAStreamWritesIsWhatThePostStores) {
  struct Case {
    const char* Name;
    plat::TBlobStreamMode Mode;
    bool Write;
    std::string Bytes;
    bool AtEnd;  // write after the current content
    std::string Expected;
    bool Null;
  };
  const std::vector<Case> cases = {
      {"write nothing", plat::bmWrite, false, "", false, "old", false},
      {"write new", plat::bmWrite, true, "new", false, "new", false},
      {"read-write appends", plat::bmReadWrite, true, "+x", true, "old+x", false},
      {"read-write overwrites", plat::bmReadWrite, true, "O", false, "Old", false},
      {"read-write nothing", plat::bmReadWrite, false, "", false, "old", false},
      {"write empty", plat::bmWrite, true, "", false, "", true},
  };
  TZelTable& t = MakeDocs();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    t.First();
    t.Edit();
    t.FieldByName("Data")->SetAsString("old");
    t.Post();
    t.Edit();
    {
      auto stream = t.CreateBlobStream(t.FieldByName("Data"), c.Mode);
      EXPECT_EQ(stream->Size(), c.Mode == plat::bmWrite ? 0 : 3);
      if (c.AtEnd) stream->Seek(0, plat::TSeekOrigin::soEnd);
      if (c.Write) stream->Write(c.Bytes.data(), static_cast<int32_t>(c.Bytes.size()));
    }
    // The edit shows the pending value before it is posted.
    EXPECT_EQ(Data(t), c.Expected);
    t.Post();
    EXPECT_EQ(Data(t), c.Expected);
    EXPECT_EQ(t.FieldByName("Data")->IsNull(), c.Null);
  }
  Reconnect();
  TZelTable& again = OpenDocs();
  EXPECT_TRUE(again.FieldByName("Data")->IsNull());
  EXPECT_EQ(Data(again), "");
  // A cancelled edit drops what its stream wrote.
  again.Edit();
  again.FieldByName("Data")->SetAsString("dropped");
  again.Cancel();
  EXPECT_TRUE(again.FieldByName("Data")->IsNull());
  again.Close();
}

TEST_P(BlobSuite, AWriteStreamNeedsAnEditAndAWritableField) {
  TZelTable& t = MakeDocs();
  const auto message = [&](plat::TField* Field, plat::TBlobStreamMode Mode) -> std::string {
    try {
      t.CreateBlobStream(Field, Mode);
    } catch (const plat::EDatabaseError& e) {
      return e.Message();
    }
    return "no error";
  };
  for (const plat::TBlobStreamMode mode : {plat::bmWrite, plat::bmReadWrite})
    EXPECT_NE(message(t.FieldByName("Data"), mode).find(plat::SNotEditing), std::string::npos);
  EXPECT_EQ(Data(t), "old");
  t.Edit();
  t.FieldByName("Data")->SetReadOnly(true);
  EXPECT_NE(message(t.FieldByName("Data"), plat::bmWrite).find("cannot be modified"),
            std::string::npos);
  t.FieldByName("Data")->SetReadOnly(false);
  ExpectError(0x2710, "Name", [&] { t.CreateBlobStream(t.FieldByName("Name"), plat::bmRead); });
  t.Cancel();
  EXPECT_EQ(Data(t), "old");
  t.Close();
}

// A blob written by an edit is posted even when another cursor changed the
// table between the write and the post.
TEST_P(BlobSuite, APendingBlobOutlivesAnotherCursorsChange) {
  TZelTable& t = MakeDocs();
  TZelTable& other = OpenDocs();
  t.Edit();
  t.FieldByName("Data")->SetAsString("mine");
  other.AppendRecord({plat::Variant::MakeNull(), plat::Variant("second")});
  t.Post();
  EXPECT_EQ(Data(t), "mine");
  other.First();
  EXPECT_EQ(Data(other), "mine");
  t.Close();
  other.Close();
}

TEST_P(BlobSuite, CompressionThroughTheHandlersRoundTrips) {
  struct TCounts {
    int Compressed = 0;
    int Decompressed = 0;
  };
  const auto xorStream = [](plat::TStream& Source, plat::TStream& Dest) {
    std::string bytes = ReadAll(Source);
    for (char& b : bytes) b = static_cast<char>(b ^ 0x5A);
    Dest.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  };
  const auto handlers = [&](TZelTable& T, TCounts& Counts) {
    T.SetOnCompressBlob([&Counts, xorStream](const std::string& Field, plat::TStream& Source,
                                             plat::TStream& Dest, TDataCompressionMode& Mode,
                                             int32_t& Value) {
      EXPECT_EQ(Field, "Data");
      ++Counts.Compressed;
      xorStream(Source, Dest);
      Mode = dcUsrCustom;
      Value = 42;
    });
    T.SetOnDecompressBlob([&Counts, xorStream](const std::string&, plat::TStream& Source,
                                               plat::TStream& Dest, TDataCompressionMode Mode,
                                               int32_t Value) {
      EXPECT_EQ(Mode, dcUsrCustom);
      EXPECT_EQ(Value, 42);
      ++Counts.Decompressed;
      xorStream(Source, Dest);
    });
  };
  const std::string text = Sample(200000, 3);
  for (const bool custom : {false, true}) {
    SCOPED_TRACE(custom ? "own handlers" : "built-in compression");
    TCounts counts;
    const std::string name = custom ? "Own" : "Builtin";
    {
      TZelTable& t = MakeDocs(true, name);
      if (custom) handlers(t, counts);
      t.Append();
      t.FieldByName("Data")->SetAsString(text);
      t.Post();
      EXPECT_TRUE(Data(t) == text);
    }
    Reconnect();
    TZelTable& t = NewTable(name);
    if (custom) handlers(t, counts);
    t.Open();
    t.Last();
    EXPECT_TRUE(Data(t) == text);
    t.First();
    EXPECT_EQ(Data(t), "old");
    // "old" was stored before the handlers were set: built-in compression.
    EXPECT_EQ(counts.Compressed, custom ? 1 : 0);
    EXPECT_EQ(counts.Decompressed, custom ? 2 : 0);
    t.Close();
  }
}

// Reading a blob twice while browsing reads it from the store once; a change
// made by another cursor drops the copy.
TEST_P(BlobSuite, TheBlobCacheServesRepeatedReadsUntilTheTableChanges) {
  int decompressed = 0;
  const auto counting = [&](TZelTable& T) {
    T.SetOnCompressBlob([](const std::string&, plat::TStream& Source, plat::TStream& Dest,
                           TDataCompressionMode& Mode, int32_t&) {
      Dest.CopyFrom(Source, 0);
      Mode = dcUsrCustom;
    });
    T.SetOnDecompressBlob([&decompressed](const std::string&, plat::TStream& Source,
                                          plat::TStream& Dest, TDataCompressionMode, int32_t) {
      ++decompressed;
      Dest.CopyFrom(Source, 0);
    });
  };
  TZelTable& t = MakeDocs(true);
  counting(t);
  t.Edit();
  t.FieldByName("Data")->SetAsString("cached");
  t.Post();
  decompressed = 0;
  EXPECT_EQ(Data(t), "cached");
  EXPECT_EQ(Data(t), "cached");
  EXPECT_EQ(t.FieldByName("Data")->AsString(), "cached");
  EXPECT_EQ(decompressed, 1);

  TZelTable& other = OpenDocs();
  counting(other);
  other.Edit();
  other.FieldByName("Data")->SetAsString("changed");
  other.Post();
  t.Refresh();
  EXPECT_EQ(Data(t), "changed");
  EXPECT_EQ(decompressed, 2);
  other.Close();

  // Browsing many blobs keeps only the latest copies, and every read still
  // gives its own record's value.
  for (int i = 0; i < 100; ++i)
    t.AppendRecord({plat::Variant::MakeNull(), plat::Variant("r"),
                    plat::Variant("blob " + std::to_string(i))});
  for (int pass = 0; pass < 2; ++pass) {
    decompressed = 0;
    int i = 0;
    for (t.First(), t.Next(); !t.Eof(); t.Next(), ++i)
      EXPECT_EQ(Data(t), "blob " + std::to_string(i));
    EXPECT_EQ(i, 100);
    EXPECT_EQ(decompressed, 100) << "pass " << pass;
  }
  t.Last();
  decompressed = 0;
  EXPECT_EQ(Data(t), "blob 99");
  EXPECT_EQ(decompressed, 0) << "the latest blob is still cached";
  t.Close();
}

INSTANTIATE_TEST_SUITE_P(MemoryAndDisk, BlobSuite, ::testing::Values(false, true),
                         datasettest::MemoryOrDiskName);

// Another process that changes a blob: the next read here shows its value.
TEST(BlobFile, AnotherProcessesChangeDropsTheCachedBlob) {
  testsupport::TempDir dir;
  const std::string file = dir.File("shared.zel");
  auto connect = [&](bool Create) {
    auto db = std::make_unique<TZelDataBase>();
    db->SetDataBaseName(file);
    db->SetExclusive(false);
    db->SetLockRetryInterval(5);
    if (Create) db->CreateDatabase();
    db->SetConnected(true);
    return db;
  };
  auto db = connect(true);
  {
    TZelTable t;
    t.SetDataBase(db.get());
    t.SetTableName("Docs");
    t.FieldDefs().Add("ID", plat::ftInteger);
    t.FieldDefs().Add("Data", plat::ftBlob);
    t.IndexDefs().Add("pk", "ID", {plat::ixPrimary, plat::ixUnique});
    t.CreateTable();
  }
  TZelTable t;
  t.SetDataBase(db.get());
  t.SetTableName("Docs");
  t.Open();
  t.Append();
  t.FieldByName("ID")->SetAsInteger(1);
  t.FieldByName("Data")->SetAsString("parent");
  t.Post();
  EXPECT_EQ(t.FieldByName("Data")->AsString(), "parent");
  const int code = testsupport::RunInChild([&] {
    auto mine = connect(false);
    TZelTable c;
    c.SetDataBase(mine.get());
    c.SetTableName("Docs");
    c.Open();
    c.Edit();
    c.FieldByName("Data")->SetAsString("child");
    c.Post();
    c.Close();
    mine->SetConnected(false);
    return 0;
  });
  ASSERT_EQ(code, 0);
  t.Refresh();
  EXPECT_EQ(t.FieldByName("Data")->AsString(), "child");
  t.Close();
  db->SetConnected(false);
  EXPECT_TRUE(testsupport::DatabaseIsIntact(file));
}

}  // namespace
}  // namespace zel
