#pragma once
// Helpers shared by the storage tests.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/storage/zelCommonError.h"
#include "engine/storage/zelCrypt.h"
#include "engine/storage/zelDataFields.h"
#include "engine/storage/zelDisk.h"
#include "engine/storage/zelIndexKeys.h"
#include "platform/os/Files.h"
#include "platform/rtl/Streams.h"

namespace zel::storagetest {

// Runs Action and expects an engine error with Code whose message holds Text
// (any message when Text is empty).
template <class F>
void ExpectError(int32_t Code, const std::string& Text, F&& Action) {
  try {
    Action();
    ADD_FAILURE() << "no error raised, expected 0x" << std::hex << Code;
  } catch (const EZelDatabaseError& e) {
    EXPECT_EQ(e.ErrorCode(), Code) << e.Message();
    if (!Text.empty()) {
      EXPECT_NE(e.Message().find(Text), std::string::npos) << e.Message();
    }
  }
}

// Opens the database file Name on Mgr with PageSize and the page key Key,
// creating the file first when it does not exist.
inline void OpenDatabaseFile(TDiskMgr& Mgr, const std::string& Name, int32_t PageSize,
                             const std::string& Key) {
  if (!plat::FileExists(Name)) {
    TDiskMgr creator;
    creator.SetFileName(Name);
    creator.SetPageSize(PageSize);
    creator.CreateNewFile();
  }
  Mgr.SetFileName(Name);
  Mgr.SetPageSize(PageSize);
  Mgr.Open();
  Mgr.SetCryptKey(Key);
}

// Decrypts in place one page of an encrypted table: the XOR scheme when Weak,
// otherwise Blowfish with Key.
inline void DecryptPage(bool Weak, const std::string& Key, uint32_t TableID, uint8_t* Page,
                        int32_t Size) {
  std::vector<uint8_t> out(static_cast<size_t>(Size));
  if (Weak) {
    XORCryptBuf(Page, out.data(), XORPageKey.data(), static_cast<int32_t>(TableID),
                static_cast<int32_t>(XORPageKey.size()), Size);
  } else {
    TBlowfishData data{};
    BlowfishInit(data, Key.data(), static_cast<int32_t>(Key.size() * 8), nullptr);
    BlowfishDecryptCFB(data, Page, out.data(), Size);
  }
  std::memcpy(Page, out.data(), out.size());
}

// A new key field of Keys over record field Field: its name, type, size and
// the offsets of its value, null flag and size marker.
inline TKeyFieldItem* AddKeyField(TKeyFields& Keys, const TInternalFieldItem& Field) {
  TKeyFieldItem* k = Keys.Add();
  k->SetFieldName(Field.FieldName());
  k->SetDataType(Field.DataType());
  k->SetFieldSize(Field.FieldSize());
  k->SetRecBufOffset(Field.DataOffset());
  k->SetNullFlagOffset(Field.NullFlagOffset());
  k->SetSizeMarkerOffset(Field.SizeMarkerOffset());
  return k;
}

// The whole content of a memory stream.
inline std::vector<uint8_t> Bytes(plat::TMemoryStream& S) {
  const auto* p = static_cast<const uint8_t*>(S.Memory());
  return p ? std::vector<uint8_t>(p, p + S.Size()) : std::vector<uint8_t>();
}

// Replaces the content of S with Data and rewinds it.
inline void Fill(plat::TMemoryStream& S, const std::vector<uint8_t>& Data) {
  S.Clear();
  if (!Data.empty()) S.Write(Data.data(), static_cast<int32_t>(Data.size()));
  S.SetPosition(0);
}

// The whole content of file Name (empty when it cannot be read).
inline std::vector<uint8_t> FileBytes(const std::string& Name) {
  std::ifstream in(Name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The little-endian 32-bit value at P.
inline uint32_t U32(const uint8_t* P) {
  return P[0] | (P[1] << 8) | (P[2] << 16) | (uint32_t(P[3]) << 24);
}

}  // namespace zel::storagetest
