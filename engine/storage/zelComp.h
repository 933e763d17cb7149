#pragma once
// Blob compression: gzip streams written to and read from our own streams
// (not files), the TGZip helper that moves whole streams or files through
// them, stream adaptors that compress on write or decompress on read, and the
// stream block that frames a compressed payload inside another stream.
//
// Every failure here is a plain plat::Exception with a fixed text (or zlib's
// own error text); the blob layer lets them pass.
//
// Stream block layout (little-endian):
//   0  4  signature "SsB" and a zero byte
//   4  4  payload size in bytes
//   8  .. payload

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/rtl/Streams.h"

namespace zel {

// A gzip stream over a plat::TStream, in the manner of zlib's gz functions:
// a writer ("w" and a level digit, optionally a strategy letter "f", "h" or
// "R") produces one gzip member that any gzip reader accepts; a reader ("r")
// decodes one or more concatenated members and, like zlib's reader, passes
// data that does not start with the gzip magic through unchanged. The stream
// is not owned and must outlive this object.
class TGzFile {
 public:
  // nullptr when the mode is not understood or zlib cannot start.
  static std::unique_ptr<TGzFile> Open(plat::TStream& Stream, const std::string& Mode);
  ~TGzFile();
  TGzFile(const TGzFile&) = delete;
  TGzFile& operator=(const TGzFile&) = delete;

  // Bytes decoded into Buf (0 at the end), or -1 on an error.
  int32_t Read(void* Buf, int32_t Len);
  // Bytes taken (all of Len), or 0 on an error.
  int32_t Write(const void* Buf, int32_t Len);
  // Finishes a writer's member; 0 on success, a negative zlib code otherwise.
  // Closing twice does nothing the second time.
  int32_t Close();
  // The text of the last error ("" when none).
  const std::string& ErrorText() const;

 private:
  struct TState;
  explicit TGzFile(std::unique_ptr<TState> State);
  std::unique_ptr<TState> State_;
};

// A memory stream whose content is the payload of a stream block.
class TStreamBlock : public plat::TMemoryStream {
 public:
  std::string ClassName() const override { return "TStreamBlock"; }

  // Writes the 8-byte header and the whole content; a short write raises
  // "Stream write error".
  void SaveToStream(plat::TStream& Dest);
  // Replaces the content by the payload of the block at Source's position
  // and rewinds. A wrong or incomplete header raises "Bad StreamBlock
  // signature."; a payload shorter than its size field, "Stream write
  // error".
  void LoadFromStream(plat::TStream& Source);
};

// Moves data through gzip streams in chunks of BufferSize bytes.
class TGZip : public plat::TObject {
 public:
  // Sender and the number of source bytes processed so far.
  using TProgressEvent = std::function<void(plat::TObject* Sender, int64_t Processed)>;

  static constexpr int32_t DefaultBufferSize = 262144;

  explicit TGZip(int32_t BufferSize = DefaultBufferSize);

  std::string ClassName() const override { return "TGZip"; }

  // Source from its position to the end, as one gzip member appended to
  // Dest.
  void Compress(plat::TStream& Source, plat::TStream& Dest);
  // The gzip data at Source's position, decompressed and appended to Dest.
  void UnCompress(plat::TStream& Source, plat::TStream& Dest);
  // The same between files: the source is opened for reading, the
  // destination created. With DeleteSource the source file is deleted
  // afterwards.
  void Compress(const std::string& SourceFile, const std::string& DestFile);
  void UnCompress(const std::string& SourceFile, const std::string& DestFile);
  // FileName to FileName + Suffix.
  void Compress(const std::string& FileName);
  // FileName, which must end in Suffix, to the name without it.
  void UnCompress(const std::string& FileName);
  // Source compressed into a stream block saved to Dest, and back.
  void CompressAsBlock(plat::TStream& Source, plat::TStream& Dest);
  void UnCompressFromBlock(plat::TStream& Source, plat::TStream& Dest);

  int32_t BufferSize() const { return static_cast<int32_t>(Buffer_.size()); }
  const std::string& Suffix() const { return Suffix_; }
  void SetSuffix(const std::string& Value) { Suffix_ = Value; }
  bool DeleteSource() const { return DeleteSource_; }
  void SetDeleteSource(bool Value) { DeleteSource_ = Value; }
  // 0 to 9.
  int32_t CompressionLevel() const { return CompressionLevel_; }
  void SetCompressionLevel(int32_t Value) { CompressionLevel_ = Value; }

  TProgressEvent OnProgress;

 private:
  void AfterFileOperation(const std::string& SourceFile);

  std::vector<uint8_t> Buffer_;
  std::string Suffix_ = ".gz";
  bool DeleteSource_ = false;
  int32_t CompressionLevel_ = 9;
};

// The common base of the two one-way gzip stream adaptors. Count is the
// number of uncompressed bytes moved so far; Seek only reports it.
class TCustomGZipStream : public plat::TStream {
 public:
  ~TCustomGZipStream() override;

  int64_t Seek(int64_t Offset, plat::TSeekOrigin Origin) override;
  // Count.
  int64_t Size() override { return Count_; }
  int64_t Count() const { return Count_; }
  // Closes the gzip stream; a failure raises a plain exception. The
  // destructor closes too but cannot report a failure, so an owner that must
  // know calls Close first.
  void Close();

 protected:
  explicit TCustomGZipStream(std::unique_ptr<TGzFile> Handle);

  std::unique_ptr<TGzFile> Handle_;
  int64_t Count_ = 0;
};

// Write-only: every Write compresses into Dest. Read returns 0.
class TGZipStream : public TCustomGZipStream {
 public:
  explicit TGZipStream(plat::TStream& Dest, int32_t Level = 9);

  std::string ClassName() const override { return "TGZipStream"; }

  int32_t Read(void* Buffer, int32_t Count) override;
  // A failure raises "gzwrite error: " and zlib's text.
  int32_t Write(const void* Buffer, int32_t Count) override;
};

// Read-only: every Read decompresses from Source. Write returns 0.
class TGUnzipStream : public TCustomGZipStream {
 public:
  explicit TGUnzipStream(plat::TStream& Source);

  std::string ClassName() const override { return "TGUnzipStream"; }

  // A failure raises zlib's error text.
  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void* Buffer, int32_t Count) override;
};

}  // namespace zel
