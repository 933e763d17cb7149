#pragma once
// Internal to the field classes: reads and writes a field's native value in
// a record buffer. Buffers carry no alignment guarantee, hence memcpy.

#include <cstring>

namespace plat::fieldnative {

template <typename T>
T LoadNative(const void* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

template <typename T>
void StoreNative(void* p, T v) {
  std::memcpy(p, &v, sizeof v);
}

}  // namespace plat::fieldnative
