// A walk through what the engine can do so far. It grows with the engine:
// each capability that lands shows itself here.
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "zel15rd5.h"

namespace {

void Section(const char* title) {
  std::printf("\n== %s\n", title);
}

// An engine message as a terminal shows it: the engine's texts break their
// lines with CR LF, which becomes a line break indented by Indent (the
// engine's next line begins with a blank of its own).
std::string ForTerminal(const std::string& Message, size_t Indent) {
  std::string out;
  for (size_t i = 0; i < Message.size(); ++i) {
    if (Message.compare(i, 2, "\r\n") == 0) {
      out += "\n" + std::string(Indent, ' ');
      ++i;
    } else {
      out += Message[i];
    }
  }
  return out;
}

// Every engine failure leaves through one routine: it looks the code up in
// the error table, logs a line and raises the engine's exception.
void ShowErrors() {
  Section("Errors");
  for (const int32_t code : {0x2809, 0x2B23, 0x1234}) {
    try {
      zel::ZelDatabaseError(code, "TDemo.ShowErrors", code == 0x2809 ? "Table CUSTOMERS" : "");
    } catch (const zel::EZelDatabaseError& e) {
      std::printf("code 0x%04X: %s\n", static_cast<unsigned>(e.ErrorCode()),
                  ForTerminal(e.Message(), 12).c_str());
    }
  }
}

void ShowLog() {
  Section("Engine log");
  zel::TDBLogger* logger = zel::GDBLogger();
  logger->LogItem("TDemo.ShowLog", "A line of our own");
  for (int32_t i = 0; i < logger->LogList()->Count(); ++i)
    std::printf("%s\n", logger->LogList()->Strings(i).c_str());
}

void ShowOrdersAndPatterns() {
  Section("String orders and LIKE");
  const std::string a = "Éclair", b = "eclairs";
  std::printf("ANSI order  %s vs %s: %d\n", a.c_str(), b.c_str(),
              zel::DBANSICompareStrings(a.data(), b.data(), int32_t(a.size()), int32_t(b.size()),
                                        true, false) < 0
                  ? -1
                  : 1);
  for (const char* pattern : {"%clair%", "_clair", "É%s"})
    std::printf("'%s' LIKE '%s': %s\n", a.c_str(), pattern,
                zel::MatchPatternedStrings(a, pattern) ? "yes" : "no");
}

void ShowDigests() {
  Section("Checksums and digests");
  const std::string text = "123456789";
  std::printf("CRC-32 of \"%s\": %08X\n", text.c_str(),
              zel::CalcCRC(text.data(), int32_t(text.size())));
  zel::TSha1Digest digest{};
  zel::GetSHA1FromString("abc", digest);
  std::printf("SHA-1 of \"abc\": %08X %08X %08X %08X %08X\n", digest[0], digest[1], digest[2],
              digest[3], digest[4]);
}

// ---------------------------------------------------------------- Storage
//
// The storage engine as it stands: a paged database file with transactions,
// table definitions and their manager, records, blob chains and B-tree
// indexes, used by hand: the demo wires up the table-header store, fills
// record buffers and keeps the indexes, which the database and table
// components do for a host (the section after this one).

constexpr int32_t kPageSize = 4096;
const std::string kCryptKey = "demo key";

// What the table manager stands on: the disk manager, the store of table
// headers and the manager of user tables, whose table map fills pages 3 and
// 4 of the file's system area.
struct TDemoDatabase {
  explicit TDemoDatabase(const std::string& FileName) {
    Disk.SetFileName(FileName);
    Disk.SetPageSize(kPageSize);
    Disk.Open();
    // The key of strongly encrypted tables.
    Disk.SetCryptKey(kCryptKey);
    Headers.SetDiskMgr(&Disk);
    Headers.SetBlockSize(zel::TableHeaderBlockSize);
    Headers.SetUsage(zel::iuTableHeaders);
    Headers.SetGlobalFirstEmptyOffset(zel::ghTableHeadersFirstEmpty);
    Headers.Open();
    Tables.SetHdrDiskInterface(&Headers);
    Tables.SetBaseDefMgrAddress(3 * kPageSize);
    Tables.Open();
  }
  ~TDemoDatabase() {
    try {
      Tables.Close();
      Headers.Close();
      Disk.Close();
    } catch (...) {
    }
  }

