#pragma once
// Byte streams: the abstract TStream and its memory, string and file
// descendants.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/rtl/Object.h"
#include "platform/rtl/Visibility.h"

namespace plat {

enum class TSeekOrigin : uint8_t { soBeginning, soCurrent, soEnd };

class PLAT_API TStream : public TObject {
 public:
  std::string ClassName() const override { return "TStream"; }

  // Reads or writes at most count bytes; returns how many were moved.
  virtual int32_t Read(void* buffer, int32_t count) = 0;
  virtual int32_t Write(const void* buffer, int32_t count) = 0;
  // Returns the new position.
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;

  int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(int64_t position) { Seek(position, TSeekOrigin::soBeginning); }
  virtual int64_t Size();
  virtual void SetSize(int64_t size);

  // Move exactly count bytes or raise EReadError / EWriteError.
  void ReadBuffer(void* buffer, int32_t count);
  void WriteBuffer(const void* buffer, int32_t count);
  // Copies count bytes from source (all of it from its start when count is 0).
  int64_t CopyFrom(TStream& source, int64_t count);
};

// Writes Count bytes in pieces that the 32-bit buffer calls take; raises
// EWriteError as WriteBuffer does.
void WriteStreamData(TStream& Stream, const void* Data, int64_t Count);
// The bytes from the position to the end; fewer when the stream gives out
// early.
std::string ReadStreamToEnd(TStream& Stream);

// A stream over a block of memory that grows as it is written. Writing past
// the end fills the gap with zero bytes. Invariant: data_.size() is the size.
class PLAT_API TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  TMemoryStream(const TMemoryStream&) = delete;
  TMemoryStream& operator=(const TMemoryStream&) = delete;

  std::string ClassName() const override { return "TMemoryStream"; }

  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return static_cast<int64_t>(data_.size()); }
  // Keeps the content up to the new size; the position moves back to the end
  // when it lay beyond it.
  void SetSize(int64_t size) override;

  // The content; valid until the size next changes. nullptr when empty.
  void* Memory() { return data_.empty() ? nullptr : data_.data(); }
  const void* Memory() const { return data_.empty() ? nullptr : data_.data(); }
  void Clear();
  // Replaces the content by the whole of Stream (read from its start).
  void LoadFromStream(TStream& Stream);
  void SaveToStream(TStream& Stream) const;
  void LoadFromFile(const std::string& FileName);
  void SaveToFile(const std::string& FileName) const;

 private:
  std::vector<uint8_t> data_;
  int64_t position_ = 0;
};

// A stream whose content is a string. Writing overwrites in place and extends
// the string at its end.
class TStringStream : public TStream {
 public:
  explicit TStringStream(std::string AString = std::string()) : data_(std::move(AString)) {}

  std::string ClassName() const override { return "TStringStream"; }

  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return static_cast<int64_t>(data_.size()); }
  void SetSize(int64_t size) override;

  const std::string& DataString() const { return data_; }

 private:
  std::string data_;
  int64_t position_ = 0;
};

// Open modes of TFileStream: one access mode or'ed with one share mode, or
// fmCreate (which opens read-write, truncating or creating the file). Share
// modes are accepted and not enforced here.
inline constexpr uint16_t fmCreate = 0xFF00;
inline constexpr uint16_t fmOpenRead = 0x0000;
inline constexpr uint16_t fmOpenWrite = 0x0001;
inline constexpr uint16_t fmOpenReadWrite = 0x0002;
inline constexpr uint16_t fmShareCompat = 0x0000;
inline constexpr uint16_t fmShareExclusive = 0x0010;
inline constexpr uint16_t fmShareDenyWrite = 0x0020;
inline constexpr uint16_t fmShareDenyRead = 0x0030;
inline constexpr uint16_t fmShareDenyNone = 0x0040;

// A stream over a native file. Failing to open raises EFOpenError
// "Cannot open file "<name>". <system message>", failing to create EFCreateError.
class TFileStream : public TStream {
 public:
  TFileStream(const std::string& FileName, uint16_t Mode);
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;
  ~TFileStream() override;

  std::string ClassName() const override { return "TFileStream"; }

  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t size) override;

  const std::string& FileName() const { return fileName_; }
  int Handle() const { return handle_; }

 private:
  std::string fileName_;
  int handle_ = -1;
};

}  // namespace plat
