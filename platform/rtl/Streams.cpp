#include "platform/rtl/Streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

#include "platform/rtl/Exceptions.h"

namespace plat {

int64_t TStream::Size() {
  const int64_t position = Seek(0, TSeekOrigin::soCurrent);
  const int64_t size = Seek(0, TSeekOrigin::soEnd);
  Seek(position, TSeekOrigin::soBeginning);
  return size;
}

void TStream::SetSize(int64_t) {
  throw EStreamError("Stream size cannot be changed");
}

void TStream::ReadBuffer(void* buffer, int32_t count) {
  if (count != 0 && Read(buffer, count) != count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int32_t count) {
  if (count != 0 && Write(buffer, count) != count) throw EWriteError("Stream write error");
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  std::vector<char> chunk(static_cast<size_t>(std::min<int64_t>(count, 61440)));
  int64_t left = count;
  while (left > 0) {
    const auto piece = static_cast<int32_t>(std::min<int64_t>(left, int64_t(chunk.size())));
    source.ReadBuffer(chunk.data(), piece);
    WriteBuffer(chunk.data(), piece);
    left -= piece;
  }
  return count;
}

namespace {

std::string SystemMessage(int error) {
  char buffer[256];
  // The GNU strerror_r returns the text, which may or may not be in buffer.
  return strerror_r(error, buffer, sizeof buffer);
}

// The new position for a seek, refusing arithmetic that would overflow.
int64_t SeekTarget(int64_t offset, TSeekOrigin origin, int64_t position, int64_t size) {
  int64_t base = 0;
  switch (origin) {
    case TSeekOrigin::soBeginning:
      base = 0;
      break;
    case TSeekOrigin::soCurrent:
      base = position;
      break;
    case TSeekOrigin::soEnd:
      base = size;
      break;
  }
  int64_t target;
  if (__builtin_add_overflow(base, offset, &target)) throw EStreamError("Stream seek error");
  return target;
}

// Whole chunks for the 32-bit buffer calls.
constexpr int64_t kChunk = int64_t{1} << 30;

// The memory and string streams differ only in the container that holds the
// bytes (a std::vector<uint8_t> or a std::string); these do their work.

template <class Bytes>
int32_t ReadBytes(const Bytes& data, int64_t& position, void* buffer, int32_t count) {
  const auto size = static_cast<int64_t>(data.size());
  if (position < 0 || count <= 0 || position >= size) return 0;
  const auto n = static_cast<int32_t>(std::min<int64_t>(count, size - position));
  std::memcpy(buffer, data.data() + position, static_cast<size_t>(n));
  position += n;
  return n;
}

// Grows through the stream's own SetSize, so the size rules stay in one place.
template <class Bytes>
int32_t WriteBytes(TStream& stream, Bytes& data, int64_t& position, const void* buffer,
                   int32_t count) {
  int64_t end;
  if (position < 0 || count <= 0 || __builtin_add_overflow(position, int64_t{count}, &end)) {
    return 0;
  }
  if (end > static_cast<int64_t>(data.size())) stream.SetSize(end);
  std::memcpy(data.data() + position, buffer, static_cast<size_t>(count));
  position = end;
  return count;
}

template <class Bytes>
void ResizeBytes(Bytes& data, int64_t& position, int64_t size, const char* outOfMemory) {
  if (size < 0) throw EStreamError("Invalid stream size");
  try {
    data.resize(static_cast<size_t>(size));
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory(outOfMemory);
  } catch (const std::length_error&) {
    throw EOutOfMemory(outOfMemory);
  }
  if (position > size) position = size;
}

}  // namespace

void WriteStreamData(TStream& Stream, const void* Data, int64_t Count) {
  const auto* data = static_cast<const uint8_t*>(Data);
  for (int64_t done = 0; done < Count;) {
    const auto piece = static_cast<int32_t>(std::min(Count - done, kChunk));
    Stream.WriteBuffer(data + done, piece);
    done += piece;
  }
}

std::string ReadStreamToEnd(TStream& Stream) {
  const int64_t left = Stream.Size() - Stream.Position();
  std::string text(static_cast<size_t>(std::max<int64_t>(left, 0)), '\0');
  size_t done = 0;
  while (done < text.size()) {
    const auto piece = static_cast<int32_t>(std::min<size_t>(text.size() - done, kChunk));
    const int32_t got = Stream.Read(text.data() + done, piece);
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  text.resize(done);
  return text;
}

// ---------------------------------------------------------------- TMemoryStream

int32_t TMemoryStream::Read(void* buffer, int32_t count) {
  return ReadBytes(data_, position_, buffer, count);
}

int32_t TMemoryStream::Write(const void* buffer, int32_t count) {
  return WriteBytes(*this, data_, position_, buffer, count);
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  position_ = SeekTarget(offset, origin, position_, static_cast<int64_t>(data_.size()));
  return position_;
}

void TMemoryStream::SetSize(int64_t size) {
  ResizeBytes(data_, position_, size, "Out of memory while expanding memory stream");
}

void TMemoryStream::Clear() {
  std::vector<uint8_t>().swap(data_);
  position_ = 0;
}

void TMemoryStream::LoadFromStream(TStream& Stream) {
  if (&Stream == this) return;
  Stream.SetPosition(0);
  const int64_t size = Stream.Size();
  // Read into a buffer of its own first: a failed read keeps the old content.
  std::vector<uint8_t> loaded;
  try {
    loaded.resize(static_cast<size_t>(std::max<int64_t>(size, 0)));
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory("Out of memory while expanding memory stream");
  }
  for (int64_t done = 0; done < size;) {
    const auto piece = static_cast<int32_t>(std::min(size - done, kChunk));
    Stream.ReadBuffer(loaded.data() + done, piece);
    done += piece;
  }
  data_.swap(loaded);
  if (position_ > size) position_ = size;
}

void TMemoryStream::SaveToStream(TStream& Stream) const {
  WriteStreamData(Stream, data_.data(), static_cast<int64_t>(data_.size()));
}

void TMemoryStream::LoadFromFile(const std::string& FileName) {
  TFileStream stream(FileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(stream);
}

void TMemoryStream::SaveToFile(const std::string& FileName) const {
  TFileStream stream(FileName, fmCreate);
  SaveToStream(stream);
}

// ---------------------------------------------------------------- TStringStream

int32_t TStringStream::Read(void* buffer, int32_t count) {
  return ReadBytes(data_, position_, buffer, count);
}

int32_t TStringStream::Write(const void* buffer, int32_t count) {
  return WriteBytes(*this, data_, position_, buffer, count);
}

int64_t TStringStream::Seek(int64_t offset, TSeekOrigin origin) {
  position_ = SeekTarget(offset, origin, position_, static_cast<int64_t>(data_.size()));
  return position_;
}

void TStringStream::SetSize(int64_t size) {
  ResizeBytes(data_, position_, size, "Out of memory while expanding string stream");
}

// ---------------------------------------------------------------- TFileStream

TFileStream::TFileStream(const std::string& FileName, uint16_t Mode) : fileName_(FileName) {
  if ((Mode & fmCreate) == fmCreate) {
    handle_ = ::open(FileName.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (handle_ < 0) {
      throw EFCreateError("Cannot create file \"" + FileName + "\". " + SystemMessage(errno));
    }
    return;
  }
  int flags = O_RDONLY;
  switch (Mode & 0x0003) {
    case fmOpenWrite:
      flags = O_WRONLY;
      break;
    case fmOpenReadWrite:
      flags = O_RDWR;
      break;
    default:
      break;
  }
  handle_ = ::open(FileName.c_str(), flags | O_CLOEXEC);
  int error = errno;
  if (handle_ >= 0) {
    // A directory opens for reading on Linux; it is no file to stream.
    struct stat info {};
    error = ::fstat(handle_, &info) != 0 ? errno : (S_ISDIR(info.st_mode) ? EISDIR : 0);
    if (error != 0) {
      ::close(handle_);
      handle_ = -1;
    }
  }
  if (handle_ < 0) {
    throw EFOpenError("Cannot open file \"" + FileName + "\". " + SystemMessage(error));
  }
}

TFileStream::~TFileStream() {
  if (handle_ >= 0) ::close(handle_);
}

int32_t TFileStream::Read(void* buffer, int32_t count) {
  if (count <= 0) return 0;
  auto* out = static_cast<char*>(buffer);
  int32_t done = 0;
  while (done < count) {
    const ssize_t got = ::read(handle_, out + done, static_cast<size_t>(count - done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<int32_t>(got);
  }
  return done;
}

int32_t TFileStream::Write(const void* buffer, int32_t count) {
  if (count <= 0) return 0;
  const auto* in = static_cast<const char*>(buffer);
  int32_t done = 0;
  while (done < count) {
    const ssize_t put = ::write(handle_, in + done, static_cast<size_t>(count - done));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) break;
    done += static_cast<int32_t>(put);
  }
  return done;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  int whence = SEEK_SET;
  if (origin == TSeekOrigin::soCurrent) whence = SEEK_CUR;
  if (origin == TSeekOrigin::soEnd) whence = SEEK_END;
  const off_t result = ::lseek(handle_, static_cast<off_t>(offset), whence);
  // A seek that fails must not let the next read or write land elsewhere.
  if (result < 0) throw EStreamError("Stream seek error. " + SystemMessage(errno));
  return result;
}

void TFileStream::SetSize(int64_t size) {
  if (size < 0) throw EStreamError("Invalid stream size");
  const int64_t position = Position();
  if (::ftruncate(handle_, static_cast<off_t>(size)) != 0) {
    throw EStreamError("Cannot change the size of \"" + fileName_ + "\". " + SystemMessage(errno));
  }
  if (position > size) Seek(size, TSeekOrigin::soBeginning);
}

}  // namespace plat