  zel::TDiskMgr Disk;
  zel::TDiskIOInterface Headers;
  zel::TDiskTableDefMgr Tables;
};

// A part, as the demo's tables hold it.
struct TPart {
  int32_t ID = 0;
  std::string Name;
  double Price = 0;
  bool InStock = false;
  std::string Notes;  // a memo: stored as a blob chain
};

// The definition of a parts table: five fields of different types, a unique
// index on ID and a case-insensitive, descending one on Name. A database
// would keep it in its catalogue; the demo builds it again on every open.
std::unique_ptr<zel::TTableDef> MakePartsDef(const std::string& Name, zel::TEncryptionLevel Level) {
  auto def = std::make_unique<zel::TTableDef>();
  def->SetTableName(Name);
  def->SetVersion("1.50.03");
  def->SetEncryptionLevel(Level);
  def->SetEncrypted(Level != zel::encNone);
  def->SetBlobCompression(true);
  const struct {
    const char* Name;
    plat::TFieldType Type;
    int32_t Size;
  } fields[] = {{"ID", plat::ftInteger, 0},
                {"Name", plat::ftString, 21},
                {"Price", plat::ftFloat, 0},
                {"InStock", plat::ftBoolean, 0},
                {"Notes", plat::ftMemo, 0}};
  for (const auto& item : fields) {
    zel::TInternalFieldItem* field = def->InternalFields().Add();
    field->SetFieldName(item.Name);
    field->SetDataType(item.Type);
    if (item.Size > 0) field->SetFieldSize(item.Size);
    field->SetFieldIndex(def->InternalFields().Count() - 1);
    field->SetFieldNo(def->InternalFields().Count());
  }
  def->InternalFields().SetDefaultOffsets();

  const struct {
    const char* Name;
    const char* Field;
    bool Unique, CaseInsensitive, Descending;
  } indexes[] = {{"pkID", "ID", true, false, false}, {"ixName", "Name", false, true, true}};
  for (const auto& item : indexes) {
    zel::TInternalIndexDef* index = def->InternalIndexDefs().Add();
    index->SetIndexName(item.Name);
    index->SetUnique(item.Unique);
    index->SetPrimary(item.Unique);
    index->SetIndexSequence(def->InternalIndexDefs().Count() - 1);
    index->SetIndexKeyType(zel::ikMinStringLen);
    // A key field repeats the layout of the record field it is made from.
    const zel::TInternalFieldItem* field = def->InternalFields().FindField(item.Field);
    zel::TKeyFields keys;
    zel::TKeyFieldItem* key = keys.Add();
    key->SetIndexName(item.Name);
    key->SetFieldName(field->FieldName());
    key->SetDataType(field->DataType());
    key->SetFieldSize(field->FieldSize());
    key->SetPhysicalFieldNo(field->FieldNo());
    key->SetRecBufOffset(field->DataOffset());
    key->SetNullFlagOffset(field->NullFlagOffset());
    key->SetSizeMarkerOffset(field->SizeMarkerOffset());
    key->SetCaseInsensitive(item.CaseInsensitive);
    key->SetDescending(item.Descending);
    zel::CalculateIndexDefSizes(*index, keys);
    def->KeyFields().Add()->Assign(key);
  }
  def->UpdateVersion();
  return def;
}

// One open table: a cursor's copy of the definition, connected to the
// master's stores, with the record, blob and index managers a cursor keeps.
// Closing hands the stores' free-block heads to the shared table header,
// which the last connection writes.
class TDemoTable {
 public:
  TDemoTable(zel::TDiskTableDefMgr& Tables, const zel::TTableDef& Def) : Tables_(Tables) {
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
      Indexes_.SetDBStringCompareFunction(zel::DBANSICompareStrings);
      Indexes_.Assign(&Def_.InternalIndexDefs());
      Indexes_.AssignKeyFields(Def_.KeyFields());
      Indexes_.Open();
    } catch (...) {
      Tables_.CloseTableDefConnection(Def_.TableID());
      throw;
    }
  }
  TDemoTable(const TDemoTable&) = delete;
  TDemoTable& operator=(const TDemoTable&) = delete;
  ~TDemoTable() {
    try {
      Close();
    } catch (...) {
    }
  }

