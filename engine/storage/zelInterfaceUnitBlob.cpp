#include <algorithm>
#include <cstring>
#include <limits>

#include "engine/storage/zelCommon.h"
#include "engine/storage/zelInterfaceUnit.h"

namespace zel {

namespace {

// Blob chain block offsets.
constexpr int32_t bcNext = 0;
constexpr int32_t bcUsed = 4;
constexpr int32_t bcData = 8;

// The smallest block that still carries data behind its 8-byte header.
constexpr uint32_t kMinBlobBlockSize = bcData + 1;

uint32_t LoadU32(const uint8_t* P) {
  return uint32_t{P[0]} | (uint32_t{P[1]} << 8) | (uint32_t{P[2]} << 16) | (uint32_t{P[3]} << 24);
}

void StoreU32(uint8_t* P, uint32_t V) {
  for (int i = 0; i < 4; ++i) P[i] = static_cast<uint8_t>(V >> (8 * i));
}

// Reads exactly Count bytes at Offset of Stream.
void ReadAt(plat::TStream& Stream, int64_t Offset, void* Buf, int32_t Count) {
  Stream.Seek(Offset, plat::TSeekOrigin::soBeginning);
  Stream.ReadBuffer(Buf, Count);
}

}  // namespace

TBlobInterface::TBlobInterface() : TempStream_(std::make_unique<plat::TMemoryStream>()) {}

TBlobInterface::~TBlobInterface() = default;

void TBlobInterface::Open() {
  if (IOInterface_ == nullptr)
    ZelDatabaseError(0x2185, "TBlobInterface.Open",
                     "Unable to create blob interface - IOInterface is null", this);
  if (BlobBlockSize_ == 0)
    ZelDatabaseError(0x2185, "TBlobInterface.Open",
                     "Unable to create blob interface - Block size is 0", this);
  // A block without room for data would make every chain endless.
  if (BlobBlockSize_ < kMinBlobBlockSize || BlobBlockSize_ > INT32_MAX)
    ZelDatabaseError(0x2185, "TBlobInterface.Open",
                     "Unable to create blob interface - Block size is invalid", this);
  Buffer_.assign(BlobBlockSize_, 0);
}

void TBlobInterface::Close() {
  Buffer_.clear();
  Buffer_.shrink_to_fit();
  IOInterface_ = nullptr;
  BlobBlockSize_ = 0;
}

void TBlobInterface::CheckOpen(const char* Context) const {
  if (IOInterface_ == nullptr || Buffer_.empty() || Buffer_.size() != BlobBlockSize_)
    ZelDatabaseError(0x2180, Context, "", this);
}

TGZip& TBlobInterface::GZip() {
  if (!GZip_) GZip_ = std::make_unique<TGZip>();
  return *GZip_;
}

void TBlobInterface::CompressToTempStream(plat::TStream& Source) {
  TempStream_->Clear();
  Source.SetPosition(0);
  GZip().Compress(Source, *TempStream_);
  TempStream_->SetPosition(0);
}

void TBlobInterface::DecompressFromTempStream(plat::TStream& Dest) {
  TempStream_->SetPosition(0);
  GZip().UnCompress(*TempStream_, Dest);
}

plat::TStream& TBlobInterface::ChooseStoredForm(const std::string& FieldName, plat::TStream& Stream,
                                                TDataCompressionMode& Mode, int32_t& Value) {
  Mode = dcNone;
  Value = 0;
  if (UseCompression_) {
    TempStream_->Clear();
    Mode = dcZelZLib;
    if (OnCompressBlob) {
      Stream.SetPosition(0);
      OnCompressBlob(FieldName, Stream, *TempStream_, Mode, Value);
    }
    if (Mode == dcZelZLib) {
      CompressToTempStream(Stream);
      Value = 1;
    } else if (Mode == dcZelCustom) {
      ZelDatabaseError(0x2A04, "TBlobInterface", SzelBlobCompressionModeNotRecognised, this);
    }
  }
  if (Mode != dcNone) {
    TempStream_->SetPosition(0);
    return *TempStream_;
  }
  Stream.SetPosition(0);
  return Stream;
}

uint32_t TBlobInterface::InsertBlob(const std::string& FieldName, plat::TStream& Stream,
                                    TDataCompressionMode& Mode, int32_t& Value) {
  CheckOpen("TBlobInterface.InsertBlob");
  plat::TStream& stored = ChooseStoredForm(FieldName, Stream, Mode, Value);
  return WriteNewBlocks(0, stored.Size(), stored);
}

uint32_t TBlobInterface::EditBlob(const std::string& FieldName, uint32_t Addr, int32_t,
                                  plat::TStream& Stream, TDataCompressionMode& Mode,
                                  int32_t& Value) {
  CheckOpen("TBlobInterface.EditBlob");
  plat::TStream& stored = ChooseStoredForm(FieldName, Stream, Mode, Value);
  return InternalEditBlob(Addr, stored);
}

uint32_t TBlobInterface::WriteNewBlocks(int64_t Offset, int64_t Size, plat::TStream& Stream) {
  if (Size <= 0) return 0;
  // The record keeps a blob's size in 32 bits.
  if (Offset + Size > INT32_MAX)
    ZelDatabaseError(0x2185, "TBlobInterface.WriteNewBlocks", "Blob is too large", this);
  const int64_t data = DataPerBlock();
  const int64_t blocks = (Size + data - 1) / data;
  const int64_t lastLen = Size % data == 0 ? data : Size % data;
  // Written from the end, so each block can carry the address of the one
  // after it. A failure gives back the blocks written so far.
  uint32_t next = 0;
  try {
    for (int64_t k = blocks - 1; k >= 0; --k) {
      const int32_t len = static_cast<int32_t>(k == blocks - 1 ? lastLen : data);
      std::fill(Buffer_.begin(), Buffer_.end(), 0);
      StoreU32(Buffer_.data() + bcNext, next);
      StoreU32(Buffer_.data() + bcUsed, static_cast<uint32_t>(len));
      ReadAt(Stream, Offset + k * data, Buffer_.data() + bcData, len);
      next = IOInterface_->AllocateNewAddress(static_cast<int32_t>(BlobBlockSize_), Buffer_.data());
    }
  } catch (...) {
    try {
      std::unordered_set<uint32_t> visited;
      ReleaseChain(next, visited);
    } catch (...) {
    }
    throw;
  }
  return next;
}

uint32_t TBlobInterface::InternalEditBlob(uint32_t Addr, plat::TStream& Stream) {
  const int64_t size = Stream.Size();
  if (size > INT32_MAX)
    ZelDatabaseError(0x2185, "TBlobInterface.EditBlob", "Blob is too large", this);
  const int64_t data = DataPerBlock();
  std::unordered_set<uint32_t> visited;
  if (size == 0) {
    // Nothing stays stored: the whole chain goes, and no address remains.
    ReleaseChain(Addr, visited);
    return 0;
  }
  if (Addr == 0) return WriteNewBlocks(0, size, Stream);
  int64_t pos = 0;
  uint32_t addr = Addr;
  while (addr != 0 && pos < size) {
    ReadChainBlock(addr, visited, "TBlobInterface.EditBlob");
    const uint32_t oldNext = LoadU32(Buffer_.data() + bcNext);
    const int32_t len = static_cast<int32_t>(std::min(data, size - pos));
    uint32_t next = 0;
    if (pos + len < size) {
      // The old chain continues, or, where it ends, the rest of the data
      // becomes a new chain hung behind this block.
      next = oldNext != 0 ? oldNext : WriteNewBlocks(pos + len, size - pos - len, Stream);
    }
    std::fill(Buffer_.begin(), Buffer_.end(), 0);
    StoreU32(Buffer_.data() + bcNext, next);
    StoreU32(Buffer_.data() + bcUsed, static_cast<uint32_t>(len));
    ReadAt(Stream, pos, Buffer_.data() + bcData, len);
    IOInterface_->WriteBlock(addr, static_cast<int32_t>(BlobBlockSize_), Buffer_.data());
    pos += len;
    if (pos >= size) {
      // The data is used up: what is left of the old chain goes back.
      ReleaseChain(oldNext, visited);
      break;
    }
    if (oldNext == 0) break;
    addr = oldNext;
  }
  return Addr;
}

void TBlobInterface::ReadChainBlock(uint32_t Addr, std::unordered_set<uint32_t>& Visited,
                                    const char* Context) {
  if (!Visited.insert(Addr).second)
    ZelDatabaseError(0x2103, Context, "Blob chain loops back to an earlier block", this);
  IOInterface_->ReadBlock(Addr, static_cast<int32_t>(BlobBlockSize_), Buffer_.data());
  if (LoadU32(Buffer_.data() + bcUsed) > DataPerBlock())
    ZelDatabaseError(0x2103, Context, "Blob block holds more bytes than it can", this);
}

void TBlobInterface::ReleaseChain(uint32_t Addr, std::unordered_set<uint32_t>& Visited) {
  // The whole chain is walked and checked before the first block goes, so a
  // damaged chain is reported without giving back half of it.
  std::vector<uint32_t> blocks;
  while (Addr != 0) {
    ReadChainBlock(Addr, Visited, "TBlobInterface.DeleteBlob");
    blocks.push_back(Addr);
    Addr = LoadU32(Buffer_.data() + bcNext);
  }
  for (uint32_t block : blocks)
    IOInterface_->ReleaseBlock(block, static_cast<int32_t>(BlobBlockSize_));
}

void TBlobInterface::DeleteBlob(uint32_t Addr, int32_t) {
  CheckOpen("TBlobInterface.DeleteBlob");
  std::unordered_set<uint32_t> visited;
  ReleaseChain(Addr, visited);
}

int64_t TBlobInterface::ReadRawChain(uint32_t Addr, plat::TStream& Dest) {
  std::unordered_set<uint32_t> visited;
  int64_t total = 0;
  while (Addr != 0) {
    ReadChainBlock(Addr, visited, "TBlobInterface.ReadBlob");
    const int32_t used = static_cast<int32_t>(LoadU32(Buffer_.data() + bcUsed));
    Dest.WriteBuffer(Buffer_.data() + bcData, used);
    total += used;
    Addr = LoadU32(Buffer_.data() + bcNext);
  }
  return total;
}

int64_t TBlobInterface::ReadBlob(const std::string& FieldName, uint32_t Addr, int32_t Value,
                                 TDataCompressionMode Mode, plat::TStream& Dest) {
  CheckOpen("TBlobInterface.ReadBlob");
  if (Mode == dcUsrCustom && OnDecompressBlob) {
    TempStream_->Clear();
    ReadRawChain(Addr, *TempStream_);
    TempStream_->SetPosition(0);
    OnDecompressBlob(FieldName, *TempStream_, Dest, Mode, Value);
    return Dest.Size();
  }
  if (Mode == dcZelZLib) {
    TempStream_->Clear();
    ReadRawChain(Addr, *TempStream_);
    // A stream that does not inflate was damaged in the file: the host
    // catches the engine's corruption error, not the compressor's text.
    try {
      DecompressFromTempStream(Dest);
    } catch (const EZelDatabaseError&) {
      throw;
    } catch (const plat::Exception& e) {
      ZelDatabaseError(0x2103, "TBlobInterface.ReadBlob",
                       "Blob " + FieldName + " at " + std::to_string(Addr) +
                           " does not decompress: " + e.Message(),
                       this);
    }
    return Dest.Size();
  }
  if (Mode == dcZelCustom)
    ZelDatabaseError(0x2A04, "TBlobInterface", SzelBlobCompressionModeNotRecognised, this);
  return ReadRawChain(Addr, Dest);
}

}  // namespace zel
