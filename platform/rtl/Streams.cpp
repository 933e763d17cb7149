#include "platform/rtl/Streams.h"

#include <algorithm>
#include <vector>

#include "platform/rtl/Exceptions.h"

namespace plat {

int64_t TStream::Size() {
  const int64_t position = Seek(0, TSeekOrigin::soCurrent);
  const int64_t size = Seek(0, TSeekOrigin::soEnd);
  Seek(position, TSeekOrigin::soBeginning);
  return size;
}

void TStream::SetSize(int64_t) { throw EStreamError("Stream size cannot be changed"); }

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

}  // namespace plat