  void Close() {
    if (Closed_) return;
    Closed_ = true;
    zel::TTableHeader& header = *Def_.TableHeader();
    header.SetRecordFirstEmpty(Def_.RecordInterface()->FirstEmpty());
    header.SetBlobFirstEmpty(Def_.BlobInterface()->FirstEmpty());
    Indexes_.Close();
    Blobs_.Close();
    Records_.Close();
    Tables_.CloseTableDefConnection(Def_.TableID());
  }

  int32_t Count() { return Indexes_.Items(0)->GetRecordCount(); }

  // Stores the record, its memo, and a key in every index.
  void Add(const TPart& Part) {
    zel::TTableHeader& header = *Def_.TableHeader();
    header.SetLogicalRecordNo(header.GetLogicalRecordNo() + 1);
    std::vector<uint8_t> rec = Record(Part);
    zel::ix::StoreU32(rec.data() + zel::rpOwnerCode, Def_.RecordInterface()->OwnerFlag());
    zel::ix::StoreU32(rec.data() + zel::rpLogicalRecordNo,
                      static_cast<uint32_t>(header.GetLogicalRecordNo()));
    if (!Part.Notes.empty()) {
      // A blob field: chain address, data size, compression mode and value.
      plat::TMemoryStream stream;
      stream.WriteBuffer(Part.Notes.data(), static_cast<int32_t>(Part.Notes.size()));
      zel::TDataCompressionMode mode = zel::dcNone;
      int32_t value = 0;
      const uint32_t chain = Blobs_.InsertBlob("Notes", stream, mode, value);
      const zel::TInternalFieldItem& f = Field("Notes");
      uint8_t* p = rec.data() + f.DataOffset();
      rec[static_cast<size_t>(f.NullFlagOffset())] = 1;
      zel::ix::StoreU32(p, chain);
      zel::ix::StoreU32(p + 4, static_cast<uint32_t>(Part.Notes.size()));
      zel::ix::StoreU32(p + 8, mode);
      zel::ix::StoreU32(p + 12, static_cast<uint32_t>(value));
    }
    const uint32_t addr = Records_.AddRecord(rec.data());
    for (int32_t i = 0; i < Indexes_.Count(); ++i) {
      Indexes_.Items(i)->CreateKeyBuffer(rec.data());
      if (Indexes_.Items(i)->InsertKey(addr) != 0) throw std::runtime_error("key not inserted");
    }
  }

  // The records in the order of the index.
  std::vector<TPart> InOrder(const std::string& Index) {
    std::vector<TPart> parts;
    zel::TIndexItem* index = Indexes_.FindIndex(Index);
    for (bool more = index->BTree().SetCursorToEnd(true); more; more = index->NextKey())
      parts.push_back(Read(index->GetRecordAddress()));
    return parts;
  }

  // The first record whose key in the index equals that of Key; false when
  // there is none.
  bool Find(const std::string& Index, const TPart& Key, TPart& Found) {
    zel::TIndexItem* index = Indexes_.FindIndex(Index);
    index->CreateKeyBuffer(Record(Key).data());
    if (index->FullIndexSearch(zel::stEQ) != 0) return false;
    Found = Read(index->GetRecordAddress());
    return true;
  }

 private:
  const zel::TInternalFieldItem& Field(const char* Name) const {
    return *Def_.InternalFields().FindField(Name);
  }

  // A record buffer with the plain fields set, as the cursor lays them out.
  std::vector<uint8_t> Record(const TPart& Part) const {
    std::vector<uint8_t> rec(static_cast<size_t>(Def_.RecordSize()), 0);
    rec[zel::rpInUse] = 1;
    const auto value = [&](const char* Name) {
      const zel::TInternalFieldItem& f = Field(Name);
      rec[static_cast<size_t>(f.NullFlagOffset())] = 1;
      return rec.data() + f.DataOffset();
    };
    zel::ix::StoreU32(value("ID"), static_cast<uint32_t>(Part.ID));
    const std::string name =
        Part.Name.substr(0, static_cast<size_t>(Field("Name").GetWriteableFieldSize()));
    std::memcpy(value("Name"), name.data(), name.size());
    zel::ix::StoreU16(rec.data() + Field("Name").SizeMarkerOffset(),
                      static_cast<uint16_t>(name.size()));
    zel::ix::StoreDouble(value("Price"), Part.Price);
    *value("InStock") = Part.InStock ? 1 : 0;
    return rec;
  }

