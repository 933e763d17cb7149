#pragma once
// A small database of the storage tests and the database-file fuzz target:
// one file with a plain and a strongly encrypted parts table, each with a
// unique index on ID, a case-insensitive descending index on Name, and a
// compressed memo field. The cursor and the database component are not
// there yet, so this does their share: it wires up the table-header store,
// fills record buffers and keeps the indexes. No GoogleTest here: the fuzz
// target includes it too.

#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/storage/zelCommon.h"
#include "engine/storage/zelDataUnit.h"
#include "engine/storage/zelDisk.h"
#include "engine/storage/zelIndexUnit.h"
#include "engine/storage/zelInterfaceUnit.h"
#include "engine/storage/zelTableMgrUnit.h"
#include "platform/rtl/Streams.h"

namespace zel::partsdb {

inline constexpr int32_t kPageSize = 4096;
inline const std::string kCryptKey = "parts key";

// The open file with the store of table headers and the manager of user
// tables, whose table map fills pages 3 and 4.
struct TDatabase {
  explicit TDatabase(const std::string& FileName) {
    Disk.SetFileName(FileName);
    Disk.SetPageSize(kPageSize);
    Disk.SetLockRetryCount(2);
    Disk.SetLockRetryInterval(1);
    Disk.Open();
    Disk.SetCryptKey(kCryptKey);
    Headers.SetDiskMgr(&Disk);
    Headers.SetBlockSize(TableHeaderBlockSize);
    Headers.SetUsage(iuTableHeaders);
    Headers.SetGlobalFirstEmptyOffset(ghTableHeadersFirstEmpty);
    Headers.Open();
    Tables.SetHdrDiskInterface(&Headers);
    Tables.SetBaseDefMgrAddress(3 * kPageSize);
    Tables.Open();
  }
  TDatabase(const TDatabase&) = delete;
  TDatabase& operator=(const TDatabase&) = delete;
  ~TDatabase() {
    try {
      Close();
    } catch (...) {
      // A failure was raised by an explicit Close already or is the test's
      // to find through the file.
    }
  }
  void Close() {
    if (Closed_) return;
    Closed_ = true;
    Tables.Close();
    Headers.Close();
    Disk.Close();
  }

  TDiskMgr Disk;
  TDiskIOInterface Headers;
  TDiskTableDefMgr Tables;

 private:
  bool Closed_ = false;
};

inline void CreateFile(const std::string& FileName) {
  TDiskMgr creator;
  creator.SetFileName(FileName);
  creator.SetPageSize(kPageSize);
  creator.CreateNewFile();
}

struct TPart {
  int32_t ID = 0;
  std::string Name;
  std::string Notes;  // a memo: a blob chain, compressed

  bool operator==(const TPart&) const = default;
};

// The definition of a parts table; TableID as the table manager gave it
// (0 to create the table).
inline std::unique_ptr<TTableDef> MakePartsDef(const std::string& Name, TEncryptionLevel Level,
                                               int32_t TableID = 0) {
  auto def = std::make_unique<TTableDef>();
  def->SetTableName(Name);
  def->SetVersion("1.50.03");
  def->SetEncryptionLevel(Level);
  def->SetEncrypted(Level != encNone);
  def->SetBlobCompression(true);
  const struct {
    const char* Name;
    plat::TFieldType Type;
    int32_t Size;
  } fields[] = {{"ID", plat::ftInteger, 0}, {"Name", plat::ftString, 21}, {"Notes", plat::ftMemo, 0}};
  for (const auto& spec : fields) {
    TInternalFieldItem* field = def->InternalFields().Add();
    field->SetFieldName(spec.Name);
    field->SetDataType(spec.Type);
    if (spec.Size > 0) field->SetFieldSize(spec.Size);
    field->SetFieldIndex(def->InternalFields().Count() - 1);
    field->SetFieldNo(def->InternalFields().Count());
  }
  def->InternalFields().SetDefaultOffsets();
  const struct {
    const char* Name;
    const char* Field;
    bool Unique, CaseInsensitive, Descending;
  } indexes[] = {{"pkID", "ID", true, false, false}, {"ixName", "Name", false, true, true}};
  for (const auto& spec : indexes) {
    TInternalIndexDef* index = def->InternalIndexDefs().Add();
    index->SetIndexName(spec.Name);
    index->SetUnique(spec.Unique);
    index->SetPrimary(spec.Unique);
    index->SetIndexSequence(def->InternalIndexDefs().Count() - 1);
    index->SetIndexKeyType(ikMinStringLen);
    const TInternalFieldItem* field = def->InternalFields().FindField(spec.Field);
    TKeyFields keys;
    TKeyFieldItem* key = keys.Add();
    key->SetIndexName(spec.Name);
    key->SetFieldName(field->FieldName());
    key->SetDataType(field->DataType());
    key->SetFieldSize(field->FieldSize());
    key->SetPhysicalFieldNo(field->FieldNo());
    key->SetRecBufOffset(field->DataOffset());
    key->SetNullFlagOffset(field->NullFlagOffset());
    key->SetSizeMarkerOffset(field->SizeMarkerOffset());
    key->SetCaseInsensitive(spec.CaseInsensitive);
    key->SetDescending(spec.Descending);
    CalculateIndexDefSizes(*index, keys);
    def->KeyFields().Add()->Assign(key);
  }
  def->UpdateVersion();
  def->SetTableID(TableID);
  return def;
}

// One open table with the record, blob and index managers a cursor keeps.
// Closing hands the stores' free-block heads to the shared table header,
// which the last connection writes.
class TTable {
 public:
  TTable(TDiskTableDefMgr& Tables, const TTableDef& Def) : Tables_(Tables) {
    Def_.Assign(&Def);
    Tables_.OpenTableDefConnection(Def_.TableName(), Def_);
    try {
      Records_.SetRecordSize(Def_.RecordSize());
      Records_.Open(Def_.RecordInterface());
      Blobs_.SetIOInterface(Def_.BlobInterface());
      Blobs_.SetBlobBlockSize(static_cast<uint32_t>(Def_.DefaultBlobSize()));
      Blobs_.SetUseCompression(Def_.BlobCompression());
      Blobs_.Open();
      Indexes_.SetIOInterface(Def_.IndexInterface());
      Indexes_.SetTableHeader(Def_.TableHeader());
      Indexes_.SetDBStringCompareFunction(DBANSICompareStrings);
      Indexes_.Assign(&Def_.InternalIndexDefs());
      Indexes_.AssignKeyFields(Def_.KeyFields());
      Indexes_.Open();
    } catch (...) {
      Tables_.CloseTableDefConnection(Def_.TableID());
      throw;
    }
  }
  TTable(const TTable&) = delete;
  TTable& operator=(const TTable&) = delete;
  ~TTable() {
    try {
      Close();
    } catch (...) {
      // As TDatabase: an explicit Close raises what matters.
    }
  }

