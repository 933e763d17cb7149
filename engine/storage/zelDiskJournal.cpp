#include "engine/storage/zelDiskJournal.h"

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "engine/storage/zelCommonError.h"
#include "platform/rtl/Strings.h"

namespace zel {

namespace {

// Header offsets.
constexpr int64_t jhMagic = 0;
constexpr int64_t jhOriginalLength = 8;
constexpr int64_t jhBodyLength = 16;
constexpr int64_t jhEntryCount = 24;
constexpr int64_t jhBodyCRC = 28;
constexpr int64_t jhHeaderCRC = 32;
constexpr int64_t kHeaderSize = 64;
// Entry: position, length, then the bytes.
constexpr int64_t kEntryHead = 8;
constexpr char kMagic[8] = {'Z', 'E', 'L', 'J', 'N', 'L', '0', '1'};
// Nothing in a database lies past 2 GiB; a journal holds at most the file.
constexpr uint64_t kMaxFileSize = uint64_t{1} << 31;
// Another process's commit holds the journal while it writes its pages.
constexpr auto kLockWait = std::chrono::seconds(20);

uint32_t GetU32(const uint8_t* P) {
  return uint32_t{P[0]} | (uint32_t{P[1]} << 8) | (uint32_t{P[2]} << 16) | (uint32_t{P[3]} << 24);
}
uint64_t GetU64(const uint8_t* P) {
  return uint64_t{GetU32(P)} | (uint64_t{GetU32(P + 4)} << 32);
}
void PutU32(uint8_t* P, uint32_t V) {
  for (int i = 0; i < 4; ++i) P[i] = static_cast<uint8_t>(V >> (8 * i));
}
void PutU64(uint8_t* P, uint64_t V) {
  for (int i = 0; i < 8; ++i) P[i] = static_cast<uint8_t>(V >> (8 * i));
}

// The most bytes one read or write of adjacent pages takes at once.
constexpr uint64_t kStretchLimit = uint64_t{1} << 20;

// The indexes of the writes that start before Limit: in file order when no
// two of them overlap (the order in which they are made then does not
// matter), else in the order given.
std::vector<size_t> FileOrder(const std::vector<TJournalWrite>& Writes, uint64_t Limit) {
  std::vector<size_t> order;
  order.reserve(Writes.size());
  for (size_t i = 0; i < Writes.size(); ++i)
    if (Writes[i].Position < Limit) order.push_back(i);
  std::vector<size_t> sorted = order;
  std::sort(sorted.begin(), sorted.end(),
            [&Writes](size_t A, size_t B) { return Writes[A].Position < Writes[B].Position; });
  for (size_t i = 1; i < sorted.size(); ++i) {
    const TJournalWrite& prior = Writes[sorted[i - 1]];
    if (prior.Position + uint64_t{prior.Bytes.size()} > Writes[sorted[i]].Position) return order;
  }
  return sorted;
}

// Hands each stretch of Order whose writes follow one another there and meet
// end to end in the file (at most kStretchLimit bytes unless one write is
// larger) to Visit as the range [From, To) of Order, its position and its
// size, each write counting Length(write) bytes; false as soon as Visit
// fails.
template <class TLength, class TVisit>
bool ForEachStretch(const std::vector<TJournalWrite>& Writes, const std::vector<size_t>& Order,
                    TLength Length, TVisit Visit) {
  size_t from = 0;
  while (from < Order.size()) {
    const uint64_t start = Writes[Order[from]].Position;
    uint64_t size = Length(Writes[Order[from]]);
    size_t to = from + 1;
    for (; to < Order.size(); ++to) {
      const TJournalWrite& w = Writes[Order[to]];
      if (w.Position != start + size || size + Length(w) > kStretchLimit) break;
      size += Length(w);
    }
    if (!Visit(from, to, start, size)) return false;
    from = to;
  }
  return true;
}

uint32_t Crc(const uint8_t* Data, uint64_t Length) {
  uLong crc = crc32(0L, Z_NULL, 0);
  while (Length > 0) {
    const uInt n = static_cast<uInt>(std::min<uint64_t>(Length, 1u << 30));
    crc = crc32(crc, Data, n);
    Data += n;
    Length -= n;
  }
  return static_cast<uint32_t>(crc);
}

bool SameFile(plat::TFile& File, const std::string& Name) {
  uint64_t device = 0, inode = 0, pathDevice = 0, pathInode = 0;
  return File.Identity(device, inode) &&
         plat::FileSystem().FileIdentity(Name, pathDevice, pathInode) && device == pathDevice &&
         inode == pathInode;
}

[[noreturn]] void JournalError(int32_t Code, const char* Context, const std::string& Message) {
  ZelDatabaseError(Code, Context, Message);
}

}  // namespace

std::string FileNameBeside(const std::string& DatabaseName, const char* Extension) {
  if (plat::SameText(plat::ExtractFileExt(DatabaseName), ".zel"))
    return plat::ChangeFileExt(DatabaseName, Extension);
  // Another extension stays part of the name, so that orders.dat and
  // orders.idx do not share one file.
  std::string name = plat::ExtractFileName(DatabaseName);
  std::replace(name.begin(), name.end(), '.', '_');
  return plat::ExtractFilePath(DatabaseName) + name + Extension;
}

std::string JournalFileName(const std::string& DatabaseName) {
  return FileNameBeside(DatabaseName, ".jnl");
}

TDiskJournal::TDiskJournal(plat::TFile& Database, std::string Name)
    : Database_(Database), Name_(std::move(Name)) {}

TDiskJournal::~TDiskJournal() {
  Close();
}

void TDiskJournal::Close() {
  if (!File_) return;
  if (Locked_) File_->UnlockRange(0, 1);
  Locked_ = false;
  File_->Close();
  File_.reset();
}

bool TDiskJournal::TryOpenLocked() {
  File_ = plat::FileSystem().NewFile();
  if (!File_->Open(Name_, plat::TFileAccess::faReadWrite, plat::TFileShare::fsDenyNone)) {
    const int error = File_->LastError();
    File_.reset();
    if (plat::IsNotFoundError(error)) return false;
    JournalError(0x2101, "TDiskJournal.Open", "Unable to open the commit journal " + Name_);
  }
  if (!File_->LockRange(0, 1)) {
    Close();
    return false;
  }
  Locked_ = true;
  // Removed and made anew by another process between the open and the lock.
  if (!SameFile(*File_, Name_)) {
    Close();
    return false;
  }
  return true;
}

void TDiskJournal::Acquire() {
  const auto deadline = std::chrono::steady_clock::now() + kLockWait;
  while (!TryOpenLocked()) {
    if (!plat::FileSystem().FileExists(Name_)) {
      std::unique_ptr<plat::TFile> created = plat::FileSystem().NewFile();
      if (created->Create(Name_, true, plat::TFileShare::fsDenyNone)) {
        created->Close();
        continue;
      }
      if (!plat::IsAlreadyExistsError(created->LastError()))
        JournalError(0x2402, "TDiskJournal.Acquire",
                     "Unable to create the commit journal " + Name_);
      continue;
    }
    if (std::chrono::steady_clock::now() > deadline)
      JournalError(0x2402, "TDiskJournal.Acquire", "The commit journal stays locked: " + Name_);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  // Left by a writer that died half-way through its commit.
  if (File_->Size() != 0) {
    if (!PlayBack())
      JournalError(0x2402, "TDiskJournal.Acquire",
                   "The database could not be restored from its commit journal");
    if (!File_->SetSize(0))
      JournalError(0x2402, "TDiskJournal.Acquire", "Unable to empty the commit journal");
  }
}

bool TDiskJournal::PlayBack() {
  const int64_t size = File_->Size();
  if (size < 0) return false;
  uint8_t header[kHeaderSize] = {};
  if (size < kHeaderSize || File_->ReadAt(0, header, kHeaderSize) != kHeaderSize) return true;
  if (!std::equal(kMagic, kMagic + 8, header + jhMagic)) return true;
  if (GetU32(header + jhHeaderCRC) != Crc(header, jhHeaderCRC)) return true;
  const uint64_t original = GetU64(header + jhOriginalLength);
  const uint64_t bodyLength = GetU64(header + jhBodyLength);
  const uint32_t count = GetU32(header + jhEntryCount);
  if (original > kMaxFileSize || bodyLength != static_cast<uint64_t>(size - kHeaderSize) ||
      bodyLength > 2 * kMaxFileSize)
    return true;
  std::vector<uint8_t> body(bodyLength);
  if (bodyLength > 0 && File_->ReadAt(kHeaderSize, body.data(), static_cast<int64_t>(bodyLength)) !=
                            static_cast<int64_t>(bodyLength))
    return false;
  if (Crc(body.data(), bodyLength) != GetU32(header + jhBodyCRC)) return true;
  // Checked whole before a byte is written back.
  uint64_t at = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (bodyLength - at < kEntryHead) return true;
    const uint64_t position = GetU32(body.data() + at);
    const uint64_t length = GetU32(body.data() + at + 4);
    if (length > bodyLength - at - kEntryHead || position + length > original) return true;
    at += kEntryHead + length;
  }
  if (at != bodyLength) return true;
  at = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const int64_t position = GetU32(body.data() + at);
    const int64_t length = GetU32(body.data() + at + 4);
    if (Database_.WriteAt(position, body.data() + at + kEntryHead, length) != length) return false;
    at += kEntryHead + static_cast<uint64_t>(length);
  }
  return Database_.SetSize(static_cast<int64_t>(original)) && Database_.Flush();
}