  TPart Read(uint32_t Addr) {
    std::vector<uint8_t> rec(static_cast<size_t>(Def_.RecordSize()));
    Records_.ReadRecord(Addr, rec.data(), false);
    const auto at = [&](const char* Name) { return rec.data() + Field(Name).DataOffset(); };
    TPart part;
    part.ID = static_cast<int32_t>(zel::ix::LoadU32(at("ID")));
    part.Name.assign(reinterpret_cast<const char*>(at("Name")),
                     static_cast<size_t>(Field("Name").ReadSizeMarker(rec.data())));
    part.Price = zel::ix::LoadDouble(at("Price"));
    part.InStock = *at("InStock") != 0;
    if (rec[static_cast<size_t>(Field("Notes").NullFlagOffset())] != 0) {
      const uint8_t* blob = at("Notes");
      plat::TMemoryStream stream;
      Blobs_.ReadBlob("Notes", zel::ix::LoadU32(blob),
                      static_cast<int32_t>(zel::ix::LoadU32(blob + 12)),
                      static_cast<zel::TDataCompressionMode>(zel::ix::LoadU32(blob + 8)), stream);
      part.Notes.assign(static_cast<const char*>(stream.Memory()),
                        static_cast<size_t>(stream.Size()));
    }
    return part;
  }

  zel::TDiskTableDefMgr& Tables_;
  zel::TTableDef Def_;
  zel::TRecordMgr Records_;
  zel::TBlobInterface Blobs_;
  zel::TIndexManager Indexes_;
  bool Closed_ = false;
};

// A folder of its own under the system's temporary folder, removed with
// everything in it at the end.
struct TTempFolder {
  TTempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zel-demo-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("no temporary folder");
    Path = pattern;
  }
  ~TTempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(Path, ignored);
  }
  std::string File(const char* Name) const { return (std::filesystem::path(Path) / Name).string(); }

  std::string Path;
};

const std::vector<TPart> kParts = {
    {1, "Widget", 2.50, true, ""},
    {2, "gadget", 12.00, false, ""},
    {3, "Sprocket", 0.75, true, ""},
    {4, "bolt", 0.10, true, ""},
};
const std::vector<TPart> kSecrets = {
    {1, "Nightshade", 99.00, false, "Keep away from the canteen."},
    {2, "Foxglove", 45.50, true, ""},
};

// A memo of some length, so that its chain needs several blocks unless
// compressed.
std::string SprocketNotes() {
  std::string notes;
  for (int i = 1; i <= 40; ++i) notes += "Batch " + std::to_string(i) + ": teeth checked, fits.\n";
  return notes;
}

void PrintPart(const TPart& Part) {
  std::printf("  %2d  %-10s %6.2f  %-8s", Part.ID, Part.Name.c_str(), Part.Price,
              Part.InStock ? "in stock" : "sold out");
  if (!Part.Notes.empty()) std::printf("  notes: %zu bytes", Part.Notes.size());
  std::printf("\n");
}

// The tables as the demo made them: a definition and the ID the table
// manager gave it.
struct TDemoTables {
  int32_t PartsID = 0;
  int32_t SecretsID = 0;

  std::unique_ptr<zel::TTableDef> Parts() const { return Stored("Parts", zel::encNone, PartsID); }
  std::unique_ptr<zel::TTableDef> Secrets() const {
    return Stored("Secrets", zel::encStrong, SecretsID);
  }

 private:
  static std::unique_ptr<zel::TTableDef> Stored(const char* Name, zel::TEncryptionLevel Level,
                                                int32_t TableID) {
    std::unique_ptr<zel::TTableDef> def = MakePartsDef(Name, Level);
    def->SetTableID(TableID);
    return def;
  }
};

// Creates the file and the two tables.
TDemoTables CreateDatabase(const std::string& FileName) {
  Section("Storage: a database file and two tables");
  {
    zel::TDiskMgr creator;
    creator.SetFileName(FileName);
    creator.SetPageSize(kPageSize);
    creator.CreateNewFile();
  }
  std::printf("created %s (pages of %d bytes)\n",
              std::filesystem::path(FileName).filename().c_str(), kPageSize);
  TDemoDatabase db(FileName);
  std::unique_ptr<zel::TTableDef> parts = MakePartsDef("Parts", zel::encNone);
  std::unique_ptr<zel::TTableDef> secrets = MakePartsDef("Secrets", zel::encStrong);
  db.Tables.CreateTableDef("Parts", *parts);
  db.Tables.CreateTableDef("Secrets", *secrets);
  for (const zel::TTableDef* def : {parts.get(), secrets.get()}) {
    std::printf("table %-7s id %d, %d fields, %d-byte records, %s\n", def->TableName().c_str(),
                def->TableID(), def->InternalFields().Count(), def->RecordSize(),
                def->Encrypted() ? "Blowfish-encrypted pages" : "plain pages");
  }
  std::printf("indexes: pkID (ID, unique), ixName (Name, case-insensitive, descending)\n");
  return {parts->TableID(), secrets->TableID()};
}

