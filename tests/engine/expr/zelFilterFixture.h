#pragma once
// A disk table with indexes and a data provider over it, for the filter
// tests and the filter benchmark's checks.
//
// The table has the fields of testdata::AllTypes(); the tests fill I, SI, W,
// S and the moments D, T and DT. Records are added straight through the table's record store and
// every index of the cursor's index manager, as a cursor posts them.

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/expr/zelBaseParserExpr.h"
#include "engine/expr/zelExprEvaluator.h"
#include "engine/storage/StorageTestSupport.h"
#include "engine/storage/zelCommonText.h"
#include "engine/storage/zelDataTableDefSupport.h"
#include "engine/storage/zelDisk.h"
#include "engine/storage/zelIndexMgr.h"
#include "engine/storage/zelTableMgrUnit.h"
#include "platform/rtl/Variants.h"

namespace zel::testing {

inline constexpr int32_t kFilterPage = 4096;

// An open database file with its user table manager, set up as the
// database component sets it up.
struct FilterDatabase {
  explicit FilterDatabase(const std::string& Name) {
    storagetest::OpenDatabaseFile(Disk, Name, kFilterPage, "");
    Headers.SetDiskMgr(&Disk);
    Headers.SetBlockSize(256);
    Headers.SetGlobalFirstEmptyOffset(28);
    Headers.SetAccessFlags(0);
    Headers.SetTableID(0);
    Headers.SetUsage(iuTableHeaders);
    Headers.SetFirstEmptyValid(false);
    Headers.Open();
    User.SetHdrDiskInterface(&Headers);
    User.SetBaseDefMgrAddress(3 * kFilterPage);
    User.Open();
  }
  ~FilterDatabase() {
    try {
      Close();
    } catch (...) {
    }
  }
  void Close() {
    User.Close();
    Headers.Close();
    Disk.Close();
  }

  TDiskMgr Disk;
  TDiskIOInterface Headers;
  TDiskTableDefMgr User;
};

// The field values a test sets; an unassigned or Null variant leaves the
// field Null.
struct FilterRow {
  plat::Variant I, SI, W, S, D, T, DT;
};

// One cursor of a table: its definition copy, its open indexes and the
// provider the filter reads rows through.
class FilterTable : public TZelExprDataProvider {
 public:
  FilterTable(FilterDatabase& Db, const std::string& Name,
              const std::vector<tabledefs::IndexSpec>& Indexes)
      : Db_(Db) {
    Def_ = tabledefs::MakeDef(Name, false, Indexes);
    Db_.User.CreateTableDef(Name, *Def_);
    Copy_ = std::make_unique<TTableDef>();
    Copy_->Assign(Def_.get());
    Db_.User.OpenTableDefConnection(Name, *Copy_);
    Indexes_.SetIOInterface(Copy_->IndexInterface());
    Indexes_.SetTableHeader(Copy_->TableHeader());
    Indexes_.SetDBStringCompareFunction(DBASCIICompareStrings);
    Indexes_.Assign(&Copy_->InternalIndexDefs());
    Indexes_.AssignKeyFields(Copy_->KeyFields());
    Indexes_.Open();
    testdata::BuildLayout(*ProviderFields(), testdata::AllTypes());
    SetDBStringCompare([](const char* A, const char* B, int32_t LA, int32_t LB, bool Partial,
                          bool CaseInsensitive) {
      return DBASCIICompareStrings(A, B, LA, LB, CaseInsensitive, Partial);
    });
    Record_.resize(static_cast<size_t>(Copy_->RecordSize()));
  }
  ~FilterTable() override {
    try {
      Close();
    } catch (...) {
    }
  }
  void Close() {
    if (Copy_ == nullptr) return;
    Indexes_.Close();
    Db_.User.CloseTableDefConnection(Copy_->TableID());
    Copy_.reset();
  }

