#include "engine/storage/zelComp.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/os/FileSystem.h"
#include "platform/rtl/Exceptions.h"

namespace zel {

namespace {

constexpr int32_t kChunk = 16384;
constexpr uint8_t kGzMagic1 = 0x1F;
constexpr uint8_t kGzMagic2 = 0x8B;
constexpr int32_t kGzipWindow = 15 + 16;  // zlib's flag for the gzip wrapper
constexpr char kBlockSignature[4] = {'S', 's', 'B', '\0'};
constexpr int32_t kBlockHeaderSize = 8;

uint32_t LoadU32(const uint8_t* P) {
  return uint32_t{P[0]} | (uint32_t{P[1]} << 8) | (uint32_t{P[2]} << 16) | (uint32_t{P[3]} << 24);
}

void StoreU32(uint8_t* P, uint32_t V) {
  for (int i = 0; i < 4; ++i) P[i] = static_cast<uint8_t>(V >> (8 * i));
}

// Writes all of Count bytes; false when the stream took fewer.
bool WriteAll(plat::TStream& Stream, const void* Buf, int32_t Count) {
  return Count == 0 || Stream.Write(Buf, Count) == Count;
}

}  // namespace

// ---------------------------------------------------------------- TGzFile

struct TGzFile::TState {
  enum TReadMode : uint8_t { rmLook, rmGzip, rmCopy, rmEof };

  plat::TStream* Stream = nullptr;
  bool Writing = false;
  bool ZActive = false;
  bool Closed = false;
  z_stream Z{};
  std::vector<uint8_t> Buffer;  // input of a reader, output of a writer
  TReadMode ReadMode = rmLook;
  int32_t Members = 0;
  bool StreamEnd = false;  // the underlying stream gave no more bytes
  int32_t Error = Z_OK;
  std::string ErrorText;

  void SetError(int32_t Code, const std::string& Text) {
    if (Error == Z_OK) {
      Error = Code;
      ErrorText = Text;
    }
  }

  // Moves unread input to the front and tops the buffer up from the stream.
  void Fill() {
    if (StreamEnd) return;
    if (Z.avail_in > 0 && Z.next_in != Buffer.data())
      std::memmove(Buffer.data(), Z.next_in, Z.avail_in);
    Z.next_in = Buffer.data();
    const int32_t room = static_cast<int32_t>(Buffer.size() - Z.avail_in);
    if (room <= 0) return;
    const int32_t got = Stream->Read(Buffer.data() + Z.avail_in, room);
    if (got <= 0)
      StreamEnd = true;
    else
      Z.avail_in += static_cast<uInt>(got);
  }