void AddRecords(const std::string& FileName, const TDemoTables& Tables) {
  Section("Storage: records and transactions");
  TDemoDatabase db(FileName);
  const std::unique_ptr<zel::TTableDef> partsDef = Tables.Parts();
  const std::unique_ptr<zel::TTableDef> secretsDef = Tables.Secrets();

  // Nothing reaches the file before the commit.
  db.Disk.DiskStartTransaction(false);
  {
    TDemoTable parts(db.Tables, *partsDef);
    for (TPart part : kParts) {
      if (part.ID == 3) part.Notes = SprocketNotes();
      parts.Add(part);
    }
    TDemoTable secrets(db.Tables, *secretsDef);
    for (const TPart& part : kSecrets) secrets.Add(part);
  }
  db.Disk.DiskCommit();
  std::printf("committed %zu parts and %zu secrets; memos go zlib-compressed into blob chains\n",
              kParts.size(), kSecrets.size());

  db.Disk.DiskStartTransaction(false);
  {
    TDemoTable parts(db.Tables, *partsDef);
    parts.Add({5, "Gizmo", 7.25, false, "Never made it."});
    std::printf("in a transaction Parts holds %d records\n", parts.Count());
  }
  db.Disk.DiskRollback();
  TDemoTable parts(db.Tables, *partsDef);
  std::printf("rolled back: Parts holds %d records\n", parts.Count());
}

void ReadBack(const std::string& FileName, const TDemoTables& Tables) {
  Section("Storage: reading back after reopening");
  TDemoDatabase db(FileName);
  TDemoTable parts(db.Tables, *Tables.Parts());
  std::printf("Parts by pkID:\n");
  for (const TPart& part : parts.InOrder("pkID")) PrintPart(part);
  std::printf("Parts by ixName (case-insensitive, descending):\n");
  for (const TPart& part : parts.InOrder("ixName")) PrintPart(part);

  TPart found;
  if (parts.Find("pkID", {3, "", 0, false, ""}, found))
    std::printf("pkID = 3: %s, notes begin \"%s\"\n", found.Name.c_str(),
                found.Notes.substr(0, found.Notes.find('\n')).c_str());
  if (parts.Find("ixName", {0, "WIDGET", 0, false, ""}, found))
    std::printf("ixName = 'WIDGET': ID %d, %s\n", found.ID, found.Name.c_str());
  if (!parts.Find("pkID", {5, "", 0, false, ""}, found))
    std::printf("pkID = 5: not found (rolled back)\n");

  TDemoTable secrets(db.Tables, *Tables.Secrets());
  std::printf("Secrets by pkID, decrypted:\n");
  for (const TPart& part : secrets.InOrder("pkID")) PrintPart(part);
}