  void Close() {
    if (Closed_) return;
    Closed_ = true;
    TTableHeader& header = *Def_.TableHeader();
    header.SetRecordFirstEmpty(Def_.RecordInterface()->FirstEmpty());
    header.SetBlobFirstEmpty(Def_.BlobInterface()->FirstEmpty());
    Indexes_.Close();
    Blobs_.Close();
    Records_.Close();
    Tables_.CloseTableDefConnection(Def_.TableID());
  }

  TIndexManager& Indexes() { return Indexes_; }

  // Stores the record, its memo, and a key in every index.
  void Add(const TPart& Part) {
    TTableHeader& header = *Def_.TableHeader();
    header.SetLogicalRecordNo(header.GetLogicalRecordNo() + 1);
    std::vector<uint8_t> rec = Record(Part);
    ix::StoreU32(rec.data() + rpOwnerCode, Def_.RecordInterface()->OwnerFlag());
    ix::StoreU32(rec.data() + rpLogicalRecordNo, static_cast<uint32_t>(header.GetLogicalRecordNo()));
    if (!Part.Notes.empty()) {
      plat::TMemoryStream stream;
      stream.WriteBuffer(Part.Notes.data(), static_cast<int32_t>(Part.Notes.size()));
      TDataCompressionMode mode = dcNone;
      int32_t value = 0;
      const uint32_t chain = Blobs_.InsertBlob("Notes", stream, mode, value);
      const TInternalFieldItem& f = Field("Notes");
      uint8_t* p = rec.data() + f.DataOffset();
      rec[static_cast<size_t>(f.NullFlagOffset())] = 1;
      ix::StoreU32(p, chain);
      ix::StoreU32(p + 4, static_cast<uint32_t>(Part.Notes.size()));
      ix::StoreU32(p + 8, mode);
      ix::StoreU32(p + 12, static_cast<uint32_t>(value));
    }
    const uint32_t addr = Records_.AddRecord(rec.data());
    for (int32_t i = 0; i < Indexes_.Count(); ++i) {
      Indexes_.Items(i)->CreateKeyBuffer(rec.data());
      if (Indexes_.Items(i)->InsertKey(addr) != 0) throw std::runtime_error("key not inserted");
    }
  }

  // The records' addresses in the order of the index.
  std::vector<uint32_t> Addresses(const std::string& Index) {
    std::vector<uint32_t> addresses;
    TIndexItem* index = Indexes_.FindIndex(Index);
    for (bool more = index->BTree().SetCursorToEnd(true); more; more = index->NextKey())
      addresses.push_back(index->GetRecordAddress());
    return addresses;
  }

  // The records in the order of the index, each with its memo.
  std::vector<TPart> InOrder(const std::string& Index) {
    std::vector<TPart> parts;
    TIndexItem* index = Indexes_.FindIndex(Index);
    for (bool more = index->BTree().SetCursorToEnd(true); more; more = index->NextKey())
      parts.push_back(Read(index->GetRecordAddress()));
    return parts;
  }

