#pragma once
// Byte copies on the per-row paths.

#include <cstddef>
#include <cstring>

namespace plat {

// memcpy of Count bytes. The widths of an Integer and a Float, the common
// fields of a row, are copied with a constant size, which the compiler
// turns into a move instead of a call.
inline void CopyBytes(void* To, const void* From, size_t Count) {
  if (Count == 4)
    std::memcpy(To, From, 4);
  else if (Count == 8)
    std::memcpy(To, From, 8);
  else
    std::memcpy(To, From, Count);
}

}  // namespace plat