// Whether Text occurs anywhere in the file's bytes.
bool FileContains(const std::string& FileName, const std::string& Text) {
  std::ifstream in(FileName, std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  return bytes.find(Text) != std::string::npos;
}

void ShowFile(const std::string& FileName, const TDemoTables& Tables) {
  Section("Storage: the file");
  std::printf("'Widget' in the file's bytes: %s; 'Nightshade': %s\n",
              FileContains(FileName, "Widget") ? "yes" : "no",
              FileContains(FileName, "Nightshade") ? "yes" : "no");
  TDemoDatabase db(FileName);
  const auto pages = [&](int32_t TableID) {
    std::vector<uint32_t> list;
    db.Disk.MapPageMgr()->ListPagesUsedByOwner(static_cast<uint32_t>(TableID), 0, false, list);
    return list.size();
  };
  const int64_t size = db.Disk.GetFileSize();
  std::printf("%lld bytes, %lld pages; Parts owns %zu of them, Secrets %zu\n",
              static_cast<long long>(size), static_cast<long long>(size / kPageSize),
              pages(Tables.PartsID), pages(Tables.SecretsID));
  const std::unique_ptr<zel::TTableDef> secrets = Tables.Secrets();
  db.Tables.DeleteTableDef("Secrets", *secrets);
  std::printf("deleted Secrets: it owns %zu pages now, free for other tables\n",
              pages(Tables.SecretsID));
}

void ShowStorage() {
  TTempFolder folder;
  const std::string file = folder.File("demo.zel");
  const TDemoTables tables = CreateDatabase(file);
  AddRecords(file, tables);
  ReadBack(file, tables);
  ShowFile(file, tables);
}

// ---------------------------------------------------------------- Databases and tables
//
// The same kind of work through the database component and the table
// component: the file keeps the definitions of its tables in its catalogue,
// and the tables go through the dataset protocol a host's controls use.

void PrintTable(zel::TZelTable& Table, const char* Title) {
  std::printf("%s:\n", Title);
  for (Table.First(); !Table.Eof(); Table.Next()) {
    std::printf("  %2d  %-10s %6.2f  %-8s", Table.FieldByName("ID")->AsInteger(),
                Table.FieldByName("Name")->AsString().c_str(),
                Table.FieldByName("Price")->AsFloat(),
                Table.FieldByName("InStock")->AsBoolean() ? "in stock" : "sold out");
    const std::string notes = Table.FieldByName("Notes")->AsString();
    if (!notes.empty()) std::printf("  notes: %zu bytes", notes.size());
    std::printf("\n");
  }
}

void ShowDatabase() {
  Section("Databases and tables: TZelDataBase and TZelTable");
  TTempFolder folder;
  zel::TZelDataBase db;
  db.SetDataBaseName(folder.File("shop.zel"));
  db.SetExclusive(true);
  db.SetUseEncryption(true);
  db.SetMasterKey("demo master key");
  db.CreateDatabase();
  std::printf("created %s, encrypted with its master key\n", db.DataBaseName().c_str());

  db.SetMasterKey("demo master key");
  db.SetConnected(true);
  {
    zel::TZelTable parts;
    parts.SetDataBase(&db);
    parts.SetTableName("Parts");
    parts.FieldDefs().Add("ID", plat::ftAutoInc);
    parts.FieldDefs().Add("Name", plat::ftString, 20);
    parts.FieldDefs().Add("Price", plat::ftFloat);
    parts.FieldDefs().Add("InStock", plat::ftBoolean);
    parts.FieldDefs().Add("Notes", plat::ftMemo);
    parts.IndexDefs().Add("pkID", "ID", {plat::ixPrimary, plat::ixUnique});
    parts.IndexDefs().Add("ixName", "Name",
                          {plat::ixUnique, plat::ixCaseInsensitive, plat::ixDescending});
    parts.CreateTable();
    parts.Open();
    for (const TPart& part : kParts) {
      parts.Append();
      parts.FieldByName("Name")->SetAsString(part.Name);
      parts.FieldByName("Price")->SetAsFloat(part.Price);
      parts.FieldByName("InStock")->SetAsBoolean(part.InStock);
      if (part.ID == 3) parts.FieldByName("Notes")->SetAsString(SprocketNotes());
      parts.Post();
    }
    std::printf("Parts holds %d records; the IDs came from the auto-increment field\n",
                parts.RecordCount());
    parts.Append();
    parts.FieldByName("Name")->SetAsString("WIDGET");
    try {
      parts.Post();
    } catch (const zel::EZelDatabaseError& e) {
      std::printf("a second 'WIDGET': 0x%04X %s\n", static_cast<unsigned>(e.ErrorCode()),
                  e.Message().c_str());
      parts.Cancel();
    }
    parts.Close();

    zel::TZelTable log;
    log.SetDataBase(&db);
    log.SetTableName("Log");
    log.FieldDefs().Add("Line", plat::ftString, 40);
    log.CreateTable();
    log.Open();
    for (const char* line : {"opened the shop", "counted the bolts", "closed"})
      log.AppendRecord({plat::Variant(line)});
    log.Close();
  }
  db.SetConnected(false);

  std::printf("reopened:\n");
  db.SetMasterKey("demo master key");
  db.SetConnected(true);
  plat::TStringList names;
  db.GetTableNames(names, false);
  for (int32_t i = 0; i < names.Count(); ++i) std::printf("  table %s\n", names.Strings(i).c_str());
  zel::TZelTable parts;
  parts.SetDataBase(&db);
  parts.SetTableName("Parts");
  parts.Open();
  PrintTable(parts, "Parts by pkID");
  parts.SetIndexName("ixName");
  PrintTable(parts, "Parts by ixName (case-insensitive, descending)");
  parts.SetRecNo(2);
  parts.Edit();
  parts.FieldByName("Price")->SetAsFloat(3.10);
  parts.Post();
  parts.Last();
  parts.Delete();
  parts.SetIndexName("pkID");
  PrintTable(parts, "after a price change and deleting the last by name");
  // A filter: the case-insensitive index on Name answers the LIKE, the
  // price is checked row by row.
  parts.SetFilterOptions({plat::foCaseInsensitive});
  parts.SetFilter("Name like 's%' or Price > 10");
  parts.SetFiltered(true);
  std::printf("the filter \"%s\" passes %d parts\n", parts.Filter().c_str(), parts.RecordCount());
  PrintTable(parts, "Parts the filter passes");
  parts.SetFiltered(false);
  parts.Close();
  zel::TZelTable log;
  log.SetDataBase(&db);
  log.SetTableName("Log");
  log.Open();
  std::printf("Log, in the order written (no index):\n");
  for (log.First(); !log.Eof(); log.Next())
    std::printf("  %s\n", log.FieldByName("Line")->AsString().c_str());
  log.Close();
  db.SetConnected(false);

  db.SetMasterKey("not the key");
  try {
    db.SetConnected(true);
  } catch (const zel::EZelDatabaseError& e) {
    std::printf("with a wrong master key: 0x%04X %s\n", static_cast<unsigned>(e.ErrorCode()),
                e.Message().c_str());
  }
}

// Key search, a range and a master/detail pair, on tables of the memory
// database: orders and their lines, the lines indexed by order number.
void ShowKeysAndRanges() {
  Section("Key search, ranges and master/detail");
  zel::TZelDataBase db;
  db.SetDataBaseName("memory");
  db.SetConnected(true);
  const auto makeTable = [&](zel::TZelTable& Table, const char* Name, const char* IndexFields) {
    Table.SetDataBase(&db);
    Table.SetTableName(Name);
    Table.SetMemory(true);
    Table.FieldDefs().Add("OrderNo", plat::ftInteger);
    Table.FieldDefs().Add("Text", plat::ftString, 12);
    Table.IndexDefs().Add(std::string("ix") + Name, IndexFields, {plat::ixUnique});
    Table.CreateTable();
    Table.Open();
  };
  zel::TZelTable orders, lines;
  makeTable(orders, "Orders", "OrderNo");
  makeTable(lines, "Lines", "OrderNo;Text");
  for (auto [no, customer] : {std::pair{10, "Ann"}, {20, "Bob"}, {30, "Cid"}})
    orders.AppendRecord({plat::Variant(no), plat::Variant(customer)});
  for (auto [no, item] : {std::pair{10, "bolt"}, {10, "nut"}, {20, "gear"}, {30, "bolt"},
                          {30, "spring"}, {30, "washer"}})
    lines.AppendRecord({plat::Variant(no), plat::Variant(item)});

  const auto order = [&] {
    return std::to_string(orders.FieldByName("OrderNo")->AsInteger()) + " " +
           orders.FieldByName("Text")->AsString();
  };
  orders.FindKey({plat::Variant(20)});
  std::printf("FindKey(20): order %s\n", order().c_str());
  const bool found = orders.FindKey({plat::Variant(25)});
  std::printf("FindKey(25): %s, still on order %s\n", found ? "found" : "not found",
              order().c_str());
  orders.FindNearest({plat::Variant(25)});
  std::printf("FindNearest(25): order %s\n", order().c_str());

  lines.SetRange({plat::Variant(30)}, {plat::Variant(30)});
  std::printf("lines of order 30 (a range on the first index field), %d of them:\n",
              lines.RecordCount());
  for (lines.First(); !lines.Eof(); lines.Next())
    std::printf("  #%d %s\n", lines.RecNo(), lines.FieldByName("Text")->AsString().c_str());
  lines.CancelRange();

  plat::TDataSource source(nullptr);
  source.SetDataSet(&orders);
  lines.SetMasterFields("OrderNo");
  lines.SetMasterSource(&source);
  std::printf("each order with its lines (the detail follows the master):\n");
  for (orders.First(); !orders.Eof(); orders.Next()) {
    std::printf("  %s:", order().c_str());
    for (lines.First(); !lines.Eof(); lines.Next())
      std::printf(" %s", lines.FieldByName("Text")->AsString().c_str());
    std::printf("\n");
  }
  lines.Insert();
  lines.FieldByName("Text")->SetAsString("pin");
  lines.Post();
  std::printf("a line inserted under order %s took OrderNo %d\n", order().c_str(),
              lines.FieldByName("OrderNo")->AsInteger());
  lines.SetMasterSource(nullptr);
}

// Prints the rows of an open query, columns padded.
void PrintQuery(zel::TZelQuery& Query) {
  for (Query.First(); !Query.Eof(); Query.Next()) {
    std::printf(" ");
    for (int32_t i = 0; i < Query.FieldCount(); ++i) {
      plat::TField* field = Query.Fields().Fields(i);
      if (field->Visible())
        std::printf(" %-10s", field->IsNull() ? "NULL" : field->AsString().c_str());
    }
    std::printf("\n");
  }
}

void ShowSQL() {
  Section("SQL: TZelQuery");
  TTempFolder folder;
  zel::TZelDataBase db;
  db.SetDataBaseName(folder.File("sales.zel"));
  db.CreateDatabase();
  zel::TZelQuery query;
  query.SetDataBase(&db);
  // A script: its statements run one after the other, each in a transaction
  // of its own.
  query.SQL().SetText(
      "CREATE TABLE region (id INTEGER, name VARCHAR(12), PRIMARY KEY (id));\n"
      "CREATE TABLE sale (no INTEGER, region INTEGER, amount FLOAT, PRIMARY KEY (no));\n"
      "INSERT INTO region VALUES (1, 'North'); INSERT INTO region VALUES (2, 'South');\n"
      "INSERT INTO region VALUES (3, 'East; far');");
  query.ExecSQL();
  query.SQL().SetText("INSERT INTO sale VALUES (:no, :region, :amount)");
  const struct {
    int32_t region;
    double amount;
  } sales[] = {{1, 120.5}, {2, 80}, {1, 40}, {3, 300}, {2, 19.5}, {1, 10}};
  int32_t no = 0;
  for (const auto& sale : sales) {
    query.ParamByName("no")->SetAsInteger(++no);
    query.ParamByName("region")->SetAsInteger(sale.region);
    query.ParamByName("amount")->SetAsFloat(sale.amount);
    query.ExecSQL();
  }
  std::printf("%d sales inserted with parameters\n", no);

  query.SQL().SetText(
      "SELECT r.name, COUNT(*), SUM(s.amount) FROM sale s, region r WHERE s.region = r.id "
      "GROUP BY r.name ORDER BY 3 DESC");
  query.Open();
  std::printf("sales by region (a join with GROUP BY):\n");
  PrintQuery(query);
  query.Close();

  query.SQL().SetText("UPDATE sale SET amount = amount * 2 WHERE region = 2");
  query.ExecSQL();
  std::printf("UPDATE doubled %d sales of the South\n", query.RowsAffected());

  query.SQL().SetText("ALTER TABLE region ADD manager VARCHAR(20)");
  query.ExecSQL();
  query.SQL().SetText("UPDATE region SET manager = 'Kim' WHERE id = 1");
  query.ExecSQL();
  query.SQL().SetText("SELECT id, name, manager FROM region ORDER BY id");
  query.Open();
  std::printf("region after ALTER TABLE ... ADD manager:\n");
  PrintQuery(query);
  query.Close();

  query.SQL().SetText("DROP TABLE nosuch");
  try {
    query.ExecSQL();
  } catch (const zel::EZelDatabaseError& e) {
    std::printf("DROP TABLE nosuch: %s\n", ForTerminal(e.Message(), 2).c_str());
  }
  db.SetConnected(false);
}

}  // namespace

int main() {
  std::puts("zel15rd5 demo");
  ShowErrors();
  ShowLog();
  ShowOrdersAndPatterns();
  ShowDigests();
  try {
    ShowStorage();
    ShowDatabase();
    ShowKeysAndRanges();
    ShowSQL();
  } catch (const plat::Exception& e) {
    std::printf("failed: %s\n", ForTerminal(e.Message(), 7).c_str());
    return 1;
  } catch (const std::exception& e) {
    std::printf("failed: %s\n", e.what());
    return 1;
  }
  return 0;
}