void TDiskJournal::Save(const std::vector<TJournalWrite>& Writes, int64_t OriginalLength,
                        bool Durable) {
  const auto original = static_cast<uint64_t>(OriginalLength);
  const auto length = [original](const TJournalWrite& W) {
    return std::min<uint64_t>(W.Bytes.size(), original - W.Position);
  };
  uint64_t bodyLength = 0;
  uint32_t count = 0;
  // Where each write's original bytes go in the body.
  std::vector<uint64_t> offsets(Writes.size(), 0);
  for (size_t i = 0; i < Writes.size(); ++i) {
    if (Writes[i].Position >= original) continue;
    offsets[i] = bodyLength + kEntryHead;
    bodyLength += kEntryHead + length(Writes[i]);
    ++count;
  }
  // Every byte of the body is written below.
  std::unique_ptr<uint8_t[]> body(new uint8_t[std::max<uint64_t>(bodyLength, 1)]);
  for (size_t i = 0; i < Writes.size(); ++i) {
    if (Writes[i].Position >= original) continue;
    PutU32(body.get() + offsets[i] - kEntryHead, Writes[i].Position);
    PutU32(body.get() + offsets[i] - kEntryHead + 4, static_cast<uint32_t>(length(Writes[i])));
  }
  const auto readError = [] {
    JournalError(0x2401, "TDiskJournal.Save", "Unable to complete file read operation");
  };
  const std::vector<size_t> order = FileOrder(Writes, original);
  // Pages that lie side by side in the file are read at once.
  std::vector<uint8_t> stretch;
  ForEachStretch(Writes, order, length, [&](size_t From, size_t To, uint64_t Start, uint64_t Size) {
    const auto n = static_cast<int64_t>(Size);
    if (To - From == 1) {
      if (Database_.ReadAt(static_cast<int64_t>(Start), body.get() + offsets[order[From]], n) != n)
        readError();
      return true;
    }
    stretch.resize(Size);
    if (Database_.ReadAt(static_cast<int64_t>(Start), stretch.data(), n) != n) readError();
    for (size_t k = From; k < To; ++k) {
      const TJournalWrite& w = Writes[order[k]];
      std::memcpy(body.get() + offsets[order[k]], stretch.data() + (w.Position - Start),
                  static_cast<size_t>(length(w)));
    }
    return true;
  });
  uint8_t header[kHeaderSize] = {};
  std::copy(kMagic, kMagic + 8, header + jhMagic);
  PutU64(header + jhOriginalLength, static_cast<uint64_t>(OriginalLength));
  PutU64(header + jhBodyLength, bodyLength);
  PutU32(header + jhEntryCount, count);
  PutU32(header + jhBodyCRC, Crc(body.get(), bodyLength));
  PutU32(header + jhHeaderCRC, Crc(header, jhHeaderCRC));
  // The header last: until it is whole the journal reads as torn.
  const bool saved = (bodyLength == 0 ||
                      File_->WriteAt(kHeaderSize, body.get(), static_cast<int64_t>(bodyLength)) ==
                          static_cast<int64_t>(bodyLength)) &&
                     File_->WriteAt(0, header, kHeaderSize) == kHeaderSize &&
                     (!Durable || File_->Flush());
  if (!saved) {
    File_->SetSize(0);
    JournalError(0x2402, "TDiskJournal.Save", "Unable to write the commit journal " + Name_);
  }
}

