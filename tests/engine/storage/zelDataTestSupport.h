#pragma once
// Helpers of the record and block-store tests: a record layout with one field
// of every storable type, and records filled with values derived from a seed.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "engine/storage/StorageTestSupport.h"
#include "engine/storage/zelCommon.h"
#include "engine/storage/zelDataUnit.h"

namespace zel::testdata {

using storagetest::ExpectError;

template <class F>
void ExpectAssertion(const std::string& Text, F&& Action) {
  try {
    Action();
    ADD_FAILURE() << "no assertion raised, expected " << Text;
  } catch (const plat::EAssertionFailed& e) {
    EXPECT_NE(e.Message().find(Text), std::string::npos) << e.Message();
  }
}

struct FieldSpec {
  const char* Name;
  plat::TFieldType Type;
  int32_t Size;  // declared size of strings and bytes
};

// One field of each common type (tests built on this list count its 17
// fields); StorableTypes adds the decimal type.
inline const std::vector<FieldSpec>& AllTypes() {
  static const std::vector<FieldSpec> specs = {
      {"S", plat::ftString, 21},   {"SI", plat::ftSmallint, 0},    {"I", plat::ftInteger, 0},
      {"W", plat::ftWord, 0},      {"B", plat::ftBoolean, 0},      {"F", plat::ftFloat, 0},
      {"C", plat::ftCurrency, 0},  {"D", plat::ftDate, 0},         {"T", plat::ftTime, 0},
      {"DT", plat::ftDateTime, 0}, {"BY", plat::ftBytes, 7},       {"AI", plat::ftAutoInc, 0},
      {"BL", plat::ftBlob, 0},     {"M", plat::ftMemo, 0},         {"G", plat::ftGraphic, 0},
      {"FM", plat::ftFmtMemo, 0},  {"WS", plat::ftWideString, 10},
  };
  return specs;
}

// AllTypes and a decimal field: every type a record can hold.
inline const std::vector<FieldSpec>& StorableTypes() {
  static const std::vector<FieldSpec> specs = [] {
    std::vector<FieldSpec> all = AllTypes();
    all.push_back({"BCD", plat::ftBCD, 0});
    return all;
  }();
  return specs;
}

// Adds the fields to Fields with FieldIndex and FieldNo in order, then lays
// the record out.
inline void BuildLayout(TInternalFields& Fields, const std::vector<FieldSpec>& Specs) {
  for (size_t i = 0; i < Specs.size(); ++i) {
    TInternalFieldItem* item = Fields.Add();
    item->SetFieldName(Specs[i].Name);
    item->SetDataType(Specs[i].Type);
    if (Specs[i].Size > 0) item->SetFieldSize(Specs[i].Size);
    item->SetFieldIndex(static_cast<int32_t>(i));
    item->SetFieldNo(static_cast<int32_t>(i) + 1);
  }
  Fields.SetDefaultOffsets();
}

// A record of the layout: the prefix, every field non-null, and values that
// differ from field to field and seed to seed. String fields hold text of a
// length below their size with the size marker set; the rest of each string
// area is zero.
inline std::vector<uint8_t> MakeRecord(const TInternalFields& Fields, uint32_t Seed) {
  std::vector<uint8_t> rec(static_cast<size_t>(Fields.RecordSize()), 0);
  rec[rpInUse] = 1;
  std::memcpy(rec.data() + rpLogicalRecordNo, &Seed, 4);
  uint32_t x = Seed * 2654435761u + 1;
  for (int32_t i = 0; i < Fields.Count(); ++i) {
    const TInternalFieldItem* f = Fields.GetIndex(i);
    rec[static_cast<size_t>(f->NullFlagOffset())] = 1;
    uint8_t* p = rec.data() + f->DataOffset();
    if (f->DataType() == plat::ftString || f->DataType() == plat::ftWideString) {
      const uint16_t len =
          static_cast<uint16_t>((Seed + i) % static_cast<uint32_t>(f->FieldSize()));
      std::memcpy(rec.data() + f->SizeMarkerOffset(), &len, 2);
      for (uint16_t k = 0; k < len; ++k) p[k] = static_cast<uint8_t>('A' + (Seed + k) % 26);
    } else {
      for (int32_t k = 0; k < f->FieldSize(); ++k) {
        x = x * 1103515245u + 12345u;
        p[k] = static_cast<uint8_t>(x >> 16);
      }
    }
  }
  return rec;
}

}  // namespace zel::testdata