  // Decides how the bytes at the input position are read: a gzip member,
  // plain bytes (only before any member), or the end.
  void Look() {
    while (Z.avail_in < 2 && !StreamEnd) Fill();
    if (Z.avail_in == 0) {
      ReadMode = rmEof;
    } else if (Z.avail_in >= 2 && Z.next_in[0] == kGzMagic1 && Z.next_in[1] == kGzMagic2) {
      inflateReset(&Z);
      ++Members;
      ReadMode = rmGzip;
    } else if (Members == 0) {
      ReadMode = rmCopy;
    } else {
      // Bytes after the last member that start no new one are ignored.
      Z.avail_in = 0;
      ReadMode = rmEof;
    }
  }
};

TGzFile::TGzFile(std::unique_ptr<TState> State) : State_(std::move(State)) {}

TGzFile::~TGzFile() {
  if (!State_->ZActive) return;
  if (State_->Writing)
    deflateEnd(&State_->Z);
  else
    inflateEnd(&State_->Z);
}

std::unique_ptr<TGzFile> TGzFile::Open(plat::TStream& Stream, const std::string& Mode) {
  bool read = false;
  bool write = false;
  int32_t level = Z_DEFAULT_COMPRESSION;
  int32_t strategy = Z_DEFAULT_STRATEGY;
  for (char c : Mode) {
    if (c >= '0' && c <= '9') {
      level = c - '0';
    } else if (c == 'r') {
      read = true;
    } else if (c == 'w' || c == 'a') {
      write = true;
    } else if (c == 'f') {
      strategy = Z_FILTERED;
    } else if (c == 'h') {
      strategy = Z_HUFFMAN_ONLY;
    } else if (c == 'R') {
      strategy = Z_RLE;
    } else if (c == 'F') {
      strategy = Z_FIXED;
    }
  }
  if (read == write) return nullptr;
  auto state = std::make_unique<TState>();
  state->Stream = &Stream;
  state->Writing = write;
  state->Buffer.resize(kChunk);
  const int ret = write ? deflateInit2(&state->Z, level, Z_DEFLATED, kGzipWindow, 8, strategy)
                        : inflateInit2(&state->Z, kGzipWindow);
  if (ret != Z_OK) return nullptr;
  state->ZActive = true;
  if (!write) state->Z.next_in = state->Buffer.data();
  return std::unique_ptr<TGzFile>(new TGzFile(std::move(state)));
}

const std::string& TGzFile::ErrorText() const {
  return State_->ErrorText;
}

int32_t TGzFile::Read(void* Buf, int32_t Len) {
  TState& s = *State_;
  if (s.Writing || s.Closed) {
    s.SetError(Z_STREAM_ERROR, "stream not open for reading");
    return -1;
  }
  if (s.Error != Z_OK) return -1;
  if (Len < 0) {
    s.SetError(Z_STREAM_ERROR, "requested length does not fit in int");
    return -1;
  }
  auto* out = static_cast<uint8_t*>(Buf);
  int32_t produced = 0;
  while (produced < Len) {
    switch (s.ReadMode) {
      case TState::rmLook:
        s.Look();
        continue;
      case TState::rmEof:
        return produced;
      case TState::rmCopy: {
        if (s.Z.avail_in > 0) {
          const int32_t n = std::min<int32_t>(Len - produced, static_cast<int32_t>(s.Z.avail_in));
          std::memcpy(out + produced, s.Z.next_in, static_cast<size_t>(n));
          s.Z.next_in += n;
          s.Z.avail_in -= static_cast<uInt>(n);
          produced += n;
        } else {
          const int32_t n = s.Stream->Read(out + produced, Len - produced);
          if (n <= 0)
            s.ReadMode = TState::rmEof;
          else
            produced += n;
        }
        continue;
      }
      case TState::rmGzip:
        break;
    }
    if (s.Z.avail_in == 0) {
      s.Fill();
      if (s.Z.avail_in == 0) {
        s.SetError(Z_BUF_ERROR, "unexpected end of file");
        return -1;
      }
    }
    s.Z.next_out = out + produced;
    s.Z.avail_out = static_cast<uInt>(Len - produced);
    const int ret = inflate(&s.Z, Z_NO_FLUSH);
    produced = Len - static_cast<int32_t>(s.Z.avail_out);
    if (ret == Z_STREAM_END) {
      s.ReadMode = TState::rmLook;
    } else if (ret == Z_MEM_ERROR) {
      s.SetError(ret, "out of memory");
      return -1;
    } else if (ret == Z_DATA_ERROR) {
      s.SetError(ret, s.Z.msg != nullptr ? s.Z.msg : "compressed data error");
      return -1;
    } else if (ret == Z_NEED_DICT || ret == Z_STREAM_ERROR) {
      s.SetError(Z_DATA_ERROR, "internal error: inflate stream corrupt");
      return -1;
    }
  }
  return produced;
}

int32_t TGzFile::Write(const void* Buf, int32_t Len) {
  TState& s = *State_;
  if (!s.Writing || s.Closed) {
    s.SetError(Z_STREAM_ERROR, "stream not open for writing");
    return 0;
  }
  if (s.Error != Z_OK || Len <= 0) return 0;
  s.Z.next_in = static_cast<Bytef*>(const_cast<void*>(Buf));
  s.Z.avail_in = static_cast<uInt>(Len);
  while (s.Z.avail_in > 0) {
    s.Z.next_out = s.Buffer.data();
    s.Z.avail_out = static_cast<uInt>(s.Buffer.size());
    const int ret = deflate(&s.Z, Z_NO_FLUSH);
    if (ret == Z_STREAM_ERROR) {
      s.SetError(ret, "internal error: deflate stream corrupt");
      return 0;
    }
    const int32_t have = static_cast<int32_t>(s.Buffer.size() - s.Z.avail_out);
    if (!WriteAll(*s.Stream, s.Buffer.data(), have)) {
      s.SetError(Z_ERRNO, "write error on the destination stream");
      return 0;
    }
  }
  return Len;
}

int32_t TGzFile::Close() {
  TState& s = *State_;
  if (s.Closed) return Z_OK;
  s.Closed = true;
  int32_t result = s.Error;
  if (s.Writing && result == Z_OK) {
    s.Z.next_in = nullptr;
    s.Z.avail_in = 0;
    int ret = Z_OK;
    do {
      s.Z.next_out = s.Buffer.data();
      s.Z.avail_out = static_cast<uInt>(s.Buffer.size());
      ret = deflate(&s.Z, Z_FINISH);
      if (ret == Z_STREAM_ERROR) break;
      const int32_t have = static_cast<int32_t>(s.Buffer.size() - s.Z.avail_out);
      if (!WriteAll(*s.Stream, s.Buffer.data(), have)) {
        s.SetError(Z_ERRNO, "write error on the destination stream");
        ret = Z_ERRNO;
        break;
      }
    } while (ret != Z_STREAM_END);
    if (ret != Z_STREAM_END) {
      s.SetError(ret, "internal error: deflate stream corrupt");
      result = ret;
    }
  }
  if (s.ZActive) {
    if (s.Writing)
      deflateEnd(&s.Z);
    else
      inflateEnd(&s.Z);
    s.ZActive = false;
  }
  // A reader's earlier decoding error was reported by Read already.
  return s.Writing ? result : Z_OK;
}

// ---------------------------------------------------------------- TStreamBlock

void TStreamBlock::SaveToStream(plat::TStream& Dest) {
  const int64_t size = Size();
  if (size > std::numeric_limits<uint32_t>::max()) throw plat::Exception("Stream write error");
  uint8_t header[kBlockHeaderSize];
  std::memcpy(header, kBlockSignature, 4);
  StoreU32(header + 4, static_cast<uint32_t>(size));
  if (!WriteAll(Dest, header, kBlockHeaderSize)) throw plat::Exception("Stream write error");
  const auto* data = static_cast<const uint8_t*>(Memory());
  int64_t done = 0;
  while (done < size) {
    const int32_t n = static_cast<int32_t>(std::min<int64_t>(size - done, 1 << 30));
    if (!WriteAll(Dest, data + done, n)) throw plat::Exception("Stream write error");
    done += n;
  }
}

void TStreamBlock::LoadFromStream(plat::TStream& Source) {
  Clear();
  uint8_t header[kBlockHeaderSize];
  int32_t got = 0;
  while (got < kBlockHeaderSize) {
    const int32_t n = Source.Read(header + got, kBlockHeaderSize - got);
    if (n <= 0) break;
    got += n;
  }
  if (got < kBlockHeaderSize || std::memcmp(header, kBlockSignature, 4) != 0)
    throw plat::Exception("Bad StreamBlock signature.");
  const uint32_t size = LoadU32(header + 4);
  // Copied in chunks, so a size field larger than the data behind it costs
  // no more memory than the data.
  std::vector<uint8_t> chunk(static_cast<size_t>(std::min<uint32_t>(size, kChunk * 4)));
  uint32_t done = 0;
  while (done < size) {
    const int32_t want = static_cast<int32_t>(std::min<uint32_t>(size - done, chunk.size()));
    const int32_t n = Source.Read(chunk.data(), want);
    if (n <= 0) {
      Clear();
      throw plat::Exception("Stream write error");
    }
    Write(chunk.data(), n);
    done += static_cast<uint32_t>(n);
  }
  SetPosition(0);
}

// ---------------------------------------------------------------- TGZip

TGZip::TGZip(int32_t BufferSize)
    : Buffer_(static_cast<size_t>(BufferSize > 0 ? BufferSize : DefaultBufferSize)) {}

void TGZip::Compress(plat::TStream& Source, plat::TStream& Dest) {
  std::unique_ptr<TGzFile> gz = TGzFile::Open(Dest, "w" + std::to_string(CompressionLevel_));
  if (!gz) throw plat::Exception("can't gzopen");
  int64_t total = 0;
  for (;;) {
    const int32_t n = Source.Read(Buffer_.data(), BufferSize());
    if (n <= 0) break;
    total += n;
    if (OnProgress) OnProgress(this, total);
    if (gz->Write(Buffer_.data(), n) != n)
      throw plat::Exception("gzwrite error: " + gz->ErrorText());
  }
  if (gz->Close() != 0) throw plat::Exception("gzclose error");
}

void TGZip::UnCompress(plat::TStream& Source, plat::TStream& Dest) {
  std::unique_ptr<TGzFile> gz = TGzFile::Open(Source, "r");
  if (!gz) throw plat::Exception("can't gzopen");
  for (;;) {
    const int32_t n = gz->Read(Buffer_.data(), BufferSize());
    if (n < 0) throw plat::Exception(gz->ErrorText());
    if (n == 0) break;
    if (!WriteAll(Dest, Buffer_.data(), n)) throw plat::Exception("write error");
  }
  gz->Close();
}

void TGZip::AfterFileOperation(const std::string& SourceFile) {
  if (DeleteSource_) plat::FileSystem().DeleteFile(SourceFile);
}

void TGZip::Compress(const std::string& SourceFile, const std::string& DestFile) {
  {
    plat::TFileSystemStream source(SourceFile, plat::fmOpenRead | plat::fmShareDenyWrite);
    plat::TFileSystemStream dest(DestFile, plat::fmCreate);
    Compress(source, dest);
  }
  AfterFileOperation(SourceFile);
}

void TGZip::UnCompress(const std::string& SourceFile, const std::string& DestFile) {
  {
    plat::TFileSystemStream source(SourceFile, plat::fmOpenRead | plat::fmShareDenyWrite);
    plat::TFileSystemStream dest(DestFile, plat::fmCreate);
    UnCompress(source, dest);
  }
  AfterFileOperation(SourceFile);
}

void TGZip::Compress(const std::string& FileName) {
  Compress(FileName, FileName + Suffix_);
}

void TGZip::UnCompress(const std::string& FileName) {
  const bool hasSuffix =
      !Suffix_.empty() && FileName.size() > Suffix_.size() &&
      FileName.compare(FileName.size() - Suffix_.size(), Suffix_.size(), Suffix_) == 0;
  if (!hasSuffix)
    throw plat::Exception("UnCompress(gzip mode): file " + FileName + " doesn't have " + Suffix_ +
                          " suffix.");
  UnCompress(FileName, FileName.substr(0, FileName.size() - Suffix_.size()));
}

void TGZip::CompressAsBlock(plat::TStream& Source, plat::TStream& Dest) {
  TStreamBlock block;
  Compress(Source, block);
  block.SaveToStream(Dest);
}

void TGZip::UnCompressFromBlock(plat::TStream& Source, plat::TStream& Dest) {
  TStreamBlock block;
  block.LoadFromStream(Source);
  UnCompress(block, Dest);
}

// ---------------------------------------------------------------- gzip stream adaptors

TCustomGZipStream::TCustomGZipStream(std::unique_ptr<TGzFile> Handle) : Handle_(std::move(Handle)) {
  if (!Handle_) throw plat::Exception("can't gzopen");
}

TCustomGZipStream::~TCustomGZipStream() {
  if (Handle_) Handle_->Close();
}

int64_t TCustomGZipStream::Seek(int64_t, plat::TSeekOrigin) {
  return Count_;
}

void TCustomGZipStream::Close() {
  if (!Handle_) return;
  const int32_t ret = Handle_->Close();
  Handle_.reset();
  if (ret != 0) throw plat::Exception("gzclose error");
}

TGZipStream::TGZipStream(plat::TStream& Dest, int32_t Level)
    : TCustomGZipStream(TGzFile::Open(Dest, "w" + std::to_string(std::clamp(Level, 0, 9)))) {}

int32_t TGZipStream::Read(void*, int32_t) {
  return 0;
}

int32_t TGZipStream::Write(const void* Buffer, int32_t Count) {
  if (Count <= 0) return 0;
  if (!Handle_) throw plat::Exception("gzwrite error: stream closed");
  const int32_t n = Handle_->Write(Buffer, Count);
  if (n != Count) throw plat::Exception("gzwrite error: " + Handle_->ErrorText());
  Count_ += n;
  return n;
}

TGUnzipStream::TGUnzipStream(plat::TStream& Source)
    : TCustomGZipStream(TGzFile::Open(Source, "r")) {}

int32_t TGUnzipStream::Read(void* Buffer, int32_t Count) {
  if (Count <= 0 || !Handle_) return 0;
  const int32_t n = Handle_->Read(Buffer, Count);
  if (n < 0) throw plat::Exception(Handle_->ErrorText());
  Count_ += n;
  return n;
}

int32_t TGUnzipStream::Write(const void*, int32_t) {
  return 0;
}

}  // namespace zel