void TDiskJournal::Remove() {
  File_->SetSize(0);
  plat::FileSystem().DeleteFile(Name_);
  Close();
}

void TDiskJournal::Apply(const std::vector<TJournalWrite>& Writes, bool Durable) {
  if (Writes.empty()) return;
  Acquire();
  const int64_t original = Database_.Size();
  if (original < 0) JournalError(0x2102, "TDiskJournal.Apply", "Unable to get file size");
  Save(Writes, original, Durable);
  int32_t code = 0;
  const std::vector<size_t> order = FileOrder(Writes, UINT64_MAX);
  // Pages that lie side by side in the file go out at once.
  std::vector<uint8_t> stretch;
  const auto length = [](const TJournalWrite& W) { return uint64_t{W.Bytes.size()}; };
  const bool written = ForEachStretch(
      Writes, order, length, [&](size_t From, size_t To, uint64_t Start, uint64_t Size) {
        const uint8_t* bytes = Writes[order[From]].Bytes.data();
        if (To - From > 1) {
          stretch.resize(Size);
          for (size_t k = From; k < To; ++k) {
            const TJournalWrite& w = Writes[order[k]];
            std::copy(w.Bytes.begin(), w.Bytes.end(), stretch.begin() + (w.Position - Start));
          }
          bytes = stretch.data();
        }
        const auto n = static_cast<int64_t>(Size);
        return Database_.WriteAt(static_cast<int64_t>(Start), bytes, n) == n;
      });
  if (!written) code = 0x2402;
  if (code == 0 && Durable && !Database_.Flush()) code = 0x2102;
  if (code == 0) {
    // The pages are in the file: a crash from here on keeps the commit.
    if (Durable && !(File_->SetSize(0) && File_->Flush()))
      JournalError(0x2402, "TDiskJournal.Apply", "Unable to empty the commit journal " + Name_);
    Remove();
    return;
  }
  // The file is part new, part old: put the old back now, or leave the
  // journal to whoever opens the database next.
  if (PlayBack()) {
    Remove();
  } else {
    Close();
  }
  if (code == 0x2102)
    JournalError(code, "TDiskJournal.Apply", "The file buffers could not be flushed");
  JournalError(code, "TDiskJournal.Apply", "Unable to complete file write operation");
}

bool TDiskJournal::Recover(plat::TFile& Database, const std::string& Name) {
  if (!plat::FileSystem().FileExists(Name)) return false;
  TDiskJournal journal(Database, Name);
  if (!journal.TryOpenLocked()) return false;
  if (!journal.PlayBack())
    JournalError(
        0x2101, "TDiskJournal.Recover",
        "The database must be restored from its commit journal " + Name + " and cannot be written");
  journal.Remove();
  return true;
}

void TDiskJournal::Discard(plat::TFile& Database, const std::string& Name) {
  if (!plat::FileSystem().FileExists(Name)) return;
  TDiskJournal journal(Database, Name);
  if (journal.TryOpenLocked()) journal.Remove();
}

}  // namespace zel