  // Adds a record to the table and all its indexes; its address.
  uint32_t Add(const FilterRow& Row) {
    std::vector<uint8_t> rec(static_cast<size_t>(Copy_->RecordSize()), 0);
    rec[rpInUse] = 1;
    const TInternalFields& fields = Copy_->InternalFields();
    const auto put = [&](const char* Name, const plat::Variant& V) {
      const TInternalFieldItem* f = fields.FindField(Name);
      if (V.IsNull() || V.IsEmpty()) return;
      rec[static_cast<size_t>(f->NullFlagOffset())] = 1;
      uint8_t* p = rec.data() + f->DataOffset();
      switch (f->DataType()) {
        case plat::ftString: {
          const std::string s = V.AsString();
          const uint16_t len = static_cast<uint16_t>(s.size());
          std::memcpy(rec.data() + f->SizeMarkerOffset(), &len, 2);
          std::memcpy(p, s.data(), s.size());
          break;
        }
        case plat::ftSmallint:
        case plat::ftWord: {
          const uint16_t v = static_cast<uint16_t>(V.AsInt64());
          std::memcpy(p, &v, 2);
          break;
        }
        case plat::ftDate:
        case plat::ftTime:
        case plat::ftDateTime: {
          const double v = V.AsFloat();
          std::memcpy(p, &v, 8);
          break;
        }
        default: {
          const int32_t v = static_cast<int32_t>(V.AsInt64());
          std::memcpy(p, &v, 4);
          break;
        }
      }
    };
    put("I", Row.I);
    put("SI", Row.SI);
    put("W", Row.W);
    put("S", Row.S);
    put("D", Row.D);
    put("T", Row.T);
    put("DT", Row.DT);
    TBaseIOInterface& store = *Copy_->RecordInterface();
    const uint32_t addr = store.AllocateNewAddress(static_cast<int32_t>(rec.size()), rec.data());
    Copy_->TableHeader()->SetRecordFirstEmpty(store.FirstEmpty());
    for (int32_t k = 0; k < Indexes_.Count(); ++k) {
      Indexes_.Items(k)->CreateKeyBuffer(rec.data());
      if (Indexes_.Items(k)->InsertKey(addr) != 0) ZelDatabaseError(0x2185, "FilterTable.Add");
    }
    Addresses_.push_back(addr);
    return addr;
  }

  TIndexManager& Indexes() { return Indexes_; }
  TTableDef& Def() { return *Copy_; }

  // Provider: rows in the order they were added.
  void GetDefaultRecordList(TCompoundList& List) override {
    for (uint32_t addr : Addresses_) List.Add(IntToListEntry(static_cast<int32_t>(addr)), nullptr);
  }
  bool MoveToRecord(void* RecAddr) override {
    Copy_->RecordInterface()->ReadBlock(static_cast<uint32_t>(ListEntryToInt(RecAddr)),
                                        static_cast<int32_t>(Record_.size()), Record_.data());
    ++Moves;
    return true;
  }
  plat::Variant GetDataAsVariant(int32_t FieldNo) override {
    const TInternalFields& fields = Copy_->InternalFields();
    if (FieldNo < 1 || FieldNo > fields.Count()) return plat::Null();
    const TInternalFieldItem* f = fields.GetIndex(FieldNo - 1);
    if ( Record_[static_cast<size_t>(f->NullFlagOffset())] == 0) return plat::Null();
    const uint8_t* p = Record_.data() + f->DataOffset();
    switch (f->DataType()) {
      case plat::ftString: {
        uint16_t len = 0;
        std::memcpy(&len, Record_.data() + f->SizeMarkerOffset(), 2);
        return plat::Variant(std::string(reinterpret_cast<const char*>(p), len));
      }
      case plat::ftSmallint: {
        int16_t v = 0;
        std::memcpy(&v, p, 2);
        return plat::Variant(static_cast<int32_t>(v));
      }
      case plat::ftWord: {
        uint16_t v = 0;
        std::memcpy(&v, p, 2);
        return plat::Variant(static_cast<int32_t>(v));
      }
      case plat::ftDate:
      case plat::ftTime:
      case plat::ftDateTime: {
        double v = 0;
        std::memcpy(&v, p, 8);
        return plat::VarFromDateTime(v);
      }
      default: {
        int32_t v = 0;
        std::memcpy(&v, p, 4);
        return plat::Variant(v);
      }
    }
  }

  // Rows read by MoveToRecord.
  int64_t Moves = 0;

 private:
  FilterDatabase& Db_;
  std::unique_ptr<TTableDef> Def_;
  std::unique_ptr<TTableDef> Copy_;
  TIndexManager Indexes_;
  std::vector<uint32_t> Addresses_;
  std::vector<uint8_t> Record_;
};

// The parser's view of the table: one entry named Name with the same fields.
inline void BuildFilterTableList(TTableList& List, const std::string& Name) {
  TTableNameItem* item = List.Add();
  item->SetTableName(Name);
  testdata::BuildLayout(*item->TableFields(), testdata::AllTypes());
}

}  // namespace zel::testing
