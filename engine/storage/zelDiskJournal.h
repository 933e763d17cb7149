#pragma once
// The rollback journal of disk commits. Before a commit writes any page in
// place, the original bytes of every range it overwrites and the file's
// original length go to a journal file beside the database; once the last
// page is written the journal is emptied and removed. A process that dies
// half-way through a commit leaves a complete journal: whoever next opens
// the database or commits puts the original bytes and length back.
//
// Journal layout (little-endian):
//   0   magic "ZELJNL01"
//   8   original length of the database file (u64)
//   16  body length in bytes (u64)
//   24  entry count (u32)
//   28  CRC-32 of the body (u32)
//   32  CRC-32 of bytes 0..31 (u32)
//   64  body: per entry its position (u32), its length (u32), its bytes
// A journal whose header or body does not check out was torn before the
// commit touched the database (the header is written after the body): it is
// removed and nothing is played back.
//
// The writer holds an exclusive lock on byte 0 of the journal from before it
// writes it until it is removed; a journal that can be locked has no live
// writer. Commits of several processes queue on that lock.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/os/FileSystem.h"

namespace zel {

// The name of a file beside a database: "orders.zel" gets "orders" +
// Extension, any other name has each "." turned into "_" first
// ("orders.dat" gets "orders_dat" + Extension).
std::string FileNameBeside(const std::string& DatabaseName, const char* Extension);
std::string JournalFileName(const std::string& DatabaseName);

// One write a commit makes in place: bytes as they go to the file.
struct TJournalWrite {
  uint32_t Position;
  std::vector<uint8_t> Bytes;
};

class TDiskJournal {
 public:
  TDiskJournal(plat::TFile& Database, std::string Name);
  TDiskJournal(const TDiskJournal&) = delete;
  TDiskJournal& operator=(const TDiskJournal&) = delete;
  // Lets the journal go as it is: a journal still valid is played back by
  // the next process that opens the database or commits.
  ~TDiskJournal();

  // Writes Writes to the database file, journalled: the journal is saved
  // (and flushed first when Durable), the writes made (and the file flushed
  // when Durable), then the journal removed. A failed write raises the
  // engine's write error after putting the original bytes back when the
  // file still takes writes.
  void Apply(const std::vector<TJournalWrite>& Writes, bool Durable);

  // On open: a journal left by a writer that is gone is played back into
  // Database when complete, and removed either way. A journal whose writer
  // lives is left to it. True when a journal was played back.
  static bool Recover(plat::TFile& Database, const std::string& Name);
  // On create: a journal a dead writer left for an earlier file of the name
  // must never be played back into the new one.
  static void Discard(plat::TFile& Database, const std::string& Name);

 private:
  // Opens or creates the journal and locks it, waiting for another
  // committer; plays back what a dead writer left.
  void Acquire();
  // Opens the journal when present and locks it once; false when there is
  // no journal or its writer lives.
  bool TryOpenLocked();
  // Plays the locked journal back into the database when it is complete;
  // true when the database holds its original bytes and length.
  bool PlayBack();
  void Save(const std::vector<TJournalWrite>& Writes, int64_t OriginalLength, bool Durable);
  // Empties and removes the locked journal, then closes it.
  void Remove();
  void Close();

  plat::TFile& Database_;
  std::string Name_;
  std::unique_ptr<plat::TFile> File_;
  bool Locked_ = false;
};

}  // namespace zel