 private:
  const TInternalFieldItem& Field(const char* Name) const {
    return *Def_.InternalFields().FindField(Name);
  }

  std::vector<uint8_t> Record(const TPart& Part) const {
    std::vector<uint8_t> rec(static_cast<size_t>(Def_.RecordSize()), 0);
    rec[rpInUse] = 1;
    const auto value = [&](const char* Name) {
      const TInternalFieldItem& f = Field(Name);
      rec[static_cast<size_t>(f.NullFlagOffset())] = 1;
      return rec.data() + f.DataOffset();
    };
    ix::StoreU32(value("ID"), static_cast<uint32_t>(Part.ID));
    const std::string name =
        Part.Name.substr(0, static_cast<size_t>(Field("Name").GetWriteableFieldSize()));
    std::memcpy(value("Name"), name.data(), name.size());
    ix::StoreU16(rec.data() + Field("Name").SizeMarkerOffset(), static_cast<uint16_t>(name.size()));
    return rec;
  }

  TPart Read(uint32_t Addr) {
    std::vector<uint8_t> rec(static_cast<size_t>(Def_.RecordSize()));
    Records_.ReadRecord(Addr, rec.data(), false);
    const auto at = [&](const char* Name) { return rec.data() + Field(Name).DataOffset(); };
    TPart part;
    part.ID = static_cast<int32_t>(ix::LoadU32(at("ID")));
    part.Name.assign(reinterpret_cast<const char*>(at("Name")),
                     static_cast<size_t>(Field("Name").ReadSizeMarker(rec.data())));
    if (rec[static_cast<size_t>(Field("Notes").NullFlagOffset())] != 0) {
      const uint8_t* blob = at("Notes");
      plat::TMemoryStream stream;
      Blobs_.ReadBlob("Notes", ix::LoadU32(blob), static_cast<int32_t>(ix::LoadU32(blob + 12)),
                      static_cast<TDataCompressionMode>(ix::LoadU32(blob + 8)), stream);
      part.Notes.assign(static_cast<const char*>(stream.Memory()),
                        static_cast<size_t>(stream.Size()));
    }
    return part;
  }

  TDiskTableDefMgr& Tables_;
  TTableDef Def_;
  TRecordMgr Records_;
  TBlobInterface Blobs_;
  TIndexManager Indexes_;
  bool Closed_ = false;
};

// The two tables of the file: names, encryption and the IDs a new file
// gives them in this order.
struct TTableSpec {
  const char* Name;
  TEncryptionLevel Level;
  int32_t TableID;
};
inline const std::vector<TTableSpec>& PartsTables() {
  static const std::vector<TTableSpec> specs = {{"Parts", encNone, 1}, {"Secrets", encStrong, 2}};
  return specs;
}

// A memo long enough to take several blocks unless compressed.
inline std::string LongNotes(int32_t Seed) {
  std::string notes;
  for (int i = 1; i <= 30; ++i)
    notes += "Batch " + std::to_string(Seed * 100 + i) + ": teeth checked, fits.\n";
  return notes;
}

inline std::vector<TPart> SampleParts() {
  return {{1, "Widget", ""}, {2, "gadget", LongNotes(2)}, {3, "Sprocket", "short"}, {4, "bolt", ""}};
}

// Creates FileName with both tables and the sample parts in each,
// committed.
inline void BuildSample(const std::string& FileName) {
  CreateFile(FileName);
  TDatabase db(FileName);
  for (const TTableSpec& spec : PartsTables()) {
    std::unique_ptr<TTableDef> def = MakePartsDef(spec.Name, spec.Level);
    db.Tables.CreateTableDef(spec.Name, *def);
    if (def->TableID() != spec.TableID) throw std::logic_error("unexpected table ID");
  }
  db.Disk.DiskStartTransaction(false);
  for (const TTableSpec& spec : PartsTables()) {
    TTable table(db.Tables, *MakePartsDef(spec.Name, spec.Level, spec.TableID));
    for (const TPart& part : SampleParts()) table.Add(part);
    table.Close();
  }
  db.Disk.DiskCommit();
  db.Close();
}

// Opens FileName and reads every record through every index of both tables,
// each with its memo. A damaged file may raise the engine's error, nothing
// else.
inline void ReadEverything(const std::string& FileName) {
  TDatabase db(FileName);
  for (const TTableSpec& spec : PartsTables()) {
    TTable table(db.Tables, *MakePartsDef(spec.Name, spec.Level, spec.TableID));
    for (int32_t i = 0; i < table.Indexes().Count(); ++i)
      table.InOrder(table.Indexes().Items(i)->IndexName());
    table.Close();
  }
  db.Close();
}

}  // namespace zel::partsdb
